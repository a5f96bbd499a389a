// The archive tool runs of several packs at once, on the main window: planned before the
// per-pack loop of the INF index and of the extraction of matching folders, and taken by that
// loop one pack after another, so everything it logs and writes comes in the order and with the
// content of one run after another.
#include "packs/pack_run_handlers.h"

#include <filesystem>
#include <system_error>

#include "app/main_form.h"
#include "base/window_layout.h"
#include "packs/archiver_run.h"
#include "platform/files.h"

namespace {

// The parent of the folders of runs that go side by side, below the working folder.
constexpr const char* kRunsFolder = "PackRuns";

}  // namespace

void TMainfrm::StartPackRuns(
    PackRunPlan& plan, const std::vector<std::string>& packs, std::size_t first, const std::string& into,
    const std::function<bool(std::size_t)>& runs,
    const std::function<std::string(const std::string& pack, const std::string& out)>& command) {
  plan = PackRunPlan();
  plan.into = into;
  plan.logged.resize(packs.size());
  plan.own.resize(packs.size());
  plan.run.assign(packs.size(), 0);
  std::vector<std::size_t> order;
  for (std::size_t n = first; n < packs.size(); ++n) {
    if (!runs(n)) continue;
    plan.run[n] = order.size();
    order.push_back(n);
    plan.logged[n] = command(packs[n], into);
  }
  // A run side by side differs from its logged line only in its output folder: the line is made
  // once, so the tool is asked for its banner as often as one run after another asks.
  const std::string runsFolder = Caption("Workdir") + kRunsFolder + Sep();
  const std::string shared = ArchiverOutputSwitch(into);
  std::size_t atOnce = PackRunsAtOnce();
  std::vector<std::string> lines;
  for (const std::size_t n : order) {
    const std::size_t at = plan.logged[n].find(shared);
    if (at == std::string::npos || plan.logged[n].find(shared, at + 1) != std::string::npos) atOnce = 1;
  }
  const bool sideBySide = atOnce > 1 && order.size() > 1;
  if (sideBySide) {
    // What a run that was stopped left behind is not taken for this run's output.
    std::error_code ec;
    std::filesystem::remove_all(runsFolder, ec);
    plan.ownRoot = runsFolder;
  }
  for (const std::size_t n : order) {
    if (!sideBySide) {
      lines.push_back(plan.logged[n]);
      continue;
    }
    plan.own[n] = runsFolder + std::to_string(n) + Sep();
    platform::ForceDirectories(plan.own[n]);
    std::string line = plan.logged[n];
    line.replace(line.find(shared), shared.size(), ArchiverOutputSwitch(plan.own[n]));
    lines.push_back(std::move(line));
  }
  plan.runs =
      std::make_unique<PackRuns>(std::move(lines), sideBySide ? atOnce : 1,
                                 [this](const std::string& commandLine, std::vector<std::string>& output) {
                                   return tools_.RunAny(commandLine, output);
                                 });
}

std::optional<int> TMainfrm::TakePackRun(PackRunPlan& plan, std::size_t n, const std::string& pack) {
  if (!plan.runs || n >= plan.run.size()) return std::nullopt;
  PackRunResult result = plan.runs->Take(plan.run[n]);
  ShowPackOutput(std::move(result.lines));
  if (!plan.own[n].empty() && platform::DirectoryExists(plan.own[n])) {
    if (!MoveTreeInto(plan.own[n], plan.into)) {
      LogKey("log103", {pack, plan.own[n]});
      StepFailed();
    }
  }
  return result.exitCode;
}

void TMainfrm::ShowPackOutput(std::vector<std::string> lines) {
  FormModel& wait = Waitfrm();
  wait.ItemsForWrite("CMDTemplb") = std::move(lines);
  wait.ItemsChanged("CMDTemplb");
  CMDTemplbDrawItem();
  platform::WriteTextLines(Caption("CMDOutFileed"), wait.Items("CMDTemplb"));
}

TMainfrm::PackRunPlan::~PackRunPlan() {
  // The runs have all ended once `runs` is gone; their own folders go with the plan.
  runs.reset();
  std::error_code ec;
  if (!ownRoot.empty()) std::filesystem::remove_all(ownRoot, ec);
}
