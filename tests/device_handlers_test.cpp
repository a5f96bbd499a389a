// The HWIDs page operations over a scripted device console and a made-up list of the machine's
// devices: no process is started and no device is read, so they run in both test programs.
// What needs the Linux sysfs fixture and a real device console is in device_handlers_sysfs_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devices/hwid_rules.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "shared/shared_functions.h"
#include "support/app_fixture.h"
#include "support/fake_tools.h"
#include "support/tree_shape.h"

namespace {

namespace fs = std::filesystem;

const std::string kStars(45, '*');
const std::string kNone = "No matching devices found.";

platform::devices::DeviceInfo Device(std::string instanceId, std::vector<std::string> hardwareIds = {}) {
  platform::devices::DeviceInfo device;
  device.instanceId = std::move(instanceId);
  device.hardwareIds = std::move(hardwareIds);
  return device;
}

class DeviceHandlersTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    tools = &fake;
    // The machine: a bridge, two keyboards that share their star form, a device of a bus the
    // search does not know, one whose instance identifier is too long to be one, and a mouse.
    fake.devices = {
        Device("PCI\\VEN_8086&DEV_1234&SUBSYS_00000000&REV_01\\3&11&0&10",
               {"PCI\\VEN_8086&DEV_1234&SUBSYS_00000000&REV_01", "PCI\\VEN_8086&DEV_1234"}),
        Device("ACPI\\PNP0303\\0", {"ACPI\\PNP0303", "*PNP0303"}),
        Device("ROOT\\LEGACY_BEEP\\0000"),
        Device("USB\\VID_1234&PID_5678\\" + std::string(190, '7'), {"*TOOLONG"}),
        Device("ACPI\\PNP0303\\1", {"ACPI\\PNP0303", "*PNP0303"}),
        Device("USB\\VID_046D&PID_C52B\\7&1", {"USB\\VID_046D&PID_C52B"}),
    };
    // The device console: two classes with devices, one it says nothing about, every other
    // class without devices; the simple collection finds bridges only.
    fake.On("DEVCON find ", Prints({kNone}));
    fake.On("DEVCON find pci*",
            Prints({"PCI\\VEN_8086&DEV_1234\\3&11&0&10: Test bridge", "1 matching device(s) found."}));
    fake.On("devcon driverfiles =", Prints({kNone}));
    fake.On(
        "devcon driverfiles =Net",
        Prints({"PCI\\VEN_10EC&DEV_8168&SUBSYS_00011234&REV_01\\4&1&0&00E4", "    Name: Realtek: Ethernet",
                "    Driver installed from C:\\WINDOWS\\inf\\net.inf [RTL8168]. 2 file(s) used by driver:",
                "        C:\\WINDOWS\\system32\\drivers\\rt.sys", "1 matching device(s) found."}));
    fake.On("devcon driverfiles =Mouse",
            Prints({"HID\\VID_046D&PID_C52B\\7&1", "    Name: Mouse", "1 matching device(s) found."}));
    fake.On("devcon driverfiles =Printer", {});
    tmp.Write("prog/Data/classes.tavi",
              "Net: Network adapters\r\nDisplay: Display adapters\r\n\r\n  Mouse  \r\nPrinter: Printers\r\n");
  }
  std::string Report(const std::string& section, const std::string& key) {
    return platform::profile::ReadString(workDir + "HWIDs.ini", section, key, "<missing>");
  }
  std::string Work(const std::string& name) { return platform::ReadWholeFile(workDir + name); }
  void WriteWork(const std::string& name, const std::string& content) {
    fs::create_directories(workDir);
    std::ofstream(workDir + name, std::ios::binary) << content;
  }
  std::size_t Count(const std::string& key) const {
    const std::vector<std::string> keys = LogKeys();
    return static_cast<std::size_t>(std::count(keys.begin(), keys.end(), key));
  }

  FakeTools fake;
};

// The search IDs of the devices above, each once, in the machine's order.
const std::vector<std::string> kMachineIds = {
    "PCI\\VEN_8086&DEV_1234&SUBSYS_00000000&REV_01\\3&11&0&10",
    "ACPI\\PNP0303\\0",
    "*PNP0303",
    "ROOT\\LEGACY_BEEP\\0000",
    "ACPI\\PNP0303\\1",
    "USB\\VID_046D&PID_C52B\\7&1",
};
// What the machine gives the search before repeats are removed: the keyboards' star form twice.
const std::vector<std::string> kMachineSearchIds = {
    "PCI\\VEN_8086&DEV_1234&SUBSYS_00000000&REV_01\\3&11&0&10",
    "ACPI\\PNP0303\\0",
    "*PNP0303",
    "ROOT\\LEGACY_BEEP\\0000",
    "ACPI\\PNP0303\\1",
    "*PNP0303",
    "USB\\VID_046D&PID_C52B\\7&1",
};
// Those the search works with.
const std::vector<std::string> kWorkingIds = {
    "PCI\\VEN_8086&DEV_1234&SUBSYS_00000000&REV_01\\3&11&0&10",
    "ACPI\\PNP0303\\0",
    "*PNP0303",
    "ACPI\\PNP0303\\1",
    "USB\\VID_046D&PID_C52B\\7&1",
};

TEST_F(DeviceHandlersTest, SimpleCollectionFillsListsReportAndWorkingList) {
  Start();
  main->CollectHWIDsimpleButtonClick();
  const FormModel& f = main->Form();
  // The device console is asked family by family, in this order.
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"DEVCON find pci*", "DEVCON find usb*", "DEVCON find hid*",
                                                  "DEVCON find acpi*"}));
  const std::vector<std::string> simple = {
      "PCI Devices",
      "PCI\\VEN_8086&DEV_1234\\3&11&0&10: Test bridge",
      "1 matching device(s) found.",
      kStars,
      "USB Devices",
      kNone,
      kStars,
      "Input Devices",
      kNone,
      kStars,
      "ACPI Devices",
      kNone,
      kStars,
  };
  EXPECT_EQ(f.Items("HWIDsSimpleListBox"), simple);
  EXPECT_TRUE(f.Items("HWIDsSimpleTempMemo").empty());
  std::string saved;
  for (const std::string& line : simple) saved += line + "\r\n";
  EXPECT_EQ(Work("HWIDSL.txt"), saved);
  // The machine's devices with their star forms, each once; the working list keeps the
  // supported ones, the same as the combo box.
  EXPECT_EQ(f.Items("GetDevlb"), kMachineIds);
  EXPECT_EQ(platform::ReadTextLines(workDir + "HWIDSTEMP.txt"), kMachineIds);
  EXPECT_EQ(f.Items("HWIDSforworklb"), kWorkingIds);
  EXPECT_EQ(f.Items("HWIDSforWorkcbx"), kWorkingIds);
  EXPECT_EQ(f.ItemIndex("MainPageControle"), 2);
  EXPECT_EQ(f.ItemIndex("HWIDsPageControl"), 1);
  EXPECT_TRUE(LogHas("log11|5|%s"));
  EXPECT_TRUE(LogHas("log14|5|%s"));
  EXPECT_TRUE(LogHas("log120|" + GetComputerNetName() + "|%s|%s"));
  for (const char* key : {"log12", "log13"}) EXPECT_EQ(Count(key), 1u) << key;
}

// The working list comes from this computer's devices only when nothing else gave it one.
TEST_F(DeviceHandlersTest, WorkingListComesFromTheMachineOnlyWhenEmpty) {
  struct Case {
    const char* name;
    std::vector<std::string> given;  // the combo box before
    std::vector<std::string> expected;
    std::size_t supported;  // log11
  };
  const Case cases[] = {
      {"empty: the machine's devices", {}, kWorkingIds, 6},
      {"given: repeats and unsupported IDs go",
       {"PCI\\VEN_1&DEV_2\\3", "ROOT\\LEGACY\\0", "PCI\\VEN_1&DEV_2\\3", "USB\\VID_1&PID_2\\5"},
       {"PCI\\VEN_1&DEV_2\\3", "USB\\VID_1&PID_2\\5"},
       3},
      {"given: none supported", {"ROOT\\LEGACY\\0"}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    main->Form().SetItems("HWIDSforWorkcbx", c.given);
    main->CutDecreaseHWIDSbtnClick();
    EXPECT_EQ(main->Form().Items("HWIDSforworklb"), c.expected);
    EXPECT_EQ(main->Form().Items("HWIDSforWorkcbx"), c.expected);
    EXPECT_EQ(main->Form().Items("HWIDSTEMPlb"), c.given.empty() ? kMachineSearchIds : c.given);
    EXPECT_TRUE(LogHas("log11|" + std::to_string(c.supported) + "|%s"));
    EXPECT_TRUE(LogHas("log14|" + std::to_string(c.expected.size()) + "|%s"));
    EXPECT_TRUE(fake.calls.empty());  // the device console is not asked
    // A second run gives the same lists (an empty list is filled from the machine again).
    main->CutDecreaseHWIDSbtnClick();
    const std::vector<std::string>& again = c.expected.empty() ? kWorkingIds : c.expected;
    EXPECT_EQ(main->Form().Items("HWIDSforworklb"), again);
    EXPECT_EQ(main->Form().Items("HWIDSforWorkcbx"), again);
    main.reset();
  }
}

TEST_F(DeviceHandlersTest, ExtendedCollectionWritesReportAndDriverFiles) {
  Start();
  main->SetCaption("WinDirlbl", "C:\\WINDOWS");  // the Windows folder the tool's paths name
  // The report keeps what earlier runs wrote.
  WriteWork("HWIDs.ini", "[Earlier]\r\nKept=yes\r\n[Net]\r\n9Net-Name=old device\r\n");
  main->CollectClassesBtClick();
  // Each class of the list once, in its order, by the name before its colon; no blank line.
  EXPECT_EQ(fake.CallsWith("devcon"),
            (std::vector<std::string>{"devcon driverfiles =Net", "devcon driverfiles =Display",
                                      "devcon driverfiles =Mouse", "devcon driverfiles =Printer"}));
  EXPECT_EQ(Report("Earlier", "Kept"), "yes");
  EXPECT_EQ(Report("Net", "9Net-Name"), "old device");
  EXPECT_EQ(Report("Net", "1Net-HWID"), "PCI\\VEN_10EC&DEV_8168&SUBSYS_00011234&REV_01\\4&1&0&00E4");
  EXPECT_EQ(Report("Net", "1Net-Name"), "Realtek");
  EXPECT_EQ(Report("Net", "1Net-Driver installed from"), "C:\\WINDOWS\\inf\\net.inf");
  EXPECT_EQ(Report("Net", "1Net-Driver_file2"), "C:\\WINDOWS\\inf\\net.inf");
  EXPECT_EQ(Report("Net", "1Net-Driver_file3"), "C:\\WINDOWS\\system32\\drivers\\rt.sys");
  EXPECT_EQ(Report("Mouse", "1Mouse-HWID"), "HID\\VID_046D&PID_C52B\\7&1");
  EXPECT_EQ(Report("Mouse", "1Mouse-Name"), "Mouse");
  EXPECT_EQ(Report("Display", "0Display-HWID"), "<missing>");
  EXPECT_NE(Report("Time & Date", "Start Date"), "<missing>");
  EXPECT_NE(Report("Time & Date", "Start Time"), "<missing>");
  // The saved list: each class with devices as "*<class>" above the console's lines; a class
  // without devices, or without any line, adds nothing.
  EXPECT_EQ(
      Work("drivers.txt"),
      "*Net\r\nPCI\\VEN_10EC&DEV_8168&SUBSYS_00011234&REV_01\\4&1&0&00E4\r\n    Name: Realtek: Ethernet\r\n"
      "    Driver installed from C:\\WINDOWS\\inf\\net.inf [RTL8168]. 2 file(s) used by driver:\r\n"
      "        C:\\WINDOWS\\system32\\drivers\\rt.sys\r\n1 matching device(s) found.\r\n"
      "*Mouse\r\nHID\\VID_046D&PID_C52B\\7&1\r\n    Name: Mouse\r\n1 matching device(s) found.\r\n");
  EXPECT_EQ(platform::ReadTextLines(workDir + "classes.txt"),
            (std::vector<std::string>{"Net: Network adapters", "Display: Display adapters", "", "  Mouse  ",
                                      "Printer: Printers"}));
  // The tree: the computer's name, then each class with its lines below it.
  const std::vector<std::string> tree = Shape(main->Form().Tree("EqTreeView"));
  ASSERT_FALSE(tree.empty());
  EXPECT_EQ(tree[0].rfind("0:" + GetComputerNetName() + "/", 0), 0u) << tree[0];
  EXPECT_EQ(std::count_if(tree.begin(), tree.end(),
                          [](const std::string& node) { return node.rfind("0:*", 0) == 0; }),
            2);
  EXPECT_FALSE(main->Form().Visible("EqGauge"));
  EXPECT_EQ(Count("log4"), 1u);
  EXPECT_EQ(Count("log5"), 1u);
  // The simple collection runs at the end, and the tree page is shown again.
  EXPECT_EQ(fake.CallsWith("DEVCON find ").size(), 4u);
  EXPECT_EQ(main->Form().Items("HWIDSforworklb"), kWorkingIds);
  EXPECT_EQ(main->Form().ItemIndex("MainPageControle"), 2);
  EXPECT_EQ(main->Form().ItemIndex("HWIDsPageControl"), 0);
}

// With a saved driver list the question whether to collect again comes first; "please wait"
// is said only when the collection runs (Yes), not when the saved list is used (No).
TEST_F(DeviceHandlersTest, CollectingAgainAsksBeforeItSaysPleaseWait) {
  Start();
  main->CollectClassesBtClick();
  ASSERT_TRUE(fs::exists(workDir + "drivers.txt"));
  for (const bool again : {false, true}) {
    SCOPED_TRACE(again);
    const std::size_t before = LogKeys().size();
    const std::size_t asked = fake.CallsWith("driverfiles").size();
    ui.answers = {again};
    main->CollectClassesBtClick();
    const std::vector<std::string> keys = LogKeys();
    const std::vector<std::string> added(keys.begin() + static_cast<std::ptrdiff_t>(before), keys.end());
    EXPECT_EQ(std::count(added.begin(), added.end(), "log4"), again ? 1 : 0);
    EXPECT_EQ(std::count(added.begin(), added.end(), "log5"), 1);
    EXPECT_EQ(std::count(ui.shown.begin(), ui.shown.end(), "ask:msg3|%s"), again ? 2 : 1);
    EXPECT_EQ(fake.CallsWith("driverfiles").size() - asked, again ? 4u : 0u);
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
    fake.On("devcon driverfiles =Net",
            Prints({"PCI\\VEN_10EC&DEV_8168\\4&1", "    Name: Ethernet",
                    "    Driver installed from X:\\Source\\net.inf [RTL8168]. 1 file(s) used by driver:",
                    "        " + c.file, "1 matching device(s) found."}));
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
    std::string foundAt;  // where the program search finds the console
    std::string reason;   // why it does not start
    std::uint32_t code;
    std::string logged;  // the log line; "<folder>" stands for the program's folder
  };
  const std::string found = programDir + "devcon.exe";
  const Case cases[] = {
      {"missing", "", "The system cannot find the file specified.", 2, "log83|<folder>|%s"},
      {"found, not a program", found, "The file is not a valid program.", 193,
       "log84|" + found + "|The file is not a valid program."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(workDir + "drivers.txt");
    fake.programs.clear();
    Start();
    main->CollectClassesBtClick();  // with the console: a tree and a saved list
    const std::string drivers = Work("drivers.txt");
    const std::vector<std::string> tree = Shape(main->Form().Tree("EqTreeView"));
    ASSERT_NE(std::find(tree.begin(), tree.end(), "0:*Net/0/-1"), tree.end())
        << ::testing::PrintToString(tree);

    if (!c.foundAt.empty()) fake.programs["devcon"] = c.foundAt;
    ToolAnswer broken;
    broken.notStarted = platform::process::ProcessFailure{c.reason, c.code};
    fake.On("devcon driverfiles", broken);
    const std::size_t asked = fake.calls.size();
    ui.answers = {true};  // collect anew
    main->CollectClassesBtClick();

    // The first class stops the collection: nothing more is started.
    EXPECT_EQ(
        std::vector<std::string>(fake.calls.begin() + static_cast<std::ptrdiff_t>(asked), fake.calls.end()),
        std::vector<std::string>{"devcon driverfiles =Net"});
    std::vector<std::string> said;
    for (const std::string& text : LogTexts()) {
      if (text.rfind("log83|", 0) == 0 || text.rfind("log84|", 0) == 0) said.push_back(text);
    }
    std::string logged = c.logged;
    if (const auto at = logged.find("<folder>"); at != std::string::npos) {
      logged.replace(at, 8, platform::process::ProgramFolder());
    }
    EXPECT_EQ(said, std::vector<std::string>{logged});
    EXPECT_EQ(Count("log5"), 1u);  // only the first run finished
    // No class was added: the saved list and the tree are those of the first run.
    EXPECT_EQ(Work("drivers.txt"), drivers);
    EXPECT_EQ(Shape(main->Form().Tree("EqTreeView")), tree);
    EXPECT_TRUE(main->Form().Items("ThirdFilterlb").empty());
    EXPECT_FALSE(main->Form().Visible("EqGauge"));
    EXPECT_EQ(main->Form().GaugePosition("EqGauge"), 0);
    main.reset();
    // The next case starts with a console that works again.
    fake.On("devcon driverfiles =", Prints({kNone}));
    fake.On("devcon driverfiles =Net",
            Prints({"PCI\\VEN_10EC&DEV_8168\\4&1", "1 matching device(s) found."}));
  }
}

TEST_F(DeviceHandlersTest, ExtendedCollectionReusesDriverListWhenAsked) {
  Start();
  WriteWork("drivers.txt", "*Net\r\nPCI\\VEN_1\r\n");
  ui.answers = {false};
  main->CollectClassesBtClick();
  EXPECT_FALSE(fs::exists(workDir + "HWIDs.ini"));
  EXPECT_EQ(Work("drivers.txt"), "*Net\r\nPCI\\VEN_1\r\n");
  EXPECT_EQ(ui.shown.front(), "ask:msg3|%s");
  EXPECT_TRUE(fake.CallsWith("driverfiles").empty());
  // The saved list is shown as the tree (after the computer's name: the class with its
  // identifier below it), the simple collection runs, and the reuse is logged once.
  const std::vector<std::string> shape = Shape(main->Form().Get("EqTreeView").tree);
  ASSERT_EQ(shape.size(), 3u);
  EXPECT_EQ(shape[1].rfind("0:*Net/", 0), 0u) << shape[1];
  EXPECT_EQ(shape[2].rfind("1:PCI\\VEN_1/", 0), 0u) << shape[2];
  EXPECT_EQ(fake.CallsWith("DEVCON find ").size(), 4u);
  EXPECT_FALSE(main->Form().Items("HWIDsSimpleListBox").empty());
  EXPECT_EQ(Count("log5"), 1u);
}

TEST_F(DeviceHandlersTest, MissingClassListStopsWithError) {
  Start();
  fs::remove(programDir + "Data/classes.tavi");
  EXPECT_TRUE(main->Invoke("CollectClassesBtClick"));
  EXPECT_EQ(ui.shown.back().rfind("error:", 0), 0u);
  EXPECT_TRUE(fake.CallsWith("driverfiles").empty());
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
  EXPECT_EQ(Count("log85"), 0u);
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
