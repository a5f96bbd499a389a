// The widgets built for the window models: one per shown control, kept in step with the
// model, every user event handed to the handler named in its control.
#include "ui/qt/form_renderer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
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

#include "base/form_model.h"
#include "base/window_layout.h"
#include "lang/form_translation.h"
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

// The text a widget draws: buttons, group boxes, tabs and menu items read "&" as an
// accelerator mark ("&&" draws one ampersand); labels and window titles draw their text.
QString Drawn(const QString& text, bool accelerators) {
  return accelerators ? QString::fromStdString(ShownCaption(text.toStdString())) : text;
}

TEST_F(RendererTest, CaptionsShowExactlyAsTheyAre) {
  struct Case {
    FormModel* model;
    const char* control;
    std::string caption;
    std::function<QString(FormRenderer&)> read;  // the text the widget draws
  };
  const auto text = [](const char* name) {
    return [name](FormRenderer& v) {
      QWidget* w = v.Widget(name);
      if (auto* label = qobject_cast<QLabel*>(w)) return Drawn(label->text(), false);
      if (auto* button = qobject_cast<QAbstractButton*>(w)) return Drawn(button->text(), true);
      if (auto* group = qobject_cast<QGroupBox*>(w)) return Drawn(group->title(), true);
      return QStringLiteral("<no text>");
    };
  };
  const auto tab = [](const char* name) {
    return [name](FormRenderer& v) {
      auto* pages = qobject_cast<QTabWidget*>(v.Widget("MainPageControle"));
      return Drawn(pages->tabText(pages->indexOf(v.Widget(name))), true);
    };
  };
  const auto title = [](FormRenderer& v) { return v.Window()->windowTitle(); };
  const std::vector<Case> cases = {
      {&main_, "NodeNameLbl", "Searching", text("NodeNameLbl")},
      // A clicked tree node: the hardware ID keeps every "&".
      {&main_, "NodeNameLbl", "PCI\\VEN_8086&DEV_1C3A&SUBSYS_1C3A1849", text("NodeNameLbl")},
      {&main_, "NodeNameLbl", "Find && install", text("NodeNameLbl")},
      {&main_, "NodeNameLbl", "<b>not bold</b>", text("NodeNameLbl")},
      {&main_, "HWIDSelectlb", "USB\\VID_046D&PID_C077", text("HWIDSelectlb")},
      {&main_, "Label6", "E-Mail senden", text("Label6")},
      {&main_, "EnumBtn", "Enumerate DP", text("EnumBtn")},
      {&main_, "UnpackInstallHwidsTntSpeedButton", "Nach HWIDs suchen & installieren",
       text("UnpackInstallHwidsTntSpeedButton")},
      {&main_, "Loggbx", "Protokoll & Log", text("Loggbx")},
      {&main_, "MainSheet", "Treiber & Pakete", tab("MainSheet")},
      {&main_, kMainFormName, "Velmora & Co", title},
      {&main_, "UnpackDriverPacks1", "Methode & 1",
       [](FormRenderer& v) { return Drawn(v.Action("UnpackDriverPacks1")->text().section(QLatin1Char('\t'), 0, 0), true); }},
      {&wait_, "UnpackingLbl", "Unpacking a&b.7z", text("UnpackingLbl")},
      {&wait_, kWaitFormName, "Bitte warten", title},
  };
  for (const Case& c : cases) {
    FormRenderer& view = c.model == &main_ ? *mainView_ : *waitView_;
    c.model->SetCaption(c.control, c.caption);
    EXPECT_EQ(c.read(view), QString::fromStdString(c.caption)) << c.control;
  }
  EXPECT_EQ(MainWidget<QLabel>("NodeNameLbl")->textFormat(), Qt::PlainText);
  // Widgets made for captions that are already set show them the same way.
  FormRenderer fresh(main_, Recorder());
  FormRenderer freshWait(wait_, Recorder(), fresh.Window());
  for (const Case& c : cases) {
    FormModel& model = *c.model;
    EXPECT_EQ(c.read(c.model == &main_ ? fresh : freshWait), QString::fromStdString(model.Caption(c.control)))
        << c.control;
  }
  // A menu item says what it does beside its caption, in the column menus keep for shortcuts.
  main_.SetHint("UnpackDriverPacks1", "Output straight into a file");
  EXPECT_EQ(mainView_->Action("UnpackDriverPacks1")->text().section(QLatin1Char('\t'), 1),
            QStringLiteral("Output straight into a file"));
  main_.SetHint("EnumBtn", "Read the packs again");
  EXPECT_EQ(mainView_->Widget("EnumBtn")->toolTip(), QStringLiteral("Read the packs again"));
}

TEST_F(RendererTest, ButtonsAreAsWideAsTheirCaptions) {
  mainView_->Window()->show();
  main_.SetItemIndex("MainPageControle", 0);
  auto* unpack = MainWidget<QToolButton>("UnpackInstallTntSpeedButton");
  auto* search = MainWidget<QToolButton>("UnpackInstallHwidsTntSpeedButton");
  auto* group = MainWidget<QGroupBox>("HomeGroupBox");
  struct Case {
    const char* unpack;
    const char* search;
  };
  for (const Case& c :
       {Case{"Unpack all & Install", "Search by HWIDs & Install"},
        Case{"Alle entpacken & installieren", "Nach HWIDs suchen & installieren"}, Case{"Los", "Suchen"}}) {
    SCOPED_TRACE(c.unpack);
    main_.SetCaption("UnpackInstallTntSpeedButton", c.unpack);
    main_.SetCaption("UnpackInstallHwidsTntSpeedButton", c.search);
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    for (QToolButton* button : {unpack, search}) {
      const int textWidth = button->fontMetrics().horizontalAdvance(Drawn(button->text(), true));
      EXPECT_GT(button->width(), textWidth) << button->objectName().toStdString();
      EXPECT_GE(button->width(), button->sizeHint().width()) << button->objectName().toStdString();
      // Never narrower than designed.
      EXPECT_GE(button->width(), 184) << button->objectName().toStdString();
      EXPECT_TRUE(group->rect().contains(button->geometry())) << button->objectName().toStdString();
    }
    EXPECT_FALSE(unpack->geometry().intersects(search->geometry()));
  }
}

TEST_F(RendererTest, TheTreesExpandArrowsShowOnItsDarkBackground) {
  mainView_->Window()->show();
  main_.SetItemIndex("MainPageControle", 2);
  TreeRoots& roots = main_.Tree("EqTreeView");
  for (const char* name : {"Display adapters", "Network adapters"}) {
    TreeNode* node = roots.emplace_back(std::make_unique<TreeNode>()).get();
    node->text = name;
    node->AddChild("PCI\\VEN_8086&DEV_1C3A");
  }
  main_.TreeChanged("EqTreeView");
  auto* tree = MainWidget<QTreeWidget>("EqTreeView");
  tree->topLevelItem(0)->setExpanded(false);
  tree->topLevelItem(1)->setExpanded(true);
  const QImage image = tree->viewport()->grab().toImage();
  const qreal scale = image.devicePixelRatio();
  for (int item = 0; item < 2; ++item) {
    SCOPED_TRACE(item == 0 ? "folded" : "open");
    const QRect row = tree->visualItemRect(tree->topLevelItem(item));
    int lit = 0;
    for (int y = row.top(); y <= row.bottom(); ++y) {
      for (int x = 0; x < tree->indentation(); ++x) {
        const QColor pixel = image.pixelColor(static_cast<int>(x * scale), static_cast<int>(y * scale));
        if (pixel.green() > 96) ++lit;
      }
    }
    EXPECT_GT(lit, 4);
  }
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

namespace {

// The HWIDs to install show each entry's readable text while the entry keeps its form (its
// tooltip); the simple view draws in a fixed-pitch font, so the device console's columns line up.
TEST_F(RendererTest, ListsShowTheirShownTextsAndTheSimpleViewLinesUp) {
  main_.SetItems("HWIDS2Installchb", {"PCI\\VEN_1:found in driver pack:a.7z"});
  main_.SetItemTexts("HWIDS2Installchb", {"Network card  |  N/1/net.inf  |  a.7z"});
  auto* list = MainWidget<ItemListView>("HWIDS2Installchb");
  ASSERT_NE(list, nullptr);
  const QModelIndex row = list->model()->index(0);
  EXPECT_EQ(row.data(Qt::DisplayRole).toString(), QStringLiteral("Network card  |  N/1/net.inf  |  a.7z"));
  EXPECT_EQ(row.data(Qt::ToolTipRole).toString(), QStringLiteral("PCI\\VEN_1:found in driver pack:a.7z"));
  EXPECT_TRUE(QFontInfo(MainWidget<ItemListView>("HWIDsSimpleListBox")->font()).fixedPitch());
  EXPECT_FALSE(QFontInfo(MainWidget<ItemListView>("LogLbx")->font()).fixedPitch());
}

}  // namespace
