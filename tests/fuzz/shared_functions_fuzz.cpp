// GetWord, StrReplace and MakePaths take any text: GetWord gives the pieces the delimiter cuts
// the text into, StrReplace leaves no occurrence it could replace, or
// refuses with std::length_error, and MakePaths takes exactly the "Extracting" lines.
// Input: delimiter/old text \x01 new text \x01 the text.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "shared/shared_functions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::string first = input.Part();
  const std::string second = input.Part();
  const std::string text = input.Rest();

  // Words: the delimiter cuts the text, left to right, into words; word n (from 1) is the
  // n-th of them, and there is none after the last.
  for (int n = -1; n < 8; ++n) GetWord(text, first, n);
  if (!first.empty() && text.size() < 300) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = text.find(first, start);
      words.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + first.size();
    }
    fuzz::Check(GetWord(text, first, 0).empty(), "word 0 is empty");
    for (std::size_t i = 0; i < words.size(); ++i) {
      fuzz::Check(GetWord(text, first, static_cast<int>(i) + 1) == words[i], "word n is the n-th cut");
    }
    fuzz::Check(GetWord(text, first, static_cast<int>(words.size()) + 1).empty(), "no word after the last");
  }
  if (first.empty()) fuzz::Check(GetWord(text, first, 1) == text, "without a delimiter the text is one word");

  try {
    const std::string replaced = StrReplace(text, first, second);
    if (!first.empty() && second.find(first) == std::string::npos) {
      fuzz::Check(replaced.find(first) == std::string::npos, "no occurrence is left");
    }
    if (first.empty()) fuzz::Check(replaced == text, "an empty old text changes nothing");
  } catch (const std::length_error&) {
    fuzz::Check(!first.empty(), "only growth without end is refused");
  }

  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string> paths{"kept"};
  MakePaths(&lines, paths);
  MakePaths(nullptr, paths);
  std::size_t extracting = 0;
  for (const auto& line : lines) extracting += line.rfind("Extracting", 0) == 0 ? 1 : 0;
  fuzz::Check(paths.size() == extracting + 1 && paths[0] == "kept", "one path per Extracting line");
  return 0;
}
