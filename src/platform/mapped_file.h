// A whole file mapped into memory read-only (Linux: mmap; Windows: an unnamed file mapping).
// Only a regular file of at least 1 byte and below 2 GiB is mapped; anything else (missing,
// unreadable, empty, too large, a folder or a device) maps nothing and is no error.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() { Close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;

  // Unmaps what was mapped, then maps the file; false when nothing was mapped.
  bool Open(const std::string& path);
  void Close();

  bool IsOpen() const { return data_ != nullptr; }
  const unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

// The bytes of a file that MappedFile would map, read into `buffer` instead: a regular file of
// 1 byte to below 2 GiB. Returns the number of bytes read, which are the first ones of `buffer`;
// 0 when nothing was read. `buffer` only grows, so one buffer serves many files without new
// allocations; reading small files this way costs less than mapping them.
std::size_t ReadWholeFileInto(const std::string& path, std::string& buffer);

// The byte folding table of case-insensitive searches: entry c is the lower-case form of the
// one-character text c. Windows: the system's lower-casing of the ANSI code page, so accented
// letters of the code page fold too. Linux (UTF-8 text, where a byte is no character of its
// own): ASCII letters only.
struct FoldTable {
  unsigned char map[256];
  unsigned char operator[](unsigned char c) const { return map[c]; }
};
const FoldTable& LowerCaseTable();

}  // namespace platform
