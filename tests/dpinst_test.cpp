// The installer stand-in DPINST.exe: its INF reading, the hardware IDs it gives a device, and whole
// runs on driver folders against a recorded virtio machine, leaving DPINST.LOG in the Windows folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/process.h"
#include "shared/shared_functions.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#ifdef VELMORA_DPINST_PATH

#include "inf_file.h"

namespace fs = std::filesystem;
namespace proc = platform::process;

namespace {

// ---- hardware IDs of a device ----

struct IdCase {
  const char* name;
  std::string instanceId;
  std::vector<std::string> ids;
};

void PrintTo(const IdCase& c, std::ostream* os) { *os << c.name; }

class HardwareIdsTest : public ::testing::TestWithParam<IdCase> {};

TEST_P(HardwareIdsTest, AsWindowsWouldGiveThem) {
  EXPECT_EQ(dpinst::HardwareIdsOf(GetParam().instanceId), GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HardwareIdsTest,
    ::testing::Values(
        IdCase{"Pci",
               R"(PCI\VEN_1AF4&DEV_1041&SUBSYS_10411AF4&REV_01\3&95FAC617&0&18)",
               {R"(PCI\VEN_1AF4&DEV_1041&SUBSYS_10411AF4&REV_01)", R"(PCI\VEN_1AF4&DEV_1041&SUBSYS_10411AF4)",
                R"(PCI\VEN_1AF4&DEV_1041&REV_01)", R"(PCI\VEN_1AF4&DEV_1041)"}},
        IdCase{"UsbInterface",
               R"(USB\VID_046D&PID_C52B&MI_01\6&1234&0&0001)",
               {R"(USB\VID_046D&PID_C52B&MI_01)", R"(USB\VID_046D&PID_C52B)"}},
        IdCase{"AcpiAlsoStarForm", R"(ACPI\PNP0A08\0)", {R"(ACPI\PNP0A08)", "*PNP0A08"}},
        IdCase{"LowerCaseComesUp", R"(hid\vid_046d&pid_c077\7&1&0&0000)", {R"(HID\VID_046D&PID_C077)"}},
        IdCase{"NoBus", "nonsense", {}}),
    [](const ::testing::TestParamInfo<IdCase>& param) { return param.param.name; });

// ---- reading INF files ----

const std::string kInf =
    "; a driver package\r\n"
    "[Version]\r\n"
    "Signature=\"$WINDOWS NT$\"\r\n"
    "Class = Net\r\n"
    "Provider=%Maker%   ; who made it\r\n"
    "DriverVer=01/02/2024,1.2.3.4\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%Maker% = Models, NTx86, NTamd64.10.0\r\n"
    "\"Other Maker\" = Other\r\n"
    "\r\n"
    "[Models.NTx86]\r\n"
    "%Desc% = Install, PCI\\VEN_1AF4&DEV_1041&SUBSYS_00011AF4, \\\r\n"
    "    PCI\\VEN_1AF4&DEV_1041\r\n"
    "[models.ntamd64.10.0]\r\n"
    "\"Quoted, with comma\" = Install,USB\\VID_046D&PID_C52B ; comment\r\n"
    "[Other]\r\n"
    "Thing = Install,*PNP0501\r\n"
    "[NotAModelsSection]\r\n"
    "Nope = Install, PCI\\VEN_DEAD&DEV_BEEF\r\n"
    "[Strings]\r\n"
    "Maker = \"Velmora \"\"Test\"\" Drivers\"\r\n"
    "Desc = \"VirtIO Ethernet; fast\"\r\n";

std::string Utf16Le(const std::string& ascii, bool bom) {
  std::string out = bom ? std::string("\xFF\xFE", 2) : std::string();
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

void ExpectParsed(const dpinst::InfFile& inf) {
  EXPECT_EQ(inf.Value("version", "PROVIDER"), "Velmora \"Test\" Drivers");
  EXPECT_EQ(inf.Value("Version", "Class"), "Net");
  EXPECT_EQ(inf.Value("Version", "DriverVer"), "01/02/2024,1.2.3.4");
  EXPECT_EQ(inf.Value("Version", "Missing"), "");
  std::vector<std::pair<std::string, std::string>> models;
  for (const auto& model : inf.Models()) models.emplace_back(model.description, model.hardwareId);
  EXPECT_EQ(models, (std::vector<std::pair<std::string, std::string>>{
                        {"VirtIO Ethernet; fast", R"(PCI\VEN_1AF4&DEV_1041&SUBSYS_00011AF4)"},
                        {"VirtIO Ethernet; fast", R"(PCI\VEN_1AF4&DEV_1041)"},
                        {"Quoted, with comma", R"(USB\VID_046D&PID_C52B)"},
                        {"Thing", "*PNP0501"}}));
}

TEST(InfFileTest, ModelsStringsContinuationsAndComments) { ExpectParsed(dpinst::InfFile::Parse(kInf)); }

TEST(InfFileTest, Utf16TextReadsTheSame) {
  ExpectParsed(dpinst::InfFile::Parse(Utf16Le(kInf, true)));
  ExpectParsed(dpinst::InfFile::Parse(Utf16Le(kInf, false)));
  ExpectParsed(dpinst::InfFile::Parse("\xEF\xBB\xBF" + kInf));
}

TEST(InfFileTest, JunkGivesNothingAndNoHarm) {
  for (const std::string& junk : {std::string(), std::string("\0\0\0", 3), std::string("[[[\n=,,\"\n%%%\n\\"),
                                  std::string("\xFF\xFE\x00\xD8", 4), std::string(100000, '[')}) {
    const dpinst::InfFile inf = dpinst::InfFile::Parse(junk);
    EXPECT_TRUE(inf.Models().empty());
  }
}

// ---- whole runs ----

class DpinstRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string sysfs = std::string(VELMORA_TESTDATA_DIR) + "/sysfs/virtio/sys";
    if (!fs::is_directory(sysfs)) GTEST_SKIP() << "no recorded sysfs tree";
    winDir = tmp.MakeDir("Windows");
    winDir.pop_back();
    windirEnv.emplace("VELMORA_WINDIR", winDir);
    sysfsEnv.emplace("VELMORA_SYSFS", sysfs);
    proc::SetProgramFolder(fs::path(VELMORA_DPINST_PATH).parent_path().string() + "/");

    tmp.Write("Windows/dp_tavi/D/N/1/netkvm.inf", kInf);
    tmp.Write("Windows/dp_tavi/D/S/UPPER.INF",
              Utf16Le("[Manufacturer]\r\nM=Ports\r\n[Ports]\r\nCOM port = Serial, *PNP0501\r\n", true));
    tmp.Write("Windows/dp_tavi/D/X/other.inf",
              "[Manufacturer]\nM=Mod\n[Mod]\nX = I, PCI\\VEN_DEAD&DEV_BEEF\n");
    tmp.Write("Windows/dp_tavi/D/X/notes.inx", "[Manufacturer]\nM=Mod\n[Mod]\nX = I, *PNP0501\n");
    tmp.Write("Windows/dp_tavi/D/readme.txt", "not an INF");
  }
  void TearDown() override { proc::SetProgramFolder(""); }

  std::vector<std::string> LogLines() {
    const std::string text = tmp.Read("Windows/DPINST.LOG");
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find("\r\n", start);
      EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
      if (end == std::string::npos) break;
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  static bool Has(const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& line : lines) {
      if (line.rfind(start, 0) == 0) return true;
    }
    return false;
  }

  // The line after the one that starts with `start`, for as many lines as asked.
  static std::vector<std::string> After(const std::vector<std::string>& lines, const std::string& start,
                                        std::size_t n) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].rfind(start, 0) == 0) {
        return std::vector<std::string>(
            lines.begin() + static_cast<std::ptrdiff_t>(i + 1),
            lines.begin() + static_cast<std::ptrdiff_t>(std::min(lines.size(), i + 1 + n)));
      }
    }
    return {};
  }

  int Run(const std::string& arguments) {
    proc::StartInfo info;
    info.commandLine = "DPINST.exe " + arguments;
    info.output = proc::Output::Pipe;
    proc::ChildProcess child = proc::ChildProcess::Start(info);
    child.ReadToEnd();
    child.Wait(proc::ChildProcess::kInfinite);
    return child.ExitCode();
  }

  TempDir tmp;
  std::string winDir;
  std::optional<ScopedEnv> windirEnv;
  std::optional<ScopedEnv> sysfsEnv;
};

TEST_F(DpinstRunTest, SilentRunOnTheWindowsFolderLogsPackagesAndTheDevicesTheyServe) {
  std::error_code ec;
  fs::resize_file(tmp.Write("Windows/dp_tavi/D/Z/huge.inf", ""), 17u * 1024 * 1024, ec);  // sparse

  // As the installation step starts it: unquoted folder, waiting for the end.
  ASSERT_TRUE(WinExecute("DPINST.exe /s /path " + winDir, true));
  const auto log = LogLines();
  const std::string driverDir = winDir + "/dp_tavi/D/";
  EXPECT_TRUE(Has(log, "Mode: silent (/s)"));
  EXPECT_TRUE(Has(log, "Driver folder: " + winDir));
  EXPECT_TRUE(Has(log, "INF files found: 4"));
  EXPECT_FALSE(Has(log, "Driver package: " + driverDir + "X/notes.inx"));

  const auto net = After(log, "Driver package: " + driverDir + "N/1/netkvm.inf", 5);
  ASSERT_EQ(net.size(), 5u);
  EXPECT_EQ(net[0], "    Provider: Velmora \"Test\" Drivers");
  EXPECT_EQ(net[1], "    Class: Net");
  EXPECT_EQ(net[2], "    Version: 01/02/2024,1.2.3.4");
  EXPECT_EQ(net[3].rfind(R"(    Serves present device: PCI\VEN_1AF4&DEV_1041&SUBSYS_10411AF4&REV_01\3&)", 0),
            0u)
      << net[3];
  EXPECT_NE(net[3].find(R"((PCI\VEN_1AF4&DEV_1041, VirtIO Ethernet; fast))"), std::string::npos) << net[3];
  EXPECT_EQ(net[4], R"(    Serves present device: ACPI\PNP0501\0 (*PNP0501, Thing))");

  const auto serial = After(log, "Driver package: " + driverDir + "S/UPPER.INF", 1);
  ASSERT_EQ(serial.size(), 1u);
  EXPECT_EQ(serial[0], R"(    Serves present device: ACPI\PNP0501\0 (*PNP0501, COM port))");

  EXPECT_EQ(After(log, "Driver package: " + driverDir + "X/other.inf", 1),
            (std::vector<std::string>{"    Serves no device present on this system"}));
  EXPECT_TRUE(Has(log, "Unreadable INF file: " + driverDir + "Z/huge.inf: too large"));
  EXPECT_TRUE(Has(
      log, "Summary: 3 driver packages, 2 serving devices present on this system, 1 unreadable INF files"));
  EXPECT_TRUE(Has(log, "Nothing was installed on this system"));
}

// What the archive tool stages, unfinished or left by a killed run, is no driver package.
TEST_F(DpinstRunTest, StagingFoldersOfTheArchiveToolAreNotRead) {
  tmp.Write("Windows/dp_tavi/.velmora-7z-Ab12Cd/files/D/N/1/netkvm.inf", kInf);
  tmp.Write("Windows/dp_tavi/D/.velmora-7z-zz99ZZ/copy.inf", kInf);
  tmp.Write("Windows/dp_tavi/D/.velmora-7z-long123/kept.inf", kInf);  // not a staging name
  ASSERT_EQ(Run("/s /path " + winDir), 0);
  const auto log = LogLines();
  EXPECT_TRUE(Has(log, "INF files found: 4"));
  EXPECT_FALSE(Has(log, "Driver package: " + winDir + "/dp_tavi/.velmora-7z-"));
  EXPECT_FALSE(Has(log, "Driver package: " + winDir + "/dp_tavi/D/.velmora-7z-zz99ZZ"));
  EXPECT_TRUE(Has(log, "Driver package: " + winDir + "/dp_tavi/D/.velmora-7z-long123/kept.inf"));
}

TEST_F(DpinstRunTest, FolderWithBlanksAndAFreshLogEachRun) {
  ASSERT_EQ(Run("/s /path " + winDir), 0);
  tmp.Write("Drivers Elsewhere/Lan/net.inf", kInf);
  // The location is appended unquoted, so it arrives as several words.
  ASSERT_EQ(Run("/path " + tmp.path() + "Drivers Elsewhere"), 0);
  const auto log = LogLines();
  EXPECT_TRUE(Has(log, "Mode: interactive"));
  EXPECT_FALSE(Has(log, "Mode: silent"));  // the earlier run's log is gone
  EXPECT_TRUE(Has(log, "Driver folder: " + tmp.path() + "Drivers Elsewhere"));
  EXPECT_TRUE(Has(log, "INF files found: 1"));
  EXPECT_TRUE(Has(log, "Driver package: " + tmp.path() + "Drivers Elsewhere/Lan/net.inf"));
}

TEST_F(DpinstRunTest, MissingFolderIsLoggedNotFatal) {
  EXPECT_EQ(Run("/s /path " + tmp.path() + "nowhere"), 0);
  const auto log = LogLines();
  EXPECT_TRUE(Has(log, "Driver folder not found: " + tmp.path() + "nowhere"));
  EXPECT_TRUE(Has(log, "INF files found: 0"));
  EXPECT_TRUE(Has(log, "Nothing was installed on this system"));
}

}  // namespace

#endif  // VELMORA_DPINST_PATH

#include "platform/files.h"
#include "platform/xml.h"

// The descriptor the Windows program folder ships beside the installer: a well-formed dpinst
// document whose one search element asks for every subfolder of the folder given.
TEST(DpinstDescriptor, AsksTheInstallerToSearchEverySubfolder) {
  const std::string path = std::string(VELMORA_SOURCE_DIR) + "/data/windows/DPInst.xml";
  const platform::xml::Element root = platform::xml::LoadDocument(path);
  EXPECT_EQ(root.name, "dpinst");
  ASSERT_EQ(root.children.size(), 1u);
  EXPECT_EQ(root.children[0].name, "search");
  ASSERT_EQ(root.children[0].children.size(), 1u);
  EXPECT_EQ(root.children[0].children[0].name, "subDirectory");
  EXPECT_NE(platform::ReadWholeFile(path).find("<subDirectory>*</subDirectory>"), std::string::npos);
}
