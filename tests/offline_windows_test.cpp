// The installer stand-in DPINST.exe on an offline Windows installation: it copies the driver
// packages onto the volume and registers them in the SOFTWARE hive (DevicePath, a first-start
// pnputil command), or refuses and changes nothing. The hives are made by the test
// (support/test_hive.h) and read back with libhivex.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

#ifdef VELMORA_DPINST_PATH

#include "offline_windows.h"
#include "support/test_hive.h"

namespace fs = std::filesystem;
using test_hive::Value;

namespace {

const std::string kCurrentVersion = R"(Microsoft\Windows\CurrentVersion)";
const std::string kRunOnce = R"(Microsoft\Windows\CurrentVersion\RunOnce)";
const std::string kNt = R"(Microsoft\Windows NT\CurrentVersion)";
const std::string kRoot = R"(%SystemDrive%\Drivers\Velmora)";
const std::string kPnputil = R"(%SystemRoot%\System32\pnputil.exe)";

std::vector<Value> Version(const std::string& version, const std::string& build) {
  return {{kNt, "CurrentVersion", hive_t_REG_SZ, version}, {kNt, "CurrentBuildNumber", hive_t_REG_SZ, build}};
}
std::vector<Value> operator+(std::vector<Value> a, const std::vector<Value>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool CanMount() { return Shell("unshare -rm sh -c 'mount -t tmpfs tmpfs /mnt' >/dev/null 2>&1") == 0; }

// ---- the pure parts ----

TEST(OfflineWindowsTest, PathListKeepsWhatIsThereAndAddsNothingTwice) {
  std::vector<std::string> added;
  EXPECT_EQ(dpinst::offline::AddToPathList(R"(%SystemRoot%\inf;C:\A\;;%SYSTEMDRIVE%\x)",
                                           {R"(c:\a)", R"(%SystemDrive%\X\)", R"(D:\New)", R"(d:\new)"}, added),
            R"(%SystemRoot%\inf;C:\A\;;%SYSTEMDRIVE%\x;D:\New)");
  EXPECT_EQ(added, std::vector<std::string>{R"(D:\New)"});
  added.clear();
  EXPECT_EQ(dpinst::offline::AddToPathList(R"(%SystemRoot%\inf;)", {"B"}, added), R"(%SystemRoot%\inf;B)");
}

TEST(OfflineWindowsTest, RegistryStringIsUtf16WithItsZero) {
  EXPECT_EQ(dpinst::offline::RegistryString("A"), std::string("A\0\0\0", 4));
  EXPECT_EQ(dpinst::offline::RegistryString("\xC3\xA9"), std::string("\xE9\0\0\0", 4));         // é
  EXPECT_EQ(dpinst::offline::RegistryString("\xF0\x9F\x98\x80"), std::string("\x3D\xD8\x00\xDE\0\0", 6));  // U+1F600
  EXPECT_EQ(dpinst::offline::RegistryString("\xFF"), std::string("\xFD\xFF\0\0", 4));  // not UTF-8
}

TEST(OfflineWindowsTest, HeaderOfTheTestHivesAsWindowsWouldJudgeIt) {
  TempDir tmp;
  test_hive::WriteFile(tmp.File("clean"), test_hive::EmptyHive());
  test_hive::WriteFile(tmp.File("dirty"), test_hive::EmptyHive(7, 6));
  auto h = dpinst::offline::ReadHiveHeader(tmp.File("clean"));
  EXPECT_TRUE(h.signature && h.checksumOk && h.Clean());
  h = dpinst::offline::ReadHiveHeader(tmp.File("dirty"));
  EXPECT_TRUE(h.signature && h.checksumOk);
  EXPECT_FALSE(h.Clean());
  EXPECT_EQ(h.primarySequence, 7u);
  EXPECT_EQ(h.secondarySequence, 6u);
  // libhivex, the second reader, opens the empty hive too.
  EXPECT_EQ(test_hive::ReadValues(tmp.File("clean"), ""), test_hive::Values{});
}

// ---- whole runs on a made-up Windows volume ----

enum class Mount { None, ReadOnlyConfig, FullConfig };

struct OfflineCase {
  const char* name;
  std::vector<Value> software;     // the SOFTWARE hive's values
  std::string softwareBytes;       // instead: these bytes as SOFTWARE
  bool dirtySystem = false;        // SYSTEM not closed cleanly
  Mount mount = Mount::None;
  std::string config = "System32/config";  // how the volume spells it
  bool givenWindowsFolder = false;  // "/path <Windows folder>" instead of the drivers' folder
  // Expected; an empty DevicePath means refused: status 3, nothing changed.
  std::string devicePath;
  hive_type devicePathType = hive_t_REG_EXPAND_SZ;
  test_hive::Values runOnce;  // every value of RunOnce afterwards
  std::string logLine;        // the log holds a line containing this
};

void PrintTo(const OfflineCase& c, std::ostream* os) { *os << c.name; }

std::string Cmd(const std::string& inf) { return kPnputil + R"( -i -a ")" + kRoot + "\\" + inf + "\""; }
const std::string kAddDriver = kPnputil + R"( /add-driver ")" + kRoot + R"(\*.inf" /subdirs /install)";
const std::string kBoth = R"(%SystemDrive%\Drivers\Velmora\Audio;%SystemDrive%\Drivers\Velmora\LAN\net)";
const test_hive::Values kNoKey = {{"!missing", {hive_t_REG_NONE, ""}}};

class OfflineRunTest : public ::testing::TestWithParam<OfflineCase> {
 protected:
  void SetUp() override {
    const std::string sysfs = std::string(VELMORA_TESTDATA_DIR) + "/sysfs/virtio/sys";
    if (!fs::is_directory(sysfs)) GTEST_SKIP() << "no recorded sysfs tree";
    const OfflineCase& c = GetParam();
    if (c.mount != Mount::None && !CanMount()) GTEST_SKIP() << "cannot mount in a private namespace (unshare)";
    windows = tmp.File("vol/Windows");
    config = windows + "/" + c.config;
    software = config + "/SOFTWARE";
    system = config + "/SYSTEM";
    drivers = windows + "/dp_tavi/Drivers";
    windirEnv.emplace("VELMORA_WINDIR", windows);
    sysfsEnv.emplace("VELMORA_SYSFS", sysfs);

    tmp.Write("vol/Windows/dp_tavi/Drivers/LAN/net/netkvm.inf", "[Version]\r\nClass=Net\r\n");
    tmp.Write("vol/Windows/dp_tavi/Drivers/LAN/net/netkvm.sys", "driver");
    tmp.Write("vol/Windows/dp_tavi/Drivers/LAN/net/amd64/netkvm.sys", "driver 64");
    tmp.Write("vol/Windows/dp_tavi/Drivers/Audio/snd.inf", "[Version]\r\nClass=MEDIA\r\n");
    tmp.Write("vol/Windows/dp_tavi/Drivers/.velmora-7z-12/X/half.inf", "staging");
    tmp.Write("vol/Windows/dp_tavi/Index/LAN/net/netkvm.inf", "index copy");
    tmp.Write("vol/Windows/INF/machine.inf", "Windows' own");

    if (!c.softwareBytes.empty()) {
      test_hive::WriteFile(software, c.softwareBytes);
    } else {
      ASSERT_TRUE(test_hive::MakeHive(software, c.software));
    }
    ASSERT_TRUE(test_hive::MakeHive(system, {{"Select", "Current", hive_t_REG_DWORD, std::string("\1\0\0\0", 4)}}));
    if (c.dirtySystem) {
      std::string bytes = test_hive::ReadFile(system);
      test_hive::Put32(bytes, 4, test_hive::Get32(bytes, 8) + 1);
      test_hive::SetChecksum(bytes);
      test_hive::WriteFile(system, bytes);
    }
  }

  // Runs the stand-in as the installation step does, inside a private mount namespace when the
  // case needs a read-only or full config folder; `same` tells whether SOFTWARE was unchanged
  // there and no stray file was left beside it.
  int Run(bool& same) {
    std::string run = Quote(VELMORA_DPINST_PATH) + " /s /path " + (GetParam().givenWindowsFolder ? windows : drivers);
    const std::string original = tmp.Write("original-software", test_hive::ReadFile(software));
    const std::string verdict = tmp.File("verdict");
    const std::string count = "$(ls -A " + Quote(config) + " | wc -l)";
    const std::string check = "; rc=$?; cmp -s " + Quote(software) + " " + Quote(original) + " && [ " + count +
                              " = $n ] && echo same > " + Quote(verdict) + "; exit $rc";
    run = "n=" + count + "; " + run;
    std::string script;
    switch (GetParam().mount) {
      case Mount::None:
        script = run + check;
        break;
      case Mount::ReadOnlyConfig:
        script = "mount --bind " + Quote(config) + " " + Quote(config) + " && mount -o remount,bind,ro " +
                 Quote(config) + " && " + run + check;
        break;
      case Mount::FullConfig:
        // Room for the two hives and nothing more: the new hive cannot be written.
        script = "cp -a " + Quote(config) + " " + Quote(tmp.File("saved")) + " && mount -t tmpfs -o size=32k tmpfs " +
                 Quote(config) + " && cp " + Quote(tmp.File("saved")) + "/* " + Quote(config) + " && (dd if=/dev/zero of=" +
                 Quote(config + "/filler") + " bs=1k 2>/dev/null; true) && " + run + check;
        break;
    }
    if (GetParam().mount == Mount::None) script = "sh -c " + Quote(script);
    else script = "unshare -rm sh -c " + Quote(script);
    const int status = Shell(script + " >/dev/null 2>&1");
    same = fs::exists(verdict);
    fs::remove(verdict);
    return status;
  }

  std::string Log() { return tmp.Read("vol/Windows/DPINST.LOG"); }

  TempDir tmp;
  std::string windows, config, software, system, drivers;
  std::optional<ScopedEnv> windirEnv;
  std::optional<ScopedEnv> sysfsEnv;
};

TEST_P(OfflineRunTest, RegistersThePackagesOrChangesNothing) {
  const OfflineCase& c = GetParam();
  const std::string before = test_hive::ReadFile(software);
  bool same = false;
  const int status = Run(same);
  const std::string log = Log();
  EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
  const fs::path volumeDrivers = tmp.File("vol/Drivers");

  if (c.devicePath.empty()) {
    EXPECT_EQ(status, 3) << log;
    EXPECT_TRUE(same) << "the hive is byte for byte what it was, nothing left beside it";
    EXPECT_EQ(test_hive::ReadFile(software), before);
    EXPECT_FALSE(fs::exists(software + ".velmora-backup"));
    EXPECT_FALSE(fs::exists(volumeDrivers)) << "copied packages are taken back";
    EXPECT_NE(log.find("Nothing was changed on the Windows volume."), std::string::npos);
    return;
  }

  ASSERT_EQ(status, 0) << log;
  const auto current = test_hive::ReadValues(software, kCurrentVersion);
  ASSERT_EQ(current.count("DevicePath"), 1u) << log;
  EXPECT_EQ(current.at("DevicePath").second, c.devicePath);
  EXPECT_EQ(current.at("DevicePath").first, c.devicePathType);
  EXPECT_EQ(test_hive::ReadValues(software, kRunOnce), c.runOnce);
  // Everything else in the hive is as it was.
  EXPECT_EQ(test_hive::ReadValues(software, kNt), test_hive::ReadValues(software + ".velmora-backup", kNt));
  EXPECT_EQ(test_hive::ReadFile(software + ".velmora-backup"), before);

  // The packages whole on the volume, nothing from the index, the staging folder or Windows.
  const fs::path placed = volumeDrivers / (c.givenWindowsFolder ? "Velmora/Drivers" : "Velmora");
  EXPECT_EQ(test_hive::ReadFile(placed / "LAN/net/amd64/netkvm.sys"), "driver 64");
  EXPECT_EQ(test_hive::ReadFile(placed / "LAN/net/netkvm.sys"), "driver");
  EXPECT_TRUE(fs::exists(placed / "Audio/snd.inf"));
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(volumeDrivers)) files += entry.is_regular_file();
  EXPECT_EQ(files, 4u);
  EXPECT_NE(log.find("DevicePath after: " + c.devicePath + "\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Backup of the hive: " + software + ".velmora-backup"), std::string::npos) << log;

  // A second run changes nothing, and the first backup stays.
  test_hive::WriteFile(placed / "Audio/snd.inf", "changed on the volume");
  test_hive::WriteFile(placed / "Audio/.velmora-copy-snd.inf.part", "half a copy from a killed run");
  const std::string after = test_hive::ReadFile(software);
  ASSERT_EQ(Run(same), 0);
  EXPECT_TRUE(same);
  EXPECT_EQ(test_hive::ReadFile(software), after);
  EXPECT_EQ(test_hive::ReadFile(software + ".velmora-backup"), before);
  EXPECT_EQ(test_hive::ReadFile(placed / "Audio/snd.inf"), "[Version]\r\nClass=MEDIA\r\n");
  EXPECT_FALSE(fs::exists(placed / "Audio/.velmora-copy-snd.inf.part"));
  EXPECT_NE(Log().find("Registry unchanged"), std::string::npos);
}

std::string DirtyHive() {
  std::string bytes = test_hive::EmptyHive(12, 11);
  return bytes;
}
std::string BadChecksum() {
  std::string bytes = test_hive::EmptyHive();
  bytes[508] = static_cast<char>(bytes[508] ^ 1);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OfflineRunTest,
    ::testing::Values(
        OfflineCase{"FreshHiveWindows10At1607",
                    Version("6.3", "14393"),
                    "", false, Mount::None, "System32/config", false,
                    R"(%SystemRoot%\inf;)" + kBoth, hive_t_REG_EXPAND_SZ,
                    {{"Velmora drivers", {hive_t_REG_EXPAND_SZ, kAddDriver}}},
                    "First-start command: pnputil /add-driver"},
        OfflineCase{"SystemRootInfWindows7OtherRunOnceKept",
                    Version("6.1", "7601") + std::vector<Value>{
                        {kCurrentVersion, "DevicePath", hive_t_REG_EXPAND_SZ, R"(%SystemRoot%\inf)"},
                        {kRunOnce, "Other", hive_t_REG_SZ, "other.exe"}},
                    "", false, Mount::None, "system32/CONFIG", false,
                    R"(%SystemRoot%\inf;)" + kBoth, hive_t_REG_EXPAND_SZ,
                    {{"Other", {hive_t_REG_SZ, "other.exe"}},
                     {"Velmora driver 1", {hive_t_REG_EXPAND_SZ, Cmd(R"(Audio\snd.inf)")}},
                     {"Velmora driver 2", {hive_t_REG_EXPAND_SZ, Cmd(R"(LAN\net\netkvm.inf)")}}},
                    "First-start command: pnputil -i -a"},
        OfflineCase{"Windows10Before1607TakesTheOldForm",
                    Version("6.3", "10586"),
                    "", false, Mount::None, "System32/config", false,
                    R"(%SystemRoot%\inf;)" + kBoth, hive_t_REG_EXPAND_SZ,
                    {{"Velmora driver 1", {hive_t_REG_EXPAND_SZ, Cmd(R"(Audio\snd.inf)")}},
                     {"Velmora driver 2", {hive_t_REG_EXPAND_SZ, Cmd(R"(LAN\net\netkvm.inf)")}}},
                    "DevicePath before: (not set)"},
        OfflineCase{"FolderAlreadyListedTextTypeKeptWindowsXp",
                    Version("5.1", "2600") + std::vector<Value>{
                        {kCurrentVersion, "DevicePath", hive_t_REG_SZ, R"(%SystemRoot%\inf;%SYSTEMDRIVE%\drivers\velmora\lan\net\;)"}},
                    "", false, Mount::None, "System32/config", false,
                    R"(%SystemRoot%\inf;%SYSTEMDRIVE%\drivers\velmora\lan\net\;%SystemDrive%\Drivers\Velmora\Audio)",
                    hive_t_REG_SZ, kNoKey,
                    "First-start command: none: this Windows has no pnputil"},
        OfflineCase{"GivenTheWindowsFolderOnlyItsWorkingFolderCounts",
                    Version("10.0", "22631"),
                    "", false, Mount::None, "System32/config", true,
                    R"(%SystemRoot%\inf;%SystemDrive%\Drivers\Velmora\Drivers\Audio;)"
                    R"(%SystemDrive%\Drivers\Velmora\Drivers\LAN\net)", hive_t_REG_EXPAND_SZ,
                    {{"Velmora drivers", {hive_t_REG_EXPAND_SZ, kAddDriver}}},
                    "Copied: "},
        OfflineCase{"NoVersionNoCommand",
                    {}, "", false, Mount::None, "System32/config", false,
                    R"(%SystemRoot%\inf;)" + kBoth, hive_t_REG_EXPAND_SZ, kNoKey,
                    "Windows version in the registry: not recorded"},
        OfflineCase{"DirtySoftware", {}, DirtyHive(), false, Mount::None, "System32/config", false, "",
                    hive_t_REG_NONE, {}, "was not closed cleanly (sequence numbers 12 and 11)"},
        OfflineCase{"DirtySystem", Version("6.3", "19045"), "", true, Mount::None, "System32/config", false, "",
                    hive_t_REG_NONE, {}, "SYSTEM was not closed cleanly"},
        OfflineCase{"NotAHive", {}, "hello, this is text", false, Mount::None, "System32/config", false, "",
                    hive_t_REG_NONE, {}, "is not a registry hive (it does not start with \"regf\")"},
        OfflineCase{"WrongChecksum", {}, BadChecksum(), false, Mount::None, "System32/config", false, "",
                    hive_t_REG_NONE, {}, "its header checksum is wrong"},
        OfflineCase{"ReadOnlyConfigFolder", Version("6.3", "19045"), "", false, Mount::ReadOnlyConfig,
                    "System32/config", false, "", hive_t_REG_NONE, {}, "Read-only file system"},
        OfflineCase{"NoSpaceForTheNewHive", Version("6.3", "19045"), "", false, Mount::FullConfig,
                    "System32/config", false, "", hive_t_REG_NONE, {}, "No space left on device"}),
    [](const ::testing::TestParamInfo<OfflineCase>& param) { return param.param.name; });

TEST(OfflineWindowsTest, WithoutHivesItInstallsNothingAsBefore) {
  TempDir tmp;
  tmp.Write("Windows/System32/config/SOFTWARE", test_hive::EmptyHive());  // SYSTEM is missing
  tmp.Write("Windows/dp_tavi/Drivers/LAN/net.inf", "[Version]\r\n");
  ScopedEnv windir("VELMORA_WINDIR", tmp.File("Windows"));
  ScopedEnv sysfs("VELMORA_SYSFS", std::string(VELMORA_TESTDATA_DIR) + "/sysfs/virtio/sys");
  EXPECT_EQ(Shell(Quote(VELMORA_DPINST_PATH) + " /s /path " + tmp.File("Windows") + " >/dev/null 2>&1"), 0);
  const std::string log = tmp.Read("Windows/DPINST.LOG");
  EXPECT_NE(log.find("No offline Windows installation in " + tmp.File("Windows") + ": it has no registry hive"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Nothing was installed on this system"), std::string::npos);
  EXPECT_FALSE(fs::exists(tmp.File("Drivers")));
}

}  // namespace

#endif  // VELMORA_DPINST_PATH
