// Runs of the archive tool over several packs at once. Packs are independent: the INF files of
// one pack, or its matching folders, come out whatever the others do, and the archive tool works
// on one solid block with one stream. So the runs of several packs go side by side, as many at a
// time as the machine has processors, while the caller takes their results one by one in pack
// order and logs and records each exactly as after a run of that pack alone.
//
// Runs that write into one shared folder at the same time would leave a path that several packs
// hold with the copy of whichever finished last, where one run after another leaves the copy of
// the last pack in list order. So each run that goes side by side with others writes into a
// folder of its own, and the caller moves that folder's content into the shared folder when it
// takes the run, in pack order (MoveTreeInto).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// How many runs go at once: the number in VELMORA_PACK_RUNS when it holds one from 1 to 64 (1: one
// after another, as the program did before), otherwise the number of processors (at least 1).
std::size_t PackRunsAtOnce();

struct PackRunResult {
  std::optional<int> exitCode;     // none when the tool could not be started
  std::vector<std::string> lines;  // what the tool printed, one line per item
};

class PackRuns {
 public:
  // Runs one command line, its output lines going into `output`; gives the exit code, or none
  // when the program could not be started (then `output` is left as it was: empty).
  using Runner =
      std::function<std::optional<int>(const std::string& commandLine, std::vector<std::string>& output)>;

  // Starts up to `atOnce` of the runs at once, in list order, each next one as soon as one ends.
  // With `atOnce` 1 (or 0) nothing runs before Take asks for it, on the caller's thread: exactly
  // one run after another.
  PackRuns(std::vector<std::string> commandLines, std::size_t atOnce, Runner runner);
  // Waits for the runs going; those not started yet are not started.
  ~PackRuns();
  PackRuns(const PackRuns&) = delete;
  PackRuns& operator=(const PackRuns&) = delete;

  std::size_t Size() const { return commandLines_.size(); }
  bool SideBySide() const { return !workers_.empty(); }
  // Waits for the run at `index` and gives its result; each result is handed over once (a second
  // Take of the same index gives an empty result). An exception the run raised is raised here.
  // Side by side, runs may be taken in any order and a run never taken is still run; one after
  // another, a run is made when it is taken, and runs are taken in list order.
  PackRunResult Take(std::size_t index);
  // The most runs that were going at the same moment (counts the overlap, for tests).
  std::size_t MostAtOnce() const;

 private:
  void Work();

  std::vector<std::string> commandLines_;
  Runner runner_;
  mutable std::mutex mutex_;
  std::condition_variable done_;
  std::vector<std::optional<PackRunResult>> results_;
  std::vector<std::exception_ptr> errors_;  // what a run threw, raised again by Take
  std::vector<bool> taken_;
  std::size_t next_ = 0;
  std::size_t running_ = 0;
  std::size_t mostAtOnce_ = 0;
  std::vector<std::thread> workers_;
};

// Moves everything below the folder `from` into the folder `to` (created when missing), keeping
// the paths below it: a file replaces a file of the same path in `to`, a folder is merged with the
// one there. Then removes `from`. A link below `from` is moved as a link, never followed. Returns
// false when something could not be moved; what could not stays below `from`.
bool MoveTreeInto(const std::string& from, const std::string& to);
