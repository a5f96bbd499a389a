// The driver search over a folder of INF files, side by side in one run:
//   (a) the one-pass counter (CountInFiles) with the machine's identifiers reduced as the
//       search reduces them (DecreaseHWID level 2),
//   (b) ripgrep over the same folder with the same identifiers: rg -F -i -c -f <patterns>,
//   (c) the file searcher pair by pair (TFileSearch: every file for every identifier), on every
//       n-th file only, its time scaled up to the whole set by bytes.
// The page cache is warmed first; each side runs `rounds` times (their order alternates) and
// the medians are compared. (a) must give exactly (c)'s counts on (c)'s files, and the same
// files with a match as (b) (ripgrep counts lines, not occurrences, so only that is compared).
//
// Usage: inf_search_compare <folder> <ids file> [rounds=5] [every n-th file for (c)=20]
// The folder and ids file come from make_inf_set.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "devices/hwid_rules.h"
#include "search/file_search.h"
#include "search/multi_search.h"

namespace fs = std::filesystem;

namespace {

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

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKiB(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_maxrss;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// ripgrep's per-file line counts ("path:count" for each file with a match).
std::map<std::string, long> RunRipgrep(const std::string& patternsFile, const std::string& folder) {
  const std::string command =
      "rg -F -i -c -f " + Quoted(patternsFile) + " " + Quoted(folder) + " 2>/dev/null";
  std::map<std::string, long> counts;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return counts;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) continue;
    counts[text.substr(0, colon)] = std::atol(text.c_str() + colon + 1);
  }
  pclose(pipe);
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <folder> <ids file> [rounds=5] [every n-th file for the pairs=20]\n",
                 argv[0]);
    return 2;
  }
  std::string folder = argv[1];
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string idsFile = argv[2];
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const std::size_t every = argc > 4 ? static_cast<std::size_t>(std::max(1, std::atoi(argv[4]))) : 20;

  std::vector<std::string> paths;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) paths.push_back(folder + "/" + entry.path().filename().string());
  }
  std::sort(paths.begin(), paths.end());
  std::uint64_t totalBytes = 0;
  for (const std::string& path : paths) totalBytes += fs::file_size(path);

  std::vector<std::string> patterns;
  {
    std::ifstream in(idsFile);
    for (std::string line; std::getline(in, line);) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (!line.empty()) patterns.push_back(DecreaseHWID(line, 2));
    }
  }
  const std::size_t identifiers = patterns.size();
  DeleteDuples(&patterns);
  const std::string patternsFile = (fs::temp_directory_path() / "velmora_inf_patterns.txt").string();
  {
    std::ofstream out(patternsFile);
    for (const std::string& p : patterns) out << p << "\n";
  }
  std::printf("%zu files, %.1f MB; %zu identifiers, %zu patterns after reduction\n", paths.size(),
              static_cast<double>(totalBytes) / 1e6, identifiers, patterns.size());

  // Warm the page cache.
  {
    std::vector<char> buffer(1 << 20);
    for (const std::string& path : paths) {
      std::FILE* f = std::fopen(path.c_str(), "rb");
      if (f == nullptr) continue;
      while (std::fread(buffer.data(), 1, buffer.size(), f) == buffer.size()) {
      }
      std::fclose(f);
    }
  }

  // A child's peak memory as the system counts it includes this program's memory at the time
  // it was started, so ripgrep's is taken from a run while this program is still small.
  std::map<std::string, long> theirs = RunRipgrep(patternsFile, folder);
  const long rgPeak = PeakKiB(RUSAGE_CHILDREN);

  const MultiPatternCounter counter(patterns);
  std::vector<FileMatches> ours;
  ours = CountInFiles(counter, paths);  // once untimed each, so both start equally warm
  theirs = RunRipgrep(patternsFile, folder);

  std::vector<double> onePass;
  std::vector<double> ripgrep;
  double ourCpu = 0;
  double rgCpu = 0;
  for (int round = 0; round < rounds; ++round) {
    auto runOurs = [&] {
      const double cpu = CpuSeconds(RUSAGE_SELF);
      onePass.push_back(Seconds([&] { ours = CountInFiles(counter, paths); }));
      ourCpu += CpuSeconds(RUSAGE_SELF) - cpu;
    };
    auto runTheirs = [&] {
      const double cpu = CpuSeconds(RUSAGE_CHILDREN);
      ripgrep.push_back(Seconds([&] { theirs = RunRipgrep(patternsFile, folder); }));
      rgCpu += CpuSeconds(RUSAGE_CHILDREN) - cpu;
    };
    if (round % 2 == 0) {
      runOurs();
      runTheirs();
    } else {
      runTheirs();
      runOurs();
    }
    std::printf("round %d: one pass %.3f s, ripgrep %.3f s\n", round + 1, onePass.back(), ripgrep.back());
  }
  const long ourPeak = PeakKiB(RUSAGE_SELF);
  const double single = Seconds([&] { CountInFiles(counter, paths, 1); });

  // (a) against (b): the files with a match.
  std::set<std::string> oursMatched;
  std::uint64_t occurrences = 0;
  for (std::size_t k = 0; k < paths.size(); ++k) {
    if (!ours[k].counts.empty()) oursMatched.insert(paths[k]);
    for (const auto& [pattern, count] : ours[k].counts) occurrences += count;
  }
  std::set<std::string> theirsMatched;
  long lines = 0;
  for (const auto& [path, count] : theirs) {
    theirsMatched.insert(path);
    lines += count;
  }
  std::size_t onlyOurs = 0;
  std::size_t onlyTheirs = 0;
  for (const std::string& p : oursMatched) onlyOurs += theirsMatched.count(p) == 0 ? 1 : 0;
  for (const std::string& p : theirsMatched) onlyTheirs += oursMatched.count(p) == 0 ? 1 : 0;

  // (c): every n-th file, pair by pair, against (a)'s counts for those files.
  std::vector<std::size_t> subset;
  std::uint64_t subsetBytes = 0;
  for (std::size_t k = 0; k < paths.size(); k += every) {
    subset.push_back(k);
    subsetBytes += fs::file_size(paths[k]);
  }
  std::vector<std::vector<std::uint32_t>> pairCounts(subset.size(),
                                                     std::vector<std::uint32_t>(patterns.size()));
  const double pairs = Seconds([&] {
    TFileSearch search;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
      search.SetPattern(patterns[p]);
      for (std::size_t s = 0; s < subset.size(); ++s) {
        search.SetFilename(paths[subset[s]]);
        std::uint32_t n = 0;
        for (std::int64_t at = search.First(); at >= 0; at = search.Next()) ++n;
        pairCounts[s][p] = n;
      }
    }
  });
  std::size_t differences = 0;
  for (std::size_t s = 0; s < subset.size(); ++s) {
    std::vector<std::uint32_t> fromOnePass(patterns.size(), 0);
    for (const auto& [pattern, count] : ours[subset[s]].counts) fromOnePass[pattern] = count;
    differences += fromOnePass != pairCounts[s] ? 1 : 0;
  }
  const double pairsScaled = pairs * static_cast<double>(totalBytes) / static_cast<double>(subsetBytes);

  const double a = Median(onePass);
  const double b = Median(ripgrep);
  std::printf(
      "\n(a) one pass (CountInFiles, %u threads)  median %.3f s  (%.0f MB/s), processor %.3f s per round\n",
      std::max(1u, std::thread::hardware_concurrency()), a, static_cast<double>(totalBytes) / 1e6 / a,
      ourCpu / rounds);
  std::printf("    the same on 1 thread                  %.3f s\n", single);
  std::printf(
      "(b) rg -F -i -c -f                         median %.3f s  (%.0f MB/s), processor %.3f s per round\n",
      b, static_cast<double>(totalBytes) / 1e6 / b, rgCpu / rounds);
  std::printf("    ratio (a)/(b)                          %.2f  -> %s\n", a / b, a <= b ? "met" : "NOT met");
  std::printf(
      "(c) pair by pair (TFileSearch), %zu of %zu files (%.1f MB): %.2f s, scaled to the set by bytes %.1f "
      "s\n",
      subset.size(), paths.size(), static_cast<double>(subsetBytes) / 1e6, pairs, pairsScaled);
  std::printf("    ratio (c)/(a)                          %.0f\n", pairsScaled / a);
  std::printf(
      "files with a match: one pass %zu, ripgrep %zu; only in one pass %zu, only in ripgrep %zu -> %s\n",
      oursMatched.size(), theirsMatched.size(), onlyOurs, onlyTheirs,
      onlyOurs == 0 && onlyTheirs == 0 ? "same files" : "DIFFERENT");
  std::printf("occurrences (one pass) %llu; matching lines (ripgrep) %ld\n",
              static_cast<unsigned long long>(occurrences), lines);
  std::printf("pair-by-pair counts against one pass on %zu files: %zu files differ -> %s\n", subset.size(),
              differences, differences == 0 ? "same counts" : "DIFFERENT");
  std::printf("peak resident memory: this program %ld KiB (before (c)), ripgrep %ld KiB\n", ourPeak, rgPeak);
  fs::remove(patternsFile);
  return onlyOurs == 0 && onlyTheirs == 0 && differences == 0 ? 0 : 1;
}
