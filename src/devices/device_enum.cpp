#include "devices/device_enum.h"

#include <algorithm>
#include <fstream>

#include "base/text_util.h"
#include "devices/hwid_rules.h"

namespace {

constexpr std::size_t kMaxDatabaseBytes = 64u * 1024u * 1024u;

// Exactly `digits` hexadecimal digits.
bool ParseHexField(std::string_view text, std::size_t digits, std::uint32_t& value) {
  if (text.size() < digits) return false;
  value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = text[i];
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * 16u + digit;
  }
  return true;
}

// The name after the number: the rest of the line without its leading blanks.
std::string NameAfter(std::string_view line, std::size_t pos) {
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  std::string_view name = line.substr(std::min(pos, line.size()));
  while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.remove_suffix(1);
  return std::string(name);
}

// A line break or other control character in a name would break the listing's lines
// (USB devices name themselves), so each becomes a blank.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

std::string PadRight(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string CountLine(std::size_t count) { return std::to_string(count) + " matching device(s) found."; }

const char* const kNoMatch = "No matching devices found.";

}  // namespace

IdDatabase IdDatabase::Load(const std::string& path, const std::unordered_set<std::uint16_t>* vendors) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  // Read in pieces up to the limit, so a small file costs no large buffer.
  std::string text;
  std::size_t got = 0;
  while (got < kMaxDatabaseBytes) {
    text.resize(std::min(kMaxDatabaseBytes, std::max<std::size_t>(got * 2, 1u << 20)));
    in.read(text.data() + got, static_cast<std::streamsize>(text.size() - got));
    if (in.bad()) return {};
    got += static_cast<std::size_t>(in.gcount());
    if (!in) break;
  }
  text.resize(got);
  return Parse(text, vendors);
}

IdDatabase IdDatabase::Parse(std::string_view text, const std::unordered_set<std::uint16_t>* vendors) {
  IdDatabase db;
  enum class Section { None, Vendors, Classes, Other } section = Section::None;
  std::uint32_t vendor = 0;
  std::uint32_t device = 0;
  std::uint32_t baseClass = 0;
  bool haveVendor = false;
  bool haveDevice = false;
  bool haveClass = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line[0] == '#') continue;
    std::uint32_t value = 0;
    if (line[0] != '\t') {
      haveVendor = haveDevice = haveClass = false;
      if (ParseHexField(line, 4, value) && line.size() > 4 && (line[4] == ' ' || line[4] == '\t')) {
        section = Section::Vendors;
        vendor = value;
        // A vendor left out takes its device and subsystem lines with it.
        haveVendor = vendors == nullptr || vendors->count(static_cast<std::uint16_t>(vendor)) != 0;
        if (haveVendor) db.vendors_[vendor] = NameAfter(line, 4);
      } else if (line.size() > 2 && line[0] == 'C' && line[1] == ' ' &&
                 ParseHexField(line.substr(2), 2, value)) {
        section = Section::Classes;
        baseClass = value;
        haveClass = true;
        db.classes_[(baseClass << 8) | 0xFFu] = NameAfter(line, 4);
      } else {
        section = Section::Other;  // other lists of usb.ids (languages, HID usages, ...)
      }
      continue;
    }
    const bool second = line.size() > 1 && line[1] == '\t';
    if (section == Section::Vendors && haveVendor) {
      if (!second && ParseHexField(line.substr(1), 4, value)) {
        device = value;
        haveDevice = true;
        db.devices_[(vendor << 16) | device] = NameAfter(line, 5);
      } else if (second && haveDevice) {
        std::uint32_t subVendor = 0;
        std::uint32_t subDevice = 0;
        if (ParseHexField(line.substr(2), 4, subVendor) && line.size() > 7 &&
            ParseHexField(line.substr(7), 4, subDevice)) {
          const std::uint64_t key = (static_cast<std::uint64_t>(vendor) << 48) |
                                    (static_cast<std::uint64_t>(device) << 32) | (subVendor << 16) |
                                    subDevice;
          db.subsystems_[key] = NameAfter(line, 11);
        }
      }
    } else if (section == Section::Classes && haveClass && !second &&
               ParseHexField(line.substr(1), 2, value)) {
      db.classes_[(baseClass << 8) | value] = NameAfter(line, 3);
    }
  }
  return db;
}

std::string IdDatabase::VendorName(std::uint16_t vendor) const {
  const auto it = vendors_.find(vendor);
  return it == vendors_.end() ? std::string() : it->second;
}

std::string IdDatabase::DeviceName(std::uint16_t vendor, std::uint16_t device) const {
  const auto it = devices_.find((static_cast<std::uint32_t>(vendor) << 16) | device);
  return it == devices_.end() ? std::string() : it->second;
}

std::string IdDatabase::SubsystemName(std::uint16_t vendor, std::uint16_t device, std::uint16_t subVendor,
                                      std::uint16_t subDevice) const {
  const std::uint64_t key = (static_cast<std::uint64_t>(vendor) << 48) |
                            (static_cast<std::uint64_t>(device) << 32) |
                            (static_cast<std::uint64_t>(subVendor) << 16) | subDevice;
  const auto it = subsystems_.find(key);
  return it == subsystems_.end() ? std::string() : it->second;
}

std::string IdDatabase::ClassName(std::uint8_t baseClass, std::uint8_t subClass) const {
  auto it = classes_.find((static_cast<std::uint32_t>(baseClass) << 8) | subClass);
  if (it == classes_.end()) it = classes_.find((static_cast<std::uint32_t>(baseClass) << 8) | 0xFFu);
  return it == classes_.end() ? std::string() : it->second;
}

std::string DeviceName(const platform::devices::DeviceInfo& device, const IdDatabase& pciIds,
                       const IdDatabase& usbIds) {
  using IdBus = platform::devices::DeviceInfo::IdBus;
  if (device.idBus != IdBus::None) {
    const IdDatabase& db = device.idBus == IdBus::Pci ? pciIds : usbIds;
    const std::string vendor = db.VendorName(device.vendorId);
    const std::string product = db.DeviceName(device.vendorId, device.deviceId);
    if (!vendor.empty() && !product.empty()) return vendor + " " + product;
  }
  if (!device.description.empty()) return device.description;
  if (device.idBus == IdBus::Pci) {
    const std::string kind = pciIds.ClassName(static_cast<std::uint8_t>(device.classCode >> 16),
                                              static_cast<std::uint8_t>(device.classCode >> 8));
    const std::string vendor = pciIds.VendorName(device.vendorId);
    if (!kind.empty()) return vendor.empty() ? kind : vendor + " " + kind;
    return "PCI Device";
  }
  if (device.idBus == IdBus::Usb) return "USB Device";
  return "Unknown Device";
}

std::vector<DeviceRecord> DescribeDevices(const std::vector<platform::devices::DeviceInfo>& devices,
                                          const IdDatabase& pciIds, const IdDatabase& usbIds) {
  std::vector<DeviceRecord> records;
  records.reserve(devices.size());
  for (const auto& device : devices) {
    DeviceRecord record;
    record.instanceId = OneLine(device.instanceId);
    record.className = OneLine(device.className);
    record.name = OneLine(DeviceName(device, pciIds, usbIds));
    record.driver = OneLine(device.driver);
    record.driverSource = OneLine(device.driverSource);
    for (const auto& file : device.driverFiles) record.driverFiles.push_back(OneLine(file));
    records.push_back(std::move(record));
  }
  return records;
}

bool MatchesDevicePattern(const std::string& instanceId, std::string_view pattern) {
  if (pattern.empty()) return false;
  bool instanceOnly = false;
  if (pattern.front() == '@') {
    instanceOnly = true;
    pattern.remove_prefix(1);
  }
  if (!pattern.empty() && pattern.front() == '\'') {
    pattern.remove_prefix(1);
    if (EqualNoCase(instanceId, pattern)) return true;
    if (instanceOnly) return false;
    for (const std::uint8_t level : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3}}) {
      if (EqualNoCase(DecreaseHWID(instanceId, level), pattern)) return true;
    }
    return false;
  }
  if (WildcardMatch(instanceId, pattern, false)) return true;
  if (instanceOnly) return false;
  for (const std::uint8_t level : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3}}) {
    if (WildcardMatch(DecreaseHWID(instanceId, level), pattern, false)) return true;
  }
  return false;
}

std::vector<const DeviceRecord*> SelectDevices(const std::vector<DeviceRecord>& devices,
                                               const std::string& className,
                                               const std::vector<std::string>& patterns) {
  std::vector<const DeviceRecord*> selected;
  for (const auto& device : devices) {
    if (!className.empty() && !EqualNoCase(device.className, className)) continue;
    const bool matches =
        patterns.empty() || std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
          return MatchesDevicePattern(device.instanceId, pattern);
        });
    if (matches) selected.push_back(&device);
  }
  return selected;
}

std::vector<std::string> FindListing(const std::vector<const DeviceRecord*>& devices) {
  if (devices.empty()) return {kNoMatch};
  std::vector<std::string> lines;
  for (const auto* device : devices) lines.push_back(PadRight(device->instanceId, 60) + ": " + device->name);
  lines.push_back(CountLine(devices.size()));
  return lines;
}

std::vector<std::string> DriverFilesListing(const std::vector<const DeviceRecord*>& devices) {
  if (devices.empty()) return {kNoMatch};
  std::vector<std::string> lines;
  for (const auto* device : devices) {
    lines.push_back(device->instanceId);
    lines.push_back("    Name: " + device->name);
    if (device->driver.empty()) {
      lines.push_back("    No driver information available for the device.");
      continue;
    }
    lines.push_back("    Driver installed from " + device->driverSource + " [" + device->driver + "]. " +
                    std::to_string(device->driverFiles.size()) + " file(s) used by driver:");
    for (const auto& file : device->driverFiles) lines.push_back("        " + file);
  }
  lines.push_back(CountLine(devices.size()));
  return lines;
}
