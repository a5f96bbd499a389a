// The plan of the archive tool runs of several packs at once that the main window's per-pack
// loops take one by one (TMainfrm::StartPackRuns, TMainfrm::TakePackRun).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "packs/pack_runs.h"
#include "packs/runners.h"

struct TMainfrm::PackRunPlan {
  PackRunPlan() = default;
  PackRunPlan(const PackRunPlan&) = delete;
  PackRunPlan& operator=(const PackRunPlan&) = delete;
  PackRunPlan& operator=(PackRunPlan&&) = default;
  ~PackRunPlan();

  std::string into;                 // the folder every pack's files end up in
  std::vector<std::string> logged;  // per pack: its command line as logged ("" when not run)
  std::vector<std::string> own;     // per pack: the folder of its own it was run into ("" for none)
  std::vector<std::size_t> run;     // per pack: its place among the runs
  std::string ownRoot;              // the folder holding the runs' own folders, removed at the end
  std::unique_ptr<PackRuns> runs;
};
