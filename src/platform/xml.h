// A small XML document model: elements with a name, ordered attributes and child elements,
// saved to and loaded from files. Enough for the device tree's XML file; text content,
// comments and processing instructions of a loaded file are skipped.
//
// Loading treats the file as untrusted: documents with a document type or entity
// declarations, nesting deeper than the limit, oversized attribute values or oversized files
// are refused with an XmlError before any of it is used.
// One engine on every platform, the program's own reader and writer below: the file functions
// and the text functions accept and refuse the same documents, and the writer refuses, before
// writing, a document that the reader would refuse.
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
// XmlError, before anything is written, for a document the reader would refuse with the
// default limits (see CheckWritable; also a written text larger than the file limit).
void SaveDocument(const Element& root, const std::string& path);
// The text SaveDocument writes, with the same checks.
std::string SaveDocumentText(const Element& root);

// Reads a file's document element with its attributes and child elements. XmlError for a
// missing or unreadable file, malformed XML and anything outside the limits.
Element LoadDocument(const std::string& path, const Limits& limits = {});
// LoadDocument on a text held in memory.
Element LoadDocumentText(std::string_view text, const Limits& limits = {});

// ---- the pieces the file functions are made of ----

// True for an XML name as the reader and the writer take it: a letter (ASCII), "_", ":" or any
// byte from 0x80 up (non-ASCII UTF-8), then any of those, digits, "-" and ".".
bool IsXmlName(std::string_view name);

// The most bytes the writer uses for an attribute value (with its escapes).
std::size_t WrittenValueSize(std::string_view value);

// Refuses with an XmlError a document that could not be read back: an element or attribute
// name that is no XML name, an attribute given twice in one element, a value holding a zero
// character or longer, written, than the attribute limit, nesting deeper than the limit.
void CheckWritable(const Element& root, const Limits& limits = {});
// Refuses with an XmlError a written text of `size` bytes that is larger than the file limit.
void CheckWrittenSize(std::size_t size, const Limits& limits = {});

// Refuses document text that no loader should parse: larger than the file limit, not
// UTF-8 (a UTF-16/32 byte order mark or a zero byte), holding a document type or other "<!"
// declaration, nesting deeper than the limit, or an attribute value longer than the limit.
// Only scans; well-formedness is the parser's matter.
void CheckDocumentText(std::string_view text, const Limits& limits);

// The program's own writer and reader for documents of elements and attributes. The writer
// runs CheckWritable first, escapes & < > " and control characters (as character
// references), and adds no declaration and no layout. The reader runs CheckDocumentText first,
// knows the five predefined entities and character references (in attribute values and in
// text), skips the XML declaration, comments, processing instructions, text and CDATA, and
// refuses everything else with an XmlError naming the offset: names that are no XML names,
// unknown entities, anything but blanks, comments and processing instructions outside the
// document element.
std::string WriteDocumentText(const Element& root);
Element ReadDocumentText(std::string_view text, const Limits& limits = {});

}  // namespace platform::xml
