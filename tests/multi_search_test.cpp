#include "search/multi_search.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "search/file_search.h"
#include "support/code_page.h"
#include "support/temp_dir.h"

namespace {

using Counts = std::vector<std::uint32_t>;

// The count of the file searcher's own walk, pattern by pattern.
Counts SearcherCounts(const std::string& text, const std::vector<std::string>& patterns) {
  Counts counts;
  TSearch search;
  search.SetBuffer(reinterpret_cast<const unsigned char*>(text.data()),
                   static_cast<std::int64_t>(text.size()));
  for (const std::string& pattern : patterns) {
    search.SetPattern(pattern);
    std::uint32_t n = 0;
    for (std::int64_t at = search.First(); at >= 0; at = search.Next()) ++n;
    counts.push_back(n);
  }
  return counts;
}

Counts OnePass(const std::string& text, const std::vector<std::string>& patterns) {
  const MultiPatternCounter counter(patterns);
  EXPECT_EQ(counter.PatternCount(), patterns.size());
  Counts counts = {99, 99, 99};  // replaced, whatever was there
  counter.Count(text, counts);
  return counts;
}

struct CountCase {
  std::string what;
  std::string text;
  std::vector<std::string> patterns;
  Counts expected;
};

TEST(MultiPatternCounterTest, CountsEveryPatternInOnePass) {
  const std::string line = "%D% = I, PCI\\VEN_8086&DEV_1C3A&SUBSYS_00011028\r\n";
  const std::vector<CountCase> cases = {
      {"letter case ignored", "PCI\\VEN_8086 pci\\ven_8086 Pci\\Ven_8086", {"PCI\\VEN_8086"}, {3}},
      {"repeats and case variants share the count",
       "PCI\\VEN_8086 pci\\ven_8086",
       {"PCI\\VEN_8086", "pci\\ven_8086", "PCI\\VEN_8086"},
       {2, 2, 2}},
      {"a pattern and its longer forms",
       line + line,
       {"PCI\\VEN_8086", "PCI\\VEN_8086&DEV_1C3A", "PCI\\VEN_8086&DEV_1C3A&SUBSYS_00011028",
        "PCI\\VEN_8086&DEV_1C3A&SUBSYS_00011029", "PCI\\VEN_8086&DEV_1C3B"},
       {2, 2, 2, 0, 0}},
      {"equal for 16 bytes after the backslash, different later",
       "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269 HDAUDIO\\FUNC_01&VEN_10EC&DEV_0270",
       {"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0270",
        "HDAUDIO\\FUNC_01&VEN_10EC&DEV_02", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0271"},
       {1, 1, 2, 0}},
      {"different text before the backslash",
       "ACPI\\PNP0A08 PCI\\PNP0A08",
       {"ACPI\\PNP0A08", "PCI\\PNP0A08", "CPI\\PNP0A08", "PI\\PNP0A08", "I\\PNP0A08", "XPCI\\PNP0A08"},
       {1, 1, 1, 1, 2, 0}},
      {"overlapping occurrences count once", "A\\A\\A\\A\\A", {"A\\A", "A\\A\\A", "\\A\\"}, {2, 1, 2}},
      {"backslashes only", "\\\\\\\\\\", {"\\", "\\\\", "\\\\\\"}, {5, 2, 1}},
      {"starts with the backslash", "%12%\\DRIVERS\\x.sys \\drivers", {"\\drivers", "\\DRIVERS\\"}, {2, 1}},
      {"ends with the backslash", "PCI\\VEN PCI\\", {"PCI\\", "pci\\v", "I\\"}, {2, 1, 2}},
      {"at the start and the end", "USB\\VID_046D", {"USB\\VID_046D", "USB\\VID_046D&PID_C52B"}, {1, 0}},
      {"text that ends inside the pattern", "x USB\\VID_04", {"USB\\VID_046D", "USB\\VID_04"}, {0, 1}},
      {"text that starts after the prefix", "\\VID_046D", {"USB\\VID_046D", "\\VID_046D"}, {0, 1}},
      {"no backslash in the pattern", "VEN_8086 ven_8086 xVEN_8086", {"VEN_8086", "8086", "N_8"}, {3, 3, 3}},
      {"no backslash, overlaps", "aaaaa", {"aa", "aaa", "b"}, {2, 1, 0}},
      {"empty pattern", "PCI\\VEN", {"", "PCI\\VEN", ""}, {0, 1, 0}},
      {"empty text", "", {"PCI\\VEN", "VEN", ""}, {0, 0, 0}},
      {"no patterns", "PCI\\VEN", {}, {}},
      {"several backslashes", "A\\B\\C A\\B\\D a\\b\\c", {"A\\B\\C", "A\\B\\", "B\\C"}, {2, 3, 2}},
      {"bytes above 127 folded as the platform folds",
       "\xC4\\\xE4 \xE4\\\xE4",
       {"\xE4\\\xE4", "\xC4\\\xC4"},
       kFoldsCodePage ? Counts{2, 2} : Counts{1, 0}},
      {"a sign above 127 is no capital letter", "\xD7\\\xF7", {"\xF7\\\xF7", "\xD7\\\xF7"}, {0, 1}},
      {"zero bytes", std::string("P\\\0Q P\\\0q", 9), {std::string("p\\\0Q", 4)}, {2}},
  };
  for (const CountCase& c : cases) {
    EXPECT_EQ(OnePass(c.text, c.patterns), c.expected) << c.what;
    EXPECT_EQ(SearcherCounts(c.text, c.patterns), c.expected) << c.what << " (file searcher)";
  }
}

// The 16 bytes after a backslash are folded eight at a time when the text goes on for 16 bytes
// or more: every letter in both cases, at every place of the key, matches its other case, and
// the signs just outside the letters ("@" and "[", "`" and "{") match only themselves.
TEST(MultiPatternCounterTest, EveryLetterFoldsAtEveryPlaceOfTheSixteenBytesAfterTheBackslash) {
  const std::string tail = " and more than sixteen bytes after it";
  for (int place = 0; place < 16; ++place) {
    for (int letter = 0; letter < 26; ++letter) {
      std::string upper(16, '_');
      std::string lower(16, '_');
      upper[static_cast<std::size_t>(place)] = static_cast<char>('A' + letter);
      lower[static_cast<std::size_t>(place)] = static_cast<char>('a' + letter);
      const std::string text = "P\\" + upper + tail + " P\\" + lower + tail;
      const std::vector<std::string> patterns = {"P\\" + lower, "P\\" + upper};
      EXPECT_EQ(OnePass(text, patterns), (Counts{2, 2})) << "letter " << static_cast<char>('A' + letter)
                                                       << " at " << place;
    }
    for (const auto& [sign, other] : {std::pair{'@', '`'}, std::pair{'[', '{'}}) {
      std::string key(16, '_');
      std::string otherKey(16, '_');
      key[static_cast<std::size_t>(place)] = sign;
      otherKey[static_cast<std::size_t>(place)] = other;
      const std::string text = "P\\" + key + tail;
      EXPECT_EQ(OnePass(text, {"P\\" + otherKey, "P\\" + key}), (Counts{0, 1})) << sign << " at " << place;
      EXPECT_EQ(SearcherCounts(text, {"P\\" + otherKey, "P\\" + key}), (Counts{0, 1})) << sign;
    }
  }
}

// Random texts and pattern sets over an alphabet where occurrences overlap and nearly match
// often: the counts must be the file searcher's, pattern by pattern.
TEST(MultiPatternCounterTest, AgreesWithTheFileSearcherOnRandomTexts) {
  std::mt19937 random(1210);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(random); };
  const std::vector<std::string> alphabets = {"aA\\", "aAbB\\&_01", "pciPCI\\ven_8086&", "aA*", "aA*\\", "*pnP05\\"};
  for (int round = 0; round < 3000; ++round) {
    const std::string& alphabet = alphabets[round % alphabets.size()];
    auto letters = [&](std::size_t n) {
      std::string s(n, ' ');
      for (char& c : s) c = alphabet[pick(alphabet.size() - 1)];
      return s;
    };
    const std::string text = letters(pick(400));
    std::vector<std::string> patterns;
    const std::size_t count = pick(24);
    for (std::size_t k = 0; k < count; ++k) {
      switch (pick(5)) {
        case 0:
          patterns.push_back(letters(1 + pick(4)));
          break;
        case 1:  // a piece of the text, sometimes longer than the 16 bytes of the lookup key
          if (!text.empty()) {
            const std::size_t start = pick(text.size() - 1);
            patterns.push_back(text.substr(start, 1 + pick(30)));
          }
          break;
        case 2:  // a piece of the text around a backslash or a star, with its letter case changed
          if (const std::size_t slash = text.find(pick(1) ? '\\' : '*', pick(text.size()));
              slash != std::string::npos) {
            std::string piece = text.substr(slash - std::min<std::size_t>(slash, pick(4)), 2 + pick(20));
            for (char& c : piece) c = pick(1) ? static_cast<char>(std::toupper(c)) : c;
            patterns.push_back(piece);
          }
          break;
        case 3:  // a repeat, or an extension of an earlier pattern
          if (!patterns.empty()) {
            const std::string& earlier = patterns[pick(patterns.size() - 1)];
            patterns.push_back(pick(1) ? earlier : earlier + letters(1 + pick(3)));
          }
          break;
        case 4:
          patterns.push_back("");
          break;
        default:
          patterns.push_back(letters(2) + "\\" + letters(pick(20)));
          break;
      }
    }
    ASSERT_EQ(OnePass(text, patterns), SearcherCounts(text, patterns))
        << "round " << round << " text " << text;
  }
}

std::string Utf16Le(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

std::string Utf16Be(const std::string& ascii) {
  std::string bytes = "\xFE\xFF";
  for (const char c : ascii) bytes += std::string{'\0', c};
  return bytes;
}

// Identifiers without a backslash ("*PNP0501", as the devices' compatible IDs give them) go
// through the same one scan, anchored at their "*": for every (pattern, file) pair the count is
// the one the pair-by-pair search (TFileSearch, one pattern over one file) gives, in 8-bit and
// UTF-16 files alike, beside patterns anchored at a backslash and ones with neither byte.
TEST(CountInFilesTest, StarIdentifiersCountAsThePairByPairSearchCountsThem) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> patterns;
    Counts expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"letter case ignored, at the very start and the very end of the file",
       "*pnp0501 = Com_Inst\r\n%Com% = Com_Inst, *PNP0501",
       {"*PNP0501", "*pnp0501", "*Pnp0501"}, {2, 2, 2}},
      {"an ID that is a prefix of another",
       "%A% = I, *PNP0501\r\n%B% = I, *PNP050\r\n",
       {"*PNP050", "*PNP0501", "*PNP05011"}, {2, 1, 0}},
      {"\"*\" is an ordinary character, also in runs and in the middle of a pattern",
       ";****\r\nHKR,Ndi\\params\\*SpeedDuplex\r\n*PNP05*1\r\n",
       {"*", "**", "***", "*PNP05*1", "*PNP0501", "*SPEED", "PARAMS\\*SPEED"}, {7, 2, 1, 1, 0, 1, 1}},
      {"IDs inside other IDs",
       "ACPI\\*PNP0A03 ACPI\\PNP0A03 *PNP0A030",
       {"*PNP0A03", "PNP0A03", "ACPI\\PNP0A03", "I\\*PNP0A03", "ACPI\\*", "0A03"}, {2, 3, 1, 1, 1, 3}},
      {"overlapping occurrences count once, leftmost first",
       "*A*A*A*A",
       {"*A*A", "A*A", "*A*", "*a", "A*"}, {2, 2, 2, 4, 3}},
      {"the text ends inside a pattern or right after its anchor",
       "x *PNP05 c*",
       {"*PNP0501", "*PNP05", "C*", "*X", "C**"}, {0, 1, 1, 0, 0}},
      {"no star in the text", "PCI\\VEN_8086&DEV_1C3A PNP0501", {"*PNP0501", "*", "PNP0501"}, {0, 0, 1}},
  };
  // clang-format on
  TempDir dir;
  const std::vector<std::pair<const char*, std::string (*)(const std::string&)>> encodings = {
      {"8-bit", [](const std::string& text) { return text; }},
      {"UTF-16 LE", [](const std::string& text) { return Utf16Le(text); }},
      {"UTF-16 BE", [](const std::string& text) { return Utf16Be(text); }}};
  for (const Case& c : cases) {
    std::vector<std::string> paths;
    for (const auto& [name, encode] : encodings) {
      paths.push_back(dir.Write(std::string(name) + ".inf", encode(c.text)));
    }
    const MultiPatternCounter counter(c.patterns);
    const std::vector<FileMatches> onePass = CountInFiles(counter, paths, 1);
    ASSERT_EQ(onePass.size(), paths.size());
    for (std::size_t f = 0; f < paths.size(); ++f) {
      SCOPED_TRACE(std::string(c.what) + ", " + encodings[f].first);
      Counts pairByPair;
      TFileSearch search;
      search.SetFilename(paths[f]);
      for (const std::string& pattern : c.patterns) {
        search.SetPattern(pattern);
        std::uint32_t n = 0;
        for (std::int64_t at = search.First(); at >= 0; at = search.Next()) ++n;
        pairByPair.push_back(n);
      }
      EXPECT_EQ(pairByPair, c.expected) << "the pair-by-pair search";
      Counts scanned(c.patterns.size(), 0);
      for (const auto& [pattern, count] : onePass[f].counts) scanned[pattern] = count;
      EXPECT_EQ(scanned, c.expected) << "the one pass";
    }
  }
}

TEST(CountInFilesTest, GivesEachFileItsCountsInPathOrder) {
  TempDir dir;
  const std::vector<std::string> patterns = {"PCI\\VEN_8086&DEV_1C3A", "USB\\VID_046D", "", "VEN_10EC",
                                             "usb\\vid_046d"};
  const MultiPatternCounter counter(patterns);
  std::vector<std::string> paths;
  std::vector<FileMatches> expected;
  for (int k = 0; k < 60; ++k) {
    const std::string name = "f" + std::to_string(k) + ".inf";
    switch (k % 6) {
      case 0:
        paths.push_back(
            dir.Write(name, std::string(static_cast<std::size_t>(k), 'x') + "PCI\\VEN_8086&DEV_1C3A"));
        expected.push_back({{{0, 1}}});
        break;
      case 1:
        paths.push_back(dir.Write(name, Utf16Le("usb\\VID_046D&PID_C52B USB\\VID_046D VEN_10EC")));
        expected.push_back({{{1, 2}, {3, 1}, {4, 2}}});
        break;
      case 2:
        paths.push_back(dir.File(name));  // missing
        expected.push_back({});
        break;
      case 3:
        paths.push_back(dir.Write(name, ""));
        expected.push_back({});
        break;
      case 4:
        paths.push_back(dir.Write(name, "nothing to find\r\n"));
        expected.push_back({});
        break;
      default:
        paths.push_back(dir.Write(name, std::string(static_cast<std::size_t>(k) * 1000, 'v') + "VEN_10EC"));
        expected.push_back({{{3, 1}}});
        break;
    }
  }
  paths.push_back(dir.MakeDir("folder.inf"));
  expected.push_back({});
  for (const unsigned threads : {1u, 4u, 0u, 200u}) {
    const auto caller = std::this_thread::get_id();
    std::vector<std::size_t> reported;
    const auto results = CountInFiles(counter, paths, threads, [&](std::size_t done) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      reported.push_back(done);
    });
    ASSERT_EQ(results.size(), paths.size()) << threads;
    for (std::size_t k = 0; k < paths.size(); ++k) {
      EXPECT_EQ(results[k].counts, expected[k].counts) << "threads " << threads << ", " << paths[k];
    }
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), paths.size());
    for (std::size_t k = 1; k < reported.size(); ++k) EXPECT_LE(reported[k - 1], reported[k]);
    EXPECT_EQ(CountInFiles(counter, paths, threads).size(), paths.size()) << "without progress";
  }
}

TEST(CountInFilesTest, NoFilesNoWork) {
  const MultiPatternCounter counter({"PCI\\VEN_8086"});
  std::size_t calls = 0;
  EXPECT_TRUE(CountInFiles(counter, {}, 4, [&](std::size_t done) {
                EXPECT_EQ(done, 0u);
                ++calls;
              }).empty());
  EXPECT_LE(calls, 1u);
}

// A fold table where folding twice differs from folding once ('A' to 'B', 'B' to 'C'): every
// pattern is folded once, as the text is, so the counts are those of the folded text.
TEST(MultiPatternCounterFold, FoldsEachPatternOnce) {
  platform::FoldTable fold{};
  for (int c = 0; c < 256; ++c) fold.map[c] = static_cast<unsigned char>(c);
  fold.map['A'] = 'B';
  fold.map['B'] = 'C';
  struct Case {
    const char* pattern;
    const char* text;
  };
  const Case cases[] = {
      {"PCI\\A", "PCI\\A"},     // both fold to PCI\B: one match
      {"PCI\\A", "PCI\\B"},     // PCI\B against PCI\C: none
      {"PCI\\AB", "xPCI\\ABy"},  // a key of two letters after the backslash
      {"A", "A B A"},            // no backslash: counted by the plain searcher
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " in " + c.text);
    // The reference: non-overlapping occurrences of the folded pattern in the folded text.
    std::string p = c.pattern;
    std::string t = c.text;
    for (char& ch : p) ch = static_cast<char>(fold[static_cast<unsigned char>(ch)]);
    for (char& ch : t) ch = static_cast<char>(fold[static_cast<unsigned char>(ch)]);
    std::uint32_t expected = 0;
    for (std::size_t at = t.find(p); at != std::string::npos; at = t.find(p, at + p.size())) ++expected;
    const MultiPatternCounter counter({c.pattern}, fold);
    std::vector<std::uint32_t> counts;
    counter.Count(c.text, counts);
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0], expected);
  }
}

// A pattern is anchored at its first backslash, else at its first "*", as long as the fold table
// makes that byte of no other byte and leaves it as it is; a pattern with neither is walked on its
// own. The counts are those of the folded text whichever way a pattern is counted.
TEST(MultiPatternCounterFold, AnchorsAtABackslashOrAStarThatOnlyItselfFoldsTo) {
  struct Case {
    const char* what;
    std::vector<std::pair<unsigned char, unsigned char>> folds;  // on top of the identity
    std::size_t alone;
  };
  const std::vector<std::string> patterns = {"PCI\\VEN_8086", "*PNP0501", "*pnp0501", "", "VEN_8086",
                                             "A*B",           "ACPI\\*PNP0501", "*PNP0501"};
  const std::string text = "+PNP0501 *PNP0501 *pnp0501 /VEN_8086 PCI\\VEN_8086 A+B A*B ACPI/*PNP0501 ACPI\\+PNP0501";
  const std::vector<Case> cases = {
      {"nothing folds to either", {}, 1},                       // VEN_8086
      {"another byte folds to the star", {{'+', '*'}}, 4},      // the three with a star only, VEN_8086
      {"another byte folds to the backslash", {{'/', '\\'}}, 2},  // PCI\VEN_8086, VEN_8086
      {"the star folds to another byte", {{'*', '+'}}, 4},      // as with no star
      {"both", {{'+', '*'}, {'/', '\\'}}, 6},                    // all but the empty one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::FoldTable fold{};
    for (int b = 0; b < 256; ++b) fold.map[b] = static_cast<unsigned char>(b);
    for (const auto& [from, to] : c.folds) fold.map[from] = to;
    const MultiPatternCounter counter(patterns, fold);
    EXPECT_EQ(counter.PatternsCountedAlone(), c.alone);
    Counts counts;
    counter.Count(text, counts);
    ASSERT_EQ(counts.size(), patterns.size());
    std::string t = text;
    for (char& ch : t) ch = static_cast<char>(fold[static_cast<unsigned char>(ch)]);
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      std::string p = patterns[i];
      for (char& ch : p) ch = static_cast<char>(fold[static_cast<unsigned char>(ch)]);
      std::uint32_t expected = 0;
      if (!p.empty()) {
        for (std::size_t at = t.find(p); at != std::string::npos; at = t.find(p, at + p.size())) ++expected;
      }
      EXPECT_EQ(counts[i], expected) << patterns[i];
    }
  }
}

}  // namespace
