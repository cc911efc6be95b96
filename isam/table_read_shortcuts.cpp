// The read shortcuts: reads served from memory inside a transaction of the connection, when no
// other program can change the files. Their invariants, each pinned by a test, are numbered in
// docs/architecture.md ("The engine's read shortcuts"):
// - a stream serves the next move in the same order and direction while the handle stands on the
//   row it gave last and the connection has added, removed or re-keyed no record of the file;
// - a first read at a bound (a move to the top, a seek) is remembered, with the order's scope,
//   until the connection adds, removes or re-keys a record of the file; a record changed in
//   other fields since is read again before it is served;
// - the record image of the current values is built once and kept until the values are read or
//   replaced; a remembered first read keeps its image with it.
// Everything here is emptied when the transaction ends (Table::TransactionEnded).
#include "isam/table.h"

#include <cstring>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"
#include "isam/table_statements.h"

namespace isam {

using namespace table_statements;  // NOLINT: the shared statement helpers

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

}  // namespace isam
