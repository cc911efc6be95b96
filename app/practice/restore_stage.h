// A restore's staging folder in the practice folder (".rivenoak-restore"): the backup's files
// copied there by number, then the plan that decides the restore; and the one check of all of it
// that every command makes before it acts on what it finds there, finishing, undoing or only
// reporting it.
//
// Whoever can write the practice folder can put anything there. So the folder is acted on only
// when it is a folder itself, not a link; its plan, when there is one, reads line by line as a
// restore writes it, names only plain file names that are none of the program's own, the log only
// as Convert.log, no table twice; and each file it stages there is a file and not a link, no file
// beside a staged table is a link or no file, and each staged table is a table. A folder that
// fails is refused by name (a PracticeDataError), left as it is, and nothing is done with it.
#ifndef RIVENOAK_APP_PRACTICE_RESTORE_STAGE_H_
#define RIVENOAK_APP_PRACTICE_RESTORE_STAGE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace app::copies {

// The name of the plan in the staging folder.
inline constexpr char kPlanName[] = "plan";

// What a decided restore writes: each table file staged in the restore folder under its number,
// and the target it replaces; the Convert.log likewise, with its last-write time.
struct Plan {
  std::string backup;
  std::vector<std::string> tables;  // target names; staged as "0", "1", ...
  std::string log;                  // target name, staged as "log"; empty for none
  int64_t log_write_time = 0;
};

// The plan as a restore writes it, and as CheckRestoreFolder reads it back.
std::string PlanText(const Plan& plan);

// The staging folder of the practice folder `data_path`.
std::string StageFolder(const std::string& data_path);

// What a finished restore renames its staging folder to before it removes it.
std::string DoneFolder(const std::string& data_path);

// How far a staged table is looked at: its first bytes only, by a command that may not write
// even there (opening a table file lets SQLite roll back a journal beside it); or opened, with
// its table marks, before anything acts on the restore.
enum class StagedTableCheck { kHeader, kOpened };

// What the staging folder of a practice holds.
struct WaitingRestore {
  enum class State { kNone, kUndecided, kDecided } state = State::kNone;
  Plan plan;  // of a decided one
};

// The one check of the staging folder of `data_path` (see the top of this file); throws, leaving
// the folder as it is, when it fails. A command that only reads checks staged tables by their
// first bytes (`depth`).
WaitingRestore CheckRestoreFolder(const std::string& data_path,
                                  StagedTableCheck depth = StagedTableCheck::kOpened);

// What a command that only reads a practice says of a restore that waits in it.
std::string WaitingRestoreText(const std::string& data_path, const WaitingRestore& waiting);

}  // namespace app::copies

#endif  // RIVENOAK_APP_PRACTICE_RESTORE_STAGE_H_
