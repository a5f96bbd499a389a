// XML files on Linux through pugixml. The text is judged by the program's own reader first
// (which screens it with CheckDocumentText), so Linux accepts and refuses exactly the documents
// Windows does; pugixml then reads what was accepted, and its tree is checked once more while
// it is copied out. pugixml alone would accept more: unknown entities kept as they stand, text
// after the document element, a processing instruction without a target name.
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/xml.h"

namespace platform::xml {

std::string SaveDocumentText(const Element& root) {
  const Limits limits;
  // pugixml would write any name it is given, also one no reader takes back.
  CheckWritable(root, limits);
  pugi::xml_document document;
  // Pairs of (source element, the node made for it), walked without recursion.
  std::vector<std::pair<const Element*, pugi::xml_node>> pending;
  pending.emplace_back(&root, document.append_child(root.name.c_str()));
  while (!pending.empty()) {
    auto [element, node] = pending.back();
    pending.pop_back();
    for (const auto& [name, value] : element->attributes) {
      node.append_attribute(name.c_str()).set_value(value.c_str());
    }
    // Children are appended in order now; their own content is filled in later.
    std::vector<std::pair<const Element*, pugi::xml_node>> children;
    for (const auto& child : element->children)
      children.emplace_back(&child, node.append_child(child.name.c_str()));
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(*it);
  }
  std::ostringstream text;
  document.save(text, "\t", pugi::format_default, pugi::encoding_utf8);
  std::string written = std::move(text).str();
  CheckWrittenSize(written.size(), limits);
  return written;
}

void SaveDocument(const Element& root, const std::string& path) {
  WriteFileAtomically(path, SaveDocumentText(root));
}

namespace {

// pugixml's reading of a text the program's reader has accepted. Its errors, which should not
// happen after that, still come out as XmlError.
Element ParseAccepted(std::string_view text, const Limits& limits);

}  // namespace

Element LoadDocumentText(std::string_view text, const Limits& limits) {
  ReadDocumentText(text, limits);  // the verdict, the same on every platform
  return ParseAccepted(text, limits);
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
    return LoadDocumentText(text, limits);
  } catch (const XmlError& e) {
    throw XmlError("XML file " + path + " refused: " + e.what());
  }
}

namespace {

Element ParseAccepted(std::string_view text, const Limits& limits) {
  pugi::xml_document document;
  const auto result = document.load_buffer(text.data(), text.size(),
                                           pugi::parse_default | pugi::parse_doctype, pugi::encoding_utf8);
  if (!result) {
    throw XmlError(std::string("malformed XML: ") + result.description() + " (at offset " +
                   std::to_string(result.offset) + ")");
  }
  pugi::xml_node top;
  for (const auto node : document.children()) {
    if (node.type() == pugi::node_doctype) {
      throw XmlError("document type declarations are not accepted");
    }
    if (node.type() == pugi::node_element) {
      if (top) throw XmlError("malformed XML: more than one document element");
      top = node;
    }
  }
  if (!top) throw XmlError("malformed XML: no document element");

  Element root(top.name());
  std::vector<std::pair<pugi::xml_node, Element*>> pending{{top, &root}};
  std::vector<std::size_t> depths{1};
  while (!pending.empty()) {
    const auto [node, element] = pending.back();
    const std::size_t depth = depths.back();
    pending.pop_back();
    depths.pop_back();
    if (depth > limits.maxDepth) throw XmlError("elements nested deeper than the limit");
    for (const auto attribute : node.attributes()) {
      std::string value = attribute.value();
      if (value.size() > limits.maxAttributeBytes) {
        throw XmlError("attribute value larger than the limit");
      }
      if (element->FindAttribute(attribute.name()) != nullptr) {
        throw XmlError(std::string("malformed XML: attribute \"") + attribute.name() + "\" given twice");
      }
      element->attributes.emplace_back(attribute.name(), std::move(value));
    }
    for (const auto child : node.children()) {
      if (child.type() == pugi::node_element) element->children.emplace_back(child.name());
    }
    // The child list is complete, so pointers into it stay valid.
    std::size_t index = element->children.size();
    for (auto child = node.last_child(); child; child = child.previous_sibling()) {
      if (child.type() != pugi::node_element) continue;
      pending.emplace_back(child, &element->children[--index]);
      depths.push_back(depth + 1);
    }
  }
  return root;
}

}  // namespace

}  // namespace platform::xml
