// The read shortcuts: streams, remembered first reads and record images (see read_shortcuts.h for
// the invariants each keeps).
#include "isam/read_shortcuts.h"

#include "isam/connection.h"
#include "isam/table_statements.h"

namespace isam {

ReadShortcuts::ReadShortcuts(const Connection* connection, const RecordSource* source)
    : connection_(connection), source_(source) {}

bool ReadShortcuts::Serve() const {
  return connection_->in_transaction() && source_->condition().empty();
}

void ReadShortcuts::Forget() {
  StopStream();
  firsts_.clear();
  image_entry_ = kNoEntry;
}

sqlite3_stmt* ReadShortcuts::StreamStatement(uint64_t key,
                                             const std::function<std::string()>& sql) {
  StmtPtr& owned = stream_statements_[key];
  if (!owned) owned = Prepare(source_->db(), sql(), source_->path());
  return owned.get();
}

void ReadShortcuts::StartStream(sqlite3_stmt* stmt, int order, Direction dir, int64_t recno) {
  stream_ = Stream{stmt, order, dir, recno, source_->attachment()->place_changes()};
}

void ReadShortcuts::StopStream() {
  if (!stream_.stmt) return;
  sqlite3_reset(stream_.stmt);
  stream_.stmt = nullptr;
}

ReadShortcuts::Step ReadShortcuts::Next(int order, Direction dir, std::optional<int64_t> current,
                                        int64_t* recno, std::vector<Value>* values) {
  if (!stream_.stmt) return Step::kNotServed;
  if (!Serve() || stream_.order != order || stream_.dir != dir || current != stream_.recno ||
      source_->attachment()->place_changes() != stream_.place_changes) {
    StopStream();
    return Step::kNotServed;
  }
  int rc = sqlite3_step(stream_.stmt);
  if (rc != SQLITE_ROW) {
    sqlite3_stmt* stmt = stream_.stmt;
    StopStream();
    if (rc == SQLITE_DONE) return Step::kEnd;
    FailFromSqlite(sqlite3_db_handle(stmt), rc, source_->path());
  }
  table_statements::ReadRow(stream_.stmt, *source_, recno, values);
  stream_.recno = *recno;
  return Step::kRow;
}

std::optional<ReadShortcuts::FirstRead> ReadShortcuts::RecallFirst(int order, const Scope& scope,
                                                                   const std::vector<Value>& bound,
                                                                   const RecordReader& read) {
  if (!Serve()) return std::nullopt;
  const Attachment& file = *source_->attachment();
  for (auto it = firsts_.rbegin(); it != firsts_.rend(); ++it) {
    if (it->order != order || it->place_changes != file.place_changes()) continue;
    if (it->scope != scope || it->bound != bound) continue;
    if (!it->found) return FirstRead{};
    // The record is the same; its values are read again if it changed since.
    if (file.RecordChangedSince(it->recno, it->changes)) {
      it->image.clear();
      if (!read(it->recno, &it->values)) return std::nullopt;
      it->changes = file.changes();
    }
    return FirstRead{true, it->recno, &it->values, static_cast<size_t>(firsts_.rend() - it) - 1};
  }
  return std::nullopt;
}

bool ReadShortcuts::RememberFirst(int order, const Scope& scope, const std::vector<Value>& bound,
                                  int64_t recno, const std::vector<Value>* values) {
  if (!Serve()) return false;
  if (firsts_.size() == kRememberedFirsts) firsts_.erase(firsts_.begin());
  image_entry_ = kNoEntry;
  RememberedFirst entry;
  entry.order = order;
  entry.scope = scope;
  entry.bound = bound;
  entry.found = values != nullptr;
  if (values) {
    entry.recno = recno;
    entry.values = *values;
  }
  entry.changes = source_->attachment()->changes();
  entry.place_changes = source_->attachment()->place_changes();
  firsts_.push_back(std::move(entry));
  // The values just remembered are the current ones.
  if (values) image_entry_ = firsts_.size() - 1;
  return true;
}

void ReadShortcuts::ValuesChanged() {
  image_current_ = false;
  image_entry_ = kNoEntry;
}

void ReadShortcuts::CurrentIsFirst(size_t entry) {
  image_entry_ = entry;
  if (!firsts_[entry].image.empty()) {
    image_ = firsts_[entry].image;
    image_current_ = true;
  }
}

const std::vector<uint8_t>& ReadShortcuts::CurrentImage(
    size_t length, const std::function<void(uint8_t*)>& build) {
  if (!image_current_) {
    image_.assign(length, 0);
    build(image_.data());
    image_current_ = true;
    if (image_entry_ < firsts_.size()) firsts_[image_entry_].image = image_;
  }
  return image_;
}

}  // namespace isam
