#include "base/form_model.h"

#include <algorithm>

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::Form: return "Form";
    case ControlKind::PageControl: return "PageControl";
    case ControlKind::TabSheet: return "TabSheet";
    case ControlKind::Panel: return "Panel";
    case ControlKind::GroupBox: return "GroupBox";
    case ControlKind::Label: return "Label";
    case ControlKind::LinkLabel: return "LinkLabel";
    case ControlKind::Button: return "Button";
    case ControlKind::SpeedButton: return "SpeedButton";
    case ControlKind::ArrowButton: return "ArrowButton";
    case ControlKind::PopupMenu: return "PopupMenu";
    case ControlKind::MenuItem: return "MenuItem";
    case ControlKind::ListBox: return "ListBox";
    case ControlKind::UnicodeListBox: return "UnicodeListBox";
    case ControlKind::CheckListBox: return "CheckListBox";
    case ControlKind::ComboBox: return "ComboBox";
    case ControlKind::UnicodeComboBox: return "UnicodeComboBox";
    case ControlKind::Edit: return "Edit";
    case ControlKind::Memo: return "Memo";
    case ControlKind::TreeView: return "TreeView";
    case ControlKind::Gauge: return "Gauge";
    case ControlKind::Timer: return "Timer";
    case ControlKind::SaveDialog: return "SaveDialog";
    case ControlKind::OpenDialog: return "OpenDialog";
    case ControlKind::XmlDocument: return "XmlDocument";
  }
  return "?";
}

FormModel::FormModel(std::string formName) : formName_(std::move(formName)) {}

Control& FormModel::Add(Control control) {
  if (control.name.empty() || byName_.count(control.name) != 0) {
    throw std::invalid_argument("control name empty or used twice: " + control.name);
  }
  controls_.push_back(std::make_unique<Control>(std::move(control)));
  Control& added = *controls_.back();
  byName_.emplace(added.name, &added);
  return added;
}

bool FormModel::Has(std::string_view name) const { return byName_.find(name) != byName_.end(); }

const Control& FormModel::Get(std::string_view name) const {
  auto it = byName_.find(name);
  if (it == byName_.end()) throw std::out_of_range("no control named " + std::string(name) + " on " + formName_);
  return *it->second;
}

Control& FormModel::Mutable(std::string_view name) { return const_cast<Control&>(Get(name)); }

namespace {

[[noreturn]] void ThrowCompact(const Control& c) {
  throw std::logic_error(c.name + " holds its items compactly: its items are read as lines");
}

}  // namespace

Control& FormModel::Listed(std::string_view name) {
  Control& c = Mutable(name);
  if (c.compactItems) ThrowCompact(c);
  return c;
}

const std::vector<std::string>& FormModel::Items(std::string_view name) const {
  const Control& c = Get(name);
  if (c.compactItems) ThrowCompact(c);
  return c.items;
}

const LineStore& FormModel::Lines(std::string_view name) const {
  const Control& c = Get(name);
  if (!c.compactItems) throw std::logic_error(c.name + " holds its items as strings: read them with Items");
  return c.lines;
}

std::vector<const Control*> FormModel::Controls() const {
  std::vector<const Control*> all;
  all.reserve(controls_.size());
  for (const auto& c : controls_) all.push_back(c.get());
  return all;
}

std::vector<const Control*> FormModel::Children(std::string_view parent) const {
  std::vector<const Control*> children;
  for (const auto& c : controls_) {
    if (c->parent == parent) children.push_back(c.get());
  }
  return children;
}

void FormModel::SetCaption(std::string_view name, std::string text) {
  Control& c = Mutable(name);
  c.caption = std::move(text);
  Notify(c, ChangeKind::Caption);
}

void FormModel::SetHint(std::string_view name, std::string text) {
  Control& c = Mutable(name);
  c.hint = std::move(text);
  Notify(c, ChangeKind::Hint);
}

void FormModel::SetItems(std::string_view name, std::vector<std::string> items) {
  Control& c = Mutable(name);
  if (c.compactItems) {
    c.lines.clear();
    for (const std::string& item : items) c.lines.Append(item);
  } else {
    c.items = std::move(items);
  }
  c.itemTexts.clear();
  c.checked.assign(c.compactItems ? 0 : c.items.size(), false);
  if (c.itemIndex >= static_cast<int>(ItemCount(c))) c.itemIndex = -1;
  Notify(c, ChangeKind::Items);
}

void FormModel::AppendItem(std::string_view name, std::string item) {
  Control& c = Mutable(name);
  if (c.compactItems) {
    c.lines.Append(item);
  } else {
    c.items.push_back(std::move(item));
    c.checked.push_back(false);
  }
  Notify(c, ChangeKind::ItemsAppended, 1);
}

void FormModel::AppendItems(std::string_view name, const std::vector<std::string>& items) {
  if (items.empty()) return;
  Control& c = Mutable(name);
  if (c.compactItems) {
    for (const std::string& item : items) c.lines.Append(item);
  } else {
    c.items.insert(c.items.end(), items.begin(), items.end());
    c.checked.resize(c.items.size(), false);
  }
  Notify(c, ChangeKind::ItemsAppended, items.size());
}

void FormModel::ClearItems(std::string_view name) { SetItems(name, {}); }

void FormModel::ItemsChanged(std::string_view name) {
  Control& c = Mutable(name);
  if (!c.compactItems) c.checked.resize(c.items.size(), false);
  if (c.itemIndex >= static_cast<int>(ItemCount(c))) c.itemIndex = -1;
  Notify(c, ChangeKind::Items);
}

void FormModel::EditItems(std::string_view name, const std::function<void(std::vector<std::string>&)>& edit) {
  Control& c = Listed(name);
  edit(c.items);
  c.itemTexts.clear();
  c.checked.resize(c.items.size(), false);
  if (c.itemIndex >= static_cast<int>(c.items.size())) c.itemIndex = -1;
  Notify(c, ChangeKind::Items);
}

void FormModel::SetItemTexts(std::string_view name, std::vector<std::string> texts) {
  Control& c = Listed(name);
  c.itemTexts = std::move(texts);
  Notify(c, ChangeKind::Items);
}

std::size_t ItemCount(const Control& control) {
  return control.compactItems ? control.lines.size() : control.items.size();
}

std::string_view ItemAt(const Control& control, std::size_t index) {
  return control.compactItems ? control.lines[index] : std::string_view(control.items[index]);
}

std::string_view ShownItem(const Control& control, std::size_t index) {
  if (index < control.itemTexts.size() && !control.itemTexts[index].empty()) return control.itemTexts[index];
  return ItemAt(control, index);
}

bool FormModel::Checked(std::string_view name, std::size_t index) const {
  const Control& c = Get(name);
  return index < c.checked.size() && c.checked[index];
}

void FormModel::SetChecked(std::string_view name, std::size_t index, bool checked) {
  Control& c = Mutable(name);
  if (index >= c.items.size()) return;
  c.checked.resize(c.items.size(), false);
  c.checked[index] = checked;
  Notify(c, ChangeKind::Checks);
}

void FormModel::SetAllChecked(std::string_view name, bool checked) {
  Control& c = Mutable(name);
  c.checked.assign(c.items.size(), checked);
  Notify(c, ChangeKind::Checks);
}

void FormModel::SetItemIndex(std::string_view name, int index) {
  Control& c = Mutable(name);
  if (c.kind == ControlKind::PageControl) {
    c.itemIndex = index;  // the page shown; pages are the control's children, not items
  } else {
    c.itemIndex = (index >= 0 && static_cast<std::size_t>(index) < ItemCount(c)) ? index : -1;
  }
  Notify(c, ChangeKind::ItemIndex);
}

void FormModel::SetVisible(std::string_view name, bool visible) {
  Control& c = Mutable(name);
  c.visible = visible;
  Notify(c, ChangeKind::Visible);
}

void FormModel::SetEnabled(std::string_view name, bool enabled) {
  Control& c = Mutable(name);
  c.enabled = enabled;
  Notify(c, c.kind == ControlKind::Timer ? ChangeKind::Timer : ChangeKind::Enabled);
}

void FormModel::SetGaugeMax(std::string_view name, int maximum) {
  Control& c = Mutable(name);
  c.maximum = std::max(maximum, c.minimum);
  c.position = std::clamp(c.position, c.minimum, c.maximum);
  Notify(c, ChangeKind::Gauge);
}

void FormModel::SetGaugePosition(std::string_view name, int position) {
  Control& c = Mutable(name);
  c.position = std::clamp(position, c.minimum, c.maximum);
  Notify(c, ChangeKind::Gauge);
}

TreeRoots& FormModel::Tree(std::string_view name) { return Mutable(name).tree; }

void FormModel::TreeChanged(std::string_view name) { Notify(Get(name), ChangeKind::Tree); }

int FormModel::Subscribe(Listener listener) {
  int id = nextListener_++;
  listeners_.emplace(id, std::move(listener));
  return id;
}

void FormModel::Unsubscribe(int id) { listeners_.erase(id); }

void FormModel::Notify(const Control& control, ChangeKind change, std::size_t count) {
  // A listener may unsubscribe while being notified: walk a copy of the ids.
  std::vector<int> ids;
  ids.reserve(listeners_.size());
  for (const auto& [id, listener] : listeners_) ids.push_back(id);
  for (int id : ids) {
    auto it = listeners_.find(id);
    if (it != listeners_.end()) it->second(Notification{control, change, count});
  }
}
