// Wraps the C++ runtime's throw function: the core library links with -Wl,--wrap=__cxa_throw,
// so every throw of the program (its own and the runtime's, which is linked in statically) calls
// __wrap___cxa_throw first. That captures the stack of the throw, hands it to the callback and
// goes on to the runtime's own function, __real___cxa_throw.
#include <windows.h>
// After windows.h, which it builds on.
#include <dbghelp.h>

#include <cstdio>
#include <mutex>

#include "platform/throw_hook.h"

namespace {

// The symbol engine of dbghelp, started on the first use; its functions must not run on two
// threads at once. It finds names where the program carries symbols (Wine's also reads the
// debugging information MinGW writes).
std::mutex g_symbolMutex;

std::string SymbolName(const void* address) {
  std::lock_guard<std::mutex> lock(g_symbolMutex);
  static const bool ready = [] {
    SymSetOptions(SymGetOptions() | SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS);
    return SymInitialize(GetCurrentProcess(), nullptr, TRUE) != FALSE;
  }();
  if (!ready) return {};
  alignas(SYMBOL_INFO) char buffer[sizeof(SYMBOL_INFO) + 256];
  auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
  symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
  symbol->MaxNameLen = 255;
  DWORD64 displacement = 0;
  if (!SymFromAddr(GetCurrentProcess(), reinterpret_cast<DWORD64>(address), &displacement, symbol)) return {};
  std::string name = platform::throw_hook_detail::Demangle(symbol->Name);
  char offset[32];
  std::snprintf(offset, sizeof offset, " +0x%llx", static_cast<unsigned long long>(displacement));
  return name + offset;
}

// "[address] module +0xoffset function +0xoffset", as far as each part is known.
std::string DescribeAddress(const void* address) {
  char buffer[MAX_PATH + 64];
  std::snprintf(buffer, sizeof buffer, "[%p]", address);
  std::string text = buffer;
  HMODULE module = nullptr;
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module)) {
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length > 0 && length <= MAX_PATH) {
      text += " ";
      text.append(path, length);
      std::snprintf(buffer, sizeof buffer, " +0x%tx",
                    static_cast<const char*>(address) - reinterpret_cast<const char*>(module));
      text += buffer;
    }
  }
  const std::string name = SymbolName(address);
  if (!name.empty()) text += " " + name;
  return text;
}

}  // namespace

namespace platform::throw_hook_detail {

[[gnu::noinline]] std::vector<std::string> CaptureStack() {
  std::vector<std::string> described;
  void* frames[64];
  // Skips this function, Report and the wrapper: the first frame is the code that threw.
  const USHORT count = RtlCaptureStackBackTrace(3, 64, frames, nullptr);
  for (USHORT i = 0; i < count; ++i) described.push_back(DescribeAddress(frames[i]));
  return described;
}

}  // namespace platform::throw_hook_detail

// The destructor is only passed on, so its calling convention (thiscall on 32-bit MinGW) does
// not matter here: both declarations take it as the same plain pointer.
extern "C" {
[[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*));
[[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*));

void __wrap___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
  platform::throw_hook_detail::Report(object, type);
  __real___cxa_throw(object, type, destructor);
}
}
