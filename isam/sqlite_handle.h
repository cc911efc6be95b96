// RAII owners of SQLite connections and prepared statements, and the mapping of SQLite's result
// codes to the engine's. A statement is reset as soon as its caller is done with it
// (StatementUse), so that no read transaction stays open between engine calls, unless its owner
// keeps it running inside a transaction of its own.
#ifndef RIVENOAK_ISAM_SQLITE_HANDLE_H_
#define RIVENOAK_ISAM_SQLITE_HANDLE_H_

#include "isam/internal_header.h"

#include <sqlite3.h>

#include <memory>
#include <string>

#include "isam/failure.h"

namespace isam {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Maps a failing SQLite result to an engine failure whose text names `what` (a file, a table).
[[noreturn]] void FailFromSqlite(sqlite3* db, int rc, const std::string& what);

// A "file:" URI naming the file at `path`, every character but the plainest escaped, so that
// SQLite reads it as that file whatever its name holds ("?", "#", "%", a leading "file:").
std::string UriOfFile(const std::string& path);

// A busy handler: another program holds a file's lock, so wait a millisecond and try again, for
// up to kLimitMs. SQLite's own waits grow to 100 ms, which would rarely meet the short gaps
// between another writer's commits.
template <int kLimitMs>
int WaitAMillisecond(void*, int tries) {
  if (tries >= kLimitMs) return 0;
  sqlite3_sleep(1);
  return 1;
}

// Opens a database file; flags as for sqlite3_open_v2 (SQLITE_OPEN_URI is added, and
// SQLITE_OPEN_NOFOLLOW, which refuses a link anywhere in the name and holds for every file the
// connection attaches: name the file by SqliteFileName).
DbPtr OpenDb(const std::string& uri, int flags, const std::string& what);

StmtPtr Prepare(sqlite3* db, const std::string& sql, const std::string& what);

// Runs statements that return no rows.
void Exec(sqlite3* db, const std::string& sql, const std::string& what);

// Steps a statement once and resets it when this object goes out of scope.
class StatementUse {
 public:
  // `what` names the file in errors; it is kept by reference (a statement is used many times a
  // second, and a copy of the name would be a heap allocation each time), so it must outlive the
  // use.
  StatementUse(sqlite3_stmt* stmt, const std::string& what) : stmt_(stmt), what_(what) {}
  StatementUse(sqlite3_stmt* stmt, std::string&& what) = delete;
  ~StatementUse() {
    if (kept_) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

  // True when a row is ready, false when done; a failure throws.
  bool Step();
  sqlite3_stmt* get() const { return stmt_; }
  // Leaves the statement running for its owner to step on and reset.
  void Keep() { kept_ = true; }

 private:
  sqlite3_stmt* stmt_;
  const std::string& what_;
  bool kept_ = false;
};

// SQL text of an identifier in double quotes.
std::string QuoteIdentifier(const std::string& name);

}  // namespace isam

#endif  // RIVENOAK_ISAM_SQLITE_HANDLE_H_
