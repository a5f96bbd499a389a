// Message lookups per second on an unchanged language file (target: 500,000 or more).
// Usage: message_lookup_bench [language file]   (default: the shipped english.lng)
// Exit status 1 when the target is missed.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "lang/messages.h"

#ifndef VELMORA_SOURCE_DIR
#define VELMORA_SOURCE_DIR "."
#endif

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const std::string source = argc > 1 ? argv[1] : std::string(VELMORA_SOURCE_DIR) + "/data/lng/english.lng";

  // Work on a copy that is not being edited, as the program does between translations.
  const fs::path copy = fs::temp_directory_path() / "velmora_message_lookup_bench.lng";
  std::error_code error;
  fs::copy_file(source, copy, fs::copy_options::overwrite_existing, error);
  if (error) {
    std::fprintf(stderr, "cannot copy %s: %s\n", source.c_str(), error.message().c_str());
    return 2;
  }
  fs::last_write_time(copy, fs::file_time_type::clock::now() - std::chrono::hours(1), error);
  const std::string file = copy.string();

  std::vector<std::string> keys;
  for (int i = 1; i <= 71; ++i) {
    if (i != 21) keys.push_back("log" + std::to_string(i));
  }
  for (int i = 1; i <= 9; ++i) keys.push_back("msg" + std::to_string(i));

  if (TranslateMessage("Msg", "log1", file).rfind("Translation text for", 0) == 0) {
    std::fprintf(stderr, "%s holds no message log1\n", source.c_str());
    return 2;
  }

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::size_t lookups = 0;
  std::size_t totalLength = 0;
  while (Clock::now() - start < std::chrono::seconds(1)) {
    for (int round = 0; round < 100; ++round) {
      for (const std::string& key : keys) {
        totalLength += MessageText(file, key, {"C:\\WINDOWS\\dp_tavi\\", 3}).size();
        ++lookups;
      }
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double rate = static_cast<double>(lookups) / seconds;
  fs::remove(copy, error);

  std::printf("%zu lookups in %.3f s: %.0f lookups per second (%zu bytes of text)\n", lookups, seconds, rate,
              totalLength);
  const bool met = rate >= 500000.0;
  std::printf("target 500000 per second: %s\n", met ? "met" : "NOT met");
  return met ? 0 : 1;
}
