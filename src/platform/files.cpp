// What both platforms' file functions share: path text, and text files as lines. The rest of
// platform/files.h is in files_posix.cpp and files_win32.cpp.
#include "platform/files.h"

namespace platform {
namespace {

#ifdef _WIN32
constexpr char kOtherSeparator = '/';
constexpr const char* kNameDelimiters = "\\/:";  // a drive's colon ends a folder part too
#else
constexpr char kOtherSeparator = '\\';
constexpr const char* kNameDelimiters = "\\/";
#endif

std::string LinesText(const std::vector<std::string>& lines) {
  std::string content;
  std::size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  content.reserve(total);
  for (const std::string& line : lines) {
    content += line;
    content += "\r\n";
  }
  return content;
}

}  // namespace

std::string NativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native) {
    if (c == kOtherSeparator) c = PathSeparator();
  }
  return native;
}

std::string ExtractFilePath(const std::string& path) {
  const std::size_t last = path.find_last_of(kNameDelimiters);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string ExtractFileName(const std::string& path) {
  const std::size_t last = path.find_last_of(kNameDelimiters);
  return last == std::string::npos ? path : path.substr(last + 1);
}

std::vector<std::string> ReadTextLines(const std::string& path) {
  const std::string content = ReadWholeFile(path);
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::size_t end = content.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(content.substr(pos));
      break;
    }
    lines.push_back(content.substr(pos, end - pos));
    pos = end + ((content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

void WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
  WriteWholeFile(path, LinesText(lines));
}

void WriteTextLinesAtomically(const std::string& path, const std::vector<std::string>& lines) {
  WriteFileAtomically(path, LinesText(lines));
}

}  // namespace platform
