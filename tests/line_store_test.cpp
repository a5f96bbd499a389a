// The compact store of the log's lines: every line comes back exactly as it was added, whatever
// its length and bytes and wherever it falls against the store's blocks.
#include "base/line_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::size_t kBlock = LineStore::kBlockSize;

// The store holds exactly `expected`: by index, by iteration, as a vector, its last line and its
// byte count.
void ExpectHolds(const LineStore& store, const std::vector<std::string>& expected, const std::string& name) {
  ASSERT_EQ(store.size(), expected.size()) << name;
  EXPECT_EQ(store.empty(), expected.empty()) << name;
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(store[i], expected[i]) << name << ", line " << i;
    bytes += expected[i].size();
  }
  EXPECT_EQ(store.TextBytes(), bytes) << name;
  std::size_t at = 0;
  for (const std::string_view line : store) {
    ASSERT_LT(at, expected.size()) << name;
    ASSERT_EQ(line, expected[at]) << name << ", iterated line " << at;
    ++at;
  }
  EXPECT_EQ(at, expected.size()) << name;
  EXPECT_EQ(store.ToVector(), expected) << name;
  if (!expected.empty()) {
    EXPECT_EQ(store.back(), expected.back()) << name;
  }
}

std::vector<std::string> Numbered(std::size_t count) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < count; ++i)
    lines.push_back("[11.12.2026 12.00.00] HWID search: PCI\\VEN_8086 /index/Pack" + std::to_string(i) + ".inf");
  return lines;
}

TEST(LineStore, EveryLineComesBackAsAdded) {
  struct Case {
    std::string name;
    std::vector<std::string> lines;
  };
  const std::string fill(kBlock - 10, 'f');
  std::vector<std::string> many = Numbered(40000);  // several blocks
  many.insert(many.begin() + 20000, {"", std::string(kBlock + 7, 'L'), "", "after the long one"});
  const Case cases[] = {
      {"none", {}},
      {"one empty line", {""}},
      {"empty lines only", {"", "", ""}},
      {"empty lines around text", {"", "a", "", "", "b", ""}},
      {"bytes beyond ASCII, NUL among them",
       {"\xC3\xA4\xE2\x82\xAC", std::string("nul\0inside", 10), "\xFF\xFE\xC3", "\xF0\x9F\x98\x80"}},
      // A block filled to its last byte: an empty line still fits at its end, the next starts another.
      {"a block filled exactly", {fill, "0123456789", "", "next block"}},
      {"a line one byte too long for what is left", {fill, "01234567890", "x"}},
      {"a line of exactly a block", {"a", std::string(kBlock, 'B'), "", "c"}},
      // A longer line takes a block of its own; what follows never joins that block.
      {"a line longer than a block", {"a", std::string(3 * kBlock + 1, 'X'), "", "c", std::string(kBlock + 1, 'Y')}},
      {"a long line first and last", {std::string(kBlock + 1, 'F'), std::string(kBlock + 2, 'G')}},
      {"many lines across blocks", many},
  };
  for (const Case& c : cases) {
    LineStore store;
    for (const std::string& line : c.lines) store.Append(line);
    ExpectHolds(store, c.lines, c.name);
    // A copy holds the same lines; clearing the store leaves the copy whole and the store
    // ready for new lines.
    const LineStore copy = store;
    store.clear();
    ExpectHolds(store, {}, c.name + ", cleared");
    ExpectHolds(copy, c.lines, c.name + ", copied");
    store.Append("again");
    ExpectHolds(store, {"again"}, c.name + ", after clearing");
  }
}

// A line once read stays readable where it is while more lines come: the view of the log reads
// rows while a run keeps adding to it.
TEST(LineStore, LinesStayInPlaceWhileMoreAreAdded) {
  LineStore store;
  store.Append("first");
  const std::string_view first = store[0];
  const std::vector<std::string> more = Numbered(30000);
  for (const std::string& line : more) store.Append(line);
  store.Append(std::string(kBlock + 1, 'z'));
  EXPECT_EQ(first.data(), store[0].data());
  EXPECT_EQ(first, "first");
  EXPECT_EQ(store[30000], more.back());
  EXPECT_EQ(store.back().size(), kBlock + 1);
}

}  // namespace
