#include "ui/win32/win32_ui_port.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/main_form.h"
#include "platform/files.h"
#include "ui/win32/win32_text.h"

namespace win32ui {

namespace {

// The texts the next question box's Yes and No buttons get, set by a hook while it opens.
const std::wstring* pendingYes = nullptr;
const std::wstring* pendingNo = nullptr;
HHOOK answerHook = nullptr;

LRESULT CALLBACK RenameAnswers(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    if (pendingYes != nullptr && !pendingYes->empty()) SetDlgItemTextW(box, IDYES, pendingYes->c_str());
    if (pendingNo != nullptr && !pendingNo->empty()) SetDlgItemTextW(box, IDNO, pendingNo->c_str());
  }
  return CallNextHookEx(answerHook, code, wParam, lParam);
}

// Paths go to the core's file functions, which take the ANSI code page.
std::string PathFromDialog(const wchar_t* path) { return Narrow(path, CP_ACP); }

}  // namespace

Win32UiPort::~Win32UiPort() {
  if (busy_) SetBusyCursorOn(false);
}

bool Win32UiPort::AskYesNo(const std::string& text, const std::string& caption) {
  pendingYes = &yesText_;
  pendingNo = &noText_;
  answerHook = SetWindowsHookExW(WH_CBT, &RenameAnswers, nullptr, GetCurrentThreadId());
  const int answer = MessageBoxW(mainWindow_, Widen(text).c_str(), Widen(caption).c_str(),
                                 MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (answerHook != nullptr) UnhookWindowsHookEx(answerHook);
  answerHook = nullptr;
  pendingYes = pendingNo = nullptr;
  return answer == IDYES;
}

void Win32UiPort::SetAnswerTexts(const std::string& yes, const std::string& no) {
  yesText_ = LiteralText(yes);
  noText_ = LiteralText(no);
}

void Win32UiPort::ShowInfo(const std::string& text, const std::string& caption) {
  MessageBoxW(mainWindow_, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | MB_ICONINFORMATION);
}

void Win32UiPort::ShowMessage(const std::string& text) {
  MessageBoxW(mainWindow_, Widen(text).c_str(), Widen(kApplicationTitle).c_str(), MB_OK);
}

void Win32UiPort::ShowError(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kApplicationTitle, text.c_str());
  std::fflush(stderr);
  if (unattended_) return;
  MessageBoxW(mainWindow_, Widen(text).c_str(), Widen(kApplicationTitle).c_str(), MB_OK | MB_ICONERROR);
}

std::wstring Win32UiPort::ConvertFilter(const std::string& filter) {
  std::wstring converted;
  std::vector<std::wstring> parts;
  std::wstring part;
  for (wchar_t c : Widen(filter)) {
    if (c == L'|') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i + 1].empty()) continue;
    converted += (parts[i].empty() ? parts[i + 1] : parts[i]) + L'\0' + parts[i + 1] + L'\0';
  }
  converted += L'\0';
  return converted;
}

std::optional<std::string> Win32UiPort::OpenFile(const std::string& title, const std::string& filter,
                                                 const std::string& initialDir) {
  std::vector<wchar_t> path(32768, L'\0');
  const std::wstring filters = ConvertFilter(filter);
  const std::wstring caption = Widen(title);
  const std::wstring folder = Widen(platform::NativePath(initialDir), CP_ACP);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = mainWindow_;
  dialog.lpstrFilter = filters.size() > 1 ? filters.c_str() : nullptr;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrTitle = caption.empty() ? nullptr : caption.c_str();
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return PathFromDialog(path.data());
}

std::optional<std::string> Win32UiPort::SaveFile(const std::string& filter, const std::string& initialDir,
                                                 const std::string& proposedName) {
  std::vector<wchar_t> path(32768, L'\0');
  const std::wstring proposed = Widen(proposedName, CP_ACP);
  std::copy(proposed.begin(),
            proposed.begin() + static_cast<std::ptrdiff_t>(std::min(proposed.size(), path.size() - 1)),
            path.begin());
  const std::wstring filters = ConvertFilter(filter);
  const std::wstring folder = Widen(platform::NativePath(initialDir), CP_ACP);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = mainWindow_;
  dialog.lpstrFilter = filters.size() > 1 ? filters.c_str() : nullptr;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
  if (!GetSaveFileNameW(&dialog)) return std::nullopt;
  return PathFromDialog(path.data());
}

void Win32UiPort::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The loop that owns the program's end must still see it.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (mainWindow_ != nullptr && IsDialogMessageW(mainWindow_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Win32UiPort::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  SetBusyCursorOn(busy);
  SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(busy ? IDC_WAIT : IDC_ARROW)));
}

bool Win32UiPort::OpenUrl(const std::string& url) {
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(mainWindow_, L"open", Widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void Win32UiPort::CloseMainWindow() {
  if (mainWindow_ != nullptr) PostMessageW(mainWindow_, WM_CLOSE, 0, 0);
}

}  // namespace win32ui
