#include "installer/installer_log.h"

namespace installer {

void Summary::Add(Outcome outcome, bool servesPresentDevice) {
  ++packages;
  switch (outcome) {
    case Outcome::Installed: ++installed; break;
    case Outcome::UpToDate: ++upToDate; break;
    case Outcome::NotNeeded: ++notNeeded; break;
    case Outcome::Unsigned: ++(servesPresentDevice ? unsignedLeft : unsignedIdle); break;
    case Outcome::Failed: ++failed; break;
  }
}

int Summary::Status() const {
  if (failed > 0) return kExitFailed;
  if (unsignedLeft > 0) return kExitUnsigned;
  return kExitOk;
}

std::string Summary::Line() const {
  return "Summary: " + std::to_string(packages) + " driver packages: " + std::to_string(installed) +
         " installed, " + std::to_string(upToDate) + " already up to date, " + std::to_string(notNeeded) +
         " not needed, " + std::to_string(unsignedLeft + unsignedIdle) + " not signed, " +
         std::to_string(failed) + " failed; exit status " + std::to_string(Status());
}

}  // namespace installer
