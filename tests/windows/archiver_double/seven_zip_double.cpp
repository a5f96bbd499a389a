// A test double of the 7-Zip command-line tool for the Windows tests, built as "7z.exe". It reads
// and writes a plain container of its own instead of 7z archives (users bring the real 7z.exe),
// and answers the command lines the program issues:
//   7z                                       banner and usage
//   7z x|e <archive> [-o<folder>] [<names>...] [@<listfile>...] [-r] [-y] [-bb[0-3]]
//   7z l <archive>                           the archive's items
//   7z a <archive> <file or folder>...       makes an archive (each item under its last name)
// "x" keeps the archive's folders, "e" puts every file straight into the output folder. Names
// are wildcards ("*", "?", "*.*" is every name) matched without regard to letter case against the
// archive's paths from the root, or at any depth with -r; everything inside a matching folder goes
// with it. No names: everything.
//
// Its output takes one of two forms, chosen by the environment variable VELMORA_7Z_STYLE:
// - by default that of 7-Zip 9.20: its banner, "Processing archive: <archive>" and one
//   "Extracting  <path>" line per extracted item; the -bb switch is unknown to it;
// - with VELMORA_7Z_STYLE=modern that of 7-Zip 16.02: its banner, "Extracting archive:
//   <archive>" and one "- <path>" line per extracted item only with -bb1 (or -bb, -bb2, -bb3).
// Exit codes as 7-Zip's: 0 done, 1 warnings (items skipped), 2 a fatal error, 7 a command line
// error.
//
// The container ("velmora test archive"): the line "VELMORA-TEST-ARCHIVE 1", then one record per
// item, every line ending in LF:
//   D <path>                  a folder
//   F <size> <path>           a file, followed by exactly <size> bytes of content and one LF
// Paths use "/" or "\". A record that cannot be read ends the archive with an error; what came
// before it is extracted.
//
// Nothing is written outside the output folder: items whose path is absolute, has a drive, a ".."
// part, a character Windows does not allow in names, or a device name (CON, NUL, COM1, ...) are
// skipped with a WARNING line, and so is every item whose way leads through a link or junction
// already in the output folder.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "7z/item_patterns.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kOk = 0;
constexpr int kWarning = 1;
constexpr int kFatal = 2;
constexpr int kCommandLineError = 7;

constexpr std::string_view kMagic = "VELMORA-TEST-ARCHIVE 1";

enum class Style { Classic, Modern };

Style OutputStyle() {
  const char* style = std::getenv("VELMORA_7Z_STYLE");
  if (style == nullptr) return Style::Classic;
  std::string text = style;
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text == "modern" ? Style::Modern : Style::Classic;
}

const char* Banner(Style style) {
  return style == Style::Modern ? "7-Zip [32] 16.02 : Copyright (c) 1999-2016 Igor Pavlov : 2016-05-21"
                                : "7-Zip [32] 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18";
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string text) {
  for (char& c : text) c = Fold(c);
  return text;
}

// ---- paths ----

// Splits at "/" and "\", dropping empty and "." parts; `parent` is set for a ".." part.
std::vector<std::string> SplitPath(std::string_view path, bool* parent = nullptr) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == ".." && parent != nullptr) *parent = true;
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts, char separator = '\\') {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

bool IsDeviceName(const std::string& part) {
  std::string base = Lower(part.substr(0, part.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const std::set<std::string> kDevices = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  if (kDevices.count(base) != 0) return true;
  return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

// Why an item's path must not be written; empty when it is safe.
std::string Unsafe(const std::string& path, const std::vector<std::string>& parts, bool parent) {
  if (parts.empty()) return "empty name";
  if (path[0] == '/' || path[0] == '\\') return "absolute path";
  if (parent) return "path leads out of the output folder (..)";
  for (const std::string& part : parts) {
    for (char c : part) {
      if (static_cast<unsigned char>(c) < 32 ||
          std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
        return "a character Windows does not allow in names (or a drive)";
    }
    if (IsDeviceName(part)) return "a device name";
  }
  return {};
}

// True when the path exists and is a link or junction (a reparse point on Windows).
bool IsLink(const fs::path& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
#endif
}

// ---- wildcards ----

using item_patterns::Selected;

// ---- the container ----

struct Item {
  std::string path;  // as stored
  bool folder = false;
  std::string content;
};

struct Archive {
  std::vector<Item> items;
  std::string error;  // why reading stopped early; empty when the whole archive was read
};

std::string ReadAll(const fs::path& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Nothing when the data is no such container.
bool ReadArchive(const std::string& data, Archive& archive) {
  if (data.compare(0, kMagic.size() + 1, std::string(kMagic) + "\n") != 0) return false;
  std::size_t pos = kMagic.size() + 1;
  while (pos < data.size()) {
    const std::size_t end = data.find('\n', pos);
    if (end == std::string::npos) {
      archive.error = "Unexpected end of archive";
      return true;
    }
    const std::string line = data.substr(pos, end - pos);
    pos = end + 1;
    Item item;
    if (line.compare(0, 2, "D ") == 0) {
      item.folder = true;
      item.path = line.substr(2);
    } else if (line.compare(0, 2, "F ") == 0) {
      const std::size_t blank = line.find(' ', 2);
      std::uint64_t size = 0;
      bool number = blank != std::string::npos && blank > 2 && blank - 2 <= 12;
      for (std::size_t i = 2; number && i < blank; ++i) {
        number = line[i] >= '0' && line[i] <= '9';
        size = size * 10 + static_cast<std::uint64_t>(line[i] - '0');
      }
      if (!number) {
        archive.error = "Headers Error";
        return true;
      }
      item.path = line.substr(blank + 1);
      // The content and the line end behind it must be there.
      if (size >= data.size() - pos) {
        archive.error = "Unexpected end of archive";
        return true;
      }
      const std::size_t length = static_cast<std::size_t>(size);
      if (data[pos + length] != '\n') {
        archive.error = "Headers Error";
        return true;
      }
      item.content = data.substr(pos, length);
      pos += length + 1;
    } else {
      archive.error = "Headers Error";
      return true;
    }
    archive.items.push_back(std::move(item));
  }
  return true;
}

// ---- command line ----

struct Options {
  char command = 0;  // 'x', 'e', 'l', 'a'
  std::string archive;
  std::string outputFolder;
  std::vector<std::string> names;
  std::vector<std::string> listFiles;
  bool recursive = false;
  bool yes = false;
  int listLevel = 0;
};

std::string ParseCommandLine(int argc, char** argv, Style style, Options& options) {
  const std::string command = Lower(argv[1]);
  if (command != "x" && command != "e" && command != "l" && command != "a")
    return "Unsupported command:\n" + std::string(argv[1]);
  options.command = command[0];
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() >= 2 && arg[0] == '-') {
      const std::string lower = Lower(arg);
      if (lower == "-y") {
        options.yes = true;
      } else if (lower == "-r") {
        options.recursive = true;
      } else if (lower.compare(0, 2, "-o") == 0 && arg.size() > 2) {
        options.outputFolder = arg.substr(2);
      } else if (style == Style::Modern && lower.compare(0, 3, "-bb") == 0 &&
                 (lower.size() == 3 || (lower.size() == 4 && lower[3] >= '0' && lower[3] <= '3'))) {
        options.listLevel = lower.size() == 3 ? 1 : lower[3] - '0';
      } else {
        return "Unsupported switch:\n" + arg;
      }
    } else if (!arg.empty() && arg[0] == '@' && !options.archive.empty()) {
      if (arg.size() == 1) return "Incorrect wildcard type marker";
      options.listFiles.push_back(arg.substr(1));
    } else if (options.archive.empty()) {
      options.archive = arg;
    } else {
      options.names.push_back(arg);
    }
  }
  if (options.archive.empty()) return "Cannot find archive name";
  if (options.command == 'a' && options.names.empty()) return "Cannot find the files to add";
  return {};
}

// ---- commands ----

// 7z a: every file and folder given, stored under its last name, folders with everything in them.
int Add(const Options& options) {
  std::ostringstream out;
  out << kMagic << '\n';
  int files = 0;
  for (const std::string& name : options.names) {
    const fs::path given(name);
    std::error_code ec;
    if (!fs::exists(given, ec)) {
      Print("ERROR: cannot find " + name);
      return kFatal;
    }
    const fs::path base = given.parent_path();
    auto add = [&](const fs::path& path) -> bool {
      const std::string stored = fs::relative(path, base.empty() ? fs::path(".") : base, ec).generic_string();
      if (ec || stored.empty() || stored.find('\n') != std::string::npos) {
        Print("ERROR: cannot add " + path.string());
        return false;
      }
      if (fs::is_directory(path, ec)) {
        out << "D " << stored << '\n';
        return true;
      }
      bool ok = false;
      const std::string content = ReadAll(path, ok);
      if (!ok) {
        Print("ERROR: cannot read " + path.string());
        return false;
      }
      out << "F " << content.size() << ' ' << stored << '\n' << content << '\n';
      ++files;
      return true;
    };
    if (!add(given)) return kFatal;
    if (fs::is_directory(given, ec)) {
      std::vector<fs::path> below;
      for (auto it = fs::recursive_directory_iterator(given, ec);
           !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        below.push_back(it->path());
      }
      std::sort(below.begin(), below.end());
      for (const fs::path& path : below) {
        if (!add(path)) return kFatal;
      }
    }
  }
  std::ofstream file(fs::path(options.archive), std::ios::binary | std::ios::trunc);
  const std::string data = out.str();
  file.write(data.data(), static_cast<std::streamsize>(data.size()));
  file.close();
  if (!file) {
    Print("ERROR: cannot write " + options.archive);
    return kFatal;
  }
  Print("Files: " + std::to_string(files));
  Print("Everything is Ok");
  return kOk;
}

// Opens the archive as x, e and l do; prints the archive line of the style. Nothing on an error,
// which is printed.
bool Open(const Options& options, Style style, Archive& archive, std::uint64_t& size) {
  bool ok = false;
  const std::string data = ReadAll(fs::path(options.archive), ok);
  std::error_code ec;
  if (!ok || fs::is_directory(fs::path(options.archive), ec)) {
    if (style == Style::Modern) {
      Print("Scanning the drive for archives:");
      Print("ERROR: The system cannot find the file specified.");
      Print(options.archive);
    } else {
      Print("Error: cannot find archive " + options.archive);
    }
    return false;
  }
  size = data.size();
  const char* verb = options.command == 'l'   ? "Listing"
                     : style == Style::Modern ? "Extracting"
                                              : "Processing";
  if (style == Style::Modern) {
    Print("Scanning the drive for archives:");
    Print("1 file, " + std::to_string(size) + " bytes (" + std::to_string((size + 1023) / 1024) + " KiB)");
    Print("");
  }
  Print(std::string(verb) + " archive: " + options.archive);
  if (!ReadArchive(data, archive)) {
    if (style == Style::Modern) {
      Print("ERROR: " + options.archive);
      Print("Can not open the file as archive");
    } else {
      Print("Error: " + options.archive + ": Can not open file as archive");
    }
    return false;
  }
  if (style == Style::Modern) {
    Print("--");
    Print("Path = " + options.archive);
    Print("Type = velmora-test");
    Print("Physical Size = " + std::to_string(size));
  }
  Print("");
  return true;
}

int List(const Options& options, Style style) {
  Archive archive;
  std::uint64_t size = 0;
  if (!Open(options, style, archive, size)) return kFatal;
  Print("   Date      Time    Attr         Size   Compressed  Name");
  Print("------------------- ----- ------------ ------------  ------------------------");
  std::uint64_t total = 0;
  int files = 0;
  int folders = 0;
  for (const Item& item : archive.items) {
    const std::string bytes = std::to_string(item.content.size());
    Print(std::string("2010-11-18 00:00:00 ") + (item.folder ? "D...." : "....A") + " " +
          std::string(12 - std::min<std::size_t>(12, bytes.size()), ' ') + bytes + "               " +
          Joined(SplitPath(item.path)));
    total += item.content.size();
    (item.folder ? folders : files) += 1;
  }
  Print("------------------- ----- ------------ ------------  ------------------------");
  Print(std::to_string(total) + " bytes, " + std::to_string(files) + " files, " + std::to_string(folders) +
        " folders");
  if (!archive.error.empty()) {
    Print("ERROR: " + options.archive + " : " + archive.error);
    return kFatal;
  }
  return kOk;
}

int Extract(const Options& options, Style style) {
  // Which names the command asks for.
  std::vector<std::vector<std::string>> patterns;
  for (const std::string& name : options.names) patterns.push_back(SplitPath(name));
  for (const std::string& listFile : options.listFiles) {
    bool ok = false;
    std::string content = ReadAll(fs::path(listFile), ok);
    if (!ok) {
      Print("Error: cannot open list file " + listFile);
      return kFatal;
    }
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
      line.erase(0, line.find_first_not_of(" \t"));
      if (!line.empty()) patterns.push_back(SplitPath(line));
    }
  }
  const bool namesGiven = !options.names.empty() || !options.listFiles.empty();

  Archive archive;
  std::uint64_t size = 0;
  if (!Open(options, style, archive, size)) return kFatal;

  const fs::path output = options.outputFolder.empty() ? fs::path(".") : fs::path(options.outputFolder);
  std::error_code ec;
  fs::create_directories(output, ec);
  if (!fs::is_directory(output, ec) || IsLink(output)) {
    Print("ERROR: cannot use output folder " + options.outputFolder);
    return kFatal;
  }

  int exitCode = kOk;
  int files = 0;
  int folders = 0;
  std::uint64_t bytes = 0;
  for (const Item& item : archive.items) {
    bool parent = false;
    std::vector<std::string> parts = SplitPath(item.path, &parent);
    if (namesGiven && !parts.empty() && !Selected(parts, patterns, options.recursive)) continue;
    std::string why = Unsafe(item.path, parts, parent);
    if (why.empty() && options.command == 'e') {
      if (item.folder) continue;  // "e" makes no folders
      parts = {parts.back()};
    }
    // The way down from the output folder: no link or junction on it, no file in the way.
    fs::path target = output;
    for (std::size_t i = 0; why.empty() && i < parts.size(); ++i) {
      target /= parts[i];
      const bool last = i + 1 == parts.size();
      if (IsLink(target)) {
        if (!last || item.folder) why = "a link or junction is in the way";
      } else if (!last && fs::exists(target, ec) && !fs::is_directory(target, ec)) {
        why = "a file is in the way";
      }
    }
    if (!why.empty()) {
      Print("WARNING: skipped " + item.path + " : " + why);
      exitCode = std::max(exitCode, kWarning);
      continue;
    }
    std::string error;
    if (item.folder) {
      fs::create_directories(target, ec);
      if (ec) error = ec.message();
      ++folders;
    } else {
      fs::create_directories(target.parent_path(), ec);
      if (IsLink(target) || fs::exists(target, ec)) {
        if (!options.yes) {
          error = "the file exists; 7z without -y would ask whether to replace it";
        } else {
          fs::remove(target, ec);  // a link is removed itself, never written through
          if (ec) error = ec.message();
        }
      }
      if (error.empty()) {
        std::ofstream file(target, std::ios::binary | std::ios::trunc);
        file.write(item.content.data(), static_cast<std::streamsize>(item.content.size()));
        file.close();
        if (!file) error = "cannot write the file";
      }
      ++files;
      bytes += item.content.size();
    }
    if (!error.empty()) {
      Print("ERROR: " + Joined(parts) + " : " + error);
      exitCode = kFatal;
    } else if (style == Style::Classic) {
      Print("Extracting  " + Joined(parts));
    } else if (options.listLevel >= 1) {
      Print("- " + Joined(parts) + (item.folder ? "\\" : ""));
    }
  }
  if (!archive.error.empty()) {
    Print("ERROR: " + options.archive + " : " + archive.error);
    exitCode = kFatal;
  }
  Print("");
  if (exitCode == kFatal) {
    Print("Sub items Errors: 1");
  } else {
    Print(files + folders == 0 && namesGiven ? "No files to process" : "Everything is Ok");
  }
  Print("");
  if (folders > 0) Print("Folders: " + std::to_string(folders));
  Print("Files: " + std::to_string(files));
  Print("Size:       " + std::to_string(bytes));
  Print("Compressed: " + std::to_string(size));
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  const Style style = OutputStyle();
  Print("");
  Print(Banner(style));
  Print("");
  int code = kOk;
  if (argc < 2) {
    Print("Usage: 7z <command> [<switches>...] <archive_name> [<file_names>...] [@listfile]");
    Print("  a : Add files to archive");
    Print("  e : Extract files from archive (without using directory names)");
    Print("  l : List contents of archive");
    Print("  x : eXtract files with full paths");
  } else {
    Options options;
    const std::string complaint = ParseCommandLine(argc, argv, style, options);
    if (!complaint.empty()) {
      Print("Command Line Error:");
      Print(complaint);
      code = kCommandLineError;
    } else {
      try {
        code = options.command == 'a'   ? Add(options)
               : options.command == 'l' ? List(options, style)
                                        : Extract(options, style);
      } catch (const std::exception& e) {
        Print(std::string("ERROR: ") + e.what());
        code = kFatal;
      }
    }
  }
  std::fflush(stdout);
  return code;
}
