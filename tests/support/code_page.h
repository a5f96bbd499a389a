// What the case folding of the file searchers folds on this platform.
#pragma once

// Windows folds the letters of the ANSI code page (the test run pins code page 1252, where
// 0xC4 is the capital of 0xE4); Linux folds ASCII letters only.
#ifdef _WIN32
constexpr bool kFoldsCodePage = true;
#else
constexpr bool kFoldsCodePage = false;
#endif
