// Starting a program with no redirection at all, as the installer is started.
#include "platform/process.h"
#include "shared/shared_functions.h"

bool WinExecute(const std::string& commandLine, bool wait, int* exitCode) {
  namespace proc = platform::process;
  proc::StartInfo info;
  info.commandLine = commandLine;
  info.window = proc::Window::Normal;
  info.input = proc::Input::Inherit;
  info.output = proc::Output::Inherit;
  info.error = proc::ErrorOutput::Inherit;

  proc::ChildProcess child;
  if (!proc::ChildProcess::TryStart(info, child)) return false;
  // A child not waited for keeps running on its own.
  if (wait) {
    child.Wait(proc::ChildProcess::kInfinite);
    if (exitCode != nullptr) *exitCode = child.ExitCode();
  }
  return true;
}
