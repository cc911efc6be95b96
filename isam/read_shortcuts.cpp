// The read shortcuts: streams, remembered first reads and record images (see read_shortcuts.h for
// the invariants each keeps).
#include "isam/read_shortcuts.h"

#include "isam/connection.h"
#include "isam/table_statements.h"

namespace isam {

void Scope::Rehash() {
  size_t h = 0;
  if (!top && !bottom) {  // as a scope never set
    hash = 0;
    return;
  }
  auto mix = [&h](size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
  for (const auto* end : {&top, &bottom}) {
    mix(end->has_value() ? end->value().size() + 1 : 0);
    if (*end) {
      for (const Value& v : **end) mix(std::hash<Value>{}(v));
    }
  }
  hash = h;
}

ReadShortcuts::ReadShortcuts(const Connection* connection, const RecordSource* source)
    : connection_(connection), source_(source) {}

bool ReadShortcuts::Serve() const {
  return connection_->transaction_intact() && source_->condition().empty();
}

void ReadShortcuts::Forget() {
  StopStream();
  firsts_.clear();
  recording_.reset();
  walks_.clear();
  empty_top_.reset();
  image_home_ = nullptr;
  given_row_ = nullptr;
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
  image_home_ = nullptr;  // the entries may move
  RememberedFirst entry;
  if (firsts_.size() == kRememberedFirsts) {
    // The oldest entry gives its storage to the new one: its vectors keep their room.
    entry = std::move(firsts_.front());
    firsts_.pop_front();
    entry.image.clear();
  }
  entry.order = order;
  entry.scope = scope;
  entry.bound = bound;
  entry.found = values != nullptr;
  entry.recno = values ? recno : 0;
  if (values) {
    entry.values = *values;
  } else {
    entry.values.clear();
  }
  entry.changes = source_->attachment()->changes();
  entry.place_changes = source_->attachment()->place_changes();
  firsts_.push_back(std::move(entry));
  // The values just remembered are the current ones.
  if (values) KeepImageIn(&firsts_.back().image, &firsts_.back().changes);
  return true;
}

void ReadShortcuts::ValuesChanged() {
  image_current_ = false;
  image_home_ = nullptr;
}

void ReadShortcuts::CurrentIsFirst(size_t entry) {
  KeepImageIn(&firsts_[entry].image, &firsts_[entry].changes);
}

void ReadShortcuts::CurrentIsWalkRow() {
  if (given_row_) KeepImageIn(&given_row_->image, &given_row_->changes);
}

void ReadShortcuts::KeepImageIn(std::vector<uint8_t>* home, const uint64_t* changes) {
  image_home_ = home;
  image_home_changes_ = changes;
  image_home_expected_ = *changes;
  if (!home->empty()) {
    image_ = *home;
    image_current_ = true;
  }
}

const std::vector<uint8_t>& ReadShortcuts::CurrentImage(
    size_t length, const std::function<void(uint8_t*)>& build) {
  if (!image_current_) {
    image_.assign(length, 0);
    build(image_.data());
    image_current_ = true;
    if (image_home_ && *image_home_changes_ == image_home_expected_) *image_home_ = image_;
  }
  return image_;
}

void WalkShelf::Put(std::shared_ptr<RememberedWalk> walk) {
  std::erase_if(walks_, [&](const std::shared_ptr<RememberedWalk>& shelved) {
    return shelved->transaction != walk->transaction ||
           (shelved->order == walk->order && shelved->scope == walk->scope);
  });
  if (walks_.size() == kShelved) walks_.pop_front();
  walks_.push_back(std::move(walk));
}

std::shared_ptr<RememberedWalk> WalkShelf::Find(int order, const Scope& scope,
                                                uint64_t place_changes, uint64_t transaction) {
  // A walk of an earlier transaction may hold records another program has changed since.
  std::erase_if(walks_, [&](const std::shared_ptr<RememberedWalk>& shelved) {
    return shelved->transaction != transaction;
  });
  for (auto it = walks_.rbegin(); it != walks_.rend(); ++it) {
    const RememberedWalk& walk = **it;
    if (walk.order == order && walk.place_changes == place_changes && walk.scope == scope) {
      return *it;
    }
  }
  return nullptr;
}

WalkShelf* ReadShortcuts::Shelf() const {
  return source_->is_view() ? nullptr : &source_->attachment()->walk_shelf();
}

RememberedWalk* ReadShortcuts::OwnWalk(int order, const Scope& scope) {
  uint64_t place_changes = source_->attachment()->place_changes();
  uint64_t transaction = connection_->transactions_begun();
  for (auto it = walks_.rbegin(); it != walks_.rend(); ++it) {
    RememberedWalk& walk = **it;
    if (walk.order == order && walk.transaction == transaction &&
        walk.place_changes == place_changes && walk.scope == scope) {
      return &walk;
    }
  }
  return nullptr;
}

std::shared_ptr<RememberedWalk> ReadShortcuts::ShelvedWalk(int order, const Scope& scope) const {
  WalkShelf* shelf = Shelf();
  if (!shelf) return nullptr;
  return shelf->Find(order, scope, source_->attachment()->place_changes(),
                     connection_->transactions_begun());
}

RememberedWalk& ReadShortcuts::KeepWalk(std::shared_ptr<RememberedWalk> walk) {
  for (auto it = walks_.begin(); it != walks_.end();) {
    bool same = (*it)->order == walk->order && (*it)->scope == walk->scope;
    it = same ? walks_.erase(it) : std::next(it);
  }
  if (walks_.size() == kRememberedWalks) walks_.pop_front();
  walks_.push_back(std::move(walk));
  // A walk dropped may hold the copy the current values came from.
  image_home_ = nullptr;
  given_row_ = nullptr;
  return *walks_.back();
}

void ReadShortcuts::WalkBegins(int order, const Scope& scope, int64_t recno,
                               const std::vector<Value>& values) {
  recording_.reset();
  if (!Serve() || OwnWalk(order, scope) || ShelvedWalk(order, scope)) return;
  recording_.emplace();
  recording_->order = order;
  recording_->scope = scope;
  recording_->transaction = connection_->transactions_begun();
  recording_->place_changes = source_->attachment()->place_changes();
  recording_->rows.push_back(WalkRow{recno, values, source_->attachment()->changes(), {}});
}

void ReadShortcuts::WalkStepped(int order, const Scope& scope, int64_t from, int64_t recno,
                                const std::vector<Value>* values) {
  if (!recording_) return;
  RememberedWalk& walk = *recording_;
  const Attachment& file = *source_->attachment();
  // Only an unbroken walk from the first record, with every record in its place, is remembered.
  if (!Serve() || walk.order != order || walk.rows.back().recno != from ||
      walk.transaction != connection_->transactions_begun() ||
      walk.place_changes != file.place_changes() || walk.scope != scope) {
    recording_.reset();
    return;
  }
  if (values) {
    if (walk.rows.size() == kWalkRows) {
      recording_.reset();
      return;
    }
    walk.rows.push_back(WalkRow{recno, *values, file.changes(), {}});
    return;
  }
  // The end: the walk is whole, and shared with the file's other handles.
  auto whole = std::make_shared<RememberedWalk>(std::move(walk));
  recording_.reset();
  if (WalkShelf* shelf = Shelf()) shelf->Put(whole);
  KeepWalk(std::move(whole));
}

std::optional<ReadShortcuts::WalkStep> ReadShortcuts::RecallStep(int order, const Scope& scope,
                                                                 int64_t from,
                                                                 const RecordReader& read) {
  if (!Serve()) return std::nullopt;
  // Where `from` stands in `walk`, or rows.size().
  auto place_of_from = [&](const RememberedWalk& walk) {
    const std::vector<WalkRow>& rows = walk.rows;
    if (walk.last_given < rows.size() && rows[walk.last_given].recno == from) {
      return walk.last_given;
    }
    size_t at = 0;
    while (at < rows.size() && rows[at].recno != from) ++at;
    return at;
  };
  RememberedWalk* walk = OwnWalk(order, scope);
  size_t at = walk ? place_of_from(*walk) : 0;
  if (!walk || at == walk->rows.size()) {
    // Another handle's walk is taken up only when it met the record this step starts from, so
    // that a miss does not push out this handle's own walks.
    std::shared_ptr<RememberedWalk> shared = ShelvedWalk(order, scope);
    if (!shared || shared.get() == walk) return std::nullopt;
    at = place_of_from(*shared);
    if (at == shared->rows.size()) return std::nullopt;  // a record no walk met
    walk = &KeepWalk(std::move(shared));
  }
  std::vector<WalkRow>& rows = walk->rows;
  recording_.reset();
  if (at + 1 == rows.size()) {
    walk->last_given = 0;
    return WalkStep{};
  }
  return GiveRow(*walk, at + 1, read);
}

std::optional<ReadShortcuts::WalkStep> ReadShortcuts::RecallWalkStart(
    int order, const Scope& scope, const std::vector<Value>& bound, const RecordReader& read) {
  if (!Serve()) return std::nullopt;
  bool at_scope_start = scope.top ? bound == *scope.top : bound.empty();
  if (!at_scope_start) return std::nullopt;
  RememberedWalk* walk = OwnWalk(order, scope);
  if (!walk) {
    std::shared_ptr<RememberedWalk> shared = ShelvedWalk(order, scope);
    if (!shared) return std::nullopt;
    walk = &KeepWalk(std::move(shared));
  }
  recording_.reset();
  return GiveRow(*walk, 0, read);
}

std::optional<ReadShortcuts::WalkStep> ReadShortcuts::GiveRow(RememberedWalk& walk, size_t at,
                                                              const RecordReader& read) {
  WalkRow& row = walk.rows[at];
  const Attachment& file = *source_->attachment();
  if (file.RecordChangedSince(row.recno, row.changes)) {
    row.image.clear();
    if (!read(row.recno, &row.values)) return std::nullopt;
    row.changes = file.changes();
  }
  walk.last_given = at;
  given_row_ = &row;
  return WalkStep{true, row.recno, &row.values};
}

void ReadShortcuts::RecordRead(int64_t recno, const std::vector<Value>& values) {
  uint64_t changes = source_->attachment()->changes();
  auto take = [&](RememberedWalk& walk) {
    for (WalkRow& row : walk.rows) {
      if (row.recno != recno) continue;
      row.values = values;
      row.changes = changes;
      row.image.clear();
    }
  };
  if (recording_) take(*recording_);
  for (const std::shared_ptr<RememberedWalk>& walk : walks_) take(*walk);
  // A first read keeps its place unless a record's place changed, which the entry checks.
  for (RememberedFirst& first : firsts_) {
    if (!first.found || first.recno != recno) continue;
    first.values = values;
    first.changes = changes;
    first.image.clear();
  }
}

bool ReadShortcuts::TopFoundEmpty(int order) {
  if (!Serve()) return false;
  empty_top_ = EmptyTop{order, source_->attachment()->place_changes()};
  return true;
}

bool ReadShortcuts::TopStillEmpty(int order) const {
  return empty_top_ && empty_top_->order == order && Serve() &&
         empty_top_->place_changes == source_->attachment()->place_changes();
}

}  // namespace isam
