#include "app/config_file.h"

#include "platform/files.h"
#include "platform/profile.h"

std::string ConfigFile::ReadString(const std::string& section, const std::string& key,
                                   const std::string& fallback) const {
  // An unbound object reads like a missing file: the fallback, as the profile functions give it.
  return platform::profile::ReadString(path_, section, key, fallback);
}

bool ConfigFile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) const {
  if (path_.empty()) return false;
  if (platform::profile::WriteString(path_, section, key, value)) return true;
  if (onWriteFailed_) onWriteFailed_(path_, platform::SystemErrorMessage(platform::LastSystemError()));
  return false;
}
