// The Win32 renderer: placing the controls of a form from the model's layout rules.
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
        ListView_SetColumnWidth(b.hwnd, 0, std::max({static_cast<int>(client.right), b.contentWidth, 50}));
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

}  // namespace win32ui
