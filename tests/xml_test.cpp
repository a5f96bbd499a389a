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

// One rule for the file loader and the text reader: they accept and refuse the same documents
// (the loader reads through the reader; this keeps it that way).
struct VerdictCase {
  const char* name;
  std::string text;
  bool accepted;
};

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

class XmlVerdictTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(XmlVerdictTest, LoaderAndReaderGiveTheSameVerdict) {
  const VerdictCase& c = GetParam();
  const std::vector<std::pair<const char*, std::function<Element()>>> readers = {
      {"platform loader", [&] { return platform::xml::LoadDocumentText(c.text); }},
      {"own reader", [&] { return platform::xml::ReadDocumentText(c.text); }},
  };
  for (const auto& [engine, read] : readers) {
    if (c.accepted) {
      EXPECT_NO_THROW(read()) << engine;
    } else {
      EXPECT_THROW(read(), XmlError) << engine;
    }
  }
  TempDir tmp;
  if (c.accepted) {
    EXPECT_NO_THROW(platform::xml::LoadDocument(tmp.Write("doc.xml", c.text)));
  } else {
    EXPECT_THROW(platform::xml::LoadDocument(tmp.Write("doc.xml", c.text)), XmlError);
  }
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, XmlVerdictTest,
    ::testing::Values(
        // Element and attribute names.
        VerdictCase{"PlainName", "<a/>", true},
        VerdictCase{"NameWithAllItsCharacters", "<_a:b-c.d9 x_1:y-z.0='v'/>", true},
        VerdictCase{"NameStartingWithColon", "<:a/>", true},
        VerdictCase{"NonAsciiName", "<Ger\xC3\xA4t/>", true},
        VerdictCase{"OpeningParenthesis", "<(/>", false}, VerdictCase{"ClosingParenthesis", "<)/>", false},
        VerdictCase{"Bracket", "<]/>", false}, VerdictCase{"ControlCharacter", "<\x01/>", false},
        VerdictCase{"ControlCharacterInsideName", "<a\x01/>", false},
        VerdictCase{"ParenthesisAfterLetter", "<a(/>", false},
        VerdictCase{"NameStartingWithDigit", "<1a/>", false},
        VerdictCase{"NameStartingWithDash", "<-a/>", false},
        VerdictCase{"NameStartingWithDot", "<.a/>", false},
        VerdictCase{"AttributeNameWithParenthesis", "<a b(='1'/>", false},
        VerdictCase{"AttributeNameStartingWithDigit", "<a 1b='1'/>", false},
        VerdictCase{"BlankAfterEndTagSlash", "<a></ a>", false},
        VerdictCase{"BlankBeforeEndTagClose", "<a></a >", true},
        // References, in attribute values and in text.
        VerdictCase{"PredefinedEntities", "<a v='&lt;&gt;&amp;&quot;&apos;'>&lt;&amp;</a>", true},
        VerdictCase{"CharacterReferences", "<a v='&#65;&#x42;'>&#67;&#x1F600;</a>", true},
        VerdictCase{"UnknownEntityInValue", "<a v='&foo;'/>", false},
        VerdictCase{"UnknownEntityInText", "<a>&foo;</a>", false},
        VerdictCase{"BareAmpersandInText", "<a>fish & chips</a>", false},
        VerdictCase{"BareAmpersandInValue", "<a v='&'/>", false},
        VerdictCase{"UnterminatedReferenceInText", "<a>&lt</a>", false},
        VerdictCase{"ZeroReferenceInText", "<a>&#0;</a>", false},
        VerdictCase{"SurrogateReferenceInValue", "<a v='&#xD800;'/>", false},
        VerdictCase{"ReferenceOutOfRangeInText", "<a>&#x110000;</a>", false},
        VerdictCase{"EmptyCharacterReference", "<a>&#;</a>", false},
        VerdictCase{"LessThanInValue", "<a v='<'/>", false},
        VerdictCase{"GreaterThanInValue", "<a v='>'/>", true},
        // What may stand outside the document element.
        VerdictCase{"TextAfterTheRoot", "<a/>x", false},
        VerdictCase{"TextAfterBlanksAfterTheRoot", "<a/> \n x", false},
        VerdictCase{"ByteOrderMarkAfterTheRoot", "<a/>\xEF\xBB\xBF", false},
        VerdictCase{"TextBeforeTheRoot", "x<a/>", false},
        VerdictCase{"BlanksAroundTheRoot", " \r\n\t<a/>\n ", true},
        VerdictCase{"CommentAndInstructionAfterTheRoot", "<a/><!-- c --><?pi x?>", true},
        VerdictCase{"CdataAfterTheRoot", "<a/><![CDATA[x]]>", false},
        VerdictCase{"CdataBeforeTheRoot", "<![CDATA[x]]><a/>", false},
        VerdictCase{"SecondRoot", "<a/><b/>", false},
        // Processing instructions name their target.
        VerdictCase{"InstructionWithoutTarget", "<?\?><a/>", false},
        VerdictCase{"InstructionStartingWithBlank", "<? x?><a/>", false},
        VerdictCase{"InstructionTargetStartingWithDigit", "<?1x?><a/>", false},
        VerdictCase{"InstructionWithTargetOnly", "<?x?><a/>", true},
        VerdictCase{"DeclarationInsideTheRoot", "<a><?xml version='1.0'?></a>", true}),
    [](const ::testing::TestParamInfo<VerdictCase>& param) { return param.param.name; });

// Neither writer produces a document the readers refuse: what they cannot write they refuse
// with a message that says why, and the old file stays.
TEST(XmlWriters, RefuseWhatCouldNotBeReadBack) {
  const auto element = [](const std::string& name) { return Element(name); };
  const auto attribute = [](const std::string& name, const std::string& value) {
    Element root("r");
    root.attributes.emplace_back(name, value);
    return root;
  };
  const auto nested = [](std::size_t depth) {
    Element root("a");
    Element* last = &root;
    for (std::size_t i = 1; i < depth; ++i) last = &last->AddChild("a");
    return root;
  };
  Element twice("r");
  twice.attributes = {{"a", "1"}, {"a", "2"}};
  Element badChild("r");
  badChild.AddChild("ok").AddChild("no way");
  const std::size_t limit = Limits().maxAttributeBytes;
  const std::vector<std::pair<Element, std::string>> cases = {
      {element("("), "\"(\" is not an XML name for an element"},
      {element(")"), "\")\" is not an XML name for an element"},
      {element("]"), "\"]\" is not an XML name for an element"},
      {element("\x01"), "is not an XML name for an element"},
      {element(""), "\"\" is not an XML name for an element"},
      {element("1a"), "\"1a\" is not an XML name for an element"},
      {badChild, "\"no way\" is not an XML name for an element"},
      {attribute("a(", "1"), "\"a(\" is not an XML name for an attribute"},
      {attribute("", "1"), "\"\" is not an XML name for an attribute"},
      {twice, "attribute \"a\" given twice"},
      {attribute("v", "a\0b"s), "zero character"},
      // Escaped, each quote takes six bytes: one more than the limit allows.
      {attribute("v", std::string(limit / 6 + 1, '"')), "more than the 1048576 bytes a reader accepts"},
      {attribute("v", std::string(limit + 1, 'x')), "more than the 1048576 bytes a reader accepts"},
      {nested(Limits().maxDepth + 1), "nested deeper than 1000"},
  };
  TempDir tmp;
  tmp.Write("keep.xml", "<old/>");
  for (const auto& [root, reason] : cases) {
    for (const bool own : {true, false}) {
      try {
        if (own) {
          platform::xml::WriteDocumentText(root);
        } else {
          platform::xml::SaveDocument(root, tmp.File("keep.xml"));
        }
        ADD_FAILURE() << (own ? "own writer" : "platform writer") << " wrote it: " << reason;
      } catch (const XmlError& e) {
        EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
      }
    }
  }
  EXPECT_EQ(tmp.Read("keep.xml"), "<old/>");
}

TEST(XmlWriters, WriteWhatIsJustInsideTheLimits) {
  const Limits limits;
  Element root("r");
  // Quotes up to the limit, escaped by either writer, and the deepest nesting the reader takes.
  root.attributes.emplace_back("v", std::string(limits.maxAttributeBytes / 6, '"'));
  Element* last = &root;
  for (std::size_t i = 1; i < limits.maxDepth; ++i) last = &last->AddChild("a");
  TempDir tmp;
  platform::xml::SaveDocument(root, tmp.File("a.xml"));
  ExpectSame(platform::xml::LoadDocument(tmp.File("a.xml")), root);
  ExpectSame(platform::xml::ReadDocumentText(platform::xml::WriteDocumentText(root)), root);
}

TEST(XmlWriters, FileLargerThanTheReaderTakesIsRefused) {
  if (sizeof(void*) < 8) GTEST_SKIP() << "needs more memory than a 32-bit process has to spare";
  Element root("r");
  for (int i = 0; i < 80; ++i) root.AddChild("i").SetAttribute("v", std::string(1000000, 'x'));
  EXPECT_THROW(platform::xml::WriteDocumentText(root), XmlError);
  EXPECT_THROW(platform::xml::SaveDocumentText(root), XmlError);
}

}  // namespace
