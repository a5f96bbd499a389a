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
