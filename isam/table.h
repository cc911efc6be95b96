// A table handle: one open table with its current record, its orders (natural order and named
// indexes, each with its scopes and key buffer), its pending change and its record locks.
//
// Position. Where the handle stands is one state, position_, set only as the table below says:
//   kUnmoved        opened, no move made yet: at neither end and on no record
//   kBeforeFirst    a move back made from kUnmoved: at the beginning (BOF), on no record
//   kOnRecord       on the record recno_, whose values values_ holds
//   kOnRecordAtBof  on the first record of the order, a move back from it refused (BOF)
//   kPastEnd        at the end (EOF): a step forward or a seek found no record
//   kEmpty          at both ends (EOF and BOF): the order has no record inside its scopes
//
//   from            to              made by
//   any             kOnRecord       BecomeCurrent, for every record a move reads: GotoTop,
//                                   GotoBottom, Skip, Seek, GotoRecord, Write (RunWrite) and
//                                   Refresh of a view that moves off a record it no longer shows
//                                   (MoveOffUnqualified)
//   a record state  kOnRecord       GotoRecord of the current record, or of the record stood on
//                                   before a seek, while its read holds (nothing is read)
//   kUnmoved        kBeforeFirst    MarkBof(true): Skip back
//   kOnRecord       kOnRecordAtBof  MarkBof(true): Skip back that finds no record before
//                                   (StepOnce) or knows there is none (the record GotoTop found)
//   a record state  kPastEnd        PassEnd: Skip forward that finds no record after (StepOnce);
//                                   Seek that finds none, or, exact, another key. A step from a
//                                   stale place that starts over from the top and finds the
//                                   order empty leaves kEmpty: the mark stays
//   any             kEmpty          GoEmpty: GotoTop or GotoBottom find no record, Skip back
//                                   from the end of an order known empty, MoveOffUnqualified
//                                   finds none either way
//   kBeforeFirst    kUnmoved        MarkBof(false): GotoTop, GotoBottom, Seek, Skip forward from
//   kOnRecordAtBof  kOnRecord       a record and MoveOffUnqualified drop the mark before they
//   kEmpty          kPastEnd        look, so that one that fails midway leaves it dropped
// Skip forward from kUnmoved or kBeforeFirst is GotoTop, from kPastEnd or kEmpty it stays; Skip
// back from kPastEnd or kEmpty is GotoBottom. Refresh of a table, Delete and Write of an edit
// that assigns nothing keep the position. A move re-reads the place of the record it starts from,
// so a record whose key changed since it was read is left from its new place in the order
// (read_shortcuts.h, invariant 4).
//
// Kept apart from the position, each because it varies independently of it:
// - standing_: whether the current record is still as read, gone (deleted by this handle or
//   found missing by Refresh) or no longer meets the view's condition. It changes while the
//   handle stays where it is, in either record state; it means nothing off a record.
// - first_of_order_: the order whose first record the current one is, as GotoTop found it, for
//   the step back that needs no statement (read_shortcuts.h, invariant 4). It is a fact about one
//   order, which holds in either record state and through a change of standing.
// - before_seek_: the record stood on before a seek, remembered for the move back to it. It is a
//   remembered read, not a place: the next GotoRecord uses it wherever the handle stands then.
//
// The handle is defined in parts, one idea each: table.cpp (the handle and its current record),
// table_moves.cpp, table_keys.cpp, table_locks.cpp and table_writes.cpp. Its moves ask its read
// shortcuts (read_shortcuts.h, where their invariants are stated) before they run a statement.
#ifndef RIVENOAK_ISAM_TABLE_H_
#define RIVENOAK_ISAM_TABLE_H_

#include "isam/internal_header.h"

#include <cassert>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "isam/field.h"
#include "isam/lock_file.h"
#include "isam/order_sql.h"
#include "isam/read_shortcuts.h"
#include "isam/record_source.h"
#include "isam/sqlite/values.h"
#include "isam/value.h"

namespace isam {

class Table : public TransactionEndListener {
 public:
  static constexpr int kNaturalOrder = -1;

  // `open_mark_hold`, when given, is the process's hold of the table's open mark (see
  // OpenMarkHolds): the handle then takes no open mark of its own.
  Table(Connection* connection, std::shared_ptr<RecordSource> source, bool read_only,
        bool exclusive, std::shared_ptr<LockFile> open_mark_hold = nullptr);
  ~Table() override;
  // The connection's transaction ended: the record locks released inside it go now
  // (read_shortcuts.h, invariant 5), and the read shortcuts forget what they remembered.
  void TransactionEnded() override;

  const TableSchema& schema() const { return source_->schema(); }
  const std::string& path() const { return source_->path(); }
  RecordSource& source() const { return *source_; }
  Connection* connection() const { return connection_; }
  bool read_only() const { return read_only_; }

  // ---- moves, each on an order (kNaturalOrder or an index position) ----
  void GotoTop(int order);
  void GotoBottom(int order);
  void Skip(int order, int32_t count);
  void GotoRecord(int64_t recno);
  bool at_eof() const { return position_ == Position::kPastEnd || position_ == Position::kEmpty; }
  bool at_bof() const {
    return position_ == Position::kBeforeFirst || position_ == Position::kOnRecordAtBof ||
           position_ == Position::kEmpty;
  }
  bool IsVisible(int order);  // throws 5068 without a current record
  void Refresh();
  int64_t RecordNumber() const;
  uint32_t Count(int order, uint16_t option);
  double RelativePosition(int order);

  // The values shown: those of the pending change, else of the current record.
  const std::vector<Value>& Values() const;
  void RecordImage(uint8_t* buffer);

  // ---- keys and scopes (index positions) ----
  void InitKey(int index);
  void SetKeyField(int index, int field, std::optional<Value> stored);  // nullopt: empty
  std::vector<uint8_t> BuildKey(int index) const;
  bool Seek(int index, const uint8_t* key, uint16_t length, bool exact);
  void SetScope(int index, bool top, const uint8_t* key, uint16_t length);
  void ClearScope(int index, bool top);
  void ClearAllScopes();
  bool HasScope(int index) const;

  // ---- changes ----
  void Lock(int64_t recno);
  void Unlock(int64_t recno);
  bool LockedElsewhere(int64_t recno);
  void Append();
  void ClearBuffer();
  void SetField(int field, Value stored);
  void Write();
  void CancelUpdate();
  void Delete(int64_t recno);

  // The file's name, for texts; made once, since a raw value read names it in case it is bad.
  const std::string& Title() const;

 private:
  // A record lock taken for one change unless the handle already holds it, released after.
  class BorrowedLock {
   public:
    BorrowedLock(Table* table, int64_t recno);
    ~BorrowedLock();
    BorrowedLock(const BorrowedLock&) = delete;
    BorrowedLock& operator=(const BorrowedLock&) = delete;
    void Keep() { file_ = nullptr; }

   private:
    LockFile* file_ = nullptr;
    uint64_t byte_ = 0;
  };

  // The states of the handle's position and how they change: see the notes at the top.
  enum class Position : uint8_t {
    kUnmoved,
    kBeforeFirst,
    kOnRecord,
    kOnRecordAtBof,
    kPastEnd,
    kEmpty
  };
  // Whether the current record is as read: see the notes at the top.
  enum class Standing : uint8_t { kAsRead, kGone, kUnqualified };
  enum class Pending { kNone, kEdit, kAppend };
  struct IndexState : Scope {
    std::vector<std::optional<Value>> key;  // per segment; a set empty value is a NULL Value
  };

  bool OnRecord() const {
    return position_ == Position::kOnRecord || position_ == Position::kOnRecordAtBof;
  }
  // The BOF mark set or dropped, the place otherwise kept (see the notes at the top).
  void MarkBof(bool marked);
  // A step forward or a seek found no record.
  void PassEnd();
  // The index at position `index`: a number the interface checked, or a programmer's error.
  IndexState& IndexAt(int index) {
    assert(index >= 0 && static_cast<size_t>(index) < indexes_.size());
    return indexes_[static_cast<size_t>(index)];
  }
  const IndexState& IndexAt(int index) const {
    assert(index >= 0 && static_cast<size_t>(index) < indexes_.size());
    return indexes_[static_cast<size_t>(index)];
  }
  const OrderColumns& ColumnsOf(int order) const;
  const Scope& ScopeOf(int order) const;  // none for the natural order
  std::vector<Value> KeyOf(int order, const std::vector<Value>& values, int64_t recno) const;
  std::vector<Value> DecodeKey(int index, const uint8_t* key, uint16_t length) const;
  // <0, 0 or >0 as a row's place in the order is before, equal to or after the first n values
  // of a key, compared in place.
  int CompareRowWithKey(int order, const std::vector<Value>& values, int64_t recno,
                        const std::vector<Value>& key, size_t n) const;
  bool RowInScope(int order, const std::vector<Value>& values, int64_t recno) const;
  // Records inside the order's scopes, and with `before` only those before that key.
  uint32_t CountInScope(int order, const std::vector<Value>* before);
  // Reads the first record beyond `bound` in the order and makes it current. With an expected
  // version, a file changed since then makes the read stale and changes nothing.
  enum class Read { kFound, kNone, kStale };
  Read ReadBeyond(int order, Direction dir, const std::vector<Value>& bound, bool inclusive,
                  const unsigned int* expected_version = nullptr);
  // Whether `bound` is the top of the order's scope and both its ends are that one key.
  bool IsTopOfKeyScope(int order, const std::vector<Value>& bound) const;
  // A scope is about to change: what the moves knew of the old one no longer holds.
  void ScopeChanging();
  // Runs an UPDATE of the record `recno` or an INSERT (no recno) and makes the written record
  // current; false when it wrote nothing. With `row_known` the row is the pending change over
  // the current values (see Write), else it is read back.
  bool RunWrite(sqlite3_stmt* stmt, std::optional<int64_t> recno, bool row_known);
  // Runs a bound UPDATE, INSERT or DELETE.
  void StepChange(sqlite3_stmt* stmt);
  // Whether every dirty value of the pending change is stored as bound, in a file whose own
  // rules cannot change the row: the row written is then known without reading it back.
  bool PendingStoredAsBound();
  // Whether values_ are the record as stored now (see ReadHolds).
  bool CurrentReadHolds() const;
  // The byte of the lock file that locks the record; refuses a record that has none.
  uint64_t LockByte(int64_t recno) const;
  // One step from the current record; false when there is no record that way.
  bool StepOnce(int order, Direction dir);
  // A step that the remembered walks do not give: from a running stream or a statement.
  bool StepThroughFile(int order, Direction dir);
  // The file's data version: it changes with every commit, by any connection or program.
  unsigned int DataVersion() const;
  bool ReadRecord(int64_t recno, std::vector<Value>* values);
  // Whether the record meets the source's condition (always, without one).
  bool Qualifies(int64_t recno);
  // A live view's refresh: the record that no longer qualifies gives way to the next one.
  void MoveOffUnqualified();
  // The current record's key in the order as stored now (its old key if it is gone).
  std::vector<Value> FreshKey(int order);
  // A handle closed inside a transaction leaves the locks it holds for it to the connection.
  void KeepTransactionLocks() noexcept;
  void RequireWritable() const;
  // Whether the pending change assigns a field of some index.
  bool ChangesAnyKey() const;
  // values_ was read or replaced: its image is built again when asked for.
  void ValuesChanged() { shortcuts_.ValuesChanged(); }
  // values_, just read at the file's data version, is the record `recno`, now current. Every
  // move, seek, remembered read and write makes a record current through this.
  void BecomeCurrent(int64_t recno, unsigned int version);
  void NoteReadCounts();  // the values were just read: the counts as they are now
  void BuildImage(const std::vector<Value>& values, uint8_t* buffer) const;
  void RequireRecord() const;
  void DropPending();
  void EnsureAutoincIndexes();
  // The order has no record inside its scopes: at both ends.
  void GoEmpty();
  // The first record at or beyond a bound in the order, inside its scope (a move to the top, a
  // seek): remembered inside a transaction (read_shortcuts.h, invariant 2), so that a read met
  // again (a detail going back to an earlier master record, a look-up of the same key) is served
  // without a statement.
  Read FirstFrom(int order, const std::vector<Value>& bound);
  // The next row of the running stream, if it serves this move; nullopt when it does not.
  std::optional<Read> ContinueStream(int order, Direction dir);

  Connection* connection_;
  std::shared_ptr<RecordSource> source_;
  bool read_only_;
  std::unique_ptr<LockFile> lock_file_;
  std::shared_ptr<LockFile> open_mark_hold_;
  std::set<int64_t> held_locks_;
  std::set<int64_t> unlock_at_end_;  // released when the connection's transaction ends
  bool autoinc_indexed_ = false;     // the indexes EnsureAutoincIndexes makes are there

  Position position_ = Position::kUnmoved;
  Standing standing_ = Standing::kAsRead;  // of the current record, on a record only
  int64_t recno_ = 0;
  std::vector<Value> values_;
  // When a record's values were read: the file's data version, the connection's counts of
  // changes of the file (every change, and those that may have added, removed or re-keyed
  // records) and the connection's transaction (0 when read outside one).
  struct ReadStamp {
    unsigned int version = 0;
    uint64_t changes = 0;
    uint64_t place_changes = 0;
    uint64_t transaction = 0;
  };
  ReadStamp read_;  // of values_
  // Whether values read with `stamp` are still the record `recno` as stored (read_shortcuts.h,
  // invariant 8).
  bool ReadHolds(int64_t recno, const ReadStamp& stamp) const;
  // The record the handle stood on before a seek moved it, for the move back to it that a
  // dataset makes when the seek finds nothing.
  struct StoodOn {
    int64_t recno = 0;
    std::vector<Value> values;
    ReadStamp read;
  };
  std::optional<StoodOn> before_seek_;
  std::vector<ColumnAffinity> affinities_;  // of the fields' columns, once a write needs them
  static constexpr int kNoOrder = -2;
  int first_of_order_ = kNoOrder;   // the order whose first record values_ is, after GotoTop
  uint64_t top_place_changes_ = 0;  // the file's place changes then

  unsigned int step_version_ = 0;  // the file's data version read with the last ReadRecord
  int64_t scratch_recno_ = 0;
  std::vector<Value> scratch_;  // row storage reused by every move

  Pending pending_ = Pending::kNone;
  std::vector<Value> buffer_;
  std::vector<bool> dirty_;

  std::vector<IndexState> indexes_;
  std::vector<OrderColumns> order_columns_;  // [0] natural, [i+1] index i

  mutable std::string title_;  // made by Title

  // Declared last, so that its statements are finalized before the source they read goes.
  ReadShortcuts shortcuts_;
};

}  // namespace isam

#endif  // RIVENOAK_ISAM_TABLE_H_
