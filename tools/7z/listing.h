// The archive's listing ("7zz l -slt") read item by item, and which items are unsafe to extract.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace seven_zip {

struct Item {
  std::string name;  // as 7-Zip lists it
  bool folder = false;
  bool link = false;
  bool hardLink = false;
  bool special = false;
  bool encrypted = false;
  bool brokenName = false;  // the listing showed a line break inside the item's record
  std::optional<std::uint64_t> size;  // of a file, as the listing gives it
};

// Calls `visit` with each line of `text` (without its line break), as a view into `text`.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    visit(line);
    start = end + 1;
  }
}

// Reads "7zz l -slt" as it comes: after the "----------" line, one record of "Key = value" lines
// per item. Each item is handed on once its record has ended.
class ListingParser {
 public:
  explicit ListingParser(std::function<void(const Item&)> onItem) : onItem_(std::move(onItem)) {}

  void Feed(std::string_view block);

  void Finish();

 private:
  void HandOn() {
    if (open_) onItem_(*open_);
    open_.reset();
  }

  void Line(std::string_view line);

  std::function<void(const Item&)> onItem_;
  std::string pending_;  // the start of a line whose end has not come yet
  std::optional<Item> open_;
  bool inItems_ = false;
};

// A name as a line of output can show it: a line break as "_", the way 7-Zip lists it.
std::string OnOneLine(std::string name);

// Why an item must not be extracted; empty when it is safe.
std::string Unsafe(const Item& item, const std::vector<std::string>& parts, bool parent);

// How many items of the archive, folders or files, bear each of `names` (by their place in the
// output folder), from a listing of exactly those names. A name stands for items of its own kind
// only: a listing of a folder's name shows what is inside it too. Empty, with the reason in
// `error`, when the listing cannot be made.
std::optional<std::unordered_map<std::string, int>> CountItemsNamed(const std::string& sevenZip,
                                                                   const std::string& archive,
                                                                   const std::vector<std::string>& names,
                                                                   bool folders, const std::string& listPath,
                                                                   std::string& error);

}  // namespace seven_zip
