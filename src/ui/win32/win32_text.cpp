#include "ui/win32/win32_text.h"

namespace win32ui {

namespace {
bool busyCursor = false;
}  // namespace

std::wstring Widen(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    // Not valid in that code page: show the bytes as Latin-1 rather than nothing.
    return std::wstring(text.begin(), text.end());
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                      nullptr);
  return narrow;
}

std::wstring LiteralText(const std::string& caption) {
  std::wstring text;
  for (wchar_t c : Widen(caption)) {
    text += c;
    if (c == L'&') text += L'&';
  }
  return text;
}

std::wstring MenuItemText(const std::string& caption, const std::string& hint) {
  std::wstring text = LiteralText(caption);
  if (!hint.empty() && hint != "No Comments") text += L'\t' + Widen(hint);
  return text;
}

bool BusyCursorOn() { return busyCursor; }
void SetBusyCursorOn(bool on) { busyCursor = on; }

}  // namespace win32ui
