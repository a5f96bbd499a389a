#include "devices/tree_xml.h"

#include <charconv>
#include <limits>
#include <vector>

#include "devices/tree_text.h"

namespace {

using platform::xml::Element;

const char* const kDocumentElement = "tree2xml";
const char* const kItem = "item";

std::string Quoted(const std::string& text) {
  constexpr std::size_t kShown = 80;
  return "\"" + (text.size() > kShown ? text.substr(0, kShown) + "..." : text) + "\"";
}

const std::string& Attribute(const Element& element, const char* name, const std::string* text) {
  const std::string* value = element.FindAttribute(name);
  if (value == nullptr) {
    throw TreeXmlError(std::string("XML item ") + (text != nullptr ? Quoted(*text) + " " : "") + "has no \"" +
                       name + "\" attribute");
  }
  return *value;
}

// A decimal whole number with an optional sign, as the tree's indexes are written.
int Index(const Element& element, const char* name, const std::string& text) {
  const std::string& value = Attribute(element, name, &text);
  const char* begin = value.data();
  const char* end = value.data() + value.size();
  if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-') ++begin;
  int number = 0;
  const auto [stop, error] = std::from_chars(begin, end, number);
  if (value.empty() || error != std::errc() || stop != end) {
    throw TreeXmlError(Quoted(value) + " is not a valid integer value for \"" + name + "\" of XML item " +
                       Quoted(text));
  }
  return number;
}

std::size_t TreeDepth(const TreeRoots& tree) {
  std::size_t deepest = 0;
  std::vector<std::pair<const TreeNode*, std::size_t>> pending;
  for (const auto& root : tree) pending.emplace_back(root.get(), 1);
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    deepest = std::max(deepest, depth);
    for (const auto& child : node->children) pending.emplace_back(child.get(), depth + 1);
  }
  return deepest;
}

}  // namespace

void ProcessTreeItem(const TreeNode* node, Element& parent) {
  if (node == nullptr) return;
  // Each node's item is made when the node is reached, depth first, without recursion;
  // `pending` holds the nodes still to write with the element they go into.
  struct Pending {
    const TreeNode* node;
    Element* parent;
  };
  std::vector<Pending> pending{{node, &parent}};
  while (!pending.empty()) {
    const Pending current = pending.back();
    pending.pop_back();
    if (current.node == nullptr) continue;
    Element& item = current.parent->AddChild(kItem);
    item.SetAttribute("text", current.node->text);
    item.SetAttribute("imageIndex", std::to_string(current.node->imageIndex));
    item.SetAttribute("stateIndex", std::to_string(current.node->stateIndex));
    // Make room for all children first, so the element addresses stay put while they wait.
    item.children.reserve(current.node->children.size());
    for (auto it = current.node->children.rbegin(); it != current.node->children.rend(); ++it) {
      pending.push_back({it->get(), &item});
    }
  }
}

void Tree2XML(const TreeRoots& tree, const std::string& programPath, const std::string& xmlFilePath) {
  const platform::xml::Limits limits;
  // The document element is one level, each tree level another.
  if (TreeDepth(tree) + 1 > limits.maxDepth) {
    throw TreeXmlError("The tree is nested deeper than " + std::to_string(limits.maxDepth - 1) +
                       " levels; its XML file could not be read again");
  }
  // The reader limits each attribute value as written, escapes included: a text of quotes
  // grows sixfold. Refused here, the export never leaves a file the import cannot read.
  std::vector<const TreeNode*> pending;
  for (const auto& root : tree) pending.push_back(root.get());
  while (!pending.empty()) {
    const TreeNode* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    const std::size_t written = platform::xml::WrittenValueSize(node->text);
    if (written > limits.maxAttributeBytes) {
      throw TreeXmlError("The text of tree node " + Quoted(node->text) + " takes " + std::to_string(written) +
                         " bytes in XML, more than the " + std::to_string(limits.maxAttributeBytes) +
                         " bytes its XML file can hold; its XML file could not be read again");
    }
    for (const auto& child : node->children) pending.push_back(child.get());
  }
  Element document(kDocumentElement);
  document.SetAttribute("app", programPath);
  document.children.reserve(tree.size());
  for (const auto& root : tree) ProcessTreeItem(root.get(), document);
  platform::xml::SaveDocument(document, xmlFilePath);
}

void ProcessNode(const Element* element, TreeNode* parent, TreeRoots& tree) {
  if (element == nullptr) return;
  struct Pending {
    const Element* element;
    TreeNode* parent;
  };
  std::vector<Pending> pending{{element, parent}};
  while (!pending.empty()) {
    const Pending current = pending.back();
    pending.pop_back();
    const Element& item = *current.element;
    const std::string& text = Attribute(item, "text", nullptr);
    const int image = Index(item, "imageIndex", text);
    const int state = Index(item, "stateIndex", text);
    TreeNode* node = nullptr;
    if (current.parent != nullptr) {
      node = current.parent->AddChild(text, image, state);
    } else {
      auto root = std::make_unique<TreeNode>();
      root->text = text;
      root->imageIndex = image;
      root->stateIndex = state;
      tree.push_back(std::move(root));
      node = tree.back().get();
    }
    for (auto it = item.children.rbegin(); it != item.children.rend(); ++it) pending.push_back({&*it, node});
  }
}

void XML2Tree(TreeRoots& tree, const std::string& xmlFilePath) {
  ClearTree(tree);
  const Element document = platform::xml::LoadDocument(xmlFilePath);
  for (const auto& item : document.children) ProcessNode(&item, nullptr, tree);
}
