// The sysfs device enumeration: ACPI devices and the processors.
//
// Hardware identifiers as Windows' ACPI driver forms them (Microsoft, "Device management
// namespace objects", learn.microsoft.com/windows-hardware/drivers/bringup/
// device-management-namespace-objects): from a _HID of a vendor part and four hexadecimal
// digits, "ACPI\VEN_<vendor>&DEV_<digits>", then "ACPI\<hid>" and "*<hid>"; the star form is the
// one older INF files name the device by ("*PNP0303", "*PNP0501"). Other _HID values (and the
// processors, at each of their levels) get the "ACPI\" and the "*" forms.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/posix/sysfs_devices.h"

namespace platform::devices::sysfs {

namespace {

struct AcpiKind {
  const char* hid;
  const char* className;
  const char* description;
};

const AcpiKind* FindAcpiKind(const std::string& hid) {
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

}  // namespace

std::vector<std::string> AcpiHardwareIds(const std::string& hid) {
  std::vector<std::string> ids;
  // "PNP0303" (three letters), "ACPI0013", "INT3400" (three or four letters or digits), then
  // four hexadecimal digits.
  const std::size_t vendorLength = hid.size() >= 7 ? hid.size() - 4 : 0;
  if ((vendorLength == 3 || vendorLength == 4) && IsHexText(std::string_view(hid).substr(vendorLength))) {
    ids.push_back("ACPI\\VEN_" + hid.substr(0, vendorLength) + "&DEV_" + hid.substr(vendorLength));
  }
  ids.push_back("ACPI\\" + hid);
  ids.push_back("*" + hid);
  return ids;
}

void Enumerator::EnumerateAcpi() {
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
    info.hardwareIds = AcpiHardwareIds(*hid);
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

void Enumerator::EnumerateProcessors() {
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
      const std::string cpuId = vendor + "_-_" + architecture + "_Family_" + std::to_string(*family) +
                                "_Model_" + std::to_string(*model);
      info.instanceId = "ACPI\\" + cpuId + "\\_" + std::to_string(*number);
      // From the most specific level to the vendor alone, each as "ACPI\" and "*".
      for (const std::string& level : {cpuId, vendor + "_-_" + architecture + "_Family_" + std::to_string(*family),
                                       vendor + "_-_" + architecture, vendor}) {
        info.hardwareIds.push_back("ACPI\\" + level);
        info.hardwareIds.push_back("*" + level);
      }
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

}  // namespace platform::devices::sysfs
