#include "app/practice_copy.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "isam/failure.h"
#include "isam/lock_file.h"
#include "isam/schema.h"

namespace app {
namespace {

namespace fs = std::filesystem;

constexpr int kBusyTimeoutMs = 10000;
constexpr int kPagesPerStep = 256;
constexpr char kConvertLog[] = "Convert.log";

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string Join(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    throw PracticeDataError("The folder " + folder + " is missing");
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file(ec)) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

int64_t PragmaValue(sqlite3* db, const char* pragma, const std::string& path) {
  isam::StmtPtr stmt = isam::Prepare(db, std::string("PRAGMA ") + pragma, path);
  isam::StatementUse use(stmt.get(), path);
  return use.Step() ? sqlite3_column_int64(stmt.get(), 0) : 0;
}

struct BackupFinisher {
  void operator()(sqlite3_backup* backup) const { sqlite3_backup_finish(backup); }
};
using BackupPtr = std::unique_ptr<sqlite3_backup, BackupFinisher>;

// Copies the table that `source` reads into the file `target` (made when missing) with SQLite's
// online backup. A new copy is left in rollback-journal mode, the mode the engine writes in, so
// that it can also be read where no write-ahead log can be made.
void CopyTable(sqlite3* source, const std::string& target, bool new_copy, engine::Gauge* gauge) {
  isam::DbPtr dest = isam::OpenDb(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, target);
  sqlite3_busy_timeout(dest.get(), kBusyTimeoutMs);
  BackupPtr backup(sqlite3_backup_init(dest.get(), "main", source, "main"));
  if (!backup) isam::FailFromSqlite(dest.get(), sqlite3_errcode(dest.get()), target);
  if (gauge) gauge->SetPosition(0);
  int rc = SQLITE_OK;
  while (rc == SQLITE_OK) {
    rc = sqlite3_backup_step(backup.get(), kPagesPerStep);
    if (gauge) {
      gauge->SetMax(sqlite3_backup_pagecount(backup.get()));
      gauge->SetPosition(gauge->Max() - sqlite3_backup_remaining(backup.get()));
    }
  }
  int finished = sqlite3_backup_finish(backup.release());
  if (rc != SQLITE_DONE) isam::FailFromSqlite(dest.get(), rc, target);
  if (finished != SQLITE_OK) isam::FailFromSqlite(dest.get(), finished, target);
  if (new_copy) isam::Exec(dest.get(), "PRAGMA journal_mode=DELETE", target);
}

// Copies each table, from read transactions all begun before the first copy, to the file of the
// same index in `targets`.
void CopyTables(const std::vector<PracticeTable>& tables, const std::vector<std::string>& targets,
                bool new_copies, engine::Gauge* gauge) {
  for (const PracticeTable& table : tables) table.reader->HoldSnapshot();
  for (size_t i = 0; i < tables.size(); ++i) {
    CopyTable(tables[i].reader->db(), targets[i], new_copies, gauge);
  }
}

// Copies a Convert.log, of which only the last-write time counts, with that time.
void CopyConvertLog(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::last_write_time(to, fs::last_write_time(from));
}

// The files a backup makes in its folder, and the folder when it was missing: all removed again
// unless the backup is kept.
class NewFiles {
 public:
  explicit NewFiles(const std::string& folder) : folder_(folder) {
    std::error_code ec;
    folder_made_ = fs::create_directories(folder, ec);
    if (ec) throw PracticeDataError("Cannot make the folder " + folder + ": " + ec.message());
  }
  ~NewFiles() {
    if (kept_) return;
    std::error_code ec;
    for (const std::string& file : files_) fs::remove(file, ec);
    if (folder_made_) fs::remove(folder_, ec);
  }
  NewFiles(const NewFiles&) = delete;
  NewFiles& operator=(const NewFiles&) = delete;

  // The path of the new file `name`; refused when the folder already holds one of that name.
  std::string Add(const std::string& name) {
    std::string path = Join(folder_, name);
    if (Exists(path)) throw PracticeDataError("The folder " + folder_ + " already holds " + name);
    files_.push_back(path);
    return path;
  }
  void Keep() { kept_ = true; }

 private:
  std::string folder_;
  bool folder_made_ = false;
  bool kept_ = false;
  std::vector<std::string> files_;
};

}  // namespace

TableReader::TableReader(const std::string& path)
    : path_(path), log_made_here_(!Exists(path + "-wal") && !Exists(path + "-shm")) {
  db_ = isam::OpenDb(path, SQLITE_OPEN_READONLY, path);
  sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
}

TableReader::~TableReader() {
  db_.reset();
  if (!log_made_here_ || (!Exists(path_ + "-wal") && !Exists(path_ + "-shm"))) return;
  // A connection that may write removes the log and its index when it closes last; with the log
  // empty it writes nothing to the file.
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  isam::DbPtr tidy(raw);
  if (rc == SQLITE_OK) {
    sqlite3_exec(raw, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
  }
}

bool TableReader::HasTableMarks() const {
  return PragmaValue(db(), "application_id", path_) == isam::kApplicationId &&
         PragmaValue(db(), "user_version", path_) == isam::kUserVersion;
}

void TableReader::HoldSnapshot() {
  isam::Exec(db(), "BEGIN; SELECT count(*) FROM sqlite_schema", path_);
}

std::vector<std::string> TableFileNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& name : FileNames(folder)) {
    try {
      isam::CheckTableFileHeader(Join(folder, name));
    } catch (const isam::Failure& failure) {
      if (failure.code() == ISAM_ERR_NOT_A_TABLE) continue;
      throw;
    }
    names.push_back(name);
  }
  return names;
}

std::vector<PracticeTable> OpenTables(const std::string& folder) {
  std::vector<PracticeTable> tables;
  for (const std::string& name : TableFileNames(folder)) {
    auto reader = std::make_unique<TableReader>(Join(folder, name));
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

int BackUpPractice(const std::string& data_path, const std::string& dest, engine::Gauge* gauge) {
  std::vector<PracticeTable> tables = OpenTables(data_path);
  if (tables.empty()) throw PracticeDataError("The folder " + data_path + " holds no tables");
  std::error_code ec;
  if (fs::is_directory(dest, ec) && !TableFileNames(dest).empty()) {
    throw PracticeDataError("The folder " + dest + " already holds tables");
  }
  NewFiles made(dest);
  std::vector<std::string> targets;
  for (const PracticeTable& table : tables) targets.push_back(made.Add(table.name));
  std::string log = FindName(FileNames(data_path), kConvertLog);
  std::string log_copy = log.empty() ? "" : made.Add(log);
  CopyTables(tables, targets, true, gauge);
  if (!log.empty()) CopyConvertLog(Join(data_path, log), log_copy);
  made.Keep();
  return static_cast<int>(tables.size());
}

int RestorePractice(const std::string& backup, const std::string& data_path, engine::Gauge* gauge) {
  std::vector<PracticeTable> tables = OpenTables(backup);
  if (tables.empty()) throw PracticeDataError("The folder " + backup + " holds no tables");
  std::error_code ec;
  if (fs::equivalent(backup, data_path, ec)) {
    throw PracticeDataError("The backup " + backup + " is the practice folder itself");
  }
  std::vector<std::string> present = TableFileNames(data_path);
  std::vector<std::string> marked = present;
  std::vector<std::string> targets;
  for (const PracticeTable& table : tables) {
    std::string name = FindName(present, table.name);
    if (name.empty()) marked.push_back(name = table.name);
    targets.push_back(Join(data_path, name));
  }
  // Every table's open mark, held alone until the copies are done: no other program can open a
  // table meanwhile, and none had one open.
  std::vector<std::unique_ptr<isam::LockFile>> marks;
  for (const std::string& name : marked) {
    marks.push_back(std::make_unique<isam::LockFile>(Join(data_path, name)));
    if (!marks.back()->TryLock(0, true)) {
      throw PracticeDataError("the table " + name +
                              " is open in another program; nothing was restored");
    }
  }
  CopyTables(tables, targets, false, gauge);
  std::string log = FindName(FileNames(backup), kConvertLog);
  if (!log.empty()) {
    std::string there = FindName(FileNames(data_path), kConvertLog);
    CopyConvertLog(Join(backup, log), Join(data_path, there.empty() ? log : there));
  }
  return static_cast<int>(tables.size());
}

TemporaryFolder::TemporaryFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) {
    throw PracticeDataError("Cannot make a temporary folder " + pattern + ": " +
                            std::strerror(errno));
  }
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

}  // namespace app
