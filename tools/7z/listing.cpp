#include "listing.h"

#include <algorithm>

#include "names.h"
#include "platform/files.h"
#include "platform/process.h"
#include "run_7zz.h"

namespace seven_zip {

namespace proc = platform::process;

std::string OnOneLine(std::string name) {
  std::replace(name.begin(), name.end(), '\r', '_');
  std::replace(name.begin(), name.end(), '\n', '_');
  return name;
}

std::string Unsafe(const Item& item, const std::vector<std::string>& parts, bool parent) {
  if (item.brokenName || item.name.find_first_of("\r\n") != std::string::npos)
    return "line break in the name";
  if (parts.empty()) return "empty name";
  if (!item.name.empty() && (item.name[0] == '/' || item.name[0] == '\\')) return "absolute path";
  if (item.name.size() >= 2 && item.name[1] == ':') return "absolute path";
  if (parent) return "path leads out of the output folder (..)";
  if (item.link) return "symbolic link";
  if (item.hardLink) return "hard link";
  if (item.special) return "special file";
  if (item.encrypted) return "encrypted";
  if (platform::IsArchiveStagingName(parts.front()))
    return "named like this tool's own working folder, which is never used";
  return {};
}

void ListingParser::Feed(std::string_view block) {
  // A line cut by the block's end waits for the rest.
  pending_.append(block);
  const std::size_t end = pending_.rfind('\n');
  if (end == std::string::npos) return;
  ForEachLine(std::string_view(pending_).substr(0, end + 1), [&](std::string_view line) { Line(line); });
  pending_.erase(0, end + 1);
}

void ListingParser::Finish() {
  ForEachLine(pending_, [&](std::string_view line) { Line(line); });
  pending_.clear();
  HandOn();
}

void ListingParser::Line(std::string_view line) {
  if (!inItems_) {
    inItems_ = line == "----------";
    return;
  }
  if (line.empty()) {
    HandOn();
    return;
  }
  if (line.substr(0, 7) == "Path = ") {
    HandOn();
    open_.emplace();
    open_->name = std::string(line.substr(7));
    return;
  }
  if (!open_) return;  // totals and notes after the items
  Item& item = *open_;
  const std::size_t eq = line.find(" = ");
  if (eq == std::string_view::npos) {
    item.brokenName = true;
    return;
  }
  const std::string_view key = line.substr(0, eq);
  const std::string_view value = line.substr(eq + 3);
  if (key == "Folder") {
    if (value == "+") item.folder = true;
  } else if (key == "Attributes") {
    // "D drwxr-xr-x", "A -rw-r--r--", "A lrwxrwxrwx", "DA": Windows letters, then a Unix mode.
    const std::size_t blank = value.find(' ');
    const std::string_view letters = value.substr(0, blank);
    if (letters.find('D') != std::string_view::npos) item.folder = true;
    if (blank != std::string_view::npos && blank + 1 < value.size()) {
      const char type = value[blank + 1];
      if (type == 'l') item.link = true;
      if (type == 'd') item.folder = true;
      if (type == 'c' || type == 'b' || type == 's') item.special = true;
    }
  } else if (key == "Symbolic Link") {
    if (!value.empty()) item.link = true;
  } else if (key == "Hard Link") {
    if (!value.empty()) item.hardLink = true;
  } else if (key == "Encrypted") {
    if (value == "+") item.encrypted = true;
  } else if (key == "Size" && !value.empty() &&
             value.find_first_not_of("0123456789") == std::string_view::npos) {
    item.size = std::stoull(std::string(value));
  }
}

std::optional<std::unordered_map<std::string, int>> CountItemsNamed(const std::string& sevenZip,
                                                                   const std::string& archive,
                                                                   const std::vector<std::string>& names,
                                                                   bool folders, const std::string& listPath,
                                                                   std::string& error) {
  std::vector<std::string> args = {"l", "-slt", "-spd", "-ssc", "-sccUTF-8", "-bsp0", archive};
  if (!NameSwitches(names, listPath, args, error)) return std::nullopt;
  std::unordered_map<std::string, int> counts;
  ListingParser parser([&](const Item& item) {
    if (item.folder == folders) ++counts[Joined(SplitPath(item.name))];
  });
  RunResult listing;
  try {
    listing = Run7zz(sevenZip, args, [&](std::string_view block) { parser.Feed(block); });
  } catch (const proc::ProcessError& e) {
    error = e.what();
    return std::nullopt;
  }
  if (listing.exitCode != 0) {
    error = "7zz ended with exit code " + std::to_string(listing.exitCode);
    return std::nullopt;
  }
  parser.Finish();
  return counts;
}

}  // namespace seven_zip
