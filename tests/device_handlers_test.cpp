// The HWIDs page operations over a small sysfs tree and a scripted device console.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "devices/hwid_rules.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "support/app_fixture.h"
#include "support/scoped_env.h"
#include "support/tree_shape.h"

namespace {

namespace fs = std::filesystem;

class DeviceHandlersTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    setenv("VELMORA_SYSFS", (std::string(VELMORA_TESTDATA_DIR) + "/sysfs/laptop/sys").c_str(), 1);
    // The device console: two classes with devices, one it says nothing about, every other
    // class without devices.
    Script("devcon",
           "case \"$1 $2\" in\n"
           "  'find pci*') printf '%s\\n' 'PCI\\VEN_8086&DEV_1234\\3&11&0&10: Test bridge' '1 matching "
           "device(s) found.';;\n"
           "  'find '*) echo 'No matching devices found.';;\n"
           "  'driverfiles =Net') printf '%s\\n' 'PCI\\VEN_10EC&DEV_8168&SUBSYS_00011234&REV_01\\4&1&0&00E4'"
           " '    Name: Realtek: Ethernet' '    Driver installed from C:\\WINDOWS\\inf\\net.inf [RTL8168]. 2 "
           "file(s) used by driver:'"
           " '        C:\\WINDOWS\\system32\\drivers\\rt.sys' '1 matching device(s) found.';;\n"
           "  'driverfiles =Mouse') printf '%s\\n' 'HID\\VID_046D&PID_C52B\\7&1' '    Name: Mouse' '1 "
           "matching device(s) found.';;\n"
           "  'driverfiles =Printer') ;;\n"
           "  *) echo 'No matching devices found.';;\n"
           "esac\n");
    tmp.Write("prog/Data/classes.tavi",
              "Net: Network adapters\r\nDisplay: Display adapters\r\n\r\n  Mouse  \r\nPrinter: Printers\r\n");
  }
  void Script(const std::string& name, const std::string& body) {
    fs::permissions(tmp.Write("prog/" + name, "#!/bin/sh\n" + body), fs::perms::owner_all);
  }
  std::string Report(const std::string& section, const std::string& key) {
    return platform::profile::ReadString(workDir + "HWIDs.ini", section, key, "<missing>");
  }
};

TEST_F(DeviceHandlersTest, SimpleCollectionFillsListsReportAndWorkingList) {
  Start();
  main->CollectHWIDsimpleButtonClick();
  const FormModel& f = main->Form();
  const auto& simple = f.Items("HWIDsSimpleListBox");
  ASSERT_GE(simple.size(), 8u);
  EXPECT_EQ(simple[0], "PCI Devices");
  EXPECT_EQ(simple[1], "PCI\\VEN_8086&DEV_1234\\3&11&0&10: Test bridge");
  EXPECT_EQ(simple[3], std::string(45, '*'));
  EXPECT_EQ(std::count(simple.begin(), simple.end(), std::string(45, '*')), 4);
  EXPECT_EQ(tmp.Read("win/dp_tavi/HWIDSL.txt").substr(0, 13), "PCI Devices\r\n");
  // The working list holds supported identifiers once each, the same as the combo box.
  const auto& work = f.Items("HWIDSforworklb");
  ASSERT_FALSE(work.empty());
  EXPECT_EQ(work, f.Items("HWIDSforWorkcbx"));
  for (const auto& id : work) EXPECT_TRUE(IsSupportedHWid(id)) << id;
  auto sorted = work;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(f.ItemIndex("MainPageControle"), 2);
  EXPECT_EQ(f.ItemIndex("HWIDsPageControl"), 1);
  auto keys = LogKeys();
  for (const char* key : {"log11", "log12", "log13", "log14"})
    EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end());
}

TEST_F(DeviceHandlersTest, PreparingTheWorkingListTwiceGivesTheSameLists) {
  Start();
  main->Form().SetItems("HWIDSforWorkcbx", {"PCI\\VEN_1&DEV_2\\3", "ROOT\\LEGACY\\0", "PCI\\VEN_1&DEV_2\\3",
                                            "USB\\VID_1&PID_2\\5"});
  main->CutDecreaseHWIDSbtnClick();
  const std::vector<std::string> expected{"PCI\\VEN_1&DEV_2\\3", "USB\\VID_1&PID_2\\5"};
  EXPECT_EQ(main->Form().Items("HWIDSforworklb"), expected);
  EXPECT_TRUE(LogHas("log11|3|%s"));
  EXPECT_TRUE(LogHas("log14|2|%s"));
  main->CutDecreaseHWIDSbtnClick();
  EXPECT_EQ(main->Form().Items("HWIDSforworklb"), expected);
  EXPECT_EQ(main->Form().Items("HWIDSforWorkcbx"), expected);
}

TEST_F(DeviceHandlersTest, ExtendedCollectionWritesReportAndDriverFiles) {
  Start();
  main->SetCaption("WinDirlbl", "C:\\WINDOWS");  // the Windows folder the tool's paths name
  // The report keeps what earlier runs wrote.
  tmp.Write("win/dp_tavi/HWIDs.ini", "[Earlier]\r\nKept=yes\r\n[Net]\r\n9Net-Name=old device\r\n");
  main->CollectClassesBtClick();
  EXPECT_EQ(Report("Earlier", "Kept"), "yes");
  EXPECT_EQ(Report("Net", "9Net-Name"), "old device");
  EXPECT_EQ(Report("Net", "1Net-HWID"), "PCI\\VEN_10EC&DEV_8168&SUBSYS_00011234&REV_01\\4&1&0&00E4");
  EXPECT_EQ(Report("Net", "1Net-Name"), "Realtek");
  EXPECT_EQ(Report("Net", "1Net-Driver installed from"), "C:\\WINDOWS\\inf\\net.inf");
  EXPECT_EQ(Report("Net", "1Net-Driver_file2"), "C:\\WINDOWS\\inf\\net.inf");
  EXPECT_EQ(Report("Net", "1Net-Driver_file3"), "C:\\WINDOWS\\system32\\drivers\\rt.sys");
  EXPECT_EQ(Report("Mouse", "1Mouse-Name"), "Mouse");
  EXPECT_EQ(Report("Display", "0Display-HWID"), "<missing>");
  EXPECT_NE(Report("Time & Date", "Start Date"), "<missing>");
  std::string drivers = tmp.Read("win/dp_tavi/drivers.txt");
  EXPECT_EQ(drivers.rfind("*Net\r\nPCI\\VEN_10EC", 0), 0u);
  EXPECT_NE(drivers.find("*Mouse\r\n"), std::string::npos);
  EXPECT_EQ(drivers.find("*Display"), std::string::npos);
  EXPECT_EQ(drivers.find("*Printer"), std::string::npos);  // no output, no empty class
  EXPECT_TRUE(tmp.Exists("win/dp_tavi/classes.txt"));
  EXPECT_FALSE(main->Form().Visible("EqGauge"));
  auto keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log5"), 1);
  EXPECT_EQ(main->Form().ItemIndex("HWIDsPageControl"), 0);
}

// With a saved driver list the question whether to collect again comes first; "please wait"
// is said only when the collection runs (Yes), not when the saved list is used (No).
TEST_F(DeviceHandlersTest, CollectingAgainAsksBeforeItSaysPleaseWait) {
  Start();
  main->CollectClassesBtClick();
  ASSERT_TRUE(tmp.Exists("win/dp_tavi/drivers.txt"));
  for (const bool again : {false, true}) {
    SCOPED_TRACE(again);
    const std::size_t before = LogKeys().size();
    ui.answers = {again};
    main->CollectClassesBtClick();
    const std::vector<std::string> keys = LogKeys();
    const std::vector<std::string> added(keys.begin() + static_cast<std::ptrdiff_t>(before), keys.end());
    EXPECT_EQ(std::count(added.begin(), added.end(), "log4"), again ? 1 : 0);
    EXPECT_EQ(std::count(added.begin(), added.end(), "log5"), 1);
    EXPECT_EQ(std::count(ui.shown.begin(), ui.shown.end(), "ask:msg3|%s"), again ? 2 : 1);
  }
}

TEST_F(DeviceHandlersTest, DriverFilesAreRecordedWhenTheyLieInTheWindowsFolder) {
  struct Case {
    std::string windowsFolder;
    std::string file;  // the driver file the tool names
    bool recorded;
  };
  const Case cases[] = {
      {"C:\\WINDOWS", "C:\\WINDOWS\\system32\\drivers\\rt.sys", true},
      {"C:\\WINNT", "C:\\WINNT\\system32\\drivers\\rt.sys", true},
      {"D:\\Windows.Old", "D:\\Windows.Old\\system32\\drivers\\rt.sys", true},
      {"C:\\WINDOWS\\", "C:\\WINDOWS\\system32\\drivers\\rt.sys", true},
      {winDir, winDir + "/System32/drivers/rt.sys", true},
      {"C:\\WINDOWS", "C:\\WINDOWSOLD\\rt.sys", false},  // a folder beside it
      {"C:\\WINDOWS", "C:\\WINDOWS", false},             // the folder itself
      {"C:\\WINDOWS", "D:\\Copy\\C:\\WINDOWS\\rt.sys", false},
      {"C:\\WINDOWS", "c:\\windows\\system32\\rt.sys", platform::PathsIgnoreCase()},
  };
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windowsFolder + " " + c.file);
    const std::string net =
        "'PCI\\VEN_10EC&DEV_8168\\4&1' '    Name: Ethernet'"
        " '    Driver installed from X:\\Source\\net.inf [RTL8168]. 1 file(s) used by driver:'"
        " '        " +
        c.file + "' '1 matching device(s) found.'";
    Script("devcon", "case \"$1 $2\" in\n  'driverfiles =Net') printf '%s\\n' " + net +
                         ";;\n  *) echo 'No matching devices found.';;\nesac\n");
    fs::remove(workDir + "HWIDs.ini");
    fs::remove(workDir + "drivers.txt");
    main->SetCaption("WinDirlbl", c.windowsFolder);
    main->CollectClassesBtClick();
    EXPECT_EQ(Report("Net", "1Net-HWID"), "PCI\\VEN_10EC&DEV_8168\\4&1");
    EXPECT_EQ(Report("Net", "1Net-Driver_file2"), "<missing>");
    EXPECT_EQ(Report("Net", "1Net-Driver_file3"), c.recorded ? c.file : "<missing>");
  }
}

TEST_F(DeviceHandlersTest, ExtendedCollectionWithoutAStartableDeviceConsoleSaysWhyAndKeepsTheTree) {
  struct Case {
    const char* name;
    std::function<void()> breakTool;
    std::string logged;  // the log line, or its start when the system's reason follows
    bool reason;
  };
  const Case cases[] = {
      {"missing", [&] { fs::remove(programDir + "devcon"); }, "log83|" + programDir + "|%s", false},
      {"no program", [&] { fs::permissions(tmp.Write("prog/devcon", "no program\n"), fs::perms::owner_all); },
       "log84|" + programDir + "devcon|", true},
  };
  const std::string tool = tmp.Read("prog/devcon");
  // Nothing on PATH either.
  ScopedEnv path("PATH", tmp.MakeDir("empty-bin"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(workDir + "drivers.txt");
    Start();
    main->CollectClassesBtClick();  // with the tool: a tree and a saved list
    const std::string drivers = tmp.Read("win/dp_tavi/drivers.txt");
    const std::vector<std::string> tree = Shape(main->Form().Tree("EqTreeView"));
    ASSERT_NE(std::find(tree.begin(), tree.end(), "0:*Net/0/-1"), tree.end())
        << ::testing::PrintToString(tree);
    c.breakTool();
    ui.answers = {true};  // collect anew
    main->CollectClassesBtClick();

    std::vector<std::string> said;
    for (const std::string& text : LogTexts()) {
      if (text.rfind("log83|", 0) == 0 || text.rfind("log84|", 0) == 0) said.push_back(text);
    }
    ASSERT_EQ(said.size(), 1u);
    if (c.reason) {
      EXPECT_EQ(said[0].rfind(c.logged, 0), 0u) << said[0];
      EXPECT_GT(said[0].size(), c.logged.size() + 2) << "the reason is missing";
    } else {
      EXPECT_EQ(said[0], c.logged);
    }
    auto keys = LogKeys();
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "log5"), 1);  // only the first run finished
    // No class was added: the saved list and the tree are those of the first run.
    EXPECT_EQ(tmp.Read("win/dp_tavi/drivers.txt"), drivers);
    EXPECT_EQ(Shape(main->Form().Tree("EqTreeView")), tree);
    EXPECT_TRUE(main->Form().Items("ThirdFilterlb").empty());
    EXPECT_FALSE(main->Form().Visible("EqGauge"));
    main.reset();
    fs::permissions(tmp.Write("prog/devcon", tool), fs::perms::owner_all);
  }
}

TEST_F(DeviceHandlersTest, ExtendedCollectionReusesDriverListWhenAsked) {
  Start();
  tmp.Write("win/dp_tavi/drivers.txt", "*Net\r\nPCI\\VEN_1\r\n");
  ui.answers = {false};
  main->CollectClassesBtClick();
  EXPECT_FALSE(tmp.Exists("win/dp_tavi/HWIDs.ini"));
  EXPECT_EQ(tmp.Read("win/dp_tavi/drivers.txt"), "*Net\r\nPCI\\VEN_1\r\n");
  EXPECT_EQ(ui.shown.front(), "ask:msg3|%s");
  // The saved list is shown as the tree (after the computer's name: the class with its
  // identifier below it), the simple collection runs, and the reuse is logged once.
  const std::vector<std::string> shape = Shape(main->Form().Get("EqTreeView").tree);
  ASSERT_EQ(shape.size(), 3u);
  EXPECT_EQ(shape[1].rfind("0:*Net/", 0), 0u) << shape[1];
  EXPECT_EQ(shape[2].rfind("1:PCI\\VEN_1/", 0), 0u) << shape[2];
  EXPECT_FALSE(main->Form().Items("HWIDsSimpleListBox").empty());
  const auto keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log5"), 1);
}

TEST_F(DeviceHandlersTest, MissingClassListStopsWithError) {
  Start();
  fs::remove(programDir + "Data/classes.tavi");
  EXPECT_TRUE(main->Invoke("CollectClassesBtClick"));
  EXPECT_EQ(ui.shown.back().rfind("error:", 0), 0u);
}

TEST_F(DeviceHandlersTest, PickingSearchingAndToggling) {
  Start();
  FormModel& f = main->Form();
  // Before an identifier is picked there is nothing to search for.
  main->HWIDSelectlbClick();
  EXPECT_TRUE(ui.urls.empty());
  f.SetItems("HWIDSforWorkcbx", {"PCI\\VEN_1AB2&DEV_3C4D&SUBSYS_5E6F7A8B&REV_02\\3&11583659&0&E0"});
  f.SetItemIndex("HWIDSforWorkcbx", 0);
  main->HWIDSforWorkcbxSelect();
  EXPECT_EQ(main->Caption("HWIDSelectlb"), "PCI\\VEN_1AB2&DEV_3C4D");
  main->HWIDSelectlbClick();
  // The whole identifier reaches the search, not the part before its first '&'.
  EXPECT_EQ(ui.urls.back(), "https://www.google.com/search?q=PCI%5CVEN_1AB2%26DEV_3C4D");
  EXPECT_EQ(ui.urls.size(), 1u);
  const auto keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log85"), 0);
  ui.urlsOpen = false;  // no browser could be started
  main->HWIDSelectlbClick();
  EXPECT_TRUE(LogHas("log85|https://www.google.com/search?q=PCI%5CVEN_1AB2%26DEV_3C4D|%s"));

  f.SetItems("HWIDS2Installchb", {"a", "b"});
  main->HWIDSlabelClick();
  EXPECT_TRUE(f.Checked("HWIDS2Installchb", 0) && f.Checked("HWIDS2Installchb", 1));
  main->HWIDSlabelClick();
  EXPECT_FALSE(f.Checked("HWIDS2Installchb", 0) || f.Checked("HWIDS2Installchb", 1));
  EXPECT_EQ(main->Caption("HWIDSlabel"), "Select All");

  main->EqTreeViewClick();
  EXPECT_EQ(main->Caption("NodeNameLbl"), "Ready");
  f.SetCaption("EqTreeView", "*Net");
  main->EqTreeViewClick();
  EXPECT_EQ(main->Caption("NodeNameLbl"), "*Net");
}

}  // namespace
