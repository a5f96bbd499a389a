// What both front ends (Qt on Linux, Win32 on Windows) need beyond drawing and their event loop:
// the command-line switches, the exit status of a run, and the tour of pictures
// VELMORA_SCREENSHOT_DIR asks for. Each front end only supplies how a picture is taken.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class FormModel;

// True for the switches the program acts on: "/untd", "/unth" and "/inir", exactly (letter case
// included). Only the first argument of a command line counts.
bool IsCommandLineSwitch(std::string_view arg);

// True when `args` (without the program's name) start with a switch.
bool IsSwitchRun(const std::vector<std::string>& args);

// For a first argument that looks like a switch (it begins with "/" or "-") but is none of the
// program's, such as "/UNTH": the line that says so and names the switches; empty otherwise.
// Such a start runs nothing and ends with exit status 2.
std::string UnknownSwitchLine(const std::vector<std::string>& args);

// The process's exit status once the event loop has ended with `loopCode`. A run of "/untd" or
// "/unth" that closed normally tells a calling script how it went: `runStatus` (0 every step
// succeeded, 1 a step failed, 2 the run could not start). "/inir", a run without a switch and an
// event loop that ended abnormally give `loopCode`.
int ProgramExitStatus(const std::vector<std::string>& args, int loopCode, int runStatus);

// The handler names of VELMORA_SCREENSHOT_RUN, separated by commas, in their order.
std::vector<std::string> HandlerList(std::string_view text);

// The screenshot tour: every tabbed page of "MainPageControle" in `pages` ("page-<index>"), the
// HWIDs page's simple view ("page-2-simple") when the form has "HWIDsPageControl", then the
// progress window ("waitfrm") when `waitForm` is given, shown for the picture and hidden again.
// `take(window, name)` takes one picture, `name` without its file ending; `window` is 0 for the
// main window, 1 for the progress window; false when it failed. The pages selected before are
// selected again. True when every picture was taken.
bool TakeScreenshotTour(FormModel& form, const std::vector<int>& pages, FormModel* waitForm,
                        const std::function<bool(int window, const std::string& name)>& take);
