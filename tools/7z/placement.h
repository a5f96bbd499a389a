// Moving what 7zz extracted into its private folder to its place in the output folder, never
// through a link, never placing a file that is damaged or cut short.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "tool_basics.h"

namespace seven_zip {

// Opens the folder made of the first `count` parts below `base`, creating missing ones when asked.
// A part that is a link or no folder stops it: nothing is ever reached through a link.
Fd OpenFolders(int base, const std::vector<std::string>& parts, std::size_t count, bool create,
               std::string& error);

// Removes `name` in `dir` with everything below it; links are removed, never followed.
bool RemoveTreeAt(int dir, const char* name);

// Copies a file's content into a new file beside the target, then renames it over the target.
// For a target on another file system than the private folder.
bool CopyInto(int sourceDir, const std::string& leaf, int targetDir, std::string& error);

// Why an extracted file is not whole: 7-Zip leaves what it wrote of a file when writing fails
// (a full disk) without naming the file, so a size short of the listed one tells. Empty when whole.
std::string Incomplete(const std::optional<std::uint64_t>& size, const struct stat& st);

// Moves one extracted file from the private folder to its place in the output folder.
bool MoveIntoPlace(int stagingFd, const std::vector<std::string>& stagedParts, int outputFd,
                   const std::vector<std::string>& targetParts, const std::optional<std::uint64_t>& size,
                   std::string& error);

// One item of the archive to be extracted.
struct Planned {
  std::string name;                 // as listed, for 7zz
  std::vector<std::string> staged;  // where 7zz puts it in the private folder
  std::vector<std::string> target;  // where it belongs in the output folder
  bool folder = false;
  int listed = 1;  // how often the listing named it
  std::optional<std::uint64_t> size;  // of a file, as listed
};

// What became of a planned item.
struct Outcome {
  bool ok = false;
  std::string error;
};

// The planned items whose place in the private folder is their place in the output folder, as a
// tree of their paths. A folder of the tree that does not exist in the output folder yet is moved
// there whole, with one rename; only where the output folder already holds a folder of that name
// does the placing go down into it, and file by file where files are already there.
class Placer {
 public:
  Placer(const std::vector<Planned>& plan, const std::unordered_set<std::string>& damaged,
         std::vector<Outcome>& outcomes)
      : plan_(plan), damaged_(damaged), outcomes_(outcomes) {}

  void Add(std::size_t index) {
    Node* node = &root_;
    for (const std::string& part : plan_[index].target) node = &node->children[part];
    node->item = index;
  }

  void Place(int stagingDir, int outputDir) { PlaceChildren(root_, stagingDir, outputDir); }

 private:
  struct Node {
    std::map<std::string, Node> children;
    std::optional<std::size_t> item;  // the planned item that ends here (the paths are unique)
  };

  bool IsFile(const Node& node) const { return node.item && !plan_[*node.item].folder; }

  void Set(const Node& node, bool ok, const std::string& error) {
    if (node.item) outcomes_[*node.item] = Outcome{ok, error};
  }

  // Every item in and below `node`; `ok` for those no error was found for before the move.
  void SetAll(const Node& node, bool ok, const std::string& error) {
    if (node.item && (!ok || outcomes_[*node.item].error.empty())) Set(node, ok, error);
    for (const auto& child : node.children) SetAll(child.second, ok, error);
  }

  void PlaceChildren(const Node& node, int stagingDir, int outputDir);

  void PlaceFile(const std::string& name, const Node& node, int stagingDir, int outputDir);

  void PlaceFolder(const std::string& name, const Node& node, int stagingDir, int outputDir);

  // Makes the staged folder hold only what may go into place: damaged files and anything that is
  // not a plain file are taken out (and reported), folders the archive names but 7-Zip left out
  // are made. False when the folder cannot go whole.
  bool PrepareWhole(const std::string& name, const Node& node, int stagingDir);

  const std::vector<Planned>& plan_;
  const std::unordered_set<std::string>& damaged_;
  std::vector<Outcome>& outcomes_;
  Node root_;
  bool split_ = false;  // the checks have been shared out to a second thread
};

// The private folder inside the output folder; removed with everything in it at the end.
class Staging {
 public:
  explicit Staging(const std::string& outputFolder);
  ~Staging();
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  Fd lock_;
};

}  // namespace seven_zip
