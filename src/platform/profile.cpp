// Profile (INI) files on every target, with the rules of the project's own INI document: every
// call reads the file afresh and works straight over its text (no index is built for one
// look-up), every write replaces the file atomically. Windows uses this too rather than the
// system's profile functions, whose handling of blank lines, unknown lines and duplicate names
// differs between system versions (and under Wine), so the file comes out the same everywhere.
#include "platform/profile.h"

#include <cerrno>
#include <stdexcept>

#include "platform/files.h"
#include "platform/ini_text.h"

namespace platform::profile {
namespace {

// The file's text, or nothing when it cannot be read. A missing file is the usual case at a
// first start: it is answered without raising an error, which would land in the error report.
std::optional<std::string> ReadText(const std::string& file) {
  if (!FileExists(file)) return std::nullopt;
  try {
    return ReadWholeFile(file);
  } catch (const FileError&) {
    return std::nullopt;
  }
}

// The fallback as it comes back: without its trailing spaces, as the Windows functions give it.
std::string FallbackText(const std::string& fallback) {
  const std::size_t end = fallback.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : fallback.substr(0, end + 1);
}

}  // namespace

std::string ReadString(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& fallback) {
  const std::optional<std::string> text = ReadText(file);
  if (!text) return FallbackText(fallback);
  std::optional<std::string> value = IniDocument::Find(*text, section, key);
  return value ? std::move(*value) : FallbackText(fallback);
}

bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                 const std::string& value) {
  try {
    std::string text;
    if (FileExists(file)) {
      // An existing file that cannot be read is left alone rather than replaced.
      text = ReadWholeFile(file);
    } else if (DirectoryExists(file)) {
      return false;
    }
    const std::string written = IniDocument::SetInText(text, section, key, value);
    text = std::string();  // give the memory back before the file is written
    WriteFileAtomically(file, written);
    return true;
  } catch (const FileError&) {
    return false;
  } catch (const std::invalid_argument&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::vector<std::string> ReadSectionKeys(const std::string& file, const std::string& section) {
  std::optional<std::string> text = ReadText(file);
  if (!text) return {};
  return IniDocument::KeysOf(*text, section);
}

std::vector<std::string> ReadSectionNames(const std::string& file) {
  std::optional<std::string> text = ReadText(file);
  if (!text) return {};
  return IniDocument::SectionNamesOf(*text);
}

}  // namespace platform::profile
