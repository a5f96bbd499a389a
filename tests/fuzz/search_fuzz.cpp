// The driver search's one-pass matcher against the per-pair reference: for any patterns and
// any text, MultiPatternCounter counts what the file searcher's First()/Next() walk counts,
// pattern by pattern.
// Input: patterns separated by \x01, then \x02, then the text.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "search/file_search.h"
#include "search/multi_search.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::string patternPart = input.Part('\x02');
  const std::string text = input.Rest();
  std::vector<std::string> patterns;
  fuzz::Input patternInput(reinterpret_cast<const std::uint8_t*>(patternPart.data()), patternPart.size());
  while (!patternInput.Empty() && patterns.size() < 64) patterns.push_back(patternInput.Part());

  const MultiPatternCounter counter(patterns);
  std::vector<std::uint32_t> counts;
  counter.Count(text, counts);
  fuzz::Check(counts.size() == patterns.size(), "one count per pattern");

  TSearch search;
  search.SetBuffer(reinterpret_cast<const unsigned char*>(text.data()),
                   static_cast<std::int64_t>(text.size()));
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    search.SetPattern(patterns[i]);
    std::uint32_t n = 0;
    for (std::int64_t at = search.First(); at >= 0; at = search.Next()) ++n;
    fuzz::Check(counts[i] == n, "the one-pass count equals the per-pair count");
  }
  return 0;
}
