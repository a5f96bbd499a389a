// Names of archive items: split into folders as Windows and as 7zz on Linux do, joined again,
// and handed to 7zz whole in a UTF-16 list of names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace seven_zip {

// Splits at "/" and "\", dropping empty and "." parts. Sets `parent` when a ".." part is there.
std::vector<std::string> SplitPath(std::string_view path, bool* parent = nullptr);

// A name as 7-Zip holds it, in UTF-16LE. 7-Zip keeps each byte of a name that is not part of
// well-formed UTF-8 as the character U+EF00 + byte, and takes the bytes of a character of
// U+EF80..U+EFFF the same way, so that every byte name has characters of its own; its listing
// gives the bytes back. Handed these characters, 7zz finds a name with a Latin-1 byte as exactly
// the item it listed.
std::string NameInUtf16(std::string_view name);

// The switches that hand `names` to 7zz, each name matched whole: a list file in UTF-16LE,
// written at `listPath`, and "-i!<name>" for a name that starts or ends with a blank or a tab,
// which 7zz would trim from a line of a list file but keeps on its command line. False, with the
// system's reason in `error`, when the list file cannot be written whole.
bool NameSwitches(const std::vector<std::string>& names, const std::string& listPath,
                  std::vector<std::string>& args, std::string& error);

// The parts of a name as 7zz lays it out on Linux: separated at "/" only.
std::vector<std::string> SplitAtSlash(const std::string& name);

std::string Joined(const std::vector<std::string>& parts);

}  // namespace seven_zip
