// Saving the log: UTF-16 little-endian text with a byte-order mark, lines ending in CR LF.
#pragma once

#include <string>
#include <vector>

#include "base/line_store.h"

// UTF-8 text as UTF-16 little-endian bytes; invalid bytes become U+FFFD.
std::string Utf8ToUtf16Le(const std::string& text);
// Writes the lines to the file, replacing it atomically. The text is converted and written in
// pieces, so a log of millions of lines needs no second copy of itself in memory. Throws
// platform::FileError on failure.
void SaveLinesUtf16(const std::string& path, const std::vector<std::string>& lines);
void SaveLinesUtf16(const std::string& path, const LineStore& lines);
