#include "search/index_file.h"

#include "platform/files.h"

IndexFile::IndexFile(std::string path) : path_(std::move(path)) {
  if (!platform::FileExists(path_)) return;
  try {
    doc_ = platform::IniDocument::Parse(platform::ReadWholeFile(path_));
  } catch (const platform::FileError&) {
    // Read as the profile functions read a file they cannot open: as empty.
  }
}

std::string IndexFile::Read(const std::string& section, const std::string& key,
                            const std::string& fallback) const {
  std::optional<std::string> value = doc_.Get(section, key);
  return value ? std::move(*value) : fallback;
}

bool IndexFile::Write(const std::string& section, const std::string& key, const std::string& value) {
  if (!platform::IniDocument::CanStore(section, key, value)) return false;
  doc_.Set(section, key, value);
  changed_ = true;
  return true;
}

void IndexFile::Save() {
  if (!changed_) return;
  platform::WriteFileAtomically(path_, doc_.ToText());
  changed_ = false;
}
