// The parts of the process layer that are the same on every target: splitting a command line by
// the Windows rules, quoting a word, the folder searched first for programs, and starting a child
// that must start (over each target's TryStart).
#include "platform/process.h"

#include <mutex>

#include "platform/files.h"

namespace platform::process {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::mutex& FolderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& FolderOverride() {
  static std::string folder;
  return folder;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = commandLine.size();

  bool allBlank = true;
  for (char c : commandLine) {
    if (!IsBlank(c)) {
      allBlank = false;
      break;
    }
  }
  if (allBlank) return words;

  // The program name: up to the next quote when quoted, otherwise up to the first blank.
  // Backslashes have no special meaning in it.
  std::string first;
  if (commandLine[0] == '"') {
    i = 1;
    while (i < n && commandLine[i] != '"') first += commandLine[i++];
    if (i < n) ++i;  // the closing quote
  } else {
    while (i < n && !IsBlank(commandLine[i])) first += commandLine[i++];
  }
  words.push_back(first);
  while (i < n && IsBlank(commandLine[i])) ++i;
  if (i >= n) return words;

  // The arguments. quoteCount 0: outside quotes, 1: inside quotes. Within a run of quotes every
  // third one is a literal quote, so a doubled quote inside quotes yields one quote.
  std::string word;
  int quoteCount = 0;
  std::size_t backslashes = 0;
  while (i < n) {
    const char c = commandLine[i];
    if (IsBlank(c) && quoteCount == 0) {
      words.push_back(word);
      word.clear();
      backslashes = 0;
      while (i < n && IsBlank(commandLine[i])) ++i;
      if (i >= n) return words;
      continue;
    }
    if (c == '\\') {
      word += c;
      ++backslashes;
      ++i;
      continue;
    }
    if (c == '"') {
      if (backslashes % 2 == 0) {
        word.resize(word.size() - backslashes / 2);
        ++quoteCount;
      } else {
        word.resize(word.size() - backslashes / 2 - 1);
        word += '"';
      }
      ++i;
      backslashes = 0;
      while (i < n && commandLine[i] == '"') {
        if (++quoteCount == 3) {
          word += '"';
          quoteCount = 0;
        }
        ++i;
      }
      if (quoteCount == 2) quoteCount = 0;
      continue;
    }
    word += c;
    backslashes = 0;
    ++i;
  }
  words.push_back(word);
  return words;
}

std::string QuoteArgument(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      // Backslashes before a quote are doubled, and the quote itself is escaped.
      quoted.append(backslashes * 2 + 1, '\\');
      quoted += '"';
    } else {
      quoted.append(backslashes, '\\');
      quoted += c;
    }
    backslashes = 0;
  }
  // Backslashes before the closing quote are doubled so that it still closes.
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

void SetProgramFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(FolderMutex());
  FolderOverride() = folder;
}

std::string ProgramFolder() {
  {
    std::lock_guard<std::mutex> lock(FolderMutex());
    if (!FolderOverride().empty()) return FolderOverride();
  }
  return platform::ExtractFilePath(platform::ProgramFilePath());
}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = other.Release();
  }
  return *this;
}

ChildProcess ChildProcess::Start(const StartInfo& info) {
  ChildProcess child;
  ProcessFailure failure;
  if (!TryStart(info, child, &failure)) throw ProcessError(failure.message, failure.code);
  return child;
}

}  // namespace platform::process
