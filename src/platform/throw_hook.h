// Sees every C++ exception of the process at the moment it is thrown, caught or not,
// with the call stack of the throw.
#pragma once

#include <string>
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

}  // namespace platform
