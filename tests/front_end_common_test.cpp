// What both front ends take from the core: which arguments are switches, the exit status of a
// run, the handler list of a screenshot run and the order of the screenshot tour.
#include "app/front_end_common.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/form_model.h"
#include "base/window_layout.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLineSwitch, OnlyTheThreeSwitchesExactlyAsWritten) {
  for (const char* arg : {"/untd", "/unth", "/inir"}) EXPECT_TRUE(IsCommandLineSwitch(arg)) << arg;
  for (const char* arg : {"", "/UNTD", "/Unth", "untd", "-untd", "/untd ", " /unth", "/unt", "/inirx", "/"})
    EXPECT_FALSE(IsCommandLineSwitch(arg)) << "\"" << arg << "\"";
  // Only the first argument counts.
  EXPECT_TRUE(IsSwitchRun(Args{"/unth", "extra"}));
  EXPECT_FALSE(IsSwitchRun(Args{"extra", "/unth"}));
  EXPECT_FALSE(IsSwitchRun(Args{}));
}

// A first argument written like a switch that is none of the program's is named as unknown;
// the switches themselves, plain arguments and no arguments are not.
TEST(CommandLineSwitch, AnUnknownSwitchIsNamed) {
  for (const char* arg : {"/UNTH", "/Untd", "/INIR", "-unth", "/", "/unth ", "/help"}) {
    const std::string line = UnknownSwitchLine(Args{arg, "x"});
    EXPECT_NE(line.find(std::string("unknown switch \"") + arg + "\""), std::string::npos) << line;
    EXPECT_NE(line.find("/untd, /unth and /inir"), std::string::npos) << line;
  }
  for (const Args& args : {Args{}, Args{"/unth"}, Args{"/untd"}, Args{"/inir"}, Args{"notes.txt"}, Args{""},
                           Args{"x", "/UNTH"}}) {
    EXPECT_EQ(UnknownSwitchLine(args), "") << ::testing::PrintToString(args);
  }
}

TEST(ProgramExitStatus, SwitchRunsReportTheirStatusOnlyWhenTheLoopEndedNormally) {
  struct Case {
    Args args;
    int loopCode;
    int runStatus;
    int expected;
  };
  const std::vector<Case> cases = {
      {{"/unth"}, 0, 0, 0},
      {{"/unth"}, 0, 1, 1},
      {{"/untd"}, 0, 2, 2},
      {{"/untd", "x"}, 0, 1, 1},
      {{"/unth"}, 3, 1, 3},  // the event loop failed: its code, not the run's
      {{"/inir"}, 0, 1, 0},  // the program stays open after /inir: a person closed it
      {{}, 0, 1, 0},         // no switch: the run status means nothing
      {{"/UNTH"}, 0, 1, 0},  // not a switch
      {{"other"}, 5, 1, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgramExitStatus(c.args, c.loopCode, c.runStatus), c.expected)
        << (c.args.empty() ? std::string("(none)") : c.args.front()) << " loop " << c.loopCode << " run "
        << c.runStatus;
  }
}

TEST(HandlerList, SplitsAtCommasInOrder) {
  EXPECT_EQ(HandlerList(""), Args{});
  EXPECT_EQ(HandlerList("CollectClassesBtClick"), Args{"CollectClassesBtClick"});
  EXPECT_EQ(HandlerList("A,B,C"), (Args{"A", "B", "C"}));
  EXPECT_EQ(HandlerList("A,,B"), (Args{"A", "", "B"}));
  EXPECT_EQ(HandlerList("A,"), Args{"A"});
}

// One picture as the tour took it, with what the windows showed at that moment.
struct Shot {
  int window;
  std::string name;
  int page;
  int hwidsTab;
  bool waitVisible;
  bool operator==(const Shot&) const = default;
};

void PrintTo(const Shot& s, std::ostream* os) {
  *os << "{" << s.window << ", " << s.name << ", page " << s.page << ", tab " << s.hwidsTab << ", wait "
      << s.waitVisible << "}";
}

TEST(ScreenshotTour, EveryPageTheSimpleViewAndTheProgressWindowThenWhatWasShownBefore) {
  FormModel main(kMainFormName);
  BuildMainForm(main);
  FormModel wait(kWaitFormName);
  BuildWaitForm(wait);
  wait.SetVisible(wait.name(), false);
  main.SetItemIndex("MainPageControle", 1);
  main.SetItemIndex("HWIDsPageControl", 0);

  std::vector<Shot> shots;
  const auto take = [&](int window, const std::string& name) {
    shots.push_back({window, name, main.ItemIndex("MainPageControle"), main.ItemIndex("HWIDsPageControl"),
                     wait.Get(wait.name()).visible});
    return true;
  };
  EXPECT_TRUE(TakeScreenshotTour(main, {0, 1, 2, 3}, &wait, take));
  const std::vector<Shot> expected = {
      {0, "page-0", 0, 0, false},        {0, "page-1", 1, 0, false}, {0, "page-2", 2, 0, false},
      {0, "page-3", 3, 0, false},        {0, "page-2-simple", 2, 1, false},
      {1, "waitfrm", 1, 0, true},
  };
  EXPECT_EQ(shots, expected);
  EXPECT_EQ(main.ItemIndex("MainPageControle"), 1);
  EXPECT_EQ(main.ItemIndex("HWIDsPageControl"), 0);
  EXPECT_FALSE(wait.Get(wait.name()).visible);

  // A failed picture fails the tour, and the tour still takes the others.
  shots.clear();
  EXPECT_FALSE(TakeScreenshotTour(main, {0, 3}, nullptr,
                                  [&](int window, const std::string& name) { return take(window, name) && name != "page-0"; }));
  ASSERT_EQ(shots.size(), 3u);
  EXPECT_EQ(shots.back().name, "page-2-simple");
}

}  // namespace
