#include "packs/pack_runs.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

std::size_t PackRunsAtOnce() {
  if (const char* text = std::getenv("VELMORA_PACK_RUNS"); text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end != nullptr && *end == '\0' && value >= 1 && value <= 64) return static_cast<std::size_t>(value);
  }
  return std::max<std::size_t>(1, std::thread::hardware_concurrency());
}

PackRuns::PackRuns(std::vector<std::string> commandLines, std::size_t atOnce, Runner runner)
    : commandLines_(std::move(commandLines)),
      runner_(std::move(runner)),
      results_(commandLines_.size()),
      errors_(commandLines_.size()),
      taken_(commandLines_.size(), false) {
  if (atOnce <= 1 || commandLines_.size() <= 1) return;
  const std::size_t threads = std::min(atOnce, commandLines_.size());
  workers_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

PackRuns::~PackRuns() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    next_ = commandLines_.size();  // no further run starts
  }
  for (std::thread& worker : workers_) worker.join();
}

void PackRuns::Work() {
  for (;;) {
    std::size_t index = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (next_ >= commandLines_.size()) return;
      index = next_++;
      mostAtOnce_ = std::max(mostAtOnce_, ++running_);
    }
    PackRunResult result;
    std::exception_ptr error;
    try {
      result.exitCode = runner_(commandLines_[index], result.lines);
    } catch (...) {
      error = std::current_exception();  // handed to the caller when it takes this run
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      --running_;
      results_[index] = std::move(result);
      errors_[index] = error;
    }
    done_.notify_all();
  }
}

PackRunResult PackRuns::Take(std::size_t index) {
  if (index >= commandLines_.size()) return {};
  if (workers_.empty()) {
    // One after another, on the caller's thread.
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (index < next_) return {};
      next_ = index + 1;
      mostAtOnce_ = std::max<std::size_t>(mostAtOnce_, 1);
    }
    PackRunResult result;
    result.exitCode = runner_(commandLines_[index], result.lines);
    return result;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return results_[index].has_value() || taken_[index]; });
  if (taken_[index]) return {};
  taken_[index] = true;
  PackRunResult result = std::move(*results_[index]);
  results_[index].reset();
  if (errors_[index]) std::rethrow_exception(std::exchange(errors_[index], nullptr));
  return result;
}

std::size_t PackRuns::MostAtOnce() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return mostAtOnce_;
}

bool MoveTreeInto(const std::string& from, const std::string& to) {
  std::error_code ec;
  const fs::path source(from);
  const fs::path target(to);
  if (!fs::is_directory(fs::symlink_status(source, ec))) return false;
  fs::create_directories(target, ec);
  if (ec) return false;
  bool ok = true;
  for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path here = it->path();
    const fs::path there = target / here.filename();
    const fs::file_status status = fs::symlink_status(here, ec);
    if (ec) {
      ok = false;
      continue;
    }
    const fs::file_status targetStatus = fs::symlink_status(there, ec);
    const bool targetIsFolder = !ec && fs::is_directory(targetStatus);
    ec.clear();
    if (fs::is_directory(status) && targetIsFolder) {
      if (!MoveTreeInto(here.string(), there.string())) ok = false;
      continue;
    }
    if (fs::exists(targetStatus) && (targetIsFolder || fs::is_directory(status))) {
      // A folder and a file of one name: the later one takes the place, as an extraction would.
      fs::remove_all(there, ec);
      ec.clear();
    }
    fs::rename(here, there, ec);
    if (ec) {
      // Some systems do not rename over an existing file.
      fs::remove(there, ec);
      ec.clear();
      fs::rename(here, there, ec);
      if (ec) ok = false;
    }
    ec.clear();
  }
  if (ec) ok = false;
  if (ok) fs::remove(source, ec);
  return ok && !ec;
}
