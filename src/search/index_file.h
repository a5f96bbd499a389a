// An INI file held in memory while an operation works on it: the index files of the driver
// search (DP_Content.ini, DP_Extract.ini). Reads and writes go to the in-memory document, with
// the rules of the profile functions; Save writes the whole document at fixed points, atomically
// (temporary file, then rename), so a crash never leaves a half-written index and thousands of
// writes cost one file write.
#pragma once

#include <string>
#include <vector>

#include "platform/ini_text.h"

class IndexFile {
 public:
  IndexFile() = default;
  // Binds to the file and reads it when it exists; an unreadable file reads as empty.
  explicit IndexFile(std::string path);

  const std::string& path() const { return path_; }
  // The value of a key, or `fallback` when the section or the key is missing.
  std::string Read(const std::string& section, const std::string& key, const std::string& fallback) const;
  // Sets a value in memory. False, with nothing changed, for names or values an INI file
  // cannot hold (see platform::IniDocument::Set).
  bool Write(const std::string& section, const std::string& key, const std::string& value);
  std::vector<std::string> SectionNames() const { return doc_.SectionNames(); }
  std::vector<std::string> Keys(const std::string& section) const { return doc_.Keys(section); }
  bool Changed() const { return changed_; }
  // Writes the document to its file when something changed since the last save.
  // Throws platform::FileError when the file cannot be written.
  void Save();

 private:
  std::string path_;
  platform::IniDocument doc_;
  bool changed_ = false;
};
