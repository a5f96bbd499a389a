// A child program for the process tests. The first argument picks what it does:
//   args                      prints "argc=N", then every argument as "<i>=[<text>]", one a line
//   chunks <pauseMs> <c>...   writes every chunk as it is, flushed, with a pause after each;
//                             "%r" is CR, "%n" LF, "%0" a zero byte, "%%" a percent sign,
//                             "%xHH" the byte of two hexadecimal digits (bytes above 127 pass
//                             no command line unchanged on Windows)
//   junk <bytes>              writes pseudo-random bytes (zero bytes and line breaks included)
//   endless <bytes>           writes one line of 'x' without a line break
//   lines <n>                 writes the lines "line 1" .. "line n"
//   sleep <ms>                sleeps, then writes "awake"
//   stdin                     reads its standard input to the end, writes "stdin=[<text>]"
//   stderr <text>             writes <text> to standard error and "out" to standard output
//   exit <code>               ends with that exit code
//   pwd                       writes the current folder
//   touch <path> <pauseMs>    pauses, then creates the file <path> holding "done"
//   touchafter <gate> <path> <maxMs>
//                             waits until the file <gate> exists (at most maxMs), then creates
//                             the file <path> holding "done"
//   closeout <ms>             closes its standard output, then sleeps before it ends
//   writethen <gate> <text>   writes <text>, then ends once the file <gate> exists
//
// Built for Linux and for Windows (the Windows test program starts the .exe beside it): the
// standard handles are written and read unbuffered on both.
#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

#ifdef _WIN32
// Writes at most `size` bytes to standard output; returns how many, 0 on failure.
std::size_t WriteSome(const char* data, std::size_t size) {
  DWORD written = 0;
  const DWORD want = static_cast<DWORD>(size < (1u << 20) ? size : (1u << 20));
  if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, want, &written, nullptr)) return 0;
  return written;
}
// Reads at most `size` bytes from standard input; 0 at its end or on failure (no input at all).
std::size_t ReadSome(char* data, std::size_t size) {
  DWORD read = 0;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return 0;
  if (!ReadFile(input, data, static_cast<DWORD>(size), &read, nullptr)) return 0;
  return read;
}
std::string CurrentFolder() {
  char buffer[4096];
  return _getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}
#else
std::size_t WriteSome(const char* data, std::size_t size) {
  const ssize_t n = ::write(1, data, size);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}
std::size_t ReadSome(char* data, std::size_t size) {
  const ssize_t n = ::read(0, data, size);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}
std::string CurrentFolder() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}
#endif

void Write(const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const std::size_t n = WriteSome(data.data() + done, data.size() - done);
    if (n == 0) std::exit(3);
    done += n;
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      const char c = text[++i];
      if (c == 'r')
        out += '\r';
      else if (c == 'n')
        out += '\n';
      else if (c == '0')
        out += '\0';
      else if (c == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
        out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
        i += 2;
      } else
        out += c;
    } else {
      out += text[i];
    }
  }
  return out;
}

void Pause(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Touch(const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  std::fputs("done", file);
  return std::fclose(file) == 0;
}

bool Exists(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velmora_test_helper <command> ...\n");
    return 2;
  }
#ifdef _WIN32
  // Standard error unchanged, as on Linux: no CR added before line feeds.
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  const std::string command = argv[1];
  if (command == "args") {
    std::string out = "argc=" + std::to_string(argc) + "\n";
    for (int i = 0; i < argc; ++i) out += std::to_string(i) + "=[" + argv[i] + "]\n";
    Write(out);
  } else if (command == "chunks" && argc >= 3) {
    const long pause = std::atol(argv[2]);
    for (int i = 3; i < argc; ++i) {
      Write(Decode(argv[i]));
      Pause(pause);
    }
  } else if (command == "junk" && argc >= 3) {
    std::size_t count = std::strtoul(argv[2], nullptr, 10);
    std::string data;
    unsigned state = 12345;
    for (std::size_t i = 0; i < count; ++i) {
      state = state * 1103515245u + 12345u;
      data += static_cast<char>((state >> 16) & 0xff);
    }
    Write(data);
  } else if (command == "endless" && argc >= 3) {
    std::size_t count = std::strtoul(argv[2], nullptr, 10);
    const std::string block(4096, 'x');
    while (count > 0) {
      const std::size_t n = count < block.size() ? count : block.size();
      Write(block.substr(0, n));
      count -= n;
    }
  } else if (command == "lines" && argc >= 3) {
    const long n = std::atol(argv[2]);
    std::string out;
    for (long i = 1; i <= n; ++i) out += "line " + std::to_string(i) + "\n";
    Write(out);
  } else if (command == "sleep" && argc >= 3) {
    Pause(std::atol(argv[2]));
    Write("awake\n");
  } else if (command == "stdin") {
    std::string in;
    char buffer[4096];
    std::size_t n;
    while ((n = ReadSome(buffer, sizeof buffer)) > 0) in.append(buffer, n);
    Write("stdin=[" + in + "]\n");
  } else if (command == "stderr" && argc >= 3) {
    std::fprintf(stderr, "%s\n", argv[2]);
    std::fflush(stderr);
    Write("out\n");
  } else if (command == "exit" && argc >= 3) {
    return std::atoi(argv[2]);
  } else if (command == "pwd") {
    const std::string folder = CurrentFolder();
    if (folder.empty()) return 3;
    Write(folder + "\n");
  } else if (command == "closeout" && argc >= 3) {
#ifdef _WIN32
    CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
#else
    ::close(1);
#endif
    Pause(std::atol(argv[2]));
  } else if (command == "touch" && argc >= 4) {
    Pause(std::atol(argv[3]));
    if (!Touch(argv[2])) return 3;
  } else if (command == "writethen" && argc >= 4) {
    Write(argv[3]);
    while (!Exists(argv[2])) Pause(10);
  } else if (command == "touchafter" && argc >= 5) {
    for (long waited = 0; waited < std::atol(argv[4]) && !Exists(argv[2]); waited += 10) Pause(10);
    if (!Touch(argv[3])) return 3;
  } else {
    std::fprintf(stderr, "velmora_test_helper: unknown command %s\n", command.c_str());
    return 2;
  }
  return 0;
}
