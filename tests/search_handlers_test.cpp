// The driver search on the main window: the INF index of the ticked packs, the search of the
// extracted INF files for the machine's hardware IDs, the extraction list and the installation
// of only the matching folders. A scripted archive tool (FakeTools, no process) prints the
// extraction lines the test gives it; the INF files are laid into the working folder by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "base/text_util.h"
#include "base/window_layout.h"
#include "devices/hwid_rules.h"
#include "platform/profile.h"
#include "search/file_search.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/app_fixture.h"
#include "support/fake_tools.h"
#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class SearchTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    tools = &fake;
    // The archive tool prints what the test laid down for the pack (named by its file name) and
    // exits with the code the test chose; every call is recorded, each argument in brackets. Run
    // without arguments, as the program asks for its banner, it prints the banner the test laid
    // down and counts the question. A tool the test took away cannot be started.
    fake.OnScript([this](const std::string& commandLine) -> std::optional<ToolAnswer> {
      const Lines words = platform::process::SplitCommandLine(commandLine);
      if (words.empty() || words[0] != "7z" || sevenZipGone) return std::nullopt;
      ToolAnswer answer;
      if (words.size() == 1) {
        ++bannerProbes;
        answer.lines = TextLines(banner);
        return answer;
      }
      std::string call;
      for (std::size_t i = 1; i < words.size(); ++i) call += "[" + words[i] + "]";
      sevenZipCalls.push_back(call);
      // The pack as the test named it, also where the command line carries its short form.
      const std::string word = words.size() > 2 ? fs::path(words[2]).filename().string() : std::string();
      const auto named = packNames.find(word);
      const std::string pack = named != packNames.end() ? named->second : word;
      answer.lines = TextLines(packOutput[pack]);
      answer.exitCode = packExit[pack];
      return answer;
    });
    // The installer records its arguments and writes its log in the Windows folder.
    fake.OnScript([this](const std::string& commandLine) -> std::optional<ToolAnswer> {
      const Lines words = platform::process::SplitCommandLine(commandLine);
      if (words.empty() || words[0] != "DPINST.exe") return std::nullopt;
      std::string args;
      for (std::size_t i = 1; i < words.size(); ++i) args += (i > 1 ? " " : "") + words[i];
      installerArgs = args;
      ToolAnswer answer;
      answer.files = {{platform::WindowsDirectory() + "/DPINST.LOG", "INFO: nothing to install\n"}};
      return answer;
    });
  }

  // The lines of a text as the tool writes them: split at line feeds, a final one ending the
  // last line.
  static Lines TextLines(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      if (end == std::string::npos) {
        lines.push_back(text.substr(start));
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }
  // A file of the working folder (`relative` joined with '/').
  std::string Work(const std::string& relative) {
    std::ifstream in(workDir + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteWork(const std::string& relative, const std::string& content) {
    fs::create_directories(fs::path(workDir + relative).parent_path());
    std::ofstream(workDir + relative, std::ios::binary) << content;
  }

  FakeTools fake;
  std::map<std::string, std::string> packOutput;  // by pack file name
  std::map<std::string, std::string> packNames;   // the pack file names by their short forms
  std::map<std::string, int> packExit;
  std::string banner;
  int bannerProbes = 0;
  bool sevenZipGone = false;
  Lines sevenZipCalls;
  std::optional<std::string> installerArgs;

  // A pack in the pack folder whose INF extraction prints "Extracting  <path>" for each path
  // (and any other lines given as they are).
  void Pack(const std::string& name, const Lines& paths, const Lines& otherLines = {}) {
    packNames[fs::path(ArchiveWord(tmp.Write("prog/DP/" + name, "pack"))).filename().string()] = name;
    std::string out = "7-Zip (a) 23.01\n";
    for (const std::string& l : otherLines) out += l + "\n";
    for (const std::string& p : paths) out += "Extracting  " + p + "\n";
    out += "Everything is Ok\n";
    packOutput[name] = out;
  }
  void Inf(const std::string& path, const std::string& content) { WriteWork("Index/" + path, content); }
  void Ids(const Lines& ids) { main->Form().SetItems("HWIDSforWorkcbx", ids); }
  // The packs of the pack folder listed again, all ticked.
  void TickAllPacks() {
    main->EnumBtnClick();
    main->Form().SetAllChecked("PacksChlbx", true);
  }
  // Packs of the list in the given order, all ticked.
  void PackList(const Lines& names) {
    main->Form().SetItems("PacksChlbx", names);
    main->Form().SetAllChecked("PacksChlbx", true);
  }
  std::string Index(const std::string& section, const std::string& key) {
    return platform::profile::ReadString(workDir + "DP_Content.ini", section, key, "<missing>");
  }
  Lines Calls() { return sevenZipCalls; }
  // A pack of the pack folder as the tool's command line carries it, and a folder of the working
  // folder (`relative` joined with '/'), both as the program builds them on either platform.
  std::string PackWord(const std::string& pack) const {
    return ArchiveWord(programDir + Joined("DP/" + pack));
  }
  std::string WorkFolder(const std::string& relative) const { return workDir + Joined(relative); }
  // Log texts with one of the given key prefixes ("log62|"), from the last line starting with
  // `from` on.
  Lines LogFrom(const std::string& from, const Lines& prefixes) {
    const Lines texts = LogTexts();
    auto start = std::find_if(texts.rbegin(), texts.rend(),
                              [&](const std::string& t) { return t.rfind(from, 0) == 0; });
    Lines out;
    for (auto it = start == texts.rend() ? texts.begin() : std::prev(start.base()); it != texts.end(); ++it) {
      for (const std::string& p : prefixes) {
        if (it->rfind(p, 0) == 0) out.push_back(*it);
      }
    }
    return out;
  }
  const Lines& Items(const char* list) { return main->Form().Items(list); }
};

// ---- the INF index ----

TEST_F(SearchTest, IndexRecordsEachPathWithTheFirstPackAndItsPosition) {
  Start();
  Pack("a.7z", {"D/N/1/net.inf", "shared/x.inf"}, {"Processing archive: a.7z", "Extracting"});
  Pack("b.7Z", {"shared/x.inf", "D/V/2/vid.inf"});
  Pack("c.7z", {"root.inf"});
  Pack("skip.zip", {"never.inf"});
  Pack("blank.7z ", {"never2.inf"});
  PackList({"a.7z", "notes.txt", "b.7Z", "skip.zip", "blank.7z ", "c.7z"});
  ui.answers = {true};
  main->ExtractINFsbtnClick();

  struct Row {
    const char* section;
    const char* pack;
    const char* number;
  };
  for (const Row& r : {Row{"D/N/1/net.inf", "a.7z", "0"}, Row{"shared/x.inf", "a.7z", "0"},
                       Row{"D/V/2/vid.inf", "b.7Z", "2"}, Row{"root.inf", "c.7z", "5"}}) {
    SCOPED_TRACE(r.section);
    EXPECT_EQ(Index(r.section, "PackName"), r.pack);
    EXPECT_EQ(Index(r.section, "PackNumber"), r.number);
  }
  EXPECT_EQ(platform::profile::ReadSectionNames(workDir + "DP_Content.ini"),
            (Lines{"D/N/1/net.inf", "shared/x.inf", "D/V/2/vid.inf", "root.inf"}));
  // The paths of every pack in gathering order, as the tool printed them after the word.
  EXPECT_EQ(Items("INFfullPathslb"),
            (Lines{" D/N/1/net.inf", " shared/x.inf", " shared/x.inf", " D/V/2/vid.inf", " root.inf"}));
  EXPECT_EQ(Items("PackNamecbx"), (Lines{"a.7z", "notes.txt", "b.7Z", "skip.zip", "blank.7z ", "c.7z"}));
  // Only 7z packs reach the tool, each with the INF-only command line.
  const Lines calls = Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], "[x][" + PackWord("a.7z") + "][-o" + WorkFolder("Index/") + "][*.inf][-r][-y]");
  // log28 counts every path gathered so far, over all packs; lines that are no extraction
  // lines are logged all the same.
  EXPECT_EQ(LogFrom("log71", {"log28|"}), (Lines{"log28|2|%s", "log28|4|%s", "log28|5|%s"}));
  EXPECT_TRUE(LogHas("Processing archive: a.7z"));
  // The working list of hardware IDs is made at the end, and the log says whose they are.
  const Lines keys = LogKeys();
  EXPECT_EQ(Lines(keys.end() - 2, keys.end()), (Lines{"log14", "log120"}));
  EXPECT_FALSE(main->Waitfrm().Visible(kWaitFormName));
  EXPECT_FALSE(ui.busy);
}

// An INF path the index cannot hold is never searched: the run names it and counts as failed,
// whichever of the two reasons it is.
TEST_F(SearchTest, AnInfPathLeftOutOfTheIndexFailsTheStep) {
  for (const char* path : {"D/V/[1]/a.inf", "../escape.inf"}) {
    SCOPED_TRACE(path);
    Start();
    Pack("p.7z", {path, "fine.inf"});
    PackList({"p.7z"});
    main->ExtractINFsbtnClick();
    EXPECT_EQ(Items("INFfullPathslb"), Lines{" fine.inf"});
    EXPECT_TRUE(LogHas(std::string(path[0] == '.' ? "log72|" : "log73|") + path + "|%s"));
    EXPECT_EQ(main->ExitStatus(), 1);
    main.reset();
    fs::remove_all(workDir);
  }
}

TEST_F(SearchTest, HostilePathsAreLeftOutAndAFailingToolKeepsWhatItExtracted) {
  Start();
  Pack("bad.7z",
       {"../escape.inf", "/abs/x.inf", "C:\\win\\x.inf", "a/../../y.inf", "br]acket.inf", "ok/..x.inf"});
  Pack("broken.7z", {"half/done.inf"});
  packExit["broken.7z"] = 2;
  Pack("next.7z", {"next.inf"});
  PackList({"bad.7z", "broken.7z", "gone.7z", "next.7z"});
  main->ExtractINFsbtnClick();

  // A tool that failed on a pack still extracted what it reported: that is indexed.
  EXPECT_EQ(Items("INFfullPathslb"), (Lines{" ok/..x.inf", " half/done.inf", " next.inf"}));
  for (const char* logged : {"log72|../escape.inf|%s", "log72|/abs/x.inf|%s", "log72|C:\\win\\x.inf|%s",
                             "log72|a/../../y.inf|%s", "log73|br]acket.inf|%s", "log75|broken.7z|2"}) {
    EXPECT_TRUE(LogHas(logged)) << logged;
  }
  EXPECT_EQ(Index("half/done.inf", "PackName"), "broken.7z");
  EXPECT_EQ(Index("next.inf", "PackNumber"), "3");
  EXPECT_EQ(main->ExitStatus(), 1);

  // A tool that cannot be started gathers nothing, not even the output an earlier pack left.
  sevenZipGone = true;
  ui.answers = {true};
  main->ExtractINFsbtnClick();
  EXPECT_EQ(Items("INFfullPathslb"), Lines{});
  EXPECT_TRUE(LogHas("log74|next.7z|%s"));
  EXPECT_EQ(platform::profile::ReadSectionNames(workDir + "DP_Content.ini"), Lines{});
}

// One damaged item loses only itself: the pack's good INF files are indexed, searched,
// extracted and installed, and the run names the item and ends as failed.
TEST_F(SearchTest, ADamagedItemLosesOnlyItself) {
  Start();
  Pack("d.7z", {"D/good/good.inf", "D/bad/bad.inf"}, {"ERROR: CRC Failed : D/bad/bad.inf"});
  packExit["d.7z"] = 2;
  Pack("e.7z", {"E/ok.inf", "E/old.inf     CRC Failed"});
  Inf("D/good/good.inf", "PCI\\VEN_1AF4&DEV_1000");
  Inf("D/bad/bad.inf", "PCI\\VEN_1AF4&DEV_1000");
  Inf("E/ok.inf", "PCI\\VEN_1AF4&DEV_1000");
  PackList({"d.7z", "e.7z"});
  Ids({"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\\3&1&0"});
  ui.answers = {true};
  main->SearchByHWIDSbtnClick();
  EXPECT_EQ(Items("INFfullPathslb"), (Lines{" D/good/good.inf", " E/ok.inf"}));
  EXPECT_EQ(Index("D/good/good.inf", "Extract"), "YES");
  EXPECT_EQ(Index("D/bad/bad.inf", "PackName"), "<missing>");
  EXPECT_EQ(Work("d.7z.txt"), "D/good/*.*\r\n");
  EXPECT_EQ(LogFrom("log61", {"log103|", "log75|"}),
            (Lines{"log103|d.7z|ERROR: CRC Failed : D/bad/bad.inf", "log75|d.7z|2",
                   "log103|e.7z|Extracting  E/old.inf     CRC Failed"}));
  EXPECT_EQ(main->ExitStatus(), 1);

  // The extraction fails on the pack too, yet what it extracted goes to the installer.
  main->Form().SetAllChecked("HWIDS2Installchb", true);
  main->InstallHWIDsbtnClick();
  EXPECT_TRUE(installerArgs.has_value());
  EXPECT_FALSE(LogHas("log100|%s|%s"));
}

// Every pack name the file system allows either goes the whole way, index to installer, or is
// left out up front with a line naming it while the other packs go on.
TEST_F(SearchTest, PackNamesACommandLineCannotCarryAreLeftOutAndTheOthersGoOn) {
  SKIP_ON_WINDOWS("names Windows does not allow in a file name (\":\", a line break)");
  struct Case {
    std::string name;
    bool carried;
  };
  const std::vector<Case> cases = {
      {"DP_Virtio [demo].7z", true}, {"a=b;c.7z", true},       {"Latin\xE9.7z", true},
      {"UTF-8 \xC3\xBC.7z", true},   {" lead.7z", false},        {"quo\"te.7z", false},
      {"back\\slash.7z", false},    {"line\nbreak.7z", false}, {"\ttab.7z", false},
  };
  Start();
  Lines names;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string folder = "D" + std::to_string(i) + "/";
    Pack(cases[i].name, {folder + "x.inf"});
    Inf(folder + "x.inf", "PCI\\VEN_1AF4&DEV_1000");
    names.push_back(cases[i].name);
  }
  PackList(names);
  Ids({"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\\3&1&0"});
  ui.answers = {true};
  main->SearchByHWIDSbtnClick();
  main->Form().SetAllChecked("HWIDS2Installchb", true);
  main->InstallHWIDsbtnClick();

  const Lines calls = Calls();
  std::size_t carried = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(::testing::PrintToString(c.name));
    const std::string folder = "D" + std::to_string(i) + "/";
    const std::string packArg = "[" + programDir + "DP/" + c.name + "]";
    const auto calledWith = [&](const std::string& rest) {
      return std::count(calls.begin(), calls.end(), "[x]" + packArg + rest);
    };
    std::string shown = c.name;  // a log line stays one line
    std::replace(shown.begin(), shown.end(), '\n', '_');
    EXPECT_EQ(LogHas("log104|" + shown + "|%s"), !c.carried);
    EXPECT_EQ(Index(folder + "x.inf", "PackName"), c.carried ? c.name : "<missing>");
    EXPECT_EQ(Index(folder + "x.inf", "PackNumber"), c.carried ? std::to_string(i) : "<missing>");
    EXPECT_EQ(calledWith("[-o" + workDir + "Index/][*.inf][-r][-y]"), c.carried ? 1 : 0);
    EXPECT_EQ(calledWith("[-o" + workDir + "Drivers/][@" + workDir + c.name + ".txt][-y]"), c.carried ? 1 : 0);
    if (c.carried) {
      ++carried;
      EXPECT_EQ(Work("" + c.name + ".txt"), folder + "*.*\r\n");
    }
  }
  EXPECT_EQ(calls.size(), 2 * carried);
  // Nothing but the carried packs' list files was written beside the index.
  std::size_t listFiles = 0;
  for (const auto& entry : fs::recursive_directory_iterator(workDir)) {
    const std::string file = entry.path().filename().string();
    if (file.size() > 7 && file.substr(file.size() - 7) == ".7z.txt") ++listFiles;
  }
  EXPECT_EQ(listFiles, carried);
  EXPECT_TRUE(installerArgs.has_value());
  EXPECT_EQ(main->ExitStatus(), 1);
}

// A symbolic link in place of any of the program's files in the working folder is replaced by
// the file; what it points to, outside, is never written.
TEST_F(SearchTest, LinksInPlaceOfTheWorkingFilesAreReplacedNeverWrittenThrough) {
  SKIP_ON_WINDOWS("a symbolic link needs a privilege Windows does not give a test by default");
  Start();
  Pack("a.7z", {"D/a.inf"});
  Inf("D/a.inf", "PCI\\VEN_1AF4&DEV_1000");
  const Lines files = {"a.7z.txt", "DP_Content.ini", "DP_Extract.ini", "HWIDSTEMP.txt"};
  for (const std::string& file : files) {
    const std::string target = tmp.Write("outside/" + file, "precious " + file);
    fs::create_symlink(target, workDir + file);
  }
  PackList({"a.7z"});
  Ids({"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\\3&1&0"});
  ui.answers = {true};
  main->SearchByHWIDSbtnClick();
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    EXPECT_EQ(tmp.Read("outside/" + file), "precious " + file);
    EXPECT_FALSE(fs::is_symlink(workDir + file));
  }
  EXPECT_EQ(Work("a.7z.txt"), "D/*.*\r\n");
  EXPECT_EQ(Index("D/a.inf", "Extract"), "YES");
  EXPECT_EQ(platform::profile::ReadString(workDir + "DP_Extract.ini", "a.7z.txt", "D/*.*", "<missing>"), "Line0");
}

TEST_F(SearchTest, NoTickedPackKeepsTheOldIndexAndItsLists) {
  Start();
  Pack("a.7z", {"a.inf"});
  TickAllPacks();
  ui.answers = {true};
  main->ExtractINFsbtnClick();
  const std::string before = Work("DP_Content.ini");

  main->Form().SetAllChecked("PacksChlbx", false);
  ui.answers = {true};
  main->ExtractINFsbtnClick();
  EXPECT_EQ(Work("DP_Content.ini"), before);
  EXPECT_EQ(Items("INFfullPathslb"), Lines{" a.inf"});
  EXPECT_EQ(ui.shown.back(), "message:msg6|%s");
}

TEST_F(SearchTest, KeptIndexInANewRunIsSearchedAgain) {
  Start();
  Pack("a.7z", {"D/a.inf"});
  Pack("b.7z", {"D/b.inf"});
  Inf("D/a.inf", "PCI\\VEN_1AF4&DEV_1000");
  Inf("D/b.inf", "nothing");
  TickAllPacks();
  main->ExtractINFsbtnClick();
  main.reset();

  // A list left by an earlier run, with a second name: the list is replaced whole, never
  // rewritten in place, so the second name keeps the old content.
  WriteWork("a.7z.txt", "old/*.*\r\n");
  fs::create_hard_link(workDir + "a.7z.txt", tmp.File("list-before"));

  // A new run of the program: No keeps the index, and its paths and packs come back.
  Start();
  Ids({"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\\3&1&0"});
  ui.answers = {false};
  main->SearchByHWIDSbtnClick();
  EXPECT_TRUE(LogHas("log20|%s|%s"));
  EXPECT_EQ(Items("INFfullPathslb"), (Lines{"D/a.inf", "D/b.inf"}));
  EXPECT_EQ(Items("PackNamecbx"), (Lines{"a.7z", "b.7z"}));
  EXPECT_EQ(Index("D/a.inf", "Extract"), "YES");
  EXPECT_EQ(Work("a.7z.txt"), "D/*.*\r\n");
  EXPECT_EQ(Work("b.7z.txt"), "");
  EXPECT_EQ(tmp.Read("list-before"), "old/*.*\r\n");
}

// Unpacking whole packs replaces the run's pack list; a search over the kept index afterwards
// still rewrites the list file of every pack of the index, so no list an earlier run left is
// extracted with.
TEST_F(SearchTest, KeptIndexAfterUnpackingRewritesTheListsOfAllItsPacks) {
  Start();
  Pack("a.7z", {"A/a.inf"});
  Pack("b.7z", {"B/b.inf"});
  Pack("c.7z", {"C/c.inf"});
  Inf("A/a.inf", "nothing");
  Inf("B/b.inf", "PCI\\VEN_1AF4&DEV_1000");
  Inf("C/c.inf", "PCI\\VEN_1AF4&DEV_1000");
  PackList({"a.7z", "b.7z", "c.7z"});
  main->ExtractINFsbtnClick();
  for (const char* pack : {"a", "b", "c"}) WriteWork(std::string() + pack + ".7z.txt", "stale/*.*\r\n");

  // "Unpack DP" on the second pack alone, then a search that keeps the index.
  main->Form().SetAllChecked("PacksChlbx", false);
  main->Form().SetChecked("PacksChlbx", 1, true);
  main->RunWithOutputClick();
  Ids({"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\\3&1&0"});
  ui.answers = {false};
  main->SearchByHWIDSbtnClick();
  EXPECT_TRUE(LogHas("log20|%s|%s"));
  EXPECT_EQ(Items("PackNamecbx"), (Lines{"a.7z", "b.7z", "c.7z"}));
  EXPECT_EQ(Work("a.7z.txt"), "");
  EXPECT_EQ(Work("b.7z.txt"), "B/*.*\r\n");
  EXPECT_EQ(Work("c.7z.txt"), "C/*.*\r\n");
}

// ---- the search: one pass over each file gives what a search of each pair gives ----

// The search of one identifier in one file at a time, as the handler's results are defined:
// identifiers outer, INF paths inner, the file searcher walking every match, each index write
// going to the file through the profile functions.
struct PerPairResult {
  Lines logLines;
  Lines matched;
};
PerPairResult PerPairSearch(TMainfrm& w, const std::string& workDir, const std::string& indexFile) {
  PerPairResult r;
  TFileSearch searcher;
  for (const std::string& id : w.Form().Items("HWIDSforworklb")) {
    const std::string reduced = DecreaseHWID(id, 2);
    for (const std::string& entry : w.Form().Items("INFfullPathslb")) {
      std::string section = entry;
      while (!section.empty() && static_cast<unsigned char>(section.front()) <= ' ') section.erase(0, 1);
      while (!section.empty() && static_cast<unsigned char>(section.back()) <= ' ') section.pop_back();
      const std::string file = workDir + section;
      searcher.SetFilename(file);
      searcher.SetPattern(id);
      searcher.SetPattern(reduced);
      r.logLines.push_back(w.Msg("log62", {reduced}) + file);
      std::int64_t count = 0;
      for (std::int64_t at = searcher.First(); at != -1; at = searcher.Next()) ++count;
      if (count == 0) continue;
      r.logLines.push_back(w.Msg("log62", {file}));
      if (UpperCase(platform::profile::ReadString(indexFile, section, "Extract", "NO")) == "NO") {
        platform::profile::WriteString(indexFile, section, "Extract", "YES");
        platform::profile::WriteString(indexFile, section, "Found Pattern", reduced);
        platform::profile::WriteString(indexFile, section, "Found Pattern Full", id);
      }
      r.matched.push_back(section);
      r.logLines.push_back(w.Msg("log63", {count, reduced}));
    }
  }
  DeleteDuples(&r.matched);
  return r;
}

std::string Utf16(const std::string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) {
    const char units[2] = {bigEndian ? '\0' : c, bigEndian ? c : '\0'};
    out.append(units, 2);
  }
  return out;
}

TEST_F(SearchTest, OnePassSearchGivesThePerPairResultsByteForByte) {
  Start();
  const Lines ids = {
      "PCI\\VEN_8086&DEV_1E31&SUBSYS_00011043&REV_04\\3&11583659&0&A0",
      "PCI\\VEN_8086&DEV_1E31&SUBSYS_00021043&REV_05\\3&2&0",  // the same pattern as the first
      "USB\\VID_046D&PID_C52B&MI_01\\7&1&0",
      "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269&SUBSYS_10431C63&REV_1000\\4&1",
      "ACPI\\ACPI\\0",  // "ACPI\ACPI" overlaps itself in "ACPI\ACPI\ACPI"
      "ACPI\\PNP0A08\\0",
      "HID\\VID_AAAA&PID_AAAA\\9&1",
      "DISPLAY\\DEL4051\\5&1",
      "ACPI\\GenuineIntel_-_Intel64_Family_6_Model_85\\_0",
  };
  Lines patterns;
  for (const auto& id : ids) patterns.push_back(DecreaseHWID(id, 2));
  const Lines filler = {"[Version]\r\nSignature=\"$Windows NT$\"\r\n",
                        "%Dev% = Install, ",
                        "\r\n",
                        "&",
                        "\\",
                        "AAAA",
                        "ACPI\\",
                        "VEN_",
                        "; comment \xC4\xD6\r\n",
                        "PCI\\VEN_8086&DEV_1E3"};

  std::mt19937 random(20261210);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  auto randomCase = [&](std::string text) {
    for (char& c : text) {
      if (random() % 2) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
  };
  Lines paths;
  for (int f = 0; f < 60; ++f) {
    const std::string path = "D/" + std::string(1, static_cast<char>('A' + f % 5)) + "/" + std::to_string(f) +
                             (f % 7 == 0 ? " drv.inf" : ".inf");
    paths.push_back(path);
    std::string content;
    const std::size_t pieces = pick(40);
    for (std::size_t p = 0; p < pieces; ++p) {
      switch (pick(4)) {
        case 0:
          content += randomCase(patterns[pick(patterns.size())]);
          break;
        case 1:
          content += patterns[pick(patterns.size())].substr(0, 6 + pick(10));
          break;  // near misses
        case 2:
          content += "ACPI\\ACPI\\ACPI";
          break;
        default:
          content += filler[pick(filler.size())];
      }
    }
    if (f % 11 == 3) continue;  // listed by the tool, missing on disk
    if (f % 13 == 4) content.clear();
    if (f % 9 == 5) content = Utf16(content, f % 2 == 0);
    Inf(path, content);
  }
  Pack("one.7z", Lines(paths.begin(), paths.begin() + 35));
  Pack("two.7z", Lines(paths.begin() + 30, paths.end()));  // five paths in both packs
  TickAllPacks();
  Ids(ids);
  main->ExtractINFsbtnClick();
  const std::string reference = tmp.Write("reference.ini", Work("DP_Content.ini"));
  // An earlier search of the same index already chose a pattern for one file.
  platform::profile::WriteString(reference, paths[1], "Extract", "yes");
  platform::profile::WriteString(reference, paths[1], "Found Pattern", "EARLIER");
  platform::profile::WriteString(workDir + "DP_Content.ini", paths[1], "Extract", "yes");
  platform::profile::WriteString(workDir + "DP_Content.ini", paths[1], "Found Pattern", "EARLIER");

  Lines firstMatchList;
  int changes = 0;
  main->Form().Subscribe([&](const FormModel::Notification& n) {
    if (n.control.name == "SearchINFExtraxtPathslb" && ++changes == 2) firstMatchList = n.control.items;
  });
  ui.answers = {false};  // keep the index just built
  main->SearchByHWIDSbtnClick();

  const PerPairResult expected = PerPairSearch(*main, WorkFolder("Index/"), reference);
  ASSERT_GT(expected.matched.size(), 10u) << "the generated set must hold matches";
  EXPECT_EQ(LogFrom("log61", {"log62|", "log63|"}), expected.logLines);
  EXPECT_EQ(firstMatchList, expected.matched);
  EXPECT_EQ(Work("DP_Content.ini"), tmp.Read("reference.ini"));
  EXPECT_TRUE(LogHas("log64|" + std::to_string(expected.matched.size()) + "|%s"));
  EXPECT_EQ(Index(paths[1], "Found Pattern"), "EARLIER");
  EXPECT_FALSE(main->Form().Caption("TimeStartlbl").empty());
  EXPECT_FALSE(main->Form().Caption("TImeStoplbl").empty());
}

TEST_F(SearchTest, SearchCountsAndRecordsTheFirstIdentifier) {
  Start();
  Pack("p.7z", {"a/lower.inf", "a/two.inf", "b/utf16.inf", "c/none.inf"});
  Inf("a/lower.inf", "pci\\ven_1af4&dev_1000&subsys_1 and PCI\\VEN_1AF4&DEV_1000");
  Inf("a/two.inf", "AAAA HID\\VID_AAAA&PID_AAAAHID\\VID_AAAA&PID_AAAA");
  Inf("b/utf16.inf", Utf16("Models: USB\\VID_0627&PID_0001", false));
  Inf("c/none.inf", "PCI\\VEN_1AF4&DEV_100");
  TickAllPacks();
  Ids({"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\\3&1&0", "HID\\VID_AAAA&PID_AAAA\\1",
       "PCI\\VEN_1AF4&DEV_1000&SUBSYS_00021AF4&REV_00\\3&2&0",
       "USB\\VID_0627&PID_0001\\28754-0000:00:05.7-1"});
  main->SearchByHWIDSbtnClick();

  const std::string w = WorkFolder("Index/");
  EXPECT_EQ(LogFrom("log61", {"log63|"}),
            (Lines{"log63|2|PCI\\VEN_1AF4&DEV_1000", "log63|2|HID\\VID_AAAA&PID_AAAA",
                   "log63|2|PCI\\VEN_1AF4&DEV_1000", "log63|1|USB\\VID_0627&PID_0001"}));
  EXPECT_EQ(Index("a/lower.inf", "Found Pattern Full"),
            "PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\\3&1&0");
  EXPECT_EQ(Index("a/lower.inf", "Found Pattern"), "PCI\\VEN_1AF4&DEV_1000");
  EXPECT_EQ(Index("b/utf16.inf", "Extract"), "YES");
  EXPECT_EQ(Index("c/none.inf", "Extract"), "<missing>");
  EXPECT_TRUE(LogHas("log64|3|%s"));
  // One line per pair, and the match lines name the file.
  EXPECT_EQ(LogFrom("log61", {"log62|"}).size(), 4u * 4u + 4u);
  EXPECT_TRUE(LogHas("log62|" + w + "a/two.inf|%s"));
  EXPECT_TRUE(LogHas("log62|HID\\VID_AAAA&PID_AAAA|%s" + w + "c/none.inf"));
}

// ---- the extraction list and the installation ----

TEST_F(SearchTest, ExtractionListsNameEachMatchingFolderOncePerPack) {
  SKIP_ON_WINDOWS("a pack named \"x:y.7z\", a name Windows does not allow");
  Start();
  Pack("Net Pack.7z", {"L/1/a.inf", "L/1/b.inf", "L/1/c.inf", "L/2/d.inf"});
  Pack("x:y.7z", {"top.inf"});
  Pack("empty.7z", {"z/z.inf"});
  Inf("L/1/a.inf", "PCI\\VEN_10EC&DEV_8168");
  Inf("L/1/b.inf", "PCI\\VEN_8086&DEV_100E");
  Inf("L/1/c.inf", "pci\\ven_8086&dev_100e");
  Inf("L/2/d.inf", "PCI\\VEN_8086&DEV_100E");
  Inf("top.inf", "PCI\\VEN_8086&DEV_100E");
  Inf("z/z.inf", "nothing here");
  PackList({"Net Pack.7z", "x:y.7z", "empty.7z"});
  Ids({"PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&1", "PCI\\VEN_10EC&DEV_8168&SUBSYS_1&REV_0C\\4&2"});
  main->SearchByHWIDSbtnClick();

  const std::string e1 = "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&1:log55|%s|%s:";
  const std::string e2 = "PCI\\VEN_10EC&DEV_8168&SUBSYS_1&REV_0C\\4&2:log55|%s|%s:";
  EXPECT_EQ(Items("HWIDS2Installchb"), (Lines{e1 + "Net Pack.7z", e1 + "x:y.7z", e2 + "Net Pack.7z"}));
  EXPECT_EQ(main->InstallEntryPacks(), (Lines{"Net Pack.7z", "x:y.7z", "Net Pack.7z"}));
  EXPECT_EQ(Work("Net Pack.7z.txt"), "L/1/*.*\r\nL/2/*.*\r\n");
  EXPECT_EQ(Work("x:y.7z.txt"), "*.*\r\n");
  EXPECT_EQ(Work("empty.7z.txt"), "");
  // Match order: b, c, d (first ID), top, then a (second ID): later entries of a key win.
  EXPECT_EQ(platform::profile::ReadString(workDir + "DP_Extract.ini", "Net Pack.7z.txt", "L/1/*.*", ""),
            "Line4");
  EXPECT_EQ(platform::profile::ReadString(workDir + "DP_Extract.ini", "x:y.7z.txt", "*.*", ""), "Line3");

  // A second search in the same run offers each entry once and keeps the person's ticks.
  main->Form().SetChecked("HWIDS2Installchb", 1, true);
  ui.answers = {false};
  main->SearchByHWIDSbtnClick();
  EXPECT_EQ(Items("HWIDS2Installchb").size(), 3u);
  EXPECT_TRUE(main->Form().Checked("HWIDS2Installchb", 1));
  EXPECT_FALSE(main->Form().Checked("HWIDS2Installchb", 0));

  // Installing extracts each ticked pack once, with its list, then runs the installer.
  sevenZipCalls.clear();
  main->Form().SetAllChecked("HWIDS2Installchb", true);
  main->InstallHWIDsbtnClick();
  EXPECT_EQ(
      Calls(),
      (Lines{"[x][" + programDir + "DP/Net Pack.7z][-o" + workDir + "Drivers/][@" + workDir + "Net Pack.7z.txt][-y]",
             "[x][" + programDir + "DP/x:y.7z][-o" + workDir + "Drivers/][@" + workDir + "x:y.7z.txt][-y]"}));
  EXPECT_EQ(main->Form().Caption("CMD4HWIDunpacked"),
            "7z x " + programDir + "DP/x:y.7z -o" + workDir + "Drivers/ @" + workDir + "x:y.7z.txt -y");
  EXPECT_TRUE(installerArgs.has_value());
  // The installation ends, and then its summary: two devices served from three folders.
  const SplitLog log = SplitAtSummary(LogKeys());
  ASSERT_FALSE(log.before.empty());
  EXPECT_EQ(log.before.back(), "log53");
  EXPECT_EQ(log.summary, (Lines{"log124", "log125", "log127"}));
  EXPECT_TRUE(LogHas("log124|2|3|0"));
}

// The index's INF copies lie in the index folder, the chosen driver folders go into the drivers
// folder, and the installer is pointed at the drivers folder alone; an entry left unticked has
// its pack left alone, and with nothing chosen no installer runs to claim anything.
TEST_F(SearchTest, OnlyTheChosenDriversReachTheInstaller) {
  struct Case {
    const char* name;
    std::vector<bool> ticks;  // per entry of "HWIDS2Installchb": a.7z, b.7z
    Lines calls;              // packs extracted, in order
    bool installerRuns;
  };
  const Case cases[] = {
      {"both", {true, true}, {"a.7z", "b.7z"}, true},
      {"first", {true, false}, {"a.7z"}, true},
      {"second", {false, true}, {"b.7z"}, true},
      {"none", {false, false}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    Pack("a.7z", {"A/1/a.inf"});
    Pack("b.7z", {"B/2/b.inf"});
    Inf("A/1/a.inf", "PCI\\VEN_8086&DEV_100E");
    Inf("B/2/b.inf", "PCI\\VEN_10EC&DEV_8168");
    TickAllPacks();
    Ids({"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1", "PCI\\VEN_10EC&DEV_8168&SUBSYS_1&REV_0C\\4&2"});
    ui.answers = {true};
    main->SearchByHWIDSbtnClick();
    // The search read the copies in the index folder.
    EXPECT_EQ(Index("A/1/a.inf", "Extract"), "YES");
    EXPECT_EQ(Index("B/2/b.inf", "Extract"), "YES");
    ASSERT_EQ(Items("HWIDS2Installchb").size(), 2u);
    for (std::size_t i = 0; i < c.ticks.size(); ++i) main->Form().SetChecked("HWIDS2Installchb", i, c.ticks[i]);
    sevenZipCalls.clear();
    installerArgs.reset();
    main->InstallHWIDsbtnClick();

    Lines expected;
    for (const std::string& pack : c.calls) {
      expected.push_back("[x][" + PackWord(pack) + "][-o" + WorkFolder("Drivers/") + "][@" + workDir + pack +
                         ".txt][-y]");
    }
    EXPECT_EQ(Calls(), expected);
    EXPECT_EQ(installerArgs.has_value(), c.installerRuns);
    if (c.installerRuns) {
      EXPECT_EQ(installerArgs, "/path " + workDir + "Drivers");
      EXPECT_FALSE(LogHas("log100|%s|%s"));
    } else {
      EXPECT_TRUE(LogHas("log100|%s|%s"));
      EXPECT_FALSE(LogHas("log47|%s|%s"));
    }
    const SplitLog log = SplitAtSummary(LogKeys());
    ASSERT_FALSE(log.before.empty());
    EXPECT_EQ(log.before.back(), "log53");
    EXPECT_EQ(log.summary, (Lines{"log124", c.installerRuns ? "log125" : "log128", "log127"}));
    main.reset();
    fs::remove_all(workDir);
  }
}

// A ticked entry brings exactly its own device's folders: the tool is handed a list of the
// chosen folders, while the pack's list file keeps naming every match of the pack. Ticking all
// of a pack's entries hands the tool the pack's list file itself.
TEST_F(SearchTest, ATickedEntryExtractsExactlyItsOwnFolders) {
  struct Case {
    const char* name;
    std::vector<bool> ticks;  // per entry: the network card (N/1), the sound card (N/2, N/3)
    const char* listFile;     // the list the tool is handed, in the working folder
    const char* chosen;       // what the chosen list holds ("" when there is none)
  };
  const Case cases[] = {
      {"network card", {true, false}, "n.7z.chosen.txt", "N/1/*.*\r\n"},
      {"sound card", {false, true}, "n.7z.chosen.txt", "N/2/*.*\r\nN/3/*.*\r\n"},
      {"both", {true, true}, "n.7z.txt", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    Pack("n.7z", {"N/1/net.inf", "N/2/snd.inf", "N/3/snd2.inf", "N/3/snd3.inf"});
    Inf("N/1/net.inf", "PCI\\VEN_8086&DEV_100E");
    Inf("N/2/snd.inf", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0282");
    Inf("N/3/snd2.inf", "hdaudio\\func_01&ven_10ec&dev_0282");
    Inf("N/3/snd3.inf", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0282");
    TickAllPacks();
    Ids({"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0282&SUBSYS_1&REV_1000\\4&2"});
    ui.answers = {true};
    main->SearchByHWIDSbtnClick();
    ASSERT_EQ(Items("HWIDS2Installchb").size(), 2u);
    EXPECT_EQ(main->InstallEntries()[1].folders, (Lines{"N/2/*.*", "N/3/*.*"}));
    for (std::size_t i = 0; i < c.ticks.size(); ++i) main->Form().SetChecked("HWIDS2Installchb", i, c.ticks[i]);
    sevenZipCalls.clear();
    main->InstallHWIDsbtnClick();

    EXPECT_EQ(Calls(), Lines{"[x][" + PackWord("n.7z") + "][-o" + WorkFolder("Drivers/") + "][@" + workDir +
                             c.listFile + "][-y]"});
    // The pack's list file still holds all the pack's matches.
    EXPECT_EQ(Work("n.7z.txt"), "N/1/*.*\r\nN/2/*.*\r\nN/3/*.*\r\n");
    if (*c.chosen != '\0') {
      EXPECT_EQ(Work("n.7z.chosen.txt"), c.chosen);
    }
    main.reset();
    fs::remove_all(workDir);
  }
}

// Each entry reads as the device's name (as the HWIDs page knows it), the INF files that name
// it and the pack, while the entry itself keeps the form the installation reads its pack from;
// the page says what the search found; and an entry that differs only in the language of its
// middle text is offered once.
TEST_F(SearchTest, EntriesAreReadableAndOfferedOncePerDeviceAndPack) {
  Start();
  Pack("Net Pack.7z", {"L/1/a.inf", "L/2/b.inf"});
  Inf("L/1/a.inf", "PCI\\VEN_8086&DEV_100E");
  Inf("L/2/b.inf", "PCI\\VEN_10EC&DEV_8168");
  TickAllPacks();
  const std::string intel = "PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1";
  const std::string realtek = "PCI\\VEN_10EC&DEV_8168&SUBSYS_1&REV_0C\\4&2";
  Ids({intel, realtek});
  // The simple view names the first device, the device tree the second.
  main->Form().SetItems("HWIDsSimpleListBox", {"PCI Devices", intel + "      : Intel PRO/1000 Network Card",
                                               std::string(45, '*')});
  TreeRoots& tree = main->Form().Tree("EqTreeView");
  tree.push_back(std::make_unique<TreeNode>());
  tree.back()->text = "PC";
  TreeNode* device = tree.back()->AddChild("*Net")->AddChild(" " + realtek);
  device->AddChild("  Name: Realtek PCIe GbE");
  main->Form().TreeChanged("EqTreeView");
  ui.answers = {true};
  main->SearchByHWIDSbtnClick();

  const Control& list = main->Form().Get("HWIDS2Installchb");
  EXPECT_EQ(list.items, (Lines{intel + ":log55|%s|%s:Net Pack.7z", realtek + ":log55|%s|%s:Net Pack.7z"}));
  ASSERT_EQ(list.items.size(), 2u);
  EXPECT_EQ(ShownItem(list, 0), "Intel PRO/1000 Network Card  |  L/1/a.inf  |  Net Pack.7z");
  EXPECT_EQ(ShownItem(list, 1), "Realtek PCIe GbE  |  L/2/b.inf  |  Net Pack.7z");
  EXPECT_EQ(main->Caption("NodeNameLbl"), "log112|2|1");
  EXPECT_TRUE(LogHas("log112|2|1"));

  // Another language, the same search: the entries are not doubled, the tick stays, and the
  // entries speak the new language.
  main->Form().SetChecked("HWIDS2Installchb", 1, true);
  WriteTestLanguage(programDir + "lng/deutsch.lng", "Deutsch");
  std::string german = tmp.Read("prog/lng/deutsch.lng");
  german.replace(german.find("log55=log55|%s|%s"), 17, "log55=gefunden im Paket");
  tmp.Write("prog/lng/deutsch.lng", german);
  main->SetCaption("LangFileLabel", programDir + "lng/deutsch.lng");
  main->TranslateTntButtonClick();
  ui.answers = {false};
  main->SearchByHWIDSbtnClick();
  EXPECT_EQ(list.items, (Lines{intel + ":gefunden im Paket:Net Pack.7z", realtek + ":gefunden im Paket:Net Pack.7z"}));
  EXPECT_FALSE(main->Form().Checked("HWIDS2Installchb", 0));
  EXPECT_TRUE(main->Form().Checked("HWIDS2Installchb", 1));
  EXPECT_EQ(ShownItem(list, 1), "Realtek PCIe GbE  |  L/2/b.inf  |  Net Pack.7z");
  // An entry put into the list from elsewhere still names its pack, and brings the pack's list.
  main->Form().SetItems("HWIDS2Installchb", {list.items[1]});
  main->Form().SetChecked("HWIDS2Installchb", 0, true);
  sevenZipCalls.clear();
  main->InstallHWIDsbtnClick();
  EXPECT_EQ(Calls(), Lines{"[x][" + PackWord("Net Pack.7z") + "][-o" + WorkFolder("Drivers/") + "][@" +
                           workDir + "Net Pack.7z.txt][-y]"});
}

// Without a match the page says that nothing was found; a device the page has no name for is
// shown by its hardware ID.
TEST_F(SearchTest, ThePageSaysWhatTheSearchFound) {
  Start();
  Pack("p.7z", {"d/a.inf"});
  Inf("d/a.inf", "PCI\\VEN_8086&DEV_100E");
  TickAllPacks();
  Ids({"PCI\\VEN_1234&DEV_5678&SUBSYS_1&REV_02\\3&1"});
  ui.answers = {true};
  main->SearchByHWIDSbtnClick();
  EXPECT_TRUE(Items("HWIDS2Installchb").empty());
  EXPECT_EQ(main->Caption("NodeNameLbl"), "log113|%s|%s");

  Ids({"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1"});
  ui.answers = {false};
  main->SearchByHWIDSbtnClick();
  EXPECT_EQ(main->Caption("NodeNameLbl"), "log112|1|1");
  EXPECT_EQ(ShownItem(main->Form().Get("HWIDS2Installchb"), 0),
            "PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1  |  d/a.inf  |  p.7z");
}

// A pack or folder name that the extraction list cannot hold as a section or a key still gets
// its list file and its extraction, made from the matches themselves; the log names what the
// extraction list could not record, and the step counts as failed.
TEST_F(SearchTest, NamesTheExtractionListCannotHoldAreStillExtracted) {
  struct Case {
    const char* pack;
    const char* inf;
    const char* listLine;
    bool recorded;  // whether DP_Extract.ini can hold the pack's section and the folder's key
  };
  const Case cases[] = {
      {"DP_Virtio [demo].7z", "D/V/RedHat/1/net.inf", "D/V/RedHat/1/*.*", false},
      {"x]y.7z", "D/a.inf", "D/*.*", false},
      {"p.7z", "D/Intel=old/a.inf", "D/Intel=old/*.*", false},
      {"plain.7z", "D/Intel/a.inf", "D/Intel/*.*", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pack);
    Start();
    Pack(c.pack, {c.inf});
    Inf(c.inf, "PCI\\VEN_8086&DEV_100E");
    TickAllPacks();
    Ids({"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1"});
    main->SearchByHWIDSbtnClick();
    EXPECT_EQ(Work("" + std::string(c.pack) + ".txt"), std::string(c.listLine) + "\r\n");
    EXPECT_EQ(LogHas("log101|" + std::string(c.listLine) + "|" + c.pack), !c.recorded);
    EXPECT_EQ(main->ExitStatus(), c.recorded ? 0 : 1);
    EXPECT_FALSE(LogHas("log73|" + std::string(c.inf) + "|%s"));
    main->Form().SetAllChecked("HWIDS2Installchb", true);
    sevenZipCalls.clear();
    main->InstallHWIDsbtnClick();
    EXPECT_EQ(Calls(), Lines{"[x][" + PackWord(c.pack) + "][-o" + WorkFolder("Drivers/") + "][@" + workDir +
                             c.pack + ".txt][-y]"});
    main.reset();
    fs::remove_all(workDir);
    fs::remove_all(programDir + "DP");
  }
}

TEST_F(SearchTest, AMatchTheIndexNoLongerHoldsIsLoggedAndSkipped) {
  Start();
  WriteWork("DP_Content.ini",
            "[d/a.inf]\r\nPackName=p.7z\r\nPackNumber=0\r\nExtract=YES\r\nFound Pattern Full=PCI\\X\r\n");
  main->Form().SetItems("PackNamecbx", {"p.7z"});
  main->Form().SetItems("SearchINFExtraxtPathslb", {"gone/b.inf", "d/a.inf"});
  main->PrepareUnpackFilesbtnClick();
  EXPECT_EQ(Items("HWIDS2Installchb"), Lines{"PCI\\X:log55|%s|%s:p.7z"});
  EXPECT_TRUE(LogHas("log76|gone/b.inf|%s"));
  // The skipped match takes no place in the list: the kept one is still the second match.
  EXPECT_EQ(platform::profile::ReadString(workDir + "DP_Extract.ini", "p.7z.txt", "d/*.*", ""), "Line1");
  EXPECT_EQ(Work("p.7z.txt"), "d/*.*\r\n");
}

// A working folder with blanks in its path (here on a USB stick, where the configuration moves
// it) reaches the tool whole: the output switch and the list file are each one word.
TEST_F(SearchTest, BlanksInTheWorkingFolderReachTheToolAsOneArgument) {
  const std::string stick = tmp.MakeDir("USB STICK");
  Start();
  const std::string config = programDir + "dp_tavi.ini";
  platform::profile::WriteString(config, "DP_Options", "NonCompressedDriversFolder", "YES");
  platform::profile::WriteString(config, "DP_Options", "NonCompressedDriversFolderLocation", stick);
  main.reset();
  Start();
  const std::string work = stick + Joined("dp_tavi/");
  ASSERT_EQ(main->Caption("Workdir"), work);
  Pack("p.7z", {"d/a.inf"});
  tmp.Write(work + "Index/d/a.inf", "PCI\\VEN_8086&DEV_100E");
  TickAllPacks();
  Ids({"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1"});
  main->SearchByHWIDSbtnClick();
  main->Form().SetAllChecked("HWIDS2Installchb", true);
  main->InstallHWIDsbtnClick();
  main->UnpackDriverPacks2method1Click();
  const std::string pack = PackWord("p.7z");
  const std::string index = work + Joined("Index/");
  const std::string drivers = work + Joined("Drivers/");
  EXPECT_EQ(Calls(), (Lines{"[x][" + pack + "][-o" + index + "][*.inf][-r][-y]",
                            "[x][" + pack + "][-o" + drivers + "][@" + work + "p.7z.txt][-y]",
                            "[x][" + pack + "][-o" + drivers + "][-y]"}));
  // Quoted, a folder's closing separator on Windows is doubled so that the quote still closes.
  const std::string closing = Joined("/") == "/" ? "" : "\\";
  EXPECT_EQ(main->Form().Caption("CMD4HWIDunpacked"),
            "7z x " + pack + " \"-o" + drivers + closing + "\" \"@" + work + "p.7z.txt\" -y");
}

// ---- both kinds of archive tool ----

// One kind of tool: the banner it prints when run without arguments, whether the program then
// asks it with -bb1 for its items, and which of the two forms it lists them in.
struct ToolKind {
  const char* name;
  const char* banner;
  bool listsWithSwitch;  // a tool of version 15 or later: -bb1, "- <path>" lines
  const char* logged;    // the log line the banner gives
};
void PrintTo(const ToolKind& kind, std::ostream* out) { *out << kind.name; }

class ToolKindTest : public SearchTest, public ::testing::WithParamInterface<ToolKind> {};

TEST_P(ToolKindTest, CommandLinesFollowTheKindAndItemsAreGatheredInItsForm) {
  const ToolKind& kind = GetParam();
  Start();
  banner = kind.banner;
  // The tool's answer to the INF extraction, in the form of its kind. The archive's own line
  // names an INF file that must never be taken for an item.
  const Lines paths = {"L/1/a.inf", "L/2/b.inf", "top.inf"};
  std::string out = std::string(kind.banner) + "\n";
  out += kind.listsWithSwitch ? "Extracting archive: evil.inf\n--\nPath = evil.inf\n\n"
                              : "Processing archive: evil.inf\n\n";
  for (const std::string& p : paths) out += (kind.listsWithSwitch ? "- " : "Extracting  ") + p + "\n";
  if (kind.listsWithSwitch) out += "- L/1/\n";  // a folder, as newer tools list them
  out += "Everything is Ok\n";
  tmp.Write("prog/DP/p.7z", "pack");
  packOutput["p.7z"] = out;
  Inf("L/1/a.inf", "PCI\\VEN_8086&DEV_100E");
  Inf("L/2/b.inf", "nothing");
  Inf("top.inf", "PCI\\VEN_8086&DEV_100E");
  TickAllPacks();
  Ids({"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1"});
  main->SearchByHWIDSbtnClick();
  main->Form().SetAllChecked("HWIDS2Installchb", true);
  main->InstallHWIDsbtnClick();
  main->UnpackDriverPacks2method1Click();

  // The same index and lists whichever kind of tool made them.
  EXPECT_EQ(platform::profile::ReadSectionNames(workDir + "DP_Content.ini"), paths);
  EXPECT_EQ(Index("L/1/a.inf", "Extract"), "YES");
  EXPECT_EQ(Index("top.inf", "Extract"), "YES");
  EXPECT_EQ(Index("L/2/b.inf", "Extract"), "<missing>");
  EXPECT_EQ(Work("p.7z.txt"), "L/1/*.*\r\n*.*\r\n");
  EXPECT_FALSE(LogHas("log72||%s"));

  // The Parts' command lines, with -bb1 behind them for a tool that needs it; the log shows each
  // command line as it ran.
  const std::string pack = PackWord("p.7z");
  const std::string index = WorkFolder("Index/");
  const std::string drivers = WorkFolder("Drivers/");
  const std::string bb = kind.listsWithSwitch ? "[-bb1]" : "";
  EXPECT_EQ(Calls(), (Lines{"[x][" + pack + "][-o" + index + "][*.inf][-r][-y]" + bb,
                            "[x][" + pack + "][-o" + drivers + "][@" + workDir + "p.7z.txt][-y]" + bb,
                            "[x][" + pack + "][-o" + drivers + "][-y]" + bb}));
  const std::string tail = kind.listsWithSwitch ? " -bb1" : "";
  for (const std::string& line : {"7z x " + pack + " -o" + index + " *.inf -r -y" + tail,
                                  "7z x " + pack + " -o" + drivers + " @" + workDir + "p.7z.txt -y" + tail,
                                  "7z x " + pack + " -o" + drivers + " -y" + tail}) {
    EXPECT_TRUE(LogHas("log23|" + line + "|%s")) << line;
  }
  // The tool was asked for its banner once in this run, and the answer logged once.
  EXPECT_EQ(bannerProbes, 1);
  const Lines keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log97") + std::count(keys.begin(), keys.end(), "log98"), 1);
  EXPECT_TRUE(LogHas(kind.logged));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ToolKindTest,
    ::testing::Values(
        ToolKind{"Version920", "\n7-Zip [32] 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18", false,
                 "log97|7-Zip [32] 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18|%s"},
        ToolKind{"Version457", "7-Zip 4.57  Copyright (c) 1999-2007 Igor Pavlov  2007-12-06", false,
                 "log97|7-Zip 4.57  Copyright (c) 1999-2007 Igor Pavlov  2007-12-06|%s"},
        ToolKind{"Version1602", "\n7-Zip [32] 16.02 : Copyright (c) 1999-2016 Igor Pavlov : 2016-05-21", true,
                 "log97|7-Zip [32] 16.02 : Copyright (c) 1999-2016 Igor Pavlov : 2016-05-21|%s"},
        ToolKind{"Debian7zz",
                 "7-Zip (z) 22.01 (x64) : Copyright (c) 1999-2022 Igor Pavlov : 2022-07-15\n"
                 " 64-bit locale=C.UTF-8 Threads:2",
                 true, "log97|7-Zip (z) 22.01 (x64) : Copyright (c) 1999-2022 Igor Pavlov : 2022-07-15|%s"},
        // No banner, or one of no known shape: the command lines stay as written, and the log says
        // only that (no version is claimed).
        ToolKind{"NoBanner", "", false, "log98|%s|%s"},
        ToolKind{"UnknownShape", "7-Zip version sixteen", false, "log98|%s|%s"}),
    [](const ::testing::TestParamInfo<ToolKind>& param) { return std::string(param.param.name); });

TEST_F(SearchTest, AToolThatCannotStartIsAskedForItsBannerAgainLater) {
  Start();
  Pack("p.7z", {"a.inf"});
  TickAllPacks();
  sevenZipGone = true;
  main->ExtractINFsbtnClick();
  EXPECT_FALSE(main->Archiver().has_value());
  EXPECT_TRUE(LogHas("log23|7z x " + PackWord("p.7z") + " -o" + WorkFolder("Index/") + " *.inf -r -y|%s"));
  const Lines keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log98"), 0);  // nothing is claimed about a missing tool

  sevenZipGone = false;
  banner = "7-Zip 23.01 (x64) : Copyright (c) 1999-2023 Igor Pavlov : 2023-06-20";
  ui.answers = {true};
  main->ExtractINFsbtnClick();
  ASSERT_TRUE(main->Archiver().has_value());
  EXPECT_EQ(main->Archiver()->kind, ArchiverKind::Current);
  EXPECT_EQ(Calls(),
            Lines{"[x][" + PackWord("p.7z") + "][-o" + WorkFolder("Index/") + "][*.inf][-r][-y][-bb1]"});
}

// ---- another computer's hardware ----

// This computer (the recorded virtual machine) has a PS/2 keyboard, which the pack's keyboard INF
// names by its star form only; the other computer has a graphics card that this one lacks. A
// search with the other computer's list loaded finds that card's driver and not this computer's
// keyboard; without a list, the keyboard is found through its star form.
TEST_F(SearchTest, ALoadedHardwareListIsSearchedForInsteadOfThisComputersDevices) {
  // This computer: a keyboard.
  fake.devices.resize(1);
  fake.devices[0].instanceId = "ACPI\\PNP0303\\0";
  fake.devices[0].hardwareIds = {"ACPI\\PNP0303", "*PNP0303"};
  const std::string list = tmp.Write("office-pc.txt",
                                     "Microsoft PnP Utility\r\n\r\n"
                                     "Instance ID:                PCI\\VEN_10DE&DEV_1C82&SUBSYS_11BF1458&REV_A1\\4&1c3&0&0008\r\n"
                                     "Device Description:         NVIDIA GeForce GTX 1050 Ti\r\n"
                                     "Hardware IDs:               PCI\\VEN_10DE&DEV_1C82&SUBSYS_11BF1458&REV_A1\r\n"
                                     "                            PCI\\VEN_10DE&DEV_1C82&SUBSYS_11BF1458\r\n");
  struct Case {
    const char* what;
    bool loadList;
    std::string found;      // the INF file whose folder the search chose
    std::string notFound;
    std::string whoseKey;   // the log line saying whose IDs were used
  };
  const std::vector<Case> cases = {
      {"the other computer's list", true, "D/G/1/gpu.inf", "D/K/1/kbd.inf", "log121|" + list + "|"},
      {"this computer", false, "D/K/1/kbd.inf", "D/G/1/gpu.inf", "log120|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(workDir + "DP_Content.ini");
    Start();
    Pack("a.7z", {"D/K/1/kbd.inf", "D/G/1/gpu.inf"});
    Inf("D/K/1/kbd.inf", "[Kbd.NTamd64]\r\n%Ps2Kbd% = Ps2kbd_Inst, *PNP0303\r\n");
    Inf("D/G/1/gpu.inf", "[Nv.NTamd64]\r\n%Gtx% = Gtx_Inst, PCI\\VEN_10DE&DEV_1C82\r\n");
    TickAllPacks();
    if (c.loadList) {
      ui.files = {list};
      main->LoadHwidListBtnClick();
      EXPECT_TRUE(LogHas("log122|" + list + "|pnputil /enum-devices /ids|1"));
      EXPECT_EQ(main->HardwareIdSource(), list);
    }
    ui.answers = {true};
    main->SearchByHWIDSbtnClick();
    EXPECT_EQ(Index(c.found, "Extract"), "YES");
    EXPECT_EQ(Index(c.notFound, "Extract"), "<missing>");
    const Lines texts = LogTexts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                            [&](const std::string& t) { return t.rfind(c.whoseKey, 0) == 0; }))
        << c.whoseKey;
    EXPECT_EQ(main->Run().hardwareIdsUsed.rfind(c.whoseKey, 0), 0u);
    main.reset();
  }
}

// A list that cannot be used changes nothing: the file's problem is logged as a failed step and
// this computer's IDs stay the search's.
TEST_F(SearchTest, AHardwareListThatCannotBeUsedIsAFailedStepAndChangesNothing) {
  Start();
  struct Case {
    const char* what;
    std::string path;
    std::string logged;  // the start of the log line
  };
  const std::string empty = tmp.Write("empty.txt", "; nothing collected yet\r\n\r\n");
  const std::vector<Case> cases = {
      {"missing file", tmp.File("missing.txt"), "log123|" + tmp.File("missing.txt") + "|"},
      {"a list without any ID", empty, "log122|" + empty + "|log129|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(main->UseHardwareList(c.path));
    const Lines texts = LogTexts();
    EXPECT_EQ(texts.back().rfind(c.logged, 0), 0u) << texts.back();
    EXPECT_EQ(main->HardwareIdSource(), "");
    EXPECT_EQ(main->Run().failures.back(), texts.back());
    EXPECT_EQ(main->ExitStatus(), 1);
  }
  ui.files = {};
  main->LoadHwidListBtnClick();  // cancelled: nothing happens
  EXPECT_EQ(main->HardwareIdSource(), "");
}

// Unattended, the configuration names the list; a list that cannot be read stops the run before
// the search, so this computer's devices are not searched for in its place.
TEST_F(SearchTest, TheHardwareRunTakesTheListNamedInTheConfiguration) {
  const std::string list = tmp.Write("prog/target.txt", "PCI\\VEN_10DE&DEV_1C82\r\n");
  struct Case {
    const char* what;
    std::string key;  // the value of Automation/HWIDsListFile
    bool searched;
  };
  const std::vector<Case> cases = {
      {"a name beside the configuration file", "target.txt", true},
      {"a full path", list, true},
      {"a file that is not there", "absent.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sevenZipCalls.clear();
    fs::remove(workDir + "DP_Content.ini");
    Start();
    platform::profile::WriteString(programDir + "dp_tavi.ini", "Automation", "HWIDsListFile", c.key);
    Pack("a.7z", {"D/G/1/gpu.inf"});
    Inf("D/G/1/gpu.inf", "PCI\\VEN_10DE&DEV_1C82");
    main->EnumBtnClick();
    ui.answers = {true};
    main->UnpackInstallHwidsTntSpeedButtonClick();
    EXPECT_EQ(!Calls().empty(), c.searched);
    if (c.searched) {
      EXPECT_EQ(Index("D/G/1/gpu.inf", "Found Pattern Full"), "PCI\\VEN_10DE&DEV_1C82");
      EXPECT_TRUE(LogHas("log121|" + list + "|%s|%s"));
      // The summary's record: the one device, its one folder, the installer's one run.
      EXPECT_EQ(main->Run().devicesServed, (std::set<std::string>{"PCI\\VEN_10DE&DEV_1C82"}));
      EXPECT_EQ(main->Run().foldersExtracted, 1u);
      ASSERT_EQ(main->Run().installerRuns.size(), 1u);
      EXPECT_EQ(main->Run().installerRuns[0].exitStatus, 0);
      EXPECT_TRUE(LogHas("log124|1|1|0"));
    } else {
      const Lines texts = LogTexts();
      const std::string named = "log126|log123|" + programDir + "absent.txt|";
      EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(named, 0) == 0; }))
          << "the summary names the list";
    }
    main.reset();
  }
}

TEST_F(SearchTest, ARunningSearchDisablesTheOperationButtonsAndStartsNoSecondRun) {
  struct ReenteringUi : FakeUi {
    TMainfrm* window = nullptr;
    std::vector<bool> enabledSeen;
    void ProcessMessages() override {
      FakeUi::ProcessMessages();
      if (window == nullptr) return;
      enabledSeen.push_back(window->Form().Enabled("SearchByHWIDSbtn"));
      TMainfrm* w = window;
      window = nullptr;  // one try is enough
      w->Invoke("SearchByHWIDSbtnClick");
      w->Invoke("UnpackInstallHwidsTntSpeedButtonClick");
      w->Invoke("InstallHWIDsbtnClick");
    }
  };
  ReenteringUi reentering;
  main = std::make_unique<TMainfrm>(reentering, AppEnvironment{programFile, {}}, tools);
  main->FormCreate();
  Pack("p.7z", {"d/a.inf"});
  Inf("d/a.inf", "PCI\\VEN_8086&DEV_100E");
  TickAllPacks();
  Ids({"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1"});
  reentering.window = main.get();
  main->Invoke("SearchByHWIDSbtnClick");

  EXPECT_EQ(reentering.enabledSeen, std::vector<bool>{false});
  // One search ran: the tool was called once and the search logged its start once.
  EXPECT_EQ(Calls().size(), 1u);
  const Lines keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log61"), 1);
  for (const char* button : {"SearchByHWIDSbtn", "InstallHWIDsbtn", "UnpackInstallHwidsTntSpeedButton",
                             "UnpackJvArrowButton", "UnpackDriverPacks1"}) {
    EXPECT_TRUE(main->Form().Enabled(button)) << button;
  }
}

}  // namespace
