// DPINST.exe for Windows: installs the driver packages found below a folder on the devices
// present, through the device installation API. Reading INF files: SetupOpenInfFileW and its
// line and field functions. Devices: SetupDiGetClassDevsW and the hardware and compatible ID
// properties. Driver store: SetupCopyOEMInfW. Devices updated: UpdateDriverForPlugAndPlayDevicesW
// (newdev), one call per hardware ID that a present device and the package share. The rules
// (command line, search, decorations, matching, summary) are the engines beside this file.
#include <windows.h>
// After windows.h, which they build on.
#include <cfgmgr32.h>
#include <commctrl.h>
#include <newdev.h>
#include <setupapi.h>
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "installer/installer_log.h"
#include "installer/installer_options.h"
#include "installer/models.h"
#include "installer/package_search.h"

namespace {

using namespace installer;

std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text, UINT codePage = CP_UTF8) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Texts for the INF errors of the device installation API, which the system's message table
// may lack.
const char* InfErrorText(DWORD code) {
  switch (code) {
    case ERROR_EXPECTED_SECTION_NAME: return "a section name was expected";
    case ERROR_BAD_SECTION_NAME_LINE: return "a section name line is malformed";
    case ERROR_SECTION_NAME_TOO_LONG: return "a section name is too long";
    case ERROR_GENERAL_SYNTAX: return "the INF syntax is invalid";
    case ERROR_WRONG_INF_STYLE: return "not a Windows NT INF file (no valid signature)";
    case ERROR_SECTION_NOT_FOUND: return "a section is missing";
    case ERROR_LINE_NOT_FOUND: return "a line is missing";
    case ERROR_NO_CATALOG_FOR_OEM_INF: return "the package names no catalog file";
    case ERROR_NO_SUCH_DEVINST: return "no such device";
    case ERROR_NO_DRIVER_SELECTED: return "no driver was selected for the device";
    default: return nullptr;
  }
}

// The system's text for an error code, without its line end, followed by the code.
std::string ErrorText(DWORD code) {
  if (const char* text = InfErrorText(code)) {
    char code16[16];
    std::snprintf(code16, sizeof code16, "0x%08lX", static_cast<unsigned long>(code));
    return std::string(text) + " (" + code16 + ")";
  }
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n != 0 && buffer != nullptr ? std::wstring(buffer, n) : L"unknown error";
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
    text.pop_back();
  char code16[16];
  std::snprintf(code16, sizeof code16, "0x%08lX", static_cast<unsigned long>(code));
  return Narrow(text) + " (" + code16 + ")";
}

bool SameText(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

// ---- the log: DPINST.LOG in the Windows folder, appended, one event per line, ANSI code page ----

class Log {
 public:
  bool Open() {
    wchar_t windows[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    file_ = CreateFileW((std::wstring(windows) + L"\\DPINST.LOG").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }
  ~Log() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  void EchoToConsole() {
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) {
      // No console to attach to: standard output, if any, is a file or pipe.
    }
    console_ = GetStdHandle(STD_OUTPUT_HANDLE);
  }
  // `text` is UTF-8; the file gets the ANSI code page, as the program that reads it expects.
  void Line(const std::string& level, const std::string& text) {
    const std::string line = Narrow(Wide(level + ": " + text), CP_ACP) + "\r\n";
    DWORD written = 0;
    if (file_ != INVALID_HANDLE_VALUE) WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (console_ != nullptr && console_ != INVALID_HANDLE_VALUE)
      WriteFile(console_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  void Info(const std::string& text) { Line("INFO", text); }
  void Success(const std::string& text) { Line("SUCCESS", text); }
  void Warning(const std::string& text) { Line("WARNING", text); }
  void Error(const std::string& text) { Line("ERROR", text); }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE console_ = nullptr;
};

// ---- the small window of an interactive run ----

class ProgressWindow {
 public:
  void Show(int steps) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    window_ = CreateWindowExW(0, L"STATIC", L"Driver package installer", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE,
                              CW_USEDEFAULT, CW_USEDEFAULT, 460, 130, nullptr, nullptr, nullptr, nullptr);
    if (window_ == nullptr) return;
    label_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS, 10, 10, 430, 20, window_,
                             nullptr, nullptr, nullptr);
    bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 40, 430, 20, window_, nullptr, nullptr,
                           nullptr);
    SendMessageW(bar_, PBM_SETRANGE32, 0, steps);
    Pump();
  }
  void Step(int done, const std::string& text) {
    if (window_ == nullptr) return;
    SetWindowTextW(label_, Wide(text).c_str());
    SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(done), 0);
    Pump();
  }
  HWND handle() const { return window_; }
  ~ProgressWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }

 private:
  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  HWND window_ = nullptr, label_ = nullptr, bar_ = nullptr;
};

// ---- this Windows ----

Platform ThisPlatform() {
  Platform p;
#if defined(__aarch64__)
  p.architecture = Architecture::Arm64;
#elif defined(_WIN64)
  p.architecture = Architecture::Amd64;
#else
  p.architecture = Architecture::X86;
#endif
  // GetVersionEx reports the version the program's manifest allows; RtlGetVersion the real one.
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto rtlGetVersion =
      ntdll != nullptr ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                       : nullptr;
  if (rtlGetVersion != nullptr && rtlGetVersion(&info) == 0) {
    p.major = info.dwMajorVersion;
    p.minor = info.dwMinorVersion;
    p.build = info.dwBuildNumber;
    p.productType = info.wProductType;
  }
  return p;
}

bool IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

// True when this process is a 32-bit process on 64-bit Windows.
bool RunsUnderWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
  BOOL wow64 = FALSE;
  return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// ---- devices present ----

std::vector<std::string> MultiSz(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property) {
  std::vector<wchar_t> buffer(1024);
  DWORD size = 0;
  while (!SetupDiGetDeviceRegistryPropertyW(set, &data, property, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                                            static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size() * sizeof(wchar_t)) return {};
    buffer.resize(size / sizeof(wchar_t) + 2);
  }
  buffer.push_back(L'\0');
  buffer.push_back(L'\0');
  std::vector<std::string> out;
  for (const wchar_t* p = buffer.data(); *p != L'\0'; p += lstrlenW(p) + 1) out.push_back(Narrow(p));
  return out;
}

std::vector<Device> PresentDevices(DWORD& error) {
  std::vector<Device> devices;
  const HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return devices;
  }
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &data, id, MAX_DEVICE_ID_LEN, nullptr)) continue;
    Device d;
    d.instanceId = Narrow(id);
    d.hardwareIds = MultiSz(set, data, SPDRP_HARDWAREID);
    d.compatibleIds = MultiSz(set, data, SPDRP_COMPATIBLEIDS);
    if (!d.hardwareIds.empty() || !d.compatibleIds.empty()) devices.push_back(std::move(d));
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

// The INF file of a device's driver as the system recorded it ("oem3.inf"); empty when none.
std::wstring DriverInfOf(const std::string& instanceId) {
  std::wstring inf;
  const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return inf;
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  if (SetupDiOpenDeviceInfoW(set, Wide(instanceId).c_str(), nullptr, 0, &data)) {
    const HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key != INVALID_HANDLE_VALUE) {
      wchar_t value[MAX_PATH] = {};
      DWORD size = sizeof value - sizeof(wchar_t), type = 0;
      if (RegQueryValueExW(key, L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
          type == REG_SZ)
        inf = value;
      RegCloseKey(key);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return inf;
}

// ---- one driver package, read through the system's INF functions ----

struct Package {
  std::wstring inf;
  std::vector<Model> models;
  bool driverPackage = true;       // has a [Manufacturer] section
  std::string catalog;             // the catalog file the INF names; empty when none
  bool signedCatalog = false;
  std::vector<std::string> missingFiles;
};

std::wstring Field(INFCONTEXT& line, DWORD index) {
  DWORD size = 0;
  if (!SetupGetStringFieldW(&line, index, nullptr, 0, &size) || size == 0) return {};
  std::wstring out(size, L'\0');
  if (!SetupGetStringFieldW(&line, index, out.data(), size, nullptr)) return {};
  out.resize(size - 1);
  return out;
}

std::vector<std::wstring> Fields(INFCONTEXT& line, DWORD first) {
  std::vector<std::wstring> out;
  const DWORD count = SetupGetFieldCount(&line);
  for (DWORD i = first; i <= count; ++i) out.push_back(Field(line, i));
  return out;
}

std::wstring DecorationSuffix(const Platform& p) {
  switch (p.architecture) {
    case Architecture::X86: return L"x86";
    case Architecture::Amd64: return L"amd64";
    case Architecture::Arm64: return L"arm64";
  }
  return L"";
}

// A [Version] or [SourceDisks*] entry: the one decorated for this architecture first.
bool FindDecorated(HINF inf, const std::wstring& section, const wchar_t* key, const Platform& p, INFCONTEXT& line) {
  const std::wstring nt = section + L".NT" + DecorationSuffix(p), plain = section + L"." + DecorationSuffix(p);
  if (key == nullptr) {
    return SetupFindFirstLineW(inf, nt.c_str(), nullptr, &line) || SetupFindFirstLineW(inf, plain.c_str(), nullptr, &line) ||
           SetupFindFirstLineW(inf, section.c_str(), nullptr, &line);
  }
  const std::wstring ntKey = std::wstring(key) + L".NT" + DecorationSuffix(p);
  return SetupFindFirstLineW(inf, section.c_str(), ntKey.c_str(), &line) ||
         SetupFindFirstLineW(inf, section.c_str(), key, &line);
}

bool CatalogSigned(const std::wstring& path) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA trust{};
  trust.cbStruct = sizeof trust;
  trust.dwUIChoice = WTD_UI_NONE;
  trust.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust.dwUnionChoice = WTD_CHOICE_FILE;
  trust.pFile = &file;
  trust.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
  trust.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
  return result == ERROR_SUCCESS;
}

// Reads the package; false with `error` set when the INF file cannot be read.
bool ReadPackage(Package& package, const Platform& platform, std::string& error) {
  UINT errorLine = 0;
  const HINF inf = SetupOpenInfFileW(package.inf.c_str(), nullptr, INF_STYLE_WIN4, &errorLine);
  if (inf == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error = "the INF file cannot be read" + (errorLine != 0 ? " (line " + std::to_string(errorLine) + ")" : std::string()) +
            ": " + ErrorText(code);
    return false;
  }
  const std::wstring folder = package.inf.substr(0, package.inf.find_last_of(L'\\'));
  INFCONTEXT line;
  // The models: each [Manufacturer] line names a models section and the decorations it has.
  if (!SetupFindFirstLineW(inf, L"Manufacturer", nullptr, &line)) {
    package.driverPackage = false;
  } else {
    do {
      const std::wstring base = Field(line, 1);
      if (base.empty()) continue;
      std::vector<std::string> decorations;
      for (const std::wstring& d : Fields(line, 2)) decorations.push_back(Narrow(d));
      const std::optional<std::string> chosen = ChooseDecoration(decorations, platform);
      if (!chosen) continue;
      const std::wstring section = chosen->empty() ? base : base + L"." + Wide(*chosen);
      INFCONTEXT model;
      if (!SetupFindFirstLineW(inf, section.c_str(), nullptr, &model)) continue;
      do {
        Model m;
        m.description = Narrow(Field(model, 0));
        m.installSection = Narrow(Field(model, 1));
        for (const std::wstring& id : Fields(model, 2))
          if (!id.empty()) m.ids.push_back(Narrow(id));
        if (!m.ids.empty()) package.models.push_back(std::move(m));
      } while (SetupFindNextLine(&model, &model));
    } while (SetupFindNextLine(&line, &line));
  }
  // The catalog file that signs the package.
  if (FindDecorated(inf, L"Version", L"CatalogFile", platform, line)) {
    const std::wstring catalog = Field(line, 1);
    if (!catalog.empty()) {
      package.catalog = Narrow(catalog);
      const std::wstring path = folder + L"\\" + catalog;
      package.signedCatalog = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES && CatalogSigned(path);
    }
  }
  // The files the package names: [SourceDisksFiles] entries on the disks of [SourceDisksNames].
  INFCONTEXT file;
  if (FindDecorated(inf, L"SourceDisksFiles", nullptr, platform, file)) {
    do {
      const std::wstring name = Field(file, 0), disk = Field(file, 1), subfolder = Field(file, 2);
      if (name.empty()) continue;
      std::wstring diskPath;
      INFCONTEXT diskLine;
      if (!disk.empty() && FindDecorated(inf, L"SourceDisksNames", disk.c_str(), platform, diskLine))
        diskPath = Field(diskLine, 4);
      std::wstring path = folder;
      for (const std::wstring& part : {diskPath, subfolder}) {
        std::wstring p = part;
        while (!p.empty() && p.front() == L'\\') p.erase(0, 1);
        if (!p.empty()) path += L"\\" + p;
      }
      path += L"\\" + name;
      if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) package.missingFiles.push_back(Narrow(name));
    } while (SetupFindNextLine(&file, &file));
  }
  SetupCloseInfFile(inf);
  return true;
}

// ---- the run ----

bool ListFolderW(const std::string& folder, std::vector<FolderEntry>& entries) {
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW((Wide(folder) + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    FolderEntry e;
    e.name = Narrow(name);
    e.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back(std::move(e));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, n);
  return text.substr(0, text.find_last_of(L'\\'));
}

std::string ReadDescriptor(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (bytes.size() < (1u << 20) && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got != 0) bytes.append(buffer, got);
  CloseHandle(file);
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
    return Narrow(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2));
  return bytes;
}

class Installer {
 public:
  Installer(const InstallerOptions& options, Log& log) : options_(options), log_(log) {}

  int Run(const std::wstring& root) {
    const Platform platform = ThisPlatform();
    // The system's own driver packages are installed already; a search of the Windows folder
    // must not take them for new ones.
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::string system = Narrow(windows);
    const std::vector<std::string> excluded{system + "\\inf", system + "\\System32\\DriverStore",
                                            system + "\\SysWOW64", system + "\\WinSxS"};
    const PackageSearch search = FindDriverPackages(Narrow(root), '\\', ListFolderW, excluded);
    for (const std::string& skipped : search.skipped)
      log_.Info("Folder left out (link, staging folder or the system's own drivers): " + skipped);
    for (const std::string& unreadable : search.unreadable) log_.Warning("Folder cannot be read: " + unreadable);
    log_.Info(std::to_string(search.infFiles.size()) + " INF files found");
    DWORD deviceError = 0;
    devices_ = PresentDevices(deviceError);
    if (deviceError != 0) log_.Error("The present devices cannot be listed: " + ErrorText(deviceError));
    log_.Info(std::to_string(devices_.size()) + " present devices");
    ProgressWindow window;
    if (!options_.silent && !options_.suppressWizard) window.Show(static_cast<int>(search.infFiles.size()));
    window_ = window.handle();
    int done = 0;
    for (const std::string& inf : search.infFiles) {
      window.Step(done++, inf);
      Package package;
      package.inf = Wide(inf);
      bool serves = false;
      const Outcome outcome = Handle(package, platform, serves);
      summary_.Add(outcome, serves);
    }
    if (search.infFiles.empty()) log_.Warning("No driver package below " + Narrow(root));
    window.Step(done, "Done");
    return summary_.Status();
  }

  const Summary& summary() const { return summary_; }

 private:
  Outcome Handle(Package& package, const Platform& platform, bool& serves) {
    const std::string inf = Narrow(package.inf);
    log_.Info("Driver package: " + inf);
    std::string error;
    if (!ReadPackage(package, platform, error)) {
      log_.Error("Failed: " + inf + ": " + error);
      return Outcome::Failed;
    }
    if (!package.driverPackage) {
      log_.Info("Not needed: " + inf + " is no device driver package (no [Manufacturer] section)");
      return Outcome::NotNeeded;
    }
    const std::vector<Served> served = MatchDevices(package.models, devices_);
    serves = !served.empty();
    for (const Served& s : served)
      log_.Info("  serves the present device " + devices_[s.device].instanceId + " through " + s.id + " (" +
                package.models[s.model].description + ")");
    // Even in legacy mode: the system's file copy would wait for the missing file.
    if (!package.missingFiles.empty()) {
      std::string names;
      for (const std::string& name : package.missingFiles) names += (names.empty() ? "" : ", ") + name;
      log_.Error("Failed: " + inf + ": files it names are missing: " + names);
      return Outcome::Failed;
    }
    if (!package.signedCatalog && !options_.legacyMode) {
      const std::string why = package.catalog.empty() ? "names no catalog file" : "has no valid signature in " + package.catalog;
      if (options_.silent || !serves) {
        log_.Warning("Not installed: " + inf + " is not signed (it " + why + "); a silent run installs signed packages only, /lm accepts unsigned ones");
        return Outcome::Unsigned;
      }
      const std::wstring question = L"The driver package " + package.inf + L" is not signed.\r\nInstall it anyway?";
      if (MessageBoxW(window_, question.c_str(), L"Driver package installer", MB_YESNO | MB_ICONWARNING) != IDYES) {
        log_.Warning("Not installed: " + inf + " is not signed (it " + why + "); the user declined it");
        return Outcome::Unsigned;
      }
      log_.Info("Unsigned package accepted by the user: " + inf);
    }
    if (!serves && options_.scanHardware) {
      log_.Info("Not needed: " + inf + " serves no present device; left out of the driver store (/sh)");
      return Outcome::NotNeeded;
    }
    // Into the driver store; a package already there keeps its name.
    wchar_t stored[MAX_PATH] = {};
    wchar_t* storedName = nullptr;
    bool alreadyStored = false;
    if (!SetupCopyOEMInfW(package.inf.c_str(), nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, stored, MAX_PATH, nullptr,
                          &storedName)) {
      const DWORD code = GetLastError();
      if (code != ERROR_FILE_EXISTS) {
        log_.Error("Failed: " + inf + ": it cannot be added to the driver store: " + ErrorText(code));
        return Outcome::Failed;
      }
      alreadyStored = true;
    }
    const std::wstring storeName = storedName != nullptr ? storedName : stored;
    const std::string storeText = Narrow(storeName);
    if (!serves) {
      log_.Info("Not needed: " + inf + " serves no present device; " +
                (alreadyStored ? "already in the driver store as " : "added to the driver store as ") + storeText);
      return Outcome::NotNeeded;
    }
    log_.Info((alreadyStored ? "Already in the driver store as " : "Added to the driver store as ") + storeText);
    // The present devices it serves, one update per hardware ID they share with the package.
    int installed = 0, failed = 0;
    std::vector<std::string> updatedIds;
    for (const Served& s : served) {
      const Device& device = devices_[s.device];
      if (!options_.force && SameText(DriverInfOf(device.instanceId), storeName)) {
        log_.Info("Already up to date: " + device.instanceId + " runs " + inf);
        continue;
      }
      const bool done = std::any_of(updatedIds.begin(), updatedIds.end(),
                                    [&](const std::string& id) { return lstrcmpiA(id.c_str(), s.id.c_str()) == 0; });
      if (!done) {
        BOOL reboot = FALSE;
        DWORD flags = options_.force ? INSTALLFLAG_FORCE : 0;
        if (options_.silent) flags |= INSTALLFLAG_NONINTERACTIVE;
        if (!UpdateDriverForPlugAndPlayDevicesW(window_, Wide(s.id).c_str(), package.inf.c_str(), flags, &reboot)) {
          const DWORD code = GetLastError();
          if (code == ERROR_NO_MORE_ITEMS) {
            log_.Info("Already up to date: " + device.instanceId + " keeps its driver, a better match than " + inf);
          } else {
            log_.Error("Failed: " + inf + " on " + device.instanceId + ": " + ErrorText(code));
            ++failed;
          }
          continue;
        }
        updatedIds.push_back(s.id);
        if (reboot) log_.Warning("Windows must be restarted to finish installing " + inf);
      }
      log_.Success("Installed: " + inf + " on " + device.instanceId);
      ++installed;
    }
    if (failed > 0) return Outcome::Failed;
    return installed > 0 ? Outcome::Installed : Outcome::UpToDate;
  }

  const InstallerOptions& options_;
  Log& log_;
  std::vector<Device> devices_;
  HWND window_ = nullptr;
  Summary summary_;
};

int RunInstaller() {
  Log log;
  const bool logOpen = log.Open();
  const std::string commandLine = Narrow(GetCommandLineW());
  CommandLineResult parsed = ParseInstallerCommandLine(commandLine);
  InstallerOptions& options = parsed.options;
  if (options.console) log.EchoToConsole();
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  log.Info(std::string("Driver package installer started ") + stamp);
  log.Info("Command line: " + commandLine);
  if (!parsed.error.empty()) {
    log.Error("Command line refused: " + parsed.error);
    for (const std::string& usage : UsageLines()) log.Info("Usage: " + usage);
    log.Info("Summary: nothing done; exit status " + std::to_string(kExitCommandLine));
    return kExitCommandLine;
  }
  if (options.help) {
    for (const std::string& usage : UsageLines()) log.Info("Usage: " + usage);
    log.Info("Summary: nothing done; exit status 0");
    return logOpen ? kExitOk : kExitNoLog;
  }
  const std::wstring descriptor = OwnFolder() + L"\\DPInst.xml";
  if (GetFileAttributesW(descriptor.c_str()) != INVALID_FILE_ATTRIBUTES) {
    const std::vector<std::string> applied = ApplyDescriptor(ReadDescriptor(descriptor), options);
    std::string names;
    for (const std::string& name : applied) names += " " + name;
    log.Info("Descriptor " + Narrow(descriptor) + (names.empty() ? ": no flags" : ":" + names));
  }
  std::string flags;
  if (options.silent) flags += " silent";
  if (options.suppressWizard) flags += " no-wizard";
  if (options.legacyMode) flags += " legacy-mode";
  if (options.force) flags += " force";
  if (options.scanHardware) flags += " scan-hardware";
  for (const std::string& ignored : options.ignored) flags += " (" + ignored + ": accepted, changes nothing)";
  log.Info("Options:" + (flags.empty() ? std::string(" none") : flags));
  if (RunsUnderWow64()) {
    log.Error("This 32-bit DPINST.exe runs on 64-bit Windows, where it cannot install drivers: "
              "put the 64-bit DPINST.exe beside the program and run that one");
    log.Info("Summary: nothing done; exit status " + std::to_string(kExitWow64));
    return kExitWow64;
  }
  if (!IsAdministrator()) {
    log.Error("Installing drivers needs administrator rights: run the program as an administrator");
    log.Info("Summary: nothing done; exit status " + std::to_string(kExitNotAdmin));
    return kExitNotAdmin;
  }
  std::wstring folder = options.folder.empty() ? L"." : Wide(options.folder);
  wchar_t full[MAX_PATH * 4] = {};
  const DWORD n = GetFullPathNameW(folder.c_str(), MAX_PATH * 4, full, nullptr);
  if (n != 0 && n < MAX_PATH * 4) folder = full;
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    log.Error("No folder " + Narrow(folder) + (attributes == INVALID_FILE_ATTRIBUTES ? ": " + ErrorText(GetLastError()) : ""));
    log.Info("Summary: nothing done; exit status " + std::to_string(kExitNoFolder));
    return kExitNoFolder;
  }
  log.Info("Searching " + Narrow(folder) + " and every folder below it");
  Installer installer(options, log);
  const int status = installer.Run(folder);
  log.Info(installer.summary().Line());
  if (!options.silent && !options.suppressWizard)
    MessageBoxW(nullptr, Wide(installer.summary().Line()).c_str(), L"Driver package installer", MB_OK | MB_ICONINFORMATION);
  return logOpen ? status : kExitNoLog;
}

}  // namespace

int main() { return RunInstaller(); }
