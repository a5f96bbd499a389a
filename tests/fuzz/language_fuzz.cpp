// Language files and message formatting: any file content is read without harm; a key the
// file holds is found with its value as the INI reader gives it, a missing one gives the
// fixed "not found" text; formatting any format with text and number arguments never writes
// outside its result, and a format without "%" comes back unchanged.
// Input: key \x01 format \x01 text argument \x01 number (8 bytes) \x01 language file content.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "lang/messages.h"
#include "platform/ini_text.h"

namespace {

// One scratch file for the whole run, removed at exit.
const std::string& ScratchFile() {
  static const std::string path = [] {
    char name[] = "/tmp/velmora-fuzz-lng-XXXXXX";
    const int fd = mkstemp(name);
    fuzz::Check(fd >= 0, "scratch file created");
    close(fd);
    std::atexit([] { unlink(ScratchFile().c_str()); });
    return std::string(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::string key = input.Part();
  const std::string format = input.Part();
  const std::string textArg = input.Part();
  const std::string numberBytes = input.Part();
  const std::string content = input.Rest();

  std::int64_t number = 0;
  std::memcpy(&number, numberBytes.data(), std::min(numberBytes.size(), sizeof number));
  const std::string formatted = FormatMessageText(format, {MessageArg(textArg), MessageArg(number)});
  if (format.find('%') == std::string::npos) fuzz::Check(formatted == format, "a format without % is kept");
  FormatMessageText(format, {MessageArg(number), MessageArg(textArg)});
  FormatMessageText(format, {});

  {
    std::ofstream out(ScratchFile(), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  ClearMessageCache();
  CheckLanguageFile(ScratchFile());
  const std::string found = TranslateMessage("Msg", key, ScratchFile());
  const auto expected = platform::IniDocument::Parse(content).Get("Msg", key);
  if (expected) {
    fuzz::Check(found == *expected, "a key of the file gives its value");
  } else {
    fuzz::Check(found == "Translation text for " + key + " not found", "a missing key gives the fixed text");
  }
  MessageText(ScratchFile(), key, {MessageArg(textArg)});
  TextSource({ScratchFile()}).Message(key, {MessageArg(number)});
  return 0;
}
