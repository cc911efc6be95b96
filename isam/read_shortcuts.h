// The read shortcuts of one table handle. A move normally runs one statement and holds no lock
// between calls. Inside a transaction of the connection no other program can change the files,
// so reads are served from memory where that gives what a statement would. This class keeps that
// memory and decides when it still serves; the handle runs the statements (table_moves.cpp) and
// makes what either gives its current record (Table::BecomeCurrent).
//
// Invariants, numbered as in docs/architecture.md ("The engine's read shortcuts"), each pinned by
// a test named there:
// 1. Streams. Inside a transaction, a move in the same order and direction as the last one steps
//    the statement kept running from it, as long as the handle still stands on the row the stream
//    gave last and the connection has added, removed or re-keyed no record of the file since the
//    stream began (Attachment::place_changes). A change of other fields moves no record, and the
//    stream reads each row as it reaches it. Outside a transaction, or on a view with a
//    condition, there is no stream.
// 2. Remembered first reads. Inside a transaction, the first record at or beyond a bound in an
//    order and scope (a move to the top, a seek) is remembered, at most kRememberedFirsts of them,
//    until the connection adds, removes or re-keys a record of the file; a record changed in other
//    fields since is read again before it is served.
// 3. Record images. The record image of the current values is built once and kept until they are
//    read or replaced (ValuesChanged); a remembered first read keeps its image too and drops it
//    when its record is read again. A pending change builds its image afresh (the handle never
//    asks here for it). This one holds outside transactions too.
// Streams and remembered reads are forgotten when the transaction ends (Forget). Invariants 4 to 6
// (stale places, locks inside a transaction, every move a seek) belong to the moves, the record
// locks and the SQL of moves.
#ifndef RIVENOAK_ISAM_READ_SHORTCUTS_H_
#define RIVENOAK_ISAM_READ_SHORTCUTS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "isam/order_sql.h"
#include "isam/record_source.h"
#include "isam/sqlite_handle.h"
#include "isam/value.h"

namespace isam {

class Connection;

// An order's scope: the keys its moves stay at or after (top) and at or before (bottom).
struct Scope {
  std::optional<std::vector<Value>> top, bottom;
  bool operator==(const Scope&) const = default;
};

class ReadShortcuts {
 public:
  static constexpr size_t kRememberedFirsts = 32;

  // Both outlive the shortcuts; the statements kept here read `source`.
  ReadShortcuts(const Connection* connection, const RecordSource* source);
  ReadShortcuts(const ReadShortcuts&) = delete;
  ReadShortcuts& operator=(const ReadShortcuts&) = delete;

  // Whether streams and remembered reads serve: inside a transaction of the connection, on a
  // source without a condition.
  bool Serve() const;
  // The transaction ended: streams and remembered reads go.
  void Forget();

  // ---- 1. streams ----
  // The statement kept for the streams of one statement key, prepared from `sql` the first time.
  sqlite3_stmt* StreamStatement(uint64_t key, const std::function<std::string()>& sql);
  // A stream now runs on `stmt` (kept from StreamStatement), which gave the row `recno`.
  void StartStream(sqlite3_stmt* stmt, int order, Direction dir, int64_t recno);
  enum class Step { kNotServed, kRow, kEnd };
  // The next row of the running stream, read into `recno` and `values`, if the stream serves
  // the next move in `order` and `dir` from the record `current` (nullopt: no current record).
  // A stream that does not serve, or has no row left, is stopped.
  Step Next(int order, Direction dir, std::optional<int64_t> current, int64_t* recno,
            std::vector<Value>* values);
  void StopStream();

  // ---- 2. remembered first reads ----
  struct FirstRead {
    bool found = false;
    int64_t recno = 0;
    const std::vector<Value>* values = nullptr;  // valid until the next call
    size_t entry = 0;                            // for CurrentIsFirst
  };
  using RecordReader = std::function<bool(int64_t recno, std::vector<Value>* values)>;
  // The remembered first read at `bound` in `order` with `scope`, if one still serves. Its record
  // is read again with `read` if this connection changed it since; nullopt if it is gone.
  std::optional<FirstRead> RecallFirst(int order, const Scope& scope,
                                       const std::vector<Value>& bound, const RecordReader& read);
  // Remembers the first read at `bound` in `order` with `scope`: the record `recno` with
  // `values`, which are the current values, or none (null `values`). False when nothing is
  // remembered, outside a transaction.
  bool RememberFirst(int order, const Scope& scope, const std::vector<Value>& bound, int64_t recno,
                     const std::vector<Value>* values);

  // ---- 3. record images ----
  // The current values were read or replaced: their image is built again when asked for.
  void ValuesChanged();
  // The current values are those of the remembered first read `entry` (just recalled), whose
  // image, once built, serves them.
  void CurrentIsFirst(size_t entry);
  // The image of the current values, `length` bytes, built by `build` unless it is kept.
  const std::vector<uint8_t>& CurrentImage(size_t length,
                                           const std::function<void(uint8_t*)>& build);

 private:
  const Connection* connection_;
  const RecordSource* source_;

  std::map<uint64_t, StmtPtr> stream_statements_;
  struct Stream {
    sqlite3_stmt* stmt = nullptr;  // running; owned by stream_statements_
    int order = 0;
    Direction dir = Direction::kForward;
    int64_t recno = 0;           // the row it gave last
    uint64_t place_changes = 0;  // the file's count of such changes when it began
  } stream_;

  struct RememberedFirst {
    int order = 0;
    Scope scope;
    std::vector<Value> bound;
    bool found = false;
    int64_t recno = 0;
    std::vector<Value> values;
    std::vector<uint8_t> image;  // once built
    uint64_t changes = 0;        // the file's change counts when it was read
    uint64_t place_changes = 0;
  };
  std::vector<RememberedFirst> firsts_;  // newest last

  // The image of the current values, once built; and the remembered first read the current values
  // came from, which keeps a copy.
  static constexpr size_t kNoEntry = static_cast<size_t>(-1);
  std::vector<uint8_t> image_;
  bool image_current_ = false;
  size_t image_entry_ = kNoEntry;
};

}  // namespace isam

#endif  // RIVENOAK_ISAM_READ_SHORTCUTS_H_
