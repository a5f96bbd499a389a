// The operations' only way to reach a person. The Qt front end shows real dialogs;
// tests and unattended runs answer without blocking.
#pragma once

#include <optional>
#include <string>

class UiPort {
 public:
  virtual ~UiPort() = default;
  // Question box with Yes and No and a question icon. True for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
  // The texts of the Yes and No buttons of question boxes, in the program's language.
  virtual void SetAnswerTexts(const std::string& /*yes*/, const std::string& /*no*/) {}
  // Information box with one OK button.
  virtual void ShowInfo(const std::string& text, const std::string& caption) = 0;
  // Plain message dialog with an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // The toolkit's standard error box for an exception that escaped an operation.
  virtual void ShowError(const std::string& text) = 0;
  // Open-file dialog; nothing when cancelled.
  virtual std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                              const std::string& initialDir) = 0;
  // Save-file dialog; nothing when cancelled.
  virtual std::optional<std::string> SaveFile(const std::string& filter, const std::string& initialDir,
                                              const std::string& proposedName) = 0;
  // Lets pending window messages run (repaint, clicks).
  virtual void ProcessMessages() = 0;
  // Hourglass cursor on or off.
  virtual void SetBusyCursor(bool busy) = 0;
  // Hands a web or mail link to the system shell. False when no program could be started for it.
  virtual bool OpenUrl(const std::string& url) = 0;
  // Closes the main window, which ends the program.
  virtual void CloseMainWindow() {}
};
