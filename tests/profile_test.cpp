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

TEST_F(ProfileTest, MissingFileGivesTheFallback) {
  EXPECT_EQ(profile::ReadString(ini, "Program", "AppMainPath", "Error reading AppMainPath param "),
            "Error reading AppMainPath param");
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

// The answers the Windows profile functions give on such a file, recorded on Windows itself,
// with each of the line ends they accept. A write in between changes none of them.
TEST_F(ProfileTest, ReadsAsWindowsDoes) {
  const std::vector<std::string> lines = {
      "",
      "key=val_no_section",
      "[]",
      "key=val_e_section",
      "[section1]",
      "name1=val1",
      "name2=\"val2\"",
      "name3",
      "name4=a",
      "name5='val5'",
      "name6=\" val 6 \"",
      "  name7  =  \"val7\"  ",
      "name8=\"val8",
      "name9=\"val9'",
      "name10=\"",
      "name11=\"\"",
      "name12=\"a\"b\"",
      "CMDPackDir=\"D:\\My Packs\\\"",
      "[section2]",
      "[s]",
      "=val_no_key",
      "[t]",
      "name1=after the nameless key's section",
  };
  struct Case {
    const char* section;
    const char* key;
    const char* fallback;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"section1", "name1", "default", "val1"},
      {"section1", "NaMe1", "default", "val1"},
      {"section1", "name3", "default", "default"},  // a line without '=' is no key
      {"section1", "name4", "default", "a"},
      {"section1", "notakey", "default", "default"},
      {"notasection", "name1", "default", "default"},
      {"section2", "DoesntExist", "", ""},
      // One pair of quotation marks around the whole value is dropped, after the blanks around it.
      {"section1", "name2", "default", "val2"},
      {"section1", "name5", "default", "val5"},
      {"section1", "name6", "default", " val 6 "},
      {"section1", "name7", "default", "val7"},
      {"section1", "name8", "default", "\"val8"},
      {"section1", "name9", "default", "\"val9'"},
      {"section1", "name10", "default", "\""},
      {"section1", "name11", "default", ""},
      {"section1", "name12", "default", "a\"b"},
      {"section1", "CMDPackDir", "default", "D:\\My Packs\\"},
      // The fallback comes back without its trailing blanks; blanks elsewhere stay.
      {"section1", "notakey", "default  ", "default"},
      {"section1", "notakey", "one two  ", "one two"},
      {"section1", "notakey", "one two", "one two"},
      {"section1", "notakey", "  lead", "  lead"},
      {"section1", "notakey", "   ", ""},
      {"notasection", "name1", "Error reading CMDPackDir param ", "Error reading CMDPackDir param"},
      {"section1", "name1", "default  ", "val1"},
      // "=value" is the key with the empty name; "[]" the section with the empty name.
      {"s", "", "", "val_no_key"},
      {"s", "  ", "", "val_no_key"},
      {"t", "", "default", "default"},
      {"section1", "", "default  ", "default"},
      {"", "key", "", "val_e_section"},
      {"", "name1", "default", "default"},
      {"t", "name1", "default", "after the nameless key's section"},
  };
  const std::vector<std::string> section1Keys = {"name1", "name2", "name4", "name5", "name6", "name7",
                                                 "name8", "name9", "name10", "name11", "name12", "CMDPackDir"};
  const auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.section) + "/" + c.key + " fallback \"" + c.fallback + "\"");
      EXPECT_EQ(profile::ReadString(ini, c.section, c.key, c.fallback), c.expected);
    }
    EXPECT_EQ(profile::ReadSectionKeys(ini, "section1"), section1Keys);
    EXPECT_TRUE(profile::ReadSectionKeys(ini, "s").empty());  // the empty name is not listed
  };
  for (const std::string lineEnd : {"\r\n", "\r", "\n"}) {
    SCOPED_TRACE(lineEnd == "\r\n" ? "CR LF" : lineEnd == "\r" ? "CR" : "LF");
    std::string text;
    for (const std::string& line : lines) text += line + lineEnd;
    temp.Write("dp_tavi.ini", text);
    check("as written by hand");
    ASSERT_TRUE(profile::WriteString(ini, "section2", "added", "\"yes\""));
    EXPECT_EQ(Read("section2", "added"), "yes");
    check("after a write");
    // The write kept every line, each now ending in CR LF, and added one.
    std::string expected;
    for (const std::string& line : lines) {
      expected += line + "\r\n";
      if (line == "[section2]") expected += "added=\"yes\"\r\n";
    }
    EXPECT_EQ(temp.Read("dp_tavi.ini"), expected);
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
