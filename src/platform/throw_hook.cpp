// What the throw hooks of both platforms share: the callback, the description of the thrown
// object, and the guard against a report that throws itself.
#include "platform/throw_hook.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <exception>

namespace {

std::atomic<platform::ThrowCallback> g_callback{nullptr};
thread_local bool t_inHook = false;

}  // namespace

namespace platform {

void SetThrowCallback(ThrowCallback callback) { g_callback.store(callback); }

namespace throw_hook_detail {

std::string Demangle(const char* name) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string result = (status == 0 && demangled != nullptr) ? demangled : name;
  std::free(demangled);
  return result;
}

// Not inlined, so the variants' stack capture knows how many frames to leave out.
[[gnu::noinline]] void Report(void* object, std::type_info* type) {
  ThrowCallback callback = g_callback.load();
  if (callback == nullptr || t_inHook) return;
  t_inHook = true;
  try {
    ThrowInfo info;
    void* adjusted = object;
    // Is the thrown type a std::exception? Ask the runtime the same question a catch clause asks.
    if (typeid(std::exception).__do_catch(type, &adjusted, 1)) {
      info.message = static_cast<std::exception*>(adjusted)->what();
    } else {
      info.message = "exception of type " + Demangle(type->name());
    }
    info.frames = CaptureStack();
    if (!info.frames.empty()) info.location = info.frames.front();
    callback(info);
  } catch (...) {
    // A failing report never disturbs the throw it reports.
  }
  t_inHook = false;
}

}  // namespace throw_hook_detail
}  // namespace platform
