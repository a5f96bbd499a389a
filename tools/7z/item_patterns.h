// Which archive items a 7-Zip command line selects by name: the rules the Linux stand-in and the
// Windows test double of the archive tool share, so both select the same items.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace item_patterns {

inline char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// "*" any run of characters, "?" any one; letter case ignored; "*.*" is every name, as on Windows.
inline bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") pattern = "*";
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || (pattern[p] != '*' && Fold(pattern[p]) == Fold(name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// An item is taken when the pattern's parts match consecutive parts of its path, from the root
// (or from any depth with -r); everything inside a matching folder goes with it. No pattern (an
// empty list file) takes nothing.
inline bool Selected(const std::vector<std::string>& path,
                     const std::vector<std::vector<std::string>>& patterns, bool recursive) {
  for (const auto& pattern : patterns) {
    if (pattern.empty() || pattern.size() > path.size()) continue;
    const std::size_t lastStart = recursive ? path.size() - pattern.size() : 0;
    for (std::size_t start = 0; start <= lastStart; ++start) {
      bool all = true;
      for (std::size_t i = 0; i < pattern.size() && all; ++i)
        all = WildcardMatch(pattern[i], path[start + i]);
      if (all) return true;
    }
  }
  return false;
}

}  // namespace item_patterns
