// The closing summary of the operations a person starts: each button pressed alone is a run of
// its own and ends its log with one summary of what it did; as steps of a one-click or a switch
// run they count into that run's one summary. Scripted tools (FakeTools, no process) stand in for
// the archive tool and the installer, so the cases run in both test programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/error_report.h"
#include "app/log_save.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "support/app_fixture.h"
#include "support/fake_tools.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The devices of this test's computer: the first has a driver in net.7z, the second in lan.7z,
// the third in no pack.
const Lines kDevices = {"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1",
                        "PCI\\VEN_10EC&DEV_8168&SUBSYS_1&REV_0C\\4&2", "USB\\VID_1234&PID_5678\\5&3"};

class RunEndTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    tools = &fake;
    // Every extraction from a pack, whatever it asks for, leaves the pack's one driver folder with
    // its INF file and prints it; the broken pack is no archive.
    fake.On("net.7z", Extracts("N/net/net.inf", "PCI\\VEN_8086&DEV_100E"));
    fake.On("lan.7z", Extracts("L/lan/lan.inf", "PCI\\VEN_10EC&DEV_8168"));
    ToolAnswer broken;
    broken.lines = {"Can not open the file as archive"};
    broken.exitCode = 2;
    fake.On("bad.7z", broken);
    // The installer writes its log into the Windows folder, unless the test took it away.
    fake.OnScript([this](const std::string& commandLine) -> std::optional<ToolAnswer> {
      if (installerGone || commandLine.rfind("DPINST.exe", 0) != 0) return std::nullopt;
      ToolAnswer answer;
      answer.files = {{platform::WindowsDirectory() + "/DPINST.LOG", "INFO: installed\n"}};
      return answer;
    });
  }
  static ToolAnswer Extracts(const std::string& inf, const std::string& id) {
    ToolAnswer answer;
    answer.lines = {"Extracting  " + inf, "Everything is Ok"};
    answer.files = {{inf, "[Models]\n%Dev% = Install, " + id + "\n"}};
    return answer;
  }
  // The log's lines without their time stamps, from the last summary on.
  Lines SummaryTexts() const {
    const Lines texts = LogTexts();
    const std::size_t size = SplitAtSummary(LogKeys()).summary.size();
    return Lines(texts.end() - static_cast<std::ptrdiff_t>(std::min(size, texts.size())), texts.end());
  }

  FakeTools fake;
  bool installerGone = false;
};

// Each line of `texts` starts with the prefix at its place, and there are as many of each.
::testing::AssertionResult StartWith(const Lines& texts, const Lines& prefixes) {
  bool same = texts.size() == prefixes.size();
  for (std::size_t i = 0; same && i < texts.size(); ++i) same = texts[i].rfind(prefixes[i], 0) == 0;
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "lines " << ::testing::PrintToString(texts)
                                       << "\ndo not start with " << ::testing::PrintToString(prefixes);
}

TEST_F(RunEndTest, EveryRunEndsWithOneSummaryOfItsOwnWork) {
  // What the installer's summary line names: the drivers folder, silently in automatic runs.
  const std::string installer = "log125|DPINST.exe /path " + workDir + "Drivers|0|";
  const std::string silent = "log125|DPINST.exe /s /path " + workDir + "Drivers|0|";
  struct Case {
    const char* name;
    Lines args;             // the command line: a switch run starts at the activation
    Lines packs;            // in the pack folder, all ticked
    bool installer;         // false: no installer can be started
    bool autoInstall;       // AutoDPInstall is "YES" before the first press
    Lines presses;          // handlers, in order, as the person (or the start) invokes them
    Lines summary;          // the starts of the last summary's lines
    std::size_t summaries;  // in the whole log
    bool errorBox;
    bool logSaved;  // UnattendedLOg.txt ends with the summary
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"Search ByHWIDs alone: what it found, nothing extracted", {}, {"net.7z", "lan.7z"}, true, false,
       {"SearchByHWIDSbtnClick"},
       {"log120|", "log131|2|2|", "log124|0|0|0", "log128|", "log127|"}, 1, false, false},
      {"Search ByHWIDs over a broken pack names it", {}, {"net.7z", "bad.7z"}, true, false,
       {"SearchByHWIDSbtnClick"},
       {"log120|", "log131|1|1|", "log124|0|0|0", "log128|", "log126|log75|bad.7z|2|"}, 1, false, false},
      // The search's run has ended: the installation's summary counts its own work only.
      {"Install by HWIDs after a search", {}, {"net.7z", "lan.7z"}, true, false,
       {"SearchByHWIDSbtnClick", "HWIDSlabelClick", "InstallHWIDsbtnClick"},
       {"log124|2|2|0", installer, "log127|"}, 2, false, false},
      {"Unpack DP with a broken pack names it", {}, {"net.7z", "bad.7z"}, true, false,
       {"UnpackJvArrowButtonClick"},
       {"log124|0|0|1", "log128|", "log126|log75|bad.7z|2|"}, 1, false, false},
      {"Unpack DP, method 1 from the menu", {}, {"net.7z", "lan.7z"}, true, false,
       {"UnpackDriverPacks1Click"},
       {"log124|0|0|2", "log128|", "log127|"}, 1, false, false},
      // A failed unpack's run has ended: the next button's summary has neither its pack nor its
      // failure.
      {"Install DP after a failed unpack", {}, {"net.7z", "bad.7z"}, true, false,
       {"UnpackDriverPacks2method1Click", "InstallDPbtnClick"},
       {"log124|0|0|0", installer, "log127|"}, 2, false, false},
      // The error box as before; the log still ends with the summary, which names the error.
      {"Install DP without an installer", {}, {}, false, false,
       {"InstallDPbtnClick"},
       {"log124|0|0|0", "log128|", "log126|log106|DPINST.exe /path ", "log126|log130|"}, 1, true, false},
      // The installation the unpacking starts by itself is a step of the unpack run.
      {"Unpack DP with automatic installation", {}, {"net.7z"}, true, true,
       {"UnpackDriverPacks2method1Click"},
       {"log124|0|0|1", silent, "log127|"}, 1, false, false},
      {"the one-click unpack and install", {}, {"net.7z", "bad.7z"}, true, false,
       {"UnpackInstallTntSpeedButtonClick"},
       {"log124|0|0|1", silent, "log126|log75|bad.7z|2|"}, 1, false, false},
      {"the one-click search and install", {}, {"net.7z", "lan.7z"}, true, false,
       {"UnpackInstallHwidsTntSpeedButtonClick"},
       {"log120|", "log131|2|2|", "log124|2|2|0", silent, "log127|"}, 1, false, true},
      {"the switch /unth", {"/unth"}, {"net.7z", "lan.7z"}, true, false,
       {"FormActivate"},
       {"log120|", "log131|2|2|", "log124|2|2|0", silent, "log127|"}, 1, false, true},
      {"the switch /untd", {"/untd"}, {"net.7z", "bad.7z"}, true, false,
       {"FormActivate"},
       {"log124|0|0|1", silent, "log126|log75|bad.7z|2|"}, 1, false, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    installerGone = !c.installer;
    for (const std::string& pack : c.packs) tmp.Write("prog/DP/" + pack, "pack");
    Start(c.args);
    if (c.autoInstall) {
      platform::profile::WriteString(programDir + "dp_tavi.ini", "Automation", "AutoDPInstall", "YES");
    }
    main->Form().SetAllChecked("PacksChlbx", true);
    main->Form().SetItems("HWIDSforWorkcbx", kDevices);
    ui.answers.clear();
    ui.shown.clear();
    for (const std::string& press : c.presses) EXPECT_TRUE(main->Invoke(press)) << press;

    const Lines keys = LogKeys();
    EXPECT_EQ(SummaryCount(keys), c.summaries);
    EXPECT_TRUE(StartWith(SummaryTexts(), c.summary));
    const bool errorShown = !ui.shown.empty() && ui.shown.back().rfind("error:", 0) == 0;
    EXPECT_EQ(errorShown, c.errorBox);
    const std::string saved = workDir + "UnattendedLOg.txt";
    EXPECT_EQ(fs::exists(saved), c.logSaved);
    if (c.logSaved) {
      std::ifstream in(saved, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_TRUE(bytes.ends_with(Utf8ToUtf16Le(main->Form().Lines("LogLbx").ToVector().back() + "\r\n")));
    }
    main.reset();
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    fs::remove_all(programDir + "DP", ignored);
    fs::create_directories(programDir + "DP");
    fs::remove(programDir + "dp_tavi.ini", ignored);
  }
}

// The hardware-ID run saves its log once, at its very end: the file holds the whole log as it
// stands when the run is over, summary last. A log that cannot be saved (a folder of that name in
// its place) fails the run: one line after the summary, on standard error too, the exit status,
// an entry in the error report and, for the button, the error box; the switch run still closes by
// itself.
TEST_F(RunEndTest, TheHardwareIdRunSavesItsWholeLogOnceAtItsEnd) {
  struct Case {
    const char* name;
    Lines args;
    const char* press;
    bool blocked;  // a folder named UnattendedLOg.txt stands where the file goes
    int status;
    bool errorBox;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"the switch /unth", {"/unth"}, "FormActivate", false, 0, false},
      {"the one-click search and install", {}, "UnpackInstallHwidsTntSpeedButtonClick", false, 0, false},
      {"the switch /unth, the log cannot be saved", {"/unth"}, "FormActivate", true, 1, false},
      {"the one-click search and install, the log cannot be saved", {},
       "UnpackInstallHwidsTntSpeedButtonClick", true, 1, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* pack : {"net.7z", "lan.7z"}) tmp.Write(std::string("prog/DP/") + pack, "pack");
    Start(c.args);
    main->Form().SetAllChecked("PacksChlbx", true);
    main->Form().SetItems("HWIDSforWorkcbx", kDevices);
    ui.shown.clear();
    const std::string saved = workDir + "UnattendedLOg.txt";
    if (c.blocked) fs::create_directories(saved + "/kept");
    ErrorReport::Install();
    const std::size_t reportsBefore = ErrorReport::EntryCount();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(main->Invoke(c.press));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::size_t reports = ErrorReport::EntryCount() - reportsBefore;
    ErrorReport::Uninstall();
    ErrorReport::SetFolder("");

    EXPECT_EQ(main->ExitStatus(), c.status);
    const bool errorShown = !ui.shown.empty() && ui.shown.back().rfind("error:", 0) == 0;
    EXPECT_EQ(errorShown, c.errorBox);
    EXPECT_EQ(main->Form().Enabled("AutoCloseTimer"), !c.args.empty());
    const Lines log = main->Form().Lines("LogLbx").ToVector();
    const Lines keys = LogKeys();
    ASSERT_GE(keys.size(), 2u);
    // Every step went well: the summary names no failure, and no step's error is in the log.
    EXPECT_EQ(keys[keys.size() - (c.blocked ? 2 : 1)], "log127");
    for (const char* stopped : {"log78", "log130", "log105"}) {
      EXPECT_EQ(std::count(keys.begin(), keys.end(), stopped), 0) << stopped;
    }
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "log133"), c.blocked ? 1 : 0);
    // Standard error ends as the log does.
    EXPECT_TRUE(err.ends_with(log.back() + "\n")) << err.substr(err.size() > 500 ? err.size() - 500 : 0);
    if (c.blocked) {
      EXPECT_EQ(keys.back(), "log133");
      EXPECT_NE(log.back().find("UnattendedLOg.txt"), std::string::npos) << log.back();
      EXPECT_TRUE(fs::exists(saved + "/kept")) << "the folder in the way is left as it was";
      EXPECT_GE(reports, 1u);
      if (c.errorBox) {
        EXPECT_NE(ui.shown.back().find("UnattendedLOg.txt"), std::string::npos) << ui.shown.back();
      }
    } else {
      std::string whole;
      for (const std::string& line : log) whole += line + "\r\n";
      std::ifstream in(saved, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(bytes, "\xFF\xFE" + Utf8ToUtf16Le(whole));
      EXPECT_EQ(reports, 0u);
    }
    main.reset();
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    fs::remove_all(programDir + "DP", ignored);
    fs::create_directories(programDir + "DP");
    fs::remove(programDir + "dp_tavi.ini", ignored);
  }
}

}  // namespace
