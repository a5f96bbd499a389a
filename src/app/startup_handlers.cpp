// Start-up, the banner, the About page, the links and the window's end.
#include <string>

#include "app/error_report.h"
#include "app/main_form.h"
#include "base/text_util.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "search/file_search.h"
#include "search/index_file.h"
#include "shared/shared_functions.h"

namespace {

constexpr const char* kContactAddress = "support@velmora.example.org";
constexpr const char* kNewVersionPage = "https://velmora.example.org/news";

}  // namespace

void TMainfrm::FormCreate() {
  // Bound before anything of start-up may collect the machine's devices.
  platform::devices::InitPnpApi();
  EnumLanguagesTntButtonClick();

  const std::string rule(129, '=');
  for (const std::string& line : {
           rule,
           std::string(kApplicationTitle),
           std::string(
               "Driver packs: 7z archives of driver folders from https://velmora.example.org/driverpacks"),
           std::string("7-Zip command-line archiver files 7-zip.chm, 7z.exe and 7z.dll by Igor Pavlov, "
                       "https://www.7-zip.org #ver.4.57#"),
           std::string("Driver package installer DPINST.exe: Velmora's own, shipped beside the program "
                       "#ver.2.01#"),
           std::string("Device console devcon.exe by Microsoft Corporation #ver.5.2.3718.0#"),
           std::string("Velmora_TAVI.exe - driver pack unpacker and installer #ver. 3.5.3.7 beta#"),
           std::string("Ostrel workshop - tools for technicians who prepare freshly installed machines"),
           rule,
       }) {
    AddLogLine(line);
  }
  LogKey("log45");
  form_.SetItemIndex("MainPageControle", 0);

  FirstCheckbtnClick();
  CreateInibtnClick();
  // The configuration file in use is known now (on a CD it lies in the working folder).
  SetCaption("LangFileLabel", StartLanguageFile());
  EnumBtnClick();

  if (UpperCase(config_.ReadString("Automation", "AutoHWIDSearch", "N/A")) == "YES") {
    if (AskYesNo(Msg("msg7"), false)) {
      GetDevlbBtnClick();
      LogKey("log46");
      config_.WriteString("Automation", "AutoHWIDSearch", "NO");
    }
  }

  // The searchers live as long as the window; only the file searcher is used.
  search_ = std::make_unique<TSearch>();
  fileSearch_ = std::make_unique<TFileSearch>();

  const std::string unpacked = Caption("Workdir") + "UnpackedDP.txt";
  if (platform::FileExists(unpacked)) form_.SetItems("UnpackedDPlb", platform::ReadTextLines(unpacked));

  ApplyLanguage();
}

void TMainfrm::LoadAboutText() {
  const std::string data = ProgramFolder() + "Data" + Sep();
  const std::string english = data + "PackInfo.txt";
  std::string about = data + shownTexts_.Find("About", "AboutFile").value_or("PackInfo.txt");
  // The About text is part of the delivery; without it the rest of start-up still runs. A
  // language whose own text is missing shows the English one.
  if (!platform::FileExists(about)) {
    LogKey("log93", {about});
    if (about == english || !platform::FileExists(english)) return;
    about = english;
  }
  try {
    form_.SetItems("AboutListBox", platform::ReadTextLines(about));
  } catch (const std::exception& e) {
    LogKey("log94", {e.what()});
  }
}

void TMainfrm::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  config_.Rebind({});
  platform::devices::FreePnpApi();
  fileSearch_.reset();
  search_.reset();
  contentIndex_.reset();
}

void TMainfrm::sClick() { OpenLink(std::string("mailto:") + kContactAddress + "?subject=Velmora"); }

void TMainfrm::Label5Click() { OpenLink(kNewVersionPage); }

void TMainfrm::AutoCloseTimerTimer() {
  form_.SetEnabled("AutoCloseTimer", false);
  ui_.CloseMainWindow();
}
