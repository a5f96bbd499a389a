// Files, folders and facts about the system, as the program sees them on every target.
// Paths are 8-bit text (UTF-8 on Linux, the ANSI code page on Windows). The core builds
// Windows-style paths with backslashes; on Linux every function here accepts both
// separators and treats a backslash as a folder separator, and functions that look up an
// existing entry ignore blanks and dots at the end of a path that does not exist as
// spelled, as Windows does ("a.7z " finds "a.7z").
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The path separator of the target ('\\' on Windows, '/' on Linux).
char PathSeparator();
// True when the target's paths name the same entry whatever their letter case (Windows),
// false when letter case tells entries apart (Linux).
bool PathsIgnoreCase();
// Replaces both '\\' and '/' by the target's separator.
std::string NativePath(const std::string& path);
// Folder part of a path including its trailing separator ("" when there is none).
std::string ExtractFilePath(const std::string& path);
// Name part of a path (after the last separator of either kind).
std::string ExtractFileName(const std::string& path);

bool FileExists(const std::string& path);       // an existing entry that is not a folder
bool DirectoryExists(const std::string& path);  // an existing folder

// Creates one folder level. Returns 0 on success, 183 when it already exists
// (the Windows code ERROR_ALREADY_EXISTS), otherwise the system's error code.
std::uint32_t CreateDirectory(const std::string& path);
// Creates the folder and any missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

bool DeleteFile(const std::string& path);
// A readable message for a system error code ("No such file or directory (2)").
std::string SystemErrorMessage(std::uint32_t code);
std::uint32_t LastSystemError();

struct DirEntry {
  std::string name;   // without folder
  bool isDirectory = false;
  bool directoryOnly = false;  // attributes are exactly "directory" and nothing else
  bool hidden = false;
  bool system = false;
};
// Entries of a folder whose names match a wildcard pattern ("*.7z"), letter case ignored,
// in the order the file system returns them. "." and ".." are never listed.
std::vector<DirEntry> ListDirectory(const std::string& folder, const std::string& pattern);

// Short (8.3) form of an existing path; on Linux the path itself. A result that still holds a
// blank (always on Linux, on Windows on a volume without 8.3 names) is wrapped in double quotes,
// so it is one word of a command line. Empty text when the call fails.
std::string ShortPathName(const std::string& path);

// Drive types with the Windows codes.
enum class DriveType : int { Unknown = 0, NoRootDir = 1, Removable = 2, Fixed = 3, Remote = 4, CdRom = 5, RamDisk = 6 };
// Type of the drive (Linux: the mount) that holds the path.
// On Linux VELMORA_DRIVE_TYPE (a number 0..6) overrides it, for tests and odd mounts.
DriveType GetDriveType(const std::string& path);
// The drive of a path as Windows writes it ("C:"); on Linux the mount point holding the path.
std::string DriveOfPath(const std::string& path);

// The Windows folder without trailing separator. Linux: VELMORA_WINDIR when set, otherwise
// $XDG_DATA_HOME/velmora (default ~/.local/share/velmora), created when missing.
std::string WindowsDirectory();
// The computer's network name; empty text on failure.
std::string ComputerName();
// Full path of the running program file.
std::string ProgramFilePath();
std::string CurrentDirectory();

// Whole-file helpers. ReadTextLines splits at CR LF, LF or CR; a final line break adds no line.
// Both throw platform::FileError on failure; they read regular files only.
std::vector<std::string> ReadTextLines(const std::string& path);
std::string ReadWholeFile(const std::string& path);
// Writes lines each ended by CR LF, replacing the file.
void WriteTextLines(const std::string& path, const std::vector<std::string>& lines);
void WriteWholeFile(const std::string& path, const std::string& content);
// Writes to a temporary file beside the target, flushes it to the disk, then renames it over the
// target (and on Linux flushes the folder too): whenever the program is killed, the file holds
// either its old or its new content, and a failing write leaves the old content.
void WriteFileAtomically(const std::string& path, const std::string& content);
// The same for content made piece by piece: `produce` hands each piece, in order, to the sink it
// is given, so content too large to be held whole is written as it is made. An exception from
// `produce` leaves the old content, as a failing write does.
using PieceSink = std::function<void(std::string_view piece)>;
void WriteFileAtomically(const std::string& path, const std::function<void(const PieceSink&)>& produce);
// WriteTextLines through WriteFileAtomically.
void WriteTextLinesAtomically(const std::string& path, const std::vector<std::string>& lines);
// The folder whose files are all the program's own (the working folder): a symbolic link found
// in place of a file there is never written through. WriteWholeFile, WriteTextLines and the
// atomic writes replace the link itself with the file, and what it points to stays as it was.
// Elsewhere a link is written through, so a configuration file may be shared by a link. An empty
// text ends the rule. Windows: symbolic links need rights the program never has; nothing changes.
void SetLinkFreeFolder(const std::string& folder);

// Removes from `folder` the temporary files of atomic writes that were killed before their rename
// (".<name>.tmp-XXXXXX" on Linux, "velXXXX.tmp" on Windows). A write still running, in this
// program or in another copy of it, keeps its file: on Linux it holds a lock on it, on Windows it
// has it open without sharing, and a file younger than a few seconds is always left alone.
// Returns how many files were removed; an unreadable folder removes nothing.
int RemoveLeftoverTemporaryFiles(const std::string& folder);
// The private folder the Linux archive tool extracts into before it moves the items into the
// output folder: ".velmora-7z-" followed by six letters or digits (mkdtemp's). Nothing below such a
// folder is a driver: the index and the installer pass it by.
inline bool IsArchiveStagingName(std::string_view name) {
  constexpr std::string_view kMark = ".velmora-7z-";
  constexpr std::size_t kRandom = 6;
  if (name.size() != kMark.size() + kRandom || name.substr(0, kMark.size()) != kMark) return false;
  for (const char c : name.substr(kMark.size())) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}
// Removes from `folder` the staging folders (IsArchiveStagingName) of archive tool runs that were
// killed, with everything in them; links inside are removed, never followed. A run still going
// holds a lock on its folder and keeps it, and a folder younger than a few seconds is always left
// alone. Returns how many folders were removed; an unreadable folder removes nothing. On Windows
// the real archiver makes no such folders and nothing is removed.
int RemoveLeftoverStagingFolders(const std::string& folder);

// Size in bytes of a file; -1 for a folder, a device or a pipe, and when it cannot be read.
std::int64_t FileSize(const std::string& path);
// Modification stamp (nanoseconds since 1970-01-01, like the system clock) and size, used to
// notice that a file changed.
struct FileStamp {
  std::int64_t mtime = -1;
  std::int64_t size = -1;
  bool operator==(const FileStamp&) const = default;
};
FileStamp GetFileStamp(const std::string& path);

// An error of a file operation, carrying the system's code and a readable message.
class FileError : public std::exception {
 public:
  FileError(std::string message, std::uint32_t code = 0) : message_(std::move(message)), code_(code) {}
  const char* what() const noexcept override { return message_.c_str(); }
  std::uint32_t code() const { return code_; }

 private:
  std::string message_;
  std::uint32_t code_;
};

// A file opened for reading and writing with no other opener allowed: Windows opens it
// without sharing; Linux takes exclusive locks (flock and an open-file-description lock)
// without waiting, so a file another process holds locked is refused. Only regular files
// are opened, and on Linux a symbolic link is not followed. Every failure throws FileError.
class ExclusiveFile {
 public:
  explicit ExclusiveFile(const std::string& path);
  ~ExclusiveFile();
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  std::int64_t Size() const;
  void Seek(std::int64_t offset);
  void Write(const void* data, std::size_t size);  // all of it, or FileError
  void Flush();                                    // to the disk
  void Close();                                    // releases the file; errors throw

 private:
  std::string path_;
  std::intptr_t handle_;
};

}  // namespace platform
