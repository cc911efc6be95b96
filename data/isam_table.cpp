// TIsamTable: a dataset over one table file, named by table name and folder; opening it opens
// the table through the engine with the dataset's index collation and table type.
#include "data/isam_dataset.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "data/engine_call.h"
#include "data/isam_dataset_parts.h"

namespace data {

using namespace isam_dataset_parts;  // NOLINT: helpers shared by the dataset's parts

TIsamTable::TIsamTable(TComponent* owner, const std::string& name)
    : TIsamExtendedDataSet(owner, name) {}

void TIsamTable::SetTableName(const std::string& name) {
  CheckInactive();
  table_name_ = name;
}

void TIsamTable::SetTableType(TTableType type) {
  CheckInactive();
  table_type_ = type;
}

void TIsamTable::SetIndexCollationMismatch(TIndexCollationMismatch value) {
  CheckInactive();
  collation_ = value;
}

void TIsamTable::SetDatabaseName(const std::string& name) {
  TIsamDataSet::SetDatabaseName(name);
}

std::string TIsamTable::TablePath() const {
  if (DictionaryConnection()) return table_name_;
  return DatabasePath() + "\\" + table_name_;
}

IsamHandle TIsamTable::OpenCursor(IsamHandle connection) {
  if (table_name_.empty()) LayerError("Missing TableName property");
  uint32_t mode = ISAM_OPEN_SHARED;
  if (Exclusive) mode |= ISAM_OPEN_EXCLUSIVE;
  if (ReadOnly) mode |= ISAM_OPEN_READ_ONLY;
  if (IsamConnection() && IsamConnection()->ReadOnly) {
    mode |= ISAM_OPEN_READ_ONLY;
    ReadOnly = true;
  }
  if (collation_ == TIndexCollationMismatch::icmIgnore) mode |= ISAM_OPEN_IGNORE_COLLATION_MISMATCH;
  if (collation_ == TIndexCollationMismatch::icmReindex) {
    mode |= ISAM_OPEN_REINDEX_ON_COLLATION_MISMATCH;
  }
  if (DatabasePath().empty()) {
    LayerError(
        "One of the DatabaseName property or the IsamConnection property must have a value.");
  }
  uint16_t table_type = table_type_ == TTableType::ttIsamCDX   ? ISAM_TABLE_TYPE_CDX
                        : table_type_ == TTableType::ttIsamNTX ? ISAM_TABLE_TYPE_NTX
                                                               : ISAM_TABLE_TYPE_NATIVE;
  if (DictionaryConnection()) table_type = ISAM_TABLE_TYPE_DICTIONARY;
  IsamHandle table = 0;
  Check(IsamOpenTable(connection, TablePath().c_str(), nullptr, table_type,
                      IsamTableOptions.CharTypeValue(), IsamTableOptions.LockTypeValue(),
                      IsamTableOptions.RightsValue(), mode, &table));
  read_only_ = ReadOnly;
  return table;
}

}  // namespace data
