#include "devices/hwid_rules.h"

#include <array>
#include <string_view>
#include <unordered_set>

namespace {

bool Contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

// Deletes from the first occurrence of the marker to the end; no change without it.
std::string CutAt(const std::string& text, std::string_view marker) {
  const auto pos = text.find(marker);
  return pos == std::string::npos ? text : text.substr(0, pos);
}

// Text equality that counts its calls when given a counter.
struct CountingEqual {
  std::size_t* count = nullptr;
  bool operator()(std::string_view a, std::string_view b) const {
    if (count != nullptr) ++*count;
    return a == b;
  }
};

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Replaces every occurrence of `from`, matched without regard to ASCII letter case.
std::string ReplaceAllNoCase(const std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + from.size() <= text.size();
    for (std::size_t k = 0; match && k < from.size(); ++k) {
      match = AsciiUpper(text[i + k]) == AsciiUpper(from[k]);
    }
    if (match) {
      result.append(to);
      i += from.size();
    } else {
      result.push_back(text[i]);
      ++i;
    }
  }
  return result;
}

struct BusRule {
  std::string_view marker;
  std::array<std::string_view, 3> cuts;  // qualifier marker of levels 1, 2, 3
};

// The order in which the reduction tests the buses; the first marker contained decides.
constexpr std::array<BusRule, 6> kCutRules{{
    {"PCI\\", {"&REV", "&SUBSYS", "&DEV"}},
    {"HDAUDIO\\", {"&REV", "&SUBSYS", "&DEV"}},
    {"SCSI\\", {"&REV", "&PROD", "&PROD"}},
    {"USB\\", {"&COL", "&MI", "&PID"}},
    {"HID\\", {"&COL", "&MI", "&PID"}},
    {"ACPI\\", {"_MODEL", "_FAMILY", "_FAMILY"}},
}};
constexpr std::string_view kDisplayMarker = "DISPLAY\\";

}  // namespace

bool IsSupportedHWid(const std::string& id) {
  static constexpr std::array<std::string_view, 7> kMarkers{"PCI\\", "HDAUDIO\\", "SCSI\\",   "HID\\",
                                                            "USB\\", "ACPI\\",    "DISPLAY\\"};
  for (const auto marker : kMarkers) {
    if (Contains(id, marker)) return true;
  }
  return IsStarHWid(id);
}

bool IsStarHWid(const std::string& id) {
  if (id.size() < 2 || id.front() != '*') return false;
  for (std::size_t i = 1; i < id.size(); ++i) {
    const auto c = static_cast<unsigned char>(id[i]);
    if (c <= ' ' || c == 0x7F || c == '\\' || c == '*') return false;
  }
  return true;
}

void DeleteDuples(std::vector<std::string>* list, std::size_t* comparisons) {
  if (list == nullptr || list->empty()) return;
  std::unordered_set<std::string_view, std::hash<std::string_view>, CountingEqual> seen(
      list->size(), std::hash<std::string_view>(), CountingEqual{comparisons});
  // Survivors are moved forward only after every comparison that could involve them, so the
  // views in `seen` always point at texts that are not moved any more.
  std::vector<bool> keep(list->size(), false);
  for (std::size_t i = 0; i < list->size(); ++i) {
    keep[i] = seen.insert((*list)[i]).second;
  }
  seen.clear();
  std::size_t out = 0;
  for (std::size_t i = 0; i < list->size(); ++i) {
    if (!keep[i]) continue;
    if (out != i) (*list)[out] = std::move((*list)[i]);
    ++out;
  }
  list->resize(out);
}

std::string CutHw(const std::string& id) {
  const auto first = id.find('\\');
  if (first == std::string::npos) return id;
  const auto second = id.find('\\', first + 1);
  if (second == std::string::npos) return id;
  return id.substr(0, second);
}

std::string DecreaseHWID(const std::string& id, std::uint8_t level) {
  const std::string cut = CutHw(id);
  for (const auto& rule : kCutRules) {
    if (!Contains(cut, rule.marker)) continue;
    if (level < 1 || level > 3) return cut;
    return CutAt(cut, rule.cuts[level - 1]);
  }
  if (Contains(cut, kDisplayMarker)) {
    if (level < 1 || level > 3) return cut;
    return ReplaceAllNoCase(cut, kDisplayMarker, "MONITOR\\");
  }
  return cut;
}
