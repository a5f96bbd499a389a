// What every part of the Linux archive tool uses: 7-Zip's exit codes, printing a line, the
// system's reason for a failure, an owned file descriptor, a checked whole-file write.
#pragma once

#include <unistd.h>

#include <string>
#include <string_view>

namespace seven_zip {

// Exit codes as 7-Zip's.
constexpr int kOk = 0;
constexpr int kWarning = 1;
constexpr int kFatal = 2;
constexpr int kCommandLineError = 7;

void Print(const std::string& line);

std::string Lower(std::string text);

std::string Native(std::string path);

std::string ErrnoText(int code);

// An open file descriptor, closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Writes all of `text` to a new file `path` (replacing one there); false with the system's reason
// in `error` when any write or the closing fails, so a full disk is never taken for a whole file.
bool WriteWholeFile(const std::string& path, std::string_view text, std::string& error);

void ReplaceAll(std::string& text, const std::string& from, const std::string& to);

}  // namespace seven_zip
