// A scripted ToolRunner for the handler tests: no process is started and no device is read, so
// the tests run alike in the Linux and the Windows test programs. For each command line it finds
// the newest rule whose pattern the line contains, records the line, leaves the rule's files and
// gives its output and exit code. A command line no rule matches is a program that cannot be
// started. A tool started without waiting runs until the test ends it; the machine's devices
// and where programs are found are what the test says.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "packs/tool_runner.h"
#include "platform/process.h"

struct ToolAnswer {
  std::vector<std::string> lines;  // what the tool writes, line by line
  int exitCode = 0;
  // Files the tool leaves: (path, content). A relative path lies under the folder the command
  // line names with -o<folder> (as the archive tool extracts there); an absolute one as it is.
  std::vector<std::pair<std::string, std::string>> files;
  // Anything else the tool does, given its command line (runs after the files are written).
  std::function<void(const std::string&)> effect;
  // Set: the program is found but cannot be started, for this reason; it writes and leaves
  // nothing and has no effect.
  std::optional<platform::process::ProcessFailure> notStarted;
};

// An answer of output lines and an exit code only.
inline ToolAnswer Prints(std::vector<std::string> lines, int exitCode = 0) {
  ToolAnswer answer;
  answer.lines = std::move(lines);
  answer.exitCode = exitCode;
  return answer;
}

// One tool started without waiting (StartTool), as the test sees it: it runs until End.
struct FakeStart {
  std::string commandLine;
  int exitCode = 0;           // what it ends with (the rule's exit code unless the test sets it)
  bool ended = false;         // End has been called
  int looks = 0;              // how often the handle was asked whether it has ended
  bool endSeen = false;       // the handle has said that it ended (the tool was reaped)
  bool released = false;      // the handle was dropped
  void End() { ended = true; }
  // Ended, seen to end and its handle dropped: nothing of it is left behind.
  bool Reaped() const { return ended && endSeen && released; }
};

class FakeTools : public ToolRunner {
 public:
  // Answers the command lines that contain `pattern` (newer rules first).
  void On(std::string pattern, ToolAnswer answer);
  // Answers the command lines the script answers (nothing: the script declines the line and
  // older rules are asked); for a tool whose answers depend on the line or change during a test.
  using Script = std::function<std::optional<ToolAnswer>(const std::string& commandLine)>;
  void OnScript(Script script) { rules_.push_back(std::move(script)); }
  // Every command line received, in order, whatever the kind of start.
  std::vector<std::string> calls;
  // The calls that contain `pattern`, in order.
  std::vector<std::string> CallsWith(const std::string& pattern) const;
  // Every tool started without waiting, in order (also those still running).
  std::vector<std::shared_ptr<FakeStart>> started;
  // Where FindProgram finds a program, by the exact word asked for; other words are found nowhere.
  std::map<std::string, std::string> programs;
  // The machine's present devices, as EnumerateHardwareIds gives them.
  std::vector<platform::devices::DeviceInfo> devices;

  std::optional<int> RunAny(const std::string& commandLine, std::vector<std::string>& output,
                            const std::function<void()>& onLines = {},
                            platform::process::ProcessFailure* failure = nullptr) override;
  bool CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                  const std::string& outputFile, const std::string& errMsg, UiPort* ui) override;
  void CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui) override;
  bool WinExecute(const std::string& commandLine, bool wait, int* exitCode = nullptr) override;
  std::unique_ptr<StartedTool> StartTool(const std::string& commandLine) override;
  std::string FindProgram(const std::string& word) override;
  std::vector<platform::devices::DeviceInfo> EnumerateHardwareIds() override { return devices; }

 private:
  // Records the call; the matching rule's answer after leaving its files, or nothing (also when
  // the rule's tool cannot be started; `failure` then says why).
  std::optional<ToolAnswer> Run(const std::string& commandLine, platform::process::ProcessFailure* failure = nullptr);
  std::vector<Script> rules_;
  std::mutex mutex_;  // the packs' runs side by side call from several threads
};
