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
//    stream reads each row as it reaches it; unless the file's own rules may reach other records
//    (Attachment::HasRewritingRules), when every change counts as moving records. Outside a
//    transaction, or one SQLite has ended on its own or a cut-short commit has stored in part
//    (Connection::transaction_intact), or on a view with a condition, there is no stream and no
//    shortcut below serves.
// 2. Remembered first reads. Inside a transaction, the first record at or beyond a bound in an
//    order and scope (a move to the top, a seek) is remembered, at most kRememberedFirsts of them,
//    until the connection adds, removes or re-keys a record of the file; a record changed in other
//    fields since is read again before it is served.
// 3. Record images. The record image of the current values is built once and kept until they are
//    read or replaced (ValuesChanged); a remembered first read keeps its image too and drops it
//    when its record is read again. A pending change builds its image afresh (the handle never
//    asks here for it). This one holds outside transactions too.
// 7. Remembered walks. Inside a transaction, a walk forward in an order from the first record of
//    a scope to its end, at most kWalkRows records long, is remembered (at most kRememberedWalks
//    of them) until the connection adds, removes or re-keys a record of the file. A step forward
//    in that order and scope from one of its records is then its next record, or the end; a
//    record changed in other fields since it was read is read again before it is served. A
//    record read afresh (a write read back, a move to a record by number) replaces the copy.
//    A whole walk is shared by every table handle of the file in the connection (WalkShelf)
//    during the transaction it was walked in: another handle's move to the top of that scope
//    and its steps through it are served from it alike. No walk serves in a later transaction,
//    whether or not the handle heard the transaction end.
// 9. An empty top. Inside a transaction, an order whose move to the top found its scope empty
//    is remembered until the handle reads a record, a scope changes or the connection adds,
//    removes or re-keys a record of the file; a step back from the end then finds nothing
//    without a move to the bottom.
// Streams and remembered reads are forgotten when the transaction ends (Forget). Invariants 4 to 6
// (stale places, locks inside a transaction, every move a seek) and 8 (the current record met
// again) belong to the moves, the record locks and the SQL of moves.
#ifndef RIVENOAK_ISAM_READ_SHORTCUTS_H_
#define RIVENOAK_ISAM_READ_SHORTCUTS_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
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
  // A digest of top and bottom, kept by Rehash after every change of either, so that scopes
  // that differ (the usual case when remembered reads are looked through) differ at once.
  size_t hash = 0;
  std::optional<std::vector<Value>> top, bottom;
  bool operator==(const Scope&) const = default;
  void Rehash();
};

// A record a remembered walk met.
struct WalkRow {
  int64_t recno = 0;
  std::vector<Value> values;
  uint64_t changes = 0;        // the file's change count when it was read
  std::vector<uint8_t> image;  // once built
};

// A walk from the first record of an order's scope to its end.
struct RememberedWalk {
  int order = 0;
  Scope scope;
  uint64_t transaction = 0;  // the connection's transaction it was walked in
  uint64_t place_changes = 0;
  std::vector<WalkRow> rows;
  size_t last_given = 0;  // the row a step gave last, where the next step most likely starts
};

// The whole walks of one table file that the connection's table handles made lately, each
// shared with the others for the rest of the transaction it was made in.
class WalkShelf {
 public:
  static constexpr size_t kShelved = 8;
  void Put(std::shared_ptr<RememberedWalk> walk);
  // The walk of `order` and `scope` made in `transaction` with the file's records in the places
  // they had then, or null. Walks of earlier transactions go.
  std::shared_ptr<RememberedWalk> Find(int order, const Scope& scope, uint64_t place_changes,
                                       uint64_t transaction);

 private:
  std::deque<std::shared_ptr<RememberedWalk>> walks_;  // newest last
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

  // ---- 7. remembered walks ----
  static constexpr size_t kRememberedWalks = 4;
  static constexpr size_t kWalkRows = 64;
  // The current record, `recno` with `values`, is the first of `order` within `scope`: a walk
  // may begin from it.
  void WalkBegins(int order, const Scope& scope, int64_t recno, const std::vector<Value>& values);
  // A step forward in `order` within `scope` from the record `from` read `recno` with `values`
  // (the current values), or found the end of the scope (null `values`).
  void WalkStepped(int order, const Scope& scope, int64_t from, int64_t recno,
                   const std::vector<Value>* values);
  struct WalkStep {
    bool found = false;
    int64_t recno = 0;
    const std::vector<Value>* values = nullptr;  // valid until the next call
  };
  // The step forward from the record `from` in `order` within `scope`, if a remembered walk
  // gives it; its record is read again with `read` if this connection changed it since. The
  // values given become the current ones (their image is kept with them).
  std::optional<WalkStep> RecallStep(int order, const Scope& scope, int64_t from,
                                     const RecordReader& read);
  // The first record at `bound` in `order` within `scope`, if a remembered walk gives it: when
  // `bound` is where the scope begins, a walk's first row.
  std::optional<WalkStep> RecallWalkStart(int order, const Scope& scope,
                                          const std::vector<Value>& bound,
                                          const RecordReader& read);
  // The record `recno` was just read as stored, with `values`: remembered copies, in walks and
  // first reads, take them.
  void RecordRead(int64_t recno, const std::vector<Value>& values);

  // ---- 9. an empty top ----
  // The move to the top of `order` found its scope empty; false when nothing is remembered,
  // outside a transaction.
  bool TopFoundEmpty(int order);
  bool TopStillEmpty(int order) const;
  void ForgetEmptyTop() { empty_top_.reset(); }

  // ---- 3. record images ----
  // The current values were read or replaced: their image is built again when asked for.
  void ValuesChanged();
  // The current values are those of the remembered first read `entry` (just recalled), whose
  // image, once built, serves them.
  void CurrentIsFirst(size_t entry);
  // The same for the row a remembered walk just gave (RecallStep).
  void CurrentIsWalkRow();
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
  std::deque<RememberedFirst> firsts_;  // newest last; the oldest goes without moving the rest

  // The current values came from a remembered copy whose image is kept in `home`: a kept image
  // serves them, and one built later is kept there while the copy's change count, `changes`,
  // still holds what it held then (another handle sharing a walk may read the record again).
  void KeepImageIn(std::vector<uint8_t>* home, const uint64_t* changes);
  // This handle's remembered walk of `order` and `scope` that still serves, or null.
  RememberedWalk* OwnWalk(int order, const Scope& scope);
  // The walk of `order` and `scope` another handle of the file made in this transaction, or null;
  // this handle takes it up (KeepWalk) only when it serves a step from it.
  std::shared_ptr<RememberedWalk> ShelvedWalk(int order, const Scope& scope) const;
  // Makes `walk` one of this handle's walks, the oldest making room; returns it.
  RememberedWalk& KeepWalk(std::shared_ptr<RememberedWalk> walk);
  // The file's walk shelf, when walks may be shared: a table file's own records, not a view's.
  WalkShelf* Shelf() const;
  // The step to the row `at` of `walk`, read again first if this connection changed it since.
  std::optional<WalkStep> GiveRow(RememberedWalk& walk, size_t at, const RecordReader& read);
  std::optional<RememberedWalk> recording_;  // the walk under way
  struct EmptyTop {
    int order = 0;
    uint64_t place_changes = 0;
  };
  std::optional<EmptyTop> empty_top_;
  std::list<std::shared_ptr<RememberedWalk>> walks_;  // newest last

  // The image of the current values, once built; and where the remembered copy the current values
  // came from keeps its image (a first read's or a walk row's), or null.
  std::vector<uint8_t> image_;
  bool image_current_ = false;
  std::vector<uint8_t>* image_home_ = nullptr;
  const uint64_t* image_home_changes_ = nullptr;  // the copy's change count
  uint64_t image_home_expected_ = 0;              // and what it held when the copy was taken
  WalkRow* given_row_ = nullptr;                  // the row RecallStep gave last
};

}  // namespace isam

#endif  // RIVENOAK_ISAM_READ_SHORTCUTS_H_
