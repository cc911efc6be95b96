// The read shortcuts of one table handle. A move normally runs one statement and holds no lock
// between calls. Inside a transaction of the connection no other program can change the files,
// so reads are served from memory where that gives what a statement would. This class keeps that
// memory and decides when it still serves; the handle runs the statements (table_moves.cpp) and
// makes what either gives its current record (Table::BecomeCurrent).
//
// The invariants that keep the shortcuts right are stated here and nowhere else: the map of the
// program (docs/architecture.md) and the code refer to them by number. Each is pinned by the
// tests named with it. Those kept by this class are 1 to 3, 7 and 9; 4 and 8 by the handle's
// moves (table_moves.cpp), 5 by its record locks (table_locks.cpp, Connection::KeepLocksUntilEnd),
// 6 by the SQL of moves (order_sql.h) and 10 by its writes (table_writes.cpp).
// 1. Streams. Inside a transaction, a move in the same order and direction as the last one steps
//    the statement kept running from it, as long as the handle still stands on the row the stream
//    gave last and the connection has added, removed or re-keyed no record of the file since the
//    stream began (Attachment::place_changes). A change of other fields moves no record, and the
//    stream reads each row as it reaches it; unless the file's own rules may reach other records
//    (a trigger, an ON CONFLICT REPLACE constraint: Attachment::HasRewritingRules), when every
//    change counts as moving records. Outside a transaction, or one SQLite has ended on its own or
//    a cut-short commit has stored in part (Connection::transaction_intact), or on a view with a
//    condition, there is no stream and no shortcut below serves. Pinned by
//    KeyedTable.InsideATransactionMovesFollowChangesAndScopesMadeOnTheWay (table_test.cpp), and
//    for files with such rules by WrittenRecord.WhatTheFilesReplacingConstraintsDoIsShown.
// 2. Remembered first reads. Inside a transaction, the first record at or beyond a bound in an
//    order and scope (a move to the top, a seek) is remembered, at most kRememberedFirsts of them,
//    until the connection adds, removes or re-keys a record of the file; a record changed in other
//    fields since is read again before it is served, unless the handle itself wrote it, when the
//    row written replaces the copy. Pinned by KeyedTable.AScopeOrKeyMetAgainFindsItsRecordAsItIsNow
//    (another program's new first record, seeks met again with keys changing) and
//    KeyedTable.AFirstRecordTheHandleWroteIsMetAsWritten (table_test.cpp).
// 3. Record images. The record image of the current values is built once and kept until they are
//    read or replaced (ValuesChanged); a remembered first read keeps its image too and drops it
//    when its record is read again. A pending change builds its image afresh (the handle never
//    asks here for it). This one holds outside transactions too. Pinned by
//    KeyedTable.AScopeOrKeyMetAgainFindsItsRecordAsItIsNow (the image of a first record met again
//    after a change equals a fresh handle's) and
//    RecordImage.EmptyMarksComeFirstThenEachFieldAtItsOffset.
// 4. Stale places. Outside the shortcuts, a step starts from the place the current record was
//    read at only while the file's data version is unchanged since and the connection has added,
//    removed, re-keyed or undone (a rollback, whole or to a savepoint) no record of the file
//    since; otherwise it reads the record's key again, so a record re-keyed elsewhere is left from
//    its new place. The data version tells only of commits, and read between statements it is
//    that of the last read: the step back from the record a move to the top found answers the
//    start of the order without a look only inside the transaction that move was made in, and a
//    scope change forgets it. Pinned by
//    KeyedTable.StepFromRecordWhoseKeyChangedElsewhereStartsAtItsNewPlace,
//    KeyedTable.AStepBackFromTheTopMeetsARecordAddedBeforeIt,
//    KeyedTable.SeededRandomChangesKeepEveryOrderInStep (table_test.cpp), ShortcutFile.* and
//    UndoneTransaction.* (shortcut_review_test.cpp).
// 5. Locks inside a transaction. A record lock released inside a transaction is held until the
//    transaction ends, so that no other program changes a record whose change is not yet
//    committed; a lock the caller takes, before or inside it, stays until the caller unlocks it.
//    A handle closed inside a transaction (an SQL statement's, when the statement is done) leaves
//    the locks it holds for it to the connection, which hands a record on to another of its
//    handles that asks for it. Pinned by
//    TransactionLocks.ALockReleasedInsideATransactionIsHeldUntilItEnds,
//    TransactionLocks.TheLocksAllGoAtTheEndButThoseTheCallerKeeps (record_change_test.cpp) and
//    ShortcutFile.ARecordChangedByAHandleClosedSinceStaysLockedUntilTheTransactionEnds.
// 6. Every move a seek. Each move's statement is planned by SQLite as seeks, however many records
//    share a key. Pinned by OrderSqlPlan.EveryIndexMoveIsPlannedAsSeeks and
//    OrderSqlPlan.MovesFromTheEdgesOfLargeKeyGroupsReadOnlyAFewRecords (order_sql_test.cpp).
// 7. Remembered walks. Inside a transaction, a walk forward in an order from the first record of
//    a scope to its end, at most kWalkRows records long, is remembered (at most kRememberedWalks
//    of them) until the connection adds, removes or re-keys a record of the file. A step forward
//    in that order and scope from one of its records is then its next record, or the end; a
//    record changed in other fields since it was read is read again before it is served. A
//    record read afresh (a write read back, a move to a record by number) replaces the copy.
//    A whole walk is shared by every table handle of the file in the connection (WalkShelf)
//    during the transaction it was walked in: another handle's move to the top of that scope
//    and its steps through it are served from it alike; an image a handle built is kept with a
//    shared row only while the row holds the values it was built from. No walk serves in a later
//    transaction, whether or not the handle heard the transaction end. Pinned by
//    KeyedTable.AScopeWalkedAgainShowsItsRecordsAsTheyAreNow (every record walked by two handles
//    by turns compared with a fresh handle's image while walks are cut short, the walking handle
//    writes, another handle re-keys, renames and adds, and another program changes the file
//    between transactions), KeyedTable.AWalkSharedByTwoHandlesShowsEachTheValuesItRead and
//    KeyedTable.AWalkSharedInOneTransactionServesNoStepInTheNext (table_test.cpp).
// 8. The current record met again. Inside a transaction, a move by number to the record a handle
//    stands on (an edit's first step) keeps the values read in that same transaction, unless the
//    connection changed that record or any record's place since; values read before it began
//    are read again, since another program may have changed them in between. The record a handle
//    stood on before a seek is met again the same way: a dataset whose seek finds nothing moves
//    back to it. Pinned by KeyedTable.AMoveToTheCurrentRecordShowsWhatTheConnectionChangedSince,
//    KeyedTable.AMoveToTheCurrentRecordInANewTransactionShowsWhatAnotherProgramChanged and
//    KeyedTable.AMoveBackAfterAFailedSeekShowsTheRecordAsItIsNow.
// 9. An empty top. Inside a transaction, an order whose move to the top found its scope empty
//    is remembered until the handle reads a record, a scope changes or the connection adds,
//    removes or re-keys a record of the file; a step back from the end (a dataset's move to its
//    first record) then finds nothing without a move to the bottom. Pinned by
//    KeyedTable.AStepBackFromTheTopOfAnEmptyScopeMeetsWhatCameSince.
// 10. Written rows. Inside a transaction the row a write stores is known without reading it back
//    when an edit changes only assigned fields of a record read in that transaction and not
//    changed by the connection since (as in 8), or an append assigns every field; the file holds
//    no trigger and no replacing constraint (looked up once per transaction); and each assigned
//    value is stored as bound under its column's affinity by SQLite's rules. Anything else is
//    read back. Pinned by WrittenRecord.ShowsWhatAFreshReadShowsForEveryKindOfField and
//    WrittenRecord.ShowsWhatAFreshReadShowsWhereValuesAreStoredAsBound (record_change_test.cpp),
//    which compare every written record with a fresh handle's while another program adds and
//    drops triggers and changes records between transactions.
// Streams and remembered reads are forgotten when the transaction ends (Forget).
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
