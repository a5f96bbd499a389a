// The configuration file's defaults and the working paths derived from it at every start.
#include <algorithm>
#include <cctype>

#include "app/main_form.h"
#include "base/text_util.h"
#include "platform/files.h"

void TMainfrm::StartFromDirbtnClick() {
  std::string recreate = config_.ReadString("Program", "RecreateIni", "Error reading RecreateIni-param");
  std::string appMainPath = config_.ReadString("Program", "AppMainPath", "Error reading AppMainPath-param");
  if (UpperCase(recreate) == "YES" && appMainPath != env_.programFile) {
    config_.WriteString("Program", "Initial", "Yes");
  }
}

void TMainfrm::CreateInibtnClick() {
  StartFromDirbtnClick();
  config_.Rebind(Caption("IniLocationlbl"));

  if (config_.ReadString("Program", "Initial", "Error reading Initial param") == "Yes") {
    const std::string languageFile = EnglishLanguageFile();
    config_.WriteString("Program", "Initial", "no");
    config_.WriteString("Program", "RecreateIni", "no");
    config_.WriteString("Program", "AppMainPath", env_.programFile);
    config_.WriteString("Program", "Workdir", Caption("Workdir"));
    config_.WriteString("Program", "Windir", Caption("WinDirlbl"));
    config_.WriteString("Program", "LanguageChange", "No");
    config_.WriteString("Program", "LanguageFile", languageFile);
    SetCaption("LangFileLabel", languageFile);
    config_.WriteString("DP_Options", "DPExternal", "Yes");
    config_.WriteString("DP_Options", "SelectDPDir", "no");
    config_.WriteString("DP_Options", "NonCompressedDriversFolder", "NO");
    config_.WriteString("DP_Options", "NonCompressedDriversFolderLocation", "N/A");
    config_.WriteString("Automation", "AutoDPInstall", "No");
    config_.WriteString("Automation", "AutoHWIDSearch", "No");
    LogKey("log8", {platform::ExtractFilePath(config_.path())});
  }

  CreateOutDirbtnClick();

  const std::string workdir = Caption("Workdir");
  if (config_.ReadString("Program", "Start From", "Error reading Start From param") != "Non CD") {
    // Started from a CD-ROM (or the key is missing): every working file lies in the working folder.
    SetCaption("CMDOutFileed", workdir + "cmdout");
    const std::string cmdFile = workdir + "cmd";
    SetCaption("CMDFileed", cmdFile);
    platform::WriteTextLines(cmdFile, Form().Items("CMDLinecdx"));
    SetCaption("CMDPackOutDired", "-o" + workdir);
    return;
  }

  const std::string appMainPath = config_.ReadString("Program", "AppMainPath", "Error reading AppMainPath param ");
  const std::string outFile = platform::ExtractFilePath(appMainPath) + "Markers" + Sep() + "cmdout";
  SetCaption("CMDOutFileed", outFile);
  std::string outSwitch;
  if (UpperCase(config_.ReadString("DP_Options", "NonCompressedDriversFolder",
                               "Error reading NonCompressedDriversFolder param ")) != "YES") {
    outSwitch = "-o" + workdir;
  } else {
    const std::string location = config_.ReadString("DP_Options", "NonCompressedDriversFolderLocation",
                                                    "Error reading NonCompressedDriversFolderLocation param ");
    const std::string newWorkdir = location + "dp_tavi" + Sep();
    SetCaption("Workdir", newWorkdir);
    // The program's files there are never written through a symbolic link.
    platform::SetLinkFreeFolder(newWorkdir);
    outSwitch = "-o" + newWorkdir;
    if (!platform::DirectoryExists(newWorkdir)) {
      std::uint32_t code = platform::CreateDirectory(newWorkdir);
      if (code != 0 && code != 183) {
        throw platform::FileError("Cannot create the working folder " + newWorkdir + ": " +
                                      platform::SystemErrorMessage(code),
                                  code);
      }
    }
  }
  SetCaption("CMDPackOutDired", outSwitch);
  SetCaption("CMDFileed", platform::ExtractFilePath(outFile) + "cmd");
}
