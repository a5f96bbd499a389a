// Read-only file mappings on Linux, and the byte folding table of case-insensitive searches.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/files.h"
#include "platform/mapped_file.h"

namespace platform {
namespace {

// Files of 2 GiB and more are not mapped: the searches count offsets in 32 bits on Windows.
constexpr std::int64_t kMapLimit = std::int64_t{1} << 31;

int OpenForReading(const std::string& native) {
  // Not blocking on open, so a named pipe without a writer cannot hang the caller; fstat then
  // refuses it as no regular file.
  int fd;
  do {
    fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A descriptor of a regular file of 1 byte to below 2 GiB, and its size; -1 for anything else.
int OpenRegularFile(const std::string& path, std::size_t& size) {
  if (path.empty()) return -1;
  std::string native = NativePath(path);
  int fd = OpenForReading(native);
  if (fd < 0 && errno == ENOENT) {
    // Windows ignores blanks and dots at the end of a name ("a.inf " opens "a.inf").
    std::size_t end = native.size();
    while (end > 0 && (native[end - 1] == ' ' || native[end - 1] == '.')) --end;
    if (end == native.size() || end == 0 || native[end - 1] == '/') return -1;
    native.resize(end);
    fd = OpenForReading(native);
  }
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 1 || info.st_size >= kMapLimit) {
    ::close(fd);
    return -1;
  }
  size = static_cast<std::size_t>(info.st_size);
  return fd;
}

}  // namespace

bool MappedFile::Open(const std::string& path) {
  Close();
  std::size_t size = 0;
  const int fd = OpenRegularFile(path, size);
  if (fd < 0) return false;
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);  // the mapping keeps the file
  if (view == MAP_FAILED) return false;
  data_ = static_cast<const unsigned char*>(view);
  size_ = size;
  return true;
}

void MappedFile::Close() {
  if (data_ != nullptr) ::munmap(const_cast<unsigned char*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

std::size_t ReadWholeFileInto(const std::string& path, std::string& buffer) {
  std::size_t size = 0;
  const int fd = OpenRegularFile(path, size);
  if (fd < 0) return 0;
  if (buffer.size() < size) buffer.resize(size);
  std::size_t done = 0;
  while (done < size) {  // a file that shrank meanwhile gives what it still has
    const ssize_t got = ::read(fd, buffer.data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) done = 0;  // unreadable
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return done;
}

const FoldTable& LowerCaseTable() {
  static const FoldTable table = [] {
    FoldTable t{};
    for (int c = 0; c < 256; ++c) {
      t.map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    return t;
  }();
  return table;
}

}  // namespace platform
