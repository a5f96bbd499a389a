// Device enumeration through the system's SETUPAPI.DLL, bound at run time: run against Wine's
// own device functions and its small set of devices.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "devices/get_device_list.h"
#include "platform/devices.h"

namespace dev = platform::devices;

namespace {

// The binding order, and which of the names the program calls.
struct Binding {
  const char* name;
  bool called;
};
const std::vector<Binding> kBindings = {
    {"SetupDiCreateDeviceInfoList", false},   {"SetupDiDestroyDeviceInfoList", true},
    {"SetupDiClassGuidsFromNameA", true},     {"SetupDiGetClassDevsExA", true},
    {"SetupDiGetClassDevsA", false},          {"SetupDiGetDeviceRegistryPropertyA", false},
    {"SetupDiSetClassInstallParamsA", false}, {"SetupDiCallClassInstaller", false},
    {"SetupDiEnumDeviceInfo", true},          {"CM_Get_Device_IDA", true},
    {"CM_Get_DevNode_Status", false},         {"CM_Locate_DevNodeA", false},
    {"CM_Reenumerate_DevNode", false},        {"CMP_WaitNoPendingInstallEvents", false},
    {"CM_Uninstall_DevNode", false},          {"SetupCopyOEMInfA", false},
    {"UpdatePnpDeviceDrivers", false},
};

// Whether the system's library exports the name, asked directly.
bool Exports(const char* library, const char* name) {
  HMODULE module = LoadLibraryA(library);
  if (module == nullptr) return false;
  const bool found = GetProcAddress(module, name) != nullptr;
  FreeLibrary(module);
  return found;
}

bool HasLibrary(const char* library) {
  HMODULE module = LoadLibraryA(library);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

// "BUS\DEVICE\INSTANCE": a bus name of capitals, digits and underscores, then at least two
// more parts, no blanks and no lower-case letters in the bus and device parts, 199 at most.
::testing::AssertionResult WindowsInstanceId(const std::string& id) {
  const std::size_t first = id.find('\\');
  const std::size_t second = first == std::string::npos ? first : id.find('\\', first + 1);
  if (id.empty() || id.size() > 199 || first == 0 || second == std::string::npos || second == first + 1 ||
      second + 1 >= id.size()) {
    return ::testing::AssertionFailure() << "\"" << id << "\" is not BUS\\DEVICE\\INSTANCE";
  }
  for (std::size_t i = 0; i < second; ++i) {
    const unsigned char c = static_cast<unsigned char>(id[i]);
    if (std::islower(c) || c == ' ' || c < 0x20) {
      return ::testing::AssertionFailure()
             << "\"" << id << "\" has '" << id[i] << "' in its bus or device part";
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(SetupApi, BindsTheNamesInTableOrder) {
  dev::FreePnpApi();
  const bool sysSetup = HasLibrary("SYSSETUP.DLL");
  // Wine has no SYSSETUP.DLL: InitPnpApi then says false, and the SETUPAPI.DLL bindings stay.
  EXPECT_EQ(dev::InitPnpApi(), sysSetup);

  const std::vector<dev::BoundFunction> bound = dev::BoundFunctions();
  ASSERT_EQ(bound.size(), kBindings.size());
  std::string missing;
  for (std::size_t i = 0; i < kBindings.size(); ++i) {
    SCOPED_TRACE(kBindings[i].name);
    EXPECT_EQ(bound[i].name, kBindings[i].name);
    const char* library = i + 1 == kBindings.size() ? "SYSSETUP.DLL" : "SETUPAPI.DLL";
    EXPECT_EQ(bound[i].bound, Exports(library, kBindings[i].name));
    // The five functions GetDeviceList calls must be there.
    EXPECT_TRUE(!kBindings[i].called || bound[i].bound);
    if (!bound[i].bound) missing += std::string(" ") + kBindings[i].name;
  }
  if (!missing.empty()) {
    // Not an error: nothing calls them. Said in the output, so the Wine run shows what it lacks.
    std::printf("[   NOTE   ] not exported by this system, left unbound:%s\n", missing.c_str());
  }
  EXPECT_TRUE(dev::FreePnpApi());
  EXPECT_FALSE(dev::FreePnpApi());
  for (const dev::BoundFunction& function : dev::BoundFunctions())
    EXPECT_FALSE(function.bound) << function.name;
  dev::InitPnpApi();
}

TEST(SetupApi, GetDeviceListGivesWindowsInstanceIdentifiers) {
  dev::InitPnpApi();
  std::vector<std::string> list = {"left over"};
  const bool any = GetDeviceList(list, true, "");
  EXPECT_EQ(any, !list.empty());
  if (list.empty()) GTEST_SKIP() << "this system reports no present devices";
  for (const std::string& id : list) EXPECT_TRUE(WindowsInstanceId(id));

  // "*" is every class too, and the order is the system's.
  std::vector<std::string> all;
  EXPECT_TRUE(GetDeviceList(all, true, "*"));
  EXPECT_EQ(all, list);
  // Not only present devices: at least as many.
  std::vector<std::string> everything;
  EXPECT_TRUE(GetDeviceList(everything, false, ""));
  EXPECT_GE(everything.size(), list.size());

  // One class: a subset of all; a class the system does not know gives nothing.
  std::vector<std::string> oneClass;
  for (const char* className : {"System", "Display", "HIDClass", "Volume"}) {
    if (GetDeviceList(oneClass, true, className)) break;
  }
  for (const std::string& id : oneClass) {
    EXPECT_NE(std::find(list.begin(), list.end(), id), list.end()) << id;
  }
  std::vector<std::string> none = {"left over"};
  EXPECT_FALSE(GetDeviceList(none, true, "VelmoraNoSuchClass"));
  EXPECT_TRUE(none.empty());
}

TEST(SetupApi, NothingAnswersAfterTheBindingIsUndone) {
  dev::InitPnpApi();
  dev::FreePnpApi();
  std::vector<std::string> list = {"left over"};
  EXPECT_FALSE(GetDeviceList(list, true, ""));
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(dev::EnumerateDevices().empty());
  dev::InitPnpApi();
}

// What the system tells beside the identifier, for the device console's listings.
TEST(SetupApi, EnumerateDevicesMatchesTheIdentifierList) {
  dev::InitPnpApi();
  std::vector<std::string> ids;
  GetDeviceList(ids, true, "");
  const std::vector<dev::DeviceInfo> devices = dev::EnumerateDevices();
  ASSERT_EQ(devices.size(), ids.size());
  for (std::size_t i = 0; i < devices.size(); ++i) EXPECT_EQ(devices[i].instanceId, ids[i]);
  // The text properties are read too: the present devices have their setup classes, and their
  // hardware IDs are the multi-string property, each device's first one led by its bus.
  if (devices.empty()) GTEST_SKIP() << "this system reports no present devices";
  EXPECT_TRUE(std::any_of(devices.begin(), devices.end(), [](const dev::DeviceInfo& d) { return !d.className.empty(); }));
  const std::vector<dev::DeviceInfo> withIds = dev::EnumerateHardwareIds();
  ASSERT_EQ(withIds.size(), devices.size());
  EXPECT_TRUE(std::any_of(withIds.begin(), withIds.end(), [](const dev::DeviceInfo& d) {
    return !d.hardwareIds.empty() && d.hardwareIds.front().find('\\') != std::string::npos;
  }));
}

}  // namespace
