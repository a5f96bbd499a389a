// Saving the log as UTF-16 text.
#include <gtest/gtest.h>

#include "app/log_save.h"
#include "support/app_fixture.h"
#include "support/temp_dir.h"

namespace {

TEST(Utf8ToUtf16Le, ConvertsAndReplacesInvalidBytes) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"A", std::string("A\0", 2)},
      {"\xC3\xA4", std::string("\xE4\x00", 2)},                    // ä
      {"\xE2\x82\xAC", std::string("\xAC\x20", 2)},                // €
      {"\xF0\x9F\x98\x80", std::string("\x3D\xD8\x00\xDE", 4)},    // a surrogate pair
      {"\xFF", std::string("\xFD\xFF", 2)},                        // invalid byte
      {"\xC3", std::string("\xFD\xFF", 2)},                        // cut sequence
      {"\xC0\xAF", std::string("\xFD\xFF\xFD\xFF", 4)},            // overlong form
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToUtf16Le(c.in), c.out) << c.in;
}

// The file holds exactly the mark and each line's own
// conversion, whatever the lines hold (sequences of every length, bytes replaced, empty lines).
TEST(SaveLinesUtf16, WritesTheMarkAndEachLineAsItsOwnConversion) {
  TempDir tmp;
  const std::vector<std::string> lines = {
      "plain", "", "\xC3\xA4\xE2\x82\xAC", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", "\xFF\xFE\xC3", "tail \xC0\xAF"};
  const std::string path = tmp.File("log.txt");
  SaveLinesUtf16(path, lines);
  std::string expected = "\xFF\xFE";
  for (const std::string& line : lines) expected += Utf8ToUtf16Le(line + "\r\n");
  EXPECT_EQ(tmp.Read("log.txt"), expected);
  SaveLinesUtf16(path, std::vector<std::string>());
  EXPECT_EQ(tmp.Read("log.txt"), "\xFF\xFE");
}

// The text is written in pieces of about a megabyte: the file is the same, byte for byte, for the
// log's compact lines and for strings, where lines cross the pieces' ends, where one line is
// longer than a piece (in UTF-16 and in UTF-8), and for a log of many lines.
TEST(SaveLinesUtf16, CompactLinesAndStringsSaveTheSameAcrossPieces) {
  TempDir tmp;
  const std::string euro = "\xE2\x82\xAC";
  std::string longUtf8;
  for (int i = 0; i < 400000; ++i) longUtf8 += euro;  // 1.2 MB of UTF-8, 0.8 MB of UTF-16
  std::vector<std::string> many;
  for (int i = 0; i < 30000; ++i)
    many.push_back("[11.12.2026 12.00.00] HWID search: \xC3\xA4 " + std::to_string(i) + (i % 7 == 0 ? "" : " \xFF"));
  struct Case {
    const char* name;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"no lines", {}},
      {"empty lines", {"", "", ""}},
      {"a line longer than a piece in UTF-16", {"before", std::string(600000, 'w'), "", "after"}},
      {"a line longer than a piece in UTF-8", {"before", longUtf8, "after", std::string(3 << 20, 'x'), "end"}},
      {"many lines", many},
  };
  for (const Case& c : cases) {
    std::string expected = "\xFF\xFE";
    for (const std::string& line : c.lines) expected += Utf8ToUtf16Le(line + "\r\n");
    LineStore store;
    for (const std::string& line : c.lines) store.Append(line);
    SaveLinesUtf16(tmp.File("compact.txt"), store);
    SaveLinesUtf16(tmp.File("strings.txt"), c.lines);
    EXPECT_TRUE(tmp.Read("compact.txt") == expected) << c.name;
    EXPECT_TRUE(tmp.Read("strings.txt") == expected) << c.name;
  }
}

class SaveLogTest : public AppFixture {};

TEST_F(SaveLogTest, SavesTwiceEachEndingWithItsOwnLine) {
  Start();
  const std::string first = tmp.File("first");
  const std::string second = tmp.File("second.txt");
  ui.files = {first, second};
  main->SaveLogbtnClick();
  main->SaveLogbtnClick();
  for (const std::string& target : {first + "- Velmora_TAVI ApplicationLog.txt",
                                    second + "- Velmora_TAVI ApplicationLog.txt"}) {
    std::string bytes = tmp.Read(target);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::string expectedEnd = Utf8ToUtf16Le("log92|" + target + "|%s\r\n");
    EXPECT_TRUE(bytes.ends_with(expectedEnd)) << target;
    EXPECT_TRUE(LogHas("log60|" + target + "|%s"));
  }
  EXPECT_EQ(ui.shown.back(), "message:log60|" + second + "- Velmora_TAVI ApplicationLog.txt|%s");
}

TEST_F(SaveLogTest, CancelShowsMessageAndWritesNothing) {
  Start();
  std::size_t before = main->Form().Lines("LogLbx").ToVector().size();
  main->SaveLogbtnClick();
  EXPECT_EQ(ui.shown.back(), "info:msg9|%s");
  EXPECT_EQ(main->Form().Lines("LogLbx").ToVector().size(), before);
}

TEST_F(SaveLogTest, UnwritableTargetFailsAndKeepsTheLogLine) {
  Start();
  ui.files = {tmp.File("no such folder/log")};
  EXPECT_TRUE(main->Invoke("SaveLogbtnClick"));
  EXPECT_EQ(ui.shown.back().rfind("error:", 0), 0u);
  EXPECT_TRUE(LogTexts().back().rfind("log92|", 0) == 0);
}

}  // namespace
