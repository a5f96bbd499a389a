// Command lines: any text splits without harm; words quoted with QuoteArgument and joined by
// blanks split back into exactly those words; a split command line written again from its
// words (quoted) splits into the same words.
// Input: words separated by \x01 (the first is a raw command line as well).
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/process.h"

namespace proc = platform::process;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  std::vector<std::string> words;
  while (!input.Empty()) words.push_back(input.Part());

  std::string line = "prog";
  for (const auto& word : words) line += " " + proc::QuoteArgument(word);
  std::vector<std::string> expected{"prog"};
  expected.insert(expected.end(), words.begin(), words.end());
  fuzz::Check(proc::SplitCommandLine(line) == expected, "quoted words split back unchanged");

  if (words.empty()) return 0;
  const std::vector<std::string> split = proc::SplitCommandLine(words[0]);
  if (split.empty() || split[0].empty() || split[0].find('"') != std::string::npos) return 0;
  // The program word: quoted when it holds a blank or a tab, which a quoted first word may.
  std::string again = split[0].find_first_of(" \t") == std::string::npos ? split[0] : "\"" + split[0] + "\"";
  for (std::size_t i = 1; i < split.size(); ++i) again += " " + proc::QuoteArgument(split[i]);
  fuzz::Check(proc::SplitCommandLine(again) == split, "a split command line written again splits alike");
  return 0;
}
