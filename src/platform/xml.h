// A small XML document model: elements with a name, ordered attributes and child elements,
// saved to and loaded from files. Enough for the device tree's XML file; text content,
// comments and processing instructions of a loaded file are skipped.
//
// Loading treats the file as untrusted: documents with a document type or entity
// declarations, nesting deeper than the limit, oversized attribute values or oversized files
// are refused with an XmlError before any of it is used.
// Linux: pugixml. Windows: the program's own reader and writer below.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::xml {

struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;  // in document order
  std::vector<Element> children;

  Element() = default;
  explicit Element(std::string elementName) : name(std::move(elementName)) {}

  // Appends a child element and returns it (valid until the next child is appended here).
  Element& AddChild(std::string childName);
  // Replaces the value of an existing attribute, or appends the attribute.
  void SetAttribute(const std::string& attributeName, std::string value);
  // Null when the element has no such attribute.
  const std::string* FindAttribute(std::string_view attributeName) const;
};

struct Limits {
  std::size_t maxDepth = 1000;                       // nesting; the document element is at depth 1
  std::size_t maxAttributeBytes = 1024 * 1024;       // one attribute value
  std::uint64_t maxFileBytes = 64ull * 1024 * 1024;  // the whole file
};

class XmlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the document whose document element is `root` to a file, replacing it (through a
// temporary file, so a failed write leaves the old file). platform::FileError on failure;
// XmlError, before anything is written, for a value holding a zero character.
void SaveDocument(const Element& root, const std::string& path);

// Reads a file's document element with its attributes and child elements. XmlError for a
// missing or unreadable file, malformed XML and anything outside the limits.
Element LoadDocument(const std::string& path, const Limits& limits = {});

// ---- portable pieces, shared by the implementations ----

// Refuses document text that no loader should parse: larger than the file limit, not
// UTF-8 (a UTF-16/32 byte order mark or a zero byte), holding a document type or other "<!"
// declaration, nesting deeper than the limit, or an attribute value longer than the limit.
// Only scans; well-formedness is the parser's matter.
void CheckDocumentText(std::string_view text, const Limits& limits);

// The program's own writer and reader for documents of elements and attributes. The writer
// escapes & < > " and control characters (as character references), adds no declaration and
// no layout, and refuses a value holding a zero character. The reader runs CheckDocumentText first, knows the
// five predefined entities and character references, skips the XML declaration, comments, processing
// instructions, text and CDATA, and refuses everything else with an XmlError naming the offset.
std::string WriteDocumentText(const Element& root);
Element ReadDocumentText(std::string_view text, const Limits& limits = {});

}  // namespace platform::xml
