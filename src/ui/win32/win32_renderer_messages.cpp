// The Win32 renderer: the window messages of forms and controls, turned into the handlers
// the model names.
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
        if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= ItemCount(c)) return 0;
        const auto row = static_cast<std::size_t>(item.iItem);
        if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
          const std::wstring text = Widen(ShownItem(c, row));
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

}  // namespace win32ui
