// The error report `DP_TAVI_Error.log` in the working folder: every C++ exception raised in
// the process, handled or not, is appended with its call stack at the moment it is thrown.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "platform/throw_hook.h"

namespace ErrorReport {

inline constexpr const char* kFileName = "DP_TAVI_Error.log";

// Switches the tracking on: from now on every throw produces one entry.
void Install();
void Uninstall();
// The working folder (ending with a separator). Entries raised before a folder is known are
// kept in memory and written as soon as it is set.
void SetFolder(const std::string& folder);
// One entry as written to the file, lines ending in CR LF.
std::string BuildEntry(const platform::ThrowInfo& info, const std::tm& when);
// How many entries were made since the program started (written or still kept in memory).
std::size_t EntryCount();
// Appends one entry; every failure is swallowed.
void WriteDebugLog(const platform::ThrowInfo& info);

}  // namespace ErrorReport
