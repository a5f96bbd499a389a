#include "app/main_form.h"

#include <algorithm>
#include <cstdio>

#include "app/error_report.h"
#include "app/front_end_common.h"
#include "base/window_layout.h"
#include "lang/form_translation.h"
#include "platform/files.h"
#include "platform/process.h"
#include "search/file_search.h"
#include "search/index_file.h"
#include "shared/shared_functions.h"

const char* const kApplicationTitle = "Velmora - Ostrel Edition - 15-02-2008";

TMainfrm::TMainfrm(UiPort& ui, AppEnvironment env, ToolRunner* tools)
    : ui_(ui),
      realTools_(tools == nullptr ? std::make_unique<RealToolRunner>() : nullptr),
      tools_(tools == nullptr ? *realTools_ : *tools),
      env_(std::move(env)),
      form_(kMainFormName) {
  BuildMainForm(form_);
  waitForms_.push_back(std::make_unique<FormModel>(kWaitFormName));
  BuildWaitForm(*waitForms_.back());
  RegisterHandlers();
  // Outside tools are looked for in the program's folder first.
  platform::process::SetProgramFolder(ProgramFolder());
  // The error report lies in the working folder; follow it whenever it is set.
  form_.Subscribe([](const FormModel::Notification& n) {
    if (n.change == ChangeKind::Caption && n.control.name == "Workdir")
      ErrorReport::SetFolder(n.control.caption);
  });
  // A configuration value that cannot be written is said once per file, with the reason.
  // Each failure is a failed step: a switch run that could not record its state ends with 1.
  config_.OnWriteFailed([this](const std::string& path, const std::string& reason) {
    StepFailed(Msg("log80", {path, reason}));
    if (path == unwritableConfig_) return;
    unwritableConfig_ = path;
    LogKey("log80", {path, reason});
  });
}

TMainfrm::~TMainfrm() {
  if (!destroyed_) {
    try {
      FormDestroy();
    } catch (...) {
      // Nothing may escape a destructor; the error report already holds the exception.
    }
  }
}

std::vector<FormModel*> TMainfrm::Forms() {
  std::vector<FormModel*> forms{&form_};
  for (auto& w : waitForms_) forms.push_back(w.get());
  return forms;
}

FormModel& TMainfrm::NewWaitfrm() {
  auto fresh = std::make_unique<FormModel>(kWaitFormName);
  BuildWaitForm(*fresh);
  // A fresh progress window speaks the language of the rest of the program at once, rather
  // than its design texts until the next time a language is applied.
  TranslateFormComponents({fresh.get()}, shownTexts_);
  if (waitForms_.empty()) {
    waitForms_.push_back(std::move(fresh));
    for (auto& listener : newWaitListeners_) listener(*waitForms_.back());
    return *waitForms_.back();
  }
  // The one progress window is made fresh again rather than joined by another one: earlier
  // instances would only linger hidden, one more per operation.
  FormModel& wait = *waitForms_.back();
  for (const Control* c : fresh->Controls()) {
    if (!wait.Has(c->name)) continue;
    const Control& now = wait.Get(c->name);
    if (now.caption != c->caption) wait.SetCaption(c->name, c->caption);
    if (now.hint != c->hint) wait.SetHint(c->name, c->hint);
    if (now.items != c->items) wait.SetItems(c->name, c->items);
    if (c->kind == ControlKind::Gauge) {
      wait.SetGaugeMax(c->name, c->maximum);
      wait.SetGaugePosition(c->name, c->position);
    }
    if (now.visible != c->visible) wait.SetVisible(c->name, c->visible);
  }
  return wait;
}

void TMainfrm::RegisterHandlers() {
  handlers_ = {
      {"FormCreate", &TMainfrm::FormCreate},
      {"FormActivate", &TMainfrm::FormActivate},
      {"FormDestroy", &TMainfrm::FormDestroy},
      {"sClick", &TMainfrm::sClick},
      {"Label5Click", &TMainfrm::Label5Click},
      {"AutoCloseTimerTimer", &TMainfrm::AutoCloseTimerTimer},
      {"CleanScriptTimerTimer", &TMainfrm::CleanScriptTimerTimer},
      {"CreateInibtnClick", &TMainfrm::CreateInibtnClick},
      {"StartFromDirbtnClick", &TMainfrm::StartFromDirbtnClick},
      {"SaveLogbtnClick", &TMainfrm::SaveLogbtnClick},
      {"UnpackInstallTntSpeedButtonClick", &TMainfrm::UnpackInstallTntSpeedButtonClick},
      {"UnpackInstallHwidsTntSpeedButtonClick", &TMainfrm::UnpackInstallHwidsTntSpeedButtonClick},
      {"FindDirsbtnClick", &TMainfrm::FindDirsbtnClick},
      {"FirstCheckbtnClick", &TMainfrm::FirstCheckbtnClick},
      {"CreateOutDirbtnClick", &TMainfrm::CreateOutDirbtnClick},
      {"EnumBtnClick", &TMainfrm::EnumBtnClick},
      {"PackNameLblClick", &TMainfrm::PackNameLblClick},
      {"ChangeDPlocationbtnClick", &TMainfrm::ChangeDPlocationbtnClick},
      {"DeletePacksbtnClick", &TMainfrm::DeletePacksbtnClick},
      {"AfterDeletClick", &TMainfrm::AfterDeletClick},
      {"RunWithOutputClick", &TMainfrm::RunWithOutputClick},
      {"UnpackDriverPacks1Click", &TMainfrm::UnpackDriverPacks1Click},
      {"UnpackDriverPacks2method1Click", &TMainfrm::UnpackDriverPacks2method1Click},
      {"UnpackJvArrowButtonClick", &TMainfrm::UnpackJvArrowButtonClick},
      {"CMDTemplbDrawItem", &TMainfrm::CMDTemplbDrawItem},
      {"InstallDPbtnClick", &TMainfrm::InstallDPbtnClick},
      {"CutDecreaseHWIDSbtnClick", &TMainfrm::CutDecreaseHWIDSbtnClick},
      {"GetDevlbBtnClick", &TMainfrm::GetDevlbBtnClick},
      {"CollectHWIDsimpleButtonClick", &TMainfrm::CollectHWIDsimpleButtonClick},
      {"CollectClassesBtClick", &TMainfrm::CollectClassesBtClick},
      {"HWIDSforWorkcbxSelect", &TMainfrm::HWIDSforWorkcbxSelect},
      {"HWIDSelectlbClick", &TMainfrm::HWIDSelectlbClick},
      {"HWIDSlabelClick", &TMainfrm::HWIDSlabelClick},
      {"EqTreeViewClick", &TMainfrm::EqTreeViewClick},
      {"LoadListbtClick", &TMainfrm::LoadListbtClick},
      {"ConvertLoadBtClick", &TMainfrm::ConvertLoadBtClick},
      {"TreeLoadBtClick", &TMainfrm::TreeLoadBtClick},
      {"SaveHWIDSbtnClick", &TMainfrm::SaveHWIDSbtnClick},
      {"SaveHWIDsSimpleButtonClick", &TMainfrm::SaveHWIDsSimpleButtonClick},
      {"Tree2XMLBtnClick", &TMainfrm::Tree2XMLBtnClick},
      {"XML2TreeBtnClick", &TMainfrm::XML2TreeBtnClick},
      {"LoadHwidListBtnClick", &TMainfrm::LoadHwidListBtnClick},
      {"ExtractINFsbtnClick", &TMainfrm::ExtractINFsbtnClick},
      {"SearchByHWIDSbtnClick", &TMainfrm::SearchByHWIDSbtnClick},
      {"PrepareUnpackFilesbtnClick", &TMainfrm::PrepareUnpackFilesbtnClick},
      {"InstallHWIDsbtnClick", &TMainfrm::InstallHWIDsbtnClick},
      {"EnumLanguagesTntButtonClick", &TMainfrm::EnumLanguagesTntButtonClick},
      {"LanguageNameTntComboBoxChange", &TMainfrm::LanguageNameTntComboBoxChange},
      {"TranslateTntButtonClick", &TMainfrm::TranslateTntButtonClick},
      {"EnumControlsButtonClick", &TMainfrm::EnumControlsButtonClick},
  };
}

std::vector<std::string> TMainfrm::HandlerNames() const {
  std::vector<std::string> names;
  for (const auto& [name, fn] : handlers_) names.push_back(name);
  return names;
}

bool TMainfrm::Invoke(const std::string& handlerName) {
  auto it = handlers_.find(handlerName);
  if (it == handlers_.end()) return false;
  // A click that reaches a disabled operation button while a run lets window messages through
  // starts nothing: a second run never starts inside the first.
  if (operationDepth_ > 0) {
    for (const std::string& name : disabledControls_) {
      const Control& c = form_.Get(name);
      if (c.onClick == handlerName || c.onChange == handlerName) return true;
    }
  }
  try {
    (this->*(it->second))();
  } catch (const std::exception& e) {
    ui_.ShowError(e.what());
  } catch (...) {
    ui_.ShowError("Unknown error");
  }
  return true;
}

std::string TMainfrm::ProgramFolder() const { return platform::ExtractFilePath(env_.programFile); }

void TMainfrm::AddLogLine(const std::string& line) {
  form_.AppendItem("LogLbx", line);
  // Every log line also goes to standard error, so a terminal or a script can follow it.
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
}

void TMainfrm::AddLogLines(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  form_.AppendItems("LogLbx", lines);
  // Standard error takes the lines in blocks (it is unbuffered: a write per line would cost a
  // system call each), each block of bounded size, so a search's hundred thousand lines are not
  // copied whole once more.
  constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
  std::string block;
  block.reserve(kBlockBytes);
  for (const std::string& line : lines) {
    block += line;
    block += '\n';
    if (block.size() >= kBlockBytes) {
      std::fwrite(block.data(), 1, block.size(), stderr);
      block.clear();
    }
  }
  if (!block.empty()) std::fwrite(block.data(), 1, block.size(), stderr);
}

TMainfrm::OperationScope::OperationScope(TMainfrm& window) : window_(window) {
  if (window_.operationDepth_++ > 0) return;
  window_.disabledControls_.clear();
  for (const Control* c : window_.form_.Controls()) {
    const bool operationButton = c->kind == ControlKind::SpeedButton || c->kind == ControlKind::ArrowButton ||
                                 c->kind == ControlKind::MenuItem;
    if (operationButton && c->enabled) window_.disabledControls_.push_back(c->name);
  }
  for (const std::string& name : window_.disabledControls_) window_.form_.SetEnabled(name, false);
}

TMainfrm::OperationScope::~OperationScope() {
  if (--window_.operationDepth_ > 0) return;
  for (const std::string& name : window_.disabledControls_) window_.form_.SetEnabled(name, true);
  window_.disabledControls_.clear();
}

TMainfrm::BusyScope::BusyScope(TMainfrm& window) : window_(window) { window_.Ui().SetBusyCursor(true); }

TMainfrm::BusyScope::~BusyScope() {
  window_.Ui().SetBusyCursor(false);
  window_.Waitfrm().SetVisible(kWaitFormName, false);
}

void TMainfrm::StepFailed(const std::string& what) {
  if (exitStatus_ == 0) exitStatus_ = 1;
  std::string text = what;
  if (text.empty()) {
    const LineStore& log = form_.Lines("LogLbx");
    if (!log.empty()) text = log.back();
    // "[dd.mm.yyyy hh.nn.ss] " is 22 characters.
    if (text.size() >= 22 && text[0] == '[' && text[20] == ']') text.erase(0, 22);
  }
  // The same failure met again (a configuration write at every step) is named once.
  if (std::find(run_.failures.begin(), run_.failures.end(), text) == run_.failures.end()) {
    run_.failures.push_back(std::move(text));
  }
}

void TMainfrm::LogRunSummary() {
  const auto message = [this](const std::string& key, const std::vector<MessageArg>& args) { return Msg(key, args); };
  for (const std::string& line : RunSummaryLines(run_, message)) Log(line);
}

void TMainfrm::Log(const std::string& text) { AddLogLine(LogzTimeAndDate(1) + text); }

void TMainfrm::LogKey(const std::string& key, const std::vector<MessageArg>& args) { Log(Msg(key, args)); }

std::string TMainfrm::Msg(const std::string& key, const std::vector<MessageArg>& args) const {
  return Texts().Message(key, args);
}

TextSource TMainfrm::Texts() const {
  std::string chosen = form_.Caption("LangFileLabel");
  std::string english = EnglishLanguageFile();
  if (chosen == english) return TextSource({std::move(english)});
  return TextSource({std::move(chosen), std::move(english)});
}

std::string TMainfrm::EnglishLanguageFile() const { return ProgramFolder() + "lng" + Sep() + "english.lng"; }

std::string TMainfrm::SelectAllText(const std::string& link) const {
  // The caption as the translation shows it (the language file marks accelerators).
  return ShownCaption(shownTexts_.Find("Mainfrm", link).value_or("Select All"));
}

std::string TMainfrm::RemoveSelectionText() const { return shownTexts_.Message("log88"); }

void TMainfrm::ToggleAll(const std::string& link, const std::string& list) {
  const std::string caption = Caption(link);
  if (caption == SelectAllText(link)) {
    form_.SetAllChecked(list, true);
    SetCaption(link, RemoveSelectionText());
  } else if (caption == RemoveSelectionText()) {
    form_.SetAllChecked(list, false);
    SetCaption(link, SelectAllText(link));
  }
}

void TMainfrm::LogFileLines(const std::string& path) {
  form_.SetItems("CMDlogcmb", platform::ReadTextLines(path));
  for (const std::string& line : form_.Items("CMDlogcmb")) Log(line);
}

std::string TMainfrm::Sep() { return std::string(1, platform::PathSeparator()); }

std::string TMainfrm::IndexFolder() const { return Caption("Workdir") + "Index" + Sep(); }

std::string TMainfrm::DriversFolder() const { return Caption("Workdir") + "Drivers" + Sep(); }

bool TMainfrm::Unattended() const {
  // Once the run has ended (the program stays open after "/inir"), a person answers again.
  return switchRun_ != SwitchRun::Ended && IsSwitchRun(env_.args);
}

bool TMainfrm::AskYesNo(const std::string& text, bool unattendedAnswer) {
  if (Unattended()) {
    Log(text + " - " + Msg(unattendedAnswer ? "log89" : "log90"));
    return unattendedAnswer;
  }
  return ui_.AskYesNo(text, kApplicationTitle);
}

void TMainfrm::ShowInfo(const std::string& text) {
  if (Unattended()) {
    Log(text);
    return;
  }
  ui_.ShowInfo(text, kApplicationTitle);
}

void TMainfrm::ShowMessage(const std::string& text) {
  if (Unattended()) {
    Log(text);
    return;
  }
  ui_.ShowMessage(text);
}

void TMainfrm::OpenLink(const std::string& url) {
  if (!ui_.OpenUrl(url)) LogKey("log85", {url});
}
