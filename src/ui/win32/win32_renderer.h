// Native windows for a FormModel, with the Win32 API and the common controls: one window per
// drawn control, placed by the core's docking rules (base/form_layout.h) and drawn in the look
// the model names, kept in step through the model's notifications. Every user event goes to
// the handler named in the control, through the invoker; no program logic lives here.
//
// Lists are virtual (owner-data list views): a row's text is asked for only when the row is
// drawn, so a log of a million lines shows and grows without delay.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/form_layout.h"
#include "base/form_model.h"

namespace win32ui {

// Runs the handler of the given name.
using HandlerInvoker = std::function<void(const std::string& handlerName)>;

// Registers the window classes and the common controls once per process.
void RegisterWindowClasses(HINSTANCE instance);

class FormRenderer {
 public:
  // `owner`: the window a secondary form (the progress window) is centred on and stays above.
  FormRenderer(FormModel& model, HandlerInvoker invoker, HWND owner = nullptr);
  ~FormRenderer();
  FormRenderer(const FormRenderer&) = delete;
  FormRenderer& operator=(const FormRenderer&) = delete;

  FormModel& Model() { return model_; }
  HWND Window() const { return window_; }
  // The window of a control; nullptr for controls without one.
  HWND Handle(const std::string& name) const;
  // Model indexes of the pages of a page control that have a tab.
  std::vector<int> TabbedPages(const std::string& pageControl) const;

  // Shows the window: centred on its owner when it has one, otherwise on the screen.
  void ShowWindow();
  // Runs the form's activation handler; an activation that arrives while it still runs is dropped.
  void Activate();
  int Activations() const { return activations_; }
  // Called when the main window is closed by the user or by the program.
  void OnClosed(std::function<void()> closed) { closed_ = std::move(closed); }
  // Places every control again (after a size change, a caption change, a control shown or hidden).
  void LayOut();

  // The window procedure of every window this renderer creates itself.
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  struct Bound {
    const Control* control = nullptr;
    HWND hwnd = nullptr;   // the control's window (for containers: the container)
    HWND decor = nullptr;  // group boxes: the frame; page controls: the tab strip
    HMENU menu = nullptr;  // popup menus
    UINT id = 0;           // child window id, menu command id or timer id
    // Lists: the longest item measured so far (in bytes) and its width in pixels, so the list
    // scrolls sideways to show whole lines.
    std::size_t longestItem = 0;
    int contentWidth = 0;
  };
  struct Page {
    int modelIndex;
    std::string sheet;
  };

  const Control& FormControl() const;
  void BuildMenusAndTimers();
  void BuildChildren(HWND container, const std::string& parentName);
  HWND Create(const Control& control, HWND parent);
  HWND CreateChild(const wchar_t* cls, const std::wstring& text, DWORD style, HWND parent, UINT id,
                   DWORD exStyle = 0);
  void CreatePages(const Control& control, Bound& bound);
  void SetFontFor(const Control& control, HWND hwnd);
  // Widens a list's one column to its longest item (measured again only when a longer one
  // came), at least to the list's width.
  void FitListColumn(const Control& control, Bound& bound, std::size_t firstNewItem);
  void AddTooltip(HWND hwnd, const std::string& hint);

  void LayOutChildren(const std::string& parentName, const RECT& area);
  RECT ContentArea(const Bound& bound) const;
  LayoutSize Preferred(const Control& control, int availableWidth);
  SIZE TextSize(const Control& control, const std::wstring& text, int maxWidth);
  void ShowPage(const std::string& pageControl);
  void ScheduleLayOut();

  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(UINT id, UINT code, HWND from);
  LRESULT OnNotify(NMHDR* header);
  LRESULT OnCtlColor(HDC dc, HWND control);
  void DrawButton(const DRAWITEMSTRUCT& item);
  void DrawComboItem(const DRAWITEMSTRUCT& item);
  bool IsWaitWindow() const;

  void OnModelChange(const FormModel::Notification& n);
  void ApplyCaption(const Control& control, const Bound& bound);
  void ApplyItems(const Control& control, Bound& bound, ChangeKind change, std::size_t count);
  void ApplyItemIndex(const Control& control, const Bound& bound);
  void FillCombo(const Control& control, HWND combo);
  void FillTree(const Control& control, HWND tree);
  void FollowTimer(const Control& control, const Bound& bound);

  void Route(const std::string& handlerName);
  Bound* ById(UINT id);
  Bound* ByHandle(HWND hwnd);

  FormModel& model_;
  HandlerInvoker invoker_;
  HWND owner_;
  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  std::map<std::string, Bound, std::less<>> bound_;
  std::map<UINT, std::string> byId_;
  std::map<std::string, std::vector<Page>, std::less<>> pages_;
  std::set<HWND> tipped_;  // the windows that have a tooltip
  std::vector<HFONT> fonts_;
  HFONT baseFont_ = nullptr, actionFont_ = nullptr, linkFont_ = nullptr, listFont_ = nullptr,
        headlineFont_ = nullptr, operationFont_ = nullptr, fixedListFont_ = nullptr;
  HBRUSH aquaBrush_ = nullptr, darkBrush_ = nullptr;
  HIMAGELIST rowHeights_ = nullptr;
  UINT nextId_ = 1000;
  int subscription_ = 0;
  int syncing_ = 0;
  bool activating_ = false;
  bool layOutPending_ = false;
  bool growing_ = false;
  int activations_ = 0;
  std::function<void()> closed_;
};

}  // namespace win32ui
