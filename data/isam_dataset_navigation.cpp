// Navigation and changes: moves that skip records the dataset's filter or range refuses, the
// record count and number, staying on the current record after a refresh or a write, and edits,
// appends, posts and cancels. A post writes only the fields that changed and leaves the dataset
// on the written record wherever it now lies in the order.
#include "data/isam_dataset.h"

#include <strings.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <map>
#include <mutex>

#include "data/engine_call.h"
#include "data/isam_dataset_parts.h"

namespace data {

using namespace isam_dataset_parts;  // NOLINT: helpers shared by the dataset's parts

bool TIsamDataSet::EngineVisible() {
  uint16_t visible = 0;
  IsamResult rc = IsamIsRecordVisible(order_, &visible);
  if (rc == ISAM_ERR_NO_CURRENT_RECORD) return false;
  Check(rc);
  return visible != 0;
}

bool TIsamDataSet::Accept() {
  if (!Filtered() || !OnFilterRecord) return true;
  TDataSetState previous = State();
  SetState(TDataSetState::dsFilter);
  bool accept = true;
  try {
    OnFilterRecord(*this, accept);
  } catch (...) {
    SetState(previous);
    throw;
  }
  SetState(previous);
  return accept;
}

bool TIsamDataSet::ReadToward(int32_t step) {
  candidate_.resize(record_length_);
  for (;;) {
    uint16_t at_end = 0;
    Check(step > 0 ? IsamAtEOF(order_, &at_end) : IsamAtBOF(order_, &at_end));
    if (at_end || !EngineVisible()) return false;
    uint32_t length = record_length_;
    Check(IsamGetRecord(order_, candidate_.data(), &length));
    if (Accept()) break;
    Check(IsamSkip(order_, step));  // a rejected record is passed in the direction of travel
  }
  TakeCandidate();
  return true;
}

void TIsamDataSet::TakeCandidate() {
  record_.swap(candidate_);
  Check(IsamGetRecordNum(order_, ISAM_RECORD_NUMBER_PHYSICAL, &recno_));
  has_record_ = true;
}

void TIsamDataSet::AfterMove(bool to_first) {
  stands_on_first_ = to_first;
  // The details follow first, so that the dataset's own event sees them on its new record.
  NotifyRecordChanged();
  Fire(AfterScroll);
}

void TIsamDataSet::First() {
  SettleOwedRange(true);
  CheckBrowseMode();
  Fire(BeforeScroll);
  Check(IsamGotoTop(order_));
  Check(IsamSkip(order_, -1));
  bool found = ReadToward(1);
  if (!found) has_record_ = false;
  SetBof(true);
  SetEof(!found);
  AfterMove(true);
}

void TIsamDataSet::Next() {
  CarryOutOwedMove();
  CheckBrowseMode();
  if (Eof()) return;
  Fire(BeforeScroll);
  Check(IsamSkip(order_, 1));
  if (ReadToward(1)) {
    SetBof(false);
  } else {
    SetEof(true);  // the last record read stays current
  }
  AfterMove();
}

void TIsamDataSet::Prior() {
  CarryOutOwedMove();
  CheckBrowseMode();
  if (Bof()) return;
  Fire(BeforeScroll);
  // At the end the engine stands past the last record; the move back starts from the current one,
  // or meets the record now last when another program removed the current one.
  IsamResult rc = Eof() && has_record_ ? IsamGotoRecord(handle_, recno_)
                                       : static_cast<IsamResult>(ISAM_SUCCESS);
  if (rc == ISAM_ERR_RECORD_NOT_FOUND) {
    Check(IsamGotoBottom(order_));
  } else {
    Check(rc);
    Check(IsamSkip(order_, -1));
  }
  if (ReadToward(-1)) {
    SetEof(false);
  } else {
    SetBof(true);
  }
  AfterMove();
}

int TIsamDataSet::RecordCount() {
  if (!Active()) return 0;
  CarryOutOwedMove();
  uint32_t count = 0;
  uint16_t option = IsamTableOptions.CountOption();
  IsamHandle counted = order_;
  if ((option & ~ISAM_COUNT_FRESH) == ISAM_COUNT_RESPECT_FILTERS && order_ != handle_ &&
      !RangeIsSet(range_state_))
    counted = handle_;
  Check(IsamGetRecordCount(counted, option, &count));
  return static_cast<int>(count);
}

int64_t TIsamDataSet::RecNo() {
  CarryOutOwedMove();
  if (!has_record_) return 0;
  if (order_ == handle_ || !Sequenced) return recno_;
  uint32_t count = 0;
  Check(IsamGetRecordCount(order_, ISAM_COUNT_IGNORE_FILTERS, &count));
  double position = 0;
  IsamResult rc = IsamGetRelKeyPos(order_, &position);
  if (rc != ISAM_ERR_NO_KEY_POSITION) Check(rc);
  return static_cast<int64_t>(count * position);
}

void TIsamDataSet::SettleAround() {
  stands_on_first_ = false;
  // The engine stands on the record to settle around.
  if (EngineVisible()) {
    candidate_.resize(record_length_);
    uint32_t length = record_length_;
    Check(IsamGetRecord(order_, candidate_.data(), &length));
    if (Accept()) {
      TakeCandidate();
      SetEof(false);
      SetBof(false);
      return;
    }
  }
  Check(IsamSkip(order_, 1));
  if (ReadToward(1)) {
    SetEof(false);
    SetBof(false);
    return;
  }
  // No record follows: the previous one is the last of the order.
  Check(IsamGotoBottom(order_));
  if (ReadToward(-1)) {
    SetEof(false);
    SetBof(false);
    return;
  }
  has_record_ = false;
  SetEof(true);
  SetBof(true);
}

void TIsamDataSet::Refresh() {
  CarryOutOwedMove();
  CheckBrowseMode();
  if (!has_record_) {
    First();
    return;
  }
  IsamResult rc = IsamGotoRecord(handle_, recno_);
  if (rc == ISAM_ERR_RECORD_NOT_FOUND) {
    // Deleted elsewhere: the engine still knows the record's place if it stands on it.
    rc = IsamRefreshRecord(order_);
    if (rc == ISAM_ERR_NO_CURRENT_RECORD) {
      Check(IsamGotoBottom(order_));
      if (!ReadToward(-1)) {
        has_record_ = false;
        SetBof(true);
      }
      SetEof(true);
      AfterMove();
      return;
    }
  } else {
    Check(rc);
    rc = IsamRefreshRecord(order_);
  }
  if (rc != ISAM_ERR_NO_CURRENT_RECORD) Check(rc);
  SettleAround();
  AfterMove();
}

void TIsamDataSet::ReadCurrentFromEngine() {
  Check(IsamGotoRecord(handle_, recno_));
  uint32_t length = record_length_;
  record_.resize(record_length_);
  Check(IsamGetRecord(handle_, record_.data(), &length));
}

bool TIsamDataSet::EngineStandsOn(int64_t recno) const {
  int64_t current = 0;
  return IsamGetRecordNum(handle_, ISAM_RECORD_NUMBER_PHYSICAL, &current) == ISAM_SUCCESS &&
         current == recno;
}

void TIsamDataSet::Edit() {
  if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) return;
  CarryOutOwedMove();
  if (!has_record_) {
    Append();
    return;
  }
  CheckBrowseMode();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
  Fire(BeforeEdit);
  if (!update_right_)
    LayerError("Update permission not granted on this table.", kPermissionErrorCode);
  if (!ExclusiveOpen()) {
    IsamResult rc = IsamLockRecord(handle_, recno_);
    if (rc == ISAM_ERR_STATIC_VIEW) {
      LayerError("This table is based on a static VIEW. Static VIEWs can not be updated.");
    }
    Check(rc);
  }
  try {
    ReadCurrentFromEngine();
  } catch (...) {
    if (!ExclusiveOpen()) IsamUnlockRecord(handle_, recno_);
    throw;
  }
  old_record_ = record_;
  edit_ = record_;
  edited_recno_ = recno_;
  for (TField* f : Fields()) f->SetChanged(false);
  SetState(TDataSetState::dsEdit);
  Fire(AfterEdit);
}

void TIsamDataSet::Append() {
  CarryOutOwedMove();
  CheckBrowseMode();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
  Fire(BeforeInsert);
  Check(IsamClearRecordBuffer(handle_));
  edit_.assign(record_length_, 0);
  uint16_t count = 0;
  Check(IsamGetNumFields(handle_, &count));
  for (uint16_t i = 0; i < count; ++i) edit_[i] = 1;  // every field empty
  for (TField* f : Fields()) f->SetChanged(false);
  if (!insert_right_)
    LayerError("Insert permission not granted on this table.", kPermissionErrorCode);
  SetState(TDataSetState::dsInsert);
  new_record_ = true;
  try {
    std::vector<TField*> master = MasterFieldList();
    std::vector<std::string> segments = IndexSegments();
    for (size_t i = 0; i < master.size() && i < segments.size(); ++i) {
      CopyValue(FieldByName(segments[i]), *master[i]);
    }
  } catch (...) {
    SetState(TDataSetState::dsBrowse);
    new_record_ = false;
    throw;
  }
  Fire(OnNewRecord);
  Fire(AfterInsert);
}

void TIsamDataSet::Post() {
  if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) return;
  Fire(BeforePost);
  bool inserting = State() == TDataSetState::dsInsert;
  if (inserting) {
    Check(IsamAppendRecord(handle_));
  } else if (!EngineStandsOn(edited_recno_)) {
    // Edit left the engine on the record and nothing moves it while the edit lasts; only the
    // assigned fields are written, so reading the record again would change nothing.
    Check(IsamGotoRecord(handle_, edited_recno_));
  }
  const std::vector<TField*>& fields = Fields();
  for (size_t i = fields.size(); i-- > 0;) {
    TField& f = *fields[i];
    if (!f.Changed() || f.FieldNo() == 0) continue;
    const TField::EngineField& e = f.Engine();
    uint16_t number = e.number;
    // A bound field lies inside the record it was bound for.
    assert(number > 0 && e.offset + e.length <= edit_.size());
    if (edit_[number - 1u]) {
      Check(IsamSetEmpty(handle_, number));
    } else if (e.type == ISAM_TEXT) {
      std::string text(reinterpret_cast<const char*>(edit_.data() + e.offset), e.length);
      if (text.find_first_not_of(' ') == std::string::npos)
        Check(IsamSetEmpty(handle_, number));
      else
        Check(IsamSetField(handle_, number, text.c_str()));
    } else {
      Check(IsamSetFieldRaw(handle_, number, edit_.data() + e.offset, e.length));
    }
  }
  Check(IsamWriteRecord(handle_));
  // The record is stored: its number is known now.
  Check(IsamGetRecordNum(handle_, ISAM_RECORD_NUMBER_PHYSICAL, &recno_));
  if (!inserting && !ExclusiveOpen()) IsamUnlockRecord(handle_, edited_recno_);
  SetState(TDataSetState::dsBrowse);
  new_record_ = false;
  edited_recno_ = 0;
  for (TField* f : Fields()) f->SetChanged(false);
  has_record_ = true;
  SettleAround();
  NotifyRecordChanged();
  Fire(AfterPost);
}

void TIsamDataSet::Cancel() {
  if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) return;
  Fire(BeforeCancel);
  IsamResult rc = IsamCancelUpdate(handle_);
  if (rc != ISAM_ERR_NO_CURRENT_RECORD && rc != ISAM_ERR_NO_UPDATE_PENDING) Check(rc);
  bool inserting = State() == TDataSetState::dsInsert;
  SetState(TDataSetState::dsBrowse);
  stands_on_first_ = false;
  for (TField* f : Fields()) f->SetChanged(false);
  if (inserting) {
    // The new record never reached the engine: the dataset stands on its last record.
    new_record_ = false;
    Check(IsamGotoBottom(order_));
    if (!ReadToward(-1)) {
      has_record_ = false;
      SetEof(true);
      SetBof(true);
    } else {
      SetEof(true);
      SetBof(false);
    }
  } else {
    // The record as it is now; when another program took it out of the range or the filter
    // meanwhile, the record that now stands in its place, as a refresh finds it.
    if (IsamGotoRecord(handle_, edited_recno_) == ISAM_SUCCESS) SettleAround();
    if (!ExclusiveOpen()) IsamUnlockRecord(handle_, edited_recno_);
    edited_recno_ = 0;
  }
  NotifyRecordChanged();
  Fire(AfterCancel);
}

bool TIsamDataSet::FindKey(const std::vector<std::string>& values) {
  CarryOutOwedMove();
  CheckBrowseMode();
  if (segments_.empty()) LayerError("No parseable expressions in setting key fields");
  if (values.size() > segments_.size()) LayerError("Too many values given for current index");
  ResetKey(find_key_);
  set_key_buffer_ = &find_key_;
  SetState(TDataSetState::dsSetKey);
  try {
    for (size_t i = 0; i < values.size(); ++i)
      FieldByName(segments_[i].name).SetAsString(values[i]);
  } catch (...) {
    SetState(TDataSetState::dsBrowse);
    set_key_buffer_ = nullptr;
    throw;
  }
  SetState(TDataSetState::dsBrowse);
  set_key_buffer_ = nullptr;
  find_key_.count = static_cast<int>(values.size());
  std::vector<uint8_t> key = BuildRawKey(find_key_, true);
  bool was_eof = Eof(), was_bof = Bof();
  int64_t was_on = recno_;
  uint16_t found = 0;
  Check(IsamSeek(order_, key.data(), static_cast<uint16_t>(key.size()), ISAM_RAW_KEY,
                 ISAM_SEEK_EXACT, &found));
  if (found) {
    SettleAround();
    AfterMove();
    return true;
  }
  if (!has_record_) return false;
  if (was_bof && !was_eof) {
    First();
    return false;
  }
  if (was_eof) {
    Check(IsamGotoBottom(order_));
    ReadToward(-1);
    SetEof(true);
  } else if (IsamGotoRecord(handle_, was_on) == ISAM_SUCCESS) {
    SettleAround();
  } else {
    Check(IsamGotoBottom(order_));
    ReadToward(-1);
  }
  // The record met again is read afresh: another program may have changed its values or removed
  // it, so that the dataset now shows other values, which its details must follow.
  NotifyRecordChanged();
  return false;
}

}  // namespace data
