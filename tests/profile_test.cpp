#include "platform/profile.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fs = std::filesystem;
namespace profile = platform::profile;

namespace {

#ifndef _WIN32
// Runs `body` without the right to override file permissions. Under root (where permission
// bits do not stop anything) it runs in a child process that has dropped to the "nobody"
// account. Nothing when that is not possible.
std::optional<bool> RunUnprivileged(const std::function<bool()>& body) {
  if (::geteuid() != 0) return body();
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
    return std::nullopt;
  return WEXITSTATUS(status) == 0;
}
#endif

class ProfileTest : public ::testing::Test {
 protected:
  TempDir temp;
  std::string ini;

  void SetUp() override { ini = temp.File("dp_tavi.ini"); }
  std::string Read(const std::string& section, const std::string& key) {
    return profile::ReadString(ini, section, key, "fallback");
  }
};

TEST_F(ProfileTest, MissingFileGivesTheFallbackUnchanged) {
  EXPECT_EQ(profile::ReadString(ini, "Program", "AppMainPath", "Error reading AppMainPath param "),
            "Error reading AppMainPath param ");
  EXPECT_TRUE(profile::ReadSectionNames(ini).empty());
  EXPECT_TRUE(profile::ReadSectionKeys(ini, "Program").empty());
  EXPECT_FALSE(temp.Exists("dp_tavi.ini"));
}

TEST_F(ProfileTest, FirstWriteCreatesTheFile) {
  ASSERT_TRUE(profile::WriteString(ini, "Program", "Initial", "Yes"));
  ASSERT_TRUE(profile::WriteString(ini, "Program", "Start From", "Non CD"));
  ASSERT_TRUE(profile::WriteString(ini, "Automation", "AutoDPInstall", "No"));
  EXPECT_EQ(temp.Read("dp_tavi.ini"),
            "[Program]\r\nInitial=Yes\r\nStart From=Non CD\r\n[Automation]\r\nAutoDPInstall=No\r\n");
  EXPECT_EQ(Read("Program", "Start From"), "Non CD");
}

TEST_F(ProfileTest, WindowsStylePathsWork) {
  const std::string windowsStyle = temp.path() + "sub\\dp_tavi.ini";
  temp.MakeDir("sub");
  ASSERT_TRUE(profile::WriteString(windowsStyle, "S", "k", "v"));
  EXPECT_EQ(temp.Read("sub/dp_tavi.ini"), "[S]\r\nk=v\r\n");
  EXPECT_EQ(profile::ReadString(windowsStyle, "S", "k", ""), "v");
}

TEST_F(ProfileTest, NamesMatchIgnoringCaseAndBlanks) {
  temp.Write("dp_tavi.ini",
             "[Program]\r\n  initial  =  Yes  \r\n[ DP_Options ]\r\nDPExternal=no\r\nEmpty=\r\n"
             "[program]\r\nRecreateIni=YES\r\n");
  struct Case {
    std::string section, key, expected;
  };
  const std::vector<Case> cases = {
      {"Program", "Initial", "Yes"},          {"PROGRAM", "INITIAL", "Yes"},
      {"dp_options", "dpexternal", "no"},     {"DP_Options", "Empty", ""},
      {"Program", "RecreateIni", "fallback"},  // only the first [Program] section counts
      {"Program", "Missing", "fallback"},     {"Missing", "Initial", "fallback"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section + "/" + c.key);
    EXPECT_EQ(Read(c.section, c.key), c.expected);
  }
}

TEST_F(ProfileTest, WritesKeepCommentsAndUnknownLinesInPlace) {
  const std::string original =
      "; Velmora settings\r\n"
      "[Program]\r\n"
      "Initial=Yes\r\n"
      "; the program's own folder\r\n"
      "this line has no equals sign\r\n"
      "AppMainPath=C:\\Velmora\\Velmora_TAVI.exe\r\n"
      "\r\n"
      "[DP_Options]\r\n"
      "DPExternal=Yes\r\n";
  temp.Write("dp_tavi.ini", original);
  ASSERT_TRUE(profile::WriteString(ini, "program", "INITIAL", "no"));
  ASSERT_TRUE(profile::WriteString(ini, "Program", "RecreateIni", "no"));
  ASSERT_TRUE(profile::WriteString(ini, "Automation", "AutoHWIDSearch", "No"));
  EXPECT_EQ(temp.Read("dp_tavi.ini"),
            "; Velmora settings\r\n"
            "[Program]\r\n"
            "Initial=no\r\n"
            "; the program's own folder\r\n"
            "this line has no equals sign\r\n"
            "AppMainPath=C:\\Velmora\\Velmora_TAVI.exe\r\n"
            "RecreateIni=no\r\n"
            "\r\n"
            "[DP_Options]\r\n"
            "DPExternal=Yes\r\n"
            "[Automation]\r\n"
            "AutoHWIDSearch=No\r\n");
  EXPECT_EQ(Read("Program", "this line has no equals sign"), "fallback");
}

TEST_F(ProfileTest, DuplicateSectionsReadAndWriteTheFirst) {
  temp.Write("dp_tavi.ini", "[Msg]\r\nlog1=first\r\n[Other]\r\n[MSG]\r\nlog1=second\r\nlog2=only later\r\n");
  EXPECT_EQ(Read("Msg", "log1"), "first");
  EXPECT_EQ(Read("Msg", "log2"), "fallback");
  ASSERT_TRUE(profile::WriteString(ini, "msg", "log2", "now"));
  EXPECT_EQ(temp.Read("dp_tavi.ini"),
            "[Msg]\r\nlog1=first\r\nlog2=now\r\n[Other]\r\n[MSG]\r\nlog1=second\r\nlog2=only later\r\n");
  EXPECT_EQ(profile::ReadSectionNames(ini), (std::vector<std::string>{"Msg", "Other"}));
  EXPECT_EQ(profile::ReadSectionKeys(ini, "MSG"), (std::vector<std::string>{"log1", "log2"}));
}

TEST_F(ProfileTest, GarbageFileKeepsItsBytesAndTakesTheKey) {
  std::mt19937 generator(7);
  std::string garbage(256 * 1024, '\0');
  for (char& c : garbage) c = static_cast<char>(generator() & 0xFF);
  garbage += "\r\n";  // so its last line ends like every line written back
  // Written back with CR LF after every line: normalise the garbage that way for the check.
  std::string expected;
  for (std::size_t pos = 0; pos < garbage.size();) {
    const std::size_t end = garbage.find_first_of("\r\n", pos);
    expected += garbage.substr(pos, end - pos) + "\r\n";
    pos = end + ((garbage[end] == '\r' && end + 1 < garbage.size() && garbage[end + 1] == '\n') ? 2 : 1);
  }
  temp.Write("dp_tavi.ini", garbage);
  profile::ReadSectionNames(ini);
  EXPECT_EQ(Read("Program", "Initial"), "fallback");
  ASSERT_TRUE(profile::WriteString(ini, "Velmora", "Initial", "Yes"));
  EXPECT_EQ(Read("Velmora", "Initial"), "Yes");
  const std::string written = temp.Read("dp_tavi.ini");
  ASSERT_GE(written.size(), expected.size());
  EXPECT_EQ(written.substr(0, expected.size()), expected);
  EXPECT_EQ(written.substr(expected.size()), "[Velmora]\r\nInitial=Yes\r\n");
}

TEST_F(ProfileTest, ReadOnlyFileIsNotWritten) {
  const std::string original = "[Program]\r\nInitial=no\r\n";
  temp.Write("dp_tavi.ini", original);
  fs::permissions(ini, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_FALSE(profile::WriteString(ini, "Program", "Initial", "Yes"));
  EXPECT_FALSE(profile::WriteString(ini, "Program", "Other", "x"));
  EXPECT_EQ(temp.Read("dp_tavi.ini"), original);
  EXPECT_EQ(Read("Program", "Initial"), "no");
}

TEST_F(ProfileTest, ReadOnlyFolderIsNotWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no read-only folders: the read-only attribute of a folder does not "
                  "stop files in it from being written or created";
#else
  const std::string folder = temp.MakeDir("ro");
  const std::string existing = temp.Write("ro/dp_tavi.ini", "[Program]\r\nInitial=no\r\n");
  fs::permissions(existing, fs::perms::all);  // the file itself may be written
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const std::optional<bool> wroteExisting =
      RunUnprivileged([&] { return profile::WriteString(existing, "Program", "Initial", "Yes"); });
  const std::optional<bool> wroteNew =
      RunUnprivileged([&] { return profile::WriteString(folder + "new.ini", "Program", "Initial", "Yes"); });
  if (!wroteExisting || !wroteNew) GTEST_SKIP() << "cannot run without the right to override permissions";
  EXPECT_FALSE(*wroteExisting);
  EXPECT_FALSE(*wroteNew);
  EXPECT_EQ(temp.Read("ro/dp_tavi.ini"), "[Program]\r\nInitial=no\r\n");
  EXPECT_FALSE(temp.Exists("ro/new.ini"));
#endif
}

TEST_F(ProfileTest, UnwritableTargetsGiveFalse) {
  temp.MakeDir("folder.ini");
  EXPECT_FALSE(profile::WriteString(temp.File("folder.ini"), "S", "k", "v"));
  EXPECT_FALSE(profile::WriteString(temp.File("missing/dp_tavi.ini"), "S", "k", "v"));
  EXPECT_FALSE(temp.Exists("missing"));
}

TEST_F(ProfileTest, NamesAndValuesThatCannotBeStoredGiveFalse) {
  const std::string original = "[Program]\r\nInitial=no\r\n";
  temp.Write("dp_tavi.ini", original);
  EXPECT_FALSE(profile::WriteString(ini, "Program", "Initial", "Yes\r\n[Evil]\r\nx=1"));
  EXPECT_FALSE(profile::WriteString(ini, "Program", "A=B", "v"));
  EXPECT_FALSE(profile::WriteString(ini, "Pro]gram", "k", "v"));
  EXPECT_FALSE(profile::WriteString(ini, "Program", "", "v"));
  EXPECT_EQ(temp.Read("dp_tavi.ini"), original);
}

TEST_F(ProfileTest, ListsSectionsAndKeys) {
  temp.Write("dp_tavi.ini",
             "[Program]\r\nInitial=no\r\n;Comment=x\r\nno equals\r\nAppMainPath=x\r\nINITIAL=dup\r\n"
             "[DP_Options]\r\n[Automation]\r\nAutoDPInstall=No\r\n");
  EXPECT_EQ(profile::ReadSectionNames(ini),
            (std::vector<std::string>{"Program", "DP_Options", "Automation"}));
  EXPECT_EQ(profile::ReadSectionKeys(ini, "program"), (std::vector<std::string>{"Initial", "AppMainPath"}));
  EXPECT_TRUE(profile::ReadSectionKeys(ini, "DP_Options").empty());
}

TEST_F(ProfileTest, HugeFileIsReadAndWritten) {
  // About 100 MB of short key lines: the worst case for the line tables.
  constexpr std::size_t kTarget = 100u * 1024 * 1024;
  {
    std::ofstream out(ini, std::ios::binary);
    std::string keys;
    for (int i = 0; i < 1000; ++i) keys += "k" + std::to_string(i) + "=" + std::to_string(i % 10) + "\r\n";
    std::size_t written = 0;
    for (int section = 0; written < kTarget; ++section) {
      const std::string header = "[Section" + std::to_string(section) + "]\r\n";
      out << header << keys;
      written += header.size() + keys.size();
    }
  }
  const auto size = fs::file_size(ini);
  EXPECT_EQ(profile::ReadString(ini, "Section0", "k999", "x"), "9");
  EXPECT_EQ(profile::ReadString(ini, "section10000", "K5", "x"), "5");
  ASSERT_TRUE(profile::WriteString(ini, "Section3", "Added", "yes"));
  ASSERT_TRUE(profile::WriteString(ini, "Section3", "k1", "changed"));
  EXPECT_EQ(profile::ReadString(ini, "Section3", "Added", "x"), "yes");
  EXPECT_EQ(profile::ReadString(ini, "Section3", "k1", "x"), "changed");
  EXPECT_EQ(profile::ReadString(ini, "Section3", "k2", "x"), "2");
  EXPECT_EQ(fs::file_size(ini),
            size + std::string("Added=yes\r\n").size() + std::string("changed").size() - 1);
}

}  // namespace
