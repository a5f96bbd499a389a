#include "devices/hwid_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ReductionCase {
  std::string input;
  std::string level1;
  std::string level2;
  std::string level3;
};

// The reference reductions of every bus, levels 1 to 3.
const std::vector<ReductionCase> kReductions = {
    {"PCI\\VEN_1AB2&DEV_3C4D&SUBSYS_5E6F7A8B&REV_02\\3&11583659&0&E0",
     "PCI\\VEN_1AB2&DEV_3C4D&SUBSYS_5E6F7A8B", "PCI\\VEN_1AB2&DEV_3C4D", "PCI\\VEN_1AB2"},
    {"HDAUDIO\\FUNC_01&VEN_1AB2&DEV_0042&SUBSYS_5E6F7A8B&REV_1003\\4&2C1D3E4F&0&0001",
     "HDAUDIO\\FUNC_01&VEN_1AB2&DEV_0042&SUBSYS_5E6F7A8B", "HDAUDIO\\FUNC_01&VEN_1AB2&DEV_0042",
     "HDAUDIO\\FUNC_01&VEN_1AB2"},
    {"SCSI\\DISK&VEN_ACME&PROD_FASTDISK200&REV_1.0\\4&5A6B7C8D&0&000", "SCSI\\DISK&VEN_ACME&PROD_FASTDISK200",
     "SCSI\\DISK&VEN_ACME", "SCSI\\DISK&VEN_ACME"},
    {"USB\\VID_1A2B&PID_3C4D&MI_01\\6&1F2E3D4C&0&0001", "USB\\VID_1A2B&PID_3C4D&MI_01",
     "USB\\VID_1A2B&PID_3C4D", "USB\\VID_1A2B"},
    {"HID\\VID_1A2B&PID_3C4D&MI_01&COL02\\7&ABCDEF0&0&0001", "HID\\VID_1A2B&PID_3C4D&MI_01",
     "HID\\VID_1A2B&PID_3C4D", "HID\\VID_1A2B"},
    {"ACPI\\MAKERCPU_-_X86_FAMILY_6_MODEL_15\\0", "ACPI\\MAKERCPU_-_X86_FAMILY_6", "ACPI\\MAKERCPU_-_X86",
     "ACPI\\MAKERCPU_-_X86"},
    {"ACPI\\PNP0A03\\0", "ACPI\\PNP0A03", "ACPI\\PNP0A03", "ACPI\\PNP0A03"},
    {"DISPLAY\\ABC1234\\5&1F2E3D4C&0&UID0", "MONITOR\\ABC1234", "MONITOR\\ABC1234", "MONITOR\\ABC1234"},
    {"ROOT\\LEGACY_BEEP\\0000", "ROOT\\LEGACY_BEEP", "ROOT\\LEGACY_BEEP", "ROOT\\LEGACY_BEEP"},
    // Edge cases: single backslash, lower case, no interface number, empty text.
    {"PCI\\VEN_1AB2&DEV_3C4D&REV_02", "PCI\\VEN_1AB2&DEV_3C4D", "PCI\\VEN_1AB2&DEV_3C4D&REV_02",
     "PCI\\VEN_1AB2"},
    {"pci\\ven_1ab2&dev_3c4d\\3&0&0", "pci\\ven_1ab2&dev_3c4d", "pci\\ven_1ab2&dev_3c4d",
     "pci\\ven_1ab2&dev_3c4d"},
    {"USB\\VID_1A2B&PID_3C4D\\5&0&1", "USB\\VID_1A2B&PID_3C4D", "USB\\VID_1A2B&PID_3C4D", "USB\\VID_1A2B"},
    {"", "", "", ""},
    // A bus marker inside the text counts as well.
    {"X_PCI\\A&SUBSYS_1&MI_2", "X_PCI\\A&SUBSYS_1&MI_2", "X_PCI\\A", "X_PCI\\A&SUBSYS_1&MI_2"},
    // "&DEV" and "&MI" match the start of longer fields too.
    {"PCI\\VEN_1&DEVICE_2&REV_3\\0", "PCI\\VEN_1&DEVICE_2", "PCI\\VEN_1&DEVICE_2&REV_3", "PCI\\VEN_1"},
    {"USB\\VID_1&PID_2&MINOR_3\\0", "USB\\VID_1&PID_2&MINOR_3", "USB\\VID_1&PID_2", "USB\\VID_1"},
    // The monitor replacement needs the exact upper-case bus name first.
    {"DISPLAY\\display\\X", "MONITOR\\display", "MONITOR\\display", "MONITOR\\display"},
    {"display\\ABC", "display\\ABC", "display\\ABC", "display\\ABC"},
    // The star form has no bus and no instance part: every level keeps it whole, also where it
    // holds a qualifier marker of a bus.
    {"*PNP0303", "*PNP0303", "*PNP0303", "*PNP0303"},
    {"*GenuineIntel_-_Intel64_Family_6_Model_85", "*GenuineIntel_-_Intel64_Family_6_Model_85",
     "*GenuineIntel_-_Intel64_Family_6_Model_85", "*GenuineIntel_-_Intel64_Family_6_Model_85"},
};

class DecreaseHWIDTest : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(DecreaseHWIDTest, ReducesEachLevelOnItsOwn) {
  const auto& c = GetParam();
  EXPECT_EQ(DecreaseHWID(c.input, 1), c.level1);
  EXPECT_EQ(DecreaseHWID(c.input, 2), c.level2);
  EXPECT_EQ(DecreaseHWID(c.input, 3), c.level3);
  // Levels outside 1..3 keep the instance cut only.
  for (const std::uint8_t level : {std::uint8_t{0}, std::uint8_t{4}, std::uint8_t{255}}) {
    EXPECT_EQ(DecreaseHWID(c.input, level), CutHw(c.input)) << "level " << int{level};
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DecreaseHWIDTest, ::testing::ValuesIn(kReductions));

TEST(DecreaseHWID, DisplayStaysDisplayOutsideLevelsOneToThree) {
  EXPECT_EQ(DecreaseHWID("DISPLAY\\ABC1234\\5&1&0&UID0", 0), "DISPLAY\\ABC1234");
  EXPECT_EQ(DecreaseHWID("DISPLAY\\ABC1234\\5&1&0&UID0", 4), "DISPLAY\\ABC1234");
}

TEST(CutHw, CutsAtTheSecondBackslash) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"PCI\\VEN_1&DEV_2\\3&4", "PCI\\VEN_1&DEV_2"},
      {"A\\B\\C\\D", "A\\B"},
      {"A\\\\B", "A\\"},
      {"\\\\", "\\"},
      {"\\A\\B", "\\A"},
      {"NOBACKSLASH", "NOBACKSLASH"},
      {"ONE\\", "ONE\\"},
      {"", ""},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(CutHw(input), expected) << input;
}

TEST(IsSupportedHWid, AcceptsTheSevenBusesAnywhereInTheText) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"PCI\\VEN_1", true},
      {"HDAUDIO\\FUNC_01", true},
      {"SCSI\\Disk", true},
      {"HID\\VID_1", true},
      {"USB\\VID_1", true},
      {"ACPI\\PNP0A03\\0", true},
      {"DISPLAY\\ABC", true},
      {"ROOT\\PCI\\0000", true},
      {"ROOT\\LEGACY_BEEP", false},
      {"pci\\ven_1", false},
      {"PCI", false},
      {"STORAGE\\Volume", false},
      {"", false},
      // The star form of ACPI and ISA devices, and what only looks like it.
      {"*PNP0303", true},
      {"*PNP0A08", true},
      {"*GenuineIntel_-_Intel64", true},
      {"*", false},
      {"**PNP0303", false},
      {"PNP0303", false},
      {"*PNP 0303", false},
      {"*PNP0303\\0", false},
      {"*PNP0303\t", false},
      {" *PNP0303", false},
      {"GenDisk", false},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(IsSupportedHWid(input), expected) << input;
    if (input.find('\\') == std::string::npos) {
      EXPECT_EQ(IsStarHWid(input), expected) << input;
    }
  }
}

TEST(DeleteDuples, KeepsFirstOccurrencesInOrder) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{"A", "B", "A", "a", "B"}, {"A", "B", "a"}},
      {{"X", "X", "X"}, {"X"}},
      {{"", "", "Y", ""}, {"", "Y"}},
      {{"1", "2", "3"}, {"1", "2", "3"}},
      {{}, {}},
  };
  for (auto [input, expected] : cases) {
    DeleteDuples(&input);
    EXPECT_EQ(input, expected);
  }
  DeleteDuples(nullptr);  // accepted, nothing happens
}

// The work grows with the list, not with its square: about one comparison of texts per
// repeat, counted rather than timed, for a short and a ten times longer list.
TEST(DeleteDuples, ComparesTextsAboutOncePerRepeatWhateverTheLength) {
  for (const int unique : {1000, 10000}) {
    SCOPED_TRACE(std::to_string(unique) + " different texts");
    std::vector<std::string> list;
    std::vector<std::string> expected;
    for (int i = 0; i < 2 * unique; ++i) {
      list.push_back("PCI\\VEN_" + std::to_string(i % unique) + "&DEV_0001");
      if (i < unique) expected.push_back(list.back());
    }
    std::size_t comparisons = 0;
    DeleteDuples(&list, &comparisons);
    EXPECT_EQ(list, expected);
    // Every repeat is compared with its first occurrence; texts that only share a bucket add a
    // few. Comparing every text with every earlier one would take unique * unique.
    EXPECT_GE(comparisons, static_cast<std::size_t>(unique));
    EXPECT_LE(comparisons, static_cast<std::size_t>(2 * unique));
  }
}

}  // namespace
