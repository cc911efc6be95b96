#include "isam/table.h"

#include <cstring>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"

namespace isam {
namespace {

enum StatementKind : uint64_t {
  kNextForward = 1,
  kNextBackward = 2,
  kByRecno = 3,
  kCountAll = 4,
  kQualifies = 5
};

uint64_t StatementKey(StatementKind kind, int order, const Bound& bound) {
  return (static_cast<uint64_t>(kind) << 56) | (static_cast<uint64_t>(order + 1) << 40) |
         (static_cast<uint64_t>(bound.columns) << 32) | (bound.inclusive ? 1ull << 31 : 0) |
         (bound.null_mask & 0x7fffffffu);
}

uint32_t NullMask(const std::vector<Value>& values) {
  uint32_t mask = 0;
  for (size_t i = 0; i < values.size() && i < 31; ++i) {
    if (IsNull(values[i])) mask |= 1u << i;
  }
  return mask;
}

void BindAll(sqlite3_stmt* stmt, const std::vector<Value>& values, int first) {
  int count = sqlite3_bind_parameter_count(stmt);
  for (size_t i = 0; i < values.size(); ++i) {
    int position = first + static_cast<int>(i);
    if (position <= count && !IsNull(values[i])) BindValue(stmt, position, values[i]);
  }
}

// Reads _recno and every value of a row, shown fields and hidden key columns, as stored: the
// order compares stored values, so they are shown as the engine writes them only when read out.
void ReadRow(sqlite3_stmt* stmt, const RecordSource& source, int64_t* recno,
             std::vector<Value>* values) {
  *recno = sqlite3_column_int64(stmt, 0);
  values->resize(source.values_per_row());
  for (size_t i = 0; i < values->size(); ++i) {
    ReadColumn(stmt, static_cast<int>(i) + 1, &(*values)[i]);
  }
}

}  // namespace

Table::Table(Connection* connection, std::shared_ptr<RecordSource> source, bool read_only,
             bool exclusive, std::shared_ptr<LockFile> open_mark_hold)
    : connection_(connection),
      source_(std::move(source)),
      read_only_(read_only),
      open_mark_hold_(std::move(open_mark_hold)) {
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
  if (!read_only_ && !source_->is_view()) connection_->CloseForChanges(source_->attachment().get());
  connection_->RemoveEndListener(this);
}

void Table::TransactionEnded() {
  StopStream();
  firsts_.clear();
  image_entry_ = kNoEntry;
  for (int64_t recno : unlock_at_end_) {
    if (held_locks_.erase(recno)) lock_file_->Unlock(LockByte(recno));
  }
  unlock_at_end_.clear();
}

std::string Table::Title() const {
  size_t slash = path().find_last_of('/');
  return slash == std::string::npos ? path() : path().substr(slash + 1);
}

void Table::RequireWritable() const {
  if (read_only_) Fail(ISAM_ERR_READ_ONLY, "The table " + path() + " is open read-only");
}

void Table::RequireRecord() const {
  if (state_ != State::kRecord) {
    Fail(ISAM_ERR_NO_CURRENT_RECORD,
         "No current record in " + Title() + (state_ == State::kEOF ? " (at its end)" : ""));
  }
}

const OrderColumns& Table::ColumnsOf(int order) const {
  return order_columns_[static_cast<size_t>(order + 1)];
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
  const IndexState& index = indexes_[static_cast<size_t>(order)];
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

bool Table::CanStream() const {
  return connection_->in_transaction() && source_->condition().empty();
}

void Table::StopStream() {
  if (!stream_.stmt) return;
  sqlite3_reset(stream_.stmt);
  stream_.stmt = nullptr;
}

std::optional<Table::Read> Table::ContinueStream(int order, Direction dir) {
  if (!stream_.stmt) return std::nullopt;
  if (!CanStream() || stream_.order != order || stream_.dir != dir || state_ != State::kRecord ||
      recno_ != stream_.recno || source_->attachment()->place_changes() != stream_.place_changes) {
    StopStream();
    return std::nullopt;
  }
  int rc = sqlite3_step(stream_.stmt);
  if (rc != SQLITE_ROW) {
    sqlite3_stmt* stmt = stream_.stmt;
    StopStream();
    if (rc == SQLITE_DONE) return Read::kNone;
    FailFromSqlite(sqlite3_db_handle(stmt), rc, path());
  }
  ReadRow(stream_.stmt, *source_, &scratch_recno_, &scratch_);
  if (order >= 0 && HasScope(order) && !RowInScope(order, scratch_, scratch_recno_)) {
    StopStream();
    return Read::kNone;
  }
  stream_.recno = scratch_recno_;
  values_.swap(scratch_);
  BecomeCurrent(scratch_recno_, DataVersion());
  return Read::kFound;
}

void Table::BecomeCurrent(int64_t recno, unsigned int version) {
  recno_ = recno;
  ValuesChanged();
  read_version_ = version;
  first_of_order_ = kNoOrder;
  state_ = State::kRecord;
  record_gone_ = false;
  qualifies_ = true;
}

Table::Read Table::ReadBeyond(int order, Direction dir, const std::vector<Value>& bound,
                              bool inclusive, const unsigned int* expected_version) {
  const OrderColumns& columns = ColumnsOf(order);
  Bound b{bound.size(), inclusive, NullMask(bound)};
  StatementKind kind = dir == Direction::kForward ? kNextForward : kNextBackward;
  uint64_t key = StatementKey(kind, order, b);
  StopStream();
  bool streaming = CanStream();
  sqlite3_stmt* stmt = nullptr;
  if (streaming) {
    StmtPtr& owned = stream_statements_[key];
    if (!owned) {
      owned = Prepare(source_->db(),
                      NextRecordSql(source_->select_list(), source_->from(), source_->condition(),
                                    columns, dir, b, Rows::kAll),
                      path());
    }
    stmt = owned.get();
  } else {
    stmt = source_->Statement(key, [&] {
      return NextRecordSql(source_->select_list(), source_->from(), source_->condition(), columns,
                           dir, b);
    });
  }
  StatementUse use(stmt, path());
  BindAll(stmt, bound, 1);
  source_->BindCondition(stmt);
  bool row = use.Step();
  // The version read inside the step's own read says whether the file changed since the bound
  // was read; if it did, the bound may be out of date and the step counts for nothing.
  unsigned int version = DataVersion();
  if (expected_version && version != *expected_version) return Read::kStale;
  if (!row) return Read::kNone;
  ReadRow(stmt, *source_, &scratch_recno_, &scratch_);
  if (order >= 0 && HasScope(order) && !RowInScope(order, scratch_, scratch_recno_)) {
    return Read::kNone;
  }
  values_.swap(scratch_);
  BecomeCurrent(scratch_recno_, version);
  if (streaming) {
    use.Keep();  // stepped on by the moves that follow
    stream_ = Stream{stmt, order, dir, recno_, source_->attachment()->place_changes()};
    connection_->AddEndListener(this);
  }
  return Read::kFound;
}

bool Table::StepOnce(int order, Direction dir) {
  bool forward = dir == Direction::kForward;
  const IndexState* index = order >= 0 ? &indexes_[static_cast<size_t>(order)] : nullptr;
  // Whether a place lies before the top scope (forward) or after the bottom one (backward).
  auto before_start = [&](const std::vector<Value>& key) {
    if (!index) return false;
    if (forward) return index->top && CompareKeys(key, *index->top, index->top->size()) < 0;
    return index->bottom && CompareKeys(key, *index->bottom, index->bottom->size()) > 0;
  };
  if (std::optional<Read> streamed = ContinueStream(order, dir)) return *streamed == Read::kFound;
  // The place the record was read at serves while the file is unchanged since; a record number
  // never changes, so the natural order always trusts it.
  std::vector<Value> key = KeyOf(order, values_, recno_);
  bool trusted = ColumnsOf(order).size() == 1;
  Read read = Read::kStale;
  if (!before_start(key)) {
    read = ReadBeyond(order, dir, key, false, trusted ? nullptr : &read_version_);
  }
  if (read == Read::kStale) {
    key = FreshKey(order);
    if (before_start(key)) {
      forward ? GotoTop(order) : GotoBottom(order);
      return state_ == State::kRecord;
    }
    read = ReadBeyond(order, dir, key, false);
  }
  return read == Read::kFound;
}

void Table::DropPending() {
  pending_ = Pending::kNone;
  buffer_.clear();
  dirty_.clear();
}

void Table::GoEmpty() {
  first_of_order_ = kNoOrder;
  state_ = State::kEOF;
  bof_ = true;
}

void Table::GotoTop(int order) {
  DropPending();
  bof_ = false;
  std::vector<Value> bound;
  if (order >= 0 && indexes_[static_cast<size_t>(order)].top) {
    bound = *indexes_[static_cast<size_t>(order)].top;
  }
  if (FirstFrom(order, bound) != Read::kFound) {
    GoEmpty();
    return;
  }
  first_of_order_ = order;
  top_place_changes_ = source_->attachment()->place_changes();
}

Table::Read Table::FirstFrom(int order, const std::vector<Value>& bound) {
  if (std::optional<Read> remembered = FirstFromMemory(order, bound)) return *remembered;
  Read read = ReadBeyond(order, Direction::kForward, bound, true);
  RememberFirst(order, bound, read == Read::kFound);
  return read;
}

namespace {
constexpr size_t kRememberedFirsts = 32;
}  // namespace

std::optional<Table::Read> Table::FirstFromMemory(int order, const std::vector<Value>& bound) {
  if (!CanStream()) return std::nullopt;
  const Attachment& file = *source_->attachment();
  const IndexState* scope = order >= 0 ? &indexes_[static_cast<size_t>(order)] : nullptr;
  for (auto it = firsts_.rbegin(); it != firsts_.rend(); ++it) {
    if (it->order != order || it->place_changes != file.place_changes()) continue;
    if (scope && (it->top != scope->top || it->bottom != scope->bottom)) continue;
    if (it->bound != bound) continue;
    if (!it->found) return Read::kNone;
    // The record is the same; its values are read again if it changed since.
    if (file.RecordChangedSince(it->recno, it->changes)) {
      it->image.clear();
      if (!ReadRecord(it->recno, &it->values)) return std::nullopt;
      it->changes = file.changes();
    }
    // A stream left standing on this record goes on from it; any other is stopped by the next
    // move, which finds it elsewhere.
    values_ = it->values;
    BecomeCurrent(it->recno, DataVersion());
    image_entry_ = static_cast<size_t>(firsts_.rend() - it) - 1;
    if (!it->image.empty()) {
      image_ = it->image;
      image_current_ = true;
    }
    return Read::kFound;
  }
  return std::nullopt;
}

void Table::RememberFirst(int order, const std::vector<Value>& bound, bool found) {
  if (!CanStream()) return;
  if (firsts_.size() == kRememberedFirsts) firsts_.erase(firsts_.begin());
  image_entry_ = kNoEntry;
  RememberedFirst entry;
  entry.order = order;
  if (order >= 0) {
    entry.top = indexes_[static_cast<size_t>(order)].top;
    entry.bottom = indexes_[static_cast<size_t>(order)].bottom;
  }
  entry.bound = bound;
  entry.found = found;
  if (found) {
    entry.recno = recno_;
    entry.values = values_;
  }
  entry.changes = source_->attachment()->changes();
  entry.place_changes = source_->attachment()->place_changes();
  firsts_.push_back(std::move(entry));
  if (found) image_entry_ = firsts_.size() - 1;
  connection_->AddEndListener(this);
}

void Table::GotoBottom(int order) {
  DropPending();
  bof_ = false;
  std::vector<Value> bound;
  if (order >= 0 && indexes_[static_cast<size_t>(order)].bottom) {
    bound = *indexes_[static_cast<size_t>(order)].bottom;
  }
  if (ReadBeyond(order, Direction::kBackward, bound, true) != Read::kFound) GoEmpty();
}

void Table::Skip(int order, int32_t count) {
  DropPending();
  for (; count > 0; --count) {
    if (state_ == State::kEOF) return;
    if (state_ == State::kBefore) {
      GotoTop(order);
      continue;
    }
    bof_ = false;
    if (!StepOnce(order, Direction::kForward)) {
      state_ = State::kEOF;
      return;
    }
  }
  for (; count < 0; ++count) {
    if (state_ != State::kRecord) {
      if (state_ == State::kBefore) {
        bof_ = true;
        return;
      }
      GotoBottom(order);
      continue;
    }
    // Just after a move to the top nothing lies before, while no record has come before since.
    if (first_of_order_ == order && DataVersion() == read_version_ &&
        source_->attachment()->place_changes() == top_place_changes_) {
      bof_ = true;
      return;
    }
    if (!StepOnce(order, Direction::kBackward)) {
      bof_ = true;  // stays on the first record
      return;
    }
    bof_ = false;
  }
}

void Table::GotoRecord(int64_t recno) {
  if (!ReadRecord(recno, &scratch_)) {
    Fail(ISAM_ERR_RECORD_NOT_FOUND,
         "Record " + std::to_string(recno) + " does not exist in " + Title());
  }
  DropPending();
  recno_ = recno;
  values_.swap(scratch_);
  ValuesChanged();
  read_version_ = step_version_;
  first_of_order_ = kNoOrder;
  state_ = State::kRecord;
  bof_ = false;
  record_gone_ = false;
  qualifies_ = Qualifies(recno);
}

bool Table::IsVisible(int order) {
  RequireRecord();
  return !record_gone_ && qualifies_ && RowInScope(order, values_, recno_);
}

void Table::Refresh() {
  RequireRecord();
  std::vector<Value> values;
  if (ReadRecord(recno_, &values)) {
    record_gone_ = false;
    qualifies_ = Qualifies(recno_);
    if (qualifies_ || !source_->is_view()) {
      values_ = std::move(values);
      ValuesChanged();
      read_version_ = step_version_;
      return;
    }
  } else {
    record_gone_ = true;
  }
  if (source_->is_view()) MoveOffUnqualified();
}

void Table::MoveOffUnqualified() {
  // From the place the record held when it was read: the next record, else the previous one.
  std::vector<Value> place = KeyOf(Table::kNaturalOrder, values_, recno_);
  bof_ = false;
  if (ReadBeyond(kNaturalOrder, Direction::kForward, place, false) == Read::kFound) return;
  if (ReadBeyond(kNaturalOrder, Direction::kBackward, place, false) == Read::kFound) return;
  GoEmpty();
}

int64_t Table::RecordNumber() const {
  if (pending_ == Pending::kAppend) return 0;  // numbered when written
  RequireRecord();
  return recno_;
}

uint32_t Table::Count(int order, uint16_t option) {
  int mode = option & 3;
  if (mode == ISAM_COUNT_IGNORE_FILTERS || order < 0 || !HasScope(order)) {
    std::string where = source_->condition().empty() ? "1" : "(" + source_->condition() + ")";
    sqlite3_stmt* stmt = source_->Statement(StatementKey(kCountAll, -1, Bound{0, false, 0}), [&] {
      return "SELECT count(*) FROM " + source_->from() + " WHERE " + where;
    });
    StatementUse use(stmt, path());
    source_->BindCondition(stmt);
    use.Step();
    return static_cast<uint32_t>(sqlite3_column_int64(stmt, 0));
  }
  return CountInScope(order, nullptr);
}

uint32_t Table::CountInScope(int order, const std::vector<Value>* before) {
  const OrderColumns& columns = ColumnsOf(order);
  std::vector<Value> top, bottom;
  if (order >= 0) {
    const IndexState& index = indexes_[static_cast<size_t>(order)];
    top = index.top.value_or(std::vector<Value>{});
    bottom = index.bottom.value_or(std::vector<Value>{});
  }
  std::vector<Value> key = before ? *before : std::vector<Value>{};
  int bottom_first = static_cast<int>(top.size()) + 1;
  int key_first = bottom_first + static_cast<int>(bottom.size());
  std::string sql =
      "SELECT count(*) FROM " + source_->from() + " WHERE " +
      (source_->condition().empty() ? "" : "(" + source_->condition() + ") AND ") +
      BeyondCondition(columns, Direction::kForward, Bound{top.size(), true, NullMask(top)}, 1) +
      " AND " +
      BeyondCondition(columns, Direction::kBackward, Bound{bottom.size(), true, NullMask(bottom)},
                      bottom_first) +
      (before ? " AND " + BeyondCondition(columns, Direction::kBackward,
                                          Bound{key.size(), false, NullMask(key)}, key_first)
              : "");
  StmtPtr stmt = Prepare(source_->db(), sql, path());
  StatementUse use(stmt.get(), path());
  BindAll(stmt.get(), top, 1);
  BindAll(stmt.get(), bottom, bottom_first);
  BindAll(stmt.get(), key, key_first);
  source_->BindCondition(stmt.get());
  use.Step();
  return static_cast<uint32_t>(sqlite3_column_int64(stmt.get(), 0));
}

double Table::RelativePosition(int order) {
  if (state_ != State::kRecord) {
    Fail(ISAM_ERR_NO_KEY_POSITION, "No key position in " + Title() + " without a current record");
  }
  uint32_t total = CountInScope(order, nullptr);
  if (total == 0) return 0.0;
  std::vector<Value> key = KeyOf(order, values_, recno_);
  double position = static_cast<double>(CountInScope(order, &key)) / total;
  return position > 1 ? 1 : position;
}

const std::vector<Value>& Table::Values() const {
  if (pending_ != Pending::kNone) return buffer_;
  RequireRecord();
  return values_;
}

void Table::ValuesChanged() {
  image_current_ = false;
  image_entry_ = kNoEntry;
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
  size_t length = schema().record_length;
  if (!image_current_) {
    image_.assign(length, 0);
    BuildImage(values, image_.data());
    image_current_ = true;
    // A remembered first record keeps its image too.
    if (image_entry_ < firsts_.size()) firsts_[image_entry_].image = image_;
  }
  std::memcpy(buffer, image_.data(), length);
}

// ---- keys and scopes ----

void Table::InitKey(int index) {
  IndexState& state = indexes_[static_cast<size_t>(index)];
  state.key.assign(schema().indexes[static_cast<size_t>(index)].segments.size(), std::nullopt);
}

void Table::SetKeyField(int index, int field, std::optional<Value> stored) {
  const IndexDef& def = schema().indexes[static_cast<size_t>(index)];
  IndexState& state = indexes_[static_cast<size_t>(index)];
  if (state.key.size() != def.segments.size()) InitKey(index);
  for (size_t j = 0; j < def.segments.size(); ++j) {
    if (def.segments[j] == field) {
      state.key[j] = stored.value_or(Value{});
      return;
    }
  }
  Fail(ISAM_ERR_FIELD_NOT_FOUND,
       "The field '" + AnsiFromUtf8(schema().fields[static_cast<size_t>(field)].name) +
           "' is not a key field of the index " + AnsiFromUtf8(def.name) + " of " + Title());
}

std::vector<uint8_t> Table::BuildKey(int index) const {
  const IndexDef& def = schema().indexes[static_cast<size_t>(index)];
  const IndexState& state = indexes_[static_cast<size_t>(index)];
  std::vector<uint8_t> key;
  for (size_t j = 0; j < state.key.size() && state.key[j]; ++j) {
    const FieldDef& field = schema().fields[static_cast<size_t>(def.segments[j])];
    size_t at = key.size();
    key.resize(at + 1 + field.length);
    key[at] = IsNull(*state.key[j]) ? 1 : 0;
    RawFromStored(field, *state.key[j], key.data() + at + 1);
  }
  return key;
}

std::vector<Value> Table::DecodeKey(int index, const uint8_t* key, uint16_t length) const {
  const IndexDef& def = schema().indexes[static_cast<size_t>(index)];
  std::vector<Value> values;
  size_t pos = 0;
  for (size_t j = 0; j < def.segments.size() && pos < length; ++j) {
    const FieldDef& field = schema().fields[static_cast<size_t>(def.segments[j])];
    if (pos + 1 + field.length > length || key[pos] > 1) {
      Fail(ISAM_ERR_INVALID_KEY, "A key of " + std::to_string(length) +
                                     " bytes does not fit the index " + AnsiFromUtf8(def.name) +
                                     " of " + Title());
    }
    if (key[pos] == 1)
      values.emplace_back();
    else
      values.push_back(StoredFromRaw(field, key + pos + 1, field.length, Title()));
    pos += 1 + field.length;
  }
  if (pos != length) {
    Fail(ISAM_ERR_INVALID_KEY, "A key of " + std::to_string(length) +
                                   " bytes does not fit the index " + AnsiFromUtf8(def.name) +
                                   " of " + Title());
  }
  return values;
}

bool Table::Seek(int index, const uint8_t* key, uint16_t length, bool exact) {
  std::vector<Value> wanted = DecodeKey(index, key, length);
  DropPending();
  bof_ = false;
  const IndexState& state = indexes_[static_cast<size_t>(index)];
  const std::vector<Value>* bound = &wanted;
  if (state.top) {
    // A key that sorts before the top scope, or is a shorter start of it, searches from the top.
    int c = CompareKeys(wanted, *state.top, std::min(wanted.size(), state.top->size()));
    if (c < 0 || (c == 0 && wanted.size() < state.top->size())) bound = &*state.top;
  }
  // Remember where the handle stood: an exact seek that finds nothing leaves it at the end.
  if (FirstFrom(index, *bound) != Read::kFound) {
    state_ = State::kEOF;
    return false;
  }
  bool found = CompareRowWithKey(index, values_, recno_, wanted, wanted.size()) == 0;
  if (!found && exact) state_ = State::kEOF;
  return found;
}

void Table::SetScope(int index, bool top, const uint8_t* key, uint16_t length) {
  std::vector<Value> values = DecodeKey(index, key, length);
  StopStream();
  IndexState& state = indexes_[static_cast<size_t>(index)];
  (top ? state.top : state.bottom) = std::move(values);
}

void Table::ClearScope(int index, bool top) {
  StopStream();
  IndexState& state = indexes_[static_cast<size_t>(index)];
  auto& scope = top ? state.top : state.bottom;
  if (!scope) Fail(ISAM_ERR_NO_SCOPE, "No scope is set on the index of " + Title());
  scope.reset();
}

void Table::ClearAllScopes() {
  StopStream();
  for (IndexState& state : indexes_) {
    state.top.reset();
    state.bottom.reset();
  }
}

bool Table::HasScope(int index) const {
  const IndexState& state = indexes_[static_cast<size_t>(index)];
  return state.top || state.bottom;
}

// ---- changes ----

uint64_t Table::LockByte(int64_t recno) const {
  std::optional<uint64_t> byte = LockFile::RecordByte(recno);
  if (!byte) {
    Fail(ISAM_ERR_NOT_SUPPORTED, "Record " + std::to_string(recno) + " of " + Title() +
                                     " cannot be locked or changed: the engine locks records "
                                     "numbered from 0 to " +
                                     std::to_string(INT64_MAX - 1));
  }
  return *byte;
}

void Table::Lock(int64_t recno) {
  RequireWritable();
  if (held_locks_.count(recno)) return;
  BorrowedLock lock(this, recno);
  lock.Keep();
  held_locks_.insert(recno);
}

void Table::Unlock(int64_t recno) {
  if (!held_locks_.count(recno)) return;
  if (connection_->in_transaction()) {
    unlock_at_end_.insert(recno);
    connection_->AddEndListener(this);
    return;
  }
  held_locks_.erase(recno);
  lock_file_->Unlock(LockByte(recno));
}

bool Table::LockedElsewhere(int64_t recno) {
  if (held_locks_.count(recno)) return false;
  return lock_file_ && lock_file_->LockedElsewhere(LockByte(recno));
}

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
  const FieldDef& def = schema().fields[static_cast<size_t>(field)];
  if (pending_ == Pending::kNone) {
    RequireRecord();
    if (record_gone_) {
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

Table::BorrowedLock::BorrowedLock(Table* table, int64_t recno) {
  if (table->held_locks_.count(recno)) return;
  uint64_t byte = table->LockByte(recno);
  if (!table->lock_file_->TryLock(byte, true)) {
    Fail(ISAM_ERR_RECORD_LOCKED, "Record " + std::to_string(recno) + " of " + table->Title() +
                                     " is locked by another user");
  }
  if (table->connection_->in_transaction()) {
    // Held until the transaction ends, like any lock taken inside it.
    table->held_locks_.insert(recno);
    table->unlock_at_end_.insert(recno);
    table->connection_->AddEndListener(table);
    return;
  }
  file_ = table->lock_file_.get();
  byte_ = byte;
}

Table::BorrowedLock::~BorrowedLock() {
  if (file_) file_->Unlock(byte_);
}

void Table::Delete(int64_t recno) {
  RequireWritable();
  source_->attachment()->PrepareChange();
  BorrowedLock lock(this, recno);
  sqlite3_stmt* stmt = source_->Statement(
      "D", [&] { return "DELETE FROM " + source_->from() + " WHERE _recno = ?1"; });
  StatementUse use(stmt, path());
  sqlite3_bind_int64(stmt, 1, recno);
  use.Step();
  if (state_ == State::kRecord && recno_ == recno) record_gone_ = true;
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
  source_->attachment()->PrepareChange(pending_ == Pending::kEdit && !ChangesAnyKey() ? recno_ : 0);
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
    if (!RunWrite(stmt, recno_)) {
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
    RunWrite(stmt, std::nullopt);
  }
  DropPending();
  state_ = State::kRecord;
  bof_ = false;
  record_gone_ = false;
  qualifies_ = true;
}

bool Table::RunWrite(sqlite3_stmt* stmt, std::optional<int64_t> recno) {
  {
    StatementUse use(stmt, path());
    use.Step();
  }
  sqlite3* db = source_->db();
  if (sqlite3_changes(db) == 0) return false;
  int64_t written = recno ? *recno : sqlite3_last_insert_rowid(db);
  // The record is read back as stored, which also shows what the file made of the values. A
  // statement of its own costs less than returning the row from the write.
  bool read = ReadRecord(written, &values_);
  ValuesChanged();
  if (!read) return false;
  recno_ = written;
  first_of_order_ = kNoOrder;
  read_version_ = DataVersion();
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
