// Backups and restores of a practice's tables, and the one check of a restore's staging folder
// (see the header).
#include "app/practice/practice_copy.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "app/practice/backup_files.h"
#include "app/practice/output_places.h"
#include "app/practice/temporary_folder.h"
#include "common/file_entries.h"
#include "common/file_names.h"
#include "conversion/practice_tables.h"
#include "isam/table_files.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using namespace backup_files;  // NOLINT: the files of a backup

constexpr char kRestoreFolder[] = ".rivenoak-restore";
constexpr char kPlanName[] = "plan";
constexpr char kPlanFirstLine[] = "rivenoak restore 1";
// The files the engine and SQLite keep beside a table: its rollback journal, write-ahead log and
// that log's index, and the open mark's lock file. Each is opened, or made, where the table is.
constexpr std::array<const char*, 4> kBesideTable = {"-journal", "-wal", "-shm", ".lck"};

// The practice folder as messages name it.
std::string PracticeName(const std::string& data_path) {
  std::string practice = data_path;
  while (practice.size() > 1 && practice.back() == '/') practice.pop_back();
  return practice;
}

// ---- links ----

// Whether the link `name` of a practice folder stands where a practice's own file is read or
// written: a lock file, the Convert.log, one of the practice's tables by name, or a link to a
// table file under any name.
bool StandsForPracticeFile(const std::string& folder, const std::string& name) {
  bool lock_file = name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".lck") == 0;
  if (lock_file || strcasecmp(name.c_str(), kConvertLog) == 0) return true;
  for (const conversion::TableLayout& table : conversion::PracticeTables()) {
    if (strcasecmp(name.c_str(), table.file.c_str()) == 0) return true;
  }
  std::error_code ec;
  if (!fs::is_regular_file(fs::status(Join(folder, name), ec))) return false;
  try {
    return isam::IsTableFile(Join(folder, name));
  } catch (const isam::TableFileError&) {
    return true;  // a file it cannot read is no more to be read through a link
  }
}

// Throws when the entry at `path` of a practice folder is a link: reading through it would copy
// another file, writing through it would change one outside the practice. `consequence` says what
// that left undone.
void RefuseLink(const std::string& path, const std::string& consequence = "") {
  if (!IsLink(path)) return;
  throw PracticeDataError("The file " + path +
                          " is a symbolic link: a practice's tables, its Convert.log and their "
                          "lock files are read and written only as files of the practice folder "
                          "itself, never through a link; put the file itself in its place" +
                          consequence);
}

// Throws when the entry at `path` of a practice folder is there and is no plain file: a link (see
// RefuseLink), or a FIFO, socket, device or folder, which would hold a command up for good or
// take no lock.
void RefuseNonFile(const std::string& path, const std::string& consequence = "") {
  RefuseLink(path, consequence);
  std::string kind = common::NonPlainKindAt(path);
  if (kind.empty()) return;
  throw PracticeDataError("The file " + path + " is " + kind +
                          ", not a plain file: a practice's tables, its Convert.log and the "
                          "files kept beside them are only ever plain files; remove it" +
                          consequence);
}

// The names of the files of `folder`, sorted, without the work files of programs at work there;
// throws on a link that stands for a practice's file, and on any other entry that is neither a
// file nor a folder (a table replaced by a FIFO would else be left out of a copy without a word).
std::vector<std::string> FileNames(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    throw PracticeDataError("The folder " + folder + " is missing");
  }
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    fs::file_status status = entry.symlink_status(ec);
    if (fs::is_symlink(status)) {
      if (StandsForPracticeFile(folder, name)) RefuseLink(entry.path().string());
      continue;
    }
    if (IsWorkFile(name) || fs::is_directory(status)) continue;
    if (fs::is_regular_file(status)) {
      names.push_back(name);
    } else {
      RefuseNonFile(entry.path().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Whether the file at `path` begins as a table file does; read only, never opened by SQLite.
bool IsTableHeader(const std::string& path) {
  try {
    return isam::IsTableFile(path);
  } catch (const isam::TableFileError&) {
    return false;
  }
}

// Whether the file at `path` is a table: the first bytes of a table file and the table marks.
bool IsTable(const std::string& path) {
  try {
    if (!isam::IsTableFile(path)) return false;
    isam::TableFileReader reader(path);
    return reader.HasTableMarks();
  } catch (const isam::TableFileError&) {
    return false;
  }
}

// Copies the table that `source` reads into `dest` (`target` names it), in one write transaction
// of the destination, whole or not at all; `gauge` (may be null) shows the pages copied.
void CopyTable(const isam::TableFileReader& source, isam::TableFileWriter& dest,
               const std::string& target, conversion::Gauge* gauge) {
  if (!gauge) return dest.CopyFrom(source, target, nullptr);
  gauge->SetPosition(0);
  dest.CopyFrom(source, target, [gauge](int pages, int left) {
    gauge->SetMax(pages);
    gauge->SetPosition(gauge->Max() - left);
  });
}

// ---- holding a practice's tables ----

// Every table of a practice folder taken from every other program: the engine's open marks,
// held alone, and SQLite's exclusive lock on each file, held by the connection that then writes
// it. Tables missing from the folder are made when they are first written. A table, or a file
// kept beside one (its journal, write-ahead log and index, the open mark's lock file), that is a
// link or no plain file is refused before anything is held: found only when its table is written,
// it would stop a restore half done.
class PracticeHold {
 public:
  PracticeHold(const std::string& folder, const std::vector<std::string>& names,
               const std::string& consequence)
      : folder_(folder), names_(names), writers_(names.size()) {
    for (const std::string& name : names) {
      RefuseNonFile(Join(folder, name), consequence);
      for (const char* beside : kBesideTable) {
        RefuseNonFile(Join(folder, name) + beside, consequence);
      }
    }
    // Where the mount keeps locks on this computer, no hold keeps another computer out.
    std::string local_locks = isam::LocalLocksRefusal(folder);
    if (!local_locks.empty()) throw PracticeDataError(local_locks);
    for (const std::string& name : names) {
      marks_.push_back(std::make_unique<isam::OpenMarkHold>(Join(folder, name)));
      if (!marks_.back()->TryHoldAlone()) {
        throw PracticeDataError("the table " + name + " is open in another program" + consequence);
      }
    }
    for (size_t i = 0; i < names.size(); ++i) {
      if (Exists(Join(folder, names[i]))) Take(i, consequence);
    }
  }
  PracticeHold(const PracticeHold&) = delete;
  PracticeHold& operator=(const PracticeHold&) = delete;

  isam::TableFileWriter& Writer(size_t i) {
    if (!writers_[i]) Take(i, "");
    return *writers_[i];
  }

 private:
  // Leaves the write-ahead mode (the copies are written in the rollback-journal mode) and rolls
  // back what a killed writer left, then keeps the file's exclusive lock until the writer
  // closes.
  void Take(size_t i, const std::string& consequence) {
    auto writer =
        std::make_unique<isam::TableFileWriter>(fs::absolute(Join(folder_, names_[i])).string());
    try {
      writer->HoldAlone();
    } catch (const isam::TableFileError& error) {
      if (error.code() == ISAM_ERR_BUSY) throw PracticeDataError(error.what() + consequence);
      throw;
    }
    writers_[i] = std::move(writer);
  }

  std::string folder_;
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<isam::OpenMarkHold>> marks_;
  std::vector<std::unique_ptr<isam::TableFileWriter>> writers_;
};

// ---- the plan of a restore ----

// What a decided restore writes: each table file staged in the restore folder under its number,
// and the target it replaces; the Convert.log likewise, with its last-write time.
struct Plan {
  std::string backup;
  std::vector<std::string> tables;  // target names; staged as "0", "1", ...
  std::string log;                  // target name, staged as "log"; empty for none
  int64_t log_write_time = 0;
};

std::string PlanText(const Plan& plan) {
  std::ostringstream text;
  text << kPlanFirstLine << "\nfrom " << common::EscapeControlCharacters(plan.backup) << "\n";
  for (const std::string& name : plan.tables) text << "table " << name << "\n";
  if (!plan.log.empty()) text << "log " << plan.log_write_time << " " << plan.log << "\n";
  text << "end\n";
  return text.str();
}

std::string StageFolder(const std::string& data_path) {
  return Join(data_path, kRestoreFolder);
}

std::string DoneFolder(const std::string& data_path) {
  return Join(data_path, std::string(kRestoreFolder) + "-done");
}

// The refusal of a staging folder that fails the check, `why` saying what is wrong with it.
PracticeDataError StageRefusal(const std::string& data_path, const std::string& why) {
  return PracticeDataError("The restore folder " + StageFolder(data_path) +
                           " was not written by this program or is damaged: " + why +
                           ". Nothing was done with it; remove the folder once no restore into " +
                           PracticeName(data_path) + " is at work");
}

// The plan of the staging folder of `data_path`, read line by line as a restore writes it.
Plan ReadPlan(const std::string& data_path) {
  std::istringstream in(ReadText(Join(StageFolder(data_path), kPlanName)));
  auto refuse = [&](const std::string& why) { return StageRefusal(data_path, why); };
  std::string line;
  if (!std::getline(in, line) || line != kPlanFirstLine)
    throw refuse("its plan is no restore plan");
  Plan plan;
  std::vector<std::string> logs;
  bool ended = false;
  while (std::getline(in, line)) {
    std::string shown = common::EscapeControlCharacters(line);
    if (ended) throw refuse("its plan goes on after its end: " + shown);
    if (line == "end") {
      ended = true;
    } else if (line.rfind("from ", 0) == 0) {
      plan.backup = line.substr(5);
    } else if (line.rfind("table ", 0) == 0) {
      plan.tables.push_back(line.substr(6));
    } else if (line.rfind("log ", 0) == 0) {
      std::istringstream fields(line.substr(4));
      std::string name;
      if (!(fields >> plan.log_write_time) || fields.get() != ' ' || !std::getline(fields, name)) {
        throw refuse("its plan has a broken line: " + shown);
      }
      logs.push_back(name);
    } else {
      throw refuse("its plan has a line no restore writes: " + shown);
    }
  }
  if (!ended) throw refuse("its plan is cut short");
  std::string names = ListedNamesFault("its plan", plan.tables, logs);
  if (!names.empty()) throw refuse(names);
  if (plan.backup.empty()) throw refuse("its plan names no backup");
  if (plan.tables.empty()) throw refuse("its plan names no table");
  if (!logs.empty()) plan.log = logs.front();
  return plan;
}

// Throws when the staged file `name` is missing, a link or no file.
void CheckStagedFile(const std::string& data_path, const std::string& name) {
  std::error_code ec;
  fs::file_status status = fs::symlink_status(Join(StageFolder(data_path), name), ec);
  if (!fs::exists(status)) throw StageRefusal(data_path, "its file " + name + " is missing");
  if (fs::is_symlink(status)) {
    throw StageRefusal(data_path, "its file " + name + " is a symbolic link");
  }
  if (!fs::is_regular_file(status)) {
    throw StageRefusal(data_path, "its file " + name + " is not a file");
  }
}

// How far a staged table is looked at: its first bytes only, by a command that may not write
// even there (opening a table file lets SQLite roll back a journal beside it); or opened, with
// its table marks, before anything acts on the restore.
enum class StagedTableCheck { kHeader, kOpened };

// Throws when a file the plan stages is missing, a link, no file, or no table where a table is
// staged, or when a file beside a staged table is a link or no file (it would stop the restore
// when that table is read, after the tables before it were written). The staged log may be missing
// only when the restore already moved it into the practice, with the last-write time the plan gives
// it.
void CheckStagedFiles(const std::string& data_path, const Plan& plan, StagedTableCheck depth) {
  std::string stage = StageFolder(data_path);
  for (size_t i = 0; i < plan.tables.size(); ++i) {
    std::string name = std::to_string(i);
    CheckStagedFile(data_path, name);
    std::string staged = Join(stage, name);
    // Before the table is opened, which may already act on the files beside it.
    for (const char* beside : kBesideTable) {
      std::string kind = common::NonPlainKindAt(staged + beside);
      if (!kind.empty()) {
        throw StageRefusal(data_path, "its file " + name + beside + " is " + kind);
      }
    }
    bool table = depth == StagedTableCheck::kOpened ? IsTable(staged) : IsTableHeader(staged);
    if (!table) {
      throw StageRefusal(data_path, "its file " + name + " is not a table");
    }
  }
  if (plan.log.empty()) return;
  std::string moved = Join(data_path, plan.log);
  std::error_code ec;
  if (!Exists(Join(stage, "log")) && fs::is_regular_file(fs::symlink_status(moved, ec)) &&
      WriteTimeCount(moved) == plan.log_write_time) {
    return;
  }
  CheckStagedFile(data_path, "log");
}

// What the staging folder of a practice holds.
struct WaitingRestore {
  enum class State { kNone, kUndecided, kDecided } state = State::kNone;
  Plan plan;  // of a decided one
};

// The one check of a practice's staging folder that every command makes before it acts on it,
// finishing, undoing or only reporting it: a folder itself, not a link; a plan, when there is
// one, as a restore writes it, naming only plain file names, the log only as Convert.log, no
// table twice; each file it stages there, a file and not a link, each staged table a table.
// Throws StageRefusal when any of this fails; the folder is then left as it is. A command that
// only reads checks staged tables by their first bytes (`depth`).
WaitingRestore CheckRestoreFolder(const std::string& data_path,
                                  StagedTableCheck depth = StagedTableCheck::kOpened) {
  std::string stage = StageFolder(data_path);
  std::error_code ec;
  fs::file_status status = fs::symlink_status(stage, ec);
  if (!fs::exists(status)) return {};
  if (fs::is_symlink(status)) throw StageRefusal(data_path, "it is a symbolic link");
  if (!fs::is_directory(status)) throw StageRefusal(data_path, "it is not a folder");
  fs::file_status plan = fs::symlink_status(Join(stage, kPlanName), ec);
  if (!fs::exists(plan)) return {WaitingRestore::State::kUndecided, {}};
  if (fs::is_symlink(plan)) throw StageRefusal(data_path, "its plan is a symbolic link");
  if (!fs::is_regular_file(plan)) throw StageRefusal(data_path, "its plan is not a file");
  WaitingRestore waiting{WaitingRestore::State::kDecided, ReadPlan(data_path)};
  CheckStagedFiles(data_path, waiting.plan, depth);
  return waiting;
}

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

// ---- the restore lock ----

// The lock that one restore into a practice folder holds from start to end, so that no other
// command takes a restore at work for one that was killed: the staging folder's open mark, held
// alone (byte 0 of ".rivenoak-restore.lck", the lock every version of the program takes). The file
// goes when the lock is let go, so that no restore leaves a file behind in the practice folder:
// the holder removes it while it still holds the lock. A command that opened the file before it
// was removed may then get the lock of a file that no longer has the name, and a third command
// may meanwhile make a new file and lock that; so a lock counts only when the name still leads
// to the very file locked, and is taken again otherwise. A restore that is killed leaves the file;
// the next one removes it. The file is never opened through a link.
class RestoreLock {
 public:
  explicit RestoreLock(const std::string& data_path) : path_(StageFolder(data_path)) {
    for (int tries = 0; !mark_; ++tries) {
      RefuseNonFile(path_ + ".lck");
      auto mark = std::make_unique<isam::OpenMarkHold>(path_);
      if (!mark->TryHoldAlone()) {
        throw PracticeDataError("A restore into " + PracticeName(data_path) +
                                " is at work in another program; wait until it is done");
      }
      if (mark->StillNamed()) {
        mark_ = std::move(mark);
      } else if (tries == kTries) {
        throw PracticeDataError("Cannot lock " + path_ +
                                ".lck: other programs keep removing and making it again");
      }
    }
  }
  ~RestoreLock() { mark_->RemoveLockFile(); }  // then the mark goes, which lets the lock go
  RestoreLock(const RestoreLock&) = delete;
  RestoreLock& operator=(const RestoreLock&) = delete;

  // Whether a restore into `data_path` holds the lock now; nothing is made or changed.
  // The lock file is refused, by name, when it is no plain file: a FIFO would hold the command up
  // for good, and a link is never followed.
  static bool HeldElsewhere(const std::string& data_path) {
    RefuseNonFile(StageFolder(data_path) + ".lck");
    return isam::OpenMarkHold::HeldByAnyone(StageFolder(data_path));
  }

 private:
  static constexpr int kTries = 100;

  std::string path_;  // the staging folder, whose open mark is the lock
  std::unique_ptr<isam::OpenMarkHold> mark_;
};

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

// What a command that only reads a practice says of a restore that waits in it.
std::string WaitingRestoreText(const std::string& data_path, const WaitingRestore& waiting) {
  std::string practice = PracticeName(data_path);
  std::string leaves =
      "; this command only reads the practice and leaves the restore alone: rivenoak backup, "
      "restore or run on the practice ";
  if (waiting.state == WaitingRestore::State::kUndecided) {
    return "An interrupted restore into " + practice +
           " waits to be undone (it changed nothing yet)" + leaves + "undoes it";
  }
  return "An interrupted restore into " + practice + " from " +
         common::EscapeControlCharacters(waiting.plan.backup) +
         " waits to be finished, and the practice is not whole until it is" + leaves +
         "finishes it";
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

// The folder a backup is made in before it is given its name: beside it, hidden, removed again
// unless the backup is kept.
class PartialBackup {
 public:
  explicit PartialBackup(const std::string& dest)
      : final_(FinalPath(dest)), folder_([this, &dest] { return MakeBeside(dest); }) {}
  PartialBackup(const PartialBackup&) = delete;
  PartialBackup& operator=(const PartialBackup&) = delete;

  const std::string& path() const { return folder_.path(); }
  // Gives the folder its final name (an empty folder of that name is replaced).
  void Keep(const std::string& dest) {
    Sync(path(), true);
    if (::rename(path().c_str(), final_.c_str()) != 0) {
      throw PracticeDataError("Cannot make the folder " + dest + ": " + std::strerror(errno));
    }
    folder_.Keep();
    Sync(fs::path(final_).parent_path().string(), true);
  }

 private:
  static std::string FinalPath(const std::string& dest) {
    fs::path final_path = fs::absolute(dest).lexically_normal();
    if (final_path.filename().empty()) final_path = final_path.parent_path();
    return final_path.string();
  }
  // The hidden folder beside the final name; a stop signal removes it with what it holds, as the
  // end of this object does, so that a backup broken off leaves no copy of the practice.
  std::string MakeBeside(const std::string& dest) const {
    fs::path final_path(final_);
    std::error_code ec;
    fs::create_directories(final_path.parent_path(), ec);
    if (ec) {
      throw PracticeDataError("Cannot make the folder " + final_path.parent_path().string() + ": " +
                              ec.message());
    }
    std::string pattern =
        (final_path.parent_path() / ("." + final_path.filename().string() + ".partial-XXXXXX"))
            .string();
    if (!mkdtemp(pattern.data())) {
      throw PracticeDataError("Cannot make a folder beside " + dest + ": " + std::strerror(errno));
    }
    return pattern;
  }

  std::string final_;
  ScratchPath folder_;
};

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

std::vector<std::string> TableFileNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& name : FileNames(folder)) {
    if (isam::IsTableFile(Join(folder, name))) names.push_back(name);
  }
  // One table in several files differing only in letter case is refused, as the engine refuses
  // it: a copy of both would carry the ambiguity on.
  for (const std::string& name : names) {
    try {
      isam::RefuseCaseTwins(folder, name);
    } catch (const isam::TableFileError& error) {
      throw PracticeDataError(error.what());
    }
  }
  return names;
}

std::vector<PracticeTable> OpenTables(const std::string& folder) {
  std::vector<PracticeTable> tables;
  for (const std::string& name : TableFileNames(folder)) {
    auto reader = std::make_unique<isam::TableFileReader>(Join(folder, name));
    if (reader->HasTableMarks()) tables.push_back(PracticeTable{name, std::move(reader)});
  }
  return tables;
}

std::string FindName(const std::vector<std::string>& names, const std::string& name) {
  if (std::find(names.begin(), names.end(), name) != names.end()) return name;
  for (const std::string& candidate : names) {
    if (strcasecmp(candidate.c_str(), name.c_str()) == 0) return candidate;
  }
  return "";
}

void FinishInterruptedRestore(const std::string& data_path, const Note& note) {
  if (!Exists(StageFolder(data_path)) && !Exists(DoneFolder(data_path))) return;
  RestoreLock lock(data_path);
  RecoverRestore(data_path, note);
}

void RefuseInterruptedRestore(const std::string& data_path) {
  if (!Exists(StageFolder(data_path))) return;
  if (RestoreLock::HeldElsewhere(data_path)) {
    throw PracticeDataError("A restore into " + PracticeName(data_path) +
                            " is at work in another program; wait until it is done");
  }
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
