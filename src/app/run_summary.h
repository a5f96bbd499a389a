// The closing summary of a run: what the run did and what failed, in a few log lines, built
// from a plain record that the operations fill on their way.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "lang/messages.h"

struct RunRecord {
  // The log line that said whose hardware IDs the search used; empty when no search ran.
  std::string hardwareIdsUsed;
  // What the search found: the devices a pack holds a driver for (their IDs upper-case) and those
  // packs; nothing when no search ended.
  struct SearchFound {
    std::set<std::string> devices;
    std::set<std::string> packs;
  };
  std::optional<SearchFound> found;
  // The devices (their IDs as found in the index) whose driver folders were extracted.
  std::set<std::string> devicesServed;
  std::size_t foldersExtracted = 0;  // driver folders extracted for matching devices
  std::size_t packsUnpacked = 0;     // driver packs unpacked whole
  struct InstallerRun {
    std::string commandLine;
    std::optional<int> exitStatus;  // nothing: the installer could not be started
  };
  std::vector<InstallerRun> installerRuns;
  // Each failed step as its log line said it (naming its pack or file), in order.
  std::vector<std::string> failures;
};

using SummaryMessage = std::function<std::string(const std::string& key, const std::vector<MessageArg>& args)>;

// The summary lines, without time stamps, in this order: whose hardware IDs were searched for
// (when a search ran), what the search found ("log131", when a search ended), the counts ("log124"), each
// installer run that started ("log125") or that none did ("log128"), then each failure ("log126") or that
// none happened ("log127").
std::vector<std::string> RunSummaryLines(const RunRecord& run, const SummaryMessage& message);
