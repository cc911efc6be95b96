// Writes: the pending change (an edit of the current record or an append), assigned field by
// field and written as one UPDATE or INSERT, deletes, and cancelling. Each write tells the file's
// attachment what it changes (a record, or the place of records in an order), which the read
// shortcuts rely on; the record written is made current as stored, told from the values bound
// where the file stores them as bound, else read back.
#include "isam/table.h"

#include <algorithm>
#include <cstring>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"
#include "isam/sqlite/values.h"

namespace isam {

void Table::Append() {
  RequireWritable();
  pending_ = Pending::kAppend;
  buffer_.assign(schema().fields.size(), Value{});
  dirty_.assign(schema().fields.size(), false);
}

void Table::ClearBuffer() {
  Append();
}

void Table::SetField(int field, Value stored) {
  RequireWritable();
  assert(field >= 0 && static_cast<size_t>(field) < schema().fields.size());
  const FieldDef& def = schema().fields[static_cast<size_t>(field)];
  if (pending_ == Pending::kNone) {
    RequireRecord();
    if (standing_ == Standing::kGone) {
      Fail(ISAM_ERR_RECORD_NOT_FOUND,
           "Record " + std::to_string(recno_) + " no longer exists in " + Title());
    }
    pending_ = Pending::kEdit;
    buffer_ = values_;
    dirty_.assign(schema().fields.size(), false);
  }
  if (def.type == ISAM_AUTOINC && IsNull(stored) && pending_ == Pending::kEdit) {
    Fail(ISAM_ERR_INVALID_VALUE, "The autoincrement field '" + AnsiFromUtf8(def.name) + "' of " +
                                     Title() + " cannot be empty");
  }
  buffer_[static_cast<size_t>(field)] = std::move(stored);
  dirty_[static_cast<size_t>(field)] = true;
}

void Table::DropPending() {
  pending_ = Pending::kNone;
  buffer_.clear();
  dirty_.clear();
}

void Table::Delete(int64_t recno) {
  RequireWritable();
  source_->attachment()->PrepareChange();
  BorrowedLock lock(this, recno);
  sqlite3_stmt* stmt = source_->Statement(
      "D", [&] { return "DELETE FROM " + source_->from() + " WHERE _recno = ?1"; });
  sqlite3_bind_int64(stmt, 1, recno);
  StepChange(stmt);
  if (OnRecord() && recno_ == recno) standing_ = Standing::kGone;
}

bool Table::ChangesAnyKey() const {
  for (const IndexDef& index : schema().indexes) {
    for (int field : index.segments) {
      if (dirty_[static_cast<size_t>(field)]) return true;
    }
  }
  return false;
}

void Table::Write() {
  if (pending_ == Pending::kNone) return;
  RequireWritable();
  // Whether the row written is known without reading it back (read_shortcuts.h, invariant 10).
  bool row_known = pending_ == Pending::kEdit
                       ? CurrentReadHolds()
                       : connection_->transaction_intact() &&
                             std::find(dirty_.begin(), dirty_.end(), false) == dirty_.end();
  row_known = row_known && PendingStoredAsBound();
  // An edit of no key field leaves every record in its place, unless the file's own rules may
  // reach other records; outside a transaction nothing relies on the difference.
  bool in_place = pending_ == Pending::kEdit && !ChangesAnyKey() &&
                  connection_->transaction_intact() && !source_->attachment()->HasRewritingRules();
  source_->attachment()->PrepareChange(in_place ? recno_ : 0);
  const TableSchema& s = schema();
  std::string mask(s.fields.size(), '0');
  for (size_t i = 0; i < s.fields.size(); ++i) {
    if (dirty_[i]) mask[i] = '1';
  }
  if (pending_ == Pending::kEdit) {
    BorrowedLock lock(this, recno_);
    if (mask.find('1') == std::string::npos) {
      // Nothing assigned: the stored record is current as it stands.
      DropPending();
      Refresh();
      return;
    }
    sqlite3_stmt* stmt = source_->Statement("U" + mask, [&] {
      std::string sql = "UPDATE " + source_->from() + " SET ";
      int n = 0;
      for (size_t i = 0; i < s.fields.size(); ++i) {
        if (!dirty_[i]) continue;
        if (n++) sql += ", ";
        sql += source_->column(i) + " = ?" + std::to_string(n);
      }
      return sql + " WHERE _recno = ?" + std::to_string(n + 1);
    });
    int n = 0;
    for (size_t i = 0; i < s.fields.size(); ++i) {
      if (dirty_[i]) BindValue(stmt, ++n, buffer_[i]);
    }
    sqlite3_bind_int64(stmt, n + 1, recno_);
    if (!RunWrite(stmt, recno_, row_known)) {
      Fail(ISAM_ERR_RECORD_NOT_FOUND,
           "Record " + std::to_string(recno_) + " no longer exists in " + Title());
    }
  } else {
    EnsureAutoincIndexes();
    sqlite3_stmt* stmt = source_->Statement("I" + mask, [&] {
      std::string columns, values;
      int n = 0;
      for (size_t i = 0; i < s.fields.size(); ++i) {
        bool autoinc = s.fields[i].type == ISAM_AUTOINC;
        if (!dirty_[i] && !autoinc) continue;
        if (!columns.empty()) {
          columns += ", ";
          values += ", ";
        }
        columns += source_->column(i);
        // An autoincrement value is decided inside the insert's own write transaction.
        values += dirty_[i] ? "?" + std::to_string(++n)
                            : "(SELECT coalesce(max(" + source_->column(i) + "), 0) + 1 FROM " +
                                  source_->from() + ")";
      }
      if (columns.empty()) return "INSERT INTO " + source_->from() + " DEFAULT VALUES";
      return "INSERT INTO " + source_->from() + " (" + columns + ") VALUES (" + values + ")";
    });
    int n = 0;
    for (size_t i = 0; i < s.fields.size(); ++i) {
      if (dirty_[i]) BindValue(stmt, ++n, buffer_[i]);
    }
    if (!RunWrite(stmt, std::nullopt, row_known)) {
      // A constraint of the file's own (ON CONFLICT IGNORE) may drop the record unstored.
      Fail(ISAM_ERR_INVALID_VALUE,
           "The new record was not stored in " + Title() + ": the file's constraints refused it");
    }
  }
  DropPending();
  assert(position_ == Position::kOnRecord);  // the record written, made current (RunWrite)
}

bool Table::PendingStoredAsBound() {
  const TableSchema& s = schema();
  if (source_->is_view() || source_->values_per_row() != s.fields.size()) return false;
  if (affinities_.empty()) {
    for (const FieldDef& field : s.fields) affinities_.push_back(AffinityOf(field.declared));
  }
  for (size_t i = 0; i < s.fields.size(); ++i) {
    if (dirty_[i] && !StoredAsBound(affinities_[i], buffer_[i])) return false;
  }
  return !source_->attachment()->HasRewritingRules();
}

void Table::StepChange(sqlite3_stmt* stmt) {
  StatementUse use(stmt, path());
  use.Step();
}

bool Table::RunWrite(sqlite3_stmt* stmt, std::optional<int64_t> recno, bool row_known) {
  StepChange(stmt);
  sqlite3* db = source_->db();
  if (sqlite3_changes(db) == 0) return false;
  int64_t written = recno ? *recno : sqlite3_last_insert_rowid(db);
  if (row_known) {
    // The fields not assigned keep what the record held, which values_ shows.
    if (pending_ == Pending::kEdit) {
      for (size_t i = 0; i < buffer_.size(); ++i) {
        if (!dirty_[i]) buffer_[i].swap(values_[i]);
      }
    }
    values_.swap(buffer_);
    step_version_ = DataVersion();
  } else if (!ReadRecord(written, &values_)) {
    // Read back as stored, which shows what the file made of the values. A statement of its own
    // costs less than returning the row from the write.
    return false;
  }
  BecomeCurrent(written, DataVersion());
  shortcuts_.RecordRead(written, values_);
  return true;
}

void Table::EnsureAutoincIndexes() {
  if (autoinc_indexed_) return;
  // An appended record's number is the largest in its column plus one; without an index led by
  // that column, finding the largest would read the whole table at every append. The index is
  // the engine's own (its name begins with "_").
  const TableSchema& s = schema();
  for (int field : s.autoinc_fields) {
    bool indexed = false;
    for (const IndexDef& index : s.indexes) indexed |= index.segments.front() == field;
    if (indexed) continue;
    const std::string& column = source_->column(static_cast<size_t>(field));
    std::string name = "_autoinc_" + s.fields[static_cast<size_t>(field)].name;
    std::string from = source_->from();
    std::string schema_name = from.substr(0, from.find('.'));
    Exec(source_->db(),
         "CREATE INDEX IF NOT EXISTS " + schema_name + "." + QuoteIdentifier(name) +
             " ON records (" + column + ")",
         path());
  }
  autoinc_indexed_ = true;
}

void Table::CancelUpdate() {
  if (pending_ == Pending::kNone) {
    Fail(ISAM_ERR_NO_UPDATE_PENDING, "No change is pending on " + Title());
  }
  DropPending();
}

}  // namespace isam
