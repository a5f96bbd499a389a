#include "search/file_search.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/code_page.h"
#include "support/temp_dir.h"

namespace {

using Positions = std::vector<std::int64_t>;

// Every position the First()/Next() walk gives; after the end it must stay at the end.
Positions Walk(TBaseSearch& search) {
  Positions found;
  for (std::int64_t at = search.First(); at >= 0; at = search.Next()) {
    found.push_back(at);
    if (found.size() > 100000) break;  // a walk that does not advance
  }
  EXPECT_EQ(search.Next(), -1) << "a finished walk starts again";
  return found;
}

Positions Find(const std::string& text, const std::string& pattern, bool caseSensitive) {
  TSearch search;
  search.SetPattern(pattern);
  search.SetCaseSensitive(caseSensitive);
  search.SetBuffer(reinterpret_cast<const unsigned char*>(text.data()),
                   static_cast<std::int64_t>(text.size()));
  return Walk(search);
}

// The obvious search: leftmost occurrence, then the next one starting after its end.
Positions Naive(const std::string& text, const std::string& pattern, bool caseSensitive) {
  const auto& fold = platform::LowerCaseTable();
  auto key = [&](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return caseSensitive ? byte : fold[byte];
  };
  Positions found;
  if (pattern.empty()) return found;
  for (std::size_t at = 0; at + pattern.size() <= text.size();) {
    std::size_t k = 0;
    while (k < pattern.size() && key(text[at + k]) == key(pattern[k])) ++k;
    if (k == pattern.size()) {
      found.push_back(static_cast<std::int64_t>(at));
      at += pattern.size();
    } else {
      ++at;
    }
  }
  return found;
}

std::string Utf16(const std::u16string& text, bool bigEndian) {
  std::string bytes = bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

struct WalkCase {
  std::string what;
  std::string text;
  std::string pattern;
  bool caseSensitive;
  Positions expected;
};

TEST(TSearchTest, FindsNonOverlappingOccurrencesInOrder) {
  const std::vector<WalkCase> cases = {
      {"letter case ignored", "xxABxxab", "AB", false, {2, 6}},
      {"lower-case pattern", "xxABxxab", "ab", false, {2, 6}},
      {"letter case kept", "xxABxxab", "AB", true, {2}},
      {"lower case kept", "xxABxxab", "ab", true, {6}},
      {"mixed case", "pCi\\vEn_8086", "PCI\\VEN_8086", false, {0}},
      {"no overlap", "AAAA", "AA", false, {0, 2}},
      {"odd run", "AAAAA", "AA", false, {0, 2}},
      {"last char occurs earlier", "ABABABA", "ABA", false, {0, 4}},
      {"near misses", "ABBABAABA", "ABA", false, {3, 6}},
      {"one character", "xaxxX", "x", false, {0, 2, 3, 4}},
      {"pattern is the text", "PCI\\VEN", "PCI\\VEN", false, {0}},
      {"at the very end", "the END", "END", true, {4}},
      {"at the very start", "ENDing", "END", true, {0}},
      {"longer than the text", "AB", "ABC", false, {}},
      {"empty pattern", "abc", "", false, {}},
      {"empty pattern, case kept", "abc", "", true, {}},
      {"bytes above 127 folded as the platform folds", "\xC4\xE4", "\xE4", false,
       kFoldsCodePage ? Positions{0, 1} : Positions{1}},
      {"bytes above 127 found as they are", "\xC4\xE4", "\xC4", true, {0}},
      {"a sign above 127 is no capital letter", "\xD7\xF7", "\xF7", false, {1}},
      {"zero bytes", std::string("a\0b\0b", 5), std::string("\0b", 2), true, {1, 3}},
      {"mismatch in the first character", "xBCxBCABC", "ABC", false, {6}},
  };
  for (const WalkCase& c : cases) {
    EXPECT_EQ(Find(c.text, c.pattern, c.caseSensitive), c.expected) << c.what;
    EXPECT_EQ(Naive(c.text, c.pattern, c.caseSensitive), c.expected) << c.what << " (reference)";
  }
}

// Random texts over a small alphabet, so near misses and overlaps are frequent, against the
// obvious search. Patterns are pieces of the text or random.
TEST(TSearchTest, AgreesWithTheObviousSearchOnRandomTexts) {
  std::mt19937 random(20261210);
  const std::string alphabet = "aAbB\\&_0";
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(random); };
  for (int round = 0; round < 3000; ++round) {
    std::string text(pick(60), ' ');
    for (char& c : text) c = alphabet[pick(alphabet.size() - 1)];
    std::string pattern;
    if (!text.empty() && pick(1) == 0) {
      const std::size_t start = pick(text.size() - 1);
      pattern = text.substr(start, 1 + pick(std::min<std::size_t>(6, text.size() - start - 1)));
    } else {
      pattern.resize(1 + pick(4));
      for (char& c : pattern) c = alphabet[pick(alphabet.size() - 1)];
    }
    for (const bool caseSensitive : {false, true}) {
      ASSERT_EQ(Find(text, pattern, caseSensitive), Naive(text, pattern, caseSensitive))
          << "text \"" << text << "\" pattern \"" << pattern << "\" case " << caseSensitive;
    }
  }
}

struct TableCase {
  std::string pattern;
  bool caseSensitive;
  std::vector<std::pair<unsigned char, std::uint32_t>> shifts;
  std::uint32_t lastShift;
};

TEST(TSearchTest, BuildsTheShiftTables) {
  const std::vector<TableCase> cases = {
      // The last character's entry is 0; after a failed comparison the window moves to the
      // last character's previous occurrence.
      {"ABA", false, {{'A', 0}, {'a', 0}, {'B', 1}, {'b', 1}, {'z', 3}, {'\\', 3}}, 2},
      {"ABA", true, {{'A', 0}, {'a', 3}, {'B', 1}, {'b', 3}}, 2},
      {"ABCD", false, {{'a', 3}, {'b', 2}, {'c', 1}, {'d', 0}, {'x', 4}}, 4},
      {"AAAA", false, {{'a', 0}, {'b', 4}}, 1},
      {"AaBa", false, {{'a', 0}, {'b', 1}}, 2},
      {"AaBa", true, {{'A', 3}, {'a', 0}, {'B', 1}}, 2},
      {"x", false, {{'x', 0}, {'y', 1}}, 1},
  };
  for (const TableCase& c : cases) {
    TSearch search;
    search.SetPattern(c.pattern);
    search.SetCaseSensitive(c.caseSensitive);
    search.First();
    for (const auto& [byte, shift] : c.shifts) {
      EXPECT_EQ(search.Shift(byte), shift) << c.pattern << " case " << c.caseSensitive << " byte " << byte;
    }
    EXPECT_EQ(search.LastShift(), c.lastShift) << c.pattern << " case " << c.caseSensitive;
  }
}

TEST(TSearchTest, BuildsTablesOnlyAfterAChange) {
  const std::string text = "xxABxxab";
  TSearch search;
  search.SetBuffer(reinterpret_cast<const unsigned char*>(text.data()),
                   static_cast<std::int64_t>(text.size()));
  search.SetPattern("AB");
  EXPECT_EQ(search.TableBuilds(), 0) << "tables are built by the search, not by SetPattern";
  EXPECT_EQ(Walk(search), (Positions{2, 6}));
  EXPECT_EQ(search.TableBuilds(), 1);
  search.SetPattern("AB");
  search.SetCaseSensitive(false);
  EXPECT_EQ(Walk(search), (Positions{2, 6}));
  EXPECT_EQ(search.TableBuilds(), 1) << "the same pattern and case build nothing again";
  search.SetCaseSensitive(true);
  EXPECT_EQ(Walk(search), (Positions{2}));
  EXPECT_EQ(search.TableBuilds(), 2);
  search.SetPattern("ab");
  EXPECT_EQ(search.Pattern(), "ab");
  EXPECT_EQ(Walk(search), (Positions{6}));
  EXPECT_EQ(search.TableBuilds(), 3);
  search.SetPattern("");
  EXPECT_EQ(Walk(search), Positions{});
}

TEST(TSearchTest, WithoutABlockFindsNothing) {
  TSearch empty;
  EXPECT_EQ(empty.First(), -1);
  EXPECT_EQ(empty.Next(), -1);
  EXPECT_EQ(empty.Pattern(), "");
  EXPECT_FALSE(empty.CaseSensitive());

  const std::vector<unsigned char> bytes = {'a', 'b'};
  TSearch search;
  search.SetPattern("ab");
  EXPECT_EQ(search.First(), -1) << "pattern but no block";
  EXPECT_EQ(search.SetBuffer(nullptr, 2), 2);
  EXPECT_EQ(search.First(), -1);
  EXPECT_EQ(search.SetBuffer(bytes.data(), 0), 0);
  EXPECT_EQ(search.First(), -1);
  EXPECT_EQ(search.SetBuffer(bytes.data(), -5), -5);
  EXPECT_EQ(search.First(), -1);
  EXPECT_EQ(search.SetBuffer(bytes.data(), 2), 2);
  EXPECT_EQ(search.First(), 0);
  // A new block forgets the old one and its position, even a failed one.
  search.SetBuffer(nullptr, 0);
  EXPECT_EQ(search.First(), -1);
}

TEST(TSearchTest, NextOnANewBlockStartsAtItsStart) {
  // Exactly sized blocks, so reading before one is an error under AddressSanitizer.
  const std::vector<unsigned char> first = {'x', 'x', 'A', 'B', 'C'};
  const std::vector<unsigned char> second = {'A', 'B', 'C', 'A', 'B', 'C'};
  TSearch search;
  search.SetPattern("ABC");
  search.SetBuffer(first.data(), 5);
  EXPECT_EQ(search.First(), 2);
  search.SetBuffer(second.data(), 6);
  EXPECT_EQ(search.Next(), 0);
  EXPECT_EQ(search.Next(), 3);
  EXPECT_EQ(search.Next(), -1);
  // A longer pattern after a short one's match moves the window inside the block too.
  search.SetPattern("A");
  EXPECT_EQ(search.First(), 0);
  search.SetPattern("ABCABC");
  EXPECT_EQ(search.Next(), 0);
}

struct FileCase {
  std::string what;
  std::string content;
  std::optional<std::string> searched;  // the text the search sees; none: nothing mapped
};

const std::vector<FileCase>& FileCases() {
  static const std::vector<FileCase> cases = {
      {"8-bit text", "[Models]\r\n%D% = I, PCI\\VEN_8086&DEV_1C3A\r\n",
       "[Models]\r\n%D% = I, PCI\\VEN_8086&DEV_1C3A\r\n"},
      {"one byte", "P", "P"},
      {"UTF-16 LE", Utf16(u"x = PCI\\VEN_8086&DEV_1C3A", false),
       std::string(1, '\0') + "x = PCI\\VEN_8086&DEV_1C3A"},
      {"UTF-16 BE", Utf16(u"x = PCI\\VEN_8086&DEV_1C3A", true),
       std::string(1, '\0') + "x = PCI\\VEN_8086&DEV_1C3A"},
      // Latin-1 characters keep their byte; anything else becomes a zero byte.
      {"UTF-16 beyond ASCII", Utf16(u"caf\u00e9 \u4e2dPCI\\\u0130", false),
       std::string("\0caf\xe9 \0PCI\\\0", 12)},
      {"UTF-16 BE beyond ASCII", Utf16(u"caf\u00e9 \u4e2dPCI\\\u0130", true),
       std::string("\0caf\xe9 \0PCI\\\0", 12)},
      {"UTF-16 odd last byte", Utf16(u"AB", false) + "C", std::string("\0AB", 3)},
      {"only the byte-order mark", "\xFF\xFE", std::string("\0", 1)},
      {"a mark-like start of one byte", "\xFF", "\xFF"},
      {"FF FF is no mark",
       "\xFF\xFF"
       "AB",
       "\xFF\xFF"
       "AB"},
      {"mark not at the start",
       "ab\xFF\xFE"
       "c",
       "ab\xFF\xFE"
       "c"},
      {"empty file", "", std::nullopt},
  };
  return cases;
}

TEST(TFileSearchTest, SearchesTheTextOfTheFile) {
  TempDir dir;
  const std::vector<std::string> patterns = {
      "PCI\\VEN_8086", "pci\\ven_8086&dev_1c3a", "caf\xe9", "AB", "C", std::string("\0", 1), "P"};
  for (const FileCase& c : FileCases()) {
    const std::string path = dir.Write("case.inf", c.content);
    std::string loaded = "old content";
    EXPECT_EQ(LoadSearchText(path, loaded), c.searched.has_value()) << c.what;
    EXPECT_EQ(loaded, c.searched.value_or("")) << c.what;

    TFileSearch search;
    search.SetFilename(path);
    EXPECT_EQ(search.Filename(), c.searched ? path : "") << c.what;
    for (const std::string& pattern : patterns) {
      search.SetPattern(pattern);
      EXPECT_EQ(Walk(search), Naive(c.searched.value_or(""), pattern, false)) << c.what << ": " << pattern;
    }
  }
}

TEST(TFileSearchTest, NarrowsUtf16Units) {
  const std::vector<unsigned char> le = {0xFF, 0xFE, 'A', 0, 0xE9, 0, 0x2D, 0x4E, 'B', 0, 'C'};
  const std::vector<unsigned char> be = {0xFE, 0xFF, 0, 'A', 0, 0xE9, 0x4E, 0x2D, 0, 'B', 'C'};
  const std::string expected("\0A\xE9\0B", 5);
  std::string out = "previous";
  NarrowUtf16(le.data(), le.size(), false, out);
  EXPECT_EQ(out, expected);
  NarrowUtf16(be.data(), be.size(), true, out);
  EXPECT_EQ(out, expected);
  NarrowUtf16(be.data(), 1, true, out);
  EXPECT_EQ(out, "");
}

TEST(TFileSearchTest, MissingFoldersAndUnmappableNamesFindNothing) {
  TempDir dir;
  const std::string good = dir.Write("good.inf", "USB\\VID_046D&PID_C52B");
  const std::vector<std::string> names = {"", dir.File("missing.inf"), dir.MakeDir("folder"), "/dev/null",
                                          dir.Write("empty.inf", "")};
  for (const std::string& name : names) {
    TFileSearch search;
    search.SetPattern("USB");
    search.SetFilename(good);
    ASSERT_EQ(search.First(), 0);
    // The next name replaces the mapped file even when it maps nothing.
    search.SetFilename(name);
    EXPECT_EQ(search.Filename(), "") << name;
    EXPECT_EQ(search.First(), -1) << name;
    EXPECT_EQ(search.Next(), -1) << name;
    std::string loaded = "old";
    EXPECT_FALSE(LoadSearchText(name, loaded)) << name;
    EXPECT_EQ(loaded, "") << name;
  }
  TFileSearch fresh;
  EXPECT_EQ(fresh.First(), -1);
  EXPECT_EQ(fresh.Filename(), "");
}

TEST(TFileSearchTest, FollowsTheFileItIsGiven) {
  TempDir dir;
  const std::string a = dir.Write("a.inf", "x USB\\VID_1 usb\\vid_1");
  const std::string b = dir.Write("sub/b.inf", Utf16(u"USB\\VID_1", false));
  TFileSearch search;
  search.SetPattern("USB\\VID_1");
  search.SetFilename(a);
  EXPECT_EQ(Walk(search), (Positions{2, 12}));
  search.SetFilename(dir.path() + "sub\\b.inf");
  EXPECT_EQ(search.Filename(), dir.path() + "sub\\b.inf");
  EXPECT_EQ(Walk(search), (Positions{1}));
  search.SetCaseSensitive(true);
  search.SetFilename(a);
  EXPECT_EQ(Walk(search), (Positions{2}));
  EXPECT_EQ(search.TableBuilds(), 2);
}

}  // namespace
