// The list views' model over a control's item vector: a million log lines stay cheap, the
// rows follow every way the item list changes, and the log keeps its newest line in sight.
#include "ui/qt/item_list_model.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>
#include <memory>
#include <string>

#include "base/form_model.h"
#include "base/window_layout.h"
#include "ui/qt/form_renderer.h"
#include "ui/qt/item_list_view.h"
#include "ui/qt/look.h"

namespace {

class LogListTest : public ::testing::Test {
 protected:
  LogListTest() : model_(kMainFormName) {
    BuildMainForm(model_);
    view_ = std::make_unique<FormRenderer>(model_, [](const std::string&) {});
    log_ = qobject_cast<ItemListView*>(view_->Widget("LogLbx"));
  }

  FormModel model_;
  std::unique_ptr<FormRenderer> view_;
  ItemListView* log_ = nullptr;
};

// A million lines appended one by one, the window let through every thousand lines as while a
// tool runs. The work is counted, not timed: every new row is read once (to see whether it is
// the longest) and each pass of the event loop reads the rows in sight; a view or model that
// went over the whole list again for each line or each pass reads billions of rows. Checked
// as the lines come, so such a fault fails at once instead of running for hours.
TEST_F(LogListTest, AMillionLinesAppendedOneByOneCostAReadEachAndTheRowsInSight) {
  ASSERT_NE(log_, nullptr);
  view_->Window()->show();
  constexpr int kLines = 1'000'000;
  constexpr int kLinesPerPass = 1'000;
  const ItemListModel* model = log_->model();
  const std::size_t readBefore = model->RowsRead();
  // Rows read per pass beyond the new ones: those in sight, painted perhaps a few times.
  const auto perPass = static_cast<std::size_t>(4 * (log_->viewport()->height() / log_->rowHeight() + 2));
  std::size_t passes = 0;
  for (int i = 0; i < kLines; ++i) {
    model_.AppendItem("LogLbx", "[01.02.2008 10.11.12] Extracting  drivers/line " + std::to_string(i));
    if (i % kLinesPerPass == 0) {
      QCoreApplication::processEvents();
      ++passes;
      ASSERT_LE(model->RowsRead() - readBefore, static_cast<std::size_t>(i + 1) + passes * perPass)
          << "after " << i + 1 << " lines";
    }
  }
  QCoreApplication::processEvents();
  ++passes;
  EXPECT_LE(model->RowsRead() - readBefore, static_cast<std::size_t>(kLines) + passes * perPass);

  ASSERT_EQ(log_->model()->rowCount(), kLines);
  EXPECT_EQ(log_->model()->index(kLines - 1, 0).data().toString(),
            QStringLiteral("[01.02.2008 10.11.12] Extracting  drivers/line 999999"));
  // The newest line is in sight.
  EXPECT_TRUE(log_->isAtEnd());
  EXPECT_FALSE(log_->rowRect(kLines - 1).isEmpty());
}

TEST_F(LogListTest, RowsAreSixteenPixelsHighInLimeOnDark) {
  model_.AppendItems("LogLbx", {"one", "two"});
  view_->Window()->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(log_->rowRect(0).height(), look::kListRowPixels);
  EXPECT_EQ(log_->font().pixelSize(), look::kListFontPixels);
  EXPECT_EQ(log_->palette().color(QPalette::Text), QColor(0, 255, 0));
  EXPECT_EQ(log_->palette().color(QPalette::Base), QColor(0, 0, 0));
}

// A tool's long output line is read by scrolling, not cut short.
TEST_F(LogListTest, LongLinesScrollSideways) {
  view_->Window()->show();
  model_.AppendItem("LogLbx", std::string(129, '='));
  model_.AppendItem("LogLbx", std::string(300, 'x'));
  // The longest line counts, not the newest.
  model_.AppendItem("LogLbx", "short");
  QCoreApplication::processEvents();
  EXPECT_GE(log_->contentWidth(), log_->fontMetrics().horizontalAdvance(QString(300, QLatin1Char('x'))));
  EXPECT_GT(log_->horizontalScrollBar()->maximum(), 0);
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
      {"items replaced",
       [&] {
         model.SetItems("List", {"a", "b", "c"});
       },
       3},
      {"one appended", [&] { model.AppendItem("List", "d"); }, 4},
      {"several appended",
       [&] {
         model.AppendItems("List", {"e", "f"});
       },
       6},
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

TEST(ItemListModel, KnowsItsLongestRow) {
  FormModel model("F");
  Control list;
  list.kind = ControlKind::ListBox;
  list.name = "List";
  model.Add(std::move(list));
  ItemListModel rows(model, "List", false);
  model.Subscribe([&](const FormModel::Notification& n) { rows.Follow(n.change); });
  EXPECT_EQ(rows.LongestRow(), -1);
  model.SetItems("List", {"ab", "abcd", "a"});
  EXPECT_EQ(rows.LongestRow(), 1);
  model.AppendItems("List", {"abc", "abcdef"});
  EXPECT_EQ(rows.LongestRow(), 4);
  model.AppendItem("List", "abcdef");  // as long, not longer: the first one stays
  EXPECT_EQ(rows.LongestRow(), 4);
  model.EditItems("List", [](auto& items) { items.resize(2); });
  EXPECT_EQ(rows.LongestRow(), 1);
  model.ClearItems("List");
  EXPECT_EQ(rows.LongestRow(), -1);
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
