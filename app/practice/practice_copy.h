// Copies of a practice's tables.
//
// `rivenoak backup` copies every table file of a practice folder (files with the SQLite header
// and the table marks) and its Convert.log into a new folder, reading each table through SQLite's
// online backup while other programs may use it. The copy is made in a hidden folder beside the
// destination and given the destination's name last, with a manifest of what it holds and each
// file's checksum: a backup folder without a whole manifest is no backup.
//
// `rivenoak restore` replaces a practice's tables as one unit. It checks the backup against its
// manifest, takes every table from the programs that might use it (the open marks, and SQLite's
// own lock), copies the backup's files into a staging folder inside the practice folder, checks
// that each staged table is a table, and then writes a plan there: from that moment on the
// restore is decided. The tables are then written in place, each whole or not at all, and the
// staging folder is removed. A restore that was killed is finished by the next command that
// writes the practice (backup, restore, run) when the plan was written, and undone (the staging
// folder removed; the tables were never touched) when it was not; the commands that only read
// the practice (diff, run --dry-run) stop while one waits, and change nothing.
//
// Practice folders and backups sit in shared folders that others can write. So a staging folder
// is acted on only after one check of all of it (CheckRestoreFolder in restore_stage.h): its
// plan as a restore writes it, every name a plain file name and none of the program's own, the
// log only as Convert.log, no table twice, every staged file a file and a table. One that fails is
// left as it is and refused by name. Nothing is read or written through a link, nor from a FIFO,
// socket or device, which would hold a command up for good: a practice's tables, its Convert.log,
// the files kept beside its tables (journals, write-ahead logs, lock files) and the restore's own
// lock file are refused by name when they are such, before anything changes, and so are a backup's
// files, its manifest included. A backup is never made inside the practice folder it copies.
#ifndef RIVENOAK_APP_PRACTICE_PRACTICE_COPY_H_
#define RIVENOAK_APP_PRACTICE_PRACTICE_COPY_H_

#include <functional>
#include <string>

#include "app/practice/backup_files.h"         // kManifestName
#include "app/practice/practice_data_error.h"  // PracticeDataError
#include "app/practice/practice_folder.h"      // TableFileNames, OpenTables, FindName
#include "conversion/run_view.h"

namespace app {

// Receives what a command did beside its own work, such as finishing an interrupted restore.
using Note = std::function<void(const std::string& text)>;

// What a command does with a restore into its practice that was interrupted.
enum class InterruptedRestore {
  kFinish,  // finishes or undoes it: the commands that write the practice
  kRefuse,  // stops before anything, naming the commands that finish it: those that only read
};

// `rivenoak backup`: copies every table of `data_path` and its Convert.log into `dest` (made when
// missing; refused when it already holds files or lies inside the practice folder). The tables
// are copied from read transactions all begun before the first copy. Returns the number of tables
// copied; on a failure, nothing is left under the name `dest`. `gauge` (may be null) shows each
// table's pages.
int BackUpPractice(const std::string& data_path, const std::string& dest, conversion::Gauge* gauge,
                   const Note& note = {},
                   InterruptedRestore interrupted = InterruptedRestore::kFinish);

// `rivenoak restore`: replaces the tables and the Convert.log of the practice folder `data_path`
// with those of the backup `backup`, all or none. Returns the number of tables restored.
int RestorePractice(const std::string& backup, const std::string& data_path,
                    conversion::Gauge* gauge, const Note& note = {});

// Finishes or undoes a restore into `data_path` that was killed or stopped, telling `note`
// which; nothing when there is none. A staging folder that fails the check is refused, untouched.
void FinishInterruptedRestore(const std::string& data_path, const Note& note);

// For a command that only reads the practice `data_path`: throws, changing nothing, when a restore
// into it was interrupted (saying which commands finish it), is at work, or left a staging folder
// that fails the check; nothing otherwise.
void RefuseInterruptedRestore(const std::string& data_path);

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_PRACTICE_COPY_H_
