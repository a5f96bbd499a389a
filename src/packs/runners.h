// Running the outside tools (7z, devcon, DPINST.exe) as hidden child processes and catching what
// they write on their console. Three runners, each with its own way of catching output:
// - RunAny: the output goes into a list of lines as the child writes it; no time limit;
// - CreateDOSProcessRedirected: the child reads a file and writes a file itself; no time limit;
// - CaptureConsoleOutput: the output is appended as one block of text; the window keeps
//   running; gives up after about 15 seconds.
// Everything runs on the caller's thread, which is blocked until the runner returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class UiPort;
namespace platform::process {
struct ProcessFailure;
}

// An error raised by CreateDOSProcessRedirected. what() is the message shown to the user;
// detail() is what the system said, when there was something (code and text).
class RunnerError : public std::runtime_error {
 public:
  explicit RunnerError(const std::string& message, std::string detail = {})
      : std::runtime_error(message), detail_(std::move(detail)) {}
  const std::string& detail() const noexcept { return detail_; }

 private:
  std::string detail_;
};

// Runs the command line with its standard output going into a pipe and no standard input or
// error. When the program cannot be started nothing else happens: `output` keeps its content,
// nothing is returned, and `failure` (when given) tells why.
// Otherwise `output` is cleared, and every 100 ms what the pipe holds is read as one chunk, split
// into lines (at CR LF, LF or CR; zero bytes dropped) and appended; a line the previous chunk
// left open is continued by the chunk's first line, so the lines are those of the whole output
// however the pipe cut it (runners_detail::LineJoiner). After a cycle that found
// output the next one comes after 5 ms, so a child that writes a lot never waits long on a full
// pipe. Returns when the child has ended and its output has been read. `onLines` runs after every
// chunk that changed `output`; note that the last line may have grown since the previous call (a
// line continued across chunks).
// The window is not serviced meanwhile. Returns the child's exit code (-1 when the pipe failed
// before the child ended).
// `cycles` (when given) counts the work of the run, for tests (see RunAnyCycles).
struct RunAnyCycles;
std::optional<int> RunAny(const std::string& commandLine, std::vector<std::string>& output,
                          const std::function<void()>& onLines = {},
                          platform::process::ProcessFailure* failure = nullptr, RunAnyCycles* cycles = nullptr);

// What one RunAny run did, counted rather than timed.
struct RunAnyCycles {
  std::size_t cycles = 0;  // waits done
  std::size_t reads = 0;   // cycles that read output
  // Cycles after the first output whose wait ran out its whole 100 ms: a child that went on
  // writing meanwhile may have stood still on a full pipe for that long.
  std::size_t fullWaitsAfterOutput = 0;
};

// Runs the command line with standard input read from `inputFile` (created when missing) and
// standard output written to `outputFile` (emptied first), no standard error, and waits without
// limit for the child to end. The busy cursor shows meanwhile (`ui` may be null). Returns true;
// every failure is raised as a RunnerError whose text ends with `errMsg`:
// a missing input file, a file that cannot be opened, a program that cannot be started, and a
// command line or file name longer than 260 characters.
bool CreateDOSProcessRedirected(const std::string& commandLine, const std::string& inputFile,
                                const std::string& outputFile, const std::string& errMsg, UiPort* ui);

// Runs the command line with standard output going into a pipe, and appends what it wrote, as one
// block of text, to `target`. Polls every 100 ms and lets the window handle its messages each time
// (`ui` may be null); gives up after 151 polls (about 15 seconds) and leaves a child that still
// runs running. Keeps at most 1 MiB of output; more is read and dropped. Nothing is appended
// when the program cannot be started.
void CaptureConsoleOutput(const std::string& commandLine, std::string& target, UiPort* ui);

// Length of the file in bytes; -1 when it cannot be opened or read, or does not fit the result.
std::int32_t GetFileSize(const std::string& fileName);

namespace runners_detail {

// RunAny's joining of the chunks read from the pipe into lines. Lines end at CR LF, LF or CR;
// a final line break adds no empty line; a zero byte is dropped and ends nothing. The lines do
// not depend on where the pipe cut the output: any split of the same bytes into chunks gives
// what one chunk with all of them gives, also when a CR LF pair or a zero byte straddles two
// chunks.
class LineJoiner {
 public:
  // Splits the chunk into lines and appends them to `output`, the first one continuing the
  // line an earlier chunk left open. Returns true when `output` changed.
  bool Append(std::vector<std::string>& output, std::string_view chunk);

 private:
  enum class State {
    LineStart,  // nothing read yet, or the last line has ended
    MidLine,    // the last line of `output` may still be continued
    AfterCr,    // the last line ended at a CR: an LF right after it belongs to that line end
  };
  State state_ = State::LineStart;
};

struct CaptureLimits {
  int pollMs = 100;                  // wait per cycle
  int maxCycles = 151;               // cycles at most
  std::size_t bufferSize = 1048576;  // output kept at most
};

// CaptureConsoleOutput with other limits, for tests.
void CaptureConsoleOutputWith(const std::string& commandLine, std::string& target, UiPort* ui,
                              const CaptureLimits& limits);

}  // namespace runners_detail
