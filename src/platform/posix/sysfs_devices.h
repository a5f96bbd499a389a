// The device enumeration on Linux, inside: the careful reading of sysfs and the enumerator that
// collects the present devices, shared by devices_posix.cpp (the enumerator and the platform
// functions) and one file per bus (devices_<bus>_posix.cpp). Nothing here throws for a strange
// tree: entries that are missing, unreadable or not what they should be leave their device out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/text_util.h"
#include "platform/devices.h"

namespace platform::devices::sysfs {

namespace fs = std::filesystem;

inline constexpr std::size_t kMaxAttributeBytes = 64 * 1024;
inline constexpr std::size_t kMaxEdidBytes = 32 * 1024;
inline constexpr std::size_t kMaxTableBytes = 32 * 1024 * 1024;  // cpuinfo, modules.dep, modules.builtin
inline constexpr std::size_t kMaxInstanceIdLength = 199;         // Windows' limit without the final zero

// ---- reading sysfs (sysfs_read_posix.cpp) ----

std::optional<std::string> ReadFileLimited(const fs::path& path, std::size_t limit);
std::string_view TrimView(std::string_view text);
bool IsDirectory(const fs::path& path);
// A text attribute without surrounding blanks and line ends.
std::optional<std::string> ReadAttr(const fs::path& dir, const char* name);
// "0x1af4", "1af4", "10ec0269": a hexadecimal number not above `max`.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t max);
std::optional<std::uint32_t> ParseDec(std::string_view text, std::uint32_t max);
std::optional<std::uint32_t> ReadHex(const fs::path& dir, const char* name, std::uint32_t max);
std::optional<std::uint32_t> ReadDec(const fs::path& dir, const char* name, std::uint32_t max);
// Names in a folder, sorted so that the enumeration order does not depend on the file system.
std::vector<std::string> ListNames(const fs::path& dir);
std::string Hex(std::uint32_t value, int width);
// FNV-1a over a path below the root: a short, stable stand-in for the hashes in Windows'
// instance identifiers.
std::uint32_t PathHash(const std::string& text);
// "<level>&<hash>&0&<tail>" (or without the tail), the shape of Windows' generated instances.
std::string GeneratedInstance(int level, const std::string& hashedPath, const std::string& tail);
bool IsHexText(std::string_view text);
// "0000:00:1f.3"
bool IsPciAddress(std::string_view name);
// The text helpers of the ground floor, by their short names here too.
using ::EqualNoCase;
using ::SplitLines;
using ::StartsWith;
// Windows keeps only printable ASCII without blanks and commas in identifiers.
std::string SanitizeIdPart(std::string_view text);
bool IsCleanIdPart(std::string_view text);
std::string ModuleKey(std::string name);
// "kernel/drivers/net/virtio_net.ko.xz" -> "virtio_net"
std::string ModuleNameOfPath(std::string_view path);
std::vector<std::string_view> SplitBlanks(std::string_view text);

struct ModuleTables {
  bool loaded = false;
  fs::path dir;                                                   // <root>/../lib/modules/<release>
  std::unordered_map<std::string, std::vector<std::string>> dep;  // module -> its file and dependencies
  std::unordered_set<std::string> builtin;
};

void LoadModuleTables(const fs::path& root, ModuleTables& tables);

// The hardware identifiers Windows lists for an ACPI device of this _HID
// (devices_acpi_posix.cpp): "PNP0303" gives "ACPI\\VEN_PNP&DEV_0303", "ACPI\\PNP0303", "*PNP0303".
std::vector<std::string> AcpiHardwareIds(const std::string& hid);

// ---- the enumerator ----

// A USB interface of a device: its folder and its class codes.
struct UsbInterface {
  fs::path dir;
  std::uint32_t number = 0;
  std::uint32_t cls = 0;
  std::uint32_t sub = 0;
  std::uint32_t protocol = 0;
};

// Collects the present devices of every bus below the root (VELMORA_SYSFS, default "/sys"), each
// bus in its own file, in a fixed order.
class Enumerator {
 public:
  // `onlyClass` (letter case ignored; "" or "*" for all) keeps only the devices of one class.
  explicit Enumerator(bool withDrivers, std::string onlyClass = "");
  std::vector<DeviceInfo> Run();

 private:
  // The device folder with every link resolved; empty when it cannot be resolved.
  fs::path Resolve(const fs::path& path) const;
  // A path below the root as text, the same wherever the root lies.
  std::string Below(const fs::path& resolved) const;
  // Keeps a device with a usable identifier, with its driver when asked for.
  void Add(DeviceInfo info, const fs::path& deviceDir);
  // The kernel module bound to the device and its files.
  void FillDriver(DeviceInfo& info, const fs::path& deviceDir);

  void EnumeratePci();  // devices_pci_posix.cpp
  void EnumerateUsb();  // devices_usb_posix.cpp
  std::vector<UsbInterface> UsbInterfacesOf(const fs::path& busDir, const std::vector<std::string>& names,
                                            const std::string& deviceName);
  void AddRootHub(const fs::path& device, std::uint32_t product, const std::vector<UsbInterface>& interfaces);
  void EnumerateHid();         // devices_usb_posix.cpp
  void EnumerateHdAudio();     // devices_hdaudio_posix.cpp
  void EnumerateScsi();        // devices_scsi_posix.cpp
  void EnumerateDisplays();    // devices_display_posix.cpp
  void EnumerateAcpi();        // devices_acpi_posix.cpp
  void EnumerateProcessors();  // devices_acpi_posix.cpp

  bool withDrivers_;
  std::string onlyClass_;
  fs::path root_;
  fs::path canonicalRoot_;
  ModuleTables modules_;
  std::vector<DeviceInfo> devices_;
};

}  // namespace platform::devices::sysfs
