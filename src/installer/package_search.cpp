#include "installer/package_search.h"

#include <algorithm>
#include <cctype>

#include "base/text_util.h"

namespace installer {
namespace {

bool EndsWithInf(const std::string& name) {
  return name.size() > 4 && LowerCase(name.substr(name.size() - 4)) == ".inf";
}

bool IsExcluded(const std::string& folder, const std::vector<std::string>& excluded) {
  for (const std::string& e : excluded)
    if (LowerCase(e) == LowerCase(folder)) return true;
  return false;
}

void Walk(const std::string& folder, char separator, const ListFolder& list, const std::vector<std::string>& excluded,
          PackageSearch& out) {
  std::vector<FolderEntry> entries;
  if (!list(folder, entries)) {
    out.unreadable.push_back(folder);
    return;
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return LowerCase(a.name) < LowerCase(b.name); });
  const bool endsWithSeparator = !folder.empty() && (folder.back() == separator || folder.back() == '/');
  const std::string prefix = endsWithSeparator ? folder : folder + separator;
  for (const FolderEntry& e : entries)
    if (!e.folder && EndsWithInf(e.name)) out.infFiles.push_back(prefix + e.name);
  for (const FolderEntry& e : entries) {
    if (!e.folder || e.name == "." || e.name == "..") continue;
    if (e.link || IsStagingFolder(e.name) || IsExcluded(prefix + e.name, excluded)) {
      out.skipped.push_back(prefix + e.name);
      continue;
    }
    Walk(prefix + e.name, separator, list, excluded, out);
  }
}

}  // namespace

bool IsStagingFolder(const std::string& name) { return LowerCase(name).rfind(".velmora-", 0) == 0; }

PackageSearch FindDriverPackages(const std::string& root, char separator, const ListFolder& list,
                                 const std::vector<std::string>& excluded) {
  PackageSearch out;
  Walk(root, separator, list, excluded, out);
  return out;
}

}  // namespace installer
