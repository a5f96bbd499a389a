// Read-only file mappings on Windows, and the byte folding table of case-insensitive searches
// (the system's lower-casing of the ANSI code page).
#include <windows.h>

#include <string>

#include "platform/mapped_file.h"

namespace platform {
namespace {

// A handle of a disk file of 1 byte to below 2 GiB, and its size; INVALID_HANDLE_VALUE for
// anything else. Other programs may go on reading, writing or deleting the file meanwhile.
HANDLE OpenRegularFile(const std::string& path, DWORD& size) {
  if (path.empty()) return INVALID_HANDLE_VALUE;
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;  // folders cannot be opened this way
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  // The size must fit a positive 32-bit number.
  if (GetFileType(file) != FILE_TYPE_DISK || high != 0 || static_cast<LONG>(low) <= 0) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  size = low;
  return file;
}

}  // namespace

bool MappedFile::Open(const std::string& path) {
  Close();
  DWORD size = 0;
  HANDLE file = OpenRegularFile(path, size);
  if (file == INVALID_HANDLE_VALUE) return false;
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  // An unnamed mapping never exists already; if the system says so, it is not ours.
  if (mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mapping);
    mapping = nullptr;
  }
  void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  // The view keeps the mapping and the file alive.
  if (mapping != nullptr) CloseHandle(mapping);
  CloseHandle(file);
  if (view == nullptr) return false;
  data_ = static_cast<const unsigned char*>(view);
  size_ = size;
  return true;
}

void MappedFile::Close() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
  data_ = nullptr;
  size_ = 0;
}

std::size_t ReadWholeFileInto(const std::string& path, std::string& buffer) {
  DWORD size = 0;
  HANDLE file = OpenRegularFile(path, size);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (buffer.size() < size) buffer.resize(size);
  DWORD done = 0;
  while (done < size) {  // a file that shrank meanwhile gives what it still has
    DWORD got = 0;
    if (!ReadFile(file, buffer.data() + done, size - done, &got, nullptr)) {
      done = 0;  // unreadable
      break;
    }
    if (got == 0) break;
    done += got;
  }
  CloseHandle(file);
  return done;
}

const FoldTable& LowerCaseTable() {
  static const FoldTable table = [] {
    FoldTable t{};
    for (int c = 0; c < 256; ++c) {
      char one[1] = {static_cast<char>(c)};
      CharLowerBuffA(one, 1);
      t.map[c] = static_cast<unsigned char>(one[0]);
    }
    return t;
  }();
  return table;
}

}  // namespace platform
