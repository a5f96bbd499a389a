// The clean-up batch file shipped beside the Windows program, run by cmd.exe the way the
// program starts it: it empties the working folder of unpacked drivers, keeps the program's
// own files and the driver packs, and refuses any folder that is not a working folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
namespace proc = platform::process;

std::string Backslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

const std::string kScript = Backslashes(std::string(VELMORA_SOURCE_DIR) + "/data/windows/clean.cmd");

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Starts the batch file with the arguments (each quoted, as the program quotes the working
// folder) and returns its exit code once it has ended.
int RunScript(const std::vector<std::string>& args) {
  proc::StartInfo info;
  info.commandLine = proc::QuoteArgument(kScript);
  for (const std::string& arg : args) info.commandLine += " " + proc::QuoteArgument(arg);
  proc::ChildProcess child = proc::ChildProcess::Start(info);
  child.Wait(proc::ChildProcess::kInfinite);
  return child.ExitCode();
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
    "DP/Big Pack.7z",
    "DP/sub/deeper/Nested (2) & more!.7Z",
};

// What unpacking leaves behind; all of it goes.
const std::vector<std::string> kUnpacked = {
    "UnpackedDP.txt",
    "Graphics/Intel/igdlh.inf",
    "name with blanks/driver.sys",
    "stray.inf",
    "-rf",
    ";starts with a semicolon.inf",
    "a&b (1)!.inf",
    "x & (y)!/z (1)/driver.cat",
    "folder.txt/inside.inf",
    "DP/readme.inf",
    "DP/sub/deeper/old.sys",
    "DP/sub/other/old.sys",
};

// The top-level folders among them that hold no pack, and the folders inside DP.
const std::vector<std::string> kUnpackedFolders = {
    "Graphics", "name with blanks", "x & (y)!", "folder.txt", "DP/sub/other",
};

class CleanCmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windir = dir.MakeDir("win");
    work = Backslashes(dir.MakeDir("win/dp_tavi"));
    work.pop_back();  // the program passes the working folder without a trailing separator
    dir.Write("outside/precious", "keep me");
    for (const std::string& name : kProgramFiles) dir.Write("win/dp_tavi/" + name, "x");
    for (const std::string& name : kUnpacked) dir.Write("win/dp_tavi/" + name, "x");
    // A hidden, read-only system file, as folders copied from Windows carry.
    const std::string thumbs = dir.Write("win/dp_tavi/Graphics/Thumbs.db", "x");
    SetFileAttributesA(Backslashes(thumbs).c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  }

  bool InWork(const std::string& name) const { return dir.Exists("win/dp_tavi/" + name); }

  void ExpectCleaned() {
    for (const std::string& name : kProgramFiles) EXPECT_TRUE(InWork(name)) << name;
    for (const std::string& name : kUnpacked) EXPECT_FALSE(InWork(name)) << name;
    for (const std::string& name : kUnpackedFolders) EXPECT_FALSE(InWork(name)) << name;
    // The folders that hold packs stay, and only the packs in them.
    EXPECT_TRUE(InWork("DP/sub/deeper"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("win/dp_tavi/DP/sub")), fs::directory_iterator()),
              1);
    ExpectOutsideIntact();
  }

  void ExpectUntouched() {
    for (const std::string& name : kProgramFiles) EXPECT_TRUE(InWork(name)) << name;
    for (const std::string& name : kUnpacked) EXPECT_TRUE(InWork(name)) << name;
    ExpectOutsideIntact();
  }

  void ExpectOutsideIntact() { EXPECT_EQ(dir.Read("outside/precious"), "keep me"); }

  TempDir dir;
  std::string windir;
  std::string work;
};

TEST_F(CleanCmdTest, CleansTheFolderGivenAsArgument) {
  EXPECT_EQ(RunScript({work}), 0);
  ExpectCleaned();
  // A second run finds nothing more to do.
  EXPECT_EQ(RunScript({work}), 0);
  ExpectCleaned();
}

TEST_F(CleanCmdTest, TakesTheWorkingFolderInAnyFormAndFindsItWithoutArgument) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* windir;  // WINDIR for the run, when set
  };
  fs::rename(dir.File("win/dp_tavi"), dir.File("win/DP_TAVI"));
  const std::string upper = Backslashes(dir.File("win/DP_TAVI"));
  const std::vector<Case> cases = {
      {"other letter case", {upper}, nullptr},
      {"trailing separators", {upper + "\\\\"}, nullptr},
      {"forward slashes", {dir.File("win/DP_TAVI/")}, nullptr},
      {"no argument: the Windows folder's dp_tavi", {}, "win"},
  };
  char saved[MAX_PATH] = {};
  const DWORD savedLength = GetEnvironmentVariableA("WINDIR", saved, MAX_PATH);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();  // fresh litter in the working folder
    if (c.windir != nullptr) SetEnvironmentVariableA("WINDIR", Backslashes(dir.File(c.windir)).c_str());
    EXPECT_EQ(RunScript(c.args), 0);
    SetEnvironmentVariableA("WINDIR", savedLength > 0 ? saved : nullptr);
    ExpectCleaned();
  }
}

TEST_F(CleanCmdTest, RefusesFoldersThatAreNotAWorkingFolder) {
  dir.Write("file/dp_tavi", "a file, not a folder");
  const std::string windirBackslashed = Backslashes(windir);
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {"not named dp_tavi", {windirBackslashed}},
      {"the parent through \"..\"", {work + "\\.."}},
      {"named dp_tavi only before \"..\"", {work + "\\..\\dp_tavi\\.."}},
      {"missing", {Backslashes(dir.File("none/dp_tavi"))}},
      {"a file", {Backslashes(dir.File("file/dp_tavi"))}},
      {"a drive's root", {work.substr(0, 3)}},
      {"empty argument", {""}},
      {"two arguments", {work, work}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunScript(c.args), 1);
    ExpectUntouched();
  }
  // Without an argument and without a dp_tavi in the Windows folder.
  char saved[MAX_PATH] = {};
  const DWORD savedLength = GetEnvironmentVariableA("WINDIR", saved, MAX_PATH);
  SetEnvironmentVariableA("WINDIR", Backslashes(dir.File("outside")).c_str());
  EXPECT_EQ(RunScript({}), 1);
  SetEnvironmentVariableA("WINDIR", savedLength > 0 ? saved : nullptr);
  ExpectUntouched();
}

TEST_F(CleanCmdTest, AnEntryThatCannotBeRemovedGivesExitCodeTwo) {
  // Held open without sharing, a file cannot be deleted, nor the folders around it removed:
  // one at the top of the working folder, one deep in a driver folder.
  for (const char* name : {"stray.inf", "Graphics/Intel/igdlh.inf"}) {
    SCOPED_TRACE(name);
    SetUp();
    const std::string locked = Backslashes(dir.File(std::string("win/dp_tavi/") + name));
    HANDLE handle = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunScript({work}), 2);
    CloseHandle(handle);
    EXPECT_TRUE(InWork(name));
    // Everything else is done all the same.
    EXPECT_FALSE(InWork("name with blanks"));
    EXPECT_FALSE(InWork("x & (y)!"));
    EXPECT_FALSE(InWork("DP/readme.inf"));
    for (const std::string& program_file : kProgramFiles) EXPECT_TRUE(InWork(program_file)) << program_file;
    ExpectOutsideIntact();
  }
}

TEST_F(CleanCmdTest, NamesWithPercentSigns) {
  dir.Write("win/dp_tavi/100% done.inf", "x");
  dir.Write("win/dp_tavi/%WINDIR%", "x");
  dir.Write("win/dp_tavi/%TEMP%/driver.sys", "x");
  dir.Write("outside/%WINDIR%", "keep me");
  if (UnderWine()) {
    // Wine's cmd expands "%" in a variable's value once more ("%WINDIR%" would name the Windows
    // folder): such names are left alone there and reported; everything else is cleaned.
    EXPECT_EQ(RunScript({work}), 2);
    for (const char* name : {"100% done.inf", "%WINDIR%", "%TEMP%/driver.sys"})
      EXPECT_TRUE(InWork(name)) << name;
  } else {
    EXPECT_EQ(RunScript({work}), 0);
    for (const char* name : {"100% done.inf", "%WINDIR%", "%TEMP%"}) EXPECT_FALSE(InWork(name)) << name;
  }
  ExpectCleaned();
  EXPECT_TRUE(dir.Exists("outside/%WINDIR%"));
  char windows[MAX_PATH] = {};
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  EXPECT_TRUE(fs::exists(std::string(windows) + "\\system32\\cmd.exe"));
}

}  // namespace
