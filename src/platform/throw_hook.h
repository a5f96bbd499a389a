// Sees every C++ exception of the process at the moment it is thrown, caught or not,
// with the call stack of the throw.
#pragma once

#include <string>
#include <typeinfo>
#include <vector>

namespace platform {

struct ThrowInfo {
  std::string message;             // what() of a std::exception, otherwise the type's name
  std::string location;            // the code address of the throw, described in one line
  std::vector<std::string> frames; // innermost first; empty when no stack was captured
};

using ThrowCallback = void (*)(const ThrowInfo&);

// Installs the callback (null removes it). The callback must not throw.
void SetThrowCallback(ThrowCallback callback);

namespace throw_hook_detail {
// throw_hook.cpp: hands the thrown object to the callback, with the stack of the code that threw;
// called by each variant's hook on the throw function, before the throw goes on.
void Report(void* object, std::type_info* type);
// The readable name of a mangled C++ name; the name itself when it cannot be read.
std::string Demangle(const char* name);
// Each variant (throw_hook_posix.cpp, throw_hook_win32.cpp): the frames of the code that called
// Report, innermost first, each described in one line; the hook, Report and this function left out.
std::vector<std::string> CaptureStack();
}  // namespace throw_hook_detail

}  // namespace platform
