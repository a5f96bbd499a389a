// The main window `TMainfrm`: the owner of the program's state and of every operation.
// Every operation is an argument-less handler, bound to its control by name; handlers call
// one another directly. The window's controls live in a FormModel, so the operations run and
// are tested without a display; a front end renders the model and routes events here.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "app/run_summary.h"
#include "base/form_model.h"
#include "base/ui_port.h"
#include "lang/messages.h"
#include "packs/archiver_kind.h"
#include "packs/tool_runner.h"

class TSearch;
class TFileSearch;
class IndexFile;

struct AppEnvironment {
  std::string programFile;        // full path of the running program file
  std::vector<std::string> args;  // command-line arguments after the program name
};

// One fixed text naming the product, the maker, the edition and its date; the caption of
// every message box.
extern const char* const kApplicationTitle;

class TMainfrm {
 public:
  // `tools` starts the outside tools; without one the window starts real processes.
  TMainfrm(UiPort& ui, AppEnvironment env, ToolRunner* tools = nullptr);
  ~TMainfrm();
  TMainfrm(const TMainfrm&) = delete;
  TMainfrm& operator=(const TMainfrm&) = delete;

  FormModel& Form() { return form_; }
  const FormModel& Form() const { return form_; }
  // The progress window every operation uses now (the newest instance).
  FormModel& Waitfrm() { return *waitForms_.back(); }
  // Every window that exists, main window first.
  std::vector<FormModel*> Forms();
  // Creates a fresh progress window; earlier instances stay hidden.
  FormModel& NewWaitfrm();
  // Front ends subscribe to learn of new progress windows.
  void OnNewWaitfrm(std::function<void(FormModel&)> listener) {
    newWaitListeners_.push_back(std::move(listener));
  }

  UiPort& Ui() { return ui_; }
  ToolRunner& Tools() { return tools_; }
  const AppEnvironment& Env() const { return env_; }
  ConfigFile& Config() { return config_; }

  // Runs the handler bound to `name`. An exception that escapes it is shown in the standard
  // error box (it was written to the error report when it was thrown). False for an unknown name.
  bool Invoke(const std::string& handlerName);
  bool HasHandler(const std::string& handlerName) const { return handlers_.count(handlerName) != 0; }
  std::vector<std::string> HandlerNames() const;

  // ---- the log ----
  // Appends a line as it is (banner lines); also written to standard error.
  void AddLogLine(const std::string& line);
  // Appends time stamp + text.
  void Log(const std::string& text);
  // Appends time stamp + the looked-up message formatted with its arguments.
  void LogKey(const std::string& key, const std::vector<MessageArg>& args = {});
  // The looked-up and formatted message text from the current language file (see Texts).
  std::string Msg(const std::string& key, const std::vector<MessageArg>& args = {}) const;
  // Where texts come from: the chosen language file (LangFileLabel), then the English file of
  // the program's language folder, then the built-in English texts.
  TextSource Texts() const;
  // The English language file of the program's language folder.
  std::string EnglishLanguageFile() const;
  // The two captions of a select link (PackNameLbl, HWIDSlabel) in the language the windows
  // show: the link's own caption ticks every entry of its list, the text of log88 clears them.
  std::string SelectAllText(const std::string& link) const;
  std::string RemoveSelectionText() const;
  // Appends many finished lines at once (one notification, one write to standard error).
  void AddLogLines(const std::vector<std::string>& lines);
  // Copies a text file's lines through `CMDlogcmb` into the log, each time-stamped.
  void LogFileLines(const std::string& path);

  // ---- the outcome of a switch run ----
  // 0 when every step succeeded (and when no switch run was made), 1 when a step failed,
  // 2 when the run could not start.
  int ExitStatus() const { return exitStatus_; }
  // A step of an operation failed; the step has logged why, and the run's summary names it by
  // `what`, or by the text of the latest log line when `what` is empty.
  void StepFailed(const std::string& what = {});
  // What the run going on (a switch run, a one-click button, an operation pressed alone) has
  // done so far; after its end, what it did.
  const RunRecord& Run() const { return run_; }
  // Logs the closing summary of the run (RunSummaryLines over Run()), each line time-stamped.
  void LogRunSummary();
  // Whose hardware IDs the search uses: empty for this computer's, otherwise where the list of
  // another computer's came from (a hardware list file, or the loaded device tree).
  const std::string& HardwareIdSource() const { return hardwareIdSource_; }
  // Makes a hardware list file (devcon hwids, pnputil /enum-devices /ids, or one ID per line) the
  // source of the IDs the next searches use, and logs what was read. A file that cannot be read
  // or holds no ID is logged as a failed step and changes nothing; false then.
  bool UseHardwareList(const std::string& path);
  // After a device tree was loaded from `file`: when it is another computer's, its device IDs
  // become the IDs the next searches use, and the log says so.
  void UseTreeIds(const std::string& file);

  // ---- reaching the person ----
  // A run started by a command-line switch never waits on a person: until it has ended,
  // messages go to the log and a question takes the answer that lets the run finish.
  bool Unattended() const;
  bool AskYesNo(const std::string& text, bool unattendedAnswer);
  void ShowInfo(const std::string& text);     // box with an OK button and the title as caption
  void ShowMessage(const std::string& text);  // plain message dialog
  // Hands a web or mail link to the system; logs when no program could be started for it.
  void OpenLink(const std::string& url);

  // ---- the searchers, owned by the window from FormCreate to FormDestroy ----
  TSearch* Search() { return search_.get(); }
  TFileSearch* FileSearch() { return fileSearch_.get(); }
  // True while a search or an installation by hardware IDs (or a one-click run) is running: the
  // window's operation buttons are disabled and their handlers do not start.
  bool OperationRunning() const { return operationDepth_ > 0; }
  // Marks an operation as running for its lifetime; the outermost scope disables the
  // operation buttons and enables them again at its end.
  class OperationScope {
   public:
    explicit OperationScope(TMainfrm& window);
    ~OperationScope();
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

   private:
    TMainfrm& window_;
  };
  // The busy cursor while it lives; at its end, whatever happened, the normal cursor and the
  // progress window hidden.
  class BusyScope {
   public:
    explicit BusyScope(TMainfrm& window);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    TMainfrm& window_;
  };
  // The archive tool runs of several packs at once (packs/pack_runs.h), planned by StartPackRuns
  // and taken in pack order by TakePackRun (packs/pack_run_handlers.cpp).
  struct PackRunPlan;
  // Starts the runs of the packs from position `first` on that `runs` accepts, side by side
  // (PackRunsAtOnce). `command` gives a pack's command line for an output folder; the line for
  // `into` is the one logged (PackRunPlan::logged), and a run that goes side by side with others
  // writes into a folder of its own below the working folder, moved into `into` when it is taken.
  // The first command line made asks the tool for its banner (ArchiverCommand), so this is
  // called where the one-at-a-time loop makes its first command line.
  void StartPackRuns(PackRunPlan& plan, const std::vector<std::string>& packs, std::size_t first,
                     const std::string& into, const std::function<bool(std::size_t)>& runs,
                     const std::function<std::string(const std::string& pack, const std::string& out)>& command);
  // Waits for the run of the pack at `n` and hands its output over as a run of the pack alone
  // (RunArchiver, packs/archiver_run.h) would have: into the progress window's list and the
  // output file, and its files into the plan's folder.
  std::optional<int> TakePackRun(PackRunPlan& plan, std::size_t n, const std::string& pack);
  // Hands a pack's output lines over as TakePackRun does: into the progress window's list and the
  // output file. A run replayed from its record (search/index_state.h) goes through here.
  void ShowPackOutput(std::vector<std::string> lines);
  // The archive tool command line as it is run with the tool of this run. The first call runs
  // "7z" without arguments and learns the tool's kind from its banner, which it logs; a tool
  // that prints no banner it knows gets its command lines as written (and says so in the log),
  // and one that cannot be started is asked again at the next call.
  std::string ArchiverCommand(const std::string& commandLine);
  // What the first run of the archive tool told about it; nothing before that.
  const std::optional<ArchiverBanner>& Archiver() const { return archiver_; }
  // Logs an archive tool run that failed for the pack (it could not be started, or it ended
  // with a fatal exit code) as a failed step; true when the run did not fail.
  bool ArchiverSucceeded(const std::string& pack, const std::optional<int>& exitCode);
  // False, with log104 and a failed step, for a pack name that the archive command line and the
  // program's files cannot carry whole: a leading blank (the INI files trim it away), a double
  // quote, a backslash (a folder separator) or a control character such as a line break.
  bool PackNameCarried(const std::string& pack);
  static bool CarriesPackName(const std::string& pack);
  // What an entry of `HWIDS2Installchb` stands for: the device, its driver pack, the INF files
  // of the pack that name it, and their folders as the pack's list file writes them. A ticked
  // entry brings exactly these folders to the installation.
  struct InstallEntry {
    std::string device;  // the unreduced hardware ID ("Found Pattern Full")
    std::string pack;
    std::vector<std::string> infs;
    std::vector<std::string> folders;
  };
  // One per entry of `HWIDS2Installchb`, in the same order.
  const std::vector<InstallEntry>& InstallEntries() const { return installEntries_; }
  // The driver pack of each entry of `HWIDS2Installchb`, in the same order.
  std::vector<std::string> InstallEntryPacks() const;
  // The device names the HWIDs page knows (its simple view and its device tree), keyed by the
  // upper-case device instance ID.
  std::map<std::string, std::string> KnownDeviceNames() const;

  // ---- shortcuts to controls of the main window ----
  std::string Caption(const std::string& name) const { return form_.Caption(name); }
  void SetCaption(const std::string& name, std::string text) { form_.SetCaption(name, std::move(text)); }
  std::string ProgramFolder() const;  // ends with a separator
  // The working folder's two folders, each ending with a separator. The index folder holds the
  // INF files extracted for the INF index and searched for hardware IDs; the drivers folder
  // holds the unpacked and the chosen driver folders, and nothing else: the package installer
  // is pointed at it, so it never reads the index's INF copies.
  std::string IndexFolder() const;
  std::string DriversFolder() const;
  // The separator of the target as text, for building paths ("\\" on Windows, "/" on Linux).
  static std::string Sep();

  // ---- operations (handlers) ----
  // Start-up and window
  void FormCreate();
  void FormActivate();
  void FormDestroy();
  void sClick();
  void Label5Click();
  void AutoCloseTimerTimer();
  // Looks whether the clean-up script "Delete DP" started has ended; once it has, logs that the
  // cleaning finished and stops looking.
  void CleanScriptTimerTimer();
  // Configuration and working paths
  void CreateInibtnClick();
  void StartFromDirbtnClick();
  // Log
  void SaveLogbtnClick();
  // One-click runs
  void UnpackInstallTntSpeedButtonClick();
  void UnpackInstallHwidsTntSpeedButtonClick();
  // Folders and pack catalogue
  void FindDirsbtnClick();
  void FirstCheckbtnClick();
  void CreateOutDirbtnClick();
  void EnumBtnClick();
  void PackNameLblClick();
  void ChangeDPlocationbtnClick();
  void DeletePacksbtnClick();
  void AfterDeletClick();
  // Unpacking and installation
  void RunWithOutputClick();
  void UnpackDriverPacks1Click();
  void UnpackDriverPacks2method1Click();
  void UnpackJvArrowButtonClick();
  void CMDTemplbDrawItem();
  void InstallDPbtnClick();
  // Hardware identification
  void CutDecreaseHWIDSbtnClick();
  void GetDevlbBtnClick();
  void CollectHWIDsimpleButtonClick();
  void CollectClassesBtClick();
  void HWIDSforWorkcbxSelect();
  void HWIDSelectlbClick();
  void HWIDSlabelClick();
  void EqTreeViewClick();
  void LoadListbtClick();
  void ConvertLoadBtClick();
  void TreeLoadBtClick();
  void SaveHWIDSbtnClick();
  void SaveHWIDsSimpleButtonClick();
  void Tree2XMLBtnClick();
  void XML2TreeBtnClick();
  void LoadHwidListBtnClick();
  // Driver search
  void ExtractINFsbtnClick();
  void SearchByHWIDSbtnClick();
  void PrepareUnpackFilesbtnClick();
  void InstallHWIDsbtnClick();
  // Languages
  void EnumLanguagesTntButtonClick();
  void LanguageNameTntComboBoxChange();
  void TranslateTntButtonClick();
  void EnumControlsButtonClick();

 private:
  void RegisterHandlers();
  // Shows every window in the chosen language and logs the language applied. A chosen file
  // that cannot be used is named in the log, and so is the English file when it cannot stand
  // in for it either.
  void ApplyLanguage();
  // The language file the configuration names for a start (see EnumLanguagesTntButtonClick).
  std::string StartLanguageFile() const;
  // Selects in the language chooser the language whose texts are shown: the chosen one, or
  // English when the chosen file cannot be used; no entry when neither is listed.
  void ShowLanguageInUse();
  void StartFromSwitch(const std::string& sw);
  // Runs one of the unattended chains; whatever happens, the program then closes by itself.
  void RunUnattended(void (TMainfrm::*chain)());
  void SaveUnattendedLog(void (TMainfrm::*chain)());
  // An operation a person starts when no run is going on (a button pressed alone) is a run of
  // its own: it runs again inside a fresh run record and the log then ends with that run's
  // summary; an error that escapes it is logged (log130) and named in the summary before it goes
  // on to the error box. True then: the operation has been run. Inside a larger run (a switch
  // run, a one-click button) false: the caller goes on as a step of that run, which counts what
  // the step does and ends with the one summary.
  bool RunAsItsOwn(void (TMainfrm::*operation)());
  // Marks a run as going on for its lifetime; the outermost level starts the run's record afresh.
  class RunLevel {
   public:
    explicit RunLevel(TMainfrm& window);
    ~RunLevel();
    RunLevel(const RunLevel&) = delete;
    RunLevel& operator=(const RunLevel&) = delete;

   private:
    TMainfrm& window_;
  };
  // The hardware list file named by Automation/HWIDsListFile, relative to the configuration
  // file's folder; empty when the key is missing or empty.
  std::string HardwareListFile() const;
  void FinishRun();
  // Starts the clean-up script "clean.cmd" with its window hidden, without waiting for it. With
  // `watch`, the script is kept and looked at by `CleanScriptTimer` until it has ended.
  void StartCleanScript(bool watch = false);
  // Ticks (or clears) every entry of `list` when its select link shows its first (second)
  // text, and turns the link to the other text; a link showing neither does nothing.
  void ToggleAll(const std::string& link, const std::string& list);
  // Fills the About page with the text file the language names (see the language files).
  void LoadAboutText();
  // Ticks every entry of a check list whatever the state of its toggle label.
  void TickAll(const std::string& list, const std::string& toggleLabel, void (TMainfrm::*toggle)());
  // Driver search helpers.
  std::vector<std::string> GatherInfPaths(const std::vector<std::string>& lines);
  void ItemsFailed(const std::string& pack, const std::vector<std::string>& lines);
  void RestoreListsFromIndex();

  UiPort& ui_;
  std::unique_ptr<ToolRunner> realTools_;  // the runner used when none was handed in
  ToolRunner& tools_;
  AppEnvironment env_;
  FormModel form_;
  std::vector<std::unique_ptr<FormModel>> waitForms_;
  std::vector<std::function<void(FormModel&)>> newWaitListeners_;
  ConfigFile config_;
  std::map<std::string, void (TMainfrm::*)()> handlers_;
  bool destroyed_ = false;
  // The run of a command-line switch, made by the first activation of the window.
  enum class SwitchRun { NotStarted, Running, Ended };
  SwitchRun switchRun_ = SwitchRun::NotStarted;
  std::string pickedPackFile_;  // the pack file last picked in the pack dialog during this run
  std::unique_ptr<TSearch> search_;
  std::unique_ptr<TFileSearch> fileSearch_;
  std::unique_ptr<IndexFile> contentIndex_;  // DP_Content.ini while the search works on it
  std::vector<InstallEntry> installEntries_;
  std::unique_ptr<StartedTool> cleanScript_;  // the clean-up "Delete DP" started
  std::optional<ArchiverBanner> archiver_;  // the archive tool's kind, learnt once per run
  int operationDepth_ = 0;
  int exitStatus_ = 0;
  int runDepth_ = 0;  // the levels of the run going on (RunLevel); 0: none
  RunRecord run_;
  std::string hardwareIdSource_;
  std::string unwritableConfig_;               // the configuration file whose write failure was logged
  std::vector<std::string> disabledControls_;  // the buttons a running operation disabled
  TextSource shownTexts_;  // the texts of the language the windows show (built-in English at first)
};
