// The widgets built for the window models: one per shown control, kept in step with the
// model, every user event handed to the handler named in its control.
#include "ui/qt/form_renderer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/form_model.h"
#include "app/window_layout.h"
#include "ui/qt/item_list_model.h"
#include "ui/qt/item_list_view.h"

namespace {

using K = ControlKind;

bool HasWidgetKind(K kind) {
  switch (kind) {
    case K::Form:
    case K::PopupMenu:
    case K::MenuItem:
    case K::Timer:
    case K::SaveDialog:
    case K::OpenDialog:
    case K::XmlDocument:
      return false;
    default:
      return true;
  }
}

// True when the control lies on a page that never gets a tab.
bool OnTablessPage(const FormModel& model, const Control& control) {
  for (std::string parent = control.parent; !parent.empty(); parent = model.Get(parent).parent) {
    const Control& p = model.Get(parent);
    if (p.kind == K::TabSheet && !p.tabVisible) return true;
  }
  return control.kind == K::TabSheet && !control.tabVisible;
}

// A main window and a progress window over their models, with every handler call recorded.
class RendererTest : public ::testing::Test {
 protected:
  RendererTest() : main_(kMainFormName), wait_(kWaitFormName) {
    BuildMainForm(main_);
    BuildWaitForm(wait_);
    mainView_ = std::make_unique<FormRenderer>(main_, Recorder());
    waitView_ = std::make_unique<FormRenderer>(wait_, Recorder(), mainView_->Window());
  }

  HandlerInvoker Recorder() {
    return [this](const std::string& handler) {
      calls_.push_back(handler);
      if (onCall_) onCall_(handler);
    };
  }

  template <typename T>
  T* MainWidget(const std::string& name) {
    auto* widget = qobject_cast<T*>(mainView_->Widget(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  FormModel main_;
  FormModel wait_;
  std::vector<std::string> calls_;
  std::function<void(const std::string&)> onCall_;
  std::unique_ptr<FormRenderer> mainView_;
  std::unique_ptr<FormRenderer> waitView_;
};

TEST_F(RendererTest, EveryControlOfAShownPageHasAWidgetInItsModelState) {
  for (auto [model, view] : {std::pair{&main_, mainView_.get()}, std::pair{&wait_, waitView_.get()}}) {
    int checked = 0;
    for (const Control* c : model->Controls()) {
      if (!HasWidgetKind(c->kind)) continue;
      QWidget* widget = view->Widget(c->name);
      if (OnTablessPage(*model, *c)) {
        EXPECT_EQ(widget, nullptr) << c->name << " lies on a page without a tab";
        continue;
      }
      ASSERT_NE(widget, nullptr) << c->name;
      EXPECT_EQ(widget->objectName().toStdString(), c->name);
      // Pages are shown and hidden by their page control; everything else follows the model.
      if (c->kind != K::TabSheet) {
        EXPECT_EQ(!widget->isHidden(), c->visible) << c->name;
      }
      ++checked;
    }
    EXPECT_GT(checked, 0);
  }
  for (const char* item : {"UnpackDriverPacks1", "UnpackDriverPacks2method1"}) {
    EXPECT_NE(mainView_->Action(item), nullptr) << item;
  }
  EXPECT_NE(mainView_->Timer("AutoCloseTimer"), nullptr);
  EXPECT_FALSE(mainView_->Timer("AutoCloseTimer")->isActive());
}

TEST_F(RendererTest, TheHiddenPageNeverGetsATab) {
  auto* tabs = MainWidget<QTabWidget>("MainPageControle");
  ASSERT_EQ(tabs->count(), 4);
  for (int i = 0; i < tabs->count(); ++i) EXPECT_NE(tabs->tabText(i), QStringLiteral("InvisSheet"));
  EXPECT_EQ(mainView_->TabbedPages("MainPageControle"), (std::vector<int>{0, 1, 2, 3}));

  main_.SetItemIndex("MainPageControle", 2);
  EXPECT_EQ(tabs->currentWidget(), mainView_->Widget("EqSheet"));
  // Asking for the hidden page changes nothing on screen.
  main_.SetItemIndex("MainPageControle", 4);
  EXPECT_EQ(tabs->currentWidget(), mainView_->Widget("EqSheet"));
  EXPECT_EQ(mainView_->Widget("InvisSheet"), nullptr);
  EXPECT_EQ(mainView_->Widget("StopVolatileed"), nullptr);
}

TEST_F(RendererTest, TheUserChoosingATabSetsThePageIndex) {
  auto* tabs = MainWidget<QTabWidget>("MainPageControle");
  main_.SetItemIndex("MainPageControle", 0);
  tabs->setCurrentWidget(mainView_->Widget("AboutSheet"));
  EXPECT_EQ(main_.ItemIndex("MainPageControle"), 3);
  EXPECT_TRUE(calls_.empty());
}

TEST_F(RendererTest, ClicksRunTheHandlerNamedInTheControl) {
  mainView_->Window()->show();
  struct Case {
    const char* control;
    int page;
    const char* handler;
  };
  for (const Case& c :
       {Case{"UnpackInstallTntSpeedButton", 0, "UnpackInstallTntSpeedButtonClick"},
        Case{"SaveLogbtn", 0, "SaveLogbtnClick"}, Case{"Label6", 0, "sClick"},
        Case{"EnumBtn", 1, "EnumBtnClick"}, Case{"UnpackJvArrowButton", 1, "UnpackJvArrowButtonClick"},
        Case{"PackNameLbl", 1, "PackNameLblClick"}, Case{"HWIDSlabel", 2, "HWIDSlabelClick"},
        Case{"Label3", 2, "HWIDSelectlbClick"}, Case{"Tree2XMLBtn", 2, "Tree2XMLBtnClick"},
        Case{"Label5", 3, "Label5Click"}}) {
    main_.SetItemIndex("MainPageControle", c.page);
    QWidget* widget = mainView_->Widget(c.control);
    ASSERT_NE(widget, nullptr) << c.control;
    calls_.clear();
    // Near the left edge: on the arrow button that is its face, not its arrow.
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(4, widget->height() / 2));
    EXPECT_EQ(calls_, std::vector<std::string>{c.handler}) << c.control;
  }
}

TEST_F(RendererTest, TheArrowButtonsMenuItemsRunTheirHandlers) {
  auto* arrow = MainWidget<QToolButton>("UnpackJvArrowButton");
  ASSERT_NE(arrow->menu(), nullptr);
  EXPECT_EQ(arrow->popupMode(), QToolButton::MenuButtonPopup);
  ASSERT_EQ(arrow->menu()->actions().size(), 2);
  arrow->menu()->actions().at(0)->trigger();
  arrow->menu()->actions().at(1)->trigger();
  EXPECT_EQ(calls_, (std::vector<std::string>{"UnpackDriverPacks1Click", "UnpackDriverPacks2method1Click"}));
}

TEST_F(RendererTest, AComboChoiceReachesTheModelBeforeTheHandlerRuns) {
  struct Case {
    const char* combo;
    const char* handler;
  };
  for (const Case& c : {Case{"LanguageNameTntComboBox", "LanguageNameTntComboBoxChange"},
                        Case{"HWIDSforWorkcbx", "HWIDSforWorkcbxSelect"}}) {
    main_.SetItems(c.combo, {"first", "second", "third"});
    main_.SetItemIndex(c.combo, 0);
    main_.SetCaption(c.combo, "first");
    EXPECT_TRUE(calls_.empty()) << "a change made by the program is no user choice";

    int seenIndex = -1;
    std::string seenCaption;
    onCall_ = [&](const std::string&) {
      seenIndex = main_.ItemIndex(c.combo);
      seenCaption = main_.Caption(c.combo);
    };
    auto* combo = MainWidget<QComboBox>(c.combo);
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(calls_, std::vector<std::string>{c.handler});
    EXPECT_EQ(seenIndex, 1);
    EXPECT_EQ(seenCaption, "second");
    onCall_ = nullptr;
    calls_.clear();
  }
}

TEST_F(RendererTest, ComboShowsTheModelsItemsAndSelection) {
  auto* combo = MainWidget<QComboBox>("HWIDSforWorkcbx");
  EXPECT_EQ(combo->placeholderText(), QStringLiteral("HWIDS"));
  main_.SetItems("HWIDSforWorkcbx", {"PCI\\VEN_8086", "USB\\VID_046D"});
  main_.AppendItem("HWIDSforWorkcbx", "ACPI\\PNP0A08");
  ASSERT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(2), QStringLiteral("ACPI\\PNP0A08"));
  main_.SetItemIndex("HWIDSforWorkcbx", 1);
  EXPECT_EQ(combo->currentIndex(), 1);
  main_.ClearItems("HWIDSforWorkcbx");
  EXPECT_EQ(combo->count(), 0);
  EXPECT_TRUE(calls_.empty());
}

TEST_F(RendererTest, UserTicksInACheckListGoToTheModel) {
  main_.SetItems("PacksChlbx", {"a.7z", "b.7z", "c.7z"});
  auto* view = MainWidget<ItemListView>("PacksChlbx");
  QAbstractItemModel* rows = view->model();
  ASSERT_EQ(rows->rowCount(), 3);
  EXPECT_TRUE(rows->flags(rows->index(1, 0)) & Qt::ItemIsUserCheckable);

  EXPECT_TRUE(rows->setData(rows->index(1, 0), Qt::Checked, Qt::CheckStateRole));
  EXPECT_FALSE(main_.Checked("PacksChlbx", 0));
  EXPECT_TRUE(main_.Checked("PacksChlbx", 1));

  // A click on a row's box, and the space bar on the marked row, tick and untick it.
  mainView_->Window()->show();
  main_.SetItemIndex("MainPageControle", 1);
  const QRect first = view->rowRect(0);
  ASSERT_FALSE(first.isEmpty());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(first.left() + 8, first.center().y()));
  EXPECT_TRUE(main_.Checked("PacksChlbx", 0));
  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_FALSE(main_.Checked("PacksChlbx", 0));
  // A click on the text marks the row without ticking it.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    QPoint(first.left() + 60, view->rowRect(2).center().y()));
  EXPECT_FALSE(main_.Checked("PacksChlbx", 2));
  EXPECT_EQ(main_.ItemIndex("PacksChlbx"), 2);

  main_.SetAllChecked("PacksChlbx", true);
  for (int row = 0; row < 3; ++row)
    EXPECT_EQ(rows->index(row, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_TRUE(calls_.empty());
}

TEST_F(RendererTest, ATreeClickNamesTheNodeThenRunsTheHandler) {
  mainView_->Window()->show();
  main_.SetItemIndex("MainPageControle", 2);
  TreeRoots& roots = main_.Tree("EqTreeView");
  TreeNode* display = roots.emplace_back(std::make_unique<TreeNode>()).get();
  display->text = "Display adapters";
  display->AddChild("PCI\\VEN_1234&DEV_1111");
  main_.TreeChanged("EqTreeView");

  auto* tree = MainWidget<QTreeWidget>("EqTreeView");
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  ASSERT_EQ(tree->topLevelItem(0)->childCount(), 1);
  tree->expandAll();
  QTreeWidgetItem* child = tree->topLevelItem(0)->child(0);
  std::string seen;
  onCall_ = [&](const std::string&) { seen = main_.Caption("EqTreeView"); };
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(child).center());
  EXPECT_EQ(calls_, std::vector<std::string>{"EqTreeViewClick"});
  EXPECT_EQ(seen, "PCI\\VEN_1234&DEV_1111");

  roots.clear();
  main_.TreeChanged("EqTreeView");
  EXPECT_EQ(tree->topLevelItemCount(), 0);
}

TEST_F(RendererTest, CaptionChangesShowInTheWidget) {
  auto* tabs = MainWidget<QTabWidget>("MainPageControle");
  struct Case {
    FormModel* model;
    FormRenderer* view;
    const char* control;
    std::string caption;
    QString shown;
    std::function<QString(FormRenderer&)> read;
  };
  const auto text = [](const char* name) {
    return [name](FormRenderer& v) {
      QWidget* w = v.Widget(name);
      if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
      if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
      if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
      return QStringLiteral("<no text>");
    };
  };
  const std::vector<Case> cases = {
      {&main_, mainView_.get(), "NodeNameLbl", "Searching", QStringLiteral("Searching"), text("NodeNameLbl")},
      {&main_, mainView_.get(), "NodeNameLbl", "Find && install", QStringLiteral("Find & install"),
       text("NodeNameLbl")},
      {&main_, mainView_.get(), "Label6", "E-Mail senden", QStringLiteral("E-Mail senden"), text("Label6")},
      {&main_, mainView_.get(), "EnumBtn", "Enumerate DP", QStringLiteral("Enumerate DP"), text("EnumBtn")},
      {&main_, mainView_.get(), "Loggbx", "Protokoll", QStringLiteral("Protokoll"), text("Loggbx")},
      {&main_, mainView_.get(), "MainSheet", "Treiberpakete", QStringLiteral("Treiberpakete"),
       [tabs](FormRenderer& v) { return tabs->tabText(tabs->indexOf(v.Widget("MainSheet"))); }},
      {&main_, mainView_.get(), kMainFormName, "Velmora", QStringLiteral("Velmora"),
       [](FormRenderer& v) { return v.Window()->windowTitle(); }},
      {&main_, mainView_.get(), "UnpackDriverPacks1", "Methode 1", QStringLiteral("Methode 1"),
       [](FormRenderer& v) { return v.Action("UnpackDriverPacks1")->text(); }},
      {&wait_, waitView_.get(), "UnpackingLbl", "Unpacking a.7z", QStringLiteral("Unpacking a.7z"),
       text("UnpackingLbl")},
      {&wait_, waitView_.get(), kWaitFormName, "Bitte warten", QStringLiteral("Bitte warten"),
       [](FormRenderer& v) { return v.Window()->windowTitle(); }},
  };
  for (const Case& c : cases) {
    c.model->SetCaption(c.control, c.caption);
    EXPECT_EQ(c.read(*c.view), c.shown) << c.control;
  }
  main_.SetHint("EnumBtn", "Read the packs again");
  EXPECT_EQ(mainView_->Widget("EnumBtn")->toolTip(), QStringLiteral("Read the packs again"));
}

TEST_F(RendererTest, VisibilityEnablingAndGaugesFollowTheModel) {
  QWidget* gauge = mainView_->Widget("EqGauge");
  ASSERT_NE(gauge, nullptr);
  EXPECT_TRUE(gauge->isHidden());
  main_.SetVisible("EqGauge", true);
  EXPECT_FALSE(gauge->isHidden());

  main_.SetEnabled("EnumBtn", false);
  EXPECT_FALSE(mainView_->Widget("EnumBtn")->isEnabled());
  main_.SetEnabled("UnpackDriverPacks2method1", false);
  EXPECT_FALSE(mainView_->Action("UnpackDriverPacks2method1")->isEnabled());

  auto* bar = qobject_cast<QProgressBar*>(waitView_->Widget("UnpackGauge"));
  ASSERT_NE(bar, nullptr);
  wait_.SetGaugeMax("UnpackGauge", 800);
  wait_.SetGaugePosition("UnpackGauge", 120);
  EXPECT_EQ(bar->maximum(), 800);
  EXPECT_EQ(bar->value(), 120);
  wait_.SetGaugePosition("UnpackGauge", 5000);
  EXPECT_EQ(bar->value(), 800);
}

TEST_F(RendererTest, TheProgressWindowIsAToolWindowShownAndHiddenByTheModel) {
  mainView_->Window()->show();
  FormWindow* window = waitView_->Window();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->parentWidget(), mainView_->Window());
  EXPECT_EQ(window->windowType(), Qt::Tool);
  EXPECT_FALSE(window->isModal());

  wait_.SetVisible(kWaitFormName, true);
  EXPECT_TRUE(window->isVisible());
  EXPECT_GE(window->width(), 543);
  EXPECT_GE(window->height(), 171);
  // Its working list stays out of sight.
  EXPECT_FALSE(waitView_->Widget("CMDTemplb")->isVisible());
  wait_.SetVisible(kWaitFormName, false);
  EXPECT_FALSE(window->isVisible());
}

TEST_F(RendererTest, AProgressWindowOutlivedByItsModelAfterTheOwnerWentIsLeftAlone) {
  // The main window's widgets go first (they own the progress window); the progress
  // window's model keeps changing.
  mainView_.reset();
  EXPECT_EQ(waitView_->Window(), nullptr);
  wait_.SetCaption("UnpackingLbl", "Unpacking c.7z");
  wait_.SetGaugePosition("UnpackGauge", 10);
  wait_.AppendItem("CMDTemplb", "Extracting  a.inf");
  wait_.SetVisible(kWaitFormName, true);
  EXPECT_EQ(waitView_->Widget("UnpackingLbl"), nullptr);
}

TEST_F(RendererTest, TheLogListFollowsTheModelWithoutAWidgetItemPerLine) {
  auto* view = MainWidget<ItemListView>("LogLbx");
  main_.AppendItem("LogLbx", "first");
  main_.AppendItems("LogLbx", {"second", "third"});
  ASSERT_EQ(view->model()->rowCount(), 3);
  EXPECT_EQ(view->model()->index(2, 0).data().toString(), QStringLiteral("third"));
  EXPECT_EQ(mainView_->ListModel("LogLbx"), view->model());
}

TEST_F(RendererTest, ListSelectionGoesBothWays) {
  main_.SetItems("HWIDsSimpleListBox", {"PCI\\VEN_1", "PCI\\VEN_2", "USB\\VID_3"});
  auto* view = MainWidget<ItemListView>("HWIDsSimpleListBox");
  main_.SetItemIndex("HWIDsSimpleListBox", 2);
  EXPECT_EQ(view->currentRow(), 2);
  mainView_->Window()->show();
  main_.SetItemIndex("MainPageControle", 2);
  qobject_cast<QTabWidget*>(mainView_->Widget("HWIDsPageControl"))
      ->setCurrentWidget(mainView_->Widget("HWIDsSimpleReportTabSheet"));
  QTest::keyClick(view, Qt::Key_Up);
  EXPECT_EQ(main_.ItemIndex("HWIDsSimpleListBox"), 1);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->rowRect(0).center());
  EXPECT_EQ(main_.ItemIndex("HWIDsSimpleListBox"), 0);
  main_.SetItems("HWIDsSimpleListBox", {});
  EXPECT_EQ(view->currentRow(), -1);
  EXPECT_TRUE(calls_.empty());
}

// A one-control form for the timer and the activation handler.
class SmallFormTest : public ::testing::Test {
 protected:
  SmallFormTest() : model_("Small") {
    Control form;
    form.kind = K::Form;
    form.name = "Small";
    form.onChange = "SmallActivate";
    model_.Add(std::move(form));
    Control timer;
    timer.kind = K::Timer;
    timer.name = "Ticker";
    timer.parent = "Small";
    timer.interval = 10;
    timer.enabled = false;
    timer.onClick = "TickerTimer";
    model_.Add(std::move(timer));
    view_ = std::make_unique<FormRenderer>(model_, [this](const std::string& handler) {
      calls_.push_back(handler);
      if (onCall_) onCall_(handler);
    });
  }

  FormModel model_;
  std::vector<std::string> calls_;
  std::function<void(const std::string&)> onCall_;
  std::unique_ptr<FormRenderer> view_;
};

TEST_F(SmallFormTest, AnEnabledTimerRunsItsHandlerUntilDisabled) {
  QTest::qWait(40);
  EXPECT_TRUE(calls_.empty());
  model_.SetEnabled("Ticker", true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return calls_.size() >= 2; }, 2000));
  EXPECT_EQ(calls_.front(), "TickerTimer");
  model_.SetEnabled("Ticker", false);
  const std::size_t seen = calls_.size();
  QTest::qWait(40);
  EXPECT_EQ(calls_.size(), seen);
}

TEST_F(SmallFormTest, AnActivationDuringTheActivationHandlerIsDropped) {
  // The handler lets window messages through, and the window is activated again meanwhile.
  onCall_ = [this](const std::string& handler) {
    if (handler == "SmallActivate") view_->Activate();
  };
  view_->Activate();
  EXPECT_EQ(calls_, std::vector<std::string>{"SmallActivate"});
  view_->Activate();
  EXPECT_EQ(calls_.size(), 2u);
  EXPECT_EQ(view_->Activations(), 2);
}

TEST_F(SmallFormTest, AHandlerThatThrowsDoesNotEscapeIntoTheEventLoop) {
  onCall_ = [](const std::string&) { throw std::runtime_error("broken handler"); };
  model_.SetEnabled("Ticker", true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !calls_.empty(); }, 2000));
  model_.SetEnabled("Ticker", false);
  EXPECT_NO_THROW(view_->Activate());
}

}  // namespace
