// Device tree text: any lines either build a tree or stop with TreeLevelError; a tree written
// as lines and read again gives the same lines and the same XML items; the report line
// conversion takes any line.
// Input: the lines of a tree text, split at LF.
#include <cstdint>
#include <string>
#include <vector>

#include "devices/tree_text.h"
#include "devices/tree_xml.h"
#include "fuzz_support.h"

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

bool SameItems(const platform::xml::Element& a, const platform::xml::Element& b) {
  if (a.name != b.name || a.attributes != b.attributes || a.children.size() != b.children.size())
    return false;
  for (std::size_t i = 0; i < a.children.size(); ++i) {
    if (!SameItems(a.children[i], b.children[i])) return false;
  }
  return true;
}

platform::xml::Element Items(const TreeRoots& tree) {
  platform::xml::Element document("tree2xml");
  for (const auto& root : tree) ProcessTreeItem(root.get(), document);
  return document;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> lines = SplitLines(std::string(reinterpret_cast<const char*>(data), size));
  for (const auto& line : lines) ConvertLine(line);

  TreeRoots tree;
  try {
    LinesToTree(lines, tree);
  } catch (const TreeLevelError&) {
    // The nodes made before the bad line stay; they are checked below like any tree.
  }
  const std::vector<std::string> written = TreeToLines(tree);
  TreeRoots again;
  LinesToTree(written, again);  // a written tree never has a bad level
  const std::vector<std::string> rewritten = TreeToLines(again);
  TreeRoots third;
  LinesToTree(rewritten, third);
  fuzz::Check(TreeToLines(third) == rewritten, "tree text read and written again is unchanged");
  fuzz::Check(SameItems(Items(again), Items(third)), "XML items of equal trees are equal");
  return 0;
}
