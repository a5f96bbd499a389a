// An offline Windows installation seen from Linux: its Windows folder on a mounted volume, with the
// registry hives in System32/config. The installer stand-in places driver packages on that volume
// and registers them in the offline SOFTWARE hive (through libhivex) so that Windows installs them
// at its next start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dpinst::offline {

namespace fs = std::filesystem;

// The first block of a hive file ("regf", the two sequence numbers, the header checksum).
struct HiveHeader {
  bool readable = false;   // the first 512 bytes could be read
  bool signature = false;  // starts with "regf"
  std::uint32_t primarySequence = 0;
  std::uint32_t secondarySequence = 0;
  bool checksumOk = false;  // XOR of the first 127 double words matches the one stored after them
  bool Clean() const { return primarySequence == secondarySequence; }
};
HiveHeader ReadHiveHeader(const fs::path& file);

// The entry of `folder` whose name matches `name` without regard to case (as NTFS sees names),
// or `folder / name` when there is none.
fs::path FindNoCase(const fs::path& folder, const std::string& name);

struct Installation {
  fs::path windows;   // the Windows folder
  fs::path volume;    // the folder above it: what Windows calls %SystemDrive%
  fs::path software;  // System32/config/SOFTWARE
  fs::path system;    // System32/config/SYSTEM
};
// The installation in `windows`, or nothing with the reason when the folder is not one.
std::optional<Installation> FindInstallation(const fs::path& windows, std::string& whyNot);

// The folders below `root` that directly hold an INF file (the driver packages), in name order.
// Left out: staging folders ".velmora-7z-*", a folder "Index" directly in a working folder
// "dp_tavi", and everything of `windows` other than its working folder, and `skip`.
std::vector<fs::path> FindPackages(const fs::path& root, const fs::path& windows, const fs::path& skip);

// `list` (entries separated by ";") with each of `entries` appended unless it is there already
// (compared without regard to case or a trailing backslash). Existing entries stay as they are.
std::string AddToPathList(const std::string& list, const std::vector<std::string>& entries,
                          std::vector<std::string>& added);

// The Windows version as the SOFTWARE hive records it (Microsoft\Windows NT\CurrentVersion).
struct WindowsVersion {
  std::string currentVersion;  // "5.1", "6.1", "6.3" (also on Windows 10 and 11)
  std::string buildNumber;     // "2600", "7601", "19045"
};

// The first-start commands for packages whose INF files are `infs` (Windows paths) under the
// Windows folder `root`: the name of each RunOnce value and its command. Empty when this Windows
// has no pnputil (before Vista) or its version is unknown.
struct Command {
  std::string name;
  std::string command;
};
std::vector<Command> FirstStartCommands(const WindowsVersion& version, const std::string& root,
                                        const std::vector<std::string>& infs, std::string& form);

// UTF-8 text as a registry string: UTF-16LE with its terminating zero.
std::string RegistryString(const std::string& utf8);

// Does the whole job for the driver folder `from`; appends its log lines. Exit status: 0 done (or
// nothing to do), 3 refused or failed with nothing changed.
int Install(const Installation& installation, const fs::path& from, std::vector<std::string>& log);

}  // namespace dpinst::offline
