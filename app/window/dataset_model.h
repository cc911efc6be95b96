// A read-only grid's view of a dataset: every field as a column, every record as a row. The rows
// are read when the dataset opens (reading walks the dataset and puts it back on the record it
// stood on); choosing a row moves the dataset there.
#ifndef RIVENOAK_APP_WINDOW_DATASET_MODEL_H_
#define RIVENOAK_APP_WINDOW_DATASET_MODEL_H_

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "data/dataset.h"

namespace app {

class DataSetModel : public QAbstractTableModel, private data::TDataLink {
 public:
  // With follow_records, the rows are read again after the dataset moves, once the window
  // handles its messages (for a detail that shows the few records of its master's current row).
  DataSetModel(data::TDataSource* source, bool follow_records = false, QObject* parent = nullptr);
  ~DataSetModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Reads the rows again from the dataset.
  void Reload();
  // Moves the dataset to the row.
  void MoveTo(int row);

 private:
  void ActiveChanged(bool active) override;
  void RecordChanged() override;
  void SourceGone() override { source_ = nullptr; }

  data::TDataSource* source_;
  bool follow_records_;
  bool reloading_ = false;
  bool reload_queued_ = false;
  QStringList headers_;
  std::vector<QStringList> rows_;
};

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_DATASET_MODEL_H_
