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

// The whole file is converted in one buffer: it holds exactly the mark and each line's own
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
  SaveLinesUtf16(path, {});
  EXPECT_EQ(tmp.Read("log.txt"), "\xFF\xFE");
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
  std::size_t before = main->Form().Items("LogLbx").size();
  main->SaveLogbtnClick();
  EXPECT_EQ(ui.shown.back(), "info:msg9|%s");
  EXPECT_EQ(main->Form().Items("LogLbx").size(), before);
}

TEST_F(SaveLogTest, UnwritableTargetFailsAndKeepsTheLogLine) {
  Start();
  ui.files = {tmp.File("no such folder/log")};
  EXPECT_TRUE(main->Invoke("SaveLogbtnClick"));
  EXPECT_EQ(ui.shown.back().rfind("error:", 0), 0u);
  EXPECT_TRUE(LogTexts().back().rfind("log92|", 0) == 0);
}

}  // namespace
