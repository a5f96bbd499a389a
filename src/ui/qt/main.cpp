// Velmora_TAVI: the program. Starts error tracking, the Qt application, the main window and
// its progress window, and runs the event loop until the main window closes.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/error_report.h"
#include "app/front_end_common.h"
#include "app/main_form.h"
#include "platform/files.h"
#include "ui/qt/front_end.h"
#include "ui/qt/look.h"
#include "ui/qt/qt_ui_port.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  ErrorReport::Install();

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const bool switchRun = IsSwitchRun(args);
  const std::string unknown = UnknownSwitchLine(args);
  if (!unknown.empty()) {
    std::fprintf(stderr, "%s\n", unknown.c_str());
    return 2;
  }
  if (!HasDisplay()) {
    if (!switchRun) {
      std::fprintf(stderr,
                   "Velmora_TAVI: no display (DISPLAY is not set). Start it on a desktop, under xvfb-run, "
                   "or with /untd, /unth or /inir, which run without one.\n");
      return 2;
    }
    // A switch run on a machine without a display works in an offscreen window.
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }

  QApplication app(argc, argv);
  look::ApplyToApplication(app);

  QtUiPort ui;
  TMainfrm mainForm(ui, AppEnvironment{platform::ProgramFilePath(), args});
  FrontEnd frontEnd(mainForm, &ui);
  frontEnd.Start();
  const int code = QApplication::exec();
  frontEnd.Finish();
  return ProgramExitStatus(args, code, mainForm.ExitStatus());
}
