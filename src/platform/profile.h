// Profile (INI) files, with the observable rules of the Windows profile functions:
// section and key names matched without regard to case, blanks around names and values
// ignored, a value in quotation marks read without them, a line "=value" read as the key with
// the empty name, comments and unknown lines kept in place, the first write creates the file.
// Every write goes through a temporary file and a rename, so a crash never leaves a
// half-written file; a read-only file is not written.
#pragma once

#include <string>
#include <vector>

namespace platform::profile {

// The value of a key, or `fallback` without its trailing spaces when the file, the section or
// the key is missing.
std::string ReadString(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& fallback);
// Writes one value at once to the file. Returns false when the file cannot be written.
bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                 const std::string& value);
// The key names of a section, in file order.
std::vector<std::string> ReadSectionKeys(const std::string& file, const std::string& section);
// The section names of the file, in file order.
std::vector<std::string> ReadSectionNames(const std::string& file);

}  // namespace platform::profile
