// Archive tool runs over several packs at once: each run's own result, handed over in the order
// the caller asks, as many runs going at once as asked, and the moving of a run's own folder into
// the shared one.
#include "packs/pack_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A runner that echoes its command line and exits with the number after the last blank; it
// holds each run until `hold` runs are going, so runs that can go side by side do (a runner that
// never lets that many go at once keeps the test waiting). It records the order the runs started in.
struct FakeTool {
  explicit FakeTool(std::size_t hold) : hold_(hold) {}

  PackRuns::Runner Runner() {
    return [this](const std::string& line, std::vector<std::string>& output) -> std::optional<int> {
      std::unique_lock<std::mutex> lock(mutex_);
      started.push_back(line);
      ++going_;
      changed_.notify_all();
      changed_.wait(lock, [&] { return going_ >= hold_ || released_; });
      released_ = true;  // once enough went at once, the rest need not wait for each other
      changed_.notify_all();
      --going_;
      if (line.rfind("throw", 0) == 0) throw std::runtime_error("tool runner failed");
      if (line.rfind("missing", 0) == 0) return std::nullopt;
      output = {"ran " + line, "Everything is Ok"};
      return std::stoi(line.substr(line.rfind(' ') + 1));
    };
  }

  std::vector<std::string> started;

 private:
  std::size_t hold_;
  std::size_t going_ = 0;
  bool released_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
};

TEST(PackRuns, EachRunGivesItsOwnResultWhateverHowManyGoAtOnce) {
  struct Case {
    std::size_t atOnce;
    std::size_t runs;
    std::size_t expectedMostAtOnce;
    bool sideBySide;
  };
  const Case cases[] = {
      {1, 5, 1, false}, {0, 3, 1, false}, {2, 5, 2, true}, {3, 7, 3, true}, {8, 3, 3, true}, {4, 1, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("at once " + std::to_string(c.atOnce) + ", runs " + std::to_string(c.runs));
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < c.runs; ++i)
      lines.push_back("7z x pack" + std::to_string(i) + " " + std::to_string(i));
    FakeTool tool(c.sideBySide ? std::min(c.atOnce, c.runs) : 1);
    PackRuns runs(lines, c.atOnce, tool.Runner());
    EXPECT_EQ(runs.SideBySide(), c.sideBySide);
    for (std::size_t i = 0; i < c.runs; ++i) {
      const PackRunResult result = runs.Take(i);
      ASSERT_TRUE(result.exitCode.has_value());
      EXPECT_EQ(*result.exitCode, static_cast<int>(i));
      EXPECT_EQ(result.lines, (std::vector<std::string>{"ran " + lines[i], "Everything is Ok"}));
      // A result is handed over once.
      EXPECT_FALSE(runs.Take(i).exitCode.has_value());
    }
    EXPECT_EQ(runs.MostAtOnce(), c.expectedMostAtOnce);
    // Every run is made once; one after another, in list order (side by side the runs are
    // claimed in list order, but which thread reaches the tool first is not fixed).
    std::vector<std::string> started = tool.started;
    if (c.sideBySide) std::sort(started.begin(), started.end());
    EXPECT_EQ(started, lines);
    EXPECT_FALSE(runs.Take(c.runs).exitCode.has_value());
  }
}

// One after another, a run is made only when it is taken: a caller that stops early starts no
// further run. A tool that cannot be started gives no exit code and no lines; a runner that
// throws has its exception raised where the run is taken, in either way of running.
TEST(PackRuns, OneAfterAnotherRunsOnlyWhatIsTakenAndFailuresReachTheCaller) {
  {
    FakeTool tool(1);
    PackRuns runs({"7z a 0", "7z b 1", "7z c 2"}, 1, tool.Runner());
    EXPECT_EQ(runs.Take(0).exitCode, 0);
    EXPECT_EQ(tool.started, (std::vector<std::string>{"7z a 0"}));
  }
  for (const std::size_t atOnce : {std::size_t{1}, std::size_t{2}}) {
    SCOPED_TRACE(atOnce);
    FakeTool tool(atOnce);
    PackRuns runs({"missing 0", "throw 1", "7z 2"}, atOnce, tool.Runner());
    const PackRunResult missing = runs.Take(0);
    EXPECT_FALSE(missing.exitCode.has_value());
    EXPECT_TRUE(missing.lines.empty());
    EXPECT_THROW(runs.Take(1), std::runtime_error);
    EXPECT_EQ(runs.Take(2).exitCode, 2);
  }
}

TEST(PackRuns, HowManyAtOnceComesFromTheEnvironmentOrTheProcessors) {
  const std::size_t processors = std::max<std::size_t>(1, std::thread::hardware_concurrency());
  const std::vector<std::pair<const char*, std::size_t>> cases = {
      {"1", 1},           {"3", 3},           {"64", 64},         {"0", processors},
      {"65", processors}, {"-2", processors}, {"2x", processors}, {"", processors},
  };
  for (const auto& [text, expected] : cases) {
    ScopedEnv env("VELMORA_PACK_RUNS", text);
    EXPECT_EQ(PackRunsAtOnce(), expected) << text;
  }
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The later pack's file takes the place of the earlier one's; folders are merged; a file and a
// folder of one name: the one moved in wins; the run's own folder is gone afterwards.
TEST(MoveTreeInto, MergesFoldersAndReplacesFiles) {
  TempDir tmp;
  tmp.Write("into/D/A/a.inf", "old a");
  tmp.Write("into/D/A/keep.inf", "kept");
  tmp.Write("into/D/B", "a file where a folder comes");
  tmp.Write("into/D/C/c.inf", "a folder where a file comes");
  tmp.Write("own/D/A/a.inf", "new a");
  tmp.Write("own/D/A/new.inf", "new");
  tmp.Write("own/D/B/b.inf", "b");
  tmp.Write("own/D/C", "c file");
  tmp.Write("own/root.inf", "root");
  ASSERT_TRUE(MoveTreeInto(tmp.File("own"), tmp.File("into")));
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"into/D/A/a.inf", "new a"}, {"into/D/A/keep.inf", "kept"}, {"into/D/A/new.inf", "new"},
      {"into/D/B/b.inf", "b"},     {"into/D/C", "c file"},        {"into/root.inf", "root"},
  };
  for (const auto& [path, content] : expected) EXPECT_EQ(ReadAll(tmp.File(path)), content) << path;
  EXPECT_FALSE(fs::exists(tmp.File("own")));
  // Into a folder that does not exist yet; from one that does not exist: nothing moved.
  tmp.Write("own2/x/y.inf", "y");
  EXPECT_TRUE(MoveTreeInto(tmp.File("own2"), tmp.File("fresh/sub")));
  EXPECT_EQ(ReadAll(tmp.File("fresh/sub/x/y.inf")), "y");
  EXPECT_FALSE(MoveTreeInto(tmp.File("no-such-folder"), tmp.File("into")));
}

}  // namespace
