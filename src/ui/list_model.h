// The virtual list behind ListView1: a row count and cells formatted from the session's list
// rows when the view asks for them. No object exists per entry.
#pragma once

#include <QAbstractTableModel>

namespace kestrix {

struct Session;

class ListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  ListModel(const Session& session, QObject* parent);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The list shows `count` rows from now on (the view forgets its old rows and selection).
  void SetRowCount(int count);
  // The rows were rebuilt in place (sorting, import): repaint them, keep the selection.
  void RowsChanged();
  // The captions follow the interface language.
  void CaptionsChanged();

 private:
  const Session& session_;
  int count_ = 0;
};

}  // namespace kestrix
