// Record locks and open marks, kept as Linux open-file-description locks on a lock file next to
// the table ("<table file>.lck", which holds no data). Each table handle opens the lock file
// itself, so its locks conflict with every other handle's, in this process or another, and the
// kernel drops them when the handle closes or the process dies.
//
// Byte 0 is the open mark: every handle holds it shared, an exclusive open holds it alone.
// Byte n + 1 is the lock of record n, for records numbered from 0 up (RecordByte).
#ifndef RIVENOAK_ISAM_LOCK_FILE_H_
#define RIVENOAK_ISAM_LOCK_FILE_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace isam {

class LockFile {
 public:
  // Opens (creating when missing) the lock file of the table at `table_path`; throws
  // ISAM_ERR_IO when it cannot.
  explicit LockFile(const std::string& table_path);
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // False when another handle holds a conflicting lock.
  bool TryLock(uint64_t byte, bool exclusive);
  void Unlock(uint64_t byte);
  // Whether a handle other than this one holds a lock on the byte.
  bool LockedElsewhere(uint64_t byte);
  // Whether the lock file's name still leads to the file this object opened (another program may
  // have removed it and made a new one since).
  bool StillNamed() const;
  // Removes the lock file's name; the open file, and the locks this object holds on it, stay
  // until the object ends.
  void RemoveName() const;
  // Whether any handle holds a lock on the byte of the lock file of the table at `table_path`
  // that conflicts with an exclusive one; false when there is no lock file. Makes nothing, and
  // never waits.
  static bool LockedByAnyone(const std::string& table_path, uint64_t byte);

  static std::string PathFor(const std::string& table_path) { return table_path + ".lck"; }
  // The byte that locks record `recno`; none for a number below 0 or the very last one, which a
  // lock file's offsets (at most 2^63 - 1) cannot reach.
  static std::optional<uint64_t> RecordByte(int64_t recno) {
    if (recno < 0 || recno == INT64_MAX) return std::nullopt;
    return static_cast<uint64_t>(recno) + 1;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

// The open marks that this process keeps to itself: in a network folder, locks between computers
// are only as good as the mount passes them on, so a table opened there for changes is taken from
// every other program until the process closes its last handle of it. The process's own handles
// share the hold (they take no open mark of their own) and still lock records against each other.
// Process-wide, since the hold is the process's: the Registry keeps the one instance, under its
// lock (registry.h).
class OpenMarkHolds {
 public:
  // The hold of the table at `table_path`, taken when the process does not hold it yet; throws
  // ISAM_ERR_TABLE_IN_USE when another program, or an exclusive handle, has the table open.
  std::shared_ptr<LockFile> Take(const std::string& table_path);

 private:
  std::map<std::string, std::weak_ptr<LockFile>> holds_;
};

}  // namespace isam

#endif  // RIVENOAK_ISAM_LOCK_FILE_H_
