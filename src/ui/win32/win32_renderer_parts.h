// The Win32 renderer's inner parts, shared by its files: win32_renderer.cpp (window classes,
// construction, showing), win32_renderer_placing.cpp, win32_renderer_messages.cpp and
// win32_renderer_model.cpp (following the model).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/form_model.h"
#include "base/sync_scope.h"
#include "base/tree_node.h"

namespace win32ui::detail {

using K = ControlKind;

inline constexpr const wchar_t* kFormClass = L"VelmoraForm";
inline constexpr const wchar_t* kContainerClass = L"VelmoraContainer";
// Posted to a form: run the activation handler outside the activation message; place the
// controls again once a burst of changes is over.
inline constexpr UINT kActivateMessage = WM_APP + 1;
inline constexpr UINT kLayOutMessage = WM_APP + 2;

inline constexpr COLORREF kLinkBlue = RGB(0, 0, 255);
inline constexpr COLORREF kLime = RGB(0, 255, 0);
inline constexpr COLORREF kDark = RGB(0, 0, 0);
inline constexpr COLORREF kMaroon = RGB(128, 0, 0);
inline constexpr COLORREF kAqua = RGB(0, 255, 255);
inline constexpr COLORREF kNavy = RGB(0, 0, 128);
inline constexpr COLORREF kRed = RGB(255, 0, 0);
inline constexpr COLORREF kSelectedRow = RGB(0, 128, 0);

// Text heights in pixels: ordinary controls, the dark lists (in rows of 16) and the progress
// window's labels. The headline's 37 counts the whole line, as a positive font height does.
inline constexpr int kBaseFontPixels = 11;
inline constexpr int kListFontPixels = 13;
inline constexpr int kListRowPixels = 16;
inline constexpr int kOperationFontPixels = 13;
inline constexpr int kHeadlinePixels = 37;
inline constexpr int kArrowWidth = 16;      // the arrow part of an arrow button
inline constexpr int kComboDropDown = 200;  // the height of a combo box's open list

inline bool IsList(K kind) {
  return kind == K::ListBox || kind == K::UnicodeListBox || kind == K::CheckListBox;
}
inline bool IsCombo(K kind) { return kind == K::ComboBox || kind == K::UnicodeComboBox; }
inline bool IsActionButton(K kind) { return kind == K::SpeedButton || kind == K::ArrowButton; }

HFONT MakeFont(int height, bool bold, bool underline);

std::wstring WindowText(HWND hwnd);

// The tree nodes below `parent`, the first level open.
void AddTreeNodes(HWND tree, HTREEITEM parent, const std::vector<std::unique_ptr<TreeNode>>& nodes,
                  int depth);

}  // namespace win32ui::detail
