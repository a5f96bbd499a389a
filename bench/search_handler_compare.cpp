// The whole hardware-ID search of the main window over an INF set already on disk, against
// ripgrep over the same files, and the building of the INF index from the archive tool's output.
//
//   search_handler_compare <inf folder> <ids file> [rounds=3]
//
// (make the set with bench/make_inf_set). A program folder is laid out in a temporary folder:
// a pack, an archive tool that only prints one "Extracting" line per INF file (so the index
// build is timed without any archive work) and the shipped English language file; the INF
// folder is linked into the working folder. Then, per round:
//   index:  ExtractINFsbtnClick, the index of every INF path written from the tool's output;
//   search: SearchByHWIDSbtnClick over the kept index: the one pass over every file, the
//           H x N log lines, the index keys, the lists and the extraction lists;
//   rg:     rg -F -i -c -f <reduced IDs> <folder>, ripgrep's own threads.
// The log the program copies to standard error goes to /dev/null while a round runs.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "devices/hwid_rules.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class QuietUi : public UiPort {
 public:
  bool answer = true;
  bool AskYesNo(const std::string&, const std::string&) override { return answer; }
  void ShowInfo(const std::string&, const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowError(const std::string& text) override { std::cout << "error: " << text << "\n"; }
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

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

long CurrentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Standard error to /dev/null for the life of the object, back afterwards.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(2);
    std::FILE* null = std::fopen("/dev/null", "w");
    dup2(fileno(null), 2);
    std::fclose(null);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }

 private:
  int saved_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <inf folder> <ids file> [rounds=3]\n", argv[0]);
    return 2;
  }
  const fs::path infFolder = fs::absolute(argv[1]);
  const std::string idsFile = argv[2];
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;

  std::vector<std::string> ids;
  {
    std::ifstream in(idsFile);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) ids.push_back(line);
    }
  }
  std::vector<std::string> infNames;
  for (const auto& entry : fs::directory_iterator(infFolder)) {
    if (entry.is_regular_file()) infNames.push_back(entry.path().filename().string());
  }
  std::sort(infNames.begin(), infNames.end());
  if (ids.empty() || infNames.empty()) {
    std::fprintf(stderr, "no identifiers or no INF files\n");
    return 2;
  }

  char pattern[] = "/tmp/velmora-search-bench-XXXXXX";
  const fs::path root = mkdtemp(pattern);
  const fs::path prog = root / "prog";
  const fs::path win = root / "win";
  fs::create_directories(prog / "DP");
  fs::create_directories(prog / "Markers");
  fs::create_directories(prog / "lng");
  fs::create_directories(win / "dp_tavi");
  fs::copy_file(fs::path(VELMORA_SOURCE_DIR) / "data/lng/english.lng", prog / "lng/english.lng");
  std::ofstream(prog / "Velmora_TAVI") << "";
  std::ofstream(prog / "DP/bench.7z") << "pack";
  fs::create_directory_symlink(infFolder, win / "dp_tavi/inf");
  {
    std::ofstream lines(root / "extract-lines.txt");
    lines << "7-Zip (a) 23.01\n";
    for (const std::string& name : infNames) lines << "Extracting  inf/" << name << "\n";
    lines << "Everything is Ok\n";
    std::ofstream tool(prog / "7z");
    tool << "#!/bin/sh\ncat '" << (root / "extract-lines.txt").string() << "'\n";
  }
  fs::permissions(prog / "7z", fs::perms::owner_all);
  {
    std::ofstream patterns(root / "patterns.txt");
    std::set<std::string> seen;
    for (const std::string& id : ids) {
      const std::string reduced = DecreaseHWID(id, 2);
      if (seen.insert(reduced).second) patterns << reduced << "\n";
    }
  }
  setenv("VELMORA_WINDIR", win.c_str(), 1);
  setenv("VELMORA_DRIVE_TYPE", "3", 1);

  std::printf("%zu INF files in %s, %zu identifiers, %d rounds\n", infNames.size(), infFolder.c_str(),
              ids.size(), rounds);
  const std::string rg = "rg -F -i -c -f '" + (root / "patterns.txt").string() + "' '" + infFolder.string() +
                         "' > /dev/null 2>&1";
  // The page cache warm for both sides.
  if (std::system(rg.c_str()) == -1) std::fprintf(stderr, "cannot run ripgrep\n");

  QuietUi ui;
  std::vector<double> indexTimes;
  std::vector<double> searchTimes;
  std::vector<double> rgTimes;
  std::size_t logLines = 0;
  std::size_t matched = 0;
  long peakAfterSearch = 0;
  long residentWithLog = 0;
  for (int round = 0; round < rounds; ++round) {
    fs::remove(win / "dp_tavi/DP_Content.ini");
    TMainfrm window(ui, AppEnvironment{(prog / "Velmora_TAVI").string(), {}});
    {
      QuietStderr quiet;
      window.FormCreate();
      window.Form().SetAllChecked("PacksChlbx", true);
      window.Form().SetItems("HWIDSforWorkcbx", ids);

      auto start = Clock::now();
      window.ExtractINFsbtnClick();
      indexTimes.push_back(Seconds(start));

      ui.answer = false;  // keep the index just built
      const std::size_t before = window.Form().Items("LogLbx").size();
      start = Clock::now();
      window.SearchByHWIDSbtnClick();
      searchTimes.push_back(Seconds(start));
      ui.answer = true;
      logLines = window.Form().Items("LogLbx").size() - before;
      matched = window.Form().Items("HWIDS2Installchb").size();
      peakAfterSearch = PeakKiB();
      residentWithLog = CurrentKiB();
    }
    const auto start = Clock::now();
    if (std::system(rg.c_str()) == -1) std::fprintf(stderr, "cannot run ripgrep\n");
    rgTimes.push_back(Seconds(start));
    std::printf("round %d: index %.3f s, search %.3f s, ripgrep %.3f s\n", round + 1, indexTimes.back(),
                searchTimes.back(), rgTimes.back());
  }

  const double search = Median(searchTimes);
  const double ripgrep = Median(rgTimes);
  std::printf("index of %zu paths from the tool's output: median %.3f s\n", infNames.size(),
              Median(indexTimes));
  std::printf("whole search: median %.3f s, ripgrep median %.3f s, ratio %.2f\n", search, ripgrep,
              search / ripgrep);
  std::printf("log lines added by one search: %zu; entries offered for installation: %zu\n", logLines,
              matched);
  std::printf("peak resident memory %ld KiB; resident with the log of one search %ld KiB\n", peakAfterSearch,
              residentWithLog);
  fs::remove_all(root);
  return 0;
}
