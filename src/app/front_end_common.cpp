#include "app/front_end_common.h"

#include "base/form_model.h"

bool IsCommandLineSwitch(std::string_view arg) { return arg == "/untd" || arg == "/unth" || arg == "/inir"; }

bool IsSwitchRun(const std::vector<std::string>& args) {
  return !args.empty() && IsCommandLineSwitch(args.front());
}

std::string UnknownSwitchLine(const std::vector<std::string>& args) {
  if (args.empty() || IsSwitchRun(args)) return {};
  const std::string& first = args.front();
  if (first.empty() || (first[0] != '/' && first[0] != '-')) return {};
  return "Velmora_TAVI: unknown switch \"" + first +
         "\". The switches are /untd, /unth and /inir, written in small letters.";
}

int ProgramExitStatus(const std::vector<std::string>& args, int loopCode, int runStatus) {
  if (loopCode == 0 && IsSwitchRun(args) && args.front() != "/inir") return runStatus;
  return loopCode;
}

std::vector<std::string> HandlerList(std::string_view text) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    names.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

bool TakeScreenshotTour(FormModel& form, const std::vector<int>& pages, FormModel* waitForm,
                        const std::function<bool(int window, const std::string& name)>& take) {
  bool ok = true;
  const int shownBefore = form.ItemIndex("MainPageControle");
  for (int page : pages) {
    form.SetItemIndex("MainPageControle", page);
    ok = take(0, "page-" + std::to_string(page)) && ok;
  }
  // The HWIDs page has two tabs of its own: the tree view (shown above) and the simple view.
  if (form.Has("HWIDsPageControl")) {
    const int tabBefore = form.ItemIndex("HWIDsPageControl");
    form.SetItemIndex("MainPageControle", 2);
    form.SetItemIndex("HWIDsPageControl", 1);
    ok = take(0, "page-2-simple") && ok;
    form.SetItemIndex("HWIDsPageControl", tabBefore);
  }
  form.SetItemIndex("MainPageControle", shownBefore);
  if (waitForm != nullptr) {
    waitForm->SetVisible(waitForm->name(), true);
    ok = take(1, "waitfrm") && ok;
    waitForm->SetVisible(waitForm->name(), false);
  }
  return ok;
}
