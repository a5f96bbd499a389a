// One scan of a text for many patterns at once. For every pattern it gives the number of
// non-overlapping occurrences, folded as the file searcher folds (case-insensitive), exactly
// the count TBaseSearch's First()/Next() walk gives for that pattern alone, so a search over
// H identifiers and N files reads each file once instead of H times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapped_file.h"

class MultiPatternCounter {
 public:
  // Patterns may repeat and may be empty (an empty pattern never matches).
  explicit MultiPatternCounter(std::vector<std::string> patterns);
  // Letters compared through `fold` instead of the system's lower-casing; the table must outlive
  // the counter. Any table works, also one where folding twice differs from folding once.
  MultiPatternCounter(std::vector<std::string> patterns, const platform::FoldTable& fold);
  ~MultiPatternCounter();
  MultiPatternCounter(const MultiPatternCounter&) = delete;
  MultiPatternCounter& operator=(const MultiPatternCounter&) = delete;

  std::size_t PatternCount() const;
  // How many distinct patterns (after folding) the one scan leaves to a walk of their own over
  // the text: those without a backslash or a "*" that the fold table makes of no other byte.
  std::size_t PatternsCountedAlone() const;
  // counts is resized to PatternCount(); counts[i] is the count of pattern i in the text.
  void Count(std::string_view text, std::vector<std::uint32_t>& counts) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The non-zero counts of one file: pairs of pattern index and count, by pattern index.
struct FileMatches {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> counts;
};

// Counts the patterns in every file (read with LoadSearchText: a file that cannot be read
// counts nothing). Files are independent and are searched on up to `threads` threads (0: as
// many as the machine has); the result is in the order of `paths` whatever the threads did.
// `progress`, when given, is called on the calling thread with the number of files done so far,
// now and then, so the caller can keep its window alive.
std::vector<FileMatches> CountInFiles(const MultiPatternCounter& counter, const std::vector<std::string>& paths,
                                      unsigned threads = 0,
                                      const std::function<void(std::size_t done)>& progress = {});
