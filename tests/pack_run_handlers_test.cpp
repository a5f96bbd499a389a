// The INF index and the extraction of matching folders with the archive tool running over
// several packs at once give what one pack after another gives: the same log lines in the same
// order, the same DP_Content.ini and DP_Extract.ini byte for byte, the same list files, and the
// same files in the index and driver folders, a path that several packs hold included (the copy
// of the last pack in list order stays). A scripted archive tool copies the files of a pack's
// made-up content; side by side, the first pack's run waits until another pack's run has
// ended, and with three or more at once b.7z's run ends after c.7z's (both hold one path), so the
// runs do overlap and end out of order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "support/app_fixture.h"
#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class PackRunHandlersTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    // 7z x <pack> -o<folder> (*.inf -r | @<list>) -y: copies the pack's content (win/src/<pack>/)
    // into the folder and prints "Extracting  <path>" for each file, as the old tool does.
    Tool("7z",
         "[ $# -eq 0 ] && { echo '7-Zip 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18'; exit 0; }\n"
         "pack=$(basename \"$2\"); out=${3#-o}; src=\"$VELMORA_WINDIR/src/$pack\"\n"
         "e=$(cat \"$VELMORA_WINDIR/runs.txt\" 2>/dev/null | grep -c end)\n"
         "echo \"start $pack\" >> \"$VELMORA_WINDIR/runs.txt\"\n"
         "if [ -n \"$WAIT_FOR_PEER\" ] && [ \"$pack\" = a.7z ]; then\n"
         "  n=0; while [ $n -lt 200 ] && [ $(grep -c end \"$VELMORA_WINDIR/runs.txt\") -le $e ]; do sleep "
         "0.05; n=$((n+1)); done\n"
         "fi\n"
         "if [ \"${WAIT_FOR_PEER:-0}\" -ge 3 ] && [ \"$pack\" = b.7z ]; then\n"
         "  step=$(($(grep -c 'start b.7z' \"$VELMORA_WINDIR/runs.txt\") - 1)); n=0\n"
         "  while [ $n -lt 200 ] && [ $(grep -c 'end c.7z' \"$VELMORA_WINDIR/runs.txt\") -le $step ]; do "
         "sleep 0.05; n=$((n+1)); done\n"
         "fi\n"
         "echo '7-Zip 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18'; echo; echo \"Processing "
         "archive: $2\"; echo\n"
         "cd \"$src\" || exit 2\n"
         "if [ \"$4\" = '*.inf' ]; then files=$(find . -type f -name '*.inf' | sed 's|^\\./||' | sort)\n"
         "else files=$(tr -d '\\r' < \"${4#@}\" | sed -e 's|\\\\|/|g' -e 's|\\*\\.\\*$||' | while read -r d; "
         "do find \"./$d\" -maxdepth 1 -type f; done | sed 's|^\\./||' | sort)\n"
         "fi\n"
         "for f in $files; do mkdir -p \"$out/$(dirname \"$f\")\"; cp \"$f\" \"$out/$f\"; echo \"Extracting  "
         "$f\"; done\n"
         "echo; echo 'Everything is Ok'\n"
         "echo \"end $pack\" >> \"$VELMORA_WINDIR/runs.txt\"\n");
    Tool("DPINST.exe", "echo 'INFO: nothing to install' > \"$VELMORA_WINDIR/DPINST.LOG\"\n");
    // Three packs and a file that is no pack; b.7z and c.7z hold one path both; the machine's
    // devices are found in all three, twice in one folder of b.7z.
    for (const char* pack : {"a.7z", "b.7z", "c.7z"}) tmp.Write(std::string("prog/DP/") + pack, "pack");
    tmp.Write("prog/DP/notes.txt", "not a pack");
    Content("a.7z", "D/A/1/net.inf", "PCI\\VEN_8086&DEV_100E");
    Content("a.7z", "D/A/1/net.sys", "driver a");
    Content("a.7z", "D/A/2/other.inf", "PCI\\VEN_1234&DEV_0001");
    Content("b.7z", "D/B/1/one.inf", "pci\\ven_10ec&dev_8168");
    Content("b.7z", "D/B/1/two.inf", "USB\\VID_046D&PID_C077");
    Content("b.7z", "D/B/1/b.sys", "driver b");
    Content("b.7z", "D/Shared/s.inf", "b's copy: HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269");
    Content("c.7z", "D/Shared/s.inf", "c's copy: nothing of this machine");
    Content("c.7z", "D/Shared/s.sys", "driver c");
    Content("c.7z", "D/C/9/nine.inf", "PCI\\VEN_10DE&DEV_0322");
  }

  void Tool(const std::string& name, const std::string& body) {
    fs::permissions(tmp.Write("prog/" + name, "#!/bin/sh\n" + body), fs::perms::owner_all);
  }
  void Content(const std::string& pack, const std::string& path, const std::string& text) {
    tmp.Write("win/src/" + pack + "/" + path, text + "\n");
  }

  // What a whole search and installation leaves: the log without time stamps, and every file of
  // the working folder with its content (the output file of the last run aside).
  struct Outcome {
    Lines log;
    std::map<std::string, std::string> files;
    Lines runs;
  };
  Outcome SearchAndInstall(const std::string& packRuns) {
    ScopedEnv runs("VELMORA_PACK_RUNS", packRuns);
    ScopedEnv wait("WAIT_FOR_PEER", packRuns == "1" ? "" : packRuns);
    fs::remove(winDir + "/runs.txt");
    Start();
    // The pack list in a fixed order, with an entry that is no pack among them.
    main->Form().SetItems("PacksChlbx", {"a.7z", "notes.txt", "b.7z", "c.7z"});
    main->Form().SetAllChecked("PacksChlbx", true);
    main->Form().SetItems(
        "HWIDSforWorkcbx",
        {"PCI\\VEN_8086&DEV_100E&SUBSYS_1&REV_02\\3&1", "PCI\\VEN_10EC&DEV_8168&SUBSYS_1&REV_0C\\4&2",
         "USB\\VID_046D&PID_C077\\5&3", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269&SUBSYS_1&REV_1000\\4&4",
         "PCI\\VEN_10DE&DEV_0322&SUBSYS_0&REV_A1\\3&5"});
    ui.answers = {true};
    main->SearchByHWIDSbtnClick();
    main->Form().SetAllChecked("HWIDS2Installchb", true);
    main->InstallHWIDsbtnClick();
    Outcome outcome;
    // From the search on: the start-up lines tell what an earlier run left in the program folder.
    const Lines texts = LogTexts();
    const auto search = std::find_if(texts.begin(), texts.end(),
                                     [](const std::string& t) { return t.rfind("log61|", 0) == 0; });
    outcome.log.assign(search, texts.end());
    for (const auto& entry : fs::recursive_directory_iterator(workDir)) {
      if (!entry.is_regular_file()) continue;
      const std::string path = entry.path().lexically_relative(workDir).generic_string();
      std::ifstream in(entry.path(), std::ios::binary);
      outcome.files[path] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::ifstream in(winDir + "/runs.txt");
    for (std::string line; std::getline(in, line);) outcome.runs.push_back(line);
    main.reset();
    fs::remove_all(workDir);
    return outcome;
  }
};

TEST_F(PackRunHandlersTest, SideBySideWritesWhatOneAfterAnotherWrites) {
  const Outcome one = SearchAndInstall("1");
  ASSERT_GT(one.log.size(), 20u);
  // One after another: each run ends before the next starts.
  EXPECT_EQ(one.runs, (Lines{"start a.7z", "end a.7z", "start b.7z", "end b.7z", "start c.7z", "end c.7z",
                             "start a.7z", "end a.7z", "start b.7z", "end b.7z", "start c.7z", "end c.7z"}));
  // The outcome is worth comparing: every pack matched, the shared path is indexed with b.7z and
  // its copy on disk is c.7z's, so the search did not find it.
  EXPECT_EQ(one.files.at("Index/D/Shared/s.inf"), "c's copy: nothing of this machine\n");
  EXPECT_EQ(one.files.at("Drivers/D/B/1/b.sys"), "driver b\n");
  EXPECT_EQ(one.files.count("Drivers/D/Shared/s.sys"), 0u);
  EXPECT_EQ(one.files.at("Drivers/D/C/9/nine.inf"), "PCI\\VEN_10DE&DEV_0322\n");
  EXPECT_EQ(one.files.count("Drivers/D/A/2/other.inf"), 0u);
  EXPECT_NE(one.files.at("DP_Content.ini").find("PackName=b.7z"), std::string::npos);
  EXPECT_EQ(one.files.at("b.7z.txt").rfind("D/B/1/*.*", 0), 0u);

  for (const char* atOnce : {"2", "3", "8"}) {
    SCOPED_TRACE(atOnce);
    const Outcome side = SearchAndInstall(atOnce);
    EXPECT_EQ(side.log, one.log);
    EXPECT_EQ(side.files, one.files);
    for (const char* file : {"DP_Content.ini", "DP_Extract.ini", "a.7z.txt", "b.7z.txt", "c.7z.txt"}) {
      ASSERT_EQ(side.files.count(file), 1u) << file;
      EXPECT_EQ(side.files.at(file), one.files.at(file)) << file;
    }
    // The runs overlapped and ended out of order: in each step another pack's run started and
    // ended while a.7z's ran.
    ASSERT_EQ(side.runs.size(), 12u);
    for (const std::size_t step : {std::size_t{0}, std::size_t{6}}) {
      const auto begin = side.runs.begin() + static_cast<std::ptrdiff_t>(step);
      const auto end = begin + 6;
      const auto aStart = std::find(begin, end, "start a.7z");
      const auto aEnd = std::find(begin, end, "end a.7z");
      ASSERT_TRUE(aStart < aEnd) << step;
      const auto otherEnd =
          std::find_if(aStart, aEnd, [](const std::string& l) { return l.rfind("end", 0) == 0; });
      EXPECT_NE(otherEnd, aEnd) << step;
    }
    // The runs' own folders are gone.
    EXPECT_FALSE(fs::exists(workDir + "PackRuns"));
  }
}

}  // namespace
