#include "packs/tool_runner.h"

#include "packs/runners.h"
#include "platform/process.h"
#include "shared/shared_functions.h"

namespace {

namespace proc = platform::process;

class StartedProcess : public StartedTool {
 public:
  explicit StartedProcess(proc::ChildProcess child) : child_(std::move(child)) {}
  bool Ended() override { return child_.Wait(0) == proc::WaitResult::Ended; }
  int ExitCode() const override { return child_.ExitCode(); }

 private:
  proc::ChildProcess child_;
};

}  // namespace

std::optional<int> RealToolRunner::RunAny(const std::string& commandLine, std::vector<std::string>& output,
                                          const std::function<void()>& onLines,
                                          platform::process::ProcessFailure* failure) {
  return ::RunAny(commandLine, output, onLines, failure);
}

bool RealToolRunner::CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                                const std::string& outputFile, const std::string& errMsg,
                                                UiPort* ui) {
  return ::CreateDOSProcessRedirected(commandLine, inputFile, outputFile, errMsg, ui);
}

void RealToolRunner::CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui) {
  ::CaptureConsoleOutput(commandLine, target, ui);
}

bool RealToolRunner::WinExecute(const std::string& commandLine, bool wait, int* exitCode) {
  return ::WinExecute(commandLine, wait, exitCode);
}

std::unique_ptr<StartedTool> RealToolRunner::StartTool(const std::string& commandLine) {
  proc::StartInfo info;
  info.commandLine = commandLine;
  info.window = proc::Window::Hidden;
  info.input = proc::Input::Inherit;
  info.output = proc::Output::Inherit;
  info.error = proc::ErrorOutput::Inherit;
  proc::ChildProcess child;
  if (!proc::ChildProcess::TryStart(info, child)) return nullptr;
  return std::make_unique<StartedProcess>(std::move(child));
}

std::string RealToolRunner::FindProgram(const std::string& word) { return proc::FindProgram(word); }

std::vector<platform::devices::DeviceInfo> RealToolRunner::EnumerateHardwareIds() {
  return platform::devices::EnumerateHardwareIds();
}
