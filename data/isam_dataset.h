// Engine-bound datasets: TIsamDataSet reads the records of an engine cursor (a table handle or a
// query's cursor) in the order of its active index, through record filters and master-detail
// ranges, and changes them with record locks. TIsamTable opens a table of a connection's folder.
// Every dataset is listed in a process-wide list (behind its own lock) so that connections named
// later can bind the datasets that name them.
#ifndef RIVENOAK_DATA_ISAM_DATASET_H_
#define RIVENOAK_DATA_ISAM_DATASET_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "data/isam_connection.h"
#include "isam/isam.h"

namespace data {

enum class TIsamLockType { Proprietary, Compatible };
enum class TIsamCharType { ANSI, OEM };
enum class TIsamFilterOption { IGNORE_WHEN_COUNTING, RESPECT_WHEN_COUNTING };
enum class TIsamScopeOption { IGNORE_SCOPES_WHEN_COUNTING, RESPECT_SCOPES_WHEN_COUNTING };
enum class TIsamRecordCache { rcStandard, rcNone, rcAggressive };

struct TIsamTableOptions {
  TIsamLockType IsamLockType = TIsamLockType::Proprietary;
  TIsamCharType IsamCharType = TIsamCharType::ANSI;
  bool IsamRightsCheck = true;
  bool IsamOptimizedFilters = true;
  bool IsamOptFilterResolveImmediate = false;
  TIsamFilterOption IsamFilterOptions = TIsamFilterOption::IGNORE_WHEN_COUNTING;
  TIsamScopeOption IsamScopeOptions = TIsamScopeOption::IGNORE_SCOPES_WHEN_COUNTING;
  bool IsamFreshRecordCount = false;
  TIsamRecordCache IsamRecordCache = TIsamRecordCache::rcStandard;
  int IsamIndexPageSize = 512;

  uint16_t LockTypeValue() const {
    return IsamLockType == TIsamLockType::Proprietary ? ISAM_LOCK_PROPRIETARY
                                                      : ISAM_LOCK_COMPATIBLE;
  }
  uint16_t CharTypeValue() const {
    return IsamCharType == TIsamCharType::ANSI ? ISAM_CHAR_ANSI : ISAM_CHAR_OEM;
  }
  uint16_t RightsValue() const { return IsamRightsCheck ? ISAM_RIGHTS_CHECK : ISAM_RIGHTS_IGNORE; }
  uint16_t CountOption() const;
};

enum class TTableType { ttIsamCDX, ttIsamNTX, ttIsamNative, ttIsamDefault };
enum class TIndexCollationMismatch { icmError, icmIgnore, icmReindex };

class TIsamDataSet : public TDataSet {
 public:
  explicit TIsamDataSet(TComponent* owner = nullptr, const std::string& name = "");
  ~TIsamDataSet() override;

  // ---- binding ----
  const std::string& DatabaseName() const { return database_name_; }
  virtual void SetDatabaseName(const std::string& name);
  TIsamConnection* IsamConnection() const { return connection_; }
  void SetIsamConnection(TIsamConnection* connection);
  std::string DatabasePath() const;
  // Binds this dataset to `connection` if it names it and is bound to none (late binding).
  void ConnectionNamed(TIsamConnection* connection, const std::string& old_name);
  void ConnectionGone(TIsamConnection* connection);

  // ---- order, ranges, filters ----
  const std::string& IndexName() const { return index_name_; }
  void SetIndexName(const std::string& name);
  const std::string& IndexFieldNames() const { return index_field_names_; }
  void SetIndexFieldNames(const std::string& names);
  TDataSource* MasterSource() const { return master_source_; }
  void SetMasterSource(TDataSource* source);
  const std::string& MasterFields() const { return master_fields_; }
  void SetMasterFields(const std::string& fields);
  void SetFiltered(bool filtered) override;
  std::string Filter;
  bool Scoped = false;
  bool Sequenced = false;
  bool StoreActive = true;
  TIsamTableOptions IsamTableOptions;
  void SetRecordCache(TIsamRecordCache cache);

  std::string Version() const;
  void SetVersion(const std::string&) {}

  // ---- dataset operations ----
  void First() override;
  void Next() override;
  void Prior() override;
  int RecordCount() override;
  int64_t RecNo() override;
  void Refresh() override;
  bool IsEmpty() const override {
    CarryOutOwedMove();
    return !has_record_;
  }
  void Edit() override;
  void Append() override;
  void Post() override;
  void Cancel() override;
  // Seeks the active index for the values (text forms, in key order).
  bool FindKey(const std::vector<std::string>& values);
  bool CanModify() const { return can_modify_ && !read_only_; }

  // The engine cursor while open: a table, or a query's result.
  IsamHandle Handle() const {
    CarryOutOwedMove();
    return handle_;
  }

  // ---- used by fields and the engine calls ----
  const uint8_t* ReadBuffer() const override;
  uint8_t* WriteBuffer(TField& field) override;
  // Raises EIsamDatabaseError for a failing engine call.
  void Check(IsamResult rc) const;
  // Raises EIsamDatabaseError with the layer's own text.
  [[noreturn]] void LayerError(const std::string& text, uint32_t code = kLayerErrorCode) const;
  // Releases statement handles when the connection disconnects (queries forget theirs).
  virtual void ReleaseStatementHandles() {}

  static void BatchMove() {
    throw EDatabaseError("The method BatchMove in TIsamDataSet is not supported.");
  }
  static void RenameTable() {
    throw EDatabaseError("The method RenameTable in TIsamDataSet is not supported.");
  }
  static void UpdateStatus() {
    throw EDatabaseError("The method UpdateStatus in TIsamDataSet is not supported.");
  }

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  // Opens the engine cursor on the connection handle: a table's table, a query's result.
  virtual IsamHandle OpenCursor(IsamHandle connection) = 0;
  bool read_only_ = false;
  // The connection handle to use, connecting the bound connection when needed.
  IsamHandle ConnectionHandleForOpen();
  virtual std::string TableNameForErrors() const { return ""; }
  bool DictionaryConnection() const { return connection_ && connection_->IsDictionary(); }
  // Whether the table is open for this dataset alone (record locks are then not taken).
  virtual bool ExclusiveOpen() const { return false; }
  void CheckInactive() const;
  std::string RecordForErrors() const override;

 private:
  class MasterLink;
  struct KeyBuffer {
    std::vector<uint8_t> record;
    std::vector<bool> assigned;
    int count = 0;
    bool operator==(const KeyBuffer& o) const {
      return record == o.record && assigned == o.assigned && count == o.count;
    }
  };

  void BuildFields();
  void SelectOrder();
  void ApplyEngineFilter();
  // Reads the record the engine stands on, or the next one that way (+1 or -1) that the record
  // filter accepts; false at the end.
  bool ReadToward(int32_t step);
  bool Accept();  // the record filter on the candidate buffer
  // The candidate the filter accepted, where the engine stands, becomes the current record: the
  // one place that makes a record current.
  void TakeCandidate();
  bool EngineVisible();
  void SettleAround();  // current if visible, else next, else previous, else none
  void AfterMove(bool to_first = false);
  // Where a detail's range stands: whether one is set, whether the engine holds it yet, and
  // whether the detail waits for its master's owed move to learn which range it needs. Every
  // change goes through EnterRange; isam_dataset_master.cpp's opening notes give the
  // transitions and the function that makes each.
  enum class RangeState : uint8_t {
    kNone,                   // no range: the whole order shows
    kApplied,                // the engine holds applied_start_
    kOwed,                   // applied_start_ is not yet on the engine; a move to its first
                             // record is owed
    kNoneAwaitingMaster,     // as kNone, until the master makes the move it owes
    kAppliedAwaitingMaster,  // as kApplied, until the master makes the move it owes
    kOwedAwaitingMaster,     // as kOwed, until the master makes the move it owes
  };
  static constexpr bool RangeIsSet(RangeState s) {
    return s != RangeState::kNone && s != RangeState::kNoneAwaitingMaster;
  }
  static constexpr bool RangeIsOwed(RangeState s) {
    return s == RangeState::kOwed || s == RangeState::kOwedAwaitingMaster;
  }
  static constexpr bool AwaitsMaster(RangeState s) {
    return s == RangeState::kNoneAwaitingMaster || s == RangeState::kAppliedAwaitingMaster ||
           s == RangeState::kOwedAwaitingMaster;
  }
  // The same range as `s`, awaiting the master's move or not.
  static RangeState AwaitingMaster(RangeState s, bool awaiting);
  // The one place the range's state changes, and with it the base's owed-move flag, which every
  // read tests and which this state alone decides.
  void EnterRange(RangeState next);

  void MasterChanged();
  void MasterDisabled();
  // A detail that only detail datasets follow, with no scroll events and no record filter,
  // puts off a new range until it is next read: nothing can tell the difference.
  bool CanPutOffMoves() const;
  void MakeOwedMove() override { SettleOwedRange(false); }
  // Carries out what this detail owes: its master's owed move first, which may give it a new
  // range, then that range; with `first_follows` the caller moves to the first record itself.
  void SettleOwedRange(bool first_follows);
  // Keeps range_start_, built from the master's values `master_key`, as the range this detail
  // owes (a range put off, or one the engine refused).
  void OweRange(const std::string& master_key);
  // Until its master makes the move it owes, this detail's range is not known.
  void WaitForMaster();
  // Drops the range owed and the wait for the master, keeping whether a range is set: the caller
  // applies or lifts one next.
  void ForgetOwedRange();
  std::vector<TField*> MasterFieldList() const;
  // The master fields' stored values, one after another; empty when a field is not stored.
  static std::string MasterKeyOf(const std::vector<TField*>& master);
  // The active order's key fields, as the engine gives them (QuerySegments) and as kept for the
  // open order (segments_, filled when the order is chosen).
  std::vector<std::string> QuerySegments() const;
  std::vector<std::string> IndexSegments() const;
  void LoadSegments();
  void AssignKeyField(KeyBuffer& key, TField& detail_field, const TField& master_field);
  std::vector<uint8_t> BuildRawKey(const KeyBuffer& key, bool partial_allowed);
  void ApplyRangeToEngine(const KeyBuffer& key);
  void ResetKey(KeyBuffer& key);
  void ReadCurrentFromEngine();
  // Whether the engine's current record is `recno`.
  bool EngineStandsOn(int64_t recno) const;

  std::string database_name_;
  TIsamConnection* connection_ = nullptr;
  std::string index_name_;
  std::string index_field_names_;
  TDataSource* master_source_ = nullptr;
  std::string master_fields_;
  std::vector<std::string> master_field_names_;  // master_fields_ split at the semicolons
  std::unique_ptr<MasterLink> master_link_;

  IsamHandle handle_ = 0;
  IsamHandle order_ = 0;
  uint32_t record_length_ = 0;
  bool can_modify_ = false;
  bool update_right_ = false;
  bool insert_right_ = false;
  std::vector<uint8_t> record_;     // the current record
  std::vector<uint8_t> candidate_;  // the record a filter looks at
  std::vector<uint8_t> edit_;       // the record being edited or inserted
  std::vector<uint8_t> old_record_;
  int64_t recno_ = 0;
  bool has_record_ = false;
  int64_t edited_recno_ = 0;
  bool new_record_ = false;
  // The range a master's values give (one key, both its ends): as built, and as applied (or
  // owed, see RangeState).
  KeyBuffer range_start_, applied_start_, find_key_;
  RangeState range_state_ = RangeState::kNone;
  // The master's key values (as stored) that applied_start_ was built from; empty when none is
  // known. Equal values build an equal range, so they need not be built again. Kept beside the
  // state, not in it: a value, not a stage, and it survives the stages a range goes through
  // (owed, awaited, applied) as long as the master's record stays the same.
  std::string applied_master_key_;
  // Whether the dataset stands where First left it (no other move since), or will once it makes
  // the move to the first record it owes. Kept beside the range's state, not in it: it is the
  // cursor's, written by every move of every dataset, masters and masterless ones alike, and it
  // changes with moves that change no range.
  bool stands_on_first_ = false;
  KeyBuffer* set_key_buffer_ = nullptr;
  struct Segment {
    std::string name;
    uint16_t number;
    uint16_t type;
    uint32_t length;
    uint32_t offset;
  };
  std::vector<Segment> segments_;
  uint16_t key_length_ = 0;
  uint16_t field_count_ = 0;
};

class TIsamExtendedDataSet : public TIsamDataSet {
 public:
  using TIsamDataSet::TIsamDataSet;
};

class TIsamTable : public TIsamExtendedDataSet {
 public:
  explicit TIsamTable(TComponent* owner = nullptr, const std::string& name = "");

  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  TTableType TableType() const { return table_type_; }
  void SetTableType(TTableType type);
  TIndexCollationMismatch IndexCollationMismatch() const { return collation_; }
  void SetIndexCollationMismatch(TIndexCollationMismatch value);
  void SetDatabaseName(const std::string& name) override;
  bool Exclusive = false;
  bool ReadOnly = false;
  std::vector<std::string> IndexFiles;

  // The path the engine opens: the database path, "\" and the table name.
  std::string TablePath() const;

 protected:
  IsamHandle OpenCursor(IsamHandle connection) override;
  std::string TableNameForErrors() const override { return table_name_; }
  bool ExclusiveOpen() const override { return Exclusive; }

 private:
  std::string table_name_;
  TTableType table_type_ = TTableType::ttIsamNative;
  TIndexCollationMismatch collation_ = TIndexCollationMismatch::icmError;
};

// Process-wide list of datasets; the callback runs under the list's lock.
void ForEachDataSet(const std::function<void(TIsamDataSet*)>& visit);

}  // namespace data

#endif  // RIVENOAK_DATA_ISAM_DATASET_H_
