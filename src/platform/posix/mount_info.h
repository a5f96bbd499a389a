// The mount table of Linux (/proc/self/mountinfo) and the Windows drive type a mount stands
// for. Kept apart from the system calls so the rules can be tried on sample tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace platform::posix {

struct MountEntry {
  std::string mountPoint;  // octal escapes ("\040") decoded
  std::string fsType;      // "ext4", "fuse.sshfs"
  std::string source;      // "/dev/sda1", "server:/export"
  unsigned major = 0;      // device numbers of the mounted file system
  unsigned minor = 0;
};

// Entries of a mountinfo text in file order; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The mount that holds an absolute, resolved path: the longest mount point that is the path
// itself or one of its parent folders; among equal mount points the later one (mounted on
// top). Null when none matches.
const MountEntry* FindMount(const std::vector<MountEntry>& mounts, const std::string& path);

// iso9660, udf: CdRom; nfs, nfs4, cifs, smb3, smbfs, sshfs, fuse.sshfs: Remote;
// tmpfs, ramfs: RamDisk; a block device whose disk is marked removable in sysfs
// (<sysRoot>/dev/block/<major>:<minor>): Removable; anything else: Fixed.
DriveType ClassifyMount(const MountEntry& mount, const std::string& sysRoot);

}  // namespace platform::posix
