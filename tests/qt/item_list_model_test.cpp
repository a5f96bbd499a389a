// The list views' model over a control's item vector: a million log lines stay cheap, the
// rows follow every way the item list changes, and the log keeps its newest line in sight.
#include <gtest/gtest.h>

#include <QListView>
#include <QScrollBar>
#include <QTest>
#include <chrono>
#include <memory>
#include <string>

#include "app/form_model.h"
#include "app/window_layout.h"
#include "ui/qt/form_renderer.h"
#include "ui/qt/item_list_model.h"
#include "ui/qt/look.h"

namespace {

class LogListTest : public ::testing::Test {
 protected:
  LogListTest() : model_(kMainFormName) {
    BuildMainForm(model_);
    view_ = std::make_unique<FormRenderer>(model_, [](const std::string&) {});
    log_ = qobject_cast<QListView*>(view_->Widget("LogLbx"));
  }

  FormModel model_;
  std::unique_ptr<FormRenderer> view_;
  QListView* log_ = nullptr;
};

TEST_F(LogListTest, AMillionLinesAppendedOneByOneStayQuick) {
  ASSERT_NE(log_, nullptr);
  view_->Window()->show();
  constexpr int kLines = 1'000'000;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLines; ++i) {
    model_.AppendItem("LogLbx", "[01.02.2008 10.11.12] Extracting  drivers/line " + std::to_string(i));
    // The program lets window messages through now and then while a tool runs.
    if (i % 100'000 == 0) QCoreApplication::processEvents();
  }
  QCoreApplication::processEvents();
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  ASSERT_EQ(log_->model()->rowCount(), kLines);
  EXPECT_EQ(log_->model()->index(kLines - 1, 0).data().toString(),
            QStringLiteral("[01.02.2008 10.11.12] Extracting  drivers/line 999999"));
  // Generous enough for a sanitizer build; a widget item per line would take far longer.
  EXPECT_LT(seconds, 60.0);
  // The newest line is in sight.
  EXPECT_EQ(log_->verticalScrollBar()->value(), log_->verticalScrollBar()->maximum());
  EXPECT_TRUE(log_->viewport()->rect().intersects(log_->visualRect(log_->model()->index(kLines - 1, 0))));
}

TEST_F(LogListTest, RowsAreSixteenPixelsHighInLimeOnDark) {
  model_.AppendItems("LogLbx", {"one", "two"});
  view_->Window()->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(log_->visualRect(log_->model()->index(0, 0)).height(), look::kListRowPixels);
  EXPECT_EQ(log_->font().pixelSize(), look::kListFontPixels);
  EXPECT_EQ(log_->palette().color(QPalette::Text), QColor(0, 255, 0));
  EXPECT_EQ(log_->palette().color(QPalette::Base), QColor(0, 0, 0));
}

TEST_F(LogListTest, AReaderWhoScrolledUpIsLeftWhereHeIs) {
  view_->Window()->show();
  for (int i = 0; i < 500; ++i) model_.AppendItem("LogLbx", "line " + std::to_string(i));
  QCoreApplication::processEvents();
  QScrollBar* bar = log_->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());

  bar->setValue(0);
  for (int i = 0; i < 50; ++i) model_.AppendItem("LogLbx", "later " + std::to_string(i));
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), 0);
}

TEST(ItemListModel, FollowsEveryWayTheItemsChange) {
  FormModel model("F");
  Control list;
  list.kind = ControlKind::ListBox;
  list.name = "List";
  model.Add(std::move(list));
  ItemListModel rows(model, "List", false);
  const auto follow = [&](const FormModel::Notification& n) {
    if (n.control.name == "List") rows.Follow(n.change);
  };
  model.Subscribe(follow);

  struct Step {
    const char* what;
    std::function<void()> change;
    int rows;
  };
  const std::vector<Step> steps = {
      {"items replaced", [&] { model.SetItems("List", {"a", "b", "c"}); }, 3},
      {"one appended", [&] { model.AppendItem("List", "d"); }, 4},
      {"several appended", [&] { model.AppendItems("List", {"e", "f"}); }, 6},
      // A producer that wrote more lines straight into the vector before a one-line notice.
      {"written directly, then one appended",
       [&] {
         model.ItemsForWrite("List").push_back("g");
         model.ItemsForWrite("List").push_back("h");
         model.AppendItem("List", "i");
       },
       9},
      {"edited in place", [&] { model.EditItems("List", [](auto& items) { items.resize(2); }); }, 2},
      {"cleared", [&] { model.ClearItems("List"); }, 0},
  };
  for (const Step& step : steps) {
    step.change();
    EXPECT_EQ(rows.rowCount(), step.rows) << step.what;
    EXPECT_EQ(static_cast<std::size_t>(rows.rowCount()), model.Items("List").size()) << step.what;
  }
}

TEST(ItemListModel, NeverReadsPastTheEndOfAShrunkenList) {
  FormModel model("F");
  Control list;
  list.kind = ControlKind::CheckListBox;
  list.name = "List";
  list.items = {"a", "b", "c"};
  list.checked = {false, false, false};
  model.Add(std::move(list));
  ItemListModel rows(model, "List", true);
  ASSERT_EQ(rows.rowCount(), 3);
  // Items dropped without a notice yet: the rows still exist for the view, but hold nothing.
  model.ItemsForWrite("List").clear();
  EXPECT_FALSE(rows.index(2, 0).data().isValid());
  EXPECT_FALSE(rows.index(2, 0).data(Qt::CheckStateRole).isValid());
  EXPECT_FALSE(rows.setData(rows.index(2, 0), Qt::Checked, Qt::CheckStateRole));
}

}  // namespace
