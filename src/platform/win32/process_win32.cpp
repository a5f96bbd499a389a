// Child processes on Windows: CreateProcessA with the command line as it is (Windows finds the
// program itself), anonymous pipes looked into with PeekNamedPipe.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <mutex>

#include "platform/files.h"
#include "platform/process.h"

namespace platform::process {

namespace {

// The output pipe's size.
constexpr DWORD kPipeBytes = 1 << 20;

// "The system cannot find the file specified (2)".
std::string ErrorText(DWORD code) { return platform::SystemErrorMessage(static_cast<std::uint32_t>(code)); }

[[noreturn]] void Fail(const std::string& what, DWORD code) {
  throw ProcessError(what + ": " + ErrorText(code), static_cast<std::uint32_t>(code));
}

HANDLE Native(const Handle& handle) { return reinterpret_cast<HANDLE>(handle.Get()); }
Handle Own(HANDLE handle) { return Handle(reinterpret_cast<Handle::Native>(handle)); }

SECURITY_ATTRIBUTES Inheritable() {
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof(SECURITY_ATTRIBUTES);
  sa.lpSecurityDescriptor = nullptr;
  sa.bInheritHandle = TRUE;
  return sa;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool HasExtension(const std::string& name) {
  const std::size_t slash = name.find_last_of("\\/");
  const std::size_t dot = name.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

std::string Search(const char* folder, const std::string& name) {
  char buffer[MAX_PATH + 1];
  char* filePart = nullptr;
  const DWORD length = SearchPathA(folder, name.c_str(), ".exe", MAX_PATH, buffer, &filePart);
  if (length == 0 || length > MAX_PATH) return {};
  return IsFile(buffer) ? std::string(buffer, length) : std::string();
}

}  // namespace

void Handle::Close() {
  if (native_ != kInvalid) {
    if (native_ != 0) CloseHandle(reinterpret_cast<HANDLE>(native_));
    native_ = kInvalid;
  }
}

std::string FindProgram(const std::string& word) {
  if (word.empty()) return {};
  if (word.find_first_of("\\/:") != std::string::npos) {
    if (IsFile(word)) return word;
    if (!HasExtension(word) && IsFile(word + ".exe")) return word + ".exe";
    return {};
  }
  const std::string folder = ProgramFolder();
  if (!folder.empty()) {
    std::string found = Search(folder.c_str(), word);
    if (!found.empty()) return found;
  }
  return Search(nullptr, word);
}

bool TryOpenFileForChild(const std::string& path, FileDisposition disposition, Handle& handle,
                         ProcessFailure* failure) {
  SECURITY_ATTRIBUTES sa = Inheritable();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &sa, disposition == FileDisposition::CreateAlways ? CREATE_ALWAYS : OPEN_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (failure != nullptr) *failure = {"CreateFile failed for \"" + path + "\": " + ErrorText(code), code};
    return false;
  }
  handle = Own(file);
  return true;
}

Handle OpenFileForChild(const std::string& path, FileDisposition disposition) {
  Handle handle;
  ProcessFailure failure;
  if (!TryOpenFileForChild(path, disposition, handle, &failure))
    throw ProcessError(failure.message, failure.code);
  return handle;
}

struct ChildProcess::State {
  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  bool ended = false;
  int exitCode = -1;
  Handle outputRead;
  Handle outputWrite;  // closed once the child has its copy: the pipe then ends with the child
  WaitCounts counts;

  ~State() {
    if (thread != nullptr) CloseHandle(thread);
    if (process != nullptr) CloseHandle(process);
  }

  void MarkEnded() {
    ended = true;
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code)) exitCode = static_cast<int>(code);
  }
};

ChildProcess::ChildProcess() = default;
ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;
ChildProcess::~ChildProcess() = default;

bool ChildProcess::TryStart(const StartInfo& info, ChildProcess& child, ProcessFailure* failure) {
  // A child inherits every inheritable handle the program holds while it is created, the write
  // end of another child's output pipe among them, and that child's reader would then wait for
  // both to end. One start at a time, each closing its pipe's write end before the next
  // CreateProcess, keeps children started from several threads apart.
  static std::mutex startMutex;
  const std::lock_guard<std::mutex> startLock(startMutex);
  ProcessFailure ignored;
  ProcessFailure& f = failure != nullptr ? *failure : ignored;
  auto fail = [&f](const std::string& what, DWORD code) {
    f.message = what + ": " + ErrorText(code);
    f.code = code;
    return false;
  };
  const std::vector<std::string> words = SplitCommandLine(info.commandLine);
  if (words.empty()) {
    return fail("CreateProcess failed: the command line names no program", ERROR_BAD_ARGUMENTS);
  }
  SECURITY_ATTRIBUTES sa = Inheritable();

  auto state = std::make_unique<State>();
  if (info.output == Output::Pipe) {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    // Room for a burst of output while the reader is busy (the default is a few KB).
    if (!CreatePipe(&read, &write, &sa, kPipeBytes)) return fail("CreatePipe failed", GetLastError());
    state->outputRead = Own(read);
    state->outputWrite = Own(write);
    // The parent's end need not reach the child.
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  }

  // "Empty" standard handles are the null device, inheritable: reading gives the end of data at
  // once and writing discards. A null handle says the same to Windows, but Wine gives a console
  // program started with one its own terminal instead, where a read waits for a person.
  Handle nullInput;
  Handle nullOutput;
  auto nullDevice = [&sa](Handle& handle, DWORD access) {
    if (!handle.Valid()) {
      handle =
          Own(CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
    }
    return handle.Valid() ? Native(handle) : nullptr;  // INVALID_HANDLE_VALUE is no valid Handle
  };

  STARTUPINFOA si{};
  si.cb = sizeof(STARTUPINFOA);
  const bool allInherited =
      info.input == Input::Inherit && info.output == Output::Inherit && info.error == ErrorOutput::Inherit;
  if (!allInherited) {
    si.dwFlags |= STARTF_USESTDHANDLES;
    switch (info.input) {
      case Input::Inherit:
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        break;
      case Input::Empty:
        si.hStdInput = nullDevice(nullInput, GENERIC_READ);
        break;
      case Input::File:
        si.hStdInput = info.inputFile != nullptr ? Native(*info.inputFile) : nullptr;
        break;
    }
    switch (info.output) {
      case Output::Inherit:
        si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        break;
      case Output::Empty:
        si.hStdOutput = nullDevice(nullOutput, GENERIC_WRITE);
        break;
      case Output::Pipe:
        si.hStdOutput = Native(state->outputWrite);
        break;
      case Output::File:
        si.hStdOutput = info.outputFile != nullptr ? Native(*info.outputFile) : nullptr;
        break;
    }
    switch (info.error) {
      case ErrorOutput::Inherit:
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        break;
      case ErrorOutput::Empty:
        si.hStdError = nullDevice(nullOutput, GENERIC_WRITE);
        break;
      case ErrorOutput::SameAsOutput:
        si.hStdError = si.hStdOutput;
        break;
    }
  }
  DWORD flags = 0;
  SECURITY_ATTRIBUTES* processAttributes = nullptr;
  switch (info.window) {
    case Window::Normal:
      break;
    case Window::Hidden:
      si.dwFlags |= STARTF_USESHOWWINDOW;
      si.wShowWindow = SW_HIDE;
      break;
    case Window::HiddenNewConsole:
      si.dwFlags |= STARTF_USESHOWWINDOW;
      si.wShowWindow = SW_HIDE;
      // The system lowers the real-time class to high for users without the right.
      flags = CREATE_NEW_CONSOLE | REALTIME_PRIORITY_CLASS;
      break;
    case Window::None:
      si.dwFlags |= STARTF_USESHOWWINDOW;
      si.wShowWindow = SW_HIDE;
      flags = CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS;
      processAttributes = &sa;
      break;
  }

  std::string commandLine = info.commandLine;  // CreateProcessA may write into it
  commandLine.push_back('\0');
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, commandLine.data(), processAttributes, processAttributes, TRUE, flags, nullptr,
                      nullptr, &si, &pi)) {
    return fail("CreateProcess failed for \"" + words[0] + "\"", GetLastError());
  }
  state->process = pi.hProcess;
  state->thread = pi.hThread;
  // Were the parent's write end kept open, a read for more than the pipe holds would wait
  // forever after the child has ended.
  state->outputWrite.Close();
  child = ChildProcess(std::move(state));
  return true;
}

WaitResult ChildProcess::Wait(int timeoutMs) {
  if (!state_ || state_->ended) return WaitResult::Ended;
  ++state_->counts.lookups;
  const DWORD result =
      WaitForSingleObject(state_->process, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  if (result == WAIT_TIMEOUT) {
    ++state_->counts.timeouts;
    return WaitResult::TimedOut;
  }
  state_->MarkEnded();
  return WaitResult::Ended;
}

WaitResult ChildProcess::WaitForOutput(int timeoutMs) {
  if (!state_ || state_->ended) return WaitResult::Ended;
  if (!state_->outputRead.Valid()) return Wait(timeoutMs);
  // An anonymous pipe cannot be waited on: the pipe is looked at every few milliseconds while
  // the wait is on the process.
  constexpr DWORD kStepMs = 5;
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    const DWORD left = timeoutMs < 0 ? INFINITE
                       : spent >= static_cast<DWORD>(timeoutMs) ? 0
                                                                : static_cast<DWORD>(timeoutMs) - spent;
    DWORD available = 0;
    if (!PeekNamedPipe(Native(state_->outputRead), nullptr, 0, nullptr, &available, nullptr)) {
      return Wait(left == INFINITE ? kInfinite : static_cast<int>(left));  // the child closed its output
    }
    if (available > 0) return WaitResult::TimedOut;
    ++state_->counts.lookups;
    if (WaitForSingleObject(state_->process, std::min(left, kStepMs)) == WAIT_OBJECT_0) {
      state_->MarkEnded();
      return WaitResult::Ended;
    }
    if (left != INFINITE && left <= kStepMs) {
      ++state_->counts.timeouts;
      return WaitResult::TimedOut;
    }
  }
}

ChildProcess::WaitCounts ChildProcess::Counts() const { return state_ ? state_->counts : WaitCounts{}; }

bool ChildProcess::Ended() const { return state_ == nullptr || state_->ended; }

int ChildProcess::ExitCode() const { return state_ ? state_->exitCode : -1; }

void ChildProcess::Kill() {
  if (state_ && !state_->ended) TerminateProcess(state_->process, 1);
}

std::size_t ChildProcess::BytesAvailable() {
  if (!state_ || !state_->outputRead.Valid()) {
    throw ProcessError("The child has no output pipe: " + ErrorText(ERROR_INVALID_HANDLE),
                       ERROR_INVALID_HANDLE);
  }
  DWORD available = 0;
  if (!PeekNamedPipe(Native(state_->outputRead), nullptr, 0, nullptr, &available, nullptr)) {
    const DWORD code = GetLastError();
    if (code == ERROR_BROKEN_PIPE) return 0;  // the child has ended and everything was read
    Fail("PeekNamedPipe failed", code);
  }
  return available;
}

std::string ChildProcess::Read(std::size_t count) {
  if (!state_ || !state_->outputRead.Valid()) {
    throw ProcessError("The child has no output pipe: " + ErrorText(ERROR_INVALID_HANDLE),
                       ERROR_INVALID_HANDLE);
  }
  std::string data(count, '\0');
  std::size_t got = 0;
  while (got < count) {
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - got, 1u << 20));
    if (!ReadFile(Native(state_->outputRead), data.data() + got, want, &read, nullptr)) {
      const DWORD code = GetLastError();
      if (code == ERROR_BROKEN_PIPE) break;
      Fail("ReadFile failed", code);
    }
    if (read == 0) break;
    got += read;
  }
  data.resize(got);
  return data;
}

std::string ChildProcess::ReadToEnd() {
  if (!state_ || !state_->outputRead.Valid()) {
    throw ProcessError("The child has no output pipe: " + ErrorText(ERROR_INVALID_HANDLE),
                       ERROR_INVALID_HANDLE);
  }
  std::string data;
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(Native(state_->outputRead), buffer, sizeof buffer, &read, nullptr)) {
      const DWORD code = GetLastError();
      if (code == ERROR_BROKEN_PIPE) break;
      Fail("ReadFile failed", code);
    }
    if (read == 0) break;
    data.append(buffer, read);
  }
  return data;
}

std::string ConsoleToAnsi(const std::string& text) {
  std::string converted = text;
  if (!converted.empty()) {
    OemToCharBuffA(converted.data(), converted.data(), static_cast<DWORD>(converted.size()));
  }
  return converted;
}

}  // namespace platform::process
