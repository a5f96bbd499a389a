// The file pattern search: every occurrence of one text pattern in one block of bytes, by the
// Boyer-Moore-Horspool method over a 256-entry skip table.
// - TBaseSearch: pattern, case handling, tables, scanning over a block it does not own;
// - TFileSearch: the block is a file, mapped read-only (or decoded, see below);
// - TSearch: the block is handed in by the caller.
// Matches do not overlap: after a match the scan resumes just after it. Positions are offsets
// from the start of the block, never pointers, so an empty searcher has nothing to point at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/mapped_file.h"

class TBaseSearch {
 public:
  TBaseSearch();
  // Letters compared through `fold` instead of the system's lower-casing; the table must
  // outlive the searcher.
  explicit TBaseSearch(const platform::FoldTable& fold);
  virtual ~TBaseSearch() = default;
  TBaseSearch(const TBaseSearch&) = delete;
  TBaseSearch& operator=(const TBaseSearch&) = delete;

  const std::string& Pattern() const { return pattern_; }
  // Does nothing when the text equals the pattern; otherwise the tables are rebuilt at the
  // next search. An empty pattern never matches.
  void SetPattern(const std::string& text);
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value);

  // Offset of the first occurrence from the start of the block, or -1.
  std::int64_t First();
  // Offset of the next occurrence after the last one found, or -1.
  std::int64_t Next();

  // How often the tables were built (they are built lazily, once per pattern or case change).
  int TableBuilds() const { return tableBuilds_; }
  // The tables as the last search built them: the shift after a byte under the pattern's last
  // character (0 for the last character itself), and the shift after a failed comparison.
  std::uint32_t Shift(unsigned char c) const { return skip_[Key(c)]; }
  std::uint32_t LastShift() const { return lastShift_; }

 protected:
  // Forgets the previous block; a null start or a size <= 0 leaves none. Returns the size.
  std::int64_t SetBuffer(const unsigned char* start, std::int64_t size);

 private:
  void BuildTables();
  unsigned char Key(unsigned char c) const { return caseSensitive_ ? c : fold_[c]; }

  std::string pattern_;
  std::int64_t length_ = 0;
  bool caseSensitive_ = false;
  const platform::FoldTable& fold_;
  std::uint32_t skip_[256] = {};
  std::uint32_t lastShift_ = 0;
  bool tablesBuilt_ = false;
  int tableBuilds_ = 0;
  const unsigned char* start_ = nullptr;
  std::int64_t size_ = 0;
  std::int64_t current_ = 0;  // offset of the byte under the pattern's last character
};

// Searches a file. A file that starts with a UTF-16 byte-order mark (FF FE or FE FF) is
// searched as text: each character below 256 becomes that byte, every other character (and
// the mark) a zero byte, so "PCI\VEN_8086" is found in a UTF-16 INF file as in an 8-bit one.
class TFileSearch : public TBaseSearch {
 public:
  // Empty when nothing is mapped.
  const std::string& Filename() const { return filename_; }
  // Unmaps the previous file; maps the named one when it exists, is readable and holds
  // 1 byte to below 2 GiB. Otherwise the search finds nothing and Filename stays empty.
  void SetFilename(const std::string& name);

 private:
  std::string filename_;
  platform::MappedFile view_;
  std::string decoded_;  // the 8-bit form of a UTF-16 file
};

// Searches a block the caller owns and keeps alive while it is searched.
class TSearch : public TBaseSearch {
 public:
  TSearch() = default;
  explicit TSearch(const platform::FoldTable& fold) : TBaseSearch(fold) {}
  std::int64_t SetBuffer(const unsigned char* start, std::int64_t size) {
    return TBaseSearch::SetBuffer(start, size);
  }
};

// The text a search sees in a file: an 8-bit file as it is, a UTF-16 file narrowed as
// TFileSearch describes. `out` is replaced; false (and `out` empty) when the file is missing,
// unreadable, empty, not a regular file or 2 GiB or larger.
bool LoadSearchText(const std::string& path, std::string& out);
// The search text of a file read into `buffer` (its first `size` bytes, as
// platform::ReadWholeFileInto leaves them): those bytes, or for a UTF-16 file its narrowed form,
// written over the start of `buffer`.
std::string_view SearchTextInPlace(std::string& buffer, std::size_t size);
// The narrowing of UTF-16 bytes (with their byte-order mark) to 8-bit search text.
void NarrowUtf16(const unsigned char* data, std::size_t size, bool bigEndian, std::string& out);
