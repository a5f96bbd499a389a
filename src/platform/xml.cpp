#include "platform/xml.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace platform::xml {

Element& Element::AddChild(std::string childName) {
  children.emplace_back(std::move(childName));
  return children.back();
}

void Element::SetAttribute(const std::string& attributeName, std::string value) {
  for (auto& [key, text] : attributes) {
    if (key == attributeName) {
      text = std::move(value);
      return;
    }
  }
  attributes.emplace_back(attributeName, std::move(value));
}

const std::string* Element::FindAttribute(std::string_view attributeName) const {
  for (const auto& [key, text] : attributes) {
    if (key == attributeName) return &text;
  }
  return nullptr;
}

namespace {

[[noreturn]] void Fail(const std::string& message, std::size_t offset) {
  throw XmlError(message + " (at offset " + std::to_string(offset) + ")");
}

bool StartsAt(std::string_view text, std::size_t pos, std::string_view part) {
  return text.size() - std::min(pos, text.size()) >= part.size() && text.compare(pos, part.size(), part) == 0;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Resolves the reference that starts with the "&" at raw[i] and appends its character;
// returns the offset of its ";". `offset` is raw's place in the document, for the error.
std::size_t DecodeReference(std::string_view raw, std::size_t i, std::size_t offset, std::string& out) {
  const auto semicolon = raw.find(';', i);
  if (semicolon == std::string_view::npos || semicolon - i > 12) Fail("malformed reference", offset + i);
  const std::string_view entity = raw.substr(i + 1, semicolon - i - 1);
  if (entity == "lt") {
    out.push_back('<');
  } else if (entity == "gt") {
    out.push_back('>');
  } else if (entity == "amp") {
    out.push_back('&');
  } else if (entity == "quot") {
    out.push_back('"');
  } else if (entity == "apos") {
    out.push_back('\'');
  } else if (entity.size() >= 2 && entity[0] == '#') {
    const bool hex = entity[1] == 'x';
    const std::string_view digits = entity.substr(hex ? 2 : 1);
    if (digits.empty()) Fail("malformed character reference", offset + i);
    std::uint32_t code = 0;
    for (const char d : digits) {
      std::uint32_t value = 0;
      if (d >= '0' && d <= '9') {
        value = static_cast<std::uint32_t>(d - '0');
      } else if (hex && d >= 'a' && d <= 'f') {
        value = static_cast<std::uint32_t>(d - 'a' + 10);
      } else if (hex && d >= 'A' && d <= 'F') {
        value = static_cast<std::uint32_t>(d - 'A' + 10);
      } else {
        Fail("malformed character reference", offset + i);
      }
      code = code * (hex ? 16u : 10u) + value;
      if (code > 0x10FFFF) Fail("character reference out of range", offset + i);
    }
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) Fail("invalid character reference", offset + i);
    AppendUtf8(out, code);
  } else {
    Fail("unknown entity \"&" + std::string(entity) + ";\"", offset + i);
  }
  return semicolon;
}

// An attribute value as written between its quotes, with references resolved and white
// space normalized to blanks as XML requires.
std::string DecodeAttribute(std::string_view raw, std::size_t offset) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '<') Fail("\"<\" in an attribute value", offset + i);
    if (c == '\r') {
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      out.push_back(' ');
      continue;
    }
    if (c == '\n' || c == '\t') {
      out.push_back(' ');
      continue;
    }
    if (c != '&') {
      out.push_back(c);
      continue;
    }
    i = DecodeReference(raw, i, offset, out);
  }
  return out;
}

// Text content is skipped, but its references must be known ones, as in attribute values.
void CheckTextReferences(std::string_view raw, std::size_t offset) {
  std::string scratch;
  for (std::size_t i = raw.find('&'); i != std::string_view::npos; i = raw.find('&', i + 1)) {
    scratch.clear();
    i = DecodeReference(raw, i, offset, scratch);
  }
}

bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// Bytes that the writers turn into a reference, and the longest reference either uses.
std::size_t WrittenSize(char c) {
  switch (c) {
    case '&':
      return 5;  // &amp;
    case '<':
    case '>':
      return 4;  // &lt; &gt;
    case '"':
      return 6;  // &quot;
    default:
      return static_cast<unsigned char>(c) < 0x20 ? 5 : 1;  // &#31;
  }
}

void AppendEscaped(std::string& out, std::string_view value) {
  for (const char c : value) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "&#" + std::to_string(static_cast<unsigned char>(c)) + ";";
        } else {
          out.push_back(c);
        }
    }
  }
}

class Reader {
 public:
  Reader(std::string_view text, const Limits& limits) : text_(text), limits_(limits) {}

  Element Read() {
    if (StartsAt(text_, 0, "\xEF\xBB\xBF")) pos_ = 3;
    Element root;
    bool haveRoot = false;
    std::vector<Element*> open;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c != '<') {
        const auto next = std::min(text_.find('<', pos_), text_.size());
        const std::string_view raw = text_.substr(pos_, next - pos_);
        if (open.empty()) {
          for (std::size_t i = 0; i < raw.size(); ++i) {
            if (!IsSpace(raw[i])) Fail("text outside the document element", pos_ + i);
          }
        } else {
          CheckTextReferences(raw, pos_);
        }
        pos_ = next;
        continue;
      }
      if (StartsAt(text_, pos_, "<!--")) {
        SkipPast("-->", pos_ + 4, "unterminated comment");
      } else if (StartsAt(text_, pos_, "<?")) {
        // A processing instruction names its target right after "<?", then ends or goes on
        // after a blank.
        const std::size_t start = pos_;
        pos_ += 2;
        ReadName();
        if (!StartsAt(text_, pos_, "?>") && (pos_ >= text_.size() || !IsSpace(text_[pos_])))
          Fail("malformed processing instruction", start);
        SkipPast("?>", pos_, "unterminated processing instruction");
      } else if (StartsAt(text_, pos_, "<![CDATA[")) {
        if (open.empty()) Fail("CDATA outside the document element", pos_);
        SkipPast("]]>", pos_ + 9, "unterminated CDATA section");
      } else if (StartsAt(text_, pos_, "<!")) {
        Fail("document type and entity declarations are not accepted", pos_);
      } else if (StartsAt(text_, pos_, "</")) {
        const std::size_t start = pos_;
        pos_ += 2;
        const std::string name = ReadName();
        SkipSpace();
        Expect('>');
        if (open.empty() || open.back()->name != name) Fail("unexpected end tag </" + name + ">", start);
        open.pop_back();
      } else {
        if (open.empty() && haveRoot) Fail("a second document element", pos_);
        if (open.size() + 1 > limits_.maxDepth) Fail("elements nested deeper than the limit", pos_);
        ++pos_;
        std::string name = ReadName();
        Element* element = nullptr;
        if (open.empty()) {
          root.name = std::move(name);
          element = &root;
          haveRoot = true;
        } else {
          element = &open.back()->AddChild(std::move(name));
        }
        if (ReadAttributes(*element)) open.push_back(element);
      }
    }
    if (!haveRoot) Fail("no document element", pos_);
    if (!open.empty()) Fail("element <" + open.back()->name + "> is not closed", pos_);
    return root;
  }

 private:
  void SkipPast(std::string_view end, std::size_t from, const char* error) {
    const auto found = text_.find(end, from);
    if (found == std::string_view::npos) Fail(error, pos_);
    pos_ = found + end.size();
  }

  bool SkipSpace() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    return pos_ > start;
  }

  void Expect(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) Fail(std::string("expected \"") + c + "\"", pos_);
    ++pos_;
  }

  // An XML name (IsXmlName); what follows it is the caller's matter.
  std::string ReadName() {
    const std::size_t start = pos_;
    if (pos_ >= text_.size() || !IsNameStart(text_[pos_])) Fail("invalid name", start);
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  // Reads the attributes up to the end of the start tag; true when the element has content
  // (ends with ">"), false when it is empty ("/>").
  bool ReadAttributes(Element& element) {
    while (true) {
      const bool spaced = SkipSpace();
      if (StartsAt(text_, pos_, "/>")) {
        pos_ += 2;
        return false;
      }
      if (StartsAt(text_, pos_, ">")) {
        ++pos_;
        return true;
      }
      if (pos_ >= text_.size()) Fail("unterminated start tag <" + element.name + ">", pos_);
      if (!spaced) Fail("expected a blank before the attribute", pos_);
      const std::size_t start = pos_;
      std::string name = ReadName();
      SkipSpace();
      Expect('=');
      SkipSpace();
      if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\''))
        Fail("expected a quoted value", pos_);
      const char quote = text_[pos_];
      const auto end = text_.find(quote, pos_ + 1);
      if (end == std::string_view::npos) Fail("unterminated attribute value", pos_);
      if (end - pos_ - 1 > limits_.maxAttributeBytes) Fail("attribute value larger than the limit", pos_);
      std::string value = DecodeAttribute(text_.substr(pos_ + 1, end - pos_ - 1), pos_ + 1);
      pos_ = end + 1;
      if (element.FindAttribute(name) != nullptr) Fail("attribute \"" + name + "\" given twice", start);
      element.attributes.emplace_back(std::move(name), std::move(value));
    }
  }

  std::string_view text_;
  const Limits& limits_;
  std::size_t pos_ = 0;
};

}  // namespace

bool IsXmlName(std::string_view name) {
  return !name.empty() && IsNameStart(name.front()) && std::all_of(name.begin(), name.end(), IsNameChar);
}

std::size_t WrittenValueSize(std::string_view value) {
  std::size_t size = 0;
  for (const char c : value) size += WrittenSize(c);
  return size;
}

void CheckWritable(const Element& root, const Limits& limits) {
  const auto refuse = [](const std::string& what) {
    throw XmlError("The XML document cannot be written: " + what);
  };
  std::vector<std::pair<const Element*, std::size_t>> pending{{&root, 1}};
  while (!pending.empty()) {
    const auto [element, depth] = pending.back();
    pending.pop_back();
    if (!IsXmlName(element->name)) refuse("\"" + element->name + "\" is not an XML name for an element");
    if (depth > limits.maxDepth) refuse("elements nested deeper than " + std::to_string(limits.maxDepth));
    for (std::size_t i = 0; i < element->attributes.size(); ++i) {
      const auto& [name, value] = element->attributes[i];
      if (!IsXmlName(name)) refuse("\"" + name + "\" is not an XML name for an attribute");
      for (std::size_t j = 0; j < i; ++j) {
        if (element->attributes[j].first == name) refuse("attribute \"" + name + "\" given twice");
      }
      if (value.find('\0') != std::string::npos)
        refuse("a value cannot hold a zero character (attribute " + name + ")");
      const std::size_t written = WrittenValueSize(value);
      if (written > limits.maxAttributeBytes) {
        refuse("the value of attribute \"" + name + "\" takes " + std::to_string(written) +
               " bytes written, more than the " + std::to_string(limits.maxAttributeBytes) +
               " bytes a reader accepts");
      }
    }
    for (const auto& child : element->children) pending.emplace_back(&child, depth + 1);
  }
}

void CheckWrittenSize(std::size_t size, const Limits& limits) {
  if (size > limits.maxFileBytes) {
    throw XmlError("The XML document cannot be written: it takes " + std::to_string(size) +
                   " bytes, more than the " + std::to_string(limits.maxFileBytes) +
                   " bytes a reader accepts");
  }
}

void CheckDocumentText(std::string_view text, const Limits& limits) {
  if (text.size() > limits.maxFileBytes) {
    throw XmlError("XML document larger than " + std::to_string(limits.maxFileBytes) + " bytes");
  }
  if (StartsAt(text, 0, "\xFF\xFE") || StartsAt(text, 0, "\xFE\xFF") ||
      text.find('\0') != std::string_view::npos) {
    throw XmlError("XML document is not UTF-8 text");
  }
  std::size_t depth = 0;
  std::size_t pos = 0;
  while ((pos = text.find('<', pos)) != std::string_view::npos) {
    if (StartsAt(text, pos, "<!--")) {
      const auto end = text.find("-->", pos + 4);
      if (end == std::string_view::npos) Fail("unterminated comment", pos);
      pos = end + 3;
    } else if (StartsAt(text, pos, "<![CDATA[")) {
      const auto end = text.find("]]>", pos + 9);
      if (end == std::string_view::npos) Fail("unterminated CDATA section", pos);
      pos = end + 3;
    } else if (StartsAt(text, pos, "<?")) {
      const auto end = text.find("?>", pos + 2);
      if (end == std::string_view::npos) Fail("unterminated processing instruction", pos);
      pos = end + 2;
    } else if (StartsAt(text, pos, "<!")) {
      Fail("document type and entity declarations are not accepted", pos);
    } else if (StartsAt(text, pos, "</")) {
      if (depth > 0) --depth;
      pos += 2;
    } else {
      // A start tag: find its end outside quoted values, measuring each value.
      std::size_t i = pos + 1;
      char quote = 0;
      std::size_t valueStart = 0;
      for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
          if (c == quote) {
            if (i - valueStart > limits.maxAttributeBytes)
              Fail("attribute value larger than the limit", valueStart);
            quote = 0;
          }
        } else if (c == '"' || c == '\'') {
          quote = c;
          valueStart = i + 1;
        } else if (c == '>' || c == '<') {
          break;
        }
      }
      if (quote != 0 && text.size() - valueStart > limits.maxAttributeBytes) {
        Fail("attribute value larger than the limit", valueStart);
      }
      if (i >= text.size() || text[i] != '>') Fail("unterminated start tag", pos);
      // An empty element ("<a/>") sits one level down without opening one.
      if (depth + 1 > limits.maxDepth) Fail("elements nested deeper than the limit", pos);
      if (text[i - 1] != '/') ++depth;
      pos = i + 1;
    }
  }
}

std::string WriteDocumentText(const Element& root) {
  const Limits limits;
  CheckWritable(root, limits);
  std::string out;
  // Elements whose start tag is written, with the index of the next child to write.
  std::vector<std::pair<const Element*, std::size_t>> open;
  const auto start = [&](const Element& element) {
    out += '<';
    out += element.name;
    for (const auto& [name, value] : element.attributes) {
      out += ' ';
      out += name;
      out += "=\"";
      AppendEscaped(out, value);
      out += '"';
    }
    if (element.children.empty()) {
      out += "/>";
    } else {
      out += '>';
      open.emplace_back(&element, 0);
    }
  };
  start(root);
  while (!open.empty()) {
    auto& [element, next] = open.back();
    if (next < element->children.size()) {
      const Element& child = element->children[next++];
      start(child);  // may grow `open`; the references above are not used after this
      continue;
    }
    out += "</";
    out += element->name;
    out += '>';
    open.pop_back();
  }
  CheckWrittenSize(out.size(), limits);
  return out;
}

Element ReadDocumentText(std::string_view text, const Limits& limits) {
  CheckDocumentText(text, limits);
  return Reader(text, limits).Read();
}

// ---- files: the same engine on every platform ----

std::string SaveDocumentText(const Element& root) { return WriteDocumentText(root); }

void SaveDocument(const Element& root, const std::string& path) {
  WriteFileAtomically(path, WriteDocumentText(root));
}

Element LoadDocumentText(std::string_view text, const Limits& limits) {
  return ReadDocumentText(text, limits);
}

Element LoadDocument(const std::string& path, const Limits& limits) {
  const auto size = FileSize(path);
  if (size < 0) throw XmlError("Cannot read XML file " + path);
  if (static_cast<std::uint64_t>(size) > limits.maxFileBytes) {
    throw XmlError("XML file " + path + " is larger than " + std::to_string(limits.maxFileBytes) + " bytes");
  }
  std::string text;
  try {
    text = ReadWholeFile(path);
  } catch (const FileError& e) {
    throw XmlError("Cannot read XML file " + path + ": " + e.what());
  }
  try {
    return ReadDocumentText(text, limits);
  } catch (const XmlError& e) {
    throw XmlError("XML file " + path + " refused: " + e.what());
  }
}

}  // namespace platform::xml
