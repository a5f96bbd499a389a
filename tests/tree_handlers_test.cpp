// The device tree on the HWIDs page: conversion, text, XML and the saved reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "devices/tree_text.h"
#include "platform/files.h"
#include "shared/shared_functions.h"
#include "support/app_fixture.h"

namespace {

class TreeHandlersTest : public AppFixture {
 protected:
  TreeRoots& Tree() { return main->Form().Tree("EqTreeView"); }
  // A file of the working folder.
  std::string Work(const std::string& name) const { return platform::ReadWholeFile(workDir + name); }
  void WriteWork(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories(workDir);
    std::ofstream(workDir + name, std::ios::binary) << content;
  }
};

TEST_F(TreeHandlersTest, ConversionBuildsTheDeviceTree) {
  Start();
  main->Form().SetItems("FirstFilterlb", {"*Net", "PCI\\VEN_10EC&DEV_8168\\4&1", "    Name: Realtek   Gigabit",
                                          "        C:\\WINDOWS\\system32\\drivers\\rt.sys", "1 matching device(s) found."});
  main->ConvertLoadBtClick();
  const TreeRoots& tree = Tree();
  ASSERT_EQ(tree.size(), 2u);  // the computer and the class
  EXPECT_EQ(tree[1]->text, "*Net");
  ASSERT_EQ(tree[1]->children.size(), 2u);
  EXPECT_EQ(tree[1]->children[0]->text, "PCI\\VEN_10EC&DEV_8168\\4&1");
  ASSERT_EQ(tree[1]->children[0]->children.size(), 2u);
  EXPECT_EQ(tree[1]->children[0]->children[0]->text, "Name: Realtek Gigabit");
  EXPECT_EQ(tree[1]->children[1]->text, "1 matching device(s) found.");
  EXPECT_EQ(Work("oldtree.txt"), "");
  EXPECT_NE(Work("newtree.txt").find("\r\n*Net\r\n"), std::string::npos);
  auto keys = LogKeys();
  EXPECT_EQ(std::vector<std::string>(keys.end() - 3, keys.end()), (std::vector<std::string>{"log6", "log6", "log7"}));
  // A second conversion keeps the first tree as oldtree.txt.
  main->ConvertLoadBtClick();
  EXPECT_NE(Work("oldtree.txt").find("*Net\r\n\tPCI"), std::string::npos);
}

TEST_F(TreeHandlersTest, ExportThenImportReproducesTheTree) {
  Start();
  TreeNode* root = Tree().emplace_back(std::make_unique<TreeNode>()).get();
  root->text = "PC \"one\" & <two>";
  TreeNode* child = root->AddChild("child äöü", 3, 4);
  child->AddChild("grandchild");
  Tree().emplace_back(std::make_unique<TreeNode>())->text = "second root";
  main->Tree2XMLBtnClick();
  ClearTree(Tree());
  main->XML2TreeBtnClick();
  ASSERT_EQ(Tree().size(), 2u);
  EXPECT_EQ(Tree()[0]->text, "PC \"one\" & <two>");
  EXPECT_EQ(Tree()[0]->children[0]->text, "child äöü");
  EXPECT_EQ(Tree()[0]->children[0]->imageIndex, 3);
  EXPECT_EQ(Tree()[0]->children[0]->stateIndex, 4);
  EXPECT_EQ(Tree()[0]->children[0]->children[0]->text, "grandchild");
  EXPECT_EQ(Tree()[1]->text, "second root");
  auto keys = LogKeys();
  EXPECT_EQ(std::vector<std::string>(keys.end() - 3, keys.end()), (std::vector<std::string>{"log67", "log68", "log69"}));
}

// A loaded tree of another computer (its first root names that computer) gives the search that
// computer's device lines; this computer's own tree leaves the search with this computer's IDs.
TEST_F(TreeHandlersTest, ImportingAnotherComputersTreeSearchesForItsDevices) {
  struct Case {
    const char* what;
    std::string computer;
    std::vector<std::string> searchIds;  // HWIDSforWorkcbx after the import
    std::string source;
  };
  const std::string xml = workDir + "VelmoraTAVI.XML";
  const std::vector<Case> cases = {
      {"another computer", "OFFICE-PC",
       {"PCI\\VEN_10DE&DEV_1C82&SUBSYS_11BF1458&REV_A1\\4&1C3&0&0008", "USB\\VID_046D&PID_C52B\\5&1"},
       "OFFICE-PC (" + xml + ")"},
      {"this computer", GetComputerNetName(), {"left as it was"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start();
    main->Form().SetItems("HWIDSforWorkcbx", {"left as it was"});
    Tree().emplace_back(std::make_unique<TreeNode>())->text = c.computer;
    TreeNode* net = Tree().emplace_back(std::make_unique<TreeNode>()).get();
    net->text = "*Display";
    TreeNode* card = net->AddChild("PCI\\VEN_10DE&DEV_1C82&SUBSYS_11BF1458&REV_A1\\4&1C3&0&0008");
    card->AddChild("Name: NVIDIA GeForce GTX 1050 Ti");
    net->AddChild("1 matching device(s) found.");
    Tree().emplace_back(std::make_unique<TreeNode>())->text = "*USB";
    Tree().back()->AddChild(" USB\\VID_046D&PID_C52B\\5&1");
    main->Tree2XMLBtnClick();
    ClearTree(Tree());
    main->XML2TreeBtnClick();
    EXPECT_EQ(main->Form().Items("HWIDSforWorkcbx"), c.searchIds);
    EXPECT_EQ(main->HardwareIdSource(), c.source);
    EXPECT_EQ(LogHas("log122|" + xml + "|OFFICE-PC|2"), !c.source.empty());
    main.reset();
  }
}

TEST_F(TreeHandlersTest, BrokenXmlFailsCleanlyWithAnEmptyTree) {
  Start();
  Tree().emplace_back(std::make_unique<TreeNode>())->text = "before";
  WriteWork("VelmoraTAVI.XML", "<tree2xml><item text=\"x\" imageIndex=\"zero\" stateIndex=\"-1\"/>");
  EXPECT_TRUE(main->Invoke("XML2TreeBtnClick"));
  EXPECT_EQ(ui.shown.back().rfind("error:", 0), 0u);
  EXPECT_TRUE(Tree().empty());
  auto keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log69"), 0);
}

TEST_F(TreeHandlersTest, ReportsGetTheirNameHeaderAndOrder) {
  Start();
  WriteWork("newtree.txt", "PC\r\n*Net\r\n");
  WriteWork("HWIDSL.txt", "PCI Devices\r\n");
  const std::string tree = tmp.File("Office PC");
  const std::string simple = tmp.File("x.txt");
  ui.files = {tree, simple};
  main->SaveHWIDSbtnClick();
  main->SaveHWIDsSimpleButtonClick();
  std::string treeReport = tmp.Read("Office PC- Velmora_TAVI HWID s.txt");
  std::string simpleReport = tmp.Read("x.txt- Velmora_TAVI HWID s.txt");
  const std::string header = std::string("] Prepared by") + kApplicationTitle + "\r\n";
  EXPECT_NE(treeReport.find(header), std::string::npos);
  EXPECT_TRUE(treeReport.ends_with(header + "PC\r\n*Net\r\n"));
  EXPECT_EQ(simpleReport.rfind("PCI Devices\r\n[", 0), 0u);
  EXPECT_TRUE(simpleReport.ends_with(header));
  EXPECT_TRUE(LogHas("log59|" + tree + "- Velmora_TAVI HWID s.txt|%s"));
  // Cancelled: the message, and nothing written.
  main->SaveHWIDSbtnClick();
  EXPECT_EQ(ui.shown.back(), "info:msg8|%s");
}

TEST_F(TreeHandlersTest, ReportWithoutCollectionFails) {
  Start();
  ui.files = {tmp.File("r")};
  EXPECT_TRUE(main->Invoke("SaveHWIDSbtnClick"));
  EXPECT_EQ(ui.shown.back().rfind("error:", 0), 0u);
  EXPECT_FALSE(tmp.Exists("r- Velmora_TAVI HWID s.txt"));
}

}  // namespace
