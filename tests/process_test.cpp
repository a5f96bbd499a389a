// The process layer: command-line splitting by the Windows rules, the program lookup (program's
// folder first, letter case ignored there, ".exe" optional, then PATH), and starting children
// with chosen standard handles.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_helper.h"

namespace proc = platform::process;
namespace fs = std::filesystem;

namespace {

// ---- splitting ----

struct SplitCase {
  const char* name;
  std::string commandLine;
  std::vector<std::string> words;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, GivesTheWordsWindowsGives) {
  EXPECT_EQ(proc::SplitCommandLine(GetParam().commandLine), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{"ArchiveLine",
                  R"(7z x C:\PACKS\GRAPHI~1.7Z -oC:\Windows\work\ *.inf -r -y)",
                  {"7z", "x", R"(C:\PACKS\GRAPHI~1.7Z)", R"(-oC:\Windows\work\)", "*.inf", "-r", "-y"}},
        SplitCase{"ListFileLine",
                  R"(7z x pack.7z -o/w/ @/w/Graphics.7z.txt -y)",
                  {"7z", "x", "pack.7z", "-o/w/", "@/w/Graphics.7z.txt", "-y"}},
        SplitCase{"QuotedPathWithBlanks",
                  R"(7z x "/tmp/my packs/a.7z" -o/tmp/out/ -y)",
                  {"7z", "x", "/tmp/my packs/a.7z", "-o/tmp/out/", "-y"}},
        SplitCase{"QuotesInsideAWord", R"(7z x -o"/tmp/out dir/" -y)", {"7z", "x", "-o/tmp/out dir/", "-y"}},
        SplitCase{
            "QuotedProgramWithBlanks", R"("/opt/my tools/7z" x a.7z)", {"/opt/my tools/7z", "x", "a.7z"}},
        SplitCase{"QuotedProgramRunsOn", R"("my prog"x y)", {"my prog", "x", "y"}},
        SplitCase{"ProgramKeepsBackslashQuote", R"(C:\x\"y z)", {R"(C:\x\"y)", "z"}},
        SplitCase{"UnclosedProgramQuote", R"("C:\a b\p.exe)", {R"(C:\a b\p.exe)"}},
        SplitCase{"BlanksAndTabs", "p  a\t\tb   ", {"p", "a", "b"}},
        SplitCase{"LeadingBlankGivesEmptyProgram", " p a", {"", "p", "a"}},
        SplitCase{"GroupsInTheMiddle", R"(p a"b c"d)", {"p", "ab cd"}},
        SplitCase{"EscapedQuote", R"(p "a\"b")", {"p", R"(a"b)"}},
        SplitCase{"EvenBackslashesBeforeQuote", R"(p a\\\\"b c")", {"p", R"(a\\b c)"}},
        SplitCase{"OddBackslashesBeforeQuote", R"(p a\\\"b)", {"p", R"(a\"b)"}},
        SplitCase{"BackslashesElsewhereKept", R"(p C:\dir\ x\\y)", {"p", R"(C:\dir\)", R"(x\\y)"}},
        SplitCase{"TrailingBackslashInQuotesDoubled", R"(p "C:\dir\\" x)", {"p", R"(C:\dir\)", "x"}},
        SplitCase{"TrailingBackslashEscapesQuote", R"(p "C:\dir\" x)", {"p", R"(C:\dir" x)"}},
        SplitCase{"EmptyQuotedWord", R"(p "" x)", {"p", "", "x"}},
        SplitCase{"DoubledQuoteInsideQuotes", R"(p "a""b")", {"p", R"(a"b)"}},
        SplitCase{"TripleQuoteOutside", R"(p """)", {"p", R"(")"}}, SplitCase{"Empty", "", {}},
        SplitCase{"OnlyBlanks", " \t ", {}}),
    [](const ::testing::TestParamInfo<SplitCase>& param) { return param.param.name; });

TEST(QuoteArgumentTest, EveryWordComesBackUnchanged) {
  const std::vector<std::string> words = {
      "plain",      "a b",    "",          R"(a"b)",  R"(C:\dir\)",
      R"(C:\a b\)", R"(\\")", "tab\there", R"(\"\\)", "/tmp/my packs/x.7z"};
  for (const std::string& word : words) {
    const std::string line = "prog " + proc::QuoteArgument(word) + " next";
    const auto split = proc::SplitCommandLine(line);
    ASSERT_EQ(split.size(), 3u) << line;
    EXPECT_EQ(split[1], word) << line;
    EXPECT_EQ(split[2], "next") << line;
  }
  EXPECT_EQ(proc::QuoteArgument("plain"), "plain");
}

// ---- program lookup ----

// A program folder and a PATH folder with small scripts in them.
class FindProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    programDir = tmp.MakeDir("program");
    pathDir = tmp.MakeDir("bin");
    const char* oldPath = std::getenv("PATH");
    savedPath = oldPath != nullptr ? oldPath : "";
#ifdef _WIN32
    const char kListSeparator = ';';
#else
    const char kListSeparator = ':';
#endif
    SetEnvVar("PATH", "/nonexistent-velmora" + std::string(1, kListSeparator) +
                          pathDir.substr(0, pathDir.size() - 1));
    proc::SetProgramFolder(programDir);
  }
  void TearDown() override {
    SetEnvVar("PATH", savedPath);
    proc::SetProgramFolder("");
  }

  // A small program file: a shell script on Linux; on Windows any file will do, since the
  // lookup only finds it and nothing starts it.
  std::string Script(const std::string& path, bool executable = true) {
    tmp.Write(path, "#!/bin/sh\necho " + path + "\n");
    fs::permissions(tmp.File(path),
                    executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    return tmp.File(path);
  }

  TempDir tmp;
  std::string programDir;
  std::string pathDir;
  std::string savedPath;
};

#ifdef _WIN32
// The same path, however its letters and separators are written.
::testing::AssertionResult SameFile(const std::string& found, const std::string& expected) {
  std::error_code error;
  if (!found.empty() && fs::equivalent(found, expected, error)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "found \"" << found << "\", expected \"" << expected << "\"";
}

// On Windows the system's own search finds programs: letter case never counts, ".exe" is added
// to a name without an extension, and a file name without ".exe" is no program there.
TEST_F(FindProgramTest, WindowsSearchOrderProgramFolderThenPath) {
  const std::string tool = Script("program/Tool.EXE");
  EXPECT_TRUE(SameFile(proc::FindProgram("tool"), tool));
  EXPECT_TRUE(SameFile(proc::FindProgram("TOOL.exe"), tool));

  const std::string own = Script("program/7z.exe");
  Script("bin/7z.exe");
  EXPECT_TRUE(SameFile(proc::FindProgram("7z"), own));

  const std::string other = Script("bin/other.exe");
  EXPECT_TRUE(SameFile(proc::FindProgram("other"), other));
  EXPECT_TRUE(SameFile(proc::FindProgram("OTHER"), other));

  tmp.MakeDir("program/devcon.exe");  // a folder is no program
  EXPECT_EQ(proc::FindProgram("devcon"), "");
  EXPECT_EQ(proc::FindProgram("velmora-missing"), "");
  EXPECT_EQ(proc::FindProgram(""), "");

  const std::string elsewhere = Script("elsewhere/tool.exe");
  EXPECT_TRUE(SameFile(proc::FindProgram(elsewhere), elsewhere));
  EXPECT_TRUE(SameFile(proc::FindProgram(tmp.path() + "elsewhere\\tool"), elsewhere));
  EXPECT_EQ(proc::FindProgram(tmp.path() + "elsewhere/none"), "");
}
#else
TEST_F(FindProgramTest, ProgramFolderIgnoresCaseAndExeEnding) {
  const std::string tool = Script("program/Tool.EXE");
  EXPECT_EQ(proc::FindProgram("tool"), tool);
  EXPECT_EQ(proc::FindProgram("TOOL.exe"), tool);
  EXPECT_EQ(proc::FindProgram("Tool.EXE"), tool);

  const std::string installer = Script("program/DPINST");
  EXPECT_EQ(proc::FindProgram("DPINST.exe"), installer);
  EXPECT_EQ(proc::FindProgram("dpinst"), installer);
}

TEST_F(FindProgramTest, ProgramFolderComesBeforePath) {
  const std::string own = Script("program/7z");
  Script("bin/7z");
  EXPECT_EQ(proc::FindProgram("7z"), own);
}

TEST_F(FindProgramTest, PathIsSearchedWhenTheProgramFolderHasNone) {
  const std::string other = Script("bin/other");
  EXPECT_EQ(proc::FindProgram("other"), other);
  EXPECT_EQ(proc::FindProgram("other.exe"), other);
  // Outside the program's folder names are Linux names: letter case counts.
  EXPECT_EQ(proc::FindProgram("OTHER"), "");
}

TEST_F(FindProgramTest, OnlyExecutableFilesCount) {
  Script("program/7z", /*executable=*/false);
  tmp.MakeDir("program/devcon");
  const std::string fallback = Script("bin/7z");
  EXPECT_EQ(proc::FindProgram("7z"), fallback);
  EXPECT_EQ(proc::FindProgram("devcon"), "");
  EXPECT_EQ(proc::FindProgram("missing"), "");
  EXPECT_EQ(proc::FindProgram(""), "");
}

TEST_F(FindProgramTest, WordWithAFolderIsTakenAsItIs) {
  const std::string tool = Script("elsewhere/tool");
  Script("program/tool");
  EXPECT_EQ(proc::FindProgram(tool), tool);
  EXPECT_EQ(proc::FindProgram(tool + ".exe"), tool);
  EXPECT_EQ(proc::FindProgram(tmp.path() + "elsewhere\\tool"), tool);
  EXPECT_EQ(proc::FindProgram(tmp.path() + "elsewhere/none"), "");
}
#endif  // _WIN32

TEST(ProgramFolderTest, DefaultsToTheRunningProgramsFolder) {
  proc::SetProgramFolder("");
  EXPECT_EQ(proc::ProgramFolder(), platform::ExtractFilePath(platform::ProgramFilePath()));
  proc::SetProgramFolder("/somewhere/");
  EXPECT_EQ(proc::ProgramFolder(), "/somewhere/");
  proc::SetProgramFolder("");
}

// ---- starting children ----

std::string Helper() { return TestHelperPath(); }

proc::StartInfo PipeInfo(const std::string& commandLine) {
  proc::StartInfo info;
  info.commandLine = commandLine;
  info.output = proc::Output::Pipe;
  return info;
}

std::string RunToEnd(const proc::StartInfo& info) {
  proc::ChildProcess child = proc::ChildProcess::Start(info);
  std::string out = child.ReadToEnd();
  EXPECT_EQ(child.Wait(proc::ChildProcess::kInfinite), proc::WaitResult::Ended);
  return out;
}

TEST(ChildProcessTest, ProgramPathWithBlanksQuotedRuns) {
  TempDir tmp;
  const std::string copy = tmp.MakeDir("my tools") + "helper prog";
#ifdef _WIN32
  fs::copy_file(Helper(), copy + ".exe");  // started as "helper prog": Windows adds ".exe"
#else
  fs::copy_file(Helper(), copy);
#endif
#ifndef _WIN32
  fs::permissions(copy, fs::perms::owner_all);
#endif
  const std::string out = RunToEnd(PipeInfo("\"" + copy + "\" args \"a b\" c"));
  EXPECT_EQ(out, "argc=4\n0=[" + copy + "]\n1=[args]\n2=[a b]\n3=[c]\n");
}

TEST(ChildProcessTest, ArgumentsArriveSplitByWindowsRules) {
  const std::string out = RunToEnd(PipeInfo(Helper() + R"( args x -o"/tmp/out dir/" "a\"b" *.inf)"));
  EXPECT_EQ(out, "argc=6\n0=[" + Helper() + "]\n1=[args]\n2=[x]\n3=[-o/tmp/out dir/]\n4=[a\"b]\n5=[*.inf]\n");
}

TEST(ChildProcessTest, MissingProgramRaisesErrorWithCode) {
  try {
    proc::ChildProcess::Start(PipeInfo("velmora-no-such-program x"));
    FAIL() << "no error raised";
  } catch (const proc::ProcessError& e) {
    EXPECT_EQ(e.code(), 2u);
    EXPECT_NE(std::string(e.what()).find("velmora-no-such-program"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("(2)"), std::string::npos) << e.what();
  }
  EXPECT_THROW(proc::ChildProcess::Start(PipeInfo("")), proc::ProcessError);
}

TEST(ChildProcessTest, WaitTimesOutThenKillEndsTheChild) {
  proc::ChildProcess child = proc::ChildProcess::Start(PipeInfo(Helper() + " sleep 20000"));
  EXPECT_EQ(child.Wait(100), proc::WaitResult::TimedOut);
  EXPECT_FALSE(child.Ended());
  child.Kill();
  EXPECT_EQ(child.Wait(proc::ChildProcess::kInfinite), proc::WaitResult::Ended);
  EXPECT_TRUE(child.Ended());
  EXPECT_EQ(child.ReadToEnd(), "");  // killed before it wrote anything
}

// WaitForOutput: a reader wakes as soon as the child writes or ends, never later than asked.
TEST(ChildProcessTest, WaitForOutputWakesOnOutputOnEndOrAtTheTimeout) {
  using Clock = std::chrono::steady_clock;
  {
    // Writes at once, then stays until the test opens its gate: the wait ends with the output,
    // while the child still runs (a wait that did not wake on output would never end) and not
    // because its time ran out, however slowly a loaded machine runs the child.
    TempDir gateDir;
    const std::string gate = gateDir.File("gate");
    proc::ChildProcess child = proc::ChildProcess::Start(PipeInfo(Helper() + " writethen " + gate + " abc"));
    EXPECT_EQ(child.WaitForOutput(proc::ChildProcess::kInfinite), proc::WaitResult::TimedOut);
    EXPECT_FALSE(child.Ended());
    EXPECT_EQ(child.Counts().timeouts, 0u);
    ASSERT_EQ(child.BytesAvailable(), 3u);
    EXPECT_EQ(child.Read(3), "abc");
    // Nothing more comes until the end, which ends the next wait.
    std::ofstream(gate) << "open";
    EXPECT_EQ(child.WaitForOutput(proc::ChildProcess::kInfinite), proc::WaitResult::Ended);
    EXPECT_EQ(child.ExitCode(), 0);
  }
  {
    // Quiet for longer than the wait: back after the timeout, nothing to read.
    // (It would sleep ten minutes: the test ends it once the wait is back.)
    proc::ChildProcess child = proc::ChildProcess::Start(PipeInfo(Helper() + " sleep 600000"));
    const auto start = Clock::now();
    EXPECT_EQ(child.WaitForOutput(150), proc::WaitResult::TimedOut);
    // A wait never ends before its time, however busy the machine.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_EQ(child.Counts().timeouts, 1u);
    EXPECT_EQ(child.BytesAvailable(), 0u);
    child.Kill();
    EXPECT_EQ(child.WaitForOutput(proc::ChildProcess::kInfinite), proc::WaitResult::Ended);
  }
  {
    // The child closes its output and lives on: the wait is for its end, not for the closed pipe.
    const auto start = Clock::now();
    proc::ChildProcess child = proc::ChildProcess::Start(PipeInfo(Helper() + " closeout 600"));
    EXPECT_EQ(child.ReadToEnd(), "");  // returns once the child has closed its output
    const std::size_t lookupsBefore = child.Counts().lookups;
    EXPECT_EQ(child.WaitForOutput(proc::ChildProcess::kInfinite), proc::WaitResult::Ended);
    // The child sleeps 600 ms after it started, which was after `start`.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(600));
    EXPECT_EQ(child.BytesAvailable(), 0u);
    // The closed pipe is not looked at over and over: a few looks at the child (a few hundred
    // where the system offers no process handle to wait on and the wait steps every 2 ms),
    // where a wait woken by the closed pipe at every poll makes tens of thousands.
    EXPECT_LE(child.Counts().lookups - lookupsBefore, 400u);
  }
  {
    // Without an output pipe it is a plain wait.
    proc::StartInfo info;
    info.commandLine = Helper() + " exit 4";
    proc::ChildProcess child = proc::ChildProcess::Start(info);
    EXPECT_EQ(child.WaitForOutput(proc::ChildProcess::kInfinite), proc::WaitResult::Ended);
    EXPECT_EQ(child.ExitCode(), 4);
  }
}

TEST(ChildProcessTest, ExitCodeAfterTheEnd) {
  proc::ChildProcess child = proc::ChildProcess::Start(PipeInfo(Helper() + " exit 7"));
  EXPECT_EQ(child.Wait(proc::ChildProcess::kInfinite), proc::WaitResult::Ended);
  EXPECT_EQ(child.ExitCode(), 7);
}

TEST(ChildProcessTest, PipeReportsWhatItHoldsAndReadTakesExactlyThat) {
  proc::ChildProcess child = proc::ChildProcess::Start(PipeInfo(Helper() + " lines 3"));
  child.Wait(proc::ChildProcess::kInfinite);
  const std::string expected = "line 1\nline 2\nline 3\n";
  ASSERT_EQ(child.BytesAvailable(), expected.size());
  EXPECT_EQ(child.Read(7), "line 1\n");
  EXPECT_EQ(child.BytesAvailable(), expected.size() - 7);
  EXPECT_EQ(child.Read(100), "line 2\nline 3\n");  // the child has ended: the rest, no more
  EXPECT_EQ(child.BytesAvailable(), 0u);
}

TEST(ChildProcessTest, StandardInputEmptyOrFromAFile) {
  TempDir tmp;
  EXPECT_EQ(RunToEnd(PipeInfo(Helper() + " stdin")), "stdin=[]\n");

  tmp.Write("in.txt", "from the file");
  proc::Handle input = proc::OpenFileForChild(tmp.File("in.txt"), proc::FileDisposition::OpenAlways);
  proc::StartInfo info = PipeInfo(Helper() + " stdin");
  info.input = proc::Input::File;
  info.inputFile = &input;
  EXPECT_EQ(RunToEnd(info), "stdin=[from the file]\n");
}

TEST(ChildProcessTest, StandardErrorDroppedOrJoinedToOutput) {
  proc::StartInfo info = PipeInfo(Helper() + " stderr complaint");
  EXPECT_EQ(RunToEnd(info), "out\n");
  info.error = proc::ErrorOutput::SameAsOutput;
  const std::string both = RunToEnd(info);
  EXPECT_NE(both.find("complaint\n"), std::string::npos);
  EXPECT_NE(both.find("out\n"), std::string::npos);
}

TEST(ChildProcessTest, OutputIntoAFile) {
  TempDir tmp;
  const std::string path = tmp.Write("out.txt", "old content that is longer");
  {
    proc::Handle output = proc::OpenFileForChild(path, proc::FileDisposition::CreateAlways);
    EXPECT_EQ(fs::file_size(path), 0u);  // emptied at once, before any child runs
    proc::StartInfo info;
    info.commandLine = Helper() + " lines 2";
    info.output = proc::Output::File;
    info.outputFile = &output;
    proc::ChildProcess child = proc::ChildProcess::Start(info);
    child.Wait(proc::ChildProcess::kInfinite);
  }
  EXPECT_EQ(tmp.Read("out.txt"), "line 1\nline 2\n");
}

TEST(OpenFileForChildTest, KeepsOrEmptiesOrFailsWithCode) {
  TempDir tmp;
  const std::string path = tmp.Write("keep.txt", "kept");
  { proc::Handle h = proc::OpenFileForChild(path, proc::FileDisposition::OpenAlways); }
  EXPECT_EQ(tmp.Read("keep.txt"), "kept");
  { proc::Handle h = proc::OpenFileForChild(tmp.File("new.txt"), proc::FileDisposition::OpenAlways); }
  EXPECT_TRUE(tmp.Exists("new.txt"));
  try {
    proc::OpenFileForChild(tmp.File("no/such/folder.txt"), proc::FileDisposition::CreateAlways);
    FAIL() << "no error raised";
  } catch (const proc::ProcessError& e) {
#ifdef _WIN32
    EXPECT_EQ(e.code(), 3u);  // ERROR_PATH_NOT_FOUND: the folder is missing
#else
    EXPECT_EQ(e.code(), 2u);  // ENOENT
#endif
    EXPECT_NE(std::string(e.what()).find("folder.txt"), std::string::npos);
  }
}

}  // namespace
