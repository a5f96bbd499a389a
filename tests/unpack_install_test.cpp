// Unpacking ticked packs and handing the drivers to the installer, with scripted tools
// (FakeTools, no process) standing in for the archiver and the installer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "base/window_layout.h"
#include "platform/profile.h"
#include "platform/files.h"
#include "platform/process.h"
#include "shared/shared_functions.h"
#include "support/app_fixture.h"
#include "support/fake_tools.h"

namespace {

namespace fs = std::filesystem;

class UnpackInstallTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    tools = &fake;
    // The archive tool records its arguments, one a line, and prints two extraction lines; asked
    // for its banner (no arguments) it prints none.
    fake.OnScript([this](const std::string& commandLine) -> std::optional<ToolAnswer> {
      const Lines words = platform::process::SplitCommandLine(commandLine);
      if (!archiver || words.empty() || words[0] != "7z") return std::nullopt;
      ToolAnswer answer;
      if (words.size() == 1) return answer;
      archiverArgs.insert(archiverArgs.end(), words.begin() + 1, words.end());
      answer.lines = {"Extracting  drv/a.inf", "Extracting  drv/a.sys", "Everything is Ok"};
      return answer;
    });
    // The installer records its arguments, writes the log the test chose into the Windows folder
    // and ends with the test's exit code.
    fake.OnScript([this](const std::string& commandLine) -> std::optional<ToolAnswer> {
      const Lines words = platform::process::SplitCommandLine(commandLine);
      if (!installerLog || words.empty() || words[0] != "DPINST.exe") return std::nullopt;
      std::string args;
      for (std::size_t i = 1; i < words.size(); ++i) args += (i > 1 ? " " : "") + words[i];
      installerArgs = args;
      if (onInstall) onInstall();
      ToolAnswer answer;
      answer.files = {{platform::WindowsDirectory() + "/DPINST.LOG", *installerLog}};
      answer.exitCode = installerExit;
      return answer;
    });
  }
  void FakeArchiver() { archiver = true; }
  void FakeInstaller(int lines) {
    std::string log;
    for (int i = 0; i < lines; ++i) log += "line " + std::to_string(i) + "\n";
    installerLog = log;
  }
  std::string Work(const std::string& relative) {
    std::ifstream in(workDir + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool WorkExists(const std::string& relative) { return fs::exists(workDir + relative); }
  bool InstallerLogLeft() { return fs::exists(platform::WindowsDirectory() + "/DPINST.LOG"); }

  using Lines = std::vector<std::string>;
  FakeTools fake;
  bool archiver = false;
  Lines archiverArgs;
  std::optional<std::string> installerLog;  // nothing: no installer
  int installerExit = 0;
  std::function<void()> onInstall;
  std::optional<std::string> installerArgs;

  void Packs(std::initializer_list<const char*> names) {
    for (const char* n : names) tmp.Write(std::string("prog/DP/") + n, "pack");
  }
  void TickAll() { main->Form().SetAllChecked("PacksChlbx", true); }
  std::vector<std::string> ArchiverCalls() { return archiverArgs; }
  void SetIni(const char* section, const char* key, const std::string& value) {
    platform::profile::WriteString(programDir + "dp_tavi.ini", section, key, value);
  }
};

TEST_F(UnpackInstallTest, UnpacksTickedPacksByBothMethodsAndLogsInOrder) {
  FakeArchiver();
  Packs({"one.7z"});
  for (const char* method : {"1", "2"}) {
    SCOPED_TRACE(method);
    Start();
    TickAll();
    main->SetCaption("CMDUnpackMethoded", method);
    main->RunWithOutputClick();
    auto texts = LogTexts();
    auto it = std::find_if(texts.begin(), texts.end(),
                           [](const std::string& t) { return t.rfind("log22|", 0) == 0; });
    ASSERT_NE(it, texts.end());
    const std::string pack = ShortFileName(programDir + Joined("DP/one.7z"));
    const std::string expectedLine = "7z x " + pack + " -o" + workDir + Joined("Drivers/") + " -y";
    std::vector<std::string> run(it, texts.end());
    ASSERT_GE(run.size(), 9u);
    EXPECT_EQ(run[1], "log23|" + expectedLine + "|%s");
    EXPECT_EQ(run[2], "log24|one.7z|%s");
    EXPECT_EQ(run[3], "log57|4|%s");
    EXPECT_EQ(run[4].substr(0, 6), std::string(method) == "1" ? "log58|" : "log26|");
    EXPECT_EQ(run[5], "Extracting  drv/a.inf");
    EXPECT_EQ(run[6], "Extracting  drv/a.sys");
    EXPECT_EQ(run[7], "Everything is Ok");
    EXPECT_EQ(run[8].substr(0, 6), "log27|");
    // Method 2 fills the progress window's list; its gauge measures it against 800 lines.
    if (std::string(method) == "2") {
      EXPECT_EQ(main->Waitfrm().GaugeMax("UnpackGauge"), 800);
    }
    // The buffer keeps the last pack's output as it was loaded for the log.
    EXPECT_EQ(
        main->Form().Items("CMDlogcmb"),
        (std::vector<std::string>{"Extracting  drv/a.inf", "Extracting  drv/a.sys", "Everything is Ok"}));
    EXPECT_EQ(Work("UnpackedDP.txt"), "one.7z\r\n");
    EXPECT_FALSE(main->Waitfrm().Visible(kWaitFormName));
    EXPECT_FALSE(ui.busy);
    main.reset();
    fs::remove(workDir + "UnpackedDP.txt");
  }
  EXPECT_EQ(ArchiverCalls().size(), 8u);  // four words, twice
}

TEST_F(UnpackInstallTest, PackPathWithBlanksReachesTheToolAsOneArgument) {
  FakeArchiver();
  const std::string folder = tmp.MakeDir("my packs");
  tmp.Write("my packs/Driver Pack One.7z", "pack");
  Start();
  main->SetCaption("CMDPackDired", folder);
  main->Form().SetItems("PacksChlbx", {"Driver Pack One.7z"});
  TickAll();
  main->SetCaption("CMDUnpackMethoded", "2");
  main->RunWithOutputClick();
  auto calls = ArchiverCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], "x");
  EXPECT_EQ(calls[1], ArchiveWord(folder + "Driver Pack One.7z"));
  EXPECT_EQ(calls[2], "-o" + workDir + Joined("Drivers/"));
  EXPECT_EQ(calls[3], "-y");
}

TEST_F(UnpackInstallTest, NothingTickedShowsMessageOnly) {
  Packs({"one.7z"});
  Start();
  main->RunWithOutputClick();
  EXPECT_EQ(ui.shown.back(), "info:msg6|%s");
  EXPECT_FALSE(WorkExists("UnpackedDP.txt"));
}

TEST_F(UnpackInstallTest, SkipsOtherNamesAndPacksUnpackedBefore) {
  FakeArchiver();
  Packs({"a.7z", "b.7Z", "c.zip"});
  fs::create_directories(workDir);
  std::ofstream(workDir + "UnpackedDP.txt", std::ios::binary) << "a.7z\r\n";
  // A second name for the old file: the list is replaced whole, never rewritten in place, so
  // the old file keeps its content.
  fs::create_hard_link(workDir + "UnpackedDP.txt", tmp.File("unpacked-before"));
  Start();
  TickAll();
  main->SetCaption("CMDUnpackMethoded", "2");
  main->RunWithOutputClick();
  EXPECT_EQ(tmp.Read("unpacked-before"), "a.7z\r\n");
  auto calls = ArchiverCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[1], ArchiveWord(programDir + Joined("DP/b.7Z")));
  auto keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log22"), 2);  // a.7z still gets its lines
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log27"), 1);
  EXPECT_EQ(Work("UnpackedDP.txt"), "a.7z\r\nb.7Z\r\n");
}

TEST_F(UnpackInstallTest, MissingPackStillCountsAsUnpacked) {
  FakeArchiver();
  Start();
  main->Form().SetItems("PacksChlbx", {"gone.7z"});
  TickAll();
  main->SetCaption("CMDUnpackMethoded", "2");
  main->RunWithOutputClick();
  EXPECT_TRUE(LogHas("log23|7z x  -o" + workDir + Joined("Drivers/") + " -y|%s"));
  EXPECT_TRUE(LogHas("log57|-1|%s"));
  EXPECT_EQ(Work("UnpackedDP.txt"), "gone.7z\r\n");
}

TEST_F(UnpackInstallTest, MethodThatIsNoNumberEndsTheRunBeforeAPackCountsAsUnpacked) {
  FakeArchiver();
  Packs({"one.7z"});
  tmp.Write("prog/Markers/cmdout", "output of an earlier run\r\n");
  struct Case {
    const char* method;
    bool error;
  };
  // Another number runs no tool but still records the pack; text that is no number is an error.
  for (const Case& c : {Case{"two", true}, Case{"", true}, Case{"99999999999", true}, Case{"3", false}}) {
    SCOPED_TRACE(c.method);
    Start();
    TickAll();
    main->SetCaption("CMDUnpackMethoded", c.method);
    ui.shown.clear();
    EXPECT_TRUE(main->Invoke("RunWithOutputClick"));
    const bool errorShown = !ui.shown.empty() && ui.shown.back().rfind("error:", 0) == 0;
    EXPECT_EQ(errorShown, c.error);
    EXPECT_TRUE(ArchiverCalls().empty());
    EXPECT_EQ(main->Form().Items("UnpackedDPlb").size(), c.error ? 0u : 1u);
    EXPECT_EQ(WorkExists("UnpackedDP.txt"), !c.error);
    EXPECT_FALSE(main->Waitfrm().Visible(kWaitFormName));
    main.reset();
    fs::remove(workDir + "UnpackedDP.txt");
  }
}

TEST_F(UnpackInstallTest, MenuEntriesChooseTheirMethod) {
  FakeArchiver();
  Packs({"one.7z"});
  struct Case {
    const char* handler;
    const char* methodKey;  // log58: method 1, log26: method 2
    bool freshProgressWindow;
  };
  for (const Case& c : {Case{"UnpackDriverPacks1Click", "log58", false},
                        Case{"UnpackDriverPacks2method1Click", "log26", false},
                        Case{"UnpackJvArrowButtonClick", "log26", true}}) {
    SCOPED_TRACE(c.handler);
    Start();
    TickAll();
    const std::size_t windows = main->Forms().size();
    EXPECT_TRUE(main->Invoke(c.handler));
    const auto keys = LogKeys();
    EXPECT_EQ(std::count(keys.begin(), keys.end(), c.methodKey), 1);
    // A fresh progress window replaces the state of the one there is: none lingers hidden.
    EXPECT_EQ(main->Forms().size(), windows);
    if (c.freshProgressWindow) {
      EXPECT_EQ(&main->Waitfrm(), main->Forms().back());
    }
    main.reset();
    fs::remove(workDir + "UnpackedDP.txt");
  }
}

TEST_F(UnpackInstallTest, TotalProgressStepsOncePerPack) {
  FakeArchiver();
  Packs({"a.7z", "b.7z", "c.7z"});
  Start();
  TickAll();
  std::vector<int> positions;
  main->Waitfrm().Subscribe([&](const FormModel::Notification& n) {
    if (n.control.name == "UnpackGauge2" && n.change == ChangeKind::Gauge)
      positions.push_back(n.control.position);
  });
  main->UnpackDriverPacks2method1Click();
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(main->Waitfrm().GaugeMax("UnpackGauge2"), 3);
}

TEST_F(UnpackInstallTest, MethodOneWithoutArchiverEndsTheRun) {
  Packs({"a.7z", "b.7z"});
  Start();
  TickAll();
  main->SetCaption("CMDUnpackMethoded", "1");
  EXPECT_TRUE(main->Invoke("RunWithOutputClick"));
  ASSERT_FALSE(ui.shown.empty());
  EXPECT_EQ(ui.shown.back().rfind(
                "error:[function: CreateDOSProcessRedirected ]\n\nFunction failure\n\nError!!!!", 0),
            0u)
      << ui.shown.back();
  EXPECT_FALSE(WorkExists("UnpackedDP.txt"));
  // A pack whose tool never ran is not recorded as unpacked.
  EXPECT_EQ(main->Form().Items("UnpackedDPlb").size(), 0u);
  EXPECT_FALSE(ui.busy);
  EXPECT_FALSE(main->Waitfrm().Visible(kWaitFormName));
}

TEST_F(UnpackInstallTest, InstallerCommandLines) {
  struct Case {
    const char* autoInstall;
    const char* nonCompressed;
    bool silent;
    bool progress;
  };
  const Case cases[] = {
      {"YES", "YES", false, true}, {"Yes", "NO", true, true},      {"NO", "yes", false, false},
      {"no", "No", false, false},  {"maybe", "YES", false, false},
  };
  FakeInstaller(3);
  const std::string location = tmp.MakeDir("loose drivers");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.autoInstall) + "/" + c.nonCompressed);
    // The configuration is read at start-up, which moves the working folder to the location.
    Start();
    SetIni("Automation", "AutoDPInstall", c.autoInstall);
    SetIni("DP_Options", "NonCompressedDriversFolder", c.nonCompressed);
    SetIni("DP_Options", "NonCompressedDriversFolderLocation", location);
    main.reset();
    Start();
    bool shownProgress = false;
    bool installCaption = false;
    main->Waitfrm().Subscribe([&](const FormModel::Notification& n) {
      if (n.change == ChangeKind::Visible && n.control.visible) shownProgress = true;
      if (n.control.name == "UnpackingLbl" && n.control.caption == "log48|%s|%s") installCaption = true;
    });
    main->InstallDPbtnClick();
    // The installer is pointed at the drivers folder of the working folder, never above it.
    std::string upper = c.nonCompressed;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::string folder = (upper == "YES" ? location + Joined("dp_tavi/") : workDir) + "Drivers";
    std::string expected = std::string("DPINST.exe ") + (c.silent ? "/s " : "") + "/path " + folder;
    EXPECT_TRUE(LogHas("log49|" + expected + "|%s"));
    EXPECT_EQ(installerArgs, expected.substr(std::string("DPINST.exe ").size()));
    EXPECT_TRUE(fs::is_directory(folder)) << "the installer's folder is made when missing";
    EXPECT_EQ(shownProgress, c.progress);
    EXPECT_EQ(installCaption, c.progress);
    EXPECT_FALSE(InstallerLogLeft());
    // The installation pressed alone ends, then its summary says what the installer did.
    const SplitLog log = SplitAtSummary(LogKeys());
    ASSERT_FALSE(log.before.empty());
    EXPECT_EQ(log.before.back(), "log51");
    EXPECT_EQ(log.summary, (std::vector<std::string>{"log124", "log125", "log127"}));
    EXPECT_TRUE(LogHas("log125|" + expected + "|0|%s"));
    main.reset();
  }
}

TEST_F(UnpackInstallTest, InstallerLogIsCopiedAndGaugesStopAtTheirMaximum) {
  FakeInstaller(250);
  Start();
  SetIni("Automation", "AutoDPInstall", "YES");
  main->InstallDPbtnClick();
  auto texts = LogTexts();
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.rfind("line ", 0) == 0; }),
            250);
  EXPECT_TRUE(LogHas("line 249"));
  EXPECT_TRUE(LogHas("log96|%s|%s"));
  // Before its lines the log says that the installer's log file is copied here, then removed.
  const auto said = std::find(texts.begin(), texts.end(), "log114|" + main->Caption("WinDirlbl") + TMainfrm::Sep() + "DPINST.LOG|%s");
  ASSERT_NE(said, texts.end());
  EXPECT_EQ(*std::next(said), "line 0");
  EXPECT_EQ(main->Waitfrm().GaugePosition("UnpackGauge"), 200);
  EXPECT_EQ(main->Waitfrm().GaugePosition("UnpackGauge2"), 200);
  EXPECT_EQ(main->Waitfrm().Caption("UnpackingLbl"), "log50|line 249|%s");
  EXPECT_FALSE(InstallerLogLeft());
}

// The installer's exit status decides whether the install step failed: 0 is success, anything
// else (or an installer that cannot start) makes the run end with 1; its log is copied either way.
TEST_F(UnpackInstallTest, InstallerExitStatusIsAStepOfTheRun) {
  struct Case {
    const char* logLine;  // what the installer writes to DPINST.LOG; nullptr: no installer at all
    int exitCode;
    const char* key;  // the start of the line about the installer's end; "" for none
    int runStatus;
  };
  const Case cases[] = {
      {"ok", 0, "", 0},
      {"refused", 3, "log107|3|%s", 1},
      {"some", 1, "log107|1|%s", 1},
      {nullptr, 0, "log106|DPINST.exe /s /path ", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logLine != nullptr ? c.logLine : "no installer");
    if (c.logLine != nullptr) {
      installerLog = std::string(c.logLine) + "\n";
      installerExit = c.exitCode;
    } else {
      installerLog.reset();
    }
    Start();
    SetIni("Automation", "AutoDPInstall", "YES");
    main->Invoke("InstallDPbtnClick");
    EXPECT_EQ(main->ExitStatus(), c.runStatus);
    const auto texts = LogTexts();
    const bool said = std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
      return *c.key != '\0' && t.rfind(c.key, 0) == 0;
    });
    EXPECT_EQ(said, *c.key != '\0');
    if (c.logLine != nullptr) {
      EXPECT_TRUE(LogHas(c.logLine)) << "the installer's log is copied";
    }
    main.reset();
  }
}

TEST_F(UnpackInstallTest, MissingInstallerLogEndsWithErrorAfterClosingLine) {
  Start();  // no installer at all: nothing writes DPINST.LOG
  EXPECT_TRUE(main->Invoke("InstallDPbtnClick"));
  EXPECT_EQ(ui.shown.back().rfind("error:", 0), 0u);
  // The installation's own end, the error, then the summary naming both failures.
  const SplitLog log = SplitAtSummary(LogKeys());
  ASSERT_GE(log.before.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(log.before.end() - 2, log.before.end()),
            (std::vector<std::string>{"log51", "log130"}));
  EXPECT_EQ(log.summary, (std::vector<std::string>{"log124", "log128", "log126", "log126"}));
}

TEST_F(UnpackInstallTest, AutomaticInstallRunsAfterTheLastPackBeforeTheListIsSaved) {
  FakeArchiver();
  installerLog = "done\n";
  std::string listAtInstall;
  onInstall = [&] { listAtInstall = WorkExists("UnpackedDP.txt") ? "found" : "none"; };
  Packs({"one.7z"});
  Start();
  SetIni("Automation", "AutoDPInstall", "yes");
  TickAll();
  main->SetCaption("CMDUnpackMethoded", "2");
  main->RunWithOutputClick();
  auto keys = LogKeys();
  auto unpacked = std::find(keys.begin(), keys.end(), "log27");
  auto install = std::find(keys.begin(), keys.end(), "log47");
  ASSERT_NE(install, keys.end());
  EXPECT_LT(unpacked, install);
  EXPECT_TRUE(WorkExists("UnpackedDP.txt"));
  // The installer ran before the list was saved: it found no list yet.
  EXPECT_EQ(listAtInstall, "none");
}

}  // namespace
