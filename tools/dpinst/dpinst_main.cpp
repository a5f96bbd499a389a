// The driver installer on Linux: "DPINST.exe [/s] /path <folder>".
// It reads every INF file below the folder, matches the hardware IDs of their models sections
// against this machine's devices, and writes DPINST.LOG in the Windows folder: each driver package
// found, with its provider, class and version, and the present devices it serves. When the Windows
// folder is an offline Windows installation (a Windows volume mounted from Linux), it places the
// driver packages on that volume and registers them in its registry (offline_windows.h); otherwise
// it installs nothing and says why.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "inf_file.h"
#include "offline_windows.h"
#include "platform/devices.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;
using dpinst::Upper;

// INF files bigger than this are not driver packages anybody wrote by hand.
constexpr std::uintmax_t kMaxInfSize = 16u * 1024 * 1024;

struct Options {
  bool silent = false;
  std::string folder;
  std::vector<std::string> ignored;  // switches this stand-in does not act on
};

Options ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const std::string lower = Upper(arg);
    if (lower == "/S" || lower == "-S") {
      options.silent = true;
    } else if (lower == "/PATH" || lower == "-PATH") {
      // The folder comes unquoted; a folder with blanks arrives as several words.
      std::string folder;
      while (i + 1 < argc) {
        folder += (folder.empty() ? "" : " ") + std::string(argv[++i]);
      }
      options.folder = folder;
    } else {
      options.ignored.push_back(arg);
    }
  }
  return options;
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%d.%m.%Y %H.%M.%S", &local);
  return buffer;
}

bool IsInfName(const fs::path& path) { return Upper(path.extension().string()) == ".INF"; }

// Every INF file below the folder, in name order. Links to folders are not followed, so a loop of
// links cannot keep the walk going; folders that cannot be read are reported.
void FindInfFiles(const fs::path& folder, std::vector<fs::path>& infs, std::vector<std::string>& problems) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    problems.push_back("Unreadable folder: " + folder.string() + ": " + ec.message());
    return;
  }
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      problems.push_back("Unreadable folder: " + folder.string() + ": " + ec.message());
      break;
    }
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  for (const fs::directory_entry& entry : entries) {
    std::error_code typeError;
    if (entry.is_symlink(typeError)) {
      if (entry.is_regular_file(typeError) && IsInfName(entry.path())) infs.push_back(entry.path());
      continue;
    }
    if (entry.is_directory(typeError)) {
      // What the archive tool has not finished, or a killed run of it left, is no driver.
      if (platform::IsArchiveStagingName(entry.path().filename().string())) continue;
      FindInfFiles(entry.path(), infs, problems);
    } else if (IsInfName(entry.path())) {
      infs.push_back(entry.path());
    }
  }
}

// Reads a whole file; false with a reason when it cannot be read.
bool ReadFile(const fs::path& path, std::string& content, std::string& reason) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    reason = "not a regular file";  // a pipe or a device would block or never end
    return false;
  }
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) {
    reason = ec.message();
    return false;
  }
  if (size > kMaxInfSize) {
    reason = "too large (" + std::to_string(size) + " bytes)";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    reason = "cannot be opened";
    return false;
  }
  std::ostringstream data;
  data << in.rdbuf();
  if (in.bad()) {
    reason = "read error";
    return false;
  }
  content = data.str();
  return true;
}

struct Device {
  std::string instanceId;
  std::vector<std::string> hardwareIds;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseArguments(argc, argv);
  std::string folder =
      options.folder.empty() ? platform::ExtractFilePath(platform::ProgramFilePath()) : options.folder;
  folder = platform::NativePath(folder);

  std::vector<std::string> log;
  log.push_back("[Velmora DPINST stand-in for Linux]");
  log.push_back("Started: " + Now());
  std::string commandLine;
  for (int i = 1; i < argc; ++i) commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
  log.push_back("Command line: " + commandLine);
  log.push_back(std::string("Mode: ") + (options.silent ? "silent (/s)" : "interactive"));
  for (const std::string& arg : options.ignored) log.push_back("Switch not used here: " + arg);
  log.push_back("Driver folder: " + folder);

  std::vector<Device> devices;
  try {
    platform::devices::InitPnpApi();
    for (const std::string& id : platform::devices::EnumerateDeviceIds(true, "")) {
      devices.push_back(Device{id, dpinst::HardwareIdsOf(id)});
    }
  } catch (const std::exception& e) {
    log.push_back(std::string("Devices cannot be read: ") + e.what());
  }
  log.push_back("Devices present on this system: " + std::to_string(devices.size()));

  const std::string windowsFolder = platform::WindowsDirectory();
  std::string notOffline;
  const auto offline = dpinst::offline::FindInstallation(windowsFolder, notOffline);

  std::vector<fs::path> infs;
  std::vector<std::string> problems;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    problems.push_back("Driver folder not found: " + folder);
  } else if (offline && fs::equivalent(folder, offline->windows, ec)) {
    // Windows' own INF files are not driver packages to place: only the working folder counts.
    const fs::path working = dpinst::offline::FindNoCase(offline->windows, "dp_tavi");
    if (fs::is_directory(working, ec)) FindInfFiles(working, infs, problems);
  } else {
    FindInfFiles(folder, infs, problems);
  }
  log.push_back("INF files found: " + std::to_string(infs.size()));
  for (const std::string& problem : problems) log.push_back(problem);

  int packages = 0;
  int serving = 0;
  int unreadable = 0;
  for (const fs::path& path : infs) {
    std::string content;
    std::string reason;
    if (!ReadFile(path, content, reason)) {
      log.push_back("Unreadable INF file: " + path.string() + ": " + reason);
      ++unreadable;
      continue;
    }
    ++packages;
    const dpinst::InfFile inf = dpinst::InfFile::Parse(content);
    log.push_back("Driver package: " + path.string());
    for (const char* key : {"Provider", "Class", "DriverVer"}) {
      const std::string value = inf.Value("Version", key);
      if (!value.empty())
        log.push_back(std::string("    ") + (std::string(key) == "DriverVer" ? "Version" : key) + ": " +
                      value);
    }

    std::vector<std::string> served;
    for (const dpinst::InfModel& model : inf.Models()) {
      const std::string wanted = Upper(model.hardwareId);
      for (const Device& device : devices) {
        if (std::find(device.hardwareIds.begin(), device.hardwareIds.end(), wanted) ==
            device.hardwareIds.end())
          continue;
        std::string line = "    Serves present device: " + device.instanceId + " (" + model.hardwareId;
        if (!model.description.empty()) line += ", " + model.description;
        line += ")";
        if (std::find(served.begin(), served.end(), line) == served.end()) served.push_back(line);
      }
    }
    if (served.empty()) {
      log.push_back("    Serves no device present on this system");
    } else {
      ++serving;
      log.insert(log.end(), served.begin(), served.end());
    }
  }

  log.push_back("Summary: " + std::to_string(packages) + " driver packages, " + std::to_string(serving) +
                " serving devices present on this system, " + std::to_string(unreadable) +
                " unreadable INF files");
  int status = 0;
  if (offline) {
    status = dpinst::offline::Install(*offline, folder, log);
  } else {
    log.push_back("No offline Windows installation in " + windowsFolder + ": " + notOffline + ".");
    log.push_back("Nothing was installed on this system: this is Linux. The driver folder is ready for the");
    log.push_back("Windows driver installer on the Windows system these drivers are meant for.");
  }
  log.push_back("Finished: " + Now());

  std::string text;
  for (const std::string& line : log) text += line + "\r\n";
  const std::string logPath = windowsFolder + "/DPINST.LOG";
  {
    std::ofstream out(logPath, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::fprintf(stderr, "DPINST.exe: cannot write %s\n", logPath.c_str());
      return 2;
    }
  }
  if (!options.silent) {
    std::printf("%d driver packages found in %s, %d serving devices present on this system.\n", packages,
                folder.c_str(), serving);
    // The program that starts the installer copies the log file's lines into its own log and
    // then removes the file.
    const char* const copied = "its lines are copied into the log of the program that started this installer";
    if (!offline) std::printf("Nothing was installed on this system. Details: %s (%s)\n", logPath.c_str(), copied);
    else if (status == 0)
      std::printf("Placed on the offline Windows in %s. Details: %s (%s)\n", windowsFolder.c_str(), logPath.c_str(),
                  copied);
    else std::printf("Nothing was installed on the offline Windows. Details: %s (%s)\n", logPath.c_str(), copied);
  }
  return status;
}
