// Unpacking one large pack by method 2 through the program's own operation, against the same
// "7zz x" run by hand, side by side in one run. Also reports how much the program's resident
// memory grew while the tool's output streamed through it.
//
// Usage: unpack_compare <program folder> <pack.7z> [rounds]
// The program folder is an installed one (it holds the 7z stand-in); the pack is unpacked
// into fresh folders under the temporary folder ($TMPDIR), removed at the end.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/main_form.h"

namespace fs = std::filesystem;

namespace {

class SilentUi : public UiPort {
 public:
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  void ShowInfo(const std::string&, const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
  std::optional<std::string> OpenFile(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::optional<std::string> SaveFile(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  void ProcessMessages() override {}
  void SetBusyCursor(bool) override {}
  bool OpenUrl(const std::string&) override { return false; }
};

double Seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v;
  return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::size_t TextBytes(const std::vector<std::string>& lines) {
  std::size_t bytes = 0;
  for (const std::string& line : lines) bytes += line.size();
  return bytes;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <program folder> <pack.7z> [rounds]\n", argv[0]);
    return 2;
  }
  const fs::path programDir = fs::absolute(argv[1]);
  const fs::path pack = fs::absolute(argv[2]);
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const fs::path scratch = fs::temp_directory_path() / "velmora-unpack-compare";
  fs::remove_all(scratch);
  fs::create_directories(scratch / "win");
  setenv("VELMORA_WINDIR", (scratch / "win").c_str(), 1);
  setenv("VELMORA_DRIVE_TYPE", "3", 1);
  // The program folder is left alone: the run works in a copy of it (its configuration and
  // tool files are written beside the program), with the pack folder pointed at the pack.
  const fs::path programCopy = scratch / "prog";
  fs::copy(programDir, programCopy, fs::copy_options::recursive);
  fs::remove(programCopy / "dp_tavi.ini");
  SilentUi ui;
  TMainfrm main(ui, AppEnvironment{(programCopy / "Velmora_TAVI").string(), {}});
  std::fclose(stderr);  // the log's copy on standard error would dominate the timing
  main.FormCreate();
  main.SetCaption("CMDPackDired", pack.parent_path().string() + "/");
  main.Form().SetItems("PacksChlbx", {pack.filename().string()});

  std::vector<double> program;
  std::vector<double> byHand;
  std::vector<double> standIn;
  long memoryGrowth = 0;
  std::size_t logBytes = 0;
  std::size_t workingListBytes = 0;
  for (int r = 0; r < rounds; ++r) {
    // Every run unpacks into a folder of its own and nothing is deleted until the end: removing
    // thousands of files between runs makes the next runs' file creation slower on ext4 (it
    // passes over recently freed inodes), which would blur the comparison.
    const std::string round = std::to_string(r + 1);
    auto runTool = [&](const std::string& tool, const std::string& folder) {
      const fs::path out = scratch / (folder + "-" + round);
      fs::create_directories(out);
      const std::string command = "'" + tool + "' x '" + pack.string() + "' '-o" + out.string() + "' -y >/dev/null";
      // Each side starts with everything before it on disk: the page cache would otherwise hand
      // the write-back of one run's 200 MB to whichever run comes next.
      ::sync();
      return Seconds([&] { (void)std::system(command.c_str()); });
    };
    auto runByHand = [&] { return runTool("7zz", "byhand"); };
    // The program's archive tool alone, to tell its share from the program's own.
    auto runStandIn = [&] { return runTool((programDir / "7z").string(), "standin"); };
    auto runProgram = [&] {
      // The working folder the start-up chose, one per round.
      const std::string work = (scratch / "win" / ("dp_tavi-" + round)).string() + "/";
      main.SetCaption("Workdir", work);
      main.SetCaption("CMDPackOutDired", "-o" + work);
      main.Form().SetItems("UnpackedDPlb", {});
      main.Form().SetItems("PacksChlbx", {pack.filename().string()});
      main.Form().SetAllChecked("PacksChlbx", true);
      main.SetCaption("CMDUnpackMethoded", "2");
      const long before = ResidentKiB();
      ::sync();
      const double seconds = Seconds([&] { main.RunWithOutputClick(); });
      // What the run left in memory: the log, and the two working lists that hold the tool's
      // output (the caught lines, and the lines loaded back from the output file for logging).
      logBytes = TextBytes(main.Form().Items("LogLbx"));
      workingListBytes =
          TextBytes(main.Waitfrm().Items("CMDTemplb")) + TextBytes(main.Form().Items("CMDlogcmb"));
      main.Form().SetItems("LogLbx", {});  // the log aside
      memoryGrowth = std::max(memoryGrowth, ResidentKiB() - before);
      return seconds;
    };
    // The sides take turns at going first, so neither always meets the disk as the other left it.
    double handRound = 0;
    double programRound = 0;
    double standInRound = 0;
    if (r % 2 == 0) {
      handRound = runByHand();
      programRound = runProgram();
      standInRound = runStandIn();
    } else {
      standInRound = runStandIn();
      programRound = runProgram();
      handRound = runByHand();
    }
    byHand.push_back(handRound);
    program.push_back(programRound);
    standIn.push_back(standInRound);
    std::printf("round %d: by hand %.3f s, method 2 %.3f s, the 7z stand-in alone %.3f s\n", r + 1, handRound,
                programRound, standInRound);
  }
  const double handMean = Mean(byHand);
  const double programMean = Mean(program);
  const double handMedian = Median(byHand);
  const double programMedian = Median(program);
  std::printf(
      "rounds %d\n"
      "by hand (7zz x)   %.3f s per round (median %.3f s)\n"
      "method 2          %.3f s per round (median %.3f s)\n"
      "7z stand-in alone %.3f s per round (median %.3f s)\n"
      "ratio             %.3f (of the medians %.3f)\n"
      "resident memory growth during a round, log included: %ld KiB\n"
      "text held after a round: log %zu KiB, tool output in the working lists %zu KiB\n",
      rounds, handMean, handMedian, programMean, programMedian, Mean(standIn), Median(standIn),
      programMean / handMean,
      programMedian / handMedian, memoryGrowth, logBytes / 1024, workingListBytes / 1024);
  fs::remove_all(scratch);
  return 0;
}
