// Profile (INI) files on Windows, on the system's own profile functions.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/ini_text.h"
#include "platform/profile.h"

namespace platform::profile {
namespace {

// Passed as the system's default so that a missing key can be told from a value: the
// caller's fallback then comes back exactly as given (the system would cut its trailing blanks).
constexpr char kMissing[] = "\x01velmora:no such key\x01";

// Double-null-terminated list of names from a profile call that returns size - 2 when cut short.
template <typename Call>
std::vector<std::string> ReadNameList(Call&& call) {
  std::vector<char> buffer(4096);
  for (;;) {
    const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length + 2 < buffer.size() || buffer.size() >= (16u << 20)) {
      std::vector<std::string> names;
      for (std::size_t pos = 0; pos < length && buffer[pos] != '\0';) {
        const std::string name(&buffer[pos]);
        pos += name.size() + 1;
        names.push_back(name);
      }
      return names;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string ReadString(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& fallback) {
  std::vector<char> buffer(1024);
  for (;;) {
    const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), kMissing, buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), file.c_str());
    if (length + 1 < buffer.size() || buffer.size() >= (16u << 20)) {
      const std::string value(buffer.data(), length);
      return value == kMissing ? fallback : value;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                 const std::string& value) {
  // Names and values that would not read back as written (line breaks and the like) are
  // refused, as on every target.
  if (!IniDocument::CanStore(section, key, value)) return false;
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != 0;
}

std::vector<std::string> ReadSectionKeys(const std::string& file, const std::string& section) {
  return ReadNameList([&](char* buffer, DWORD size) {
    return GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer, size, file.c_str());
  });
}

std::vector<std::string> ReadSectionNames(const std::string& file) {
  return ReadNameList(
      [&](char* buffer, DWORD size) { return GetPrivateProfileSectionNamesA(buffer, size, file.c_str()); });
}

}  // namespace platform::profile
