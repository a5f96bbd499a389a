// Makes, shows and removes devices through the device installation API, for the end-to-end runs
// of the Windows program under Wine, which need a device the installer can serve.
//   velmora_device_maker make <instance ID> <hardware ID>...   registers a device of that exact ID
//   velmora_device_maker show <instance ID>                    prints "service=" and "inf=" lines
//   velmora_device_maker remove <instance ID>
// Exit status 0 on success, 1 when the system refused (its error code is printed), 2 for usage.
#include <windows.h>
// After windows.h, which they build on.
#include <cfgmgr32.h>
#include <setupapi.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// The device class of the test devices, made up for the tests (the same as installer_test.cpp).
const GUID kTestClass = {0x7e1a5c30, 0x4b1d, 0x4f6e, {0x9a, 0x31, 0x5d, 0x0c, 0x2e, 0x77, 0x10, 0x42}};

int Fail(const char* what) {
  std::printf("%s failed: error 0x%08lX\n", what, static_cast<unsigned long>(GetLastError()));
  return 1;
}

int Make(const wchar_t* instance, int count, wchar_t** ids) {
  std::wstring multi;
  for (int i = 0; i < count; ++i) multi += std::wstring(ids[i]) + L'\0';
  multi += L'\0';
  const HDEVINFO set = SetupDiCreateDeviceInfoList(&kTestClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  int status = 0;
  if (!SetupDiCreateDeviceInfoW(set, instance, &kTestClass, nullptr, nullptr, 0, &data)) status = Fail("SetupDiCreateDeviceInfoW");
  else if (!SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(multi.data()),
                                              static_cast<DWORD>(multi.size() * sizeof(wchar_t))))
    status = Fail("SetupDiSetDeviceRegistryPropertyW");
  else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data)) status = Fail("DIF_REGISTERDEVICE");
  SetupDiDestroyDeviceInfoList(set);
  return status;
}

int ShowOrRemove(const wchar_t* instance, bool remove) {
  const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  int status = 0;
  if (!SetupDiOpenDeviceInfoW(set, instance, nullptr, 0, &data)) {
    status = Fail("SetupDiOpenDeviceInfoW");
  } else if (remove) {
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &data)) status = Fail("DIF_REMOVE");
  } else {
    wchar_t service[256] = {};
    SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_SERVICE, nullptr, reinterpret_cast<BYTE*>(service),
                                      sizeof service - sizeof(wchar_t), nullptr);
    wchar_t inf[MAX_PATH] = {};
    const HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key != INVALID_HANDLE_VALUE) {
      DWORD size = sizeof inf - sizeof(wchar_t);
      RegQueryValueExW(key, L"InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(inf), &size);
      RegCloseKey(key);
    }
    std::printf("service=%ls\ninf=%ls\n", service, inf);
  }
  SetupDiDestroyDeviceInfoList(set);
  return status;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 2;
  const std::wstring verb = argv[1];
  if (verb == L"make" && argc >= 4) return Make(argv[2], argc - 3, argv + 3);
  if (verb == L"show") return ShowOrRemove(argv[2], false);
  if (verb == L"remove") return ShowOrRemove(argv[2], true);
  return 2;
}
