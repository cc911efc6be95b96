// Backups and restores of a practice's tables (see the header): the two commands from end to end,
// and the finishing or undoing of a restore that was interrupted. What they stand on is in modules
// of its own: a practice folder's files (practice_folder.h), the files and manifest of a backup
// (backup_files.h), the hidden folder a backup is made in (partial_backup.h), the tables held
// from other programs (practice_hold.h), the staging folder with its plan and its one check
// (restore_stage.h), and the lock of a restore at work (restore_lock.h).
#include "app/practice/practice_copy.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/practice/output_places.h"
#include "app/practice/partial_backup.h"
#include "app/practice/practice_hold.h"
#include "app/practice/restore_lock.h"
#include "app/practice/restore_stage.h"
#include "common/file_names.h"
#include "isam/table_files.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using namespace backup_files;  // NOLINT: the files of a backup
using namespace copies;        // NOLINT: what the backup and the restore stand on

// Writes a decided restore's files into the practice; each table is written whole or not at
// all, so that doing this again after a kill ends the same. Removes the staging folder last.
void ApplyPlan(const Plan& plan, const std::string& data_path, PracticeHold& hold,
               conversion::Gauge* gauge) {
  std::string stage = StageFolder(data_path);
  for (size_t i = 0; i < plan.tables.size(); ++i) {
    isam::TableFileReader staged(Join(stage, std::to_string(i)));
    CopyTable(staged, hold.Writer(i), Join(data_path, plan.tables[i]), gauge);
  }
  if (!plan.log.empty()) {
    std::string staged = Join(stage, "log");
    if (Exists(staged)) {
      SetWriteTime(staged, plan.log_write_time);
      std::error_code ec;
      fs::rename(staged, Join(data_path, plan.log), ec);
      if (ec) {
        throw PracticeDataError("Cannot write " + Join(data_path, plan.log) + ": " + ec.message());
      }
    }
  }
  // Done: the staging folder leaves its name in one step, so that no command mistakes what is
  // left of it for a restore that never began.
  std::string done = DoneFolder(data_path);
  std::error_code ec;
  fs::remove_all(done, ec);
  fs::rename(stage, done, ec);
  if (ec) throw PracticeDataError("Cannot rename " + stage + ": " + ec.message());
  Sync(data_path, true);
  fs::remove_all(done, ec);
}

// Finishes or undoes an interrupted restore once its staging folder passed the check; the
// caller holds the restore lock.
void RecoverRestore(const std::string& data_path, const Note& note) {
  WaitingRestore waiting = CheckRestoreFolder(data_path);
  std::error_code ec;
  fs::remove_all(DoneFolder(data_path), ec);  // what a finished restore had no time to remove
  std::string practice = PracticeName(data_path);
  if (waiting.state == WaitingRestore::State::kNone) return;
  if (waiting.state == WaitingRestore::State::kUndecided) {
    std::string stage = StageFolder(data_path);
    fs::remove_all(stage, ec);
    if (ec) throw PracticeDataError("Cannot remove " + stage + ": " + ec.message());
    if (note) {
      note("A restore into " + practice +
           " was interrupted before it changed anything and has been undone: the practice is as "
           "it was before it");
    }
    return;
  }
  const Plan& plan = waiting.plan;
  std::string backup = common::EscapeControlCharacters(plan.backup);
  std::string unfinished = "; an interrupted restore from " + backup +
                           " is not finished yet, and the practice is not whole until it is";
  if (!plan.log.empty()) RefuseNonFile(Join(data_path, plan.log), unfinished);
  PracticeHold hold(data_path, plan.tables, unfinished);
  ApplyPlan(plan, data_path, hold, nullptr);
  if (note) {
    note("A restore into " + practice + " from " + backup +
         " was interrupted and has been finished: the practice holds the backup's tables");
  }
}

// Throws when the backup folder `dest` would lie inside the practice folder `data_path` (its
// staging folder among others) or hold it, by the rule every command's destinations follow.
void RefuseBackupInside(const std::string& data_path, const std::string& dest) {
  try {
    CheckBackupPlace(dest, {data_path});
  } catch (const OutputPlaceError& error) {
    throw PracticeDataError(error.what());
  }
}

// The plan of a restore of the backup with `entries` into `data_path`, whose tables are
// `present`: each table under the name the practice spells it with, else the backup's.
Plan PlanOf(const std::string& backup, const std::vector<ManifestEntry>& entries,
            const std::string& data_path, const std::vector<std::string>& present) {
  Plan plan;
  plan.backup = fs::absolute(backup).string();
  for (const ManifestEntry& entry : entries) {
    if (entry.table) {
      std::string name = FindName(present, entry.name);
      plan.tables.push_back(name.empty() ? entry.name : name);
    } else {
      std::string there = FindName(FileNames(data_path), kConvertLog);
      plan.log = there.empty() ? entry.name : there;
      plan.log_write_time = entry.write_time;
    }
  }
  return plan;
}

// Throws, naming the backup's file, when a table that `entries` list is no table: the backup's
// own file when `stage` is empty, else its copy staged there by number.
void RefuseNonTables(const std::string& backup, const std::vector<ManifestEntry>& entries,
                     const std::string& stage) {
  size_t number = 0;
  for (const ManifestEntry& entry : entries) {
    if (!entry.table) continue;
    std::string file =
        stage.empty() ? Join(backup, entry.name) : Join(stage, std::to_string(number));
    ++number;
    if (!IsTable(file)) {
      throw PracticeDataError("The backup's file " + Join(backup, entry.name) +
                              " is not a table; nothing was restored");
    }
  }
}

// The refusal of a decided restore that a failure stopped, `why` its text. The engine says of a
// table it refused to write that nothing was changed, which holds for that table only: the tables
// before it are the backup's already.
std::string HalfDone(std::string why, const std::string& data_path) {
  const std::string nothing = "nothing was changed";
  for (size_t at; (at = why.find(nothing)) != std::string::npos;) {
    why.replace(at, nothing.size(), "that table was left as it was");
  }
  return why + "; the restore stopped half done, and the next command on " + data_path +
         " that writes it finishes it (rivenoak restore, backup or run)";
}

}  // namespace

void FinishInterruptedRestore(const std::string& data_path, const Note& note) {
  if (!Exists(StageFolder(data_path)) && !Exists(DoneFolder(data_path))) return;
  RestoreLock lock(data_path);
  RecoverRestore(data_path, note);
}

void RefuseInterruptedRestore(const std::string& data_path) {
  if (!Exists(StageFolder(data_path))) return;
  if (RestoreLock::HeldElsewhere(data_path)) throw RestoreLock::AtWork(data_path);
  WaitingRestore waiting = CheckRestoreFolder(data_path, StagedTableCheck::kHeader);
  if (waiting.state == WaitingRestore::State::kNone) return;
  throw PracticeDataError(WaitingRestoreText(data_path, waiting));
}

int BackUpPractice(const std::string& data_path, const std::string& dest, conversion::Gauge* gauge,
                   const Note& note, InterruptedRestore interrupted) {
  RefuseBackupInside(data_path, dest);
  if (interrupted == InterruptedRestore::kFinish) {
    FinishInterruptedRestore(data_path, note);
  } else {
    RefuseInterruptedRestore(data_path);
  }
  std::error_code ec;
  if (fs::is_directory(dest, ec) && !TableFileNames(dest).empty()) {
    throw PracticeDataError("The folder " + dest + " already holds tables");
  }
  if (Exists(dest) && !(fs::is_directory(dest, ec) && fs::is_empty(dest, ec))) {
    throw PracticeDataError("The folder " + dest +
                            " already holds files; a backup is made in a new or empty folder");
  }
  std::vector<PracticeTable> tables = OpenTables(data_path);
  if (tables.empty()) throw PracticeDataError("The folder " + data_path + " holds no tables");
  PartialBackup partial(dest);
  std::vector<ManifestEntry> entries;
  std::vector<isam::TableFileReader*> readers;
  for (const PracticeTable& table : tables) readers.push_back(table.reader.get());
  isam::TableFileReader::HoldSnapshots(readers);
  for (const PracticeTable& table : tables) {
    std::string target = Join(partial.path(), table.name);
    {
      isam::TableFileWriter copy(target);
      CopyTable(*table.reader, copy, target, gauge);
      copy.UseRollbackJournal();
    }
    table.reader->EndSnapshot();
    Sync(target, false);
    entries.push_back(ManifestEntry{true, table.name, SumFile(target), 0});
  }
  std::string log = FindName(FileNames(data_path), kConvertLog);
  if (!log.empty()) {
    std::string copy = Join(partial.path(), log);
    FileSum sum = SumFile(Join(data_path, log), copy);
    int64_t written = WriteTimeCount(Join(data_path, log));
    SetWriteTime(copy, written);
    entries.push_back(ManifestEntry{false, log, sum, written});
  }
  WriteWhole(Join(partial.path(), kManifestName), ManifestText(entries));
  partial.Keep(dest);
  return static_cast<int>(tables.size());
}

int RestorePractice(const std::string& backup, const std::string& data_path,
                    conversion::Gauge* gauge, const Note& note) {
  std::error_code ec;
  if (!fs::is_directory(backup, ec))
    throw PracticeDataError("The folder " + backup + " is missing");
  if (!fs::is_directory(data_path, ec)) {
    throw PracticeDataError("The folder " + data_path + " is missing");
  }
  if (fs::equivalent(backup, data_path, ec)) {
    throw PracticeDataError("The backup " + backup + " is the practice folder itself");
  }
  RestoreLock lock(data_path);
  RecoverRestore(data_path, note);
  std::vector<ManifestEntry> entries = ReadManifest(backup);
  RefuseNonTables(backup, entries, "");
  Plan plan = PlanOf(backup, entries, data_path, TableFileNames(data_path));
  if (!plan.log.empty()) RefuseNonFile(Join(data_path, plan.log), "; nothing was restored");
  PracticeHold hold(data_path, plan.tables, "; nothing was restored");
  // Staged: the backup's files, checked again as they are copied, then the plan that decides.
  // A new folder, never one that was put in its place meanwhile, nor a link's target.
  std::string stage = StageFolder(data_path);
  if (::mkdir(stage.c_str(), 0777) != 0) {
    throw PracticeDataError("Cannot make the folder " + stage + ": " + std::strerror(errno));
  }
  struct Unstage {
    std::string stage;
    bool decided = false;
    ~Unstage() {
      std::error_code ignored;
      if (!decided) fs::remove_all(stage, ignored);
    }
  } unstage{stage};
  size_t table_number = 0;
  for (const ManifestEntry& entry : entries) {
    std::string staged = Join(stage, entry.table ? std::to_string(table_number++) : "log");
    if (SumFile(Join(backup, entry.name), staged) != entry.sum) {
      throw PracticeDataError("The backup's file " + Join(backup, entry.name) +
                              " changed while it was read; nothing was restored");
    }
  }
  RefuseNonTables(backup, entries, stage);
  Sync(stage, true);
  WriteWhole(Join(stage, kPlanName), PlanText(plan));
  unstage.decided = true;
  try {
    ApplyPlan(plan, data_path, hold, gauge);
  } catch (const std::exception& e) {
    throw PracticeDataError(HalfDone(e.what(), data_path));
  }
  return static_cast<int>(plan.tables.size());
}

}  // namespace app
