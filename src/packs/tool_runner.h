// The one way the handlers start an outside tool (7z, devcon, DPINST.exe, clean.cmd) and read
// the machine's devices. The main window is handed a ToolRunner as it is handed its UiPort; the
// program uses RealToolRunner, which starts real processes through the runners (packs/runners.h),
// WinExecute and the process layer, and reads the devices from the system; the tests hand in a
// scripted fake, so the handlers are tested without starting a process or reading a device on
// either platform. Each method but StartTool has the contract of the free function of the same
// name.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/devices.h"

class UiPort;
namespace platform::process {
struct ProcessFailure;
}

// A tool started without waiting for it (ToolRunner::StartTool). Dropping the handle leaves a
// tool that still runs running; it is reaped once it has ended (Linux leaves no zombie).
class StartedTool {
 public:
  virtual ~StartedTool() = default;
  // Looks whether the tool has ended, without waiting; once it has, it is reaped and this stays
  // true.
  virtual bool Ended() = 0;
  // The tool's exit code once Ended() has said so, otherwise -1.
  virtual int ExitCode() const = 0;
};

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
  // Starts the command line with its window hidden and the program's own standard input and
  // output, and returns at once: the handle to look at the tool with, or null when it cannot be
  // started (the reason is not kept).
  virtual std::unique_ptr<StartedTool> StartTool(const std::string& commandLine) = 0;
  // See FindProgram in platform/process.h.
  virtual std::string FindProgram(const std::string& word) = 0;
  // See EnumerateHardwareIds in platform/devices.h: the present devices with their hardware IDs.
  virtual std::vector<platform::devices::DeviceInfo> EnumerateHardwareIds() = 0;
};

// Starts real processes and reads the system's devices.
class RealToolRunner : public ToolRunner {
 public:
  std::optional<int> RunAny(const std::string& commandLine, std::vector<std::string>& output,
                            const std::function<void()>& onLines = {},
                            platform::process::ProcessFailure* failure = nullptr) override;
  bool CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                  const std::string& outputFile, const std::string& errMsg, UiPort* ui) override;
  void CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui) override;
  bool WinExecute(const std::string& commandLine, bool wait, int* exitCode = nullptr) override;
  std::unique_ptr<StartedTool> StartTool(const std::string& commandLine) override;
  std::string FindProgram(const std::string& word) override;
  std::vector<platform::devices::DeviceInfo> EnumerateHardwareIds() override;
};
