// The devcon stand-in, run as the program runs it, on the recorded laptop's sysfs tree.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "devices/device_enum.h"
#include "devices/hwid_rules.h"
#include "platform/devices.h"
#include "support/scoped_env.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = VELMORA_TESTDATA_DIR;

std::string DevconPath() {
#ifdef DEVCON_PATH
  return DEVCON_PATH;
#else
  return std::string(VELMORA_BINARY_DIR) + "/tools/devcon/devcon";
#endif
}

struct ToolRun {
  int exitCode = -1;
  std::vector<std::string> lines;
};

// Runs devcon with `args` (shell words) on a sysfs tree, with the ID database excerpts.
ToolRun RunDevcon(const std::string& args, const std::string& tree = kData + "/sysfs/laptop/sys") {
  const std::string command = "VELMORA_SYSFS='" + tree + "' VELMORA_PCI_IDS='" + kData +
                              "/devcon/pci.ids' VELMORA_USB_IDS='" + kData + "/devcon/usb.ids' '" +
                              DevconPath() + "' " + args + " 2>/dev/null";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::string output;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::size_t start = 0;
  while (start < output.size()) {
    const auto end = output.find('\n', start);
    run.lines.push_back(output.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return run;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

class Devcon : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(DevconPath())) GTEST_SKIP() << "devcon is not built: " << DevconPath();
  }
};

// The four listings of the simple collection: one line per device, the identifier padded to
// 60 characters, ": " and the name; then the count.
TEST_F(Devcon, FindListsEachFamilyWithNamesAndACount) {
  struct Family {
    const char* pattern;
    std::size_t count;
    const char* firstId;
    const char* firstName;
  };
  const std::vector<Family> families = {
      {"pci*", 8, "PCI\\VEN_8086&DEV_5914&SUBSYS_225D17AA&REV_08",
       "Intel Corporation Xeon E3-1200 v6/7th Gen Core Processor Host Bridge/DRAM Registers"},
      {"usb*", 8, "USB\\VID_046D&PID_C077", "Logitech, Inc. Mouse"},
      {"hid*", 3, "HID\\VID_046D&PID_C077", "HID-compliant mouse"},
      {"acpi*", 12, "ACPI\\ACPI0003", "Microsoft AC Adapter"},
  };
  for (const auto& family : families) {
    SCOPED_TRACE(family.pattern);
    const auto run = RunDevcon(std::string("find '") + family.pattern + "'");
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), family.count + 1);
    EXPECT_EQ(run.lines.back(), std::to_string(family.count) + " matching device(s) found.");
    for (std::size_t i = 0; i + 1 < run.lines.size(); ++i) {
      const auto& line = run.lines[i];
      ASSERT_GT(line.size(), 62u) << line;
      const auto separator = line.find(": ");
      ASSERT_NE(separator, std::string::npos) << line;
      const std::string id = Trim(line.substr(0, separator));
      EXPECT_EQ(separator, std::max<std::size_t>(id.size(), 60)) << line;
      EXPECT_TRUE(IsSupportedHWid(id)) << line;
      if (i == 0) {
        EXPECT_EQ(CutHw(id), family.firstId);
        EXPECT_EQ(line.substr(separator + 2), family.firstName);
      }
    }
  }
}

TEST_F(Devcon, FindWithoutMatchesSaysSo) {
  const auto run = RunDevcon("find 'pcmcia*'");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.lines, std::vector<std::string>{"No matching devices found."});
}

TEST_F(Devcon, DriverFilesBlocksHaveTheConsoleLayout) {
  const auto modules = fs::canonical(kData + "/sysfs/laptop/lib/modules/6.1.0-18-amd64").string();
  const auto run = RunDevcon("driverfiles =Media");
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.lines.size(), 12u);
  EXPECT_EQ(CutHw(run.lines[0]), "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000");
  EXPECT_EQ(run.lines[1], "    Name: High Definition Audio Device (Realtek ALC257)");
  EXPECT_EQ(run.lines[2], "    Driver installed from " + modules +
                              "/modules.dep [snd_hda_codec_realtek]. 3 file(s) used by driver:");
  EXPECT_EQ(run.lines[3], "        " + modules + "/kernel/sound/pci/hda/snd-hda-codec-realtek.ko");
  EXPECT_EQ(run.lines[4], "        " + modules + "/kernel/sound/pci/hda/snd-hda-codec-generic.ko");
  EXPECT_EQ(run.lines[5], "        " + modules + "/kernel/sound/pci/hda/snd-hda-codec.ko");
  EXPECT_EQ(CutHw(run.lines[6]), "HDAUDIO\\FUNC_01&VEN_8086&DEV_280B&SUBSYS_80860101&REV_1000");
  EXPECT_EQ(run.lines[7], "    Name: High Definition Audio Device (Intel Kabylake HDMI)");
  EXPECT_EQ(run.lines.back(), "2 matching device(s) found.");
}

TEST_F(Devcon, EmptyClassStartsWithTheNoMatchLine) {
  for (const char* args : {"driverfiles =Printer", "driverfiles =NoSuchClass", "find =Modem"}) {
    const auto run = RunDevcon(args);
    EXPECT_EQ(run.exitCode, 0) << args;
    EXPECT_EQ(run.lines, std::vector<std::string>{"No matching devices found."}) << args;
  }
}

// The extended collection reads each class's output by fixed rules: an identifier line
// raises the device number, a "Name" line gives the name after the first ":", a "Driv" line
// gives the INF path as the text before "[" without its first 22 characters. The stand-in's
// lines must give the right values under those rules.
TEST_F(Devcon, DriverFilesOutputReadsBackUnderTheCollectionRules) {
  struct Expected {
    std::string key;
    std::string value;
  };
  const auto modules = fs::canonical(kData + "/sysfs/laptop/lib/modules/6.1.0-18-amd64").string();
  const std::vector<std::pair<std::string, std::vector<Expected>>> classes = {
      {"Net",
       {{"1Net-Name", "Intel Corporation Ethernet Connection (4) I219-LM"},
        {"1Net-Driver installed from", modules + "/modules.dep"},
        {"2Net-Name", "Intel Corporation Wireless 8265 / 8275"},
        {"2Net-Driver installed from", modules + "/modules.dep"}}},
      {"Mouse", {{"1Mouse-Name", "HID-compliant mouse"}, {"2Mouse-Name", "HID-compliant mouse"}}},
      {"DiskDrive",
       {{"1DiskDrive-Name", "Samsung SSD 860 SCSI Disk Device"},
        {"2DiskDrive-Name", "SanDisk Cruzer Blade SCSI Disk Device"},
        {"2DiskDrive-Driver installed from", modules + "/modules.dep"}}},
      {"Monitor", {{"1Monitor-Name", "DELL U2415"}, {"2Monitor-Name", "Generic PnP Monitor"}}},
      {"Processor",
       {{"4Processor-Name", "Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz"},
        {"1Processor-Driver installed from", modules + "/modules.builtin"}}},
  };
  for (const auto& [className, expected] : classes) {
    SCOPED_TRACE(className);
    const auto run = RunDevcon("driverfiles =" + className);
    ASSERT_FALSE(run.lines.empty());
    ASSERT_NE(run.lines[0], "No matching devices found.");
    std::map<std::string, std::string> keys;
    int device = 0;
    for (const auto& line : run.lines) {
      const std::string trimmed = Trim(line);
      if (IsSupportedHWid(line)) {
        ++device;
        keys[std::to_string(device) + className + "-HWID"] = trimmed;
      }
      if (trimmed.substr(0, 4) == "Name") {
        const auto first = line.find(':');
        const auto second = line.find(':', first + 1);
        keys[std::to_string(device) + className + "-Name"] = Trim(line.substr(first + 1, second - first - 1));
      }
      if (trimmed.substr(0, 4) == "Driv") {
        const std::string before = Trim(trimmed.substr(0, trimmed.find('[')));
        keys[std::to_string(device) + className + "-Driver installed from"] = before.substr(22);
      }
    }
    for (const auto& [key, value] : expected) EXPECT_EQ(keys[key], value) << key;
    EXPECT_EQ(run.lines.back(), std::to_string(device) + " matching device(s) found.");
  }
}

// Each run reads only what its class needs: its devices, their drivers, and the ID database
// entries of their vendors. Its answers stay those of the whole enumeration named from the whole
// databases and then filtered, for every class the program asks about (in any letter case), for
// the four "find" families and for a class with a pattern.
TEST_F(Devcon, AnswersAsTheWholeEnumerationFilteredDoes) {
  const std::string tree = kData + "/sysfs/laptop/sys";
  std::vector<DeviceRecord> records;
  {
    ScopedEnv env("VELMORA_SYSFS", tree);
    platform::devices::InitPnpApi();
    records = DescribeDevices(platform::devices::EnumerateDevices(), IdDatabase::Load(kData + "/devcon/pci.ids"),
                              IdDatabase::Load(kData + "/devcon/usb.ids"));
  }
  auto expected = [&](bool find, const std::string& className, const std::vector<std::string>& patterns) {
    const auto selected = SelectDevices(records, className, patterns);
    return find ? FindListing(selected) : DriverFilesListing(selected);
  };
  std::vector<std::string> classes;
  std::ifstream list(std::string(VELMORA_SOURCE_DIR) + "/data/Data/classes.tavi");
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string name = Trim(line.substr(0, line.find(':')));
    if (!name.empty() && name.find_first_of("' ") == std::string::npos) classes.push_back(name);
  }
  ASSERT_GT(classes.size(), 50u);
  std::size_t withDevices = 0;
  for (const std::string& className : classes) {
    SCOPED_TRACE(className);
    const auto want = expected(false, className, {});
    if (want.size() > 1) ++withDevices;
    EXPECT_EQ(RunDevcon("driverfiles =" + className).lines, want);
    std::string upper = className;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(RunDevcon("driverfiles =" + upper).lines, want);
  }
  EXPECT_GT(withDevices, 5u);  // the fixture's devices fall into several of the classes
  for (const char* family : {"pci*", "usb*", "hid*", "acpi*"}) {
    SCOPED_TRACE(family);
    EXPECT_EQ(RunDevcon(std::string("find '") + family + "'").lines, expected(true, "", {family}));
    EXPECT_EQ(RunDevcon(std::string("driverfiles '") + family + "'").lines, expected(false, "", {family}));
  }
  EXPECT_EQ(RunDevcon("find =Net '*15d7*'").lines, expected(true, "Net", {"*15d7*"}));
}

TEST_F(Devcon, RefusesWhatItDoesNotKnow) {
  for (const char* args : {"", "remove 'pci*'", "find", "driverfiles"}) {
    const auto run = RunDevcon(args);
    EXPECT_EQ(run.exitCode, 1) << args;
    EXPECT_TRUE(run.lines.empty()) << args;
  }
}

TEST_F(Devcon, MissingTreeListsNothing) {
  const auto run = RunDevcon("find '*'", kData + "/sysfs/does-not-exist");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.lines, std::vector<std::string>{"No matching devices found."});
}

}  // namespace
