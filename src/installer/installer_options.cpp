#include "installer/installer_options.h"

#include <array>
#include <cctype>
#include <cstddef>
#include <string_view>

#include "base/text_util.h"

namespace installer {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

enum class Kind { Flag, Value, Refused };
struct Switch {
  std::string_view name;
  Kind kind;
};
constexpr std::array<Switch, 19> kSwitches{{
    {"s", Kind::Flag},     {"q", Kind::Flag},         {"sw", Kind::Flag},   {"lm", Kind::Flag},
    {"f", Kind::Flag},     {"sh", Kind::Flag},        {"c", Kind::Flag},    {"sa", Kind::Flag},
    {"se", Kind::Flag},    {"a", Kind::Flag},         {"p", Kind::Flag},    {"el", Kind::Flag},
    {"d", Kind::Flag},     {"?", Kind::Flag},         {"h", Kind::Flag},    {"help", Kind::Flag},
    {"path", Kind::Value}, {"logtitle", Kind::Value}, {"u", Kind::Refused},
}};

const Switch* FindSwitch(std::string_view word) {
  if (word.size() < 2 || word[0] != '/') return nullptr;
  const std::string name = LowerCase(word.substr(1));
  for (const Switch& s : kSwitches)
    if (s.name == name) return &s;
  if (name == "l") {
    static constexpr Switch kLanguage{"l", Kind::Value};
    return &kLanguage;
  }
  return nullptr;
}

// The word starting at `pos`: up to the next blank.
std::string_view WordAt(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  return text.substr(pos, end - pos);
}

// A switch's value starting at `pos` (blanks before it already skipped): quoted, or up to the
// blank before the next known switch. Advances `pos` past it; false for an unterminated quote.
bool ReadValue(std::string_view text, std::size_t& pos, std::string& value) {
  if (pos < text.size() && text[pos] == '"') {
    const std::size_t close = text.find('"', pos + 1);
    if (close == std::string_view::npos) return false;
    value = std::string(text.substr(pos + 1, close - pos - 1));
    pos = close + 1;
    return true;
  }
  std::size_t end = pos;
  while (end < text.size()) {
    if (IsBlank(text[end])) {
      std::size_t next = end;
      while (next < text.size() && IsBlank(text[next])) ++next;
      if (next == text.size() || FindSwitch(WordAt(text, next)) != nullptr) break;
      end = next;
    } else {
      ++end;
    }
  }
  value = std::string(text.substr(pos, end - pos));
  pos = end;
  return true;
}

}  // namespace

CommandLineResult ParseInstallerCommandLine(const std::string& commandLine) {
  CommandLineResult result;
  InstallerOptions& o = result.options;
  const std::string_view text = commandLine;
  std::size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  // The program's own name, by the system's rule for it: quoted, or up to the first blank.
  if (pos < text.size() && text[pos] == '"') {
    const std::size_t close = text.find('"', pos + 1);
    pos = close == std::string_view::npos ? text.size() : close + 1;
  } else {
    while (pos < text.size() && !IsBlank(text[pos])) ++pos;
  }
  bool havePath = false;
  while (true) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size()) break;
    const std::string_view word = WordAt(text, pos);
    const Switch* known = FindSwitch(word);
    if (known == nullptr) {
      result.error = word.empty() || word[0] != '/' ? "unexpected word \"" + std::string(word) + "\""
                                                    : "unknown switch " + std::string(word);
      return result;
    }
    pos += word.size();
    const std::string name(known->name);
    if (known->kind == Kind::Refused) {
      result.error = "switch " + std::string(word) + " (uninstalling a driver package) is not supported";
      return result;
    }
    if (known->kind == Kind::Value) {
      while (pos < text.size() && IsBlank(text[pos])) ++pos;
      std::string value;
      if (pos >= text.size() || FindSwitch(WordAt(text, pos)) != nullptr) {
        result.error = "switch " + std::string(word) + " needs a value";
        return result;
      }
      if (!ReadValue(text, pos, value)) {
        result.error = "the value of " + std::string(word) + " has no closing quotation mark";
        return result;
      }
      if (name == "path") {
        if (havePath) {
          result.error = "switch /path given twice";
          return result;
        }
        if (value.empty()) {
          result.error = "switch /path needs a folder";
          return result;
        }
        havePath = true;
        o.folder = value;
      } else {
        o.ignored.push_back("/" + name + " " + value);
      }
      continue;
    }
    if (name == "s" || name == "q") o.silent = true;
    else if (name == "sw") o.suppressWizard = true;
    else if (name == "lm") o.legacyMode = true;
    else if (name == "f") o.force = true;
    else if (name == "sh") o.scanHardware = true;
    else if (name == "c") o.console = true;
    else if (name == "?" || name == "h" || name == "help") o.help = true;
    else o.ignored.push_back("/" + name);
  }
  return result;
}

std::vector<std::string> ApplyDescriptor(const std::string& xmlText, InstallerOptions& options) {
  std::vector<std::string> applied;
  std::size_t pos = 0;
  while ((pos = xmlText.find('<', pos)) != std::string::npos) {
    if (xmlText.compare(pos, 4, "<!--") == 0) {
      const std::size_t end = xmlText.find("-->", pos + 4);
      if (end == std::string::npos) break;
      pos = end + 3;
      continue;
    }
    ++pos;
    std::size_t end = pos;
    while (end < xmlText.size() && (std::isalnum(static_cast<unsigned char>(xmlText[end])) != 0)) ++end;
    const std::string element = xmlText.substr(pos, end - pos);
    bool* flag = nullptr;
    if (element == "legacyMode") flag = &options.legacyMode;
    else if (element == "scanHardware") flag = &options.scanHardware;
    else if (element == "forceIfDriverIsNotBetter") flag = &options.force;
    else if (element == "quietInstall") flag = &options.silent;
    else if (element == "suppressWizard") flag = &options.suppressWizard;
    if (flag != nullptr) {
      *flag = true;
      applied.push_back(element);
    }
    pos = end;
  }
  return applied;
}

std::vector<std::string> UsageLines() {
  return {
      "DPINST.exe [/s | /q] [/sw] [/lm] [/f] [/sh] [/c] [/path <folder>]",
      "/s, /q: silent: no window and no question; unsigned packages are not installed",
      "/sw: no progress window",
      "/lm: legacy mode: unsigned packages are installed too (a package with missing files never is)",
      "/f: install even where the present driver is a better match",
      "/sh: only packages that serve a present device; none is added to the driver store alone",
      "/c: the log lines also go to standard output",
      "/path <folder>: the folder searched, every level (default: the current folder)",
      "/sa, /se, /a, /p, /el, /d, /l <language>, /logtitle <title>: accepted, change nothing",
  };
}

}  // namespace installer
