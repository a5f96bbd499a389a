// Device enumeration on Linux: the present devices read from sysfs and written as the
// device instance identifiers Windows would give them, with a device setup class guessed
// from the bus's class codes, the kernel module as the driver and its files from
// modules.dep.
//
// Everything is read below one root (VELMORA_SYSFS, default "/sys"); the processor comes
// from <root>/../proc/cpuinfo and the kernel modules from <root>/../lib/modules/<release>
// (<release> from <root>/../proc/sys/kernel/osrelease), so a test tree holds a whole
// small machine. Entries that are missing, unreadable or not what they should be leave
// their device out; nothing here throws for a strange tree.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/devices.h"

namespace platform::devices {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxAttributeBytes = 64 * 1024;
constexpr std::size_t kMaxEdidBytes = 32 * 1024;
constexpr std::size_t kMaxTableBytes = 32 * 1024 * 1024;  // cpuinfo, modules.dep, modules.builtin
constexpr std::size_t kMaxInstanceIdLength = 199;         // Windows' limit without the final zero

bool bound = false;

// ---- reading sysfs ----

std::optional<std::string> ReadFileLimited(const fs::path& path, std::size_t limit) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data(limit, '\0');
  in.read(data.data(), static_cast<std::streamsize>(limit));
  if (in.bad()) return std::nullopt;
  data.resize(static_cast<std::size_t>(in.gcount()));
  return data;
}

std::string_view TrimView(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// A text attribute without surrounding blanks and line ends.
std::optional<std::string> ReadAttr(const fs::path& dir, const char* name) {
  auto data = ReadFileLimited(dir / name, kMaxAttributeBytes);
  if (!data) return std::nullopt;
  return std::string(TrimView(*data));
}

// "0x1af4", "1af4", "10ec0269": a hexadecimal number not above `max`.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t max) {
  text = TrimView(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16u + static_cast<std::uint32_t>(digit);
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ParseDec(std::string_view text, std::uint32_t max) {
  text = TrimView(text);
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ReadHex(const fs::path& dir, const char* name, std::uint32_t max) {
  const auto text = ReadAttr(dir, name);
  if (!text) return std::nullopt;
  return ParseHex(*text, max);
}

std::optional<std::uint32_t> ReadDec(const fs::path& dir, const char* name, std::uint32_t max) {
  const auto text = ReadAttr(dir, name);
  if (!text) return std::nullopt;
  return ParseDec(*text, max);
}

// Names in a folder, sorted so that the enumeration order does not depend on the file system.
std::vector<std::string> ListNames(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    names.push_back(it->path().filename().string());
    if (names.size() > 100000) break;  // a runaway folder, not a machine
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Hex(std::uint32_t value, int width) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xFu]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(text.size()) < width) text.insert(text.begin(), '0');
  return text;
}

// FNV-1a over a path below the root: a short, stable stand-in for the hashes in Windows'
// instance identifiers.
std::uint32_t PathHash(const std::string& text) {
  std::uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

// "<level>&<hash>&0&<tail>" (or without the tail), the shape of Windows' generated instances.
std::string GeneratedInstance(int level, const std::string& hashedPath, const std::string& tail) {
  std::string text = std::to_string(level) + "&" + Hex(PathHash(hashedPath), 1) + "&0";
  if (!tail.empty()) text += "&" + tail;
  return text;
}

bool IsHexText(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// "0000:00:1f.3"
bool IsPciAddress(std::string_view name) {
  return name.size() == 12 && IsHexText(name.substr(0, 4)) && name[4] == ':' &&
         IsHexText(name.substr(5, 2)) && name[7] == ':' && IsHexText(name.substr(8, 2)) && name[10] == '.' &&
         IsHexText(name.substr(11, 1));
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// Windows keeps only printable ASCII without blanks and commas in identifiers.
std::string SanitizeIdPart(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back((u <= 0x20 || u >= 0x7F || c == ',') ? '_' : c);
  }
  return out;
}

bool IsCleanIdPart(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != ',' && c != '\\';
  });
}

std::string ModuleKey(std::string name) {
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

// ---- kernel modules ----

struct ModuleTables {
  bool loaded = false;
  fs::path dir;                                                   // <root>/../lib/modules/<release>
  std::unordered_map<std::string, std::vector<std::string>> dep;  // module -> its file and dependencies
  std::unordered_set<std::string> builtin;
};

// "kernel/drivers/net/virtio_net.ko.xz" -> "virtio_net"
std::string ModuleNameOfPath(std::string_view path) {
  const auto slash = path.find_last_of('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const auto ko = path.find(".ko");
  if (ko != std::string_view::npos) path = path.substr(0, ko);
  return ModuleKey(std::string(path));
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

void LoadModuleTables(const fs::path& root, ModuleTables& tables) {
  tables.loaded = true;
  const auto release =
      ReadFileLimited(root / ".." / "proc" / "sys" / "kernel" / "osrelease", kMaxAttributeBytes);
  if (!release) return;
  const std::string releaseName(TrimView(*release));
  if (releaseName.empty() || releaseName.find('/') != std::string::npos || releaseName == "..") return;
  const auto dir = (root / ".." / "lib" / "modules" / releaseName).lexically_normal();
  if (!IsDirectory(dir)) return;
  tables.dir = dir;
  if (const auto dep = ReadFileLimited(tables.dir / "modules.dep", kMaxTableBytes)) {
    for (const auto line : SplitLines(*dep)) {
      const auto colon = line.find(':');
      if (colon == std::string_view::npos || colon == 0) continue;
      std::vector<std::string> files;
      files.emplace_back(TrimView(line.substr(0, colon)));
      for (const auto word : SplitBlanks(line.substr(colon + 1))) files.emplace_back(word);
      tables.dep.emplace(ModuleNameOfPath(files.front()), std::move(files));
    }
  }
  if (const auto builtin = ReadFileLimited(tables.dir / "modules.builtin", kMaxTableBytes)) {
    for (const auto line : SplitLines(*builtin)) {
      const auto trimmed = TrimView(line);
      if (!trimmed.empty()) tables.builtin.insert(ModuleNameOfPath(trimmed));
    }
  }
}

// ---- the enumeration ----

class Enumerator {
 public:
  explicit Enumerator(bool withDrivers) : withDrivers_(withDrivers) {
    const char* env = std::getenv("VELMORA_SYSFS");
    root_ = (env != nullptr && *env != '\0') ? fs::path(env) : fs::path("/sys");
    std::error_code ec;
    canonicalRoot_ = fs::canonical(root_, ec);
    if (ec) canonicalRoot_ = root_.lexically_normal();
  }

  std::vector<DeviceInfo> Run() {
    EnumeratePci();
    EnumerateUsb();
    EnumerateHid();
    EnumerateHdAudio();
    EnumerateScsi();
    EnumerateDisplays();
    EnumerateAcpi();
    EnumerateProcessors();
    return std::move(devices_);
  }

 private:
  // The device folder with every link resolved; empty when it cannot be resolved.
  fs::path Resolve(const fs::path& path) const {
    std::error_code ec;
    auto resolved = fs::canonical(path, ec);
    if (ec) return {};
    return resolved;
  }

  // A path below the root as text, the same wherever the root lies.
  std::string Below(const fs::path& resolved) const {
    return resolved.lexically_relative(canonicalRoot_).generic_string();
  }

  void Add(DeviceInfo info, const fs::path& deviceDir) {
    if (info.instanceId.empty() || info.instanceId.size() > kMaxInstanceIdLength) return;
    if (withDrivers_ && !deviceDir.empty()) FillDriver(info, deviceDir);
    devices_.push_back(std::move(info));
  }

  // The kernel module bound to the device and its files.
  void FillDriver(DeviceInfo& info, const fs::path& deviceDir) {
    std::error_code ec;
    const auto driverLink = fs::read_symlink(deviceDir / "driver", ec);
    if (ec) return;
    std::string module;
    const auto moduleLink = fs::read_symlink(deviceDir / "driver" / "module", ec);
    if (!ec) module = moduleLink.filename().string();
    if (module.empty()) module = driverLink.filename().string();
    module = ModuleKey(module);
    if (module.empty()) return;
    info.driver = module;
    if (!modules_.loaded) LoadModuleTables(root_, modules_);
    if (modules_.dir.empty()) {
      info.driverSource = "kernel";
      return;
    }
    if (const auto it = modules_.dep.find(module); it != modules_.dep.end()) {
      info.driverSource = (modules_.dir / "modules.dep").string();
      for (const auto& file : it->second) {
        info.driverFiles.push_back(StartsWith(file, "/") ? file : (modules_.dir / file).string());
      }
    } else {
      info.driverSource = (modules_.dir / "modules.builtin").string();
    }
  }

  // ---- PCI ----

  static std::string PciClass(std::uint32_t code) {
    const auto base = (code >> 16) & 0xFFu;
    const auto sub = (code >> 8) & 0xFFu;
    switch (base) {
      case 0x00:
        return sub == 0x01 ? "Display" : "System";
      case 0x01:
        if (sub == 0x01 || sub == 0x05) return "HDC";
        if (sub == 0x06) return (code & 0xFFu) == 0x01 ? "HDC" : "SCSIAdapter";
        return "SCSIAdapter";
      case 0x02:
        return "Net";
      case 0x03:
        return "Display";
      case 0x04:
        return sub == 0x03 ? "System" : "Media";
      case 0x07:
        if (sub == 0x00 || sub == 0x01) return "Ports";
        if (sub == 0x03) return "Modem";
        return "System";
      case 0x08:
        return sub == 0x05 ? "SDHost" : "System";
      case 0x09:
        if (sub == 0x00) return "Keyboard";
        if (sub == 0x02) return "Mouse";
        return "HIDClass";
      case 0x0C:
        if (sub == 0x00) return "1394";
        if (sub == 0x03) return "USB";
        return "System";
      case 0x0D:
        return sub == 0x11 ? "Bluetooth" : "Net";
      default:
        return "System";
    }
  }

  // Windows numbers the levels of generated instances from 3 for the root bus's devices.
  static int PciLevel(const fs::path& resolved) {
    int bridges = 0;
    for (const auto& part : resolved.parent_path()) {
      if (IsPciAddress(part.string())) ++bridges;
    }
    return 3 + bridges;
  }

  void EnumeratePci() {
    const auto dir = root_ / "bus" / "pci" / "devices";
    for (const auto& name : ListNames(dir)) {
      if (!IsPciAddress(name)) continue;
      const auto device = Resolve(dir / name);
      if (device.empty()) continue;
      const auto vendor = ReadHex(device, "vendor", 0xFFFF);
      const auto id = ReadHex(device, "device", 0xFFFF);
      const auto revision = ReadHex(device, "revision", 0xFF);
      const auto classCode = ReadHex(device, "class", 0xFFFFFF);
      if (!vendor || !id || !revision || !classCode || *vendor == 0xFFFF) continue;
      const auto subVendor = ReadHex(device, "subsystem_vendor", 0xFFFF).value_or(0);
      const auto subDevice = ReadHex(device, "subsystem_device", 0xFFFF).value_or(0);
      const auto slot = ParseHex(name.substr(8, 2), 0x1F);
      const auto function = ParseHex(name.substr(11, 1), 0x7);
      if (!slot || !function) continue;

      DeviceInfo info;
      info.instanceId =
          "PCI\\VEN_" + Hex(*vendor, 4) + "&DEV_" + Hex(*id, 4) + "&SUBSYS_" + Hex(subDevice, 4) +
          Hex(subVendor, 4) + "&REV_" + Hex(*revision, 2) + "\\" +
          GeneratedInstance(PciLevel(device), Below(device.parent_path()), Hex((*slot << 3) | *function, 2));
      info.className = PciClass(*classCode);
      info.idBus = DeviceInfo::IdBus::Pci;
      info.vendorId = static_cast<std::uint16_t>(*vendor);
      info.deviceId = static_cast<std::uint16_t>(*id);
      info.subVendorId = static_cast<std::uint16_t>(subVendor);
      info.subDeviceId = static_cast<std::uint16_t>(subDevice);
      info.classCode = *classCode;
      Add(std::move(info), device);
    }
  }

  // ---- USB ----

  struct UsbFunction {
    std::string className;
    std::string description;
  };

  static UsbFunction UsbFunctionOf(std::uint32_t cls, std::uint32_t sub, std::uint32_t protocol) {
    switch (cls) {
      case 0x01:
        return {"Media", "USB Audio Device"};
      case 0x02:
        if (sub == 0x06 || sub == 0x0A || sub == 0x0D || sub == 0x0E) return {"Net", "USB Ethernet Adapter"};
        return {"Ports", "USB Serial Device"};
      case 0x03:
        return {"HIDClass", "USB Input Device"};
      case 0x06:
        return {"Image", "USB Imaging Device"};
      case 0x07:
        return {"USB", "USB Printing Support"};
      case 0x08:
        return {"USB", "USB Mass Storage Device"};
      case 0x09:
        return {"USB", "Generic USB Hub"};
      case 0x0A:
        return {"Ports", "USB Serial Device"};
      case 0x0B:
        return {"SmartCardReader", "USB Smart Card Reader"};
      case 0x0E:
        return {"Image", "USB Video Device"};
      case 0x10:
        return {"Media", "USB Audio/Video Device"};
      case 0xE0:
        if (sub == 0x01 && protocol == 0x01) return {"Bluetooth", "Generic Bluetooth Radio"};
        return {"Net", "USB Wireless Adapter"};
      default:
        return {"USB", "USB Device"};
    }
  }

  struct UsbInterface {
    fs::path dir;
    std::uint32_t number = 0;
    std::uint32_t cls = 0;
    std::uint32_t sub = 0;
    std::uint32_t protocol = 0;
  };

  std::vector<UsbInterface> UsbInterfacesOf(const fs::path& busDir, const std::vector<std::string>& names,
                                            const std::string& deviceName) {
    std::vector<UsbInterface> interfaces;
    // A root hub "usb2" has its interface as "2-0:1.0".
    const std::string prefix =
        StartsWith(deviceName, "usb") ? deviceName.substr(3) + "-0:" : deviceName + ":";
    for (const auto& name : names) {
      if (!StartsWith(name, prefix)) continue;
      UsbInterface entry;
      entry.dir = Resolve(busDir / name);
      if (entry.dir.empty()) continue;
      const auto number = ReadHex(entry.dir, "bInterfaceNumber", 0xFF);
      const auto cls = ReadHex(entry.dir, "bInterfaceClass", 0xFF);
      if (!number || !cls) continue;
      entry.number = *number;
      entry.cls = *cls;
      entry.sub = ReadHex(entry.dir, "bInterfaceSubClass", 0xFF).value_or(0);
      entry.protocol = ReadHex(entry.dir, "bInterfaceProtocol", 0xFF).value_or(0);
      interfaces.push_back(std::move(entry));
    }
    std::sort(interfaces.begin(), interfaces.end(),
              [](const UsbInterface& a, const UsbInterface& b) { return a.number < b.number; });
    return interfaces;
  }

  // The number after the last "-" or "." of "1-1.4": the port on the parent hub.
  static std::optional<std::uint32_t> UsbPort(const std::string& name) {
    const auto pos = name.find_last_of("-.");
    if (pos == std::string::npos) return std::nullopt;
    return ParseDec(std::string_view(name).substr(pos + 1), 255);
  }

  void EnumerateUsb() {
    const auto dir = root_ / "bus" / "usb" / "devices";
    const auto names = ListNames(dir);
    for (const auto& name : names) {
      if (name.find(':') != std::string::npos) continue;  // an interface, listed with its device
      const auto device = Resolve(dir / name);
      if (device.empty()) continue;
      const auto vendor = ReadHex(device, "idVendor", 0xFFFF);
      const auto product = ReadHex(device, "idProduct", 0xFFFF);
      if (!vendor || !product) continue;
      const auto interfaces = UsbInterfacesOf(dir, names, name);
      if (StartsWith(name, "usb")) {
        AddRootHub(device, *product, interfaces);
        continue;
      }
      const auto port = UsbPort(name);
      if (!port) continue;
      const auto deviceClass = ReadHex(device, "bDeviceClass", 0xFF).value_or(0);
      const auto interfaceCount = ReadDec(device, "bNumInterfaces", 255).value_or(0);
      // Windows puts a generic parent with one child per interface over devices that leave
      // their class to the interfaces (class 0, or "miscellaneous" with association descriptors).
      const bool composite = interfaceCount > 1 && (deviceClass == 0x00 || deviceClass == 0xEF);
      const std::string hardwareId = "USB\\VID_" + Hex(*vendor, 4) + "&PID_" + Hex(*product, 4);
      const int level = 5 + static_cast<int>(std::count(name.begin(), name.end(), '.'));

      DeviceInfo info;
      const auto serial = ReadAttr(device, "serial");
      const bool serialUsable = serial && IsCleanIdPart(*serial) && serial->size() <= 126;
      info.instanceId =
          hardwareId + "\\" +
          (serialUsable ? *serial
                        : GeneratedInstance(level, Below(device.parent_path()), std::to_string(*port)));
      UsbFunction function;
      if (composite) {
        function = {"USB", "USB Composite Device"};
      } else if (deviceClass == 0x09 || interfaces.empty()) {
        function = UsbFunctionOf(deviceClass, 0, 0);
      } else {
        function = UsbFunctionOf(interfaces.front().cls, interfaces.front().sub, interfaces.front().protocol);
      }
      info.className = function.className;
      const auto manufacturer = ReadAttr(device, "manufacturer").value_or("");
      const auto productName = ReadAttr(device, "product").value_or("");
      info.description = productName.empty()    ? function.description
                         : manufacturer.empty() ? productName
                                                : manufacturer + " " + productName;
      info.idBus = DeviceInfo::IdBus::Usb;
      info.vendorId = static_cast<std::uint16_t>(*vendor);
      info.deviceId = static_cast<std::uint16_t>(*product);
      // A single-function device is driven by its (first) interface's driver.
      const fs::path driverDir = (!composite && !interfaces.empty()) ? interfaces.front().dir : device;
      Add(std::move(info), driverDir);

      if (!composite) continue;
      for (const auto& entry : interfaces) {
        const auto interfaceFunction = UsbFunctionOf(entry.cls, entry.sub, entry.protocol);
        DeviceInfo child;
        child.instanceId = hardwareId + "&MI_" + Hex(entry.number, 2) + "\\" +
                           GeneratedInstance(level + 1, Below(device), Hex(entry.number, 4));
        child.className = interfaceFunction.className;
        child.description = interfaceFunction.description;
        Add(std::move(child), entry.dir);
      }
    }
  }

  void AddRootHub(const fs::path& device, std::uint32_t product,
                  const std::vector<UsbInterface>& interfaces) {
    const fs::path controller = device.parent_path();
    const auto controllerClass = ReadHex(controller, "class", 0xFFFFFF);
    const bool xhci = controllerClass && *controllerClass == 0x0C0330;
    std::string hub;
    if (product == 0x0003) {
      hub = "ROOT_HUB30";
    } else if (product == 0x0002) {
      if (xhci) return;  // Windows shows one USB 3 root hub for both halves of an xHCI controller
      hub = "ROOT_HUB20";
    } else {
      hub = "ROOT_HUB";
    }
    DeviceInfo info;
    info.instanceId = "USB\\" + hub + "\\" + GeneratedInstance(4, Below(controller), "");
    info.className = "USB";
    info.description = hub == "ROOT_HUB30" ? "USB Root Hub (USB 3.0)" : "USB Root Hub";
    Add(std::move(info), interfaces.empty() ? device : interfaces.front().dir);
  }

  // ---- HID ----

  // "0003:046D:C077.0001"
  static bool ParseHidName(const std::string& name, std::uint32_t& bus, std::uint32_t& vendor,
                           std::uint32_t& product) {
    if (name.size() < 19 || name[4] != ':' || name[9] != ':' || name[14] != '.') return false;
    const auto b = ParseHex(std::string_view(name).substr(0, 4), 0xFFFF);
    const auto v = ParseHex(std::string_view(name).substr(5, 4), 0xFFFF);
    const auto p = ParseHex(std::string_view(name).substr(10, 4), 0xFFFF);
    if (!b || !v || !p || !IsHexText(std::string_view(name).substr(15))) return false;
    bus = *b;
    vendor = *v;
    product = *p;
    return true;
  }

  // Mouse when the input layer made a mouse device of it, keyboard when it has keyboard
  // LEDs; otherwise the boot protocol of the USB interface decides.
  static std::string HidClass(const fs::path& hid, const fs::path& usbInterface) {
    for (const auto& input : ListNames(hid / "input")) {
      for (const auto& child : ListNames(hid / "input" / input)) {
        if (StartsWith(child, "mouse")) return "Mouse";
        if (child.size() > 10 && child.substr(child.size() - 10) == "::capslock") return "Keyboard";
      }
    }
    if (!usbInterface.empty() && ReadHex(usbInterface, "bInterfaceSubClass", 0xFF).value_or(0) == 0x01) {
      const auto protocol = ReadHex(usbInterface, "bInterfaceProtocol", 0xFF).value_or(0);
      if (protocol == 0x01) return "Keyboard";
      if (protocol == 0x02) return "Mouse";
    }
    return "HIDClass";
  }

  void EnumerateHid() {
    const auto dir = root_ / "bus" / "hid" / "devices";
    for (const auto& name : ListNames(dir)) {
      std::uint32_t bus = 0;
      std::uint32_t vendor = 0;
      std::uint32_t product = 0;
      if (!ParseHidName(name, bus, vendor, product)) continue;
      const auto device = Resolve(dir / name);
      if (device.empty()) continue;
      std::string id = "HID\\VID_" + Hex(vendor, 4) + "&PID_" + Hex(product, 4);
      fs::path usbInterface;
      int level = 5;
      if (bus == 0x0003) {
        const auto parent = device.parent_path();
        const auto number = ReadHex(parent, "bInterfaceNumber", 0xFF);
        if (number) {
          usbInterface = parent;
          const auto usbDevice = parent.parent_path();
          const auto interfaceCount = ReadDec(usbDevice, "bNumInterfaces", 255).value_or(0);
          const auto usbName = usbDevice.filename().string();
          level = 6 + static_cast<int>(std::count(usbName.begin(), usbName.end(), '.'));
          if (interfaceCount > 1) {
            id += "&MI_" + Hex(*number, 2);
            ++level;
          }
        }
      }
      DeviceInfo info;
      info.instanceId = id + "\\" + GeneratedInstance(level, Below(device.parent_path()), "0000");
      info.className = HidClass(device, usbInterface);
      info.description = info.className == "Mouse"      ? "HID-compliant mouse"
                         : info.className == "Keyboard" ? "HID Keyboard Device"
                                                        : "HID-compliant device";
      Add(std::move(info), device);
    }
  }

  // ---- HD Audio codecs ----

  // "hdaudioC0D2" or "hwC0D2": the codec address after the "D".
  static std::optional<std::uint32_t> CodecAddress(const std::string& name, std::string_view prefix) {
    if (!StartsWith(name, prefix)) return std::nullopt;
    const auto d = name.find('D', prefix.size());
    if (d == std::string::npos || d == prefix.size()) return std::nullopt;
    if (!ParseDec(std::string_view(name).substr(prefix.size(), d - prefix.size()), 255)) return std::nullopt;
    return ParseDec(std::string_view(name).substr(d + 1), 15);
  }

  void EnumerateHdAudio() {
    fs::path dir = root_ / "bus" / "hdaudio" / "devices";
    std::string_view prefix = "hdaudioC";
    if (!IsDirectory(dir)) {
      dir = root_ / "class" / "sound";
      prefix = "hwC";
    }
    for (const auto& name : ListNames(dir)) {
      const auto address = CodecAddress(name, prefix);
      if (!address) continue;
      const auto codec = Resolve(dir / name);
      if (codec.empty()) continue;
      const auto vendorId = ReadHex(codec, "vendor_id", 0xFFFFFFFF);
      const auto subsystemId = ReadHex(codec, "subsystem_id", 0xFFFFFFFF);
      const auto revisionId = ReadHex(codec, "revision_id", 0xFFFFFFFF);
      if (!vendorId || !subsystemId || !revisionId || *vendorId == 0) continue;
      const auto afg = ReadHex(codec, "afg", 0xFF).value_or(0);
      const auto mfg = ReadHex(codec, "mfg", 0xFF).value_or(0);
      const std::string vendorName = ReadAttr(codec, "vendor_name").value_or("");
      const std::string chipName = ReadAttr(codec, "chip_name").value_or("");
      const std::string chip = vendorName.empty() ? chipName
                               : chipName.empty() ? vendorName
                                                  : vendorName + " " + chipName;
      for (const auto& [function, node] : {std::pair<std::uint32_t, std::uint32_t>{1, afg}, {2, mfg}}) {
        if (node == 0) continue;
        DeviceInfo info;
        info.instanceId = "HDAUDIO\\FUNC_" + Hex(function, 2) + "&VEN_" + Hex(*vendorId >> 16, 4) + "&DEV_" +
                          Hex(*vendorId & 0xFFFFu, 4) + "&SUBSYS_" + Hex(*subsystemId, 8) + "&REV_" +
                          Hex((*revisionId >> 8) & 0xFFFFu, 4) + "\\" +
                          GeneratedInstance(4, Below(codec.parent_path()), Hex(*address, 2) + Hex(node, 2));
        info.className = function == 1 ? "Media" : "Modem";
        const std::string generic =
            function == 1 ? "High Definition Audio Device" : "High Definition Audio Modem";
        info.description = chip.empty() ? generic : generic + " (" + chip + ")";
        Add(std::move(info), codec);
      }
    }
  }

  // ---- SCSI ----

  static std::string ScsiTypeName(std::uint32_t type) {
    switch (type) {
      case 0x00:
        return "Disk";
      case 0x01:
        return "Sequential";
      case 0x02:
        return "Printer";
      case 0x03:
        return "Processor";
      case 0x04:
        return "Worm";
      case 0x05:
        return "CdRom";
      case 0x06:
        return "Scanner";
      case 0x07:
        return "Optical";
      case 0x08:
        return "Changer";
      case 0x09:
        return "Net";
      case 0x0C:
        return "Array";
      case 0x0D:
        return "Enclosure";
      case 0x0E:
        return "RBC";
      default:
        return "Other";
    }
  }

  static std::string ScsiClass(std::uint32_t type) {
    switch (type) {
      case 0x00:
      case 0x0E:
        return "DiskDrive";
      case 0x05:
        return "CDROM";
      case 0x01:
        return "TapeDrive";
      case 0x08:
        return "MediumChanger";
      case 0x02:
        return "Printer";
      case 0x06:
        return "Image";
      default:
        return "System";
    }
  }

  // Trailing blanks off, at most `width` characters.
  static std::string InquiryField(std::string_view text, std::size_t width) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\0'))
      text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return std::string(text.substr(0, width));
  }

  void EnumerateScsi() {
    const auto dir = root_ / "bus" / "scsi" / "devices";
    for (const auto& name : ListNames(dir)) {
      // "host:channel:target:lun"
      std::vector<std::uint32_t> address;
      std::string_view rest = name;
      bool valid = true;
      while (valid && address.size() < 4) {
        const auto colon = rest.find(':');
        const auto value = ParseDec(rest.substr(0, colon), 0xFFFFFF);
        valid = value.has_value();
        if (valid) address.push_back(*value);
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
      }
      if (!valid || address.size() != 4) continue;
      const auto device = Resolve(dir / name);
      if (device.empty()) continue;
      const auto type = ReadDec(device, "type", 0x1F);
      const auto rawVendor = ReadFileLimited(device / "vendor", kMaxAttributeBytes);
      const auto rawModel = ReadFileLimited(device / "model", kMaxAttributeBytes);
      if (!type || !rawVendor || !rawModel) continue;
      std::string vendor = InquiryField(*rawVendor, 8);
      std::string model = InquiryField(*rawModel, 16);
      const std::string revision =
          InquiryField(ReadFileLimited(device / "rev", kMaxAttributeBytes).value_or(""), 4);
      if (vendor == "ATA") {
        // ATA disks carry no vendor field; the first word of the model stands in for it.
        const std::string fullModel = InquiryField(*rawModel, 40);
        const auto blank = fullModel.find(' ');
        if (blank == std::string::npos) {
          vendor.clear();
          model = fullModel.substr(0, 16);
        } else {
          vendor = fullModel.substr(0, std::min<std::size_t>(blank, 8));
          model = InquiryField(std::string_view(fullModel).substr(blank + 1), 16);
        }
      }
      if (model.empty()) continue;
      DeviceInfo info;
      info.instanceId = "SCSI\\" + ScsiTypeName(*type) + "&Ven_" + SanitizeIdPart(vendor) + "&Prod_" +
                        SanitizeIdPart(model) + "&Rev_" + SanitizeIdPart(revision) + "\\" +
                        GeneratedInstance(4, Below(device.parent_path()),
                                          Hex(address[1] & 0xFFu, 2) + Hex(address[2] & 0xFFu, 2) +
                                              Hex(address[3] & 0xFFu, 2));
      info.className = ScsiClass(*type);
      std::string label = vendor.empty() ? model : vendor + " " + model;
      info.description = label + (*type == 0x05 ? " SCSI CdRom Device" : " SCSI Disk Device");
      if (*type != 0x00 && *type != 0x05 && *type != 0x0E) info.description = label + " SCSI Device";
      Add(std::move(info), device);
    }
  }

  // ---- monitors ----

  void EnumerateDisplays() {
    const auto dir = root_ / "class" / "drm";
    std::uint32_t index = 0;
    for (const auto& name : ListNames(dir)) {
      if (!StartsWith(name, "card") || name.find('-') == std::string::npos) continue;  // connectors only
      const auto connector = Resolve(dir / name);
      if (connector.empty()) continue;
      const auto edid = ReadFileLimited(connector / "edid", kMaxEdidBytes);
      if (!edid || edid->size() < 128) continue;
      const auto byte = [&](std::size_t i) { return static_cast<unsigned char>((*edid)[i]); };
      static const unsigned char kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
      if (!std::equal(kHeader, kHeader + 8, edid->begin(),
                      [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); })) {
        continue;
      }
      unsigned sum = 0;
      for (std::size_t i = 0; i < 128; ++i) sum += byte(i);
      if ((sum & 0xFFu) != 0) continue;
      const unsigned maker = (static_cast<unsigned>(byte(8)) << 8) | byte(9);
      std::string pnpId;
      for (const int shift : {10, 5, 0}) {
        const unsigned letter = (maker >> shift) & 0x1Fu;
        if (letter < 1 || letter > 26) break;
        pnpId.push_back(static_cast<char>('A' + letter - 1));
      }
      if (pnpId.size() != 3) continue;
      const unsigned productCode = byte(10) | (static_cast<unsigned>(byte(11)) << 8);
      // The monitor name descriptor (tag 0xFC), if the monitor has one.
      std::string monitorName;
      for (std::size_t offset = 54; offset <= 108; offset += 18) {
        if (byte(offset) != 0 || byte(offset + 1) != 0 || byte(offset + 3) != 0xFC) continue;
        for (std::size_t i = offset + 5; i < offset + 18 && byte(i) != 0x0A; ++i) {
          if (byte(i) >= 0x20 && byte(i) < 0x7F) monitorName.push_back(static_cast<char>(byte(i)));
        }
        monitorName = std::string(TrimView(monitorName));
      }
      const auto uid = ReadDec(connector, "connector_id", 0xFFFFFF).value_or(index);
      ++index;
      DeviceInfo info;
      info.instanceId = "DISPLAY\\" + pnpId + Hex(productCode, 4) + "\\" +
                        GeneratedInstance(5, Below(connector.parent_path()), "UID" + std::to_string(uid));
      info.className = "Monitor";
      info.description = monitorName.empty() ? "Generic PnP Monitor" : monitorName;
      Add(std::move(info), {});
    }
  }

  // ---- ACPI ----

  struct AcpiKind {
    const char* hid;
    const char* className;
    const char* description;
  };

  static const AcpiKind* FindAcpiKind(const std::string& hid) {
    static const AcpiKind kKinds[] = {
        {"PNP0A08", "System", "PCI Express Root Complex"},
        {"PNP0A03", "System", "PCI Bus"},
        {"PNP0A05", "System", "Generic Bus"},
        {"PNP0A06", "System", "Generic Bus"},
        {"PNP0303", "Keyboard", "Standard PS/2 Keyboard"},
        {"PNP030B", "Keyboard", "Standard PS/2 Keyboard"},
        {"PNP0F03", "Mouse", "PS/2 Compatible Mouse"},
        {"PNP0F13", "Mouse", "PS/2 Compatible Mouse"},
        {"PNP0500", "Ports", "Communications Port"},
        {"PNP0501", "Ports", "Communications Port"},
        {"PNP0400", "Ports", "Printer Port"},
        {"PNP0401", "Ports", "ECP Printer Port"},
        {"PNP0700", "fdc", "Standard floppy disk controller"},
        {"PNP0000", "System", "Programmable interrupt controller"},
        {"PNP0100", "System", "System timer"},
        {"PNP0103", "System", "High precision event timer"},
        {"PNP0200", "System", "Direct memory access controller"},
        {"PNP0800", "System", "System speaker"},
        {"PNP0B00", "System", "System CMOS/real time clock"},
        {"PNP0C01", "System", "System board"},
        {"PNP0C02", "System", "Motherboard resources"},
        {"PNP0C04", "System", "Numeric data processor"},
        {"PNP0C09", "System", "Microsoft ACPI-Compliant Embedded Controller"},
        {"PNP0C0A", "Battery", "Microsoft ACPI-Compliant Control Method Battery"},
        {"PNP0C0B", "System", "ACPI Fan"},
        {"PNP0C0C", "System", "ACPI Power Button"},
        {"PNP0C0D", "System", "ACPI Lid"},
        {"PNP0C0E", "System", "ACPI Sleep Button"},
        {"PNP0C0F", "System", "PCI Interrupt Link"},
        {"PNP0C14", "System", "Microsoft Windows Management Interface for ACPI"},
        {"ACPI0003", "Battery", "Microsoft AC Adapter"},
        {"ACPI0010", "System", "ACPI Processor Container Device"},
        {"ACPI000E", "System", "ACPI Wake Alarm"},
        {"FixedButton", "System", "ACPI Fixed Feature Button"},
        {"ThermalZone", "System", "ACPI Thermal Zone"},
    };
    for (const auto& kind : kKinds) {
      if (hid == kind.hid) return &kind;
    }
    return nullptr;
  }

  void EnumerateAcpi() {
    const auto dir = root_ / "bus" / "acpi" / "devices";
    for (const auto& name : ListNames(dir)) {
      const auto device = Resolve(dir / name);
      if (device.empty()) continue;
      auto hid = ReadAttr(device, "hid");
      if (!hid || hid->empty() || hid->size() > 16 || !std::all_of(hid->begin(), hid->end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c));
          })) {
        continue;
      }
      // Linux's own names: Windows knows two of them under other names, and lists the
      // processors (LNXCPU, ACPI0007) by their CPU identifiers instead.
      if (*hid == "LNXPWRBN") {
        *hid = "FixedButton";
      } else if (*hid == "LNXTHERM") {
        *hid = "ThermalZone";
      } else if (StartsWith(*hid, "LNX") || *hid == "ACPI0007") {
        continue;
      }
      std::string instance;
      if (const auto uid = ReadAttr(device, "uid"); uid && IsCleanIdPart(*uid) && uid->size() <= 16) {
        instance = *uid;
      } else {
        const auto colon = name.rfind(':');
        const auto number = colon == std::string::npos
                                ? std::nullopt
                                : ParseHex(std::string_view(name).substr(colon + 1), 0xFFFF);
        instance = std::to_string(number.value_or(0));
      }
      DeviceInfo info;
      info.instanceId = "ACPI\\" + *hid + "\\" + instance;
      const auto* kind = FindAcpiKind(*hid);
      info.className = kind != nullptr ? kind->className : "System";
      const auto ownDescription = ReadAttr(device, "description").value_or("");
      info.description = kind != nullptr          ? kind->description
                         : ownDescription.empty() ? "ACPI Device"
                                                  : ownDescription;
      // The ACPI node itself has no driver; the device it describes does.
      fs::path driverDir = device;
      if (!IsDirectory(device / "driver")) {
        for (const auto& node : ListNames(device)) {
          if (StartsWith(node, "physical_node") && IsDirectory(device / node / "driver")) {
            driverDir = Resolve(device / node);
            break;
          }
        }
      }
      Add(std::move(info), driverDir);
    }
  }

  // ---- processors ----

  void EnumerateProcessors() {
    const auto cpuinfo = ReadFileLimited(root_ / ".." / "proc" / "cpuinfo", kMaxTableBytes);
    if (!cpuinfo) return;
    std::map<std::string, std::string> fields;
    const auto flush = [&]() {
      if (fields.empty()) return;
      const auto number = ParseDec(fields["processor"], 0xFFFF);
      const auto family = ParseDec(fields["cpu family"], 0xFFFF);
      const auto model = ParseDec(fields["model"], 0xFFFF);
      const std::string vendor = fields["vendor_id"];
      if (number && family && model && IsCleanIdPart(vendor) && vendor.size() <= 16) {
        const auto flags = SplitBlanks(fields["flags"]);
        const bool longMode = std::find(flags.begin(), flags.end(), "lm") != flags.end();
        const std::string architecture = !longMode ? "x86" : vendor == "GenuineIntel" ? "Intel64" : "AMD64";
        DeviceInfo info;
        info.instanceId = "ACPI\\" + vendor + "_-_" + architecture + "_Family_" + std::to_string(*family) +
                          "_Model_" + std::to_string(*model) + "\\_" + std::to_string(*number);
        info.className = "Processor";
        info.description = fields["model name"].empty() ? "Processor" : fields["model name"];
        const auto cpuDir = root_ / "bus" / "cpu" / "devices" / ("cpu" + std::to_string(*number));
        Add(std::move(info), IsDirectory(cpuDir) ? Resolve(cpuDir) : fs::path());
      }
      fields.clear();
    };
    for (const auto line : SplitLines(*cpuinfo)) {
      const auto colon = line.find(':');
      if (TrimView(line).empty()) {
        flush();
        continue;
      }
      if (colon == std::string_view::npos) continue;
      fields[std::string(TrimView(line.substr(0, colon)))] = std::string(TrimView(line.substr(colon + 1)));
    }
    flush();
  }

  bool withDrivers_;
  fs::path root_;
  fs::path canonicalRoot_;
  ModuleTables modules_;
  std::vector<DeviceInfo> devices_;
};

}  // namespace

bool InitPnpApi() {
  bound = true;
  return true;
}

bool FreePnpApi() {
  const bool wasBound = bound;
  bound = false;
  return wasBound;
}

std::vector<BoundFunction> BoundFunctions() { return {}; }

std::vector<std::string> EnumerateDeviceIds(bool /*presentOnly: sysfs lists present devices only*/,
                                            const std::string& className) {
  if (!bound) return {};  // as on Windows, where nothing answers before the binding
  const bool allClasses = className.empty() || className == "*";
  std::vector<std::string> ids;
  for (auto& device : Enumerator(false).Run()) {
    if (allClasses || EqualNoCase(device.className, className)) ids.push_back(std::move(device.instanceId));
  }
  return ids;
}

std::vector<DeviceInfo> EnumerateDevices() {
  if (!bound) return {};
  return Enumerator(true).Run();
}

}  // namespace platform::devices
