// The language page's handlers: listing the language files, choosing one, applying it to every
// window, and writing the inventory of the translatable controls.
#include "app/main_form.h"
#include "base/text_util.h"
#include "lang/form_translation.h"
#include "platform/files.h"
#include "platform/ini_text.h"
#include "platform/profile.h"
#include "shared/shared_functions.h"

void TMainfrm::EnumLanguagesTntButtonClick() {
  form_.ClearItems("LanguageNameTntComboBox");
  form_.ClearItems("LanguageTntComboBox");
  const std::string lngFolder = ProgramFolder() + "lng" + Sep();
  std::vector<std::string> names;
  std::vector<std::string> paths;
  for (const platform::DirEntry& e : platform::ListDirectory(lngFolder, "*.lng")) {
    if (e.isDirectory || e.hidden || e.system) continue;
    const std::string path = lngFolder + e.name;
    names.push_back(platform::profile::ReadString(path, "About", "TranslateLangName",
                                                  "Error reading TranslateLangName param"));
    paths.push_back(path);
  }
  form_.SetItems("LanguageNameTntComboBox", std::move(names));
  form_.SetItems("LanguageTntComboBox", std::move(paths));

  SetCaption("LangFileLabel", StartLanguageFile());
  ShowLanguageInUse();
}

std::string TMainfrm::StartLanguageFile() const {
  // Before the configuration file is placed by drive type, the program folder's file counts.
  const ConfigFile config(config_.IsBound() ? config_.path() : ProgramFolder() + "dp_tavi.ini");
  const std::string change =
      config.ReadString("Program", "LanguageChange", "Can\"t read LanguageChange param");
  // Any other value (also a missing key on the very first start) keeps the English file, so
  // the first messages of a fresh start read as text instead of as missing translations.
  if (UpperCase(change) != "YES") return EnglishLanguageFile();
  const std::string file = config.ReadString("Program", "LanguageFile", "Can\"t read LanguageFile param");
  // A program moved to another folder (a stick under another drive letter) still finds its
  // language in its own language folder.
  const std::string own = ProgramFolder() + "lng" + Sep() + platform::ExtractFileName(file);
  if (!platform::FileExists(file) && platform::FileExists(own)) return own;
  return file;
}

void TMainfrm::ShowLanguageInUse() {
  std::string inUse = Caption("LangFileLabel");
  if (CheckLanguageFile(inUse) != LanguageFileState::Usable) inUse = EnglishLanguageFile();
  const std::vector<std::string>& paths = form_.Items("LanguageTntComboBox");
  const std::vector<std::string>& names = form_.Items("LanguageNameTntComboBox");
  int index = -1;
  for (std::size_t i = 0; i < paths.size() && i < names.size(); ++i) {
    if (paths[i] == inUse) index = static_cast<int>(i);
  }
  const auto at = static_cast<std::size_t>(index);
  form_.SetItemIndex("LanguageNameTntComboBox", index);
  form_.SetItemIndex("LanguageTntComboBox", index);
  form_.SetCaption("LanguageNameTntComboBox", index >= 0 ? names[at] : std::string());
  form_.SetCaption("LanguageTntComboBox", index >= 0 ? paths[at] : std::string());
}

void TMainfrm::LanguageNameTntComboBoxChange() {
  const int index = form_.ItemIndex("LanguageNameTntComboBox");
  form_.SetItemIndex("LanguageTntComboBox", index);
  const auto& paths = form_.Items("LanguageTntComboBox");
  if (index < 0 || index >= static_cast<int>(paths.size())) return;
  form_.SetCaption("LanguageTntComboBox", paths[static_cast<std::size_t>(index)]);
  SetCaption("LangFileLabel", paths[static_cast<std::size_t>(index)]);
}

void TMainfrm::TranslateTntButtonClick() {
  config_.Rebind(Caption("IniLocationlbl"));
  // A language a person applies is also the language of the next start.
  config_.WriteString("Program", "LanguageChange", "YES");
  ApplyLanguage();
}

void TMainfrm::ApplyLanguage() {
  const std::string langFile = Caption("LangFileLabel");
  config_.WriteString("Program", "LanguageFile", langFile);
  const std::string english = EnglishLanguageFile();
  // The texts come from the first usable file of the chosen one and the English one.
  for (const std::string& file : {langFile, english}) {
    const LanguageFileState state = CheckLanguageFile(file);
    if (state == LanguageFileState::Usable) break;
    LogKey(state == LanguageFileState::Unreadable ? "log86" : "log87", {file});
    if (file == english) break;
  }
  // A select link that shows its second text goes on showing it, in the new language.
  std::vector<std::string> clearing;
  for (const char* link : {"PackNameLbl", "HWIDSlabel"}) {
    if (Caption(link) == RemoveSelectionText()) clearing.emplace_back(link);
  }
  shownTexts_ = Texts();
  TranslateFormComponents(Forms(), shownTexts_);
  for (const std::string& link : clearing) SetCaption(link, RemoveSelectionText());
  ui_.SetAnswerTexts(shownTexts_.Message("log89"), shownTexts_.Message("log90"));
  LoadAboutText();
  ShowLanguageInUse();
  LogKey("log70", {langFile});
}

void TMainfrm::EnumControlsButtonClick() {
  const std::string path = Caption("Workdir") + "ListOfComponents.ini";
  if (platform::FileExists(path)) WipeFile(path);
  const std::string date = FormatNow("%d.%m.%Y");
  // Built in memory and written once: the inventory of both windows is a few hundred keys.
  platform::IniDocument inventory;
  inventory.Set("Mainfrm", "Creation Date", date);
  for (FormModel* form : Forms()) {
    std::vector<const Control*> controls = form->Controls();
    for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
      const Control& c = **it;
      for (const TranslatableKind& k : TranslatableKinds(c.kind)) {
        if (k.section == nullptr) continue;
        if (!k.hintOnly) {
          inventory.Set(k.section, c.name,
                        CaptionHasAccelerators(c.kind) ? MarkedCaption(c.caption) : c.caption);
        }
        inventory.Set("HINTS", c.name + "Hnt", c.hint);
      }
    }
  }
  platform::WriteFileAtomically(path, inventory.ToText());
}
