// An engine connection: a folder and the SQLite handles that its open tables are attached to.
// A table file opened twice on one connection is attached once (an Attachment, shared by the
// table handles). SQLite allows ten attached files per handle, so a connection grows another
// handle (a slot) when the first ones are full. A transaction of the connection spans all slots.
//
// Files are written in rollback-journal mode, and the first file of each slot is the handle's
// main database: SQLite then commits a transaction that changed several files of one slot with
// a super-journal next to that file, so that a process killed in the middle of the commit
// leaves every file as it was before (the next opener rolls the journals back) or every file
// changed. In write-ahead mode each file would commit on its own. Transactions that span slots
// (more than eleven files) are atomic per slot only.
//
// SQLite attaches to a handle only files of its main database's text encoding, so a table file
// in UTF-16 goes to a slot whose main database is in UTF-16. Files of one encoding share slots as
// above; a commit over files of two encodings could not be atomic, so while a table handle has
// a file open for changes, no table of another encoding is opened for changes on the same
// connection (reading it is fine).
#ifndef RIVENOAK_ISAM_CONNECTION_H_
#define RIVENOAK_ISAM_CONNECTION_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "isam/folder_filesystem.h"
#include "isam/lock_file.h"
#include "isam/schema.h"
#include "isam/sqlite_handle.h"

namespace isam {

// How long another program may keep a file busy before a change of it fails.
constexpr int kBusyTimeoutMs = 10000;

class Connection;

// Told when the connection's transaction ends, committed or rolled back.
class TransactionEndListener {
 public:
  virtual ~TransactionEndListener() = default;
  virtual void TransactionEnded() = 0;
};

class WalkShelf;

// One table file attached to a slot of a connection.
class Attachment {
 public:
  Attachment(Connection* connection, size_t slot, std::string schema_name, std::string path,
             bool read_only);
  ~Attachment();
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  sqlite3* db() const;
  const std::string& path() const { return path_; }
  bool read_only() const { return read_only_; }
  const TableSchema& schema() const { return schema_; }
  void set_schema(TableSchema schema);

  // "t1".records, for SQL texts.
  const std::string& from() const { return from_; }
  // The slot's handle and the name the file is attached under.
  size_t slot() const { return slot_; }
  const std::string& schema_name() const { return schema_name_; }
  Connection* connection() const { return connection_; }
  // Takes the file out of write-ahead mode, which another program may have left it in, so that a
  // commit over several files stays atomic. Done when a writable file is first opened for writing
  // or read by a query, before the program's other connections (a dialog's, another query's)
  // have it: in write-ahead mode each of them would hold the file open and keep the switch from
  // happening. Checked again before each first change, for a file that another program switched
  // while it was open here. A table opened read-only leaves the file as it is.
  void EnsureRollbackJournal();
  // Called before every change of the file through this connection: readies the journal and
  // counts the change, so that a move served by a running statement knows it is out of date.
  // `changed_record` names the one record an update changes and tells that it changes no field
  // of any index (every record keeps its place in every order); 0 for any other change.
  // In a network folder whose mount keeps locks on this computer, every change is refused.
  void PrepareChange(int64_t changed_record = 0) {
    RefuseWhereLocksStayLocal();
    RequireIntactTransaction();
    EnsureRollbackJournal();
    CountChange(changed_record);
  }
  // Counts a change made otherwise: a rollback to a savepoint, which undoes changes.
  void CountChange(int64_t changed_record = 0);
  // Table handles of the connection open for changes on the file.
  int writers() const { return writers_; }
  // Every change; and the changes that may have added, removed or moved records in an order.
  uint64_t changes() const { return changes_; }
  uint64_t place_changes() const { return place_changes_; }
  // Whether the record may have changed since the change count was `since`.
  bool RecordChangedSince(int64_t recno, uint64_t since) const;
  // Whether the file's own rules may store other than a write gave, or change other records
  // than the one written: a trigger, or a constraint that replaces (ON CONFLICT REPLACE drops
  // the record holding a unique value, or stores a default for a missing one). Looked up again
  // in each transaction, since another program may add one between transactions; a failing
  // look-up counts as such a rule.
  bool HasRewritingRules();
  // The walks through the file's orders that the connection's handles share (read_shortcuts.h).
  WalkShelf& walk_shelf();

 private:
  void RefuseWhereLocksStayLocal() const;
  // Refuses a change in a transaction SQLite has ended on its own (Connection::CheckTransaction).
  void RequireIntactTransaction() const;

  Connection* connection_;
  size_t slot_;
  std::string schema_name_;
  std::string path_;
  bool read_only_;
  TableSchema schema_;
  std::string from_;
  bool journal_ready_ = false;
  friend class Connection;  // counts the writers
  int writers_ = 0;
  uint64_t changes_ = 0;
  uint64_t place_changes_ = 0;
  // The change count at each record's last change, for the records updated in place lately;
  // changes before `forgotten_before_` are no longer known record by record.
  std::unordered_map<int64_t, uint64_t> record_changes_;
  uint64_t forgotten_before_ = 0;
  uint64_t rules_looked_up_in_ = 0;  // the transaction of the last look-up; 0 for none
  bool has_rewriting_rules_ = true;
  std::unique_ptr<WalkShelf> walk_shelf_;
};

class Connection {
 public:
  explicit Connection(std::string folder, FolderFilesystem filesystem = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& folder() const { return folder_; }
  // The filesystem the folder is on: a network folder is a remote connection.
  const FolderFilesystem& filesystem() const { return filesystem_; }

  // Attaches the file (checked to be a table first), or shares the attachment already made.
  // Attaching writes nothing to the file.
  std::shared_ptr<Attachment> Attach(const std::string& path, bool read_only);

  void Begin();
  void Commit();
  void Rollback();
  bool in_transaction() const { return in_transaction_; }
  // Whether the transaction still holds. SQLite ends one on its own after some failures (a full
  // disk, a constraint declared ON CONFLICT ROLLBACK); it then stays active here, its changes
  // undone and nothing read in it kept, and every change or commit is refused until the caller
  // rolls it back. Nor does one whose commit another program cut short hold: the files it
  // stored already are out of it, free for other programs to change, until it is committed
  // again or rolled back.
  bool transaction_intact() const { return in_transaction_ && !lost_ && !PartlyCommitted(); }
  // Looks whether SQLite has ended the transaction on its own, and if so undoes the rest of it
  // and lets go of what was kept for it; false when it has.
  bool CheckTransaction();
  // The same, failing with what happened when the transaction has been ended.
  void RefuseLostTransaction();
  // Refuses a change or a savepoint in a transaction that has been ended, or that a commit cut
  // short has stored in part (only a commit again or a rollback may follow).
  void RequireIntactTransaction();
  // Counts the transactions begun: what was read in an earlier one, or outside any, may have
  // been changed by another program since.
  uint64_t transactions_begun() const { return transactions_begun_; }
  // Nested marks inside the transaction, on every slot.
  void Savepoint();
  void RollbackToSavepoint();
  void ReleaseSavepoint();
  // Listeners are told once, when the current transaction ends.
  void AddEndListener(TransactionEndListener* listener);
  void RemoveEndListener(TransactionEndListener* listener);
  // The record locks of a handle of the table at `path` closed inside the transaction, with the
  // lock file that holds them: kept until the transaction ends, so that a record changed in it
  // stays locked against other programs until the change is committed or undone.
  void KeepLocksUntilEnd(const std::string& path, std::unique_ptr<LockFile> file,
                         std::set<int64_t> recnos);
  // Lets go of the lock kept for a closed handle on record `recno` of the table at `path`, so that
  // an open handle of this connection can take it; false when none is kept.
  bool ReleaseKeptLock(const std::string& path, int64_t recno);
  // A number for naming a query's result table, unique on this connection.
  int NextResultId() { return ++result_tables_; }

  // A table handle opens the file for changes, and closes it. Refused while a file of another
  // text encoding is open for changes (or was closed with changes in the transaction).
  void OpenForChanges(Attachment* attachment);
  void CloseForChanges(Attachment* attachment) { --attachment->writers_; }

  sqlite3* slot_db(size_t slot) const { return slots_[slot].db.get(); }
  void Detach(size_t slot, const std::string& schema_name, const std::string& key);

 private:
  struct Slot {
    DbPtr db;
    int encoding = SQLITE_UTF8;  // of the main database, and so of every file attached
    int attached = 0;            // files attached besides the main database
    int next_schema = 1;
    std::string main_key;  // the main database's file, as keys of attachments_
    bool main_in_use = false;
    // Savepoint statements by text, prepared once: a run sets and releases one per unit.
    std::map<std::string, StmtPtr> savepoint_statements;
    bool committed = false;  // by a commit that failed on a later slot and may be tried again
  };
  // A slot of the encoding that can attach one more file, or none.
  std::optional<size_t> SlotWithRoom(int encoding) const;
  size_t OpenSlot(const std::string& path, const std::string& key, bool read_only, int encoding);

  std::shared_ptr<Attachment> Reuse(size_t slot, const std::string& schema_name,
                                    const std::string& path, const std::string& key,
                                    bool read_only);
  static void AttachFile(sqlite3* db, const std::string& path, const std::string& schema_name,
                         bool read_only);
  struct PendingDetach {
    size_t slot;
    std::string schema_name;
    std::string key;
  };
  void DetachPending();
  void EndTransaction();
  void RequireTransaction() const;
  void RequireSavepoint() const;
  void ExecOnSlots(const std::string& sql);
  // Runs one savepoint statement on every slot, each prepared once per slot.
  void RunOnSlots(const std::string& sql);
  // Changes of every file were undone (a rollback, to a savepoint or whole, or one SQLite made):
  // counted on each file as changes that may have moved records, since a record read after the
  // change and before the undoing no longer holds, and the file's data version, which tells only
  // of commits, stays as it was.
  void CountUndoneChanges();
  // Tells the listeners that the transaction is over for them (EndTransaction, a lost one).
  void TellEndListeners();
  // Whether a commit cut short has committed some slots already.
  bool PartlyCommitted() const;
  // The file of the slot that another program keeps busy, for the message that names it.
  std::string BusyFilesOf(size_t slot) const;
  static std::string SavepointName(int depth);

  std::string folder_;
  FolderFilesystem filesystem_;
  std::vector<Slot> slots_;
  std::map<std::string, std::weak_ptr<Attachment>> attachments_;
  bool in_transaction_ = false;
  bool lost_ = false;  // see transaction_intact
  uint64_t transactions_begun_ = 0;
  int savepoints_ = 0;
  int result_tables_ = 0;
  std::vector<PendingDetach> pending_detach_;  // files closed during a transaction
  std::vector<TransactionEndListener*> end_listeners_;
  struct KeptLocks {
    std::string path;
    std::unique_ptr<LockFile> file;
    std::set<int64_t> recnos;
  };
  std::vector<KeptLocks> kept_locks_;  // of handles closed in the transaction
};

}  // namespace isam

#endif  // RIVENOAK_ISAM_CONNECTION_H_
