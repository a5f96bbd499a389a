// DPINST.exe on devices the tests make: root-enumerated devices with chosen hardware IDs,
// registered through the device installation API, and small driver packages written here (an
// INF file naming those IDs, a service, a dummy driver file). Each test runs the installer as a
// child process and checks the device, the service, DPINST.LOG and the exit status.
#include <windows.h>
// After windows.h, which they build on.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

// The device class of the test devices and packages, made up for these tests.
const GUID kTestClass = {0x7e1a5c30, 0x4b1d, 0x4f6e, {0x9a, 0x31, 0x5d, 0x0c, 0x2e, 0x77, 0x10, 0x42}};
const char* const kTestClassText = "{7E1A5C30-4B1D-4F6E-9A31-5D0C2E771042}";

std::wstring Wide(const std::string& s) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& s) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string WindowsPath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string WindowsFolder() {
  char folder[MAX_PATH] = {};
  GetWindowsDirectoryA(folder, MAX_PATH);
  return folder;
}

// A driver package for one hardware ID. The ID sits in the models sections decorated for x86 and
// amd64; the undecorated section, which 64-bit Windows never uses, names a decoy ID.
std::string Inf(const std::string& hardwareId, const std::string& service, const std::string& decoyId) {
  std::ostringstream inf;
  inf << "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=VelmoraTest\r\nClassGuid=" << kTestClassText
      << "\r\nProvider=%Maker%\r\nDriverVer=01/01/2024,1.0.0.0\r\n\r\n"
      << "[Manufacturer]\r\n%Maker%=Models,NTx86,NTamd64\r\n\r\n"
      << "[Models]\r\n%Desc%=Install," << decoyId << "\r\n"
      << "[Models.NTx86]\r\n%Desc%=Install," << hardwareId << "\r\n"
      << "[Models.NTamd64]\r\n%Desc%=Install," << hardwareId << "\r\n\r\n"
      << "[SourceDisksNames]\r\n1=%Disk%\r\n[SourceDisksFiles]\r\nvelmora_test.sys=1\r\n"
      << "[DestinationDirs]\r\nDefaultDestDir=12\r\n\r\n"
      << "[Install]\r\nCopyFiles=Files\r\n[Files]\r\nvelmora_test.sys\r\n"
      << "[Install.Services]\r\nAddService=" << service << ",0x00000002,Service\r\n"
      << "[Service]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\nServiceBinary=%12%\\velmora_test.sys\r\n\r\n"
      << "[Strings]\r\nMaker=\"Velmora tests\"\r\nDesc=\"Velmora test device\"\r\nDisk=\"Velmora test disk\"\r\n";
  return inf.str();
}

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    tag_ = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
    DeleteFileA(LogPath().c_str());
  }
  void TearDown() override {
    for (const std::string& id : devices_) RemoveDevice(id);
    DeleteFileA(LogPath().c_str());
  }

  std::string Id(const std::string& name) const { return "ROOT\\VELMORA_" + name + "_" + tag_; }
  std::string Service(const std::string& name) const { return "VelmoraTest" + name + tag_; }
  static std::string LogPath() { return WindowsFolder() + "\\DPINST.LOG"; }

  // Registers a root-enumerated device with one hardware ID; returns its instance ID.
  std::string MakeDevice(const std::string& hardwareId) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&kTestClass, nullptr);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    std::string instance;
    if (SetupDiCreateDeviceInfoW(set, L"VELMORA_TEST", &kTestClass, nullptr, nullptr, DICD_GENERATE_ID, &data)) {
      std::wstring ids = Wide(hardwareId);
      ids.push_back(L'\0');
      ids.push_back(L'\0');
      EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids.data()),
                                                    static_cast<DWORD>(ids.size() * sizeof(wchar_t))));
      EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data)) << GetLastError();
      wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
      SetupDiGetDeviceInstanceIdW(set, &data, id, MAX_DEVICE_ID_LEN, nullptr);
      instance = Narrow(id);
      devices_.push_back(instance);
    } else {
      ADD_FAILURE() << "SetupDiCreateDeviceInfoW failed: " << GetLastError();
    }
    SetupDiDestroyDeviceInfoList(set);
    return instance;
  }

  static void RemoveDevice(const std::string& instance) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (SetupDiOpenDeviceInfoW(set, Wide(instance).c_str(), nullptr, 0, &data))
      SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
    SetupDiDestroyDeviceInfoList(set);
  }

  // A device's service name and the InfPath value of its driver key ("" when missing).
  static std::pair<std::string, std::string> DriverOf(const std::string& instance) {
    std::pair<std::string, std::string> out;
    const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (SetupDiOpenDeviceInfoW(set, Wide(instance).c_str(), nullptr, 0, &data)) {
      wchar_t service[256] = {};
      if (SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_SERVICE, nullptr, reinterpret_cast<BYTE*>(service),
                                            sizeof service - sizeof(wchar_t), nullptr))
        out.first = Narrow(service);
      const HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
      if (key != INVALID_HANDLE_VALUE) {
        wchar_t inf[MAX_PATH] = {};
        DWORD size = sizeof inf - sizeof(wchar_t);
        if (RegQueryValueExW(key, L"InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(inf), &size) == ERROR_SUCCESS)
          out.second = Narrow(inf);
        RegCloseKey(key);
      }
    }
    SetupDiDestroyDeviceInfoList(set);
    return out;
  }

  static bool ServiceExists(const std::string& name) {
    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return false;
    const SC_HANDLE service = OpenServiceW(manager, Wide(name).c_str(), SERVICE_QUERY_CONFIG);
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
  }

  // Writes a package into `folder` (relative to the test folder); returns its INF path.
  std::string WritePackage(const std::string& folder, const std::string& hardwareId, const std::string& service) {
    dir_.Write(folder + "/velmora_test.sys", "not a real driver, only a file to copy");
    return WindowsPath(dir_.Write(folder + "/velmora_test.inf", Inf(hardwareId, service, Id("DECOY"))));
  }

  // Runs DPINST.exe with `arguments`; returns its exit status and reads DPINST.LOG into log_.
  DWORD Run(const std::string& arguments) {
    const std::string program = WindowsPath(std::string(VELMORA_BINARY_DIR) + "/DPINST.exe");
    std::wstring commandLine = Wide("DPINST.exe " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(Wide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
      ADD_FAILURE() << "cannot start " << program << ": " << GetLastError();
      return 0xFFFFFFFF;
    }
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "DPINST.exe did not end within 120 s";
      TerminateProcess(process.hProcess, 0xFFFFFFFF);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD status = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    {
      std::ifstream in(LogPath(), std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      log_ = text.str();
    }
    EXPECT_TRUE(DeleteFileA(LogPath().c_str())) << "DPINST.LOG: " << GetLastError();
    return status;
  }

  bool LogHas(const std::string& text) const { return log_.find(text) != std::string::npos; }

  TempDir dir_;
  std::string tag_;
  std::vector<std::string> devices_;
  std::string log_;
};

TEST_F(Installer, InstallsOnThePresentDeviceThenFindsItUpToDate) {
  const std::string device = MakeDevice(Id("A"));
  ASSERT_FALSE(device.empty());
  const std::string served = WritePackage("Drivers/Vendor/A", Id("A"), Service("A"));
  const std::string absent = WritePackage("Drivers/B", Id("ABSENT"), Service("B"));
  // The archive tool's staging folder holds a package for the device too: never looked at.
  const std::string staged = WritePackage("Drivers/.velmora-7z-x1/A", Id("A"), Service("S"));
  const std::string root = WindowsPath(dir_.path() + "Drivers");

  EXPECT_EQ(Run("/s /lm /path " + root), 0u) << log_;
  EXPECT_TRUE(LogHas("Command line: DPINST.exe /s /lm /path " + root)) << log_;
  EXPECT_TRUE(LogHas("INFO: Driver package: " + served)) << log_;
  EXPECT_TRUE(LogHas("serves the present device " + device + " through " + Id("A"))) << log_;
  EXPECT_TRUE(LogHas("SUCCESS: Installed: " + served + " on " + device)) << log_;
  // Windows names the stored copy oem<n>.inf; Wine sometimes gives the INF file's own name back
  // (seen in a new prefix), so only the stored name's presence is checked.
  EXPECT_TRUE(LogHas("INFO: Not needed: " + absent + " serves no present device; added to the driver store as ")) << log_;
  EXPECT_FALSE(LogHas(staged)) << log_;
  EXPECT_TRUE(LogHas("Folder left out (link, staging folder or the system's own drivers): " + root + "\\.velmora-7z-x1")) << log_;
  EXPECT_TRUE(LogHas("Summary: 2 driver packages: 1 installed, 0 already up to date, 1 not needed, 0 not signed, 0 failed; exit status 0\r\n"))
      << log_;
  const auto [service, inf] = DriverOf(device);
  EXPECT_EQ(service, Service("A"));
  EXPECT_TRUE(ServiceExists(Service("A")));
  EXPECT_FALSE(ServiceExists(Service("B")));
  EXPECT_EQ(inf.rfind("oem", 0), 0u) << "the driver key names the package as the driver store holds it: " << inf;
  EXPECT_TRUE(LogHas("Added to the driver store as " + inf)) << log_;

  // A second run changes nothing and says so.
  EXPECT_EQ(Run("/S /LM /PATH \"" + root + "\""), 0u) << log_;
  EXPECT_TRUE(LogHas("Already in the driver store as " + inf)) << log_;
  EXPECT_TRUE(LogHas("INFO: Already up to date: " + device + " runs " + served)) << log_;
  EXPECT_FALSE(LogHas("SUCCESS")) << log_;
  EXPECT_TRUE(LogHas("Summary: 2 driver packages: 0 installed, 1 already up to date, 1 not needed, 0 not signed, 0 failed; exit status 0"))
      << log_;
}

TEST_F(Installer, DamagedPackageFailsAndTheOthersStillInstall) {
  const std::string device = MakeDevice(Id("C"));
  ASSERT_FALSE(device.empty());
  dir_.Write("P/1/broken.inf", "[Version\r\nSignature=\"$WINDOWS NT$\"\r\n");
  dir_.Write("P/2/nosignature.inf", "[Version]\r\nClass=VelmoraTest\r\n[Manufacturer]\r\nM=Models\r\n");
  // A package whose driver file is missing is refused before the system would ask for it.
  const std::string missing = WritePackage("P/3", Id("C"), Service("D"));
  DeleteFileA(WindowsPath(dir_.File("P/3/velmora_test.sys")).c_str());
  const std::string good = WritePackage("P/4", Id("C"), Service("C"));

  EXPECT_EQ(Run("/s /path " + WindowsPath(dir_.path() + "P") + " /lm"), 1u) << log_;
  EXPECT_TRUE(LogHas("ERROR: Failed: " + WindowsPath(dir_.File("P/1/broken.inf")) +
                     ": the INF file cannot be read (line 1): a section name line is malformed (0xE0000001)"))
      << log_;
  EXPECT_TRUE(LogHas("ERROR: Failed: " + WindowsPath(dir_.File("P/2/nosignature.inf")) +
                     ": the INF file cannot be read: not a Windows NT INF file (no valid signature) (0xE0000100)"))
      << log_;
  EXPECT_TRUE(LogHas("ERROR: Failed: " + missing + ": files it names are missing: velmora_test.sys")) << log_;
  EXPECT_TRUE(LogHas("SUCCESS: Installed: " + good + " on " + device)) << log_;
  EXPECT_EQ(DriverOf(device).first, Service("C"));
  EXPECT_FALSE(ServiceExists(Service("D")));
  EXPECT_TRUE(LogHas("Summary: 4 driver packages: 1 installed, 0 already up to date, 0 not needed, 0 not signed, 3 failed; exit status 1"))
      << log_;
}

TEST_F(Installer, SilentRunLeavesUnsignedPackagesOut) {
  const std::string device = MakeDevice(Id("U"));
  ASSERT_FALSE(device.empty());
  const std::string package = WritePackage("U", Id("U"), Service("U"));
  EXPECT_EQ(Run("/s /path " + WindowsPath(dir_.path() + "U")), 2u) << log_;
  EXPECT_TRUE(LogHas("WARNING: Not installed: " + package + " is not signed (it names no catalog file)")) << log_;
  EXPECT_EQ(DriverOf(device).first, "");
  EXPECT_FALSE(ServiceExists(Service("U")));
  EXPECT_TRUE(LogHas("0 installed, 0 already up to date, 0 not needed, 1 not signed, 0 failed; exit status 2")) << log_;
}

TEST_F(Installer, RefusesBadCommandLinesAndMissingFolders) {
  struct Case {
    std::string arguments;
    DWORD status;
    std::string line;
  };
  const Case cases[] = {
      {"/s /zz /path C:\\", 3, "ERROR: Command line refused: unknown switch /zz"},
      {"/s /path", 3, "ERROR: Command line refused: switch /path needs a value"},
      {"/u C:\\x.inf", 3, "ERROR: Command line refused: switch /u (uninstalling a driver package) is not supported"},
      {"/s /path " + WindowsPath(dir_.path() + "none"), 4, "ERROR: No folder " + WindowsPath(dir_.path() + "none")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(Run(c.arguments), c.status);
    EXPECT_TRUE(LogHas(c.line)) << log_;
    EXPECT_TRUE(LogHas("Summary: nothing done; exit status " + std::to_string(c.status) + "\r\n")) << log_;
  }
}

}  // namespace
