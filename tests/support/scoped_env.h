// Sets an environment variable for the life of the object and puts the old state back after.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <string>

// Setting and removing a variable: setenv/unsetenv on Linux, _putenv_s on Windows (an empty value
// removes the variable there).
inline void SetEnvVar(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  ::setenv(name, value.c_str(), 1);
#endif
}
inline void UnsetEnvVar(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  ::unsetenv(name);
#endif
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    SetEnvVar(name, value);
  }
  ~ScopedEnv() {
    if (old_) {
      SetEnvVar(name_, *old_);
    } else {
      UnsetEnvVar(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};
