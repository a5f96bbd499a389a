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
