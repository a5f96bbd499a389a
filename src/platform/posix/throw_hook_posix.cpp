// Interposes the C++ runtime's throw function: the program's own definition of __cxa_throw
// is found before the runtime's, captures the stack and hands it to the callback, then
// forwards to the next definition (the sanitizer's or the runtime's).
#include "platform/throw_hook.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <atomic>
#include <boost/stacktrace.hpp>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>

namespace {

std::atomic<platform::ThrowCallback> g_callback{nullptr};
thread_local bool t_inHook = false;

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));

CxaThrow NextThrow() {
  static CxaThrow next = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
  return next;
}

std::string Demangle(const char* name) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string result = (status == 0 && demangled != nullptr) ? demangled : name;
  std::free(demangled);
  return result;
}

std::string DescribeAddress(const void* address, const std::string& function) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "[%p]", address);
  std::string text = buffer;
  Dl_info info{};
  if (dladdr(address, &info) != 0 && info.dli_fname != nullptr) {
    text += " ";
    text += info.dli_fname;
    if (info.dli_fbase != nullptr) {
      std::snprintf(buffer, sizeof buffer, " +0x%tx",
                    static_cast<const char*>(address) - static_cast<const char*>(info.dli_fbase));
      text += buffer;
    }
  }
  if (!function.empty()) text += " " + function;
  return text;
}

void Report(void* object, std::type_info* type) {
  platform::ThrowCallback callback = g_callback.load();
  if (callback == nullptr || t_inHook) return;
  t_inHook = true;
  try {
    platform::ThrowInfo info;
    void* adjusted = object;
    // Is the thrown type a std::exception? Ask the runtime the same question a catch clause asks.
    if (typeid(std::exception).__do_catch(type, &adjusted, 1)) {
      info.message = static_cast<std::exception*>(adjusted)->what();
    } else {
      info.message = "exception of type " + Demangle(type->name());
    }
    boost::stacktrace::stacktrace stack(2, 64);  // skip this function and the hook
    for (const auto& frame : stack) {
      info.frames.push_back(DescribeAddress(frame.address(), frame.name()));
    }
    if (!info.frames.empty()) info.location = info.frames.front();
    callback(info);
  } catch (...) {
    // A failing report never disturbs the throw it reports.
  }
  t_inHook = false;
}

}  // namespace

namespace platform {
void SetThrowCallback(ThrowCallback callback) { g_callback.store(callback); }
}  // namespace platform

namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
  Report(object, type);
  NextThrow()(object, type, destructor);
  std::abort();  // the runtime's throw never returns
}
}  // namespace __cxxabiv1
