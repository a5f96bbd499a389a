// The Boyer-Moore-Horspool search over one block of bytes, and the search text of a file.
#include "search/file_search.h"

#include <cstring>

namespace {

// A UTF-16 byte-order mark at the start: FF FE (little-endian) or FE FF (big-endian).
bool IsUtf16(const unsigned char* data, std::size_t size, bool& bigEndian) {
  if (size < 2 || !((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF)))
    return false;
  bigEndian = data[0] == 0xFE;
  return true;
}

}  // namespace

TBaseSearch::TBaseSearch() : fold_(platform::LowerCaseTable()) {}

TBaseSearch::TBaseSearch(const platform::FoldTable& fold) : fold_(fold) {}

void TBaseSearch::SetPattern(const std::string& text) {
  if (text == pattern_) return;
  pattern_ = text;
  length_ = static_cast<std::int64_t>(pattern_.size());
  tablesBuilt_ = false;
}

void TBaseSearch::SetCaseSensitive(bool value) {
  if (value == caseSensitive_) return;
  caseSensitive_ = value;
  tablesBuilt_ = false;
}

std::int64_t TBaseSearch::SetBuffer(const unsigned char* start, std::int64_t size) {
  start_ = nullptr;
  size_ = 0;
  current_ = 0;
  if (start == nullptr || size <= 0) return size;
  start_ = start;
  size_ = size;
  return size;
}

// skip[k]: how far the window moves when the byte under the pattern's last character has key k.
// The last character's own entry is 0, which marks a candidate; its shift after a failed
// comparison is the distance to its previous occurrence in the pattern (or the length).
void TBaseSearch::BuildTables() {
  if (length_ == 0) return;
  const auto m = static_cast<std::uint32_t>(length_);
  for (std::uint32_t& entry : skip_) entry = m;
  const auto* pattern = reinterpret_cast<const unsigned char*>(pattern_.data());
  for (std::uint32_t j = 1; j < m; ++j) skip_[Key(pattern[j - 1])] = m - j;
  const unsigned char last = Key(pattern[m - 1]);
  lastShift_ = skip_[last];
  skip_[last] = 0;
  tablesBuilt_ = true;
  ++tableBuilds_;
}

std::int64_t TBaseSearch::First() {
  current_ = length_ - 1;
  return Next();
}

std::int64_t TBaseSearch::Next() {
  if (!tablesBuilt_) BuildTables();
  if (length_ == 0 || size_ < length_ || current_ >= size_) {
    current_ = size_;
    return -1;
  }
  const std::int64_t before = length_ - 1;  // pattern characters before the last one
  // Next() without First(), or a longer pattern set since: the window starts inside the block.
  if (current_ < before) current_ = before;
  const auto* pattern = reinterpret_cast<const unsigned char*>(pattern_.data());
  while (current_ < size_) {
    const std::uint32_t shift = skip_[Key(start_[current_])];
    if (shift != 0) {
      current_ += shift;
      continue;
    }
    const unsigned char* window = start_ + (current_ - before);
    bool equal;
    if (caseSensitive_) {
      equal = std::memcmp(window, pattern, static_cast<std::size_t>(before)) == 0;
    } else {
      equal = true;
      for (std::int64_t k = 0; k < before; ++k) {
        if (fold_[window[k]] != fold_[pattern[k]]) {
          equal = false;
          break;
        }
      }
    }
    if (equal) {
      const std::int64_t result = current_ - before;
      current_ += length_;
      return result;
    }
    current_ += lastShift_;
  }
  return -1;
}

void TFileSearch::SetFilename(const std::string& name) {
  view_.Close();
  filename_.clear();
  decoded_.clear();
  SetBuffer(nullptr, 0);
  if (name.empty() || !view_.Open(name)) return;
  const unsigned char* text = view_.data();
  std::size_t size = view_.size();
  bool bigEndian = false;
  if (IsUtf16(text, size, bigEndian)) {
    NarrowUtf16(text, size, bigEndian, decoded_);
    view_.Close();  // the narrowed copy is all the search needs
    text = reinterpret_cast<const unsigned char*>(decoded_.data());
    size = decoded_.size();
  }
  if (SetBuffer(text, static_cast<std::int64_t>(size)) > 0) filename_ = name;
}

namespace {

// Writes size / 2 bytes to `out`, which may be `data` itself: unit k is read before byte k is
// written, and k <= 2k.
void Narrow(const unsigned char* data, std::size_t size, bool bigEndian, unsigned char* out) {
  const std::size_t units = size / 2;  // an odd last byte is no character
  const std::size_t high = bigEndian ? 0 : 1;
  for (std::size_t k = 0; k < units; ++k) {
    const unsigned char* unit = data + 2 * k;
    out[k] = unit[high] == 0 ? unit[1 - high] : 0;
  }
}

}  // namespace

void NarrowUtf16(const unsigned char* data, std::size_t size, bool bigEndian, std::string& out) {
  out.resize(size / 2);
  Narrow(data, size, bigEndian, reinterpret_cast<unsigned char*>(out.data()));
}

std::string_view SearchTextInPlace(std::string& buffer, std::size_t size) {
  auto* data = reinterpret_cast<unsigned char*>(buffer.data());
  bool bigEndian = false;
  if (!IsUtf16(data, size, bigEndian)) return {buffer.data(), size};
  Narrow(data, size, bigEndian, data);
  return {buffer.data(), size / 2};
}

bool LoadSearchText(const std::string& path, std::string& out) {
  out.clear();
  const std::size_t size = platform::ReadWholeFileInto(path, out);
  out.resize(SearchTextInPlace(out, size).size());
  return size > 0;
}
