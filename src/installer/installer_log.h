// What the installer reports: the outcome of each driver package, the last summary line of
// DPINST.LOG and the exit status.
#pragma once

#include <string>

namespace installer {

// Exit status of DPINST.exe.
enum ExitStatus : int {
  kExitOk = 0,             // every package that serves a present device is installed (or was)
  kExitFailed = 1,         // a package could not be read, staged or installed
  kExitUnsigned = 2,       // an unsigned package that serves a present device was left out
  kExitCommandLine = 3,    // the command line was refused
  kExitNoFolder = 4,       // the folder to search is missing or not a folder
  kExitNotAdmin = 5,       // no administrator rights
  kExitWow64 = 6,          // a 32-bit installer on 64-bit Windows
  kExitNoLog = 7,          // DPINST.LOG could not be written
};

enum class Outcome {
  Installed,   // the package went into the driver store and onto every device it serves
  UpToDate,    // every device it serves already runs it, or a better driver
  NotNeeded,   // it serves no present device (added to the driver store unless /sh)
  Unsigned,    // left out: not signed, and not accepted by this run
  Failed,      // unreadable INF, missing files, or the system refused a step
};

struct Summary {
  int packages = 0;
  int installed = 0;
  int upToDate = 0;
  int notNeeded = 0;
  int unsignedLeft = 0;   // unsigned packages that serve a present device, left out
  int unsignedIdle = 0;   // unsigned packages that serve no present device, left out
  int failed = 0;

  void Add(Outcome outcome, bool servesPresentDevice);
  // Failed over unsigned; an unsigned package that serves no present device does not count.
  int Status() const;
  // "Summary: 5 driver packages: 2 installed, 1 already up to date, 1 not needed, 0 not signed, 1 failed; exit status 1"
  std::string Line() const;
};

}  // namespace installer
