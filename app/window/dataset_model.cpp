#include "app/window/dataset_model.h"

#include <QTimer>

namespace app {

DataSetModel::DataSetModel(data::TDataSource* source, bool follow_records, QObject* parent)
    : QAbstractTableModel(parent), source_(source), follow_records_(follow_records) {
  source_->AddLink(this);
  if (source_->DataSet() && source_->DataSet()->Active()) Reload();
}

DataSetModel::~DataSetModel() {
  source_->RemoveLink(this);
}

int DataSetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return rows_[static_cast<size_t>(index.row())].value(index.column());
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return headers_.value(section);
  return section + 1;
}

void DataSetModel::ActiveChanged(bool active) {
  if (active) {
    Reload();
    return;
  }
  beginResetModel();
  headers_.clear();
  rows_.clear();
  endResetModel();
}

void DataSetModel::RecordChanged() {
  // A correction moves the dataset once for every record it writes: the rows are read again
  // once, when the window next handles its messages, not at every move.
  if (!follow_records_ || reload_queued_) return;
  reload_queued_ = true;
  QTimer::singleShot(0, this, [this] {
    reload_queued_ = false;
    Reload();
  });
}

void DataSetModel::Reload() {
  if (!source_) return;
  // Reading moves the dataset, which tells its links again.
  if (reloading_) return;
  reloading_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{reloading_};
  beginResetModel();
  headers_.clear();
  rows_.clear();
  data::TDataSet* dataset = source_->DataSet();
  if (dataset && dataset->Active()) {
    for (data::TField* field : dataset->Fields()) {
      headers_ << QString::fromLatin1(field->FieldName().c_str());
    }
    int current = -1;
    int64_t here = dataset->IsEmpty() ? -1 : dataset->RecNo();
    for (dataset->First(); !dataset->Eof(); dataset->Next()) {
      if (dataset->RecNo() == here) current = static_cast<int>(rows_.size());
      QStringList row;
      for (data::TField* field : dataset->Fields()) {
        row << QString::fromLatin1(field->AsString().c_str());
      }
      rows_.push_back(row);
    }
    endResetModel();
    MoveTo(current < 0 ? 0 : current);
    return;
  }
  endResetModel();
}

void DataSetModel::MoveTo(int row) {
  data::TDataSet* dataset = source_ ? source_->DataSet() : nullptr;
  if (!dataset || !dataset->Active()) return;
  dataset->First();
  for (int i = 0; i < row && !dataset->Eof(); ++i) dataset->Next();
}

}  // namespace app
