#include "lang/messages.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/files.h"
#include "platform/ini_text.h"

namespace {

// ---------------------------------------------------------------------------------------
// Cache of parsed language files
// ---------------------------------------------------------------------------------------

// A file whose modification time lies close to the moment it was read may be changed again
// within the same tick of the file system's clock without its stamp changing. Such a "racy"
// entry is checked by content until the tick has surely passed. File systems that keep
// whole seconds (FAT keeps 2) need a long window; the others stamp with the system clock,
// whose tick is a few milliseconds.
constexpr std::int64_t kCoarseRacyWindowNs = 3'000'000'000;
constexpr std::int64_t kFineRacyWindowNs = 100'000'000;
// At most this many parsed files are kept (one per language file looked up).
constexpr std::size_t kMaxCachedFiles = 16;

struct CachedFile {
  platform::FileStamp stamp;
  platform::IniDocument document;
  // Whether the text has a [Msg] section, that is whether it is a language file at all.
  bool hasMessages = false;
  // Content as read, kept only while the entry is racy.
  bool racy = false;
  std::string content;
};

std::mutex cacheMutex;
std::unordered_map<std::string, CachedFile> cache;
std::size_t parseCount = 0;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Whether an edit made now could leave the stamp as it is. An edit now gets a modification
// time close to now, so only a stamp near the present is in doubt; one far in the future
// (a clock set differently) changes with the next edit like an old one.
// File stamps count nanoseconds since 1970-01-01, like the system clock.
bool IsRacy(const platform::FileStamp& stamp) {
  const bool wholeSeconds = stamp.mtime % 1'000'000'000 == 0;
  const std::int64_t window = wholeSeconds ? kCoarseRacyWindowNs : kFineRacyWindowNs;
  const std::int64_t age = NowNs() - stamp.mtime;
  return age > -window && age < window;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// A language file is a few kilobytes; anything beyond this is not one and is not read.
constexpr std::int64_t kMaxFileSize = 64 * 1024 * 1024;

// False for a missing file (a failed stat gives no size) and for one too large to be a
// language file.
bool StampIsUsable(const platform::FileStamp& stamp) { return stamp.size >= 0 && stamp.size <= kMaxFileSize; }

// Reads and parses the file into `entry`. False when the file cannot be read.
bool Load(const std::string& path, const platform::FileStamp& stamp, CachedFile& entry) {
  std::string content;
  try {
    content = platform::ReadWholeFile(path);
  } catch (const platform::FileError&) {
    return false;
  }
  ++parseCount;
  entry.stamp = stamp;
  entry.racy = IsRacy(stamp);
  if (entry.racy) {
    entry.document = platform::IniDocument::Parse(std::string_view(content));
    entry.content = std::move(content);
  } else {
    entry.document = platform::IniDocument::Parse(std::move(content));
    entry.content.clear();
    entry.content.shrink_to_fit();
  }
  entry.hasMessages = false;
  for (const std::string& section : entry.document.SectionNames()) {
    if (EqualsIgnoringCase(section, "Msg")) entry.hasMessages = true;
  }
  return true;
}

// The cache entry for an up-to-date parse of `path`, or nullptr when the file cannot be
// read. Called with cacheMutex held.
CachedFile* CurrentEntry(const std::string& path) {
  const platform::FileStamp stamp = platform::GetFileStamp(path);
  if (!StampIsUsable(stamp)) {
    cache.erase(path);
    return nullptr;
  }
  auto found = cache.find(path);
  if (found != cache.end()) {
    CachedFile& entry = found->second;
    if (entry.stamp != stamp) {
      if (!Load(path, stamp, entry)) {
        cache.erase(found);
        return nullptr;
      }
      return &entry;
    }
    if (entry.racy) {
      std::string content;
      try {
        content = platform::ReadWholeFile(path);
      } catch (const platform::FileError&) {
        cache.erase(found);
        return nullptr;
      }
      if (content != entry.content) {
        if (!Load(path, stamp, entry)) {
          cache.erase(found);
          return nullptr;
        }
      } else if (!IsRacy(stamp)) {
        // Checked after the window closed: later edits will change the stamp.
        entry.racy = false;
        entry.content.clear();
        entry.content.shrink_to_fit();
      }
    }
    return &entry;
  }
  if (cache.size() >= kMaxCachedFiles) cache.clear();
  CachedFile entry;
  if (!Load(path, stamp, entry)) return nullptr;
  return &cache.emplace(path, std::move(entry)).first->second;
}

// ---------------------------------------------------------------------------------------
// Formatter
// ---------------------------------------------------------------------------------------

constexpr int kMaxWidth = 1000;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Number of characters of a UTF-8 text (bytes that do not continue a sequence).
std::size_t CharCount(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    if (!IsContinuationByte(c)) ++count;
  }
  return count;
}

// The first `chars` characters of a UTF-8 text, never cutting a sequence in two.
std::string_view FirstChars(std::string_view text, std::size_t chars) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsContinuationByte(text[i])) {
      if (seen == chars) return text.substr(0, i);
      ++seen;
    }
  }
  return text;
}

struct Spec {
  bool leftJustify = false;
  bool zeroPad = false;
  int width = -1;
  int precision = -1;
  char conversion = 0;
  std::size_t end = 0;  // index just past the specifier
};

// Reads the decimal digits at `pos`; -1 when there is none. A number above kMaxWidth sets
// `tooBig` (the digits are still consumed, the value stops growing, so no overflow).
int ReadNumber(std::string_view format, std::size_t& pos, bool& tooBig) {
  if (pos >= format.size() || format[pos] < '0' || format[pos] > '9') return -1;
  long value = 0;
  while (pos < format.size() && format[pos] >= '0' && format[pos] <= '9') {
    if (value <= kMaxWidth) value = value * 10 + (format[pos] - '0');
    ++pos;
  }
  if (value > kMaxWidth) {
    tooBig = true;
    return -1;
  }
  return static_cast<int>(value);
}

// Parses a specifier that starts with the "%" at `start`. Nothing when it is not a
// supported "%s" or "%d" form.
std::optional<Spec> ParseSpec(std::string_view format, std::size_t start) {
  Spec spec;
  std::size_t pos = start + 1;
  while (pos < format.size() && (format[pos] == '-' || format[pos] == '0')) {
    if (format[pos] == '-') spec.leftJustify = true;
    if (format[pos] == '0') spec.zeroPad = true;
    ++pos;
  }
  bool tooBig = false;
  spec.width = ReadNumber(format, pos, tooBig);
  if (pos < format.size() && format[pos] == '.') {
    ++pos;
    spec.precision = ReadNumber(format, pos, tooBig);
    if (spec.precision < 0) spec.precision = 0;  // "%.s" means precision 0, as in C
  }
  if (tooBig || pos >= format.size()) return std::nullopt;
  const char conversion = format[pos];
  if (conversion != 's' && conversion != 'd') return std::nullopt;
  spec.conversion = conversion;
  spec.end = pos + 1;
  return spec;
}

void AppendPadded(std::string& out, std::string_view body, const Spec& spec, char padChar) {
  const std::size_t chars = CharCount(body);
  const std::size_t width = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
  const std::size_t padding = chars < width ? width - chars : 0;
  if (spec.leftJustify) {
    out.append(body);
    out.append(padding, ' ');
  } else if (padChar == '0' && !body.empty() && (body[0] == '-')) {
    // Zero padding goes between the sign and the digits.
    out.push_back(body[0]);
    out.append(padding, '0');
    out.append(body.substr(1));
  } else {
    out.append(padding, padChar);
    out.append(body);
  }
}

void AppendNumber(std::string& out, std::int64_t number, const Spec& spec) {
  char buffer[24];
  const auto result = std::to_chars(std::begin(buffer), std::end(buffer), number);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  std::string body;
  if (spec.precision >= 0) {
    const bool negative = !text.empty() && text[0] == '-';
    std::string_view digits = negative ? text.substr(1) : text;
    if (spec.precision == 0 && number == 0) digits = {};  // as in C: "%.0d" of 0 is empty
    if (negative) body.push_back('-');
    const auto wanted = static_cast<std::size_t>(spec.precision);
    if (digits.size() < wanted) body.append(wanted - digits.size(), '0');
    body.append(digits);
  } else {
    body.assign(text);
  }
  // With a precision, C ignores the "0" flag; so do we.
  const char padChar = (spec.zeroPad && !spec.leftJustify && spec.precision < 0) ? '0' : ' ';
  AppendPadded(out, body, spec, padChar);
}

void AppendText(std::string& out, std::string_view text, const Spec& spec) {
  std::string_view body = text;
  if (spec.precision >= 0) body = FirstChars(body, static_cast<std::size_t>(spec.precision));
  AppendPadded(out, body, spec, ' ');
}

}  // namespace

std::string MessageArg::Text() const {
  if (const auto* text = std::get_if<std::string>(&value_)) return *text;
  char buffer[24];
  const auto result = std::to_chars(std::begin(buffer), std::end(buffer), std::get<std::int64_t>(value_));
  return std::string(buffer, result.ptr);
}

std::string TranslateMessage(const std::string& section, const std::string& key,
                             const std::string& langFile) {
  if (!langFile.empty()) {
    std::lock_guard lock(cacheMutex);
    if (const CachedFile* entry = CurrentEntry(langFile)) {
      if (std::optional<std::string> value = entry->document.Get(section, key)) return *std::move(value);
    }
  }
  return "Translation text for " + key + " not found";
}

LanguageFileState CheckLanguageFile(const std::string& path) {
  if (path.empty()) return LanguageFileState::Unreadable;
  std::lock_guard lock(cacheMutex);
  const CachedFile* entry = CurrentEntry(path);
  if (entry == nullptr) return LanguageFileState::Unreadable;
  return entry->hasMessages ? LanguageFileState::Usable : LanguageFileState::NoMessages;
}

std::optional<std::string> TextSource::Find(const std::string& section, const std::string& key) const {
  {
    std::lock_guard lock(cacheMutex);
    for (const std::string& file : files_) {
      if (file.empty()) continue;
      const CachedFile* entry = CurrentEntry(file);
      if (entry == nullptr || !entry->hasMessages) continue;
      if (std::optional<std::string> value = entry->document.Get(section, key)) return value;
    }
  }
  static const platform::IniDocument builtIn = platform::IniDocument::Parse(BuiltInEnglishText());
  return builtIn.Get(section, key);
}

std::string TextSource::Message(const std::string& key, const std::vector<MessageArg>& args) const {
  if (std::optional<std::string> text = Find("Msg", key)) return FormatMessageText(*text, args);
  return "Translation text for " + key + " not found";
}

std::string FormatMessageText(const std::string& format, const std::vector<MessageArg>& args) {
  std::string out;
  out.reserve(format.size() + 32);
  std::size_t nextArg = 0;
  std::size_t pos = 0;
  const std::string_view text(format);
  while (pos < text.size()) {
    const std::size_t percent = text.find('%', pos);
    if (percent == std::string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    out.append(text.substr(pos, percent - pos));
    if (percent + 1 < text.size() && text[percent + 1] == '%') {
      out.push_back('%');
      pos = percent + 2;
      continue;
    }
    const std::optional<Spec> spec = ParseSpec(text, percent);
    if (!spec) {
      // Unsupported or incomplete: the "%" stands as it is and the text after it follows.
      out.push_back('%');
      pos = percent + 1;
      continue;
    }
    if (nextArg >= args.size()) {
      out.append(text.substr(percent, spec->end - percent));
    } else {
      const MessageArg& arg = args[nextArg++];
      if (spec->conversion == 'd' && arg.IsNumber()) {
        AppendNumber(out, arg.Number(), *spec);
      } else {
        Spec textSpec = *spec;
        // A text given to "%d" is written as it is: no digits to pad or to cut.
        if (spec->conversion == 'd') textSpec.precision = -1;
        AppendText(out, arg.Text(), textSpec);
      }
    }
    pos = spec->end;
  }
  return out;
}

std::string MessageText(const std::string& langFile, const std::string& key,
                        const std::vector<MessageArg>& args) {
  return FormatMessageText(TranslateMessage("Msg", key, langFile), args);
}

void ClearMessageCache() {
  std::lock_guard lock(cacheMutex);
  cache.clear();
}

std::size_t LanguageFileParseCount() {
  std::lock_guard lock(cacheMutex);
  return parseCount;
}
