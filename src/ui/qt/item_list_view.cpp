#include "ui/qt/item_list_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>

namespace {

constexpr int kTextPadding = 3;

}  // namespace

ItemListView::ItemListView(ItemListModel* model, QWidget* parent)
    : QAbstractScrollArea(parent), model_(model) {
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);

  settle_.setSingleShot(true);
  settle_.setInterval(0);
  connect(&settle_, &QTimer::timeout, this, &ItemListView::Settle);
  connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
    if (!settle_.isActive()) followEnd_ = isAtEnd();
  });
  connect(model_, &QAbstractItemModel::rowsInserted, this, [this] {
    if (!settle_.isActive()) settle_.start();
  });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    settle_.stop();
    if (current_ >= rowCount()) current_ = -1;
    UpdateContentWidth();
    UpdateScrollBars();
    viewport()->update();
  });
  connect(model_, &QAbstractItemModel::dataChanged, viewport(), qOverload<>(&QWidget::update));
  UpdateContentWidth();
  UpdateScrollBars();
}

void ItemListView::Settle() {
  settle_.stop();
  // Measured again only when another row became the longest.
  if (model_ && model_->LongestRow() != measuredRow_) UpdateContentWidth();
  UpdateScrollBars();
  // A reader who scrolled up is left where he is; otherwise the newest row stays in sight.
  if (followEnd_) scrollToEnd();
  viewport()->update();
}

int ItemListView::rowCount() const { return model_ ? model_->rowCount() : 0; }

void ItemListView::setRowHeight(int pixels) {
  rowHeight_ = std::max(1, pixels);
  UpdateScrollBars();
  viewport()->update();
}

void ItemListView::setCurrentRow(int row) {
  current_ = (row >= 0 && row < rowCount()) ? row : -1;
  if (current_ >= 0) scrollToRow(current_);
  viewport()->update();
}

int ItemListView::firstVisibleRow() const { return verticalScrollBar()->value(); }

QRect ItemListView::rowRect(int row) const {
  const int first = firstVisibleRow();
  if (row < first || row >= rowCount()) return {};
  const int top = (row - first) * rowHeight_;
  if (top >= viewport()->height()) return {};
  const int width = std::max(contentWidth_, viewport()->width() + horizontalScrollBar()->value());
  return QRect(-horizontalScrollBar()->value(), top, width, rowHeight_);
}

int ItemListView::rowAt(const QPoint& point) const {
  if (point.y() < 0) return -1;
  const int row = firstVisibleRow() + point.y() / rowHeight_;
  return row < rowCount() ? row : -1;
}

bool ItemListView::isAtEnd() const { return verticalScrollBar()->value() >= verticalScrollBar()->maximum(); }

void ItemListView::scrollToRow(int row) {
  QScrollBar* bar = verticalScrollBar();
  if (row < bar->value()) {
    bar->setValue(row);
  } else if (row >= bar->value() + FullyVisibleRows()) {
    bar->setValue(row - FullyVisibleRows() + 1);
  }
}

void ItemListView::scrollToEnd() { verticalScrollBar()->setValue(verticalScrollBar()->maximum()); }

int ItemListView::contentWidth() const { return contentWidth_; }

int ItemListView::FullyVisibleRows() const { return std::max(1, viewport()->height() / rowHeight_); }

void ItemListView::UpdateContentWidth() {
  int width = 0;
  measuredRow_ = model_ ? model_->LongestRow() : -1;
  if (measuredRow_ >= 0) {
    const QString text = model_->index(measuredRow_).data().toString();
    width = fontMetrics().horizontalAdvance(text) + 2 * kTextPadding;
    if (model_->Checkable()) width += rowHeight_ + kTextPadding;
  }
  contentWidth_ = width;
}

void ItemListView::UpdateScrollBars() {
  const int rows = rowCount();
  const int shown = FullyVisibleRows();
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, std::max(0, rows - shown));
  vertical->setPageStep(shown);
  vertical->setSingleStep(1);
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, contentWidth_ - viewport()->width()));
  horizontal->setPageStep(viewport()->width());
  horizontal->setSingleStep(fontMetrics().averageCharWidth() * 2);
}

QRect ItemListView::CheckRect(const QRect& row) const {
  const int size = std::min(row.height() - 2, 13);
  return QRect(row.left() + kTextPadding, row.top() + (row.height() - size) / 2, size, size);
}

void ItemListView::paintEvent(QPaintEvent*) {
  if (!model_) return;
  QPainter painter(viewport());
  const QPalette& pal = palette();
  const int rows = rowCount();
  const int first = firstVisibleRow();
  const int last = std::min(rows - 1, first + viewport()->height() / rowHeight_);
  for (int row = first; row <= last; ++row) {
    const QRect rect = rowRect(row);
    if (rect.isEmpty()) break;
    const bool marked = row == current_;
    if (marked) painter.fillRect(rect, pal.brush(QPalette::Highlight));
    QRect textRect = rect.adjusted(kTextPadding, 0, -kTextPadding, 0);
    if (model_->Checkable()) {
      QStyleOptionViewItem check;
      check.initFrom(this);
      check.rect = CheckRect(rect);
      const bool on = model_->index(row).data(Qt::CheckStateRole).toInt() == Qt::Checked;
      check.state = (check.state & ~QStyle::State_HasFocus) | (on ? QStyle::State_On : QStyle::State_Off);
      style()->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, &painter, this);
      textRect.setLeft(check.rect.right() + 1 + kTextPadding);
    }
    painter.setPen(pal.color(marked ? QPalette::HighlightedText : QPalette::Text));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     model_->index(row).data().toString());
  }
}

void ItemListView::resizeEvent(QResizeEvent* event) {
  const bool atEnd = isAtEnd();
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  if (atEnd) scrollToEnd();
}

void ItemListView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    UpdateContentWidth();
    UpdateScrollBars();
  }
}

void ItemListView::scrollContentsBy(int, int) { viewport()->update(); }

void ItemListView::MarkByUser(int row) {
  if (row < 0 || row >= rowCount()) return;
  const bool changed = row != current_;
  current_ = row;
  scrollToRow(row);
  viewport()->update();
  if (changed) emit currentRowChanged(row);
}

void ItemListView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !model_) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const QPoint at = event->position().toPoint();
  const int row = rowAt(at);
  if (row < 0) return;
  if (model_->Checkable() && CheckRect(rowRect(row)).contains(at)) {
    const bool on = model_->index(row).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    model_->setData(model_->index(row), on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  }
  MarkByUser(row);
  emit clicked(row);
}

void ItemListView::keyPressEvent(QKeyEvent* event) {
  const int rows = rowCount();
  if (rows == 0) {
    QAbstractScrollArea::keyPressEvent(event);
    return;
  }
  const int from = current_ < 0 ? firstVisibleRow() : current_;
  const int page = FullyVisibleRows();
  switch (event->key()) {
    case Qt::Key_Up:
      MarkByUser(std::max(0, from - 1));
      break;
    case Qt::Key_Down:
      MarkByUser(std::min(rows - 1, current_ < 0 ? from : from + 1));
      break;
    case Qt::Key_PageUp:
      MarkByUser(std::max(0, from - page));
      break;
    case Qt::Key_PageDown:
      MarkByUser(std::min(rows - 1, from + page));
      break;
    case Qt::Key_Home:
      MarkByUser(0);
      break;
    case Qt::Key_End:
      MarkByUser(rows - 1);
      break;
    case Qt::Key_Space:
      if (model_->Checkable() && current_ >= 0) {
        const bool on = model_->index(current_).data(Qt::CheckStateRole).toInt() == Qt::Checked;
        model_->setData(model_->index(current_), on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
      }
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}
