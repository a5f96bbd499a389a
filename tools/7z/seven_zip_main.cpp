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
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
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
    }
  }

  std::function<void(const Item&)> onItem_;
  std::string pending_;  // the start of a line whose end has not come yet
  std::optional<Item> open_;
  bool inItems_ = false;
};

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
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

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

// Moves one extracted file from the private folder to its place in the output folder.
bool MoveIntoPlace(int stagingFd, const std::vector<std::string>& stagedParts, int outputFd,
                   const std::vector<std::string>& targetParts, std::string& error) {
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
  std::unordered_set<std::string> planned;
  ListingParser parser([&](const Item& item) {
    bool parent = false;
    std::vector<std::string> target = SplitPath(item.name, &parent);
    if (namesGiven && !target.empty() && !Selected(target, patterns, options.recursive)) return;
    const std::string why = Unsafe(item, target, parent);
    if (!why.empty()) {
      warnings.push_back("WARNING: skipped " + item.name + " : " + why);
      return;
    }
    if (!planned.insert(Joined(target)).second) return;  // the same path twice: the archive's last copy wins
    Planned p;
    p.name = item.name;
    p.folder = item.folder;
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
    std::vector<std::string> args = {"x",    archive,     "-o" + stagedFiles, "-y",   "-spd",
                                     "-ssc", "-sccUTF-8", "-scsUTF-8",        "-bsp0"};
    if (namesGiven || !warnings.empty()) {
      const std::string nameList = staging.path() + "/names.txt";
      std::FILE* file = std::fopen(nameList.c_str(), "wb");
      if (file == nullptr) {
        Print("ERROR: cannot write " + nameList + ": " + ErrnoText(errno));
        return kFatal;
      }
      for (const std::string& name : fileNames) {
        std::fwrite(name.data(), 1, name.size(), file);
        std::fputc('\n', file);
      }
      std::fclose(file);
      args.push_back("@" + nameList);
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

  for (const std::string& line : header) Print(line);
  for (const std::string& line : warnings) Print(line);
  if (!warnings.empty()) exitCode = std::max(exitCode, kWarning);

  Fd stagingFd(::open(stagedFiles.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
  placer.Place(stagingFd.get(), outputFd.get());
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
      ok = MoveIntoPlace(stagingFd.get(), p.staged, outputFd.get(), p.target, error);
    }
    outcomes[i] = Outcome{ok, error};
  }
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
  std::fflush(stdout);
  return code;
}
