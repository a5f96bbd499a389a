// The Win32 front end of one main window: renders the main window and every progress window,
// routes their events to the window's handlers, runs start-up, activation and the end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/win32/win32_renderer.h"

class TMainfrm;

namespace win32ui {

class Win32UiPort;

class FrontEnd {
 public:
  FrontEnd(TMainfrm& main, Win32UiPort& dialogs);
  ~FrontEnd();
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // Runs FormCreate, shows the main window and arranges the first activation. With
  // VELMORA_SCREENSHOT_DIR set it saves a picture of every page and of the progress window and
  // ends the program instead.
  void Start();
  // Runs the message loop until the main window closes; the loop's exit code.
  int Run();
  // After the message loop: the window's end (FormDestroy).
  void Finish();

  // Saves "page-<index>.bmp" for every page with a tab (and "page-2-simple.bmp" for the second
  // tab of the hardware ID page) and "waitfrm.bmp" for the progress window into `folder`;
  // false when a picture could not be written.
  bool SaveScreenshots(const std::string& folder);

 private:
  void AddWaitRenderer(FormModel& form);

  TMainfrm& mainForm_;
  Win32UiPort& dialogs_;
  std::unique_ptr<FormRenderer> main_;
  std::vector<std::unique_ptr<FormRenderer>> waits_;
  bool finished_ = false;
  bool closing_ = false;
};

}  // namespace win32ui
