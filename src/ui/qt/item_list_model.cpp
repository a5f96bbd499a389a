#include "ui/qt/item_list_model.h"

#include <algorithm>
#include <climits>

namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int ClampedCount(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

ItemListModel::ItemListModel(FormModel& model, const std::string& controlName, bool checkable,
                             QObject* parent)
    : QAbstractListModel(parent),
      model_(model),
      control_(model.Get(controlName)),
      checkable_(checkable),
      rows_(ClampedCount(ItemCount(control_))) {
  FindLongest(0);
}

void ItemListModel::FindLongest(int from) {
  if (from == 0) {
    longestRow_ = -1;
    longestLength_ = 0;
  }
  const std::size_t end = std::min(static_cast<std::size_t>(rows_), ItemTotal());
  for (std::size_t row = static_cast<std::size_t>(from); row < end; ++row) {
    ++rowsRead_;
    const std::size_t length = ShownItem(control_, row).size();
    if (longestRow_ < 0 || length > longestLength_) {
      longestRow_ = static_cast<int>(row);
      longestLength_ = length;
    }
  }
}

int ItemListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  const auto row = static_cast<std::size_t>(index.row());
  // The vector may have shrunk without a notice yet: never read past its end.
  if (row >= ItemTotal()) return {};
  switch (role) {
    case Qt::DisplayRole:
      ++rowsRead_;
      return Text(ShownItem(control_, row));
    case Qt::ToolTipRole:
      ++rowsRead_;
      return Text(ItemAt(control_, row));
    case Qt::CheckStateRole:
      if (!checkable_) return {};
      return model_.Checked(control_.name, row) ? Qt::Checked : Qt::Unchecked;
    default:
      return {};
  }
}

Qt::ItemFlags ItemListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags result = QAbstractListModel::flags(index);
  if (checkable_ && index.isValid()) result |= Qt::ItemIsUserCheckable;
  return result;
}

bool ItemListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!checkable_ || role != Qt::CheckStateRole || !index.isValid() || index.row() >= rows_) return false;
  const auto row = static_cast<std::size_t>(index.row());
  if (row >= ItemTotal()) return false;
  // The model notifies; Follow(Checks) then repaints the rows.
  model_.SetChecked(control_.name, row, value.toInt() == Qt::Checked);
  return true;
}

void ItemListModel::Follow(ChangeKind change) {
  const int actual = ClampedCount(ItemTotal());
  switch (change) {
    case ChangeKind::ItemsAppended:
      // Count from the items themselves, so a producer that wrote items directly stays in step.
      if (actual > rows_) {
        const int first = rows_;
        beginInsertRows(QModelIndex(), first, actual - 1);
        rows_ = actual;
        FindLongest(first);
        endInsertRows();
      } else if (actual < rows_) {
        beginResetModel();
        rows_ = actual;
        FindLongest(0);
        endResetModel();
      }
      break;
    case ChangeKind::Items:
      beginResetModel();
      rows_ = actual;
      FindLongest(0);
      endResetModel();
      break;
    case ChangeKind::Checks:
      if (rows_ > 0) emit dataChanged(index(0), index(rows_ - 1), {Qt::CheckStateRole});
      break;
    default:
      break;
  }
}
