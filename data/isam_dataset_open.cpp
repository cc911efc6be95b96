// Opening and closing a dataset: the order it reads in (an index by name or by its fields),
// engine filters, the fields built from the table's fields and the record buffers fields read
// from and write into. Settings that choose the order or the table are refused while open.
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

namespace {

// The records the engine is asked to keep for each record cache setting.
uint16_t RecordsCached(TIsamRecordCache cache) {
  constexpr uint16_t kStandard = 10, kAggressive = 100;
  return cache == TIsamRecordCache::rcStandard ? kStandard
         : cache == TIsamRecordCache::rcNone   ? 0
                                               : kAggressive;
}

}  // namespace

void TIsamDataSet::SetIndexName(const std::string& name) {
  if (name == index_name_ && index_field_names_.empty()) return;
  // What the dataset owes or has pending is settled in the order it was begun in; should that
  // fail, the order stays as it was, and asking for it again tries again.
  if (Active()) {
    CarryOutOwedMove();
    CheckBrowseMode();
  }
  std::string previous = index_name_;
  std::string previous_fields = index_field_names_;
  index_name_ = name;
  index_field_names_.clear();
  if (!Active()) return;
  IsamHandle old_order = order_;
  try {
    SelectOrder();
    if (has_record_) SettleAround();
  } catch (...) {
    index_name_ = previous;
    index_field_names_ = previous_fields;
    order_ = old_order;
    throw;
  }
  if (master_source_ && master_source_->DataSet() && master_source_->DataSet()->Active()) {
    applied_start_ = KeyBuffer{};
    applied_master_key_.clear();
    MasterChanged();
  }
}

void TIsamDataSet::SetIndexFieldNames(const std::string& names) {
  if (Active()) {
    CarryOutOwedMove();
    CheckBrowseMode();
  }
  index_field_names_ = names;
  index_name_.clear();
  if (Active()) {
    SelectOrder();
    First();
  }
}

void TIsamDataSet::SetRecordCache(TIsamRecordCache cache) {
  IsamTableOptions.IsamRecordCache = cache;
  if (!Active()) return;
  Check(IsamCacheRecords(handle_, RecordsCached(cache)));
}

std::string TIsamDataSet::Version() const {
  uint32_t major = 0, minor = 0;
  char letter = ' ';
  if (IsamGetVersion(&major, &minor, &letter) != ISAM_SUCCESS) return "";
  std::string text =
      "6.2 (ISAM " + std::to_string(major) + "." + (minor < 10 ? "0" : "") + std::to_string(minor);
  if (letter != ' ' && letter != '\0') text += letter;
  return text + ")";
}

void TIsamDataSet::SelectOrder() {
  if (!index_field_names_.empty()) {
    std::vector<std::string> wanted = SplitNames(index_field_names_);
    uint16_t count = 0;
    Check(IsamGetNumIndexes(handle_, &count));
    for (uint16_t i = 1; i <= count; ++i) {
      char name[256];
      uint16_t length = sizeof name;
      Check(IsamGetIndexName(handle_, i, name, &length));
      IsamHandle index = 0;
      Check(IsamGetIndexHandle(handle_, name, &index));
      order_ = index;
      std::vector<std::string> segments = QuerySegments();
      if (segments.size() == wanted.size() &&
          std::equal(segments.begin(), segments.end(), wanted.begin(), SameText)) {
        LoadSegments();
        return;
      }
    }
    order_ = handle_;
    LayerError("Not a valid index field name:" + index_field_names_);
  }
  if (index_name_.empty()) {
    order_ = handle_;
    LoadSegments();
    return;
  }
  IsamHandle index = 0;
  Check(IsamGetIndexHandle(handle_, index_name_.c_str(), &index));
  order_ = index;
  LoadSegments();
}

std::vector<std::string> TIsamDataSet::IndexSegments() const {
  std::vector<std::string> out;
  for (const Segment& segment : segments_) out.push_back(segment.name);
  return out;
}

void TIsamDataSet::LoadSegments() {
  segments_.clear();
  key_length_ = 0;
  Check(IsamGetNumFields(handle_, &field_count_));
  if (order_ == handle_) return;
  Check(IsamGetKeyLength(order_, &key_length_));
  for (const std::string& name : QuerySegments()) {
    Segment segment{name, 0, 0, 0, 0};
    Check(IsamGetFieldNum(handle_, name.c_str(), &segment.number));
    Check(IsamGetFieldType(handle_, segment.number, &segment.type));
    Check(IsamGetFieldLength(handle_, segment.number, &segment.length));
    Check(IsamGetFieldOffset(handle_, segment.number, &segment.offset));
    segments_.push_back(segment);
  }
}

std::vector<std::string> TIsamDataSet::QuerySegments() const {
  std::vector<std::string> out;
  if (order_ == handle_) return out;
  uint16_t count = 0;
  Check(IsamGetNumSegments(order_, &count));
  for (uint16_t s = 1; s <= count; ++s) {
    char name[256];
    uint16_t length = sizeof name;
    Check(IsamGetSegmentFieldname(order_, s, name, &length));
    out.emplace_back(name, length);
  }
  return out;
}

void TIsamDataSet::SetFiltered(bool filtered) {
  TDataSet::SetFiltered(filtered);
  if (!Active()) return;
  CarryOutOwedMove();
  CheckBrowseMode();
  ApplyEngineFilter();
  First();
}

void TIsamDataSet::ApplyEngineFilter() {
  if (!Filtered()) return;
  bool optimised = IsamTableOptions.IsamOptimizedFilters;
  if (!Filter.empty()) {
    Check(optimised
              ? IsamSetOptFilter(order_, Filter.c_str(),
                                 IsamTableOptions.IsamOptFilterResolveImmediate ? ISAM_OPTION_ON
                                                                                : ISAM_OPTION_OFF)
              : IsamSetFilter(order_, Filter.c_str()));
    return;
  }
  IsamResult rc = optimised ? IsamClearOptFilter(order_) : IsamClearFilter(order_);
  if (rc != ISAM_ERR_NO_FILTER) Check(rc);
}

void TIsamDataSet::InternalOpen() {
  if (handle_) LayerError("Table is already open.");
  IsamHandle connection = ConnectionHandleForOpen();
  if (connection == 0) LayerError("Internal Error: invalid connection handle.");
  handle_ = OpenCursor(connection);
  try {
    Check(IsamGetRecordLength(handle_, &record_length_));
    uint32_t options = 0;
    Check(IsamGetTableOpenOptions(handle_, &options));
    can_modify_ = (options & ISAM_TABLE_READ_ONLY) == 0;
    update_right_ = (options & ISAM_TABLE_UPDATE_RIGHT) != 0;
    insert_right_ = (options & ISAM_TABLE_INSERT_RIGHT) != 0;
    if (IsamTableOptions.IsamRecordCache != TIsamRecordCache::rcStandard) {
      Check(IsamCacheRecords(handle_, RecordsCached(IsamTableOptions.IsamRecordCache)));
    }
    uint32_t bookmark = 0;
    Check(IsamGetBookmarkLength(handle_, &bookmark));
    record_.assign(record_length_, 0);
    BuildFields();
    SelectOrder();
    SetState(TDataSetState::dsBrowse);
    EnterRange(RangeState::kNone);
    applied_start_ = KeyBuffer{};
    applied_master_key_.clear();
    std::vector<TField*> master = MasterFieldList();
    if (!master.empty()) {
      MasterChanged();
    } else {
      ApplyEngineFilter();
      First();
    }
  } catch (...) {
    IsamCloseTable(handle_);
    handle_ = order_ = 0;
    ClearMadeFields();
    SetState(TDataSetState::dsInactive);
    throw;
  }
}

void TIsamDataSet::BuildFields() {
  ClearMadeFields();
  uint16_t count = 0;
  Check(IsamGetNumFields(handle_, &count));
  std::vector<std::pair<std::string, TField::EngineField>> table_fields;
  for (uint16_t i = 1; i <= count; ++i) {
    TField::EngineField engine;
    engine.number = i;
    Check(IsamGetFieldType(handle_, i, &engine.type));
    Check(IsamGetFieldLength(handle_, i, &engine.length));
    Check(IsamGetFieldDecimals(handle_, i, &engine.decimals));
    Check(IsamGetFieldOffset(handle_, i, &engine.offset));
    char name[256];
    uint16_t length = sizeof name;
    Check(IsamGetFieldName(handle_, i, name, &length));
    table_fields.emplace_back(std::string(name, length), engine);
  }
  if (!DeclaredFields().empty()) {
    // Declared fields bind by name; the dataset sees only them.
    for (const auto& declared : DeclaredFields()) {
      auto it = std::find_if(table_fields.begin(), table_fields.end(), [&](const auto& f) {
        return SameText(f.first, declared->FieldName());
      });
      if (it == table_fields.end())
        DatabaseError("Field '" + declared->FieldName() + "' not found");
      TFieldType actual =
          FieldTypeOfEngine(it->second.type, it->second.length, it->second.decimals);
      if (actual != declared->DataType()) {
        DatabaseError("Type mismatch for field '" + declared->FieldName() + "', expecting: " +
                      FieldTypeName(declared->DataType()) + " actual: " + FieldTypeName(actual));
      }
      declared->Bind(this, it->second);
    }
    return;
  }
  for (const auto& [name, engine] : table_fields) {
    TFieldType type = FieldTypeOfEngine(engine.type, engine.length, engine.decimals);
    if (type == TFieldType::ftUnknown) continue;
    auto field = std::make_unique<TField>(
        type, name, type == TFieldType::ftString ? static_cast<int>(engine.length) : 0);
    field->Bind(this, engine);
    AddMadeField(std::move(field));
  }
}

void TIsamDataSet::InternalClose() {
  if (State() == TDataSetState::dsEdit && !ExclusiveOpen()) {
    IsamUnlockRecord(handle_, edited_recno_);
  }
  EnterRange(RangeState::kNone);
  ClearMadeFields();
  record_.clear();
  edit_.clear();
  old_record_.clear();
  has_record_ = false;
  // A closed dataset stands on no record: opened again, it may not wait for its master's move
  // as if that move would leave it where it stands.
  stands_on_first_ = false;
  if (handle_) IsamCloseTable(handle_);  // a failure here is not worth an error
  handle_ = order_ = 0;
  can_modify_ = false;
}

const uint8_t* TIsamDataSet::ReadBuffer() const {
  CarryOutOwedMove();
  switch (State()) {
    case TDataSetState::dsFilter:
      return candidate_.data();
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      return edit_.data();
    case TDataSetState::dsSetKey:
      return set_key_buffer_ ? set_key_buffer_->record.data() : nullptr;
    case TDataSetState::dsBrowse:
      return has_record_ ? record_.data() : nullptr;
    default:
      return nullptr;
  }
}

uint8_t* TIsamDataSet::WriteBuffer(TField& field) {
  if (State() == TDataSetState::dsSetKey && set_key_buffer_) {
    size_t index = field.FieldNo() - 1u;
    // Only a bound field of this dataset writes into its key buffer.
    assert(field.FieldNo() > 0 && index < set_key_buffer_->assigned.size());
    if (!set_key_buffer_->assigned[index]) {
      set_key_buffer_->assigned[index] = true;
    }
    return set_key_buffer_->record.data();
  }
  if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) {
    DatabaseError("Dataset not in edit mode");
  }
  return edit_.data();
}

}  // namespace data
