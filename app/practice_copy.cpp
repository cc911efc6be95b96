#include "app/practice_copy.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "app/backup_files.h"
#include "isam/table_files.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using namespace backup_files;  // NOLINT: the files of a backup

constexpr char kConvertLog[] = "Convert.log";
constexpr char kRestoreFolder[] = ".rivenoak-restore";
constexpr char kPlanName[] = "plan";
constexpr char kPlanFirstLine[] = "rivenoak restore 1";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Files that programs at work on a table keep beside it for a moment or for as long as they have
// it open: rollback journals, super-journals ("-mj" and hex digits), write-ahead logs and their
// indexes, lock files. None of them is part of a copy.
bool IsWorkFile(const std::string& name) {
  for (const char* end : {"-journal", "-wal", "-shm", ".lck"}) {
    if (EndsWith(name, end)) return true;
  }
  size_t mj = name.rfind("-mj");
  return mj != std::string::npos && mj + 3 < name.size() &&
         name.find_first_not_of("0123456789ABCDEFabcdef", mj + 3) == std::string::npos;
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    throw PracticeDataError("The folder " + folder + " is missing");
  }
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (entry.is_regular_file(ec) && !IsWorkFile(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Copies the table that `source` reads into `dest` (`target` names it), in one write transaction
// of the destination, whole or not at all; `gauge` (may be null) shows the pages copied.
void CopyTable(const isam::TableFileReader& source, isam::TableFileWriter& dest,
               const std::string& target, engine::Gauge* gauge) {
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
// it. Tables missing from the folder are made when they are first written.
class PracticeHold {
 public:
  PracticeHold(const std::string& folder, const std::vector<std::string>& names,
               const std::string& consequence)
      : folder_(folder), names_(names), writers_(names.size()) {
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
  text << kPlanFirstLine << "\nfrom " << plan.backup << "\n";
  for (const std::string& name : plan.tables) text << "table " << name << "\n";
  if (!plan.log.empty()) text << "log " << plan.log_write_time << " " << plan.log << "\n";
  text << "end\n";
  return text.str();
}

Plan ReadPlan(const std::string& stage) {
  std::string path = Join(stage, kPlanName);
  std::ifstream in(path);
  Plan plan;
  std::string line;
  bool ended = false;
  if (!std::getline(in, line) || line != kPlanFirstLine) {
    throw PracticeDataError("The restore plan " + path + " is damaged");
  }
  while (std::getline(in, line)) {
    if (line == "end") {
      ended = true;
    } else if (line.rfind("from ", 0) == 0) {
      plan.backup = line.substr(5);
    } else if (line.rfind("table ", 0) == 0) {
      plan.tables.push_back(line.substr(6));
    } else if (line.rfind("log ", 0) == 0) {
      std::istringstream fields(line.substr(4));
      fields >> plan.log_write_time;
      fields.get();
      std::getline(fields, plan.log);
    }
  }
  if (!ended) throw PracticeDataError("The restore plan " + path + " is damaged");
  return plan;
}

std::string StageFolder(const std::string& data_path) {
  return Join(data_path, kRestoreFolder);
}

std::string DoneFolder(const std::string& data_path) {
  return Join(data_path, std::string(kRestoreFolder) + "-done");
}

// Writes a decided restore's files into the practice; each table is written whole or not at
// all, so that doing this again after a kill ends the same. Removes the staging folder last.
void ApplyPlan(const Plan& plan, const std::string& data_path, PracticeHold& hold,
               engine::Gauge* gauge) {
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

// The lock that one restore into a practice folder holds from start to end, so that no other
// command takes a restore at work for one that was killed.
class RestoreLock {
 public:
  explicit RestoreLock(const std::string& data_path) : lock_(StageFolder(data_path)) {
    if (!lock_.TryHoldAlone()) {
      throw PracticeDataError("A restore into " + data_path +
                              " is at work in another program; wait until it is done");
    }
  }

 private:
  isam::OpenMarkHold lock_;
};

// Finishes or undoes an interrupted restore; the caller holds the restore lock.
void RecoverRestore(const std::string& data_path, const Note& note) {
  std::error_code ec;
  fs::remove_all(DoneFolder(data_path), ec);  // what a finished restore had no time to remove
  std::string stage = StageFolder(data_path);
  if (!Exists(stage)) return;
  std::string practice = data_path;
  while (practice.size() > 1 && practice.back() == '/') practice.pop_back();
  if (!Exists(Join(stage, kPlanName))) {
    fs::remove_all(stage, ec);
    if (ec) throw PracticeDataError("Cannot remove " + stage + ": " + ec.message());
    if (note) {
      note("A restore into " + practice +
           " was interrupted before it changed anything and has been undone: the practice is as "
           "it was before it");
    }
    return;
  }
  Plan plan = ReadPlan(stage);
  PracticeHold hold(data_path, plan.tables,
                    "; an interrupted restore from " + plan.backup +
                        " is not finished yet, and the practice is not whole until it is");
  ApplyPlan(plan, data_path, hold, nullptr);
  if (note) {
    note("A restore into " + practice + " from " + plan.backup +
         " was interrupted and has been finished: the practice holds the backup's tables");
  }
}

// The folder a backup is made in before it is given its name: beside it, hidden, removed again
// unless the backup is kept.
class PartialBackup {
 public:
  explicit PartialBackup(const std::string& dest) {
    fs::path final_path = fs::absolute(dest).lexically_normal();
    if (final_path.filename().empty()) final_path = final_path.parent_path();
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
    path_ = pattern;
    final_ = final_path.string();
  }
  ~PartialBackup() {
    if (kept_) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  PartialBackup(const PartialBackup&) = delete;
  PartialBackup& operator=(const PartialBackup&) = delete;

  const std::string& path() const { return path_; }
  // Gives the folder its final name (an empty folder of that name is replaced).
  void Keep(const std::string& dest) {
    Sync(path_, true);
    if (::rename(path_.c_str(), final_.c_str()) != 0) {
      throw PracticeDataError("Cannot make the folder " + dest + ": " + std::strerror(errno));
    }
    kept_ = true;
    Sync(fs::path(final_).parent_path().string(), true);
  }

 private:
  std::string path_, final_;
  bool kept_ = false;
};

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

int BackUpPractice(const std::string& data_path, const std::string& dest, engine::Gauge* gauge,
                   const Note& note) {
  FinishInterruptedRestore(data_path, note);
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

int RestorePractice(const std::string& backup, const std::string& data_path, engine::Gauge* gauge,
                    const Note& note) {
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
  std::vector<std::string> present = TableFileNames(data_path);
  Plan plan;
  plan.backup = fs::absolute(backup).string();
  for (const ManifestEntry& entry : entries) {
    if (!entry.table) continue;
    std::string name = FindName(present, entry.name);
    plan.tables.push_back(name.empty() ? entry.name : name);
  }
  PracticeHold hold(data_path, plan.tables, "; nothing was restored");
  // Staged: the backup's files, checked again as they are copied, then the plan that decides.
  std::string stage = StageFolder(data_path);
  fs::create_directory(stage, ec);
  if (ec) throw PracticeDataError("Cannot make the folder " + stage + ": " + ec.message());
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
    if (!entry.table) {
      std::string there = FindName(FileNames(data_path), kConvertLog);
      plan.log = there.empty() ? entry.name : there;
      plan.log_write_time = entry.write_time;
    }
  }
  Sync(stage, true);
  WriteWhole(Join(stage, kPlanName), PlanText(plan));
  unstage.decided = true;
  try {
    ApplyPlan(plan, data_path, hold, gauge);
  } catch (const std::exception& e) {
    throw PracticeDataError(std::string(e.what()) +
                            "; the restore stopped half done, and the "
                            "next command on " +
                            data_path + " finishes it (rivenoak restore, backup, diff or run)");
  }
  return static_cast<int>(plan.tables.size());
}

}  // namespace app
