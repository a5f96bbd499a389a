// One-click runs and the command-line switches: the whole chain without questions.
#include <exception>
#include <filesystem>
#include <system_error>

#include "app/log_save.h"
#include "app/error_report.h"
#include "app/main_form.h"
#include "base/text_util.h"
#include "base/window_layout.h"
#include "platform/files.h"
#include "shared/shared_functions.h"

namespace {

constexpr const char* kRunOnceMarker = "FORMACTIVE";

// Whether the driver package installer of this system installs the drivers (Windows), or only
// prepares them for a Windows installation (the stand-in on other systems).
#ifdef _WIN32
constexpr bool kInstallerInstalls = true;
#else
constexpr bool kInstallerInstalls = false;
#endif

// Whether a file lies anywhere below `folder`, outside the archive tool's staging folders.
bool HoldsAFile(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::file_status status = it->symlink_status(error);
    if (error) break;
    if (fs::is_directory(status)) {
      if (platform::IsArchiveStagingName(it->path().filename().string())) it.disable_recursion_pending();
    } else if (fs::is_regular_file(status)) {
      return true;
    }
  }
  return false;
}

// A run whose step fails part-way sets the automation flag back to "No", as its end would,
// so later unpacking does not install silently on its own.
class AutomationOffOnFailure {
 public:
  explicit AutomationOffOnFailure(ConfigFile& config) : config_(config) {}
  AutomationOffOnFailure(const AutomationOffOnFailure&) = delete;
  AutomationOffOnFailure& operator=(const AutomationOffOnFailure&) = delete;
  ~AutomationOffOnFailure() {
    if (std::uncaught_exceptions() <= exceptions_) return;
    try {
      config_.WriteString("Automation", "AutoDPInstall", "No");
    } catch (...) {
      // The error on its way out is the one to report.
    }
  }

 private:
  ConfigFile& config_;
  int exceptions_ = std::uncaught_exceptions();
};

}  // namespace

void TMainfrm::FormActivate() {
  if (Caption("StopVolatileed") == kRunOnceMarker) return;
  if (env_.args.empty()) return;
  // A run whose step failed leaves the marker unset; it is still not started again at the next
  // activation (closing the error box activates the window), nor inside its own run.
  if (switchRun_ != SwitchRun::NotStarted) return;
  StartFromSwitch(env_.args.front());
}

void TMainfrm::StartFromSwitch(const std::string& sw) {
  const std::string arg = sw;
  // However the run ends, the program then talks to a person again.
  struct RunEnded {
    SwitchRun& run;
    ~RunEnded() { run = SwitchRun::Ended; }
  } runEnded{switchRun_};
  switchRun_ = SwitchRun::Running;
  if (arg == "/untd") {
    RunUnattended(&TMainfrm::UnpackInstallTntSpeedButtonClick);
  } else if (arg == "/unth") {
    RunUnattended(&TMainfrm::UnpackInstallHwidsTntSpeedButtonClick);
  } else if (arg == "/inir") {
    LogKey("log40", {arg});
    CreateInibtnClick();
    LogKey("log44");
    SetCaption("StopVolatileed", kRunOnceMarker);
  }
}

// The hardware-ID run keeps its whole log in a file, written once, at the run's very end, so it
// ends with the summary; a run that stopped early keeps it too. A log that cannot be saved is a
// failed step: said after the summary (so on standard error too), counted in the exit status,
// and the error goes on to the caller (a button shows it in the error box); the error report has
// it from its throw.
void TMainfrm::SaveUnattendedLog(void (TMainfrm::*chain)()) {
  if (chain != &TMainfrm::UnpackInstallHwidsTntSpeedButtonClick) return;
  const std::string workdir = Caption("Workdir");
  try {
    // Without a working folder the name alone would land in whatever folder the program runs in.
    if (workdir.empty()) throw platform::FileError("UnattendedLOg.txt: there is no working folder");
    SaveLinesUtf16(workdir + "UnattendedLOg.txt", form_.Lines("LogLbx"));
  } catch (const std::exception& e) {
    LogKey("log133", {e.what()});
    StepFailed();
    throw;
  }
}

namespace {

// True when a file can be made (and removed again) in the folder: a folder that is there but
// read-only, or on a read-only volume, cannot be the working folder of a run.
bool FolderTakesFiles(const std::string& folder) {
  const std::string probe = folder + ".velmora-write-probe";
  try {
    platform::WriteWholeFile(probe, "");
  } catch (const platform::FileError&) {
    return false;
  }
  platform::DeleteFile(probe);
  return true;
}

}  // namespace

void TMainfrm::RunUnattended(void (TMainfrm::*chain)()) {
  exitStatus_ = 0;
  // The switch run is the run: the chain and every operation it calls are its steps.
  const RunLevel level(*this);
  // Nobody waits in front of a switch run: an error is logged (the error report has it since
  // it was raised) and the program still closes by itself, with a status that says so.
  try {
    const std::string workdir = Caption("Workdir");
    try {
      AfterDeletClick();
    } catch (const std::exception&) {
      // Judged just below by whether the folder is there.
    }
    if (workdir.empty() || !platform::DirectoryExists(workdir) || !FolderTakesFiles(workdir)) {
      LogKey("log77", {workdir});
      StepFailed();
      exitStatus_ = 2;
    } else {
      const std::size_t reportsBefore = ErrorReport::EntryCount();
      (this->*chain)();
      // An error the run went on after still went into the error report: the run failed.
      if (ErrorReport::EntryCount() != reportsBefore) {
        LogKey("log105", {workdir + ErrorReport::kFileName});
        StepFailed();
      }
    }
  } catch (const std::exception& e) {
    LogKey("log78", {e.what()});
    StepFailed();
  } catch (...) {
    LogKey("log78", {"unknown error"});
    StepFailed();
  }
  // The summary closes the log, after everything the run said, and so ends standard error too.
  try {
    LogRunSummary();
  } catch (const std::exception&) {
    // The run's own lines are in the log; the error report has what stopped the summary.
  }
  try {
    SaveUnattendedLog(chain);
  } catch (...) {
    // Said in the log and counted in the exit status; the program still closes by itself.
  }
  form_.SetEnabled("AutoCloseTimer", true);
}

// The common end of both runs: automation off, the clean-up started, the run marked done.
void TMainfrm::FinishRun() {
  LogKey("log43");
  config_.WriteString("Automation", "AutoDPInstall", "No");
  if (kInstallerInstalls) {
    LogKey("log15");
    StartCleanScript();
  } else {
    // The installer here only prepares the drivers for Windows: the clean-up would delete the
    // very drivers the run has just prepared, so they stay, and the log says where; when no
    // driver is there (nothing matched, or nothing could be written) it says that instead.
    LogKey(HoldsAFile(DriversFolder()) ? "log82" : "log108", {DriversFolder()});
  }
  SetCaption("StopVolatileed", kRunOnceMarker);
  Waitfrm().SetVisible(kWaitFormName, false);
}

void TMainfrm::TickAll(const std::string& list, const std::string& toggleLabel, void (TMainfrm::*toggle)()) {
  // The toggle ticks all only while its label shows its first text; pressed a second time it
  // would clear them, so a run that needs every entry ticks them itself then.
  if (Caption(toggleLabel) == SelectAllText(toggleLabel)) {
    (this->*toggle)();
  } else {
    form_.SetAllChecked(list, true);
  }
}

TMainfrm::RunLevel::RunLevel(TMainfrm& window) : window_(window) {
  if (window_.runDepth_++ == 0) window_.run_ = RunRecord{};
}

TMainfrm::RunLevel::~RunLevel() { --window_.runDepth_; }

bool TMainfrm::RunAsItsOwn(void (TMainfrm::*operation)()) {
  if (runDepth_ > 0) return false;
  const RunLevel level(*this);
  // The end of the run: the error that stopped it (a step that failed), the summary, and for the
  // hardware-ID run the saved log, which holds the summary too; a log that cannot be saved is
  // the error the person sees then, unless the operation's own error is on its way.
  const auto close = [&](const char* error) {
    if (error != nullptr) {
      LogKey("log130", {error});
      StepFailed();
    }
    LogRunSummary();
    SaveUnattendedLog(operation);
  };
  try {
    (this->*operation)();
  } catch (const std::exception& e) {
    try {
      close(e.what());
    } catch (...) {
      // The error on its way out is the one to report.
    }
    throw;
  } catch (...) {
    try {
      close("unknown error");
    } catch (...) {
      // The error on its way out is the one to report.
    }
    throw;
  }
  close(nullptr);
  return true;
}

void TMainfrm::UnpackInstallTntSpeedButtonClick() {
  if (RunAsItsOwn(&TMainfrm::UnpackInstallTntSpeedButtonClick)) return;
  const std::string arg = env_.args.empty() ? std::string() : env_.args.front();
  OperationScope running(*this);
  AutomationOffOnFailure automationOff(config_);
  LogKey("log40", {arg});
  LogKey("log41");
  TickAll("PacksChlbx", "PackNameLbl", &TMainfrm::PackNameLblClick);
  SetCaption("CMDUnpackMethoded", "2");
  RunWithOutputClick();
  config_.WriteString("Automation", "AutoDPInstall", "YES");
  InstallDPbtnClick();
  FinishRun();
}

void TMainfrm::UnpackInstallHwidsTntSpeedButtonClick() {
  if (RunAsItsOwn(&TMainfrm::UnpackInstallHwidsTntSpeedButtonClick)) return;
  const std::string arg = env_.args.empty() ? std::string() : env_.args.front();
  OperationScope running(*this);
  AutomationOffOnFailure automationOff(config_);
  LogKey("log40", {arg});
  LogKey("log42");
  // The configuration may name another computer's hardware list: the run prepares the drivers
  // of that computer. A list that cannot be used stops the search rather than searching for this
  // computer's devices in its place.
  bool idsReady = true;
  const std::string listFile = HardwareListFile();
  if (!listFile.empty()) idsReady = UseHardwareList(listFile);
  if (idsReady) {
    TickAll("PacksChlbx", "PackNameLbl", &TMainfrm::PackNameLblClick);
    SearchByHWIDSbtnClick();
    TickAll("HWIDS2Installchb", "HWIDSlabel", &TMainfrm::HWIDSlabelClick);
    if (form_.Items("HWIDS2Installchb").empty()) {
      LogKey("log81");
      StepFailed();
    }
    // Silent installation is switched on just before the installation, as in the unpack run,
    // so a run stopped during the search leaves later manual work interactive.
    config_.WriteString("Automation", "AutoDPInstall", "YES");
    InstallHWIDsbtnClick();
  }
  // The log is saved by the run's end, after the summary (SaveUnattendedLog).
  FinishRun();
}

std::string TMainfrm::HardwareListFile() const {
  std::string file = TrimBlanks(config_.ReadString("Automation", "HWIDsListFile", ""));
  if (file.empty()) return file;
  // A name without a folder, or a relative one, is taken from the configuration file's folder.
  const bool absolute = file.front() == '/' || file.front() == '\\' || (file.size() > 1 && file[1] == ':');
  if (absolute) return file;
  const std::string ini = Caption("IniLocationlbl");
  const std::size_t cut = ini.find_last_of("/\\");
  return cut == std::string::npos ? file : ini.substr(0, cut + 1) + file;
}
