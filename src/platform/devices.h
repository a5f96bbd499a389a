// The machine's devices, as Windows device instance identifiers
// ("PCI\VEN_1AF4&DEV_1041&SUBSYS_11001AF4&REV_01\3&...").
// Windows: SetupAPI bound at run time. Linux: sysfs (root overridable with VELMORA_SYSFS).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::devices {

// Binds the system's device functions (Windows: SETUPAPI.DLL, SYSSETUP.DLL). The second call
// returns true at once. Linux: nothing to bind; only the bound flag is kept. Until it has run
// (and after FreePnpApi) the enumerations below give nothing, on Linux as on Windows.
bool InitPnpApi();
// Unbinds; true when something was bound, false on a second call.
bool FreePnpApi();

// The names InitPnpApi binds, in binding order, each with whether it is bound now (Windows:
// sixteen from SETUPAPI.DLL, then UpdatePnpDeviceDrivers from SYSSETUP.DLL). Linux binds
// nothing: the list is empty there.
struct BoundFunction {
  std::string name;
  bool bound = false;
};
std::vector<BoundFunction> BoundFunctions();

// Instance identifiers of the devices, in enumeration order, each at most 199 characters.
// `className` "*" or empty: every class.
std::vector<std::string> EnumerateDeviceIds(bool presentOnly, const std::string& className);

// What the system tells about one present device beside its instance identifier.
struct DeviceInfo {
  enum class IdBus { None, Pci, Usb };

  std::string instanceId;
  // The hardware identifiers the system lists for the device, most specific first. Windows: the
  // device's hardware-ID property. Linux: built from sysfs in the forms Windows gives them, for
  // the ACPI, PCI, USB and HDAUDIO buses and the processors ("ACPI\\PNP0303", "*PNP0303"); empty
  // for the other buses.
  std::vector<std::string> hardwareIds;
  std::string className;    // device setup class ("Net", "DiskDrive", "HIDClass", ...)
  std::string description;  // the system's own name for the device; may be empty
  // Numbers to look the device up in the PCI or USB ID databases (IdBus::None: no lookup).
  IdBus idBus = IdBus::None;
  std::uint16_t vendorId = 0;
  std::uint16_t deviceId = 0;
  std::uint16_t subVendorId = 0;
  std::uint16_t subDeviceId = 0;
  std::uint32_t classCode = 0;  // PCI: base class, subclass, programming interface
  std::string driver;           // Windows: the driver service; Linux: the kernel module; "" when none
  std::string driverSource;     // Windows: the INF file; Linux: the modules.dep or modules.builtin file
  std::vector<std::string> driverFiles;  // full paths
};

// Present devices of every class, each with its instance identifier and its hardware
// identifiers only (the other members are left empty), in enumeration order.
std::vector<DeviceInfo> EnumerateHardwareIds();

// Present devices with what the system knows about them, in enumeration order.
// `className` empty or "*": every class; otherwise only the devices of that setup class, letter
// case ignored (the same devices, in the same order, as the whole list filtered by class).
// Linux: read from sysfs; the processor from <sysfs>/../proc/cpuinfo and the driver files from
// <sysfs>/../lib/modules/<release>/modules.dep, so one override (VELMORA_SYSFS) moves them all.
// The driver of a device of another class is not looked up, and the module tables are read
// only when a kept device has a driver.
std::vector<DeviceInfo> EnumerateDevices(const std::string& className = "");

}  // namespace platform::devices
