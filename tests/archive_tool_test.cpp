// The 7z stand-in on archives the tests build with 7zz: the program's three command lines,
// "Extracting" lines, names with blanks, ".7Z" endings, damaged archives and hostile ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "packs/archiver_kind.h"
#include "packs/runners.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#ifdef VELMORA_7Z_PATH

namespace fs = std::filesystem;
namespace proc = platform::process;

namespace {

std::string ToolFolder() { return fs::path(VELMORA_7Z_PATH).parent_path().string() + "/"; }

struct ToolRun {
  std::vector<std::string> lines;
  int exitCode = -1;
};

// The archive path as the program writes it on Linux: quoted when it holds a blank.
std::string Short(const std::string& path) {
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

class ArchiveToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    proc::SetProgramFolder(ToolFolder());
    sevenZip = proc::FindProgram("7zz");
    if (sevenZip.empty()) GTEST_SKIP() << "7zz is not installed";
    src = tmp.MakeDir("src");
    out = tmp.MakeDir("out");
  }
  void TearDown() override { proc::SetProgramFolder(""); }

  // Runs 7zz to build an archive; the command's words are quoted as needed.
  void Make(const std::vector<std::string>& args, const std::string& input = "") {
    std::string line = "\"" + sevenZip + "\"";
    for (const std::string& arg : args) line += " " + proc::QuoteArgument(arg);
    proc::StartInfo info;
    info.commandLine = line;
    info.output = proc::Output::Pipe;
    info.error = proc::ErrorOutput::SameAsOutput;
    proc::Handle in;
    if (!input.empty()) {
      in = proc::OpenFileForChild(tmp.Write("stdin.dat", input), proc::FileDisposition::OpenAlways);
      info.input = proc::Input::File;
      info.inputFile = &in;
    }
    proc::ChildProcess child = proc::ChildProcess::Start(info);
    const std::string text = child.ReadToEnd();
    child.Wait(proc::ChildProcess::kInfinite);
    ASSERT_EQ(child.ExitCode(), 0) << text;
  }

  // Runs the stand-in as the program does, through the program's folder, and keeps its exit code.
  ToolRun Tool(const std::string& commandLine) {
    proc::StartInfo info;
    info.commandLine = commandLine;
    info.output = proc::Output::Pipe;
    proc::ChildProcess child = proc::ChildProcess::Start(info);
    ToolRun run;
    const std::string text = child.ReadToEnd();
    child.Wait(proc::ChildProcess::kInfinite);
    runners_detail::LineJoiner().Append(run.lines, text);
    run.exitCode = child.ExitCode();
    return run;
  }

  // The paths the program gathers from the output: lines starting with "Extracting", cut after
  // 11 characters and trimmed.
  static std::vector<std::string> Gathered(const std::vector<std::string>& lines) {
    std::vector<std::string> paths;
    for (const std::string& line : lines) {
      if (line.compare(0, 10, "Extracting") != 0) continue;
      std::string path = line.substr(11);
      path.erase(0, path.find_first_not_of(' '));
      paths.push_back(path);
    }
    return paths;
  }

  static bool Has(const std::vector<std::string>& lines, const std::string& start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  }

  // Every file below a folder, relative, with '/'.
  static std::set<std::string> Files(const std::string& folder) {
    std::set<std::string> files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
      if (!it->is_directory() || it->is_symlink()) files.insert(fs::relative(it->path(), folder).string());
    }
    return files;
  }

  // A driver pack: folders with INF files in mixed letter case, other files, blanks in names.
  std::string MakePack(const std::string& name) {
    tmp.Write("src/D/G/N/1/display.inf", "[Version]\r\n");
    tmp.Write("src/D/G/N/1/nv.sys", "driver");
    tmp.Write("src/D/G/N/1/sub/extra.dll", "dll");
    tmp.Write("src/D/G/A/2/ATI.INF", "[Version]\r\n");
    tmp.Write("src/D/G/A/2/ati.cat", "catalog");
    tmp.Write("src/D/L/Realtek Lan/rt lan.Inf", "[Version]\r\n");
    tmp.Write("src/D/L/Realtek Lan/readme.txt", "text");
    tmp.Write("src/D/L/old.inf.bak", "backup");
    tmp.Write("src/root.inf", "[Version]\r\n");
    const std::string archive = tmp.path() + name;
    Make({"a", archive, src + "D", src + "root.inf"});
    return archive;
  }

  TempDir tmp;
  std::string sevenZip;
  std::string src;
  std::string out;
};

TEST_F(ArchiveToolTest, WholePackUnpacksEverything) {
  const std::string pack = MakePack("Pack.7z");
  const ToolRun run = Tool("7z x " + Short(pack) + " -o" + out + " -y");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Files(out),
            (std::set<std::string>{"D/G/N/1/display.inf", "D/G/N/1/nv.sys", "D/G/N/1/sub/extra.dll",
                                   "D/G/A/2/ATI.INF", "D/G/A/2/ati.cat", "D/L/Realtek Lan/rt lan.Inf",
                                   "D/L/Realtek Lan/readme.txt", "D/L/old.inf.bak", "root.inf"}));
  EXPECT_EQ(tmp.Read("out/D/G/N/1/nv.sys"), "driver");
  const auto paths = Gathered(run.lines);
  EXPECT_NE(std::find(paths.begin(), paths.end(), "D/L/Realtek Lan/rt lan.Inf"), paths.end());
  EXPECT_NE(std::find(paths.begin(), paths.end(), "D/G/N/1/sub"), paths.end());  // folders too
  EXPECT_TRUE(Has(run.lines, "Everything is Ok"));
}

TEST_F(ArchiveToolTest, InfFilesInEveryFolderInAnyLetterCase) {
  const std::string pack = MakePack("Pack.7z");
  const ToolRun run = Tool("7z x " + pack + " -o" + out + " *.inf -r -y");
  EXPECT_EQ(run.exitCode, 0);
  const std::set<std::string> infs{"D/G/N/1/display.inf", "D/G/A/2/ATI.INF", "D/L/Realtek Lan/rt lan.Inf",
                                   "root.inf"};
  EXPECT_EQ(Files(out), infs);
  // One "Extracting" line per INF file and nothing else: the program takes every such line for a path.
  const auto paths = Gathered(run.lines);
  EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()), infs);
  EXPECT_EQ(paths.size(), infs.size());
  for (const std::string& line : run.lines) {
    if (line.rfind("Extracting", 0) == 0) {
      EXPECT_EQ(line.substr(0, 12), "Extracting  ") << line;
    }
  }
}

TEST_F(ArchiveToolTest, ListFileNamesFoldersTheWindowsWay) {
  const std::string pack = MakePack("Graphics.7z");
  // As the program writes it: Windows separators, "*.*", CR LF line ends.
  const std::string list = tmp.Write("work/Graphics.7z.txt", "D\\G\\N\\1\\*.*\r\nd\\l\\realtek lan\\*.*\r\n");
  const ToolRun run = Tool("7z x " + pack + " -o" + out + " @" + list + " -y");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Files(out),
            (std::set<std::string>{"D/G/N/1/display.inf", "D/G/N/1/nv.sys", "D/G/N/1/sub/extra.dll",
                                   "D/L/Realtek Lan/rt lan.Inf", "D/L/Realtek Lan/readme.txt"}));
}

TEST_F(ArchiveToolTest, EmptyListFileExtractsNothing) {
  const std::string pack = MakePack("Graphics.7z");
  const std::string list = tmp.Write("work/Graphics.7z.txt", "");
  const ToolRun run = Tool("7z x " + pack + " -o" + out + " @" + list + " -y");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Files(out).empty());
  EXPECT_TRUE(Gathered(run.lines).empty());
}

TEST_F(ArchiveToolTest, BlanksInArchiveAndOutputFolderAndUpperCaseEnding) {
  MakePack("ignored.7z");
  const std::string folder = tmp.MakeDir("my packs");
  const std::string pack = folder + "DRIVER PACK.7Z";
  fs::rename(tmp.path() + "ignored.7z", pack);
  const std::string target = tmp.MakeDir("out with blanks");
  const ToolRun run = Tool("7z x " + Short(pack) + " -o\"" + target + "\" *.inf -r -y");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Files(target).size(), 4u);
  EXPECT_TRUE(fs::exists(target + "D/L/Realtek Lan/rt lan.Inf"));
}

TEST_F(ArchiveToolTest, ExistingFilesAreOverwritten) {
  const std::string pack = MakePack("Pack.7z");
  tmp.Write("out/D/G/N/1/nv.sys", "an older driver that is longer");
  Tool("7z x " + pack + " -o" + out + " -y");
  EXPECT_EQ(tmp.Read("out/D/G/N/1/nv.sys"), "driver");
}

TEST_F(ArchiveToolTest, OutputThroughTheRunnerAsTheProgramSeesIt) {
  const std::string pack = MakePack("Pack.7z");
  std::vector<std::string> lines{"old"};
  RunAny("7z x " + pack + " -o" + out + " *.inf -r -y", lines);
  EXPECT_EQ(Gathered(lines).size(), 4u);
  EXPECT_TRUE(Has(lines, "Everything is Ok"));
  EXPECT_FALSE(Has(lines, "Extracting archive"));
}

TEST_F(ArchiveToolTest, CorruptArchiveGivesErrorsAndNoFiles) {
  const std::string pack = MakePack("Pack.7z");
  const std::string whole = tmp.Read("Pack.7z");
  const std::string broken = tmp.Write("Broken.7z", whole.substr(0, whole.size() / 3));
  const std::string junk = tmp.Write("Junk.7z", std::string(5000, '\x5a'));
  for (const std::string& archive : {broken, junk}) {
    const ToolRun run = Tool("7z x " + archive + " -o" + out + " *.inf -r -y");
    EXPECT_NE(run.exitCode, 0) << archive;
    EXPECT_TRUE(Has(run.lines, "ERROR")) << archive;
    EXPECT_TRUE(Gathered(run.lines).empty()) << archive;
  }
  EXPECT_TRUE(fs::is_empty(out));  // not even a leftover working folder
}

TEST_F(ArchiveToolTest, DamagedFileDoesNotReplaceAGoodCopy) {
  tmp.Write("src/D/a.inf", std::string(64, 'A'));
  tmp.Write("src/D/b.txt", std::string(64, 'B'));
  const std::string pack = tmp.path() + "Stored.7z";
  Make({"a", "-mx0", "-ms=off", pack, src + "D"});  // stored: the data can be spoiled in place
  std::string bytes = tmp.Read("Stored.7z");
  bytes[bytes.find(std::string(8, 'A')) + 3] = 'Z';
  tmp.Write("Stored.7z", bytes);
  tmp.Write("out/D/a.inf", "good copy");

  const ToolRun run = Tool("7z x " + pack + " -o" + out + " -y");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(tmp.Read("out/D/a.inf"), "good copy");
  EXPECT_EQ(tmp.Read("out/D/b.txt"), std::string(64, 'B'));
  EXPECT_TRUE(Has(run.lines, "ERROR: D/a.inf"));
  const auto paths = Gathered(run.lines);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "D/a.inf"), 0);
}

TEST_F(ArchiveToolTest, MissingArchiveAndBadCommandLines) {
  ToolRun run = Tool("7z x " + tmp.path() + "none.7z -o" + out + " *.inf -r -y");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(Has(run.lines, "ERROR: cannot find archive"));

  // A pack whose short name was empty: the wildcard takes the archive's place.
  run = Tool("7z x  -o" + out + " *.inf -r -y");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_TRUE(Gathered(run.lines).empty());

  run = Tool("7z a x.7z file");
  EXPECT_EQ(run.exitCode, 7);
  EXPECT_TRUE(Has(run.lines, "Command Line Error:"));
  run = Tool("7z x a.7z -o" + out + " -pSecret -y");
  EXPECT_EQ(run.exitCode, 7);
}

TEST_F(ArchiveToolTest, MissingArchiverIsReportedClearly) {
  const std::string pack = MakePack("Pack.7z");
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  ::setenv("PATH", tmp.MakeDir("empty-bin").c_str(), 1);
  const ToolRun run = Tool("7z x " + pack + " -o" + out + " -y");
  ::setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(Has(run.lines, "ERROR: the archiver 7zz was not found"));
  EXPECT_TRUE(fs::is_empty(out));
}

// Folders the output folder lacks are moved into place whole; where it already holds them, the
// files go one by one. Either way the same files arrive, the same lines are printed, the
// output folder's own files stay and no working folder is left behind.
TEST_F(ArchiveToolTest, NewFoldersAndPartlyExistingTreesGetTheSameFilesAndLines) {
  const std::string pack = MakePack("Pack.7z");
  const std::set<std::string> packFiles = Files(src);
  struct Before {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // a name ending in "/" is a folder
  };
  const Before cases[] = {
      {"empty", {}},
      {"partly there",
       {{"D/G/N/1/nv.sys", "an older driver that is longer"}, {"D/G/keep.txt", "mine"}, {"D/L/", ""}}},
      {"only the top folder", {{"D/", ""}, {"mine.txt", "mine"}}},
      {"all there",
       {{"D/G/N/1/display.inf", "old"},
        {"D/G/N/1/sub/extra.dll", "old"},
        {"D/G/A/2/ATI.INF", "old"},
        {"D/G/A/2/ati.cat", "old"},
        {"D/L/Realtek Lan/rt lan.Inf", "old"},
        {"D/L/Realtek Lan/readme.txt", "old"},
        {"D/L/old.inf.bak", "old"},
        {"root.inf", "old"}}},
  };
  std::vector<std::string> firstLines;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string folder = "out" + std::to_string(i) + "/";
    const std::string target = tmp.MakeDir(folder);
    std::set<std::string> kept;
    for (const auto& [name, content] : cases[i].files) {
      if (name.back() == '/') {
        tmp.MakeDir(folder + name);
        continue;
      }
      tmp.Write(folder + name, content);
      if (packFiles.count(name) == 0) kept.insert(name);
    }
    const ToolRun run = Tool("7z x " + pack + " -o" + target + " -y");
    EXPECT_EQ(run.exitCode, 0);
    std::set<std::string> expected = packFiles;
    expected.insert(kept.begin(), kept.end());
    EXPECT_EQ(Files(target), expected);
    for (const std::string& file : packFiles)
      EXPECT_EQ(tmp.Read(folder + file), tmp.Read("src/" + file)) << file;
    for (const std::string& file : kept) EXPECT_EQ(tmp.Read(folder + file), "mine") << file;
    std::vector<std::string> lines = Gathered(run.lines);
    std::sort(lines.begin(), lines.end());
    if (i == 0) {
      firstLines = lines;
      for (const std::string& file : packFiles)
        EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), file));
      EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), "D/G/N/1/sub"));
    } else {
      EXPECT_EQ(lines, firstLines);
    }
    EXPECT_TRUE(Has(run.lines, "Everything is Ok"));
  }
}

TEST_F(ArchiveToolTest, DamagedFileInAFolderNewToTheOutputIsLeftOut) {
  tmp.Write("src/D/a.inf", std::string(64, 'A'));
  tmp.Write("src/D/b.txt", std::string(64, 'B'));
  const std::string pack = tmp.path() + "Stored.7z";
  Make({"a", "-mx0", "-ms=off", pack, src + "D"});
  std::string bytes = tmp.Read("Stored.7z");
  bytes[bytes.find(std::string(8, 'A')) + 3] = 'Z';
  tmp.Write("Stored.7z", bytes);

  const ToolRun run = Tool("7z x " + pack + " -o" + out + " -y");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(Files(out), (std::set<std::string>{"D/b.txt"}));
  EXPECT_TRUE(Has(run.lines, "ERROR: D/a.inf : damaged"));
  const auto paths = Gathered(run.lines);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "D/a.inf"), 0);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "D/b.txt"), 1);
}

// ---- the two output forms: 7-Zip 9.20's (the default) and that of 7-Zip 15 and later ----

TEST_F(ArchiveToolTest, BothFormsExtractTheSameAndReportTheItemsInTheirOwnWay) {
  const std::string pack = MakePack("Pack.7z");
  const std::string list = tmp.Write("work/Pack.7z.txt", "D\\G\\N\\1\\*.*\r\nroot.inf\r\n");
  struct Form {
    const char* style;  // VELMORA_7Z_STYLE
    ArchiverKind kind;
    const char* switches;  // what the program adds for that kind
  };
  struct Command {
    std::string names;
    std::set<std::string> files;
  };
  const std::vector<Command> commands = {
      {"",
       {"D/G/N/1/display.inf", "D/G/N/1/nv.sys", "D/G/N/1/sub/extra.dll", "D/G/A/2/ATI.INF",
        "D/G/A/2/ati.cat", "D/L/Realtek Lan/rt lan.Inf", "D/L/Realtek Lan/readme.txt", "D/L/old.inf.bak",
        "root.inf"}},
      {" *.inf -r", {"D/G/N/1/display.inf", "D/G/A/2/ATI.INF", "D/L/Realtek Lan/rt lan.Inf", "root.inf"}},
      {" @" + list, {"D/G/N/1/display.inf", "D/G/N/1/nv.sys", "D/G/N/1/sub/extra.dll", "root.inf"}},
  };
  for (const Form& form : {Form{"", ArchiverKind::Classic, ""}, Form{"classic", ArchiverKind::Classic, ""},
                           Form{"modern", ArchiverKind::Current, " -bb1"}}) {
    SCOPED_TRACE(std::string("style ") + form.style);
    const ScopedEnv style("VELMORA_7Z_STYLE", form.style);
    // Asked without arguments, the tool shows the banner of its form and ends well.
    const ToolRun usage = Tool("7z");
    EXPECT_EQ(usage.exitCode, 0);
    const ArchiverBanner banner = ParseArchiverBanner(usage.lines);
    EXPECT_EQ(banner.kind, form.kind) << banner.line;

    for (const Command& command : commands) {
      SCOPED_TRACE(command.names);
      fs::remove_all(out);
      fs::create_directories(out);
      const std::string line =
          ArchiverCommandLine("7z x " + pack + " -o" + out + command.names + " -y", banner.kind);
      EXPECT_EQ(line.ends_with(std::string(" -y") + form.switches), true) << line;
      const ToolRun run = Tool(line);
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_EQ(Files(out), command.files);
      // The items the program gathers are the files that landed (folders are listed by the
      // older form only).
      std::set<std::string> gathered;
      for (const std::string& path : ExtractedItemPaths(run.lines))
        gathered.insert(path.substr(path[0] == ' '));
      for (const std::string& file : command.files) EXPECT_EQ(gathered.count(file), 1u) << file;
      for (const std::string& path : gathered)
        EXPECT_TRUE(command.files.count(path) != 0 || fs::is_directory(out + path)) << path;
      EXPECT_EQ(ParseArchiverBanner(run.lines).kind, form.kind);
      EXPECT_TRUE(Has(run.lines, "Everything is Ok"));
      if (form.kind == ArchiverKind::Current) {
        EXPECT_TRUE(Has(run.lines, "Extracting archive: "));
        EXPECT_FALSE(Has(run.lines, "Extracting  "));
        EXPECT_FALSE(Has(run.lines, "Processing archive: "));
      } else {
        EXPECT_TRUE(Has(run.lines, "Processing archive: "));
        EXPECT_FALSE(Has(run.lines, "Extracting archive"));
        EXPECT_FALSE(Has(run.lines, "- "));
      }
    }
  }

  // The newer form lists items only when asked; the older one knows no such switch, as 9.20 did.
  {
    const ScopedEnv style("VELMORA_7Z_STYLE", "modern");
    for (const char* level : {"", " -bb0"}) {
      fs::remove_all(out);
      const ToolRun quiet = Tool("7z x " + pack + " -o" + out + " *.inf -r -y" + level);
      EXPECT_EQ(quiet.exitCode, 0) << level;
      EXPECT_EQ(Files(out).size(), 4u) << level;
      EXPECT_TRUE(ExtractedItemPaths(quiet.lines).empty()) << level;
    }
    for (const char* level : {" -bb", " -bb2", " -BB1"}) {
      const ToolRun listed = Tool("7z x " + pack + " -o" + out + " *.inf -r -y" + level);
      EXPECT_EQ(listed.exitCode, 0) << level;
      EXPECT_EQ(ExtractedItemPaths(listed.lines).size(), 4u) << level;
    }
    EXPECT_EQ(Tool("7z x " + pack + " -o" + out + " -y -bb4").exitCode, 7);
  }
  const ToolRun refused = Tool("7z x " + pack + " -o" + out + " *.inf -r -y -bb1");
  EXPECT_EQ(refused.exitCode, 7);
  EXPECT_TRUE(Has(refused.lines, "Command Line Error:"));
  EXPECT_EQ(ParseArchiverBanner(refused.lines).kind, ArchiverKind::Classic);
}

// ---- names 7-Zip holds in its own way ----

// The program's three command lines, with what each takes of a pack whose items lie at its root
// or below one folder.
struct NamesCommand {
  std::string names;  // what follows the output folder
  bool infOnly;       // "*.inf -r" takes only the names that end in ".inf"
};
const std::vector<NamesCommand> kNamesCommands = {{"", false}, {" *.inf -r", true}, {" @LIST", false}};

std::set<std::string> Taken(const std::set<std::string>& names, const NamesCommand& command) {
  std::set<std::string> taken;
  for (const std::string& name : names) {
    if (!command.infOnly || name.ends_with(".inf")) taken.insert(name);
  }
  return taken;
}

// Names that are not well-formed UTF-8 (7-Zip keeps such bytes as characters of its own), names
// that begin or end with a blank or a tab (7zz trims those from the lines of a list file), and
// names with wildcard and other special characters: each command line extracts each of them as
// exactly the item it is, and reports it as extracted.
TEST_F(ArchiveToolTest, EveryNameTheFileSystemAllowsIsExtractedAsItself) {
  const std::set<std::string> names = {
      "caf\xE9.inf",                        // a Latin-1 byte
      "Ger\xE4te/treiber.inf",              // ... in a folder's name
      "over\xC0\xAFlong.inf",               // an overlong sequence
      "sur\xED\xA0\x80rogate.inf",          // a surrogate
      "cut\xE2\x82.inf",                    // a sequence cut short
      "big\xF4\x90\x80\x80.inf",            // beyond U+10FFFF
      "\xF8lead.inf",                       // a byte that begins nothing
      "kept\xEE\xBF\xA9.inf",               // well-formed, in the range 7-Zip keeps for bytes
      "euro\xE2\x82\xAC.inf",               // UTF-8
      "smile\xF0\x9F\x98\x80/face.inf",      // ... beyond the 16-bit range, in a folder's name
      " lead.inf",                          // a blank first
      "trail.inf ",                         // ... and last
      "\ttab.inf",                          // a tab first
      "wild*card?.inf",                     // wildcard characters
      "wildXcardY.inf",                     // ... and a name they would match
      "br[ack]et=semi;colon.inf",
      "quo\"te.inf",
      "back\\slash/in.inf",                 // a Windows separator, which 7zz keeps in the name
      "plain.inf",
  };
  // Where an item lands: "\" separates folders, as on Windows.
  auto placed = [](std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
  };
  for (const std::string& name : names) {  // byte for byte: a "\\" is part of the name here
    fs::create_directories(fs::path(src + name).parent_path());
    std::ofstream(src + name, std::ios::binary) << "content of " + name;
  }
  const std::string pack = tmp.path() + "Names.7z";
  std::vector<std::string> args = {"a", pack};
  for (const auto& entry : fs::directory_iterator(src)) args.push_back(entry.path().string());
  Make(args);
  const std::string list = tmp.Write("work/Names.7z.txt", "*.*\r\n");

  for (const NamesCommand& command : kNamesCommands) {
    SCOPED_TRACE(command.names);
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string given = command.names == " @LIST" ? " @" + list : command.names;
    const ToolRun run = Tool("7z x " + pack + " -o" + out + given + " -y");
    EXPECT_EQ(run.exitCode, 0) << ::testing::PrintToString(run.lines);
    std::set<std::string> want;
    for (const std::string& name : Taken(names, command)) want.insert(placed(name));
    EXPECT_EQ(Files(out), want);
    for (const std::string& name : Taken(names, command))
      EXPECT_EQ(tmp.Read("out/" + placed(name)), "content of " + name) << name;
    std::set<std::string> reported;
    for (const std::string& path : ExtractedItemPaths(run.lines)) reported.insert(path.substr(path[0] == ' '));
    for (const std::string& name : want) EXPECT_EQ(reported.count(name), 1u) << name;
  }
}

// No list of names can carry a line break, and 7-Zip lists one as "_": an item whose name holds
// one is skipped with a WARNING line naming it, also where an item of the archive really bears
// the listed name, and everything else of the pack is extracted.
TEST_F(ArchiveToolTest, ItemsWithALineBreakInTheirNameAreSkippedAndTheRestExtracted) {
  tmp.Write("src/D/ok/good.inf", "good");
  tmp.Write("src/D/ok/line\nbreak.inf", "line break");
  tmp.Write("src/D/twin/a_b.inf", "real");  // listed like the next one
  tmp.Write("src/D/twin/a\nb.inf", "twin");
  tmp.Write("src/D/new\nline/inside.inf", "inside a folder with a line break");
  tmp.Write("src/D/only_one/x\ny.inf", "the only file of a folder named with \"_\"");
  const std::string pack = tmp.path() + "Breaks.7z";
  Make({"a", pack, src + "D"});
  const std::string list = tmp.Write("work/Breaks.7z.txt", "D\\*.*\r\n");

  for (const NamesCommand& command : kNamesCommands) {
    SCOPED_TRACE(command.names);
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string given = command.names == " @LIST" ? " @" + list : command.names;
    const ToolRun run = Tool("7z x " + pack + " -o" + out + given + " -y");
    EXPECT_EQ(run.exitCode, 1) << ::testing::PrintToString(run.lines);  // warnings only
    std::multiset<std::string> warned;
    for (const std::string& line : run.lines) {
      if (line.rfind("WARNING: skipped ", 0) == 0) warned.insert(line.substr(17));
      EXPECT_NE(line.rfind("ERROR", 0), 0u) << line;
    }
    std::multiset<std::string> want = {"D/ok/line_break.inf : line break in the name",
                                       "D/twin/a_b.inf : line break in the name",
                                       "D/new_line/inside.inf : line break in the name",
                                       "D/only_one/x_y.inf : line break in the name"};
    if (!command.infOnly) want.insert("D/new_line : line break in the name");
    EXPECT_EQ(warned, want);
    EXPECT_EQ(Files(out), (std::set<std::string>{"D/ok/good.inf", "D/twin/a_b.inf"}));
    EXPECT_EQ(tmp.Read("out/D/twin/a_b.inf"), "real");
    const std::vector<std::string> reported = ExtractedItemPaths(run.lines);
    for (const std::string& path : reported) {
      EXPECT_EQ(path.find_first_of("\r\n"), std::string::npos);
      EXPECT_FALSE(path.ends_with("inside.inf") || path.ends_with("x_y.inf")) << path;
    }
  }

  // A carriage return is a line break too, and the WARNING line stays one line.
  tmp.Write("cr/D/car\rriage.inf", "carriage return");
  tmp.Write("cr/D/fine.inf", "fine");
  const std::string crPack = tmp.path() + "Cr.7z";
  Make({"a", crPack, tmp.path() + "cr/D"});
  fs::remove_all(out);
  const ToolRun run = Tool("7z x " + crPack + " -o" + out + " -y");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Has(run.lines, "WARNING: skipped D/car_riage.inf : line break in the name"))
      << ::testing::PrintToString(run.lines);
  EXPECT_EQ(Files(out), std::set<std::string>{"D/fine.inf"});
}

// ---- hostile archives ----

class HostileArchiveTest : public ArchiveToolTest {
 protected:
  void SetUp() override {
    ArchiveToolTest::SetUp();
    if (IsSkipped()) return;
    // out/ sits two levels down, so "../../" from it lands in tmp itself.
    out = tmp.MakeDir("deep/er/out");
    outside = tmp.MakeDir("outside");
    tmp.Write("outside/victim.txt", "precious");
  }

  // Every file of the test folder that is not below out/ and was not there before.
  std::set<std::string> Outside() {
    std::set<std::string> files;
    for (const std::string& f : Files(tmp.path())) {
      if (f.rfind("deep/er/out/", 0) == 0 || f.rfind("src/", 0) == 0 || f.rfind("stdin.dat", 0) == 0)
        continue;
      if (f.size() > 3 && f.substr(f.size() - 3) == ".7z") continue;
      files.insert(f);
    }
    return files;
  }

  std::string outside;
};

TEST_F(HostileArchiveTest, EscapingPathsAndLinksAreSkipped) {
  const std::string pack = tmp.path() + "Hostile.7z";
  Make({"a", pack, "-si../../evil.inf"}, "evil");
  Make({"a", pack, "-si../../../outside/victim.txt"}, "overwritten");
  tmp.Write("src/good.inf", "[Version]");
  fs::create_symlink(outside + "victim.txt", src + "abs_link.inf");
  fs::create_symlink("../../../outside", src + "dir_link");
  Make({"a", "-snl", pack, src + "good.inf", src + "abs_link.inf", src + "dir_link"});
  Make({"a", pack, "-sidir_link/planted.inf"}, "planted");  // a file through the link
  tmp.Write("src/abs.inf", "absolute");
  Make({"a", "-spf", pack, src + "abs.inf"});
  const std::set<std::string> before = Outside();

  for (const std::string& names : {std::string(""), std::string(" *.inf -r")}) {
    const ToolRun run = Tool("7z x " + pack + " -o" + out + names + " -y");
    EXPECT_EQ(run.exitCode, 1) << names;  // warnings
    EXPECT_TRUE(Has(run.lines, "WARNING: skipped ../../evil.inf")) << names;
    EXPECT_TRUE(Has(run.lines, "WARNING: skipped abs_link.inf : symbolic link")) << names;
    EXPECT_TRUE(Has(run.lines, "WARNING: skipped " + src.substr(1) + "abs.inf")  // 7zz may drop the root '/'
                || Has(run.lines, "WARNING: skipped " + src + "abs.inf"))
        << names;
    EXPECT_EQ(Outside(), before) << names;
    EXPECT_EQ(tmp.Read("outside/victim.txt"), "precious");
    EXPECT_EQ(tmp.Read("deep/er/out/good.inf"), "[Version]");
    // The file named through the skipped link lands in a real folder inside out/.
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(out + "dir_link")));
    EXPECT_EQ(tmp.Read("deep/er/out/dir_link/planted.inf"), "planted");
  }
  for (const auto& entry : fs::recursive_directory_iterator(out))
    EXPECT_FALSE(entry.is_symlink()) << entry.path();
}

// An item named like the tool's own staging folder would be swept away and passed by; it is
// never extracted.
TEST_F(HostileArchiveTest, ItemsNamedLikeTheStagingFolderAreSkipped) {
  const std::string pack = tmp.path() + "Staged.7z";
  tmp.Write("src/.velmora-7z-Ab12Cd/x.inf", "staged");
  tmp.Write("src/D/good.inf", "[Version]");
  Make({"a", pack, src + ".velmora-7z-Ab12Cd", src + "D"});
  const ToolRun run = Tool("7z x " + pack + " -o" + out + " *.inf -r -y");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Has(run.lines, "WARNING: skipped .velmora-7z-Ab12Cd/x.inf")) << ::testing::PrintToString(run.lines);
  EXPECT_TRUE(Has(run.lines, "Extracting  D/good.inf"));
  EXPECT_FALSE(fs::exists(out + ".velmora-7z-Ab12Cd"));
  EXPECT_EQ(tmp.Read("deep/er/out/D/good.inf"), "[Version]");
  // The tool's own staging folder is gone when it ends.
  for (const auto& entry : fs::directory_iterator(out))
    EXPECT_FALSE(platform::IsArchiveStagingName(entry.path().filename().string())) << entry.path();
}

// The listing is read in blocks while 7zz still writes it: a pack whose listing spans many blocks
// gets every item judged exactly once, the unsafe ones among them wherever a block ends.
TEST_F(HostileArchiveTest, ALongListingIsJudgedItemByItemAcrossItsBlocks) {
  constexpr int kFolders = 60;
  constexpr int kPerFolder = 25;  // 1,500 files and 60 folders: a listing of about 300 KB
  std::set<std::string> expected;
  for (int f = 0; f < kFolders; ++f) {
    for (int i = 0; i < kPerFolder; ++i) {
      const std::string name = "Drivers/Vendor " + std::to_string(f) + "/dev" + std::to_string(i) +
                               (i % 2 == 0 ? ".inf" : ".sys");
      tmp.Write("src/" + name, name);
      expected.insert(name);
    }
    if (f % 20 == 10) {  // links spread through the listing
      fs::create_symlink(outside + "victim.txt", src + "Drivers/Vendor " + std::to_string(f) + "/link.inf");
    }
  }
  const std::string pack = tmp.path() + "Long.7z";
  Make({"a", "-snl", pack, src + "Drivers"});

  struct Case {
    std::string names;
    std::function<bool(const std::string&)> taken;
  };
  const std::vector<Case> cases = {
      {"", [](const std::string&) { return true; }},
      {" *.inf -r", [](const std::string& name) { return name.size() > 4 && name.substr(name.size() - 4) == ".inf"; }},
  };
  for (const Case& c : cases) {
    fs::remove_all(out);
    fs::create_directories(out);
    const ToolRun run = Tool("7z x " + pack + " -o" + out + c.names + " -y");
    EXPECT_EQ(run.exitCode, 1) << c.names;  // the links' warnings
    std::set<std::string> want;
    for (const std::string& name : expected) {
      if (c.taken(name)) want.insert(name);
    }
    EXPECT_EQ(Files(out), want) << c.names;
    const auto gathered = Gathered(run.lines);
    std::set<std::string> gatheredFiles;
    for (const std::string& path : gathered) {
      if (want.count(path) != 0) gatheredFiles.insert(path);
    }
    EXPECT_EQ(gatheredFiles, want) << c.names;
    int skipped = 0;
    for (const std::string& line : run.lines) {
      if (line.rfind("WARNING: skipped Drivers/Vendor ", 0) == 0 && line.find("/link.inf : symbolic link") != std::string::npos)
        ++skipped;
    }
    EXPECT_EQ(skipped, 3) << c.names;
    EXPECT_EQ(tmp.Read("outside/victim.txt"), "precious");
  }
}

TEST_F(HostileArchiveTest, LinksAlreadyInTheOutputFolderAreNeverWrittenThrough) {
  tmp.Write("src/Drivers/x.inf", "inf");
  tmp.Write("src/a.txt", "new");
  const std::string pack = tmp.path() + "Plain.7z";
  Make({"a", pack, src + "Drivers", src + "a.txt"});
  fs::create_directory_symlink(outside, out + "Drivers");
  fs::create_symlink(outside + "victim.txt", out + "a.txt");

  const ToolRun run = Tool("7z x " + pack + " -o" + out + " -y");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_TRUE(Has(run.lines, "ERROR: Drivers"));
  EXPECT_FALSE(fs::exists(outside + "x.inf"));
  EXPECT_EQ(tmp.Read("outside/victim.txt"), "precious");
  // The link named like a file of the archive is replaced by that file.
  EXPECT_FALSE(fs::is_symlink(out + "a.txt"));
  EXPECT_EQ(tmp.Read("deep/er/out/a.txt"), "new");
}

TEST_F(HostileArchiveTest, ALinkDeepInAnExistingTreeIsNeverWrittenThrough) {
  tmp.Write("src/Drivers/Sub/x.inf", "inf");
  tmp.Write("src/Drivers/y.inf", "y");
  tmp.Write("src/Drivers/New/z.inf", "z");
  const std::string pack = tmp.path() + "Plain.7z";
  Make({"a", pack, src + "Drivers"});
  tmp.MakeDir("deep/er/out/Drivers");
  fs::create_directory_symlink(outside, out + "Drivers/Sub");
  const std::set<std::string> before = Outside();

  const ToolRun run = Tool("7z x " + pack + " -o" + out + " -y");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_TRUE(Has(run.lines, "ERROR: Drivers/Sub/x.inf : Sub is a link or no folder"));
  EXPECT_EQ(Outside(), before);
  EXPECT_TRUE(fs::is_symlink(out + "Drivers/Sub"));
  EXPECT_EQ(tmp.Read("deep/er/out/Drivers/y.inf"), "y");
  EXPECT_EQ(tmp.Read("deep/er/out/Drivers/New/z.inf"), "z");
}

}  // namespace

#endif  // VELMORA_7Z_PATH
