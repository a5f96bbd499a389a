#include <algorithm>
#include <cctype>
#include <fstream>

#include "platform/posix/sysfs_devices.h"

namespace platform::devices::sysfs {

std::optional<std::string> ReadFileLimited(const fs::path& path, std::size_t limit) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // Read in pieces: most files are a few bytes, and files under /proc tell no size, so a buffer
  // of the whole limit (megabytes, filled with zeros first) would cost more than the reading.
  std::string data;
  char piece[16384];
  while (data.size() < limit) {
    in.read(piece, static_cast<std::streamsize>(std::min(sizeof piece, limit - data.size())));
    if (in.bad()) return std::nullopt;
    data.append(piece, static_cast<std::size_t>(in.gcount()));
    if (!in) break;
  }
  return data;
}

std::string_view TrimView(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::optional<std::string> ReadAttr(const fs::path& dir, const char* name) {
  auto data = ReadFileLimited(dir / name, kMaxAttributeBytes);
  if (!data) return std::nullopt;
  return std::string(TrimView(*data));
}

std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t max) {
  text = TrimView(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16u + static_cast<std::uint32_t>(digit);
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ParseDec(std::string_view text, std::uint32_t max) {
  text = TrimView(text);
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ReadHex(const fs::path& dir, const char* name, std::uint32_t max) {
  const auto text = ReadAttr(dir, name);
  if (!text) return std::nullopt;
  return ParseHex(*text, max);
}

std::optional<std::uint32_t> ReadDec(const fs::path& dir, const char* name, std::uint32_t max) {
  const auto text = ReadAttr(dir, name);
  if (!text) return std::nullopt;
  return ParseDec(*text, max);
}

std::vector<std::string> ListNames(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    names.push_back(it->path().filename().string());
    if (names.size() > 100000) break;  // a runaway folder, not a machine
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Hex(std::uint32_t value, int width) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xFu]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(text.size()) < width) text.insert(text.begin(), '0');
  return text;
}

std::uint32_t PathHash(const std::string& text) {
  std::uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

std::string GeneratedInstance(int level, const std::string& hashedPath, const std::string& tail) {
  std::string text = std::to_string(level) + "&" + Hex(PathHash(hashedPath), 1) + "&0";
  if (!tail.empty()) text += "&" + tail;
  return text;
}

bool IsHexText(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool IsPciAddress(std::string_view name) {
  return name.size() == 12 && IsHexText(name.substr(0, 4)) && name[4] == ':' &&
         IsHexText(name.substr(5, 2)) && name[7] == ':' && IsHexText(name.substr(8, 2)) && name[10] == '.' &&
         IsHexText(name.substr(11, 1));
}

std::string SanitizeIdPart(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back((u <= 0x20 || u >= 0x7F || c == ',') ? '_' : c);
  }
  return out;
}

bool IsCleanIdPart(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != ',' && c != '\\';
  });
}

std::string ModuleKey(std::string name) {
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

// ---- kernel modules ----

std::string ModuleNameOfPath(std::string_view path) {
  const auto slash = path.find_last_of('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const auto ko = path.find(".ko");
  if (ko != std::string_view::npos) path = path.substr(0, ko);
  return ModuleKey(std::string(path));
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

void LoadModuleTables(const fs::path& root, ModuleTables& tables) {
  tables.loaded = true;
  const auto release =
      ReadFileLimited(root / ".." / "proc" / "sys" / "kernel" / "osrelease", kMaxAttributeBytes);
  if (!release) return;
  const std::string releaseName(TrimView(*release));
  if (releaseName.empty() || releaseName.find('/') != std::string::npos || releaseName == "..") return;
  const auto dir = (root / ".." / "lib" / "modules" / releaseName).lexically_normal();
  if (!IsDirectory(dir)) return;
  tables.dir = dir;
  if (const auto dep = ReadFileLimited(tables.dir / "modules.dep", kMaxTableBytes)) {
    for (const auto line : SplitLines(*dep)) {
      const auto colon = line.find(':');
      if (colon == std::string_view::npos || colon == 0) continue;
      std::vector<std::string> files;
      files.emplace_back(TrimView(line.substr(0, colon)));
      for (const auto word : SplitBlanks(line.substr(colon + 1))) files.emplace_back(word);
      tables.dep.emplace(ModuleNameOfPath(files.front()), std::move(files));
    }
  }
  if (const auto builtin = ReadFileLimited(tables.dir / "modules.builtin", kMaxTableBytes)) {
    for (const auto line : SplitLines(*builtin)) {
      const auto trimmed = TrimView(line);
      if (!trimmed.empty()) tables.builtin.insert(ModuleNameOfPath(trimmed));
    }
  }
}

// ---- the enumeration ----

}  // namespace platform::devices::sysfs
