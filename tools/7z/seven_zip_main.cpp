// The archive tool on Linux. It takes the program's three extraction command lines
//   7z x <archive> -o<folder> -y
//   7z x <archive> -o<folder> *.inf -r -y
//   7z x <archive> -o<folder> @<listfile> -y
// runs Debian's 7-Zip (7zz, found on PATH) and prints 7-Zip's lines ("Everything is Ok", errors,
// totals) in one of two forms, chosen by the environment variable VELMORA_7Z_STYLE:
// - by default the form of 7-Zip 9.20: its banner ("7-Zip [32] 9.20 ..."), "Processing archive:
//   <archive>" and one "Extracting  <path>" line per extracted item; it knows no -bb switch;
// - with VELMORA_7Z_STYLE=modern the form of 7-Zip 15 and later, which is 7zz's own: its banner,
//   "Extracting archive: <archive>", and one "- <path>" line per extracted item only when the
//   command line holds -bb1 (or -bb2, -bb3, -bb).
// Run without arguments it prints its banner and how it is used, as 7-Zip does.
//
// Names are matched as on Windows: letter case ignored, "\" and "/" both separate folders,
// "*.*" matches every name, and an item inside a matching folder is taken with it.
//
// A hostile archive never writes outside the output folder: the archive is listed first; items
// with ".." or absolute paths, links, special files, encrypted items and names with line breaks are
// skipped with a WARNING line; 7zz extracts only the remaining files, by exact name (or all of them
// when nothing is skipped or selected), into a fresh private folder inside the output folder. From
// there a folder the output folder does not hold yet is moved into place whole, with one rename
// that never replaces anything; where the output folder already holds it, the placing goes down
// into it through folders opened without following links and moves file by file, so no link, old
// or new, is ever written through. A file 7-Zip reports as damaged is not moved, so it never
// replaces a good copy.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "item_patterns.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;
namespace proc = platform::process;

// Exit codes as 7-Zip's.
constexpr int kOk = 0;
constexpr int kWarning = 1;
constexpr int kFatal = 2;
constexpr int kCommandLineError = 7;

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return text;
}

std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string ErrnoText(int code) {
  return std::string(std::strerror(code)) + " (" + std::to_string(code) + ")";
}

// An open file descriptor, closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Writes all of `text` to a new file `path` (replacing one there); false with the system's reason
// in `error` when any write or the closing fails, so a full disk is never taken for a whole file.
bool WriteWholeFile(const std::string& path, std::string_view text, std::string& error) {
  Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!file.valid()) {
    error = ErrnoText(errno);
    return false;
  }
  while (!text.empty()) {
    const ssize_t written = ::write(file.get(), text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = ErrnoText(written < 0 ? errno : ENOSPC);
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(file.release()) != 0) {
    error = ErrnoText(errno);
    return false;
  }
  return true;
}

// ---- command line ----

// The output form: 7-Zip 9.20's (Classic) or that of 7-Zip 15 and later (Modern).
enum class Style { Classic, Modern };

Style OutputStyle() {
  const char* style = std::getenv("VELMORA_7Z_STYLE");
  return style != nullptr && Lower(style) == "modern" ? Style::Modern : Style::Classic;
}

constexpr const char* kClassicBanner = "7-Zip [32] 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18";

// The two lines of 7zz's own banner: "7-Zip (z) 22.01 (x64) : Copyright ..." and the line of its
// build details (" 64-bit locale=C.UTF-8 Threads:2"), which the Classic form replaces by its own.
bool Is7zzBannerLine(const std::string& line) {
  return line.compare(0, 6, "7-Zip ") == 0 ||
         (line.compare(0, 1, " ") == 0 && line.find("locale=") != std::string::npos);
}

struct Options {
  Style style = Style::Classic;
  int listLevel = 0;  // -bb<n>: 1 and above list the extracted items in the Modern form
  std::string archive;
  std::string outputFolder = ".";
  std::vector<std::string> wildcards;
  std::vector<std::string> listFiles;
  bool recursive = false;
};

// Returns an empty text on success, otherwise the complaint.
std::string ParseCommandLine(int argc, char** argv, Options& options) {
  if (argc < 2)
    return "Cannot find the command. Usage: 7z x <archive> -o<folder> [*.inf -r | @<listfile>] -y";
  if (Lower(argv[1]) != "x") return std::string("Unsupported command: ") + argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() >= 2 && arg[0] == '-') {
      const std::string lower = Lower(arg);
      if (lower == "-y") continue;  // every question is answered yes anyway: this tool never asks
      if (options.style == Style::Modern && lower.compare(0, 3, "-bb") == 0 &&
          (lower.size() == 3 || (lower.size() == 4 && lower[3] >= '0' && lower[3] <= '3'))) {
        options.listLevel = lower.size() == 3 ? 1 : lower[3] - '0';
        continue;
      }
      if (lower == "-r") {
        options.recursive = true;
      } else if (lower.compare(0, 2, "-o") == 0) {
        if (arg.size() == 2) return "The switch -o needs a folder";
        options.outputFolder = arg.substr(2);
      } else {
        return "Unsupported switch: " + arg;
      }
    } else if (arg[0] == '@' && !options.archive.empty()) {
      if (arg.size() == 1) return "The list file name is missing after @";
      options.listFiles.push_back(arg.substr(1));
    } else if (options.archive.empty()) {
      options.archive = arg;
    } else {
      options.wildcards.push_back(arg);
    }
  }
  if (options.archive.empty()) return "Cannot find archive name";
  return {};
}

// ---- names and wildcards ----

// Splits at "/" and "\", dropping empty and "." parts. Sets `parent` when a ".." part is there.
std::vector<std::string> SplitPath(std::string_view path, bool* parent = nullptr) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (parent != nullptr) *parent = true;
    }
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  return parts;
}

using item_patterns::Selected;

// ---- telling 7zz the names ----

void AppendUtf16Unit(std::string& out, std::uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>((unit >> 8) & 0xFF);
}

// A name as 7-Zip holds it, in UTF-16LE. 7-Zip keeps each byte of a name that is not part of
// well-formed UTF-8 as the character U+EF00 + byte, and takes the bytes of a character of
// U+EF80..U+EFFF the same way, so that every byte name has characters of its own; its listing
// gives the bytes back. Handed these characters, 7zz finds a name with a Latin-1 byte as exactly
// the item it listed.
std::string NameInUtf16(std::string_view name) {
  std::string out;
  out.reserve(name.size() * 2);
  std::size_t i = 0;
  while (i < name.size()) {
    const auto lead = static_cast<unsigned char>(name[i]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;  // below it the sequence is overlong
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
      least = 0x10000;
    }
    bool valid = length != 0 && i + length <= name.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[i + k]);
      valid = (next & 0xC0u) == 0x80u;
      code = (code << 6) | (next & 0x3Fu);
    }
    valid = valid && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) &&
            !(code >= 0xEF80 && code <= 0xEFFF);
    if (!valid) {
      AppendUtf16Unit(out, 0xEF00u + lead);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      AppendUtf16Unit(out, 0xD800u + ((code - 0x10000) >> 10));
      AppendUtf16Unit(out, 0xDC00u + ((code - 0x10000) & 0x3FFu));
    } else {
      AppendUtf16Unit(out, code);
    }
    i += length;
  }
  return out;
}

// The switches that hand `names` to 7zz, each name matched whole: a list file in UTF-16LE,
// written at `listPath`, and "-i!<name>" for a name that starts or ends with a blank or a tab,
// which 7zz would trim from a line of a list file but keeps on its command line. False, with the
// system's reason in `error`, when the list file cannot be written whole.
bool NameSwitches(const std::vector<std::string>& names, const std::string& listPath,
                  std::vector<std::string>& args, std::string& error) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::string list = "\xFF\xFE";  // the byte-order mark 7zz checks against -scsUTF-16LE
  for (const std::string& name : names) {
    if (!name.empty() && (blank(name.front()) || blank(name.back()))) {
      args.push_back("-i!" + name);
    } else {
      list += NameInUtf16(name);
      AppendUtf16Unit(list, '\n');
    }
  }
  if (!WriteWholeFile(listPath, list, error)) return false;
  args.push_back("-scsUTF-16LE");
  args.push_back("@" + listPath);
  return true;
}

// ---- running 7zz ----

struct RunResult {
  std::string output;
  int exitCode = -1;
};

// Runs 7zz with its standard error joined to its output. `onOutput`, when given, is handed the
// output as it comes (in blocks cut anywhere), so reading it can go on while 7zz still writes.
RunResult Run7zz(const std::string& program, const std::vector<std::string>& args,
                 const std::function<void(std::string_view)>& onOutput = {}) {
  std::string commandLine = "\"" + program + "\"";
  for (const std::string& arg : args) commandLine += " " + proc::QuoteArgument(arg);
  proc::StartInfo info;
  info.commandLine = commandLine;
  info.input = proc::Input::Empty;  // a password prompt gets no answer instead of waiting forever
  info.output = proc::Output::Pipe;
  info.error = proc::ErrorOutput::SameAsOutput;
  proc::ChildProcess child = proc::ChildProcess::Start(info);
  RunResult result;
  if (onOutput) {
    constexpr std::size_t kBlock = 64 * 1024;
    for (;;) {
      const std::string block = child.Read(kBlock);  // fewer bytes only at the end of the output
      result.output += block;
      if (!block.empty()) onOutput(block);
      if (block.size() < kBlock) break;
    }
  } else {
    result.output = child.ReadToEnd();
  }
  child.Wait(proc::ChildProcess::kInfinite);
  result.exitCode = child.ExitCode();
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// ---- the archive's listing ----

struct Item {
  std::string name;  // as 7-Zip lists it
  bool folder = false;
  bool link = false;
  bool hardLink = false;
  bool special = false;
  bool encrypted = false;
  bool brokenName = false;  // the listing showed a line break inside the item's record
  std::optional<std::uint64_t> size;  // of a file, as the listing gives it
};

// Calls `visit` with each line of `text` (without its line break), as a view into `text`.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    visit(line);
    start = end + 1;
  }
}

// Reads "7zz l -slt" as it comes: after the "----------" line, one record of "Key = value" lines
// per item. Each item is handed on once its record has ended.
class ListingParser {
 public:
  explicit ListingParser(std::function<void(const Item&)> onItem) : onItem_(std::move(onItem)) {}

  void Feed(std::string_view block) {
    // A line cut by the block's end waits for the rest.
    pending_.append(block);
    const std::size_t end = pending_.rfind('\n');
    if (end == std::string::npos) return;
    ForEachLine(std::string_view(pending_).substr(0, end + 1), [&](std::string_view line) { Line(line); });
    pending_.erase(0, end + 1);
  }

  void Finish() {
    ForEachLine(pending_, [&](std::string_view line) { Line(line); });
    pending_.clear();
    HandOn();
  }

 private:
  void HandOn() {
    if (open_) onItem_(*open_);
    open_.reset();
  }

  void Line(std::string_view line) {
    if (!inItems_) {
      inItems_ = line == "----------";
      return;
    }
    if (line.empty()) {
      HandOn();
      return;
    }
    if (line.substr(0, 7) == "Path = ") {
      HandOn();
      open_.emplace();
      open_->name = std::string(line.substr(7));
      return;
    }
    if (!open_) return;  // totals and notes after the items
    Item& item = *open_;
    const std::size_t eq = line.find(" = ");
    if (eq == std::string_view::npos) {
      item.brokenName = true;
      return;
    }
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 3);
    if (key == "Folder") {
      if (value == "+") item.folder = true;
    } else if (key == "Attributes") {
      // "D drwxr-xr-x", "A -rw-r--r--", "A lrwxrwxrwx", "DA": Windows letters, then a Unix mode.
      const std::size_t blank = value.find(' ');
      const std::string_view letters = value.substr(0, blank);
      if (letters.find('D') != std::string_view::npos) item.folder = true;
      if (blank != std::string_view::npos && blank + 1 < value.size()) {
        const char type = value[blank + 1];
        if (type == 'l') item.link = true;
        if (type == 'd') item.folder = true;
        if (type == 'c' || type == 'b' || type == 's') item.special = true;
      }
    } else if (key == "Symbolic Link") {
      if (!value.empty()) item.link = true;
    } else if (key == "Hard Link") {
      if (!value.empty()) item.hardLink = true;
    } else if (key == "Encrypted") {
      if (value == "+") item.encrypted = true;
    } else if (key == "Size" && !value.empty() &&
               value.find_first_not_of("0123456789") == std::string_view::npos) {
      item.size = std::stoull(std::string(value));
    }
  }

  std::function<void(const Item&)> onItem_;
  std::string pending_;  // the start of a line whose end has not come yet
  std::optional<Item> open_;
  bool inItems_ = false;
};

// A name as a line of output can show it: a line break as "_", the way 7-Zip lists it.
std::string OnOneLine(std::string name) {
  std::replace(name.begin(), name.end(), '\r', '_');
  std::replace(name.begin(), name.end(), '\n', '_');
  return name;
}

// Why an item must not be extracted; empty when it is safe.
std::string Unsafe(const Item& item, const std::vector<std::string>& parts, bool parent) {
  if (item.brokenName || item.name.find_first_of("\r\n") != std::string::npos)
    return "line break in the name";
  if (parts.empty()) return "empty name";
  if (!item.name.empty() && (item.name[0] == '/' || item.name[0] == '\\')) return "absolute path";
  if (item.name.size() >= 2 && item.name[1] == ':') return "absolute path";
  if (parent) return "path leads out of the output folder (..)";
  if (item.link) return "symbolic link";
  if (item.hardLink) return "hard link";
  if (item.special) return "special file";
  if (item.encrypted) return "encrypted";
  if (platform::IsArchiveStagingName(parts.front()))
    return "named like this tool's own working folder, which is never used";
  return {};
}

// ---- moving into place without following links ----

// Opens the folder made of the first `count` parts below `base`, creating missing ones when asked.
// A part that is a link or no folder stops it: nothing is ever reached through a link.
Fd OpenFolders(int base, const std::vector<std::string>& parts, std::size_t count, bool create,
               std::string& error) {
  Fd current(::fcntl(base, F_DUPFD_CLOEXEC, 0));
  for (std::size_t i = 0; i < count && current.valid(); ++i) {
    if (create && ::mkdirat(current.get(), parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
      error = "cannot create folder " + parts[i] + ": " + ErrnoText(errno);
      return Fd();
    }
    Fd next(::openat(current.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid()) {
      const int code = errno;
      error = (code == ELOOP || code == ENOTDIR) ? parts[i] + " is a link or no folder"
                                                 : parts[i] + ": " + ErrnoText(code);
      return Fd();
    }
    current = std::move(next);
  }
  if (!current.valid() && error.empty()) error = ErrnoText(errno);
  return current;
}

// Removes `name` in `dir` with everything below it; links are removed, never followed.
bool RemoveTreeAt(int dir, const char* name) {
  if (::unlinkat(dir, name, 0) == 0) return true;
  if (errno != EISDIR && errno != EPERM) return errno == ENOENT;
  Fd folder(::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.valid()) return false;
  DIR* listing = ::fdopendir(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
  if (listing == nullptr) return false;
  bool ok = true;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view child = entry->d_name;
    if (child == "." || child == "..") continue;
    ok = RemoveTreeAt(folder.get(), entry->d_name) && ok;
  }
  ::closedir(listing);
  return ::unlinkat(dir, name, AT_REMOVEDIR) == 0 && ok;
}

// Copies a file's content into a new file beside the target, then renames it over the target.
// For a target on another file system than the private folder.
bool CopyInto(int sourceDir, const std::string& leaf, int targetDir, std::string& error) {
  Fd in(::openat(sourceDir, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!in.valid()) {
    error = ErrnoText(errno);
    return false;
  }
  const std::string temp = ".velmora-7z-part-" + leaf;
  ::unlinkat(targetDir, temp.c_str(), 0);
  Fd out(::openat(targetDir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!out.valid()) {
    error = ErrnoText(errno);
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = ErrnoText(errno);
      ::unlinkat(targetDir, temp.c_str(), 0);
      return false;
    }
    if (n == 0) break;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(out.get(), buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        error = ErrnoText(errno);
        ::unlinkat(targetDir, temp.c_str(), 0);
        return false;
      }
      done += w;
    }
  }
  if (::renameat(targetDir, temp.c_str(), targetDir, leaf.c_str()) != 0) {
    error = ErrnoText(errno);
    ::unlinkat(targetDir, temp.c_str(), 0);
    return false;
  }
  return true;
}

// Why an extracted file is not whole: 7-Zip leaves what it wrote of a file when writing fails
// (a full disk) without naming the file, so a size short of the listed one tells. Empty when whole.
std::string Incomplete(const std::optional<std::uint64_t>& size, const struct stat& st) {
  if (!size || static_cast<std::uint64_t>(st.st_size) == *size) return {};
  return "not extracted whole (" + std::to_string(st.st_size) + " of " + std::to_string(*size) + " bytes written)";
}

// Moves one extracted file from the private folder to its place in the output folder.
bool MoveIntoPlace(int stagingFd, const std::vector<std::string>& stagedParts, int outputFd,
                   const std::vector<std::string>& targetParts, const std::optional<std::uint64_t>& size,
                   std::string& error) {
  Fd sourceDir = OpenFolders(stagingFd, stagedParts, stagedParts.size() - 1, false, error);
  if (!sourceDir.valid()) {
    error = "not extracted (" + error + ")";
    return false;
  }
  const std::string& sourceLeaf = stagedParts.back();
  struct stat st {};
  if (::fstatat(sourceDir.get(), sourceLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    error = "not extracted";
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
    error = "not a plain file";
    return false;
  }
  error = Incomplete(size, st);
  if (!error.empty()) return false;
  Fd targetDir = OpenFolders(outputFd, targetParts, targetParts.size() - 1, true, error);
  if (!targetDir.valid()) return false;
  const std::string& targetLeaf = targetParts.back();
  if (::fstatat(targetDir.get(), targetLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
    error = "a folder of that name is in the way";
    return false;
  }
  // A rename replaces an existing file or link itself; it never writes through it.
  if (::renameat(sourceDir.get(), sourceLeaf.c_str(), targetDir.get(), targetLeaf.c_str()) == 0) return true;
  if (errno != EXDEV) {
    error = ErrnoText(errno);
    return false;
  }
  if (::unlinkat(targetDir.get(), targetLeaf.c_str(), 0) != 0 && errno != ENOENT) {
    error = ErrnoText(errno);
    return false;
  }
  return CopyInto(sourceDir.get(), sourceLeaf, targetDir.get(), error);
}

// One item of the archive to be extracted.
struct Planned {
  std::string name;                 // as listed, for 7zz
  std::vector<std::string> staged;  // where 7zz puts it in the private folder
  std::vector<std::string> target;  // where it belongs in the output folder
  bool folder = false;
  int listed = 1;  // how often the listing named it
  std::optional<std::uint64_t> size;  // of a file, as listed
};

// What became of a planned item.
struct Outcome {
  bool ok = false;
  std::string error;
};

// The planned items whose place in the private folder is their place in the output folder, as a
// tree of their paths. A folder of the tree that does not exist in the output folder yet is moved
// there whole, with one rename; only where the output folder already holds a folder of that name
// does the placing go down into it, and file by file where files are already there.
class Placer {
 public:
  Placer(const std::vector<Planned>& plan, const std::unordered_set<std::string>& damaged,
         std::vector<Outcome>& outcomes)
      : plan_(plan), damaged_(damaged), outcomes_(outcomes) {}

  void Add(std::size_t index) {
    Node* node = &root_;
    for (const std::string& part : plan_[index].target) node = &node->children[part];
    node->item = index;
  }

  void Place(int stagingDir, int outputDir) { PlaceChildren(root_, stagingDir, outputDir); }

 private:
  struct Node {
    std::map<std::string, Node> children;
    std::optional<std::size_t> item;  // the planned item that ends here (the paths are unique)
  };

  bool IsFile(const Node& node) const { return node.item && !plan_[*node.item].folder; }

  void Set(const Node& node, bool ok, const std::string& error) {
    if (node.item) outcomes_[*node.item] = Outcome{ok, error};
  }

  // Every item in and below `node`; `ok` for those no error was found for before the move.
  void SetAll(const Node& node, bool ok, const std::string& error) {
    if (node.item && (!ok || outcomes_[*node.item].error.empty())) Set(node, ok, error);
    for (const auto& child : node.children) SetAll(child.second, ok, error);
  }

  void PlaceChildren(const Node& node, int stagingDir, int outputDir) {
    for (const auto& [name, child] : node.children) {
      if (IsFile(child)) {
        PlaceFile(name, child, stagingDir, outputDir);
        if (!child.children.empty()) {
          // A file and a folder of the same name: the folder's items cannot be placed.
          for (const auto& below : child.children) SetAll(below.second, false, name + " is no folder");
        }
      } else {
        PlaceFolder(name, child, stagingDir, outputDir);
      }
    }
  }

  void PlaceFile(const std::string& name, const Node& node, int stagingDir, int outputDir) {
    const Planned& p = plan_[*node.item];
    struct stat st {};
    if (damaged_.count(p.name) != 0) return Set(node, false, "damaged in the archive, not extracted");
    if (stagingDir < 0 || ::fstatat(stagingDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return Set(node, false, "not extracted");
    }
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return Set(node, false, "not a plain file");
    if (const std::string incomplete = Incomplete(p.size, st); !incomplete.empty()) {
      return Set(node, false, incomplete);
    }
    if (::fstatat(outputDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
      return Set(node, false, "a folder of that name is in the way");
    }
    // A rename replaces an existing file or link itself; it never writes through it.
    if (::renameat(stagingDir, name.c_str(), outputDir, name.c_str()) == 0) return Set(node, true, {});
    if (errno != EXDEV) return Set(node, false, ErrnoText(errno));
    std::string error;
    if (::unlinkat(outputDir, name.c_str(), 0) != 0 && errno != ENOENT)
      return Set(node, false, ErrnoText(errno));
    const bool ok = CopyInto(stagingDir, name, outputDir, error);
    Set(node, ok, error);
  }

  void PlaceFolder(const std::string& name, const Node& node, int stagingDir, int outputDir) {
    struct stat st {};
    if (stagingDir >= 0 && ::fstatat(outputDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT && PrepareWhole(name, node, stagingDir) &&
        ::renameat2(stagingDir, name.c_str(), outputDir, name.c_str(), RENAME_NOREPLACE) == 0) {
      SetAll(node, true, {});
      return;
    }
    // The name is taken (or the file system cannot move the folder whole): into the folder there,
    // never through a link.
    if (::mkdirat(outputDir, name.c_str(), 0777) != 0 && errno != EEXIST) {
      return SetAll(node, false, "cannot create folder " + name + ": " + ErrnoText(errno));
    }
    Fd out(::openat(outputDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!out.valid()) {
      const int code = errno;
      return SetAll(node, false,
                    (code == ELOOP || code == ENOTDIR) ? name + " is a link or no folder"
                                                       : name + ": " + ErrnoText(code));
    }
    Set(node, true, {});
    Fd staged(stagingDir < 0
                  ? -1
                  : ::openat(stagingDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    PlaceChildren(node, staged.get(), out.get());
  }

  // Makes the staged folder hold only what may go into place: damaged files and anything that is
  // not a plain file are taken out (and reported), folders the archive names but 7-Zip left out
  // are made. False when the folder cannot go whole.
  bool PrepareWhole(const std::string& name, const Node& node, int stagingDir) {
    // 7-Zip has made almost every folder: it is opened first, made only when missing.
    Fd dir(::openat(stagingDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid() && errno == ENOENT && ::mkdirat(stagingDir, name.c_str(), 0777) == 0) {
      dir = Fd(::openat(stagingDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!dir.valid()) return false;
    // Only planned items go with the folder: anything else 7zz put there (an item whose name
    // holds a line break, which the listing gave under another name) stays behind.
    {
      DIR* listing = ::fdopendir(::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0));
      if (listing == nullptr) return false;
      bool cleared = true;
      while (const dirent* entry = ::readdir(listing)) {
        const std::string_view entryName = entry->d_name;
        if (entryName == "." || entryName == ".." || node.children.count(entry->d_name) != 0) continue;
        cleared = RemoveTreeAt(dir.get(), entry->d_name) && cleared;
      }
      ::closedir(listing);
      if (!cleared) return false;
    }
    std::vector<const std::pair<const std::string, Node>*> folders;
    for (const auto& entry : node.children) {
      const std::string& childName = entry.first;
      const Node& child = entry.second;
      if (!IsFile(child)) {
        folders.push_back(&entry);
        continue;
      }
      if (!child.children.empty()) return false;
      outcomes_[*child.item] = Outcome{};
      struct stat st {};
      if (!damaged_.empty() && damaged_.count(plan_[*child.item].name) != 0) {
        ::unlinkat(dir.get(), childName.c_str(), 0);
        Set(child, false, "damaged in the archive, not extracted");
      } else if (::fstatat(dir.get(), childName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        Set(child, false, "not extracted");
      } else if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
        if (S_ISDIR(st.st_mode) || ::unlinkat(dir.get(), childName.c_str(), 0) != 0) return false;
        Set(child, false, "not a plain file");
      } else if (const std::string incomplete = Incomplete(plan_[*child.item].size, st); !incomplete.empty()) {
        if (::unlinkat(dir.get(), childName.c_str(), 0) != 0) return false;
        Set(child, false, incomplete);
      }
    }
    auto prepareFolders = [&](std::size_t from, std::size_t to) {
      for (std::size_t i = from; i < to; ++i) {
        if (!PrepareWhole(folders[i]->first, folders[i]->second, dir.get())) return false;
      }
      return true;
    };
    // The checks cost a system call per item, and 7-Zip has left the second processor idle: the
    // first folder with several folders in it shares them out to a second thread. Each item's
    // outcome is its own slot, so the two never write the same place.
    if (!split_ && folders.size() >= 2) {
      split_ = true;
      const std::size_t half = folders.size() / 2;
      bool secondOk = false;
      std::thread second;
      try {
        second = std::thread([&] { secondOk = prepareFolders(half, folders.size()); });
      } catch (const std::system_error&) {
        return prepareFolders(0, folders.size());
      }
      const bool firstOk = prepareFolders(0, half);
      second.join();
      return firstOk && secondOk;
    }
    return prepareFolders(0, folders.size());
  }

  const std::vector<Planned>& plan_;
  const std::unordered_set<std::string>& damaged_;
  std::vector<Outcome>& outcomes_;
  Node root_;
  bool split_ = false;  // the checks have been shared out to a second thread
};

// The private folder inside the output folder; removed with everything in it at the end.
class Staging {
 public:
  explicit Staging(const std::string& outputFolder) {
    std::string pattern = outputFolder + "/.velmora-7z-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    // Held while the tool runs: the program's start-up sweep removes only the folders of killed runs.
    lock_ = Fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock_.valid()) ::flock(lock_.get(), LOCK_EX | LOCK_NB);
  }
  ~Staging() {
    if (!path_.empty()) {
      std::error_code ignored;
      fs::remove_all(path_, ignored);  // removes links themselves, never what they point to
    }
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  Fd lock_;
};

// The parts of a name as 7zz lays it out on Linux: separated at "/" only.
std::vector<std::string> SplitAtSlash(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += '/';
    text += part;
  }
  return text;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// How many items of the archive, folders or files, bear each of `names` (by their place in the
// output folder), from a listing of exactly those names. A name stands for items of its own kind
// only: a listing of a folder's name shows what is inside it too. Empty, with the reason in
// `error`, when the listing cannot be made.
std::optional<std::unordered_map<std::string, int>> CountItemsNamed(const std::string& sevenZip,
                                                                   const std::string& archive,
                                                                   const std::vector<std::string>& names,
                                                                   bool folders, const std::string& listPath,
                                                                   std::string& error) {
  std::vector<std::string> args = {"l", "-slt", "-spd", "-ssc", "-sccUTF-8", "-bsp0", archive};
  if (!NameSwitches(names, listPath, args, error)) return std::nullopt;
  std::unordered_map<std::string, int> counts;
  ListingParser parser([&](const Item& item) {
    if (item.folder == folders) ++counts[Joined(SplitPath(item.name))];
  });
  RunResult listing;
  try {
    listing = Run7zz(sevenZip, args, [&](std::string_view block) { parser.Feed(block); });
  } catch (const proc::ProcessError& e) {
    error = e.what();
    return std::nullopt;
  }
  if (listing.exitCode != 0) {
    error = "7zz ended with exit code " + std::to_string(listing.exitCode);
    return std::nullopt;
  }
  parser.Finish();
  return counts;
}

// The folders above a place in the output folder ("a/b/c" -> "a/b", "a").
template <typename Visit>
void ForEachFolderAbove(const std::string& key, Visit visit) {
  for (std::size_t at = key.rfind('/'); at != std::string::npos && at > 0; at = key.rfind('/', at - 1)) {
    visit(key.substr(0, at));
  }
}

// 7-Zip lists a line break in a name as "_", and no list of names can carry a line break. So a
// file listed with "_" that 7zz did not extract, or that the listing named twice, may be an item
// whose name holds one: a listing of exactly those names counts how many items of the archive
// really bear each, and the rest are skipped with a WARNING line. A folder listed with "_" that
// 7zz did not make and that held only such files is looked up the same way. Returns an ERROR
// line when the count cannot be made (those files then stay planned and end as not extracted).
std::string SkipNamesWithLineBreaks(const std::string& sevenZip, const std::string& archive,
                                    const std::string& listPath, int stagingFd, std::vector<Planned>& plan,
                                    std::vector<std::string>& warnings) {
  auto staged = [&](const Planned& p) {
    struct stat st {};
    return stagingFd >= 0 && ::fstatat(stagingFd, Joined(p.staged).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  };
  auto underscored = [](const Planned& p) { return p.name.find('_') != std::string::npos; };
  std::vector<bool> skip(plan.size(), false);
  // Looks the suspects up and marks those no item bears; false when the listing failed.
  std::string error;
  auto judge = [&](const std::vector<std::size_t>& suspects, bool folders) {
    std::vector<std::string> names;
    for (std::size_t i : suspects) names.push_back(plan[i].name);
    const auto real = CountItemsNamed(sevenZip, archive, names, folders, listPath, error);
    if (!real) return false;
    for (std::size_t i : suspects) {
      const Planned& p = plan[i];
      const auto found = real->find(Joined(p.target));
      const int bearing = found == real->end() ? 0 : found->second;
      for (int n = bearing; n < p.listed; ++n) {
        warnings.push_back("WARNING: skipped " + p.name + " : line break in the name");
      }
      skip[i] = bearing == 0;
    }
    return true;
  };

  std::vector<std::size_t> files;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const Planned& p = plan[i];
    if (!p.folder && underscored(p) && (p.listed > 1 || !staged(p))) files.push_back(i);
  }
  if (files.empty()) return {};
  if (!judge(files, false)) return "ERROR: cannot look up names in the archive: " + error;

  std::unordered_set<std::string> emptied;  // folders above a skipped file
  std::unordered_set<std::string> kept;     // folders above a file that stays
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].folder) continue;
    ForEachFolderAbove(Joined(plan[i].target), [&](std::string folder) {
      (skip[i] ? emptied : kept).insert(std::move(folder));
    });
  }
  std::vector<std::size_t> folders;
  for (std::size_t i = 0; i < plan.size() && !emptied.empty(); ++i) {
    const Planned& p = plan[i];
    const std::string key = Joined(p.target);
    if (p.folder && underscored(p) && emptied.count(key) != 0 && kept.count(key) == 0 && !staged(p)) {
      folders.push_back(i);
    }
  }
  std::string failure;
  if (!folders.empty() && !judge(folders, true)) failure = "ERROR: cannot look up names in the archive: " + error;

  std::vector<Planned> rest;
  rest.reserve(plan.size());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (!skip[i]) rest.push_back(std::move(plan[i]));
  }
  plan = std::move(rest);
  return failure;
}

int Run(const Options& options) {
  // 7-Zip reads and writes UTF-8 names whatever the caller's locale is.
  ::setenv("LC_ALL", "C.UTF-8", 1);
  // The listing gives every item's times in local time. With TZ unset the C library looks at
  // /etc/localtime again for every one of them, which makes the listing of a pack with thousands
  // of files several times slower; naming the same zone once gives the same times.
  ::setenv("TZ", ":/etc/localtime", 0);

  const std::string sevenZip = proc::FindProgram("7zz");
  if (sevenZip.empty()) {
    Print("ERROR: the archiver 7zz was not found on PATH (Debian package 7zip)");
    return kFatal;
  }

  std::error_code ec;
  const std::string archive = fs::absolute(Native(options.archive), ec).string();
  if (ec || !fs::is_regular_file(archive, ec)) {
    Print("ERROR: cannot find archive " + options.archive);
    return kFatal;
  }

  // Which names the command asks for.
  std::vector<std::vector<std::string>> patterns;
  for (const std::string& wildcard : options.wildcards) patterns.push_back(SplitPath(wildcard));
  for (const std::string& listFile : options.listFiles) {
    std::string content;
    {
      std::FILE* file = std::fopen(Native(listFile).c_str(), "rb");
      if (file == nullptr) {
        Print("ERROR: cannot open list file " + listFile + ": " + ErrnoText(errno));
        return kFatal;
      }
      char buffer[65536];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
      std::fclose(file);
    }
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
    for (std::string line : Lines(content)) {
      line.erase(0, line.find_first_not_of(" \t"));
      line.erase(line.find_last_not_of(" \t") + 1);
      if (!line.empty()) patterns.push_back(SplitPath(line));
    }
  }
  const bool namesGiven = !options.wildcards.empty() || !options.listFiles.empty();

  // The archive is listed, and each item judged and planned while 7zz goes on listing.
  std::vector<Planned> plan;
  std::vector<std::string> warnings;
  std::unordered_map<std::string, std::size_t> planned;  // place in the output folder -> plan entry
  ListingParser parser([&](const Item& item) {
    bool parent = false;
    std::vector<std::string> target = SplitPath(item.name, &parent);
    if (namesGiven && !target.empty() && !Selected(target, patterns, options.recursive)) return;
    const std::string why = Unsafe(item, target, parent);
    if (!why.empty()) {
      warnings.push_back("WARNING: skipped " + OnOneLine(item.name) + " : " + why);
      return;
    }
    const auto [at, added] = planned.emplace(Joined(target), plan.size());
    if (!added) {  // the same path twice: the archive's last copy wins
      ++plan[at->second].listed;
      return;
    }
    Planned p;
    p.name = item.name;
    p.folder = item.folder;
    p.size = item.size;
    // 7zz separates folders at "/" only: a "\" stays part of a name in the private folder.
    p.staged = SplitAtSlash(item.name);
    p.target = std::move(target);
    plan.push_back(std::move(p));
  });
  RunResult listing;
  try {
    listing = Run7zz(sevenZip, {"l", "-slt", "-sccUTF-8", "-bsp0", archive},
                     [&](std::string_view block) { parser.Feed(block); });
  } catch (const proc::ProcessError& e) {
    Print(std::string("ERROR: ") + e.what());
    return kFatal;
  }
  if (listing.exitCode != 0) {
    for (const std::string& line : Lines(listing.output)) {
      if (options.style == Style::Classic && Is7zzBannerLine(line)) continue;
      Print(line);
    }
    Print("ERROR: cannot read archive " + options.archive);
    return listing.exitCode > 0 ? listing.exitCode : kFatal;
  }
  parser.Finish();

  // The output folder.
  const std::string outputFolder = Native(options.outputFolder);
  fs::create_directories(outputFolder, ec);
  Fd outputFd(::open(outputFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!outputFd.valid()) {
    Print("ERROR: cannot use output folder " + options.outputFolder + ": " + ErrnoText(errno));
    return kFatal;
  }

  std::vector<std::string> header;
  std::vector<std::string> trailer;
  int exitCode = kOk;
  std::unordered_set<std::string> damaged;
  Staging staging(outputFolder);
  if (staging.path().empty()) {
    Print("ERROR: cannot create a working folder in " + options.outputFolder + ": " + ErrnoText(errno));
    return kFatal;
  }
  const std::string stagedFiles = staging.path() + "/files";

  std::vector<std::string> fileNames;
  for (const Planned& p : plan) {
    if (!p.folder) fileNames.push_back(p.name);
  }
  if (!fileNames.empty()) {
    // When every item of the archive is taken, 7zz extracts them all without matching each against
    // a list of names.
    std::vector<std::string> args = {"x", archive, "-o" + stagedFiles, "-y", "-spd", "-ssc", "-sccUTF-8", "-bsp0"};
    if (namesGiven || !warnings.empty()) {
      std::string error;
      if (!NameSwitches(fileNames, staging.path() + "/names.txt", args, error)) {
        Print("ERROR: cannot write the list of names to extract into " + options.outputFolder + ": " + error);
        return kFatal;
      }
    }
    RunResult extraction;
    try {
      extraction = Run7zz(sevenZip, args);
    } catch (const proc::ProcessError& e) {
      Print(std::string("ERROR: ") + e.what());
      return kFatal;
    }
    exitCode = std::max(exitCode, extraction.exitCode < 0 ? kFatal : extraction.exitCode);

    // 7-Zip's lines, told apart into what comes before the items and what comes after them; its
    // private folder is named as the output folder.
    bool afterProperties = false;
    bool sawSeparator = false;
    std::unordered_set<std::string> fileSet;  // made at the first error line
    for (std::string line : Lines(extraction.output)) {
      ReplaceAll(line, stagedFiles, outputFolder);
      if (options.style == Style::Classic) {
        if (Is7zzBannerLine(line)) continue;
        // Only extracted items start with "Extracting" in this form.
        if (line.compare(0, 20, "Extracting archive: ") == 0) line.replace(0, 10, "Processing");
      }
      if (line.compare(0, 7, "ERROR: ") == 0) {
        // "ERROR: CRC Failed : <name>": that file is not to be used.
        if (fileSet.empty()) fileSet.insert(fileNames.begin(), fileNames.end());
        for (std::size_t at = line.find(" : "); at != std::string::npos; at = line.find(" : ", at + 1)) {
          const std::string name = line.substr(at + 3);
          if (fileSet.count(name) != 0) damaged.insert(name);
        }
      }
      if (!afterProperties) {
        header.push_back(line);
        if (line == "--") sawSeparator = true;
        if (sawSeparator && line.empty()) afterProperties = true;
      } else {
        trailer.push_back(line);
      }
    }
  } else {
    if (options.style == Style::Modern) {
      for (const std::string& line : Lines(listing.output)) {
        if (line.compare(0, 6, "7-Zip ") == 0) header.push_back(line);
      }
      header.push_back("");
    }
    header.push_back((options.style == Style::Modern ? "Extracting archive: " : "Processing archive: ") +
                     options.archive);
    trailer.push_back(plan.empty() ? "No files to process" : "Everything is Ok");
  }

  Fd stagingFd(::open(stagedFiles.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fileNames.empty()) {
    const std::string failure =
        SkipNamesWithLineBreaks(sevenZip, archive, staging.path() + "/lookup.txt", stagingFd.get(), plan, warnings);
    if (!failure.empty()) warnings.push_back(failure);
  }

  for (const std::string& line : header) Print(line);
  for (const std::string& line : warnings) Print(line);
  if (!warnings.empty()) exitCode = std::max(exitCode, kWarning);

  std::vector<Outcome> outcomes(plan.size());
  Placer placer(plan, damaged, outcomes);
  std::vector<std::size_t> oneByOne;  // names 7zz lays out differently ("\" in a name)
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].staged == plan[i].target) {
      placer.Add(i);
    } else {
      oneByOne.push_back(i);
    }
  }
  // Those laid out differently go first: a folder moved whole into place would take their staged
  // copies with it.
  for (std::size_t i : oneByOne) {
    const Planned& p = plan[i];
    std::string error;
    bool ok = false;
    if (p.folder) {
      ok = OpenFolders(outputFd.get(), p.target, p.target.size(), true, error).valid();
    } else if (damaged.count(p.name) != 0) {
      error = "damaged in the archive, not extracted";
    } else if (!stagingFd.valid()) {
      error = "not extracted";
    } else {
      ok = MoveIntoPlace(stagingFd.get(), p.staged, outputFd.get(), p.target, p.size, error);
    }
    outcomes[i] = Outcome{ok, error};
  }
  placer.Place(stagingFd.get(), outputFd.get());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const Planned& p = plan[i];
    if (outcomes[i].ok) {
      if (options.style == Style::Classic) {
        Print("Extracting  " + Joined(p.target));
      } else if (options.listLevel >= 1) {
        Print("- " + Joined(p.target) + (p.folder ? "/" : ""));  // folders as 7zz lists them
      }
    } else {
      Print("ERROR: " + Joined(plan[i].target) + " : " + outcomes[i].error);
      exitCode = std::max(exitCode, kFatal);
    }
  }
  for (const std::string& line : trailer) Print(line);
  return exitCode;
}

// Without arguments: the banner and how the tool is used. The Modern form is 7zz's own.
int Usage(Style style) {
  if (style == Style::Modern) {
    const std::string sevenZip = proc::FindProgram("7zz");
    if (sevenZip.empty()) {
      Print("ERROR: the archiver 7zz was not found on PATH (Debian package 7zip)");
      return kFatal;
    }
    try {
      const RunResult run = Run7zz(sevenZip, {});
      std::fwrite(run.output.data(), 1, run.output.size(), stdout);
      return run.exitCode < 0 ? kFatal : run.exitCode;
    } catch (const std::exception& e) {
      Print(std::string("ERROR: ") + e.what());
      return kFatal;
    }
  }
  Print("Usage: 7z x <archive> -o<folder> [*.inf -r | @<listfile>] -y");
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.style = OutputStyle();
  if (options.style == Style::Classic) {
    Print("");
    Print(kClassicBanner);
    Print("");
  }
  if (argc < 2) {
    const int code = Usage(options.style);
    std::fflush(stdout);
    return code;
  }
  const std::string complaint = ParseCommandLine(argc, argv, options);
  if (!complaint.empty()) {
    Print("");
    Print("Command Line Error:");
    Print(complaint);
    std::fflush(stdout);
    return kCommandLineError;
  }
  int code = kFatal;
  try {
    code = Run(options);
  } catch (const std::exception& e) {
    Print(std::string("ERROR: ") + e.what());
  }
  // Lines that did not reach their reader (a full disk under a redirected output) make the run a
  // failure: what was extracted can no longer be told.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    const std::string failure = "ERROR: cannot write the tool's output: " + ErrnoText(errno) + "\n";
    std::fwrite(failure.data(), 1, failure.size(), stderr);
    return kFatal;
  }
  return code;
}
