#include <atomic>
#include "app/error_report.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "base/text_util.h"
#include "platform/files.h"

namespace ErrorReport {
namespace {

std::mutex g_mutex;
std::string g_folder;
std::string g_pending;  // entries raised before the working folder was known

void AppendToFile(const std::string& folder, const std::string& text) {
  std::string path = platform::NativePath(folder + kFileName);
  if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

std::atomic<std::size_t> g_entries{0};

void OnThrow(const platform::ThrowInfo& info) { WriteDebugLog(info); }

}  // namespace

void Install() { platform::SetThrowCallback(&OnThrow); }
void Uninstall() { platform::SetThrowCallback(nullptr); }

void SetFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_folder = folder;
  if (!g_folder.empty() && !g_pending.empty() && platform::DirectoryExists(g_folder)) {
    AppendToFile(g_folder, g_pending);
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
    if (g_folder.empty() || !platform::DirectoryExists(g_folder)) {
      if (g_pending.size() < (1u << 20)) g_pending += entry;
      return;
    }
    AppendToFile(g_folder, entry);
  } catch (...) {
    // The report never disturbs the operation that raised the exception.
  }
}

}  // namespace ErrorReport
