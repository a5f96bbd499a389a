// Saving the log to a file the person chooses.
#include "app/log_save.h"
#include "app/main_form.h"
#include "platform/files.h"
#include "shared/shared_functions.h"

void TMainfrm::SaveLogbtnClick() {
  auto chosen = ui_.SaveFile("Text file|*.txt|", platform::CurrentDirectory(), LogzTimeAndDate(1));
  if (!chosen) {
    ShowInfo(Msg("msg9"));
    return;
  }
  const std::string target = *chosen + "- Velmora_TAVI ApplicationLog" + ".txt";
  LogKey("log92", {target});
  SaveLinesUtf16(target, form_.Lines("LogLbx"));
  const std::string saved = Msg("log60", {target});
  Log(saved);
  ShowMessage(saved);
}
