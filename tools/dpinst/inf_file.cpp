#include "inf_file.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_set>

namespace dpinst {

namespace {

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string FromUtf16(const std::string& bytes, std::size_t start, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t i) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (static_cast<std::uint32_t>(a) << 8 | b) : (static_cast<std::uint32_t>(b) << 8 | a);
  };
  for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
    std::uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// Splits a value at commas outside double quotes. Blanks outside quotes around a field are
// dropped, blanks inside quotes kept; "" inside quotes is one quote.
std::vector<std::string> Fields(const std::string& value) {
  std::vector<std::string> fields;
  std::string field;
  std::size_t keep = 0;  // length of the field up to its last character that must stay
  bool quoted = false;
  auto finish = [&]() {
    field.resize(keep);
    fields.push_back(field);
    field.clear();
    keep = 0;
  };
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') {
      if (quoted && i + 1 < value.size() && value[i + 1] == '"') {
        field += '"';
        ++i;
        keep = field.size();
      } else {
        if (!quoted && keep == 0) field.clear();  // blanks before the opening quote
        quoted = !quoted;
        keep = field.size();
      }
    } else if (c == ',' && !quoted) {
      finish();
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (!field.empty()) field += c;  // kept only when more text follows
    } else {
      field += c;
      keep = field.size();
    }
  }
  finish();
  return fields;
}

// The line without its comment (";" outside quotes).
std::string WithoutComment(const std::string& line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) return line.substr(0, i);
  }
  return line;
}

// The position of "=" outside quotes, or npos.
std::size_t EqualsSign(const std::string& line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '=' && !quoted) return i;
  }
  return std::string::npos;
}

}  // namespace

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); });
  return text;
}

std::string InfText(const std::string& bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return FromUtf16(bytes, 2, false);
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') return FromUtf16(bytes, 2, true);
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (bytes.size() >= 4 && bytes[0] != '\0' && bytes[1] == '\0' && bytes[2] != '\0' && bytes[3] == '\0') {
    return FromUtf16(bytes, 0, false);
  }
  return bytes;
}

InfFile InfFile::Parse(const std::string& bytes) {
  const std::string text = InfText(bytes);
  InfFile inf;
  InfSection* current = nullptr;
  std::string pending;  // a line continued with "\" at its end
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = WithoutComment(text.substr(pos, end - pos));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    pos = end + 1;

    std::string trimmed = Trim(line);
    if (!trimmed.empty() && trimmed.back() == '\\') {
      trimmed.pop_back();
      pending += trimmed;
      if (pos <= text.size()) continue;
      trimmed.clear();
    }
    if (!pending.empty()) {
      trimmed = pending + trimmed;
      pending.clear();
    }
    if (trimmed.empty()) continue;

    if (trimmed.front() == '[') {
      const std::size_t close = trimmed.find(']');
      const std::string name =
          Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inf.sections_.push_back(InfSection{name, {}});
      current = &inf.sections_.back();
      continue;
    }
    if (current == nullptr) continue;  // lines before the first section mean nothing
    InfEntry entry;
    const std::size_t eq = EqualsSign(trimmed);
    if (eq == std::string::npos) {
      entry.fields = Fields(trimmed);
    } else {
      entry.key = Trim(trimmed.substr(0, eq));
      if (entry.key.size() >= 2 && entry.key.front() == '"' && entry.key.back() == '"') {
        entry.key = entry.key.substr(1, entry.key.size() - 2);
      }
      entry.fields = Fields(trimmed.substr(eq + 1));
    }
    current->entries.push_back(std::move(entry));
  }
  inf.Index();
  return inf;
}

void InfFile::Index() {
  for (std::size_t i = 0; i < sections_.size(); ++i) sectionsByName_[Upper(sections_[i].name)].push_back(i);
  // [Strings] first, then the localized [Strings.<language>] sections; the first entry of a name
  // wins.
  auto addStrings = [&](std::size_t index) {
    for (const InfEntry& entry : sections_[index].entries) {
      if (!entry.fields.empty()) strings_.emplace(Upper(entry.key), entry.fields[0]);
    }
  };
  if (const auto plain = sectionsByName_.find("STRINGS"); plain != sectionsByName_.end()) {
    for (std::size_t index : plain->second) addStrings(index);
  }
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    if (Upper(sections_[i].name).rfind("STRINGS.", 0) == 0) addStrings(i);
  }
}

const InfSection* InfFile::Section(const std::string& name) const {
  const auto found = sectionsByName_.find(Upper(name));
  return found == sectionsByName_.end() ? nullptr : &sections_[found->second.front()];
}

std::string InfFile::Value(const std::string& section, const std::string& key) const {
  const auto found = sectionsByName_.find(Upper(section));
  if (found == sectionsByName_.end()) return {};
  const std::string wanted = Upper(key);
  // A section may appear several times in a file; its entries add up.
  for (std::size_t index : found->second) {
    for (const InfEntry& entry : sections_[index].entries) {
      if (Upper(entry.key) != wanted) continue;
      std::string value;
      for (std::size_t i = 0; i < entry.fields.size(); ++i) {
        if (i > 0) value += ",";
        value += entry.fields[i];
      }
      return Expand(value);
    }
  }
  return {};
}

std::string InfFile::Expand(const std::string& text) const {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('%', pos);
    if (open == std::string::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    out.append(text, pos, open - pos);
    if (close == open + 1) {
      out += '%';
    } else {
      const std::string token = text.substr(open + 1, close - open - 1);
      const auto found = strings_.find(Upper(token));
      if (found != strings_.end()) {
        out += found->second;
      } else {
        out += '%';
        out += token;
        out += '%';
      }
    }
    pos = close + 1;
  }
  if (pos < text.size()) out.append(text, pos, std::string::npos);
  return out;
}

std::vector<InfModel> InfFile::Models() const {
  // The models sections: every name the [Manufacturer] lines give, with each of its decorations,
  // and any section whose name starts with it and a dot, in the order they are first named.
  std::vector<std::string> names;
  std::unordered_set<std::string> named;
  auto add = [&](const std::string& name) {
    std::string upper = Upper(name);
    if (!upper.empty() && named.insert(upper).second) names.push_back(std::move(upper));
  };
  const auto manufacturers = sectionsByName_.find("MANUFACTURER");
  if (manufacturers != sectionsByName_.end()) {
    // Upper-case section names in sorted order with the place each first appears, so the names
    // starting with "<base>." are one range.
    std::vector<std::pair<std::string, std::size_t>> sorted;
    sorted.reserve(sectionsByName_.size());
    for (const auto& [upper, places] : sectionsByName_) sorted.emplace_back(upper, places.front());
    std::sort(sorted.begin(), sorted.end());
    std::unordered_set<std::string> basesDone;  // a base seen before adds no new prefixed name

    for (std::size_t index : manufacturers->second) {
      for (const InfEntry& entry : sections_[index].entries) {
        if (entry.fields.empty()) continue;
        std::string base = entry.fields[0];
        if (entry.key.empty()) {
          // "%Mfg%" alone: the models section carries the token's name.
          base.erase(std::remove(base.begin(), base.end(), '%'), base.end());
        }
        base = Trim(base);
        if (base.empty()) continue;
        add(base);
        for (std::size_t i = 1; i < entry.fields.size(); ++i) add(base + "." + entry.fields[i]);
        const std::string prefix = Upper(base) + ".";
        if (!basesDone.insert(prefix).second) continue;
        std::vector<std::size_t> places;
        for (auto it = std::lower_bound(sorted.begin(), sorted.end(), std::make_pair(prefix, std::size_t{0}));
             it != sorted.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
          places.push_back(it->second);
        }
        std::sort(places.begin(), places.end());
        for (std::size_t place : places) add(sections_[place].name);
      }
    }
  }

  std::vector<InfModel> models;
  for (const std::string& name : names) {
    const auto found = sectionsByName_.find(name);
    if (found == sectionsByName_.end()) continue;
    for (std::size_t index : found->second) {
      for (const InfEntry& entry : sections_[index].entries) {
        // "description = install-section, hardware-id[, compatible-id...]"
        for (std::size_t i = 1; i < entry.fields.size(); ++i) {
          if (entry.fields[i].empty()) continue;
          models.push_back(InfModel{Expand(entry.key), Expand(entry.fields[i])});
        }
      }
    }
  }
  return models;
}

std::vector<std::string> HardwareIdsOf(const std::string& instanceId) {
  std::string id = Upper(instanceId);
  const std::size_t firstSlash = id.find('\\');
  if (firstSlash == std::string::npos) return {};
  const std::size_t lastSlash = id.rfind('\\');
  if (lastSlash != firstSlash) id.resize(lastSlash);  // the instance part is no hardware ID

  const std::string bus = id.substr(0, firstSlash);
  const std::string_view device = std::string_view(id).substr(firstSlash + 1);
  // Where each "&"-separated part of the device ends.
  std::vector<std::size_t> partEnds;
  for (std::size_t start = 0; start <= device.size();) {
    std::size_t amp = device.find('&', start);
    if (amp == std::string_view::npos) amp = device.size();
    partEnds.push_back(amp);
    start = amp + 1;
  }

  // At most one ID per part, the full ID and the "*" form: reserved up front, so the strings
  // never move and the views of them that find duplicates stay valid.
  std::vector<std::string> ids;
  ids.reserve(partEnds.size() + 6);
  std::unordered_set<std::string_view> seen;
  auto add = [&](std::string candidate) {
    if (candidate.empty() || seen.count(candidate) != 0) return;
    ids.push_back(std::move(candidate));
    seen.insert(ids.back());
  };
  add(id);

  if (bus == "PCI") {
    auto part = [&](std::string_view prefix) {
      for (std::size_t i = 0, start = 0; i < partEnds.size(); start = partEnds[i] + 1, ++i) {
        const std::string_view p = device.substr(start, partEnds[i] - start);
        if (p.substr(0, prefix.size()) == prefix) return std::string(p);
      }
      return std::string();
    };
    const std::string ven = part("VEN_"), dev = part("DEV_"), subsys = part("SUBSYS_"), rev = part("REV_");
    if (!ven.empty() && !dev.empty()) {
      const std::string base = bus + "\\" + ven + "&" + dev;
      if (!subsys.empty()) add(base + "&" + subsys);
      if (!rev.empty()) add(base + "&" + rev);
      add(base);
    }
  } else {
    // Shorter forms cut at "&", down to two parts ("USB\VID_046D&PID_C52B"): each is the ID up to
    // the end of its last part.
    for (std::size_t count = partEnds.size(); count >= 2; --count) {
      add(id.substr(0, firstSlash + 1 + partEnds[count - 1]));
    }
  }
  if (bus == "ACPI") add("*" + std::string(device));
  return ids;
}

}  // namespace dpinst
