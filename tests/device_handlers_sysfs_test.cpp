// The HWIDs page operations on the real seam: the machine's devices read from a recorded sysfs
// tree, and shell scripts started as the device console. The operations themselves are tested
// on a scripted console in device_handlers_test.cpp, in both test programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "devices/hwid_rules.h"
#include "support/app_fixture.h"
#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;

class DeviceHandlersSysfsTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    sysfs_.emplace("VELMORA_SYSFS", std::string(VELMORA_TESTDATA_DIR) + "/sysfs/laptop/sys");
    tmp.Write("prog/Data/classes.tavi", "Net: Network adapters\r\n");
  }
  void Script(const std::string& name, const std::string& body) {
    fs::permissions(tmp.Write("prog/" + name, "#!/bin/sh\n" + body), fs::perms::owner_all);
  }

 private:
  std::optional<ScopedEnv> sysfs_;
};

// The simple collection reads this machine's devices (here the laptop's sysfs tree) and asks the
// device console found beside the program.
TEST_F(DeviceHandlersSysfsTest, SimpleCollectionReadsTheMachinesDevicesAndItsConsole) {
  Script("devcon",
         "case \"$1 $2\" in\n"
         "  'find pci*') printf '%s\\n' 'PCI\\VEN_8086&DEV_1234\\3&11&0&10: Test bridge';;\n"
         "  *) echo 'No matching devices found.';;\n"
         "esac\n");
  Start();
  main->CollectHWIDsimpleButtonClick();
  const FormModel& f = main->Form();
  const std::vector<std::string> simple(f.Items("HWIDsSimpleListBox"));
  ASSERT_EQ(simple.size(), 12u) << ::testing::PrintToString(simple);
  EXPECT_EQ(simple[1], "PCI\\VEN_8086&DEV_1234\\3&11&0&10: Test bridge");
  EXPECT_EQ(simple[4], "No matching devices found.");
  // The keyboard's instance ID, then its star form, which only the hardware IDs give.
  const std::vector<std::string>& work = f.Items("HWIDSforworklb");
  const auto keyboard = std::find(work.begin(), work.end(), "ACPI\\PNP0303\\0");
  ASSERT_NE(keyboard, work.end()) << ::testing::PrintToString(work);
  ASSERT_NE(keyboard + 1, work.end());
  EXPECT_EQ(*(keyboard + 1), "*PNP0303");
  EXPECT_NE(
      std::find_if(work.begin(), work.end(), [](const std::string& id) { return id.rfind("PCI\\", 0) == 0; }),
      work.end());
  for (const std::string& id : work) EXPECT_TRUE(IsSupportedHWid(id)) << id;
  std::vector<std::string> sorted = work;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(work, f.Items("HWIDSforWorkcbx"));
}

// Without a device console that starts, the log says where it was looked for, or the system's
// reason why the one found did not start.
TEST_F(DeviceHandlersSysfsTest, ExtendedCollectionSaysWhyTheDeviceConsoleDidNotStart) {
  struct Case {
    const char* name;
    const char* tool;    // the file named devcon beside the program; null: none
    std::string logged;  // the log line, or its start when the system's reason follows
    bool reason;
  };
  const Case cases[] = {
      {"missing", nullptr, "log83|" + programDir + "|%s", false},
      {"no program", "no program\n", "log84|" + programDir + "devcon|", true},
  };
  // Nothing on PATH either.
  ScopedEnv path("PATH", tmp.MakeDir("empty-bin"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(programDir + "devcon");
    if (c.tool != nullptr) fs::permissions(tmp.Write("prog/devcon", c.tool), fs::perms::owner_all);
    Start();
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
    EXPECT_FALSE(fs::exists(workDir + "drivers.txt"));
    main.reset();
  }
}

}  // namespace
