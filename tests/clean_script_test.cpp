// The clean-up script shipped beside the program: it empties the working folder of
// unpacked drivers, keeps the program's own files and the driver packs, and never reaches
// outside the working folder.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string kScript = std::string(VELMORA_SOURCE_DIR) + "/data/clean.cmd";

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

// Runs the script with the environment settings (shell words such as "HOME=/x" or
// "-u VELMORA_WINDIR" for env) and the arguments; returns its exit status.
int RunScript(const std::vector<std::string>& env, const std::vector<std::string>& args) {
  std::string command = "env";
  for (const std::string& setting : env) command += " " + setting;
  command += " /bin/sh " + Quote(kScript);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " 2>/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Files of the program that stay in the working folder.
const std::vector<std::string> kProgramFiles = {
    "dp_tavi.ini",
    "DP_TAVI_Error.log",
    "UnattendedLOg.txt",
    "HWIDs.ini",
    "drivers.txt",
    "classes.txt",
    "HWIDSL.txt",
    "HWIDSTEMP.txt",
    "oldtree.txt",
    "newtree.txt",
    "VelmoraTAVI.XML",
    "DP_Content.ini",
    "DP_Extract.ini",
    "cmd",
    "cmdout",
    "ListOfComponents.ini",
    // saved logs and reports, the per-pack list files of the extraction
    "[08.12.2026 20.56.10] - Velmora_TAVI ApplicationLog.txt",
    "Graphics.7z.txt",
    // driver packs
    "Pack One.7z",
    "CHIPSET.7Z",
};

class CleanScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windir = dir.MakeDir("win");
    work = dir.MakeDir("win/dp_tavi");
    dir.Write("outside/precious", "keep me");
    for (const std::string& name : kProgramFiles) dir.Write("win/dp_tavi/" + name, "x");
    dir.Write("win/dp_tavi/UnpackedDP.txt", "Pack One.7z\r\n");
    // What unpacking leaves behind.
    dir.Write("win/dp_tavi/Graphics/Intel/igdlh.inf", "[Version]");
    dir.Write("win/dp_tavi/name with blanks/driver.sys", "x");
    dir.Write("win/dp_tavi/stray.inf", "x");
    dir.Write("win/dp_tavi/-rf", "x");
    dir.Write("win/dp_tavi/odd\nname", "x");
    dir.Write("win/dp_tavi/folder.txt/inside.inf", "x");
    // Links that lead out of the working folder.
    fs::create_directory_symlink(dir.File("outside"), work + "link to outside");
    fs::create_symlink(dir.File("outside/precious"), work + "link to file");
    fs::create_directory_symlink(dir.File("outside"), work + "Graphics/escape");
    // A folder that holds a driver pack among other files.
    dir.Write("win/dp_tavi/DP/Big Pack.7z", "7z");
    dir.Write("win/dp_tavi/DP/readme.inf", "x");
    dir.Write("win/dp_tavi/DP/sub/deeper/old.sys", "x");
  }

  void ExpectCleaned() {
    for (const std::string& name : kProgramFiles) EXPECT_TRUE(fs::exists(work + name)) << name;
    // The record of unpacked packs goes with the unpacked drivers, so the packs are unpacked
    // again next time.
    for (const char* gone :
         {"UnpackedDP.txt", "Graphics", "name with blanks", "stray.inf", "-rf", "odd\nname", "folder.txt",
          "link to outside", "link to file", "DP/readme.inf", "DP/sub"}) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(work + gone))) << gone;
    }
    EXPECT_TRUE(fs::exists(work + "DP/Big Pack.7z"));
    ExpectOutsideIntact();
  }

  void ExpectUntouched() {
    EXPECT_TRUE(fs::exists(work + "Graphics/Intel/igdlh.inf"));
    EXPECT_TRUE(fs::exists(work + "stray.inf"));
    ExpectOutsideIntact();
  }

  void ExpectOutsideIntact() { EXPECT_EQ(dir.Read("outside/precious"), "keep me"); }

  TempDir dir;
  std::string windir;
  std::string work;
};

TEST(CleanScript, IsAnExecutableShellScript) {
  EXPECT_EQ(::access(kScript.c_str(), X_OK), 0);
  TempDir dir;
  const std::string copy = dir.Write("clean.cmd", "");
  fs::copy_file(kScript, copy, fs::copy_options::overwrite_existing);
  EXPECT_EQ(dir.Read("clean.cmd").rfind("#!/bin/sh\n", 0), 0u);
}

TEST_F(CleanScriptTest, CleansTheFolderGivenAsArgument) {
  EXPECT_EQ(RunScript({}, {work}), 0);
  ExpectCleaned();
  // A second run finds nothing more to do.
  EXPECT_EQ(RunScript({}, {work}), 0);
  ExpectCleaned();
}

TEST_F(CleanScriptTest, FindsTheWorkingFolderLikeTheProgram) {
  struct Case {
    const char* name;
    std::vector<std::string> env;
  };
  const std::string xdg = dir.File("xdg");
  const std::string home = dir.File("home");
  const std::vector<Case> cases = {
      {"VELMORA_WINDIR", {"VELMORA_WINDIR=" + Quote(windir)}},
      {"XDG_DATA_HOME", {"-u VELMORA_WINDIR", "XDG_DATA_HOME=" + Quote(xdg)}},
      {"HOME", {"-u VELMORA_WINDIR", "-u XDG_DATA_HOME", "HOME=" + Quote(home)}},
  };
  fs::create_directories(xdg);
  fs::create_directories(home + "/.local/share");
  // Point the other two places at the same folder through a link of the Windows folder.
  fs::create_directory_symlink(dir.File("win"), xdg + "/velmora");
  fs::create_directory_symlink(dir.File("win"), home + "/.local/share/velmora");
  bool first = true;
  for (const Case& c : cases) {
    if (!first) SetUp();  // fresh litter in the same folders
    first = false;
    EXPECT_EQ(RunScript(c.env, {}), 0) << c.name;
    ExpectCleaned();
  }
}

TEST_F(CleanScriptTest, RefusesFoldersThatAreNotAWorkingFolder) {
  dir.Write("file/dp_tavi", "a file, not a folder");
  fs::create_directories(dir.File("links"));
  fs::create_directory_symlink(work, dir.File("links/dp_tavi"));
  struct Case {
    const char* name;
    std::vector<std::string> env;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {"not named dp_tavi", {}, {windir}},
      {"missing", {}, {dir.File("none/dp_tavi")}},
      {"a file", {}, {dir.File("file/dp_tavi")}},
      {"a symbolic link", {}, {dir.File("links/dp_tavi")}},
      {"empty argument", {}, {""}},
      {"two arguments", {}, {work, work}},
      {"nothing to find it by", {"-u VELMORA_WINDIR", "-u XDG_DATA_HOME", "-u HOME"}, {}},
      {"Windows folder without working folder", {"VELMORA_WINDIR=" + Quote(dir.File("outside"))}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunScript(c.env, c.args), 1) << c.name;
    ExpectUntouched();
  }
}

}  // namespace
