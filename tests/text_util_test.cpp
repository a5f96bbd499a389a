#include "base/text_util.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "shared/shared_functions.h"

namespace {

TEST(SplitLinesTest, EndsALineAtCrLfCrOrLf) {
  using Lines = std::vector<std::string_view>;
  const struct {
    std::string_view text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"a\r\n", {"a"}},                 // the last line end ends no further line
      {"a\n\n", {"a", ""}},             // an empty line before it does
      {"\r\n\r\nb", {"", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},       // LF CR is two line ends
      {"a\r\r\nb", {"a", "", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}

TEST(WildcardMatchTest, StarsQuestionMarksAndLetterCase) {
  const struct {
    std::string_view text;
    std::string_view pattern;
    bool questionMarks;
    bool matches;
  } cases[] = {
      {"DP_LAN.7z", "*.7Z", true, true},
      {"DP_LAN.7z", "dp_???.7z", true, true},
      {"DP_LA.7z", "dp_???.7z", true, false},
      {"", "*", true, true},
      {"", "?", true, false},
      {"a.7z.txt", "*.7z", true, false},
      {"*x", "*", true, true},  // a star in the name is matched by the pattern's star
      {"PCI\\VEN_8086&DEV_1C3A", "pci\\ven_8086*", false, true},
      {"PCI\\VEN_8086", "PCI\\VEN_808?", false, false},  // device patterns know no '?'
      {"PCI\\VEN_808?", "PCI\\VEN_808?", false, true},
      {"USB\\ROOT_HUB30\\4&1", "*root_hub*\\*", false, true},
      {"abc", "a*c*d", true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WildcardMatch(c.text, c.pattern, c.questionMarks), c.matches) << c.text << " ~ " << c.pattern;
}

TEST(CaseTest, LowerCaseAndEqualNoCase) {
  EXPECT_EQ(LowerCase("PCI\\VEN_8086&Dev_1C3A.INF"), "pci\\ven_8086&dev_1c3a.inf");
  EXPECT_EQ(UpperCase("yes"), "YES");
  EXPECT_TRUE(EqualNoCase("Display", "DISPLAY"));
  EXPECT_TRUE(EqualNoCase("", ""));
  EXPECT_FALSE(EqualNoCase("Display", "Displays"));
  EXPECT_FALSE(EqualNoCase("a[", "A{"));  // '[' and '{' are no letters of one case
  EXPECT_EQ(AsciiLower('@'), '@');
  EXPECT_EQ(AsciiLower('Z'), 'z');
  EXPECT_TRUE(StartsWith("usb-storage", "usb"));
  EXPECT_FALSE(StartsWith("us", "usb"));
}

TEST(TrimBlanksTest, CutsBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(TrimBlanks(" \t Display: \r\n"), "Display:");
  EXPECT_EQ(TrimBlanks("a b"), "a b");
  EXPECT_EQ(TrimBlanks(" \x01 "), "");
}

TEST(EndsWith7zTest, OnlyTheTwoSpellingsOfThePackEnding) {
  const struct {
    const char* name;
    bool pack;
  } cases[] = {
      {"DP_LAN.7z", true}, {"DP_LAN.7Z", true}, {".7z", true},          {"7z", false},
      {"DP_LAN.7z.txt", false}, {"DP_LAN.z7", false}, {"DP_LAN_7z", false}, {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(EndsWith7z(c.name), c.pack) << c.name;
}

}  // namespace
