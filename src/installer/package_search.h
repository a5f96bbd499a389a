// Finding driver packages: every INF file below a folder, at every level. The folder listing is
// passed in, so the rules are tested without a file system.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace installer {

struct FolderEntry {
  std::string name;
  bool folder = false;
  bool link = false;  // a symbolic link, junction or other reparse point
};

// Lists one folder; false when it cannot be read.
using ListFolder = std::function<bool(const std::string& folder, std::vector<FolderEntry>& entries)>;

struct PackageSearch {
  std::vector<std::string> infFiles;     // full paths, in search order
  std::vector<std::string> unreadable;   // folders that could not be listed
  std::vector<std::string> skipped;      // folders left out: links, staging folders, excluded ones
};

// True for the name of a staging folder, where the archive tool's stand-in unpacks before it
// moves files into place (".velmora-" followed by anything, any letter case).
bool IsStagingFolder(const std::string& name);

// Walks `root` (joined to names with `separator`), every level, leaving out the folders named in
// `excluded` (full paths, compared without regard to letter case: the system's own INF folder and
// driver store, whose packages are installed already). In each folder its INF files
// ("*.inf", any letter case) come first, then its subfolders, each group ordered by name
// without regard to letter case. Links are not followed (a link could lead back up or outside
// the folder) and staging folders are not entered; both are reported in `skipped`.
PackageSearch FindDriverPackages(const std::string& root, char separator, const ListFolder& list,
                                 const std::vector<std::string>& excluded = {});

}  // namespace installer
