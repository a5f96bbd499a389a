#include "ui/win32/win32_renderer.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>

#include "ui/win32/win32_renderer_parts.h"
#include "ui/win32/win32_text.h"

namespace win32ui {

using namespace detail;

namespace detail {

HFONT MakeFont(int height, bool bold, bool underline) {
  return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline ? TRUE : FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

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

}  // namespace detail

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
  fixedListFont_ = CreateFontW(-kListFontPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN,
                               L"Courier New");
  fonts_ = {baseFont_, actionFont_, linkFont_, listFont_, headlineFont_, operationFont_, fixedListFont_};
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
    AppendMenuW(parent->second.menu, MF_STRING | (c->enabled ? 0u : MF_GRAYED), b.id, MenuItemText(c->caption, c->hint).c_str());
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
      ListView_SetItemCountEx(hwnd, static_cast<int>(ItemCount(c)), 0);
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
    font = c.fixedPitch ? fixedListFont_ : listFont_;
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

}  // namespace win32ui
