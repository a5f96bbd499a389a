// The pack folder, the pack list and its tick marks, and the preparation before a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/process.h"
#include "platform/profile.h"
#include "support/app_fixture.h"
#include "support/fake_tools.h"

namespace {

namespace fs = std::filesystem;

class CatalogueTest : public AppFixture {};

TEST_F(CatalogueTest, EnumeratesPacksOfThePackFolder) {
  tmp.Write("prog/DP/a.7z", "x");
  tmp.Write("prog/DP/b.7Z", "x");
  tmp.Write("prog/DP/c.zip", "x");
  tmp.MakeDir("prog/DP/folder.7z");
  Start();
  auto packs = main->Form().Items("PacksChlbx");
  std::sort(packs.begin(), packs.end());
  EXPECT_EQ(packs, (std::vector<std::string>{"a.7z", "b.7Z"}));
  EXPECT_TRUE(LogHas("log17|2|%s"));
  // A second enumeration says the list is built again and holds each pack once.
  main->EnumBtnClick();
  EXPECT_EQ(main->Form().Items("PacksChlbx").size(), 2u);
  auto keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log19"), 1);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log16"), 1);
}

// The pack list is in the order Windows lists a folder: by name, letter case ignored, each
// letter compared in its upper-case form (so "_" comes after the letters).
TEST_F(CatalogueTest, PacksAreListedByNameWithLetterCaseIgnored) {
  for (const char* name : {"b.7z", "DP_Sound.7z", "a.7Z", "DPA.7z", "dp_lan.7z", "B1.7z", "10.7z", "2.7z"})
    tmp.Write(std::string("prog/DP/") + name, "x");
  Start();
  EXPECT_EQ(main->Form().Items("PacksChlbx"),
            (std::vector<std::string>{"10.7z", "2.7z", "a.7Z", "b.7z", "B1.7z", "DPA.7z", "dp_lan.7z", "DP_Sound.7z"}));
}

TEST_F(CatalogueTest, MissingPackFolderGivesEmptyList) {
  std::filesystem::remove_all(programDir + "DP");
  Start();
  EXPECT_TRUE(main->Form().Items("PacksChlbx").empty());
  EXPECT_TRUE(LogHas("log17|0|%s"));
}

TEST_F(CatalogueTest, SelectAllTogglesExactCaptionsOnly) {
  tmp.Write("prog/DP/a.7z", "x");
  tmp.Write("prog/DP/b.7z", "x");
  Start();
  FormModel& f = main->Form();
  main->PackNameLblClick();
  EXPECT_TRUE(f.Checked("PacksChlbx", 0) && f.Checked("PacksChlbx", 1));
  EXPECT_EQ(f.Caption("PackNameLbl"), main->Msg("log88"));
  main->PackNameLblClick();
  EXPECT_FALSE(f.Checked("PacksChlbx", 0) || f.Checked("PacksChlbx", 1));
  EXPECT_EQ(f.Caption("PackNameLbl"), "Select All");
  f.SetCaption("PackNameLbl", "Alle auswählen");
  main->PackNameLblClick();
  EXPECT_FALSE(f.Checked("PacksChlbx", 0));
}

TEST_F(CatalogueTest, StoredPackFolderIsUsedUnchanged) {
  const std::string other = tmp.MakeDir("packs with blanks");
  tmp.Write("packs with blanks/x.7z", "x");
  Start();
  main.reset();
  platform::profile::WriteString(programDir + "dp_tavi.ini", "Program", "CMDPackDir", other);
  Start();
  EXPECT_EQ(main->Caption("CMDPackDired"), other);
  EXPECT_EQ(main->Form().Items("PacksChlbx"), std::vector<std::string>{"x.7z"});
}

// The pack folder key as a technician may leave it: missing, empty, or a path with blanks
// enclosed in quotation marks.
TEST_F(CatalogueTest, PackFolderKeyWrittenByHand) {
  const std::string other = tmp.MakeDir("packs with blanks");
  tmp.Write("packs with blanks/x.7z", "x");
  tmp.Write("prog/DP/a.7z", "x");
  Start();
  main.reset();
  const std::string defaultFolder = programDir + Joined("DP/");
  struct Case {
    std::string line;  // the key's line in the file; none when empty
    std::string packFolder;
    std::string stored;  // the key's value afterwards
    std::string pack;    // the one pack listed
  };
  const std::vector<Case> cases = {
      {"", defaultFolder, defaultFolder, "a.7z"},
      {"CMDPackDir=", defaultFolder, defaultFolder, "a.7z"},
      {"CMDPackDir = \"" + other + "\" ", other, other, "x.7z"},
  };
  // The file of the first start, its pack folder settled; the key's line is replaced per case.
  const std::string written = tmp.Read("prog/dp_tavi.ini");
  const std::string keyLine = "CMDPackDir=" + defaultFolder + "\r\n";
  const std::size_t at = written.find(keyLine);
  ASSERT_NE(at, std::string::npos) << written;
  ASSERT_EQ(Ini("DP_Options", "DPExternal"), "no");
  for (const Case& c : cases) {
    SCOPED_TRACE("line: " + c.line);
    std::string text = written;
    text.replace(at, keyLine.size(), c.line.empty() ? "" : c.line + "\r\n");
    tmp.Write("prog/dp_tavi.ini", text);
    Start();
    EXPECT_EQ(main->Caption("CMDPackDired"), c.packFolder);
    EXPECT_EQ(Ini("Program", "CMDPackDir"), c.stored);
    EXPECT_EQ(main->Form().Items("PacksChlbx"), std::vector<std::string>{c.pack});
    main.reset();
  }
}

TEST_F(CatalogueTest, ChangeLocationTakesFolderOfPickedPack) {
  const std::string other = tmp.MakeDir("elsewhere");
  tmp.Write("elsewhere/p.7z", "x");
  Start();
  ui.files = {other + "p.7z"};
  main->ChangeDPlocationbtnClick();
  EXPECT_EQ(main->Caption("CMDPackDired"), other);
  EXPECT_EQ(main->Form().Items("PacksChlbx"), std::vector<std::string>{"p.7z"});
  EXPECT_EQ(Ini("Program", "CMDPackDir"), other);
  EXPECT_EQ(Ini("DP_Options", "DPExternalDir"), other);
  EXPECT_EQ(Ini("DP_Options", "DPExternal"), "no");
  EXPECT_EQ(Ini("DP_Options", "SelectDPDir"), "no");
  EXPECT_EQ(Ini("Program", "Initial"), "No");
  EXPECT_TRUE(LogHas("log91|" + other + "|%s"));
  EXPECT_EQ(ui.shown.back(), "info:msg2|%s");
  // Cancelling the dialog later in the same run changes nothing: the location, the list and its
  // ticks stay, and neither the log nor a message says that anything changed.
  main->PackNameLblClick();
  ASSERT_TRUE(main->Form().Checked("PacksChlbx", 0));
  const std::string link = main->Caption("PackNameLbl");
  const std::size_t logged = main->Form().Lines("LogLbx").ToVector().size();
  const std::size_t shown = ui.shown.size();
  main->ChangeDPlocationbtnClick();
  EXPECT_EQ(main->Caption("CMDPackDired"), other);
  EXPECT_TRUE(main->Form().Checked("PacksChlbx", 0));
  EXPECT_EQ(main->Caption("PackNameLbl"), link);
  EXPECT_EQ(main->Form().Lines("LogLbx").ToVector().size(), logged);
  EXPECT_EQ(ui.shown.size(), shown);
  EXPECT_EQ(Ini("DP_Options", "SelectDPDir"), "no");
  EXPECT_EQ(Ini("Program", "Initial"), "No");

  // A real change reads the list again with nothing ticked, and its link offers to tick all.
  ui.files = {other + "p.7z"};
  main->ChangeDPlocationbtnClick();
  EXPECT_FALSE(main->Form().Checked("PacksChlbx", 0));
  EXPECT_EQ(main->Caption("PackNameLbl"), main->SelectAllText("PackNameLbl"));
  main->PackNameLblClick();
  EXPECT_TRUE(main->Form().Checked("PacksChlbx", 0));
}

TEST_F(CatalogueTest, DeletePacksAsksFirst) {
  Start();
  ui.answers = {false};
  main->DeletePacksbtnClick();
  auto keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log15"), 0);
  EXPECT_EQ(ui.shown.back(), "ask:msg4|%s");
}

TEST_F(CatalogueTest, DeletePacksStartsTheCleanUpWithoutWaitingOrChecking) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  Start();
  // Without the script nothing is reported.
  ui.answers = {true};
  main->DeletePacksbtnClick();
  EXPECT_EQ(LogKeys().back(), "log15");
  EXPECT_EQ(ui.shown.back(), "ask:msg4|%s");

  // The script goes on only once the operation has returned; a start that waited for it
  // would see it give up instead.
  fs::permissions(tmp.Write("prog/clean.cmd",
                            "#!/bin/sh\n"
                            "i=0; while [ ! -e \"$VELMORA_WINDIR/go\" ]; do\n"
                            "  i=$((i+1)); [ $i -gt 100 ] && { touch \"$VELMORA_WINDIR/gave-up\"; exit 1; }\n"
                            "  sleep 0.1\n"
                            "done\n"
                            // Written whole before it appears, so the test never reads it half done.
                            "echo \"$1\" > \"$VELMORA_WINDIR/cleaned.part\"\n"
                            "mv \"$VELMORA_WINDIR/cleaned.part\" \"$VELMORA_WINDIR/cleaned\"\n"),
                  fs::perms::owner_all);
  main->Form().SetItems("UnpackedDPlb", {"a.7z"});
  ui.answers = {true};
  main->DeletePacksbtnClick();
  // The record of unpacked packs goes with the drivers the script removes.
  EXPECT_TRUE(main->Form().Items("UnpackedDPlb").empty());
  tmp.Write("win/go", "");
  // The script either finishes or gives up: either way it says so, however long the machine takes.
  while (!tmp.Exists("win/cleaned") && !tmp.Exists("win/gave-up"))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a pause between looks, not a bound
  // The script is told the working folder in use.
  EXPECT_EQ(tmp.Read("win/cleaned"), workDir.substr(0, workDir.size() - 1) + "\n");
  EXPECT_FALSE(tmp.Exists("win/gave-up"));
  EXPECT_EQ(ui.shown.back(), "ask:msg4|%s");
}

// The clean-up "Delete DP" starts is looked at by a timer, not waited for: once it has ended it
// is reaped and the log says the cleaning finished, with the script's exit status.
TEST_F(CatalogueTest, DeletePacksSaysWhenTheCleaningFinished) {
  SKIP_ON_WINDOWS(VELMORA_STAND_INS);
  fs::permissions(tmp.Write("prog/clean.cmd", "#!/bin/sh\nwhile [ ! -e \"$VELMORA_WINDIR/go\" ]; do sleep 0.05; done\nexit 3\n"),
                  fs::perms::owner_all);
  Start();
  ui.answers = {true};
  main->DeletePacksbtnClick();
  EXPECT_EQ(LogKeys().back(), "log15");
  EXPECT_TRUE(main->Form().Enabled("CleanScriptTimer"));
  // Still running: the timer looks and goes on looking.
  main->CleanScriptTimerTimer();
  EXPECT_EQ(LogKeys().back(), "log15");
  EXPECT_TRUE(main->Form().Enabled("CleanScriptTimer"));
  tmp.Write("win/go", "");
  // The timer goes on looking until the script has ended, however long the machine takes.
  while (main->Form().Enabled("CleanScriptTimer")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));  // a pause between looks, not a bound
    main->CleanScriptTimerTimer();
  }
  EXPECT_FALSE(main->Form().Enabled("CleanScriptTimer"));
  EXPECT_EQ(LogTexts().back(), "log115|3|%s");
  // The timer has nothing more to say.
  main->CleanScriptTimerTimer();
  EXPECT_EQ(LogTexts().back(), "log115|3|%s");
}

// "Delete DP" on the scripted runner: what is started, and how the timer follows it to its end.
class CleanUpTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    tools = &fake;
    fake.On("clean.cmd", Prints({}, 3));
  }
  // The working folder as the script is told it: without its closing separator.
  std::string Work() const { return workDir.substr(0, workDir.size() - 1); }

  FakeTools fake;
};

TEST_F(CleanUpTest, DeletePacksStartsTheScriptOnTheWorkingFolder) {
  struct Case {
    const char* name;
    bool yes;              // the answer to "delete?"
    std::string foundAt;   // where the program search finds clean.cmd; empty: nowhere
    bool starts;           // whether the fake starts it
    std::string expected;  // the command line; empty: nothing is started
  };
  const std::string blank = programDir + "with blank/clean.cmd";
  const Case cases[] = {
      {"found beside the program", true, programDir + "clean.cmd", true, programDir + "clean.cmd <work>"},
      {"a path with a blank is quoted", true, blank, true, "\"" + blank + "\" <work>"},
      {"not found: the bare name", true, "", true, "clean.cmd <work>"},
      {"cannot be started", true, programDir + "clean.cmd", false, programDir + "clean.cmd <work>"},
      {"the person says No", false, programDir + "clean.cmd", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.calls.clear();
    fake.started.clear();
    fake.programs.clear();
    if (!c.foundAt.empty()) fake.programs["clean.cmd"] = c.foundAt;
    if (!c.starts) {
      ToolAnswer broken;
      broken.notStarted = platform::process::ProcessFailure{"Access is denied.", 5};
      fake.On("clean.cmd", broken);
    }
    Start();
    main->Form().SetItems("UnpackedDPlb", {"a.7z"});
    ui.answers = {c.yes};
    main->DeletePacksbtnClick();
    std::string expected = c.expected;
    if (const auto at = expected.find("<work>"); at != std::string::npos) expected.replace(at, 6, Work());
    EXPECT_EQ(fake.calls, expected.empty() ? std::vector<std::string>{} : std::vector<std::string>{expected});
    EXPECT_EQ(fake.started.size(), c.yes && c.starts ? 1u : 0u);
    // Only a started script is followed; the record of unpacked packs goes whenever the person
    // said Yes, as the script removes the drivers it records.
    EXPECT_EQ(main->Form().Enabled("CleanScriptTimer"), c.yes && c.starts);
    EXPECT_EQ(main->Form().Items("UnpackedDPlb").empty(), c.yes);
    const std::vector<std::string> keys = LogKeys();
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "log15"), c.yes ? 1 : 0);
    EXPECT_EQ(ui.shown.back(), "ask:msg4|%s");
    main.reset();
    if (!c.starts) fake.On("clean.cmd", Prints({}, 3));
  }
}

// The timer looks at the script without waiting for it; once it has ended it is reaped, the log
// says the cleaning finished with the script's exit status, and the timer stops.
TEST_F(CleanUpTest, TheTimerFollowsTheScriptToItsEndAndReapsIt) {
  Start();
  ui.answers = {true};
  main->DeletePacksbtnClick();
  ASSERT_EQ(fake.started.size(), 1u);
  const std::shared_ptr<FakeStart> script = fake.started[0];
  EXPECT_EQ(script->looks, 0);  // started, not waited for
  EXPECT_TRUE(main->Form().Enabled("CleanScriptTimer"));
  // Still running: each tick looks once and the timer goes on.
  for (int tick = 1; tick <= 2; ++tick) {
    main->CleanScriptTimerTimer();
    EXPECT_EQ(script->looks, tick);
    EXPECT_EQ(LogKeys().back(), "log15");
    EXPECT_TRUE(main->Form().Enabled("CleanScriptTimer"));
    EXPECT_FALSE(script->released);
  }
  script->End();
  main->CleanScriptTimerTimer();
  EXPECT_EQ(LogTexts().back(), "log115|3|%s");
  EXPECT_FALSE(main->Form().Enabled("CleanScriptTimer"));
  EXPECT_TRUE(script->Reaped());
  // The timer has nothing more to look at or say.
  main->CleanScriptTimerTimer();
  EXPECT_EQ(script->looks, 3);
  EXPECT_EQ(LogTexts().back(), "log115|3|%s");
  const std::vector<std::string> keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log115"), 1);
}

// A second "Delete DP" while the first script still runs follows the new one; the first goes on
// by itself and leaves nothing behind once it ends.
TEST_F(CleanUpTest, ASecondStartFollowsTheNewScript) {
  Start();
  ui.answers = {true, true};
  main->DeletePacksbtnClick();
  main->DeletePacksbtnClick();
  ASSERT_EQ(fake.started.size(), 2u);
  EXPECT_TRUE(fake.started[0]->released);
  fake.started[0]->exitCode = 1;
  fake.started[0]->End();
  main->CleanScriptTimerTimer();
  EXPECT_EQ(LogKeys().back(), "log15");
  fake.started[1]->End();
  main->CleanScriptTimerTimer();
  EXPECT_EQ(LogTexts().back(), "log115|3|%s");
  EXPECT_TRUE(fake.started[1]->Reaped());
}

TEST_F(CatalogueTest, PreparationRecreatesWorkingFolderAndEmptiesInputFile) {
  Start();
  std::filesystem::remove_all(workDir);
  tmp.Write("prog/Markers/cmd", "left over");
  main->AfterDeletClick();
  EXPECT_TRUE(std::filesystem::is_directory(workDir));
  EXPECT_EQ(tmp.Read("prog/Markers/cmd"), "");
  EXPECT_EQ(LogKeys().back(), "log1");
  main->AfterDeletClick();
  EXPECT_EQ(LogKeys().back(), "log2");

  // A folder that cannot be made: the person is told, with the system's code.
  main->SetCaption("Workdir", tmp.Write("a file", "x") + "/dp_tavi/");
  main->AfterDeletClick();
#ifdef _WIN32
  const std::string code = "3";  // ERROR_PATH_NOT_FOUND
#else
  const std::string code = "20";  // ENOTDIR
#endif
  EXPECT_EQ(ui.shown.back(), "message:msg1|" + code);
  EXPECT_EQ(LogTexts().back(), "log3|" + code + "|%s");
}

}  // namespace
