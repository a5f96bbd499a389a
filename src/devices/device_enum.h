// The machine's devices as the device console reports them: instance identifier, setup
// class, name, driver and driver files, and the console's "find" and "driverfiles"
// listings built from them. Names come from the system or from the PCI and USB ID
// databases (the text files pci.ids and usb.ids).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/devices.h"

// Vendor, device and class names of one ID database file (pci.ids or usb.ids format:
// "vvvv  Vendor" lines, tab-indented "dddd  Device" lines under them, tab-tab-indented
// subsystem lines, and "C cc  Class" sections with tab-indented subclasses).
class IdDatabase {
 public:
  IdDatabase() = default;
  // A missing or unreadable file gives an empty database; the file is read at most 64 MiB.
  // With `vendors`, only those vendors' names, devices and subsystems are kept (the classes
  // always): the names of the few devices one listing needs, without storing the whole file.
  static IdDatabase Load(const std::string& path, const std::unordered_set<std::uint16_t>* vendors = nullptr);
  static IdDatabase Parse(std::string_view text, const std::unordered_set<std::uint16_t>* vendors = nullptr);

  bool Empty() const { return vendors_.empty(); }
  // Empty text when unknown.
  std::string VendorName(std::uint16_t vendor) const;
  std::string DeviceName(std::uint16_t vendor, std::uint16_t device) const;
  std::string SubsystemName(std::uint16_t vendor, std::uint16_t device, std::uint16_t subVendor,
                            std::uint16_t subDevice) const;
  // The subclass name, or the class name when the subclass is unknown.
  std::string ClassName(std::uint8_t baseClass, std::uint8_t subClass) const;

 private:
  std::unordered_map<std::uint32_t, std::string> vendors_;
  std::unordered_map<std::uint32_t, std::string> devices_;     // vendor << 16 | device
  std::unordered_map<std::uint64_t, std::string> subsystems_;  // vendor, device, subvendor, subdevice
  std::unordered_map<std::uint32_t, std::string> classes_;     // class << 8 | 0xFF, or class << 8 | subclass
};

// One device as the device console lists it.
struct DeviceRecord {
  std::string instanceId;
  std::string className;
  std::string name;
  std::string driver;        // "" when no driver is bound
  std::string driverSource;  // where the driver was installed from
  std::vector<std::string> driverFiles;
};

// The device's name: "<vendor> <device>" from the ID database of its bus, else the
// system's own description, else a generic name of its class.
std::string DeviceName(const platform::devices::DeviceInfo& device, const IdDatabase& pciIds,
                       const IdDatabase& usbIds);

std::vector<DeviceRecord> DescribeDevices(const std::vector<platform::devices::DeviceInfo>& devices,
                                          const IdDatabase& pciIds, const IdDatabase& usbIds);

// The device console's identifier patterns, letter case ignored: "*" matches any run of
// characters, a leading "@" matches the instance identifier only, a leading "'" takes the
// rest literally. Without "@" the pattern may also match one of the device's hardware
// identifiers (the instance cut and its reductions).
bool MatchesDevicePattern(const std::string& instanceId, std::string_view pattern);

// Selects the devices of a class (letter case ignored; "" for every class) that match one of
// the patterns (none given: all of them).
std::vector<const DeviceRecord*> SelectDevices(const std::vector<DeviceRecord>& devices,
                                               const std::string& className,
                                               const std::vector<std::string>& patterns);

// "find": one line per device, the identifier padded to 60 characters, ": ", the name;
// then "N matching device(s) found.", or "No matching devices found." for none.
std::vector<std::string> FindListing(const std::vector<const DeviceRecord*>& devices);

// "driverfiles": per device its identifier, "    Name: <name>", then
// "    Driver installed from <source> [<driver>]. N file(s) used by driver:" and each file
// indented by 8 blanks (or "    No driver information available for the device."); then the
// count line, or "No matching devices found." for none.
std::vector<std::string> DriverFilesListing(const std::vector<const DeviceRecord*>& devices);
