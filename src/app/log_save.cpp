// Saving the log: UTF-16 little-endian text with a byte-order mark, lines ending in CR LF.
#include "app/log_save.h"

#include <cstdint>

#include "platform/files.h"

namespace {

void PutUnit(std::string& out, std::uint32_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

void PutCodePoint(std::string& out, std::uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    PutUnit(out, 0xD800 + (cp >> 10));
    PutUnit(out, 0xDC00 + (cp & 0x3FF));
  } else {
    PutUnit(out, cp);
  }
}

}  // namespace

std::string Utf8ToUtf16Le(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    std::uint32_t cp = 0;
    std::size_t len = 0;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1Fu;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0Fu;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07u;
      len = 4;
    }
    bool valid = len != 0 && i + len <= n;
    for (std::size_t k = 1; valid && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) valid = false;
      else cp = (cp << 6) | (s[i + k] & 0x3Fu);
    }
    // Reject overlong forms, surrogates and values beyond Unicode.
    static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (!valid) {
      PutCodePoint(out, 0xFFFD);
      ++i;
      continue;
    }
    PutCodePoint(out, cp);
    i += len;
  }
  return out;
}

void SaveLinesUtf16(const std::string& path, const std::vector<std::string>& lines) {
  std::string bytes = "\xFF\xFE";
  for (const std::string& line : lines) bytes += Utf8ToUtf16Le(line + "\r\n");
  platform::WriteFileAtomically(path, bytes);
}
