// The device tree as an XML file (VelmoraTAVI.XML): the document element "tree2xml" with the
// program's path in "app", and one "item" element per tree node, nested like the nodes, with
// the attributes "text", "imageIndex" and "stateIndex".
#pragma once

#include <stdexcept>
#include <string>

#include "base/tree_node.h"
#include "platform/xml.h"

// An item that cannot become a tree node: a missing attribute or an index that is not a
// whole number.
class TreeXmlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the whole tree to the XML file, replacing it. A tree nested deeper than the XML
// reader accepts, or a node text longer, escaped, than the reader takes for a value, is
// refused with a TreeXmlError before anything is written, so an export can always be
// imported again.
void Tree2XML(const TreeRoots& tree, const std::string& programPath, const std::string& xmlFilePath);

// Appends the "item" element of `node` and of its whole subtree to `parent` (nothing for a
// null node).
void ProcessTreeItem(const TreeNode* node, platform::xml::Element& parent);

// Empties the tree and fills it from the XML file: every child element of the document
// element becomes a root with its subtree. The document element's name and attributes are
// not looked at. A file that cannot be read or parsed throws platform::xml::XmlError and
// leaves the tree empty; an item without one of its three attributes, or with an index that
// is not a whole number, throws TreeXmlError, and the nodes made before it stay.
void XML2Tree(TreeRoots& tree, const std::string& xmlFilePath);

// Adds the node of `element` as the last child of `parent` (as a root of `tree` when there
// is no parent) and, below it, the nodes of the element's children (nothing for a null
// element). All three attributes are checked before the node is added.
void ProcessNode(const platform::xml::Element* element, TreeNode* parent, TreeRoots& tree);
