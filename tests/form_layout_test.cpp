// The look and placement rules every front end reads: which controls are drawn specially,
// how children dock, and the rectangles PlaceDocked gives them.
#include "base/form_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/window_layout.h"

namespace {

std::vector<std::string> Names(const std::vector<const Control*>& controls) {
  std::vector<std::string> names;
  for (const Control* c : controls) names.push_back(c->name);
  return names;
}

TEST(FormLayout, TheLooksAreDecidedInTheWindowModels) {
  FormModel main(kMainFormName);
  BuildMainForm(main);
  FormModel wait(kWaitFormName);
  BuildWaitForm(wait);
  std::map<std::string, ControlLook> special;
  for (const FormModel* form : {&main, &wait}) {
    for (const Control* c : form->Controls()) {
      if (c->look != ControlLook::Default) special[c->name] = c->look;
    }
  }
  const std::map<std::string, ControlLook> expected = {{"LogLbx", ControlLook::DarkList},
                                                       {"PacksChlbx", ControlLook::DarkList},
                                                       {"HWIDS2Installchb", ControlLook::DarkList},
                                                       {"HWIDsSimpleListBox", ControlLook::DarkList},
                                                       {"EqTreeView", ControlLook::DarkList},
                                                       {"CMDTemplb", ControlLook::DarkList},
                                                       {kWaitFormName, ControlLook::WaitWindow},
                                                       {"Label1", ControlLook::Headline},
                                                       {"UnpackingLbl", ControlLook::OperationLabel}};
  EXPECT_EQ(special, expected);
}

TEST(FormLayout, ChildrenDockByTheirAlignment) {
  FormModel main(kMainFormName);
  BuildMainForm(main);
  FormModel wait(kWaitFormName);
  BuildWaitForm(wait);
  struct Case {
    const FormModel* form;
    const char* parent;
    std::vector<std::string> tops, bottoms, lefts, rights, clients, flow;
    bool fills;
    int margin, spacing;
  };
  const std::vector<Case> cases = {
      {&main, kMainFormName, {}, {}, {}, {}, {"MainPageControle"}, {}, false, 0, 4},
      {&main, "TopHomePanel", {}, {}, {}, {"LanguageGroupBox"}, {"HomeGroupBox"}, {}, false, 1, 2},
      {&main, "Panel5", {}, {}, {"Label6"}, {"SaveLogbtn"}, {}, {}, false, 1, 2},
      {&main,
       "Hwids2installgb",
       {"Panel4"},
       {"HWIDSforWorkcbx", "HWIDSelectlb", "Label3"},
       {},
       {},
       {"HWIDS2Installchb"},
       {},
       false,
       4,
       2},
      {&main,
       "MainMenuPanel",
       {},
       {},
       {},
       {},
       {},
       {"EnumBtn", "UnpackJvArrowButton", "InstallDPbtn", "ChangeDPlocationbtn", "DeletePacksbtn"},
       false,
       1,
       2},
      // The status line has its row below the buttons: a long text never moves them.
      {&main,
       "Panel3",
       {},
       {"NodeNameLbl"},
       {},
       {},
       {},
       {"CollectHWIDsimpleButton", "CollectClassesBt", "SearchByHWIDSbtn", "InstallHWIDsbtn", "SaveHWIDSbtn",
        "SaveHWIDsSimpleButton", "Tree2XMLBtn", "XML2TreeBtn", "LoadHwidListBtn"},
       false,
       1,
       2},
      // Tab sheets belong to their page control; the hidden memo is still planned.
      {&main, "HWIDsPageControl", {}, {}, {}, {}, {}, {}, false, 4, 2},
      {&main,
       "HWIDsSimpleReportTabSheet",
       {},
       {},
       {},
       {},
       {"HWIDsSimpleListBox"},
       {"HWIDsSimpleTempMemo"},
       false,
       4,
       2},
      // Menus, dialogs and timers are not drawn; the progress window keeps a margin.
      {&wait,
       kWaitFormName,
       {"GroupBox1", "GroupBox2", "GroupBox3"},
       {},
       {},
       {},
       {"Label1"},
       {"CMDTemplb"},
       false,
       4,
       4},
      {&wait, "GroupBox2", {}, {}, {}, {}, {}, {"UnpackGauge"}, true, 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parent);
    const DockPlan plan = PlanDocking(*c.form, c.parent);
    EXPECT_EQ(Names(plan.tops), c.tops);
    EXPECT_EQ(Names(plan.bottoms), c.bottoms);
    EXPECT_EQ(Names(plan.lefts), c.lefts);
    EXPECT_EQ(Names(plan.rights), c.rights);
    EXPECT_EQ(Names(plan.clients), c.clients);
    EXPECT_EQ(Names(plan.flow), c.flow);
    EXPECT_EQ(plan.flowFillsWidth, c.fills);
    EXPECT_EQ(plan.margin, c.margin);
    EXPECT_EQ(plan.spacing, c.spacing);
  }
}

// A small container with every kind of docking; each preferred size is 30 x 10.
class PlaceTest : public ::testing::Test {
 protected:
  PlaceTest() : form_("F") {
    Add("F", ControlKind::Form, "", "", 0, 0);
    Add("P", ControlKind::Panel, "F", "", 0, 0);
  }
  Control& Add(const char* name, ControlKind kind, const char* parent, const char* align, int width,
               int height) {
    Control c;
    c.name = name;
    c.kind = kind;
    c.parent = parent;
    c.align = align;
    c.width = width;
    c.height = height;
    return form_.Add(std::move(c));
  }
  std::map<std::string, LayoutRect> Place(LayoutRect area) {
    const Placement p = PlaceDocked(PlanDocking(form_, "P"), area, [](const Control&, int) {
      return LayoutSize{30, 10};
    });
    needed_ = p.neededHeight;
    std::map<std::string, LayoutRect> rects;
    for (const auto& [control, rect] : p.rects) rects[control->name] = rect;
    return rects;
  }
  FormModel form_;
  int needed_ = 0;
};

TEST_F(PlaceTest, DocksOutermostFirstAndFillsTheRest) {
  Add("T1", ControlKind::Panel, "P", "top", 0, 20);
  Add("T2", ControlKind::Label, "P", "top", 0, 0);
  Add("B1", ControlKind::Panel, "P", "bottom", 0, 15);
  Add("B2", ControlKind::Panel, "P", "bottom", 0, 5);
  Add("L", ControlKind::Panel, "P", "left", 40, 0);
  Add("R1", ControlKind::Panel, "P", "right", 50, 0);
  Add("R2", ControlKind::SpeedButton, "P", "right", 20, 0);  // its caption needs 30
  Add("C", ControlKind::ListBox, "P", "client", 0, 0);
  Add("Gone", ControlKind::Gauge, "P", "top", 0, 99).visible = false;
  const auto rects = Place({10, 100, 300, 200});
  // Panels keep a margin of 1 and a gap of 2.
  const std::map<std::string, LayoutRect> expected = {
      {"T1", {11, 101, 298, 20}},  {"T2", {11, 123, 298, 10}}, {"B1", {11, 284, 298, 15}},
      {"B2", {11, 277, 298, 5}},   {"L", {11, 135, 40, 140}},  {"R1", {259, 135, 50, 140}},
      {"R2", {227, 135, 30, 140}}, {"C", {53, 135, 172, 140}},
  };
  EXPECT_EQ(rects, expected);
}

TEST_F(PlaceTest, UnalignedControlsFlowInRowsAboveTheClient) {
  Add("A", ControlKind::SpeedButton, "P", "", 40, 20);
  Add("B", ControlKind::SpeedButton, "P", "", 0, 0);
  Add("Cb", ControlKind::SpeedButton, "P", "", 0, 0);
  Add("List", ControlKind::ListBox, "P", "client", 0, 0);
  // 1 + 40 + 4 + 30 + 4 = 79: the third button does not fit into a width of 80 - 2 and wraps.
  const auto rects = Place({0, 0, 80, 100});
  EXPECT_EQ(rects.at("A"), (LayoutRect{1, 1, 40, 20}));
  EXPECT_EQ(rects.at("B"), (LayoutRect{45, 1, 30, 10}));
  EXPECT_EQ(rects.at("Cb"), (LayoutRect{1, 25, 30, 10}));
  EXPECT_EQ(rects.at("List"), (LayoutRect{1, 37, 78, 62}));
  // Wider, all three fit in one row and the needed height shrinks with it.
  const auto wide = Place({0, 0, 200, 100});
  EXPECT_EQ(wide.at("Cb"), (LayoutRect{79, 1, 30, 10}));
  // Margins, the row, the gap and the list at its preferred height.
  EXPECT_EQ(needed_, 1 + 20 + 2 + 10 + 1);
}

TEST_F(PlaceTest, ALoneUnalignedControlTakesTheWholeWidth) {
  Add("G", ControlKind::Gauge, "P", "", 0, 0);
  const auto rects = Place({0, 0, 120, 50});
  EXPECT_EQ(rects.at("G"), (LayoutRect{1, 1, 118, 10}));
  EXPECT_EQ(needed_, 12);
}

TEST_F(PlaceTest, AnAreaTooSmallGivesEmptyRectanglesNotNegativeOnes) {
  Add("T", ControlKind::Panel, "P", "top", 0, 50);
  Add("C", ControlKind::ListBox, "P", "client", 0, 0);
  for (const auto& [name, rect] : Place({0, 0, 1, 20})) {
    EXPECT_GE(rect.width, 0) << name;
    EXPECT_GE(rect.height, 0) << name;
  }
}

}  // namespace
