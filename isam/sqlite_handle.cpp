#include "isam/sqlite_handle.h"

#include <cctype>
#include <cerrno>
#include <mutex>

namespace isam {

void FailFromSqlite(sqlite3* db, int rc, const std::string& what) {
  std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  switch (rc & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      Fail(ISAM_ERR_TABLE_DAMAGED, what + " is damaged and cannot be read: " + detail);
    case SQLITE_FULL:
      Fail(ISAM_ERR_DISK_FULL, "The disk is full: cannot write " + what);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Fail(ISAM_ERR_BUSY, what + " is kept busy by another program (" + detail +
                              "): close the other program and run again");
    case SQLITE_READONLY:
      if (rc == SQLITE_READONLY_DBMOVED) {
        Fail(ISAM_ERR_READ_ONLY, what +
                                     " was deleted, moved or replaced by another program while "
                                     "it was open: nothing more is written to it");
      }
      [[fallthrough]];
    case SQLITE_PERM:
      Fail(ISAM_ERR_READ_ONLY, what + " cannot be written: " + detail);
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
      // SQLite follows no link (SQLITE_OPEN_NOFOLLOW for the table file, and it opens the files
      // beside it so itself); one planted after the engine looked is refused here.
      if (rc == SQLITE_CANTOPEN_SYMLINK || (db && sqlite3_system_errno(db) == ELOOP)) {
        Fail(ISAM_ERR_IO, "Cannot read or write " + what +
                              ": the file or one that SQLite keeps beside it (its journal or "
                              "write-ahead log) is a symbolic link, which Rivenoak never follows. "
                              "Remove the link and run again");
      }
      Fail(ISAM_ERR_IO, "Cannot read or write " + what + ": " + detail);
    case SQLITE_CONSTRAINT:
      Fail(ISAM_ERR_INVALID_VALUE, "A value does not fit " + what + ": " + detail);
    default:
      Fail(ISAM_ERR_INTERNAL, "Unexpected failure on " + what + ": " + detail);
  }
}

namespace {

// SQLite's allocation statistics take a process-wide lock on every allocation; the engine reads
// none of them. This holds only when set before SQLite's first use in the process, and SQLite's
// configuration is the process's: once per process, the once_flag guarding it against two
// threads opening their first connections together.
void TurnOffAllocationStatistics() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

}  // namespace

std::string UriOfFile(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

DbPtr OpenDb(const std::string& uri, int flags, const std::string& what) {
  TurnOffAllocationStatistics();
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(uri.c_str(), &raw, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, nullptr);
  DbPtr db(raw);
  if (rc != SQLITE_OK) FailFromSqlite(db.get(), rc, what);
  sqlite3_extended_result_codes(db.get(), 1);
  return db;
}

StmtPtr Prepare(sqlite3* db, const std::string& sql, const std::string& what) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  StmtPtr stmt(raw);
  if (rc != SQLITE_OK) FailFromSqlite(db, rc, what);
  return stmt;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& what) {
  char* message = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  sqlite3_free(message);
  if (rc != SQLITE_OK) FailFromSqlite(db, rc, what);
}

bool StatementUse::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  FailFromSqlite(sqlite3_db_handle(stmt_), rc, what_);
}

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace isam
