// Position and moves: to the top and bottom of an order, steps, a record by number, refreshes,
// counts and the relative place in an order. A move first asks the read shortcuts
// (read_shortcuts.h); otherwise it runs one statement that finds the first record beyond a place
// in the order, inside its scopes, and a statement run inside a transaction is kept as a stream. A
// step starts from the place the current record was read at while that place holds (invariant 4
// of read_shortcuts.h, where every invariant the moves rely on is stated).
#include "isam/table.h"

#include <cstring>
#include <utility>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"
#include "isam/table_statements.h"

namespace isam {

using namespace table_statements;  // NOLINT: the shared statement helpers

Table::Read Table::ReadBeyond(int order, Direction dir, const std::vector<Value>& bound,
                              bool inclusive, const unsigned int* expected_version) {
  const OrderColumns& columns = ColumnsOf(order);
  Bound b{bound.size(), inclusive, NullMask(bound)};
  // From the top of a scope whose ends are one key, only the records equal to it are wanted:
  // one seek on the key, where a bound alone needs a branch per key column.
  bool scope_rows =
      dir == Direction::kForward && inclusive && !expected_version && IsTopOfKeyScope(order, bound);
  StatementKind kind = scope_rows                   ? kScopeRows
                       : dir == Direction::kForward ? kNextForward
                                                    : kNextBackward;
  uint64_t key = StatementKey(kind, order, b);
  shortcuts_.StopStream();
  bool streaming = shortcuts_.Serve();
  Rows rows = streaming ? Rows::kAll : Rows::kFirst;
  auto sql = [&] {
    return scope_rows ? KeyRowsSql(source_->select_list(), source_->from(), source_->condition(),
                                   columns, b.columns, rows)
                      : NextRecordSql(source_->select_list(), source_->from(), source_->condition(),
                                      columns, dir, b, rows);
  };
  sqlite3_stmt* stmt =
      streaming ? shortcuts_.StreamStatement(key, sql) : source_->Statement(key, sql);
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
    shortcuts_.StartStream(stmt, order, dir, recno_);
    connection_->AddEndListener(this);
  }
  return Read::kFound;
}

bool Table::IsTopOfKeyScope(int order, const std::vector<Value>& bound) const {
  if (order < 0 || bound.empty()) return false;
  const IndexState& index = IndexAt(order);
  if (!index.top || !index.bottom) return false;
  const std::vector<Value>& top = *index.top;
  return top.size() == bound.size() && index.bottom->size() == top.size() &&
         top.size() < ColumnsOf(order).size() && CompareKeys(top, *index.bottom, top.size()) == 0 &&
         CompareKeys(top, bound, top.size()) == 0;
}

std::optional<Table::Read> Table::ContinueStream(int order, Direction dir) {
  std::optional<int64_t> current;
  if (OnRecord()) current = recno_;
  switch (shortcuts_.Next(order, dir, current, &scratch_recno_, &scratch_)) {
    case ReadShortcuts::Step::kNotServed:
      return std::nullopt;
    case ReadShortcuts::Step::kEnd:
      return Read::kNone;
    case ReadShortcuts::Step::kRow:
      break;
  }
  if (order >= 0 && HasScope(order) && !RowInScope(order, scratch_, scratch_recno_)) {
    shortcuts_.StopStream();
    return Read::kNone;
  }
  values_.swap(scratch_);
  BecomeCurrent(scratch_recno_, DataVersion());
  return Read::kFound;
}

Table::Read Table::FirstFrom(int order, const std::vector<Value>& bound) {
  const Scope& scope = ScopeOf(order);
  std::optional<ReadShortcuts::FirstRead> remembered = shortcuts_.RecallFirst(
      order, scope, bound,
      [&](int64_t recno, std::vector<Value>* values) { return ReadRecord(recno, values); });
  if (remembered) {
    if (!remembered->found) return Read::kNone;
    // A stream left standing on this record goes on from it; any other is stopped by the next
    // move, which finds it elsewhere.
    values_ = *remembered->values;
    BecomeCurrent(remembered->recno, DataVersion());
    shortcuts_.CurrentIsFirst(remembered->entry);
    return Read::kFound;
  }
  std::optional<ReadShortcuts::WalkStep> walked = shortcuts_.RecallWalkStart(
      order, scope, bound,
      [&](int64_t recno, std::vector<Value>* values) { return ReadRecord(recno, values); });
  if (walked) {
    values_ = *walked->values;
    BecomeCurrent(walked->recno, DataVersion());
    shortcuts_.CurrentIsWalkRow();
    connection_->AddEndListener(this);
    return Read::kFound;
  }
  Read read = ReadBeyond(order, Direction::kForward, bound, true);
  if (shortcuts_.RememberFirst(order, scope, bound, recno_,
                               read == Read::kFound ? &values_ : nullptr)) {
    connection_->AddEndListener(this);
  }
  return read;
}

bool Table::StepOnce(int order, Direction dir) {
  bool forward = dir == Direction::kForward;
  int64_t from = recno_;
  if (forward) {
    std::optional<ReadShortcuts::WalkStep> walked = shortcuts_.RecallStep(
        order, ScopeOf(order), from,
        [&](int64_t recno, std::vector<Value>* values) { return ReadRecord(recno, values); });
    if (walked) {
      if (!walked->found) return false;
      values_ = *walked->values;
      BecomeCurrent(walked->recno, DataVersion());
      shortcuts_.CurrentIsWalkRow();
      return true;
    }
  }
  bool found = StepThroughFile(order, dir);
  if (forward) {
    shortcuts_.WalkStepped(order, ScopeOf(order), from, recno_, found ? &values_ : nullptr);
  }
  return found;
}

bool Table::StepThroughFile(int order, Direction dir) {
  bool forward = dir == Direction::kForward;
  const IndexState* index = order >= 0 ? &IndexAt(order) : nullptr;
  // Whether a place lies before the top scope (forward) or after the bottom one (backward).
  auto before_start = [&](const std::vector<Value>& key) {
    if (!index) return false;
    if (forward) return index->top && CompareKeys(key, *index->top, index->top->size()) < 0;
    return index->bottom && CompareKeys(key, *index->bottom, index->bottom->size()) > 0;
  };
  if (std::optional<Read> streamed = ContinueStream(order, dir)) return *streamed == Read::kFound;
  // The place the record was read at serves while it holds (read_shortcuts.h, invariant 4): the
  // file's data version tells of commits, the connection's count of place changes of its own
  // re-keyings and undoings. A record number never changes, so the natural order always trusts it.
  std::vector<Value> key = KeyOf(order, values_, recno_);
  bool trusted = ColumnsOf(order).size() == 1;
  bool place_holds = source_->attachment()->place_changes() == read_.place_changes;
  Read read = Read::kStale;
  if (!before_start(key) && (trusted || place_holds)) {
    read = ReadBeyond(order, dir, key, false, trusted ? nullptr : &read_.version);
  }
  if (read == Read::kStale) {
    key = FreshKey(order);
    if (before_start(key)) {
      forward ? GotoTop(order) : GotoBottom(order);
      return OnRecord();
    }
    read = ReadBeyond(order, dir, key, false);
  }
  return read == Read::kFound;
}

void Table::GoEmpty() {
  first_of_order_ = kNoOrder;
  position_ = Position::kEmpty;
}

void Table::GotoTop(int order) {
  DropPending();
  MarkBof(false);
  std::vector<Value> bound;
  if (order >= 0 && IndexAt(order).top) bound = *IndexAt(order).top;
  if (FirstFrom(order, bound) != Read::kFound) {
    GoEmpty();
    if (shortcuts_.TopFoundEmpty(order)) connection_->AddEndListener(this);
    return;
  }
  assert(position_ == Position::kOnRecord);
  shortcuts_.WalkBegins(order, ScopeOf(order), recno_, values_);
  first_of_order_ = order;
  top_place_changes_ = source_->attachment()->place_changes();
}

void Table::GotoBottom(int order) {
  DropPending();
  MarkBof(false);
  std::vector<Value> bound;
  if (order >= 0 && IndexAt(order).bottom) bound = *IndexAt(order).bottom;
  if (ReadBeyond(order, Direction::kBackward, bound, true) != Read::kFound) GoEmpty();
}

void Table::Skip(int order, int32_t count) {
  DropPending();
  for (; count > 0; --count) {
    if (at_eof()) return;
    if (!OnRecord()) {
      GotoTop(order);
      continue;
    }
    MarkBof(false);
    if (!StepOnce(order, Direction::kForward)) {
      PassEnd();
      return;
    }
  }
  for (; count < 0; ++count) {
    if (!OnRecord()) {
      if (!at_eof()) {
        MarkBof(true);
        return;
      }
      // A dataset's move to its first record steps back from the top; in an empty scope that
      // would seek the bottom for nothing.
      if (shortcuts_.TopStillEmpty(order)) {
        GoEmpty();
        continue;
      }
      GotoBottom(order);
      continue;
    }
    // Just after a move to the top nothing lies before it, inside the transaction that move was
    // made in (read_shortcuts.h, invariant 4).
    if (first_of_order_ == order && shortcuts_.Serve() &&
        read_.transaction == connection_->transactions_begun() &&
        source_->attachment()->place_changes() == top_place_changes_) {
      MarkBof(true);
      return;
    }
    if (!StepOnce(order, Direction::kBackward)) {
      MarkBof(true);  // stays on the first record
      return;
    }
    assert(position_ == Position::kOnRecord);  // BecomeCurrent drops the mark
  }
}

void Table::GotoRecord(int64_t recno) {
  // The current record met again is not read again while its read holds (read_shortcuts.h,
  // invariant 8): an edit's first step.
  if (recno == recno_ && CurrentReadHolds()) {
    DropPending();
    first_of_order_ = kNoOrder;
    position_ = Position::kOnRecord;
    standing_ = Standing::kAsRead;  // no condition, or there would be no shortcut
    return;
  }
  // Nor is the record stood on before a seek that found nothing, the way back a dataset takes
  // after it (invariant 8 too).
  std::optional<StoodOn> stood_on = std::exchange(before_seek_, std::nullopt);
  if (stood_on && stood_on->recno == recno && ReadHolds(recno, stood_on->read)) {
    DropPending();
    values_.swap(stood_on->values);
    recno_ = recno;
    ValuesChanged();
    read_ = stood_on->read;
    shortcuts_.ForgetEmptyTop();
    first_of_order_ = kNoOrder;
    position_ = Position::kOnRecord;
    standing_ = Standing::kAsRead;
    return;
  }
  if (!ReadRecord(recno, &scratch_)) {
    Fail(ISAM_ERR_RECORD_NOT_FOUND,
         "Record " + std::to_string(recno) + " does not exist in " + Title());
  }
  DropPending();
  values_.swap(scratch_);
  BecomeCurrent(recno, step_version_);
  shortcuts_.RecordRead(recno, values_);
  if (!Qualifies(recno)) standing_ = Standing::kUnqualified;
}

bool Table::ReadHolds(int64_t recno, const ReadStamp& stamp) const {
  const Attachment& file = *source_->attachment();
  return shortcuts_.Serve() && stamp.transaction == connection_->transactions_begun() &&
         file.place_changes() == stamp.place_changes &&
         !file.RecordChangedSince(recno, stamp.changes);
}

bool Table::CurrentReadHolds() const {
  return OnRecord() && standing_ != Standing::kGone && ReadHolds(recno_, read_);
}

bool Table::IsVisible(int order) {
  RequireRecord();
  return standing_ == Standing::kAsRead && RowInScope(order, values_, recno_);
}

// The current record read again: it stays current, at the place it was first read at while that
// place still holds.
void Table::Refresh() {
  RequireRecord();
  std::vector<Value> values;
  if (ReadRecord(recno_, &values)) {
    standing_ = Qualifies(recno_) ? Standing::kAsRead : Standing::kUnqualified;
    if (standing_ == Standing::kAsRead || !source_->is_view()) {
      values_ = std::move(values);
      ValuesChanged();
      read_.version = step_version_;
      NoteReadCounts();
      return;
    }
  } else {
    standing_ = Standing::kGone;
  }
  if (source_->is_view()) MoveOffUnqualified();
}

void Table::MoveOffUnqualified() {
  // From the place the record held when it was read: the next record, else the previous one.
  std::vector<Value> place = KeyOf(Table::kNaturalOrder, values_, recno_);
  MarkBof(false);
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
    const IndexState& index = IndexAt(order);
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
  if (!OnRecord()) {
    Fail(ISAM_ERR_NO_KEY_POSITION, "No key position in " + Title() + " without a current record");
  }
  uint32_t total = CountInScope(order, nullptr);
  if (total == 0) return 0.0;
  std::vector<Value> key = KeyOf(order, values_, recno_);
  double position = static_cast<double>(CountInScope(order, &key)) / total;
  return position > 1 ? 1 : position;
}

}  // namespace isam
