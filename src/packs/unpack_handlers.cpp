// Whole-pack unpacking with the archive tool, the glue between the window and the archive tool's
// runs (packs/archiver_run.h) that the search's extractions share, and the progress window's
// gauge rule.
#include <algorithm>

#include "app/main_form.h"
#include "base/text_util.h"
#include "base/window_layout.h"
#include "packs/archiver_run.h"
#include "packs/runners.h"
#include "platform/files.h"
#include "shared/shared_functions.h"

void TMainfrm::RunWithOutputClick() {
  if (RunAsItsOwn(&TMainfrm::RunWithOutputClick)) return;
  FormModel& wait = Waitfrm();
  form_.ClearItems("PackNamecbx");
  wait.ClearItems("CMDTemplb");
  wait.SetGaugePosition("UnpackGauge", 0);
  wait.SetGaugePosition("UnpackGauge2", 0);

  AfterDeletClick();

  std::vector<std::string> chosen;
  const auto& packs = form_.Items("PacksChlbx");
  for (std::size_t i = 0; i < packs.size(); ++i) {
    if (form_.Checked("PacksChlbx", i)) chosen.push_back(packs[i]);
  }
  form_.SetItems("PackNamecbx", chosen);
  if (chosen.empty()) {
    ShowInfo(Msg("msg6"));
    StepFailed(Msg("msg6"));
    return;
  }

  wait.SetGaugeMax("UnpackGauge2", static_cast<int>(chosen.size()));
  for (std::size_t n = 0; n < chosen.size(); ++n) {
    const std::string& name = chosen[n];
    // The total progress steps once per pack.
    wait.SetGaugePosition("UnpackGauge2", static_cast<int>(n));
    if (!EndsWith7z(name) || !PackNameCarried(name)) continue;
    const std::string packDir = Caption("CMDPackDired");
    // The packs go into the drivers folder, the one the installer is pointed at.
    const std::string commandLine =
        ArchiverCommand(UnpackPackCommand(ShortFileName(packDir + name), DriversFolder()));
    LogKey("log22");
    LogKey("log23", {commandLine});

    LogKey("log24", {name});
    LogKey("log57", {std::to_string(GetFileSize(packDir + name))});
    wait.SetVisible(kWaitFormName, true);
    wait.SetCaption("UnpackingLbl", Msg("log24", {name}));
    const BusyScope busy(*this);
    form_.ClearItems("CMDlogcmb");
    const std::string outputFile = Caption("CMDOutFileed");
    const std::string inputFile = Caption("CMDFileed");
    const UnpackMethod method = UnpackMethodOf(Caption("CMDUnpackMethoded"));

    if (ListContained(name, form_.Items("UnpackedDPlb"))) continue;
    // The tool's exit code where the method gives one (method 1 leaves only its output).
    std::optional<int> exitCode = 0;
    if (method == UnpackMethod::Redirected) {
      LogKey("log58");
      ui_.ProcessMessages();
      tools_.CreateDOSProcessRedirected(commandLine, inputFile, outputFile, "Error!!!!", &ui_);
    } else if (method == UnpackMethod::Piped) {
      LogKey("log26");
      ui_.ProcessMessages();
      // The output goes into the progress window's list as it comes, and its gauge follows.
      std::vector<std::string>& lines = wait.ItemsForWrite("CMDTemplb");
      exitCode = RunArchiver(tools_, commandLine, lines, outputFile, [&] {
        wait.ItemsChanged("CMDTemplb");
        CMDTemplbDrawItem();
      });
      wait.ItemsChanged("CMDTemplb");
    }
    LogFileLines(outputFile);
    // A pack counts as unpacked only when the tool ended without failing and reported no
    // error, so a damaged, unreadable or interrupted pack is tried again next time.
    if (!ArchiverSucceeded(name, exitCode)) {
      // Said by the check.
    } else if (UnpackOutcome(exitCode, form_.Items("CMDlogcmb")) == ArchiverOutcome::ItemErrors) {
      LogKey("log79", {name});
      StepFailed();
    } else {
      form_.AppendItem("UnpackedDPlb", name);
      ++run_.packsUnpacked;
    }
    LogKey("log27");
    wait.SetVisible(kWaitFormName, false);
  }

  wait.SetGaugePosition("UnpackGauge2", static_cast<int>(chosen.size()));
  if (UpperCase(config_.ReadString("Automation", "AutoDPInstall", "Error reading AutoDPInstall param")) ==
      "YES") {
    InstallDPbtnClick();
  }
  Waitfrm().SetVisible(kWaitFormName, false);
  platform::WriteTextLinesAtomically(Caption("Workdir") + "UnpackedDP.txt", form_.Items("UnpackedDPlb"));
}

std::string TMainfrm::ArchiverCommand(const std::string& commandLine) {
  if (!archiver_) {
    archiver_ = AskArchiverBanner(tools_);
    if (!archiver_) {
      // Not started: asked again at the next command line.
    } else if (archiver_->kind == ArchiverKind::Unknown) {
      LogKey("log98");
    } else {
      LogKey("log97", {archiver_->line});
    }
  }
  return ArchiverCommandLine(commandLine, archiver_ ? archiver_->kind : ArchiverKind::Unknown);
}

bool TMainfrm::CarriesPackName(const std::string& pack) {
  const bool leadingBlank = !pack.empty() && (pack.front() == ' ' || pack.front() == '\t');
  const bool badCharacter = std::any_of(pack.begin(), pack.end(), [](char c) {
    return c == '"' || c == '\\' || (static_cast<unsigned char>(c) < 0x20);
  });
  return !leadingBlank && !badCharacter;
}

bool TMainfrm::PackNameCarried(const std::string& pack) {
  if (CarriesPackName(pack)) return true;
  // A log line stays one line: a line break in the name shows as "_".
  std::string shown = pack;
  std::replace(shown.begin(), shown.end(), '\n', '_');
  std::replace(shown.begin(), shown.end(), '\r', '_');
  LogKey("log104", {shown});
  StepFailed();
  return false;
}

bool TMainfrm::ArchiverSucceeded(const std::string& pack, const std::optional<int>& exitCode) {
  switch (ArchiverExitOutcome(exitCode)) {
    case ArchiverOutcome::NotStarted:
      LogKey("log74", {pack});
      break;
    case ArchiverOutcome::Failed:
      LogKey("log75", {pack, *exitCode});
      break;
    default:
      return true;
  }
  StepFailed();
  return false;
}

void TMainfrm::UnpackDriverPacks1Click() {
  SetCaption("CMDUnpackMethoded", "1");
  RunWithOutputClick();
}

void TMainfrm::UnpackDriverPacks2method1Click() {
  SetCaption("CMDUnpackMethoded", "2");
  RunWithOutputClick();
}

void TMainfrm::UnpackJvArrowButtonClick() {
  NewWaitfrm();
  SetCaption("CMDUnpackMethoded", "2");
  RunWithOutputClick();
}

void TMainfrm::CMDTemplbDrawItem() {
  FormModel& wait = Waitfrm();
  wait.SetGaugeMax("UnpackGauge", 800);
  wait.SetGaugePosition("UnpackGauge",
                        static_cast<int>(std::min<std::size_t>(wait.Items("CMDTemplb").size(), 800)));
  wait.SetGaugeMax("UnpackGauge", 800);
}
