// The table handle itself: opening and closing it, the end of a transaction, the current
// record's values and its record image, the place of a row in an order (its key, whether it lies
// inside the order's scopes), and reading one record. `BecomeCurrent` is the one place that makes
// a row just read the current record; every move, seek, remembered read and write goes through it.
#include "isam/table.h"

#include <cstring>
#include <utility>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"
#include "isam/table_statements.h"

namespace isam {

using namespace table_statements;  // NOLINT: the shared statement helpers

Table::Table(Connection* connection, std::shared_ptr<RecordSource> source, bool read_only,
             bool exclusive, std::shared_ptr<LockFile> open_mark_hold)
    : connection_(connection),
      source_(std::move(source)),
      read_only_(read_only),
      open_mark_hold_(std::move(open_mark_hold)),
      shortcuts_(connection, source_.get()) {
  const TableSchema& s = schema();
  indexes_.resize(s.indexes.size());
  order_columns_.push_back(source_->natural_order());
  for (const IndexDef& index : s.indexes) {
    OrderColumns columns;
    for (int f : index.segments) {
      columns.push_back(OrderColumn{source_->column(static_cast<size_t>(f)), false, f});
    }
    columns.push_back(OrderColumn{"_recno", false, OrderColumn::kRecnoValue});
    order_columns_.push_back(columns);
  }
  if (!source_->is_view() && (!read_only_ || exclusive)) {
    lock_file_ = std::make_unique<LockFile>(path());
    if (!open_mark_hold_ && !lock_file_->TryLock(0, exclusive)) {
      Fail(ISAM_ERR_TABLE_IN_USE,
           exclusive ? "The table " + path() + " is open elsewhere and cannot be opened exclusively"
                     : "The table " + path() + " is open exclusively elsewhere");
    }
  }
  if (!read_only_ && !source_->is_view()) connection_->OpenForChanges(source_->attachment().get());
}

Table::~Table() {
  KeepTransactionLocks();
  if (!read_only_ && !source_->is_view()) connection_->CloseForChanges(source_->attachment().get());
  connection_->RemoveEndListener(this);
}

void Table::KeepTransactionLocks() noexcept {
  if (!lock_file_ || !connection_->in_transaction()) return;
  std::set<int64_t> kept;
  for (int64_t recno : unlock_at_end_) {
    if (held_locks_.count(recno)) kept.insert(recno);
  }
  if (kept.empty()) return;
  try {
    // The handle's other locks, and its open mark, go with it as a closed handle's do.
    for (int64_t recno : held_locks_) {
      if (!kept.count(recno)) lock_file_->Unlock(LockByte(recno));
    }
    if (!open_mark_hold_) lock_file_->Unlock(0);
    connection_->KeepLocksUntilEnd(path(), std::move(lock_file_), std::move(kept));
  } catch (...) {
    // Out of memory: the locks go with the handle, as they did before the connection kept any.
  }
}

void Table::TransactionEnded() {
  shortcuts_.Forget();
  for (int64_t recno : unlock_at_end_) {
    if (held_locks_.erase(recno)) lock_file_->Unlock(LockByte(recno));
  }
  unlock_at_end_.clear();
}

const std::string& Table::Title() const {
  if (title_.empty()) {
    size_t slash = path().find_last_of('/');
    title_ = slash == std::string::npos ? path() : path().substr(slash + 1);
  }
  return title_;
}

void Table::RequireWritable() const {
  if (read_only_) Fail(ISAM_ERR_READ_ONLY, "The table " + path() + " is open read-only");
}

void Table::RequireRecord() const {
  if (!OnRecord()) {
    Fail(ISAM_ERR_NO_CURRENT_RECORD,
         "No current record in " + Title() + (at_eof() ? " (at its end)" : ""));
  }
}

void Table::MarkBof(bool marked) {
  // Each state with the mark, beside the same place without it.
  static constexpr std::pair<Position, Position> kMarked[] = {
      {Position::kBeforeFirst, Position::kUnmoved},
      {Position::kOnRecordAtBof, Position::kOnRecord},
      {Position::kEmpty, Position::kPastEnd}};
  for (auto [with, without] : kMarked) {
    if (position_ == (marked ? without : with)) {
      position_ = marked ? with : without;
      return;
    }
  }
}

void Table::PassEnd() {
  // The mark is dropped before such a move looks, but a step forward from a record whose place is
  // stale starts over from the top (StepThroughFile), which may find the order empty: BOF stays.
  position_ = at_bof() ? Position::kEmpty : Position::kPastEnd;
}

const OrderColumns& Table::ColumnsOf(int order) const {
  assert(order >= kNaturalOrder && static_cast<size_t>(order + 1) < order_columns_.size());
  return order_columns_[static_cast<size_t>(order + 1)];
}

const Scope& Table::ScopeOf(int order) const {
  static const Scope kNone;
  return order >= 0 ? IndexAt(order) : kNone;
}

std::vector<Value> Table::KeyOf(int order, const std::vector<Value>& values, int64_t recno) const {
  std::vector<Value> key;
  for (const OrderColumn& column : ColumnsOf(order)) {
    if (column.value_index == OrderColumn::kRecnoValue)
      key.emplace_back(recno);
    else
      key.push_back(values[static_cast<size_t>(column.value_index)]);
  }
  return key;
}

int Table::CompareRowWithKey(int order, const std::vector<Value>& values, int64_t recno,
                             const std::vector<Value>& key, size_t n) const {
  const OrderColumns& columns = ColumnsOf(order);
  for (size_t i = 0; i < n && i < columns.size(); ++i) {
    int index = columns[i].value_index;
    int c = index == OrderColumn::kRecnoValue
                ? CompareValues(Value{recno}, key[i])
                : CompareValues(values[static_cast<size_t>(index)], key[i]);
    if (c != 0) return c;
  }
  return 0;
}

bool Table::RowInScope(int order, const std::vector<Value>& values, int64_t recno) const {
  if (order < 0) return true;
  const IndexState& index = IndexAt(order);
  if (index.top && CompareRowWithKey(order, values, recno, *index.top, index.top->size()) < 0)
    return false;
  if (index.bottom &&
      CompareRowWithKey(order, values, recno, *index.bottom, index.bottom->size()) > 0)
    return false;
  return true;
}

bool Table::ReadRecord(int64_t recno, std::vector<Value>* values) {
  Bound none{0, false, 0};
  sqlite3_stmt* stmt = source_->Statement(StatementKey(kByRecno, -1, none), [&] {
    return "SELECT " + source_->select_list() + " FROM " + source_->from() + " WHERE _recno = ?1";
  });
  StatementUse use(stmt, path());
  sqlite3_bind_int64(stmt, 1, recno);
  if (!use.Step()) return false;
  int64_t found = 0;
  ReadRow(stmt, *source_, &found, values);
  step_version_ = DataVersion();
  return true;
}

unsigned int Table::DataVersion() const {
  unsigned int version = 0;
  sqlite3_file_control(source_->db(), source_->version_schema().c_str(), SQLITE_FCNTL_DATA_VERSION,
                       &version);
  return version;
}

bool Table::Qualifies(int64_t recno) {
  if (source_->condition().empty()) return true;
  sqlite3_stmt* stmt = source_->Statement(StatementKey(kQualifies, -1, Bound{0, false, 0}), [&] {
    return "SELECT 1 FROM " + source_->from() + " WHERE _recno = ?1 AND (" + source_->condition() +
           ")";
  });
  StatementUse use(stmt, path());
  sqlite3_bind_int64(stmt, 1, recno);
  source_->BindCondition(stmt);
  return use.Step();
}

std::vector<Value> Table::FreshKey(int order) {
  if (ColumnsOf(order).size() == 1) return {Value{recno_}};
  std::vector<Value> now;
  if (ReadRecord(recno_, &now)) return KeyOf(order, now, recno_);
  return KeyOf(order, values_, recno_);
}

void Table::BecomeCurrent(int64_t recno, unsigned int version) {
  recno_ = recno;
  ValuesChanged();
  read_.version = version;
  shortcuts_.ForgetEmptyTop();
  NoteReadCounts();
  first_of_order_ = kNoOrder;
  position_ = Position::kOnRecord;
  standing_ = Standing::kAsRead;
}

void Table::NoteReadCounts() {
  read_.changes = source_->attachment()->changes();
  read_.place_changes = source_->attachment()->place_changes();
  read_.transaction = connection_->transaction_intact() ? connection_->transactions_begun() : 0;
}

const std::vector<Value>& Table::Values() const {
  if (pending_ != Pending::kNone) return buffer_;
  RequireRecord();
  return values_;
}

void Table::BuildImage(const std::vector<Value>& values, uint8_t* buffer) const {
  const TableSchema& s = schema();
  for (size_t i = 0; i < s.fields.size(); ++i) {
    buffer[i] = IsEmptyStored(s.fields[i], values[i]) ? 1 : 0;
    RawFromStored(s.fields[i], values[i], buffer + s.fields[i].offset);
  }
}

void Table::RecordImage(uint8_t* buffer) {
  const std::vector<Value>& values = Values();
  if (pending_ != Pending::kNone) {
    BuildImage(values, buffer);
    return;
  }
  const std::vector<uint8_t>& image = shortcuts_.CurrentImage(
      schema().record_length, [&](uint8_t* out) { BuildImage(values, out); });
  std::memcpy(buffer, image.data(), image.size());
}

}  // namespace isam
