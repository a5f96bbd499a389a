// The dialogs port: file dialog filters, question boxes with the program's answer texts, and
// an unattended run that never waits on a box.
#include "ui/win32/win32_ui_port.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "ui/win32/win32_text.h"

namespace {

using win32ui::Win32UiPort;

TEST(Win32UiPort, FiltersBecomeTheDialogsZeroSeparatedList) {
  using namespace std::string_literals;
  struct Case {
    const char* filter;
    std::wstring expected;
  };
  const Case cases[] = {
      {"7z files|*.7z|", L"7z files\0*.7z\0\0"s},
      {"Text file|*.txt|XML|*.xml;*.XML|", L"Text file\0*.txt\0XML\0*.xml;*.XML\0\0"s},
      {"|*.log|", L"*.log\0*.log\0\0"s},  // no description: the patterns stand for it
      {"Broken|", L"\0"s},                // a description without patterns is left out
      {"", L"\0"s},
      {"Gr\xc3\xb6\xc3\x9f"
       "e|*.g|",
       L"Gr\u00f6\u00dfe\0*.g\0\0"s},  // UTF-8 texts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Win32UiPort::ConvertFilter(c.filter), c.expected) << c.filter;
  }
}

// Answers the question box that is open: reads its buttons, then presses No.
std::wstring yesSeen, noSeen;
void CALLBACK AnswerNo(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(L"#32770", nullptr);
  if (box == nullptr) return;
  KillTimer(nullptr, timer);
  wchar_t text[64] = {};
  GetDlgItemTextW(box, IDYES, text, 64);
  yesSeen = text;
  GetDlgItemTextW(box, IDNO, text, 64);
  noSeen = text;
  PostMessageW(box, WM_COMMAND, IDNO, 0);
}

TEST(Win32UiPort, QuestionBoxesTakeTheProgramsAnswerTexts) {
  Win32UiPort ui;
  ui.SetAnswerTexts("Ja", "Nein & Abbruch");
  SetTimer(nullptr, 0, 50, &AnswerNo);
  EXPECT_FALSE(ui.AskYesNo("Rebuild the index?", "Velmora"));
  EXPECT_EQ(yesSeen, L"Ja");
  EXPECT_EQ(noSeen, L"Nein && Abbruch");  // shown as it is, not as an accelerator mark
}

// Closes the box that is open, noting that there was one.
bool boxClosed = false;
void CALLBACK CloseBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(L"#32770", nullptr);
  if (box == nullptr) return;
  KillTimer(nullptr, timer);
  boxClosed = true;
  PostMessageW(box, WM_CLOSE, 0, 0);
}

TEST(Win32UiPort, AnUnattendedRunNeverWaitsOnAnErrorBox) {
  Win32UiPort ui;
  ui.SetUnattended(true);
  boxClosed = false;
  // A box would block until closed: the timer closes it, so the test ends either way, and says
  // whether there was one to close.
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, &CloseBox);
  ui.ShowError("Archive not found");
  KillTimer(nullptr, timer);
  EXPECT_FALSE(boxClosed);
  EXPECT_EQ(FindWindowW(L"#32770", nullptr), nullptr);
}

TEST(Win32UiPort, TheBusyCursorIsOnUntilSwitchedOff) {
  Win32UiPort ui;
  ui.SetBusyCursor(true);
  EXPECT_TRUE(win32ui::BusyCursorOn());
  ui.SetBusyCursor(true);
  ui.SetBusyCursor(false);
  EXPECT_FALSE(win32ui::BusyCursorOn());
}

}  // namespace
