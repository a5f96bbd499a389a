// Saving the log: UTF-16 little-endian text with a byte-order mark, lines ending in CR LF.
#pragma once

#include <string>
#include <vector>

// UTF-8 text as UTF-16 little-endian bytes; invalid bytes become U+FFFD.
std::string Utf8ToUtf16Le(const std::string& text);
// Writes the lines to the file, replacing it. Throws platform::FileError on failure.
void SaveLinesUtf16(const std::string& path, const std::vector<std::string>& lines);
