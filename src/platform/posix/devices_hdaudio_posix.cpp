// The sysfs device enumeration: HD Audio codec functions.
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

namespace {

// "hdaudioC0D2" or "hwC0D2": the codec address after the "D".
std::optional<std::uint32_t> CodecAddress(const std::string& name, std::string_view prefix) {
  if (!StartsWith(name, prefix)) return std::nullopt;
  const auto d = name.find('D', prefix.size());
  if (d == std::string::npos || d == prefix.size()) return std::nullopt;
  if (!ParseDec(std::string_view(name).substr(prefix.size(), d - prefix.size()), 255)) return std::nullopt;
  return ParseDec(std::string_view(name).substr(d + 1), 15);
}

}  // namespace

void Enumerator::EnumerateHdAudio() {
  fs::path dir = root_ / "bus" / "hdaudio" / "devices";
  std::string_view prefix = "hdaudioC";
  if (!IsDirectory(dir)) {
    dir = root_ / "class" / "sound";
    prefix = "hwC";
  }
  for (const auto& name : ListNames(dir)) {
    const auto address = CodecAddress(name, prefix);
    if (!address) continue;
    const auto codec = Resolve(dir / name);
    if (codec.empty()) continue;
    const auto vendorId = ReadHex(codec, "vendor_id", 0xFFFFFFFF);
    const auto subsystemId = ReadHex(codec, "subsystem_id", 0xFFFFFFFF);
    const auto revisionId = ReadHex(codec, "revision_id", 0xFFFFFFFF);
    if (!vendorId || !subsystemId || !revisionId || *vendorId == 0) continue;
    const auto afg = ReadHex(codec, "afg", 0xFF).value_or(0);
    const auto mfg = ReadHex(codec, "mfg", 0xFF).value_or(0);
    const std::string vendorName = ReadAttr(codec, "vendor_name").value_or("");
    const std::string chipName = ReadAttr(codec, "chip_name").value_or("");
    const std::string chip = vendorName.empty() ? chipName
                             : chipName.empty() ? vendorName
                                                : vendorName + " " + chipName;
    for (const auto& [function, node] : {std::pair<std::uint32_t, std::uint32_t>{1, afg}, {2, mfg}}) {
      if (node == 0) continue;
      DeviceInfo info;
      info.instanceId = "HDAUDIO\\FUNC_" + Hex(function, 2) + "&VEN_" + Hex(*vendorId >> 16, 4) + "&DEV_" +
                        Hex(*vendorId & 0xFFFFu, 4) + "&SUBSYS_" + Hex(*subsystemId, 8) + "&REV_" +
                        Hex((*revisionId >> 8) & 0xFFFFu, 4) + "\\" +
                        GeneratedInstance(4, Below(codec.parent_path()), Hex(*address, 2) + Hex(node, 2));
      // The hardware IDs: the instance's device part, then without its revision (as the
      // hardware-ID list Windows shows for a codec function; its INF files name the second).
      const std::string withoutRevision = "HDAUDIO\\FUNC_" + Hex(function, 2) + "&VEN_" + Hex(*vendorId >> 16, 4) +
                                          "&DEV_" + Hex(*vendorId & 0xFFFFu, 4) + "&SUBSYS_" + Hex(*subsystemId, 8);
      info.hardwareIds = {withoutRevision + "&REV_" + Hex((*revisionId >> 8) & 0xFFFFu, 4), withoutRevision};
      info.className = function == 1 ? "Media" : "Modem";
      const std::string generic =
          function == 1 ? "High Definition Audio Device" : "High Definition Audio Modem";
      info.description = chip.empty() ? generic : generic + " (" + chip + ")";
      Add(std::move(info), codec);
    }
  }
}

}  // namespace platform::devices::sysfs
