// A list view's model over the items of one control of a FormModel. Rows are read
// straight from the control's items (a string each, or the compact lines of the log), so a list of a million lines costs no widget item per
// line; appended lines arrive as row insertions.
#pragma once

#include <QAbstractListModel>
#include <cstddef>
#include <string>

#include "base/form_model.h"

class ItemListModel : public QAbstractListModel {
  Q_OBJECT
 public:
  // `checkable`: rows carry check boxes whose user ticks go to FormModel::SetChecked.
  ItemListModel(FormModel& model, const std::string& controlName, bool checkable, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // Follows a change of the control's items or check marks.
  void Follow(ChangeKind change);

  bool Checkable() const { return checkable_; }
  // The row with the longest text (in bytes), -1 when there are none; views size their
  // width from it without measuring every row.
  int LongestRow() const { return longestRow_; }
  // How many times a row's text has been read, to be shown or measured: appended rows should
  // cost a read each plus the rows in sight, never the whole list again. Counted for tests.
  std::size_t RowsRead() const { return rowsRead_; }

 private:
  std::size_t ItemTotal() const { return ItemCount(control_); }
  void FindLongest(int from);

  FormModel& model_;
  const Control& control_;
  bool checkable_;
  int rows_ = 0;  // the row count the views know of
  int longestRow_ = -1;
  std::size_t longestLength_ = 0;
  mutable std::size_t rowsRead_ = 0;
};
