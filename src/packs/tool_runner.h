// The one way the handlers start an outside tool (7z, devcon, DPINST.exe). The main window is
// handed a ToolRunner as it is handed its UiPort; the program uses RealToolRunner, which starts
// real processes through the runners (packs/runners.h) and WinExecute, and the tests hand in a
// scripted fake, so the handlers are tested without starting a process on either platform.
// Each method has the contract of the free function of the same name.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class UiPort;
namespace platform::process {
struct ProcessFailure;
}

class ToolRunner {
 public:
  virtual ~ToolRunner() = default;
  // See RunAny in packs/runners.h.
  virtual std::optional<int> RunAny(const std::string& commandLine, std::vector<std::string>& output,
                                    const std::function<void()>& onLines = {},
                                    platform::process::ProcessFailure* failure = nullptr) = 0;
  // See CreateDOSProcessRedirected in packs/runners.h.
  virtual bool CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                          const std::string& outputFile, const std::string& errMsg,
                                          UiPort* ui) = 0;
  // See CaptureConsoleOutput in packs/runners.h.
  virtual void CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui) = 0;
  // See WinExecute in shared/shared_functions.h.
  virtual bool WinExecute(const std::string& commandLine, bool wait, int* exitCode = nullptr) = 0;
};

// Starts real processes.
class RealToolRunner : public ToolRunner {
 public:
  std::optional<int> RunAny(const std::string& commandLine, std::vector<std::string>& output,
                            const std::function<void()>& onLines = {},
                            platform::process::ProcessFailure* failure = nullptr) override;
  bool CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                  const std::string& outputFile, const std::string& errMsg, UiPort* ui) override;
  void CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui) override;
  bool WinExecute(const std::string& commandLine, bool wait, int* exitCode = nullptr) override;
};
