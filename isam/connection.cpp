#include "isam/connection.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "isam/codepage.h"
#include "isam/file_lookup.h"
#include "isam/read_shortcuts.h"

namespace isam {
namespace {

constexpr int kMaxAttachedPerSlot = 10;  // SQLite's limit as Debian builds it
constexpr int kJournalRetryMs = 2;

std::string FileUri(const std::string& path, bool read_only) {
  return UriOfFile(SqliteFileName(path)) + (read_only ? "?mode=ro" : "?mode=rw");
}

// Opens `path` through `open` (a URI). A read-only open of a file in write-ahead mode needs the
// log's shared-memory file; in a folder where that cannot be made (`check` fails), an empty log
// means the file itself is whole, and it is opened as immutable after `undo`.
template <typename Open, typename Check, typename Undo>
void OpenWithFallback(const std::string& path, bool read_only, Open open, Check check, Undo undo) {
  try {
    open(FileUri(path, read_only));
    if (read_only) check();
  } catch (const Failure&) {
    undo();
    struct stat wal {};
    bool log_has_pages = stat((path + "-wal").c_str(), &wal) == 0 && wal.st_size > 0;
    if (!read_only || log_has_pages) throw;
    open(FileUri(path, read_only) + "&immutable=1");
  }
}

}  // namespace

Attachment::Attachment(Connection* connection, size_t slot, std::string schema_name,
                       std::string path, bool read_only)
    : connection_(connection),
      slot_(slot),
      schema_name_(std::move(schema_name)),
      path_(std::move(path)),
      read_only_(read_only) {
  from_ = QuoteIdentifier(schema_name_) + ".records";
}

Attachment::~Attachment() {
  connection_->Detach(slot_, schema_name_, (read_only_ ? "r:" : "w:") + path_);
}

void Attachment::EnsureRollbackJournal() {
  if (journal_ready_) return;
  std::string pragma = "PRAGMA " + QuoteIdentifier(schema_name_) + ".journal_mode";
  StmtPtr stmt = Prepare(db(), pragma, path_);
  {
    StatementUse use(stmt.get(), path_);
    if (use.Step()) {
      const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      journal_ready_ = !mode || std::string(mode) != "wal";
    }
  }
  // Leaving write-ahead mode needs the file to itself; while another program has it open in that
  // mode SQLite answers busy at once rather than wait, so the switch is tried again for a while:
  // a reader's short transaction is waited out, a program that keeps the file open is named.
  for (int waited = 0; !journal_ready_; waited += kJournalRetryMs) {
    int rc = sqlite3_exec(db(), (pragma + "=DELETE").c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      journal_ready_ = true;
    } else if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) {
      FailFromSqlite(db(), rc, path_);
    } else if (waited >= kBusyTimeoutMs) {
      Fail(ISAM_ERR_BUSY, HeldInWalModeText(path_));
    } else {
      sqlite3_sleep(kJournalRetryMs);
    }
  }
}

void Attachment::RequireIntactTransaction() const {
  connection_->RequireIntactTransaction();
}

void Attachment::RefuseWhereLocksStayLocal() const {
  const FolderFilesystem& filesystem = connection_->filesystem();
  if (!filesystem.local_locks.empty()) {
    Fail(ISAM_ERR_NOT_SUPPORTED, LocalLocksText(connection_->folder(), filesystem));
  }
}

sqlite3* Attachment::db() const {
  return connection_->slot_db(slot_);
}

void Attachment::set_schema(TableSchema schema) {
  schema_ = std::move(schema);
}

void Attachment::CountChange(int64_t changed_record) {
  ++changes_;
  if (changed_record == 0) {
    ++place_changes_;
    return;
  }
  constexpr size_t kRecordsKnown = 4096;  // a bound on the memory kept
  if (record_changes_.size() >= kRecordsKnown) {
    record_changes_.clear();
    forgotten_before_ = changes_;
  }
  record_changes_[changed_record] = changes_;
}

bool Attachment::RecordChangedSince(int64_t recno, uint64_t since) const {
  if (since < forgotten_before_) return true;
  auto it = record_changes_.find(recno);
  return it != record_changes_.end() && it->second > since;
}

WalkShelf& Attachment::walk_shelf() {
  if (!walk_shelf_) walk_shelf_ = std::make_unique<WalkShelf>();
  return *walk_shelf_;
}

bool Attachment::HasRewritingRules() {
  uint64_t transaction = connection_->transaction_intact() ? connection_->transactions_begun() : 0;
  if (transaction != 0 && transaction == rules_looked_up_in_) return has_rewriting_rules_;
  try {
    // A REPLACE anywhere in the table's definition is taken for a replacing constraint; a
    // name that merely holds the word costs only the shortcuts.
    StmtPtr stmt = Prepare(db(),
                           "SELECT 1 FROM " + QuoteIdentifier(schema_name_) +
                               ".sqlite_schema WHERE type = 'trigger' OR (type = 'table' AND "
                               "name = 'records' AND sql LIKE '%REPLACE%') UNION ALL "
                               "SELECT 1 FROM temp.sqlite_schema WHERE type = 'trigger' LIMIT 1",
                           path_);
    has_rewriting_rules_ = sqlite3_step(stmt.get()) != SQLITE_DONE;
  } catch (const Failure&) {
    has_rewriting_rules_ = true;
  }
  rules_looked_up_in_ = transaction;
  return has_rewriting_rules_;
}

Connection::Connection(std::string folder, FolderFilesystem filesystem)
    : folder_(std::move(folder)), filesystem_(std::move(filesystem)) {}

Connection::~Connection() {
  if (in_transaction_) Rollback();
}

std::optional<size_t> Connection::SlotWithRoom(int encoding) const {
  if (in_transaction_) return std::nullopt;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].encoding == encoding && slots_[i].attached < kMaxAttachedPerSlot) return i;
  }
  return std::nullopt;
}

void Connection::OpenForChanges(Attachment* attachment) {
  const std::string& path = attachment->path();
  int encoding = slots_[attachment->slot()].encoding;
  auto refuse = [&](const std::string& other_path, int other_encoding) {
    Fail(ISAM_ERR_NOT_SUPPORTED,
         "The table " + path + " cannot be opened for changes: its text is stored in " +
             TextEncodingName(encoding) + ", while " + other_path + ", open for changes, is in " +
             TextEncodingName(other_encoding) +
             "; changes to tables of different text encodings cannot be committed together. "
             "Store both tables in one encoding (UTF-8 is the usual), or open one read-only");
  };
  for (const auto& [key, weak] : attachments_) {
    auto other = weak.lock();
    if (!other || other->writers() == 0) continue;
    int other_encoding = slots_[other->slot()].encoding;
    if (other_encoding != encoding) refuse(other->path(), other_encoding);
  }
  // Files closed during the transaction keep their changes until it ends.
  for (const PendingDetach& pending : pending_detach_) {
    int other_encoding = slots_[pending.slot].encoding;
    if (pending.key.rfind("w:", 0) == 0 && other_encoding != encoding) {
      refuse(pending.key.substr(2), other_encoding);
    }
  }
  ++attachment->writers_;
}

size_t Connection::OpenSlot(const std::string& path, const std::string& key, bool read_only,
                            int encoding) {
  Slot slot;
  slot.encoding = encoding;
  OpenWithFallback(
      path, read_only,
      [&](const std::string& uri) {
        slot.db = OpenDb(uri, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, path);
      },
      [&] { ReadSchema(slot.db.get(), "main", path); }, [&] { slot.db.reset(); });
  sqlite3_busy_handler(slot.db.get(), WaitAMillisecond<kBusyTimeoutMs>, nullptr);
  slot.main_key = key;
  slot.main_in_use = true;
  slots_.push_back(std::move(slot));
  return slots_.size() - 1;
}

std::shared_ptr<Attachment> Connection::Reuse(size_t slot, const std::string& schema_name,
                                              const std::string& path, const std::string& key,
                                              bool read_only) {
  auto attachment = std::make_shared<Attachment>(this, slot, schema_name, path, read_only);
  attachment->set_schema(ReadSchema(attachment->db(), schema_name, path));
  attachments_[key] = attachment;
  return attachment;
}

std::shared_ptr<Attachment> Connection::Attach(const std::string& path, bool read_only) {
  std::string key = (read_only ? "r:" : "w:") + path;
  auto found = attachments_.find(key);
  if (found != attachments_.end()) {
    if (auto existing = found->second.lock()) return existing;
  }
  // A file closed during this transaction is still attached, with its changes: take it up again.
  for (auto it = pending_detach_.begin(); it != pending_detach_.end(); ++it) {
    if (it->key != key) continue;
    PendingDetach pending = *it;
    pending_detach_.erase(it);
    return Reuse(pending.slot, pending.schema_name, path, key, read_only);
  }
  // A slot's main database stays open when its table is closed: take it up again.
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].main_key != key || slots_[i].main_in_use) continue;
    auto attachment = Reuse(i, "main", path, key, read_only);
    slots_[i].main_in_use = true;
    return attachment;
  }
  // The table file itself was looked at when it was found; SQLite writes the files beside a
  // writable one too, and reads a journal or log beside any one, where a named pipe would block
  // it.
  RefuseOddSideFiles(path);
  int encoding = CheckTableFileHeader(path);

  // In a transaction, a new file gets a slot of its own whose transaction starts after it opens.
  bool was_in_transaction = in_transaction_;
  std::optional<size_t> room = SlotWithRoom(encoding);
  size_t slot_index = 0;
  std::string schema_name = "main";
  if (room) {
    slot_index = *room;
    Slot& slot = slots_[slot_index];
    schema_name = "t" + std::to_string(slot.next_schema++);
    AttachFile(slot.db.get(), path, schema_name, read_only);
    ++slot.attached;
  } else {
    slot_index = OpenSlot(path, key, read_only, encoding);
  }
  sqlite3* db = slots_[slot_index].db.get();
  auto attachment = std::make_shared<Attachment>(this, slot_index, schema_name, path, read_only);
  try {
    attachment->set_schema(ReadSchema(db, schema_name, path));
    Exec(db, "PRAGMA " + QuoteIdentifier(schema_name) + ".synchronous=NORMAL", path);
    if (was_in_transaction) {
      if (!read_only) attachment->EnsureRollbackJournal();
      Exec(db, "BEGIN IMMEDIATE", folder_);
      for (int depth = 1; depth <= savepoints_; ++depth) {
        Exec(db, "SAVEPOINT " + SavepointName(depth), folder_);
      }
    }
  } catch (...) {
    attachment.reset();  // detaches
    if (!room) slots_.pop_back();
    throw;
  }
  attachments_[key] = attachment;
  return attachment;
}

void Connection::AttachFile(sqlite3* db, const std::string& path, const std::string& schema_name,
                            bool read_only) {
  OpenWithFallback(
      path, read_only,
      [&](const std::string& uri) {
        StmtPtr stmt = Prepare(db, "ATTACH DATABASE ?1 AS " + QuoteIdentifier(schema_name), path);
        sqlite3_bind_text(stmt.get(), 1, uri.c_str(), -1, SQLITE_TRANSIENT);
        StatementUse use(stmt.get(), path);
        use.Step();
      },
      [&] { ReadSchema(db, schema_name, path); },
      [&] {
        sqlite3_exec(db, ("DETACH DATABASE " + QuoteIdentifier(schema_name)).c_str(), nullptr,
                     nullptr, nullptr);
      });
}

void Connection::Detach(size_t slot, const std::string& schema_name, const std::string& key) {
  auto found = attachments_.find(key);
  if (found != attachments_.end() && found->second.expired()) attachments_.erase(found);
  if (schema_name == "main") {  // a handle's main database cannot be detached
    slots_[slot].main_in_use = false;
    return;
  }
  if (in_transaction_) {
    pending_detach_.push_back(PendingDetach{slot, schema_name, key});
    return;
  }
  sqlite3_exec(slots_[slot].db.get(), ("DETACH DATABASE " + QuoteIdentifier(schema_name)).c_str(),
               nullptr, nullptr, nullptr);
  --slots_[slot].attached;
}

void Connection::Begin() {
  if (in_transaction_) Fail(ISAM_ERR_TRANSACTION, "A transaction is already active on " + folder_);
  // The journal mode cannot change inside a transaction: writable files switch now.
  for (auto& [key, weak] : attachments_) {
    auto attachment = weak.lock();
    if (attachment && !attachment->read_only()) attachment->EnsureRollbackJournal();
  }
  for (size_t i = 0; i < slots_.size(); ++i) {
    try {
      Exec(slots_[i].db.get(), "BEGIN IMMEDIATE", folder_);
    } catch (const Failure& failure) {
      for (size_t k = 0; k < i; ++k) Exec(slots_[k].db.get(), "ROLLBACK", folder_);
      if (failure.code() != ISAM_ERR_BUSY) throw;
      FailFromSqlite(nullptr, SQLITE_BUSY, BusyFilesOf(i));
    }
  }
  in_transaction_ = true;
  ++transactions_begun_;
}

std::string Connection::BusyFilesOf(size_t slot) const {
  std::vector<std::string> files;
  auto add = [&](const std::string& key) {
    std::string path = key.substr(2);  // after "r:" or "w:"
    if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
  };
  add(slots_[slot].main_key);
  for (const auto& [key, weak] : attachments_) {
    auto attachment = weak.lock();
    if (attachment && attachment->slot() == slot) add(key);
  }
  // A transaction is begun and committed on all of a handle's files at once; which one another
  // program holds is asked of the file locks, without waiting.
  for (const std::string& path : files) {
    if (LockedElsewhere(path)) return path;
  }
  std::string all;
  for (const std::string& path : files) all += (all.empty() ? "" : ", ") + path;
  return files.size() == 1 ? all : "One of " + all;
}

void Connection::DetachPending() {
  for (const PendingDetach& pending : pending_detach_) {
    sqlite3_exec(slots_[pending.slot].db.get(),
                 ("DETACH DATABASE " + QuoteIdentifier(pending.schema_name)).c_str(), nullptr,
                 nullptr, nullptr);
    --slots_[pending.slot].attached;
  }
  pending_detach_.clear();
}

void Connection::RequireTransaction() const {
  if (!in_transaction_) Fail(ISAM_ERR_TRANSACTION, "No transaction is active on " + folder_);
}

void Connection::RequireSavepoint() const {
  RequireTransaction();
  if (savepoints_ == 0) Fail(ISAM_ERR_TRANSACTION, "No savepoint is set on " + folder_);
}

std::string Connection::SavepointName(int depth) {
  return "isam_mark_" + std::to_string(depth);
}

void Connection::ExecOnSlots(const std::string& sql) {
  for (Slot& slot : slots_) Exec(slot.db.get(), sql, folder_);
}

void Connection::RunOnSlots(const std::string& sql) {
  for (Slot& slot : slots_) {
    StmtPtr& stmt = slot.savepoint_statements[sql];
    if (!stmt) stmt = Prepare(slot.db.get(), sql, folder_);
    StatementUse use(stmt.get(), folder_);
    use.Step();
  }
}

void Connection::Savepoint() {
  RequireTransaction();
  RequireIntactTransaction();
  RunOnSlots("SAVEPOINT " + SavepointName(savepoints_ + 1));
  ++savepoints_;
}

void Connection::RollbackToSavepoint() {
  RequireSavepoint();
  RequireIntactTransaction();
  std::string name = SavepointName(savepoints_);
  // Counted first: a rollback that fails on a later slot has already undone the earlier ones.
  CountUndoneChanges();
  ExecOnSlots("ROLLBACK TO " + name + "; RELEASE " + name);
  --savepoints_;
}

void Connection::ReleaseSavepoint() {
  RequireSavepoint();
  RequireIntactTransaction();
  RunOnSlots("RELEASE " + SavepointName(savepoints_));
  --savepoints_;
}

void Connection::Commit() {
  RequireTransaction();
  RefuseLostTransaction();
  for (size_t i = 0; i < slots_.size(); ++i) {
    Slot& slot = slots_[i];
    if (slot.committed) continue;
    sqlite3* db = slot.db.get();
    int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      slot.committed = true;
      continue;
    }
    bool busy = (rc & 0xff) == SQLITE_BUSY;
    FailFromSqlite(busy ? nullptr : db, rc, busy ? BusyFilesOf(i) : folder_);
  }
  EndTransaction();
}

void Connection::CountUndoneChanges() {
  for (auto& [key, weak] : attachments_) {
    if (auto attachment = weak.lock()) attachment->CountChange();
  }
}

void Connection::Rollback() {
  RequireTransaction();
  CountUndoneChanges();
  for (Slot& slot : slots_) sqlite3_exec(slot.db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  EndTransaction();
}

bool Connection::CheckTransaction() {
  if (!in_transaction_ || lost_) return !lost_;
  // Every slot holds the transaction from its beginning (or its opening) to its commit.
  bool ended = std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) {
    return !slot.committed && sqlite3_get_autocommit(slot.db.get());
  });
  if (!ended) return true;
  // The files SQLite left in the transaction are undone too, so that its changes go as one.
  CountUndoneChanges();
  for (Slot& slot : slots_) {
    if (!slot.committed && !sqlite3_get_autocommit(slot.db.get())) {
      sqlite3_exec(slot.db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  lost_ = true;
  TellEndListeners();
  return false;
}

bool Connection::PartlyCommitted() const {
  return std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.committed; });
}

void Connection::RefuseLostTransaction() {
  if (CheckTransaction()) return;
  Fail(ISAM_ERR_TRANSACTION,
       "The transaction on " + folder_ +
           (PartlyCommitted() ? " was ended by a failure while it was being committed: some of its "
                                "files were stored and the others undone"
                              : " was ended by an earlier failure and every change made in it "
                                "was undone") +
           "; roll it back before going on");
}

void Connection::RequireIntactTransaction() {
  RefuseLostTransaction();
  // A commit that another program cut short has stored some files already: a change or a
  // savepoint now would land outside the transaction.
  if (PartlyCommitted()) {
    Fail(ISAM_ERR_TRANSACTION, "The transaction on " + folder_ +
                                   " is partly committed; commit it again or roll it back "
                                   "before changing anything");
  }
}

void Connection::EndTransaction() {
  in_transaction_ = false;
  lost_ = false;
  savepoints_ = 0;
  for (Slot& slot : slots_) slot.committed = false;
  DetachPending();
  TellEndListeners();
}

void Connection::TellEndListeners() {
  std::vector<TransactionEndListener*> listeners;
  listeners.swap(end_listeners_);
  for (TransactionEndListener* listener : listeners) listener->TransactionEnded();
  kept_locks_.clear();  // their lock files close, and the kernel lets the locks go
}

void Connection::KeepLocksUntilEnd(const std::string& path, std::unique_ptr<LockFile> file,
                                   std::set<int64_t> recnos) {
  kept_locks_.push_back(KeptLocks{path, std::move(file), std::move(recnos)});
}

bool Connection::ReleaseKeptLock(const std::string& path, int64_t recno) {
  for (auto kept = kept_locks_.begin(); kept != kept_locks_.end(); ++kept) {
    if (kept->path != path || !kept->recnos.erase(recno)) continue;
    if (std::optional<uint64_t> byte = LockFile::RecordByte(recno)) kept->file->Unlock(*byte);
    if (kept->recnos.empty()) kept_locks_.erase(kept);
    return true;
  }
  return false;
}

void Connection::AddEndListener(TransactionEndListener* listener) {
  if (std::find(end_listeners_.begin(), end_listeners_.end(), listener) == end_listeners_.end()) {
    end_listeners_.push_back(listener);
  }
}

void Connection::RemoveEndListener(TransactionEndListener* listener) {
  end_listeners_.erase(std::remove(end_listeners_.begin(), end_listeners_.end(), listener),
                       end_listeners_.end());
}

}  // namespace isam
