// Test helpers for device trees: a tree that cleans up after itself, and its structure as
// one text per node, "<depth>:<text>/<image>/<state>", depth first.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/tree_node.h"
#include "devices/tree_text.h"

struct Tree {
  TreeRoots roots;
  ~Tree() { ClearTree(roots); }
};

inline std::vector<std::string> Shape(const TreeRoots& roots) {
  std::vector<std::string> shape;
  std::vector<std::pair<const TreeNode*, int>> pending;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.emplace_back(it->get(), 0);
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    shape.push_back(std::to_string(depth) + ":" + node->text + "/" + std::to_string(node->imageIndex) + "/" +
                    std::to_string(node->stateIndex));
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
      pending.emplace_back(it->get(), depth + 1);
  }
  return shape;
}
