// Child processes on Linux: posix_spawn (never a shell), pipes read by FIONREAD, waits through a
// process file descriptor where the kernel has them.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/text_util.h"
#include "platform/process.h"

extern char** environ;

namespace platform::process {

namespace {

// The output pipe's size: 1 MiB, the most an unprivileged process may ask for by default.
constexpr int kPipeBytes = 1 << 20;

std::string ErrorText(int code) {
  return std::string(std::strerror(code)) + " (" + std::to_string(code) + ")";
}

[[noreturn]] void Fail(const std::string& what, int code) {
  throw ProcessError(what + ": " + ErrorText(code), static_cast<std::uint32_t>(code));
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The names a command's first word may have on disk: itself, and with ".exe" added when it has no
// extension or taken away when it has exactly that one.
std::vector<std::string> CandidateNames(const std::string& name) {
  std::vector<std::string> names{name};
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    names.push_back(name + ".exe");
  } else if (LowerCase(name.substr(dot)) == ".exe" && dot > 0) {
    names.push_back(name.substr(0, dot));
  }
  return names;
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// Looks for one of the names in a folder, exact spelling first, then without regard to case.
std::string FindInFolderIgnoringCase(const std::string& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (IsExecutableFile(folder + name)) return folder + name;
  }
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return {};
  std::vector<std::string> entries;
  while (dirent* entry = ::readdir(dir)) entries.emplace_back(entry->d_name);
  ::closedir(dir);
  std::sort(entries.begin(), entries.end());  // the same choice every time when several match
  for (const std::string& name : names) {
    const std::string wanted = LowerCase(name);
    for (const std::string& entry : entries) {
      if (LowerCase(entry) == wanted && IsExecutableFile(folder + entry)) return folder + entry;
    }
  }
  return {};
}

// Children that were still running when their owner went away; reaped once they have ended,
// so that no zombie stays behind.
std::mutex& OrphanMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<pid_t>& Orphans() {
  static std::vector<pid_t> orphans;
  return orphans;
}

void ReapOrphans() {
  std::lock_guard<std::mutex> lock(OrphanMutex());
  auto& orphans = Orphans();
  orphans.erase(std::remove_if(orphans.begin(), orphans.end(),
                               [](pid_t pid) {
                                 int status = 0;
                                 pid_t r = ::waitpid(pid, &status, WNOHANG);
                                 return r == pid || (r < 0 && errno == ECHILD);
                               }),
                orphans.end());
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

// Owner of a posix_spawn_file_actions_t and a posix_spawnattr_t.
struct SpawnSetup {
  posix_spawn_file_actions_t actions{};
  posix_spawnattr_t attr{};
  bool actionsReady = false;
  bool attrReady = false;
  ~SpawnSetup() {
    if (actionsReady) posix_spawn_file_actions_destroy(&actions);
    if (attrReady) posix_spawnattr_destroy(&attr);
  }
};

}  // namespace

void Handle::Close() {
  if (native_ != kInvalid) {
    ::close(static_cast<int>(native_));
    native_ = kInvalid;
  }
}

std::string FindProgram(const std::string& word) {
  if (word.empty()) return {};
  std::string name = word;
  std::replace(name.begin(), name.end(), '\\', '/');

  const std::size_t slash = name.rfind('/');
  if (slash != std::string::npos) {
    // A word with a folder part names the program's place itself.
    const std::string folder = name.substr(0, slash + 1);
    return FindInFolderIgnoringCase(folder, CandidateNames(name.substr(slash + 1)));
  }

  const std::vector<std::string> names = CandidateNames(name);
  std::string programFolder = ProgramFolder();
  std::replace(programFolder.begin(), programFolder.end(), '\\', '/');
  if (!programFolder.empty()) {
    std::string found = FindInFolderIgnoringCase(WithSlash(programFolder), names);
    if (!found.empty()) return found;
  }

  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::string list = path;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string folder = list.substr(start, end - start);
    // An empty element would mean the current folder; Windows-style lookup does not use it here.
    if (!folder.empty()) {
      for (const std::string& candidate : names) {
        const std::string full = WithSlash(folder) + candidate;
        if (IsExecutableFile(full)) return full;
      }
    }
    start = end + 1;
  }
  return {};
}

bool TryOpenFileForChild(const std::string& path, FileDisposition disposition, Handle& handle,
                         ProcessFailure* failure) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  int flags = O_RDWR | O_CREAT | O_CLOEXEC;
  if (disposition == FileDisposition::CreateAlways) flags |= O_TRUNC;
  int fd = ::open(native.c_str(), flags, 0666);
  if (fd < 0) {
    const int code = errno;
    if (failure != nullptr) {
      *failure = {"Cannot open \"" + path + "\": " + ErrorText(code), static_cast<std::uint32_t>(code)};
    }
    return false;
  }
  handle = Handle(fd);
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
  pid_t pid = -1;
  int pidFd = -1;
  bool ended = false;
  int exitCode = -1;
  Handle outputRead;  // the parent's end of the output pipe
  WaitCounts counts;

  ~State() {
    if (pidFd >= 0) ::close(pidFd);
    if (pid > 0 && !ended) {
      int status = 0;
      pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == 0) {
        std::lock_guard<std::mutex> lock(OrphanMutex());
        Orphans().push_back(pid);
      }
    }
  }

  void Reaped(int status) {
    ended = true;
    if (WIFEXITED(status)) {
      exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      exitCode = 128 + WTERMSIG(status);
    }
  }

  // Non-blocking check; true when the child has ended.
  bool Poll() {
    if (ended) return true;
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      Reaped(status);
    } else if (r < 0 && errno == ECHILD) {
      ended = true;  // reaped elsewhere; its exit code is unknown
    }
    return ended;
  }
};

ChildProcess::ChildProcess() = default;
ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;
ChildProcess::~ChildProcess() = default;

bool ChildProcess::TryStart(const StartInfo& info, ChildProcess& child, ProcessFailure* failure) {
  ProcessFailure ignored;
  ProcessFailure& f = failure != nullptr ? *failure : ignored;
  // Records a failure; the caller returns false right after.
  auto fail = [&f](const std::string& what, int code) {
    f.message = what + ": " + ErrorText(code);
    f.code = static_cast<std::uint32_t>(code);
    return false;
  };
  auto ok = [&fail](int rc, const char* what) { return rc == 0 || fail(what, rc); };
  ReapOrphans();

  const std::vector<std::string> words = SplitCommandLine(info.commandLine);
  if (words.empty() || words[0].empty()) {
    return fail("Cannot start a program: the command line names none", EINVAL);
  }
  const std::string program = FindProgram(words[0]);
  if (program.empty()) {
    return fail("Cannot start \"" + words[0] + "\": program not found", ENOENT);
  }

  SpawnSetup setup;
  if (!ok(posix_spawn_file_actions_init(&setup.actions), "posix_spawn_file_actions_init failed"))
    return false;
  setup.actionsReady = true;
  if (!ok(posix_spawnattr_init(&setup.attr), "posix_spawnattr_init failed")) return false;
  setup.attrReady = true;

  // A child starts with no blocked signals and with SIGPIPE at its default, whatever the parent
  // ignores, so that a tool writing into a closed pipe ends as it would on its own.
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (!ok(posix_spawnattr_setsigmask(&setup.attr, &none), "posix_spawnattr_setsigmask failed")) return false;
  if (!ok(posix_spawnattr_setsigdefault(&setup.attr, &defaults), "posix_spawnattr_setsigdefault failed"))
    return false;
  if (!ok(posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF),
          "posix_spawnattr_setflags failed"))
    return false;

  // Standard input.
  switch (info.input) {
    case Input::Inherit:
      break;
    case Input::Empty:
      if (!ok(posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0),
              "posix_spawn_file_actions_addopen failed"))
        return false;
      break;
    case Input::File:
      if (info.inputFile == nullptr || !info.inputFile->Valid()) {
        return fail("Cannot start \"" + words[0] + "\": no input file", EBADF);
      }
      if (!ok(posix_spawn_file_actions_adddup2(&setup.actions, static_cast<int>(info.inputFile->Get()), 0),
              "posix_spawn_file_actions_adddup2 failed"))
        return false;
      break;
  }

  // Standard output.
  Handle pipeRead;
  Handle pipeWrite;
  int outputFd = -1;
  switch (info.output) {
    case Output::Inherit:
      outputFd = 1;
      break;
    case Output::Empty:
      if (!ok(posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0),
              "posix_spawn_file_actions_addopen failed"))
        return false;
      break;
    case Output::Pipe: {
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC) != 0) {
        return fail("Cannot create a pipe", errno);
      }
      pipeRead = Handle(fds[0]);
      pipeWrite = Handle(fds[1]);
      // Room for a burst of output (a tool that prints its whole list at the end) while the
      // reader is busy; the system's limit for an unprivileged process, and no failure if refused.
      ::fcntl(fds[1], F_SETPIPE_SZ, kPipeBytes);
      outputFd = fds[1];
      if (!ok(posix_spawn_file_actions_adddup2(&setup.actions, outputFd, 1),
              "posix_spawn_file_actions_adddup2 failed"))
        return false;
      break;
    }
    case Output::File:
      if (info.outputFile == nullptr || !info.outputFile->Valid()) {
        return fail("Cannot start \"" + words[0] + "\": no output file", EBADF);
      }
      outputFd = static_cast<int>(info.outputFile->Get());
      if (!ok(posix_spawn_file_actions_adddup2(&setup.actions, outputFd, 1),
              "posix_spawn_file_actions_adddup2 failed"))
        return false;
      break;
  }

  // Standard error.
  switch (info.error) {
    case ErrorOutput::Inherit:
      break;
    case ErrorOutput::Empty:
      if (!ok(posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0),
              "posix_spawn_file_actions_addopen failed"))
        return false;
      break;
    case ErrorOutput::SameAsOutput:
      if (info.output == Output::Empty) {
        if (!ok(posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0),
                "posix_spawn_file_actions_addopen failed"))
          return false;
      } else {
        // After the output's dup2 above, descriptor 1 is the child's output.
        if (!ok(posix_spawn_file_actions_adddup2(&setup.actions, 1, 2),
                "posix_spawn_file_actions_adddup2 failed"))
          return false;
      }
      break;
  }

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Only the three standard descriptors reach the child: no pipe end of another run can keep a
  // pipe open behind the parent's back.
  if (!ok(posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3),
          "posix_spawn_file_actions_addclosefrom_np failed"))
    return false;
#endif

  std::vector<std::string> args = words;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
  if (rc != 0) return fail("posix_spawn failed for \"" + program + "\"", rc);

  auto state = std::make_unique<State>();
  state->pid = pid;
  state->pidFd = OpenPidFd(pid);
  state->outputRead = std::move(pipeRead);
  // The parent keeps no write end: once the child has ended, reading reaches the end of the data.
  pipeWrite.Close();
  child = ChildProcess(std::move(state));
  return true;
}

WaitResult ChildProcess::Wait(int timeoutMs) {
  if (!state_) return WaitResult::Ended;
  State& s = *state_;
  if (s.Poll()) return WaitResult::Ended;

  if (timeoutMs < 0) {
    int status = 0;
    for (;;) {
      ++s.counts.lookups;
      pid_t r = ::waitpid(s.pid, &status, 0);
      if (r == s.pid) {
        s.Reaped(status);
        break;
      }
      if (r < 0 && errno != EINTR) {
        s.ended = true;
        break;
      }
    }
    return WaitResult::Ended;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    ++s.counts.lookups;
    if (s.pidFd >= 0) {
      pollfd pfd{s.pidFd, POLLIN, 0};
      int r = ::poll(&pfd, 1, left > 0 ? static_cast<int>(left) : 0);
      if (r < 0 && errno != EINTR) {
        ::close(s.pidFd);  // fall back to polling waitpid
        s.pidFd = -1;
      }
    } else if (left > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 2)));
    }
    if (s.Poll()) return WaitResult::Ended;
    if (std::chrono::steady_clock::now() >= deadline) {
      ++s.counts.timeouts;
      return WaitResult::TimedOut;
    }
  }
}

WaitResult ChildProcess::WaitForOutput(int timeoutMs) {
  if (!state_) return WaitResult::Ended;
  State& s = *state_;
  if (s.Poll()) return WaitResult::Ended;
  if (s.pidFd < 0 || !s.outputRead.Valid()) return Wait(timeoutMs);

  const int outputFd = static_cast<int>(s.outputRead.Get());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto msLeft = [&]() -> int {
    if (timeoutMs < 0) return kInfinite;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  };
  for (;;) {
    pollfd fds[2] = {{s.pidFd, POLLIN, 0}, {outputFd, POLLIN, 0}};
    ++s.counts.lookups;
    const int r = ::poll(fds, 2, msLeft());
    if (r < 0 && errno != EINTR) return Wait(msLeft());
    if (s.Poll()) return WaitResult::Ended;
    if (r > 0 && (fds[1].revents & POLLIN) != 0) return WaitResult::TimedOut;  // output to read
    // The child closed its output (or the pipe failed) with nothing left in it: only its end is
    // left to wait for, and the pipe would wake every poll from now on.
    if (r > 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Wait(msLeft());
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) {
      ++s.counts.timeouts;
      return WaitResult::TimedOut;
    }
  }
}

ChildProcess::WaitCounts ChildProcess::Counts() const { return state_ ? state_->counts : WaitCounts{}; }

bool ChildProcess::Ended() const { return state_ == nullptr || state_->ended; }

int ChildProcess::ExitCode() const { return state_ ? state_->exitCode : -1; }

void ChildProcess::Kill() {
  if (!state_ || state_->Poll()) return;
  ::kill(state_->pid, SIGKILL);
}

std::size_t ChildProcess::BytesAvailable() {
  if (!state_ || !state_->outputRead.Valid())
    throw ProcessError("The child has no output pipe: " + ErrorText(EBADF), EBADF);
  int count = 0;
  if (::ioctl(static_cast<int>(state_->outputRead.Get()), FIONREAD, &count) != 0) {
    int code = errno;
    Fail("Cannot ask the pipe how much it holds", code);
  }
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::string ChildProcess::Read(std::size_t count) {
  if (!state_ || !state_->outputRead.Valid())
    throw ProcessError("The child has no output pipe: " + ErrorText(EBADF), EBADF);
  std::string data(count, '\0');
  std::size_t got = 0;
  const int fd = static_cast<int>(state_->outputRead.Get());
  while (got < count) {
    ssize_t r = ::read(fd, data.data() + got, count - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      int code = errno;
      Fail("Cannot read from the pipe", code);
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  data.resize(got);
  return data;
}

std::string ChildProcess::ReadToEnd() {
  if (!state_ || !state_->outputRead.Valid())
    throw ProcessError("The child has no output pipe: " + ErrorText(EBADF), EBADF);
  std::string data;
  char buffer[65536];
  const int fd = static_cast<int>(state_->outputRead.Get());
  for (;;) {
    ssize_t r = ::read(fd, buffer, sizeof buffer);
    if (r < 0) {
      if (errno == EINTR) continue;
      int code = errno;
      Fail("Cannot read from the pipe", code);
    }
    if (r == 0) break;
    data.append(buffer, static_cast<std::size_t>(r));
  }
  return data;
}

std::string ConsoleToAnsi(const std::string& text) { return text; }

}  // namespace platform::process
