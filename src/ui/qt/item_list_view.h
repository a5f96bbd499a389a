// A list box view that paints only the rows in sight, straight from an ItemListModel: rows
// of one height, so new rows cost one scroll bar update per pass of the event loop, however
// long the list (the item views of Qt lay out every row again after each insertion).
#pragma once

#include <QAbstractScrollArea>
#include <QPointer>
#include <QTimer>

#include "ui/qt/item_list_model.h"

class ItemListView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit ItemListView(ItemListModel* model, QWidget* parent = nullptr);

  ItemListModel* model() const { return model_; }
  int rowCount() const;
  void setRowHeight(int pixels);
  int rowHeight() const { return rowHeight_; }

  // The marked row, -1 for none. Setting it emits nothing.
  int currentRow() const { return current_; }
  void setCurrentRow(int row);

  int firstVisibleRow() const;
  // Where a row is drawn in the viewport; an empty rectangle when it is out of sight.
  QRect rowRect(int row) const;
  // The row under a viewport point, -1 for none.
  int rowAt(const QPoint& point) const;
  // True when the last row is in sight (or there are none).
  bool isAtEnd() const;
  void scrollToRow(int row);
  void scrollToEnd();
  // Width in pixels the longest row needs.
  int contentWidth() const;

 signals:
  // The user marked another row.
  void currentRowChanged(int row);
  // The user clicked a row.
  void clicked(int row);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // Brings scroll bars, width and position up to date after a burst of new rows.
  void Settle();
  void UpdateScrollBars();
  void UpdateContentWidth();
  int FullyVisibleRows() const;
  QRect CheckRect(const QRect& row) const;
  void MarkByUser(int row);

  QPointer<ItemListModel> model_;
  int rowHeight_ = 16;
  int current_ = -1;
  int contentWidth_ = 0;
  int measuredRow_ = -1;   // the row contentWidth_ was measured on
  bool followEnd_ = true;  // the view stood at its end before the burst of new rows
  QTimer settle_;          // one catch-up per pass of the event loop, not one per row
};
