// Child processes started from one Windows-style command line, as the outside tools are run:
// the first word names the program, found the way Windows finds it (the program's own folder
// first, then PATH), the rest are its arguments. Never through a shell.
//
// Windows: CreateProcessA, anonymous pipes, PeekNamedPipe. Linux: posix_spawn, pipes, FIONREAD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::process {

// A failure of the process layer, with the system's error code and a readable message
// ("CreateProcess failed: The system cannot find the file specified (2)").
class ProcessError : public std::runtime_error {
 public:
  ProcessError(const std::string& message, std::uint32_t code) : std::runtime_error(message), code_(code) {}
  std::uint32_t code() const noexcept { return code_; }

 private:
  std::uint32_t code_;
};

// What went wrong, for the callers that go on without raising an error: the same message and code
// a ProcessError carries. (Raising and catching would put an entry into the error report for a
// failure that is no error to them.)
struct ProcessFailure {
  std::string message;
  std::uint32_t code = 0;
};

// Splits a command line into words by the rules of the Windows command-line parser
// (CommandLineToArgvW):
// - the first word (the program) ends at the first blank or tab, or, when it starts with a double
//   quote, at the next double quote; backslashes are plain characters in it;
// - other words are separated by blanks and tabs outside double quotes; double quotes group and
//   are removed; 2n backslashes before a double quote give n backslashes and the quote groups,
//   2n+1 backslashes before a double quote give n backslashes and a literal quote, backslashes
//   not before a quote are kept; a doubled quote inside quotes gives a literal quote;
// - a command line that starts with a blank has an empty first word.
// An empty (or all blank) command line gives no words.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The word quoted so that SplitCommandLine gives it back unchanged as one argument (not the
// first word). A word without blanks, tabs and quotes is returned as it is.
std::string QuoteArgument(const std::string& word);

// The folder searched first for a program: by default the running program's own folder
// (ending with a separator). Tests point it elsewhere; an empty text restores the default.
void SetProgramFolder(const std::string& folder);
std::string ProgramFolder();

// Full path of the program a command line's first word names, empty when there is none:
// - a word with a folder part is taken as it is (relative to the current folder);
// - otherwise the program's folder first, letter case ignored there, then every folder of PATH;
// - ".exe" is optional: "7z" also finds "7z.exe", "DPINST.exe" also finds "DPINST".
// Only executable regular files count.
std::string FindProgram(const std::string& word);

// Owner of one open file or pipe end: a POSIX descriptor or a Windows HANDLE.
class Handle {
 public:
  using Native = std::intptr_t;
  static constexpr Native kInvalid = -1;

  Handle() = default;
  explicit Handle(Native native) : native_(native) {}
  Handle(Handle&& other) noexcept : native_(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }

  bool Valid() const { return native_ != kInvalid; }
  Native Get() const { return native_; }
  Native Release() {
    Native n = native_;
    native_ = kInvalid;
    return n;
  }
  void Close();

 private:
  Native native_ = kInvalid;
};

// How a file for a child's standard input or output is opened: for reading and writing, shared,
// inheritable, as a temporary file (Windows), created when missing.
enum class FileDisposition {
  OpenAlways,   // an existing file is kept as it is
  CreateAlways  // an existing file is emptied
};
// Throws ProcessError when the file cannot be opened.
Handle OpenFileForChild(const std::string& path, FileDisposition disposition);
// The same without raising: false, with `failure` filled when given, when the file cannot be opened.
bool TryOpenFileForChild(const std::string& path, FileDisposition disposition, Handle& handle,
                         ProcessFailure* failure = nullptr);

// The window a child gets. Linux has no console windows: every kind is the same there.
enum class Window {
  Normal,            // default start-up information (the system's usual window)
  Hidden,            // hidden, shares the parent's console, priority of the parent
  HiddenNewConsole,  // hidden, a console of its own, the highest priority class allowed
  None               // no console window at all, normal priority
};

enum class Input { Inherit, Empty, File };
enum class Output { Inherit, Empty, Pipe, File };
enum class ErrorOutput { Inherit, Empty, SameAsOutput };

// What a child gets. "Empty" input reads as end of data at once; "Empty" output is discarded.
// On Windows a child that inherits all three standard handles gets default start-up information.
struct StartInfo {
  std::string commandLine;
  Window window = Window::Hidden;
  Input input = Input::Empty;
  const Handle* inputFile = nullptr;  // with Input::File
  Output output = Output::Empty;
  const Handle* outputFile = nullptr;  // with Output::File
  ErrorOutput error = ErrorOutput::Empty;
};

enum class WaitResult { Ended, TimedOut };

// One started child. Destroying it closes the parent's ends of its handles; a child that is still
// running is left running (on Linux it is reaped later, when it has ended).
class ChildProcess {
 public:
  static constexpr int kInfinite = -1;

  ChildProcess();
  ChildProcess(ChildProcess&&) noexcept;
  ChildProcess& operator=(ChildProcess&&) noexcept;
  ~ChildProcess();

  // Starts the command line. Throws ProcessError (code and message) when the program cannot be
  // found or started, or a pipe cannot be made.
  static ChildProcess Start(const StartInfo& info);
  // The same without raising: false, with `failure` filled when given, when it cannot start.
  static bool TryStart(const StartInfo& info, ChildProcess& child, ProcessFailure* failure = nullptr);

  // Waits at most timeoutMs milliseconds (kInfinite: no limit) for the child to end.
  WaitResult Wait(int timeoutMs);
  // The same, but also returns (TimedOut) as soon as the output pipe holds something, so a reader
  // never leaves a child blocked on a full pipe for the rest of its cycle. Without an output pipe,
  // or once the child has closed its output, it is Wait.
  WaitResult WaitForOutput(int timeoutMs);
  // What the waits on this child have done so far, counted rather than timed: how often they
  // looked at the child (each poll, or each step of a wait that looks at the pipe in steps),
  // and how many ran out their time (rather than ending at output or at the child's end).
  struct WaitCounts {
    std::size_t lookups = 0;
    std::size_t timeouts = 0;
  };
  WaitCounts Counts() const;
  // True once a wait has seen the child end.
  bool Ended() const;
  // The child's exit code once it has ended, otherwise -1.
  int ExitCode() const;
  // Ends the child at once.
  void Kill();

  // Output pipe only. How many bytes the pipe holds now. Throws ProcessError.
  std::size_t BytesAvailable();
  // Reads exactly `count` bytes (fewer only when the child has closed its output). Throws ProcessError.
  std::string Read(std::size_t count);
  // Reads until the child closes its output. Throws ProcessError.
  std::string ReadToEnd();

  struct State;

 private:
  explicit ChildProcess(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Text a console program wrote, converted to the program's 8-bit text: the console (OEM) code
// page to the ANSI code page on Windows; unchanged on Linux, where both are UTF-8.
std::string ConsoleToAnsi(const std::string& text);

}  // namespace platform::process
