#include "ui/qt/flow_layout.h"

#include <QWidget>
#include <algorithm>
#include <utility>
#include <vector>

FlowLayout::FlowLayout(QWidget* parent, int spacing) : QLayout(parent) { setSpacing(spacing); }

FlowLayout::~FlowLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowLayout::addItem(QLayoutItem* item) { items_.append(item); }

QLayoutItem* FlowLayout::itemAt(int index) const {
  return index >= 0 && index < items_.size() ? items_.at(index) : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index) {
  return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

int FlowLayout::heightForWidth(int width) const { return Arrange(QRect(0, 0, width, 0), false); }

QSize FlowLayout::minimumSize() const {
  QSize size;
  for (const QLayoutItem* item : items_) {
    if (!item->isEmpty()) size = size.expandedTo(item->minimumSize());
  }
  const QMargins m = contentsMargins();
  return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const {
  // One row of everything.
  int width = 0;
  int height = 0;
  int shown = 0;
  for (const QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    width += item->sizeHint().width();
    height = std::max(height, item->sizeHint().height());
    ++shown;
  }
  if (shown > 1) width += (shown - 1) * spacing();
  const QMargins m = contentsMargins();
  return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  Arrange(rect, true);
}

int FlowLayout::Arrange(const QRect& rect, bool apply) const {
  const QMargins m = contentsMargins();
  const QRect area = rect.adjusted(m.left(), m.top(), -m.right(), -m.bottom());
  int y = area.y();
  // Fills one row after another; the items of a row are centred on the row's height.
  std::vector<std::pair<QLayoutItem*, QSize>> row;
  int x = area.x();
  int rowHeight = 0;
  const auto placeRow = [&] {
    if (apply) {
      int left = area.x();
      for (const auto& [item, size] : row) {
        item->setGeometry(QRect(QPoint(left, y + (rowHeight - size.height()) / 2), size));
        left += size.width() + spacing();
      }
    }
    row.clear();
  };
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize hint = item->sizeHint();
    if (!row.empty() && x + hint.width() > area.right() + 1) {
      placeRow();
      y += rowHeight + spacing();
      x = area.x();
      rowHeight = 0;
    }
    row.emplace_back(item, hint);
    x += hint.width() + spacing();
    rowHeight = std::max(rowHeight, hint.height());
  }
  placeRow();
  return y + rowHeight - rect.y() + m.bottom();
}
