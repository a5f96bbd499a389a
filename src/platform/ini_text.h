// An INI text held in memory with every line kept in place, so a document can be read,
// changed and written back without losing comments, unknown lines or binary garbage.
//
// Rules (those of the Windows profile functions):
// - a line whose first non-blank character is '[' and that holds a ']' later starts a section;
//   its name is the text between them, blanks around it ignored;
// - a line whose first non-blank character is ';' is a comment;
// - any other line holding '=' is a key line: name before the first '=', value after it,
//   blanks around both ignored; a line without '=' is kept but is no key;
// - a line "=value" is a key with an empty name: looking up the empty name finds it, but name
//   lists leave it out (a list of names has no place for an empty one) and Set refuses it;
// - a value enclosed in one pair of the same quotation marks, double or single, is read
//   without them (`path="D:\My Packs\"` reads `D:\My Packs\`); blanks inside the marks stay;
// - section and key names are matched ignoring ASCII letter case; for duplicate sections
//   only the first one counts, and within it the first line of a key;
// - key lines before the first section belong to no section and are never found.
// Lines end at CR LF, LF or CR. A UTF-8 byte order mark before the first line is ignored
// for matching and kept in the text.
//
// Lookups go through hash indexes built once by Parse and kept up to date by Set, so a
// parsed language file answers many thousands of Get calls cheaply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class IniDocument {
 public:
  IniDocument() = default;

  // Never throws on content; any bytes are accepted.
  static IniDocument Parse(std::string_view text);
  static IniDocument Parse(std::string&& text);  // takes the text over instead of copying it
  static IniDocument Parse(const char* text) { return Parse(std::string_view(text)); }

  // One look-up straight over a text, without building a document: the same answer as
  // Parse(text).Get(section, key), with no memory beyond the result.
  static std::optional<std::string> Find(std::string_view text, std::string_view section,
                                         std::string_view key);

  // Parse(text) followed by Set(section, key, value) and ToText(), done in one pass over the
  // text with no memory beyond the result. Throws like Set.
  static std::string SetInText(std::string_view text, std::string_view section, std::string_view key,
                               std::string_view value);
  // Parse(text).SectionNames() and Parse(text).Keys(section), straight over the text.
  static std::vector<std::string> SectionNamesOf(std::string_view text);
  static std::vector<std::string> KeysOf(std::string_view text, std::string_view section);

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // The work Get(section, key) does: index slots looked at and names compared in full (both
  // indexes together). It does not depend on the machine, so tests can hold lookups to a few
  // slots and one comparison per name however long the file.
  struct LookupCost {
    std::size_t slots = 0;
    std::size_t comparisons = 0;
  };
  LookupCost CostOfGet(std::string_view section, std::string_view key) const;

  // Replaces the first matching key line in place (the key keeps its spelling), or adds the
  // key after the last key line of the first matching section (after its header when it has
  // none), or appends a new section at the end. Names are written without surrounding blanks.
  // Blanks around the value, and one pair of quotation marks enclosing it, are written but, as
  // around any value, not read back.
  // Throws std::invalid_argument for a name or value that would not read back as written:
  // a line break anywhere, an empty key, '=' in a key, a key starting with ';' or '[',
  // a '[' or ']' in a section name.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // True when Set would take these names and value (see Set for what it refuses).
  static bool CanStore(std::string_view section, std::string_view key, std::string_view value);

  // Section names in file order, each once (spelled as at its first occurrence).
  std::vector<std::string> SectionNames() const;
  // Key names of the first matching section in file order, each once; the empty name is left out.
  std::vector<std::string> Keys(std::string_view section) const;

  // Every line followed by CR LF; lines that are not changed come out byte for byte.
  std::string ToText() const;

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  static constexpr std::uint32_t kAddedFlag = 0x80000000u;  // the line's text lives in added_

  struct Line {
    std::size_t begin = 0;  // offset in text_ or added_
    std::size_t size = 0;
    std::uint32_t next = kNone;  // following line in document order
    std::uint32_t section = 0;   // owning section ordinal, plus kAddedFlag
  };
  struct Section {
    std::uint32_t header = kNone;   // header line (kNone for the lines before any section)
    std::uint32_t lastKey = kNone;  // where Set adds a new key: last key line, else the header
  };

  void Build();
  std::string_view LineText(std::uint32_t line) const;
  std::string_view SectionName(std::uint32_t section) const;
  std::uint32_t FindSection(std::string_view name, LookupCost* cost = nullptr) const;
  std::uint32_t FindKey(std::uint32_t section, std::string_view key, LookupCost* cost = nullptr) const;
  std::uint32_t AppendLine(std::string_view text, std::uint32_t section, std::uint32_t after);
  void IndexSection(std::uint32_t section, std::string_view name);
  void IndexKey(std::uint32_t line, std::uint32_t section, std::string_view name);
  static void Grow(std::vector<std::uint64_t>& slots);

  std::string text_;   // the parsed text
  std::string added_;  // texts of lines written by Set
  std::vector<Line> lines_;
  std::vector<Section> sections_;  // [0]: the lines before the first section
  // Open addressing with linear probing. A slot holds the low 32 bits of the name's hash in
  // its upper half and the section ordinal (or key line) + 1 in its lower half; 0 is empty.
  std::vector<std::uint64_t> sectionSlots_;
  std::vector<std::uint64_t> keySlots_;
  std::size_t keyCount_ = 0;
  std::size_t namedSections_ = 0;
  std::uint32_t tail_ = kNone;
  std::size_t bomSize_ = 0;
};

}  // namespace platform
