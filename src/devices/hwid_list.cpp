#include "devices/hwid_list.h"

#include <cstddef>
#include <set>
#include <string_view>

#include "devices/hwid_rules.h"

namespace {

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool Indented(std::string_view line) { return !line.empty() && IsBlank(line.front()); }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < part.size() && Upper(text[i + k]) == Upper(part[k])) ++k;
    if (k == part.size()) return true;
  }
  return false;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// devcon's closing line: "12 matching device(s) found." (also "No matching devices found.").
bool IsDevconCountLine(std::string_view line) { return ContainsNoCase(line, "matching device"); }

// devcon's headings: "Hardware IDs:", "Hardware ID's:", "Compatible IDs:", "Compatible ID's:".
bool IsDevconHeading(std::string_view trimmed) {
  return EndsWith(trimmed, "IDs:") || EndsWith(trimmed, "ID's:");
}

// An unindented "<label>:" followed by at least one blank and a value; the label holds no
// backslash, so an identifier line is never taken for a field.
bool SplitField(std::string_view line, std::string_view& label, std::string_view& value) {
  if (line.empty() || Indented(line)) return false;
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  if (line.substr(0, colon).find('\\') != std::string_view::npos) return false;
  if (colon + 1 < line.size() && !IsBlank(line[colon + 1])) return false;
  label = Trim(line.substr(0, colon));
  value = Trim(line.substr(colon + 1));
  return true;
}

}  // namespace

std::string HwidListText(const std::string& bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) return bytes.substr(3);
  const bool little = bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
  const bool big = bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
  if (!little && !big) return bytes;
  std::string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const unsigned unit = little ? byte(i) | (byte(i + 1) << 8) : (byte(i) << 8) | byte(i + 1);
    // Identifiers are ASCII; anything else (a device name's letters) is kept as a placeholder.
    text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return text;
}

HwidListKind DetectHwidListKind(const std::string& text) {
  for (const std::string_view line : Lines(text)) {
    std::string_view label;
    std::string_view value;
    if (SplitField(line, label, value) && value.find('\\') != std::string_view::npos) {
      return HwidListKind::PnputilIds;
    }
    if ((Indented(line) && IsDevconHeading(Trim(line))) || (!Indented(line) && IsDevconCountLine(line))) {
      return HwidListKind::DevconHwids;
    }
  }
  return HwidListKind::PlainList;
}

std::vector<ListedDevice> ParseDevconHwids(const std::string& text) {
  std::vector<ListedDevice> devices;
  enum class Section { None, Hardware, Other } section = Section::None;
  std::size_t headingIndent = 0;
  for (const std::string_view line : Lines(text)) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) continue;
    if (!Indented(line)) {
      section = Section::None;
      if (IsDevconCountLine(line)) continue;
      devices.push_back({std::string(trimmed), {}});
      continue;
    }
    if (devices.empty()) continue;
    const std::size_t indent = line.find_first_not_of(" \t");
    if (section != Section::None && indent > headingIndent) {
      if (section == Section::Hardware) devices.back().hardwareIds.emplace_back(trimmed);
      continue;
    }
    headingIndent = indent;
    if (IsDevconHeading(trimmed)) {
      section = ContainsNoCase(trimmed, "Hardware") ? Section::Hardware : Section::Other;
    } else {
      section = Section::None;  // "Name: ..." and other lines of the device
    }
  }
  return devices;
}

std::vector<ListedDevice> ParsePnputilIds(const std::string& text) {
  std::vector<ListedDevice> devices;
  bool inDevice = false;        // a block has begun and its first field was the instance ID
  bool hardwareField = false;   // the field being read is the hardware IDs
  for (const std::string_view line : Lines(text)) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) {
      inDevice = false;
      hardwareField = false;
      continue;
    }
    std::string_view label;
    std::string_view value;
    if (SplitField(line, label, value)) {
      if (!inDevice) {
        // The first field of a block names the device; a title or a field without a backslash
        // in its value ("Microsoft PnP Utility") begins none.
        if (value.find('\\') == std::string_view::npos) continue;
        devices.push_back({std::string(value), {}});
        inDevice = true;
        hardwareField = false;
        continue;
      }
      hardwareField = ContainsNoCase(label, "Hardware");
      if (hardwareField && !value.empty()) devices.back().hardwareIds.emplace_back(value);
      continue;
    }
    if (inDevice && hardwareField && Indented(line)) devices.back().hardwareIds.emplace_back(trimmed);
  }
  return devices;
}

std::vector<ListedDevice> ParsePlainIdList(const std::string& text) {
  std::vector<ListedDevice> devices;
  for (const std::string_view line : Lines(text)) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';') continue;
    devices.push_back({std::string(trimmed), {}});
  }
  return devices;
}

HwidList ParseHwidList(const std::string& bytes) {
  const std::string text = HwidListText(bytes);
  HwidList list;
  list.kind = DetectHwidListKind(text);
  switch (list.kind) {
    case HwidListKind::DevconHwids:
      list.devices = ParseDevconHwids(text);
      break;
    case HwidListKind::PnputilIds:
      list.devices = ParsePnputilIds(text);
      break;
    case HwidListKind::PlainList:
      list.devices = ParsePlainIdList(text);
      break;
  }
  return list;
}

std::vector<std::string> SearchIdsOfList(const std::vector<ListedDevice>& devices) {
  std::vector<std::string> ids;
  for (const ListedDevice& device : devices) {
    std::set<std::string> searched;
    auto take = [&](const std::string& id) {
      if (!id.empty() && searched.insert(DecreaseHWID(id, 2)).second) ids.push_back(id);
    };
    take(device.instanceId);
    for (const std::string& id : device.hardwareIds) take(id);
  }
  return ids;
}
