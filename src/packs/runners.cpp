// The three runners of the outside tools and the file-size probe.
#include "packs/runners.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include "base/ui_port.h"
#include "platform/files.h"
#include "platform/process.h"

namespace proc = platform::process;

namespace {

constexpr int kPollMs = 100;
// RunAny's pause after a cycle that found output, to gather more before the next read.
constexpr int kBusyPollMs = 5;
// The longest command line and file name CreateDOSProcessRedirected takes (its buffers hold 260
// characters and the terminating zero).
constexpr std::size_t kMaxRedirectedText = 260;

const char kFunctionTag[] = "[function: CreateDOSProcessRedirected ]\n\n";

// The message text with its "%s" replaced by the file name, and errMsg appended as it is.
std::string Message(const std::string& text, const std::string& fileName, const std::string& errMsg) {
  std::string message = text;
  const std::size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, fileName);
  return message + errMsg;
}

// Puts the busy cursor back to normal when the run ends, however it ends.
class BusyCursor {
 public:
  explicit BusyCursor(UiPort* ui) : ui_(ui) {
    if (ui_ != nullptr) ui_->SetBusyCursor(true);
  }
  ~BusyCursor() {
    if (ui_ != nullptr) ui_->SetBusyCursor(false);
  }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  UiPort* ui_;
};

}  // namespace

namespace runners_detail {

bool LineJoiner::Append(std::vector<std::string>& output, std::string_view chunk) {
  // The state carries everything a chunk border can cut: an open line and a CR whose LF may
  // come next. A zero byte (which a child should not write, and which the program's text
  // cannot hold) is dropped wherever it stands: were it to end the text, what a chunk after
  // it gives would depend on where the pipe happened to cut the output, and lines written
  // after it would be lost.
  bool changed = false;
  for (std::size_t pos = 0; pos < chunk.size();) {
    const char c = chunk[pos];
    if (c == '\0') {
      ++pos;
      continue;
    }
    if (c == '\n' && state_ == State::AfterCr) {
      state_ = State::LineStart;  // the LF of a CR LF pair
      ++pos;
      continue;
    }
    if (c == '\r' || c == '\n') {
      // A line break with no text before it since the last one ends an empty line.
      if (state_ != State::MidLine) {
        output.emplace_back();
        changed = true;
      }
      state_ = c == '\r' ? State::AfterCr : State::LineStart;
      ++pos;
      continue;
    }
    std::size_t end = pos;
    while (end < chunk.size() && chunk[end] != '\r' && chunk[end] != '\n' && chunk[end] != '\0') ++end;
    if (state_ != State::MidLine) output.emplace_back();
    output.back().append(chunk.substr(pos, end - pos));
    changed = true;
    state_ = State::MidLine;
    pos = end;
  }
  return changed;
}

void CaptureConsoleOutputWith(const std::string& commandLine, std::string& target, UiPort* ui,
                              const CaptureLimits& limits) {
  proc::StartInfo info;
  info.commandLine = commandLine;
  info.window = proc::Window::None;
  // The child reads nothing: were its standard input the read end of its own output pipe, a
  // child that reads would take away the very output collected here.
  info.input = proc::Input::Empty;
  info.output = proc::Output::Pipe;
  info.error = proc::ErrorOutput::Empty;

  proc::ChildProcess child;
  if (!proc::ChildProcess::TryStart(info, child)) return;  // nothing appended

  std::string buffer(limits.bufferSize, '\0');
  std::size_t used = 0;
  for (int cycle = 1;; ++cycle) {
    const proc::WaitResult waited = child.Wait(limits.pollMs);
    if (ui != nullptr) ui->ProcessMessages();

    std::size_t available = 0;
    try {
      available = child.BytesAvailable();
      if (available > 0) {
        // What fits goes into the buffer; the rest is read and dropped, so the child never waits
        // on a full pipe and nothing is written past the buffer.
        const std::size_t take = std::min(available, buffer.size() - used);
        if (take > 0) {
          const std::string data = child.Read(take);
          std::copy(data.begin(), data.end(), buffer.begin() + static_cast<std::ptrdiff_t>(used));
          used += data.size();
        }
        if (available > take) child.Read(available - take);
      }
    } catch (const proc::ProcessError&) {
      break;
    }

    if (waited != proc::WaitResult::TimedOut || cycle >= limits.maxCycles) break;
  }

  // The collected bytes end at the first zero byte, as a zero-terminated text does.
  buffer.resize(used);
  const std::size_t zero = buffer.find('\0');
  if (zero != std::string::npos) buffer.resize(zero);
  target += proc::ConsoleToAnsi(buffer);
}

}  // namespace runners_detail

std::optional<int> RunAny(const std::string& commandLine, std::vector<std::string>& output,
                          const std::function<void()>& onLines, proc::ProcessFailure* failure,
                          RunAnyCycles* cycles) {
  proc::StartInfo info;
  info.commandLine = commandLine;
  info.window = proc::Window::Hidden;
  info.input = proc::Input::Empty;
  info.output = proc::Output::Pipe;
  info.error = proc::ErrorOutput::Empty;

  proc::ChildProcess child;
  if (!proc::ChildProcess::TryStart(info, child, failure))
    return std::nullopt;  // the output list keeps its content

  output.clear();
  runners_detail::LineJoiner joiner;
  bool busy = false;
  for (;;) {
    // A quiet child is looked at every 100 ms, and at once when it writes or ends. After a cycle
    // that found output a short pause gathers more, so a child that writes a line at a time is
    // not read (and its lines shown) line by line.
    const int waitMs = busy ? kBusyPollMs : kPollMs;
    const std::size_t timeoutsBefore = child.Counts().timeouts;
    const proc::WaitResult waited = busy ? child.Wait(waitMs) : child.WaitForOutput(waitMs);
    if (cycles != nullptr) {
      ++cycles->cycles;
      if (cycles->reads > 0 && waitMs >= kPollMs && child.Counts().timeouts > timeoutsBefore)
        ++cycles->fullWaitsAfterOutput;
    }
    try {
      const std::size_t available = child.BytesAvailable();
      busy = available > 0;
      if (cycles != nullptr && available > 0) ++cycles->reads;
      if (available > 0) {
        const std::string chunk = child.Read(available);
        if (joiner.Append(output, chunk) && onLines) onLines();
      }
    } catch (const proc::ProcessError&) {
      break;
    }
    // The cycle that sees the child ended has still read what the pipe held.
    if (waited != proc::WaitResult::TimedOut) return child.ExitCode();
  }
  return -1;
}

bool CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                const std::string& outputFile, const std::string& errMsg, UiPort* ui) {
  const std::string tag = kFunctionTag;
  if (commandLine.size() > kMaxRedirectedText) {
    throw RunnerError(tag + "The command line is longer than 260 characters\n\n" + errMsg);
  }
  if (inputFile.size() > kMaxRedirectedText) {
    throw RunnerError(Message(tag + "The name of the input file * %s *\nis longer than 260 characters\n\n",
                              inputFile, errMsg));
  }
  if (outputFile.size() > kMaxRedirectedText) {
    throw RunnerError(Message(tag + "The name of the output file * %s *\nis longer than 260 characters\n\n",
                              outputFile, errMsg));
  }

  // A: the input file must exist; nothing has changed yet.
  if (!platform::FileExists(inputFile)) {
    throw RunnerError(Message(tag + "Input file * %s *\ndoes not exist\n\n", inputFile, errMsg));
  }

  BusyCursor cursor(ui);

  // Each failure is raised once, as the message the user sees; the system's words go with it.
  proc::ProcessFailure failure;
  proc::Handle input;
  if (!proc::TryOpenFileForChild(inputFile, proc::FileDisposition::OpenAlways, input, &failure)) {
    throw RunnerError(
        Message(
            tag +
                "WinApi function CreateFile returned an invalid handle value\nfor the input file * %s *\n\n",
            inputFile, errMsg),
        failure.message);
  }

  proc::Handle output;
  if (!proc::TryOpenFileForChild(outputFile, proc::FileDisposition::CreateAlways, output, &failure)) {
    throw RunnerError(
        Message(
            tag +
                "WinApi function CreateFile returned an invalid handle value\nfor the output file * %s *\n\n",
            outputFile, errMsg),
        failure.message);
  }

  proc::StartInfo info;
  info.commandLine = commandLine;
  // On Windows: a console of its own, hidden, in the real-time priority class (which the system
  // lowers to high for users without the right). Linux gives real-time scheduling to privileged
  // processes only, so the child keeps the parent's priority there.
  info.window = proc::Window::HiddenNewConsole;
  info.input = proc::Input::File;
  info.inputFile = &input;
  info.output = proc::Output::File;
  info.outputFile = &output;
  info.error = proc::ErrorOutput::Empty;

  proc::ChildProcess child;
  if (!proc::ChildProcess::TryStart(info, child, &failure)) {
    throw RunnerError(tag + "Function failure\n\n" + errMsg, failure.message);
  }
  child.Wait(proc::ChildProcess::kInfinite);
  return true;
}

void CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui) {
  runners_detail::CaptureConsoleOutputWith(commandLine, target, ui, runners_detail::CaptureLimits{});
}

std::int32_t GetFileSize(const std::string& fileName) {
  const std::int64_t size = platform::FileSize(fileName);
  if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) return -1;
  // Opened for reading only: a read-only file (a pack on a CD-ROM) has a length too, a file
  // that cannot be read has none.
  std::ifstream file(std::filesystem::path(platform::NativePath(fileName)), std::ios::binary);
  return file ? static_cast<std::int32_t>(size) : -1;
}
