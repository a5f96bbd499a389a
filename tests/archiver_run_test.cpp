// The archive tool's command lines as the tool's words (blanks, a folder ending in a backslash, a
// missing pack, each kind of tool), the unpack method read from its text, the exit-status rule
// with the output's error lines, and one run's output handed over through a scripted tool.
#include "packs/archiver_run.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/files.h"
#include "platform/process.h"
#include "support/fake_tools.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

enum class Use { WholePack, Infs, Listed };

TEST(ArchiverRunTest, CommandLinesReachTheToolAsTheirWords) {
  struct Case {
    const char* name;
    Use use;
    std::string archive;  // as ShortFileName gives it
    std::string out;
    std::string list;
    std::string line;  // for a tool of unknown or classic kind
    Lines words;       // the tool's arguments, its name left out
  };
  const Case cases[] = {
      {"whole pack",
       Use::WholePack,
       "/p/a.7z",
       "/w/Drivers/",
       "",
       "7z x /p/a.7z -o/w/Drivers/ -y",
       {"x", "/p/a.7z", "-o/w/Drivers/", "-y"}},
      {"INF files",
       Use::Infs,
       "C:\\PACKS\\GRAPHI~1.7Z",
       "C:\\Windows\\dp_tavi\\Index\\",
       "",
       "7z x C:\\PACKS\\GRAPHI~1.7Z -oC:\\Windows\\dp_tavi\\Index\\ *.inf -r -y",
       {"x", "C:\\PACKS\\GRAPHI~1.7Z", "-oC:\\Windows\\dp_tavi\\Index\\", "*.inf", "-r", "-y"}},
      {"listed items",
       Use::Listed,
       "/p/a.7z",
       "/w/Drivers/",
       "/w/a.7z.txt",
       "7z x /p/a.7z -o/w/Drivers/ @/w/a.7z.txt -y",
       {"x", "/p/a.7z", "-o/w/Drivers/", "@/w/a.7z.txt", "-y"}},
      // A pack path with blanks comes quoted; it stays one word.
      {"quoted pack",
       Use::WholePack,
       "\"/my packs/Pack One.7z\"",
       "/w/Drivers/",
       "",
       "7z x \"/my packs/Pack One.7z\" -o/w/Drivers/ -y",
       {"x", "/my packs/Pack One.7z", "-o/w/Drivers/", "-y"}},
      // Folders and list files with blanks are quoted whole, switch included.
      {"output folder with blanks",
       Use::Infs,
       "/p/a.7z",
       "/my work/Index/",
       "",
       "7z x /p/a.7z \"-o/my work/Index/\" *.inf -r -y",
       {"x", "/p/a.7z", "-o/my work/Index/", "*.inf", "-r", "-y"}},
      {"list file with blanks",
       Use::Listed,
       "/p/a.7z",
       "/my work/Drivers/",
       "/my work/Pack One.7z.chosen.txt",
       "7z x /p/a.7z \"-o/my work/Drivers/\" \"@/my work/Pack One.7z.chosen.txt\" -y",
       {"x", "/p/a.7z", "-o/my work/Drivers/", "@/my work/Pack One.7z.chosen.txt", "-y"}},
      // A quoted Windows folder ends in a backslash: it is doubled, or the quote would not close.
      {"Windows folder with blanks",
       Use::WholePack,
       "C:\\PACKS\\A.7Z",
       "C:\\My Work\\Drivers\\",
       "",
       "7z x C:\\PACKS\\A.7Z \"-oC:\\My Work\\Drivers\\\\\" -y",
       {"x", "C:\\PACKS\\A.7Z", "-oC:\\My Work\\Drivers\\", "-y"}},
      // A missing pack leaves its place empty; the tool then reports the missing archive.
      {"missing pack",
       Use::WholePack,
       "",
       "/w/Drivers/",
       "",
       "7z x  -o/w/Drivers/ -y",
       {"x", "-o/w/Drivers/", "-y"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = c.use == Use::WholePack ? UnpackPackCommand(c.archive, c.out)
                             : c.use == Use::Infs    ? ExtractInfsCommand(c.archive, c.out)
                                                     : ExtractListedCommand(c.archive, c.out, c.list);
    EXPECT_EQ(line, c.line);
    // The output switch stands in the line once, so a run side by side can be pointed elsewhere.
    const std::string outSwitch = ArchiverOutputSwitch(c.out);
    const std::size_t at = line.find(outSwitch);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(line.find(outSwitch, at + 1), std::string::npos);
    // Each kind of tool gets the same words; a current one also the switch that lists the items.
    for (const ArchiverKind kind : {ArchiverKind::Unknown, ArchiverKind::Classic, ArchiverKind::Current}) {
      SCOPED_TRACE(static_cast<int>(kind));
      Lines expected = c.words;
      if (kind == ArchiverKind::Current) expected.push_back("-bb1");
      const Lines words = platform::process::SplitCommandLine(ArchiverCommandLine(line, kind));
      ASSERT_FALSE(words.empty());
      EXPECT_EQ(words.front(), "7z");
      EXPECT_EQ(Lines(words.begin() + 1, words.end()), expected);
    }
  }
}

TEST(ArchiverRunTest, UnpackMethodIsReadFromAWholeNumber) {
  struct Case {
    const char* text;
    UnpackMethod method;
  };
  for (const Case& c : {Case{"1", UnpackMethod::Redirected}, Case{"+1", UnpackMethod::Redirected},
                        Case{"2", UnpackMethod::Piped}, Case{"0", UnpackMethod::None},
                        Case{"3", UnpackMethod::None}, Case{"-2", UnpackMethod::None},
                        Case{"12", UnpackMethod::None}, Case{"2147483647", UnpackMethod::None}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(UnpackMethodOf(c.text), c.method);
  }
  // Text that is no whole number is an error, never a method.
  for (const char* text : {"", "two", "+", "1 ", " 2", "1.0", "2x", "99999999999", "--1"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(UnpackMethodOf(text), std::invalid_argument);
  }
}

TEST(ArchiverRunTest, ExitCodeAndErrorLinesTellHowARunWent) {
  struct Case {
    const char* name;
    std::optional<int> exitCode;
    Lines output;
    ArchiverOutcome exit;    // by the exit code alone
    ArchiverOutcome unpack;  // unpacking a whole pack
  };
  const Lines ok = {"Extracting  drv/a.inf", "Everything is Ok"};
  const Case cases[] = {
      {"not started", std::nullopt, {}, ArchiverOutcome::NotStarted, ArchiverOutcome::NotStarted},
      {"not started, stale error",
       std::nullopt,
       {"ERROR: x"},
       ArchiverOutcome::NotStarted,
       ArchiverOutcome::NotStarted},
      {"no error", 0, ok, ArchiverOutcome::Done, ArchiverOutcome::Done},
      {"warning", 1, ok, ArchiverOutcome::Done, ArchiverOutcome::Done},
      {"fatal", 2, ok, ArchiverOutcome::Failed, ArchiverOutcome::Failed},
      {"bad command line", 7, {}, ArchiverOutcome::Failed, ArchiverOutcome::Failed},
      {"stopped by the user", 255, {}, ArchiverOutcome::Failed, ArchiverOutcome::Failed},
      // Codes the tool never gives itself: a broken output pipe, a crash on Windows.
      {"pipe broken", -1, ok, ArchiverOutcome::Failed, ArchiverOutcome::Failed},
      {"crashed", static_cast<int>(0xC0000005u), ok, ArchiverOutcome::Failed, ArchiverOutcome::Failed},
      // The exit code said all was well, the output tells otherwise.
      {"damaged item",
       0,
       {"Extracting  drv/a.inf", "ERROR: CRC Failed : drv/a.sys"},
       ArchiverOutcome::Done,
       ArchiverOutcome::ItemErrors},
      {"item errors total",
       1,
       {"Everything is Ok", "Sub items Errors: 1"},
       ArchiverOutcome::Done,
       ArchiverOutcome::ItemErrors},
      {"errors total", 0, {"Errors: 2"}, ArchiverOutcome::Done, ArchiverOutcome::ItemErrors},
      {"no archive",
       0,
       {"Error: /p/a.7z is not archive"},
       ArchiverOutcome::Done,
       ArchiverOutcome::ItemErrors},
      {"cannot open", 0, {"Can't open as archive: 1"}, ArchiverOutcome::Done, ArchiverOutcome::ItemErrors},
      {"cannot open, old wording",
       0,
       {"Can not open the file as archive"},
       ArchiverOutcome::Done,
       ArchiverOutcome::ItemErrors},
      // Items whose names hold the words are no error.
      {"names with the words",
       0,
       {"Extracting  ERROR/Error: a.inf", "- Errors/b.inf", "Extracting  drv/Errors:x.inf", " ERROR"},
       ArchiverOutcome::Done,
       ArchiverOutcome::Done},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ArchiverExitOutcome(c.exitCode), c.exit);
    EXPECT_EQ(UnpackOutcome(c.exitCode, c.output), c.unpack);
  }
}

TEST(ArchiverRunTest, ARunHandsOverOnlyItsOwnOutput) {
  TempDir tmp;
  const std::string outputFile = tmp.Write("cmdout", "output of an earlier run\r\n");
  FakeTools tools;
  tools.On("7z x /p/a.7z", Prints({"Extracting  drv/a.inf", "Everything is Ok"}, 1));

  // A run: its lines, in the list and in the output file, and its exit code.
  Lines output = {"stale line"};
  int changes = 0;
  EXPECT_EQ(RunArchiver(tools, "7z x /p/a.7z -o/w/ -y", output, outputFile, [&] { ++changes; }), 1);
  EXPECT_EQ(output, (Lines{"Extracting  drv/a.inf", "Everything is Ok"}));
  EXPECT_GT(changes, 0);
  EXPECT_EQ(tmp.Read("cmdout"), "Extracting  drv/a.inf\r\nEverything is Ok\r\n");

  // A tool that cannot be started leaves nothing of the run before to be taken for its own.
  EXPECT_EQ(RunArchiver(tools, "7z x /p/gone.7z -o/w/ -y", output, outputFile), std::nullopt);
  EXPECT_TRUE(output.empty());
  EXPECT_EQ(tmp.Read("cmdout"), "");
  EXPECT_EQ(tools.calls, (Lines{"7z x /p/a.7z -o/w/ -y", "7z x /p/gone.7z -o/w/ -y"}));
}

}  // namespace
