// Which controls a language file names and how, and the captions they get from it.
#include "lang/form_translation.h"

namespace {

constexpr const char* kNoComments = "No Comments";

}  // namespace

std::vector<TranslatableKind> TranslatableKinds(ControlKind kind) {
  switch (kind) {
    case ControlKind::ListBox: return {{"HINTS", false, true}};
    case ControlKind::Label:
    case ControlKind::LinkLabel: return {{"Labels", true, false}};
    case ControlKind::Button: return {{"Buttons", true, false}};
    case ControlKind::Form:
    case ControlKind::SpeedButton:
    case ControlKind::ArrowButton:
      return {{nullptr, true, false}};
    case ControlKind::TabSheet: return {{"Sheets", true, false}};
    case ControlKind::ComboBox: return {{"ComboBoxies", true, false}};
    case ControlKind::GroupBox: return {{"GroupBoxies", true, false}};
    case ControlKind::MenuItem: return {{"MenuItems", true, false}};
    case ControlKind::Edit: return {{"Edits", true, false}};
    default: return {};
  }
}

bool CaptionHasAccelerators(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
    case ControlKind::LinkLabel:
    case ControlKind::Button:
    case ControlKind::SpeedButton:
    case ControlKind::ArrowButton:
    case ControlKind::TabSheet:
    case ControlKind::GroupBox:
    case ControlKind::MenuItem:
      return true;
    default:
      return false;
  }
}

std::string ShownCaption(const std::string& marked) {
  std::string shown;
  shown.reserve(marked.size());
  for (std::size_t i = 0; i < marked.size(); ++i) {
    if (marked[i] != '&') {
      shown.push_back(marked[i]);
    } else if (i + 1 < marked.size() && marked[i + 1] == '&') {
      shown.push_back('&');
      ++i;
    }
  }
  return shown;
}

std::string MarkedCaption(const std::string& shown) {
  std::string marked;
  marked.reserve(shown.size());
  for (char c : shown) {
    if (c == '&') marked.push_back('&');
    marked.push_back(c);
  }
  return marked;
}

void TranslateFormComponents(const std::vector<FormModel*>& forms, const TextSource& texts) {
  for (FormModel* form : forms) {
    std::vector<const Control*> controls = form->Controls();
    for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
      const Control& c = **it;
      if (c.name.empty()) continue;
      std::vector<TranslatableKind> kinds = TranslatableKinds(c.kind);
      if (kinds.empty()) continue;
      std::string caption = texts.Find("Mainfrm", c.name).value_or(kNoComments);
      if (caption == kNoComments) continue;
      if (CaptionHasAccelerators(c.kind)) caption = ShownCaption(caption);
      std::string hint = texts.Find("Mainfrm", c.name + "Hnt").value_or(kNoComments);
      for (const TranslatableKind& k : kinds) {
        if (k.setsCaption) form->SetCaption(c.name, caption);
        form->SetHint(c.name, hint);
      }
    }
  }
}
