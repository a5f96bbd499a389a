#include "placement.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <thread>

namespace seven_zip {

namespace fs = std::filesystem;

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

std::string Incomplete(const std::optional<std::uint64_t>& size, const struct stat& st) {
  if (!size || static_cast<std::uint64_t>(st.st_size) == *size) return {};
  return "not extracted whole (" + std::to_string(st.st_size) + " of " + std::to_string(*size) + " bytes written)";
}

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

void Placer::PlaceChildren(const Node& node, int stagingDir, int outputDir) {
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

void Placer::PlaceFile(const std::string& name, const Node& node, int stagingDir, int outputDir) {
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

void Placer::PlaceFolder(const std::string& name, const Node& node, int stagingDir, int outputDir) {
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

bool Placer::PrepareWhole(const std::string& name, const Node& node, int stagingDir) {
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

Staging::Staging(const std::string& outputFolder) {
  std::string pattern = outputFolder + "/.velmora-7z-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  path_ = pattern;
  // Held while the tool runs: the program's start-up sweep removes only the folders of killed runs.
  lock_ = Fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (lock_.valid()) ::flock(lock_.get(), LOCK_EX | LOCK_NB);
}

Staging::~Staging() {
  if (!path_.empty()) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);  // removes links themselves, never what they point to
  }
}

}  // namespace seven_zip
