#include "platform/ini_text.h"

#include <stdexcept>
#include <unordered_set>
#include <utility>

namespace platform {
namespace {

enum class LineKind { Other, Comment, Section, Key };

struct LineParts {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

constexpr bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// A value enclosed in one pair of the same quotation marks, double or single, is read without
// them; blanks inside the marks stay. A lone mark, or marks that do not match, are kept.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

constexpr unsigned char LowerAscii(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// FNV-1a over the lower-case bytes, finished with a multiply-xorshift so that the low bits
// used by the tables depend on every byte.
std::uint64_t HashIgnoringCase(std::string_view text, std::uint64_t seed = 0) {
  std::uint64_t hash = 0xcbf29ce484222325ULL ^ (seed * 0x9E3779B97F4A7C15ULL);
  for (const char c : text) {
    hash ^= LowerAscii(c);
    hash *= 0x100000001b3ULL;
  }
  hash ^= hash >> 29;
  hash *= 0xbf58476d1ce4e5b9ULL;
  hash ^= hash >> 32;
  return hash;
}

LineParts ClassifyLine(std::string_view line) {
  LineParts parts;
  std::size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  if (start == line.size()) return parts;
  if (line[start] == '[') {
    const std::size_t close = line.find(']', start + 1);
    if (close != std::string_view::npos) {
      parts.kind = LineKind::Section;
      parts.name = Trim(line.substr(start + 1, close - start - 1));
    }
    return parts;
  }
  if (line[start] == ';') {
    parts.kind = LineKind::Comment;
    return parts;
  }
  const std::size_t equals = line.find('=', start);
  if (equals == std::string_view::npos) return parts;
  // A line "=value" is a key too: its name is empty, and a look-up of the empty name finds it.
  parts.kind = LineKind::Key;
  parts.name = Trim(line.substr(start, equals - start));
  parts.value = Unquote(Trim(line.substr(equals + 1)));
  return parts;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::size_t BomSize(std::string_view text) {
  return text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
}

// Walks the lines of a text: each line ends at CR LF, LF or CR; a final line break adds no
// line. Calls visit(begin, size) for each line; stops early when visit returns false.
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
  const char* const data = text.data();
  const std::size_t size = text.size();
  std::size_t pos = 0;
  while (pos < size) {
    std::size_t end = pos;
    while (end < size && data[end] != '\n' && data[end] != '\r') ++end;
    if (!visit(pos, end - pos)) return;
    if (end == size) return;
    pos = end + ((data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ? 2 : 1);
  }
}

void CheckName(std::string_view name, bool isKey) {
  for (const char c : name) {
    if (c == '\r' || c == '\n') throw std::invalid_argument("INI name holds a line break");
    if (isKey && c == '=') throw std::invalid_argument("INI key name holds '=': " + std::string(name));
    if (!isKey && (c == '[' || c == ']')) {
      throw std::invalid_argument("INI section name holds a bracket: " + std::string(name));
    }
  }
  if (isKey) {
    if (name.empty()) throw std::invalid_argument("INI key name is empty");
    if (name.front() == ';' || name.front() == '[') {
      throw std::invalid_argument("INI key name starts with ';' or '[': " + std::string(name));
    }
  }
}

void CheckEntry(std::string_view section, std::string_view key, std::string_view value) {
  CheckName(section, false);
  CheckName(key, true);
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    throw std::invalid_argument("INI value holds a line break");
  }
}

void AppendKeyLine(std::string& out, std::string_view key, std::string_view value) {
  out.append(key);
  out += '=';
  out.append(value);
  out += "\r\n";
}

// Lower-case copy of a name, for sets of names seen.
std::string LowerName(std::string_view name) {
  std::string lower(name.size(), '\0');
  for (std::size_t i = 0; i < name.size(); ++i) lower[i] = static_cast<char>(LowerAscii(name[i]));
  return lower;
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) { return Parse(std::string(text)); }

IniDocument IniDocument::Parse(std::string&& text) {
  IniDocument document;
  document.text_ = std::move(text);
  document.Build();
  return document;
}

std::optional<std::string> IniDocument::Find(std::string_view text, std::string_view section,
                                             std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  const std::size_t bom = BomSize(text);
  bool inSection = false;
  std::optional<std::string> result;
  ForEachLine(text, [&](std::size_t begin, std::size_t size) {
    const std::size_t skip = begin == 0 ? bom : 0;
    const LineParts parts = ClassifyLine(text.substr(begin + skip, size - skip));
    if (parts.kind == LineKind::Section) {
      if (inSection) return false;  // only the first section of that name counts
      inSection = EqualIgnoringCase(parts.name, section);
    } else if (parts.kind == LineKind::Key && inSection && EqualIgnoringCase(parts.name, key)) {
      result = std::string(parts.value);
      return false;
    }
    return true;
  });
  return result;
}

std::string IniDocument::SetInText(std::string_view text, std::string_view section, std::string_view key,
                                   std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  CheckEntry(section, key, value);
  const std::size_t bom = BomSize(text);

  // First pass: where the value goes, and the size of the result.
  constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);
  std::size_t lineCount = 0;
  std::size_t total = 0;
  std::size_t keyLine = kNoLine;      // the key's line in the first matching section
  std::string_view keyName;           // its spelling in the file
  std::size_t insertAfter = kNoLine;  // that section's last key line, else its header
  bool inSection = false;
  bool sectionDone = false;
  ForEachLine(text, [&](std::size_t begin, std::size_t size) {
    const std::size_t line = lineCount++;
    total += size + 2;
    if (sectionDone) return true;
    const std::size_t skip = begin == 0 ? bom : 0;
    const LineParts parts = ClassifyLine(text.substr(begin + skip, size - skip));
    if (parts.kind == LineKind::Section) {
      if (inSection) {
        sectionDone = true;
      } else if (EqualIgnoringCase(parts.name, section)) {
        inSection = true;
        insertAfter = line;
      }
    } else if (parts.kind == LineKind::Key && inSection) {
      if (EqualIgnoringCase(parts.name, key)) {
        keyLine = line;
        keyName = parts.name;
        sectionDone = true;
      } else {
        insertAfter = line;
      }
    }
    return true;
  });

  std::string out;
  out.reserve(total + section.size() + 2 * key.size() + value.size() + 8);
  std::size_t line = 0;
  ForEachLine(text, [&](std::size_t begin, std::size_t size) {
    if (line == keyLine) {
      AppendKeyLine(out, keyName, value);
    } else {
      out.append(text.substr(begin, size));
      out += "\r\n";
      if (line == insertAfter && keyLine == kNoLine) AppendKeyLine(out, key, value);
    }
    ++line;
    return true;
  });
  if (insertAfter == kNoLine) {
    out += '[';
    out.append(section);
    out += "]\r\n";
    AppendKeyLine(out, key, value);
  }
  return out;
}

bool IniDocument::CanStore(std::string_view section, std::string_view key, std::string_view value) {
  try {
    CheckEntry(Trim(section), Trim(key), value);
    return true;
  } catch (const std::invalid_argument&) {
    return false;
  }
}

std::vector<std::string> IniDocument::SectionNamesOf(std::string_view text) {
  const std::size_t bom = BomSize(text);
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  ForEachLine(text, [&](std::size_t begin, std::size_t size) {
    const std::size_t skip = begin == 0 ? bom : 0;
    const LineParts parts = ClassifyLine(text.substr(begin + skip, size - skip));
    if (parts.kind == LineKind::Section && seen.insert(LowerName(parts.name)).second)
      names.emplace_back(parts.name);
    return true;
  });
  return names;
}

std::vector<std::string> IniDocument::KeysOf(std::string_view text, std::string_view section) {
  section = Trim(section);
  const std::size_t bom = BomSize(text);
  std::vector<std::string> keys;
  std::unordered_set<std::string> seen;
  bool inSection = false;
  ForEachLine(text, [&](std::size_t begin, std::size_t size) {
    const std::size_t skip = begin == 0 ? bom : 0;
    const LineParts parts = ClassifyLine(text.substr(begin + skip, size - skip));
    if (parts.kind == LineKind::Section) {
      if (inSection) return false;  // only the first section of that name counts
      inSection = EqualIgnoringCase(parts.name, section);
    } else if (parts.kind == LineKind::Key && inSection && !parts.name.empty() &&
               seen.insert(LowerName(parts.name)).second) {
      keys.emplace_back(parts.name);
    }
    return true;
  });
  return keys;
}

void IniDocument::Build() {
  const std::string_view text = text_;
  bomSize_ = BomSize(text);

  // Count first so the line table is allocated once at its final size.
  std::size_t count = 0;
  ForEachLine(text, [&](std::size_t, std::size_t) {
    ++count;
    return true;
  });
  const std::size_t limit = kAddedFlag - 1;
  lines_.reserve(count < limit ? count : limit);

  sections_.push_back(Section{});  // the lines before the first section
  std::uint32_t current = 0;
  ForEachLine(text, [&](std::size_t begin, std::size_t size) {
    if (lines_.size() + 1 == limit) {
      // Beyond two thousand million lines the rest stays one opaque line, kept as it is.
      size = text.size() - begin;
    }
    const auto index = static_cast<std::uint32_t>(lines_.size());
    lines_.push_back(Line{begin, size, kNone, current});
    if (index > 0) lines_[index - 1].next = index;
    const LineParts parts = ClassifyLine(LineText(index));
    if (parts.kind == LineKind::Section) {
      current = static_cast<std::uint32_t>(sections_.size());
      sections_.push_back(Section{index, index});
      lines_[index].section = current;
      IndexSection(current, parts.name);
    } else if (parts.kind == LineKind::Key && current != 0) {
      sections_[current].lastKey = index;
      IndexKey(index, current, parts.name);
    }
    return lines_.size() < limit;
  });
  tail_ = lines_.empty() ? kNone : static_cast<std::uint32_t>(lines_.size() - 1);
}

std::string_view IniDocument::LineText(std::uint32_t line) const {
  const Line& entry = lines_[line];
  if (entry.section & kAddedFlag) return std::string_view(added_).substr(entry.begin, entry.size);
  std::string_view text = std::string_view(text_).substr(entry.begin, entry.size);
  if (line == 0) text.remove_prefix(bomSize_ < text.size() ? bomSize_ : text.size());
  return text;
}

std::string_view IniDocument::SectionName(std::uint32_t section) const {
  return ClassifyLine(LineText(sections_[section].header)).name;
}

namespace {

constexpr std::uint64_t SlotOf(std::uint32_t tag, std::uint32_t value) {
  return (static_cast<std::uint64_t>(tag) << 32) | (static_cast<std::uint64_t>(value) + 1);
}
constexpr std::uint32_t SlotTag(std::uint64_t slot) { return static_cast<std::uint32_t>(slot >> 32); }
constexpr std::uint32_t SlotValue(std::uint64_t slot) { return static_cast<std::uint32_t>(slot) - 1; }

// Grow at three quarters full; the hash tags keep probing cheap at that load.
bool NeedsGrowth(std::size_t used, std::size_t capacity) { return (used + 1) * 4 > capacity * 3; }

}  // namespace

std::uint32_t IniDocument::FindSection(std::string_view name, LookupCost* cost) const {
  if (sectionSlots_.empty()) return kNone;
  const auto tag = static_cast<std::uint32_t>(HashIgnoringCase(name));
  const std::size_t mask = sectionSlots_.size() - 1;
  for (std::size_t slot = tag & mask;; slot = (slot + 1) & mask) {
    const std::uint64_t entry = sectionSlots_[slot];
    if (cost != nullptr) ++cost->slots;
    if (entry == 0) return kNone;
    if (SlotTag(entry) != tag) continue;
    if (cost != nullptr) ++cost->comparisons;
    if (EqualIgnoringCase(SectionName(SlotValue(entry)), name)) return SlotValue(entry);
  }
}

std::uint32_t IniDocument::FindKey(std::uint32_t section, std::string_view key, LookupCost* cost) const {
  if (keySlots_.empty()) return kNone;
  const auto tag = static_cast<std::uint32_t>(HashIgnoringCase(key, section));
  const std::size_t mask = keySlots_.size() - 1;
  for (std::size_t slot = tag & mask;; slot = (slot + 1) & mask) {
    const std::uint64_t entry = keySlots_[slot];
    if (cost != nullptr) ++cost->slots;
    if (entry == 0) return kNone;
    if (SlotTag(entry) != tag) continue;
    const std::uint32_t line = SlotValue(entry);
    if ((lines_[line].section & ~kAddedFlag) != section) continue;
    if (cost != nullptr) ++cost->comparisons;
    if (EqualIgnoringCase(ClassifyLine(LineText(line)).name, key)) return line;
  }
}

void IniDocument::IndexSection(std::uint32_t section, std::string_view name) {
  if (NeedsGrowth(namedSections_, sectionSlots_.size())) Grow(sectionSlots_);
  const auto tag = static_cast<std::uint32_t>(HashIgnoringCase(name));
  const std::size_t mask = sectionSlots_.size() - 1;
  std::size_t slot = tag & mask;
  for (; sectionSlots_[slot] != 0; slot = (slot + 1) & mask) {
    const std::uint64_t entry = sectionSlots_[slot];
    // A later duplicate: the first one counts.
    if (SlotTag(entry) == tag && EqualIgnoringCase(SectionName(SlotValue(entry)), name)) return;
  }
  sectionSlots_[slot] = SlotOf(tag, section);
  ++namedSections_;
}

void IniDocument::IndexKey(std::uint32_t line, std::uint32_t section, std::string_view name) {
  if (NeedsGrowth(keyCount_, keySlots_.size())) Grow(keySlots_);
  const auto tag = static_cast<std::uint32_t>(HashIgnoringCase(name, section));
  const std::size_t mask = keySlots_.size() - 1;
  std::size_t slot = tag & mask;
  for (; keySlots_[slot] != 0; slot = (slot + 1) & mask) {
    const std::uint64_t entry = keySlots_[slot];
    if (SlotTag(entry) != tag) continue;
    const std::uint32_t other = SlotValue(entry);
    // A later duplicate: the first one counts.
    if ((lines_[other].section & ~kAddedFlag) == section &&
        EqualIgnoringCase(ClassifyLine(LineText(other)).name, name)) {
      return;
    }
  }
  keySlots_[slot] = SlotOf(tag, line);
  ++keyCount_;
}

void IniDocument::Grow(std::vector<std::uint64_t>& slots) {
  std::vector<std::uint64_t> old = std::move(slots);
  slots.assign(old.empty() ? 16 : old.size() * 2, 0);
  const std::size_t mask = slots.size() - 1;
  for (const std::uint64_t entry : old) {
    if (entry == 0) continue;
    std::size_t slot = SlotTag(entry) & mask;
    while (slots[slot] != 0) slot = (slot + 1) & mask;
    slots[slot] = entry;
  }
}

std::uint32_t IniDocument::AppendLine(std::string_view text, std::uint32_t section, std::uint32_t after) {
  if (lines_.size() >= kAddedFlag - 1) throw std::length_error("INI document has too many lines");
  const auto index = static_cast<std::uint32_t>(lines_.size());
  Line line{added_.size(), text.size(), kNone, section | kAddedFlag};
  added_.append(text);
  if (after != kNone) {
    line.next = lines_[after].next;
    lines_[after].next = index;
  }
  lines_.push_back(line);
  if (after == tail_) tail_ = index;
  return index;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  const std::uint32_t sectionIndex = FindSection(Trim(section));
  if (sectionIndex == kNone) return std::nullopt;
  const std::uint32_t line = FindKey(sectionIndex, Trim(key));
  if (line == kNone) return std::nullopt;
  return std::string(ClassifyLine(LineText(line)).value);
}

IniDocument::LookupCost IniDocument::CostOfGet(std::string_view section, std::string_view key) const {
  LookupCost cost;
  const std::uint32_t sectionIndex = FindSection(Trim(section), &cost);
  if (sectionIndex != kNone) FindKey(sectionIndex, Trim(key), &cost);
  return cost;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  CheckEntry(section, key, value);

  std::uint32_t sectionIndex = FindSection(section);
  if (sectionIndex != kNone) {
    const std::uint32_t line = FindKey(sectionIndex, key);
    if (line != kNone) {
      // Rewrite the line in place; the key keeps the spelling it has in the file.
      std::string text(ClassifyLine(LineText(line)).name);
      text += '=';
      text.append(value);
      Line& entry = lines_[line];
      entry.begin = added_.size();
      entry.size = text.size();
      entry.section |= kAddedFlag;
      added_ += text;
      return;
    }
  } else {
    sectionIndex = static_cast<std::uint32_t>(sections_.size());
    std::string header = "[";
    header.append(section);
    header += ']';
    const std::uint32_t headerLine = AppendLine(header, sectionIndex, tail_);
    sections_.push_back(Section{headerLine, headerLine});
    IndexSection(sectionIndex, section);
  }
  std::string text(key);
  text += '=';
  text.append(value);
  const std::uint32_t line = AppendLine(text, sectionIndex, sections_[sectionIndex].lastKey);
  sections_[sectionIndex].lastKey = line;
  IndexKey(line, sectionIndex, key);
}

std::vector<std::string> IniDocument::SectionNames() const {
  std::vector<std::string> names;
  for (std::uint32_t section = 1; section < sections_.size(); ++section) {
    const std::string_view name = SectionName(section);
    if (FindSection(name) == section) names.emplace_back(name);
  }
  return names;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  const std::uint32_t sectionIndex = FindSection(Trim(section));
  if (sectionIndex == kNone) return keys;
  for (std::uint32_t line = lines_[sections_[sectionIndex].header].next;
       line != kNone && (lines_[line].section & ~kAddedFlag) == sectionIndex; line = lines_[line].next) {
    const LineParts parts = ClassifyLine(LineText(line));
    if (parts.kind == LineKind::Key && !parts.name.empty() && FindKey(sectionIndex, parts.name) == line)
      keys.emplace_back(parts.name);
  }
  return keys;
}

std::string IniDocument::ToText() const {
  std::size_t total = bomSize_;
  for (const Line& line : lines_) total += line.size + 2;
  std::string text;
  text.reserve(total);
  for (std::uint32_t line = lines_.empty() ? kNone : 0; line != kNone; line = lines_[line].next) {
    if (line == 0) text.append(text_, 0, bomSize_ < text_.size() ? bomSize_ : text_.size());
    text.append(LineText(line));
    text += "\r\n";
  }
  return text;
}

}  // namespace platform
