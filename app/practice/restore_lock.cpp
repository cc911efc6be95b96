// The lock of one restore into a practice folder (see the header).
#include "app/practice/restore_lock.h"

#include "app/practice/practice_folder.h"
#include "app/practice/restore_stage.h"

namespace app::copies {

RestoreLock::RestoreLock(const std::string& data_path) : path_(StageFolder(data_path)) {
  for (int tries = 0; !mark_; ++tries) {
    RefuseNonFile(path_ + ".lck");
    auto mark = std::make_unique<isam::OpenMarkHold>(path_);
    if (!mark->TryHoldAlone()) throw AtWork(data_path);
    if (mark->StillNamed()) {
      mark_ = std::move(mark);
    } else if (tries == kTries) {
      throw PracticeDataError("Cannot lock " + path_ +
                              ".lck: other programs keep removing and making it again");
    }
  }
}

RestoreLock::~RestoreLock() {
  mark_->RemoveLockFile();  // then the mark goes, which lets the lock go
}

bool RestoreLock::HeldElsewhere(const std::string& data_path) {
  RefuseNonFile(StageFolder(data_path) + ".lck");
  return isam::OpenMarkHold::HeldByAnyone(StageFolder(data_path));
}

PracticeDataError RestoreLock::AtWork(const std::string& data_path) {
  return PracticeDataError("A restore into " + PracticeName(data_path) +
                           " is at work in another program; wait until it is done");
}

}  // namespace app::copies
