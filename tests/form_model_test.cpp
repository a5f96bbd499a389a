// The window model: lookup by name, notifications, check marks and gauges.
#include <gtest/gtest.h>

#include "base/form_model.h"
#include "base/window_layout.h"

namespace {

Control MakeControl(const char* name, ControlKind kind) {
  Control c;
  c.name = name;
  c.kind = kind;
  return c;
}

TEST(FormModel, BothWindowsHoldTheirNamedControls) {
  FormModel main(kMainFormName);
  BuildMainForm(main);
  for (const char* name : {"LogLbx", "PacksChlbx", "EqTreeView", "Workdir", "CMDPackOutDired", "UnpackedDPlb",
                           "AutoCloseTimer", "UnpackDriverPacks2method1", "InvisSheet", "LanguageTntComboBox"}) {
    EXPECT_TRUE(main.Has(name)) << name;
  }
  EXPECT_FALSE(main.Get("InvisSheet").tabVisible);
  EXPECT_EQ(main.Caption("CMDUnpackMethoded"), "1");
  EXPECT_EQ(main.Caption("StopVolatileed"), "StopVolatileed");
  EXPECT_FALSE(main.Get("AutoCloseTimer").enabled);
  EXPECT_EQ(main.Get("AutoCloseTimer").interval, 10000);
  EXPECT_THROW(main.Get("NoSuchControl"), std::out_of_range);
  FormModel wait(kWaitFormName);
  BuildWaitForm(wait);
  EXPECT_EQ(wait.Caption(kWaitFormName), "Wait please");
  EXPECT_EQ(wait.Caption("UnpackingLbl"), "Processing");
}

TEST(FormModel, NotifiesChangesAndAppends) {
  FormModel f("F");
  f.Add(MakeControl("L", ControlKind::ListBox));
  std::vector<std::pair<ChangeKind, std::size_t>> seen;
  int id = f.Subscribe([&](const FormModel::Notification& n) { seen.emplace_back(n.change, n.count); });
  f.AppendItem("L", "a");
  f.AppendItems("L", {"b", "c"});
  f.SetCaption("L", "x");
  f.Unsubscribe(id);
  f.ClearItems("L");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], std::make_pair(ChangeKind::ItemsAppended, std::size_t{1}));
  EXPECT_EQ(seen[1], std::make_pair(ChangeKind::ItemsAppended, std::size_t{2}));
  EXPECT_EQ(seen[2].first, ChangeKind::Caption);
}

TEST(FormModel, GaugeStaysWithinItsRangeAndChecksFollowItems) {
  FormModel f("F");
  f.Add(MakeControl("G", ControlKind::Gauge));
  f.Add(MakeControl("C", ControlKind::CheckListBox));
  f.SetGaugeMax("G", 200);
  f.SetGaugePosition("G", 250);
  EXPECT_EQ(f.GaugePosition("G"), 200);
  f.SetGaugePosition("G", -5);
  EXPECT_EQ(f.GaugePosition("G"), 0);
  f.SetItems("C", {"a", "b"});
  f.SetChecked("C", 1, true);
  f.SetChecked("C", 7, true);  // out of range: ignored
  EXPECT_TRUE(f.Checked("C", 1));
  EXPECT_FALSE(f.Checked("C", 7));
  f.SetItems("C", {"a", "b", "c"});  // a new list starts unticked
  EXPECT_FALSE(f.Checked("C", 1));
}

}  // namespace

namespace {

// A list shows an item's own text where it has one, the item itself otherwise; replacing or
// editing the items drops the shown texts, appending keeps them.
TEST(FormModel, ShownTextsStandBesideTheItems) {
  FormModel form("F");
  form.Add(MakeControl("F", ControlKind::Form));
  form.Add(MakeControl("L", ControlKind::CheckListBox));
  int notices = 0;
  form.Subscribe([&](const FormModel::Notification& n) {
    if (n.change == ChangeKind::Items) ++notices;
  });
  form.SetItems("L", {"a:x:p", "b:x:p", "c:x:p"});
  form.SetChecked("L", 1, true);
  form.SetItemTexts("L", {"Device A", "", "Device C"});
  EXPECT_EQ(notices, 2);
  const Control& list = form.Get("L");
  EXPECT_EQ(ShownItem(list, 0), "Device A");
  EXPECT_EQ(ShownItem(list, 1), "b:x:p");
  EXPECT_EQ(ShownItem(list, 2), "Device C");
  EXPECT_TRUE(form.Checked("L", 1));
  form.AppendItem("L", "d:x:p");
  EXPECT_EQ(ShownItem(list, 3), "d:x:p");
  EXPECT_EQ(ShownItem(list, 0), "Device A");
  form.EditItems("L", [](std::vector<std::string>& items) { std::swap(items[0], items[2]); });
  EXPECT_EQ(ShownItem(list, 0), "c:x:p");
  form.SetItemTexts("L", {"Device C"});
  form.SetItems("L", {"e:x:p"});
  EXPECT_EQ(ShownItem(list, 0), "e:x:p");
}

}  // namespace

namespace {

// A list that holds its items compactly (the log) takes the same additions, replacements and
// notices as any list; its items are read as lines, and the functions that would hand out or edit
// an item vector refuse it rather than work on an empty one.
TEST(FormModel, ACompactListTakesItsItemsAsLines) {
  FormModel main(kMainFormName);
  BuildMainForm(main);
  EXPECT_TRUE(main.Get("LogLbx").compactItems);

  FormModel form("F");
  form.Add(MakeControl("F", ControlKind::Form));
  Control log = MakeControl("Log", ControlKind::UnicodeListBox);
  log.compactItems = true;
  form.Add(std::move(log));
  form.Add(MakeControl("Plain", ControlKind::ListBox));
  std::vector<std::pair<ChangeKind, std::size_t>> seen;
  form.Subscribe([&](const FormModel::Notification& n) { seen.emplace_back(n.change, n.count); });
  for (const char* name : {"Log", "Plain"}) {
    seen.clear();
    form.AppendItem(name, "a");
    form.AppendItems(name, {"", "b\xC3\xA4"});
    form.AppendItems(name, {});
    const Control& c = form.Get(name);
    ASSERT_EQ(ItemCount(c), 3u) << name;
    EXPECT_EQ(ItemAt(c, 0), "a") << name;
    EXPECT_EQ(ItemAt(c, 1), "") << name;
    EXPECT_EQ(ShownItem(c, 2), "b\xC3\xA4") << name;
    form.SetItemIndex(name, 2);
    EXPECT_EQ(form.ItemIndex(name), 2) << name;
    form.SetItemIndex(name, 3);  // past the end: no item marked
    EXPECT_EQ(form.ItemIndex(name), -1) << name;
    form.SetItemIndex(name, 2);
    form.SetItems(name, {"x", "y"});
    EXPECT_EQ(ItemCount(c), 2u) << name;
    EXPECT_EQ(ItemAt(c, 1), "y") << name;
    EXPECT_EQ(form.ItemIndex(name), -1) << name;  // the marked item is gone
    form.ClearItems(name);
    EXPECT_EQ(ItemCount(c), 0u) << name;
    const std::vector<std::pair<ChangeKind, std::size_t>> expected = {
        {ChangeKind::ItemsAppended, 1}, {ChangeKind::ItemsAppended, 2}, {ChangeKind::ItemIndex, 0},
        {ChangeKind::ItemIndex, 0},     {ChangeKind::ItemIndex, 0},     {ChangeKind::Items, 0},
        {ChangeKind::Items, 0}};
    EXPECT_EQ(seen, expected) << name;
  }
  form.AppendItem("Log", "kept");
  EXPECT_EQ(form.Lines("Log").ToVector(), std::vector<std::string>{"kept"});
  EXPECT_TRUE(form.Get("Log").items.empty());
  EXPECT_THROW(form.Items("Log"), std::logic_error);
  EXPECT_THROW(form.ItemsForWrite("Log"), std::logic_error);
  EXPECT_THROW(form.EditItems("Log", [](std::vector<std::string>&) {}), std::logic_error);
  EXPECT_THROW(form.SetItemTexts("Log", {"shown"}), std::logic_error);
  EXPECT_THROW(form.Lines("Plain"), std::logic_error);
  EXPECT_EQ(form.Lines("Log").ToVector(), std::vector<std::string>{"kept"});
}

}  // namespace
