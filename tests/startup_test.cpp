// Start-up of the main window: banner, drive check, configuration defaults, working paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "app/error_report.h"
#include "platform/devices.h"
#include "platform/profile.h"
#include "support/app_fixture.h"
#include "support/scoped_env.h"

namespace {

class StartupTest : public AppFixture {};

TEST_F(StartupTest, LogStartsWithBannerThenLog45) {
  Start();
  const auto& lines = main->Form().Lines("LogLbx").ToVector();
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines[0], std::string(129, '='));
  EXPECT_EQ(lines[8], std::string(129, '='));
  EXPECT_EQ(lines[1], kApplicationTitle);
  EXPECT_NE(lines[3].find("7-zip.chm"), std::string::npos);
  EXPECT_TRUE(lines[3].ends_with("#ver.4.57#"));
  EXPECT_TRUE(lines[4].ends_with("#ver.2.01#"));
  // The program ships its own installer: the credit line names no outside maker.
  EXPECT_NE(lines[4].find("DPINST.exe"), std::string::npos);
  EXPECT_EQ(lines[4].find("Microsoft"), std::string::npos);
  EXPECT_TRUE(lines[5].ends_with("#ver.5.2.3718.0#"));
  EXPECT_NE(lines[6].find("Velmora_TAVI.exe"), std::string::npos);
  EXPECT_TRUE(lines[6].ends_with("#ver. 3.5.3.7 beta#"));
  // The first line after the banner is the time-stamped "log45".
  EXPECT_EQ(lines[9].substr(0, 1), "[");
  EXPECT_EQ(lines[9].substr(22, 6), "log45|");
  EXPECT_EQ(main->Form().ItemIndex("MainPageControle"), 0);
}

TEST_F(StartupTest, FirstStartMakesThePackFolderBesideTheProgram) {
  std::filesystem::remove_all(programDir + "DP");
  Start();
  EXPECT_TRUE(std::filesystem::is_directory(programDir + "DP"));
  EXPECT_EQ(main->Caption("CMDPackDired"), programDir + Joined("DP/"));
}

TEST_F(StartupTest, FreshStartWritesDefaultsOnce) {
  Start();
  EXPECT_EQ(Ini("Program", "Initial"), "no");
  EXPECT_EQ(Ini("Program", "RecreateIni"), "no");
  EXPECT_EQ(Ini("Program", "AppMainPath"), programFile);
  EXPECT_EQ(Ini("Program", "Workdir"), workDir);
  EXPECT_EQ(Ini("Program", "Windir"), winDir);
  EXPECT_EQ(Ini("Program", "LanguageChange"), "No");
  EXPECT_EQ(Ini("Program", "LanguageFile"), programDir + Joined("lng/english.lng"));
  EXPECT_EQ(Ini("Program", "Start From"), "Non CD");
  EXPECT_EQ(Ini("Program", "CMDPackDir"), programDir + Joined("DP/"));
  EXPECT_EQ(Ini("DP_Options", "DPExternal"), "no");
  EXPECT_EQ(Ini("DP_Options", "DPExternalDir"), programDir + Joined("DP/"));
  EXPECT_EQ(Ini("DP_Options", "SelectDPDir"), "no");
  EXPECT_EQ(Ini("DP_Options", "NonCompressedDriversFolder"), "NO");
  EXPECT_EQ(Ini("DP_Options", "NonCompressedDriversFolderLocation"), "N/A");
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
  EXPECT_EQ(Ini("Automation", "AutoHWIDSearch"), "No");
  auto keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log8"), 1);
  EXPECT_TRUE(std::filesystem::is_directory(workDir));
  // "Non CD" paths: tool files in Markers beside the program.
  EXPECT_EQ(main->Caption("CMDOutFileed"), programDir + Joined("Markers/cmdout"));
  EXPECT_EQ(main->Caption("CMDFileed"), programDir + Joined("Markers/cmd"));
  EXPECT_EQ(main->Caption("CMDPackOutDired"), "-o" + workDir);
  EXPECT_EQ(main->Caption("IniLocationlbl"), programDir + "dp_tavi.ini");
}

TEST_F(StartupTest, InitialRewritesDefaultsOnlyWhenExactlyYes) {
  struct Case {
    const char* initial;
    bool rewritten;
  };
  for (const Case& c : {Case{"YES", false}, Case{"yes", false}, Case{"Yes", true}}) {
    SCOPED_TRACE(c.initial);
    Start();
    main.reset();
    const std::string ini = programDir + "dp_tavi.ini";
    platform::profile::WriteString(ini, "Automation", "AutoDPInstall", "Custom");
    platform::profile::WriteString(ini, "Program", "Initial", c.initial);
    Start();
    EXPECT_EQ(Ini("Automation", "AutoDPInstall"), c.rewritten ? "No" : "Custom");
    main.reset();
    std::remove(ini.c_str());
  }
}

TEST_F(StartupTest, MovedProgramRewritesDefaultsOnceWhenAsked) {
  Start();
  main.reset();
  const std::string ini = programDir + "dp_tavi.ini";
  platform::profile::WriteString(ini, "Program", "RecreateIni", "yes");
  platform::profile::WriteString(ini, "Automation", "AutoDPInstall", "Custom");
  Start();  // same path: nothing changes
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "Custom");
  main.reset();
  platform::profile::WriteString(ini, "Program", "AppMainPath", "/elsewhere/Velmora_TAVI");
  Start();
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
  EXPECT_EQ(Ini("Program", "RecreateIni"), "no");
  EXPECT_EQ(Ini("Program", "AppMainPath"), programFile);
}

TEST_F(StartupTest, MissingStartFromTakesWorkingFolderPaths) {
  Start();
  main.reset();
  tmp.Write("prog/dp_tavi.ini", "[Program]\r\nInitial=no\r\nAppMainPath=" + programFile + "\r\n");
  Make();
  main->FindDirsbtnClick();
  main->SetCaption("IniLocationlbl", programDir + "dp_tavi.ini");
  main->CreateInibtnClick();
  EXPECT_EQ(main->Caption("CMDOutFileed"), workDir + "cmdout");
  EXPECT_EQ(main->Caption("CMDFileed"), workDir + "cmd");
  EXPECT_TRUE(std::filesystem::exists(workDir + "cmd"));
  EXPECT_EQ(main->Caption("CMDPackOutDired"), "-o" + workDir);
}

TEST_F(StartupTest, NonCompressedDriversFolderMovesWorkingFolderOnlyOnNonCdStart) {
  SKIP_WITHOUT_LINUX_OVERRIDE("VELMORA_DRIVE_TYPE");
  const std::string location = tmp.MakeDir("drivers");
  struct Case {
    const char* driveType;
    const char* startFrom;
    bool moved;
  };
  for (const Case& c : {Case{"3", "Non CD", true}, Case{"5", "CD", false}, Case{"5", "Non CD", false}}) {
    SCOPED_TRACE(std::string(c.driveType) + " " + c.startFrom);
    SetEnvVar("VELMORA_DRIVE_TYPE", c.driveType);
    // On a CD-ROM the copy beside the program becomes the file in use, but the start from the
    // CD counts, whatever the copy says.
    tmp.Write("prog/dp_tavi.ini", std::string("[Program]\r\nInitial=no\r\nStart From=") + c.startFrom +
                                      "\r\nAppMainPath=" + programFile +
                                      "\r\n[DP_Options]\r\nNonCompressedDriversFolder=yes\r\n"
                                      "NonCompressedDriversFolderLocation=" +
                                      location + "\r\n");
    Start();
    const std::string expected = c.moved ? location + "dp_tavi/" : workDir;
    EXPECT_EQ(main->Caption("Workdir"), expected);
    EXPECT_EQ(main->Caption("CMDPackOutDired"), "-o" + expected);
    EXPECT_EQ(tmp.Exists("drivers/dp_tavi"), c.moved);
    main.reset();
    std::filesystem::remove_all(location + "dp_tavi");
  }
}

TEST_F(StartupTest, CdRomStartUsesCopyInWorkingFolder) {
  SKIP_WITHOUT_LINUX_OVERRIDE("VELMORA_DRIVE_TYPE");
  // The copy beside the program, as it was configured where it last ran (or without the key).
  for (const char* startFrom : {"Start From=CD\r\n", "Start From=Non CD\r\n", ""}) {
    SCOPED_TRACE(startFrom);
    const std::string copy = std::string("[Program]\r\nInitial=no\r\n") + startFrom +
                             "AppMainPath=" + programFile + "\r\nCustomKey=kept\r\n";
    tmp.Write("prog/dp_tavi.ini", copy);
    SetEnvVar("VELMORA_DRIVE_TYPE", "5");
    Start();
    const std::string workIni = workDir + "dp_tavi.ini";
    EXPECT_EQ(main->Caption("IniLocationlbl"), workIni);
    EXPECT_EQ(platform::profile::ReadString(workIni, "Program", "CustomKey", ""), "kept");
    EXPECT_EQ(platform::profile::ReadString(workIni, "Program", "Start From", ""), "CD");
    // The tool files lie in the working folder, never on the CD.
    EXPECT_EQ(main->Caption("CMDOutFileed"), workDir + "cmdout");
    EXPECT_EQ(main->Caption("CMDFileed"), workDir + "cmd");
    EXPECT_EQ(main->Caption("CMDPackOutDired"), "-o" + workDir);
    EXPECT_EQ(tmp.Read("prog/dp_tavi.ini"), copy);
    main.reset();
    std::filesystem::remove(workIni);
  }
}

TEST_F(StartupTest, UnknownDriveTypeFallsBackToProgramFolderFile) {
  SKIP_WITHOUT_LINUX_OVERRIDE("VELMORA_DRIVE_TYPE");
  for (const char* type : {"0", "1"}) {
    SCOPED_TRACE(type);
    SetEnvVar("VELMORA_DRIVE_TYPE", type);
    Start();
    EXPECT_EQ(main->Caption("IniLocationlbl"), programDir + "dp_tavi.ini");
    EXPECT_EQ(Ini("Program", "Initial"), "no");
    main.reset();
  }
}

TEST_F(StartupTest, AutoHWIDSearchQuestion) {
  struct Case {
    const char* value;
    bool asked;
    bool answer;
    const char* after;
  };
  for (const Case& c : {Case{"yes", true, false, "yes"}, Case{"YES", true, true, "NO"},
                        Case{"N/A", false, false, "N/A"}, Case{"No", false, false, "No"}}) {
    SCOPED_TRACE(c.value);
    Start();
    main.reset();
    platform::profile::WriteString(programDir + "dp_tavi.ini", "Automation", "AutoHWIDSearch", c.value);
    ui.shown.clear();
    ui.answers = {c.answer};
    Start();
    bool asked = std::any_of(ui.shown.begin(), ui.shown.end(),
                             [](const std::string& s) { return s.rfind("ask:msg7", 0) == 0; });
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(Ini("Automation", "AutoHWIDSearch"), c.after);
    auto keys = LogKeys();
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "log46"), c.answer ? 1 : 0);
    main.reset();
  }
}

// The automatic collection at start-up is the first use of the device functions: they must be
// bound by then, or the list comes out empty (on Windows nothing answers before the binding).
TEST_F(StartupTest, AutoHWIDSearchCollectsWithTheDeviceFunctionsBound) {
  SKIP_WITHOUT_LINUX_OVERRIDE("VELMORA_SYSFS");
  ScopedEnv sysfs("VELMORA_SYSFS", std::string(VELMORA_TESTDATA_DIR) + "/sysfs/laptop/sys");
  Start();
  main.reset();  // the window's end unbinds the device functions, as when the program quits
  platform::profile::WriteString(programDir + "dp_tavi.ini", "Automation", "AutoHWIDSearch", "YES");
  ui.answers = {true};
  Make();
  platform::devices::FreePnpApi();  // a fresh program has bound nothing
  main->FormCreate();
  const auto& collected = main->Form().Items("GetDevlb");
  EXPECT_FALSE(collected.empty());
  EXPECT_TRUE(std::any_of(collected.begin(), collected.end(),
                          [](const std::string& id) { return id.rfind("PCI\\VEN_8086&DEV_15D7", 0) == 0; }));
  EXPECT_EQ(Ini("Automation", "AutoHWIDSearch"), "NO");
}

TEST_F(StartupTest, AboutTextAndUnpackedListAreLoadedWhenPresent) {
  tmp.Write(workDir + "UnpackedDP.txt", "a.7z\r\nb.7z\r\n");
  Start();
  EXPECT_EQ(main->Form().Items("AboutListBox"), (std::vector<std::string>{"About line 1", "About line 2"}));
  EXPECT_EQ(main->Form().Items("UnpackedDPlb"), (std::vector<std::string>{"a.7z", "b.7z"}));
}

TEST_F(StartupTest, MissingAboutTextAndUnpackedListDoNotStopStartUp) {
  std::remove((programDir + "Data/PackInfo.txt").c_str());
  Start();
  EXPECT_TRUE(main->Form().Items("AboutListBox").empty());
  EXPECT_TRUE(main->Form().Items("UnpackedDPlb").empty());
  // The last start-up step still ran: the language was applied and logged.
  EXPECT_EQ(LogKeys().back(), "log70");
}

TEST_F(StartupTest, GarbageConfigurationFileDoesNotStopStartUp) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 37) % 256));
  tmp.Write("prog/dp_tavi.ini", garbage);
  Start();
  EXPECT_EQ(Ini("Program", "Initial"), "no");
  // The garbage is kept: nothing the user wrote is lost.
  EXPECT_NE(tmp.Read("prog/dp_tavi.ini").find(garbage.substr(1, 20)), std::string::npos);
}

TEST_F(StartupTest, LeftoversOfKilledWritesAreSweptBeforeAnythingIsWritten) {
#ifdef _WIN32
  const std::string leftover = "vel1A.tmp";
  const std::string young = "vel2B.tmp";
#else
  const std::string leftover = ".dp_tavi.ini.tmp-Ab12Cd";
  const std::string young = ".UnpackedDP.txt.tmp-Zz99Yy";
#endif
  for (const std::string& folder : {programDir, workDir}) {
    std::filesystem::create_directories(folder);
    tmp.Write(folder + leftover, "half a file");
    std::filesystem::last_write_time(folder + leftover,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::minutes(10));
  }
  tmp.Write(programDir + young, "a write of another copy, just begun");
  Start();
  EXPECT_FALSE(std::filesystem::exists(programDir + leftover));
  EXPECT_FALSE(std::filesystem::exists(workDir + leftover));
  EXPECT_TRUE(std::filesystem::exists(programDir + young));
  const std::vector<std::string> texts = LogTexts();
  auto at = [&](const std::string& text) {
    return static_cast<std::size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
  };
  const std::size_t program = at("log99|1|" + main->ProgramFolder());
  const std::size_t work = at("log99|1|" + workDir);
  ASSERT_LT(program, texts.size()) << ::testing::PrintToString(texts);
  ASSERT_LT(work, texts.size()) << ::testing::PrintToString(texts);
  // Before the configuration is opened (log31 comes right before its first write).
  const std::size_t configuration = at("log31|" + programFile + "|%s");
  ASSERT_LT(configuration, texts.size());
  EXPECT_LT(std::max(program, work), configuration);
}

TEST_F(StartupTest, StagingFoldersOfKilledExtractionsAreSweptFromEveryOutputFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows archiver stages nothing in the output folder";
#else
  const std::string staged = ".velmora-7z-Ab12Cd/files/D/N/net.inf";
  for (const std::string& folder : {workDir, workDir + "Index/", workDir + "Drivers/"}) {
    tmp.Write(folder + staged, "half extracted");
    std::filesystem::last_write_time(folder + ".velmora-7z-Ab12Cd",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::minutes(10));
  }
  tmp.Write(workDir + "Drivers/.velmora-7z-Young1/files/a.inf", "an extraction just begun");
  Start();
  const std::vector<std::string> texts = LogTexts();
  for (const std::string& folder : {workDir, workDir + "Index/", workDir + "Drivers/"}) {
    EXPECT_FALSE(std::filesystem::exists(folder + ".velmora-7z-Ab12Cd")) << folder;
    EXPECT_NE(std::find(texts.begin(), texts.end(), "log102|1|" + folder), texts.end()) << folder;
  }
  EXPECT_TRUE(std::filesystem::exists(workDir + "Drivers/.velmora-7z-Young1/files/a.inf"));
#endif
}

TEST_F(StartupTest, OrdinaryFirstStartLeavesNoErrorReport) {
  ErrorReport::Install();
  Start();
  main->FormDestroy();
  ErrorReport::Uninstall();
  ErrorReport::SetFolder("");
  EXPECT_FALSE(tmp.Exists("win/dp_tavi/DP_TAVI_Error.log"));
}

TEST_F(StartupTest, LinksGoToTheShell) {
  Make();
  main->SetCaption("LangFileLabel", programDir + "lng/english.lng");
  main->sClick();
  main->Label5Click();
  ASSERT_EQ(ui.urls.size(), 2u);
  EXPECT_EQ(ui.urls[0].rfind("mailto:", 0), 0u);
  EXPECT_NE(ui.urls[0].find("subject=Velmora"), std::string::npos);
  EXPECT_EQ(ui.urls[1].rfind("https://", 0), 0u);
  EXPECT_EQ(LogKeys().size(), 0u);
  // Without a program to open them, the log says so.
  ui.urlsOpen = false;
  main->sClick();
  main->Label5Click();
  EXPECT_EQ(LogKeys(), (std::vector<std::string>{"log85", "log85"}));
  EXPECT_TRUE(LogHas("log85|" + ui.urls[1] + "|%s"));
}

}  // namespace

namespace {

class StartupBadInputTest : public AppFixture {};

TEST_F(StartupBadInputTest, UnwritableConfigurationStillStartsWithDefaults) {
  // A folder in place of the file: no write can reach it, whoever runs the test.
  tmp.MakeDir("prog/dp_tavi.ini");
  Start();
  EXPECT_TRUE(LogHas("log95|" + programDir + "dp_tavi.ini|%s"));
  EXPECT_EQ(main->Caption("CMDPackDired"), programDir + Joined("DP/"));
  EXPECT_EQ(main->Caption("CMDPackOutDired"), "-o" + workDir);
  EXPECT_EQ(LogKeys().back(), "log70");
}

TEST_F(StartupBadInputTest, RamDiskOpensTheConfigurationBeforeTheDriveLines) {
  SKIP_WITHOUT_LINUX_OVERRIDE("VELMORA_DRIVE_TYPE");
  // An unwritable file makes the opening visible in the log.
  tmp.MakeDir("prog/dp_tavi.ini");
  const std::string opened = "log95|" + programDir + "dp_tavi.ini|%s";
  struct Case {
    const char* type;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"2", {"log32", "log35", "opened"}},
      {"3", {"log32", "log36", "opened"}},
      {"4", {"log32", "log37", "opened"}},
      {"6", {"opened", "log32", "log39"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    SetEnvVar("VELMORA_DRIVE_TYPE", c.type);
    Make();
    main->SetCaption("LangFileLabel", programDir + "lng/english.lng");
    main->FirstCheckbtnClick();
    std::vector<std::string> seen;
    for (const std::string& text : LogTexts()) {
      const std::string key = text.substr(0, text.find('|'));
      if (text == opened) {
        seen.push_back("opened");
      } else if (key == "log32" || key == "log35" || key == "log36" || key == "log37" || key == "log39") {
        seen.push_back(key);
      }
    }
    EXPECT_EQ(seen, c.expected);
    main.reset();
  }
}

TEST_F(StartupBadInputTest, UnusableLanguageFilesAreNamedAndTheTextsComeFromEnglish) {
  SKIP_ON_WINDOWS(VELMORA_LINUX_PATHS);
  // The start language is the English file unless the configuration names another.
  const auto chooseGerman = [](TempDir& t) {
    t.Write("prog/dp_tavi.ini", "[Program]\r\nInitial=no\r\nLanguageChange=YES\r\nLanguageFile=" +
                                    t.File("prog/lng/deutsch.lng") + "\r\n");
  };
  const std::string english = programDir + "lng/english.lng";
  const std::string german = programDir + "lng/deutsch.lng";
  // With the test English file usable, log lines read "key|args"; without it, built-in English.
  const std::string builtInStart = "Velmora started";
  struct Case {
    const char* name;
    std::function<void(TempDir&)> prepare;
    std::size_t languages;
    std::vector<std::string> named;  // the lines naming unusable files, in order
    std::string started;             // the text of log45
  };
  const Case cases[] = {
      {"empty folder",
       [](TempDir& t) { std::filesystem::remove(t.File("prog/lng/english.lng")); },
       0,
       {"The language file " + english + " cannot be read; English texts are used instead"},
       builtInStart},
      {"no folder",
       [](TempDir& t) { std::filesystem::remove_all(t.File("prog/lng")); },
       0,
       {"The language file " + english + " cannot be read; English texts are used instead"},
       builtInStart},
      {"file without Msg",
       [](TempDir& t) { t.Write("prog/lng/english.lng", "[About]\r\nTranslateLangName=Bare\r\n"); },
       1,
       {"The file " + english +
        " is not a language file (it has no [Msg] section); English texts are used instead"},
       builtInStart},
      {"binary file",
       [](TempDir& t) { t.Write("prog/lng/english.lng", std::string("\0\xFF[Msg\n=\r", 9)); },
       1,
       {"The file " + english +
        " is not a language file (it has no [Msg] section); English texts are used instead"},
       builtInStart},
      {"chosen file missing", chooseGerman, 1, {"log86|" + german + "|%s"}, "log45|%s|%s"},
      {"chosen file without Msg",
       [chooseGerman](TempDir& t) {
         chooseGerman(t);
         t.Write("prog/lng/deutsch.lng",
                 "[About]\r\nTranslateLangName=Deutsch\r\n[Mainfrm]\r\nEnumBtn=x\r\n");
       },
       2,
       {"log87|" + german + "|%s"},
       "log45|%s|%s"},
      {"chosen and English file unusable",
       [chooseGerman](TempDir& t) {
         chooseGerman(t);
         t.Write("prog/lng/deutsch.lng", "garbage");
         std::filesystem::remove(t.File("prog/lng/english.lng"));
       },
       1,
       {"The file " + german +
            " is not a language file (it has no [Msg] section); English texts are used instead",
        "The language file " + english + " cannot be read; English texts are used instead"},
       builtInStart},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare(tmp);
    Start();
    EXPECT_EQ(main->Form().Items("LanguageNameTntComboBox").size(), c.languages);
    EXPECT_TRUE(LogHas(c.started));
    std::vector<std::string> named;
    for (const std::string& text : LogTexts()) {
      if (text.rfind("log86|", 0) == 0 || text.rfind("log87|", 0) == 0 ||
          text.find("English texts are used instead") != std::string::npos) {
        named.push_back(text);
      }
    }
    EXPECT_EQ(named, c.named);
    // The window stays usable: the Home Page's two main buttons have their English captions.
    EXPECT_EQ(main->Caption("UnpackInstallTntSpeedButton"), "Unpack all & Install");
    EXPECT_EQ(main->Caption("UnpackInstallHwidsTntSpeedButton"), "Search by HWIDs & Install");
    main.reset();
    std::filesystem::remove(programDir + "dp_tavi.ini");
    std::filesystem::remove(german);
    WriteTestLanguage(programDir + "lng/english.lng", "English");
  }
}

}  // namespace
