// The operations' way to reach a person, with Qt dialogs.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "base/ui_port.h"

class QtUiPort : public UiPort {
 public:
  QtUiPort() = default;
  ~QtUiPort() override;

  // The window dialogs belong to and the one CloseMainWindow closes.
  void SetMainWindow(QWidget* window) { mainWindow_ = window; }
  // During a command-line run nothing may wait on a person: error boxes are then shown
  // without blocking (and also written to standard error).
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
  // patterns alternating, patterns separated by ';'), in Qt's form "7z files (*.7z);;Text file (*.txt)".
  static QString ConvertFilter(const std::string& filter);

 private:
  QPointer<QWidget> mainWindow_;
  bool unattended_ = false;
  QString yesText_;  // empty: the toolkit's own texts
  QString noText_;
  bool busy_ = false;
};
