// The driver package installer's command line and its descriptor file (DPInst.xml beside the
// installer), read into one set of options. Plain text in, options out: no system calls, so the
// rules are tested on every platform.
#pragma once

#include <string>
#include <vector>

namespace installer {

struct InstallerOptions {
  std::string folder;           // /path <folder>; empty: the current folder
  bool silent = false;          // /s or /q: no window, no question
  bool suppressWizard = false;  // /sw: no progress window; a question may still come
  bool legacyMode = false;      // /lm: unsigned packages accepted
  bool force = false;           // /f: install even where the present driver is a better match
  bool scanHardware = false;    // /sh: only packages that serve a present device, none to the store
  bool console = false;         // /c: the log lines also go to standard output
  bool help = false;            // /? /h /help: the usage lines only, nothing installed
  // Switches of the usual installer that change nothing here, as written ("/sa", "/l 1033").
  std::vector<std::string> ignored;
};

struct CommandLineResult {
  InstallerOptions options;
  std::string error;  // empty when the command line was accepted
};

// Reads a whole Windows command line, program name first (quoted or not), as GetCommandLine
// gives it. Switches start with "/" or "-" and are matched in any letter case. The value of
// /path may be quoted ("C:\My Drivers") or not, and then runs up to the next known switch, blanks
// included ("/path C:\My Drivers /s"); a trailing separator is kept as given. Refused, with a
// one-line reason: an unknown switch, /u (uninstalling is not supported), a switch that needs a
// value and has none, /path given twice, a stray word.
CommandLineResult ParseInstallerCommandLine(const std::string& commandLine);

// Applies the flags of a descriptor file's text to `options`: the empty elements legacyMode,
// scanHardware, forceIfDriverIsNotBetter, quietInstall, suppressWizard (and the display-only
// ones, which are recorded as ignored). Comments are skipped; other elements, such as the
// search element that asks for subfolders (every level is searched anyway), change nothing.
// Returns the names of the elements that set a flag, in the order found.
std::vector<std::string> ApplyDescriptor(const std::string& xmlText, InstallerOptions& options);

// The usage lines, one per switch.
std::vector<std::string> UsageLines();

}  // namespace installer
