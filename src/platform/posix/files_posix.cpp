// Files and system facts on Linux. Backslashes count as folder separators everywhere, so
// the Windows-style paths the core builds work unchanged.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/text_util.h"
#include "platform/files.h"
#include "platform/posix/mount_info.h"

namespace platform {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

FileError MakeError(const std::string& what, const std::string& path, int code) {
  return FileError(what + " " + Quoted(path) + ": " + SystemErrorMessage(static_cast<std::uint32_t>(code)),
                   static_cast<std::uint32_t>(code));
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

void WriteAll(int fd, const char* data, std::size_t size, const std::string& path) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw MakeError("Cannot write", path, errno);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// The native path of an existing entry. Windows ignores blanks and dots at the end of a
// path ("C:\Packs\a.7z " opens "a.7z"), and the core relies on that; so when the path does not
// exist as spelled, the name without them is tried.
std::string LookupPath(const std::string& path) {
  std::string native = NativePath(path);
  struct stat info {};
  if (native.empty() || ::lstat(native.c_str(), &info) == 0) return native;
  std::size_t end = native.size();
  while (end > 0 && (native[end - 1] == ' ' || native[end - 1] == '.')) --end;
  if (end == native.size() || end == 0 || native[end - 1] == '/') return native;
  native.resize(end);
  return native;
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

// The path made absolute and resolved; a path that does not exist yet resolves through its
// nearest existing parent folder.
std::string ResolveExisting(const std::string& path) {
  std::string native = NativePath(path);
  if (native.empty() || native.front() != '/') {
    const std::string current = CurrentDirectory();
    native = native.empty() ? current : current + "/" + native;
  }
  while (!native.empty()) {
    const std::string resolved = RealPath(native);
    if (!resolved.empty()) return resolved;
    const std::size_t slash = native.find_last_of('/');
    if (slash == std::string::npos) break;
    native = slash == 0 ? std::string("/") : native.substr(0, slash);
  }
  return "/";
}

const posix::MountEntry* MountOf(const std::vector<posix::MountEntry>& mounts, const std::string& path) {
  return posix::FindMount(mounts, ResolveExisting(path));
}

std::vector<posix::MountEntry> ReadMounts() {
  try {
    return posix::ParseMountInfo(ReadWholeFile("/proc/self/mountinfo"));
  } catch (const FileError&) {
    return {};
  }
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/tmp";
}

}  // namespace

char PathSeparator() { return '/'; }

bool PathsIgnoreCase() { return false; }

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(LookupPath(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(LookupPath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::uint32_t CreateDirectory(const std::string& path) {
  if (path.empty()) return ENOENT;
  if (::mkdir(NativePath(path).c_str(), 0777) == 0) return 0;
  return errno == EEXIST ? 183u : static_cast<std::uint32_t>(errno);
}

bool ForceDirectories(const std::string& path) {
  const std::string native = WithoutTrailingSeparators(NativePath(path));
  if (native.empty()) return false;
  for (std::size_t pos = native.find('/', 1); pos != std::string::npos; pos = native.find('/', pos + 1)) {
    if (native[pos - 1] != '/') ::mkdir(native.substr(0, pos).c_str(), 0777);
  }
  ::mkdir(native.c_str(), 0777);
  return DirectoryExists(native);
}

bool DeleteFile(const std::string& path) { return !path.empty() && ::unlink(LookupPath(path).c_str()) == 0; }

std::string SystemErrorMessage(std::uint32_t code) {
  return std::generic_category().message(static_cast<int>(code)) + " (" + std::to_string(code) + ")";
}

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(errno); }

std::vector<DirEntry> ListDirectory(const std::string& folder, const std::string& pattern) {
  std::vector<DirEntry> entries;
  const std::string native = folder.empty() ? std::string(".") : NativePath(folder);
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return entries;
  // "*.*" matches every name on Windows, dotted or not.
  const std::string wildcard = pattern == "*.*" ? std::string("*") : pattern;
  while (const dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(name, wildcard, true)) continue;
    DirEntry entry;
    entry.name = name;
    struct stat info {};
    if (::fstatat(::dirfd(dir), item->d_name, &info, 0) == 0) {
      entry.isDirectory = S_ISDIR(info.st_mode);
    } else {
      entry.isDirectory = item->d_type == DT_DIR;
    }
    entry.hidden = name.front() == '.';
    entry.directoryOnly = entry.isDirectory && !entry.hidden;
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return entries;
}

std::string ShortPathName(const std::string& path) {
  if (!FileExists(path) && !DirectoryExists(path)) return "";
  const std::string native = LookupPath(path);
  // A double quote cannot be carried inside a quoted command-line word.
  if (native.find('"') != std::string::npos) return "";
  return native.find_first_of(" \t") == std::string::npos ? native : Quoted(native);
}

DriveType GetDriveType(const std::string& path) {
  if (const char* forced = std::getenv("VELMORA_DRIVE_TYPE");
      forced != nullptr && forced[0] >= '0' && forced[0] <= '6' && forced[1] == '\0') {
    return static_cast<DriveType>(forced[0] - '0');
  }
  const std::vector<posix::MountEntry> mounts = ReadMounts();
  const posix::MountEntry* mount = MountOf(mounts, path);
  if (mount == nullptr) return DriveType::Unknown;
  return posix::ClassifyMount(*mount, "/sys");
}

std::string DriveOfPath(const std::string& path) {
  const std::vector<posix::MountEntry> mounts = ReadMounts();
  const posix::MountEntry* mount = MountOf(mounts, path);
  return mount == nullptr ? std::string("/") : mount->mountPoint;
}

std::string WindowsDirectory() {
  std::string folder;
  if (const char* windir = std::getenv("VELMORA_WINDIR"); windir != nullptr && windir[0] != '\0') {
    folder = NativePath(windir);
  } else if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    folder = std::string(data) + "/velmora";
  } else {
    folder = HomeDirectory() + "/.local/share/velmora";
  }
  folder = WithoutTrailingSeparators(folder);
  if (!DirectoryExists(folder)) ForceDirectories(folder);
  return folder;
}

std::string ComputerName() {
  utsname names{};
  if (::uname(&names) != 0) return "";
  std::string name = names.nodename;
  return name.substr(0, name.find('.'));
}

std::string ProgramFilePath() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t size = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (size <= 0 || static_cast<std::size_t>(size) >= buffer.size()) return "";
  buffer.resize(static_cast<std::size_t>(size));
  return buffer;
}

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return "";
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

std::string ReadWholeFile(const std::string& path) {
  const std::string native = LookupPath(path);
  // Not blocking on open, so a named pipe without a writer cannot hang the caller.
  Descriptor fd(::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) throw MakeError("Cannot open", path, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throw MakeError("Cannot read", path, errno);
  if (S_ISDIR(info.st_mode)) throw MakeError("Cannot read", path, EISDIR);
  // Devices and pipes may never end (/dev/zero): only regular files are read.
  if (!S_ISREG(info.st_mode)) throw MakeError("Cannot read", path, EINVAL);
  std::string content;
  if (S_ISREG(info.st_mode) && info.st_size > 0) content.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw MakeError("Cannot read", path, errno);
    }
    if (got == 0) break;
    content.append(chunk, static_cast<std::size_t>(got));
  }
  return content;
}

namespace {

// The temporary file of an atomic write: "." + the target's name + kTemporaryMark + six letters
// or digits (mkstemp's).
constexpr const char* kTemporaryMark = ".tmp-";
constexpr std::time_t kTemporaryGraceSeconds = 5;

bool IsTemporaryFileName(const std::string& name) {
  const std::string mark = kTemporaryMark;
  constexpr std::size_t kRandom = 6;
  if (name.size() < 2 + mark.size() + kRandom || name[0] != '.') return false;
  const std::size_t markAt = name.size() - kRandom - mark.size();
  if (name.compare(markAt, mark.size(), mark) != 0) return false;
  for (std::size_t i = name.size() - kRandom; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

}  // namespace

namespace {

std::string& LinkFreeFolder() {
  static std::string folder;
  return folder;
}

// True when `path` names a symbolic link inside the link-free folder: the write replaces it.
bool IsLinkToReplace(const std::string& native) {
  const std::string& folder = LinkFreeFolder();
  if (folder.empty() || native.size() <= folder.size() || native.compare(0, folder.size(), folder) != 0) {
    return false;
  }
  struct stat link {};
  return ::lstat(native.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
}

}  // namespace

void SetLinkFreeFolder(const std::string& folder) {
  std::string native = NativePath(folder);
  if (!native.empty() && native.back() != '/') native += '/';
  LinkFreeFolder() = native;
}

void WriteWholeFile(const std::string& path, const std::string& content) {
  if (IsLinkToReplace(NativePath(path))) {
    WriteFileAtomically(path, content);
    return;
  }
  Descriptor fd(::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) throw MakeError("Cannot create", path, errno);
  WriteAll(fd.get(), content.data(), content.size(), path);
  if (::close(fd.release()) != 0) throw MakeError("Cannot write", path, errno);
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
  WriteFileAtomically(path, [&content](const PieceSink& sink) { sink(content); });
}

void WriteFileAtomically(const std::string& path, const std::function<void(const PieceSink&)>& produce) {
  std::string target = NativePath(path);
  struct stat link {};
  const bool replaceLink = IsLinkToReplace(target);
  if (!replaceLink && ::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    // Replace the file the link points at and keep the link.
    const std::string resolved = RealPath(target);
    if (!resolved.empty()) target = resolved;
  }
  struct stat existing {};
  // A link to replace is no file of the program: the new file takes its place with default rights.
  const bool exists = !replaceLink && ::stat(target.c_str(), &existing) == 0;
  if (exists) {
    if (!S_ISREG(existing.st_mode))
      throw MakeError("Cannot replace", path, S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
    // A read-only file stays as it is, whoever runs the program, as on Windows.
    if ((existing.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
      throw MakeError("Cannot write", path, EACCES);
    }
  }

  std::string folder = ExtractFilePath(target);
  const std::string name = ExtractFileName(target);
  std::string temp = folder + "." + name + kTemporaryMark + "XXXXXX";
  Descriptor fd(::mkstemp(temp.data()));
  if (fd.get() < 0) throw MakeError("Cannot create a temporary file for", path, errno);
  ::fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
  // Held until the file is renamed or removed: a sweep for files of killed writes leaves it alone.
  ::flock(fd.get(), LOCK_EX | LOCK_NB);
  try {
    const mode_t mode = exists ? (existing.st_mode & 07777) : static_cast<mode_t>(0666 & ~[] {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      return mask;
    }());
    if (::fchmod(fd.get(), mode) != 0) throw MakeError("Cannot set the permissions of", temp, errno);
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
      // Keep the owner where the system allows it; the content matters more than the owner.
      [[maybe_unused]] const int ignored = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
    }
    produce([&](std::string_view piece) { WriteAll(fd.get(), piece.data(), piece.size(), temp); });
    if (::fsync(fd.get()) != 0) throw MakeError("Cannot flush", temp, errno);
    if (::close(fd.release()) != 0) throw MakeError("Cannot write", temp, errno);
    if (::rename(temp.c_str(), target.c_str()) != 0) throw MakeError("Cannot replace", path, errno);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  // Make the rename itself durable.
  if (folder.empty()) folder = ".";
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

int RemoveLeftoverTemporaryFiles(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(NativePath(folder.empty() ? "." : folder).c_str()), ::closedir);
  if (!dir) return 0;
  const int dirFd = ::dirfd(dir.get());
  const std::time_t now = std::time(nullptr);
  int removed = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (!IsTemporaryFileName(name)) continue;
    Descriptor fd(::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    // The moment between making the file and locking it.
    if (now - info.st_mtime < kTemporaryGraceSeconds) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // a write is still running
    if (::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
  }
  return removed;
}

int RemoveLeftoverStagingFolders(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(NativePath(folder.empty() ? "." : folder).c_str()), ::closedir);
  if (!dir) return 0;
  const int dirFd = ::dirfd(dir.get());
  const std::time_t now = std::time(nullptr);
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!IsArchiveStagingName(entry->d_name)) continue;
    Descriptor fd(::openat(dirFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
    // The moment between making the folder and locking it.
    if (now - info.st_mtime < kTemporaryGraceSeconds) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // the archive tool is still at work
    stale.push_back(entry->d_name);
  }
  int removed = 0;
  const std::string base = NativePath(folder.empty() ? "." : folder);
  for (const std::string& name : stale) {
    std::error_code ec;
    // remove_all removes links themselves, never what they point to.
    std::filesystem::remove_all(std::filesystem::path(base) / name, ec);
    if (!ec) ++removed;
  }
  return removed;
}

std::int64_t FileSize(const std::string& path) {
  struct stat info {};
  if (::stat(LookupPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

FileStamp GetFileStamp(const std::string& path) {
  struct stat info {};
  if (::stat(LookupPath(path).c_str(), &info) != 0) return {};
  return FileStamp{static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec,
                   static_cast<std::int64_t>(info.st_size)};
}

// ---- ExclusiveFile ----

ExclusiveFile::ExclusiveFile(const std::string& path) : path_(path), handle_(-1) {
  Descriptor fd(::open(LookupPath(path).c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) throw MakeError("Cannot open", path, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throw MakeError("Cannot open", path, errno);
  if (!S_ISREG(info.st_mode)) throw MakeError("Cannot open", path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) throw MakeError("Cannot open exclusively", path, errno);
  // An open-file-description lock also conflicts with the record locks of other programs.
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(fd.get(), F_OFD_SETLK, &whole) != 0) throw MakeError("Cannot open exclusively", path, errno);
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  handle_ = fd.release();
}

ExclusiveFile::~ExclusiveFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::int64_t ExclusiveFile::Size() const {
  struct stat info {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0)
    throw MakeError("Cannot read the size of", path_, handle_ < 0 ? EBADF : errno);
  return static_cast<std::int64_t>(info.st_size);
}

void ExclusiveFile::Seek(std::int64_t offset) {
  if (handle_ < 0 || ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) {
    throw MakeError("Cannot seek in", path_, handle_ < 0 ? EBADF : errno);
  }
}

void ExclusiveFile::Write(const void* data, std::size_t size) {
  if (handle_ < 0) throw MakeError("Cannot write", path_, EBADF);
  WriteAll(static_cast<int>(handle_), static_cast<const char*>(data), size, path_);
}

void ExclusiveFile::Flush() {
  if (handle_ < 0 || ::fsync(static_cast<int>(handle_)) != 0)
    throw MakeError("Cannot flush", path_, handle_ < 0 ? EBADF : errno);
}

void ExclusiveFile::Close() {
  if (handle_ < 0) return;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  if (::close(fd) != 0) throw MakeError("Cannot close", path_, errno);
}

}  // namespace platform
