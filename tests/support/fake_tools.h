// A scripted ToolRunner for the handler tests: no process is started, so the tests run alike in
// the Linux and the Windows test programs. For each command line it finds the newest rule whose
// pattern the line contains, records the line, leaves the rule's files and gives its output and
// exit code. A command line no rule matches is a program that cannot be started.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "packs/tool_runner.h"

struct ToolAnswer {
  std::vector<std::string> lines;  // what the tool writes, line by line
  int exitCode = 0;
  // Files the tool leaves: (path, content). A relative path lies under the folder the command
  // line names with -o<folder> (as the archive tool extracts there); an absolute one as it is.
  std::vector<std::pair<std::string, std::string>> files;
  // Anything else the tool does, given its command line (runs after the files are written).
  std::function<void(const std::string&)> effect;
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

  std::optional<int> RunAny(const std::string& commandLine, std::vector<std::string>& output,
                            const std::function<void()>& onLines = {},
                            platform::process::ProcessFailure* failure = nullptr) override;
  bool CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                  const std::string& outputFile, const std::string& errMsg, UiPort* ui) override;
  void CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui) override;
  bool WinExecute(const std::string& commandLine, bool wait, int* exitCode = nullptr) override;

 private:
  // Records the call; the matching rule's answer after leaving its files, or nothing.
  std::optional<ToolAnswer> Run(const std::string& commandLine);
  std::vector<Script> rules_;
  std::mutex mutex_;  // the packs' runs side by side call from several threads
};
