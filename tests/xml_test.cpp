#include "platform/xml.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using platform::xml::Element;
using platform::xml::Limits;
using platform::xml::XmlError;

// The two ways a document is read: the platform's loader on a file, and the program's own
// reader (the Windows implementation) on the text.
class XmlReaders : public ::testing::Test {
 protected:
  Element LoadText(const std::string& text, const Limits& limits = {}) {
    return platform::xml::LoadDocument(tmp.Write("doc.xml", text), limits);
  }

  // Expects both readers to refuse the text with a message containing `reason`.
  void ExpectRefused(const std::string& text, const std::string& reason, const Limits& limits = {}) {
    const std::vector<std::pair<const char*, std::function<void()>>> readers = {
        {"platform loader", [&] { LoadText(text, limits); }},
        {"own reader", [&] { platform::xml::ReadDocumentText(text, limits); }},
    };
    for (const auto& [name, read] : readers) {
      try {
        read();
        ADD_FAILURE() << name << " accepted the document (" << reason << ")";
      } catch (const XmlError& e) {
        EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << name << ": " << e.what();
      }
    }
  }

  TempDir tmp;
};

Element SampleDocument() {
  Element root("tree2xml");
  root.SetAttribute("app", "/opt/velmora/Velmora_TAVI");
  Element& a = root.AddChild("item");
  a.SetAttribute("text", "*Net");
  a.SetAttribute("imageIndex", "0");
  Element& b = a.AddChild("item");
  b.SetAttribute("text", "quote \" apostrophe ' amp & lt < gt > ]]> done");
  b.AddChild("item").SetAttribute("text", "Gerät für Straße — 日本語");
  a.AddChild("empty");
  root.AddChild("item").SetAttribute("text", "tab\there, line\nbreak, cr\rend, ctl\x01!");
  root.AddChild("item").SetAttribute("text", "");
  return root;
}

void ExpectSame(const Element& actual, const Element& expected) {
  EXPECT_EQ(actual.name, expected.name);
  EXPECT_EQ(actual.attributes, expected.attributes) << "in <" << expected.name << ">";
  ASSERT_EQ(actual.children.size(), expected.children.size()) << "in <" << expected.name << ">";
  for (std::size_t i = 0; i < expected.children.size(); ++i)
    ExpectSame(actual.children[i], expected.children[i]);
}

TEST(XmlElement, SetsAndFindsAttributesInOrder) {
  Element e("x");
  e.SetAttribute("b", "1");
  e.SetAttribute("a", "2");
  e.SetAttribute("b", "3");
  EXPECT_EQ(e.attributes, (std::vector<std::pair<std::string, std::string>>{{"b", "3"}, {"a", "2"}}));
  ASSERT_NE(e.FindAttribute("a"), nullptr);
  EXPECT_EQ(*e.FindAttribute("a"), "2");
  EXPECT_EQ(e.FindAttribute("c"), nullptr);
}

TEST_F(XmlReaders, EveryWriterAndReaderPairKeepsTheDocument) {
  const Element document = SampleDocument();
  // Platform writer and loader.
  platform::xml::SaveDocument(document, tmp.File("a.xml"));
  ExpectSame(platform::xml::LoadDocument(tmp.File("a.xml")), document);
  // Own writer and reader.
  const std::string own = platform::xml::WriteDocumentText(document);
  ExpectSame(platform::xml::ReadDocumentText(own), document);
  // Across: a file of one implementation read by the other.
  ExpectSame(LoadText(own), document);
  ExpectSame(platform::xml::ReadDocumentText(tmp.Read("a.xml")), document);
}

TEST_F(XmlReaders, OwnWriterEscapesAndAddsNothing) {
  Element root("r");
  root.SetAttribute("v", "a&b<c>d\"e'f\tg\n");
  root.AddChild("c");
  EXPECT_EQ(platform::xml::WriteDocumentText(root), "<r v=\"a&amp;b&lt;c&gt;d&quot;e'f&#9;g&#10;\"><c/></r>");
}

TEST_F(XmlReaders, ReadersSkipWhatIsNotElementsOrAttributes) {
  const std::string text =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- a comment -->\n"
      "<root a='single' b = \"x&#65;&#x42;&lt;\">\n  text <![CDATA[ <not> an element ]]>\n"
      "  <?pi data?><child/><!-- <child/> -->\n</root>\n<!-- trailing -->\n";
  for (const Element& e : {LoadText(text), platform::xml::ReadDocumentText(text)}) {
    EXPECT_EQ(e.name, "root");
    EXPECT_EQ(e.attributes,
              (std::vector<std::pair<std::string, std::string>>{{"a", "single"}, {"b", "xAB<"}}));
    ASSERT_EQ(e.children.size(), 1u);
    EXPECT_EQ(e.children[0].name, "child");
  }
}

TEST_F(XmlReaders, RefuseDeclarationsAndEntityExpansion) {
  const std::string billionLaughs =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n"
      " <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
      " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n]>\n"
      "<tree2xml app=\"x\"><item text=\"&lol3;\" imageIndex=\"0\" stateIndex=\"-1\"/></tree2xml>";
  ExpectRefused(billionLaughs, "declarations are not accepted");
  ExpectRefused("<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><x a=\"&e;\"/>",
                "declarations are not accepted");
  ExpectRefused("<x><!ELEMENT y ANY></x>", "declarations are not accepted");
  // An outside DTD is never fetched: the declaration alone refuses the document.
  ExpectRefused("<!DOCTYPE x SYSTEM \"http://example.invalid/x.dtd\"><x/>", "declarations are not accepted");
}

TEST_F(XmlReaders, RefuseNestingBeyondTheLimit) {
  auto nested = [](std::size_t depth) {
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) text += "<a>";
    for (std::size_t i = 0; i < depth; ++i) text += "</a>";
    return text;
  };
  ExpectRefused(nested(1001), "nested deeper than the limit");
  ExpectRefused(nested(200000), "nested deeper than the limit");
  // Exactly at the limit is fine, and self-closing elements add no depth.
  std::size_t depth = 0;
  const Element deep = LoadText(nested(1000));
  for (const Element* e = &deep; !e->children.empty(); e = &e->children[0]) ++depth;
  EXPECT_EQ(depth, 999u);
  EXPECT_NO_THROW(platform::xml::ReadDocumentText(nested(1000)));
  EXPECT_NO_THROW(platform::xml::ReadDocumentText("<r>" + std::string(5000, ' ') + "<a/><a/><a/></r>"));
  Limits shallow;
  shallow.maxDepth = 2;
  ExpectRefused("<r><a><b/></a></r>", "nested deeper than the limit", shallow);
}

TEST_F(XmlReaders, RefuseOversizedAttributesAndFiles) {
  const std::size_t limit = Limits().maxAttributeBytes;
  ExpectRefused("<r a=\"" + std::string(limit + 1, 'x') + "\"/>", "attribute value larger than the limit");
  ExpectRefused("<r><i a='" + std::string(limit + 1, 'x') + "'/></r>",
                "attribute value larger than the limit");
  EXPECT_EQ(LoadText("<r a=\"" + std::string(limit, 'x') + "\"/>").attributes[0].second.size(), limit);

  Limits small;
  small.maxFileBytes = 1000;
  ExpectRefused("<r a=\"" + std::string(2000, 'x') + "\"/>", "larger than 1000 bytes", small);
}

TEST_F(XmlReaders, RefuseMalformedDocuments) {
  const std::vector<std::string> documents = {
      "",
      "just text",
      "<a><b></a>",
      "<a",
      "<a>",
      "<a x=\"1></a>",
      "<a x=\"1\" x=\"2\"/>",
      "<a/><b/>",
      std::string("\xFF\xFE<\0a\0/\0>\0", 10),
      std::string("<a\0/>", 5),
  };
  for (const auto& text : documents) {
    EXPECT_THROW(LoadText(text), XmlError) << text;
    EXPECT_THROW(platform::xml::ReadDocumentText(text), XmlError) << text;
  }
  // The own reader also refuses references it does not know.
  EXPECT_THROW(platform::xml::ReadDocumentText("<a x=\"&nbsp;\"/>"), XmlError);
  EXPECT_THROW(platform::xml::ReadDocumentText("<a x=\"&#0;\"/>"), XmlError);
  EXPECT_THROW(platform::xml::ReadDocumentText("<a x=\"&#x110000;\"/>"), XmlError);
  EXPECT_THROW(platform::xml::LoadDocument(tmp.File("missing.xml")), XmlError);
}

TEST_F(XmlReaders, ZeroCharacterIsRefusedBeforeWriting) {
  tmp.Write("keep.xml", "<old/>");
  Element root("r");
  root.AddChild("i").SetAttribute("text", std::string("a\0b", 3));
  EXPECT_THROW(platform::xml::SaveDocument(root, tmp.File("keep.xml")), XmlError);
  EXPECT_EQ(tmp.Read("keep.xml"), "<old/>");
  EXPECT_THROW(platform::xml::WriteDocumentText(root), XmlError);
}

}  // namespace
