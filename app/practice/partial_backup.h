// The folder a backup is made in before it is given its name: beside the destination, hidden
// (".NAME.partial-XXXXXX"), and removed with what it holds when this object ends, or when a stop
// signal ends the process (temporary_folder.h), unless the backup is kept. So a backup folder
// under its final name always holds a whole backup, and a backup broken off leaves no copy of
// the practice. Failures are PracticeDataErrors naming the folder.
#ifndef RIVENOAK_APP_PRACTICE_PARTIAL_BACKUP_H_
#define RIVENOAK_APP_PRACTICE_PARTIAL_BACKUP_H_

#include <string>

#include "app/practice/temporary_folder.h"

namespace app::copies {

class PartialBackup {
 public:
  // Makes the hidden folder beside `dest` (and the folders above it that are missing).
  explicit PartialBackup(const std::string& dest);
  PartialBackup(const PartialBackup&) = delete;
  PartialBackup& operator=(const PartialBackup&) = delete;

  const std::string& path() const { return folder_.path(); }
  // Gives the folder its final name (an empty folder of that name is replaced), on the disk when
  // this returns.
  void Keep(const std::string& dest);

 private:
  static std::string FinalPath(const std::string& dest);
  std::string MakeBeside(const std::string& dest) const;

  std::string final_;
  ScratchPath folder_;
};

}  // namespace app::copies

#endif  // RIVENOAK_APP_PRACTICE_PARTIAL_BACKUP_H_
