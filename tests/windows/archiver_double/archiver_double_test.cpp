// The archive tool's test double (7z.exe beside this test program) run as the program runs the
// archive tool on Windows: its banner tells the program's banner reader the kind it was asked to
// be, the program's command lines for that kind extract what they name, the items it reports
// are the ones the program gathers, and a hostile archive writes nothing outside the output
// folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "packs/archiver_kind.h"
#include "packs/archiver_run.h"
#include "packs/runners.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
namespace proc = platform::process;
using Lines = std::vector<std::string>;

// Sets the double's output form for the life of the object.
class Style {
 public:
  explicit Style(const char* style) { SetEnvironmentVariableA("VELMORA_7Z_STYLE", style); }
  ~Style() { SetEnvironmentVariableA("VELMORA_7Z_STYLE", nullptr); }
  Style(const Style&) = delete;
  Style& operator=(const Style&) = delete;
};

struct ToolRun {
  Lines lines;
  int exitCode = -1;
};

class ArchiverDoubleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (proc::FindProgram("7z").empty()) GTEST_SKIP() << "7z.exe is not beside the test program";
    out = tmp.MakeDir("out");
  }

  // Runs the tool with RunAny, as the program does.
  static ToolRun Tool(const std::string& commandLine) {
    ToolRun run;
    const std::optional<int> code = RunAny(commandLine, run.lines);
    run.exitCode = code ? *code : -1;
    return run;
  }

  static std::string Q(const std::string& path) { return proc::QuoteArgument(path); }

  // Every file below a folder, relative, with '/'.
  static std::set<std::string> Files(const std::string& folder) {
    std::set<std::string> files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
      if (!it->is_directory()) files.insert(fs::relative(it->path(), folder).generic_string());
    }
    return files;
  }

  static bool Has(const Lines& lines, const std::string& start) {
    for (const std::string& line : lines) {
      if (line.rfind(start, 0) == 0) return true;
    }
    return false;
  }

  // A driver pack made by the double itself from a folder tree.
  std::string MakePack() {
    tmp.Write("src/D/G/N/1/display.inf", "[Version]\r\n");
    tmp.Write("src/D/G/N/1/nv.sys", "driver");
    tmp.Write("src/D/G/N/1/sub/extra.dll", "dll");
    tmp.Write("src/D/G/A/2/ATI.INF", "[Version]\r\n");
    tmp.Write("src/D/L/Realtek Lan/rt lan.Inf", "[Version]\r\n");
    tmp.Write("src/D/L/old.inf.bak", "backup");
    tmp.Write("src/root.inf", "[Version]\r\n");
    const std::string pack = tmp.File("Pack.7z");
    const ToolRun made =
        Tool("7z a " + Q(pack) + " " + Q(tmp.File("src/D")) + " " + Q(tmp.File("src/root.inf")));
    EXPECT_EQ(made.exitCode, 0) << (made.lines.empty() ? "" : made.lines.back());
    return pack;
  }

  TempDir tmp;
  std::string out;
};

TEST_F(ArchiverDoubleTest, EachFormExtractsWhatTheProgramsCommandLinesNameAndReportsItInItsOwnWay) {
  const std::string pack = MakePack();
  const std::string list = tmp.Write("work/Pack.7z.txt", "D\\G\\N\\1\\*.*\r\nroot.inf\r\n");
  struct Form {
    const char* style;
    ArchiverKind kind;
    const char* version;
  };
  struct Command {
    std::string names;
    std::set<std::string> files;
  };
  const std::vector<Command> commands = {
      {"",
       {"D/G/N/1/display.inf", "D/G/N/1/nv.sys", "D/G/N/1/sub/extra.dll", "D/G/A/2/ATI.INF",
        "D/L/Realtek Lan/rt lan.Inf", "D/L/old.inf.bak", "root.inf"}},
      {" *.inf -r", {"D/G/N/1/display.inf", "D/G/A/2/ATI.INF", "D/L/Realtek Lan/rt lan.Inf", "root.inf"}},
      {" " + Q("@" + list), {"D/G/N/1/display.inf", "D/G/N/1/nv.sys", "D/G/N/1/sub/extra.dll", "root.inf"}},
  };
  for (const Form& form :
       {Form{"", ArchiverKind::Classic, "9.20"}, Form{"modern", ArchiverKind::Current, "16.02"}}) {
    SCOPED_TRACE(std::string("style ") + form.style);
    const Style style(form.style);
    const ToolRun usage = Tool("7z");
    EXPECT_EQ(usage.exitCode, 0);
    const ArchiverBanner banner = ParseArchiverBanner(usage.lines);
    EXPECT_EQ(banner.kind, form.kind);
    EXPECT_EQ(banner.version, form.version);

    for (const Command& command : commands) {
      SCOPED_TRACE(command.names);
      fs::remove_all(out);
      const std::string line =
          ArchiverCommandLine("7z x " + Q(pack) + " " + Q("-o" + out) + command.names + " -y", banner.kind);
      const ToolRun run = Tool(line);
      EXPECT_EQ(run.exitCode, 0) << line;
      EXPECT_EQ(Files(out), command.files);
      std::set<std::string> gathered;
      for (std::string path : ExtractedItemPaths(run.lines)) {
        if (!path.empty() && path[0] == ' ') path.erase(0, 1);
        gathered.insert(fs::path(path).generic_string());
      }
      for (const std::string& file : command.files) EXPECT_EQ(gathered.count(file), 1u) << file;
      for (const std::string& path : gathered)
        EXPECT_TRUE(command.files.count(path) != 0 || fs::is_directory(out + path)) << path;
      EXPECT_TRUE(Has(run.lines,
                      form.kind == ArchiverKind::Current ? "Extracting archive: " : "Processing archive: "));
      EXPECT_TRUE(Has(run.lines, "Everything is Ok"));
    }
  }
}

TEST_F(ArchiverDoubleTest, SwitchesCommandsAndExitCodes) {
  const std::string pack = MakePack();
  struct Case {
    const char* style;
    std::string arguments;
    int exitCode;
    const char* line;   // a line the output starts with, or nullptr
    std::size_t files;  // files in the output folder afterwards
    std::size_t items;  // items the program would gather
  };
  const std::string o = " " + Q("-o" + out);
  const std::string p = " " + Q(pack);
  const std::vector<Case> cases = {
      // The newer form lists its items only when asked, at any level from 1.
      {"modern", " x" + p + o + " *.inf -r -y", 0, "Everything is Ok", 4, 0},
      {"modern", " x" + p + o + " *.inf -r -y -bb0", 0, nullptr, 4, 0},
      {"modern", " x" + p + o + " *.inf -r -y -bb", 0, "- root.inf", 4, 4},
      {"modern", " x" + p + o + " *.inf -r -y -BB3", 0, "- root.inf", 4, 4},
      {"modern", " x" + p + o + " -y -bb4", 7, "Command Line Error:", 0, 0},
      // The older form knows no -bb switch, as 9.20 did not.
      {"", " x" + p + o + " *.inf -r -y -bb1", 7, "Command Line Error:", 0, 0},
      // "e" puts the files straight into the output folder.
      {"", " e" + p + o + " *.inf -r -y", 0, "Extracting  ATI.INF", 4, 4},
      // Listing names every item and extracts nothing.
      {"", " l" + p, 0, "Listing archive: ", 0, 0},
      // Names without -r match from the root only.
      {"", " x" + p + o + " *.inf -y", 0, "Extracting  root.inf", 1, 1},
      {"", " x" + p + o + " nothing.here -y", 0, "No files to process", 0, 0},
      // Errors: no such archive, no archive of this kind, unknown commands and switches.
      {"", " x " + Q(tmp.File("none.7z")) + o + " -y", 2, "Error: cannot find archive", 0, 0},
      {"modern", " x " + Q(tmp.File("src/root.inf")) + o + " -y", 2, "Can not open the file as archive", 0,
       0},
      {"", " u" + p, 7, "Command Line Error:", 0, 0},
      {"", " x" + p + o + " -pSecret", 7, "Command Line Error:", 0, 0},
      {"", " x", 7, "Command Line Error:", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.style) + c.arguments);
    fs::remove_all(out);
    fs::create_directories(out);
    const Style style(c.style);
    const ToolRun run = Tool("7z" + c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode);
    if (c.line != nullptr) {
      EXPECT_TRUE(Has(run.lines, c.line));
    }
    EXPECT_EQ(Files(out).size(), c.files);
    EXPECT_EQ(ExtractedItemPaths(run.lines).size(), c.items);
  }

  // Without -y an existing file is not replaced (the real tool would ask); with -y it is.
  fs::remove_all(out);
  tmp.Write("out/root.inf", "older");
  EXPECT_EQ(Tool("7z x" + p + o + " root.inf").exitCode, 2);
  EXPECT_EQ(tmp.Read("out/root.inf"), "older");
  EXPECT_EQ(Tool("7z x" + p + o + " root.inf -y").exitCode, 0);
  EXPECT_EQ(tmp.Read("out/root.inf"), "[Version]\r\n");
}

TEST_F(ArchiverDoubleTest, HostileAndDamagedArchivesWriteNothingOutsideTheOutputFolder) {
  // Made by hand: the container is plain text with the files' bytes in it.
  auto file = [](const std::string& path, const std::string& content) {
    return "F " + std::to_string(content.size()) + " " + path + "\n" + content + "\n";
  };
  const std::string hostile =
      tmp.Write("Hostile.7z", "VELMORA-TEST-ARCHIVE 1\n" + file("..\\up.inf", "up") +
                                  file("a/../../upup.inf", "upup") + file("\\rooted.inf", "rooted") +
                                  file("C:\\abs.inf", "abs") + file("ok/a:stream.inf", "ads") +
                                  file("con.inf", "device") + file("ok/good.inf", "good") + "D ok/sub\n");
  const std::string out2 = tmp.MakeDir("deep/er/out");
  const ToolRun run = Tool("7z x " + Q(hostile) + " " + Q("-o" + out2) + " -y");
  EXPECT_EQ(run.exitCode, 1);
  for (const char* skipped :
       {"..\\up.inf", "a/../../upup.inf", "\\rooted.inf", "C:\\abs.inf", "ok/a:stream.inf", "con.inf"}) {
    EXPECT_TRUE(Has(run.lines, std::string("WARNING: skipped ") + skipped)) << skipped;
  }
  EXPECT_EQ(Files(tmp.path() + "deep"), (std::set<std::string>{"er/out/ok/good.inf"}));
  EXPECT_FALSE(fs::exists("C:\\abs.inf"));
  EXPECT_FALSE(fs::exists("C:\\rooted.inf"));
  EXPECT_FALSE(fs::exists(tmp.path() + "upup.inf"));
  EXPECT_TRUE(fs::is_directory(out2 + "ok/sub"));
  EXPECT_EQ(ExtractedItemPaths(run.lines), (Lines{" ok\\good.inf", " ok\\sub"}));

  // A damaged archive: what came before the damage is extracted, and the run failed.
  const std::string cut = tmp.Write(
      "Cut.7z", "VELMORA-TEST-ARCHIVE 1\n" + file("first.inf", "first") + "F 99 second.inf\nshort\n");
  fs::remove_all(out);
  const ToolRun damaged = Tool("7z x " + Q(cut) + " " + Q("-o" + out) + " -y");
  EXPECT_EQ(damaged.exitCode, 2);
  EXPECT_TRUE(Has(damaged.lines, "ERROR: " + cut + " : Unexpected end of archive"));
  EXPECT_EQ(Files(out), std::set<std::string>{"first.inf"});
  EXPECT_TRUE(IsArchiverErrorLine("ERROR: " + cut + " : Unexpected end of archive"));
}

}  // namespace
