// Small text and time helpers shared by the operations, the engines and the platform layer.
#pragma once

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The upper-case form of a flag value ("yes" -> "YES"); flags are compared in this form.
inline std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The lower-case form of a text, letter by letter in the C locale.
inline std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The lower-case form of an ASCII letter; any other byte as it is (whatever the locale).
constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The same text when ASCII letter case is ignored.
inline bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// Windows wildcard matching with ASCII letter case ignored: '*' matches any run of characters
// (also none); with `questionMarks`, '?' matches any one character (file name patterns),
// otherwise it is a character like the others (device console patterns).
inline bool WildcardMatch(std::string_view text, std::string_view pattern, bool questionMarks) {
  std::size_t t = 0;
  std::size_t p = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() &&
               ((questionMarks && pattern[p] == '?') || AsciiLower(pattern[p]) == AsciiLower(text[t]))) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The lines of a text: a line ends at CR LF, CR or LF; the end of the text ends the last line
// only when it is not empty (so "a\n" is one line, "a\n\n" two).
inline std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The text without the blanks and control characters at both ends.
inline std::string TrimBlanks(const std::string& text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

// The current local date and time.
inline std::tm LocalNow() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return local;
}

// The current local date and time in a strftime format.
inline std::string FormatNow(const char* format) {
  std::tm local = LocalNow();
  char text[64];
  std::strftime(text, sizeof text, format, &local);
  return text;
}
