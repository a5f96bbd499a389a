#include "tool_basics.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace seven_zip {

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return text;
}

std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string ErrnoText(int code) {
  return std::string(std::strerror(code)) + " (" + std::to_string(code) + ")";
}

bool WriteWholeFile(const std::string& path, std::string_view text, std::string& error) {
  Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!file.valid()) {
    error = ErrnoText(errno);
    return false;
  }
  while (!text.empty()) {
    const ssize_t written = ::write(file.get(), text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = ErrnoText(written < 0 ? errno : ENOSPC);
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(file.release()) != 0) {
    error = ErrnoText(errno);
    return false;
  }
  return true;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace seven_zip
