// XML import through the file loader's text function and the reader itself: they accept and
// refuse the same documents and, when they accept, give the same elements. What either writer produces, both readers read back unchanged; what a writer
// cannot write (a name that is no XML name, a zero character) it refuses with an XmlError.
// Input: first byte even: a document text (the rest); odd: elements to write, built from the
// rest (name \x01 attribute name \x01 value \x01 ..., a \x02 byte opens a child).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/xml.h"

namespace xml = platform::xml;

namespace {

// Small limits, so the fuzzer also reaches them.
xml::Limits SmallLimits() {
  xml::Limits limits;
  limits.maxDepth = 12;
  limits.maxAttributeBytes = 64;
  limits.maxFileBytes = 4096;
  return limits;
}

bool Same(const xml::Element& a, const xml::Element& b) {
  if (a.name != b.name || a.attributes != b.attributes || a.children.size() != b.children.size())
    return false;
  for (std::size_t i = 0; i < a.children.size(); ++i) {
    if (!Same(a.children[i], b.children[i])) return false;
  }
  return true;
}

template <typename Reader>
std::optional<xml::Element> TryRead(Reader read) {
  try {
    return read();
  } catch (const xml::XmlError&) {
    return std::nullopt;
  }
}

// Both readers on one text: same verdict, same elements. Returns what they read.
std::optional<xml::Element> ReadBoth(const std::string& text, const xml::Limits& limits) {
  const auto portable = TryRead([&] { return xml::ReadDocumentText(text, limits); });
  const auto platform = TryRead([&] { return xml::LoadDocumentText(text, limits); });
  fuzz::Check(portable.has_value() == platform.has_value(), "loader and reader accept or both refuse");
  if (portable) fuzz::Check(Same(*portable, *platform), "loader and reader read the same elements");
  return portable;
}

// Both writers on one document: each refuses it or writes a text both readers give back.
void WriteBoth(const xml::Element& root) {
  for (const bool portableWriter : {true, false}) {
    std::string text;
    try {
      text = portableWriter ? xml::WriteDocumentText(root) : xml::SaveDocumentText(root);
    } catch (const xml::XmlError&) {
      continue;
    }
    const auto back = ReadBoth(text, xml::Limits{});
    fuzz::Check(back.has_value(), "a written document is read again");
    fuzz::Check(Same(*back, root), "a written document reads back unchanged");
  }
}

xml::Element Build(fuzz::Input& input) {
  xml::Element root(input.Part('\x02'));
  std::vector<xml::Element*> open{&root};
  while (!input.Empty() && open.size() < 20) {
    std::string part = input.Part('\x02');
    // "name \x01 attr \x01 value \x01 attr \x01 value ..." for one child of the innermost element;
    // an empty part closes the innermost element instead.
    if (part.empty()) {
      if (open.size() > 1) open.pop_back();
      continue;
    }
    fuzz::Input fields(reinterpret_cast<const std::uint8_t*>(part.data()), part.size());
    xml::Element& child = open.back()->AddChild(fields.Part());
    while (!fields.Empty()) {
      std::string name = fields.Part();
      child.attributes.emplace_back(std::move(name), fields.Part());
    }
    open.push_back(&child);
  }
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  if ((input.Byte() & 1) == 0) {
    const std::string text = input.Rest();
    if (const auto read = ReadBoth(text, SmallLimits())) WriteBoth(*read);
    ReadBoth(text, xml::Limits{});
  } else {
    WriteBoth(Build(input));
  }
  return 0;
}
