// Table files taken as files (the contract is in table_files.h): which files are tables, their
// open marks, readers and their snapshots, and whole copies through SQLite's online backup.
#include "isam/table_files.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "isam/connection.h"
#include "isam/file_lookup.h"
#include "isam/lock_file.h"
#include "isam/registry.h"
#include "isam/schema.h"
#include "isam/sqlite_handle.h"
#include "isam/table_files_internal.h"

namespace isam {
namespace {

// How long one attempt at the snapshots of every table waits for a table before it lets go of
// the others and starts again.
constexpr int kSnapshotAttemptMs = 50;
constexpr int kPagesPerStep = 256;

void WaitLikeARun(sqlite3* db, bool one_attempt = false) {
  sqlite3_busy_handler(
      db, one_attempt ? WaitAMillisecond<kSnapshotAttemptMs> : WaitAMillisecond<kBusyTimeoutMs>,
      nullptr);
}

bool IsBusy(int rc) {
  return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

[[noreturn]] void KeptBusy(const std::string& path) {
  throw TableFileError(ISAM_ERR_BUSY, "The table " + path +
                                          " is kept busy by another program; close the other "
                                          "program and try again");
}

bool LogHasPages(const std::string& path) {
  struct stat log {};
  return stat((path + "-wal").c_str(), &log) == 0 && log.st_size > 0;
}

// `path` as a file name that SQLite cannot take for a URI (absolute), after refusing the file
// and the files beside it when any is a link or no plain file: a reader, too, may roll back what
// a killed writer left, and would block on a named pipe.
std::string FileNameForSqlite(const std::string& path) {
  RefuseUnlessPlainFile(path, "The table file");
  RefuseOddSideFiles(path);
  return SqliteFileName(path);
}

int64_t PragmaValue(sqlite3* db, const char* pragma, const std::string& path) {
  StmtPtr stmt = Prepare(db, std::string("PRAGMA ") + pragma, path);
  StatementUse use(stmt.get(), path);
  return use.Step() ? sqlite3_column_int64(stmt.get(), 0) : 0;
}

constexpr char kFirstRead[] = "SELECT count(*) FROM sqlite_schema";

struct BackupFinisher {
  void operator()(sqlite3_backup* backup) const { sqlite3_backup_finish(backup); }
};
using BackupPtr = std::unique_ptr<sqlite3_backup, BackupFinisher>;

}  // namespace

bool IsTableFile(const std::string& path) {
  try {
    CheckTableFileHeader(path);
  } catch (const Failure& failure) {
    if (failure.code() == ISAM_ERR_NOT_A_TABLE) return false;
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return false;
    throw TableFileError(failure.code(), failure.what());
  }
  return true;
}

void RefuseCaseTwins(const std::string& folder, const std::string& name) {
  try {
    FindTableFile(folder, name);
  } catch (const Failure& failure) {
    if (failure.code() == ISAM_ERR_AMBIGUOUS_TABLE) {
      throw TableFileError(failure.code(), failure.what());
    }
  }
}

std::string LocalLocksRefusal(const std::string& folder) {
  return Translated([&] {
    FolderFilesystem filesystem = FilesystemOf(folder);
    return filesystem.local_locks.empty() ? std::string() : LocalLocksText(folder, filesystem);
  });
}

OpenMarkHold::OpenMarkHold(const std::string& path)
    : lock_(Translated([&] { return std::make_unique<LockFile>(path); })) {}

OpenMarkHold::~OpenMarkHold() = default;

bool OpenMarkHold::TryHoldAlone() {
  return lock_->TryLock(0, true);
}

bool OpenMarkHold::StillNamed() const {
  return lock_->StillNamed();
}

void OpenMarkHold::RemoveLockFile() const {
  lock_->RemoveName();
}

bool OpenMarkHold::HeldByAnyone(const std::string& path) {
  return LockFile::LockedByAnyone(path, 0);
}

int64_t TableFileRow::Integer(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

std::string TableFileRow::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text ? text : "";
}

TableFileRow::Type TableFileRow::TypeOf(int column) const {
  switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER:
      return Type::kInteger;
    case SQLITE_FLOAT:
      return Type::kReal;
    case SQLITE_TEXT:
      return Type::kText;
    case SQLITE_BLOB:
      return Type::kBlob;
    default:
      return Type::kNull;
  }
}

TableFileReader::TableFileReader(const std::string& path) : state_(std::make_unique<State>()) {
  state_->path = path;
  Translated([&] {
    std::string file = FileNameForSqlite(path);
    DbPtr& db = state_->db;
    db = OpenDb(file, SQLITE_OPEN_READWRITE, path);
    WaitLikeARun(db.get());
    // The first read rolls back a hot journal, or reads a write-ahead log.
    int rc = sqlite3_exec(db.get(), kFirstRead, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    if (IsBusy(rc)) KeptBusy(path);
    // A write-ahead table in a folder that may only be read: with nothing in its log, the file
    // itself is the whole table.
    if (!LogHasPages(file)) {
      DbPtr plain = OpenDb(UriOfFile(file) + "?mode=ro&immutable=1", SQLITE_OPEN_READONLY, path);
      if (sqlite3_exec(plain.get(), kFirstRead, nullptr, nullptr, nullptr) == SQLITE_OK) {
        db = std::move(plain);
        return;
      }
    }
    FailFromSqlite(db.get(), rc, path);
  });
}

TableFileReader::~TableFileReader() = default;

const std::string& TableFileReader::path() const {
  return state_->path;
}

bool TableFileReader::HasTableMarks() const {
  return Translated([&] {
    sqlite3* db = state_->db.get();
    return PragmaValue(db, "application_id", path()) == kApplicationId &&
           PragmaValue(db, "user_version", path()) == kUserVersion;
  });
}

// The engine's own reads of a reader's file reach its connection through here.
struct TableFileReaderInside {
  static sqlite3* Db(const TableFileReader& reader) { return reader.state_->db.get(); }
};

void SelectRows(const TableFileReader& reader, const std::string& sql,
                const std::function<void(const TableFileRow&)>& each) {
  Translated([&] {
    StmtPtr stmt = Prepare(TableFileReaderInside::Db(reader), sql, reader.path());
    for (StatementUse use(stmt.get(), reader.path()); use.Step();) each(TableFileRow(stmt.get()));
  });
}

bool HasColumn(const TableFileReader& reader, const std::string& name) {
  bool found = false;
  SelectRows(reader, "PRAGMA table_info(records)",
             [&](const TableFileRow& row) { found = found || row.Text(1) == name; });
  return found;
}

int TableFileReader::TryHoldSnapshot() {
  sqlite3* db = state_->db.get();
  WaitLikeARun(db, true);
  int rc = sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
  WaitLikeARun(db);
  if (rc != SQLITE_OK && !sqlite3_get_autocommit(db)) EndSnapshot();
  return rc;
}

void TableFileReader::EndSnapshot() {
  sqlite3_exec(state_->db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void TableFileReader::HoldSnapshots(const std::vector<TableFileReader*>& readers) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    size_t held = 0;
    int rc = SQLITE_OK;
    for (; held < readers.size(); ++held) {
      rc = readers[held]->TryHoldSnapshot();
      if (rc != SQLITE_OK) break;
    }
    if (held == readers.size()) return;
    for (size_t i = 0; i < held; ++i) readers[i]->EndSnapshot();
    const TableFileReader& busy = *readers[held];
    if (!IsBusy(rc)) Translated([&] { FailFromSqlite(busy.state_->db.get(), rc, busy.path()); });
    if (std::chrono::steady_clock::now() > deadline) KeptBusy(busy.path());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

struct TableFileWriter::State {
  std::string path;
  DbPtr db;
};

TableFileWriter::TableFileWriter(const std::string& path) : state_(std::make_unique<State>()) {
  state_->path = path;
  state_->db = Translated([&] {
    return OpenDb(FileNameForSqlite(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, path);
  });
}

TableFileWriter::~TableFileWriter() = default;

void TableFileWriter::HoldAlone() {
  sqlite3* db = state_->db.get();
  WaitLikeARun(db);
  int rc = sqlite3_exec(db,
                        "PRAGMA journal_mode=DELETE; PRAGMA locking_mode=EXCLUSIVE; "
                        "BEGIN EXCLUSIVE; COMMIT",
                        nullptr, nullptr, nullptr);
  if (IsBusy(rc)) KeptBusy(state_->path);
  if (rc != SQLITE_OK) Translated([&] { FailFromSqlite(db, rc, state_->path); });
}

void TableFileWriter::CopyFrom(const TableFileReader& source, const std::string& target,
                               const std::function<void(int pages, int left)>& progress) {
  sqlite3* dest = state_->db.get();
  Translated([&] {
    BackupPtr backup(sqlite3_backup_init(dest, "main", source.state_->db.get(), "main"));
    if (!backup) FailFromSqlite(dest, sqlite3_errcode(dest), target);
    int rc = SQLITE_OK;
    while (rc == SQLITE_OK) {
      rc = sqlite3_backup_step(backup.get(), kPagesPerStep);
      if (progress) {
        progress(sqlite3_backup_pagecount(backup.get()), sqlite3_backup_remaining(backup.get()));
      }
    }
    int finished = sqlite3_backup_finish(backup.release());
    if (IsBusy(rc)) KeptBusy(target);
    if (rc != SQLITE_DONE) FailFromSqlite(dest, rc, target);
    if (finished != SQLITE_OK) FailFromSqlite(dest, finished, target);
  });
}

void TableFileWriter::UseRollbackJournal() {
  Translated([&] { Exec(state_->db.get(), "PRAGMA journal_mode=DELETE", state_->path); });
}

}  // namespace isam
