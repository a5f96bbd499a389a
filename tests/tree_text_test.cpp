#include "devices/tree_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "shared/shared_functions.h"
#include "support/temp_dir.h"
#include "support/tree_shape.h"

namespace {

using Lines = std::vector<std::string>;


TEST(TreeText, WritesDepthFirstWithTabs) {
  Tree tree;
  auto* pc = tree.roots.emplace_back(std::make_unique<TreeNode>()).get();
  pc->text = "OFFICE-PC";
  auto* net = tree.roots.emplace_back(std::make_unique<TreeNode>()).get();
  net->text = "*Net";
  auto* card = net->AddChild("PCI\\VEN_8086&DEV_15D7\\3&1&0&FE", 3, 2);
  card->AddChild("Name: Intel(R) Ethernet");
  card->AddChild("Line\r\nbreak");
  net->AddChild("1 matching device(s) found.");

  const Lines expected = {"OFFICE-PC",
                          "*Net",
                          "\tPCI\\VEN_8086&DEV_15D7\\3&1&0&FE",
                          "\t\tName: Intel(R) Ethernet",
                          "\t\tLine  break",
                          "\t1 matching device(s) found."};
  EXPECT_EQ(TreeToLines(tree.roots), expected);
  EXPECT_TRUE(TreeToLines(TreeRoots()).empty());

  Tree back;
  LinesToTree(expected, back.roots);
  EXPECT_EQ(TreeToLines(back.roots), expected);
}

// Texts that did not come from tree text (the XML file gives any text) still read back into
// the same shape: leading blanks and tabs, also those a line break turns into, would count
// as levels.
TEST(TreeText, TextsStartingWithBlanksKeepTheirLevel) {
  Tree tree;
  auto* root = tree.roots.emplace_back(std::make_unique<TreeNode>()).get();
  root->text = "a";
  root->AddChild("\r\t d");       // from the smallest input the fuzzing found
  root->AddChild(" \t lead")->AddChild("\n\nchild");
  root->AddChild("\t");
  tree.roots.emplace_back(std::make_unique<TreeNode>())->text = "  second root  ";

  const Lines expected = {"a", "\td", "\tlead", "\t\tchild", "\t", "second root  "};
  EXPECT_EQ(TreeToLines(tree.roots), expected);
  Tree back;
  LinesToTree(expected, back.roots);
  EXPECT_EQ(TreeToLines(back.roots), expected);
}

TEST(TreeText, ReadsByTheTreeViewRules) {
  struct Case {
    const char* name;
    Lines input;
    Lines shape;
  };
  const std::vector<Case> cases = {
      {"siblings, children, back to the root",
       {"a", "\tb", "\tc", "\t\td", "e"},
       {"0:a/0/-1", "1:b/0/-1", "1:c/0/-1", "2:d/0/-1", "0:e/0/-1"}},
      {"blanks and tabs each count one level",
       {"a", " b", "\t c", "  d", "\t\t\te"},
       {"0:a/0/-1", "1:b/0/-1", "2:c/0/-1", "2:d/0/-1", "3:e/0/-1"}},
      {"the first line is a root whatever its depth",
       {"\t\t\ta", "\tb", "c"},
       {"0:a/0/-1", "1:b/0/-1", "0:c/0/-1"}},
      {"back up several levels to a sibling of an ancestor",
       {"a", "\tb", "\t\tc", "\t\t\td", "\tE"},
       {"0:a/0/-1", "1:b/0/-1", "2:c/0/-1", "3:d/0/-1", "1:E/0/-1"}},
      {"empty lines are roots with empty text", {"", "", "\t"}, {"0:/0/-1", "0:/0/-1", "1:/0/-1"}},
      {"text keeps inner and trailing blanks", {"x  y \t", "\tz  "}, {"0:x  y \t/0/-1", "1:z  /0/-1"}},
      {"nothing", {}, {}},
  };
  for (const auto& c : cases) {
    Tree tree;
    tree.roots.push_back(std::make_unique<TreeNode>());  // replaced by the load
    LinesToTree(c.input, tree.roots);
    EXPECT_EQ(Shape(tree.roots), c.shape) << c.name;
  }
}

TEST(TreeText, LevelJumpStopsTheLoadAndKeepsEarlierNodes) {
  Tree tree;
  try {
    LinesToTree({"a", "\tb", "c", "\t\t\tdeep \"one\"", "d"}, tree.roots);
    FAIL() << "no error";
  } catch (const TreeLevelError& e) {
    EXPECT_STREQ(e.what(), "Invalid level (3) for item \"deep \"one\"\"");
    EXPECT_EQ(e.level(), 3u);
    EXPECT_EQ(e.text(), "deep \"one\"");
  }
  EXPECT_EQ(Shape(tree.roots), (Lines{"0:a/0/-1", "1:b/0/-1", "0:c/0/-1"}));

  // Two levels down from the first line's node, even though that line was deep itself.
  Tree other;
  EXPECT_THROW(LinesToTree({"\t\ta", "\t\tb"}, other.roots), TreeLevelError);
  EXPECT_EQ(Shape(other.roots), Lines{"0:a/0/-1"});
}

TEST(TreeText, TenThousandLevelsNeedNoRecursion) {
  constexpr std::size_t kDepth = 10000;
  Lines lines;
  lines.reserve(kDepth);
  for (std::size_t i = 0; i < kDepth; ++i) lines.push_back(std::string(i, '\t') + "n" + std::to_string(i));
  Tree tree;
  LinesToTree(lines, tree.roots);
  const TreeNode* node = tree.roots.at(0).get();
  std::size_t depth = 0;
  while (!node->children.empty()) {
    node = node->children.front().get();
    ++depth;
  }
  EXPECT_EQ(depth, kDepth - 1);
  EXPECT_EQ(node->text, "n" + std::to_string(kDepth - 1));
  EXPECT_EQ(TreeToLines(tree.roots), lines);
  ClearTree(tree.roots);
  EXPECT_TRUE(tree.roots.empty());
}

TEST(TreeText, FileRoundTripAndMissingFile) {
  TempDir tmp;
  Tree tree;
  LinesToTree({"PC", "*Net", " PCI\\VEN_1", "  Name: Café ümlaut & <x>"}, tree.roots);
  SaveTreeText(tree.roots, tmp.File("newtree.txt"));
  EXPECT_EQ(tmp.Read("newtree.txt"), "PC\r\n*Net\r\n\tPCI\\VEN_1\r\n\t\tName: Café ümlaut & <x>\r\n");
  Tree back;
  LoadTreeText(back.roots, tmp.File("newtree.txt"));
  EXPECT_EQ(Shape(back.roots), Shape(tree.roots));

  SaveTreeText(TreeRoots(), tmp.File("empty.txt"));
  EXPECT_EQ(tmp.Read("empty.txt"), "");

  EXPECT_THROW(LoadTreeText(back.roots, tmp.File("missing.txt")), platform::FileError);
  EXPECT_TRUE(back.roots.empty());
}

// ---- the conversion of the driver-files report ----

TEST(ConvertLine, IndentsAndCollapsesBlanks) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"*Net", "*Net"},  // a class line stays at depth 0
      {"PCI\\VEN_8086&DEV_15D7\\3&1&0&FE", " PCI\\VEN_8086&DEV_15D7\\3&1&0&FE"},  // device: depth 1
      {"    Name: Intel", "  Name: Intel"},                                       // 4 blanks: depth 2
      {"        C:\\WINDOWS\\x.sys", "  C:\\WINDOWS\\x.sys"},                     // 8 blanks: depth 2
      {"", " "},                                                                  // empty: one blank
      {"*", " *"},                                                                // a lone "*" is indented
      {"x", " x"},
      {" ", "  "},
      {"1 matching device(s) found.", " 1 matching device(s) found."},
      {"   a", " a"},
      {"     a", " a"},
      {"      a", "  a"},
      {"       a", " a"},
      {"Name:   x    y", " Name: x  y"},  // inside the text too
      {"*a   ", "*a   "},                 // three at the end stay
      {"*a    ", "*a  "},
      {"*a     ", "*a   "},
      {"*a      ", "*a  "},
      {"\tTab   x", " \tTab x"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(ConvertLine(input), expected) << "[" << input << "]";
}

// The conversion was first written on the "#"-code form of the line; the direct computation
// must give the same text for every line.
std::string ConvertByCodes(const std::string& line) {
  std::string code = StrToAscii(line);
  const std::string head = code.substr(0, 4);
  if (head != "#32#" && head != "#42#") code = "#32" + code;
  code = StrReplace(code, "#32#32#32#", "#32#");
  return ASCIIToStr(code);
}

TEST(ConvertLine, EqualsTheCodeFormComputation) {
  std::mt19937 random(20240607);
  const std::string alphabet = std::string("  *a#3\t\xC3\xA9\x01") + '\0';
  std::vector<std::string> lines = {"", " ", "  ", "   ", "    ", "*", "**", "* ", " *", "#32#", "#42#x"};
  for (int n = 0; n < 3000; ++n) {
    std::string line;
    const auto length = random() % 24;
    for (unsigned i = 0; i < length; ++i) line.push_back(alphabet[random() % alphabet.size()]);
    lines.push_back(line);
  }
  for (const auto& line : lines) EXPECT_EQ(ConvertLine(line), ConvertByCodes(line)) << "[" << line << "]";
}

}  // namespace
