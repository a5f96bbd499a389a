// Applies the program's languages one after the other, as a person pressing "Apply translation"
// on the Home Page would, again and again: the workload bench/crash_kill.sh kills at random
// moments to check that the configuration file survives. It runs the program's own code on a
// program folder (its configuration, language files and working folder), without a window.
//
// Usage: language_change_loop <program folder> [times]   (times 0 or missing: until killed)
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/main_form.h"

namespace {

class SilentUi : public UiPort {
 public:
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  void ShowInfo(const std::string&, const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
  std::optional<std::string> OpenFile(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::optional<std::string> SaveFile(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  void ProcessMessages() override {}
  void SetBusyCursor(bool) override {}
  bool OpenUrl(const std::string&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <program folder> [times]\n", argv[0]);
    return 2;
  }
  std::string folder = argv[1];
  if (folder.back() != '/') folder += '/';
  const long times = argc > 2 ? std::atol(argv[2]) : 0;
  SilentUi ui;
  TMainfrm main(ui, AppEnvironment{folder + "Velmora_TAVI", {}});
  main.FormCreate();
  const std::size_t languages = main.Form().Items("LanguageNameTntComboBox").size();
  if (languages == 0) {
    std::fprintf(stderr, "no language files in %slng\n", folder.c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (long i = 0; times == 0 || i < times; ++i) {
    main.Form().SetItemIndex("LanguageNameTntComboBox",
                             static_cast<int>(static_cast<std::size_t>(i) % languages));
    main.LanguageNameTntComboBoxChange();
    main.TranslateTntButtonClick();
  }
  return 0;
}
