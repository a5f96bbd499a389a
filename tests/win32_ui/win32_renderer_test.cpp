// The Win32 renderer over a small window model: the model's changes reach the windows, user
// events reach the model and the handler named in the control, pages, virtual lists, layout.
#include <algorithm>
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>
#include <vector>

#include "base/tree_node.h"
#include "ui/win32/win32_renderer.h"
#include "ui/win32/win32_text.h"

namespace {

using K = ControlKind;
using win32ui::FormRenderer;

void Pump(DWORD ms = 0) {
  const DWORD start = GetTickCount();
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (ms > 0) Sleep(5);
  } while (GetTickCount() - start < ms);
}

std::wstring Text(HWND hwnd) {
  wchar_t buffer[512] = {};
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

RECT Rect(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  return r;
}

class RendererTest : public ::testing::Test {
 protected:
  RendererTest() : form_("F") {
    Add(K::Form, "F", "", "Window").width = 500;
    form_.Get("F");
    Control& f = const_cast<Control&>(form_.Get("F"));
    f.height = 300;
    f.onChange = "Activated";
    Control& top = Add(K::Panel, "Top", "F");
    top.align = "top";
    top.height = 40;
    Add(K::SpeedButton, "Go", "Top", "Go", "GoClick");
    Add(K::ArrowButton, "Unpack", "Top", "Unpack", "UnpackClick").popupMenu = "Menu";
    Add(K::LinkLabel, "Link", "Top", "Select All", "LinkClick");
    Add(K::ComboBox, "Combo", "Top", "HWIDS").onChange = "ComboChange";
    Add(K::Edit, "Edit", "Top", "text");
    Add(K::Gauge, "Gauge", "Top");
    Control& right = Add(K::SpeedButton, "Save", "F", "Save", "SaveClick");
    right.align = "right";
    right.width = 60;
    Add(K::PageControl, "Pages", "F").align = "client";
    Add(K::TabSheet, "One", "Pages", "First page");
    Control& list = Add(K::CheckListBox, "Checks", "One");
    list.align = "client";
    list.look = ControlLook::DarkList;
    Add(K::TreeView, "Tree", "One", "", "TreeClick").align = "client";
    Add(K::TabSheet, "Two", "Pages", "Second page");
    Add(K::UnicodeListBox, "Log", "Two").align = "client";
    Add(K::TabSheet, "Hidden", "Pages", "Hidden").tabVisible = false;
    Add(K::Edit, "Secret", "Hidden");
    Add(K::PopupMenu, "Menu", "F");
    Add(K::MenuItem, "Item1", "Menu", "Method 1", "Item1Click");
    Control& timer = Add(K::Timer, "Timer", "F", "", "Tick");
    timer.enabled = false;
    timer.interval = 30;
    renderer_ = std::make_unique<FormRenderer>(form_, [this](const std::string& handler) {
      handled_.push_back(handler);
      // What the model holds when the handler runs.
      comboAtHandler_ = form_.Caption("Combo");
    });
    renderer_->ShowWindow();
    Pump(50);
    handled_.clear();
  }
  ~RendererTest() override { renderer_.reset(); }

  Control& Add(K kind, const char* name, const char* parent, const char* caption = "",
               const char* onClick = "") {
    Control c;
    c.kind = kind;
    c.name = name;
    c.parent = parent;
    c.caption = caption;
    c.onClick = onClick;
    return form_.Add(std::move(c));
  }
  HWND H(const char* name) { return renderer_->Handle(name); }
  // A notification as the control sends it to the window it sits in.
  void Command(const char* name, UINT code) {
    HWND hwnd = H(name);
    SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code),
                 reinterpret_cast<LPARAM>(hwnd));
  }

  FormModel form_;
  std::unique_ptr<FormRenderer> renderer_;
  std::vector<std::string> handled_;
  std::string comboAtHandler_;
};

TEST_F(RendererTest, UserEventsRunTheHandlerNamedInTheirControl) {
  struct Case {
    const char* control;
    UINT code;
    const char* handler;
  };
  for (const Case& c : {Case{"Go", BN_CLICKED, "GoClick"}, Case{"Save", BN_CLICKED, "SaveClick"},
                        Case{"Link", STN_CLICKED, "LinkClick"}, Case{"Unpack", BN_CLICKED, "UnpackClick"}}) {
    SCOPED_TRACE(c.control);
    handled_.clear();
    Command(c.control, c.code);
    EXPECT_EQ(handled_, std::vector<std::string>{c.handler});
  }
  // Notifications that are no clicks run nothing.
  handled_.clear();
  Command("Go", BN_SETFOCUS);
  Command("Link", STN_DBLCLK);
  EXPECT_TRUE(handled_.empty());
}

TEST_F(RendererTest, AChosenComboItemReachesTheModelBeforeTheHandler) {
  form_.SetItems("Combo", {"PCI\\VEN_8086", "USB\\VID_046D"});
  SendMessageW(H("Combo"), CB_SETCURSEL, 1, 0);
  Command("Combo", CBN_SELCHANGE);
  EXPECT_EQ(form_.ItemIndex("Combo"), 1);
  EXPECT_EQ(handled_, std::vector<std::string>{"ComboChange"});
  EXPECT_EQ(comboAtHandler_, "USB\\VID_046D");
  // The model choosing an item is no user event.
  handled_.clear();
  form_.SetItemIndex("Combo", 0);
  EXPECT_EQ(SendMessageW(H("Combo"), CB_GETCURSEL, 0, 0), 0);
  EXPECT_TRUE(handled_.empty());
}

TEST_F(RendererTest, ModelChangesReachTheWindows) {
  form_.SetCaption("Go", "Los geht's & weiter");
  EXPECT_EQ(Text(H("Go")), L"Los geht's & weiter");
  form_.SetCaption("F", "Fenster Größe");
  EXPECT_EQ(Text(renderer_->Window()), L"Fenster Gr\u00f6\u00dfe");
  form_.SetCaption("Edit", "typed");
  EXPECT_EQ(Text(H("Edit")), L"typed");
  form_.SetVisible("Link", false);
  EXPECT_FALSE(IsWindowVisible(H("Link")));
  form_.SetVisible("Link", true);
  EXPECT_TRUE(IsWindowVisible(H("Link")));
  form_.SetEnabled("Go", false);
  EXPECT_FALSE(IsWindowEnabled(H("Go")));
  form_.SetGaugeMax("Gauge", 10);
  form_.SetGaugePosition("Gauge", 7);
  EXPECT_EQ(SendMessageW(H("Gauge"), PBM_GETPOS, 0, 0), 7);
  EXPECT_EQ(SendMessageW(H("Gauge"), PBM_GETRANGE, FALSE, 0), 10);
  // Typing into an edit reaches the model.
  SetWindowTextW(H("Edit"), L"\u00e4nderung");
  EXPECT_EQ(form_.Caption("Edit"), "\xc3\xa4nderung");
}

TEST_F(RendererTest, ListsAreVirtualAndShowTheModelsRowsAndChecks) {
  HWND list = H("Checks");
  form_.SetItems("Checks", {"DP_LAN.7z",
                            "DP_Gr\xc3\xb6\xc3\x9f"
                            "e.7z"});
  std::vector<std::string> many(100000, "line");
  form_.AppendItems("Checks", many);
  EXPECT_EQ(ListView_GetItemCount(list), 100002);
  wchar_t text[64] = {};
  LVITEMW item{};
  item.pszText = text;
  item.cchTextMax = 64;
  SendMessageW(list, LVM_GETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&item));
  EXPECT_STREQ(text, L"DP_Gr\u00f6\u00dfe.7z");
  form_.SetChecked("Checks", 1, true);
  EXPECT_EQ(ListView_GetItemState(list, 1, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2u));
  EXPECT_EQ(ListView_GetItemState(list, 0, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1u));
  // The space bar toggles the selected row's check mark in the model.
  form_.SetItemIndex("Checks", 0);
  NMLVKEYDOWN key{};
  key.hdr.hwndFrom = list;
  key.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list));
  key.hdr.code = LVN_KEYDOWN;
  key.wVKey = VK_SPACE;
  SendMessageW(GetParent(list), WM_NOTIFY, key.hdr.idFrom, reinterpret_cast<LPARAM>(&key));
  EXPECT_TRUE(form_.Checked("Checks", 0));
  EXPECT_TRUE(form_.Checked("Checks", 1));
  // A selection made in the window is the model's item index.
  ListView_SetItemState(list, 5, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(form_.ItemIndex("Checks"), 5);
  form_.ClearItems("Checks");
  EXPECT_EQ(ListView_GetItemCount(list), 0);
}

// A list shows an item's shown text where it has one, and its one column is as wide as its
// longest line, so a line longer than the list scrolls sideways instead of being cut.
TEST_F(RendererTest, ListsShowShownTextsAndScrollSidewaysToLongLines) {
  HWND list = H("Checks");
  RECT client;
  GetClientRect(list, &client);
  form_.SetItems("Checks", {"short", "PCI\\VEN_1:found in driver pack:a.7z"});
  form_.SetItemTexts("Checks", {"", "Network card  |  N/1/net.inf  |  a.7z"});
  wchar_t text[64] = {};
  LVITEMW item{};
  item.pszText = text;
  item.cchTextMax = 64;
  SendMessageW(list, LVM_GETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&item));
  EXPECT_STREQ(text, L"Network card  |  N/1/net.inf  |  a.7z");
  EXPECT_LE(ListView_GetColumnWidth(list, 0), std::max(static_cast<int>(client.right), 50) + 1);
  form_.AppendItem("Checks", std::string(400, 'W'));
  EXPECT_GT(ListView_GetColumnWidth(list, 0), static_cast<int>(client.right) + 100);
  form_.SetItems("Checks", {"short"});
  EXPECT_LE(ListView_GetColumnWidth(list, 0), std::max(static_cast<int>(client.right), 50) + 1);
}

TEST_F(RendererTest, PagesWithATabAreShownAsTheModelSays) {
  HWND tabs = nullptr;
  // The tab strip is the page control window's first child.
  tabs = GetWindow(H("Pages"), GW_CHILD);
  while (tabs != nullptr) {
    wchar_t cls[64] = {};
    GetClassNameW(tabs, cls, 64);
    if (std::wstring(cls) == WC_TABCONTROLW) break;
    tabs = GetWindow(tabs, GW_HWNDNEXT);
  }
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(TabCtrl_GetItemCount(tabs), 2);
  EXPECT_EQ(renderer_->TabbedPages("Pages"), (std::vector<int>{0, 1}));
  // A page without a tab gets no windows, nor do its controls.
  EXPECT_EQ(H("Hidden"), nullptr);
  EXPECT_EQ(H("Secret"), nullptr);
  // No page named: the first tab shows.
  EXPECT_TRUE(IsWindowVisible(H("One")));
  form_.SetItemIndex("Pages", 1);
  EXPECT_EQ(TabCtrl_GetCurSel(tabs), 1);
  EXPECT_TRUE(IsWindowVisible(H("Two")));
  EXPECT_FALSE(IsWindowVisible(H("One")));
  // A tab chosen by the user is the model's page.
  TabCtrl_SetCurSel(tabs, 0);
  NMHDR change{tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)), static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageW(GetParent(tabs), WM_NOTIFY, change.idFrom, reinterpret_cast<LPARAM>(&change));
  EXPECT_EQ(form_.ItemIndex("Pages"), 0);
  EXPECT_TRUE(IsWindowVisible(H("One")));
}

TEST_F(RendererTest, ControlsDockAndALongerCaptionWidensAButton) {
  const RECT window = Rect(renderer_->Window());
  RECT client;
  GetClientRect(renderer_->Window(), &client);
  POINT origin{0, 0};
  ClientToScreen(renderer_->Window(), &origin);
  (void)window;
  // The main window's children sit at its edges: the top panel spans it, the right button
  // ends at its right edge, the page control fills what is left.
  EXPECT_EQ(Rect(H("Top")).left, origin.x);
  EXPECT_EQ(Rect(H("Top")).right, origin.x + client.right);
  EXPECT_EQ(Rect(H("Top")).bottom - Rect(H("Top")).top, 40);
  EXPECT_EQ(Rect(H("Save")).right, origin.x + client.right);
  EXPECT_EQ(Rect(H("Save")).right - Rect(H("Save")).left, 60);
  EXPECT_LT(Rect(H("Pages")).right, Rect(H("Save")).left);
  // Flowing controls do not overlap, also after a caption grew.
  form_.SetCaption("Go", "A much longer caption than before");
  Pump(50);
  EXPECT_GT(Rect(H("Go")).right - Rect(H("Go")).left, 150);
  EXPECT_LE(Rect(H("Go")).right, Rect(H("Unpack")).left);
}

TEST_F(RendererTest, AClickOnATreeNodeHandsItsTextToTheHandler) {
  TreeRoots& roots = form_.Tree("Tree");
  auto root = std::make_unique<TreeNode>();
  root->text = "Display adapters";
  auto child = std::make_unique<TreeNode>();
  child->text = "PCI\\VEN_1234&DEV_1111";
  root->children.push_back(std::move(child));
  roots.push_back(std::move(root));
  form_.TreeChanged("Tree");
  HWND tree = H("Tree");
  ASSERT_EQ(TreeView_GetCount(tree), 2u);
  // The classes open, their devices folded: the child is the second visible row.
  HTREEITEM first = TreeView_GetRoot(tree);
  HTREEITEM second = TreeView_GetNextVisible(tree, first);
  ASSERT_NE(second, nullptr);
  const auto click = [&](HTREEITEM node) {
    RECT r;
    TreeView_GetItemRect(tree, node, &r, TRUE);
    POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(tree, &centre);
    SetCursorPos(centre.x, centre.y);
    // The click's position is the one of the last message taken from the queue.
    PostMessageW(tree, WM_NULL, 0, 0);
    Pump();
    NMHDR note{tree, static_cast<UINT_PTR>(GetDlgCtrlID(tree)), static_cast<UINT>(NM_CLICK)};
    SendMessageW(GetParent(tree), WM_NOTIFY, note.idFrom, reinterpret_cast<LPARAM>(&note));
  };
  click(second);
  EXPECT_EQ(form_.Caption("Tree"), "PCI\\VEN_1234&DEV_1111");
  click(first);
  click(first);  // a second click on the chosen node runs the handler again
  EXPECT_EQ(form_.Caption("Tree"), "Display adapters");
  EXPECT_EQ(handled_, (std::vector<std::string>{"TreeClick", "TreeClick", "TreeClick"}));
}

TEST_F(RendererTest, AnEnabledTimerRunsItsHandler) {
  Pump(100);
  EXPECT_TRUE(handled_.empty());
  form_.SetEnabled("Timer", true);
  Pump(200);
  ASSERT_FALSE(handled_.empty());
  EXPECT_EQ(handled_.front(), "Tick");
  form_.SetEnabled("Timer", false);
  Pump(50);
  handled_.clear();
  Pump(150);
  EXPECT_TRUE(handled_.empty());
}

TEST_F(RendererTest, ActivationRunsTheFormsHandlerOnceAtATime) {
  renderer_->Activate();
  EXPECT_EQ(handled_, std::vector<std::string>{"Activated"});
}

}  // namespace
