// What both platforms' file mappings share: handing a mapping over from one object to another.
// Mapping and unmapping are in mapped_file_posix.cpp and mapped_file_win32.cpp.
#include "platform/mapped_file.h"

#include <utility>

namespace platform {

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

}  // namespace platform
