// The INF index rebuilt from what the last build left (DP_Content.state): a search over packs of
// which some changed, were added or left, or whose INF copies were deleted or altered, runs the
// archive tool only for the packs it must, and leaves what a build from nothing leaves: the same
// log from the search on, the same DP_Content.ini, DP_Extract.ini and list files, the same INF
// copies in the index folder. A scripted archive tool (FakeTools, no process) reads a made-up
// pack file ("<path>=<content>" lines), writes its INF files and prints what 7-Zip 9.20 prints.
#include "search/index_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "platform/files.h"
#include "platform/process.h"
#include "support/app_fixture.h"
#include "support/fake_tools.h"
#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// ---- the record's file ----

IndexState SampleState() {
  IndexState state;
  state.folder = "/w/dp_tavi/Index/";
  state.tool = "7-Zip 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18";
  state.packs.push_back(IndexedPack{"a b.7z",
                                    {1700000000123456789, 42},
                                    "7z x /p/a b.7z -o/w *.inf -r -y",
                                    1,
                                    std::string("Extracting  D/1.inf\r\nodd\0bytes\n12:\n", 36)});
  state.packs.push_back(IndexedPack{"c.7z", {-5, 0}, "", 0, ""});
  state.copies.push_back(IndexedCopy{"D/1.inf", "a b.7z", 7, 0xffffffffffffffffull});
  return state;
}

TEST(IndexStateFile, ReadsBackWhatItWroteAndNothingElse) {
  const IndexState state = SampleState();
  const std::string text = FormatIndexState(state);
  const std::optional<IndexState> back = ParseIndexState(text);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->folder, state.folder);
  EXPECT_EQ(back->tool, state.tool);
  ASSERT_EQ(back->packs.size(), 2u);
  EXPECT_EQ(back->packs[0].name, "a b.7z");
  EXPECT_EQ(back->packs[0].stamp, state.packs[0].stamp);
  EXPECT_EQ(back->packs[0].commandLine, state.packs[0].commandLine);
  EXPECT_EQ(back->packs[0].exitCode, 1);
  EXPECT_EQ(back->packs[0].output, state.packs[0].output);
  EXPECT_EQ(back->packs[1].stamp, state.packs[1].stamp);
  ASSERT_EQ(back->copies.size(), 1u);
  EXPECT_EQ(back->copies[0].path, "D/1.inf");
  EXPECT_EQ(back->copies[0].pack, "a b.7z");
  EXPECT_EQ(back->copies[0].size, 7);
  EXPECT_EQ(back->copies[0].hash, 0xffffffffffffffffull);

  // Any damage, and anything another program or version wrote, reads as nothing.
  IndexState outside = state;
  outside.copies[0].path = "../1.inf";
  struct Case {
    const char* what;
    std::string text;
  };
  const std::size_t output = text.find("odd");
  const std::vector<Case> cases = {
      {"empty", ""},
      {"truncated", text.substr(0, text.size() / 2)},
      {"without its last line break", text.substr(0, text.size() - 1)},
      {"a byte changed", std::string(text).replace(output, 1, "O")},
      {"a byte more", text + "x"},
      {"another version", std::string(text).replace(text.find(" 1\n"), 3, " 2\n")},
      {"another file", "[D/1.inf]\r\nPackName=a.7z\r\n"},
      {"a copy outside the folder", FormatIndexState(outside)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ParseIndexState(c.text).has_value());
  }
  // A checksum made right over a body of the wrong shape does not pass either.
  std::string body = text.substr(0, text.size() - 21);
  body.replace(body.find("4:c.7z"), 6, "9:c.7z");
  EXPECT_FALSE(ParseIndexState(body + "end " + text.substr(text.size() - 17)).has_value());
}

// ---- rebuilds over changed packs ----

class IndexReuseTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    tools = &fake;
    fake.OnScript([this](const std::string& commandLine) -> std::optional<ToolAnswer> {
      const Lines words = platform::process::SplitCommandLine(commandLine);
      if (words.empty() || words[0] != "7z") return std::nullopt;
      ToolAnswer answer;
      if (words.size() == 1) {
        answer.lines = {banner, "", "Usage: 7z <command> [<switches>...] <archive_name>"};
        return answer;
      }
      const std::string pack = fs::path(words[2]).filename().string();
      std::string out;
      for (const std::string& word : words) {
        if (word.rfind("-o", 0) == 0) out = word.substr(2);
      }
      answer.lines = {banner, "", "Processing archive: " + words[2], ""};
      std::ifstream in(words[2], std::ios::binary);
      std::map<std::string, std::string> content;
      for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) content[line.substr(0, eq)] = line.substr(eq + 1) + "\n";
      }
      if (const auto exit = content.find("!exit"); exit != content.end())
        answer.exitCode = std::stoi(exit->second);
      if (words.size() > 4 && words[4] == "*.inf") {
        ++extracted[pack];
        for (const auto& [path, text] : content) {
          if (path.size() < 4 || path.compare(path.size() - 4, 4, ".inf") != 0) continue;
          fs::create_directories(fs::path(out + path).parent_path());
          std::ofstream(out + path, std::ios::binary) << text;
          answer.lines.push_back("Extracting  " + path);
        }
      } else {
        // @<list>: every file of each listed folder ("<folder>/*.*").
        ++listed[pack];
        std::ifstream listFile(words.size() > 4 ? words[4].substr(1) : std::string(), std::ios::binary);
        for (std::string folder; std::getline(listFile, folder);) {
          if (!folder.empty() && folder.back() == '\r') folder.pop_back();
          folder = folder.substr(0, folder.size() - 3);
          for (const auto& [path, text] : content) {
            if (path.rfind(folder, 0) != 0 || path.find('/', folder.size()) != std::string::npos) continue;
            fs::create_directories(fs::path(out + path).parent_path());
            std::ofstream(out + path, std::ios::binary) << text;
            answer.lines.push_back("Extracting  " + path);
          }
        }
      }
      // "!error=<path>": the tool tells it could not extract that item.
      if (const auto error = content.find("!error"); error != content.end()) {
        answer.lines.push_back("ERROR: CRC Failed : " + error->second.substr(0, error->second.size() - 1));
      }
      answer.lines.insert(answer.lines.end(), {"", "Everything is Ok"});
      return answer;
    });
    fake.OnScript([](const std::string& commandLine) -> std::optional<ToolAnswer> {
      if (commandLine.rfind("DPINST.exe", 0) != 0) return std::nullopt;
      ToolAnswer answer;
      answer.files = {{platform::WindowsDirectory() + "/DPINST.LOG", "INFO: nothing to install\n"}};
      return answer;
    });
  }

  // A pack file of the pack folder: "<path>=<content>" lines.
  void Pack(const std::string& name, const std::map<std::string, std::string>& files) {
    std::string text;
    for (const auto& [path, content] : files) text += path + "=" + content + "\n";
    tmp.Write("prog/DP/" + name, text);
  }
  std::string PackFile(const std::string& name) const { return programDir + "DP/" + name; }
  std::string StateFile() const { return workDir + "DP_Content.state"; }
  std::string ExtractStateFile() const { return workDir + "DP_Extract.state"; }

  // The packs of a first build: b.7z and c.7z hold one path (c's copy stays on disk), a.7z a
  // folder of its own; every pack names a device of the list below.
  void FirstPacks() {
    Pack("a.7z", {{"D/A/1/net.inf", "PCI\\VEN_8086&DEV_100E"},
                  {"D/A/1/net.sys", "driver a"},
                  {"D/A/2/other.inf", "PCI\\VEN_1234&DEV_0001"}});
    Pack("b.7z", {{"D/B/1/one.inf", "pci\\ven_10ec&dev_8168"},
                  {"D/B/1/b.sys", "driver b"},
                  {"D/Shared/s.inf", "b's copy: HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269"}});
    Pack("c.7z", {{"D/Shared/s.inf", "c's copy: USB\\VID_046D&PID_C077"},
                  {"D/C/9/nine.inf", "PCI\\VEN_10DE&DEV_0322"}});
    list = {"a.7z", "notes.txt", "b.7z", "c.7z"};
    tmp.Write("prog/DP/notes.txt", "no pack");
  }

  struct Outcome {
    Lines log;                                 // from the search on, without time stamps
    std::map<std::string, std::string> files;  // the working folder, its records aside
    std::map<std::string, int> extracted;      // INF extractions per pack
    bool state = false;                        // a record was left
    // With the installation:
    std::map<std::string, int> listed;  // folder extractions per pack
    bool extractState = false;          // the extraction's record was left
    std::string output;                 // the tool's output file at the end
    Lines shown;                        // the progress window's output list at the end
    std::string lastCommand;            // CMD4HWIDunpacked
    Lines installer;                    // the installer's command lines
  };
  // One search in a new window over the packs of `list`, the index rebuilt; with `install`, then
  // the extraction of every entry found and the installation.
  Outcome Search(bool incremental = true, bool install = false) {
    extracted.clear();
    listed.clear();
    fake.calls.clear();
    // The record is kept unless the configuration says no: the key is left out for it.
    const std::string ini = programDir + "dp_tavi.ini";
    if (fs::exists(ini)) {
      std::ifstream in(ini, std::ios::binary);
      std::string text, line;
      while (std::getline(in, line)) {
        if (line.rfind("IncrementalINFIndex=", 0) != 0) text += line + "\n";
      }
      in.close();
      std::ofstream(ini, std::ios::binary) << text;
    }
    Start();
    if (!incremental) main->Config().WriteString("DP_Options", "IncrementalINFIndex", " no ");
    if (!packFolder.empty()) main->SetCaption("CMDPackDired", packFolder);
    main->Form().SetItems("PacksChlbx", list);
    main->Form().SetAllChecked("PacksChlbx", true);
    main->Form().SetItems("HWIDSforWorkcbx", ids);
    ui.answers = {true};
    main->SearchByHWIDSbtnClick();
    Outcome outcome;
    if (install) {
      main->Form().SetAllChecked("HWIDS2Installchb", true);
      main->InstallHWIDsbtnClick();
      outcome.listed = listed;
      outcome.extractState = fs::exists(ExtractStateFile());
      std::ifstream in(main->Caption("CMDOutFileed"), std::ios::binary);
      outcome.output = std::string(std::istreambuf_iterator<char>(in), {});
      outcome.shown = main->Waitfrm().Items("CMDTemplb");
      outcome.lastCommand = main->Caption("CMD4HWIDunpacked");
      outcome.installer = fake.CallsWith("DPINST.exe");
    }
    const Lines texts = LogTexts();
    const auto search = std::find_if(texts.begin(), texts.end(),
                                     [](const std::string& t) { return t.rfind("log61|", 0) == 0; });
    outcome.log.assign(search, texts.end());
    for (const auto& entry : fs::recursive_directory_iterator(workDir)) {
      const std::string name = entry.path().lexically_relative(workDir).generic_string();
      if (!entry.is_regular_file() || name == "DP_Content.state" || name == "DP_Extract.state") continue;
      // A pack's list file stays until a search of that pack writes it again.
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0 &&
          name.find('/') == std::string::npos &&
          std::find(list.begin(), list.end(), name.substr(0, name.size() - 4)) == list.end()) {
        continue;
      }
      std::ifstream in(entry.path(), std::ios::binary);
      outcome.files[name] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    outcome.extracted = extracted;
    outcome.state = fs::exists(StateFile());
    main.reset();
    return outcome;
  }

  FakeTools fake;
  std::string banner = "7-Zip 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18";
  std::map<std::string, int> extracted;
  std::map<std::string, int> listed;
  Lines list;
  Lines ids = {"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1", "PCI\\VEN_10EC&DEV_8168&SUBSYS_1&REV_0C\\4&2",
               "USB\\VID_046D&PID_C077\\5&3", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269&SUBSYS_1&REV_1000\\4&4",
               "PCI\\VEN_10DE&DEV_0322&SUBSYS_0&REV_A1\\3&5", "PCI\\VEN_1AF4&DEV_1000&SUBSYS_1\\3&6"};
  std::string packFolder;  // the pack folder when not the program's
};

// Sets the modification time of a file `seconds` away from what it was.
void Touch(const std::string& path, int seconds) {
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(seconds));
}

TEST_F(IndexReuseTest, ARebuildExtractsOnlyWhatChangedAndLeavesWhatABuildFromNothingLeaves) {
  using Change = std::function<void()>;
  struct Case {
    const char* what;
    Change change;
    std::map<std::string, int> extracted;  // the packs the rebuild runs the tool for
    bool damaged = false;                  // the record is not used, and the log says so
    bool incremental = true;
    bool sideBySide = false;                // run with two packs at once too
    std::map<std::string, int> third = {};  // what a third search over the second's runs the tool for
  };
  const std::map<std::string, int> all = {{"a.7z", 1}, {"b.7z", 1}, {"c.7z", 1}};
  const std::vector<Case> cases = {
      {"nothing changed", [] {}, {}},
      {"a pack added at the end",
       [this] {
         Pack("d.7z", {{"D/D/1/vio.inf", "PCI\\VEN_1AF4&DEV_1000"}});
         list.push_back("d.7z");
       },
       {{"d.7z", 1}}},
      // Its copy of the shared path is overwritten by c.7z's again, which must be extracted too.
      {"a pack added first that holds a path of a later pack",
       [this] {
         Pack("0.7z", {{"D/Shared/s.inf", "0's copy"}, {"D/Z/z.inf", "PCI\\VEN_1AF4&DEV_1000"}});
         list.insert(list.begin(), "0.7z");
       },
       {{"0.7z", 1}, {"c.7z", 1}},
       false,
       true,
       true},
      {"a pack changed",
       [this] {
         Pack("a.7z",
              {{"D/A/1/net.inf", "PCI\\VEN_8086&DEV_100E"}, {"D/A/3/new.inf", "PCI\\VEN_1AF4&DEV_1000"}});
       },
       {{"a.7z", 1}}},
      {"a pack touched, its content the same",
       [this] { Touch(PackFile("b.7z"), 10); },
       {{"b.7z", 1}, {"c.7z", 1}},
       false,
       true,
       true},
      {"a pack of another size with the same time",
       [this] {
         const auto time = fs::last_write_time(PackFile("a.7z"));
         Pack("a.7z", {{"D/A/1/net.inf", "PCI\\VEN_8086&DEV_100E and more"}, {"D/A/2/other.inf", "x"}});
         fs::last_write_time(PackFile("a.7z"), time);
       },
       {{"a.7z", 1}}},
      // Now b.7z holds the shared path last: its copy must come back.
      {"the pack whose copy of a shared path lay on disk removed",
       [this] { list.pop_back(); },
       {{"b.7z", 1}},
       false,
       true,
       true},
      {"a pack removed, its copies go", [this] { list.erase(list.begin()); }, {}},
      {"a pack unticked by moving it out of the list, another added",
       [this] {
         Pack("d.7z", {{"D/A/1/net.inf", "d's copy PCI\\VEN_8086&DEV_100E"}});
         list[0] = "d.7z";
       },
       {{"d.7z", 1}}},
      {"one INF copy deleted",
       [this] { fs::remove(workDir + "Index/D/A/2/other.inf"); },
       {{"a.7z", 1}},
       false,
       true,
       true},
      {"one INF copy altered, its size the same",
       [this] {
         std::ofstream(workDir + "Index/D/C/9/nine.inf", std::ios::binary) << "PCI\\VEN_10DE&DEV_0323\n";
       },
       {{"c.7z", 1}}},
      // The copy on disk is c.7z's: b.7z, whose copy it is not, is not extracted for it.
      {"the copy of a shared path altered",
       [this] { std::ofstream(workDir + "Index/D/Shared/s.inf", std::ios::binary) << "x"; },
       {{"c.7z", 1}}},
      {"the packs moved to another folder, their times kept",
       [this] {
         packFolder = tmp.MakeDir("elsewhere");
         for (const char* name : {"a.7z", "b.7z", "c.7z"}) {
           fs::copy_file(PackFile(name), packFolder + name);
           fs::last_write_time(packFolder + name, fs::last_write_time(PackFile(name)));
         }
       },
       all},
      // A run that failed is not kept: the pack is extracted again next time.
      {"a pack added that the tool fails on",
       [this] {
         Pack("e.7z", {{"!exit", "2"}, {"D/E/e.inf", "PCI\\VEN_1AF4&DEV_1000"}});
         list.push_back("e.7z");
       },
       {{"e.7z", 1}},
       false,
       true,
       false,
       {{"e.7z", 1}}},
      {"a pack added with an item the tool could not extract",
       [this] {
         Pack("e.7z", {{"!error", "D/E/bad.inf"}, {"D/E/e.inf", "PCI\\VEN_1AF4&DEV_1000"}});
         list.push_back("e.7z");
       },
       {{"e.7z", 1}},
       false,
       true,
       false,
       {{"e.7z", 1}}},
      {"another archive tool", [this] { banner = "7-Zip 9.38 beta  Copyright (c) 1999-2014"; }, all},
      {"the option off", [] {}, all, false, false},
      {"the record truncated", [this] { fs::resize_file(StateFile(), fs::file_size(StateFile()) / 2); }, all,
       true},
      {"a byte of the record changed",
       [this] {
         std::fstream f(StateFile(), std::ios::in | std::ios::out | std::ios::binary);
         std::string text((std::istreambuf_iterator<char>(f)), {});
         const std::size_t at = text.find("Extracting  D/B/1/one.inf");
         ASSERT_NE(at, std::string::npos);
         f.seekp(static_cast<std::streamoff>(at + 12));
         f.put('X');
       },
       all, true},
      {"the record of another working folder",
       [this] {
         std::ifstream in(StateFile(), std::ios::binary);
         std::optional<IndexState> state =
             ParseIndexState(std::string(std::istreambuf_iterator<char>(in), {}));
         ASSERT_TRUE(state.has_value());
         in.close();
         state->folder = "/elsewhere/dp_tavi/Index/";
         std::ofstream(StateFile(), std::ios::binary) << FormatIndexState(*state);
       },
       all, true},
      {"the record replaced by another file",
       [this] { std::ofstream(StateFile(), std::ios::binary) << "[a.7z]\r\nsize=3\r\n"; }, all, true},
  };

  for (const char* packRuns : {"1", "2"}) {
    const ScopedEnv runs("VELMORA_PACK_RUNS", packRuns);
    for (const Case& c : cases) {
      if (std::string(packRuns) != "1" && !c.sideBySide) continue;
      SCOPED_TRACE(std::string(c.what) + ", packs at once: " + packRuns);
      fs::remove_all(workDir);
      fs::remove_all(tmp.File("elsewhere"));
      packFolder.clear();
      banner = "7-Zip 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18";
      FirstPacks();
      const Outcome first = Search();
      ASSERT_TRUE(first.state);
      ASSERT_EQ(first.extracted, all)
          << ::testing::PrintToString(fake.calls) << ::testing::PrintToString(first.log);
      c.change();
      const Outcome again = Search(c.incremental);
      EXPECT_EQ(again.extracted, c.extracted);
      EXPECT_EQ(again.state, c.incremental);
      // A third search over what the second left takes every pack from it.
      if (c.incremental) {
        EXPECT_EQ(Search().extracted, c.third);
      }

      // A build from nothing over the same packs; it says that no index was there before.
      fs::remove_all(workDir);
      Outcome fresh = Search(false);
      const auto noIndex = std::find(fresh.log.begin(), fresh.log.end(), "log71|%s|%s");
      ASSERT_NE(noIndex, fresh.log.end());
      fresh.log.erase(noIndex);
      Lines log = again.log;
      const auto damaged = std::find_if(log.begin(), log.end(),
                                        [](const std::string& t) { return t.rfind("log132|", 0) == 0; });
      EXPECT_EQ(damaged != log.end(), c.damaged);
      if (damaged != log.end()) log.erase(damaged);
      EXPECT_EQ(log, fresh.log);
      EXPECT_EQ(again.files, fresh.files);
      for (const char* file : {"DP_Content.ini", "DP_Extract.ini", "a.7z.txt", "b.7z.txt", "c.7z.txt"}) {
        EXPECT_EQ(again.files.count(file), fresh.files.count(file)) << file;
      }
      // The outcome is worth comparing: the search found drivers, and c.7z's copy of the shared
      // path lies on disk wherever c.7z is indexed.
      EXPECT_NE(fresh.files.at("DP_Content.ini").find("Extract=YES"), std::string::npos);
      if (std::find(list.begin(), list.end(), "c.7z") != list.end()) {
        EXPECT_EQ(fresh.files.at("Index/D/Shared/s.inf"), "c's copy: USB\\VID_046D&PID_C077\n");
      }
    }
  }
}

// The extraction of the matching folders replayed from what the last one left (DP_Extract.state):
// a pack whose run would write nothing new into the drivers folder is not extracted again, and
// the log from the search on, the drivers folder, the tool's output file and list and what the
// installer is handed come out as after an extraction from nothing.
TEST_F(IndexReuseTest, AnExtractionOverUnchangedPacksReplaysTheirRunsAndLeavesWhatAnExtractionLeaves) {
  using Change = std::function<void()>;
  struct Case {
    const char* what;
    Change change;
    std::map<std::string, int> listed;  // the packs the second extraction runs the tool for
    bool damaged = false;               // the record is not used, and the log says so
    bool incremental = true;
    bool sideBySide = false;                // run with two packs at once too
    std::map<std::string, int> third = {};  // what a third extraction runs the tool for
    std::string added = {};                 // a file the change put into the drivers folder
    Change setup = [] {};                   // before the first extraction
  };
  const std::map<std::string, int> all = {{"a.7z", 1}, {"b.7z", 1}, {"c.7z", 1}};
  const std::string drivers = workDir + "Drivers/";
  auto editRecord = [this](const std::function<void(ExtractionState&)>& edit) {
    std::ifstream in(ExtractStateFile(), std::ios::binary);
    std::optional<ExtractionState> state = ParseExtractionState(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(state.has_value());
    in.close();
    edit(*state);
    std::ofstream(ExtractStateFile(), std::ios::binary) << FormatExtractionState(*state);
  };
  // d.7z, after b.7z, holds a folder of b.7z and its own copy of b.7z's driver file there.
  auto laterPack = [this] {
    Pack("d.7z", {{"D/B/1/d.inf", "PCI\\VEN_1AF4&DEV_1000"}, {"D/B/1/b.sys", "driver b as d.7z has it"}});
    list.push_back("d.7z");
  };
  const std::vector<Case> cases = {
      {"nothing changed", [] {}, {}, false, true, true},
      {"nothing changed, a later pack overwrites a file of an earlier one", [] {}, {}, false, true, true, {}, {},
       laterPack},
      // b.7z's own copy must come back; d.7z's INF file stays, as after any extraction.
      {"the pack that overwrote a file of an earlier one removed", [this] { list.pop_back(); }, {{"b.7z", 1}}, false,
       true, true, {}, "Drivers/D/B/1/d.inf", laterPack},
      {"the index's record removed: the INF files come out again, the folders do not",
       [this] { fs::remove(StateFile()); }, {}},
      {"a pack changed",
       [this] {
         Pack("b.7z", {{"D/B/1/one.inf", "pci\\ven_10ec&dev_8168"},
                       {"D/B/1/b.sys", "driver b, newer"},
                       {"D/Shared/s.inf", "b's copy: HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269"}});
       },
       {{"b.7z", 1}}, false, true, true},
      {"a pack's list grown, its command line the same",
       [this] { ids.push_back("PCI\\VEN_1234&DEV_0001&SUBSYS_1\\3&7"); }, {{"a.7z", 1}}},
      {"a driver file deleted", [&] { fs::remove(drivers + "D/B/1/b.sys"); }, {{"b.7z", 1}}, false, true, true},
      {"a driver file altered, its size the same",
       [&] { std::ofstream(drivers + "D/A/1/net.sys", std::ios::binary) << "driver X\n"; }, {{"a.7z", 1}}},
      {"a file added in an extracted folder",
       [&] { std::ofstream(drivers + "D/C/9/extra.cat", std::ios::binary) << "x"; }, {{"c.7z", 1}}, false, true,
       false, {}, "Drivers/D/C/9/extra.cat"},
      {"an extracted folder deleted", [&] { fs::remove_all(drivers + "D/A"); }, {{"a.7z", 1}}},
      {"the drivers folder deleted", [&] { fs::remove_all(drivers); }, all, false, true, true},
      {"another archive tool", [this] { banner = "7-Zip 9.38 beta  Copyright (c) 1999-2014"; }, all},
      {"the option off", [] {}, all, false, false},
      {"a pack added with an item the tool could not extract",
       [this] {
         Pack("e.7z", {{"!error", "D/E/bad.sys"}, {"D/E/e.inf", "PCI\\VEN_1AF4&DEV_1000"}, {"D/E/e.sys", "e"}});
         list.push_back("e.7z");
       },
       {{"e.7z", 1}}, false, true, false, {{"e.7z", 1}}},
      {"a pack added that the tool fails on",
       [this] {
         Pack("e.7z", {{"!exit", "2"}, {"D/E/e.inf", "PCI\\VEN_1AF4&DEV_1000"}, {"D/E/e.sys", "e"}});
         list.push_back("e.7z");
       },
       {{"e.7z", 1}}, false, true, false, {{"e.7z", 1}}},
      {"the record truncated",
       [this] { fs::resize_file(ExtractStateFile(), fs::file_size(ExtractStateFile()) / 2); }, all, true},
      {"a byte of the record changed",
       [this] {
         std::fstream f(ExtractStateFile(), std::ios::in | std::ios::out | std::ios::binary);
         std::string text((std::istreambuf_iterator<char>(f)), {});
         const std::size_t at = text.find("Extracting  D/B/1/b.sys");
         ASSERT_NE(at, std::string::npos);
         f.seekp(static_cast<std::streamoff>(at + 12));
         f.put('X');
       },
       all, true},
      {"the record of another drivers folder",
       [&] { editRecord([](ExtractionState& state) { state.folder = "/elsewhere/dp_tavi/Drivers/"; }); }, all,
       true},
      {"the record replaced by another file",
       [this] { std::ofstream(ExtractStateFile(), std::ios::binary) << "[a.7z]\r\nsize=3\r\n"; }, all, true},
  };

  for (const char* packRuns : {"1", "2"}) {
    const ScopedEnv runs("VELMORA_PACK_RUNS", packRuns);
    for (const Case& c : cases) {
      if (std::string(packRuns) != "1" && !c.sideBySide) continue;
      SCOPED_TRACE(std::string(c.what) + ", packs at once: " + packRuns);
      fs::remove_all(workDir);
      banner = "7-Zip 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18";
      ids.resize(6);
      FirstPacks();
      c.setup();
      std::map<std::string, int> firstListed = all;
      if (std::find(list.begin(), list.end(), "d.7z") != list.end()) firstListed["d.7z"] = 1;
      const Outcome first = Search(true, true);
      ASSERT_TRUE(first.extractState);
      ASSERT_EQ(first.listed, firstListed) << ::testing::PrintToString(fake.calls) << ::testing::PrintToString(first.log);
      c.change();
      Outcome again = Search(c.incremental, true);
      EXPECT_EQ(again.listed, c.listed);
      EXPECT_EQ(again.extractState, c.incremental);
      if (c.incremental) {
        EXPECT_EQ(Search(true, true).listed, c.third);
      }

      fs::remove_all(workDir);
      Outcome fresh = Search(false, true);
      const auto noIndex = std::find(fresh.log.begin(), fresh.log.end(), "log71|%s|%s");
      ASSERT_NE(noIndex, fresh.log.end());
      fresh.log.erase(noIndex);
      const auto damaged = std::find_if(again.log.begin(), again.log.end(),
                                        [](const std::string& t) { return t.rfind("log134|", 0) == 0; });
      EXPECT_EQ(damaged != again.log.end(), c.damaged);
      if (damaged != again.log.end()) again.log.erase(damaged);
      EXPECT_EQ(again.log, fresh.log);
      if (!c.added.empty()) {
        EXPECT_EQ(again.files.erase(c.added), 1u);
      }
      EXPECT_EQ(again.files, fresh.files);
      EXPECT_EQ(again.output, fresh.output);
      EXPECT_EQ(again.shown, fresh.shown);
      EXPECT_EQ(again.lastCommand, fresh.lastCommand);
      EXPECT_EQ(again.installer, fresh.installer);
      // The outcome is worth comparing: every pack's folders were extracted and handed over.
      std::map<std::string, int> every = all;
      for (const char* pack : {"d.7z", "e.7z"}) {
        if (std::find(list.begin(), list.end(), pack) != list.end()) every[pack] = 1;
      }
      EXPECT_EQ(fresh.listed, every);
      EXPECT_EQ(fresh.files.at("Drivers/D/B/1/b.sys").substr(0, 8), "driver b");
      EXPECT_EQ(fresh.files.at("Drivers/D/Shared/s.inf").substr(0, 8), "b's copy");
      EXPECT_FALSE(fresh.installer.empty());
      // The output file holds the last pack's run.
      const char* last = every.count("e.7z") != 0   ? "Extracting  D/E/e.inf"
                         : every.count("d.7z") != 0 ? "Extracting  D/B/1/d.inf"
                                                    : "Extracting  D/C/9/nine.inf";
      EXPECT_NE(fresh.output.find(last), std::string::npos);
    }
  }
}

}  // namespace
