// An SQLite VFS over the default one for tests of what a failure leaves behind. It counts the
// operations that change files (writes, truncations, syncs, deletions) and at the one chosen
// either ends the process at once, as a kill would, or starts failing every write as a full
// disk would. While it lives it is the default VFS, so every handle opened meanwhile uses it.
#ifndef RIVENOAK_ISAM_TESTING_FAULT_VFS_H_
#define RIVENOAK_ISAM_TESTING_FAULT_VFS_H_

#include <sqlite3.h>

namespace isam::testing {

enum class Fault { kNone, kKillProcess, kDiskFull };

class FaultVfs {
 public:
  FaultVfs();
  ~FaultVfs();  // the previous default VFS is the default again
  FaultVfs(const FaultVfs&) = delete;
  FaultVfs& operator=(const FaultVfs&) = delete;

  // Counts from zero again; the `at`-th changing operation from now meets the fault.
  void Arm(int at, Fault fault);
  int operations() const { return operations_; }
  bool fired() const { return fired_; }

  // Called by the file methods: SQLITE_OK to go on, or the error the operation fails with.
  int Change(bool is_write);

 private:
  sqlite3_vfs vfs_{};
  sqlite3_vfs* real_ = nullptr;
  int operations_ = 0;
  int at_ = 0;
  Fault fault_ = Fault::kNone;
  bool fired_ = false;
};

}  // namespace isam::testing

#endif  // RIVENOAK_ISAM_TESTING_FAULT_VFS_H_
