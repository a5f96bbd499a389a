// Message lookup in the language files and a safe formatter for the looked-up texts.
//
// No operation holds the text of its own messages: each one is named by a key ("log1",
// "msg3", ...) and looked up in section "Msg" of the current language file at the moment it
// is needed (through a TextSource, which falls back to English for what that file lacks). Language files are data written by translators, so a text may carry format
// specifiers that do not fit the arguments the program passes; the formatter never reads
// an argument that was not passed and never crashes on such a text.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One argument of a message: a text or a whole number.
class MessageArg {
 public:
  MessageArg(std::string text) : value_(std::move(text)) {}
  MessageArg(std::string_view text) : value_(std::string(text)) {}
  MessageArg(const char* text) : value_(std::string(text != nullptr ? text : "")) {}
  template <std::integral T>
  requires(!std::same_as<T, bool> && !std::same_as<T, char>) MessageArg(T number)
      : value_(static_cast<std::int64_t>(number)) {}

  bool IsNumber() const { return std::holds_alternative<std::int64_t>(value_); }
  // The argument as text; a number is written in decimal.
  std::string Text() const;
  // The number; only meaningful when IsNumber().
  std::int64_t Number() const { return IsNumber() ? std::get<std::int64_t>(value_) : 0; }

 private:
  std::variant<std::string, std::int64_t> value_;
};

// The value of `key` in `section` of the language file `langFile`, or
// "Translation text for " + key + " not found" when the file, the section or the key is
// missing (or the file cannot be read). Parsed files are kept in memory and parsed again
// only when their modification stamp (time and size) changes, so an edit shows at the next
// lookup; a file changed moments ago is also compared by content, since a second edit
// within the same tick of the file system's clock would leave its stamp unchanged.
std::string TranslateMessage(const std::string& section, const std::string& key, const std::string& langFile);

// Formats a message text with its arguments. Never reads an argument that was not passed:
//   "%s"  the next argument as text (a number in decimal);
//   "%d"  the next argument as a whole number (a text argument is written as the text);
//   "%%"  a single "%"; a lone "%" at the end stays "%".
// Both "%s" and "%d" take an optional "-" (left-justify) or "0" (zero padding, "%d" only)
// flag, a width and a precision ("%-10s", "%5d", "%.3s", "%.4d"): precision cuts a text to
// that many characters and gives a number at least that many digits. Widths and precisions
// above 1000 are not supported. Any other or unsupported specifier ("%n", "%p", "%x", "%*d",
// "%2000s") is written as it stands and takes no argument. A specifier left without an
// argument is written as it stands; arguments left without a specifier are dropped.
std::string FormatMessageText(const std::string& format, const std::vector<MessageArg>& args);

// TranslateMessage("Msg", key, langFile) formatted with `args`.
std::string MessageText(const std::string& langFile, const std::string& key,
                        const std::vector<MessageArg>& args = {});

// The English texts built into the program: lng/english.lng as it was when the program was
// built. They are the last place every text is looked up in, so the windows and the log read
// well even when no language file can be used.
std::string_view BuiltInEnglishText();

// Whether a language file can be used. One that cannot be read (missing, a folder, unreadable)
// or that holds no [Msg] section is no language file and is passed over as a whole.
enum class LanguageFileState { Usable, Unreadable, NoMessages };
LanguageFileState CheckLanguageFile(const std::string& path);

// Where the program's texts come from, most wanted first: language files (the chosen one, then
// the English one), then the built-in English texts. A file that cannot be used is passed over
// as a whole; a key that one file lacks is taken from the next source. Files are read through
// the same cache as TranslateMessage.
class TextSource {
 public:
  explicit TextSource(std::vector<std::string> files = {}) : files_(std::move(files)) {}

  const std::vector<std::string>& Files() const { return files_; }
  // The value of `key` in `section` of the first source that has it; nothing when none has it.
  std::optional<std::string> Find(const std::string& section, const std::string& key) const;
  // Find("Msg", key) formatted with `args`; "Translation text for " + key + " not found" when
  // no source has the key.
  std::string Message(const std::string& key, const std::vector<MessageArg>& args = {}) const;

 private:
  std::vector<std::string> files_;
};

// Forgets every parsed language file (the next lookup reads the file again).
void ClearMessageCache();
// How many times a language file has been read and parsed since the program started;
// lets tests and benchmarks see that unchanged files are not read again.
std::size_t LanguageFileParseCount();
