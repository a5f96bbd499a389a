#include <algorithm>
#include "shared/shared_functions.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string_view>

#include "platform/files.h"

namespace {

std::mutex& StampMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& LastStamp() {
  static std::string stamp;
  return stamp;
}

// The stamp last worked out, and the second it belongs to.
struct StampCache {
  std::time_t second = 0;
  std::string stamp;
};

StampCache& CachedStamp() {
  static StampCache cache;
  return cache;
}

// The program's pseudo-random generator, seeded once from the system's entropy and the clock.
std::mt19937& RandomGenerator() {
  static std::mt19937 generator = [] {
    std::random_device device;
    std::seed_seq seed{
        device(), device(),
        static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count())};
    return std::mt19937(seed);
  }();
  return generator;
}

std::mutex& RandomMutex() {
  static std::mutex mutex;
  return mutex;
}

constexpr std::size_t kWipeBlockSize = 4096;
constexpr int kWipePasses = 3;

}  // namespace

std::string GetComputerNetName() { return platform::ComputerName(); }

std::string ShortFileName(const std::string& path) {
  if (!platform::FileExists(path)) return "";
  const std::string shortPath = platform::ShortPathName(path);
  return shortPath.empty() ? path : shortPath;
}

bool ListContained(const std::string& text, const std::vector<std::string>& list) {
  for (const std::string& item : list) {
    if (item == text) return true;
  }
  return false;
}

std::string FormatTimeStamp(const std::tm& time) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "[%02d.%02d.%04d %02d.%02d.%02d] ", time.tm_mday, time.tm_mon + 1,
                time.tm_year + 1900, time.tm_hour, time.tm_min, time.tm_sec);
  return buffer;
}

std::string LogzTimeAndDate(std::uint8_t flag) {
  if (flag != 1) return "";
  const std::time_t now = std::time(nullptr);
  std::lock_guard<std::mutex> lock(StampMutex());
  // A busy log gets thousands of lines a second: the local time is worked out once per second,
  // since each std::localtime has the C library look at the time zone file again.
  StampCache& cache = CachedStamp();
  if (cache.stamp.empty() || cache.second != now) {
    // std::localtime hands back shared storage; the lock keeps this module's calls apart.
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) return "";
    cache.second = now;
    cache.stamp = FormatTimeStamp(*local);
  }
  // The date-time part: without "[" and "] ".
  LastStamp() = cache.stamp.substr(1, cache.stamp.size() - 3);
  return cache.stamp;
}

std::string LastTimeStamp() {
  std::lock_guard<std::mutex> lock(StampMutex());
  return LastStamp();
}

void ClearLastTimeStamp() {
  std::lock_guard<std::mutex> lock(StampMutex());
  LastStamp().clear();
}

void ListFileDir(const std::string& folder, std::vector<std::string>& list) {
  const std::size_t first = list.size();
  for (const platform::DirEntry& entry : platform::ListDirectory(folder, "*.7z")) {
    if (entry.directoryOnly) continue;
    list.push_back(entry.name);
  }
  // In the order Windows lists a folder of an NTFS volume: by name, each letter compared in its
  // upper-case form. Linux lists a folder in no order at all.
  auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; };
  std::stable_sort(list.begin() + static_cast<std::ptrdiff_t>(first), list.end(),
                   [&](const std::string& a, const std::string& b) {
                     return std::lexicographical_compare(
                         a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
                           return upper(static_cast<unsigned char>(x)) < upper(static_cast<unsigned char>(y));
                         });
                   });
}

void RandomizeBuffer(std::span<std::uint8_t> block) {
  std::lock_guard<std::mutex> lock(RandomMutex());
  std::mt19937& generator = RandomGenerator();
  // Each 32-bit draw is uniform, so each of its four bytes is uniform in 0..255.
  std::size_t i = 0;
  while (i < block.size()) {
    auto bits = static_cast<std::uint32_t>(generator());
    for (int k = 0; k < 4 && i < block.size(); ++k, ++i) {
      block[i] = static_cast<std::uint8_t>(bits & 0xFFu);
      bits >>= 8;
    }
  }
}

void WipeFile(const std::string& path) {
  // A symbolic link in place of the file is removed as a link: what it points to is not the
  // program's to overwrite.
  std::error_code linkError;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, linkError))) {
    if (!platform::DeleteFile(path)) {
      const std::uint32_t code = platform::LastSystemError();
      throw platform::FileError("Cannot delete \"" + path + "\": " + platform::SystemErrorMessage(code), code);
    }
    return;
  }
  platform::ExclusiveFile file(path);
  std::array<std::uint8_t, kWipeBlockSize> block{};
  for (int pass = 0; pass < kWipePasses; ++pass) {
    RandomizeBuffer(block);
    const std::int64_t size = file.Size();
    file.Seek(0);
    std::int64_t left = size;
    while (left > 0) {
      const std::size_t piece =
          left < static_cast<std::int64_t>(block.size()) ? static_cast<std::size_t>(left) : block.size();
      file.Write(block.data(), piece);
      left -= static_cast<std::int64_t>(piece);
    }
    file.Flush();
  }
  file.Close();
  if (!platform::DeleteFile(path)) {
    const std::uint32_t code = platform::LastSystemError();
    throw platform::FileError("Cannot delete \"" + path + "\": " + platform::SystemErrorMessage(code), code);
  }
}

void WipeFileAside(const std::string& path) {
  const std::filesystem::path named(path);
  const std::filesystem::path aside(path + ".wipe");
  std::error_code error;
  std::filesystem::rename(named, aside, error);
  if (error) {
    WipeFile(path);
    return;
  }
  try {
    WipeFile(aside.string());
  } catch (...) {
    std::filesystem::rename(aside, named, error);
    throw;
  }
}

std::string GetWord(const std::string& text, const std::string& delimiter, int n) {
  int count = 1;
  std::string word;
  std::string rest = text;
  bool found = true;
  while (n >= count && found) {
    const std::size_t pos = delimiter.empty() ? std::string::npos : rest.find(delimiter);
    if (pos != std::string::npos) {
      word = rest.substr(0, pos);
      // The whole delimiter goes, so delimiters of several characters cut cleanly too.
      rest.erase(0, pos + delimiter.size());
      ++count;
    } else {
      word = rest;
      found = false;
    }
  }
  return n <= count ? word : std::string();
}

std::string PercentEncode(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size() * 3);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                            byte == '~';
    if (unreserved) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 0x0F]);
    }
  }
  return encoded;
}

bool IsInFolder(const std::string& path, const std::string& folder, bool ignoreCase) {
  if (folder.empty()) return false;
  auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
  std::size_t length = folder.size();
  while (length > 0 && isSeparator(folder[length - 1])) --length;
  if (path.size() <= length || !isSeparator(path[length])) return false;
  auto fold = [ignoreCase](char c) {
    return ignoreCase && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  for (std::size_t i = 0; i < length; ++i) {
    if (fold(path[i]) != fold(folder[i])) return false;
  }
  return true;
}

std::string StrReplace(const std::string& text, const std::string& oldText, const std::string& newText) {
  if (oldText.empty()) return text;
  std::string result = text;
  if (newText.find(oldText) != std::string::npos) {
    // Replacing again would never end: replace every occurrence of the original text once.
    std::size_t pos = result.find(oldText);
    while (pos != std::string::npos) {
      result.replace(pos, oldText.size(), newText);
      pos = result.find(oldText, pos + newText.size());
    }
    return result;
  }
  // Each round looks for the first occurrence of the current text. Nothing before the last
  // replacement matched, so an occurrence can start no earlier than one that overlaps the
  // inserted text; the search resumes there instead of at the start.
  // A longer replacement can keep forming new occurrences and grow the text without end;
  // past a generous bound that is reported instead of eating all memory.
  const std::size_t limit = text.size() * 64 + 65536;
  std::size_t pos = result.find(oldText);
  while (pos != std::string::npos) {
    result.replace(pos, oldText.size(), newText);
    if (result.size() > limit) throw std::length_error("StrReplace: the replacements do not come to an end");
    const std::size_t back = oldText.size() - 1;
    pos = result.find(oldText, pos > back ? pos - back : 0);
  }
  return result;
}

std::string StrToAscii(const std::string& text) {
  std::string result;
  result.reserve(text.size() * 4);
  for (const char c : text) {
    result += '#';
    result += std::to_string(static_cast<unsigned char>(c));
  }
  return result;
}

std::string ASCIIToStr(const std::string& text) {
  std::string result;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('#', pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view group = std::string_view(text).substr(pos, end - pos);
    pos = end + 1;
    if (group.empty()) continue;
    // A decimal number with an optional sign, within the range of a 32-bit integer.
    std::size_t i = 0;
    bool negative = false;
    if (group[0] == '+' || group[0] == '-') {
      negative = group[0] == '-';
      i = 1;
    }
    if (i == group.size()) continue;
    std::int64_t value = 0;
    bool number = true;
    for (; i < group.size(); ++i) {
      const char c = group[i];
      if (c < '0' || c > '9' || value > 2147483648LL) {
        number = false;
        break;
      }
      value = value * 10 + (c - '0');
    }
    if (!number || value > (negative ? 2147483648LL : 2147483647LL)) continue;
    if (negative) value = -value;
    result += static_cast<char>(static_cast<std::uint8_t>(value & 0xFF));
  }
  return result;
}

void MakePaths(const std::vector<std::string>* source, std::vector<std::string>& dest) {
  if (source == nullptr) return;
  static constexpr std::string_view kWord = "Extracting";
  for (const std::string& line : *source) {
    if (line.compare(0, kWord.size(), kWord) != 0) continue;
    dest.push_back(line.size() > kWord.size() + 1 ? line.substr(kWord.size() + 1) : std::string());
  }
}

bool EndsWith7z(const std::string& name) {
  if (name.size() < 3) return false;
  const std::string tail = name.substr(name.size() - 3);
  return tail == ".7z" || tail == ".7Z";
}
