#include <atomic>
#include "app/error_report.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "base/text_util.h"
#include "platform/files.h"

namespace ErrorReport {
namespace {

std::mutex g_mutex;
std::string g_folder;
std::string g_pending;  // entries raised before the working folder was known, or not yet written

// Appends `text` whole or not at all: when a write fails (a full disk) the file is cut back to
// what it held before, and a file this call created is removed, so no entry is ever half there
// and no empty report is left. False when the text could not be written.
bool AppendToFile(const std::string& folder, const std::string& text) {
  const std::string native = platform::NativePath(folder + kFileName);
  const std::filesystem::path path(native);
  std::error_code error;
  const bool existed = std::filesystem::exists(path, error);
  const std::uintmax_t before = existed ? std::filesystem::file_size(path, error) : 0;
  if (error) return false;
  std::FILE* f = std::fopen(native.c_str(), "ab");
  if (f == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  if (written && closed) return true;
  if (existed) {
    std::filesystem::resize_file(path, before, error);
  } else {
    std::filesystem::remove(path, error);
  }
  return false;
}

std::atomic<std::size_t> g_entries{0};

void OnThrow(const platform::ThrowInfo& info) { WriteDebugLog(info); }

}  // namespace

void Install() { platform::SetThrowCallback(&OnThrow); }
void Uninstall() { platform::SetThrowCallback(nullptr); }

void SetFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_folder = folder;
  if (!g_folder.empty() && !g_pending.empty() && platform::DirectoryExists(g_folder) &&
      AppendToFile(g_folder, g_pending)) {
    g_pending.clear();
  }
}

std::string BuildEntry(const platform::ThrowInfo& info, const std::tm& when) {
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%d.%m.%Y %H:%M:%S", &when);
  std::string entry = "An exception raised at ";
  entry += stamp;
  entry += "\r\n" + info.message + "\r\n" + info.location + "\r\n\r\nCall stack:\r\n";
  if (info.frames.empty()) {
    entry += "  [NOT AVAILABLE]\r\n";
  } else {
    for (const std::string& frame : info.frames) entry += "  " + frame + "\r\n";
  }
  entry += "\r\n";
  return entry;
}

std::size_t EntryCount() { return g_entries.load(); }

void WriteDebugLog(const platform::ThrowInfo& info) {
  g_entries.fetch_add(1);
  try {
    std::string entry = BuildEntry(info, LocalNow());
    std::lock_guard<std::mutex> lock(g_mutex);
    // An entry that cannot be written yet (no folder, a full disk) waits, and goes with the next.
    if (g_pending.size() < (1u << 20)) g_pending += entry;
    if (!g_folder.empty() && platform::DirectoryExists(g_folder) && AppendToFile(g_folder, g_pending)) {
      g_pending.clear();
    }
  } catch (...) {
    // The report never disturbs the operation that raised the exception.
  }
}

}  // namespace ErrorReport
