// Running the archive tool (7z) over a driver pack, without the main window: the command lines of
// its three uses, the unpack method, asking the tool for its banner, one run with its output
// caught, and the rule that tells from the exit code and the output whether a run went well.
// The handlers read the controls, log and show what these give (packs/unpack_handlers.cpp,
// search/search_handlers.cpp); which kind of tool it is and what it reports per item is
// packs/archiver_kind.h.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "packs/archiver_kind.h"

class ToolRunner;

// ---- the command lines, before the tool's kind is applied (ArchiverCommandLine) ----
// `archive` is the pack's path as ShortFileName gives it: one word already (quoted when it holds a
// blank), or empty for a missing pack, whose absence the tool then reports. The output folder
// `out` and the list file each become one word, quoted when they hold a blank, so a working
// folder with blanks reaches the tool whole.

// "-o<out>" as one command-line word; the command lines below hold it exactly once, so a run can
// be pointed at another folder by replacing it.
std::string ArchiverOutputSwitch(const std::string& out);
// "7z x <archive> -o<out> -y": the whole pack, its folder tree recreated under `out`.
std::string UnpackPackCommand(const std::string& archive, const std::string& out);
// "7z x <archive> -o<out> *.inf -r -y": the pack's INF files, from every folder of the pack.
std::string ExtractInfsCommand(const std::string& archive, const std::string& out);
// "7z x <archive> -o<out> @<list> -y": the items the list file names, one a line.
std::string ExtractListedCommand(const std::string& archive, const std::string& out, const std::string& list);

// ---- the unpack method of a whole pack (the text of `CMDUnpackMethoded`) ----
enum class UnpackMethod {
  Redirected,  // 1: CreateDOSProcessRedirected; the tool reads the input file and writes the output file
  Piped,       // 2: RunArchiver; the output is caught line by line, then saved to the output file
  None,        // any other number: no tool runs
};
// The method a text names. Text that is no whole number (empty, words, blanks around the digits,
// a number too large for an int) raises std::invalid_argument, so a pack is never counted as done
// without being tried.
UnpackMethod UnpackMethodOf(const std::string& text);

// ---- running the tool ----
// Runs the tool without arguments ("7z") and reads its kind from the banner it prints; nothing
// when the tool cannot be started.
std::optional<ArchiverBanner> AskArchiverBanner(ToolRunner& tools);

// Runs an archive tool command line through `tools`, its output lines going into `output` as the
// tool writes them (`onLines` after each change), then saves them to `outputFile`, replacing it.
// `output` is emptied first, so a tool that cannot be started leaves no earlier output to be
// taken for its own (and an empty output file). The tool's exit code; nothing when it could not
// be started.
std::optional<int> RunArchiver(ToolRunner& tools, const std::string& commandLine,
                               std::vector<std::string>& output, const std::string& outputFile,
                               const std::function<void()>& onLines = {});

// ---- how a run went ----
enum class ArchiverOutcome {
  NotStarted,  // the tool could not be started: no exit code
  Failed,      // it ended with an exit code that means failure
  ItemErrors,  // it did not fail, but its output reports an error (UnpackOutcome only)
  Done,
};
// The exit-status rule. 0 (no error) and 1 (a warning, such as a file another program holds
// open) are runs that did not fail. Every other code is a failure: from kArchiverFatal on (a
// fatal error, a bad command line, no memory, stopped by the user), and a negative one, which the
// tool never gives itself: a Windows exception code read as a signed number (0xC0000005 for a
// crash), or -1 for a run whose output could not be read to its end.
ArchiverOutcome ArchiverExitOutcome(const std::optional<int>& exitCode);
// Exit codes of the archive tool from this one on mean a fatal failure.
constexpr int kArchiverFatal = 2;

// How unpacking a whole pack went: the exit-status rule first, then a run that did not fail but
// printed an error line (IsArchiverErrorLine) has ItemErrors: a damaged, unreadable or
// interrupted pack is not taken for unpacked.
ArchiverOutcome UnpackOutcome(const std::optional<int>& exitCode, const std::vector<std::string>& output);

// True for a line in which the archive tool reports an error: one starting "ERROR" (a damaged
// item), "Error:", an "Errors:" total (also within a line: "Sub items Errors: 1"), or an archive
// it cannot open ("Can't open as archive", "Can not open the file as archive").
bool IsArchiverErrorLine(const std::string& line);
