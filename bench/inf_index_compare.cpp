// The INF index step (ExtractINFsbtnClick) over a collection of packs, through the program's own
// operation, in three forms side by side:
//   the archive tool alone   the 7z stand-in run on each pack by hand, one after another;
//   the program's own cost   the operation with a tool that only prints what the stand-in printed
//                            for that pack (so all that is left is catching the lines, logging
//                            them, gathering the paths and writing DP_Content.ini);
//   the whole step           the operation with the stand-in, one pack at a time and with the
//                            packs side by side (VELMORA_PACK_RUNS).
//
// Usage: inf_index_compare <program folder> <pack folder> [rounds=3]
// The program folder is an installed one (it holds the 7z stand-in); everything is written into
// fresh folders under the temporary folder ($TMPDIR), removed at the end.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_form.h"

namespace fs = std::filesystem;

namespace {

class SilentUi : public UiPort {
 public:
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
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
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void WriteScript(const fs::path& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  fs::permissions(path, fs::perms::owner_all);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <program folder> <pack folder> [rounds]\n", argv[0]);
    return 2;
  }
  const fs::path programDir = fs::absolute(argv[1]);
  const fs::path packDir = fs::absolute(argv[2]);
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  std::vector<std::string> packs;
  for (const auto& entry : fs::directory_iterator(packDir)) {
    if (entry.path().extension() == ".7z") packs.push_back(entry.path().filename().string());
  }
  std::sort(packs.begin(), packs.end());
  if (packs.empty()) {
    std::fprintf(stderr, "no *.7z in %s\n", packDir.c_str());
    return 2;
  }
  const fs::path scratch = fs::temp_directory_path() / ("velmora-inf-index-" + std::to_string(::getpid()));
  fs::create_directories(scratch / "win");
  setenv("VELMORA_WINDIR", (scratch / "win").c_str(), 1);
  setenv("VELMORA_DRIVE_TYPE", "3", 1);
  const fs::path programCopy = scratch / "prog";
  fs::copy(programDir, programCopy, fs::copy_options::recursive);
  fs::remove(programCopy / "dp_tavi.ini");
  fs::rename(programCopy / "7z", programCopy / "7z.standin");
  const fs::path recorded = scratch / "recorded";
  fs::create_directories(recorded);
  // The tool the program runs: the stand-in, or (with RECORDED set) one that prints the lines the
  // stand-in printed for the pack and does nothing else.
  WriteScript(programCopy / "7z",
              "[ $# -eq 0 ] && exec \"" + (programCopy / "7z.standin").string() +
                  "\"\n"
                  "[ -n \"$RECORDED\" ] && exec cat \"$RECORDED/$(basename \"$2\").out\"\n"
                  "exec \"" +
                  (programCopy / "7z.standin").string() + "\" \"$@\"\n");

  SilentUi ui;
  TMainfrm main(ui, AppEnvironment{(programCopy / "Velmora_TAVI").string(), {}});
  std::fclose(stderr);  // the log's copy on standard error would dominate the timing
  main.FormCreate();
  main.SetCaption("CMDPackDired", packDir.string() + "/");

  std::size_t infs = 0;
  std::vector<double> tool, own, onePack, sideBySide;
  for (int r = 0; r < rounds; ++r) {
    const std::string round = std::to_string(r + 1);
    // The stand-in alone, one pack after another, its output kept for the next form.
    const fs::path byHand = scratch / ("byhand-" + round);
    fs::create_directories(byHand);
    ::sync();
    tool.push_back(Seconds([&] {
      for (const std::string& pack : packs) {
        const std::string command = "'" + (programCopy / "7z.standin").string() + "' x '" +
                                    (packDir / pack).string() + "' '-o" + byHand.string() +
                                    "' '*.inf' -r -y > '" + (recorded / (pack + ".out")).string() + "'";
        (void)std::system(command.c_str());
      }
    }));
    auto runProgram = [&](const std::string& name, const char* packRuns, bool recordedOutput) {
      const std::string work = (scratch / "win" / (name + "-" + round)).string() + "/";
      main.SetCaption("Workdir", work);
      main.SetCaption("CMDPackOutDired", "-o" + work);
      main.Form().SetItems("PacksChlbx", packs);
      main.Form().SetAllChecked("PacksChlbx", true);
      if (packRuns != nullptr) {
        setenv("VELMORA_PACK_RUNS", packRuns, 1);
      } else {
        unsetenv("VELMORA_PACK_RUNS");  // as many as the machine has processors
      }
      if (recordedOutput) {
        setenv("RECORDED", recorded.c_str(), 1);
      } else {
        unsetenv("RECORDED");
      }
      ::sync();
      const double seconds = Seconds([&] { main.ExtractINFsbtnClick(); });
      infs = main.Form().Items("INFfullPathslb").size();
      main.Form().SetItems("LogLbx", {});
      return seconds;
    };
    own.push_back(runProgram("own", "1", true));
    if (r % 2 == 0) {
      onePack.push_back(runProgram("one", "1", false));
      sideBySide.push_back(runProgram("side", nullptr, false));
    } else {
      sideBySide.push_back(runProgram("side", nullptr, false));
      onePack.push_back(runProgram("one", "1", false));
    }
    std::printf(
        "round %d: stand-in alone %.3f s, program's own %.3f s, whole step one pack at a time %.3f s, "
        "side by side %.3f s\n",
        r + 1, tool.back(), own.back(), onePack.back(), sideBySide.back());
  }
  const double perInf = infs == 0 ? 0 : Median(own) / static_cast<double>(infs) * 1e6;
  std::printf(
      "packs %zu, INF files %zu, processors %u, rounds %d (medians)\n"
      "the 7z stand-in alone, one pack after another  %.3f s\n"
      "the program's own cost (recorded tool output)  %.3f s = %.1f us per INF\n"
      "the whole step, one pack at a time             %.3f s (%.2f x the stand-in alone)\n"
      "the whole step, packs side by side             %.3f s (%.2f x the stand-in alone)\n",
      packs.size(), infs, std::thread::hardware_concurrency(), rounds, Median(tool), Median(own), perInf,
      Median(onePack), Median(onePack) / Median(tool), Median(sideBySide), Median(sideBySide) / Median(tool));
  fs::remove_all(scratch);
  return 0;
}
