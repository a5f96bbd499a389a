// The machine's devices, as Windows device instance identifiers
// ("PCI\VEN_1AF4&DEV_1041&SUBSYS_11001AF4&REV_01\3&...").
// Windows: SetupAPI bound at run time. Linux: sysfs (root overridable with VELMORA_SYSFS).
#pragma once

#include <string>
#include <vector>

namespace platform::devices {

// Binds the system's device functions (Windows: SETUPAPI.DLL, SYSSETUP.DLL). The second call
// returns true at once. Linux: nothing to bind, returns true.
bool InitPnpApi();
// Unbinds; true when something was bound, false on a second call.
bool FreePnpApi();

// Instance identifiers of the devices, in enumeration order, each at most 199 characters.
// `className` "*" or empty: every class.
std::vector<std::string> EnumerateDeviceIds(bool presentOnly, const std::string& className);

}  // namespace platform::devices
