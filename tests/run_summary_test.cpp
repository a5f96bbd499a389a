#include "app/run_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Each message as "key|arg|arg", so a line shows which text and which arguments it took.
std::string Fake(const std::string& key, const std::vector<MessageArg>& args) {
  std::string text = key;
  for (const MessageArg& arg : args) text += "|" + arg.Text();
  return text;
}

TEST(RunSummaryLines, SaysWhatTheRunDidAndEachFailure) {
  RunRecord search;
  search.hardwareIdsUsed = "Hardware IDs searched for: another computer's, from C:/lists/office.txt";
  search.devicesServed = {"PCI\\VEN_1&DEV_2", "*PNP0303", "PCI\\VEN_1&DEV_2"};
  search.foldersExtracted = 4;
  search.installerRuns = {{"DPINST.exe /s /path X", 0}};
  search.found = RunRecord::SearchFound{{"PCI\\VEN_1&DEV_2", "PCI\\VEN_3&DEV_4", "*PNP0303"}, {"a.7z", "b.7z"}};

  // A search that found nothing still says so; it extracted nothing.
  RunRecord nothingFound;
  nothingFound.hardwareIdsUsed = "Hardware IDs in use: this computer's (HOST)";
  nothingFound.found = RunRecord::SearchFound{};

  RunRecord failed;
  failed.packsUnpacked = 1;
  failed.installerRuns = {{"DPINST.exe /s /path X", std::nullopt}, {"DPINST.exe /s /path X", 2}};
  failed.failures = {"The archive tool failed on driver pack broken.7z (exit code 2)",
                     "The archive tool could not extract an item of driver pack cut.7z: Unexpected end of archive"};

  RunRecord neverInstalled;
  neverInstalled.installerRuns = {{"DPINST.exe /path X", std::nullopt}};
  neverInstalled.failures = {"The driver installer could not be started: DPINST.exe /path X"};

  struct Case {
    const char* what;
    RunRecord run;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"a search run that went well", search,
       {"Hardware IDs searched for: another computer's, from C:/lists/office.txt", "log131|3|2", "log124|2|4|0",
        "log125|DPINST.exe /s /path X|0", "log127"}},
      {"a search that found nothing", nothingFound,
       {"Hardware IDs in use: this computer's (HOST)", "log131|0|0", "log124|0|0|0", "log128", "log127"}},
      {"an unpack run with two failures, each named in order", failed,
       {"log124|0|0|1", "log125|DPINST.exe /s /path X|2",
        "log126|The archive tool failed on driver pack broken.7z (exit code 2)",
        "log126|The archive tool could not extract an item of driver pack cut.7z: Unexpected end of archive"}},
      {"an installer that never started did not run", neverInstalled,
       {"log124|0|0|0", "log128", "log126|The driver installer could not be started: DPINST.exe /path X"}},
      {"nothing done", RunRecord{}, {"log124|0|0|0", "log128", "log127"}},
  };
  for (const auto& c : cases) EXPECT_EQ(RunSummaryLines(c.run, Fake), c.lines) << c.what;
}

}  // namespace
