// Small text and time helpers shared by the operations.
#pragma once

#include <cctype>
#include <chrono>
#include <ctime>
#include <string>

// The upper-case form of a flag value ("yes" -> "YES"); flags are compared in this form.
inline std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
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
