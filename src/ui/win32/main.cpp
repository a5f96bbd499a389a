// Velmora_TAVI.exe: the program on Windows. Starts error tracking, the main window and its
// progress window, and runs the message loop until the main window closes.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/error_report.h"
#include "app/front_end_common.h"
#include "app/main_form.h"
#include "platform/files.h"
#include "ui/win32/win32_front_end.h"
#include "ui/win32/win32_ui_port.h"

int main(int argc, char** argv) {
  ErrorReport::Install();

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const std::string unknown = UnknownSwitchLine(args);
  if (!unknown.empty()) {
    std::fprintf(stderr, "%s\n", unknown.c_str());
    return 2;
  }

  win32ui::RegisterWindowClasses(GetModuleHandleW(nullptr));
  win32ui::Win32UiPort ui;
  TMainfrm mainForm(ui, AppEnvironment{platform::ProgramFilePath(), args});
  win32ui::FrontEnd frontEnd(mainForm, ui);
  frontEnd.Start();
  const int code = frontEnd.Run();
  frontEnd.Finish();
  return ProgramExitStatus(args, code, mainForm.ExitStatus());
}
