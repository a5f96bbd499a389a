#include "installer/package_search.h"

#include <algorithm>
#include <cctype>

namespace installer {
namespace {

std::string Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EndsWithInf(const std::string& name) {
  return name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".inf";
}

bool IsExcluded(const std::string& folder, const std::vector<std::string>& excluded) {
  for (const std::string& e : excluded)
    if (Lower(e) == Lower(folder)) return true;
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
            [](const FolderEntry& a, const FolderEntry& b) { return Lower(a.name) < Lower(b.name); });
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

bool IsStagingFolder(const std::string& name) { return Lower(name).rfind(".velmora-", 0) == 0; }

PackageSearch FindDriverPackages(const std::string& root, char separator, const ListFolder& list,
                                 const std::vector<std::string>& excluded) {
  PackageSearch out;
  Walk(root, separator, list, excluded, out);
  return out;
}

}  // namespace installer
