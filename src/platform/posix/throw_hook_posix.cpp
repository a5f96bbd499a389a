// Interposes the C++ runtime's throw function: the program's own definition of __cxa_throw
// is found before the runtime's, captures the stack and hands it to the callback, then
// forwards to the next definition (the sanitizer's or the runtime's).
#include "platform/throw_hook.h"

#include <dlfcn.h>

#include <boost/stacktrace.hpp>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

namespace {

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));

CxaThrow NextThrow() {
  static CxaThrow next = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
  return next;
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

}  // namespace

namespace platform::throw_hook_detail {

[[gnu::noinline]] std::vector<std::string> CaptureStack() {
  std::vector<std::string> frames;
  boost::stacktrace::stacktrace stack(3, 64);  // skip this function, Report and the hook
  for (const auto& frame : stack) frames.push_back(DescribeAddress(frame.address(), frame.name()));
  return frames;
}

}  // namespace platform::throw_hook_detail

namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
  platform::throw_hook_detail::Report(object, type);
  NextThrow()(object, type, destructor);
  std::abort();  // the runtime's throw never returns
}
}  // namespace __cxxabiv1
