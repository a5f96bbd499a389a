// The windows as data: one registry of every named control of a window (visible controls and
// the hidden working controls alike), with change notifications. Operations read and write
// controls by name; front ends render the registry and route events to handlers by name.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/line_store.h"
#include "base/tree_node.h"

enum class ControlKind {
  Form,
  PageControl,
  TabSheet,
  Panel,
  GroupBox,
  Label,
  LinkLabel,      // a label drawn as a link (blue, bold); a label for translation
  Button,         // plain push button (the hidden working buttons)
  SpeedButton,    // flat action button with Unicode caption
  ArrowButton,    // button with a drop-down arrow that opens its popup menu
  PopupMenu,
  MenuItem,
  ListBox,
  UnicodeListBox,
  CheckListBox,
  ComboBox,
  UnicodeComboBox,
  Edit,
  Memo,
  TreeView,
  Gauge,
  Timer,
  SaveDialog,
  OpenDialog,
  XmlDocument,
};

const char* ControlKindName(ControlKind kind);

enum class ChangeKind {
  Caption,        // caption or text
  Hint,
  Items,          // the item list was replaced or edited in place
  ItemsAppended,  // items were added at the end (count in the notification)
  Checks,
  ItemIndex,
  Visible,
  Enabled,
  Gauge,
  Tree,
  Timer,
};

// How a front end draws a control beyond what its kind says, decided once here so every
// front end shows the same windows.
enum class ControlLook {
  Default,
  DarkList,        // lists and trees: lime text (13 px) in 16 px rows on a dark background
  WaitWindow,      // the progress window: aqua background
  Headline,        // the progress window's large bold navy headline, centred
  OperationLabel,  // the progress window's bold red label naming the current operation
};

struct Control {
  std::string name;
  ControlKind kind = ControlKind::Panel;
  std::string parent;  // name of the parent control; empty for the form itself
  std::string caption;  // caption, or the text of edits and combo boxes
  std::string hint;
  std::vector<std::string> items;
  // A list box whose items are many and only ever added, read and cleared (the log): they are
  // held in `lines`, and `items` stays empty. Read them with FormModel::Lines, or any list's
  // with ItemCount and ItemAt.
  bool compactItems = false;
  LineStore lines;
  std::vector<bool> checked;  // parallel to items for check lists
  // What a list shows for an item when that differs from the item (parallel to items; a missing
  // or empty text shows the item itself). Operations read and write the items; replacing or
  // editing the items drops these texts.
  std::vector<std::string> itemTexts;
  int itemIndex = -1;
  bool visible = true;
  bool enabled = true;
  bool tabVisible = true;  // tab sheets: whether the tab is shown
  int minimum = 0;
  int maximum = 100;
  int position = 0;
  int interval = 0;  // timers, ms
  TreeRoots tree;
  std::string onClick;   // handler name run by a click (or the timer's tick)
  std::string onChange;  // handler name run by a change or a selection
  std::string popupMenu; // arrow buttons: the menu their arrow opens
  // Layout hints for front ends: "top", "bottom", "left", "right", "client" or "" (placed in
  // rows with its unaligned siblings); see base/form_layout.h.
  std::string align;
  ControlLook look = ControlLook::Default;
  // Lists: the text in a fixed-pitch font, so text laid out in columns lines up.
  bool fixedPitch = false;
  int width = 0;
  int height = 0;
};

// How many items a list holds, and the item at `index` (< ItemCount), however it holds them.
std::size_t ItemCount(const Control& control);
std::string_view ItemAt(const Control& control, std::size_t index);
// The text a list shows for its item at `index`: its shown text when it has one, else the item.
std::string_view ShownItem(const Control& control, std::size_t index);

class FormModel {
 public:
  struct Notification {
    const Control& control;
    ChangeKind change;
    std::size_t count;  // ItemsAppended: how many items were added
  };
  using Listener = std::function<void(const Notification&)>;

  explicit FormModel(std::string formName);
  FormModel(const FormModel&) = delete;
  FormModel& operator=(const FormModel&) = delete;

  const std::string& name() const { return formName_; }

  // Adds a control; its name must be unique within the form.
  Control& Add(Control control);
  bool Has(std::string_view name) const;
  // The named control; throws std::out_of_range for an unknown name.
  const Control& Get(std::string_view name) const;
  // Controls in creation order (the form itself first).
  std::vector<const Control*> Controls() const;
  std::vector<const Control*> Children(std::string_view parent) const;

  // Captions and texts.
  const std::string& Caption(std::string_view name) const { return Get(name).caption; }
  void SetCaption(std::string_view name, std::string text);
  const std::string& Hint(std::string_view name) const { return Get(name).hint; }
  void SetHint(std::string_view name, std::string text);

  // Item lists (list boxes, combo boxes, check lists, memos). A list that holds its items
  // compactly (Control::compactItems) is read with Lines, and takes SetItems, AppendItem(s),
  // ClearItems and ItemsChanged; the other item functions throw std::logic_error for it.
  const std::vector<std::string>& Items(std::string_view name) const;
  const LineStore& Lines(std::string_view name) const;
  void SetItems(std::string_view name, std::vector<std::string> items);
  void AppendItem(std::string_view name, std::string item);
  void AppendItems(std::string_view name, const std::vector<std::string>& items);
  void ClearItems(std::string_view name);
  // Direct access for a producer that fills a list in steps (a tool's output); call
  // ItemsChanged after each step so views follow.
  std::vector<std::string>& ItemsForWrite(std::string_view name) { return Listed(name).items; }
  void ItemsChanged(std::string_view name);
  // Edits the item list in place and notifies once.
  void EditItems(std::string_view name, const std::function<void(std::vector<std::string>&)>& edit);
  // Sets the texts a list shows for its items (see Control::itemTexts) and notifies once.
  void SetItemTexts(std::string_view name, std::vector<std::string> texts);

  bool Checked(std::string_view name, std::size_t index) const;
  void SetChecked(std::string_view name, std::size_t index, bool checked);
  void SetAllChecked(std::string_view name, bool checked);

  int ItemIndex(std::string_view name) const { return Get(name).itemIndex; }
  void SetItemIndex(std::string_view name, int index);

  bool Visible(std::string_view name) const { return Get(name).visible; }
  void SetVisible(std::string_view name, bool visible);
  bool Enabled(std::string_view name) const { return Get(name).enabled; }
  void SetEnabled(std::string_view name, bool enabled);

  // Gauges: the position stays within minimum..maximum.
  void SetGaugeMax(std::string_view name, int maximum);
  void SetGaugePosition(std::string_view name, int position);
  int GaugePosition(std::string_view name) const { return Get(name).position; }
  int GaugeMax(std::string_view name) const { return Get(name).maximum; }

  // Tree views: edit the roots, then notify.
  TreeRoots& Tree(std::string_view name);
  void TreeChanged(std::string_view name);

  int Subscribe(Listener listener);
  void Unsubscribe(int id);

 private:
  Control& Mutable(std::string_view name);
  // The named control, which must hold its items in `items`.
  Control& Listed(std::string_view name);
  void Notify(const Control& control, ChangeKind change, std::size_t count = 0);

  std::string formName_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::map<std::string, Control*, std::less<>> byName_;
  std::map<int, Listener> listeners_;
  int nextListener_ = 1;
};
