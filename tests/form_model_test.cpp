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
