// The lock that one restore into a practice folder holds from start to end, so that no other
// command takes a restore at work for one that was killed: the staging folder's open mark, held
// alone (byte 0 of ".rivenoak-restore.lck", the lock every version of the program takes). The file
// goes when the lock is let go, so that no restore leaves a file behind in the practice folder:
// the holder removes it while it still holds the lock. A command that opened the file before it
// was removed may then get the lock of a file that no longer has the name, and a third command
// may meanwhile make a new file and lock that; so a lock counts only when the name still leads
// to the very file locked, and is taken again otherwise. A restore that is killed leaves the file;
// the next one removes it. The file is never opened through a link, nor when it is no plain file.
#ifndef RIVENOAK_APP_PRACTICE_RESTORE_LOCK_H_
#define RIVENOAK_APP_PRACTICE_RESTORE_LOCK_H_

#include <memory>
#include <string>

#include "app/practice/practice_data_error.h"
#include "isam/table_files.h"

namespace app::copies {

class RestoreLock {
 public:
  // Takes the lock of the practice folder `data_path`; throws when another program holds it.
  explicit RestoreLock(const std::string& data_path);
  ~RestoreLock();
  RestoreLock(const RestoreLock&) = delete;
  RestoreLock& operator=(const RestoreLock&) = delete;

  // Whether a restore into `data_path` holds the lock now; nothing is made or changed.
  // The lock file is refused, by name, when it is no plain file: a FIFO would hold the command up
  // for good, and a link is never followed.
  static bool HeldElsewhere(const std::string& data_path);

  // The refusal of a command that finds a restore into `data_path` at work in another program.
  static PracticeDataError AtWork(const std::string& data_path);

 private:
  static constexpr int kTries = 100;

  std::string path_;  // the staging folder, whose open mark is the lock
  std::unique_ptr<isam::OpenMarkHold> mark_;
};

}  // namespace app::copies

#endif  // RIVENOAK_APP_PRACTICE_RESTORE_LOCK_H_
