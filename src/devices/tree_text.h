// The device tree as indented text (oldtree.txt, newtree.txt): one node per line, depth
// first, each line as many tabs as the node's depth followed by the node's text. Also the
// line transformation that turns the driver-files report into such text.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "base/tree_node.h"

// A line more than one level deeper than the node before it. The message is the tree view's:
// Invalid level (<depth>) for item "<text>".
class TreeLevelError : public std::runtime_error {
 public:
  TreeLevelError(std::size_t level, const std::string& text);
  std::size_t level() const { return level_; }
  const std::string& text() const { return text_; }

 private:
  std::size_t level_;
  std::string text_;
};

// The tree as lines, depth first, each node's depth in tabs before its text. A line break
// inside a text would split the node in two when read back, so each one is written as a blank;
// blanks and tabs at the start of a text (after that) would read back as levels, so they are
// left out. Whatever the texts, the lines read back into a tree of the same shape.
std::vector<std::string> TreeToLines(const TreeRoots& roots);

// Empties `roots` and rebuilds it from lines. A line's depth is the number of its leading
// blanks and tabs (each counts one level); the rest is the node's text. The first line is a
// root whatever its depth; a later line at the depth of the node before it is that node's
// sibling, one deeper its child, shallower the sibling of its ancestor at that depth. A line
// more than one level deeper throws TreeLevelError; the nodes made before it stay. New
// nodes have image index 0 and state index -1. Works without recursion at any depth.
void LinesToTree(const std::vector<std::string>& lines, TreeRoots& roots);

// Writes the tree text to a file (CR LF line ends), replacing it; platform::FileError on failure.
void SaveTreeText(const TreeRoots& roots, const std::string& path);
// Reads the file into the tree by the rules of LinesToTree. The tree is emptied first, also
// when the file cannot be read (platform::FileError).
void LoadTreeText(TreeRoots& roots, const std::string& path);

// Empties a tree node by node, so that a very deep tree does not exhaust the stack the way
// the nested destructors would.
void ClearTree(TreeRoots& roots);

// One line of the driver-files report as a line of tree text: a line shorter than two
// characters, or starting with neither a blank nor "*", gets one blank in front; then every
// group of three blanks followed by another character becomes one blank, again and again
// (a run of 3, 5, 7 blanks before text shrinks to 1, a run of 4, 6, 8 to 2).
std::string ConvertLine(const std::string& line);
