// The Win32 renderer: following the model, each change copied into its window.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>

#include "ui/win32/win32_renderer.h"
#include "ui/win32/win32_renderer_parts.h"
#include "ui/win32/win32_text.h"

namespace win32ui {

using namespace detail;

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
                  MenuItemText(c.caption, c.hint).c_str());
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

void FormRenderer::FitListColumn(const Control& c, Bound& b, std::size_t firstNewItem) {
  if (firstNewItem == 0) {
    b.longestItem = 0;
    b.contentWidth = 0;
  }
  const std::size_t items = ItemCount(c);
  std::size_t longest = items;
  for (std::size_t i = firstNewItem; i < items; ++i) {
    const std::size_t length = ShownItem(c, i).size();
    if (length > b.longestItem) {
      b.longestItem = length;
      longest = i;
    }
  }
  if (longest < items) {
    HDC dc = GetDC(b.hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(b.hwnd, WM_GETFONT, 0, 0)));
    const std::wstring text = Widen(ShownItem(c, longest));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(b.hwnd, dc);
    // The check box and the padding of a row come before the text.
    b.contentWidth = static_cast<int>(size.cx) + (c.kind == K::CheckListBox ? 32 : 12);
  }
  RECT client;
  GetClientRect(b.hwnd, &client);
  ListView_SetColumnWidth(b.hwnd, 0, std::max({static_cast<int>(client.right), b.contentWidth, 50}));
}

void FormRenderer::ApplyItems(const Control& c, Bound& b, ChangeKind change, std::size_t count) {
  if (b.hwnd == nullptr) return;
  if (IsList(c.kind)) {
    const std::size_t items = ItemCount(c);
    const int rows = static_cast<int>(items);
    if (change != ChangeKind::Checks) {
      FitListColumn(c, b, change == ChangeKind::ItemsAppended && count <= items ? items - count : 0);
    }
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
