// The driver package installer's rules: its command line and descriptor, the search for
// packages, the choice of an INF file's models section, device matching and the summary.
#include <gtest/gtest.h>

#include <map>

#include "installer/installer_log.h"
#include "installer/installer_options.h"
#include "installer/models.h"
#include "installer/package_search.h"

using namespace installer;

struct CommandCase {
  const char* line;
  const char* error;  // "" when accepted
  const char* folder;
  bool silent, legacy, force, scan;
  const char* ignored;  // ignored switches joined with '|'
};

TEST(InstallerCommandLine, AcceptsTheUsualSwitchesAndRefusesOthers) {
  const CommandCase cases[] = {
      {"DPINST.exe /s /path C:\\WINDOWS", "", "C:\\WINDOWS", true, false, false, false, ""},
      {"DPINST.exe /path C:\\WINDOWS", "", "C:\\WINDOWS", false, false, false, false, ""},
      {"\"C:\\Program Files\\V\\DPINST.exe\" /S /PATH C:\\Dir", "", "C:\\Dir", true, false, false, false, ""},
      {"DPINST.exe /path C:\\My Drivers\\x64 /s", "", "C:\\My Drivers\\x64", true, false, false, false, ""},
      {"DPINST.exe /path   C:\\My  Drivers  ", "", "C:\\My  Drivers", false, false, false, false, ""},
      {"DPINST.exe /path \"C:\\My Drivers /s\" /lm", "", "C:\\My Drivers /s", false, true, false, false, ""},
      {"DPINST.exe /path C:\\a\\ /Q /F /SH", "", "C:\\a\\", true, false, true, true, ""},
      {"DPINST.exe /sw /sa /se /l 1033 /logtitle My Title /path D:\\", "", "D:\\", false, false, false, false,
       "/sa|/se|/l 1033|/logtitle My Title"},
      {"DPINST.exe", "", "", false, false, false, false, ""},
      {"DPINST.exe /x", "unknown switch /x", "", false, false, false, false, ""},
      {"DPINST.exe /s stray", "unexpected word \"stray\"", "", false, false, false, false, ""},
      {"DPINST.exe /path", "switch /path needs a value", "", false, false, false, false, ""},
      {"DPINST.exe /path /s", "switch /path needs a value", "", false, false, false, false, ""},
      {"DPINST.exe /path \"C:\\a", "the value of /path has no closing quotation mark", "", false, false, false, false, ""},
      {"DPINST.exe /path C:\\a /path C:\\b", "switch /path given twice", "", false, false, false, false, ""},
      {"DPINST.exe /path \"\"", "switch /path needs a folder", "", false, false, false, false, ""},
      {"DPINST.exe /u C:\\a.inf", "switch /u (uninstalling a driver package) is not supported", "", false, false, false,
       false, ""},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.line);
    const CommandLineResult r = ParseInstallerCommandLine(c.line);
    EXPECT_EQ(r.error, c.error);
    if (*c.error != '\0') continue;
    EXPECT_EQ(r.options.folder, c.folder);
    EXPECT_EQ(r.options.silent, c.silent);
    EXPECT_EQ(r.options.legacyMode, c.legacy);
    EXPECT_EQ(r.options.force, c.force);
    EXPECT_EQ(r.options.scanHardware, c.scan);
    std::string ignored;
    for (const std::string& s : r.options.ignored) ignored += (ignored.empty() ? "" : "|") + s;
    EXPECT_EQ(ignored, c.ignored);
  }
  EXPECT_TRUE(ParseInstallerCommandLine("DPINST.exe /sw").options.suppressWizard);
  EXPECT_TRUE(ParseInstallerCommandLine("DPINST.exe /c").options.console);
  EXPECT_TRUE(ParseInstallerCommandLine("DPINST.exe /?").options.help);
}

TEST(InstallerDescriptor, SetsTheFlagsItNamesAndSkipsComments) {
  InstallerOptions o;
  const auto applied = ApplyDescriptor(
      "<?xml version=\"1.0\"?>\n<dpinst>\n  <!-- <scanHardware/> -->\n  <search><subDirectory>*</subDirectory></search>\n"
      "  <legacyMode/>\n  <suppressWizard/>\n  <quietInstall />\n</dpinst>\n",
      o);
  EXPECT_EQ(applied, (std::vector<std::string>{"legacyMode", "suppressWizard", "quietInstall"}));
  EXPECT_TRUE(o.legacyMode);
  EXPECT_TRUE(o.suppressWizard);
  EXPECT_TRUE(o.silent);
  EXPECT_FALSE(o.scanHardware);
  EXPECT_FALSE(o.force);
  InstallerOptions p;
  EXPECT_EQ(ApplyDescriptor("<dpinst><forceIfDriverIsNotBetter/><scanHardwareX/><!-- unterminated", p),
            std::vector<std::string>{"forceIfDriverIsNotBetter"});
  EXPECT_TRUE(p.force);
  EXPECT_FALSE(p.scanHardware);
}

TEST(InstallerPackageSearch, EveryLevelInfFirstNoLinksNoStaging) {
  std::map<std::string, std::vector<FolderEntry>> tree{
      {"R", {{"b", true, false}, {"A.INF", false, false}, {"a", true, false}, {"readme.txt", false, false},
             {".velmora-7z-Ab12", true, false}, {"link", true, true}, {"gone", true, false}, {"x.inf", true, false}}},
      {"R\\a", {{"deep", true, false}, {"z.inf", false, false}, {"inf", false, false}}},
      {"R\\a\\deep", {{"d.Inf", false, false}}},
      {"R\\b", {}},
      {"R\\x.inf", {{"y.inf", false, false}}},
      {"R\\.velmora-7z-Ab12", {{"s.inf", false, false}}},
      {"R\\link", {{"l.inf", false, false}}},
  };
  const ListFolder list = [&](const std::string& f, std::vector<FolderEntry>& e) {
    const auto it = tree.find(f);
    if (it == tree.end()) return false;
    e = it->second;
    return true;
  };
  const PackageSearch found = FindDriverPackages("R", '\\', list);
  EXPECT_EQ(found.infFiles, (std::vector<std::string>{"R\\A.INF", "R\\a\\z.inf", "R\\a\\deep\\d.Inf", "R\\x.inf\\y.inf"}));
  EXPECT_EQ(found.skipped, (std::vector<std::string>{"R\\.velmora-7z-Ab12", "R\\link"}));
  EXPECT_EQ(found.unreadable, std::vector<std::string>{"R\\gone"});
  const PackageSearch rest = FindDriverPackages("R", '\\', list, {"r\\A\\DEEP", "R\\b"});
  EXPECT_EQ(rest.infFiles, (std::vector<std::string>{"R\\A.INF", "R\\a\\z.inf", "R\\x.inf\\y.inf"}));
  EXPECT_EQ(rest.skipped, (std::vector<std::string>{"R\\.velmora-7z-Ab12", "R\\a\\deep", "R\\b", "R\\link"}));
  EXPECT_TRUE(IsStagingFolder(".VELMORA-7z-x"));
  EXPECT_FALSE(IsStagingFolder("velmora-7z-x"));
}

TEST(InstallerDecorations, ChoosesTheSectionWindowsWould) {
  const Platform x86xp{Architecture::X86, 5, 1, 1, 2600};
  const Platform x64win7{Architecture::Amd64, 6, 1, 1, 7601};
  const Platform x64win10{Architecture::Amd64, 10, 0, 1, 19045};
  const Platform x64server{Architecture::Amd64, 10, 0, 3, 17763};
  struct Case {
    std::vector<std::string> decorations;
    Platform platform;
    std::optional<std::string> chosen;
  };
  const Case cases[] = {
      {{}, x86xp, ""},
      {{}, x64win7, std::nullopt},
      {{"NTx86", "NTamd64"}, x86xp, "NTx86"},
      {{"NTx86", "NTamd64"}, x64win7, "NTamd64"},
      {{"ntAMD64"}, x64win7, "ntAMD64"},
      {{"NT"}, x86xp, "NT"},
      {{"NT"}, x64win7, std::nullopt},
      {{"NTamd64.6.1", "NTamd64"}, x64win7, "NTamd64.6.1"},
      {{"NTamd64.6.2", "NTamd64"}, x64win7, "NTamd64"},
      {{"NTamd64.6.2"}, x64win7, std::nullopt},
      {{"NTx86.6.0"}, x86xp, ""},
      {{"NTamd64.6.0", "NTamd64.6.1", "NTamd64.10.0"}, x64win10, "NTamd64.10.0"},
      {{"NT.6.1", "NTamd64"}, x86xp, ""},
      {{"NTx86.5.1", "NT.5.1"}, x86xp, "NTx86.5.1"},
      {{"NTamd64.10.0.3", "NTamd64.10.0"}, x64server, "NTamd64.10.0.3"},
      {{"NTamd64.10.0.3"}, x64win10, std::nullopt},
      {{"NTamd64.10.0...17763", "NTamd64.10.0"}, x64server, "NTamd64.10.0...17763"},
      {{"NTamd64.10.0...20000", "NTamd64"}, x64win10, "NTamd64"},
      {{"NTamd64.10.0..0x80"}, x64win10, std::nullopt},
      {{"NTarm64", "NTia64"}, x64win10, std::nullopt},
      {{"Win2000", "NTamd64.x"}, x64win10, std::nullopt},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& d : c.decorations) trace += d + " ";
    SCOPED_TRACE(trace + "on " + std::to_string(c.platform.major) + "." + std::to_string(c.platform.minor));
    EXPECT_EQ(ChooseDecoration(c.decorations, c.platform), c.chosen);
  }
}

TEST(InstallerMatching, BestModelPerDeviceHardwareIdsFirst) {
  const std::vector<Model> models{
      {"Generic", "G", {"PCI\\CC_0300"}},
      {"Exact", "E", {"PCI\\VEN_10DE&DEV_1234&SUBSYS_00011043", "PCI\\VEN_10DE&DEV_1234"}},
      {"Family", "F", {"pci\\ven_10de&dev_1234"}},
      {"Usb", "U", {"USB\\VID_046D&PID_C52B"}},
  };
  const std::vector<Device> devices{
      {"PCI\\1", {"PCI\\VEN_10DE&DEV_1234&SUBSYS_00011043&REV_A1", "PCI\\VEN_10DE&DEV_1234&SUBSYS_00011043"},
       {"PCI\\VEN_10DE&DEV_1234", "PCI\\CC_0300"}},
      {"PCI\\2", {"PCI\\VEN_10DE&DEV_9999"}, {"PCI\\CC_0300"}},
      {"ACPI\\3", {"ACPI\\PNP0A08"}, {"*PNP0A03"}},
      {"PCI\\4", {"PCI\\VEN_10DE&DEV_1234&REV_01", "PCI\\VEN_10DE&DEV_1234"}, {}},
  };
  const std::vector<Served> served = MatchDevices(models, devices);
  ASSERT_EQ(served.size(), 3u);
  EXPECT_EQ(served[0].device, 0u);
  EXPECT_EQ(served[0].model, 1u);  // its second hardware ID is the model's hardware ID
  EXPECT_EQ(served[0].id, "PCI\\VEN_10DE&DEV_1234&SUBSYS_00011043");
  EXPECT_EQ(served[1].device, 1u);
  EXPECT_EQ(served[1].model, 0u);  // only through a compatible ID
  EXPECT_EQ(served[1].id, "PCI\\CC_0300");
  EXPECT_EQ(served[2].device, 3u);
  EXPECT_EQ(served[2].model, 2u);  // a model's hardware ID beats another model's compatible ID
  EXPECT_EQ(served[2].id, "PCI\\VEN_10DE&DEV_1234");
  EXPECT_EQ(served[0].rank, 1u);       // the device's second hardware ID, the model's hardware ID
  EXPECT_EQ(served[1].rank, 0x2000u);  // the device's first compatible ID
  EXPECT_EQ(served[2].rank, 1u);
  EXPECT_TRUE(MatchDevices({}, devices).empty());
}

TEST(InstallerSummary, StatusAndLastLine) {
  Summary s;
  EXPECT_EQ(s.Status(), kExitOk);
  s.Add(Outcome::Installed, true);
  s.Add(Outcome::NotNeeded, false);
  s.Add(Outcome::Unsigned, false);
  EXPECT_EQ(s.Status(), kExitOk);  // an unsigned package no present device needs does not count
  s.Add(Outcome::UpToDate, true);
  s.Add(Outcome::Unsigned, true);
  EXPECT_EQ(s.Status(), kExitUnsigned);
  s.Add(Outcome::Failed, false);
  EXPECT_EQ(s.Status(), kExitFailed);
  EXPECT_EQ(s.Line(),
            "Summary: 6 driver packages: 1 installed, 1 already up to date, 1 not needed, 2 not signed, 1 failed; "
            "exit status 1");
}
