// Record locks: one byte per record in the table's lock file (<table>.lck), taken with
// open-file-description locks, so that another process's lock holds until it unlocks or dies.
// Inside a transaction a lock released is held until the transaction ends (read_shortcuts.h,
// invariant 5). A write that finds its record unlocked borrows the lock for the write alone
// (BorrowedLock).
#include "isam/table.h"

#include <cstring>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"

namespace isam {

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
  if (!held_locks_.count(recno)) {
    BorrowedLock lock(this, recno);
    lock.Keep();
    held_locks_.insert(recno);
  }
  // A lock held for the transaction alone (taken inside it, by a write or not, or unlocked in
  // it) would go at its end: the caller keeps it until it unlocks.
  unlock_at_end_.erase(recno);
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

Table::BorrowedLock::BorrowedLock(Table* table, int64_t recno) {
  if (table->held_locks_.count(recno)) return;
  uint64_t byte = table->LockByte(recno);
  // A lock the connection keeps for a handle of its own closed in the transaction is handed on.
  auto take = [&] { return table->lock_file_->TryLock(byte, true); };
  if (!take() && !(table->connection_->ReleaseKeptLock(table->path(), recno) && take())) {
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

}  // namespace isam
