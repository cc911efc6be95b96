// Master-detail ranges: a detail dataset follows its master through a data link; each change of
// the master's record or of one of its master fields sets the detail's range on its index to the
// master's values, and a master closed or disabled lifts the range.
//
// The range's state (RangeState, isam_dataset.h) and its transitions, every one made through
// EnterRange. "X" is any state; "+A" marks the states that await the master's owed move
// (kNoneAwaitingMaster and the like), and a row whose target lacks it keeps whether X awaits.
//
//   from             to            made by
//   X                kNone         InternalOpen, before the first range; InternalClose;
//                                  MasterDisabled, once the engine's range is lifted
//   X                X+A           WaitForMaster, from MasterChanged (the master owes a move and
//                                  this detail, on its first record, may put off its own; or the
//                                  master's move failed) and from SettleOwedRange (it failed again)
//   X+A              X             SettleOwedRange, before it has the master make its move, which
//                                  tells this detail again (MasterChanged, any row here)
//   kOwed, kApplied  kApplied      ForgetOwedRange, from MasterChanged (a detail that may not put
//   (+A either)                    off moves owes one), MasterDisabled and SettleOwedRange (before
//   kNone(+A)        kNone         it applies the owed range). The engine may then hold another
//                                  range than applied_start_; each caller applies or lifts one
//                                  next, and only a failure leaves it so
//   kNone, kApplied  kApplied      MasterChanged, once the engine took the new range
//   X                kOwed(+A)     OweRange, from MasterChanged (moves may be put off, or the
//                                  engine refused the new range)
//   kApplied         kOwed         SettleOwedRange, when the engine refuses the owed range again
//
// A master's values equal to those of the range set (applied or owed) change no state. The
// base's owed-move flag (TDataSet::MoveOwed, read by every read of the dataset) is true exactly
// in kOwed and the +A states: EnterRange writes it with the state, and nothing else does.
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

void TIsamDataSet::SetMasterSource(TDataSource* source) {
  if (source == master_source_) return;
  // A source whose dataset follows this one, directly or further up, would close a circle.
  for (TDataSource* s = source; s && s->DataSet();) {
    if (s->DataSet() == this) throw EDatabaseError("Circular Data Link");
    auto* isam = dynamic_cast<TIsamDataSet*>(s->DataSet());
    s = isam ? isam->master_source_ : nullptr;
  }
  if (master_source_ && master_link_) master_source_->RemoveLink(master_link_.get());
  bool had_range = RangeIsSet(range_state_);
  master_source_ = source;
  applied_master_key_.clear();
  if (!source) {
    master_fields_.clear();
    master_field_names_.clear();
    if (Active() && had_range) MasterDisabled();
    return;
  }
  if (!master_link_) master_link_ = std::make_unique<MasterLink>(this);
  source->AddLink(master_link_.get());
  if (Active() && source->DataSet() && source->DataSet()->Active()) MasterChanged();
}

void TIsamDataSet::SetMasterFields(const std::string& fields) {
  master_fields_ = fields;
  master_field_names_ = SplitNames(fields);
  applied_master_key_.clear();  // other fields may hold the same bytes
  if (!Active() || !master_source_ || !master_source_->DataSet()) return;
  if (master_source_->DataSet()->Active() && !MasterFieldList().empty())
    MasterChanged();
  else
    MasterDisabled();
}

std::vector<TField*> TIsamDataSet::MasterFieldList() const {
  std::vector<TField*> out;
  if (!master_source_ || !master_source_->DataSet() || !master_source_->DataSet()->Active()) {
    return out;
  }
  for (const std::string& name : master_field_names_) {
    out.push_back(&master_source_->DataSet()->FieldByName(name));
  }
  return out;
}

void TIsamDataSet::ResetKey(KeyBuffer& key) {
  key.record.assign(record_length_, 0);
  // An empty record: every field empty.
  uint16_t count = field_count_;
  for (uint16_t i = 0; i < count && i < record_length_; ++i) key.record[i] = 1;
  key.assigned.assign(count, false);
  key.count = 0;
}

void TIsamDataSet::AssignKeyField(KeyBuffer& key, TField& detail_field,
                                  const TField& master_field) {
  set_key_buffer_ = &key;
  TDataSetState previous = State();
  SetState(TDataSetState::dsSetKey);
  try {
    CopyValue(detail_field, master_field);
  } catch (...) {
    SetState(previous);
    set_key_buffer_ = nullptr;
    throw;
  }
  SetState(previous);
  set_key_buffer_ = nullptr;
}

std::vector<uint8_t> TIsamDataSet::BuildRawKey(const KeyBuffer& key, bool) {
  Check(IsamInitRawKey(order_));
  bool any_assigned = key.count > 0;
  for (const Segment& segment : segments_) {
    uint16_t number = segment.number;
    // The order's segments name fields of the record the key buffer was made for.
    assert(number <= key.assigned.size() && number <= key.record.size());
    assert(segment.offset + segment.length <= key.record.size());
    bool assigned = number > 0 && key.assigned[number - 1u];
    if (!assigned) {
      if (!any_assigned) Check(IsamSetEmpty(order_, number));
      continue;
    }
    if (key.record[number - 1u]) {
      Check(IsamSetEmpty(order_, number));
    } else if (segment.type == ISAM_TEXT) {
      std::string text(reinterpret_cast<const char*>(key.record.data() + segment.offset),
                       segment.length);
      Check(IsamSetField(order_, number, text.c_str()));
    } else {
      Check(IsamSetFieldRaw(order_, number, key.record.data() + segment.offset, segment.length));
    }
  }
  std::vector<uint8_t> raw(std::max<uint16_t>(key_length_, 1));
  uint16_t length = static_cast<uint16_t>(raw.size());
  Check(IsamBuildRawKey(order_, raw.data(), &length));
  raw.resize(length);
  return raw;
}

TIsamDataSet::RangeState TIsamDataSet::AwaitingMaster(RangeState s, bool awaiting) {
  if (RangeIsOwed(s)) return awaiting ? RangeState::kOwedAwaitingMaster : RangeState::kOwed;
  if (RangeIsSet(s)) return awaiting ? RangeState::kAppliedAwaitingMaster : RangeState::kApplied;
  return awaiting ? RangeState::kNoneAwaitingMaster : RangeState::kNone;
}

void TIsamDataSet::EnterRange(RangeState next) {
  // A closed dataset has no range; only opening and closing reach kNone while it is closed.
  assert(Active() || next == RangeState::kNone);
  range_state_ = next;
  SetMoveOwed(RangeIsOwed(next) || AwaitsMaster(next));
}

void TIsamDataSet::MasterChanged() {
  bool put_off = CanPutOffMoves();
  TDataSet* master_dataset = master_source_ ? master_source_->DataSet() : nullptr;
  if (master_dataset && master_dataset->MoveOwed()) {
    // A detail on the first record of its range may wait for the master's move: whether that
    // move gives it another range or the same one, it ends on the first record.
    if (put_off && stands_on_first_) {
      // The master's record is not known until it makes its move; its details wait with it.
      WaitForMaster();
      NotifyRecordChanged();
      return;
    }
    // Making its move tells this detail again, with the master's record known. A master that
    // cannot make it leaves this detail waiting, to try again at its next read.
    try {
      master_dataset->CarryOutOwedMove();
    } catch (const Exception&) {
      if (State() == TDataSetState::dsBrowse) WaitForMaster();
      throw;
    }
    return;
  }
  if (!put_off && MoveOwed()) {
    // The new range is applied at once, whatever it is: a range still owed never reached the
    // engine, which holds an older one.
    if (RangeIsOwed(range_state_)) {
      applied_start_ = KeyBuffer{};
      applied_master_key_.clear();
    }
    ForgetOwedRange();
  }
  CheckBrowseMode();
  std::vector<TField*> master = MasterFieldList();
  if (master.empty()) {
    MasterDisabled();
    return;
  }
  std::string master_key = MasterKeyOf(master);
  if (RangeIsSet(range_state_) && !master_key.empty() && master_key == applied_master_key_) {
    if (Scoped) LayerError("Cannot set range on table when there is an active scope.");
    return;  // the same range as applied: the detail keeps its current record
  }
  ResetKey(range_start_);
  for (size_t i = 0; i < master.size() && i < segments_.size(); ++i) {
    TField& detail_field = FieldByName(segments_[i].name);
    AssignKeyField(range_start_, detail_field, *master[i]);
  }
  range_start_.count = static_cast<int>(master.size());
  if (Scoped) LayerError("Cannot set range on table when there is an active scope.");
  if (RangeIsSet(range_state_) && range_start_ == applied_start_) {
    applied_master_key_ = master_key;
    return;
  }
  if (put_off) {
    OweRange(master_key);
    NotifyRecordChanged();  // the details learn that this dataset owes a move
    return;
  }
  // A detail that may not put off moves owes none here: any it owed was forgotten above.
  assert(!MoveOwed());
  try {
    ApplyRangeToEngine(range_start_);
  } catch (const Exception&) {
    // The range could not be applied: it is owed, tried again at each read, and the details
    // learn of it, so that nothing goes on to show what belongs to the master's previous record.
    // A detail that tries it at once raises the same failure.
    OweRange(master_key);
    NotifyRecordChanged();
    throw;
  }
  std::swap(applied_start_, range_start_);
  applied_master_key_ = master_key;
  EnterRange(RangeState::kApplied);
  First();
}

void TIsamDataSet::OweRange(const std::string& master_key) {
  std::swap(applied_start_, range_start_);  // the old one is only storage now
  applied_master_key_ = master_key;
  EnterRange(AwaitingMaster(RangeState::kOwed, AwaitsMaster(range_state_)));
  stands_on_first_ = true;  // as good as: the owed move is to the first record
}

void TIsamDataSet::WaitForMaster() {
  EnterRange(AwaitingMaster(range_state_, true));
}

void TIsamDataSet::ApplyRangeToEngine(const KeyBuffer& key) {
  // A master's values give one key, which is both ends of the range.
  std::vector<uint8_t> raw = BuildRawKey(key, true);
  Check(IsamSetScope(order_, ISAM_SCOPE_TOP, raw.data(), static_cast<uint16_t>(raw.size()),
                     ISAM_RAW_KEY));
  Check(IsamSetScope(order_, ISAM_SCOPE_BOTTOM, raw.data(), static_cast<uint16_t>(raw.size()),
                     ISAM_RAW_KEY));
}

bool TIsamDataSet::CanPutOffMoves() const {
  return State() == TDataSetState::dsBrowse && !(Filtered() && OnFilterRecord) && !BeforeScroll &&
         !AfterScroll && OnlyReadersOnDemandFollow();
}

void TIsamDataSet::SettleOwedRange(bool first_follows) {
  if (!MoveOwed() || State() != TDataSetState::dsBrowse) return;
  if (AwaitsMaster(range_state_)) {
    EnterRange(AwaitingMaster(range_state_, false));
    // The master's move tells this detail, which may then owe a range of its own.
    TDataSet* master = master_source_ ? master_source_->DataSet() : nullptr;
    try {
      if (master) master->CarryOutOwedMove();
    } catch (const Exception&) {
      WaitForMaster();  // still: the next read tries the master's move again
      throw;
    }
  }
  if (!RangeIsOwed(range_state_)) return;
  ForgetOwedRange();
  assert(range_state_ == RangeState::kApplied);  // an owed range is a range set
  try {
    ApplyRangeToEngine(applied_start_);
  } catch (const Exception&) {
    // Still owed: the next read tries again rather than show the previous range's records.
    EnterRange(RangeState::kOwed);
    throw;
  }
  if (!first_follows) First();
}

void TIsamDataSet::ForgetOwedRange() {
  EnterRange(RangeIsSet(range_state_) ? RangeState::kApplied : RangeState::kNone);
}

std::string TIsamDataSet::MasterKeyOf(const std::vector<TField*>& master) {
  std::string key;
  for (const TField* field : master) {
    if (field->Engine().length == 0) return "";  // not a stored field
    std::string_view stored = field->Stored();
    key += stored.data() ? '\1' : '\0';
    key += stored;
  }
  return key;
}

void TIsamDataSet::MasterDisabled() {
  ForgetOwedRange();  // without a master there is no range to owe
  CheckBrowseMode();
  if (RangeIsSet(range_state_)) {
    Check(IsamClearAllScopes(handle_));
    uint16_t eof = 0, bof = 0;
    Check(IsamAtEOF(order_, &eof));
    Check(IsamAtBOF(order_, &bof));
    if (eof && bof) Check(IsamGotoTop(order_));
    EnterRange(RangeState::kNone);
    applied_start_ = KeyBuffer{};
    applied_master_key_.clear();
  }
  First();
}

}  // namespace data
