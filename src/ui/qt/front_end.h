// The Qt front end of one main window: renders the main window and every progress window,
// routes their events to the window's handlers, runs start-up, activation and the end.
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "ui/qt/form_renderer.h"

class TMainfrm;
class QtUiPort;

class FrontEnd : public QObject {
  Q_OBJECT
 public:
  // `dialogs`: the Qt dialogs the main window uses (told about the window and about
  // unattended runs); nullptr when the window talks to another UiPort (tests).
  FrontEnd(TMainfrm& main, QtUiPort* dialogs);
  ~FrontEnd() override;

  FormRenderer& MainRenderer() { return *main_; }
  // One renderer per progress window, oldest first.
  const std::vector<std::unique_ptr<FormRenderer>>& WaitRenderers() const { return waits_; }

  // Runs FormCreate, shows the main window and arranges the first activation. With
  // VELMORA_EXIT_AFTER_SHOW=1 the program reports its start-up time and quits instead;
  // with VELMORA_SCREENSHOT_DIR it saves a picture of every page and quits.
  void Start();
  // After the event loop: the window's end (FormDestroy).
  void Finish();

  // Saves "page-<index>.png" for every page with a tab and "waitfrm.png" for the progress
  // window into `folder`; false when a picture could not be written.
  bool SaveScreenshots(const std::string& folder);

  // Milliseconds since the process started.
  static long long MillisecondsSinceStart();

 private:
  void AddWaitRenderer(FormModel& form);

  TMainfrm& mainForm_;
  QtUiPort* dialogs_;
  std::unique_ptr<FormRenderer> main_;
  std::vector<std::unique_ptr<FormRenderer>> waits_;
  bool finished_ = false;
};
