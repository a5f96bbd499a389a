// XML files on Linux through pugixml. The text is screened by CheckDocumentText before
// pugixml sees it, and the parsed tree is checked once more while it is copied out.
#include <pugixml.hpp>
#include <sstream>

#include "platform/files.h"
#include "platform/xml.h"

namespace platform::xml {

void SaveDocument(const Element& root, const std::string& path) {
  pugi::xml_document document;
  // Pairs of (source element, the node made for it), walked without recursion.
  std::vector<std::pair<const Element*, pugi::xml_node>> pending;
  pending.emplace_back(&root, document.append_child(root.name.c_str()));
  while (!pending.empty()) {
    auto [element, node] = pending.back();
    pending.pop_back();
    for (const auto& [name, value] : element->attributes) {
      if (value.find('\0') != std::string::npos)
        throw XmlError("XML cannot hold a zero character (attribute " + name + ")");
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
  WriteFileAtomically(path, text.str());
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
    CheckDocumentText(text, limits);
  } catch (const XmlError& e) {
    throw XmlError("XML file " + path + " refused: " + e.what());
  }

  pugi::xml_document document;
  const auto result = document.load_buffer(text.data(), text.size(),
                                           pugi::parse_default | pugi::parse_doctype, pugi::encoding_utf8);
  if (!result) {
    throw XmlError("XML file " + path + " is malformed: " + result.description() + " (at offset " +
                   std::to_string(result.offset) + ")");
  }
  pugi::xml_node top;
  for (const auto node : document.children()) {
    if (node.type() == pugi::node_doctype) {
      throw XmlError("XML file " + path + " refused: document type declarations are not accepted");
    }
    if (node.type() == pugi::node_element) {
      if (top) throw XmlError("XML file " + path + " is malformed: more than one document element");
      top = node;
    }
  }
  if (!top) throw XmlError("XML file " + path + " is malformed: no document element");

  Element root(top.name());
  std::vector<std::pair<pugi::xml_node, Element*>> pending{{top, &root}};
  std::vector<std::size_t> depths{1};
  while (!pending.empty()) {
    const auto [node, element] = pending.back();
    const std::size_t depth = depths.back();
    pending.pop_back();
    depths.pop_back();
    if (depth > limits.maxDepth)
      throw XmlError("XML file " + path + " refused: elements nested deeper than the limit");
    for (const auto attribute : node.attributes()) {
      std::string value = attribute.value();
      if (value.size() > limits.maxAttributeBytes) {
        throw XmlError("XML file " + path + " refused: attribute value larger than the limit");
      }
      if (element->FindAttribute(attribute.name()) != nullptr) {
        throw XmlError("XML file " + path + " is malformed: attribute \"" + attribute.name() +
                       "\" given twice");
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

}  // namespace platform::xml
