#include "devices/tree_text.h"

#include <utility>

#include "platform/files.h"

TreeLevelError::TreeLevelError(std::size_t level, const std::string& text)
    : std::runtime_error("Invalid level (" + std::to_string(level) + ") for item \"" + text + "\""),
      level_(level),
      text_(text) {}

namespace {

// The text as it can stand in a line of tree text: line breaks become blanks, and blanks and
// tabs at its start are left out, since reading would count them as levels (a text that came
// from the XML file may start with them) and put the node, and the nodes after it, elsewhere.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  text.erase(0, text.find_first_not_of(" \t"));
  return text;
}

TreeNode* Append(TreeRoots& siblings, std::string text) {
  auto node = std::make_unique<TreeNode>();
  node->text = std::move(text);
  siblings.push_back(std::move(node));
  return siblings.back().get();
}

}  // namespace

std::vector<std::string> TreeToLines(const TreeRoots& roots) {
  std::vector<std::string> lines;
  // Pending nodes with their depth, the next one on top.
  std::vector<std::pair<const TreeNode*, std::size_t>> pending;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.emplace_back(it->get(), 0);
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    lines.push_back(std::string(depth, '\t') + OneLine(node->text));
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
      pending.emplace_back(it->get(), depth + 1);
    }
  }
  return lines;
}

void LinesToTree(const std::vector<std::string>& lines, TreeRoots& roots) {
  ClearTree(roots);
  // The last node made and its ancestors: branch[d] is the node at depth d.
  std::vector<TreeNode*> branch;
  for (const auto& line : lines) {
    std::size_t level = 0;
    while (level < line.size() && (line[level] == ' ' || line[level] == '\t')) ++level;
    std::string text = line.substr(level);
    if (branch.empty()) {
      branch.push_back(Append(roots, std::move(text)));
      continue;
    }
    const std::size_t last = branch.size() - 1;  // depth of the node made before
    if (level > last + 1) throw TreeLevelError(level, text);
    if (level == last + 1) {
      branch.push_back(Append(branch[last]->children, std::move(text)));
      continue;
    }
    // Same depth or shallower: a sibling of the node (or of its ancestor) at that depth.
    TreeRoots& siblings = level == 0 ? roots : branch[level - 1]->children;
    branch.resize(level);
    branch.push_back(Append(siblings, std::move(text)));
  }
}

void SaveTreeText(const TreeRoots& roots, const std::string& path) {
  platform::WriteTextLines(path, TreeToLines(roots));
}

void LoadTreeText(TreeRoots& roots, const std::string& path) {
  ClearTree(roots);
  LinesToTree(platform::ReadTextLines(path), roots);
}

void ClearTree(TreeRoots& roots) {
  std::vector<std::unique_ptr<TreeNode>> doomed;
  doomed.reserve(roots.size());
  for (auto& root : roots) doomed.push_back(std::move(root));
  roots.clear();
  while (!doomed.empty()) {
    std::unique_ptr<TreeNode> node = std::move(doomed.back());
    doomed.pop_back();
    if (node == nullptr) continue;
    for (auto& child : node->children) doomed.push_back(std::move(child));
    node->children.clear();
    // `node` goes away here without children, so its destructor does not nest.
  }
}

std::string ConvertLine(const std::string& line) {
  std::string text = line;
  if (text.size() < 2 || (text[0] != ' ' && text[0] != '*')) text.insert(text.begin(), ' ');
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != ' ') {
      out.push_back(text[i++]);
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] == ' ') ++end;
    std::size_t run = end - i;
    // Three blanks shrink to one only when some character follows them, so a run at the end
    // of the line keeps at least two more blanks than a run before text.
    const std::size_t keepBelow = end < text.size() ? 3 : 4;
    while (run >= keepBelow) run -= 2;
    out.append(run, ' ');
    i = end;
  }
  return out;
}
