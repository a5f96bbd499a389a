#include "app/run_summary.h"

std::vector<std::string> RunSummaryLines(const RunRecord& run, const SummaryMessage& message) {
  std::vector<std::string> lines;
  if (!run.hardwareIdsUsed.empty()) lines.push_back(run.hardwareIdsUsed);
  if (run.found) {
    lines.push_back(message(
        "log131", {std::to_string(run.found->devices.size()), std::to_string(run.found->packs.size())}));
  }
  lines.push_back(message("log124", {std::to_string(run.devicesServed.size()), std::to_string(run.foldersExtracted),
                                     std::to_string(run.packsUnpacked)}));
  bool installerStarted = false;
  for (const RunRecord::InstallerRun& installer : run.installerRuns) {
    if (!installer.exitStatus) continue;  // among the failures
    installerStarted = true;
    lines.push_back(message("log125", {installer.commandLine, std::to_string(*installer.exitStatus)}));
  }
  if (!installerStarted) lines.push_back(message("log128", {}));
  for (const std::string& failure : run.failures) lines.push_back(message("log126", {failure}));
  if (run.failures.empty()) lines.push_back(message("log127", {}));
  return lines;
}
