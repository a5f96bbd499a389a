// Unpacking one large pack by method 2 through the program's own operation, against the same
// "7zz x" run by hand, side by side in one run. Also reports how much the program's resident
// memory grew while the tool's output streamed through it.
//
// Usage: unpack_compare <program folder> <pack.7z> [rounds]
// The program folder is an installed one (it holds the 7z stand-in); the pack is unpacked
// into a temporary working folder that is emptied between rounds.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/main_form.h"

namespace fs = std::filesystem;

namespace {

class SilentUi : public UiPort {
 public:
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  void ShowInfo(const std::string&, const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
  std::optional<std::string> OpenFile(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::optional<std::string> SaveFile(const std::string&, const std::string&, const std::string&) override { return {}; }
  void ProcessMessages() override {}
  void SetBusyCursor(bool) override {}
  void OpenUrl(const std::string&) override {}
};

double Seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  const fs::path scratch = fs::temp_directory_path() / "velmora-unpack-compare";
  fs::remove_all(scratch);
  fs::create_directories(scratch / "win");
  fs::create_directories(scratch / "byhand");
  setenv("VELMORA_WINDIR", (scratch / "win").c_str(), 1);
  setenv("VELMORA_DRIVE_TYPE", "3", 1);
  // The program folder's configuration is left alone: the run uses a copy of the folder's
  // tools through a program path inside it, with the pack folder pointed at the pack.
  SilentUi ui;
  TMainfrm main(ui, AppEnvironment{(programDir / "Velmora_TAVI").string(), {}});
  std::fclose(stderr);  // the log's copy on standard error would dominate the timing
  main.FormCreate();
  main.SetCaption("CMDPackDired", pack.parent_path().string() + "/");
  main.Form().SetItems("PacksChlbx", {pack.filename().string()});

  double program = 0;
  double byHand = 0;
  long memoryGrowth = 0;
  for (int r = 0; r < rounds; ++r) {
    fs::remove_all(scratch / "byhand");
    fs::create_directories(scratch / "byhand");
    const std::string command = "7zz x '" + pack.string() + "' '-o" + (scratch / "byhand").string() + "' -y >/dev/null";
    byHand += Seconds([&] { (void)std::system(command.c_str()); });

    fs::remove_all(scratch / "win" / "dp_tavi");
    main.Form().SetItems("UnpackedDPlb", {});
    main.Form().SetItems("PacksChlbx", {pack.filename().string()});
    main.Form().SetAllChecked("PacksChlbx", true);
    main.SetCaption("CMDUnpackMethoded", "2");
    const long before = ResidentKiB();
    program += Seconds([&] { main.RunWithOutputClick(); });
    main.Form().SetItems("LogLbx", {});  // the log aside
    memoryGrowth = std::max(memoryGrowth, ResidentKiB() - before);
  }
  std::printf("rounds %d\nby hand (7zz x)   %.3f s per round\nmethod 2          %.3f s per round\nratio             %.3f\n"
              "resident memory growth during a round, log included: %ld KiB\n",
              rounds, byHand / rounds, program / rounds, program / byHand, memoryGrowth);
  fs::remove_all(scratch);
  return 0;
}
