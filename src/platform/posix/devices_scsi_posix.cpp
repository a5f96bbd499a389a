// The sysfs device enumeration: SCSI devices (disks, optical drives and the like) from their
// inquiry data.
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

std::string ScsiTypeName(std::uint32_t type) {
  switch (type) {
    case 0x00:
      return "Disk";
    case 0x01:
      return "Sequential";
    case 0x02:
      return "Printer";
    case 0x03:
      return "Processor";
    case 0x04:
      return "Worm";
    case 0x05:
      return "CdRom";
    case 0x06:
      return "Scanner";
    case 0x07:
      return "Optical";
    case 0x08:
      return "Changer";
    case 0x09:
      return "Net";
    case 0x0C:
      return "Array";
    case 0x0D:
      return "Enclosure";
    case 0x0E:
      return "RBC";
    default:
      return "Other";
  }
}

std::string ScsiClass(std::uint32_t type) {
  switch (type) {
    case 0x00:
    case 0x0E:
      return "DiskDrive";
    case 0x05:
      return "CDROM";
    case 0x01:
      return "TapeDrive";
    case 0x08:
      return "MediumChanger";
    case 0x02:
      return "Printer";
    case 0x06:
      return "Image";
    default:
      return "System";
  }
}

// Trailing blanks off, at most `width` characters.
std::string InquiryField(std::string_view text, std::size_t width) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\0'))
    text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return std::string(text.substr(0, width));
}

}  // namespace

void Enumerator::EnumerateScsi() {
  const auto dir = root_ / "bus" / "scsi" / "devices";
  for (const auto& name : ListNames(dir)) {
    // "host:channel:target:lun"
    std::vector<std::uint32_t> address;
    std::string_view rest = name;
    bool valid = true;
    while (valid && address.size() < 4) {
      const auto colon = rest.find(':');
      const auto value = ParseDec(rest.substr(0, colon), 0xFFFFFF);
      valid = value.has_value();
      if (valid) address.push_back(*value);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
    if (!valid || address.size() != 4) continue;
    const auto device = Resolve(dir / name);
    if (device.empty()) continue;
    const auto type = ReadDec(device, "type", 0x1F);
    const auto rawVendor = ReadFileLimited(device / "vendor", kMaxAttributeBytes);
    const auto rawModel = ReadFileLimited(device / "model", kMaxAttributeBytes);
    if (!type || !rawVendor || !rawModel) continue;
    std::string vendor = InquiryField(*rawVendor, 8);
    std::string model = InquiryField(*rawModel, 16);
    const std::string revision =
        InquiryField(ReadFileLimited(device / "rev", kMaxAttributeBytes).value_or(""), 4);
    if (vendor == "ATA") {
      // ATA disks carry no vendor field; the first word of the model stands in for it.
      const std::string fullModel = InquiryField(*rawModel, 40);
      const auto blank = fullModel.find(' ');
      if (blank == std::string::npos) {
        vendor.clear();
        model = fullModel.substr(0, 16);
      } else {
        vendor = fullModel.substr(0, std::min<std::size_t>(blank, 8));
        model = InquiryField(std::string_view(fullModel).substr(blank + 1), 16);
      }
    }
    if (model.empty()) continue;
    DeviceInfo info;
    info.instanceId = "SCSI\\" + ScsiTypeName(*type) + "&Ven_" + SanitizeIdPart(vendor) + "&Prod_" +
                      SanitizeIdPart(model) + "&Rev_" + SanitizeIdPart(revision) + "\\" +
                      GeneratedInstance(4, Below(device.parent_path()),
                                        Hex(address[1] & 0xFFu, 2) + Hex(address[2] & 0xFFu, 2) +
                                            Hex(address[3] & 0xFFu, 2));
    info.className = ScsiClass(*type);
    std::string label = vendor.empty() ? model : vendor + " " + model;
    info.description = label + (*type == 0x05 ? " SCSI CdRom Device" : " SCSI Disk Device");
    if (*type != 0x00 && *type != 0x05 && *type != 0x0E) info.description = label + " SCSI Device";
    Add(std::move(info), device);
  }
}

}  // namespace platform::devices::sysfs
