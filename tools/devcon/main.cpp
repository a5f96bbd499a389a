// devcon: the device console's "find" and "driverfiles" operations on this machine's devices,
// in the console's line format, for the program's device collection on Linux.
//
//   devcon find <pattern>...                 devices whose identifier matches a pattern
//   devcon find =<class> [<pattern>...]      the same within one setup class
//   devcon driverfiles =<class> [<pattern>...]
//   devcon driverfiles <pattern>...          name, driver and driver files of each device
//
// Patterns: "*" matches any run of characters, letter case is ignored, "@" selects by
// instance identifier only, "'" takes the rest literally. Device names come from the PCI and
// USB ID databases: VELMORA_PCI_IDS and VELMORA_USB_IDS, by default /usr/share/misc/pci.ids
// and /usr/share/misc/usb.ids. The devices come from sysfs (VELMORA_SYSFS, default /sys).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <unordered_set>
#include <vector>

#include "devices/device_enum.h"
#include "platform/devices.h"

namespace {

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? value : fallback;
}

bool IsCommand(const std::string& arg, const char* command) {
  if (arg.size() != std::char_traits<char>::length(command)) return false;
  for (std::size_t i = 0; i < arg.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(arg[i])) != command[i]) return false;
  }
  return true;
}

int Usage() {
  std::cerr << "usage: devcon find {* | <id>... | =<class> [<id>...]}\n"
               "       devcon driverfiles {* | <id>... | =<class> [<id>...]}\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    const bool find = IsCommand(command, "find");
    const bool driverFiles = IsCommand(command, "driverfiles");
    if (!find && !driverFiles) return Usage();

    std::string className;
    std::vector<std::string> patterns;
    for (int i = 2; i < argc; ++i) {
      const std::string arg = argv[i];
      if (i == 2 && arg.size() > 1 && arg[0] == '=') {
        className = arg.substr(1);
      } else if (!arg.empty()) {
        patterns.push_back(arg);
      }
    }
    if (className.empty() && patterns.empty()) return Usage();

    // One run answers for one class at most, and the program runs it once per class: only that
    // class's devices are read (their drivers and the module tables only when there are any),
    // and the ID databases only when some device needs a name from them, keeping only the
    // vendors of those devices.
    platform::devices::InitPnpApi();
    const auto devices = platform::devices::EnumerateDevices(className);
    using IdBus = platform::devices::DeviceInfo::IdBus;
    std::unordered_set<std::uint16_t> pciVendors;
    std::unordered_set<std::uint16_t> usbVendors;
    for (const auto& device : devices) {
      if (device.idBus == IdBus::Pci) pciVendors.insert(device.vendorId);
      if (device.idBus == IdBus::Usb) usbVendors.insert(device.vendorId);
    }
    const auto pciIds = pciVendors.empty()
                            ? IdDatabase()
                            : IdDatabase::Load(EnvOr("VELMORA_PCI_IDS", "/usr/share/misc/pci.ids"), &pciVendors);
    const auto usbIds = usbVendors.empty()
                            ? IdDatabase()
                            : IdDatabase::Load(EnvOr("VELMORA_USB_IDS", "/usr/share/misc/usb.ids"), &usbVendors);
    const auto records = DescribeDevices(devices, pciIds, usbIds);
    const auto selected = SelectDevices(records, className, patterns);
    const auto lines = find ? FindListing(selected) : DriverFilesListing(selected);
    for (const auto& line : lines) std::cout << line << '\n';
    std::cout.flush();
    return std::cout ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "devcon failed: " << e.what() << '\n';
    return 1;
  }
}
