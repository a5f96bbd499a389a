// Telling the kinds of archive tool apart, and reading the items each kind reports.
#include "packs/archiver_kind.h"

#include <set>

namespace {

constexpr std::string_view kBannerWord = "7-Zip ";
// From this major version on, 7-Zip lists extracted items only with -bb1.
constexpr int kFirstCurrentMajor = 15;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

constexpr std::string_view kErrorStart = "ERROR:";
// The Linux tool's line for an item it refuses to extract.
constexpr std::string_view kSkippedStart = "WARNING: skipped ";

// True for an item path of 7-Zip 9.20 followed by blanks and the words it reports an error with.
bool EndsInErrorWords(std::string_view path) {
  path = Trimmed(path);
  for (std::string_view words : {"CRC Failed", "Data Error", "Unsupported Method"}) {
    if (path.size() <= words.size() + 2 || path.substr(path.size() - words.size()) != words) continue;
    const std::string_view before = path.substr(0, path.size() - words.size());
    if (before.substr(before.size() - 2) == "  ") return true;
  }
  return false;
}

// The blank-separated words of a line.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    std::size_t end = pos;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (end > pos) words.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

// A mark such as "[32]", "(a)" or "(x64)": a whole word in brackets or parentheses.
bool IsMark(std::string_view word) {
  return word.size() >= 2 &&
         ((word.front() == '[' && word.back() == ']') || (word.front() == '(' && word.back() == ')'));
}

// The major number of a version word "<digits>.<digits>", or -1 when the word is none. At most
// four digits on either side, so no number overflows.
int VersionMajor(std::string_view word) {
  const std::size_t dot = word.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot > 4 || dot + 1 == word.size()) return -1;
  const std::string_view minor = word.substr(dot + 1);
  if (minor.size() > 4) return -1;
  int major = 0;
  for (char c : word.substr(0, dot)) {
    if (!IsDigit(c)) return -1;
    major = major * 10 + (c - '0');
  }
  for (char c : minor) {
    if (!IsDigit(c)) return -1;
  }
  return major;
}

}  // namespace

ArchiverBanner ParseArchiverBanner(const std::vector<std::string>& lines) {
  ArchiverBanner banner;
  for (const std::string& line : lines) {
    if (line.compare(0, kBannerWord.size(), kBannerWord) != 0) continue;
    banner.line = line;
    const std::vector<std::string_view> words = Words(std::string_view(line).substr(kBannerWord.size()));
    std::size_t i = 0;
    while (i < words.size() && IsMark(words[i])) ++i;
    if (i == words.size()) return banner;
    const int major = VersionMajor(words[i]);
    if (major < 0) return banner;
    banner.version = std::string(words[i]);
    banner.kind = major >= kFirstCurrentMajor ? ArchiverKind::Current : ArchiverKind::Classic;
    return banner;
  }
  return banner;
}

std::string ArchiverCommandLine(const std::string& commandLine, ArchiverKind kind) {
  if (kind != ArchiverKind::Current) return commandLine;
  return commandLine + " " + std::string(kListItemsSwitch);
}

std::optional<std::string> ExtractedItemPath(std::string_view line) {
  static constexpr std::string_view kArchiveLine = "Extracting archive:";
  static constexpr std::string_view kWord = "Extracting";
  static constexpr std::string_view kDash = "- ";
  if (line.substr(0, kArchiveLine.size()) == kArchiveLine) return std::nullopt;
  if (line.substr(0, kWord.size()) == kWord) {
    return line.size() > kWord.size() + 1 ? std::string(line.substr(kWord.size() + 1)) : std::string();
  }
  if (line.substr(0, kDash.size()) == kDash) {
    const std::string_view path = line.substr(kDash.size());
    if (path.empty() || path.back() == '/' || path.back() == '\\') return std::nullopt;
    return std::string(path);
  }
  return std::nullopt;
}

std::vector<std::string> ExtractedItemPaths(const std::vector<std::string>& lines) {
  std::vector<std::string> paths;
  for (const std::string& line : lines) {
    if (std::optional<std::string> path = ExtractedItemPath(line)) paths.push_back(std::move(*path));
  }
  return paths;
}

std::vector<std::string> ItemErrorLines(const std::vector<std::string>& lines) {
  std::vector<std::string> errors;
  for (const std::string& line : lines) {
    if (line.rfind(kErrorStart, 0) == 0 || line.rfind(kSkippedStart, 0) == 0) {
      errors.push_back(line);
    } else if (const std::optional<std::string> path = ExtractedItemPath(line); path && EndsInErrorWords(*path)) {
      errors.push_back(line);
    }
  }
  return errors;
}

std::vector<std::string> GoodItemPaths(const std::vector<std::string>& lines) {
  std::set<std::string, std::less<>> named;
  for (const std::string& line : lines) {
    if (line.rfind(kErrorStart, 0) != 0) continue;
    std::string_view rest = std::string_view(line).substr(kErrorStart.size());
    for (std::size_t at = rest.find(" : ");; at = rest.find(" : ")) {
      named.emplace(Trimmed(rest.substr(0, at)));
      if (at == std::string_view::npos) break;
      rest.remove_prefix(at + 3);
    }
  }
  std::vector<std::string> paths;
  for (std::string& path : ExtractedItemPaths(lines)) {
    if (EndsInErrorWords(path) || named.count(Trimmed(path)) != 0) continue;
    paths.push_back(std::move(path));
  }
  return paths;
}
