// Text at the boundary between the core (8-bit, UTF-8 texts) and the "W" functions (UTF-16).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win32ui {

// UTF-8 (or, for paths, the ANSI code page) to UTF-16 and back.
std::wstring Widen(std::string_view text, UINT codePage = CP_UTF8);
std::string Narrow(const std::wstring& text, UINT codePage = CP_UTF8);

// A caption for a control that reads "&" as an accelerator mark (menu items, tabs): every "&"
// doubled, so the caption shows exactly as it is.
std::wstring LiteralText(const std::string& caption);

// A menu item's text: its caption as LiteralText gives it, and after a tab (the column menus
// keep for shortcuts) its hint, so the menu says what each item does.
std::wstring MenuItemText(const std::string& caption, const std::string& hint);

// Whether the busy cursor is on; the windows show it over every control while it is.
bool BusyCursorOn();
void SetBusyCursorOn(bool on);

}  // namespace win32ui
