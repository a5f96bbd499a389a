#include "lang/messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Fallback(const std::string& key) { return "Translation text for " + key + " not found"; }

// Sets a file's modification time to `age` before now, so the cache treats the file as
// settled and trusts its stamp.
void AgeFile(const std::string& path, std::chrono::seconds age) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - age);
}

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearMessageCache(); }
  void TearDown() override { ClearMessageCache(); }

  TempDir dir;
};

// ---------------------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------------------

struct LookupCase {
  const char* name;
  std::string section;
  std::string key;
  std::string expected;
};

TEST_F(MessagesTest, LooksUpValuesAndFallsBackForMissingSectionOrKey) {
  const std::string file = dir.Write("english.lng",
                                     "; comment line\r\n"
                                     "[About]\r\n"
                                     "TranslateLangName=English\r\n"
                                     "[Msg]\r\n"
                                     "log1=Working folder created: %s\r\n"
                                     "  log2  =   padded value   \r\n"
                                     "log3=\r\n"
                                     "msg1=a=b=c\r\n"
                                     "[Mainfrm]\r\n"
                                     "log1=the same key in another section\r\n");
  const std::vector<LookupCase> cases = {
      {"plain value", "Msg", "log1", "Working folder created: %s"},
      {"section and key ignore letter case", "MSG", "LOG1", "Working folder created: %s"},
      {"blanks around name and value ignored", "Msg", "log2", "padded value"},
      {"an empty value is a value", "Msg", "log3", ""},
      {"value keeps later equals signs", "Msg", "msg1", "a=b=c"},
      {"other section", "Mainfrm", "log1", "the same key in another section"},
      {"About section", "About", "TranslateLangName", "English"},
      {"missing key", "Msg", "log21", Fallback("log21")},
      {"missing section", "Nowhere", "log1", Fallback("log1")},
      {"empty key", "Msg", "", Fallback("")},
  };
  for (const LookupCase& c : cases) {
    EXPECT_EQ(TranslateMessage(c.section, c.key, file), c.expected) << c.name;
  }
}

TEST_F(MessagesTest, MissingOrUnusableFileGivesFallback) {
  EXPECT_EQ(TranslateMessage("Msg", "log1", dir.File("missing.lng")), Fallback("log1"));
  EXPECT_EQ(TranslateMessage("Msg", "log1", ""), Fallback("log1"));
  // The text a missing configuration key leaves in place of the path.
  EXPECT_EQ(TranslateMessage("Msg", "log7", "Can\"t read LanguageFile param"), Fallback("log7"));
  // A folder is no language file.
  EXPECT_EQ(TranslateMessage("Msg", "log1", dir.MakeDir("folder.lng")), Fallback("log1"));
}

TEST_F(MessagesTest, KeyMissingFromFileDropsArguments) {
  const std::string file = dir.Write("a.lng", "[Msg]\r\nlog1=x\r\n");
  EXPECT_EQ(MessageText(file, "log63", {7, "PCI\\VEN_1AB2"}), Fallback("log63"));
  EXPECT_EQ(MessageText(dir.File("none.lng"), "log17", {"12"}), Fallback("log17"));
}

TEST_F(MessagesTest, MessageTextFormatsNumberThenText) {
  const std::string file = dir.Write("a.lng",
                                     "[Msg]\r\n"
                                     "log63=Found %d occurrence(s) of %s\r\n"
                                     "log17=Driver packs found: %s\r\n"
                                     "log45=Started\r\n");
  EXPECT_EQ(MessageText(file, "log63", {3, "PCI\\VEN_1AB2&DEV_3C4D"}),
            "Found 3 occurrence(s) of PCI\\VEN_1AB2&DEV_3C4D");
  EXPECT_EQ(MessageText(file, "log17", {std::size_t{42}}), "Driver packs found: 42");
  EXPECT_EQ(MessageText(file, "log45"), "Started");
  EXPECT_EQ(MessageText(file, "log45", {"dropped"}), "Started");
}

// ---------------------------------------------------------------------------------------
// The chain of text sources
// ---------------------------------------------------------------------------------------

std::string ShippedEnglish() { return std::string(VELMORA_SOURCE_DIR) + "/data/lng/english.lng"; }

TEST_F(MessagesTest, BuiltInTextsAreTheShippedEnglishFile) {
  std::ifstream in(ShippedEnglish(), std::ios::binary);
  ASSERT_TRUE(in);
  const std::string shipped((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(BuiltInEnglishText(), shipped);
}

TEST_F(MessagesTest, LanguageFileStates) {
  struct Case {
    const char* name;
    std::string path;
    LanguageFileState expected;
  };
  const std::vector<Case> cases = {
      {"language file", dir.Write("good.lng", "[About]\r\n[Msg]\r\nlog1=x\r\n"), LanguageFileState::Usable},
      {"empty Msg section", dir.Write("empty.lng", "[Msg]\r\n"), LanguageFileState::Usable},
      {"section name in other letter case", dir.Write("lower.lng", "[msg]\nlog1=x\n"),
       LanguageFileState::Usable},
      {"no Msg section", dir.Write("nomsg.lng", "[About]\r\n[Mainfrm]\r\nEnumBtn=x\r\n"),
       LanguageFileState::NoMessages},
      {"unclosed section header", dir.Write("open.lng", std::string("\0\xFF[Msg\n=\r", 9)),
       LanguageFileState::NoMessages},
      {"empty file", dir.Write("zero.lng", ""), LanguageFileState::NoMessages},
      {"missing file", dir.File("missing.lng"), LanguageFileState::Unreadable},
      {"folder", dir.MakeDir("folder.lng"), LanguageFileState::Unreadable},
      {"no path", "", LanguageFileState::Unreadable},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckLanguageFile(c.path), c.expected) << c.name;
}

TEST_F(MessagesTest, EachKeyComesFromTheFirstSourceThatHasIt) {
  const std::string chosen = dir.Write("german.lng",
                                       "[Msg]\r\nlog1=Deutsch eins %s\r\n"
                                       "[Mainfrm]\r\nEnumBtn=Aufzählen\r\n");
  const std::string english = dir.Write("english.lng",
                                        "[Msg]\r\nlog1=English one %s\r\nlog2=English two\r\n"
                                        "[Mainfrm]\r\nEnumBtn=Enumerate\r\nSaveLogbtn=Save\r\n");
  const std::string noMessages = dir.Write("nomsg.lng",
                                           "[About]\r\nTranslateLangName=Broken\r\n"
                                           "[Mainfrm]\r\nEnumBtn=from a file without Msg\r\n");
  const std::string missing = dir.File("missing.lng");
  const std::string builtIn45 = TranslateMessage("Msg", "log45", ShippedEnglish());
  const std::string builtIn1 = TranslateMessage("Msg", "log1", ShippedEnglish());
  ASSERT_EQ(builtIn45, "Velmora started");
  struct Case {
    const char* name;
    std::vector<std::string> files;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"chosen file", {chosen, english}, "Msg", "log1", "Deutsch eins %s"},
      {"chosen file, captions", {chosen, english}, "Mainfrm", "EnumBtn", "Aufzählen"},
      {"order counts", {english, chosen}, "Msg", "log1", "English one %s"},
      {"missing key from the English file", {chosen, english}, "Msg", "log2", "English two"},
      {"missing caption from the English file", {chosen, english}, "Mainfrm", "SaveLogbtn", "Save"},
      {"missing from both: built in", {chosen, english}, "Msg", "log45", builtIn45},
      {"file without Msg passed over", {noMessages, english}, "Mainfrm", "EnumBtn", "Enumerate"},
      {"missing file passed over", {missing, english}, "Msg", "log1", "English one %s"},
      {"both unusable: built in", {missing, noMessages}, "Msg", "log1", builtIn1},
      {"no files: built in", {}, "Msg", "log45", builtIn45},
      {"no source has it", {chosen, english}, "Msg", "log21", std::nullopt},
      {"unknown section", {chosen, english}, "Nowhere", "log1", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextSource(c.files).Find(c.section, c.key), c.expected) << c.name;
  }
  // Messages are formatted; a key nobody has gives the text naming it, without arguments.
  const TextSource texts({chosen, english});
  EXPECT_EQ(texts.Message("log1", {"x"}), "Deutsch eins x");
  EXPECT_EQ(texts.Message("log2", {"dropped"}), "English two");
  EXPECT_EQ(texts.Message("log21", {"dropped"}), Fallback("log21"));
}

TEST_F(MessagesTest, ARepairedFileIsUsedAgainAtTheNextLookup) {
  const std::string english = dir.Write("english.lng", "[Msg]\r\nlog1=English\r\n");
  const std::string chosen = dir.Write("german.lng", "garbage\r\n");
  const TextSource texts({chosen, english});
  EXPECT_EQ(texts.Message("log1"), "English");
  dir.Write("german.lng", "[Msg]\r\nlog1=Deutsch\r\n");
  EXPECT_EQ(CheckLanguageFile(chosen), LanguageFileState::Usable);
  EXPECT_EQ(texts.Message("log1"), "Deutsch");
}

// ---------------------------------------------------------------------------------------
// Cache
// ---------------------------------------------------------------------------------------

TEST_F(MessagesTest, EditShowsAtNextLookup) {
  const std::string file = dir.Write("a.lng", "[Msg]\r\nlog1=first\r\n");
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "first");

  dir.Write("a.lng", "[Msg]\r\nlog1=second text\r\n");  // new size
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "second text");

  dir.Write("a.lng", "[Msg]\r\nlog1=SECOND TEXT\r\n");  // same size, written at once
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "SECOND TEXT");

  dir.Write("a.lng", "[Msg]\r\nlog2=only log2\r\n");  // key removed
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), Fallback("log1"));
  EXPECT_EQ(TranslateMessage("Msg", "log2", file), "only log2");
}

TEST_F(MessagesTest, EditWithinOneClockTickIsSeen) {
  // Two edits of equal size within one tick of the file system's clock leave the stamp
  // as it was; a file that changed so recently is checked by content.
  const std::string file = dir.Write("a.lng", "[Msg]\r\nlog1=before\r\n");
  const fs::file_time_type stamp = fs::last_write_time(file);
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "before");

  dir.Write("a.lng", "[Msg]\r\nlog1=AFTER!\r\n");
  fs::last_write_time(file, stamp);
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "AFTER!");
}

TEST_F(MessagesTest, SameSizeEditWithOlderStampIsSeen) {
  const std::string file = dir.Write("a.lng", "[Msg]\r\nlog1=aaaa\r\n");
  AgeFile(file, std::chrono::hours(2));
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "aaaa");

  dir.Write("a.lng", "[Msg]\r\nlog1=bbbb\r\n");
  AgeFile(file, std::chrono::hours(1));
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "bbbb");
}

TEST_F(MessagesTest, UnchangedFileIsParsedOnce) {
  const std::string file = dir.Write("a.lng", "[Msg]\r\nlog1=one\r\nlog2=two\r\n");
  AgeFile(file, std::chrono::hours(1));
  const std::size_t before = LanguageFileParseCount();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(TranslateMessage("Msg", (i % 2) != 0 ? "log1" : "log2", file), (i % 2) != 0 ? "one" : "two");
  }
  EXPECT_EQ(LanguageFileParseCount() - before, 1u);
}

TEST_F(MessagesTest, FreshlyWrittenFileIsParsedOnceToo) {
  // A file written just now is checked by content until its stamp can be trusted, but it
  // is not parsed again while its content stays the same.
  const std::string file = dir.Write("a.lng", "[Msg]\r\nlog1=one\r\n");
  const std::size_t before = LanguageFileParseCount();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(TranslateMessage("Msg", "log1", file), "one");
  EXPECT_EQ(LanguageFileParseCount() - before, 1u);
}

TEST_F(MessagesTest, DeletedAndRecreatedFile) {
  const std::string file = dir.Write("a.lng", "[Msg]\r\nlog1=one\r\n");
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "one");
  fs::remove(file);
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), Fallback("log1"));
  dir.Write("a.lng", "[Msg]\r\nlog1=two\r\n");
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "two");
}

TEST_F(MessagesTest, SwitchingBetweenFilesKeepsEachOwnTexts) {
  const std::string english = dir.Write("english.lng", "[Msg]\r\nlog45=Started\r\n");
  const std::string german = dir.Write("german.lng", "[Msg]\r\nlog45=Gestartet\r\n");
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(TranslateMessage("Msg", "log45", english), "Started");
    EXPECT_EQ(TranslateMessage("Msg", "log45", german), "Gestartet");
  }
  // Many files in turn: the cache stays bounded and every answer stays right.
  for (int i = 0; i < 40; ++i) {
    const std::string name = "l" + std::to_string(i) + ".lng";
    const std::string path = dir.Write(name, "[Msg]\r\nlog1=file " + std::to_string(i) + "\r\n");
    ASSERT_EQ(TranslateMessage("Msg", "log1", path), "file " + std::to_string(i));
  }
  EXPECT_EQ(TranslateMessage("Msg", "log45", german), "Gestartet");
}

TEST_F(MessagesTest, BinaryGarbageFileDoesNotCrash) {
  std::string garbage;
  std::mt19937 random(7);
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>(random() & 0xFF));
  garbage += "\n[Msg]\nlog1=found\n";
  const std::string file = dir.Write("garbage.lng", garbage);
  EXPECT_EQ(TranslateMessage("Msg", "log1", file), "found");
  EXPECT_EQ(TranslateMessage("Msg", "log2", file), Fallback("log2"));
}

// ---------------------------------------------------------------------------------------
// Formatter
// ---------------------------------------------------------------------------------------

struct FormatCase {
  std::string format;
  std::vector<MessageArg> args;
  std::string expected;
};

TEST(FormatMessageText, Table) {
  const std::vector<FormatCase> cases = {
      // the catalogue's forms
      {"Working folder created: %s",
       {"C:\\WINDOWS\\dp_tavi\\"},
       "Working folder created: C:\\WINDOWS\\dp_tavi\\"},
      {"System error code: %d", {5}, "System error code: 5"},
      {"Found %d occurrence(s) of %s", {2, "PCI\\VEN_1"}, "Found 2 occurrence(s) of PCI\\VEN_1"},
      {"%s then %s", {"a", "b"}, "a then b"},
      {"no specifier", {}, "no specifier"},
      {"", {"x"}, ""},
      // argument kinds crossed
      {"size %s bytes", {-1}, "size -1 bytes"},
      {"count %s", {std::numeric_limits<std::int64_t>::min()}, "count -9223372036854775808"},
      {"code %d", {"ERROR_ACCESS_DENIED"}, "code ERROR_ACCESS_DENIED"},
      {"%d", {std::numeric_limits<std::int64_t>::max()}, "9223372036854775807"},
      // percent signs
      {"100%% done", {}, "100% done"},
      {"%%s stays", {"x"}, "%s stays"},
      {"ends with %", {}, "ends with %"},
      {"ends with %", {"x"}, "ends with %"},
      {"%", {}, "%"},
      {"%%%s", {"x"}, "%x"},
      // more specifiers than arguments, fewer specifiers than arguments
      {"%s and %s", {"one"}, "one and %s"},
      {"%d of %s", {}, "%d of %s"},
      {"%5s|%-3d", {}, "%5s|%-3d"},
      {"%s", {"one", "two", 3}, "one"},
      // specifiers that take no argument
      {"%n%s", {"x"}, "%nx"},
      {"%p %s", {"x"}, "%p x"},
      {"%x %s", {"x"}, "%x x"},
      {"%*d %s", {7, "x"}, "%*d 7"},
      {"%ls %s", {"x"}, "%ls x"},
      {"%1$s", {"x"}, "%1$s"},
      {"%0:s", {"x"}, "%0:s"},
      {"%5%", {}, "%5%"},
      {"%-", {}, "%-"},
      {"%.", {}, "%."},
      {"%.3", {"x"}, "%.3"},
      {"%2000s %s", {"x"}, "%2000s x"},
      {"%99999999999999999999d", {"x"}, "%99999999999999999999d"},
      // width and precision
      {"[%5s]", {"ab"}, "[   ab]"},
      {"[%-5s]", {"ab"}, "[ab   ]"},
      {"[%.3s]", {"abcdef"}, "[abc]"},
      {"[%.s]", {"abc"}, "[]"},
      {"[%6.2s]", {"abcdef"}, "[    ab]"},
      {"[%2s]", {"abcdef"}, "[abcdef]"},
      {"[%5d]", {42}, "[   42]"},
      {"[%-5d]", {42}, "[42   ]"},
      {"[%05d]", {-42}, "[-0042]"},
      {"[%.4d]", {-7}, "[-0007]"},
      {"[%.0d]", {0}, "[]"},
      {"[%05d]", {"txt"}, "[  txt]"},
      {"[%.1d]", {"txt"}, "[txt]"},
      {"[%3s]", {"\xC3\xA4"}, "[  \xC3\xA4]"},         // width counts characters
      {"[%.1s]", {"\xC3\xA4\xC3\xB6"}, "[\xC3\xA4]"},  // precision never cuts a character
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(FormatMessageText(c.format, c.args), c.expected) << "format: " << c.format;
  }
}

// With no arguments every specifier stands as written and only "%%" changes.
std::string CollapsePercentPairs(const std::string& format) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    out.push_back(format[i]);
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') ++i;
  }
  return out;
}

TEST(FormatMessageText, RandomFormatsNeverReadMissingArguments) {
  const std::string alphabet = "%%%%sdnpx*-.0159$: \xC3\xA4";
  std::mt19937 random(20260215);
  for (int round = 0; round < 20000; ++round) {
    std::string format;
    const std::size_t length = random() % 24;
    for (std::size_t i = 0; i < length; ++i) format.push_back(alphabet[random() % alphabet.size()]);

    ASSERT_EQ(FormatMessageText(format, {}), CollapsePercentPairs(format)) << format;

    std::vector<MessageArg> args;
    const std::size_t argCount = random() % 4;
    for (std::size_t i = 0; i < argCount; ++i) {
      if (random() % 2 == 0) {
        args.emplace_back(static_cast<std::int64_t>(random()) - 0x7FFFFFFF);
      } else {
        args.emplace_back(std::string(random() % 5, 'a'));
      }
    }
    const std::string out = FormatMessageText(format, args);
    // Widths and precisions are capped, so no format can blow the text up.
    ASSERT_LE(out.size(), format.size() + argCount * 1024) << format;
  }
}

}  // namespace
