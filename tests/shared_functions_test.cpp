#include "shared/shared_functions.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

TEST(TimeStampTest, FormatsDayMonthYearAndTimeWithDots) {
  struct Case {
    std::tm time;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {MakeTime(2026, 2, 3, 9, 5, 7), "[03.02.2026 09.05.07] "},
      {MakeTime(1999, 12, 31, 23, 59, 59), "[31.12.1999 23.59.59] "},
      {MakeTime(2000, 1, 1, 0, 0, 0), "[01.01.2000 00.00.00] "},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatTimeStamp(c.time), c.expected);
}

TEST(TimeStampTest, StampsNowAndRemembersTheLastStamp) {
  ClearLastTimeStamp();
  EXPECT_EQ(LastTimeStamp(), "");
  // The second may turn between the stamp and the clock read; try again when it did.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::time_t before = std::time(nullptr);
    const std::string stamp = LogzTimeAndDate(1);
    const std::time_t after = std::time(nullptr);
    ASSERT_TRUE(std::regex_match(stamp, std::regex(R"(\[\d\d\.\d\d\.\d{4} \d\d\.\d\d\.\d\d\] )"))) << stamp;
    EXPECT_EQ(LastTimeStamp(), stamp.substr(1, 19));
    if (before != after) continue;
    EXPECT_EQ(stamp, FormatTimeStamp(*std::localtime(&before)));
    break;
  }
  const std::string remembered = LastTimeStamp();
  for (const std::uint8_t flag : {std::uint8_t{0}, std::uint8_t{2}, std::uint8_t{255}}) {
    EXPECT_EQ(LogzTimeAndDate(flag), "");
    EXPECT_EQ(LastTimeStamp(), remembered);
  }
  ClearLastTimeStamp();
  EXPECT_EQ(LastTimeStamp(), "");
  // Within one second the stamp is worked out once; a clear is still followed by a remembered stamp.
  const std::string again = LogzTimeAndDate(1);
  EXPECT_EQ(LastTimeStamp(), again.substr(1, 19));

  // The stamp follows the clock into the next second.
  const std::time_t first = std::time(nullptr);
  LogzTimeAndDate(1);
  while (std::time(nullptr) == first) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::time_t before = std::time(nullptr);
  const std::string next = LogzTimeAndDate(1);
  const std::time_t after = std::time(nullptr);
  EXPECT_TRUE(next == FormatTimeStamp(*std::localtime(&before)) || next == FormatTimeStamp(*std::localtime(&after)))
      << next;
}

TEST(GetWordTest, CutsTheNthWord) {
  struct Case {
    std::string text, delimiter;
    int n;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"a:b:c", ":", 1, "a"},
      {"a:b:c", ":", 2, "b"},
      {"a:b:c", ":", 3, "c"},
      {"a:b:c", ":", 4, ""},
      {"a:b:c", ":", 0, ""},
      {"a:b:c", ":", -1, ""},
      {"abc", ":", 1, "abc"},
      {"abc", ":", 2, ""},
      {":a", ":", 1, ""},
      {":a", ":", 2, "a"},
      {"a:", ":", 1, "a"},
      {"a:", ":", 2, ""},
      {"a::b", ":", 3, "b"},
      {"", ":", 1, ""},
      {"PCI\\VEN_8086[Intel]", "[", 2, "Intel]"},
      {"abc", "", 1, "abc"},
      {"one<>two<>three", "<>", 2, "two"},  // a longer delimiter is cut whole
      {"one<>two<>three", "<>", 3, "three"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.delimiter + " / " + std::to_string(c.n));
    EXPECT_EQ(GetWord(c.text, c.delimiter, c.n), c.expected);
  }
}

TEST(StrReplaceTest, ReplacesUntilNoOccurrenceIsLeft) {
  struct Case {
    std::string text, oldText, newText, expected;
  };
  const std::vector<Case> cases = {
      // Six leading blanks become two: each round starts again from the beginning.
      {StrToAscii("      x"), "#32#32#32#", "#32#", StrToAscii("  x")},
      {"aaabbb", "ab", "", ""},
      {"xaabx", "ab", "b", "xbx"},
      {"no match", "zz", "y", "no match"},
      {"", "a", "b", ""},
      {"abc", "", "x", "abc"},
      // The new text holds the old one: each occurrence is replaced once.
      {"a-a", "a", "aa", "aa-aa"},
      {"#32#", "#32#", "#32#32#", "#32#32#"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.oldText + " / " + c.newText);
    EXPECT_EQ(StrReplace(c.text, c.oldText, c.newText), c.expected);
  }
}

TEST(StrReplaceTest, EndlessGrowthIsReportedNotLoopedOn) {
  // "ab" -> "bbaa" never contains "ab" itself, yet every 'a' that passes the 'b's doubles them.
  EXPECT_THROW(StrReplace(std::string(24, 'a') + "b", "ab", "bbaa"), std::length_error);
}

TEST(PercentEncodeTest, KeepsUnreservedCharactersAndEncodesEveryOtherByte) {
  struct Case {
    std::string text, encoded;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"AZaz09-._~", "AZaz09-._~"},
      {"PCI\\VEN_1AB2&DEV_3C4D", "PCI%5CVEN_1AB2%26DEV_3C4D"},
      {"Search via Inet", "Search%20via%20Inet"},
      {"a+b=c?d#e/f:g%h", "a%2Bb%3Dc%3Fd%23e%2Ff%3Ag%25h"},
      {"@[]!$'()*,;\"<>{}|^`", "%40%5B%5D%21%24%27%28%29%2A%2C%3B%22%3C%3E%7B%7D%7C%5E%60"},
      {"\xC3\xA4", "%C3%A4"},  // UTF-8 bytes of a non-ASCII letter
      {std::string("\0\t\x7F\xFF", 4), "%00%09%7F%FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PercentEncode(c.text), c.encoded);
  }
}

TEST(IsInFolderTest, NeedsTheWholeFolderAndASeparator) {
  struct Case {
    std::string path, folder;
    bool exact, ignoringCase;
  };
  const std::vector<Case> cases = {
      {"C:\\WINDOWS\\inf\\net.inf", "C:\\WINDOWS", true, true},
      {"C:\\WINNT\\system32\\rt.sys", "C:\\WINNT", true, true},
      {"C:\\WINDOWS\\inf", "C:\\WINDOWS\\", true, true},  // the folder ends with a separator
      {"/srv/win/drivers/rt.sys", "/srv/win", true, true},
      {"/srv/win\\drivers", "/srv/win", true, true},                  // either separator
      {"/srv/win/", "/srv/win", true, true},                          // a separator right after it
      {"/usr/lib", "/", true, true},                                  // the root holds everything
      {"C:\\WINDOWSOLD\\rt.sys", "C:\\WINDOWS", false, false},        // a folder beside it
      {"C:\\WINDOWS", "C:\\WINDOWS", false, false},                   // the folder itself
      {"C:\\WIN", "C:\\WINDOWS", false, false},                       // shorter than the folder
      {"D:\\C:\\WINDOWS\\rt.sys", "C:\\WINDOWS", false, false},       // elsewhere in the path
      {"C:\\WINDOWS\\rt.sys", "", false, false},                      // no folder
      {"c:\\windows\\system32\\rt.sys", "C:\\WINDOWS", false, true},  // only the case differs
      {"C:\\WINDOWS\\rt.sys", "c:\\Windows", false, true},
      {"C:\\WIND\xC3\x96WS\\rt.sys", "C:\\WIND\xC3\xB6WS", false, false},  // ASCII letters only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " in " + c.folder);
    EXPECT_EQ(IsInFolder(c.path, c.folder, false), c.exact);
    EXPECT_EQ(IsInFolder(c.path, c.folder, true), c.ignoringCase);
  }
}

TEST(AsciiCodeTest, EncodesAndDecodes) {
  struct Case {
    std::string text, codes;
  };
  const std::vector<Case> cases = {
      {"abc", "#97#98#99"}, {"", ""}, {" ", "#32"}, {std::string("\0\xFF", 2), "#0#255"}, {"\r\n", "#13#10"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codes);
    EXPECT_EQ(StrToAscii(c.text), c.codes);
    EXPECT_EQ(ASCIIToStr(c.codes), c.text);
  }
  std::string every;
  for (int code = 0; code < 256; ++code) every += static_cast<char>(code);
  EXPECT_EQ(ASCIIToStr(StrToAscii(every)), every);
}

TEST(AsciiCodeTest, DecodingSkipsWhatIsNoNumber) {
  struct Case {
    std::string codes, expected;
  };
  const std::vector<Case> cases = {
      {"65", "A"},
      {"#x#66", "B"},
      {"##65##", "A"},
      {"#", ""},
      {"#+", ""},
      {"#-", ""},
      {"#6 5", ""},
      {"#321", "A"},  // low 8 bits
      {"#-1", "\xFF"},
      {"#+66", "B"},
      {"#99999999999#67", "C"},  // too big: skipped
      {"#2147483647", "\xFF"},
      {"#2147483648", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codes);
    EXPECT_EQ(ASCIIToStr(c.codes), c.expected);
  }
}

TEST(ListContainedTest, ComparesExactly) {
  const std::vector<std::string> list = {"Graphics.7z", "Sound.7z", ""};
  EXPECT_TRUE(ListContained("Sound.7z", list));
  EXPECT_TRUE(ListContained("", list));
  EXPECT_FALSE(ListContained("sound.7z", list));
  EXPECT_FALSE(ListContained("Sound.7z ", list));
  EXPECT_FALSE(ListContained("Sound.7z", {}));
}

TEST(MakePathsTest, KeepsOnlyExtractingLines) {
  const std::vector<std::string> output = {
      "7-Zip 23.01 (x64)",
      "Extracting  Graphics\\nv\\nv.inf",
      "extracting  lower\\case.inf",
      "EXTRACTING  upper\\case.inf",
      "Extract  short.inf",
      "Extracting",
      "Extractingx",
      "Everything is Ok",
  };
  std::vector<std::string> paths = {"kept from before"};
  MakePaths(&output, paths);
  EXPECT_EQ(paths, (std::vector<std::string>{"kept from before", " Graphics\\nv\\nv.inf", "", ""}));
  MakePaths(nullptr, paths);
  EXPECT_EQ(paths.size(), 4u);
}

class SharedFilesTest : public ::testing::Test {
 protected:
  TempDir temp;
};

TEST_F(SharedFilesTest, ListFileDirAppendsPacksIgnoringCase) {
  temp.Write("a.7z", "");
  temp.Write("b.7Z", "");
  temp.Write("c.zip", "");
  temp.Write("d.7z.txt", "");
  temp.MakeDir("folder.7z");
  std::vector<std::string> list = {"earlier"};
  ListFileDir(temp.path(), list);
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front(), "earlier");
  std::sort(list.begin() + 1, list.end());
  EXPECT_EQ(list, (std::vector<std::string>{"earlier", "a.7z", "b.7Z"}));

  std::vector<std::string> none;
  ListFileDir(temp.File("missing\\"), none);
  EXPECT_TRUE(none.empty());
}

TEST_F(SharedFilesTest, ShortFileNameOfExistingFilesOnly) {
  const std::string plain = temp.Write("Graphics.7z", "plain");
  const std::string blank = temp.Write("My Packs.7z", "blank");
#ifdef _WIN32
  // The system's 8.3 form (of the folders above too): no blank left, the same file.
  const std::string plainShort = platform::ShortPathName(plain);
  ASSERT_FALSE(plainShort.empty());
  EXPECT_EQ(ShortFileName(plain), plainShort);
  EXPECT_EQ(ShortFileName(blank).find(' '), std::string::npos) << ShortFileName(blank);
  EXPECT_EQ(platform::ReadWholeFile(ShortFileName(blank)), "blank");
#else
  const std::string plainShort = plain;
  EXPECT_EQ(ShortFileName(plain), plain);
  EXPECT_EQ(ShortFileName(blank), "\"" + blank + "\"");
#endif
  EXPECT_EQ(ShortFileName(temp.File("missing.7z")), "");
  // The archive command lines pass the pack path with a blank after it; Windows ignores it.
  EXPECT_EQ(ShortFileName(plain + " "), plainShort);
  EXPECT_EQ(ShortFileName(temp.MakeDir("folder")), "");
#ifndef _WIN32  // a double quote cannot be part of a name on Windows
  temp.Write("odd\".7z", "");
  EXPECT_EQ(ShortFileName(temp.File("odd\".7z")), temp.File("odd\".7z"));  // no short form: unchanged
#endif
}

TEST_F(SharedFilesTest, ComputerNameIsTheSystems) {
  EXPECT_EQ(GetComputerNetName(), platform::ComputerName());
}

TEST(RandomizeBufferTest, FillsWithUniformBytes) {
  std::array<std::uint8_t, 4096> first{};
  std::array<std::uint8_t, 4096> second{};
  RandomizeBuffer(first);
  RandomizeBuffer(second);
  EXPECT_NE(first, second);
  std::array<int, 256> counts{};
  std::vector<std::uint8_t> big(256 * 1024);
  RandomizeBuffer(big);
  for (const std::uint8_t byte : big) ++counts[byte];
  for (int value = 0; value < 256; ++value) {
    EXPECT_GT(counts[value], 1024 / 2) << value;
    EXPECT_LT(counts[value], 1024 * 3 / 2) << value;
  }
  std::array<std::uint8_t, 3> odd{};
  RandomizeBuffer(odd);  // sizes that are no multiple of four
}

TEST_F(SharedFilesTest, WipeFileOverwritesEveryByteThenDeletes) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{4096},
                                 std::size_t{4097}, std::size_t{3 * 4096 + 5}}) {
    SCOPED_TRACE(size);
    const std::string original(size, 'A');
    const std::string file = temp.Write("wipe.bin", original);
    // A second name for the same data shows what the wipe wrote.
    fs::create_hard_link(file, temp.File("witness.bin"));
    WipeFile(file);
    EXPECT_FALSE(temp.Exists("wipe.bin"));
    const std::string wiped = temp.Read("witness.bin");
    ASSERT_EQ(wiped.size(), size);
    if (size >= 64) {
      EXPECT_EQ(wiped.find(std::string(64, 'A')), std::string::npos);
    }
    // Every 4096-byte piece of a pass carries the same block.
    if (size >= 2 * 4096) {
      EXPECT_EQ(wiped.substr(0, 4096), wiped.substr(4096, 4096));
    }
    if (size > 3 * 4096) {
      EXPECT_EQ(wiped.substr(3 * 4096), wiped.substr(0, size - 3 * 4096));
    }
    fs::remove(temp.File("witness.bin"));
  }
}

TEST_F(SharedFilesTest, WipeFileLeavesALockedFileInPlace) {
  const std::string file = temp.Write("DPINST.LOG", "installer log");
  {
    platform::ExclusiveFile holder(file);  // another opener holding the file
    EXPECT_THROW(WipeFile(file), platform::FileError);
  }
  EXPECT_EQ(temp.Read("DPINST.LOG"), "installer log");

#ifndef _WIN32
  // A record lock of another program counts as well. (Windows has no advisory locks: a
  // program that holds the file open without sharing is the case above.)
  const int fd = ::open(file.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(fd, F_SETLK, &lock), 0);
  EXPECT_THROW(WipeFile(file), platform::FileError);
  ::close(fd);
  EXPECT_EQ(temp.Read("DPINST.LOG"), "installer log");
#endif

  WipeFile(file);
  EXPECT_FALSE(temp.Exists("DPINST.LOG"));
}

TEST_F(SharedFilesTest, WipeFileAsideWipesUnderAnotherNameAndGivesTheNameBackWhenItFails) {
  const std::string file = temp.Write("DP_Content.ini", "[D/a.inf]\r\nPackName=a.7z\r\n");
  fs::create_hard_link(file, temp.File("witness"));
  {
    platform::ExclusiveFile holder(file);  // another opener holding the file
    EXPECT_THROW(WipeFileAside(file), platform::FileError);
  }
  EXPECT_EQ(temp.Read("DP_Content.ini"), "[D/a.inf]\r\nPackName=a.7z\r\n");
  EXPECT_FALSE(temp.Exists("DP_Content.ini.wipe"));

  WipeFileAside(file);
  EXPECT_FALSE(temp.Exists("DP_Content.ini"));
  EXPECT_FALSE(temp.Exists("DP_Content.ini.wipe"));
  EXPECT_EQ(temp.Read("witness").find("PackName"), std::string::npos);  // wiped, not only removed

  // What a run stopped while wiping left beside the file goes with it.
  temp.Write("DP_Content.ini.wipe", "left by a stopped run");
  temp.Write("DP_Content.ini", "new");
  WipeFileAside(file);
  EXPECT_FALSE(temp.Exists("DP_Content.ini"));
  EXPECT_FALSE(temp.Exists("DP_Content.ini.wipe"));
}

// What is no plain file is refused; a symbolic link is removed as a link, and what it points to
// is never overwritten.
TEST_F(SharedFilesTest, WipeFileRefusesWhatIsNoPlainFileAndRemovesALinkOnly) {
  const std::string target = temp.Write("target.txt", "outside data");
  temp.MakeDir("folder");
  std::vector<std::string> names = {"missing.txt", "folder"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_THROW(WipeFile(temp.File(name)), platform::FileError);
  }
#ifndef _WIN32  // symbolic links need extra rights on Windows, and the program never meets them there
  fs::create_symlink(target, temp.File("link.txt"));
  WipeFile(temp.File("link.txt"));
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(temp.File("link.txt"))));
#endif
  EXPECT_TRUE(temp.Exists("folder"));
  EXPECT_EQ(temp.Read("target.txt"), "outside data");
  try {
    WipeFile(temp.File("missing.txt"));
  } catch (const platform::FileError& error) {
    EXPECT_EQ(error.code(), 2u);
    EXPECT_NE(std::string(error.what()).find("missing.txt"), std::string::npos) << error.what();
  }
}

}  // namespace
