// The dataset framework: a dataset's state, its fields, its events, and data sources through
// which grids and other datasets follow it. The engine-bound datasets (isam_dataset.h) supply
// the records; this part knows nothing of the engine.
#ifndef RIVENOAK_DATA_DATASET_H_
#define RIVENOAK_DATA_DATASET_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/component.h"
#include "data/errors.h"
#include "data/field.h"

namespace data {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsFilter };

class TDataSet;

// Something that follows a dataset through a data source: a grid, or a detail dataset.
class TDataLink {
 public:
  virtual ~TDataLink() = default;
  // The dataset opened or closed.
  virtual void ActiveChanged(bool active) = 0;
  // The dataset moved to another record, or was refreshed.
  virtual void RecordChanged() = 0;
  // A field of the current record changed (a master key field, for details).
  virtual void FieldChanged(TField& field) { (void)field; }
  // The data source is being destroyed: forget it.
  virtual void SourceGone() = 0;
  // Whether the follower reads the dataset only when it needs one of its values (a detail
  // dataset does), so that the dataset may put off a move until it is next read.
  virtual bool ReadsOnlyWhenNeeded() const { return false; }
};

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr, const std::string& name = "")
      : TComponent(owner, name) {}
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);

  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);

  // ---- called by the dataset ----
  void NotifyActiveChanged(bool active);
  void NotifyRecordChanged();
  void NotifyFieldChanged(TField& field);
  void DataSetGone() { dataset_ = nullptr; }
  bool AllLinksReadOnlyWhenNeeded() const;

 private:
  TDataSet* dataset_ = nullptr;
  std::vector<TDataLink*> links_;
};

class TDataSet : public TComponent {
 public:
  using Event = std::function<void(TDataSet&)>;
  using FilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;

  explicit TDataSet(TComponent* owner = nullptr, const std::string& name = "");
  ~TDataSet() override;

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  virtual void First() = 0;
  virtual void Next() = 0;
  virtual void Prior() = 0;
  bool Eof() const {
    CarryOutOwedMove();
    return eof_;
  }
  bool Bof() const {
    CarryOutOwedMove();
    return bof_;
  }
  virtual int RecordCount() = 0;
  virtual int64_t RecNo() = 0;
  virtual void Refresh() = 0;
  virtual bool IsEmpty() const = 0;
  virtual void Edit() = 0;
  virtual void Append() = 0;
  virtual void Post() = 0;
  virtual void Cancel() = 0;
  // Posts a pending change that has changed fields, cancels one without.
  void CheckBrowseMode();

  // Fields: declared ones stay for the dataset's life; the others are made at each open.
  TField& AddField(std::unique_ptr<TField> field);
  TField* FindField(std::string_view name) const;
  TField& FieldByName(std::string_view name) const;
  const std::vector<TField*>& Fields() const { return fields_; }

  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool filtered) { filtered_ = filtered; }
  FilterRecordEvent OnFilterRecord;

  Event BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
      AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeScroll, AfterScroll,
      OnNewRecord;

  // The data sources whose dataset this is.
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);

  // ---- used by fields ----
  // The record image that field reads and writes use in the current state, or null when the
  // dataset shows no record.
  virtual const uint8_t* ReadBuffer() const = 0;
  virtual uint8_t* WriteBuffer(TField& field) = 0;
  virtual void FieldWritten(TField& field);
  // Raises EDatabaseError "<name>: <text>" (or the text alone for an unnamed dataset).
  [[noreturn]] void DatabaseError(const std::string& text) const;
  std::string ErrorPrefix() const { return Name().empty() ? "" : Name() + ": "; }
  // Where the current record is, for a message about one of its values ("MWTRN.ADT, record
  // 12"); empty when the dataset cannot say.
  virtual std::string RecordForErrors() const { return ""; }

  // A dataset that nothing watches move by move may put off a move it is told to make (a
  // detail's new range) until it is next read; it then owes that move. Every read of the
  // dataset, its position or its fields carries the move out first, so a reader sees what the
  // move at once would have shown.
  bool MoveOwed() const { return move_owed_; }
  void CarryOutOwedMove() const {
    if (move_owed_) const_cast<TDataSet*>(this)->MakeOwedMove();
  }

 protected:
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  void SetState(TDataSetState state) { state_ = state; }
  void SetEof(bool eof) { eof_ = eof; }
  void SetBof(bool bof) { bof_ = bof; }
  void NotifyRecordChanged();
  void NotifyActiveChanged(bool active);
  // Drops the fields made from the table; declared fields stay, unbound.
  void ClearMadeFields();
  void AddMadeField(std::unique_ptr<TField> field);
  const std::vector<std::unique_ptr<TField>>& DeclaredFields() const { return declared_; }
  void Fire(const Event& event) {
    if (event) event(*this);
  }
  // A derived dataset that puts off moves keeps what it owes in a state of its own and writes
  // this flag from that state alone, so that every read tests one flag (TIsamDataSet::EnterRange).
  void SetMoveOwed(bool owed) { move_owed_ = owed; }
  virtual void MakeOwedMove() { move_owed_ = false; }
  // Whether everything that follows this dataset reads it only when it needs a value.
  bool OnlyReadersOnDemandFollow() const;

 private:
  TDataSetState state_ = TDataSetState::dsInactive;
  bool eof_ = true;
  bool bof_ = true;
  bool filtered_ = false;
  bool move_owed_ = false;
  std::vector<std::unique_ptr<TField>> declared_;
  std::vector<std::unique_ptr<TField>> made_;
  std::vector<TField*> fields_;
  std::vector<TDataSource*> sources_;
};

}  // namespace data

#endif  // RIVENOAK_DATA_DATASET_H_
