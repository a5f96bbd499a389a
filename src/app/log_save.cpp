// Saving the log: UTF-16 little-endian text with a byte-order mark, lines ending in CR LF.
#include "app/log_save.h"

#include <cstdint>
#include <string_view>

#include "platform/files.h"

namespace {

// Writes the UTF-16LE form of `text` at `out`, which has room for twice its bytes (no UTF-8
// sequence and no replaced byte takes more than twice its length in UTF-16); returns the end.
char* PutUtf16Le(char* out, std::string_view text) {
  auto put = [&out](std::uint32_t unit) {
    *out++ = static_cast<char>(unit & 0xFF);
    *out++ = static_cast<char>((unit >> 8) & 0xFF);
  };
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {  // most of a log is ASCII
      put(c);
      ++i;
      continue;
    }
    std::uint32_t cp = 0;
    std::size_t len = 0;
    if ((c & 0xE0) == 0xC0) {
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
      put(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
    i += len;
  }
  return out;
}

}  // namespace

std::string Utf8ToUtf16Le(const std::string& text) {
  std::string out(text.size() * 2, '\0');
  out.resize(static_cast<std::size_t>(PutUtf16Le(out.data(), text) - out.data()));
  return out;
}

namespace {

// How much converted text is gathered before it is written: large enough that the writes cost
// little, small against a log of a collection's search (hundreds of MB of UTF-16).
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

template <typename Lines>
void SaveUtf16Pieces(const std::string& path, const Lines& lines) {
  platform::WriteFileAtomically(path, [&lines](const platform::PieceSink& sink) {
    std::string piece(kPieceBytes, '\0');
    char* at = piece.data();
    *at++ = '\xFF';
    *at++ = '\xFE';
    for (const std::string_view line : lines) {
      // No UTF-8 sequence and no replaced byte takes more than twice its length in UTF-16.
      const std::size_t bound = (line.size() + 2) * 2;
      std::size_t used = static_cast<std::size_t>(at - piece.data());
      if (bound > piece.size() - used) {
        sink(std::string_view(piece.data(), used));
        used = 0;
        // A line longer than a piece gets a piece of its own size for the time it takes.
        piece.resize(bound > kPieceBytes ? bound : kPieceBytes);
        if (bound <= kPieceBytes) piece.shrink_to_fit();
        at = piece.data();
      }
      at = PutUtf16Le(at, line);
      at = PutUtf16Le(at, "\r\n");
    }
    sink(std::string_view(piece.data(), static_cast<std::size_t>(at - piece.data())));
  });
}

}  // namespace

void SaveLinesUtf16(const std::string& path, const std::vector<std::string>& lines) { SaveUtf16Pieces(path, lines); }

void SaveLinesUtf16(const std::string& path, const LineStore& lines) { SaveUtf16Pieces(path, lines); }
