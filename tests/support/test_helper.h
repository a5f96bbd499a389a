// Where the tests find the purpose-built child program (tests/helpers/velmora_test_helper.cpp).
#pragma once

#include <string>

#ifdef _WIN32
#include "platform/files.h"
#endif

// On Linux the build names it; the Windows test program has it beside itself, so the Windows
// run does not depend on how the build folder's path maps to a drive.
inline std::string TestHelperPath() {
#ifdef _WIN32
  return platform::ExtractFilePath(platform::ProgramFilePath()) + "velmora_test_helper.exe";
#else
  return VELMORA_TEST_HELPER;
#endif
}
