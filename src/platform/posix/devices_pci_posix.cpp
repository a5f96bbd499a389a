// The sysfs device enumeration: PCI devices: vendor, device, subsystem and revision from the
// configuration space, the setup class from the class code.
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

std::string PciClass(std::uint32_t code) {
  const auto base = (code >> 16) & 0xFFu;
  const auto sub = (code >> 8) & 0xFFu;
  switch (base) {
    case 0x00:
      return sub == 0x01 ? "Display" : "System";
    case 0x01:
      if (sub == 0x01 || sub == 0x05) return "HDC";
      if (sub == 0x06) return (code & 0xFFu) == 0x01 ? "HDC" : "SCSIAdapter";
      return "SCSIAdapter";
    case 0x02:
      return "Net";
    case 0x03:
      return "Display";
    case 0x04:
      return sub == 0x03 ? "System" : "Media";
    case 0x07:
      if (sub == 0x00 || sub == 0x01) return "Ports";
      if (sub == 0x03) return "Modem";
      return "System";
    case 0x08:
      return sub == 0x05 ? "SDHost" : "System";
    case 0x09:
      if (sub == 0x00) return "Keyboard";
      if (sub == 0x02) return "Mouse";
      return "HIDClass";
    case 0x0C:
      if (sub == 0x00) return "1394";
      if (sub == 0x03) return "USB";
      return "System";
    case 0x0D:
      return sub == 0x11 ? "Bluetooth" : "Net";
    default:
      return "System";
  }
}

// Windows numbers the levels of generated instances from 3 for the root bus's devices.
int PciLevel(const fs::path& resolved) {
  int bridges = 0;
  for (const auto& part : resolved.parent_path()) {
    if (IsPciAddress(part.string())) ++bridges;
  }
  return 3 + bridges;
}

}  // namespace

void Enumerator::EnumeratePci() {
  const auto dir = root_ / "bus" / "pci" / "devices";
  for (const auto& name : ListNames(dir)) {
    if (!IsPciAddress(name)) continue;
    const auto device = Resolve(dir / name);
    if (device.empty()) continue;
    const auto vendor = ReadHex(device, "vendor", 0xFFFF);
    const auto id = ReadHex(device, "device", 0xFFFF);
    const auto revision = ReadHex(device, "revision", 0xFF);
    const auto classCode = ReadHex(device, "class", 0xFFFFFF);
    if (!vendor || !id || !revision || !classCode || *vendor == 0xFFFF) continue;
    const auto subVendor = ReadHex(device, "subsystem_vendor", 0xFFFF).value_or(0);
    const auto subDevice = ReadHex(device, "subsystem_device", 0xFFFF).value_or(0);
    const auto slot = ParseHex(name.substr(8, 2), 0x1F);
    const auto function = ParseHex(name.substr(11, 1), 0x7);
    if (!slot || !function) continue;

    DeviceInfo info;
    info.instanceId =
        "PCI\\VEN_" + Hex(*vendor, 4) + "&DEV_" + Hex(*id, 4) + "&SUBSYS_" + Hex(subDevice, 4) +
        Hex(subVendor, 4) + "&REV_" + Hex(*revision, 2) + "\\" +
        GeneratedInstance(PciLevel(device), Below(device.parent_path()), Hex((*slot << 3) | *function, 2));
    // Microsoft, "Identifiers for PCI devices" (learn.microsoft.com/windows-hardware/drivers/install/
    // identifiers-for-pci-devices): the hardware IDs, most specific first.
    const std::string venDev = "PCI\\VEN_" + Hex(*vendor, 4) + "&DEV_" + Hex(*id, 4);
    const std::string subsys = "&SUBSYS_" + Hex(subDevice, 4) + Hex(subVendor, 4);
    info.hardwareIds = {venDev + subsys + "&REV_" + Hex(*revision, 2), venDev + subsys,
                        venDev + "&CC_" + Hex(*classCode, 6), venDev + "&CC_" + Hex(*classCode >> 8, 4)};
    info.className = PciClass(*classCode);
    info.idBus = DeviceInfo::IdBus::Pci;
    info.vendorId = static_cast<std::uint16_t>(*vendor);
    info.deviceId = static_cast<std::uint16_t>(*id);
    info.subVendorId = static_cast<std::uint16_t>(subVendor);
    info.subDeviceId = static_cast<std::uint16_t>(subDevice);
    info.classCode = *classCode;
    Add(std::move(info), device);
  }
}

}  // namespace platform::devices::sysfs
