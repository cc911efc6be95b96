// The records of a table file as texts for reports (TableFileRecords in table_files.h): the
// file's own layout read from it, each record's values as stored, each value's text formed as the
// isam tool's dump forms it.
#include <sqlite3.h>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"
#include "isam/schema.h"
#include "isam/sqlite/values.h"
#include "isam/sqlite_handle.h"
#include "isam/table_files_internal.h"
#include "isam/value.h"

namespace isam {
namespace {

std::string DumpText(const FieldDef& field, const Value& stored) {
  // field.h gives DateFormat with the text forms of a field's values.
  static const DateFormat kDates = *DateFormat::Parse("MM/DD/YYYY");
  if (IsEmptyStored(field, stored)) return "";
  std::string text = Utf8FromAnsi(TextFromStored(field, stored, kDates, 0));
  if (field.type != ISAM_NUMERIC) return text;
  try {
    return ShortestNumberText(std::stod(text));
  } catch (const std::exception&) {
    return text;  // a value that is no number, written by another program
  }
}

}  // namespace

struct TableFileRecords::State {
  TableSchema schema;
  StmtPtr stmt;
  std::string path;
  std::vector<int> columns;  // of the chosen fields in the schema; -1 for one the table lacks

  // The stored value of the chosen field `i`; NULL when this table lacks the field.
  Value Stored(size_t i) const {
    if (columns[i] < 0) return std::monostate{};
    return ColumnValue(stmt.get(), columns[i] + 1);
  }
};

TableFileRecords::TableFileRecords(const TableFileReader* reader, const std::string& path)
    : state_(std::make_unique<State>()) {
  if (!reader) return;
  Translated([&] {
    sqlite3* db = reader->state_->db.get();
    state_->schema = ReadSchema(db, "main", path);
    state_->stmt = Prepare(db, "SELECT * FROM records ORDER BY _recno", path);
    state_->path = path;
  });
}

TableFileRecords::~TableFileRecords() = default;

std::vector<std::string> TableFileRecords::FieldNames() const {
  std::vector<std::string> names;
  for (const FieldDef& field : state_->schema.fields) names.push_back(field.name);
  return names;
}

bool TableFileRecords::HasField(const std::string& name) const {
  return state_->schema.FindField(name) >= 0;
}

std::vector<std::string> TableFileRecords::PrimaryKeyFields() const {
  const TableSchema& schema = state_->schema;
  std::vector<std::string> names;
  int primary = schema.FindIndex("PRIMARY");
  if (primary < 0) return names;
  for (int segment : schema.indexes[static_cast<size_t>(primary)].segments) {
    names.push_back(schema.fields[static_cast<size_t>(segment)].name);
  }
  return names;
}

void TableFileRecords::UseFields(const std::vector<std::string>& names) {
  for (const std::string& name : names) state_->columns.push_back(state_->schema.FindField(name));
}

bool TableFileRecords::Next() {
  StmtPtr& stmt = state_->stmt;
  if (!stmt) return false;
  int rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) {
    Translated([&] { FailFromSqlite(sqlite3_db_handle(stmt.get()), rc, state_->path); });
  }
  stmt.reset();
  return false;
}

bool TableFileRecords::AtEnd() const {
  return !state_->stmt;
}

int64_t TableFileRecords::RecordNumber() const {
  return sqlite3_column_int64(state_->stmt.get(), 0);
}

std::string TableFileRecords::Text(size_t field) const {
  int column = state_->columns[field];
  if (column < 0) return "";
  return DumpText(state_->schema.fields[static_cast<size_t>(column)], state_->Stored(field));
}

bool TableFileRecords::SameValue(const TableFileRecords& other, size_t field) const {
  return state_->Stored(field) == other.state_->Stored(field);
}

}  // namespace isam
