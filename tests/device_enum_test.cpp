#include "devices/device_enum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "devices/get_device_list.h"
#include "platform/devices.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using platform::devices::DeviceInfo;

namespace {

const std::string kSysfsData = std::string(VELMORA_TESTDATA_DIR) + "/sysfs/";

// Compares an identifier with an expectation in which "#" stands for a generated hash
// (one to eight upper-case hexadecimal digits).
bool MatchesWithHash(const std::string& id, const std::string& expected) {
  std::size_t i = 0;
  for (std::size_t e = 0; e < expected.size(); ++e) {
    if (expected[e] != '#') {
      if (i >= id.size() || id[i] != expected[e]) return false;
      ++i;
      continue;
    }
    std::size_t digits = 0;
    while (i < id.size() && digits < 8 &&
           ((id[i] >= '0' && id[i] <= '9') || (id[i] >= 'A' && id[i] <= 'F'))) {
      ++i;
      ++digits;
    }
    if (digits == 0) return false;
  }
  return i == id.size();
}

std::vector<DeviceInfo> EnumerateTree(const std::string& sysfsRoot) {
  ScopedEnv env("VELMORA_SYSFS", sysfsRoot);
  platform::devices::InitPnpApi();
  return platform::devices::EnumerateDevices();
}

const DeviceInfo* FindDevice(const std::vector<DeviceInfo>& devices, const std::string& expectedId) {
  for (const auto& device : devices) {
    if (MatchesWithHash(device.instanceId, expectedId)) return &device;
  }
  return nullptr;
}

// The hash part ("3&<hash>&0&18" -> "<hash>") of an identifier's instance.
std::string HashOf(const std::string& id) {
  const auto amp = id.find('&', id.rfind('\\'));
  return id.substr(amp + 1, id.find('&', amp + 1) - amp - 1);
}

struct ExpectedDevice {
  std::string id;  // "#": a generated hash
  std::string className;
  std::string driver;
  std::size_t driverFiles;
};

// ---- a typical Intel laptop ----

const std::vector<ExpectedDevice> kLaptop = {
    {"PCI\\VEN_8086&DEV_5914&SUBSYS_225D17AA&REV_08\\3&#&0&00", "System", "intel_uncore", 1},
    {"PCI\\VEN_8086&DEV_5917&SUBSYS_225D17AA&REV_07\\3&#&0&10", "Display", "i915", 4},
    {"PCI\\VEN_8086&DEV_9D2F&SUBSYS_225D17AA&REV_21\\3&#&0&A0", "USB", "xhci_pci", 4},
    {"PCI\\VEN_8086&DEV_9D03&SUBSYS_225D17AA&REV_21\\3&#&0&B8", "HDC", "ahci", 5},
    {"PCI\\VEN_8086&DEV_9D10&SUBSYS_225D17AA&REV_F1\\3&#&0&E0", "System", "pcieport", 0},
    {"PCI\\VEN_8086&DEV_9D71&SUBSYS_225D17AA&REV_21\\3&#&0&FB", "System", "snd_hda_intel", 5},
    {"PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&#&0&FE", "Net", "e1000e", 3},
    {"PCI\\VEN_8086&DEV_24FD&SUBSYS_00108086&REV_78\\4&#&0&00", "Net", "iwlwifi", 3},
    {"USB\\VID_046D&PID_C077\\5&#&0&1", "HIDClass", "usbhid", 4},
    {"USB\\VID_046D&PID_C52B\\5&#&0&2", "USB", "usbcore", 2},
    {"USB\\VID_046D&PID_C52B&MI_00\\6&#&0&0000", "HIDClass", "usbhid", 4},
    {"USB\\VID_046D&PID_C52B&MI_01\\6&#&0&0001", "HIDClass", "usbhid", 4},
    {"USB\\VID_046D&PID_C52B&MI_02\\6&#&0&0002", "HIDClass", "usbhid", 4},
    {"USB\\VID_8087&PID_0A2B\\5&#&0&7", "Bluetooth", "btusb", 3},
    {"USB\\VID_0781&PID_5567\\4C530001230417115243", "USB", "usb_storage", 4},
    {"USB\\ROOT_HUB30\\4&#&0", "USB", "usbcore", 2},
    {"HID\\VID_046D&PID_C077\\6&#&0&0000", "Mouse", "hid_generic", 2},
    {"HID\\VID_046D&PID_C52B&MI_00\\7&#&0&0000", "Keyboard", "hid_generic", 2},
    {"HID\\VID_046D&PID_C52B&MI_01\\7&#&0&0000", "Mouse", "hid_generic", 2},
    {"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000\\4&#&0&0001", "Media",
     "snd_hda_codec_realtek", 3},
    {"HDAUDIO\\FUNC_01&VEN_8086&DEV_280B&SUBSYS_80860101&REV_1000\\4&#&0&0201", "Media", "snd_hda_codec_hdmi",
     2},
    {"SCSI\\Disk&Ven_Samsung&Prod_SSD_860&Rev_4B6Q\\4&#&0&000000", "DiskDrive", "sd_mod", 3},
    {"SCSI\\Disk&Ven_SanDisk&Prod_Cruzer_Blade&Rev_1.00\\4&#&0&000000", "DiskDrive", "sd_mod", 3},
    {"DISPLAY\\DELA0B4\\5&#&0&UID103", "Monitor", "", 0},
    {"DISPLAY\\AUO313D\\5&#&0&UID95", "Monitor", "", 0},
    {"ACPI\\ACPI0003\\0", "Battery", "ac", 1},
    {"ACPI\\INT3400\\0", "System", "int3400_thermal", 2},
    {"ACPI\\FixedButton\\0", "System", "button", 0},
    {"ACPI\\PNP0303\\0", "Keyboard", "i8042 kbd", 0},
    {"ACPI\\PNP0A08\\0", "System", "", 0},
    {"ACPI\\PNP0C09\\0", "System", "ec", 0},
    {"ACPI\\PNP0C0A\\1", "Battery", "battery", 1},
    {"ACPI\\PNP0C0D\\0", "System", "button", 0},
    {"ACPI\\GenuineIntel_-_Intel64_Family_6_Model_142\\_0", "Processor", "processor", 0},
    {"ACPI\\GenuineIntel_-_Intel64_Family_6_Model_142\\_1", "Processor", "", 0},
    {"ACPI\\GenuineIntel_-_Intel64_Family_6_Model_142\\_2", "Processor", "", 0},
    {"ACPI\\GenuineIntel_-_Intel64_Family_6_Model_142\\_3", "Processor", "", 0},
};

TEST(DeviceEnumeration, LaptopGivesWindowsIdentifiersClassesAndDrivers) {
  const auto devices = EnumerateTree(kSysfsData + "laptop/sys");
  ASSERT_EQ(devices.size(), kLaptop.size());
  for (std::size_t i = 0; i < kLaptop.size(); ++i) {
    const auto& expected = kLaptop[i];
    const auto& device = devices[i];
    EXPECT_TRUE(MatchesWithHash(device.instanceId, expected.id))
        << device.instanceId << " vs " << expected.id;
    EXPECT_EQ(device.className, expected.className) << expected.id;
    EXPECT_EQ(device.driver, expected.driver) << expected.id;
    EXPECT_EQ(device.driverFiles.size(), expected.driverFiles) << expected.id;
  }
}

TEST(DeviceEnumeration, LaptopDriverFilesComeFromModulesDep) {
  const auto devices = EnumerateTree(kSysfsData + "laptop/sys");
  const auto modules = fs::canonical(kSysfsData + "laptop/lib/modules/6.1.0-18-amd64").string();

  const auto* codec =
      FindDevice(devices, "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000\\4&#&0&0001");
  ASSERT_NE(codec, nullptr);
  EXPECT_EQ(fs::path(codec->driverSource), fs::path(modules + "/modules.dep"));
  ASSERT_EQ(codec->driverFiles.size(), 3u);
  EXPECT_EQ(fs::path(codec->driverFiles[0]),
            fs::path(modules + "/kernel/sound/pci/hda/snd-hda-codec-realtek.ko"));
  EXPECT_EQ(fs::path(codec->driverFiles[2]), fs::path(modules + "/kernel/sound/pci/hda/snd-hda-codec.ko"));

  // Built into the kernel: the builtin list is the source, no files.
  const auto* button = FindDevice(devices, "ACPI\\FixedButton\\0");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(fs::path(button->driverSource), fs::path(modules + "/modules.builtin"));
  EXPECT_TRUE(button->driverFiles.empty());
}

TEST(DeviceEnumeration, LaptopIdentifiersCarryWhatTheNamesNeed) {
  const auto devices = EnumerateTree(kSysfsData + "laptop/sys");
  const auto* wifi = FindDevice(devices, "PCI\\VEN_8086&DEV_24FD&SUBSYS_00108086&REV_78\\4&#&0&00");
  ASSERT_NE(wifi, nullptr);
  EXPECT_EQ(wifi->idBus, DeviceInfo::IdBus::Pci);
  EXPECT_EQ(wifi->vendorId, 0x8086);
  EXPECT_EQ(wifi->deviceId, 0x24FD);
  EXPECT_EQ(wifi->subVendorId, 0x8086);
  EXPECT_EQ(wifi->subDeviceId, 0x0010);
  EXPECT_EQ(wifi->classCode, 0x028000u);

  const auto* monitor = FindDevice(devices, "DISPLAY\\DELA0B4\\5&#&0&UID103");
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor->description, "DELL U2415");  // from the monitor name descriptor
  const auto* panel = FindDevice(devices, "DISPLAY\\AUO313D\\5&#&0&UID95");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->description, "Generic PnP Monitor");

  const auto* cpu = FindDevice(devices, "ACPI\\GenuineIntel_-_Intel64_Family_6_Model_142\\_0");
  ASSERT_NE(cpu, nullptr);
  EXPECT_EQ(cpu->description, "Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz");
}

TEST(DeviceEnumeration, InstanceHashesFollowTheDeviceTreeNotTheRootFolder) {
  const auto devices = EnumerateTree(kSysfsData + "laptop/sys");
  // Devices of one bus share their parent's hash; a device behind a bridge has another.
  const auto* igd = FindDevice(devices, "PCI\\VEN_8086&DEV_5917&SUBSYS_225D17AA&REV_07\\3&#&0&10");
  const auto* lan = FindDevice(devices, "PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&#&0&FE");
  const auto* wifi = FindDevice(devices, "PCI\\VEN_8086&DEV_24FD&SUBSYS_00108086&REV_78\\4&#&0&00");
  ASSERT_TRUE(igd && lan && wifi);
  EXPECT_EQ(HashOf(igd->instanceId), HashOf(lan->instanceId));
  EXPECT_NE(HashOf(igd->instanceId), HashOf(wifi->instanceId));

  // The same tree elsewhere gives the same identifiers.
  TempDir tmp;
  fs::copy(kSysfsData + "laptop", tmp.path() + "laptop",
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  const auto moved = EnumerateTree(tmp.path() + "laptop/sys");
  ASSERT_EQ(moved.size(), devices.size());
  for (std::size_t i = 0; i < devices.size(); ++i) EXPECT_EQ(moved[i].instanceId, devices[i].instanceId);
}

// ---- this machine's virtio devices, as recorded ----

TEST(DeviceEnumeration, VirtioGuestDevicesAsWindowsNamesThem) {
  const std::vector<ExpectedDevice> expected = {
      {"PCI\\VEN_8086&DEV_0D57&SUBSYS_00000000&REV_00\\3&#&0&00", "System", "", 0},
      {"PCI\\VEN_1AF4&DEV_1045&SUBSYS_10451AF4&REV_01\\3&#&0&08", "System", "virtio_pci", 0},
      {"PCI\\VEN_1AF4&DEV_1042&SUBSYS_10421AF4&REV_01\\3&#&0&10", "SCSIAdapter", "virtio_pci", 0},
      {"PCI\\VEN_1AF4&DEV_1041&SUBSYS_10411AF4&REV_01\\3&#&0&18", "Net", "virtio_pci", 0},
      {"PCI\\VEN_1AF4&DEV_1053&SUBSYS_10531AF4&REV_01\\3&#&0&20", "System", "virtio_pci", 0},
      {"PCI\\VEN_1AF4&DEV_1044&SUBSYS_10441AF4&REV_01\\3&#&0&28", "System", "virtio_pci", 0},
      {"ACPI\\ACPI0013\\0", "System", "", 0},
      {"ACPI\\PNP0303\\0", "Keyboard", "", 0},
      {"ACPI\\PNP0501\\0", "Ports", "", 0},
      {"ACPI\\PNP0A08\\0", "System", "", 0},
      {"ACPI\\GenuineIntel_-_Intel64_Family_6_Model_167\\_0", "Processor", "", 0},
      {"ACPI\\GenuineIntel_-_Intel64_Family_6_Model_167\\_1", "Processor", "", 0},
  };
  const auto devices = EnumerateTree(kSysfsData + "virtio/sys");
  ASSERT_EQ(devices.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(MatchesWithHash(devices[i].instanceId, expected[i].id)) << devices[i].instanceId;
    EXPECT_EQ(devices[i].className, expected[i].className) << expected[i].id;
    EXPECT_EQ(devices[i].driver, expected[i].driver) << expected[i].id;
    EXPECT_EQ(devices[i].driverFiles.size(), expected[i].driverFiles) << expected[i].id;
  }
  // No kernel module tables in that tree: the driver is said to be part of the kernel.
  EXPECT_EQ(devices[3].driverSource, "kernel");
}

// ---- the real machine ----

std::optional<unsigned> ReadHexFile(const fs::path& path) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text)) return std::nullopt;
  try {
    return static_cast<unsigned>(std::stoul(text, nullptr, 16));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string Hex(unsigned value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", width, value);
  return buffer;
}

TEST(DeviceEnumeration, ThisMachinesPciDevicesMatchItsSysfs) {
  if (std::getenv("VELMORA_SYSFS") != nullptr || !fs::is_directory("/sys/bus/pci/devices")) {
    GTEST_SKIP() << "no PCI bus in /sys";
  }
  std::vector<std::string> expectedPrefixes;
  for (const auto& entry : fs::directory_iterator("/sys/bus/pci/devices")) {
    const auto dir = entry.path();
    const auto vendor = ReadHexFile(dir / "vendor");
    const auto device = ReadHexFile(dir / "device");
    const auto subVendor = ReadHexFile(dir / "subsystem_vendor");
    const auto subDevice = ReadHexFile(dir / "subsystem_device");
    const auto revision = ReadHexFile(dir / "revision");
    ASSERT_TRUE(vendor && device && subVendor && subDevice && revision) << dir;
    expectedPrefixes.push_back("PCI\\VEN_" + Hex(*vendor, 4) + "&DEV_" + Hex(*device, 4) + "&SUBSYS_" +
                               Hex(*subDevice, 4) + Hex(*subVendor, 4) + "&REV_" + Hex(*revision, 2) + "\\");
  }
  std::vector<std::string> pciIds;
  platform::devices::InitPnpApi();
  for (const auto& id : platform::devices::EnumerateDeviceIds(true, "")) {
    EXPECT_LT(id.size(), 200u);
    if (id.rfind("PCI\\", 0) == 0) pciIds.push_back(id);
  }
  ASSERT_EQ(pciIds.size(), expectedPrefixes.size());
  for (const auto& prefix : expectedPrefixes) {
    const bool found = std::any_of(pciIds.begin(), pciIds.end(),
                                   [&](const std::string& id) { return id.rfind(prefix, 0) == 0; });
    EXPECT_TRUE(found) << prefix;
  }
}

// ---- strange trees ----

class StrangeSysfs : public ::testing::Test {
 protected:
  // A file below the tree root, with its folders.
  void Write(const std::string& name, const std::string& content) { tmp.Write("sys/" + name, content); }
  void Link(const std::string& name, const std::string& target) {
    fs::create_directories(fs::path(tmp.File("sys/" + name)).parent_path());
    fs::create_directory_symlink(target, tmp.File("sys/" + name));
  }
  // A PCI device folder with the given attribute files.
  void Pci(const std::string& address, const std::vector<std::pair<std::string, std::string>>& attributes) {
    for (const auto& [name, value] : attributes) Write("bus/pci/devices/" + address + "/" + name, value);
  }
  std::vector<std::string> Ids() {
    ScopedEnv env("VELMORA_SYSFS", tmp.File("sys"));
    platform::devices::InitPnpApi();
    return platform::devices::EnumerateDeviceIds(true, "");
  }

  TempDir tmp;
};

const std::vector<std::pair<std::string, std::string>> kGoodPci = {
    {"vendor", "0x8086\n"},           {"device", "0x15d7\n"}, {"subsystem_vendor", "0x17aa\n"},
    {"subsystem_device", "0x225d\n"}, {"revision", "0x21\n"}, {"class", "0x020000\n"}};

TEST_F(StrangeSysfs, JunkEntriesLeaveTheirDeviceOut) {
  Pci("0000:00:1f.6", kGoodPci);
  auto junk = [&](const std::string& address, const std::string& name, const std::string& value) {
    auto attributes = kGoodPci;
    for (auto& [key, text] : attributes) {
      if (key == name) text = value;
    }
    Pci(address, attributes);
  };
  junk("0000:00:01.0", "vendor", "0xZZZZ\n");
  junk("0000:00:02.0", "device", "0x12345\n");
  junk("0000:00:03.0", "revision", "\n");
  junk("0000:00:04.0", "class", std::string(100000, '7'));
  Pci("0000:00:05.0", {{"vendor", "0x8086\n"}});                                // the rest missing
  fs::create_directories(tmp.File("sys/bus/pci/devices/0000:00:06.0/vendor"));  // a folder, not a file
  Link("bus/pci/devices/0000:00:07.0", "0000:00:07.0");                         // a link to itself
  Link("bus/pci/devices/0000:00:08.0", "/nonexistent/device");                  // a dangling link
  Pci("not-a-pci-address", kGoodPci);

  // Other buses with junk.
  Write("bus/usb/devices/1-1/idVendor", "hello\n");
  Write("bus/usb/devices/1-1/idProduct", "c077\n");
  Write("bus/hid/devices/0003:046D:C077/uevent", "");  // a name without sequence number
  Write("bus/hdaudio/devices/hdaudioC0D0/vendor_id", "0x\n");
  Write("bus/hdaudio/devices/hdaudioCxD0/vendor_id", "0x10ec0257\n");
  Write("bus/scsi/devices/0:0:0:0/type", "disk\n");
  Write("bus/scsi/devices/0:0:0:0/vendor", "ATA\n");
  Write("bus/scsi/devices/0:0:0:0/model", "X\n");
  Write("bus/acpi/devices/PNP0A08:00/hid", "PNP0A08\\..\\evil\n");
  Write("bus/acpi/devices/X:00/hid", std::string(64, 'A') + "\n");
  Write("class/drm/card0-HDMI-A-1/edid", std::string(128, '\xFF'));  // no EDID header
  tmp.Write("proc/cpuinfo", "processor : x\nvendor_id : GenuineIntel\ncpu family : 6\nmodel : 142\n");

  const auto ids = Ids();
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_TRUE(MatchesWithHash(ids[0], "PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&#&0&FE")) << ids[0];
}

TEST_F(StrangeSysfs, MissingTreeGivesNoDevices) {
  EXPECT_TRUE(Ids().empty());
  std::vector<std::string> list = {"stale"};
  ScopedEnv env("VELMORA_SYSFS", tmp.File("nothing-here"));
  EXPECT_FALSE(GetDeviceList(list, true, ""));
  EXPECT_TRUE(list.empty());
}

TEST_F(StrangeSysfs, UsbSerialNumbersThatWindowsWouldRefuseGiveAGeneratedInstance) {
  const std::vector<std::pair<std::string, bool>> serials = {{"ABC123", true},
                                                             {"has blank", false},
                                                             {"comma,inside", false},
                                                             {std::string(127, 'S'), false},
                                                             {"", false}};
  int port = 1;
  for (const auto& [serial, used] : serials) {
    const std::string name = "1-" + std::to_string(port++);
    Write("bus/usb/devices/" + name + "/idVendor", "0781\n");
    Write("bus/usb/devices/" + name + "/idProduct", "5567\n");
    Write("bus/usb/devices/" + name + "/serial", serial + "\n");
  }
  const auto ids = Ids();
  ASSERT_EQ(ids.size(), serials.size());
  for (std::size_t i = 0; i < serials.size(); ++i) {
    const auto& [serial, used] = serials[i];
    const std::string expected =
        "USB\\VID_0781&PID_5567\\" + (used ? serial : "5&#&0&" + std::to_string(i + 1));
    EXPECT_TRUE(MatchesWithHash(ids[i], expected)) << ids[i];
    EXPECT_LT(ids[i].size(), 200u);
  }
}

TEST_F(StrangeSysfs, ScsiFieldsAreCutAndCleanedAsWindowsDoes) {
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
      // type, vendor, model -> identifier without instance
      {"0", "ATA     ", "ST1000DM003-1CH1", "SCSI\\Disk&Ven_&Prod_ST1000DM003-1CH1&Rev_CC47"},
      {"5", "HL-DT-ST", "DVDRAM GU90N    ", "SCSI\\CdRom&Ven_HL-DT-ST&Prod_DVDRAM_GU90N&Rev_CC47"},
      {"0", "QEMU,X  ", "QEMU HARDDISK   ", "SCSI\\Disk&Ven_QEMU_X&Prod_QEMU_HARDDISK&Rev_CC47"},
      {"1", "HP      ", "Ultrium 5-SCSI  ", "SCSI\\Sequential&Ven_HP&Prod_Ultrium_5-SCSI&Rev_CC47"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [type, vendor, model, expected] = cases[i];
    const std::string dir = "bus/scsi/devices/" + std::to_string(i) + ":0:0:0/";
    Write(dir + "type", type + "\n");
    Write(dir + "vendor", vendor + "\n");
    Write(dir + "model", model + "\n");
    Write(dir + "rev", "CC47\n");
  }
  const auto ids = Ids();
  ASSERT_EQ(ids.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_TRUE(MatchesWithHash(ids[i], std::get<3>(cases[i]) + "\\4&#&0&000000")) << ids[i];
  }
}

TEST_F(StrangeSysfs, CodecsFromTheSoundClassWhenThereIsNoCodecBus) {
  // An audio codec and a modem codec as older kernels list them.
  Write("class/sound/hwC0D0/vendor_id", "0x10ec0269\n");
  Write("class/sound/hwC0D0/subsystem_id", "0x17aa21fa\n");
  Write("class/sound/hwC0D0/revision_id", "0x100100\n");
  Write("class/sound/hwC0D0/afg", "0x1\n");
  Write("class/sound/hwC0D0/mfg", "0x0\n");
  Write("class/sound/hwC0D1/vendor_id", "0x14f12c06\n");
  Write("class/sound/hwC0D1/subsystem_id", "0x17aa2114\n");
  Write("class/sound/hwC0D1/revision_id", "0x100000\n");
  Write("class/sound/hwC0D1/afg", "0x0\n");
  Write("class/sound/hwC0D1/mfg", "0x2\n");
  Write("class/sound/card0/id", "PCH\n");  // not a codec
  ScopedEnv env("VELMORA_SYSFS", tmp.File("sys"));
  platform::devices::InitPnpApi();
  const auto devices = platform::devices::EnumerateDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_TRUE(MatchesWithHash(devices[0].instanceId,
                              "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269&SUBSYS_17AA21FA&REV_1001\\4&#&0&0001"))
      << devices[0].instanceId;
  EXPECT_EQ(devices[0].className, "Media");
  EXPECT_TRUE(MatchesWithHash(devices[1].instanceId,
                              "HDAUDIO\\FUNC_02&VEN_14F1&DEV_2C06&SUBSYS_17AA2114&REV_1000\\4&#&0&0102"))
      << devices[1].instanceId;
  EXPECT_EQ(devices[1].className, "Modem");
}

// ---- the Plug and Play binding flag and the device list ----

TEST(PnpApi, BindsOnceAndUnbindsOnce) {
  platform::devices::FreePnpApi();
  EXPECT_FALSE(platform::devices::FreePnpApi());
  EXPECT_TRUE(platform::devices::InitPnpApi());
  EXPECT_TRUE(platform::devices::InitPnpApi());
  EXPECT_TRUE(platform::devices::FreePnpApi());
  EXPECT_FALSE(platform::devices::FreePnpApi());
  EXPECT_TRUE(platform::devices::InitPnpApi());
}

// Nothing answers before the binding or after it is undone, as on Windows, where the device
// functions are bound at run time: a caller that enumerates too early sees it on every target.
TEST(PnpApi, EnumeratesOnlyWhileBound) {
  ScopedEnv env("VELMORA_SYSFS", kSysfsData + "laptop/sys");
  struct Step {
    const char* what;
    bool (*action)();
    bool listed;
  };
  const std::vector<Step> steps = {
      {"unbound", platform::devices::FreePnpApi, false},
      {"bound", platform::devices::InitPnpApi, true},
      {"unbound again", platform::devices::FreePnpApi, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.action();
    EXPECT_EQ(platform::devices::EnumerateDeviceIds(true, "").size(), step.listed ? kLaptop.size() : 0u);
    EXPECT_EQ(platform::devices::EnumerateDevices().size(), step.listed ? kLaptop.size() : 0u);
    std::vector<std::string> list = {"left over"};
    EXPECT_EQ(GetDeviceList(list, true, ""), step.listed);
    EXPECT_EQ(list.size(), step.listed ? kLaptop.size() : 0u);
  }
  platform::devices::InitPnpApi();
}

// Asked for one class, the enumeration gives that class's devices, letter case ignored, with
// everything the whole list tells of them, in the same order.
TEST(EnumerateDevices, OneClassIsTheWholeListFilteredByClass) {
  ScopedEnv env("VELMORA_SYSFS", kSysfsData + "laptop/sys");
  platform::devices::InitPnpApi();
  const auto all = platform::devices::EnumerateDevices();
  std::set<std::string> classes;
  for (const auto& device : all) classes.insert(device.className);
  ASSERT_GT(classes.size(), 5u);
  classes.insert("NoSuchClass");
  for (const std::string& cls : classes) {
    SCOPED_TRACE(cls);
    std::vector<DeviceInfo> expected;
    for (const auto& device : all) {
      if (device.className == cls) expected.push_back(device);
    }
    std::string lower = cls;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& asked : {cls, lower}) {
      const auto got = platform::devices::EnumerateDevices(asked);
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].instanceId, expected[i].instanceId);
        EXPECT_EQ(got[i].className, expected[i].className);
        EXPECT_EQ(got[i].driver, expected[i].driver);
        EXPECT_EQ(got[i].driverSource, expected[i].driverSource);
        EXPECT_EQ(got[i].driverFiles, expected[i].driverFiles);
        EXPECT_EQ(got[i].description, expected[i].description);
        EXPECT_EQ(got[i].vendorId, expected[i].vendorId);
      }
    }
  }
  EXPECT_EQ(platform::devices::EnumerateDevices("*").size(), all.size());
}

TEST(GetDeviceList, FillsAndFiltersByClass) {
  ScopedEnv env("VELMORA_SYSFS", kSysfsData + "laptop/sys");
  platform::devices::InitPnpApi();
  std::vector<std::string> list = {"left over"};
  EXPECT_TRUE(GetDeviceList(list, true, ""));
  EXPECT_EQ(list.size(), kLaptop.size());
  std::vector<std::string> all;
  EXPECT_TRUE(GetDeviceList(all, true, "*"));
  EXPECT_EQ(all, list);

  EXPECT_TRUE(GetDeviceList(list, true, "net"));  // class names ignore letter case
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(MatchesWithHash(list[0], "PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&#&0&FE"));
  EXPECT_TRUE(MatchesWithHash(list[1], "PCI\\VEN_8086&DEV_24FD&SUBSYS_00108086&REV_78\\4&#&0&00"));

  EXPECT_FALSE(GetDeviceList(list, true, "NoSuchClass"));
  EXPECT_TRUE(list.empty());
}

// The hardware IDs of each bus in the forms Windows lists them, most specific first: ACPI
// devices have their star form too, which older INF files name them by.
TEST(DeviceEnumeration, HardwareIdsAsWindowsListsThem) {
  ScopedEnv env("VELMORA_SYSFS", kSysfsData + "laptop/sys");
  platform::devices::InitPnpApi();
  const auto devices = platform::devices::EnumerateHardwareIds();
  ASSERT_EQ(devices.size(), kLaptop.size());
  struct Case {
    std::string id;  // "#": a generated hash
    std::vector<std::string> hardwareIds;
  };
  const std::vector<Case> cases = {
      {"ACPI\\PNP0303\\0", {"ACPI\\VEN_PNP&DEV_0303", "ACPI\\PNP0303", "*PNP0303"}},
      {"ACPI\\ACPI0003\\0", {"ACPI\\VEN_ACPI&DEV_0003", "ACPI\\ACPI0003", "*ACPI0003"}},
      {"ACPI\\INT3400\\0", {"ACPI\\VEN_INT&DEV_3400", "ACPI\\INT3400", "*INT3400"}},
      {"ACPI\\FixedButton\\0", {"ACPI\\FixedButton", "*FixedButton"}},
      {"ACPI\\GenuineIntel_-_Intel64_Family_6_Model_142\\_0",
       {"ACPI\\GenuineIntel_-_Intel64_Family_6_Model_142", "*GenuineIntel_-_Intel64_Family_6_Model_142",
        "ACPI\\GenuineIntel_-_Intel64_Family_6", "*GenuineIntel_-_Intel64_Family_6",
        "ACPI\\GenuineIntel_-_Intel64", "*GenuineIntel_-_Intel64", "ACPI\\GenuineIntel", "*GenuineIntel"}},
      {"PCI\\VEN_8086&DEV_9D71&SUBSYS_225D17AA&REV_21\\3&#&0&FB",
       {"PCI\\VEN_8086&DEV_9D71&SUBSYS_225D17AA&REV_21", "PCI\\VEN_8086&DEV_9D71&SUBSYS_225D17AA",
        "PCI\\VEN_8086&DEV_9D71&CC_040300", "PCI\\VEN_8086&DEV_9D71&CC_0403"}},
      {"USB\\VID_8087&PID_0A2B\\5&#&0&7", {"USB\\VID_8087&PID_0A2B&REV_0010", "USB\\VID_8087&PID_0A2B"}},
      {"USB\\VID_046D&PID_C52B&MI_01\\6&#&0&0001",
       {"USB\\VID_046D&PID_C52B&REV_1211&MI_01", "USB\\VID_046D&PID_C52B&MI_01"}},
      {"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000\\4&#&0&0001",
       {"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000",
        "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D"}},
      // Buses whose forms are not built here list none.
      {"SCSI\\Disk&Ven_Samsung&Prod_SSD_860&Rev_4B6Q\\4&#&0&000000", {}},
  };
  for (const auto& c : cases) {
    const auto* device = FindDevice(devices, c.id);
    ASSERT_NE(device, nullptr) << c.id;
    EXPECT_EQ(device->hardwareIds, c.hardwareIds) << c.id;
    EXPECT_TRUE(device->className.empty() && device->driver.empty()) << "only the identifiers are read";
  }
}

// The search list: each device's instance ID, then its star-form hardware IDs, which no
// reduction of the instance ID gives.
TEST(SearchIdsOf, InstanceIdsThenTheStarFormsOfEachDevice) {
  auto device = [](std::string id, std::vector<std::string> hardwareIds) {
    DeviceInfo info;
    info.instanceId = std::move(id);
    info.hardwareIds = std::move(hardwareIds);
    return info;
  };
  struct Case {
    const char* what;
    std::vector<DeviceInfo> devices;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"acpi and pci in order",
       {device("ACPI\\PNP0303\\0", {"ACPI\\VEN_PNP&DEV_0303", "ACPI\\PNP0303", "*PNP0303"}),
        device("PCI\\VEN_1&DEV_2&SUBSYS_3&REV_01\\3&1&0&00", {"PCI\\VEN_1&DEV_2&SUBSYS_3&REV_01"}),
        device("ACPI\\PNP0501\\1", {"ACPI\\PNP0501", "*PNP0501"})},
       {"ACPI\\PNP0303\\0", "*PNP0303", "PCI\\VEN_1&DEV_2&SUBSYS_3&REV_01\\3&1&0&00", "ACPI\\PNP0501\\1",
        "*PNP0501"}},
      {"no hardware ids", {device("ROOT\\X\\0", {})}, {"ROOT\\X\\0"}},
      {"several star forms keep their order",
       {device("ACPI\\C\\_0", {"ACPI\\C_1", "*C_1", "ACPI\\C", "*C"})},
       {"ACPI\\C\\_0", "*C_1", "*C"}},
      {"an unusable instance id leaves its device out",
       {device("", {"*PNP0303"}), device(std::string(200, 'A'), {"*PNP0501"}),
        device(std::string(199, 'A'), {"*PNP0A08"})},
       {std::string(199, 'A'), "*PNP0A08"}},
      {"nothing", {}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SearchIdsOf(c.devices), c.expected) << c.what;
}

TEST(SearchIdsOf, AddsTheStarFormsToTheDeviceList) {
  ScopedEnv env("VELMORA_SYSFS", kSysfsData + "virtio/sys");
  platform::devices::InitPnpApi();
  const std::vector<std::string> ids = SearchIdsOf(platform::devices::EnumerateHardwareIds());
  ASSERT_FALSE(ids.empty());
  std::vector<std::string> instanceIds;
  GetDeviceList(instanceIds, true, "");
  std::vector<std::string> withoutStars;
  for (const auto& id : ids) {
    if (id.front() != '*') withoutStars.push_back(id);
  }
  EXPECT_EQ(withoutStars, instanceIds);
  const auto keyboard = std::find(ids.begin(), ids.end(), "ACPI\\PNP0303\\0");
  ASSERT_NE(keyboard, ids.end());
  ASSERT_NE(keyboard + 1, ids.end());
  EXPECT_EQ(*(keyboard + 1), "*PNP0303");
  EXPECT_NE(std::find(ids.begin(), ids.end(), "*PNP0501"), ids.end());
}

// ---- names from the ID databases ----

const char* const kPciIds =
    "# comment\n"
    "8086  Intel Corporation\n"
    "\t15d7  Ethernet Connection (4) I219-LM\n"
    "\t\t17aa 225d  ThinkPad T480\n"
    "\t9d71  Sunrise Point-LP HD Audio\n"
    "1af4  Red Hat, Inc.\n"
    "\t1041  Virtio 1.0 network device\n"
    "C 02  Network controller\n"
    "\t00  Ethernet controller\n"
    "\t80  Network controller\n"
    "C 06  Bridge\n"
    "\t00  Host bridge\n";

const char* const kUsbIds =
    "046d  Logitech, Inc.\n"
    "\tc077  Mouse\n"
    "\tc52b  Unifying Receiver\n"
    "C 03  Human Interface Device\n"
    "\t01  Boot Interface Subclass\n"
    "AT 0409  English\n"
    "\t01  US\n"
    "HID 01  Usage\n"
    "1d6b  Linux Foundation\n";

TEST(IdDatabase, ReadsVendorsDevicesSubsystemsAndClasses) {
  const auto pci = IdDatabase::Parse(kPciIds);
  EXPECT_EQ(pci.VendorName(0x8086), "Intel Corporation");
  EXPECT_EQ(pci.DeviceName(0x8086, 0x15D7), "Ethernet Connection (4) I219-LM");
  EXPECT_EQ(pci.SubsystemName(0x8086, 0x15D7, 0x17AA, 0x225D), "ThinkPad T480");
  EXPECT_EQ(pci.DeviceName(0x1AF4, 0x1041), "Virtio 1.0 network device");
  EXPECT_EQ(pci.DeviceName(0x1AF4, 0x15D7), "");
  EXPECT_EQ(pci.VendorName(0x1234), "");
  EXPECT_EQ(pci.ClassName(0x02, 0x00), "Ethernet controller");
  EXPECT_EQ(pci.ClassName(0x02, 0x42), "Network controller");  // unknown subclass: the class
  EXPECT_EQ(pci.ClassName(0x07, 0x00), "");

  const auto usb = IdDatabase::Parse(kUsbIds);
  EXPECT_EQ(usb.DeviceName(0x046D, 0xC52B), "Unifying Receiver");
  EXPECT_EQ(usb.VendorName(0x1D6B), "Linux Foundation");  // vendors after other sections count
  EXPECT_EQ(usb.DeviceName(0x0409, 0x0001), "");          // language lists are not devices

  EXPECT_TRUE(IdDatabase::Load("/nonexistent/pci.ids").Empty());
  EXPECT_TRUE(IdDatabase::Parse("\t\t\tjunk\nZZZZ  x\n\tzz\n").Empty());
}

// Kept to some vendors, the database names those vendors' devices as the whole one does and
// knows nothing of the others; the classes stay whole. The file is read whole however large,
// also across the reader's growing buffer.
TEST(IdDatabase, KeepsOnlyTheVendorsAskedFor) {
  const std::unordered_set<std::uint16_t> wanted = {0x1AF4, 0x046D};
  const auto pci = IdDatabase::Parse(kPciIds, &wanted);
  EXPECT_EQ(pci.VendorName(0x1AF4), "Red Hat, Inc.");
  EXPECT_EQ(pci.DeviceName(0x1AF4, 0x1041), "Virtio 1.0 network device");
  EXPECT_EQ(pci.VendorName(0x8086), "");
  EXPECT_EQ(pci.DeviceName(0x8086, 0x15D7), "");
  EXPECT_EQ(pci.SubsystemName(0x8086, 0x15D7, 0x17AA, 0x225D), "");
  EXPECT_EQ(pci.ClassName(0x06, 0x00), "Host bridge");
  const auto usb = IdDatabase::Parse(kUsbIds, &wanted);
  EXPECT_EQ(usb.DeviceName(0x046D, 0xC077), "Mouse");
  EXPECT_EQ(usb.VendorName(0x1D6B), "");
  EXPECT_EQ(usb.ClassName(0x03, 0x01), "Boot Interface Subclass");
  const std::unordered_set<std::uint16_t> none;
  EXPECT_TRUE(IdDatabase::Parse(kPciIds, &none).Empty());

  TempDir tmp;
  std::string large;
  while (large.size() < 3u * 1024u * 1024u) large += "# filler line of a long comment block\n";
  tmp.Write("pci.ids", large + kPciIds);
  const auto whole = IdDatabase::Load(tmp.File("pci.ids"));
  EXPECT_EQ(whole.SubsystemName(0x8086, 0x15D7, 0x17AA, 0x225D), "ThinkPad T480");
  EXPECT_EQ(whole.ClassName(0x06, 0x00), "Host bridge");
  const auto kept = IdDatabase::Load(tmp.File("pci.ids"), &wanted);
  EXPECT_EQ(kept.DeviceName(0x1AF4, 0x1041), "Virtio 1.0 network device");
  EXPECT_EQ(kept.VendorName(0x8086), "");
}

TEST(DeviceName, PrefersTheDatabaseThenTheSystemThenTheClass) {
  const auto pci = IdDatabase::Parse(kPciIds);
  const auto usb = IdDatabase::Parse(kUsbIds);
  auto device = [](DeviceInfo::IdBus bus, std::uint16_t vendor, std::uint16_t id, std::uint32_t cls,
                   std::string description) {
    DeviceInfo info;
    info.idBus = bus;
    info.vendorId = vendor;
    info.deviceId = id;
    info.classCode = cls;
    info.description = std::move(description);
    return info;
  };
  using Bus = DeviceInfo::IdBus;
  const std::vector<std::pair<DeviceInfo, std::string>> cases = {
      {device(Bus::Pci, 0x8086, 0x15D7, 0x020000, ""), "Intel Corporation Ethernet Connection (4) I219-LM"},
      {device(Bus::Pci, 0x8086, 0x0D57, 0x060000, ""), "Intel Corporation Host bridge"},
      {device(Bus::Pci, 0x1234, 0x0001, 0x028000, ""), "Network controller"},
      {device(Bus::Pci, 0x1234, 0x0001, 0x070000, ""), "PCI Device"},
      {device(Bus::Usb, 0x046D, 0xC077, 0, "Logitech USB Optical Mouse"), "Logitech, Inc. Mouse"},
      {device(Bus::Usb, 0x046D, 0x0001, 0, "Logitech Thing"), "Logitech Thing"},
      {device(Bus::Usb, 0x1111, 0x0001, 0, ""), "USB Device"},
      {device(Bus::None, 0x8086, 0x15D7, 0, "HID-compliant mouse"), "HID-compliant mouse"},
      {device(Bus::None, 0, 0, 0, ""), "Unknown Device"},
  };
  for (const auto& [info, expected] : cases) EXPECT_EQ(DeviceName(info, pci, usb), expected);
}

// ---- patterns and listings ----

TEST(MatchesDevicePattern, FollowsTheConsolePatternRules) {
  const std::string id = "PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&11583659&0&FE";
  const std::vector<std::pair<std::string, bool>> cases = {
      {"pci*", true},
      {"PCI*", true},
      {"*", true},
      {"*15d7*", true},
      {"usb*", false},
      {"pci", false},
      {"PCI\\VEN_8086&DEV_15D7", true},  // a hardware identifier of the device
      {"pci\\ven_8086&dev_15d7&subsys_225d17aa", true},
      {"PCI\\VEN_8086", true},
      {"PCI\\VEN_8086&DEV", false},
      {"@pci*", true},
      {"@PCI\\VEN_8086&DEV_15D7", false},  // "@": the instance identifier only
      {"@" + id, true},
      {"'PCI\\VEN_8086*", false},  // "'": taken literally
      {"'pci\\ven_8086&dev_15d7", true},
      {"*&0&FE", true},
      {"P*C*I*", true},
      {"", false},
  };
  for (const auto& [pattern, expected] : cases)
    EXPECT_EQ(MatchesDevicePattern(id, pattern), expected) << pattern;
}

TEST(DeviceListings, UseTheConsoleLineFormat) {
  std::vector<DeviceInfo> infos(2);
  infos[0].instanceId = "PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&1&0&FE";
  infos[0].className = "Net";
  infos[0].description = "Evil\nDriver installed from x [y]. 1 file(s) used by driver:";
  infos[0].driver = "e1000e";
  infos[0].driverSource = "/lib/modules/6.1.0/modules.dep";
  infos[0].driverFiles = {"/lib/modules/6.1.0/kernel/e1000e.ko", "/lib/modules/6.1.0/kernel/ptp.ko"};
  infos[1].instanceId = "ACPI\\PNP0A08\\0";
  infos[1].className = "System";
  infos[1].description = "PCI Express Root Complex";
  const auto records = DescribeDevices(infos, IdDatabase(), IdDatabase());
  // A line break in a name never makes a line of its own.
  EXPECT_EQ(records[0].name, "Evil Driver installed from x [y]. 1 file(s) used by driver:");

  const auto all = SelectDevices(records, "", {"*"});
  const auto padded = [](const std::string& id) { return id + std::string(60 - id.size(), ' ') + ": "; };
  EXPECT_EQ(FindListing(all),
            (std::vector<std::string>{padded(records[0].instanceId) + records[0].name,
                                      padded("ACPI\\PNP0A08\\0") + "PCI Express Root Complex",
                                      "2 matching device(s) found."}));
  // An identifier longer than the column is followed directly by ": ".
  std::vector<DeviceRecord> longOne(1);
  longOne[0].instanceId = std::string(70, 'X');
  longOne[0].name = "N";
  EXPECT_EQ(FindListing({&longOne[0]})[0], std::string(70, 'X') + ": N");
  EXPECT_EQ(
      DriverFilesListing(SelectDevices(records, "NET", {})),
      (std::vector<std::string>{
          "PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&1&0&FE",
          "    Name: " + records[0].name,
          "    Driver installed from /lib/modules/6.1.0/modules.dep [e1000e]. 2 file(s) used by driver:",
          "        /lib/modules/6.1.0/kernel/e1000e.ko",
          "        /lib/modules/6.1.0/kernel/ptp.ko",
          "1 matching device(s) found.",
      }));
  EXPECT_EQ(DriverFilesListing(SelectDevices(records, "System", {})),
            (std::vector<std::string>{"ACPI\\PNP0A08\\0", "    Name: PCI Express Root Complex",
                                      "    No driver information available for the device.",
                                      "1 matching device(s) found."}));
  EXPECT_EQ(FindListing(SelectDevices(records, "Media", {})),
            std::vector<std::string>{"No matching devices found."});
  EXPECT_EQ(DriverFilesListing(SelectDevices(records, "", {"usb*"})),
            std::vector<std::string>{"No matching devices found."});
}

}  // namespace
