// The runners of the outside tools, against a purpose-built helper program that prints its
// arguments, writes chunks with pauses, binary junk, endless lines, and sleeps.
#include "packs/runners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/ui_port.h"
#include "packs/tool_runner.h"
#include "platform/throw_hook.h"
#include "shared/shared_functions.h"
#include "support/temp_dir.h"
#include "support/test_helper.h"

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

std::string Helper() { return TestHelperPath(); }

// A UI that records the cursor changes and counts the message pumps.
class RecordingUi : public UiPort {
 public:
  std::vector<bool> cursor;
  int pumps = 0;
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  void ShowInfo(const std::string&, const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowError(const std::string&) override {}
  std::optional<std::string> OpenFile(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> SaveFile(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void ProcessMessages() override { ++pumps; }
  void SetBusyCursor(bool busy) override { cursor.push_back(busy); }
  bool OpenUrl(const std::string&) override { return false; }
};

// ---- RunAny: line joining over chunks ----

struct ChunkCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> lines;
};

// Feeds the chunks one after the other the way RunAny's cycles do.
std::vector<std::string> Feed(const std::vector<std::string>& chunks) {
  std::vector<std::string> output;
  runners_detail::LineJoiner joiner;
  for (const std::string& chunk : chunks) joiner.Append(output, chunk);
  return output;
}

// The lines of the whole output read at once, written plainly: zero bytes dropped, then a
// line ends at CR LF, LF or CR, and a final line break adds no empty line.
std::vector<std::string> WholeOutputLines(const std::string& output) {
  std::string text;
  for (const char c : output) {
    if (c != '\0') text.push_back(c);
  }
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

void PrintTo(const ChunkCase& c, std::ostream* os) { *os << c.name; }

class ChunkJoiningTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkJoiningTest, GivesTheLines) { EXPECT_EQ(Feed(GetParam().chunks), GetParam().lines); }

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, ChunkJoiningTest,
    ::testing::Values(ChunkCase{"LineContinuedInNextChunk", {"abc", "def\n"}, {"abcdef"}},
                      ChunkCase{"ContinuedOverThreeChunks", {"a", "b", "c\nd\n"}, {"abc", "d"}},
                      ChunkCase{"CrLfSplitBetweenChunks", {"abc\r", "\ndef\r\n"}, {"abc", "def"}},
                      ChunkCase{"CrLfSplitAfterEmptyLine", {"\r\n\r", "\nx"}, {"", "", "x"}},
                      ChunkCase{"CrThenCrLfAcrossChunks", {"a\r", "\r", "\n"}, {"a", ""}},
                      ChunkCase{"LfAfterLoneCrChunkLater", {"a\r", "b", "\n"}, {"a", "b"}},
                      ChunkCase{"AllLineEnds", {"a\r\nb\rc\nd"}, {"a", "b", "c", "d"}},
                      ChunkCase{"LfCrIsTwoBreaks", {"a\n\rb"}, {"a", "", "b"}},
                      ChunkCase{"FinalBreakAddsNoLine", {"a\n\nb\n"}, {"a", "", "b"}},
                      ChunkCase{"LoneBreakChunk", {"x\n", "\n"}, {"x", ""}},
                      ChunkCase{"CompleteLinesNotJoined", {"a\n", "b\n"}, {"a", "b"}},
                      ChunkCase{"ZeroBytesDropped", {"ab\0cd\nef"s, "gh\n"}, {"abcd", "efgh"}},
                      ChunkCase{"ChunkStartingWithZero", {"\0xyz"s, "q\n"}, {"xyzq"}},
                      ChunkCase{"ZeroAfterLineBreak", {"ab\n\0"s, "cd\n"}, {"ab", "cd"}},
                      ChunkCase{"ZeroBetweenCrAndLf", {"a\r\0"s, "\nb"}, {"a", "b"}},
                      ChunkCase{"OnlyZeros", {"\0\0"s, "\0"s}, {}},
                      ChunkCase{"EmptyChunks", {"", "a", "", "\r", "", "\n", ""}, {"a"}},
                      ChunkCase{"NoChunks", {}, {}}),
    [](const ::testing::TestParamInfo<ChunkCase>& param) { return param.param.name; });

// Outputs whose every byte border is a place where the pipe may cut them.
const std::vector<std::string> kTrickyOutputs = {
    "abc\r\ndef\r\n"s,     "a\r\r\n\n\rb"s,    "\r\n\r\n"s,
    "ab\n\0cd\n"s,         "x\r\0\ny\0\0\rz"s, "\0\r\0\n\0"s,
    "line one\nline two"s, "\n\n\r\r"s,        "Extracting  a\\b.inf\r\nEverything is Ok\r\n"s,
};

// The chunks of `output` cut at the given positions (ascending).
std::vector<std::string> Cut(const std::string& output, const std::vector<std::size_t>& at) {
  std::vector<std::string> chunks;
  std::size_t from = 0;
  for (const std::size_t to : at) {
    chunks.push_back(output.substr(from, to - from));
    from = to;
  }
  chunks.push_back(output.substr(from));
  return chunks;
}

TEST(ChunkJoiningSplitTest, WholeOutputGivesThePlainLines) {
  for (const std::string& output : kTrickyOutputs) {
    EXPECT_EQ(Feed({output}), WholeOutputLines(output)) << ::testing::PrintToString(output);
  }
}

TEST(ChunkJoiningSplitTest, EverySplitIntoTwoOrThreeChunksGivesTheWholeOutputsLines) {
  for (const std::string& output : kTrickyOutputs) {
    const auto whole = WholeOutputLines(output);
    for (std::size_t i = 0; i <= output.size(); ++i) {
      EXPECT_EQ(Feed(Cut(output, {i})), whole) << ::testing::PrintToString(output) << " cut at " << i;
      for (std::size_t j = i; j <= output.size(); ++j) {
        EXPECT_EQ(Feed(Cut(output, {i, j})), whole)
            << ::testing::PrintToString(output) << " cut at " << i << " and " << j;
      }
    }
  }
}

TEST(ChunkJoiningSplitTest, RandomSplitsOfRandomOutputGiveTheWholeOutputsLines) {
  std::mt19937 random(20261210);
  const std::string alphabet = "ab\r\n\0"s;
  for (int round = 0; round < 2000; ++round) {
    std::string output(random() % 40, ' ');
    for (char& c : output) c = alphabet[random() % alphabet.size()];
    std::vector<std::size_t> at(random() % 8);
    for (std::size_t& position : at) position = random() % (output.size() + 1);
    std::sort(at.begin(), at.end());
    EXPECT_EQ(Feed(Cut(output, at)), WholeOutputLines(output)) << ::testing::PrintToString(output);
  }
}

TEST(ChunkJoiningSplitTest, ReportsAChangeOnlyWhenTheListChanged) {
  std::vector<std::string> output;
  runners_detail::LineJoiner joiner;
  EXPECT_TRUE(joiner.Append(output, "abc"));
  EXPECT_TRUE(joiner.Append(output, "d\r"));   // the open line grew
  EXPECT_FALSE(joiner.Append(output, "\n"));   // only the rest of a line end
  EXPECT_FALSE(joiner.Append(output, "\0"s));  // only a dropped zero
  EXPECT_FALSE(joiner.Append(output, ""));
  EXPECT_TRUE(joiner.Append(output, "\n"));  // an empty line
  EXPECT_EQ(output, (std::vector<std::string>{"abcd", ""}));
}

// ---- RunAny against a real child ----

TEST(RunAnyTest, TextWrittenInTwoChunksBecomesOneLine) {
  std::vector<std::string> output{"old"};
  int calls = 0;
  RunAny(Helper() + " chunks 300 abc def%n", output, [&] { ++calls; });
  EXPECT_EQ(output, (std::vector<std::string>{"abcdef"}));
  EXPECT_EQ(calls, 2);
}

TEST(RunAnyTest, CrLfSplitBetweenChunksEndsOneLine) {
  std::vector<std::string> output;
  RunAny(Helper() + " chunks 300 abc%r %ndef%n", output);
  EXPECT_EQ(output, (std::vector<std::string>{"abc", "def"}));
}

TEST(RunAnyTest, ProgramThatCannotStartLeavesTheListAlone) {
  std::vector<std::string> output{"previous pack's line"};
  bool called = false;
  RunAny("velmora-no-such-tool x a.7z", output, [&] { called = true; });
  EXPECT_EQ(output, (std::vector<std::string>{"previous pack's line"}));
  EXPECT_FALSE(called);
}

TEST(RunAnyTest, StartedChildReplacesTheList) {
  std::vector<std::string> output{"stale 1", "stale 2"};
  RunAny(Helper() + " exit 3", output);  // writes nothing, fails
  EXPECT_TRUE(output.empty());
  RunAny(Helper() + " stderr complaint", output);
  EXPECT_EQ(output, (std::vector<std::string>{"out"}));  // standard error is not caught
}

TEST(RunAnyTest, ManyLinesOverManyChunksKeepTheirOrderAndContent) {
  // About 650 KB: many pipe-fulls, with chunk borders falling anywhere inside lines.
  std::vector<std::string> output;
  std::size_t mirrored = 0;
  RunAny(Helper() + " lines 60000", output, [&] { mirrored = output.size(); });
  ASSERT_EQ(output.size(), 60000u);
  EXPECT_EQ(mirrored, 60000u);
  for (std::size_t i = 0; i < output.size(); ++i) {
    ASSERT_EQ(output[i], "line " + std::to_string(i + 1));
  }
}

TEST(RunAnyTest, ChildThatWritesFastIsNotHeldUpByTheFullPipe) {
  // 16 MiB, sixteen pipe-fulls written without a pause. Were a full pipe left until the next
  // 100 ms cycle, about every cycle after the first output would be a wait that ran out its
  // 100 ms with the child standing still; reading again soon while output keeps coming leaves
  // none (a child that truly pauses for 100 ms, say on a machine this busy, may add one or two).
  constexpr std::size_t kBytes = 16u << 20;
  std::vector<std::string> output;
  RunAnyCycles cycles;
  EXPECT_EQ(RunAny(Helper() + " endless " + std::to_string(kBytes), output, {}, nullptr, &cycles), 0);
  ASSERT_EQ(output.size(), 1u);
  EXPECT_EQ(output[0].size(), kBytes);
  EXPECT_GE(cycles.reads, 1u);
  EXPECT_LE(cycles.fullWaitsAfterOutput, 4u) << cycles.cycles << " cycles, " << cycles.reads << " with output";
}

TEST(RunAnyTest, OneEndlessLineIsKeptWhole) {
  std::vector<std::string> output;
  RunAny(Helper() + " endless 700000", output);
  ASSERT_EQ(output.size(), 1u);
  EXPECT_EQ(output[0].size(), 700000u);
  EXPECT_EQ(output[0].find_first_not_of('x'), std::string::npos);
}

TEST(RunAnyTest, BinaryJunkDoesNoHarm) {
  std::vector<std::string> output;
  RunAny(Helper() + " junk 300000", output);
  std::size_t total = 0;
  for (const std::string& line : output) {
    total += line.size();
    EXPECT_EQ(line.find_first_of("\r\n"s + '\0'), std::string::npos);
  }
  EXPECT_LE(total, 300000u);
}

// ---- CreateDOSProcessRedirected ----

const std::string kTag = "[function: CreateDOSProcessRedirected ]\n\n";

class RedirectedTest : public ::testing::Test {
 protected:
  // Runs and returns the error text, or "" when nothing was raised.
  std::string Run(const std::string& commandLine, const std::string& in, const std::string& out,
                  const std::string& errMsg = "Error!!!!") {
    try {
      EXPECT_TRUE(CreateDOSProcessRedirected(commandLine, in, out, errMsg, &ui));
      return "";
    } catch (const RunnerError& e) {
      return e.what();
    }
  }

  TempDir tmp;
  RecordingUi ui;
};

TEST_F(RedirectedTest, ChildReadsTheInputFileAndWritesTheOutputFile) {
  const std::string in = tmp.Write("Markers/cmd", "answer");
  const std::string out = tmp.File("Markers/cmdout");
  EXPECT_EQ(Run(Helper() + " stdin", in, out), "");
  EXPECT_EQ(tmp.Read("Markers/cmdout"), "stdin=[answer]\n");
  EXPECT_EQ(ui.cursor, (std::vector<bool>{true, false}));
}

TEST_F(RedirectedTest, WaitsForTheChildToEnd) {
  const std::string in = tmp.Write("cmd", "");
  const auto start = steady_clock::now();
  EXPECT_EQ(Run(Helper() + " sleep 400", in, tmp.File("cmdout")), "");
  EXPECT_GE(steady_clock::now() - start, milliseconds(380));
  EXPECT_EQ(tmp.Read("cmdout"), "awake\n");
}

TEST_F(RedirectedTest, MissingInputFileRaisesABeforeTheCursorChanges) {
  const std::string in = tmp.File("no-cmd");
  EXPECT_EQ(Run(Helper() + " stdin", in, tmp.File("cmdout")),
            kTag + "Input file * " + in + " *\ndoes not exist\n\nError!!!!");
  EXPECT_TRUE(ui.cursor.empty());
  EXPECT_FALSE(tmp.Exists("cmdout"));
}

TEST_F(RedirectedTest, ExistingOutputFileIsEmptiedBeforeTheChildStarts) {
  const std::string in = tmp.Write("cmd", "");
  const std::string out = tmp.Write("cmdout", "output of an earlier run");
  EXPECT_EQ(Run(Helper() + " exit 0", in, out), "");
  EXPECT_EQ(tmp.Read("cmdout"), "");
}

TEST_F(RedirectedTest, ProgramThatCannotStartRaisesD) {
  const std::string in = tmp.Write("cmd", "");
  const std::string out = tmp.Write("cmdout", "old");
  try {
    CreateDOSProcessRedirected("velmora-no-such-tool x a.7z", in, out, "Error!!!!", &ui);
    FAIL() << "no error raised";
  } catch (const RunnerError& e) {
    EXPECT_EQ(std::string(e.what()), kTag + "Function failure\n\nError!!!!");
    EXPECT_NE(e.detail().find("(2)"), std::string::npos) << e.detail();
  }
  EXPECT_EQ(ui.cursor, (std::vector<bool>{true, false}));
  EXPECT_EQ(tmp.Read("cmdout"), "");
}

TEST_F(RedirectedTest, OutputFileThatCannotBeCreatedRaisesC) {
  const std::string in = tmp.Write("cmd", "");
  const std::string out = tmp.File("missing folder/cmdout");
  EXPECT_EQ(Run(Helper() + " exit 0", in, out),
            kTag + "WinApi function CreateFile returned an invalid handle value\nfor the output file * " +
                out + " *\n\nError!!!!");
  EXPECT_EQ(ui.cursor, (std::vector<bool>{true, false}));
}

TEST_F(RedirectedTest, InputFileThatCannotBeOpenedRaisesB) {
  // A file that exists but cannot be opened for writing. Owner rights do not stop the superuser,
  // so use a read-only kernel attribute there.
  std::string in = tmp.Write("cmd", "");
  fs::permissions(in, fs::perms::owner_read);
  if (std::ofstream(in, std::ios::app)) {
    in = "/sys/devices/system/cpu/online";
    if (!fs::exists(in)) GTEST_SKIP() << "no file that refuses writing here";
  }
  EXPECT_EQ(Run(Helper() + " exit 0", in, tmp.File("cmdout")),
            kTag + "WinApi function CreateFile returned an invalid handle value\nfor the input file * " + in +
                " *\n\nError!!!!");
  EXPECT_FALSE(tmp.Exists("cmdout"));
}

TEST_F(RedirectedTest, TextsLongerThan260CharactersAreRefused) {
  const std::string in = tmp.Write("cmd", "");
  const std::string out = tmp.File("cmdout");
  const std::string longName = tmp.path() + std::string(261 - tmp.path().size(), 'n');
  ASSERT_EQ(longName.size(), 261u);

  std::string error = Run(Helper() + " exit 0 " + std::string(260, 'a'), in, out);
  EXPECT_EQ(error, kTag + "The command line is longer than 260 characters\n\nError!!!!");
  error = Run(Helper() + " exit 0", longName, out);
  EXPECT_EQ(error, kTag + "The name of the input file * " + longName +
                       " *\nis longer than 260 characters\n\nError!!!!");
  error = Run(Helper() + " exit 0", in, longName);
  EXPECT_EQ(error, kTag + "The name of the output file * " + longName +
                       " *\nis longer than 260 characters\n\nError!!!!");
  EXPECT_FALSE(tmp.Exists("cmdout"));
  EXPECT_TRUE(ui.cursor.empty());

  // Exactly 260 is fine.
  const std::string line = Helper() + " exit 0 ";
  EXPECT_EQ(Run(line + std::string(260 - line.size(), 'a'), in, out), "");
}

TEST_F(RedirectedTest, PercentSignsInNamesAndMessageStayAsTheyAre) {
  const std::string in = tmp.File("100% cmd");
  EXPECT_EQ(Run("x", in, tmp.File("out"), "%s %d"),
            kTag + "Input file * " + in + " *\ndoes not exist\n\n%s %d");
}

// ---- CaptureConsoleOutput ----

TEST(CaptureConsoleOutputTest, AppendsTheOutputAsOneBlock) {
  RecordingUi ui;
  std::string memo = "before";
  CaptureConsoleOutput(Helper() + " lines 3", memo, &ui);
  EXPECT_EQ(memo, "beforeline 1\nline 2\nline 3\n");
  EXPECT_GE(ui.pumps, 1);
}

TEST(CaptureConsoleOutputTest, ServicesTheWindowInEveryCycle) {
  RecordingUi ui;
  std::string memo;
  CaptureConsoleOutput(Helper() + " sleep 450", memo, &ui);
  EXPECT_EQ(memo, "awake\n");
  EXPECT_GE(ui.pumps, 4);
  EXPECT_LE(ui.pumps, 20);
}

TEST(CaptureConsoleOutputTest, ProgramThatCannotStartAppendsNothing) {
  RecordingUi ui;
  std::string memo = "kept";
  CaptureConsoleOutput("velmora-no-such-tool find pci*", memo, &ui);
  EXPECT_EQ(memo, "kept");
  EXPECT_EQ(ui.pumps, 0);
}

TEST(CaptureConsoleOutputTest, GivesUpAfter151CyclesWithWhatItHas) {
  RecordingUi ui;
  std::string memo;
  runners_detail::CaptureLimits limits;
  limits.pollMs = 10;  // 151 cycles in about 1.5 s instead of 15 s
  runners_detail::CaptureConsoleOutputWith(Helper() + " chunks 10000 early%n late%n", memo, &ui, limits);
  // "late" comes 10 s after "early": cycles of 100 ms instead of the 10 ms asked for would
  // have caught it.
  EXPECT_EQ(memo, "early\n");
  EXPECT_EQ(ui.pumps, 151);
}

TEST(CaptureConsoleOutputTest, OutputBeyondTheBufferIsDropped) {
  RecordingUi ui;
  runners_detail::CaptureLimits limits;
  limits.pollMs = 10;
  limits.maxCycles = 100000;

  limits.bufferSize = 1000;
  std::string small;
  runners_detail::CaptureConsoleOutputWith(Helper() + " endless 300000", small, &ui, limits);
  EXPECT_EQ(small, std::string(1000, 'x'));  // and the child was not left blocked on a full pipe

  limits.bufferSize = 1048576;
  std::string full;
  runners_detail::CaptureConsoleOutputWith(Helper() + " endless 1500000", full, &ui, limits);
  EXPECT_EQ(full.size(), 1048576u);
}

TEST(CaptureConsoleOutputTest, ZeroByteEndsTheText) {
  std::string memo;
  CaptureConsoleOutput(Helper() + " chunks 0 ab%0cd%n", memo, nullptr);
  EXPECT_EQ(memo, "ab");
}

TEST(CaptureConsoleOutputTest, ChildGetsNoInputToReadItsOwnOutputFrom) {
  std::string memo;
  CaptureConsoleOutput(Helper() + " stdin", memo, nullptr);
  EXPECT_EQ(memo, "stdin=[]\n");
}

// ---- the console's code page ----

// The child writes "äüß" in the console (OEM) code page: 0x84 0x81 0xE1 in code pages 437 and
// 850 alike. CaptureConsoleOutput gives the program's ANSI text (code page 1252: 0xE4 0xFC
// 0xDF); RunAny keeps the bytes as the tool wrote them. Linux has one code page for both, so
// nothing changes there.
TEST(ConsoleCodePageTest, CaptureConvertsToAnsiRunAnyKeepsTheBytes) {
#ifdef _WIN32
  const unsigned oem = GetOEMCP();
  if ((oem != 437 && oem != 850) || GetACP() != 1252) {
    GTEST_SKIP() << "needs the OEM code page 437 or 850 and the ANSI code page 1252, not " << oem << " and "
                 << GetACP();
  }
  const std::string captured = "\xE4\xFC\xDF\n";
#else
  const std::string captured = "\x84\x81\xE1\n";
#endif
  std::string memo = "kept ";
  CaptureConsoleOutput(Helper() + " chunks 0 %x84%x81%xE1%n", memo, nullptr);
  EXPECT_EQ(memo, "kept " + captured);

  std::vector<std::string> lines;
  RunAny(Helper() + " chunks 0 %x84%x81%xE1%n", lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"\x84\x81\xE1"}));
}

// ---- failures that are no errors ----

int g_throws = 0;
void CountThrow(const platform::ThrowInfo&) { ++g_throws; }

// Every exception raised reaches the error report, so a start failure that a runner simply goes on
// from must not be raised at all; CreateDOSProcessRedirected raises its message once.
TEST(RunnerErrorsTest, FailedStartsRaiseOnlyWhatTheCallerIsToSee) {
  TempDir tmp;
  const std::string in = tmp.Write("cmd", "");
  g_throws = 0;
  platform::SetThrowCallback(&CountThrow);
  std::vector<std::string> lines;
  RunAny("velmora-no-such-tool x", lines);
  std::string memo;
  CaptureConsoleOutput("velmora-no-such-tool find pci*", memo, nullptr);
  const bool started = WinExecute("velmora-no-such-installer /path x", true);
  const int quietThrows = g_throws;
  try {
    CreateDOSProcessRedirected("velmora-no-such-tool x", in, tmp.File("cmdout"), "Error!!!!", nullptr);
  } catch (const RunnerError&) {
  }
  const int allThrows = g_throws;
  platform::SetThrowCallback(nullptr);
  EXPECT_FALSE(started);
  EXPECT_EQ(quietThrows, 0);
  EXPECT_EQ(allThrows, 1);
}

// ---- GetFileSize ----

TEST(GetFileSizeTest, LengthOrMinusOne) {
  TempDir tmp;
  EXPECT_EQ(GetFileSize(tmp.File("missing.7z")), -1);
  EXPECT_EQ(GetFileSize(tmp.Write("empty.7z", "")), 0);
  EXPECT_EQ(GetFileSize(tmp.Write("five.7z", "12345")), 5);
  EXPECT_EQ(GetFileSize(tmp.MakeDir("folder.7z")), -1);

  // A read-only pack (from a CD-ROM, say) still has its length.
  const std::string readOnly = tmp.Write("ro.7z", "abc");
  fs::permissions(readOnly, fs::perms::owner_read);
  EXPECT_EQ(GetFileSize(readOnly), 3);
}

TEST(GetFileSizeTest, LengthBeyondTheResultRangeIsMinusOne) {
  TempDir tmp;
  const std::string big = tmp.Write("big.7z", "");
  std::error_code ec;
  fs::resize_file(big, 3ull * 1024 * 1024 * 1024, ec);  // sparse: takes no room
  if (ec) GTEST_SKIP() << "cannot make a 3 GiB file here: " << ec.message();
  EXPECT_EQ(GetFileSize(big), -1);
  fs::resize_file(big, 2147483647ull, ec);
  EXPECT_EQ(GetFileSize(big), 2147483647);
}

// ---- WinExecute ----

TEST(WinExecuteTest, WaitsWhenAskedAndReportsAStartFailure) {
  TempDir tmp;
  const std::string flag = tmp.File("done.txt");
  EXPECT_TRUE(WinExecute(Helper() + " touch " + flag + " 300", true));
  EXPECT_TRUE(fs::exists(flag));

  // Without waiting: the child writes its file only once the test has opened the gate, which
  // happens after WinExecute has returned. A WinExecute that waited would return only when the
  // child gave up on the gate (after 30 s), with the file written.
  const std::string gate = tmp.File("gate.txt");
  const std::string later = tmp.File("later.txt");
  EXPECT_TRUE(WinExecute(Helper() + " touchafter " + gate + " " + later + " 30000", false));
  EXPECT_FALSE(fs::exists(later));
  std::ofstream(gate) << "open";
  // The child writes the file once the gate is open (or once it gives up on it): wait for it.
  while (!fs::exists(later)) std::this_thread::sleep_for(milliseconds(50));

  EXPECT_FALSE(WinExecute("velmora-no-such-installer /path x", true));
}

// ---- RealToolRunner::StartTool ----

// The start without waiting returns at once with a handle that says when the tool has ended and
// with what code; a program that cannot start gives no handle.
TEST(StartToolTest, ReturnsAtOnceAndSaysWhenTheToolEnded) {
  TempDir tmp;
  RealToolRunner runner;
  struct Case {
    const char* name;
    bool gated;  // the helper waits for the test's gate before it writes its file and ends
    std::string arguments;
    int exitCode;
  };
  const std::string gate = tmp.File("gate.txt");
  const std::string later = tmp.File("later.txt");
  const Case cases[] = {
      {"waits for the gate", true, " touchafter " + gate + " " + later + " 30000", 0},
      {"ends with its code", false, " exit 7", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<StartedTool> tool = runner.StartTool(Helper() + c.arguments);
    ASSERT_NE(tool, nullptr);
    if (c.gated) {
      // A start that waited would have returned only once the helper gave up on the gate.
      EXPECT_FALSE(fs::exists(later));
      EXPECT_FALSE(tool->Ended());
      EXPECT_EQ(tool->ExitCode(), -1);
      std::ofstream(gate) << "open";
    }
    // However long the machine takes: a pause between looks, not a bound.
    while (!tool->Ended()) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_TRUE(tool->Ended());
    EXPECT_EQ(tool->ExitCode(), c.exitCode);
    if (c.gated) {
      EXPECT_TRUE(fs::exists(later));
    }
  }
  EXPECT_EQ(runner.StartTool("velmora-no-such-tool /x"), nullptr);
}

}  // namespace
