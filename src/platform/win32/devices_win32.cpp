// Device enumeration on Windows: the device-installation functions of SETUPAPI.DLL (and one
// of SYSSETUP.DLL), bound by name at run time rather than linked, so the program starts on
// any system and the binding can be dropped again.
#include <windows.h>
// After windows.h, which they build on.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <optional>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/devices.h"

namespace platform::devices {
namespace {

// The bound names, in binding order; the first sixteen come from SETUPAPI.DLL.
enum Function : std::size_t {
  kCreateDeviceInfoList,
  kDestroyDeviceInfoList,
  kClassGuidsFromName,
  kGetClassDevsEx,
  kGetClassDevs,
  kGetDeviceRegistryProperty,
  kSetClassInstallParams,
  kCallClassInstaller,
  kEnumDeviceInfo,
  kGetDeviceId,
  kGetDevNodeStatus,
  kLocateDevNode,
  kReenumerateDevNode,
  kWaitNoPendingInstallEvents,
  kUninstallDevNode,
  kCopyOemInf,
  kUpdatePnpDeviceDrivers,  // SYSSETUP.DLL
  kFunctionCount
};

constexpr std::array<const char*, kFunctionCount> kNames = {
    "SetupDiCreateDeviceInfoList",   "SetupDiDestroyDeviceInfoList",
    "SetupDiClassGuidsFromNameA",    "SetupDiGetClassDevsExA",
    "SetupDiGetClassDevsA",          "SetupDiGetDeviceRegistryPropertyA",
    "SetupDiSetClassInstallParamsA", "SetupDiCallClassInstaller",
    "SetupDiEnumDeviceInfo",         "CM_Get_Device_IDA",
    "CM_Get_DevNode_Status",         "CM_Locate_DevNodeA",
    "CM_Reenumerate_DevNode",        "CMP_WaitNoPendingInstallEvents",
    "CM_Uninstall_DevNode",          "SetupCopyOEMInfA",
    "UpdatePnpDeviceDrivers",
};
constexpr std::size_t kSetupApiCount = kUpdatePnpDeviceDrivers;

using DestroyDeviceInfoListFn = BOOL(WINAPI*)(HDEVINFO);
using ClassGuidsFromNameFn = BOOL(WINAPI*)(PCSTR, LPGUID, DWORD, PDWORD);
using GetClassDevsExFn = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD, HDEVINFO, PCSTR, PVOID);
using EnumDeviceInfoFn = BOOL(WINAPI*)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
using GetDeviceIdFn = CONFIGRET(WINAPI*)(DEVINST, PSTR, ULONG, ULONG);
using GetDeviceRegistryPropertyFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD,
                                                  PDWORD);

// A library loaded by name, freed when dropped.
class Library {
 public:
  Library() = default;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() { Free(); }

  bool Load(const char* name) {
    if (module_ == nullptr) module_ = LoadLibraryA(name);
    return module_ != nullptr;
  }
  void Free() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  bool loaded() const { return module_ != nullptr; }
  FARPROC Find(const char* name) const { return GetProcAddress(module_, name); }

 private:
  HMODULE module_ = nullptr;
};

bool initialised = false;
Library setupApi;
Library sysSetup;
std::array<FARPROC, kFunctionCount> functions{};

// A bound entry as the function type it has; null when it is not bound.
template <typename F>
F Bound(Function which) {
  static_assert(sizeof(F) == sizeof(FARPROC));
  F function = nullptr;
  const FARPROC address = functions[which];
  std::memcpy(&function, &address, sizeof function);
  return function;
}

// The 32-bit layout of SP_DEVINFO_DATA: size, class GUID, device instance handle, reserved.
#ifndef _WIN64
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA must have its 32-bit layout");
#endif

// Destroys a device information set, also when the enumeration ends through an exception.
class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (valid()) {
      if (const auto destroy = Bound<DestroyDeviceInfoListFn>(kDestroyDeviceInfoList)) destroy(set_);
    }
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

// The device information set of the present (or all) devices of one class or of all classes;
// an invalid set when the functions are not bound or the system refuses.
HDEVINFO OpenDeviceSet(bool presentOnly, const std::string& className) {
  const auto getClassDevs = Bound<GetClassDevsExFn>(kGetClassDevsEx);
  if (getClassDevs == nullptr) return INVALID_HANDLE_VALUE;
  DWORD flags = presentOnly ? DIGCF_PRESENT : 0;
  if (className.empty() || className == "*") {
    flags |= DIGCF_ALLCLASSES;
    return getClassDevs(nullptr, nullptr, nullptr, flags, nullptr, nullptr, nullptr);
  }
  const auto classGuids = Bound<ClassGuidsFromNameFn>(kClassGuidsFromName);
  if (classGuids == nullptr) return INVALID_HANDLE_VALUE;
  GUID guid{};
  DWORD required = 0;
  classGuids(className.c_str(), &guid, 1, &required);
  return getClassDevs(&guid, nullptr, nullptr, flags, nullptr, nullptr, nullptr);
}

// Calls `visit(element, instance id)` for each device of the set whose identifier can be read.
template <typename Visit>
void ForEachDevice(const DeviceInfoSet& set, Visit visit) {
  const auto enumDevice = Bound<EnumDeviceInfoFn>(kEnumDeviceInfo);
  const auto getDeviceId = Bound<GetDeviceIdFn>(kGetDeviceId);
  if (!set.valid() || enumDevice == nullptr || getDeviceId == nullptr) return;
  SP_DEVINFO_DATA element;
  std::memset(&element, 0, sizeof element);
  element.cbSize = sizeof element;
  for (DWORD index = 0; enumDevice(set.get(), index, &element); ++index) {
    char buffer[MAX_DEVICE_ID_LEN];  // 200, with the final zero
    std::memset(buffer, 0, sizeof buffer);
    if (getDeviceId(element.DevInst, buffer, sizeof buffer, 0) != CR_SUCCESS) continue;
    buffer[sizeof buffer - 1] = '\0';
    visit(element, std::string(buffer));
  }
}

// A device property's bytes and registry type, asked for again with a larger buffer when the
// first one is too small; nothing when it cannot be read (or claims more than 64 KiB).
std::optional<std::vector<BYTE>> RawProperty(const DeviceInfoSet& set, SP_DEVINFO_DATA& element, DWORD property,
                                             DWORD& type) {
  const auto getProperty = Bound<GetDeviceRegistryPropertyFn>(kGetDeviceRegistryProperty);
  if (getProperty == nullptr) return std::nullopt;
  std::vector<BYTE> buffer(1024);
  DWORD required = 0;
  if (!getProperty(set.get(), &element, property, &type, buffer.data(), static_cast<DWORD>(buffer.size()),
                   &required)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0 || required > 64 * 1024) return std::nullopt;
    buffer.assign(required, 0);
    if (!getProperty(set.get(), &element, property, &type, buffer.data(), static_cast<DWORD>(buffer.size()),
                     &required)) {
      return std::nullopt;
    }
  }
  // The size the call reports is that of the data; a call that reports none leaves the buffer whole.
  if (required != 0) buffer.resize(std::min<std::size_t>(buffer.size(), required));
  return buffer;
}

std::string TextProperty(const DeviceInfoSet& set, SP_DEVINFO_DATA& element, DWORD property) {
  DWORD type = 0;
  const std::optional<std::vector<BYTE>> buffer = RawProperty(set, element, property, type);
  if (!buffer || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  const char* text = reinterpret_cast<const char*>(buffer->data());
  return std::string(text, strnlen(text, buffer->size()));
}

// A multi-string property ("one\0two\0\0") as its texts; empty when it cannot be read.
std::vector<std::string> MultiTextProperty(const DeviceInfoSet& set, SP_DEVINFO_DATA& element, DWORD property) {
  DWORD type = 0;
  const std::optional<std::vector<BYTE>> buffer = RawProperty(set, element, property, type);
  if (!buffer || type != REG_MULTI_SZ) return {};
  std::vector<std::string> texts;
  const char* text = reinterpret_cast<const char*>(buffer->data());
  const std::size_t size = buffer->size();
  std::size_t at = 0;
  while (at < size) {
    const std::size_t length = strnlen(text + at, size - at);
    if (length == 0) break;
    texts.emplace_back(text + at, length);
    at += length + 1;
  }
  return texts;
}

}  // namespace

bool InitPnpApi() {
  if (initialised) return true;
  if (!setupApi.Load("SETUPAPI.DLL")) return false;
  for (std::size_t i = 0; i < kSetupApiCount; ++i) functions[i] = setupApi.Find(kNames[i]);
  if (!sysSetup.Load("SYSSETUP.DLL")) return false;
  functions[kUpdatePnpDeviceDrivers] = sysSetup.Find(kNames[kUpdatePnpDeviceDrivers]);
  initialised = true;
  return true;
}

bool FreePnpApi() {
  initialised = false;
  if (!setupApi.loaded()) return false;
  functions.fill(nullptr);
  setupApi.Free();
  sysSetup.Free();
  return true;
}

std::vector<BoundFunction> BoundFunctions() {
  std::vector<BoundFunction> bound;
  for (std::size_t i = 0; i < kFunctionCount; ++i) bound.push_back({kNames[i], functions[i] != nullptr});
  return bound;
}

std::vector<std::string> EnumerateDeviceIds(bool presentOnly, const std::string& className) {
  std::vector<std::string> ids;
  const DeviceInfoSet set(OpenDeviceSet(presentOnly, className));
  ForEachDevice(set, [&](SP_DEVINFO_DATA&, std::string id) { ids.push_back(std::move(id)); });
  return ids;
}

std::vector<DeviceInfo> EnumerateHardwareIds() {
  std::vector<DeviceInfo> devices;
  const DeviceInfoSet set(OpenDeviceSet(true, ""));
  ForEachDevice(set, [&](SP_DEVINFO_DATA& element, std::string id) {
    DeviceInfo info;
    info.instanceId = std::move(id);
    info.hardwareIds = MultiTextProperty(set, element, SPDRP_HARDWAREID);
    devices.push_back(std::move(info));
  });
  return devices;
}

namespace {

// Setup class names are ASCII; letter case is ignored as the class functions ignore it.
bool SameClassName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
  }
  return true;
}

}  // namespace

std::vector<DeviceInfo> EnumerateDevices(const std::string& className) {
  const bool allClasses = className.empty() || className == "*";
  std::vector<DeviceInfo> devices;
  const DeviceInfoSet set(OpenDeviceSet(true, ""));
  ForEachDevice(set, [&](SP_DEVINFO_DATA& element, std::string id) {
    DeviceInfo info;
    info.instanceId = std::move(id);
    info.className = TextProperty(set, element, SPDRP_CLASS);
    if (!allClasses && !SameClassName(info.className, className)) return;
    info.description = TextProperty(set, element, SPDRP_FRIENDLYNAME);
    if (info.description.empty()) info.description = TextProperty(set, element, SPDRP_DEVICEDESC);
    info.driver = TextProperty(set, element, SPDRP_SERVICE);
    devices.push_back(std::move(info));
  });
  return devices;
}

}  // namespace platform::devices
