#include "platform/posix/mount_info.h"

#include <array>
#include <fstream>
#include <sstream>

namespace platform::posix {
namespace {

std::string DecodeOctalEscapes(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const char a = text[i + 1];
      const char b = text[i + 2];
      const char c = text[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        decoded += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
        i += 3;
        continue;
      }
    }
    decoded += text[i];
  }
  return decoded;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos == line.size()) break;
    const std::size_t end = line.find(' ', pos);
    const std::size_t stop = end == std::string_view::npos ? line.size() : end;
    fields.push_back(line.substr(pos, stop - pos));
    pos = stop;
  }
  return fields;
}

bool ParseDeviceNumbers(std::string_view text, unsigned& major, unsigned& minor) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size()) return false;
  unsigned values[2] = {0, 0};
  const std::string_view parts[2] = {text.substr(0, colon), text.substr(colon + 1)};
  for (int i = 0; i < 2; ++i) {
    if (parts[i].size() > 9) return false;
    for (const char c : parts[i]) {
      if (c < '0' || c > '9') return false;
      values[i] = values[i] * 10 + static_cast<unsigned>(c - '0');
    }
  }
  major = values[0];
  minor = values[1];
  return true;
}

bool ReadFlag(const std::string& path) {
  std::ifstream in(path);
  char first = 0;
  return in.get(first) && first == '1';
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> fields = SplitFields(text.substr(pos, end - pos));
    pos = end + 1;
    // id parent major:minor root mount-point options [optional fields...] - type source options
    if (fields.size() < 9) continue;
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") ++separator;
    if (separator + 2 >= fields.size()) continue;
    MountEntry entry;
    if (!ParseDeviceNumbers(fields[2], entry.major, entry.minor)) continue;
    entry.mountPoint = DecodeOctalEscapes(fields[4]);
    if (entry.mountPoint.empty() || entry.mountPoint.front() != '/') continue;
    entry.fsType = DecodeOctalEscapes(fields[separator + 1]);
    entry.source = DecodeOctalEscapes(fields[separator + 2]);
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

const MountEntry* FindMount(const std::vector<MountEntry>& mounts, const std::string& path) {
  const MountEntry* best = nullptr;
  for (const MountEntry& mount : mounts) {
    const std::string& point = mount.mountPoint;
    bool holds = false;
    if (point == "/") {
      holds = !path.empty() && path.front() == '/';
    } else if (path.compare(0, point.size(), point) == 0) {
      holds = path.size() == point.size() || path[point.size()] == '/';
    }
    if (holds && (best == nullptr || point.size() >= best->mountPoint.size())) best = &mount;
  }
  return best;
}

DriveType ClassifyMount(const MountEntry& mount, const std::string& sysRoot) {
  static constexpr std::array<std::string_view, 2> kCdRom = {"iso9660", "udf"};
  static constexpr std::array<std::string_view, 7> kRemote = {"nfs",   "nfs4",  "cifs",      "smb3",
                                                              "smbfs", "sshfs", "fuse.sshfs"};
  static constexpr std::array<std::string_view, 2> kRamDisk = {"tmpfs", "ramfs"};
  for (const std::string_view type : kCdRom) {
    if (mount.fsType == type) return DriveType::CdRom;
  }
  for (const std::string_view type : kRemote) {
    if (mount.fsType == type) return DriveType::Remote;
  }
  for (const std::string_view type : kRamDisk) {
    if (mount.fsType == type) return DriveType::RamDisk;
  }
  if (mount.major != 0) {
    std::ostringstream device;
    device << sysRoot << "/dev/block/" << mount.major << ':' << mount.minor;
    const std::string folder = device.str();
    // A partition's removable flag sits on its disk, one folder up.
    const bool partition = std::ifstream(folder + "/partition").good();
    if (ReadFlag(folder + (partition ? "/../removable" : "/removable"))) return DriveType::Removable;
  }
  return DriveType::Fixed;
}

}  // namespace platform::posix
