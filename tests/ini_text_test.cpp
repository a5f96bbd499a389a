#include "platform/ini_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using platform::IniDocument;

namespace {

struct GetCase {
  const char* name;
  std::string text;
  std::string section;
  std::string key;
  std::optional<std::string> expected;
};

class IniGetTest : public ::testing::TestWithParam<GetCase> {};

// Every lookup is checked on a parsed document and on the one-shot scan, which must agree.
TEST_P(IniGetTest, DocumentAndScanAgree) {
  const GetCase& c = GetParam();
  const IniDocument document = IniDocument::Parse(c.text);
  EXPECT_EQ(document.Get(c.section, c.key), c.expected);
  EXPECT_EQ(IniDocument::Find(c.text, c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IniGetTest,
    ::testing::Values(
        GetCase{"Plain", "[Program]\r\nInitial=no\r\n", "Program", "Initial", "no"},
        GetCase{"SectionCaseIgnored", "[Program]\r\nInitial=no\r\n", "PROGRAM", "Initial", "no"},
        GetCase{"KeyCaseIgnored", "[Program]\r\nInitial=no\r\n", "Program", "iNiTiAl", "no"},
        GetCase{"BlanksAroundEverything", "  [  Program  ]  \r\n\t Start From \t=\t Non CD \t\r\n", "Program",
                "Start From", "Non CD"},
        GetCase{"BlanksInQuery", "[Program]\r\nInitial=no\r\n", " Program ", " Initial ", "no"},
        GetCase{"EmptyValueIsNotMissing", "[S]\r\nk=\r\n", "S", "k", ""},
        GetCase{"MissingKey", "[S]\r\nk=v\r\n", "S", "other", std::nullopt},
        GetCase{"MissingSection", "[S]\r\nk=v\r\n", "T", "k", std::nullopt},
        GetCase{"EqualsInValue", "[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
        GetCase{"DoubleQuotesDropped", "[S]\r\nk = \" a b \" \r\n", "S", "k", " a b "},
        GetCase{"SingleQuotesDropped", "[S]\r\nk='v'\r\n", "S", "k", "v"},
        GetCase{"OnlyTheOuterPairDropped", "[S]\r\nk=\"\"v\"\"\r\n", "S", "k", "\"v\""},
        GetCase{"UnmatchedQuotesKept", "[S]\r\nk=\"v'\r\n", "S", "k", "\"v'"},
        GetCase{"LoneQuoteKept", "[S]\r\nk=\"\r\n", "S", "k", "\""},
        GetCase{"QuoteInsideKept", "[S]\r\nk=a\"b\"\r\n", "S", "k", "a\"b\""},
        GetCase{"EmptyKeyName", "[S]\r\n=v\r\nk=w\r\n", "S", "", "v"},
        GetCase{"EmptyKeyNameWithBlanks", "[S]\r\n  =  v\r\n", "S", " ", "v"},
        GetCase{"EmptyKeyNameOnlyInItsSection", "[S]\r\n=v\r\n[T]\r\nk=w\r\n", "T", "", std::nullopt},
        GetCase{"FirstDuplicateKeyWins", "[S]\r\nk=first\r\nK=second\r\n", "S", "k", "first"},
        GetCase{"OnlyFirstDuplicateSectionCounts", "[S]\r\na=1\r\n[T]\r\n[s]\r\nb=2\r\n", "S", "b",
                std::nullopt},
        GetCase{"FirstDuplicateSectionFound", "[S]\r\na=1\r\n[T]\r\n[s]\r\na=2\r\n", "S", "a", "1"},
        GetCase{"CommentIsNoKey", "[S]\r\n;k=v\r\n", "S", ";k", std::nullopt},
        GetCase{"IndentedCommentIsNoKey", "[S]\r\n  ; k=v\r\nk=w\r\n", "S", "k", "w"},
        GetCase{"LineWithoutEqualsIsNoKey", "[S]\r\nlonely\r\n", "S", "lonely", std::nullopt},
        GetCase{"KeysBeforeFirstSectionIgnored", "k=v\r\n[S]\r\n", "", "k", std::nullopt},
        GetCase{"UnclosedBracketIsNoSection", "[S\r\nk=v\r\n", "S", "k", std::nullopt},
        GetCase{"TextAfterHeaderIgnored", "[S] ; note\r\nk=v\r\n", "S", "k", "v"},
        GetCase{"EmptySectionName", "[]\r\nk=v\r\n", "", "k", "v"},
        GetCase{"LfOnly", "[S]\nk=v\n", "S", "k", "v"}, GetCase{"CrOnly", "[S]\rk=v\r", "S", "k", "v"},
        GetCase{"NoFinalLineBreak", "[S]\r\nk=v", "S", "k", "v"},
        GetCase{"Utf8BomBeforeFirstSection", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", "v"},
        GetCase{"KeyOnlyInLaterSection", "[A]\r\nx=1\r\n[B]\r\nk=2\r\n", "A", "k", std::nullopt},
        GetCase{"EightBitBytesKept", "[S]\r\nk=\xE4\xF6\xFC\r\n", "S", "k", "\xE4\xF6\xFC"},
        GetCase{"EmptyText", "", "S", "k", std::nullopt}),
    [](const ::testing::TestParamInfo<GetCase>& param) { return std::string(param.param.name); });

struct SetCase {
  const char* name;
  std::string text;
  std::string section;
  std::string key;
  std::string value;
  std::string expected;  // ToText after the Set
};

class IniSetTest : public ::testing::TestWithParam<SetCase> {};

TEST_P(IniSetTest, WritesInPlace) {
  const SetCase& c = GetParam();
  IniDocument document = IniDocument::Parse(c.text);
  document.Set(c.section, c.key, c.value);
  EXPECT_EQ(document.ToText(), c.expected);
  EXPECT_EQ(document.Get(c.section, c.key), c.value);
  // The one-pass edit of a text gives the same result.
  EXPECT_EQ(IniDocument::SetInText(c.text, c.section, c.key, c.value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IniSetTest,
    ::testing::Values(
        SetCase{"EmptyDocument", "", "Program", "Initial", "Yes", "[Program]\r\nInitial=Yes\r\n"},
        SetCase{"ReplaceKeepsNeighboursAndSpelling",
                "; settings\r\n[Program]\r\n  INITIAL = no \r\nother\r\nx=1\r\n", "program", "initial", "Yes",
                "; settings\r\n[Program]\r\nINITIAL=Yes\r\nother\r\nx=1\r\n"},
        SetCase{"AppendAfterLastKeyBeforeBlankLines", "[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\ny=2\r\n", "A",
                "z", "3", "[A]\r\nx=1\r\nz=3\r\n\r\n; about B\r\n[B]\r\ny=2\r\n"},
        SetCase{"AppendAfterHeaderWhenNoKeys", "[A]\r\n; nothing yet\r\n[B]\r\n", "a", "k", "v",
                "[A]\r\nk=v\r\n; nothing yet\r\n[B]\r\n"},
        SetCase{"AppendToFirstDuplicateSection", "[A]\r\nx=1\r\n[A]\r\ny=2\r\n", "A", "y", "3",
                "[A]\r\nx=1\r\ny=3\r\n[A]\r\ny=2\r\n"},
        SetCase{"AppendAfterNamelessKey", "[A]\r\n=x\r\n\r\n[B]\r\n", "A", "k", "v",
                "[A]\r\n=x\r\nk=v\r\n\r\n[B]\r\n"},
        SetCase{"NamelessKeyUntouched", "[A]\r\n=x\r\nk=1\r\n", "A", "k", "2", "[A]\r\n=x\r\nk=2\r\n"},
        SetCase{"NewSectionAtEnd", "[A]\r\nx=1", "B", "k", "v", "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
        SetCase{"NamesTrimmed", "", "  S  ", "  k ", "v", "[S]\r\nk=v\r\n"},
        SetCase{"LineEndsBecomeCrLf", "[A]\nx=1\rjunk\n", "A", "x", "2", "[A]\r\nx=2\r\njunk\r\n"},
        SetCase{"BomKept", "\xEF\xBB\xBF[A]\r\n", "A", "k", "v", "\xEF\xBB\xBF[A]\r\nk=v\r\n"},
        SetCase{"KeyBeforeSectionsUntouched", "k=old\r\n[A]\r\n", "A", "k", "new",
                "k=old\r\n[A]\r\nk=new\r\n"}),
    [](const ::testing::TestParamInfo<SetCase>& param) { return std::string(param.param.name); });

TEST(IniDocumentTest, RejectsNamesAndValuesThatWouldNotReadBack) {
  const std::string text = "[A]\r\nx=1\r\n";
  const std::vector<std::vector<std::string>> bad = {
      {"A", "k", "two\r\nlines"}, {"A", "k", "two\nlines"}, {"A\n[B]", "k", "v"},
      {"A", "k\r\ny", "v"},       {"A", "", "v"},           {"A", "   ", "v"},
      {"A", "k=x", "v"},          {"A", ";k", "v"},         {"A", "[k]", "v"},
      {"A]", "k", "v"},           {"[A", "k", "v"}};
  for (const auto& args : bad) {
    SCOPED_TRACE(args[0] + "|" + args[1] + "|" + args[2]);
    IniDocument document = IniDocument::Parse(text);
    EXPECT_THROW(document.Set(args[0], args[1], args[2]), std::invalid_argument);
    EXPECT_EQ(document.ToText(), text);
    EXPECT_THROW(IniDocument::SetInText(text, args[0], args[1], args[2]), std::invalid_argument);
  }
}

TEST(IniDocumentTest, ListsSectionsAndKeysInFileOrderOnce) {
  IniDocument document = IniDocument::Parse(
      "k0=before\r\n[Msg]\r\nlog2=b\r\n=nameless\r\nlog1=a\r\n; log9=c\r\nnoequals\r\nLOG2=dup\r\n"
      "[About]\r\n[msg]\r\nlog3=later\r\n");
  document.Set("MSG", "log0", "new");
  document.Set("Extra", "e", "1");
  EXPECT_EQ(document.SectionNames(), (std::vector<std::string>{"Msg", "About", "Extra"}));
  EXPECT_EQ(document.Keys("msg"), (std::vector<std::string>{"log2", "log1", "log0"}));
  EXPECT_TRUE(document.Keys("About").empty());
  EXPECT_TRUE(document.Keys("Missing").empty());
  // Straight over the text, the same lists.
  const std::string text = document.ToText();
  EXPECT_EQ(IniDocument::SectionNamesOf(text), document.SectionNames());
  EXPECT_EQ(IniDocument::KeysOf(text, " MSG "), document.Keys("msg"));
  EXPECT_TRUE(IniDocument::KeysOf(text, "Missing").empty());
}

TEST(IniDocumentTest, UnchangedTextComesBackByteForByte) {
  std::string text = "[A]\r\nx = 1 \r\n\t; comment\r\n";
  text += std::string("\0\x01\xFF garbage \x7F", 13);
  text += "\r\n[ B ]\r\n=no name\r\n";
  EXPECT_EQ(IniDocument::Parse(text).ToText(), text);
}

TEST(IniDocumentTest, ManySetsKeepTheIndexCoherent) {
  IniDocument document = IniDocument::Parse("[S0]\r\n; keep\r\n[S1]\r\n");
  for (int i = 0; i < 3000; ++i) {
    document.Set("S" + std::to_string(i % 7), "Key" + std::to_string(i), std::to_string(i));
  }
  for (int i = 0; i < 3000; i += 3) document.Set("s" + std::to_string(i % 7), "KEY" + std::to_string(i), "x");
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(document.Get("S" + std::to_string(i % 7), "key" + std::to_string(i)),
              i % 3 == 0 ? std::string("x") : std::to_string(i));
  }
  // The text written out reads back the same.
  const IniDocument reread = IniDocument::Parse(document.ToText());
  EXPECT_EQ(reread.SectionNames(), document.SectionNames());
  EXPECT_EQ(reread.Keys("S3"), document.Keys("S3"));
  EXPECT_EQ(reread.Get("S5", "Key5"), "5");
  EXPECT_NE(document.ToText().find("[S0]\r\nKey0=x\r\n"), std::string::npos);
}

TEST(IniDocumentTest, BinaryGarbageParsesAndTakesAKey) {
  std::mt19937 generator(12345);
  std::string garbage(1 << 20, '\0');
  for (char& c : garbage) c = static_cast<char>(generator() & 0xFF);
  IniDocument document = IniDocument::Parse(garbage);
  document.SectionNames();
  document.Set("Velmora", "Key", "Value");
  EXPECT_EQ(document.Get("Velmora", "Key"), "Value");
  const std::string text = document.ToText();
  EXPECT_EQ(IniDocument::Find(text, "Velmora", "Key"), "Value");
  // The garbage is still there: the longest stretch without line breaks comes out intact.
  std::size_t bestBegin = 0;
  std::size_t bestSize = 0;
  for (std::size_t begin = 0; begin < garbage.size();) {
    std::size_t end = garbage.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = garbage.size();
    if (end - begin > bestSize) {
      bestBegin = begin;
      bestSize = end - begin;
    }
    begin = end + 1;
  }
  EXPECT_NE(text.find(garbage.substr(bestBegin, bestSize)), std::string::npos);
}

// Lookups go through the hash indexes: a few slots and one comparison of names per index,
// however many keys the file holds. Counted, not timed; the speed of language lookups is
// measured by bench/message_lookup_bench.
TEST(IniDocumentTest, LookupsLookAtAFewSlotsWhateverTheFileSize) {
  for (const int keys : {1000, 100000}) {
    SCOPED_TRACE(std::to_string(keys) + " keys per section");
    // A language file: many keys in a few sections.
    std::string text = "[About]\r\nText=Velmora\r\n[Msg]\r\n";
    for (int i = 0; i < keys; ++i)
      text += "log" + std::to_string(i) + "=Message number " + std::to_string(i) + "\r\n";
    text += "[Mainfrm]\r\n";
    for (int i = 0; i < keys; ++i) text += "Control" + std::to_string(i) + ".Caption=Caption\r\n";
    const IniDocument document = IniDocument::Parse(text);

    IniDocument::LookupCost found;
    IniDocument::LookupCost missing;
    for (int i = 0; i < keys; ++i) {
      const std::string key = "LOG" + std::to_string(i);  // letter case differs from the file's
      ASSERT_EQ(document.Get("msg", key), "Message number " + std::to_string(i));
      const IniDocument::LookupCost hit = document.CostOfGet("msg", key);
      ASSERT_GE(hit.comparisons, 2u) << key;
      found.slots += hit.slots;
      found.comparisons += hit.comparisons;
      // A key of another section: only the section's name is compared.
      ASSERT_FALSE(document.Get("Mainfrm", key));
      const IniDocument::LookupCost miss = document.CostOfGet("Mainfrm", key);
      ASSERT_GE(miss.comparisons, 1u) << key;
      missing.slots += miss.slots;
      missing.comparisons += miss.comparisons;
    }
    // The indexes stay at most three quarters full, so a lookup looks at a few slots on average
    // (a linear search, or a hash that puts the names together, looks at hundreds or more).
    const auto lookups = static_cast<std::size_t>(keys);
    // One name compared in the section index and, for a key of the section, one in the key
    // index: the hash tags pass over the other names in the way (two names whose 32-bit tags
    // match cost one more, once in very many lookups).
    EXPECT_LE(found.comparisons, 2 * lookups + lookups / 1000);
    EXPECT_LE(missing.comparisons, lookups + lookups / 1000);
    EXPECT_LE(found.slots, 4 * lookups);
    EXPECT_LE(missing.slots, 8 * lookups);
  }
}

}  // namespace
