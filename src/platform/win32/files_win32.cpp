// Files and system facts on Windows, on the ANSI functions of the Win32 API.
#include <windows.h>

// windows.h maps these names to its own A/W functions; the platform layer has functions of
// the same names.
#undef CreateDirectory
#undef DeleteFile
#undef GetDriveType

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/files.h"

namespace platform {
namespace {

std::string ErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text = length > 0 && buffer != nullptr ? std::string(buffer, length) : "Unknown error";
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

FileError MakeError(const std::string& what, const std::string& path, DWORD code) {
  return FileError(what + " \"" + path + "\": " + SystemErrorMessage(code), code);
}

// The temporary file of an atomic write: GetTempFileName's "<prefix><1 to 4 hexadecimal digits>.tmp".
constexpr const char* kTemporaryPrefix = "vel";
constexpr ULONGLONG kTemporaryGraceSeconds = 5;

bool IsTemporaryFileName(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');  // Windows names ignore case
  }
  const std::string prefix = kTemporaryPrefix;
  const std::string ending = ".tmp";
  if (name.size() < prefix.size() + 1 + ending.size() || name.size() > prefix.size() + 4 + ending.size()) return false;
  if (name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - ending.size(), ending.size(), ending) != 0) {
    return false;
  }
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                     name.end() - static_cast<std::ptrdiff_t>(ending.size()),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Closes a handle when it goes out of scope.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (valid()) CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

void WriteAll(HANDLE file, const char* data, std::size_t size, const std::string& path) {
  while (size > 0) {
    const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, piece, &written, nullptr))
      throw MakeError("Cannot write", path, GetLastError());
    if (written == 0) throw MakeError("Cannot write", path, ERROR_WRITE_FAULT);
    data += written;
    size -= written;
  }
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string FullPath(const std::string& path) {
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::string buffer(needed, '\0');
  const DWORD length = GetFullPathNameA(path.c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  buffer.resize(length);
  return buffer;
}

HANDLE Native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
bool IsOpen(std::intptr_t handle) { return Native(handle) != INVALID_HANDLE_VALUE && handle != 0; }

}  // namespace

char PathSeparator() { return '\\'; }

bool PathsIgnoreCase() { return true; }

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return !path.empty() && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return !path.empty() && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::uint32_t CreateDirectory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return 0;
  return static_cast<std::uint32_t>(GetLastError());
}

bool ForceDirectories(const std::string& path) {
  std::string native = NativePath(path);
  while (native.size() > 1 && native.back() == '\\') native.pop_back();
  if (native.empty()) return false;
  // Skip the root: "C:\" or "\\server\share\".
  std::size_t start = 0;
  if (native.size() >= 2 && native[1] == ':') {
    start = 3;
  } else if (native.rfind("\\\\", 0) == 0) {
    const std::size_t server = native.find('\\', 2);
    const std::size_t share = server == std::string::npos ? std::string::npos : native.find('\\', server + 1);
    start = share == std::string::npos ? native.size() : share + 1;
  }
  for (std::size_t pos = native.find('\\', start); pos != std::string::npos;
       pos = native.find('\\', pos + 1)) {
    if (pos > 0 && !IsSeparator(native[pos - 1])) CreateDirectoryA(native.substr(0, pos).c_str(), nullptr);
  }
  CreateDirectoryA(native.c_str(), nullptr);
  return DirectoryExists(native);
}

bool DeleteFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::string SystemErrorMessage(std::uint32_t code) {
  return ErrorText(static_cast<DWORD>(code)) + " (" + std::to_string(code) + ")";
}

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(GetLastError()); }

std::vector<DirEntry> ListDirectory(const std::string& folder, const std::string& pattern) {
  std::vector<DirEntry> entries;
  std::string search = folder;
  if (!search.empty() && !IsSeparator(search.back()) && search.back() != ':') search += '\\';
  search += pattern;
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(search.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = name;
    entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.directoryOnly = data.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY;
    entry.hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    entry.system = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    entries.push_back(std::move(entry));
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return entries;
}

std::string ShortPathName(const std::string& path) {
  const DWORD needed = GetShortPathNameA(path.c_str(), nullptr, 0);
  if (needed == 0) return "";
  std::string buffer(needed, '\0');
  const DWORD length = GetShortPathNameA(path.c_str(), buffer.data(), needed);
  if (length == 0 || length >= needed) return "";
  buffer.resize(length);
  // A volume without 8.3 names gives the long path back: one with a blank is quoted, so the
  // command lines it goes into still split right.
  if (buffer.find_first_of(" \t") == std::string::npos) return buffer;
  if (buffer.find('"') != std::string::npos) return "";
  return "\"" + buffer + "\"";
}

DriveType GetDriveType(const std::string& path) {
  if (path.empty()) return static_cast<DriveType>(GetDriveTypeA(nullptr));
  std::string root = DriveOfPath(path);
  if (root.empty()) return DriveType::NoRootDir;
  root += '\\';
  return static_cast<DriveType>(GetDriveTypeA(root.c_str()));
}

std::string DriveOfPath(const std::string& path) {
  const std::string full = NativePath(FullPath(path));
  if (full.size() >= 2 && full[1] == ':') return full.substr(0, 2);
  if (full.rfind("\\\\", 0) == 0) {
    const std::size_t server = full.find('\\', 2);
    if (server == std::string::npos) return full;
    const std::size_t share = full.find('\\', server + 1);
    return share == std::string::npos ? full : full.substr(0, share);
  }
  return "";
}

std::string WindowsDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryA(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return "";
  std::string folder(buffer, length);
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

std::string ComputerName() {
  char buffer[256] = {};
  DWORD size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size)) return "";
  return std::string(buffer, size);
}

std::string ProgramFilePath() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() >= 32768) return "";
    buffer.resize(buffer.size() * 2);
  }
}

std::string CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return "";
  std::string buffer(needed, '\0');
  const DWORD length = GetCurrentDirectoryA(needed, buffer.data());
  if (length == 0 || length >= needed) return "";
  buffer.resize(length);
  // A volume without 8.3 names gives the long path back: one with a blank is quoted, so the
  // command lines it goes into still split right.
  if (buffer.find_first_of(" \t") == std::string::npos) return buffer;
  if (buffer.find('"') != std::string::npos) return "";
  return "\"" + buffer + "\"";
}

std::string ReadWholeFile(const std::string& path) {
  OwnedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) throw MakeError("Cannot open", path, GetLastError());
  // A device is no file: reading the console would wait for typing.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) throw MakeError("Cannot read", path, ERROR_INVALID_FUNCTION);
  std::string content;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
      static_cast<unsigned long long>(size.QuadPart) < content.max_size()) {
    content.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr))
      throw MakeError("Cannot read", path, GetLastError());
    if (got == 0) break;
    content.append(chunk, got);
  }
  return content;
}

void WriteWholeFile(const std::string& path, const std::string& content) {
  OwnedHandle file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) throw MakeError("Cannot create", path, GetLastError());
  WriteAll(file.get(), content.data(), content.size(), path);
  if (!CloseHandle(file.release())) throw MakeError("Cannot write", path, GetLastError());
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
  WriteFileAtomically(path, [&content](const PieceSink& sink) { sink(content); });
}

void WriteFileAtomically(const std::string& path, const std::function<void(const PieceSink&)>& produce) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw MakeError("Cannot replace", path, ERROR_ACCESS_DENIED);
    if (attributes & FILE_ATTRIBUTE_READONLY) throw MakeError("Cannot write", path, ERROR_ACCESS_DENIED);
  }
  const std::string pathFolder = ExtractFilePath(path);
  const std::string folder = pathFolder.empty() ? std::string(1, '.') : pathFolder;
  char temp[MAX_PATH + 1] = {};
  if (GetTempFileNameA(folder.c_str(), kTemporaryPrefix, 0, temp) == 0) {
    throw MakeError("Cannot create a temporary file for", path, GetLastError());
  }
  try {
    {
      OwnedHandle file(
          CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid()) throw MakeError("Cannot open", temp, GetLastError());
      produce([&](std::string_view piece) { WriteAll(file.get(), piece.data(), piece.size(), temp); });
      if (!FlushFileBuffers(file.get())) throw MakeError("Cannot flush", temp, GetLastError());
      if (!CloseHandle(file.release())) throw MakeError("Cannot write", temp, GetLastError());
    }
    if (exists) {
      // ReplaceFile keeps the target's attributes and security settings on Windows; Wine's
      // gives the file the new one's attributes, so they are set again (no harm on Windows).
      if (!ReplaceFileA(path.c_str(), temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        throw MakeError("Cannot replace", path, GetLastError());
      }
      SetFileAttributesA(path.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
    } else if (!MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      throw MakeError("Cannot create", path, GetLastError());
    }
  } catch (...) {
    DeleteFileA(temp);
    throw;
  }
}

int RemoveLeftoverTemporaryFiles(const std::string& folder) {
  std::string base = folder.empty() ? std::string(".\\") : folder;
  if (base.back() != '\\' && base.back() != '/') base += '\\';
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((base + kTemporaryPrefix + "*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FILETIME nowTime{};
  GetSystemTimeAsFileTime(&nowTime);
  const ULONGLONG now = (static_cast<ULONGLONG>(nowTime.dwHighDateTime) << 32) | nowTime.dwLowDateTime;
  int removed = 0;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
    if (!IsTemporaryFileName(found.cFileName)) continue;
    const ULONGLONG written =
        (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
    // The moment between GetTempFileName making the file and the write opening it.
    if (now < written + kTemporaryGraceSeconds * 10000000ULL) continue;
    // A running write has the file open without sharing: the deletion fails then.
    if (DeleteFileA((base + found.cFileName).c_str())) ++removed;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return removed;
}

int RemoveLeftoverStagingFolders(const std::string&) { return 0; }

void SetLinkFreeFolder(const std::string&) {}

std::int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

FileStamp GetFileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return {};
  const std::uint64_t ticks = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
  const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  // 100 ns ticks since 1601-01-01; the stamp counts nanoseconds since 1970-01-01 like the
  // system clock (ticks * 100 alone would overflow).
  constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;
  const std::int64_t since1970 = static_cast<std::int64_t>(ticks - kTicksTo1970);
  return FileStamp{since1970 * 100, static_cast<std::int64_t>(size)};
}

// ---- ExclusiveFile ----

ExclusiveFile::ExclusiveFile(const std::string& path)
    : path_(path), handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
  OwnedHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) throw MakeError("Cannot open", path, GetLastError());
  if (GetFileType(file.get()) != FILE_TYPE_DISK) throw MakeError("Cannot open", path, ERROR_INVALID_FUNCTION);
  handle_ = reinterpret_cast<std::intptr_t>(file.release());
}

ExclusiveFile::~ExclusiveFile() {
  if (IsOpen(handle_)) CloseHandle(Native(handle_));
}

std::int64_t ExclusiveFile::Size() const {
  LARGE_INTEGER size{};
  if (!IsOpen(handle_)) throw MakeError("Cannot read the size of", path_, ERROR_INVALID_HANDLE);
  if (!GetFileSizeEx(Native(handle_), &size))
    throw MakeError("Cannot read the size of", path_, GetLastError());
  return static_cast<std::int64_t>(size.QuadPart);
}

void ExclusiveFile::Seek(std::int64_t offset) {
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  if (!IsOpen(handle_)) throw MakeError("Cannot seek in", path_, ERROR_INVALID_HANDLE);
  if (!SetFilePointerEx(Native(handle_), distance, nullptr, FILE_BEGIN)) {
    throw MakeError("Cannot seek in", path_, GetLastError());
  }
}

void ExclusiveFile::Write(const void* data, std::size_t size) {
  if (!IsOpen(handle_)) throw MakeError("Cannot write", path_, ERROR_INVALID_HANDLE);
  WriteAll(Native(handle_), static_cast<const char*>(data), size, path_);
}

void ExclusiveFile::Flush() {
  if (!IsOpen(handle_)) throw MakeError("Cannot flush", path_, ERROR_INVALID_HANDLE);
  if (!FlushFileBuffers(Native(handle_))) throw MakeError("Cannot flush", path_, GetLastError());
}

void ExclusiveFile::Close() {
  if (!IsOpen(handle_)) return;
  HANDLE handle = Native(handle_);
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
  if (!CloseHandle(handle)) throw MakeError("Cannot close", path_, GetLastError());
}

}  // namespace platform
