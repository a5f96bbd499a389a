#include "devices/hwid_list.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

// ListedDevice lives in the global namespace: its comparison and printing must too.
bool operator==(const ListedDevice& a, const ListedDevice& b) {
  return a.instanceId == b.instanceId && a.hardwareIds == b.hardwareIds;
}

void PrintTo(const ListedDevice& d, std::ostream* os) {
  *os << d.instanceId << " [";
  for (const auto& id : d.hardwareIds) *os << id << "; ";
  *os << "]";
}

namespace {

// Written as "devcon hwids *" prints: the instance ID unindented, its lines indented by four
// blanks, the IDs under a heading by eight, a closing count. The older tool spells the headings
// "Hardware ID's:"; a device can have no compatible IDs, or no IDs at all.
const char* const kDevcon =
    "ACPI\\PNP0303\\4&1D401FB5&0\r\n"
    "    Name: Standard PS/2 Keyboard\r\n"
    "    Hardware IDs:\r\n"
    "        ACPI\\VEN_PNP&DEV_0303\r\n"
    "        ACPI\\PNP0303\r\n"
    "        *PNP0303\r\n"
    "PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4&REV_02\\3&267A616A&0&FA\r\n"
    "    Name: Standard SATA AHCI Controller\r\n"
    "    Hardware ID's:\r\n"
    "        PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4&REV_02\r\n"
    "        PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4\r\n"
    "        PCI\\VEN_8086&DEV_2922&CC_010601\r\n"
    "        PCI\\VEN_8086&DEV_2922&CC_0106\r\n"
    "    Compatible ID's:\r\n"
    "        PCI\\VEN_8086&DEV_2922&REV_02\r\n"
    "        PCI\\CC_0106\r\n"
    "ROOT\\LEGACY_BEEP\\0000\r\n"
    "    Name: Beep\r\n"
    "    No hardware/compatible IDs found for this device.\r\n"
    "USB\\VID_046D&PID_C52B&MI_01\\7&2C9A3F5&0&0001\r\n"
    "    Name: USB Input Device\r\n"
    "    Hardware IDs:\r\n"
    "        USB\\VID_046D&PID_C52B&REV_1211&MI_01\r\n"
    "        USB\\VID_046D&PID_C52B&MI_01\r\n"
    "    Compatible IDs:\r\n"
    "        USB\\Class_03&SubClass_01&Prot_02\r\n"
    "        USB\\Class_03\r\n"
    "4 matching device(s) found.\r\n";

// Written as "pnputil /enum-devices /ids" prints: a title, then one block per device, values in
// a column, further values of a field on lines indented to that column.
const char* const kPnputil =
    "Microsoft PnP Utility\r\n"
    "\r\n"
    "Instance ID:                ACPI\\PNP0303\\4&1d401fb5&0\r\n"
    "Device Description:         Standard PS/2 Keyboard\r\n"
    "Class Name:                 Keyboard\r\n"
    "Class GUID:                 {4d36e96b-e325-11ce-bfc1-08002be10318}\r\n"
    "Manufacturer Name:          (Standard keyboards)\r\n"
    "Status:                     Started\r\n"
    "Driver Name:                keyboard.inf\r\n"
    "Hardware IDs:               ACPI\\VEN_PNP&DEV_0303\r\n"
    "                            ACPI\\PNP0303\r\n"
    "                            *PNP0303\r\n"
    "\r\n"
    "Instance ID:                HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000\\4&2b3c&0&0001\r\n"
    "Device Description:         Realtek High Definition Audio\r\n"
    "Hardware IDs:               HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000\r\n"
    "                            HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D\r\n"
    "Compatible IDs:             HDAUDIO\\FUNC_01&CTLR_VEN_8086&CTLR_DEV_9D71&VEN_10EC&DEV_0257&REV_1000\r\n"
    "                            HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257\r\n"
    "Status:                     Started\r\n"
    "\r\n"
    "Instance ID:                ROOT\\BASICDISPLAY\\0000\r\n"
    "Device Description:         Microsoft Basic Display Driver\r\n";

const char* const kPlain =
    "; collected on the workshop's PC\n"
    "PCI\\VEN_8086&DEV_15D7\n"
    "\n"
    "  *PNP0501  \n"
    "USB\\VID_8087&PID_0A2B&REV_0010\n";

struct ParseCase {
  const char* what;
  std::string bytes;
  HwidListKind kind;
  std::vector<ListedDevice> devices;
};

std::string Utf16Le(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char c : text) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

TEST(ParseHwidList, ReadsEachToolsOutputAsTheToolWritesIt) {
  const std::vector<ListedDevice> devcon = {
      {"ACPI\\PNP0303\\4&1D401FB5&0", {"ACPI\\VEN_PNP&DEV_0303", "ACPI\\PNP0303", "*PNP0303"}},
      {"PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4&REV_02\\3&267A616A&0&FA",
       {"PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4&REV_02", "PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4",
        "PCI\\VEN_8086&DEV_2922&CC_010601", "PCI\\VEN_8086&DEV_2922&CC_0106"}},
      {"ROOT\\LEGACY_BEEP\\0000", {}},
      {"USB\\VID_046D&PID_C52B&MI_01\\7&2C9A3F5&0&0001",
       {"USB\\VID_046D&PID_C52B&REV_1211&MI_01", "USB\\VID_046D&PID_C52B&MI_01"}},
  };
  const std::vector<ListedDevice> pnputil = {
      {"ACPI\\PNP0303\\4&1d401fb5&0", {"ACPI\\VEN_PNP&DEV_0303", "ACPI\\PNP0303", "*PNP0303"}},
      {"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000\\4&2b3c&0&0001",
       {"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000",
        "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D"}},
      {"ROOT\\BASICDISPLAY\\0000", {}},
  };
  const std::vector<ListedDevice> plain = {
      {"PCI\\VEN_8086&DEV_15D7", {}}, {"*PNP0501", {}}, {"USB\\VID_8087&PID_0A2B&REV_0010", {}}};
  std::string devconLf = kDevcon;
  std::erase(devconLf, '\r');

  const std::vector<ParseCase> cases = {
      {"devcon", kDevcon, HwidListKind::DevconHwids, devcon},
      {"devcon with LF line ends", devconLf, HwidListKind::DevconHwids, devcon},
      {"devcon redirected in PowerShell (UTF-16)", Utf16Le(kDevcon), HwidListKind::DevconHwids, devcon},
      {"pnputil", kPnputil, HwidListKind::PnputilIds, pnputil},
      {"pnputil with a UTF-8 byte-order mark", std::string("\xEF\xBB\xBF") + kPnputil, HwidListKind::PnputilIds,
       pnputil},
      {"plain list", kPlain, HwidListKind::PlainList, plain},
      {"a plain list of one star-form ID", "*PNP0303", HwidListKind::PlainList, {{"*PNP0303", {}}}},
      {"devcon finding nothing", "No matching devices found.\r\n", HwidListKind::DevconHwids, {}},
      {"empty file", "", HwidListKind::PlainList, {}},
  };
  for (const auto& c : cases) {
    const HwidList list = ParseHwidList(c.bytes);
    EXPECT_EQ(list.kind, c.kind) << c.what;
    EXPECT_EQ(list.devices, c.devices) << c.what;
  }
}

// The IDs searched for: per device, the instance ID and each hardware ID that reduces to a
// pattern not yet taken for it, so no pattern is searched twice for one device.
TEST(SearchIdsOfList, TakesEachDevicesPatternsOnce) {
  const HwidList devcon = ParseHwidList(kDevcon);
  EXPECT_EQ(SearchIdsOfList(devcon.devices),
            (std::vector<std::string>{
                "ACPI\\PNP0303\\4&1D401FB5&0", "ACPI\\VEN_PNP&DEV_0303", "*PNP0303",
                "PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4&REV_02\\3&267A616A&0&FA",
                "PCI\\VEN_8086&DEV_2922&CC_010601", "PCI\\VEN_8086&DEV_2922&CC_0106",
                "ROOT\\LEGACY_BEEP\\0000", "USB\\VID_046D&PID_C52B&MI_01\\7&2C9A3F5&0&0001",
                "USB\\VID_046D&PID_C52B&REV_1211&MI_01"}));
  // Two devices with the same pattern both keep it: repeats across devices are the search's
  // own duplicate removal to deal with.
  EXPECT_EQ(SearchIdsOfList({{"ACPI\\PNP0501\\1", {"*PNP0501"}}, {"ACPI\\PNP0501\\2", {"*PNP0501"}}}),
            (std::vector<std::string>{"ACPI\\PNP0501\\1", "*PNP0501", "ACPI\\PNP0501\\2", "*PNP0501"}));
  EXPECT_TRUE(SearchIdsOfList({}).empty());
}

TEST(HwidListText, NarrowsUtf16AndDropsByteOrderMarks) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Utf16Le("A\\B"), "A\\B"},
      {std::string("\xFE\xFF\0A\0\\", 6), "A\\"},
      {std::string("\xFF\xFE\xE4\0B\0", 6), "?B"},  // a letter outside ASCII in a device name
      {"\xEF\xBB\xBFX", "X"},
      {"plain", "plain"},
      {"", ""},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(HwidListText(bytes), text);
}

}  // namespace
