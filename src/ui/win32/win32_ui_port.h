// The operations' way to reach a person, with the Win32 message boxes and common dialogs.
#pragma once

#include <windows.h>

#include <string>

#include "base/ui_port.h"

namespace win32ui {

class Win32UiPort : public UiPort {
 public:
  Win32UiPort() = default;
  ~Win32UiPort() override;

  // The window dialogs belong to and the one CloseMainWindow closes.
  void SetMainWindow(HWND window) { mainWindow_ = window; }
  // During a command-line run nothing may wait on a person: an error then goes to standard
  // error only (the log and the error report have it too), no box is shown.
  void SetUnattended(bool unattended) { unattended_ = unattended; }

  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void SetAnswerTexts(const std::string& yes, const std::string& no) override;
  void ShowInfo(const std::string& text, const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                      const std::string& initialDir) override;
  std::optional<std::string> SaveFile(const std::string& filter, const std::string& initialDir,
                                      const std::string& proposedName) override;
  void ProcessMessages() override;
  void SetBusyCursor(bool busy) override;
  bool OpenUrl(const std::string& url) override;
  void CloseMainWindow() override;

  // A filter in the original toolkit's form, "7z files|*.7z|Text file|*.txt|" (description and
  // patterns alternating), in the common dialogs' form: the same parts each ended by a zero
  // character, the whole ended by a second one.
  static std::wstring ConvertFilter(const std::string& filter);

 private:
  HWND mainWindow_ = nullptr;
  bool unattended_ = false;
  std::wstring yesText_;  // empty: the system's own texts
  std::wstring noText_;
  bool busy_ = false;
};

}  // namespace win32ui
