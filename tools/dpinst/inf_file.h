// Reading an INF file the way the driver installer reads it: sections, entries with fields,
// %string% tokens from the [Strings] section, and the hardware IDs of its models sections.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace dpinst {

struct InfEntry {
  std::string key;                  // empty for a line without "="
  std::vector<std::string> fields;  // the value split at commas, blanks and quotes removed
};

struct InfSection {
  std::string name;
  std::vector<InfEntry> entries;
};

// One hardware ID named by a model line, with the line's description.
struct InfModel {
  std::string description;
  std::string hardwareId;
};

class InfFile {
 public:
  // Parses INF text (ANSI, UTF-8 or UTF-16 with byte-order mark).
  static InfFile Parse(const std::string& bytes);

  // The entries of a section, letter case ignored; null when it is missing.
  const InfSection* Section(const std::string& name) const;
  // The first value of a key in a section, with %string% tokens replaced; empty when missing.
  std::string Value(const std::string& section, const std::string& key) const;
  // Replaces %token% by its value from [Strings] ("%%" gives "%").
  std::string Expand(const std::string& text) const;
  // Every hardware or compatible ID of every models section the [Manufacturer] section names.
  std::vector<InfModel> Models() const;
  // Every section as the file gives it, in file order (a name may come more than once).
  const std::vector<InfSection>& Sections() const { return sections_; }

 private:
  // Built once after parsing, so every lookup costs the length of what it looks up.
  void Index();

  std::vector<InfSection> sections_;
  // Upper-case section name -> the sections of that name, in file order.
  std::unordered_map<std::string, std::vector<std::size_t>> sectionsByName_;
  // Upper-case string name -> its value: [Strings] first, then [Strings.<language>], first wins.
  std::unordered_map<std::string, std::string> strings_;
};

// The text of INF bytes as UTF-8: a UTF-16 file (by byte-order mark, or little-endian text
// without one) is converted; a UTF-8 byte-order mark is dropped.
std::string InfText(const std::string& bytes);

// The hardware IDs an installed Windows would give a device with this instance identifier, in
// upper case: "PCI\VEN_1AF4&DEV_1041&SUBSYS_10411AF4&REV_01\3&..." gives the full ID and its
// shorter PCI forms, other buses their forms cut at "&", ACPI devices also "*<id>".
std::vector<std::string> HardwareIdsOf(const std::string& instanceId);

std::string Upper(std::string text);

}  // namespace dpinst
