#include "devices/tree_xml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/tree_text.h"
#include "support/temp_dir.h"
#include "support/tree_shape.h"

namespace {

using Lines = std::vector<std::string>;


TreeNode* AddRoot(TreeRoots& roots, const std::string& text, int image = 0, int state = -1) {
  auto node = std::make_unique<TreeNode>();
  node->text = text;
  node->imageIndex = image;
  node->stateIndex = state;
  roots.push_back(std::move(node));
  return roots.back().get();
}

class TreeXml : public ::testing::Test {
 protected:
  std::string XmlFile() const { return tmp.File("VelmoraTAVI.XML"); }
  // Writes a document of items under "tree2xml".
  std::string WriteItems(const std::string& items) {
    return tmp.Write("VelmoraTAVI.XML", "<tree2xml app=\"/p/Velmora_TAVI\">" + items + "</tree2xml>");
  }

  TempDir tmp;
};

TEST_F(TreeXml, ExportThenImportGivesTheSameTree) {
  Tree tree;
  AddRoot(tree.roots, "OFFICE-PC");
  auto* net = AddRoot(tree.roots, "*Net", 2, 5);
  auto* card = net->AddChild("PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&1&0&FE", 1, -1);
  card->AddChild("Name: \"Intel(R)\" Ethernet <I219-LM> & more", -3, 7);
  card->AddChild("Driver: Gerät für Straße — 日本語 'quoted'", 0, 0);
  card->AddChild("");
  net->AddChild("1 matching device(s) found.");
  AddRoot(tree.roots, "*Media")->AddChild("a")->AddChild("b")->AddChild("c", 2147483647, -2147483647 - 1);

  Tree2XML(tree.roots, "/opt/velmora/Velmora_TAVI", XmlFile());
  Tree back;
  AddRoot(back.roots, "replaced by the import");
  XML2Tree(back.roots, XmlFile());
  EXPECT_EQ(Shape(back.roots), Shape(tree.roots));

  // The file: "tree2xml" with "app", items with their three attributes in order.
  const auto document = platform::xml::LoadDocument(XmlFile());
  EXPECT_EQ(document.name, "tree2xml");
  EXPECT_EQ(document.attributes,
            (std::vector<std::pair<std::string, std::string>>{{"app", "/opt/velmora/Velmora_TAVI"}}));
  ASSERT_EQ(document.children.size(), 3u);
  EXPECT_EQ(document.children[1].name, "item");
  EXPECT_EQ(document.children[1].attributes,
            (std::vector<std::pair<std::string, std::string>>{
                {"text", "*Net"}, {"imageIndex", "2"}, {"stateIndex", "5"}}));
}

TEST_F(TreeXml, EmptyTreeWritesOnlyTheDocumentElement) {
  Tree2XML(TreeRoots(), "C:\\Velmora\\Velmora_TAVI.exe", XmlFile());
  const auto document = platform::xml::LoadDocument(XmlFile());
  EXPECT_EQ(document.name, "tree2xml");
  EXPECT_EQ(document.attributes,
            (std::vector<std::pair<std::string, std::string>>{{"app", "C:\\Velmora\\Velmora_TAVI.exe"}}));
  EXPECT_TRUE(document.children.empty());

  Tree tree;
  AddRoot(tree.roots, "old");
  XML2Tree(tree.roots, XmlFile());
  EXPECT_TRUE(tree.roots.empty());
}

TEST_F(TreeXml, DocumentElementNameAndAttributesAreNotChecked) {
  tmp.Write(
      "VelmoraTAVI.XML",
      "<something else=\"1\">\n  <item text=\"a\" imageIndex=\"0\" stateIndex=\"-1\">\n"
      "    <node text=\"b\" stateIndex=\"4\" imageIndex=\"3\" extra=\"x\"/>\n  </item>\n</something>\n");
  Tree tree;
  XML2Tree(tree.roots, XmlFile());
  EXPECT_EQ(Shape(tree.roots), (Lines{"0:a/0/-1", "1:b/3/4"}));
}

TEST_F(TreeXml, BadItemStopsTheImportAndKeepsEarlierNodes) {
  struct Case {
    std::string badItem;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"<item imageIndex=\"0\" stateIndex=\"-1\"/>", "XML item has no \"text\" attribute"},
      {"<item text=\"bad\" stateIndex=\"-1\"/>", "XML item \"bad\" has no \"imageIndex\" attribute"},
      {"<item text=\"bad\" imageIndex=\"0\"/>", "XML item \"bad\" has no \"stateIndex\" attribute"},
      {"<item text=\"bad\" imageIndex=\"abc\" stateIndex=\"-1\"/>",
       "\"abc\" is not a valid integer value for \"imageIndex\" of XML item \"bad\""},
      {"<item text=\"bad\" imageIndex=\"0\" stateIndex=\"1.5\"/>", "\"1.5\" is not a valid integer value"},
      {"<item text=\"bad\" imageIndex=\"\" stateIndex=\"0\"/>", "\"\" is not a valid integer value"},
      {"<item text=\"bad\" imageIndex=\" 1\" stateIndex=\"0\"/>", "\" 1\" is not a valid integer value"},
      {"<item text=\"bad\" imageIndex=\"0\" stateIndex=\"99999999999\"/>",
       "\"99999999999\" is not a valid integer"},
  };
  for (const auto& c : cases) {
    WriteItems(
        "<item text=\"first\" imageIndex=\"1\" stateIndex=\"2\"><item text=\"child\" imageIndex=\"+3\" "
        "stateIndex=\"-4\"/>" +
        c.badItem + "<item text=\"after\" imageIndex=\"0\" stateIndex=\"0\"/></item>");
    Tree tree;
    try {
      XML2Tree(tree.roots, XmlFile());
      ADD_FAILURE() << "accepted " << c.badItem;
    } catch (const TreeXmlError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(Shape(tree.roots), (Lines{"0:first/1/2", "1:child/3/-4"})) << c.badItem;
  }
}

TEST_F(TreeXml, UnreadableFileLeavesAnEmptyTree) {
  const std::vector<std::string> files = {
      "",
      "<tree2xml><item text=\"a\" imageIndex=\"0\" stateIndex=\"0\">",
      "<!DOCTYPE t [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
      "<tree2xml><item text=\"&b;\" imageIndex=\"0\" stateIndex=\"0\"/></tree2xml>",
  };
  for (const auto& content : files) {
    tmp.Write("VelmoraTAVI.XML", content);
    Tree tree;
    AddRoot(tree.roots, "old");
    EXPECT_THROW(XML2Tree(tree.roots, XmlFile()), platform::xml::XmlError) << content;
    EXPECT_TRUE(tree.roots.empty());
  }
  Tree tree;
  AddRoot(tree.roots, "old");
  EXPECT_THROW(XML2Tree(tree.roots, tmp.File("missing.XML")), platform::xml::XmlError);
  EXPECT_TRUE(tree.roots.empty());
}

TEST_F(TreeXml, TreesTooDeepToReadBackAreNotExported) {
  auto chain = [](std::size_t depth) {
    Lines lines;
    for (std::size_t i = 0; i < depth; ++i) lines.push_back(std::string(i, '\t') + "n");
    return lines;
  };
  Tree deepest;
  LinesToTree(chain(999), deepest.roots);  // with "tree2xml": 1000 levels, the reader's limit
  Tree2XML(deepest.roots, "p", XmlFile());
  Tree back;
  XML2Tree(back.roots, XmlFile());
  EXPECT_EQ(TreeToLines(back.roots), chain(999));

  tmp.Write("VelmoraTAVI.XML", "<keep/>");
  Tree tooDeep;
  LinesToTree(chain(1000), tooDeep.roots);
  EXPECT_THROW(Tree2XML(tooDeep.roots, "p", XmlFile()), TreeXmlError);
  EXPECT_EQ(tmp.Read("VelmoraTAVI.XML"), "<keep/>");
}

TEST_F(TreeXml, TextsTooLongToReadBackAreNotExported) {
  // The reader takes 1,048,576 bytes per value as written; a quote is written as six.
  const std::size_t fits = 1048576 / 6;  // 174,762 quotes: 1,048,572 bytes written
  const std::vector<std::string> texts = {
      std::string(fits, '"'),            // the most quotes that fit
      std::string(fits - 1, '"') + "&",  // 1,048,571 bytes written
      std::string(1048576 / 4, '<'),     // exactly the limit
      std::string(1048576, 'x'),         // exactly the limit, nothing escaped
      std::string(1048576 / 5, '\x01'),  // character references of the widest writer
  };
  for (const std::string& text : texts) {
    Tree tree;
    AddRoot(tree.roots, "root")->AddChild(text);
    Tree2XML(tree.roots, "p", XmlFile());
    Tree back;
    XML2Tree(back.roots, XmlFile());
    ASSERT_EQ(back.roots.size(), 1u);
    ASSERT_EQ(back.roots[0]->children.size(), 1u);
    EXPECT_EQ(back.roots[0]->children[0]->text, text);
  }

  const std::vector<std::string> tooLong = {
      std::string(fits + 1, '"'),          // 174,763 quotes: 1,048,578 bytes written
      std::string(fits, '"') + "&",        // 1,048,577
      std::string(1048576 / 4 + 1, '>'),   // 1,048,580
      std::string(1048577, 'x'),           // one byte over, nothing escaped
      std::string(1048576 / 5 + 1, '\t'),  // 1,048,580 as the widest writer writes tabs
  };
  tmp.Write("VelmoraTAVI.XML", "<keep/>");
  for (const std::string& text : tooLong) {
    Tree tree;
    AddRoot(tree.roots, "root")->AddChild("child")->AddChild(text);
    try {
      Tree2XML(tree.roots, "p", XmlFile());
      ADD_FAILURE() << "exported a text of " << text.size() << " bytes";
    } catch (const TreeXmlError& e) {
      EXPECT_NE(std::string(e.what()).find("could not be read again"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(tmp.Read("VelmoraTAVI.XML"), "<keep/>");
}

TEST_F(TreeXml, ProcessFunctionsIgnoreNull) {
  platform::xml::Element parent("tree2xml");
  ProcessTreeItem(nullptr, parent);
  EXPECT_TRUE(parent.children.empty());
  Tree tree;
  ProcessNode(nullptr, nullptr, tree.roots);
  EXPECT_TRUE(tree.roots.empty());
}

}  // namespace
