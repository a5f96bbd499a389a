// The HWIDs-extended page: the working list of identifiers, the simple and the extended
// collection with the device console, and the selection helpers.
#include <chrono>
#include <ctime>

#include "app/main_form.h"
#include "base/text_util.h"
#include "devices/get_device_list.h"
#include "devices/hwid_rules.h"
#include "lang/form_translation.h"
#include "packs/runners.h"
#include "platform/files.h"
#include "platform/ini_text.h"
#include "platform/process.h"
#include "shared/shared_functions.h"

namespace {

constexpr const char* kSearchPage = "https://www.google.com/search?q=";
constexpr int kHwidsPage = 2;
constexpr int kTreeTab = 0;
constexpr int kSimpleTab = 1;

}  // namespace

void TMainfrm::CutDecreaseHWIDSbtnClick() {
  // Another computer's list stays the source even when none of its IDs is usable: this
  // computer's IDs are not taken in their place.
  if (form_.Items("HWIDSforWorkcbx").empty() && hardwareIdSource_.empty()) {
    form_.SetItems("HWIDSforWorkcbx", SearchIdsOf(tools_.EnumerateHardwareIds()));
  }
  const std::string tempFile = Caption("Workdir") + "HWIDSTEMP.txt";
  platform::WriteTextLines(tempFile, form_.Items("HWIDSforWorkcbx"));
  form_.ClearItems("HWIDSTEMPlb");
  form_.SetItems("HWIDSTEMPlb", platform::ReadTextLines(tempFile));
  form_.ClearItems("HWIDSforworklb");
  form_.ClearItems("HWIDSforWorkcbx");

  std::vector<std::string> work;
  for (const std::string& id : form_.Items("HWIDSTEMPlb")) {
    if (IsSupportedHWid(id)) work.push_back(id);
  }
  LogKey("log11", {std::to_string(work.size())});
  LogKey("log12");
  LogKey("log13");
  DeleteDuples(&work);
  LogKey("log14", {std::to_string(work.size())});
  run_.hardwareIdsUsed = hardwareIdSource_.empty() ? Msg("log120", {GetComputerNetName()})
                                                   : Msg("log121", {hardwareIdSource_});
  Log(run_.hardwareIdsUsed);
  form_.SetItems("HWIDSforworklb", work);
  form_.AppendItems("HWIDSforWorkcbx", work);
}

void TMainfrm::GetDevlbBtnClick() {
  // Collecting this computer's devices makes them the IDs the search uses again.
  hardwareIdSource_.clear();
  form_.SetItemIndex("MainPageControle", kHwidsPage);
  form_.SetItemIndex("HWIDsPageControl", kSimpleTab);

  std::vector<std::string> devices = SearchIdsOf(tools_.EnumerateHardwareIds());
  DeleteDuples(&devices);
  form_.SetItems("GetDevlb", std::move(devices));

  const std::string workdir = Caption("Workdir");
  platform::WriteTextLines(workdir + "HWIDSTEMP.txt", form_.Items("GetDevlb"));
  form_.ClearItems("HWIDSforWorkcbx");
  form_.SetItems("HWIDSforWorkcbx", platform::ReadTextLines(workdir + "HWIDSTEMP.txt"));

  form_.ClearItems("HWIDsSimpleListBox");
  struct Family {
    const char* title;
    const char* argument;
  };
  for (const Family& family : {Family{"PCI Devices", "find pci*"}, Family{"USB Devices", "find usb*"},
                               Family{"Input Devices", "find hid*"}, Family{"ACPI Devices", "find acpi*"}}) {
    form_.AppendItem("HWIDsSimpleListBox", family.title);
    // The memo collects the tool's output as one block of text and breaks it into lines.
    std::string memo;
    for (const std::string& line : form_.Items("HWIDsSimpleTempMemo")) memo += line + "\r\n";
    tools_.CaptureConsoleOutput(std::string("DEVCON ") + family.argument, memo, &ui_);
    const std::vector<std::string_view> lines = SplitLines(memo);
    form_.SetItems("HWIDsSimpleTempMemo", std::vector<std::string>(lines.begin(), lines.end()));
    form_.AppendItems("HWIDsSimpleListBox", form_.Items("HWIDsSimpleTempMemo"));
    form_.AppendItem("HWIDsSimpleListBox", std::string(45, '*'));
    form_.ClearItems("HWIDsSimpleTempMemo");
  }

  CutDecreaseHWIDSbtnClick();
  platform::WriteTextLines(workdir + "HWIDSL.txt", form_.Items("HWIDsSimpleListBox"));
}

void TMainfrm::CollectHWIDsimpleButtonClick() { GetDevlbBtnClick(); }

void TMainfrm::CollectClassesBtClick() {
  form_.SetItemIndex("MainPageControle", kHwidsPage);
  form_.SetItemIndex("HWIDsPageControl", kTreeTab);

  // First the question whether to collect again, then the "please wait" of the collection.
  const std::string workdir = Caption("Workdir");
  const std::string driversFile = workdir + "drivers.txt";
  if (platform::FileExists(driversFile) && !AskYesNo(Msg("msg3"), true)) {
    form_.SetItems("FirstFilterlb", platform::ReadTextLines(driversFile));
    ConvertLoadBtClick();
    GetDevlbBtnClick();
    LogKey("log5");
    return;
  }
  LogKey("log4");

  form_.ClearItems("FirstFilterlb");
  form_.ClearItems("SecondFilterlb");
  form_.ClearItems("ThirdFilterlb");
  form_.SetGaugePosition("EqGauge", 0);
  form_.SetVisible("EqGauge", true);

  // The report keeps what earlier runs wrote; keys of the same name are overwritten.
  const std::string reportFile = workdir + "HWIDs.ini";
  platform::IniDocument report;
  if (platform::FileExists(reportFile)) report = platform::IniDocument::Parse(platform::ReadWholeFile(reportFile));
  report.Set("Time & Date", "Start Date", FormatNow("%d.%m.%Y"));
  report.Set("Time & Date", "Start Time", FormatNow("%H:%M:%S"));
  platform::WriteFileAtomically(reportFile, report.ToText());

  form_.SetItems("SecondFilterlb", platform::ReadTextLines(ProgramFolder() + "Data" + Sep() + "classes.tavi"));
  form_.SetGaugeMax("EqGauge", static_cast<int>(form_.Items("SecondFilterlb").size()));
  ui_.ProcessMessages();
  platform::WriteTextLines(workdir + "classes.txt", form_.Items("SecondFilterlb"));
  ui_.ProcessMessages();

  const std::string winDir = Caption("WinDirlbl");
  const std::vector<std::string> classes = form_.Items("SecondFilterlb");
  for (std::size_t k = 0; k < classes.size(); ++k) {
    const std::string& classLine = classes[k];
    const std::string className = TrimBlanks(classLine.substr(0, classLine.find(':')));
    if (className.empty()) continue;  // a blank line of the class list names no class

    std::vector<std::string> output;
    platform::process::ProcessFailure failure;
    if (!tools_.RunAny("devcon driverfiles =" + className, output, {}, &failure)) {
      // Without the device console no class can be collected: say where it was looked for, or
      // why the one found did not start, and leave the tree and the saved list as they are.
      const std::string found = tools_.FindProgram("devcon");
      if (found.empty()) {
        LogKey("log83", {platform::process::ProgramFolder()});
      } else {
        LogKey("log84", {found, failure.message});
      }
      form_.SetGaugePosition("EqGauge", 0);
      form_.SetVisible("EqGauge", false);
      return;
    }
    form_.SetItems("FirstFilterlb", output);
    // A class without any line of output (the tool failed) would only be an empty node.
    if (!output.empty() && output.front() != "No matching devices found.") {
      form_.AppendItem("ThirdFilterlb", "*" + className);
      form_.AppendItems("ThirdFilterlb", output);
    }

    int n = 0;
    for (std::size_t l = 0; l < output.size(); ++l) {
      std::string line = output[l];
      auto key = [&](const std::string& what) { return std::to_string(n) + className + "-" + what; };
      if (IsSupportedHWid(line)) {
        ++n;
        report.Set(className, key("HWID"), TrimBlanks(line));
      }
      std::string trimmed = TrimBlanks(line);
      if (trimmed.compare(0, 4, "Name") == 0) {
        std::size_t first = line.find(':');
        std::string name;
        if (first != std::string::npos) {
          std::size_t second = line.find(':', first + 1);
          name = line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        }
        report.Set(className, key("Name"), TrimBlanks(name));
      }
      if (trimmed.compare(0, 4, "Driv") == 0) {
        std::string before = TrimBlanks(line.substr(0, line.find('[')));
        line = before.size() > 22 ? before.substr(22) : std::string();
        report.Set(className, key("Driver installed from"), line);
        trimmed = TrimBlanks(line);
      }
      if (IsInFolder(trimmed, winDir, platform::PathsIgnoreCase())) {
        report.Set(className, key("Driver_file") + std::to_string(l), trimmed);
      }
    }
    platform::WriteFileAtomically(reportFile, report.ToText());
    form_.SetGaugePosition("EqGauge", static_cast<int>(k));
  }

  form_.ClearItems("FirstFilterlb");
  form_.ClearItems("SecondFilterlb");
  form_.SetItems("FirstFilterlb", form_.Items("ThirdFilterlb"));
  platform::WriteTextLines(driversFile, form_.Items("ThirdFilterlb"));
  form_.SetGaugePosition("EqGauge", 0);
  form_.SetVisible("EqGauge", false);

  ConvertLoadBtClick();
  LogKey("log5");
  GetDevlbBtnClick();
  form_.SetItemIndex("MainPageControle", kHwidsPage);
  form_.SetItemIndex("HWIDsPageControl", kTreeTab);
}

void TMainfrm::HWIDSforWorkcbxSelect() {
  const auto& items = form_.Items("HWIDSforWorkcbx");
  const int index = form_.ItemIndex("HWIDSforWorkcbx");
  if (index < 0 || index >= static_cast<int>(items.size())) return;
  SetCaption("HWIDSelectlb", DecreaseHWID(items[static_cast<std::size_t>(index)], 2));
}

void TMainfrm::HWIDSelectlbClick() {
  // Before an identifier is picked the label shows its own caption, which names no device.
  if (Caption("HWIDSelectlb") ==
      ShownCaption(shownTexts_.Find("Mainfrm", "HWIDSelectlb").value_or(form_.Caption("HWIDSelectlb")))) {
    return;
  }
  // A hardware ID holds '&' and '\\', which would end or bend the query: it goes in encoded.
  OpenLink(kSearchPage + PercentEncode(Caption("HWIDSelectlb")));
}

void TMainfrm::HWIDSlabelClick() { ToggleAll("HWIDSlabel", "HWIDS2Installchb"); }

void TMainfrm::EqTreeViewClick() {
  const std::string& selected = Caption("EqTreeView");
  if (!selected.empty()) SetCaption("NodeNameLbl", selected);
}

void TMainfrm::LoadListbtClick() {
  form_.ClearItems("FirstFilterlb");
  form_.SetItems("FirstFilterlb", platform::ReadTextLines("drivers.txt"));
}
