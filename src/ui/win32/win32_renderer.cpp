#include "ui/win32/win32_renderer.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>

#include "ui/win32/win32_text.h"

namespace win32ui {

namespace {

using K = ControlKind;

constexpr const wchar_t* kFormClass = L"VelmoraForm";
constexpr const wchar_t* kContainerClass = L"VelmoraContainer";
// Posted to a form: run the activation handler outside the activation message; place the
// controls again once a burst of changes is over.
constexpr UINT kActivateMessage = WM_APP + 1;
constexpr UINT kLayOutMessage = WM_APP + 2;

constexpr COLORREF kLinkBlue = RGB(0, 0, 255);
constexpr COLORREF kLime = RGB(0, 255, 0);
constexpr COLORREF kDark = RGB(0, 0, 0);
constexpr COLORREF kMaroon = RGB(128, 0, 0);
constexpr COLORREF kAqua = RGB(0, 255, 255);
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kSelectedRow = RGB(0, 128, 0);

// Text heights in pixels: ordinary controls, the dark lists (in rows of 16) and the progress
// window's labels. The headline's 37 counts the whole line, as a positive font height does.
constexpr int kBaseFontPixels = 11;
constexpr int kListFontPixels = 13;
constexpr int kListRowPixels = 16;
constexpr int kOperationFontPixels = 13;
constexpr int kHeadlinePixels = 37;
constexpr int kArrowWidth = 16;      // the arrow part of an arrow button
constexpr int kComboDropDown = 200;  // the height of a combo box's open list

bool IsList(K kind) { return kind == K::ListBox || kind == K::UnicodeListBox || kind == K::CheckListBox; }
bool IsCombo(K kind) { return kind == K::ComboBox || kind == K::UnicodeComboBox; }
bool IsActionButton(K kind) { return kind == K::SpeedButton || kind == K::ArrowButton; }

HFONT MakeFont(int height, bool bold, bool underline) {
  return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline ? TRUE : FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

// Guards a block in which the model is copied into windows: their notifications are not
// user events then.
class SyncScope {
 public:
  explicit SyncScope(int& counter) : counter_(counter) { ++counter_; }
  ~SyncScope() { --counter_; }
  SyncScope(const SyncScope&) = delete;
  SyncScope& operator=(const SyncScope&) = delete;

 private:
  int& counter_;
};

std::wstring WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void AddTreeNodes(HWND tree, HTREEITEM parent, const std::vector<std::unique_ptr<TreeNode>>& nodes,
                  int depth) {
  for (const auto& node : nodes) {
    if (!node) continue;
    std::wstring text = Widen(node->text);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = text.data();
    HTREEITEM item = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    AddTreeNodes(tree, item, node->children, depth + 1);
    // The classes open, their devices folded.
    if (depth == 0 && !node->children.empty()) TreeView_Expand(tree, item, TVE_EXPAND);
  }
}

}  // namespace

void RegisterWindowClasses(HINSTANCE instance) {
  static bool registered = false;
  if (registered) return;
  registered = true;
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                                  ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                                                  ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  for (const wchar_t* name : {kFormClass, kContainerClass}) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.style = name == kFormClass ? (CS_HREDRAW | CS_VREDRAW) : 0;
    cls.lpfnWndProc = &FormRenderer::WindowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    cls.lpszClassName = name;
    RegisterClassExW(&cls);
  }
}

// ---- construction ----

FormRenderer::FormRenderer(FormModel& model, HandlerInvoker invoker, HWND owner)
    : model_(model), invoker_(std::move(invoker)), owner_(owner) {
  RegisterWindowClasses(GetModuleHandleW(nullptr));
  baseFont_ = MakeFont(-kBaseFontPixels, false, false);
  actionFont_ = MakeFont(-kBaseFontPixels, true, true);
  linkFont_ = MakeFont(-kBaseFontPixels, true, false);
  listFont_ = MakeFont(-kListFontPixels, false, false);
  headlineFont_ = MakeFont(kHeadlinePixels, true, false);
  operationFont_ = MakeFont(-kOperationFontPixels, true, false);
  fonts_ = {baseFont_, actionFont_, linkFont_, listFont_, headlineFont_, operationFont_};
  aquaBrush_ = CreateSolidBrush(kAqua);
  darkBrush_ = CreateSolidBrush(kDark);
  // A one-pixel-wide image list 16 pixels high gives the dark lists their row height.
  rowHeights_ = ImageList_Create(1, kListRowPixels, ILC_COLOR24, 0, 1);

  const Control& form = FormControl();
  const DWORD style = owner_ != nullptr ? (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN)
                                        : (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
  const DWORD exStyle = WS_EX_CONTROLPARENT | (owner_ != nullptr ? WS_EX_TOOLWINDOW : WS_EX_APPWINDOW);
  RECT frame{0, 0, std::max(form.width, 100), std::max(form.height, 60)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  window_ = CreateWindowExW(exStyle, kFormClass, Widen(form.caption).c_str(), style, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, owner_,
                            nullptr, GetModuleHandleW(nullptr), this);
  Bound& formBound = bound_[form.name];
  formBound.control = &form;
  formBound.hwnd = window_;
  SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(baseFont_), FALSE);

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  BuildMenusAndTimers();
  {
    SyncScope sync(syncing_);
    BuildChildren(window_, form.name);
  }
  subscription_ = model_.Subscribe([this](const FormModel::Notification& n) { OnModelChange(n); });
  LayOut();
}

FormRenderer::~FormRenderer() {
  model_.Unsubscribe(subscription_);
  for (auto& [name, bound] : bound_) {
    if (bound.menu != nullptr) DestroyMenu(bound.menu);
  }
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  for (HFONT font : fonts_) DeleteObject(font);
  DeleteObject(aquaBrush_);
  DeleteObject(darkBrush_);
  ImageList_Destroy(rowHeights_);
}

const Control& FormRenderer::FormControl() const {
  if (model_.Has(model_.name()) && model_.Get(model_.name()).kind == K::Form)
    return model_.Get(model_.name());
  for (const Control* c : model_.Controls()) {
    if (c->kind == K::Form) return *c;
  }
  throw std::invalid_argument("form model " + model_.name() + " has no Form control");
}

bool FormRenderer::IsWaitWindow() const { return FormControl().look == ControlLook::WaitWindow; }

HWND FormRenderer::Handle(const std::string& name) const {
  auto it = bound_.find(name);
  return it == bound_.end() ? nullptr : it->second.hwnd;
}

std::vector<int> FormRenderer::TabbedPages(const std::string& pageControl) const {
  std::vector<int> indexes;
  auto it = pages_.find(pageControl);
  if (it == pages_.end()) return indexes;
  for (const Page& page : it->second) indexes.push_back(page.modelIndex);
  return indexes;
}

FormRenderer::Bound* FormRenderer::ById(UINT id) {
  auto it = byId_.find(id);
  if (it == byId_.end()) return nullptr;
  auto bound = bound_.find(it->second);
  return bound == bound_.end() ? nullptr : &bound->second;
}

FormRenderer::Bound* FormRenderer::ByHandle(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  const UINT id = static_cast<UINT>(GetDlgCtrlID(hwnd));
  Bound* bound = ById(id);
  if (bound != nullptr && (bound->hwnd == hwnd || bound->decor == hwnd)) return bound;
  return nullptr;
}

void FormRenderer::BuildMenusAndTimers() {
  for (const Control* c : model_.Controls()) {
    if (c->kind == K::PopupMenu) {
      Bound& b = bound_[c->name];
      b.control = c;
      b.menu = CreatePopupMenu();
    } else if (c->kind == K::Timer) {
      Bound& b = bound_[c->name];
      b.control = c;
      b.id = nextId_++;
      byId_[b.id] = c->name;
      FollowTimer(*c, b);
    }
  }
  for (const Control* c : model_.Controls()) {
    if (c->kind != K::MenuItem) continue;
    auto parent = bound_.find(c->parent);
    if (parent == bound_.end() || parent->second.menu == nullptr) continue;
    Bound& b = bound_[c->name];
    b.control = c;
    b.id = nextId_++;
    byId_[b.id] = c->name;
    AppendMenuW(parent->second.menu, MF_STRING | (c->enabled ? 0u : MF_GRAYED), b.id,
                LiteralText(c->caption).c_str());
  }
}

HWND FormRenderer::CreateChild(const wchar_t* cls, const std::wstring& text, DWORD style, HWND parent,
                               UINT id, DWORD exStyle) {
  return CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 10, 10, parent,
                         reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), this);
}

void FormRenderer::BuildChildren(HWND container, const std::string& parentName) {
  for (const Control* child : model_.Children(parentName)) {
    if (IsWindowedKind(child->kind) && child->kind != K::TabSheet) Create(*child, container);
  }
}

HWND FormRenderer::Create(const Control& c, HWND parent) {
  const UINT id = nextId_++;
  const std::wstring caption = Widen(c.caption);
  HWND hwnd = nullptr;
  HWND decor = nullptr;
  switch (c.kind) {
    case K::PageControl:
      hwnd = CreateChild(kContainerClass, L"", WS_CLIPCHILDREN, parent, id, WS_EX_CONTROLPARENT);
      decor = CreateChild(WC_TABCONTROLW, L"", WS_VISIBLE | WS_TABSTOP, hwnd, id);
      SendMessageW(decor, WM_SETFONT, reinterpret_cast<WPARAM>(baseFont_), FALSE);
      break;
    case K::TabSheet:
    case K::Panel:
      hwnd = CreateChild(kContainerClass, L"", WS_CLIPCHILDREN, parent, id, WS_EX_CONTROLPARENT);
      break;
    case K::GroupBox:
      // The frame paints only its line and caption: the container paints the inside, so it
      // must not clip its children away.
      hwnd = CreateChild(kContainerClass, L"", 0, parent, id, WS_EX_CONTROLPARENT);
      decor = CreateChild(WC_BUTTONW, LiteralText(c.caption), WS_VISIBLE | BS_GROUPBOX, hwnd, id);
      SendMessageW(decor, WM_SETFONT, reinterpret_cast<WPARAM>(baseFont_), FALSE);
      break;
    case K::Label:
    case K::LinkLabel: {
      DWORD style = SS_NOPREFIX | (c.kind == K::LinkLabel ? SS_NOTIFY : 0u);
      if (c.look == ControlLook::Headline) style |= SS_CENTER;
      hwnd = CreateChild(WC_STATICW, caption, style, parent, id);
      break;
    }
    case K::Button:
      hwnd = CreateChild(WC_BUTTONW, LiteralText(c.caption), WS_TABSTOP | BS_PUSHBUTTON, parent, id);
      break;
    case K::SpeedButton:
    case K::ArrowButton:
      hwnd = CreateChild(WC_BUTTONW, caption, WS_TABSTOP | BS_OWNERDRAW, parent, id);
      break;
    case K::ListBox:
    case K::UnicodeListBox:
    case K::CheckListBox: {
      hwnd = CreateChild(WC_LISTVIEWW, L"",
                         WS_TABSTOP | WS_VSCROLL | LVS_REPORT | LVS_OWNERDATA | LVS_NOCOLUMNHEADER |
                             LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                         parent, id, WS_EX_CLIENTEDGE);
      DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
      if (c.kind == K::CheckListBox) extended |= LVS_EX_CHECKBOXES;
      ListView_SetExtendedListViewStyle(hwnd, extended);
      LVCOLUMNW column{};
      column.mask = LVCF_WIDTH;
      column.cx = 100;
      SendMessageW(hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
      if (c.kind == K::CheckListBox) ListView_SetCallbackMask(hwnd, LVIS_STATEIMAGEMASK);
      if (c.look == ControlLook::DarkList) {
        ListView_SetBkColor(hwnd, kDark);
        ListView_SetTextBkColor(hwnd, kDark);
        ListView_SetTextColor(hwnd, kLime);
        if (c.kind != K::CheckListBox) ListView_SetImageList(hwnd, rowHeights_, LVSIL_SMALL);
      }
      ListView_SetItemCountEx(hwnd, static_cast<int>(c.items.size()), 0);
      break;
    }
    case K::ComboBox:
    case K::UnicodeComboBox:
      // Drawn by the renderer, so that with no item chosen the box shows its design text in grey
      // (the caption, "HWIDS"), as the Qt front end's placeholder does.
      hwnd = CreateChild(WC_COMBOBOXW, L"",
                         WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS,
                         parent, id);
      break;
    case K::Edit:
      hwnd = CreateChild(WC_EDITW, caption, WS_TABSTOP | ES_AUTOHSCROLL, parent, id, WS_EX_CLIENTEDGE);
      break;
    case K::Memo:
      hwnd = CreateChild(WC_EDITW, L"", WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY, parent, id,
                         WS_EX_CLIENTEDGE);
      break;
    case K::TreeView:
      hwnd = CreateChild(WC_TREEVIEWW, L"",
                         WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                         parent, id, WS_EX_CLIENTEDGE);
      if (c.look == ControlLook::DarkList) {
        TreeView_SetBkColor(hwnd, kDark);
        TreeView_SetTextColor(hwnd, kLime);
        TreeView_SetLineColor(hwnd, kLime);
        TreeView_SetItemHeight(hwnd, kListRowPixels);
      }
      break;
    case K::Gauge:
      hwnd = CreateChild(PROGRESS_CLASSW, L"", PBS_SMOOTH, parent, id);
      SendMessageW(hwnd, PBM_SETBARCOLOR, 0, kMaroon);
      break;
    default:
      return nullptr;
  }
  if (hwnd == nullptr) return nullptr;
  Bound& b = bound_[c.name];
  b.control = &c;
  b.hwnd = hwnd;
  b.decor = decor;
  b.id = id;
  byId_[id] = c.name;
  SetFontFor(c, hwnd);
  if (!c.hint.empty()) AddTooltip(hwnd, c.hint);
  EnableWindow(hwnd, c.enabled ? TRUE : FALSE);

  switch (c.kind) {
    case K::PageControl:
      CreatePages(c, b);
      break;
    case K::Panel:
    case K::GroupBox:
      BuildChildren(hwnd, c.name);
      break;
    case K::ComboBox:
    case K::UnicodeComboBox:
      FillCombo(c, hwnd);
      break;
    case K::Memo:
      ApplyItems(c, b, ChangeKind::Items, 0);
      break;
    case K::TreeView:
      FillTree(c, hwnd);
      break;
    case K::Gauge:
      SendMessageW(hwnd, PBM_SETRANGE32, static_cast<WPARAM>(c.minimum), c.maximum);
      SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(c.position), 0);
      break;
    default:
      break;
  }
  // The decorations (a group's frame, a page control's tab strip) lie under the controls.
  if (decor != nullptr)
    SetWindowPos(decor, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (c.visible) ::ShowWindow(hwnd, SW_SHOWNA);
  return hwnd;
}

void FormRenderer::CreatePages(const Control& c, Bound& bound) {
  std::vector<Page>& pages = pages_[c.name];
  int modelIndex = 0;
  for (const Control* sheet : model_.Children(c.name)) {
    if (sheet->kind != K::TabSheet) continue;
    const int index = modelIndex++;
    // A page without a tab is never shown: its controls get no windows at all.
    if (!sheet->tabVisible) continue;
    const UINT id = nextId_++;
    HWND page = CreateChild(kContainerClass, L"", WS_CLIPCHILDREN, bound.hwnd, id, WS_EX_CONTROLPARENT);
    Bound& b = bound_[sheet->name];
    b.control = sheet;
    b.hwnd = page;
    b.id = id;
    byId_[id] = sheet->name;
    BuildChildren(page, sheet->name);
    std::wstring text = LiteralText(sheet->caption);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(bound.decor, TCM_INSERTITEMW, pages.size(), reinterpret_cast<LPARAM>(&item));
    pages.push_back(Page{index, sheet->name});
  }
  ApplyItemIndex(c, bound);
}

void FormRenderer::SetFontFor(const Control& c, HWND hwnd) {
  HFONT font = baseFont_;
  if (c.look == ControlLook::DarkList) {
    font = listFont_;
  } else if (c.look == ControlLook::Headline) {
    font = headlineFont_;
  } else if (c.look == ControlLook::OperationLabel) {
    font = operationFont_;
  } else if (IsActionButton(c.kind)) {
    font = actionFont_;
  } else if (c.kind == K::LinkLabel) {
    font = linkFont_;
  }
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void FormRenderer::AddTooltip(HWND hwnd, const std::string& hint) {
  std::wstring text = Widen(hint);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd);
  tool.lpszText = text.data();
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  tipped_.insert(hwnd);
}

// ---- placing ----

void FormRenderer::ScheduleLayOut() {
  if (layOutPending_ || window_ == nullptr) return;
  layOutPending_ = true;
  PostMessageW(window_, kLayOutMessage, 0, 0);
}

void FormRenderer::LayOut() {
  if (window_ == nullptr) return;
  RECT client;
  GetClientRect(window_, &client);
  const Control& form = FormControl();
  // A window too small for its controls grows rather than cut one off (the progress window's
  // headline below its three groups).
  const int needed =
      PlaceDocked(PlanDocking(model_, form.name), LayoutRect{0, 0, client.right, client.bottom},
                  [this](const Control& child, int width) { return Preferred(child, width); })
          .neededHeight;
  if (needed > client.bottom && !growing_) {
    RECT frame;
    GetWindowRect(window_, &frame);
    growing_ = true;
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left,
                 frame.bottom - frame.top + needed - client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    growing_ = false;
    GetClientRect(window_, &client);
  }
  LayOutChildren(form.name, client);
}

RECT FormRenderer::ContentArea(const Bound& b) const {
  RECT area;
  GetClientRect(b.hwnd, &area);
  if (b.control->kind == K::GroupBox) {
    // Room for the frame and its caption.
    area.top += kBaseFontPixels + 6;
    area.left += 3;
    area.right -= 3;
    area.bottom -= 3;
  }
  return area;
}

SIZE FormRenderer::TextSize(const Control& c, const std::wstring& text, int maxWidth) {
  HWND hwnd = Handle(c.name);
  HDC dc = GetDC(window_);
  HFONT font = hwnd != nullptr ? reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)) : baseFont_;
  HGDIOBJ old = SelectObject(dc, font != nullptr ? font : baseFont_);
  RECT r{0, 0, std::max(maxWidth, 1), 0};
  const std::wstring measured = text.empty() ? std::wstring(L"Ag") : text;
  UINT flags = DT_CALCRECT | DT_NOPREFIX | (c.look == ControlLook::Headline ? DT_WORDBREAK : DT_SINGLELINE);
  DrawTextW(dc, measured.c_str(), static_cast<int>(measured.size()), &r, flags);
  SelectObject(dc, old);
  ReleaseDC(window_, dc);
  return SIZE{text.empty() ? 0 : r.right - r.left, r.bottom - r.top};
}

LayoutSize FormRenderer::Preferred(const Control& c, int availableWidth) {
  const std::wstring caption = Widen(c.caption);
  switch (c.kind) {
    case K::Panel:
    case K::GroupBox:
    case K::TabSheet: {
      const int insetWidth = c.kind == K::GroupBox ? 6 : 0;
      const int insetHeight = c.kind == K::GroupBox ? kBaseFontPixels + 9 : 0;
      const Placement inner =
          PlaceDocked(PlanDocking(model_, c.name), LayoutRect{0, 0, availableWidth - insetWidth, 0},
                      [this](const Control& child, int width) { return Preferred(child, width); });
      return {availableWidth, inner.neededHeight + insetHeight};
    }
    case K::Label:
    case K::LinkLabel: {
      const SIZE text = TextSize(c, caption, availableWidth);
      return {text.cx + 4, text.cy + 4};
    }
    case K::Button:
    case K::SpeedButton:
    case K::ArrowButton: {
      const SIZE text = TextSize(c, caption, availableWidth);
      const int arrow = c.kind == K::ArrowButton ? kArrowWidth : 0;
      return {text.cx + 20 + arrow, std::max(28, static_cast<int>(text.cy) + 10)};
    }
    case K::ComboBox:
    case K::UnicodeComboBox: {
      const SIZE text = TextSize(c, L"MMMMMMMMMMMM", availableWidth);
      return {text.cx + 28, static_cast<int>(text.cy) + 10};
    }
    case K::Edit:
      return {120, static_cast<int>(TextSize(c, L"Ag", availableWidth).cy) + 8};
    case K::Gauge:
      return {100, 20};
    default:
      return {100, 80};
  }
}

void FormRenderer::LayOutChildren(const std::string& parentName, const RECT& area) {
  const Placement placement =
      PlaceDocked(PlanDocking(model_, parentName),
                  LayoutRect{area.left, area.top, area.right - area.left, area.bottom - area.top},
                  [this](const Control& child, int width) { return Preferred(child, width); });
  for (const auto& [control, rect] : placement.rects) {
    auto it = bound_.find(control->name);
    if (it == bound_.end() || it->second.hwnd == nullptr) continue;
    Bound& b = it->second;
    const int height = IsCombo(control->kind) ? rect.height + kComboDropDown : rect.height;
    MoveWindow(b.hwnd, rect.x, rect.y, rect.width, height, TRUE);
    switch (control->kind) {
      case K::Panel:
      case K::GroupBox:
        if (b.decor != nullptr) MoveWindow(b.decor, 0, 0, rect.width, rect.height, TRUE);
        LayOutChildren(control->name, ContentArea(b));
        break;
      case K::PageControl: {
        MoveWindow(b.decor, 0, 0, rect.width, rect.height, TRUE);
        RECT display{0, 0, rect.width, rect.height};
        TabCtrl_AdjustRect(b.decor, FALSE, &display);
        for (const Page& page : pages_[control->name]) {
          HWND sheet = Handle(page.sheet);
          MoveWindow(sheet, display.left, display.top, display.right - display.left,
                     display.bottom - display.top, TRUE);
          RECT inner{0, 0, display.right - display.left, display.bottom - display.top};
          // Tab sheets keep the margin of 4 the core gives every container but panels.
          LayOutChildren(page.sheet, inner);
        }
        break;
      }
      case K::ListBox:
      case K::UnicodeListBox:
      case K::CheckListBox: {
        RECT client;
        GetClientRect(b.hwnd, &client);
        ListView_SetColumnWidth(b.hwnd, 0, std::max(static_cast<int>(client.right), 50));
        break;
      }
      default:
        break;
    }
  }
}

void FormRenderer::ShowPage(const std::string& pageControl) {
  const Control& c = model_.Get(pageControl);
  auto bound = bound_.find(pageControl);
  if (bound == bound_.end()) return;
  const std::vector<Page>& pages = pages_[pageControl];
  // A page control whose model names no page (or one without a tab) shows its first tab.
  const bool named = std::any_of(pages.begin(), pages.end(),
                                 [&c](const Page& page) { return page.modelIndex == c.itemIndex; });
  for (std::size_t tab = 0; tab < pages.size(); ++tab) {
    const bool shown = named ? pages[tab].modelIndex == c.itemIndex : tab == 0;
    if (shown) TabCtrl_SetCurSel(bound->second.decor, static_cast<int>(tab));
    HWND sheet = Handle(pages[tab].sheet);
    if (shown) SetWindowPos(sheet, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::ShowWindow(sheet, shown ? SW_SHOWNA : SW_HIDE);
  }
}

// ---- showing and activating ----

void FormRenderer::ShowWindow() {
  if (window_ == nullptr) return;
  RECT area;
  if (owner_ != nullptr && IsWindowVisible(owner_)) {
    GetWindowRect(owner_, &area);
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT frame;
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = std::max(0L, area.left + (area.right - area.left - width) / 2);
  const int y = std::max(0L, area.top + (area.bottom - area.top - height) / 2);
  SetWindowPos(window_, owner_ != nullptr ? HWND_TOP : nullptr, x, y, 0, 0,
               SWP_NOSIZE | (owner_ != nullptr ? SWP_NOACTIVATE : SWP_NOZORDER));
  ::ShowWindow(window_, owner_ != nullptr ? SW_SHOWNOACTIVATE : SW_SHOW);
  UpdateWindow(window_);
}

void FormRenderer::Activate() {
  if (activating_) return;
  activating_ = true;
  ++activations_;
  Route(FormControl().onChange);
  activating_ = false;
}

void FormRenderer::Route(const std::string& handlerName) {
  if (handlerName.empty()) return;
  try {
    invoker_(handlerName);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "handler %s failed: %s\n", handlerName.c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "handler %s failed\n", handlerName.c_str());
  }
}

// ---- window messages ----

LRESULT CALLBACK FormRenderer::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<FormRenderer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->HandleMessage(hwnd, message, wParam, lParam);
}

LRESULT FormRenderer::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (lParam != 0) OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType == ODT_COMBOBOX) {
        DrawComboItem(item);
      } else {
        DrawButton(item);
      }
      return TRUE;
    }
    case WM_MEASUREITEM:
      // Combo box rows (and the selection field): one line of the ordinary font.
      reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = kBaseFontPixels + 6;
      return TRUE;
    case WM_ERASEBKGND:
      if (IsWaitWindow()) {
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, aquaBrush_);
        return 1;
      }
      break;
    case WM_SETCURSOR: {
      if (BusyCursorOn()) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        return TRUE;
      }
      const Bound* over = ByHandle(reinterpret_cast<HWND>(wParam));
      if (over != nullptr && (over->control->kind == K::LinkLabel || IsActionButton(over->control->kind))) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  if (hwnd == window_) {
    switch (message) {
      case WM_SIZE:
        LayOut();
        return 0;
      case kLayOutMessage:
        layOutPending_ = false;
        LayOut();
        return 0;
      case WM_TIMER:
        if (const Bound* timer = ById(static_cast<UINT>(wParam))) Route(timer->control->onClick);
        return 0;
      case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) PostMessageW(window_, kActivateMessage, 0, 0);
        break;
      case kActivateMessage:
        Activate();
        return 0;
      case WM_CLOSE:
        if (owner_ == nullptr) {
          if (closed_) closed_();
        } else {
          ::ShowWindow(window_, SW_HIDE);
        }
        return 0;
      case WM_DESTROY:
        window_ = nullptr;
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void FormRenderer::OnCommand(UINT id, UINT code, HWND from) {
  Bound* b = ById(id);
  if (b == nullptr || b->control == nullptr) return;
  const Control& c = *b->control;
  switch (c.kind) {
    case K::Button:
    case K::SpeedButton:
      if (code == BN_CLICKED) Route(c.onClick);
      break;
    case K::ArrowButton: {
      if (code != BN_CLICKED) break;
      // A click on the arrow opens the menu; a click anywhere else is the button's own.
      RECT r;
      GetWindowRect(from, &r);
      const DWORD pos = GetMessagePos();
      const bool onArrow = GET_X_LPARAM(pos) >= r.right - kArrowWidth && GET_X_LPARAM(pos) < r.right;
      auto menu = bound_.find(c.popupMenu);
      if (onArrow && menu != bound_.end() && menu->second.menu != nullptr) {
        const UINT chosen =
            static_cast<UINT>(TrackPopupMenu(menu->second.menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN,
                                             r.left, r.bottom, 0, window_, nullptr));
        if (const Bound* item = chosen != 0 ? ById(chosen) : nullptr) Route(item->control->onClick);
      } else {
        Route(c.onClick);
      }
      break;
    }
    case K::LinkLabel:
      if (code == STN_CLICKED) Route(c.onClick);
      break;
    case K::ComboBox:
    case K::UnicodeComboBox: {
      if (code != CBN_SELCHANGE || syncing_ > 0) break;
      const int index = static_cast<int>(SendMessageW(from, CB_GETCURSEL, 0, 0));
      if (index < 0 || static_cast<std::size_t>(index) >= c.items.size()) break;
      // The model learns the selection first, then the change handler runs.
      const std::string text = c.items[static_cast<std::size_t>(index)];
      const std::string name = c.name;
      const std::string handler = c.onChange;
      model_.SetItemIndex(name, index);
      model_.SetCaption(name, text);
      Route(handler);
      break;
    }
    case K::Edit:
      if (code == EN_CHANGE && syncing_ == 0) {
        SyncScope sync(syncing_);
        model_.SetCaption(c.name, Narrow(WindowText(from)));
      }
      break;
    default:
      break;
  }
}

LRESULT FormRenderer::OnNotify(NMHDR* header) {
  Bound* b = ByHandle(header->hwndFrom);
  if (b == nullptr || b->control == nullptr) return 0;
  const Control& c = *b->control;
  if (c.kind == K::PageControl) {
    if (header->code == TCN_SELCHANGE && syncing_ == 0) {
      const int tab = TabCtrl_GetCurSel(b->decor);
      const std::vector<Page>& pages = pages_[c.name];
      if (tab >= 0 && static_cast<std::size_t>(tab) < pages.size())
        model_.SetItemIndex(c.name, pages[static_cast<std::size_t>(tab)].modelIndex);
    }
    return 0;
  }
  if (IsList(c.kind)) {
    switch (header->code) {
      case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
        if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= c.items.size()) return 0;
        const auto row = static_cast<std::size_t>(item.iItem);
        if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
          const std::wstring text = Widen(c.items[row]);
          const std::size_t length = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
          std::wmemcpy(item.pszText, text.data(), length);
          item.pszText[length] = L'\0';
        }
        if ((item.mask & LVIF_STATE) != 0 && c.kind == K::CheckListBox) {
          const bool checked = row < c.checked.size() && c.checked[row];
          item.state = INDEXTOSTATEIMAGEMASK(checked ? 2u : 1u);
          item.stateMask = LVIS_STATEIMAGEMASK;
        }
        return 0;
      }
      case NM_CLICK:
      case NM_DBLCLK: {
        if (c.kind != K::CheckListBox) return 0;
        LVHITTESTINFO hit{};
        hit.pt = reinterpret_cast<NMITEMACTIVATE*>(header)->ptAction;
        const int row = ListView_HitTest(b->hwnd, &hit);
        if (row >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0)
          model_.SetChecked(c.name, static_cast<std::size_t>(row),
                            !model_.Checked(c.name, static_cast<std::size_t>(row)));
        return 0;
      }
      case LVN_KEYDOWN: {
        if (c.kind != K::CheckListBox || reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey != VK_SPACE) return 0;
        const int row = ListView_GetNextItem(b->hwnd, -1, LVNI_SELECTED);
        if (row >= 0)
          model_.SetChecked(c.name, static_cast<std::size_t>(row),
                            !model_.Checked(c.name, static_cast<std::size_t>(row)));
        return 0;
      }
      case LVN_ITEMCHANGED: {
        const auto* change = reinterpret_cast<NMLISTVIEW*>(header);
        if (syncing_ == 0 && change->iItem >= 0 && (change->uNewState & LVIS_SELECTED) != 0 &&
            (change->uOldState & LVIS_SELECTED) == 0)
          model_.SetItemIndex(c.name, change->iItem);
        return 0;
      }
      case NM_CUSTOMDRAW: {
        // A selected dark row: white text on dark green, readable against the black rows.
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        if (c.look != ControlLook::DarkList) return CDRF_DODEFAULT;
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
        if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
          const int row = static_cast<int>(draw->nmcd.dwItemSpec);
          if (ListView_GetItemState(b->hwnd, row, LVIS_SELECTED) != 0) {
            draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
            draw->clrText = RGB(255, 255, 255);
            draw->clrTextBk = kSelectedRow;
          } else {
            draw->clrText = kLime;
            draw->clrTextBk = kDark;
          }
          return CDRF_NEWFONT;
        }
        return CDRF_DODEFAULT;
      }
      default:
        return 0;
    }
  }
  if (c.kind == K::TreeView && header->code == NM_CLICK) {
    // Every click on a node runs the handler, also a second click on the chosen node.
    TVHITTESTINFO hit{};
    const DWORD pos = GetMessagePos();
    hit.pt = POINT{GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
    ScreenToClient(b->hwnd, &hit.pt);
    HTREEITEM node = TreeView_HitTest(b->hwnd, &hit);
    if (node == nullptr || (hit.flags & TVHT_ONITEM) == 0) return 0;
    TreeView_SelectItem(b->hwnd, node);
    wchar_t text[1024] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = text;
    item.cchTextMax = 1024;
    SendMessageW(b->hwnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    // The clicked node's text is the selection the handler reads.
    const std::string handler = c.onClick;
    model_.SetCaption(c.name, Narrow(text));
    Route(handler);
  }
  return 0;
}

LRESULT FormRenderer::OnCtlColor(HDC dc, HWND control) {
  const Bound* b = ByHandle(control);
  COLORREF text = GetSysColor(COLOR_BTNTEXT);
  if (b != nullptr && b->control != nullptr) {
    if (b->control->kind == K::LinkLabel) text = kLinkBlue;
    if (b->control->look == ControlLook::Headline) text = kNavy;
    if (b->control->look == ControlLook::OperationLabel) text = kRed;
  }
  SetTextColor(dc, text);
  if (IsWaitWindow()) {
    SetBkColor(dc, kAqua);
    return reinterpret_cast<LRESULT>(aquaBrush_);
  }
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void FormRenderer::DrawButton(const DRAWITEMSTRUCT& item) {
  const Bound* b = ByHandle(item.hwndItem);
  if (b == nullptr || b->control == nullptr) return;
  const Control& c = *b->control;
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &r, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
  RECT textArea = r;
  InflateRect(&textArea, -4, -2);
  if (c.kind == K::ArrowButton) {
    textArea.right -= kArrowWidth;
    RECT divider{r.right - kArrowWidth - 1, r.top + 3, r.right - kArrowWidth + 1, r.bottom - 3};
    DrawEdge(dc, &divider, EDGE_ETCHED, BF_LEFT);
    const int cx = r.right - kArrowWidth / 2 - 1;
    const int cy = (r.top + r.bottom) / 2;
    const POINT arrow[3] = {{cx - 4, cy - 2}, {cx + 4, cy - 2}, {cx, cy + 2}};
    HGDIOBJ oldBrush = SelectObject(dc, GetSysColorBrush(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    Polygon(dc, arrow, 3);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
  }
  if (pressed) OffsetRect(&textArea, 1, 1);
  const std::wstring caption = Widen(c.caption);
  HGDIOBJ oldFont = SelectObject(dc, actionFont_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, disabled ? GetSysColor(COLOR_GRAYTEXT) : kLinkBlue);
  // A tall button breaks a long caption into lines, centred as a block.
  RECT measure = textArea;
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &measure,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_CENTER);
  const int blockHeight = measure.bottom - measure.top;
  if (blockHeight < textArea.bottom - textArea.top && blockHeight > 0) {
    textArea.top += (textArea.bottom - textArea.top - blockHeight) / 2;
  }
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &textArea,
            DT_WORDBREAK | DT_NOPREFIX | DT_CENTER);
  SelectObject(dc, oldFont);
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus = r;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(dc, &focus);
  }
}

void FormRenderer::DrawComboItem(const DRAWITEMSTRUCT& item) {
  const Bound* b = ByHandle(item.hwndItem);
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  std::wstring text;
  COLORREF colour = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
  if (item.itemID == static_cast<UINT>(-1)) {
    if ((item.itemState & ODS_COMBOBOXEDIT) != 0 && b != nullptr && b->control != nullptr) {
      text = Widen(b->control->caption);
      colour = GetSysColor(COLOR_GRAYTEXT);
    }
  } else {
    const auto length = SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
    if (length > 0) {
      text.assign(static_cast<std::size_t>(length) + 1, L'\0');
      SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<std::size_t>(length));
    }
  }
  FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, (item.itemState & ODS_DISABLED) != 0 ? GetSysColor(COLOR_GRAYTEXT) : colour);
  HGDIOBJ old = SelectObject(dc, baseFont_);
  r.left += 3;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  SelectObject(dc, old);
  if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0)
    DrawFocusRect(dc, &item.rcItem);
}

// ---- following the model ----

void FormRenderer::OnModelChange(const FormModel::Notification& n) {
  auto it = bound_.find(n.control.name);
  if (it == bound_.end()) return;
  const Control& c = n.control;
  Bound& b = it->second;
  SyncScope sync(syncing_);
  switch (n.change) {
    case ChangeKind::Caption:
      ApplyCaption(c, b);
      break;
    case ChangeKind::Hint:
      if (b.hwnd != nullptr && !c.hint.empty()) {
        std::wstring text = Widen(c.hint);
        if (tipped_.count(b.hwnd) != 0) {
          TTTOOLINFOW tool{};
          tool.cbSize = sizeof tool;
          tool.hwnd = window_;
          tool.uId = reinterpret_cast<UINT_PTR>(b.hwnd);
          tool.lpszText = text.data();
          SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
        } else {
          AddTooltip(b.hwnd, c.hint);
        }
      }
      break;
    case ChangeKind::Items:
    case ChangeKind::ItemsAppended:
    case ChangeKind::Checks:
      ApplyItems(c, b, n.change, n.count);
      break;
    case ChangeKind::ItemIndex:
      ApplyItemIndex(c, b);
      break;
    case ChangeKind::Visible:
      if (c.kind == K::Form) {
        if (c.visible) {
          ShowWindow();
        } else {
          ::ShowWindow(window_, SW_HIDE);
        }
      } else if (c.kind == K::MenuItem) {
        // Menus show every item; a hidden item is left out by being greyed.
        auto parent = bound_.find(c.parent);
        if (parent != bound_.end() && parent->second.menu != nullptr)
          EnableMenuItem(parent->second.menu, b.id,
                         MF_BYCOMMAND | (c.visible && c.enabled ? MF_ENABLED : MF_GRAYED));
      } else if (b.hwnd != nullptr && c.kind != K::TabSheet) {
        ::ShowWindow(b.hwnd, c.visible ? SW_SHOWNA : SW_HIDE);
        ScheduleLayOut();
      }
      break;
    case ChangeKind::Enabled:
      if (c.kind == K::MenuItem) {
        auto parent = bound_.find(c.parent);
        if (parent != bound_.end() && parent->second.menu != nullptr)
          EnableMenuItem(parent->second.menu, b.id, MF_BYCOMMAND | (c.enabled ? MF_ENABLED : MF_GRAYED));
      } else if (b.hwnd != nullptr) {
        EnableWindow(b.hwnd, c.enabled ? TRUE : FALSE);
        InvalidateRect(b.hwnd, nullptr, TRUE);
      }
      break;
    case ChangeKind::Gauge:
      if (b.hwnd != nullptr) {
        SendMessageW(b.hwnd, PBM_SETRANGE32, static_cast<WPARAM>(c.minimum), c.maximum);
        SendMessageW(b.hwnd, PBM_SETPOS, static_cast<WPARAM>(c.position), 0);
      }
      break;
    case ChangeKind::Tree:
      if (b.hwnd != nullptr) FillTree(c, b.hwnd);
      break;
    case ChangeKind::Timer:
      FollowTimer(c, b);
      break;
  }
}

void FormRenderer::ApplyCaption(const Control& c, const Bound& b) {
  if (c.kind == K::MenuItem) {
    auto parent = bound_.find(c.parent);
    if (parent != bound_.end() && parent->second.menu != nullptr)
      ModifyMenuW(parent->second.menu, b.id, MF_BYCOMMAND | MF_STRING | (c.enabled ? 0u : MF_GRAYED), b.id,
                  LiteralText(c.caption).c_str());
    return;
  }
  if (b.hwnd == nullptr) {
    // A tab sheet's caption is its tab's text.
    return;
  }
  switch (c.kind) {
    case K::Form:
      SetWindowTextW(b.hwnd, Widen(c.caption).c_str());
      return;
    case K::TabSheet: {
      const Control& pageControl = model_.Get(c.parent);
      const std::vector<Page>& pages = pages_[pageControl.name];
      for (std::size_t tab = 0; tab < pages.size(); ++tab) {
        if (pages[tab].sheet != c.name) continue;
        std::wstring text = LiteralText(c.caption);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        SendMessageW(bound_[pageControl.name].decor, TCM_SETITEMW, tab, reinterpret_cast<LPARAM>(&item));
      }
      ScheduleLayOut();
      return;
    }
    case K::GroupBox:
      SetWindowTextW(b.decor, LiteralText(c.caption).c_str());
      return;
    case K::Label:
    case K::LinkLabel:
    case K::SpeedButton:
    case K::ArrowButton:
      SetWindowTextW(b.hwnd, Widen(c.caption).c_str());
      InvalidateRect(b.hwnd, nullptr, TRUE);
      ScheduleLayOut();  // a longer text may need a wider control
      return;
    case K::Button:
      SetWindowTextW(b.hwnd, LiteralText(c.caption).c_str());
      return;
    case K::Edit: {
      const std::wstring text = Widen(c.caption);
      if (WindowText(b.hwnd) != text) SetWindowTextW(b.hwnd, text.c_str());
      return;
    }
    case K::ComboBox:
    case K::UnicodeComboBox:
      InvalidateRect(b.hwnd, nullptr, TRUE);  // the design text shows while no item is chosen
      // The text names an item: show that item.
      if (c.itemIndex >= 0 && static_cast<std::size_t>(c.itemIndex) < c.items.size() &&
          c.items[static_cast<std::size_t>(c.itemIndex)] == c.caption)
        SendMessageW(b.hwnd, CB_SETCURSEL, static_cast<WPARAM>(c.itemIndex), 0);
      return;
    default:
      return;
  }
}

void FormRenderer::ApplyItems(const Control& c, const Bound& b, ChangeKind change, std::size_t count) {
  if (b.hwnd == nullptr) return;
  if (IsList(c.kind)) {
    const int rows = static_cast<int>(c.items.size());
    if (change == ChangeKind::Checks) {
      InvalidateRect(b.hwnd, nullptr, FALSE);
    } else if (change == ChangeKind::ItemsAppended) {
      // A reader who scrolled up is left where he is; otherwise the newest row stays in sight.
      const int before = rows - static_cast<int>(count);
      const bool atEnd = ListView_GetTopIndex(b.hwnd) + ListView_GetCountPerPage(b.hwnd) >= before;
      ListView_SetItemCountEx(b.hwnd, rows, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
      if (atEnd && rows > 0) ListView_EnsureVisible(b.hwnd, rows - 1, FALSE);
    } else {
      ListView_SetItemCountEx(b.hwnd, rows, 0);
      InvalidateRect(b.hwnd, nullptr, TRUE);
      ApplyItemIndex(c, b);
    }
  } else if (IsCombo(c.kind)) {
    if (change != ChangeKind::Checks) FillCombo(c, b.hwnd);
  } else if (c.kind == K::Memo) {
    std::wstring text;
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      if (i > 0) text += L"\r\n";
      text += Widen(c.items[i]);
    }
    SetWindowTextW(b.hwnd, text.c_str());
  }
}

void FormRenderer::ApplyItemIndex(const Control& c, const Bound& b) {
  if (b.hwnd == nullptr) return;
  if (c.kind == K::PageControl) {
    ShowPage(c.name);
  } else if (IsCombo(c.kind)) {
    SendMessageW(b.hwnd, CB_SETCURSEL, static_cast<WPARAM>(c.itemIndex), 0);
  } else if (IsList(c.kind)) {
    ListView_SetItemState(b.hwnd, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (c.itemIndex >= 0) {
      ListView_SetItemState(b.hwnd, c.itemIndex, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
      ListView_EnsureVisible(b.hwnd, c.itemIndex, FALSE);
    }
  }
}

void FormRenderer::FillCombo(const Control& c, HWND combo) {
  SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : c.items)
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(c.itemIndex), 0);
  SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(combo, nullptr, TRUE);
}

void FormRenderer::FillTree(const Control& c, HWND tree) {
  SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
  TreeView_DeleteAllItems(tree);
  AddTreeNodes(tree, TVI_ROOT, c.tree, 0);
  SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(tree, nullptr, TRUE);
}

void FormRenderer::FollowTimer(const Control& c, const Bound& b) {
  if (window_ == nullptr) return;
  if (c.enabled && c.interval > 0) {
    SetTimer(window_, b.id, static_cast<UINT>(c.interval), nullptr);
  } else {
    KillTimer(window_, b.id);
  }
}

}  // namespace win32ui
