#include "offline_windows.h"

#include <fcntl.h>
#include <hivex.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

namespace dpinst::offline {

namespace {

constexpr std::size_t kHeaderChecked = 512;
// Builds from which pnputil knows /add-driver with /subdirs and /install (Windows 10, 1607).
constexpr long kAddDriverBuild = 14393;
// Where the packages go on the volume, and the same folder as Windows names it.
constexpr const char* kDestination[] = {"Drivers", "Velmora"};
constexpr const char* kWindowsDestination = "%SystemDrive%\\Drivers\\Velmora";
constexpr const char* kBackupSuffix = ".velmora-backup";
constexpr const char* kNewSuffix = ".velmora-new";

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool SameNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

bool SamePlace(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

std::string ErrnoText(int error) { return std::strerror(error); }

// Makes the rename of `name` durable: flushes the folder that holds it.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

bool SyncFile(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// The temporary file a copy goes through: hidden, and not ending in ".inf", so that a run killed
// while copying leaves nothing a "*.inf" search on the volume would take for a driver package.
constexpr const char* kCopyPrefix = ".velmora-copy-";
constexpr const char* kCopySuffix = ".part";

// Copies a file to `to` through a temporary file beside it, flushed and renamed over it.
bool CopyFileSafely(const fs::path& from, const fs::path& to, std::string& error) {
  const fs::path temporary = to.parent_path() / (kCopyPrefix + to.filename().string() + kCopySuffix);
  std::error_code ec;
  if (!fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec)) {
    error = ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  if (!SyncFile(temporary)) {
    error = ErrnoText(errno);
    fs::remove(temporary, ec);
    return false;
  }
  fs::rename(temporary, to, ec);
  if (ec) {
    error = ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (!fs::is_regular_file(b, ec) || fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  std::vector<char> x(1 << 16);
  std::vector<char> y(1 << 16);
  while (first && second) {
    first.read(x.data(), static_cast<std::streamsize>(x.size()));
    second.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (first.gcount() != second.gcount()) return false;
    if (!std::equal(x.begin(), x.begin() + first.gcount(), y.begin())) return false;
  }
  return first.eof() && second.eof();
}

// What one run placed on the volume, so that a failure can take it back.
struct Placed {
  std::vector<fs::path> files;    // created by this run
  std::vector<fs::path> folders;  // created by this run, outermost first
  void Undo() {
    std::error_code ec;
    for (auto it = files.rbegin(); it != files.rend(); ++it) fs::remove(*it, ec);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) fs::remove(*it, ec);
  }
};

bool MakeFolders(const fs::path& folder, Placed& placed, std::string& error) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return true;
  if (!folder.has_parent_path() || folder.parent_path() == folder) {
    error = "no such folder: " + folder.string();
    return false;
  }
  if (!MakeFolders(folder.parent_path(), placed, error)) return false;
  if (!fs::create_directory(folder, ec)) {
    error = folder.string() + ": " + (ec ? ec.message() : "exists and is not a folder");
    return false;
  }
  placed.folders.push_back(folder);
  return true;
}

// Copies one package folder with every file and subfolder; counts what it did.
bool CopyPackage(const fs::path& from, const fs::path& to, Placed& placed, int& copied, int& unchanged,
                 std::vector<std::string>& log, std::string& error) {
  if (!MakeFolders(to, placed, error)) return false;
  std::error_code ec;
  // What a killed run left half copied goes.
  for (fs::directory_iterator it(to, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(kCopyPrefix, 0) == 0 && name.ends_with(kCopySuffix)) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
  ec.clear();
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(from, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    entries.push_back(*it);
  }
  if (ec) {
    error = "cannot read " + from.string() + ": " + ec.message();
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  for (const fs::directory_entry& entry : entries) {
    const fs::path target = to / entry.path().filename();
    if (entry.is_symlink(ec)) {
      log.push_back("    Link not copied: " + entry.path().string());
      continue;
    }
    if (entry.is_directory(ec)) {
      if (!CopyPackage(entry.path(), target, placed, copied, unchanged, log, error)) return false;
    } else if (entry.is_regular_file(ec)) {
      if (SameContent(entry.path(), target)) {
        ++unchanged;
        continue;
      }
      const bool existed = fs::exists(target, ec);
      if (!CopyFileSafely(entry.path(), target, error)) {
        error = target.string() + ": " + error;
        return false;
      }
      if (!existed) placed.files.push_back(target);
      ++copied;
    }
  }
  return true;
}

std::string WindowsPath(const fs::path& relative) {
  std::string text;
  for (const fs::path& part : relative) {
    if (!text.empty()) text += '\\';
    text += part.string();
  }
  return text;
}

std::string TrimSlash(std::string text) {
  while (!text.empty() && (text.back() == '\\' || text.back() == ' ')) text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(text.begin());
  return text;
}

// ---- the SOFTWARE hive through libhivex ----

struct HiveCloser {
  void operator()(hive_h* h) const { hivex_close(h); }
};
using Hive = std::unique_ptr<hive_h, HiveCloser>;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The key at `path` below the root, or 0.
hive_node_h Key(hive_h* h, const std::vector<std::string>& path) {
  hive_node_h node = hivex_root(h);
  for (const std::string& name : path) {
    if (node == 0) return 0;
    node = hivex_node_get_child(h, node, name.c_str());
  }
  return node;
}

// The key at `path`, created where missing; 0 on failure.
hive_node_h MakeKey(hive_h* h, const std::vector<std::string>& path) {
  hive_node_h node = hivex_root(h);
  for (const std::string& name : path) {
    if (node == 0) return 0;
    hive_node_h child = hivex_node_get_child(h, node, name.c_str());
    if (child == 0) child = hivex_node_add_child(h, node, name.c_str());
    node = child;
  }
  return node;
}

struct StringValue {
  bool present = false;
  bool isString = false;  // REG_SZ or REG_EXPAND_SZ
  hive_type type = hive_t_REG_EXPAND_SZ;
  std::string text;
};

StringValue ReadString(hive_h* h, hive_node_h node, const char* name) {
  StringValue value;
  if (node == 0) return value;
  const hive_value_h v = hivex_node_get_value(h, node, name);
  if (v == 0) return value;
  value.present = true;
  std::size_t length = 0;
  if (hivex_value_type(h, v, &value.type, &length) != 0) return value;
  if (value.type != hive_t_REG_SZ && value.type != hive_t_REG_EXPAND_SZ) return value;
  std::unique_ptr<char, FreeDeleter> text(hivex_value_string(h, v));
  if (!text) return value;
  value.isString = true;
  value.text = text.get();
  return value;
}

bool WriteString(hive_h* h, hive_node_h node, const std::string& name, hive_type type, const std::string& text) {
  std::string data = RegistryString(text);
  std::string key = name;
  hive_set_value value{key.data(), type, data.size(), data.data()};
  return hivex_node_set_value(h, node, &value, 0) == 0;
}

const std::vector<std::string> kCurrentVersion = {"Microsoft", "Windows", "CurrentVersion"};
const std::vector<std::string> kRunOnce = {"Microsoft", "Windows", "CurrentVersion", "RunOnce"};
const std::vector<std::string> kNtCurrentVersion = {"Microsoft", "Windows NT", "CurrentVersion"};

std::string CheckHive(const fs::path& file) {
  const HiveHeader header = ReadHiveHeader(file);
  if (!header.readable) return file.string() + " cannot be read";
  if (!header.signature) return file.string() + " is not a registry hive (it does not start with \"regf\")";
  if (!header.checksumOk) return file.string() + " is not a sound registry hive (its header checksum is wrong)";
  if (!header.Clean())
    return file.string() + " was not closed cleanly (sequence numbers " + std::to_string(header.primarySequence) +
           " and " + std::to_string(header.secondarySequence) +
           "): Windows was hibernated or shut down with fast start-up, and would replay its own logs over "
           "any change at its next start. Start Windows once and shut it down fully (hold Shift while "
           "choosing Shut down, or turn fast start-up off), then run this again";
  return {};
}

}  // namespace

HiveHeader ReadHiveHeader(const fs::path& file) {
  HiveHeader header;
  std::ifstream in(file, std::ios::binary);
  unsigned char block[kHeaderChecked];
  if (!in.read(reinterpret_cast<char*>(block), sizeof block)) {
    header.readable = in.gcount() > 0;
    header.signature = header.readable && in.gcount() >= 4 && std::memcmp(block, "regf", 4) == 0;
    return header;
  }
  header.readable = true;
  header.signature = std::memcmp(block, "regf", 4) == 0;
  header.primarySequence = Le32(block + 4);
  header.secondarySequence = Le32(block + 8);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 127; ++i) sum ^= Le32(block + 4 * i);
  header.checksumOk = sum == Le32(block + 508);
  return header;
}

fs::path FindNoCase(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  if (fs::exists(folder / name, ec)) return folder / name;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (SameNoCase(it->path().filename().string(), name)) return it->path();
  }
  return folder / name;
}

std::optional<Installation> FindInstallation(const fs::path& windows, std::string& whyNot) {
  std::error_code ec;
  if (!fs::is_directory(windows, ec)) {
    whyNot = "the Windows folder " + windows.string() + " does not exist";
    return std::nullopt;
  }
  const fs::path config = FindNoCase(FindNoCase(windows, "System32"), "config");
  Installation found;
  found.windows = windows;
  found.volume = windows.parent_path();
  found.software = FindNoCase(config, "SOFTWARE");
  found.system = FindNoCase(config, "SYSTEM");
  for (const fs::path& hive : {found.software, found.system}) {
    // A file there that is not a sound hive is reported when installing, not taken for "no Windows".
    if (!fs::is_regular_file(hive, ec)) {
      whyNot = "it has no registry hive " + hive.string();
      return std::nullopt;
    }
  }
  return found;
}

namespace {

void WalkPackages(const fs::path& folder, const fs::path& windows, const fs::path& skip, bool inWorkingFolder,
                  std::vector<fs::path>& packages) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  const bool isWindows = SamePlace(folder, windows);
  bool holdsInf = false;
  for (const fs::directory_entry& entry : entries) {
    if (entry.is_symlink(ec) || entry.is_directory(ec)) continue;
    if (!isWindows && entry.is_regular_file(ec) && Lower(entry.path().extension().string()) == ".inf")
      holdsInf = true;
  }
  if (holdsInf) {
    packages.push_back(folder);
    return;  // the package is copied whole, subfolders included
  }
  for (const fs::directory_entry& entry : entries) {
    if (entry.is_symlink(ec) || !entry.is_directory(ec)) continue;
    const std::string name = entry.path().filename().string();
    if (name.rfind(".velmora-7z-", 0) == 0) continue;
    if (inWorkingFolder && SameNoCase(name, "Index")) continue;
    if (isWindows && !SameNoCase(name, "dp_tavi")) continue;
    if (SamePlace(entry.path(), skip)) continue;
    WalkPackages(entry.path(), windows, skip, SameNoCase(name, "dp_tavi"), packages);
  }
}

}  // namespace

std::vector<fs::path> FindPackages(const fs::path& root, const fs::path& windows, const fs::path& skip) {
  std::vector<fs::path> packages;
  WalkPackages(root, windows, skip, SameNoCase(root.filename().string(), "dp_tavi"), packages);
  return packages;
}

std::string AddToPathList(const std::string& list, const std::vector<std::string>& entries,
                          std::vector<std::string>& added) {
  std::vector<std::string> present;
  std::stringstream parts(list);
  for (std::string part; std::getline(parts, part, ';');) present.push_back(Lower(TrimSlash(part)));
  std::string result = list;
  for (const std::string& entry : entries) {
    const std::string key = Lower(TrimSlash(entry));
    if (std::find(present.begin(), present.end(), key) != present.end()) continue;
    present.push_back(key);
    if (!result.empty() && result.back() != ';') result += ';';
    result += entry;
    added.push_back(entry);
  }
  return result;
}

std::vector<Command> FirstStartCommands(const WindowsVersion& version, const std::string& root,
                                        const std::vector<std::string>& infs, std::string& form) {
  const long major = std::strtol(version.currentVersion.c_str(), nullptr, 10);
  const long build = std::strtol(version.buildNumber.c_str(), nullptr, 10);
  std::vector<Command> commands;
  if (build >= kAddDriverBuild) {
    form = "pnputil /add-driver (Windows 10 version 1607 and later)";
    commands.push_back({"Velmora drivers", "%SystemRoot%\\System32\\pnputil.exe /add-driver \"" + root +
                                               "\\*.inf\" /subdirs /install"});
  } else if (major >= 6) {
    form = "pnputil -i -a (Windows Vista to Windows 10 before version 1607)";
    int n = 0;
    for (const std::string& inf : infs) {
      commands.push_back({"Velmora driver " + std::to_string(++n),
                          "%SystemRoot%\\System32\\pnputil.exe -i -a \"" + inf + "\""});
    }
  } else if (major > 0) {
    form = "none: this Windows has no pnputil (it came with Windows Vista)";
  } else {
    form = "none: the Windows version is not recorded in the SOFTWARE hive";
  }
  return commands;
}

std::string RegistryString(const std::string& utf8) {
  std::string out;
  auto put = [&out](std::uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t code = 0xFFFD;
    std::size_t length = 1;
    auto cont = [&](std::size_t k) {
      return i + k < utf8.size() && (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    };
    auto bits = [&](std::size_t k) { return static_cast<std::uint32_t>(utf8[i + k]) & 0x3F; };
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0 && cont(1)) {
      code = (c & 0x1Fu) << 6 | bits(1);
      length = 2;
    } else if ((c & 0xF0) == 0xE0 && cont(1) && cont(2)) {
      code = (c & 0x0Fu) << 12 | bits(1) << 6 | bits(2);
      length = 3;
    } else if ((c & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
      code = (c & 0x07u) << 18 | bits(1) << 12 | bits(2) << 6 | bits(3);
      length = 4;
    }
    i += length;
    if (code >= 0x10000 && code <= 0x10FFFF) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code > 0x10FFFF ? 0xFFFD : code);
    }
  }
  put(0);
  return out;
}

int Install(const Installation& installation, const fs::path& from, std::vector<std::string>& log) {
  log.push_back("Offline Windows installation: " + installation.windows.string());
  const fs::path destination =
      FindNoCase(FindNoCase(installation.volume, kDestination[0]), kDestination[1]);
  auto refuse = [&log](const std::string& why) {
    log.push_back("Not installed: " + why);
    log.push_back("Nothing was changed on the Windows volume.");
    return 3;
  };

  // 1. Both hives sound and closed cleanly, before anything is touched.
  for (const fs::path& hive : {installation.software, installation.system}) {
    const std::string problem = CheckHive(hive);
    if (!problem.empty()) return refuse(problem);
  }

  // 2. The driver packages below the folder given.
  std::error_code ec;
  const fs::path& root = from;
  if (!fs::is_directory(root, ec)) return refuse("the driver folder " + from.string() + " does not exist");
  const std::vector<fs::path> packages = FindPackages(root, installation.windows, destination);
  if (packages.empty()) {
    log.push_back("No driver package (a folder holding an INF file) below " + from.string() + ".");
    log.push_back("Nothing was changed on the Windows volume.");
    return 0;
  }
  struct Package {
    fs::path source;
    fs::path target;
    std::string windowsFolder;  // as Windows names it
    std::vector<std::string> infs;
  };
  std::vector<Package> chosen;
  for (const fs::path& source : packages) {
    // Relative to the working folder when the Windows folder itself was given.
    fs::path base = root;
    if (SamePlace(root, installation.windows)) base = FindNoCase(root, "dp_tavi");
    const fs::path relative = source.lexically_relative(base);
    Package package{source, destination / relative,
                    std::string(kWindowsDestination) + "\\" + WindowsPath(relative), {}};
    for (fs::directory_iterator it(source, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file(ec) && Lower(it->path().extension().string()) == ".inf")
        package.infs.push_back(package.windowsFolder + "\\" + it->path().filename().string());
    }
    std::sort(package.infs.begin(), package.infs.end());
    chosen.push_back(package);
  }

  // 3. The registry changes, worked out in memory.
  Hive hive(hivex_open(installation.software.c_str(), HIVEX_OPEN_WRITE));
  if (!hive) return refuse(installation.software.string() + " cannot be read as a registry hive: " + ErrnoText(errno));
  hive_h* h = hive.get();
  WindowsVersion version;
  const hive_node_h nt = Key(h, kNtCurrentVersion);
  version.currentVersion = ReadString(h, nt, "CurrentVersion").text;
  version.buildNumber = ReadString(h, nt, "CurrentBuildNumber").text;
  log.push_back("Windows version in the registry: " +
                (version.currentVersion.empty() ? std::string("not recorded") : version.currentVersion) +
                (version.buildNumber.empty() ? std::string() : ", build " + version.buildNumber));

  const StringValue devicePath = ReadString(h, Key(h, kCurrentVersion), "DevicePath");
  if (devicePath.present && !devicePath.isString)
    return refuse("DevicePath in " + installation.software.string() + " is not a text value");
  // Windows' own folder stays first: a DevicePath without it breaks driver installation.
  const std::string before = devicePath.present ? devicePath.text : std::string();
  const std::string start = devicePath.present ? before : std::string("%SystemRoot%\\inf");
  std::vector<std::string> folders;
  std::vector<std::string> infs;
  for (const Package& package : chosen) {
    folders.push_back(package.windowsFolder);
    infs.insert(infs.end(), package.infs.begin(), package.infs.end());
  }
  std::vector<std::string> added;
  const std::string after = AddToPathList(start, folders, added);
  const hive_type devicePathType = devicePath.present ? devicePath.type : hive_t_REG_EXPAND_SZ;

  std::string form;
  const std::vector<Command> commands = FirstStartCommands(version, kWindowsDestination, infs, form);
  const hive_node_h runOnce = Key(h, kRunOnce);
  std::vector<Command> newCommands;
  for (const Command& command : commands) {
    const StringValue present = ReadString(h, runOnce, command.name.c_str());
    if (!present.isString || present.text != command.command) newCommands.push_back(command);
  }

  // 4. The packages onto the volume.
  Placed placed;
  log.push_back("Driver packages placed in " + destination.string() + " (" + kWindowsDestination + "):");
  for (const Package& package : chosen) {
    int copied = 0;
    int unchanged = 0;
    std::string error;
    if (!CopyPackage(package.source, package.target, placed, copied, unchanged, log, error)) {
      placed.Undo();
      return refuse("copying " + package.source.string() + " failed: " + error);
    }
    log.push_back("    Copied: " + package.source.string() + " -> " + package.target.string() + " (" +
                  std::to_string(copied) + " files copied, " + std::to_string(unchanged) + " already there)");
  }

  // 5. The hive: changed in a copy, which replaces it only when complete; the original kept once.
  log.push_back(std::string("DevicePath before: ") + (devicePath.present ? before : "(not set)"));
  log.push_back("DevicePath after: " + after);
  log.push_back("    Each package folder is listed: Windows Vista and later also search the subfolders of "
                "a DevicePath folder, Windows XP does not.");
  for (const Command& command : commands) {
    const StringValue present = ReadString(h, runOnce, command.name.c_str());
    log.push_back("RunOnce \"" + command.name + "\" before: " + (present.present ? present.text : "(not set)"));
    log.push_back("RunOnce \"" + command.name + "\" after: " + command.command);
  }
  log.push_back("First-start command: " + form);
  if (added.empty() && newCommands.empty()) {
    log.push_back("Registry unchanged: it already names these driver packages.");
  } else {
    bool ok = true;
    if (!added.empty()) {
      const hive_node_h key = MakeKey(h, kCurrentVersion);
      ok = key != 0 && WriteString(h, key, "DevicePath", devicePathType, after);
    }
    if (ok && !newCommands.empty()) {
      const hive_node_h key = MakeKey(h, kRunOnce);
      for (const Command& command : newCommands) {
        ok = ok && key != 0 && WriteString(h, key, command.name, hive_t_REG_EXPAND_SZ, command.command);
      }
    }
    if (!ok) {
      placed.Undo();
      return refuse("the registry values cannot be set: " + ErrnoText(errno));
    }
    const fs::path software = installation.software;
    const fs::path fresh = software.string() + kNewSuffix;
    const fs::path backup = software.string() + kBackupSuffix;
    auto fail = [&](const std::string& what, int error) {
      std::error_code ignored;
      fs::remove(fresh, ignored);
      fs::remove(backup.string() + ".tmp", ignored);
      placed.Undo();
      return refuse(what + ": " + ErrnoText(error));
    };
    if (hivex_commit(h, fresh.c_str(), 0) != 0) return fail("writing " + fresh.string() + " failed", errno);
    if (!SyncFile(fresh)) return fail("writing " + fresh.string() + " failed", errno);
    if (!fs::exists(backup, ec)) {
      std::string error;
      const fs::path temporary = backup.string() + ".tmp";
      if (!fs::copy_file(software, temporary, fs::copy_options::overwrite_existing, ec) || !SyncFile(temporary))
        return fail("the backup " + backup.string() + " cannot be written", ec ? ec.value() : errno);
      if (::rename(temporary.c_str(), backup.c_str()) != 0)
        return fail("the backup " + backup.string() + " cannot be written", errno);
      log.push_back("Backup of the hive: " + backup.string());
    } else {
      log.push_back("Backup of the hive kept from an earlier run: " + backup.string());
    }
    if (::rename(fresh.c_str(), software.c_str()) != 0)
      return fail("replacing " + software.string() + " failed", errno);
    SyncFolder(software.parent_path());
    log.push_back("Registry updated: " + software.string());
  }

  log.push_back("At its next start Windows looks in the DevicePath folders for a driver for every device "
                "that has none.");
  if (!commands.empty()) {
    const bool several = commands.size() > 1;
    log.push_back(std::string("The next time Windows processes RunOnce (at that start, with the first logon) it "
                              "runs the RunOnce command") +
                  (several ? "s once and deletes them" : " once and deletes it") +
                  ": pnputil adds the packages to the driver store and installs them on every matching "
                  "device, also on devices that run a generic driver.");
  }
  log.push_back("To undo: put " + (installation.software.string() + kBackupSuffix) + " back as " +
                installation.software.string() + " and remove " + destination.string() + ".");
  return 0;
}

}  // namespace dpinst::offline
