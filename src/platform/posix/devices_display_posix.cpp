// The sysfs device enumeration: Monitors, from the EDID of each connected connector.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/posix/sysfs_devices.h"

namespace platform::devices::sysfs {

void Enumerator::EnumerateDisplays() {
  const auto dir = root_ / "class" / "drm";
  std::uint32_t index = 0;
  for (const auto& name : ListNames(dir)) {
    if (!StartsWith(name, "card") || name.find('-') == std::string::npos) continue;  // connectors only
    const auto connector = Resolve(dir / name);
    if (connector.empty()) continue;
    const auto edid = ReadFileLimited(connector / "edid", kMaxEdidBytes);
    if (!edid || edid->size() < 128) continue;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>((*edid)[i]); };
    static const unsigned char kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (!std::equal(kHeader, kHeader + 8, edid->begin(),
                    [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); })) {
      continue;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < 128; ++i) sum += byte(i);
    if ((sum & 0xFFu) != 0) continue;
    const unsigned maker = (static_cast<unsigned>(byte(8)) << 8) | byte(9);
    std::string pnpId;
    for (const int shift : {10, 5, 0}) {
      const unsigned letter = (maker >> shift) & 0x1Fu;
      if (letter < 1 || letter > 26) break;
      pnpId.push_back(static_cast<char>('A' + letter - 1));
    }
    if (pnpId.size() != 3) continue;
    const unsigned productCode = byte(10) | (static_cast<unsigned>(byte(11)) << 8);
    // The monitor name descriptor (tag 0xFC), if the monitor has one.
    std::string monitorName;
    for (std::size_t offset = 54; offset <= 108; offset += 18) {
      if (byte(offset) != 0 || byte(offset + 1) != 0 || byte(offset + 3) != 0xFC) continue;
      for (std::size_t i = offset + 5; i < offset + 18 && byte(i) != 0x0A; ++i) {
        if (byte(i) >= 0x20 && byte(i) < 0x7F) monitorName.push_back(static_cast<char>(byte(i)));
      }
      monitorName = std::string(TrimView(monitorName));
    }
    const auto uid = ReadDec(connector, "connector_id", 0xFFFFFF).value_or(index);
    ++index;
    DeviceInfo info;
    info.instanceId = "DISPLAY\\" + pnpId + Hex(productCode, 4) + "\\" +
                      GeneratedInstance(5, Below(connector.parent_path()), "UID" + std::to_string(uid));
    info.className = "Monitor";
    info.description = monitorName.empty() ? "Generic PnP Monitor" : monitorName;
    Add(std::move(info), {});
  }
}

}  // namespace platform::devices::sysfs
