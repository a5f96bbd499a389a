// The archive tool on Linux. It takes the program's three extraction command lines
//   7z x <archive> -o<folder> -y
//   7z x <archive> -o<folder> *.inf -r -y
//   7z x <archive> -o<folder> @<listfile> -y
// runs Debian's 7-Zip (7zz, found on PATH) and prints 7-Zip's lines ("Everything is Ok", errors,
// totals) in one of two forms, chosen by the environment variable VELMORA_7Z_STYLE:
// - by default the form of 7-Zip 9.20: its banner ("7-Zip [32] 9.20 ..."), "Processing archive:
//   <archive>" and one "Extracting  <path>" line per extracted item; it knows no -bb switch;
// - with VELMORA_7Z_STYLE=modern the form of 7-Zip 15 and later, which is 7zz's own: its banner,
//   "Extracting archive: <archive>", and one "- <path>" line per extracted item only when the
//   command line holds -bb1 (or -bb2, -bb3, -bb).
// Run without arguments it prints its banner and how it is used, as 7-Zip does.
//
// Names are matched as on Windows: letter case ignored, "\" and "/" both separate folders,
// "*.*" matches every name, and an item inside a matching folder is taken with it.
//
// A hostile archive never writes outside the output folder: the archive is listed first; items
// with ".." or absolute paths, links, special files, encrypted items and names with line breaks are
// skipped with a WARNING line; 7zz extracts only the remaining files, by exact name (or all of them
// when nothing is skipped or selected), into a fresh private folder inside the output folder. From
// there a folder the output folder does not hold yet is moved into place whole, with one rename
// that never replaces anything; where the output folder already holds it, the placing goes down
// into it through folders opened without following links and moves file by file, so no link, old
// or new, is ever written through. A file 7-Zip reports as damaged is not moved, so it never
// replaces a good copy.
//
// The parts: command_line (switches, output form), listing (7zz's listing read item by item, what
// is unsafe), names (splitting and joining names, the UTF-16 list of names 7zz is handed),
// run_7zz (starting 7zz), placement (from the private folder into place), extraction (one run
// from listing to the last line), tool_basics (what they all use).
#include <cstdio>
#include <exception>
#include <string>

#include "command_line.h"
#include "extraction.h"
#include "platform/process.h"
#include "run_7zz.h"
#include "tool_basics.h"

namespace {

using namespace seven_zip;
namespace proc = platform::process;

// Without arguments: the banner and how the tool is used. The Modern form is 7zz's own.
int Usage(Style style) {
  if (style == Style::Modern) {
    const std::string sevenZip = proc::FindProgram("7zz");
    if (sevenZip.empty()) {
      Print("ERROR: the archiver 7zz was not found on PATH (Debian package 7zip)");
      return kFatal;
    }
    try {
      const RunResult run = Run7zz(sevenZip, {});
      std::fwrite(run.output.data(), 1, run.output.size(), stdout);
      return run.exitCode < 0 ? kFatal : run.exitCode;
    } catch (const std::exception& e) {
      Print(std::string("ERROR: ") + e.what());
      return kFatal;
    }
  }
  Print("Usage: 7z x <archive> -o<folder> [*.inf -r | @<listfile>] -y");
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.style = OutputStyle();
  if (options.style == Style::Classic) {
    Print("");
    Print(kClassicBanner);
    Print("");
  }
  if (argc < 2) {
    const int code = Usage(options.style);
    std::fflush(stdout);
    return code;
  }
  const std::string complaint = ParseCommandLine(argc, argv, options);
  if (!complaint.empty()) {
    Print("");
    Print("Command Line Error:");
    Print(complaint);
    std::fflush(stdout);
    return kCommandLineError;
  }
  int code = kFatal;
  try {
    code = Run(options);
  } catch (const std::exception& e) {
    Print(std::string("ERROR: ") + e.what());
  }
  // Lines that did not reach their reader (a full disk under a redirected output) make the run a
  // failure: what was extracted can no longer be told.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    const std::string failure = "ERROR: cannot write the tool's output: " + ErrnoText(errno) + "\n";
    std::fwrite(failure.data(), 1, failure.size(), stderr);
    return kFatal;
  }
  return code;
}
