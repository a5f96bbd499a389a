// Where things are and which packs there are: the Windows and working folders, the place of
// the configuration file by drive type, the pack folder, the pack list and its tick marks.
#include <algorithm>
#include <cctype>

#include "app/main_form.h"
#include "base/text_util.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "shared/shared_functions.h"

// Creates the working folder when needed and reports the outcome, as the folder steps share it.
static void CreateWorkingFolder(TMainfrm& w, const std::string& folder) {
  std::uint32_t code = platform::CreateDirectory(folder);
  if (code == 0) {
    w.LogKey("log1", {folder});
  } else if (code == 183) {
    w.LogKey("log2", {folder});
  } else {
    w.ShowMessage(w.Msg("msg1", {static_cast<long long>(code)}));
    w.LogKey("log3", {std::to_string(code)});
  }
}

void TMainfrm::FindDirsbtnClick() {
  const std::string winDir = platform::WindowsDirectory();
  LogKey("log29", {winDir});
  const std::string workdir = winDir + Sep() + "dp_tavi" + Sep();
  SetCaption("Workdir", workdir);
  // The program's files there are never written through a symbolic link.
  platform::SetLinkFreeFolder(workdir);
  SetCaption("WinDirlbl", winDir);
  LogKey("log30", {workdir});
  if (!platform::FileExists(workdir + "cmdout")) CreateWorkingFolder(*this, workdir);
}

void TMainfrm::FirstCheckbtnClick() {
  FindDirsbtnClick();
  const std::string workdir = Caption("Workdir");
  // What writes of a killed run left behind goes before anything is written there again.
  for (const std::string& folder : {ProgramFolder(), workdir}) {
    const int removed = platform::RemoveLeftoverTemporaryFiles(folder);
    if (removed > 0) LogKey("log99", {std::to_string(removed), folder});
  }
  // So are the archive tool's staging folders of killed extractions, in every folder it writes to.
  for (const std::string& folder : {workdir, IndexFolder(), DriversFolder()}) {
    const int removed = platform::RemoveLeftoverStagingFolders(folder);
    if (removed > 0) LogKey("log102", {std::to_string(removed), folder});
  }
  LogKey("log31", {env_.programFile});

  const std::string programIni = ProgramFolder() + "dp_tavi.ini";
  platform::DriveType type = platform::GetDriveType(env_.programFile);

  // Records where the program started in the configuration file in use.
  auto recordStart = [&](const char* startFrom) {
    if (!config_.WriteString("Program", "Start From", startFrom)) {
      // A read-only folder or file: the program goes on with the defaults it would have written.
      LogKey("log95", {config_.path()});
    }
  };
  // Opens the configuration file, marks it for defaults when new and records where the program started.
  auto openConfig = [&](const std::string& path, const char* startFrom) {
    config_.Rebind(path);
    SetCaption("IniLocationlbl", path);
    if (config_.ReadString("Program", "Initial", "Error reading Initial param") ==
        "Error reading Initial param") {
      config_.WriteString("Program", "Initial", "Yes");
    }
    recordStart(startFrom);
  };

  // On a RAM disk the file is opened before the drive is logged; on the others after.
  if (type == platform::DriveType::RamDisk) openConfig(programIni, "Non CD");
  LogKey("log32", {platform::DriveOfPath(env_.programFile)});

  switch (type) {
    case platform::DriveType::Unknown:
    case platform::DriveType::NoRootDir:
      LogKey(type == platform::DriveType::Unknown ? "log33" : "log34");
      break;
    case platform::DriveType::Removable:
      LogKey("log35");
      openConfig(programIni, "Non CD");
      return;
    case platform::DriveType::Fixed:
      LogKey("log36");
      openConfig(programIni, "Non CD");
      return;
    case platform::DriveType::Remote:
      LogKey("log37");
      openConfig(programIni, "Non CD");
      return;
    case platform::DriveType::CdRom: {
      LogKey("log38");
      std::string copy;
      bool haveCopy = platform::FileExists(programIni);
      if (haveCopy) copy = platform::ReadWholeFile(programIni);
      const std::string workIni = workdir + "dp_tavi.ini";
      openConfig(workIni, "CD");
      if (haveCopy) {
        // The program folder's file stands, but it was written where the program last ran (most
        // often "Non CD"): the start from the CD is recorded again, so the tool files go to the
        // working folder and not to the CD.
        platform::WriteFileAtomically(workIni, copy);
        recordStart("CD");
      }
      return;
    }
    case platform::DriveType::RamDisk:
      LogKey("log39");
      return;
  }
  // No configuration file could be placed by drive type: later steps read and write one, so
  // fall back to the program folder's file, as on a fixed disk.
  openConfig(programIni, "Non CD");
}

void TMainfrm::CreateOutDirbtnClick() {
  LogKey("log9");
  config_.Rebind(Caption("IniLocationlbl"));
  const std::string dpExternal =
      UpperCase(config_.ReadString("DP_Options", "DPExternal", "Error reading DPExternal param "));
  if (dpExternal != "YES") {
    std::string packDir = config_.ReadString("Program", "CMDPackDir", "Error reading CMDPackDir param ");
    // The profile functions give a fallback back without its trailing blank.
    if (packDir.empty() || packDir == "Error reading CMDPackDir param") {
      // A key that cannot be read counts as empty: the packs lie in "DP" beside the program.
      // When the folder cannot be stored (a read-only configuration file), it still holds for
      // this run.
      std::string appFolder = platform::ExtractFilePath(
          config_.ReadString("Program", "AppMainPath", "Error reading AppMainPath param "));
      if (appFolder.empty()) appFolder = ProgramFolder();
      packDir = appFolder + "DP" + Sep();
      config_.WriteString("Program", "CMDPackDir", packDir);
    }
    SetCaption("CMDPackDired", packDir);
  } else {
    if (UpperCase(config_.ReadString("DP_Options", "SelectDPDir", "Error reading DP_Options param")) ==
        "YES") {
      // Windows ignores letter case in "Dp" and "DP"; Linux does not, so both places use one spelling.
      std::string firstFolder = platform::CurrentDirectory() + Sep() + "DP" + Sep();
      if (auto picked = ui_.OpenFile(Form().Caption("ExternalDPDirod"), "7z files|*.7z|", firstFolder)) {
        pickedPackFile_ = *picked;
      }
    }
    const std::string packDir =
        pickedPackFile_.empty() ? ProgramFolder() + "DP" + Sep() : platform::ExtractFilePath(pickedPackFile_);
    config_.WriteString("DP_Options", "DPExternalDir", packDir);
    config_.WriteString("DP_Options", "DPExternal", "no");
    LogKey("log91", {packDir});
    config_.WriteString("Program", "CMDPackDir", packDir);
    SetCaption("CMDPackDired", config_.ReadString("Program", "CMDPackDir", packDir));
  }
  // The pack folder beside the program is made at the first start, so a new user finds where
  // the packs go. A folder that cannot be made (a program on a CD) is left to the pack list.
  const std::string packDir = Caption("CMDPackDired");
  if (packDir == ProgramFolder() + "DP" + Sep() && !platform::DirectoryExists(packDir)) {
    platform::ForceDirectories(packDir);
  }
  LogKey("log10");
}

void TMainfrm::EnumBtnClick() {
  const std::string packDir = Caption("CMDPackDired");
  if (Form().Items("PacksChlbx").empty()) {
    LogKey("log19", {packDir});
  } else {
    Form().ClearItems("PacksChlbx");
    LogKey("log16", {packDir});
  }
  std::vector<std::string> packs;
  ListFileDir(packDir, packs);
  Form().SetItems("PacksChlbx", std::move(packs));
  // A list read anew has nothing ticked: its link offers to tick all again.
  if (Caption("PackNameLbl") == RemoveSelectionText()) SetCaption("PackNameLbl", SelectAllText("PackNameLbl"));
  LogKey("log17", {std::to_string(Form().Items("PacksChlbx").size())});
  LogKey("log18");
}

void TMainfrm::PackNameLblClick() { ToggleAll("PackNameLbl", "PacksChlbx"); }

void TMainfrm::ChangeDPlocationbtnClick() {
  config_.Rebind(Caption("IniLocationlbl"));
  // The pack is picked first: on Cancel the location, the pack list and its ticks stay as they
  // are, and nothing is said to have changed.
  const std::string firstFolder = platform::CurrentDirectory() + Sep() + "DP" + Sep();
  const auto picked = ui_.OpenFile(Form().Caption("ExternalDPDirod"), "7z files|*.7z|", firstFolder);
  if (!picked) return;
  pickedPackFile_ = *picked;
  config_.WriteString("Program", "Initial", "Yes");
  config_.WriteString("DP_Options", "DPExternal", "Yes");
  // Already picked: the folder step takes the pick without asking again.
  config_.WriteString("DP_Options", "SelectDPDir", "no");
  CreateOutDirbtnClick();
  EnumBtnClick();
  ShowInfo(Msg("msg2"));
  config_.WriteString("Program", "Initial", "No");
  config_.WriteString("DP_Options", "SelectDPDir", "no");
}

void TMainfrm::DeletePacksbtnClick() {
  if (!AskYesNo(Msg("msg4"), false)) return;
  LogKey("log15");
  StartCleanScript(true);
}

void TMainfrm::CleanScriptTimerTimer() {
  if (!cleanScript_) {
    form_.SetEnabled("CleanScriptTimer", false);
    return;
  }
  if (!cleanScript_->Ended()) return;
  const int code = cleanScript_->ExitCode();
  cleanScript_.reset();
  form_.SetEnabled("CleanScriptTimer", false);
  LogKey("log115", {std::to_string(code)});
}

void TMainfrm::StartCleanScript(bool watch) {
  // Found by the usual program search, the program's folder first. Not waited for, and whether
  // it started is not checked: the script runs on its own, also after the program has ended.
  namespace proc = platform::process;
  // The script removes the unpacked drivers and the record of unpacked packs with them, so the
  // packs are unpacked again next time; it is told the working folder in use.
  std::string workdir = Caption("Workdir");
  while (workdir.size() > 1 && (workdir.back() == '/' || workdir.back() == '\\')) workdir.pop_back();
  form_.ClearItems("UnpackedDPlb");
  // The script is named by its full path: on Windows a batch file runs in cmd.exe, which looks
  // for it again in the current folder and PATH only, not in the program's folder.
  const std::string script = tools_.FindProgram("clean.cmd");
  const std::string commandLine =
      (script.empty() ? std::string("clean.cmd") : proc::QuoteArgument(script)) + " " + proc::QuoteArgument(workdir);
  // Started with its window hidden; the script shares the program's standard input and output.
  std::unique_ptr<StartedTool> started = tools_.StartTool(commandLine);
  if (!started || !watch) return;
  // The script is not waited for: the timer looks at it now and then, so it is reaped as soon
  // as it ends and the log says that the cleaning finished.
  cleanScript_ = std::move(started);
  form_.SetEnabled("CleanScriptTimer", true);
}

void TMainfrm::AfterDeletClick() {
  const std::string cmdFile = Caption("CMDFileed");
  const std::string workdir = Caption("Workdir");
  // An existing folder is not a file, so this runs for it too and reports "already exists".
  if (!platform::FileExists(workdir)) CreateWorkingFolder(*this, workdir);
  platform::WriteTextLines(cmdFile, Form().Items("CMDLinecdx"));
}
