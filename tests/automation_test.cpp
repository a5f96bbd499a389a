// Command-line switches and the one-click runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/error_report.h"
#include "app/log_save.h"
#include "base/window_layout.h"
#include "platform/profile.h"
#include "support/app_fixture.h"

namespace {

namespace fs = std::filesystem;

// A run ends by starting the clean-up (log15) where the installer installs; where it only
// prepares the drivers for Windows it keeps them and says where (log82).
#ifdef _WIN32
constexpr bool kCleansUp = true;
constexpr const char* kLastKey = "log15";
constexpr const char* kLastKeyNothingPrepared = "log15";
#else
constexpr bool kCleansUp = false;
constexpr const char* kLastKey = "log82";
// No driver lies in the drivers folder: the run does not claim to have prepared any.
constexpr const char* kLastKeyNothingPrepared = "log108";
#endif

class AutomationTest : public AppFixture {
 protected:
  void Tools() {
    for (const auto& [name, body] : std::vector<std::pair<std::string, std::string>>{
             // Writes the file it reports into the folder after -o.
             {"7z", "for a; do case $a in -o*) mkdir -p \"${a#-o}drv\" && : > \"${a#-o}drv/a.inf\";; esac; done\n"
                    "echo 'Extracting  drv/a.inf'\n"},
             {"DPINST.exe", "echo installed > \"$VELMORA_WINDIR/DPINST.LOG\"\n"},
             {"clean.cmd", "touch \"$VELMORA_WINDIR/cleaned\"\n"}}) {
      fs::permissions(tmp.Write("prog/" + name, "#!/bin/sh\n" + body), fs::perms::owner_all);
    }
    tmp.Write("prog/DP/one.7z", "pack");
  }
};

TEST_F(AutomationTest, InirRerunsConfigurationAndStaysOpen) {
  Start({"/inir", "ignored"});
  main->FormActivate();
  EXPECT_EQ(LogKeys().back(), "log44");
  EXPECT_TRUE(LogHas("log40|/inir|%s"));
  EXPECT_EQ(main->Caption("StopVolatileed"), "FORMACTIVE");
  EXPECT_FALSE(main->Form().Enabled("AutoCloseTimer"));
  // Activating the window again starts nothing.
  std::size_t lines = main->Form().Lines("LogLbx").ToVector().size();
  main->FormActivate();
  EXPECT_EQ(main->Form().Lines("LogLbx").ToVector().size(), lines);
}

TEST_F(AutomationTest, UntdUnpacksInstallsAndArmsTheTimer) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  Tools();
  Start({"/untd", "more"});
  main->FormActivate();
  auto keys = LogKeys();
  for (const char* key : {"log40", "log41", "log22", "log47", "log43", kLastKey}) {
    EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
  }
  const SplitLog log = SplitAtSummary(keys);
  ASSERT_FALSE(log.before.empty());
  EXPECT_EQ(log.before.back(), kLastKey);
  // No search, one installer run, nothing failed.
  EXPECT_EQ(log.summary, (std::vector<std::string>{"log124", "log125", "log127"}));
  EXPECT_TRUE(LogHas("log124|0|0|1"));
  EXPECT_TRUE(LogHas("installed"));
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
  EXPECT_TRUE(main->Form().Enabled("AutoCloseTimer"));
  EXPECT_FALSE(main->Waitfrm().Visible(kWaitFormName));
  // Where the installer installs, the clean-up script is started and runs on its own; here it
  // only prepares the drivers, which stay where the log says.
  for (int i = 0; i < 40 && !tmp.Exists("win/cleaned"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(tmp.Exists("win/cleaned"), kCleansUp);
  if (!kCleansUp) {
    EXPECT_TRUE(LogHas("log82|" + workDir + "Drivers/|%s"));
  }
  main->AutoCloseTimerTimer();
  EXPECT_TRUE(ui.closed);
}

TEST_F(AutomationTest, UntdWithAutomationAlreadyOnInstallsTwice) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  Tools();
  Start({"/untd"});
  platform::profile::WriteString(programDir + "dp_tavi.ini", "Automation", "AutoDPInstall", "YES");
  main->FormActivate();
  // Once at the end of the unpacking, once as the run's own step; then the run ends.
  std::vector<std::string> steps;
  for (const std::string& key : LogKeys()) {
    if (key == "log27" || key == "log47" || key == "log43") steps.push_back(key);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"log27", "log47", "log47", "log43"}));
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
}

TEST_F(AutomationTest, UpperCaseSwitchOrNoSwitchStartsNothing) {
  for (std::vector<std::string> args : {std::vector<std::string>{"/UNTD"}, std::vector<std::string>{}}) {
    Start(args);
    std::size_t lines = main->Form().Lines("LogLbx").ToVector().size();
    main->FormActivate();
    EXPECT_EQ(main->Form().Lines("LogLbx").ToVector().size(), lines);
    EXPECT_EQ(main->Caption("StopVolatileed"), "StopVolatileed");
    main.reset();
  }
}

TEST_F(AutomationTest, QuestionsReachThePersonOnceTheSwitchRunIsDone) {
  Start({"/inir"});
  main->FormActivate();
  // The program stays open after "/inir": from now on a person answers.
  ui.answers = {true};
  main->DeletePacksbtnClick();
  ASSERT_FALSE(ui.shown.empty());
  EXPECT_EQ(ui.shown.back(), "ask:msg4|%s");
  EXPECT_EQ(LogKeys().back(), "log15");
}

TEST_F(AutomationTest, FailedRunLeavesAutomationOffAndIsNotStartedAgain) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  // No installer: nothing writes DPINST.LOG, so the install step fails and ends the run. A switch
  // run logs the error and still closes by itself; the button shows it to the person there. The
  // hardware-ID run finds no driver here, so it runs no installer and fails for that instead.
  struct Case {
    std::vector<std::string> args;
    const char* handler;
    bool closes;
    const char* lastKey;
  };
  const Case cases[] = {{{"/untd"}, "FormActivate", true, "log78"},
                        {{"/unth"}, "FormActivate", true, kLastKeyNothingPrepared},
                        {{}, "UnpackInstallTntSpeedButtonClick", false, "log130"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handler);
    tmp.Write("prog/DP/one.7z", "pack");
    fs::permissions(tmp.Write("prog/7z", "#!/bin/sh\necho 'Extracting  drv/a.inf'\n"), fs::perms::owner_all);
    Start(c.args);
    EXPECT_TRUE(main->Invoke(c.handler));
    const bool boxShown = !ui.shown.empty() && ui.shown.back().rfind("error:", 0) == 0;
    EXPECT_EQ(boxShown, !c.closes);
    const SplitLog log = SplitAtSummary(LogKeys());
    ASSERT_FALSE(log.before.empty());
    EXPECT_EQ(log.before.back(), c.lastKey);
    // Every run ends with its summary, which names the failure.
    ASSERT_FALSE(log.summary.empty());
    EXPECT_EQ(log.summary.back(), "log126");
    EXPECT_EQ(main->Form().Enabled("AutoCloseTimer"), c.closes);
    // Each run has a failed step; only a switch run reports it as its exit status.
    EXPECT_EQ(main->ExitStatus(), 1);
    EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
    // Activating the window again starts nothing: no second run, no second error.
    const std::size_t lines = main->Form().Lines("LogLbx").ToVector().size();
    const std::size_t shown = ui.shown.size();
    EXPECT_TRUE(main->Invoke("FormActivate"));
    EXPECT_EQ(main->Form().Lines("LogLbx").ToVector().size(), lines);
    EXPECT_EQ(ui.shown.size(), shown);
    main.reset();
    ui.shown.clear();
  }
  // The hardware-ID run keeps its log even so.
  EXPECT_TRUE(tmp.Exists("win/dp_tavi/UnattendedLOg.txt"));
}

TEST_F(AutomationTest, SwitchRunsEndWithAStatusThatSaysHowTheyWent) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  struct Case {
    const char* name;
    const char* sw;
    std::function<void()> arrange;
    int status;
  };
  const std::vector<Case> cases = {
      {"every step succeeded", "/untd", [] {}, 0},
      {"a pack the tool cannot read", "/untd",
       [this] {
         fs::permissions(tmp.Write("prog/7z", "#!/bin/sh\necho 'ERROR: a.sys : Data Error'\nexit 2\n"),
                         fs::perms::owner_all);
       },
       1},
      {"a damaged item, exit code 0", "/untd",
       [this] {
         fs::permissions(tmp.Write("prog/7z", "#!/bin/sh\necho 'Sub items Errors: 1'\n"),
                         fs::perms::owner_all);
       },
       1},
      {"no pack at all", "/untd", [this] { fs::remove(programDir + "DP/one.7z"); }, 1},
      {"nothing matches this computer", "/unth", [] {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tools();
    c.arrange();
    Start({c.sw});
    main->FormActivate();
    EXPECT_EQ(main->ExitStatus(), c.status);
    EXPECT_TRUE(main->Form().Enabled("AutoCloseTimer"));
    EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
    main.reset();
    fs::remove_all(workDir);
    fs::remove(programDir + "dp_tavi.ini");
  }
}

TEST_F(AutomationTest, AnUnwritableConfigurationIsLoggedAndTheSwitchRunStillInstallsSilently) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  Tools();
  fs::permissions(tmp.Write("prog/DPINST.exe", "#!/bin/sh\necho \"$*\" > \"$VELMORA_WINDIR/DPINST.LOG\"\n"),
                  fs::perms::owner_all);
  Start({"/untd"});
  // Read-only from now on: the run's "YES" cannot be written.
  fs::permissions(programDir + "dp_tavi.ini", fs::perms::owner_read);
  ErrorReport::Install();
  main->FormActivate();
  ErrorReport::Uninstall();
  ErrorReport::SetFolder("");
  EXPECT_TRUE(LogHas("/s /path " + workDir + "Drivers")) << "the installer did not run silently";
  const std::vector<std::string> keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log80"), 1);
  EXPECT_TRUE(main->Form().Enabled("AutoCloseTimer"));
  // The run could not record its state, and its errors went into the error report: it did not
  // succeed, and the log says where the report is.
  EXPECT_EQ(main->ExitStatus(), 1);
  EXPECT_TRUE(tmp.Exists("win/dp_tavi/DP_TAVI_Error.log"));
  EXPECT_TRUE(LogHas("log105|" + workDir + "DP_TAVI_Error.log|%s"));
}

TEST_F(AutomationTest, AWorkingFolderThatCannotBeUsedEndsTheRunAtOnce) {
  SKIP_WITHOUT_LINUX_OVERRIDE("VELMORA_WINDIR");
  Tools();
  SetEnvVar("VELMORA_WINDIR", "/proc/nowhere");
  Make({"/untd"});
  main->Invoke("FormCreate");
  main->Invoke("FormActivate");
  EXPECT_EQ(main->ExitStatus(), 2);
  EXPECT_TRUE(main->Form().Enabled("AutoCloseTimer"));
  const std::vector<std::string> keys = LogKeys();
  EXPECT_NE(std::find(keys.begin(), keys.end(), "log77"), keys.end());
  EXPECT_EQ(std::find(keys.begin(), keys.end(), "log22"), keys.end());
}

// A working folder that is there but takes no files is one that cannot be used: status 2.
TEST_F(AutomationTest, AReadOnlyWorkingFolderEndsTheRunAtOnceWithTwo) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
#ifndef _WIN32
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes into read-only folders";
#endif
  Tools();
  Start({"/unth"});
  fs::permissions(workDir, fs::perms::owner_read | fs::perms::owner_exec);
  main->FormActivate();
  fs::permissions(workDir, fs::perms::owner_all);
  EXPECT_EQ(main->ExitStatus(), 2);
  EXPECT_TRUE(LogHas("log77|" + workDir + "|%s"));
  const std::vector<std::string> keys = LogKeys();
  EXPECT_EQ(std::find(keys.begin(), keys.end(), "log22"), keys.end());
}

// A switch run over a pack that is no archive and one cut short: both failures are somewhere in
// the middle of the log, and the summary at its end names each with its pack, on standard error
// too, as its last lines.
TEST_F(AutomationTest, FailedRunEndsWithASummaryNamingEachBrokenPack) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  Tools();
  fs::remove(tmp.File("prog/DP/one.7z"));
  tmp.Write("prog/DP/broken.7z", "not an archive");
  tmp.Write("prog/DP/cut.7z", "7z\xBC\xAF");
  fs::permissions(tmp.Write("prog/7z", "#!/bin/sh\n"
                                       "case \"$*\" in\n"
                                       "  *broken.7z*) echo 'ERROR: broken.7z'; echo 'Can not open the file as archive'; exit 2;;\n"
                                       "  *cut.7z*) echo 'Extracting  drv/a.inf'; echo 'ERROR: Unexpected end of archive'; exit 2;;\n"
                                       "esac\n"),
                  fs::perms::owner_all);
  Start({"/unth"});
  testing::internal::CaptureStderr();
  main->FormActivate();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(main->ExitStatus(), 1);

  const SplitLog log = SplitAtSummary(LogKeys());
  ASSERT_FALSE(log.summary.empty());
  EXPECT_EQ(log.before.back(), kLastKeyNothingPrepared);
  EXPECT_EQ(log.summary.front(), "log120");  // this computer's IDs were searched for
  std::vector<std::string> failures;
  const auto& lines = main->Form().Lines("LogLbx").ToVector();
  const std::vector<std::string> summaryLines(lines.end() - static_cast<long>(log.summary.size()), lines.end());
  for (const std::string& line : summaryLines) {
    if (line.find("] log126|") != std::string::npos) failures.push_back(line.substr(line.find("log126|")));
  }
  const auto names = [&](const std::string& pack) {
    return std::any_of(failures.begin(), failures.end(),
                       [&](const std::string& f) { return f.find(pack) != std::string::npos; });
  };
  EXPECT_TRUE(names("broken.7z")) << ::testing::PrintToString(failures);
  EXPECT_TRUE(names("cut.7z")) << ::testing::PrintToString(failures);
  // Nothing found, so no installer ran; the summary says so.
  EXPECT_NE(std::find(log.summary.begin(), log.summary.end(), "log128"), log.summary.end());

  // Standard error ends with the same lines, and so does the saved log.
  std::string expectedEnd;
  for (const std::string& line : summaryLines) expectedEnd += line + "\n";
  EXPECT_TRUE(err.ends_with(expectedEnd)) << err.substr(err.size() > 2000 ? err.size() - 2000 : 0);
  EXPECT_TRUE(tmp.Read("win/dp_tavi/UnattendedLOg.txt").ends_with(Utf8ToUtf16Le(summaryLines.back() + "\r\n")));
}

TEST_F(AutomationTest, HardwareIdRunSavesTheLogEndingWithItsLastLine) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  Tools();
  Start({"/unth"});
  main->FormActivate();
  std::string saved = tmp.Read("win/dp_tavi/UnattendedLOg.txt");
  ASSERT_GE(saved.size(), 2u);
  EXPECT_EQ(saved.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(SplitAtSummary(LogKeys()).before.back(), kLastKeyNothingPrepared);
  // The file ends with that same last line, the summary's last.
  const std::string last = main->Form().Lines("LogLbx").ToVector().back();
  EXPECT_TRUE(saved.ends_with(Utf8ToUtf16Le(last + "\r\n"))) << last;
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
  EXPECT_TRUE(main->Form().Enabled("AutoCloseTimer"));
}

// The one-click search outside a switch run: the pack toggle pressed once beforehand (so a plain
// toggle would now clear every pack) still leaves every pack indexed, and the installer runs
// silently, as automation is switched on before the installation.
TEST_F(AutomationTest, OneClickSearchAfterTheToggleIndexesEveryPackAndInstallsSilently) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  Tools();
  fs::permissions(tmp.Write("prog/7z", "#!/bin/sh\n[ $# -eq 0 ] && exit 0\n"
                                       "echo \"$2\" >> \"$VELMORA_WINDIR/7z-packs.txt\"\n"
                                       "echo 'Extracting  drv/a.inf'\n"),
                  fs::perms::owner_all);
  fs::permissions(tmp.Write("prog/DPINST.exe", "#!/bin/sh\necho \"$*\" > \"$VELMORA_WINDIR/dpinst-args.txt\"\n"
                                               "echo installed > \"$VELMORA_WINDIR/DPINST.LOG\"\n"),
                  fs::perms::owner_all);
  tmp.Write("prog/DP/two.7z", "pack");
  tmp.Write("win/dp_tavi/Index/drv/a.inf", "PCI\\VEN_1AF4&DEV_1000");
  Start();
  main->EnumBtnClick();
  const std::string selectAll = main->Caption("PackNameLbl");
  main->PackNameLblClick();
  ASSERT_NE(main->Caption("PackNameLbl"), selectAll);
  main->Form().SetItems("HWIDSforWorkcbx", {"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\\3&1&0"});
  ui.answers = {true};
  main->UnpackInstallHwidsTntSpeedButtonClick();

  const std::string packs = tmp.Read("win/7z-packs.txt");
  for (const char* pack : {"one.7z", "two.7z"}) {
    EXPECT_NE(packs.find(programDir + "DP/" + pack + "\n"), std::string::npos) << pack << "\n" << packs;
  }
  EXPECT_EQ(tmp.Read("win/dpinst-args.txt"), "/s /path " + workDir + "Drivers\n");
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
}

TEST_F(AutomationTest, ARunReplacesItsFilesWholeAndNeverRewritesThemInPlace) {
  Tools();
  Start({"/unth"});
  main->FormActivate();
  main.reset();
  // A second name for every file the run writes: a file written in place would still be the same
  // file as its second name afterwards; one replaced by a rename is a new file.
  const std::vector<std::string> files = {programDir + "dp_tavi.ini", workDir + "UnattendedLOg.txt"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    ASSERT_TRUE(fs::exists(files[i])) << files[i];
    fs::create_hard_link(files[i], tmp.File("before-" + std::to_string(i)));
  }
  Start({"/unth"});
  main->FormActivate();
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_FALSE(fs::equivalent(files[i], tmp.File("before-" + std::to_string(i)))) << files[i];
  }
}

}  // namespace
