#include "packs/tool_runner.h"

#include "packs/runners.h"
#include "shared/shared_functions.h"

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
