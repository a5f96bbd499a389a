// XML files on Windows through the program's own reader and writer (platform/xml.cpp), which
// refuse the same hostile documents as the Linux loader and read each other's files.
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/xml.h"

namespace platform::xml {

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
