#include "support/fake_tools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/ui_port.h"
#include "packs/runners.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

// The folder named by the -o switch of the command line; empty when there is none.
std::string OutputFolder(const std::string& commandLine) {
  for (const std::string& word : platform::process::SplitCommandLine(commandLine)) {
    if (word.size() > 2 && word.compare(0, 2, "-o") == 0) return word.substr(2);
  }
  return {};
}

}  // namespace

std::vector<std::string> FakeTools::CallsWith(const std::string& pattern) const {
  std::vector<std::string> found;
  for (const std::string& call : calls) {
    if (call.find(pattern) != std::string::npos) found.push_back(call);
  }
  return found;
}

void FakeTools::On(std::string pattern, ToolAnswer answer) {
  rules_.push_back([pattern = std::move(pattern), answer = std::move(answer)](
                       const std::string& commandLine) -> std::optional<ToolAnswer> {
    if (commandLine.find(pattern) == std::string::npos) return std::nullopt;
    return answer;
  });
}

std::optional<ToolAnswer> FakeTools::Run(const std::string& commandLine, platform::process::ProcessFailure* failure) {
  const std::lock_guard<std::mutex> lock(mutex_);
  calls.push_back(commandLine);
  for (auto rule = rules_.rbegin(); rule != rules_.rend(); ++rule) {
    std::optional<ToolAnswer> answer = (*rule)(commandLine);
    if (!answer) continue;
    if (answer->notStarted) {
      if (failure != nullptr) *failure = *answer->notStarted;
      return std::nullopt;
    }
    for (const auto& [path, content] : answer->files) {
      fs::path target(path);
      if (target.is_relative()) {
        const std::string folder = OutputFolder(commandLine);
        if (folder.empty()) {
          ADD_FAILURE() << "a file to leave in the -o folder, but the command line names none: " << commandLine;
          continue;
        }
        target = fs::path(folder) / target;
      }
      std::error_code ignored;
      fs::create_directories(target.parent_path(), ignored);
      std::ofstream(target, std::ios::binary) << content;
    }
    if (answer->effect) answer->effect(commandLine);
    return answer;
  }
  // The text and code the system gives for a program that cannot be found.
  if (failure != nullptr) *failure = {"The system cannot find the file specified.", 2};
  return std::nullopt;
}

std::optional<int> FakeTools::RunAny(const std::string& commandLine, std::vector<std::string>& output,
                                     const std::function<void()>& onLines,
                                     platform::process::ProcessFailure* failure) {
  const std::optional<ToolAnswer> answer = Run(commandLine, failure);
  if (!answer) return std::nullopt;
  output = answer->lines;
  if (!output.empty() && onLines) onLines();
  return answer->exitCode;
}

bool FakeTools::CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                           const std::string& outputFile, const std::string& errMsg,
                                           UiPort* ui) {
  if (ui != nullptr) ui->SetBusyCursor(true);
  platform::process::ProcessFailure failure;
  const std::optional<ToolAnswer> answer = Run(commandLine, &failure);
  // The text the real runner gives for a program that cannot be started.
  if (!answer) {
    throw RunnerError("[function: CreateDOSProcessRedirected ]\n\nFunction failure\n\n" + errMsg,
                      failure.message + " (" + std::to_string(failure.code) + ")");
  }
  if (!fs::exists(inputFile)) std::ofstream(inputFile, std::ios::binary);
  std::ofstream out(outputFile, std::ios::binary);
  for (const std::string& line : answer->lines) out << line << "\r\n";
  if (ui != nullptr) ui->SetBusyCursor(false);
  return true;
}

void FakeTools::CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui) {
  if (ui != nullptr) ui->ProcessMessages();
  const std::optional<ToolAnswer> answer = Run(commandLine);
  if (!answer) return;
  for (const std::string& line : answer->lines) target += line + "\r\n";
}

bool FakeTools::WinExecute(const std::string& commandLine, bool wait, int* exitCode) {
  const std::optional<ToolAnswer> answer = Run(commandLine);
  if (!answer) return false;
  if (wait && exitCode != nullptr) *exitCode = answer->exitCode;
  return true;
}

namespace {

// The handle of a FakeStart: says it has ended once the test has ended it.
class FakeStartedTool : public StartedTool {
 public:
  explicit FakeStartedTool(std::shared_ptr<FakeStart> start) : start_(std::move(start)) {}
  ~FakeStartedTool() override { start_->released = true; }
  FakeStartedTool(const FakeStartedTool&) = delete;
  FakeStartedTool& operator=(const FakeStartedTool&) = delete;
  bool Ended() override {
    ++start_->looks;
    if (start_->ended) start_->endSeen = true;
    return start_->ended;
  }
  int ExitCode() const override { return start_->endSeen ? start_->exitCode : -1; }

 private:
  std::shared_ptr<FakeStart> start_;
};

}  // namespace

std::unique_ptr<StartedTool> FakeTools::StartTool(const std::string& commandLine) {
  const std::optional<ToolAnswer> answer = Run(commandLine);
  if (!answer) return nullptr;
  auto start = std::make_shared<FakeStart>();
  start->commandLine = commandLine;
  start->exitCode = answer->exitCode;
  started.push_back(start);
  return std::make_unique<FakeStartedTool>(std::move(start));
}

std::string FakeTools::FindProgram(const std::string& word) {
  const auto found = programs.find(word);
  return found == programs.end() ? std::string() : found->second;
}
