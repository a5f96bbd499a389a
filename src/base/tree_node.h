// One node of a tree view (the device tree of the HWIDs page).
#pragma once

#include <memory>
#include <string>
#include <vector>

struct TreeNode {
  std::string text;
  int imageIndex = 0;
  int stateIndex = -1;
  std::vector<std::unique_ptr<TreeNode>> children;

  TreeNode() = default;
  TreeNode(const TreeNode&) = delete;
  TreeNode& operator=(const TreeNode&) = delete;
  // Frees the subtree node by node: nested destructors would exhaust the stack on a tree
  // thousands of levels deep.
  ~TreeNode() {
    std::vector<std::unique_ptr<TreeNode>> pending;
    for (auto& child : children) {
      if (child) pending.push_back(std::move(child));
    }
    while (!pending.empty()) {
      std::unique_ptr<TreeNode> node = std::move(pending.back());
      pending.pop_back();
      for (auto& child : node->children) {
        if (child) pending.push_back(std::move(child));
      }
    }
  }

  TreeNode* AddChild(std::string childText, int image = 0, int state = -1) {
    auto node = std::make_unique<TreeNode>();
    node->text = std::move(childText);
    node->imageIndex = image;
    node->stateIndex = state;
    children.push_back(std::move(node));
    return children.back().get();
  }
};

// A whole tree: its roots in order.
using TreeRoots = std::vector<std::unique_ptr<TreeNode>>;
