#include "data/isam_dataset.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "data/engine_call.h"

namespace data {
namespace {

constexpr uint16_t kRecordNumberPhysical = 2;

struct DataSetList {
  std::mutex mutex;
  std::vector<TIsamDataSet*> datasets;
};

DataSetList& DataSets() {
  static DataSetList list;
  return list;
}

// One engine connection per folder for datasets bound to no connection component.
struct FolderConnections {
  std::mutex mutex;
  std::map<std::string, IsamHandle> handles;
};

FolderConnections& Folders() {
  static FolderConnections folders;
  return folders;
}

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t semi = text.find(';', pos);
    std::string part = text.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
    size_t b = part.find_first_not_of(' ');
    if (b != std::string::npos) out.push_back(part.substr(b, part.find_last_not_of(' ') - b + 1));
    if (semi == std::string::npos) break;
    pos = semi + 1;
  }
  return out;
}

bool SameText(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Copies a master field's value into a detail field (which writes into a key buffer).
void CopyValue(TField& to, const TField& from) {
  if (from.IsNull()) {
    to.Clear();
    return;
  }
  switch (to.DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftMemo:
      to.SetAsString(from.AsString());
      break;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      to.SetAsInteger(from.AsInteger());
      break;
    case TFieldType::ftBoolean:
      to.SetAsBoolean(from.AsBoolean());
      break;
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
      to.SetAsDateTime(from.AsDateTime());
      break;
    default:
      to.SetAsFloat(from.AsFloat());
      break;
  }
}

}  // namespace

uint16_t TIsamTableOptions::CountOption() const {
  uint16_t option = 2;
  if (IsamFilterOptions == TIsamFilterOption::RESPECT_WHEN_COUNTING)
    option = 1;
  else if (IsamScopeOptions == TIsamScopeOption::RESPECT_SCOPES_WHEN_COUNTING)
    option = 3;
  return static_cast<uint16_t>(option + (IsamFreshRecordCount ? 4 : 0));
}

void ForEachDataSet(const std::function<void(TIsamDataSet*)>& visit) {
  std::lock_guard<std::mutex> lock(DataSets().mutex);
  for (TIsamDataSet* d : DataSets().datasets) visit(d);
}

// The link of a detail to its master: master changes set the detail's range.
class TIsamDataSet::MasterLink : public TDataLink {
 public:
  explicit MasterLink(TIsamDataSet* detail) : detail_(detail) {}
  void ActiveChanged(bool active) override {
    if (!detail_->Active()) return;
    if (active)
      detail_->MasterChanged();
    else
      detail_->MasterDisabled();
  }
  void RecordChanged() override {
    if (detail_->Active() && detail_->State() != TDataSetState::dsSetKey) detail_->MasterChanged();
  }
  void SourceGone() override { detail_->master_source_ = nullptr; }
  void FieldChanged(TField& field) override {
    if (!detail_->Active()) return;
    // A value written to the master's key buffer (set-key state) changes none of its records.
    TDataSet* master = detail_->master_source_ ? detail_->master_source_->DataSet() : nullptr;
    if (master && master->State() == TDataSetState::dsSetKey) return;
    for (TField* f : detail_->MasterFieldList()) {
      if (f == &field) {
        detail_->MasterChanged();
        return;
      }
    }
  }

 private:
  TIsamDataSet* detail_;
};

TIsamDataSet::TIsamDataSet(TComponent* owner, const std::string& name) : TDataSet(owner, name) {
  std::lock_guard<std::mutex> lock(DataSets().mutex);
  DataSets().datasets.push_back(this);
}

TIsamDataSet::~TIsamDataSet() {
  try {
    Close();
  } catch (const Exception&) {
  }
  SetMasterSource(nullptr);
  if (connection_) connection_->RemoveDataSet(this);
  std::lock_guard<std::mutex> lock(DataSets().mutex);
  auto& list = DataSets().datasets;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

// ---- errors ----

void TIsamDataSet::Check(IsamResult rc) const {
  if (rc == ISAM_SUCCESS || BuildingDatabaseError()) return;
  SetBuildingDatabaseError(true);
  EngineError error = LastEngineError();
  DatabaseErrorContext context;
  context.error_code = error.code ? error.code : rc;
  context.native_error = NativeErrorFromText(error.text);
  context.dataset_name = Name();
  context.owner_name = OwnerName();
  context.database_name = database_name_;
  context.database_path = DatabasePath();
  context.table_name = TableNameForErrors();
  context.column_name = ColumnNameFromText(context.error_code, error.text);
  throw EIsamDatabaseError(ErrorPrefix() + error.text, context);
}

void TIsamDataSet::LayerError(const std::string& text, uint32_t code) const {
  if (code == kPermissionErrorCode) IsamSetLastError(code, text.c_str());
  DatabaseErrorContext context;
  context.error_code = code;
  context.dataset_name = Name();
  context.owner_name = OwnerName();
  context.database_name = database_name_;
  context.database_path = DatabasePath();
  context.table_name = TableNameForErrors();
  throw EIsamDatabaseError(ErrorPrefix() + text, context);
}

std::string TIsamDataSet::RecordForErrors() const {
  std::string table = TableNameForErrors();
  if (table.empty()) return "";
  // The file the engine opened for the table, which may spell its name otherwise.
  std::string path(4096, '\0');
  uint16_t length = static_cast<uint16_t>(path.size());
  if (handle_ && IsamGetTableName(handle_, path.data(), &length) == ISAM_SUCCESS) {
    table = path.substr(0, length);
  }
  return has_record_ ? table + ", record " + std::to_string(recno_) : table;
}

void TIsamDataSet::CheckInactive() const {
  if (Active()) LayerError("Cannot perform this operation on an open dataset");
}

// ---- binding ----

void TIsamDataSet::SetIsamConnection(TIsamConnection* connection) {
  if (Active()) LayerError("Table must not be Active.");
  if (connection_ == connection) return;
  if (connection_) connection_->RemoveDataSet(this);
  connection_ = connection;
  if (connection_) {
    connection_->AddDataSet(this);
    database_name_ = connection_->Name();
  }
}

void TIsamDataSet::SetDatabaseName(const std::string& name) {
  CheckInactive();
  if (connection_) connection_->RemoveDataSet(this);
  connection_ = nullptr;
  database_name_ = name;
  if (name.empty()) return;
  // The first match of: same name and owner on this thread; same name on this thread; same name
  // and owner; owner's name "." name, or the name alone.
  TIsamConnection* found = nullptr;
  auto this_thread = std::this_thread::get_id();
  for (int rule = 0; rule < 4 && !found; ++rule) {
    ForEachConnection([&](TIsamConnection* c) {
      if (found) return;
      bool same_name = SameText(c->Name(), name);
      bool same_owner = c->Owner() == Owner();
      bool same_thread = c->CreatorThread() == this_thread;
      bool match = false;
      if (rule == 0) match = same_name && same_owner && same_thread;
      if (rule == 1) match = same_name && same_thread;
      if (rule == 2) match = same_name && same_owner;
      if (rule == 3) match = same_name || SameText(c->OwnerName() + "." + c->Name(), name);
      if (match) found = c;
    });
  }
  if (found) {
    connection_ = found;
    connection_->AddDataSet(this);
  }
}

void TIsamDataSet::ConnectionNamed(TIsamConnection* connection, const std::string& old_name) {
  bool follows =
      connection_ == connection && !old_name.empty() && SameText(database_name_, old_name);
  bool names_it = !connection_ && OwnerName() == connection->OwnerName() &&
                  SameText(database_name_, connection->Name());
  if (follows) {
    database_name_ = connection->Name();
  } else if (names_it && !Active()) {
    connection_ = connection;
    connection_->AddDataSet(this);
  }
}

void TIsamDataSet::ConnectionGone(TIsamConnection* connection) {
  if (connection_ == connection) connection_ = nullptr;
}

std::string TIsamDataSet::DatabasePath() const {
  std::string path;
  if (connection_ && (database_name_.empty() || SameText(database_name_, connection_->Name()))) {
    path = connection_->ConnectionFolder();
  } else {
    path = database_name_;
  }
  if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

IsamHandle TIsamDataSet::ConnectionHandleForOpen() {
  if (connection_) {
    if (!connection_->IsConnected()) connection_->SetIsConnected(true);
    return connection_->ConnectionHandle();
  }
  std::string folder = DatabasePath();
  std::lock_guard<std::mutex> lock(Folders().mutex);
  IsamHandle& handle = Folders().handles[folder];
  if (handle == 0) {
    IsamResult rc = IsamConnect(folder.c_str(), &handle);
    if (rc != ISAM_SUCCESS) {
      handle = 0;
      Check(rc);
    }
  }
  return handle;
}

// ---- order and options ----

void TIsamDataSet::SetIndexName(const std::string& name) {
  if (name == index_name_ && index_field_names_.empty()) return;
  std::string previous = index_name_;
  std::string previous_fields = index_field_names_;
  index_name_ = name;
  index_field_names_.clear();
  if (!Active()) return;
  CheckBrowseMode();
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
  index_field_names_ = names;
  index_name_.clear();
  if (Active()) {
    CheckBrowseMode();
    SelectOrder();
    First();
  }
}

void TIsamDataSet::SetRecordCache(TIsamRecordCache cache) {
  IsamTableOptions.IsamRecordCache = cache;
  if (!Active()) return;
  uint16_t count = cache == TIsamRecordCache::rcStandard ? 10
                   : cache == TIsamRecordCache::rcNone   ? 0
                                                         : 100;
  Check(IsamCacheRecords(handle_, count));
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

void TIsamDataSet::SetMasterSource(TDataSource* source) {
  if (source == master_source_) return;
  // A source whose dataset follows this one, directly or further up, would close a circle.
  for (TDataSource* s = source; s && s->DataSet();) {
    if (s->DataSet() == this) throw EDatabaseError("Circular Data Link");
    auto* isam = dynamic_cast<TIsamDataSet*>(s->DataSet());
    s = isam ? isam->master_source_ : nullptr;
  }
  if (master_source_ && master_link_) master_source_->RemoveLink(master_link_.get());
  bool had_range = range_set_;
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

void TIsamDataSet::SetFiltered(bool filtered) {
  TDataSet::SetFiltered(filtered);
  if (!Active()) return;
  CheckBrowseMode();
  ApplyEngineFilter();
  First();
}

void TIsamDataSet::ApplyEngineFilter() {
  if (!Filtered()) return;
  bool optimised = IsamTableOptions.IsamOptimizedFilters;
  if (!Filter.empty()) {
    Check(optimised ? IsamSetOptFilter(order_, Filter.c_str(),
                                       IsamTableOptions.IsamOptFilterResolveImmediate ? 1 : 2)
                    : IsamSetFilter(order_, Filter.c_str()));
    return;
  }
  IsamResult rc = optimised ? IsamClearOptFilter(order_) : IsamClearFilter(order_);
  if (rc != ISAM_ERR_NO_FILTER) Check(rc);
}

// ---- open and close ----

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
      Check(IsamCacheRecords(
          handle_, IsamTableOptions.IsamRecordCache == TIsamRecordCache::rcNone ? 0 : 100));
    }
    uint32_t bookmark = 0;
    Check(IsamGetBookmarkLength(handle_, &bookmark));
    record_.assign(record_length_, 0);
    BuildFields();
    SelectOrder();
    SetState(TDataSetState::dsBrowse);
    range_set_ = false;
    applied_start_ = applied_end_ = KeyBuffer{};
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
  ClearMadeFields();
  record_.clear();
  edit_.clear();
  old_record_.clear();
  has_record_ = false;
  range_set_ = false;
  if (handle_) IsamCloseTable(handle_);  // a failure here is not worth an error
  handle_ = order_ = 0;
  can_modify_ = false;
}

// ---- reading ----

const uint8_t* TIsamDataSet::ReadBuffer() const {
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
  record_.swap(candidate_);
  Check(IsamGetRecordNum(order_, kRecordNumberPhysical, &recno_));
  has_record_ = true;
  return true;
}

void TIsamDataSet::AfterMove() {
  Fire(AfterScroll);
  NotifyRecordChanged();
}

void TIsamDataSet::First() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  Check(IsamGotoTop(order_));
  Check(IsamSkip(order_, -1));
  bool found = ReadToward(1);
  if (!found) has_record_ = false;
  SetBof(true);
  SetEof(!found);
  AfterMove();
}

void TIsamDataSet::Next() {
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
  CheckBrowseMode();
  if (Bof()) return;
  Fire(BeforeScroll);
  // At the end the engine stands past the last record; the move back starts from the current one.
  if (Eof() && has_record_) Check(IsamGotoRecord(handle_, recno_));
  Check(IsamSkip(order_, -1));
  if (ReadToward(-1)) {
    SetEof(false);
  } else {
    SetBof(true);
  }
  AfterMove();
}

int TIsamDataSet::RecordCount() {
  if (!Active()) return 0;
  uint32_t count = 0;
  uint16_t option = IsamTableOptions.CountOption();
  IsamHandle counted = order_;
  if ((option & 3) == 1 && order_ != handle_ && !range_set_) counted = handle_;
  Check(IsamGetRecordCount(counted, option, &count));
  return static_cast<int>(count);
}

int64_t TIsamDataSet::RecNo() {
  if (!has_record_) return 0;
  if (order_ == handle_ || !Sequenced) return recno_;
  uint32_t count = 0;
  Check(IsamGetRecordCount(order_, 2, &count));
  double position = 0;
  IsamResult rc = IsamGetRelKeyPos(order_, &position);
  if (rc != ISAM_ERR_NO_KEY_POSITION) Check(rc);
  return static_cast<int64_t>(count * position);
}

void TIsamDataSet::SettleAround() {
  // The engine stands on the record to settle around.
  if (EngineVisible()) {
    candidate_.resize(record_length_);
    uint32_t length = record_length_;
    Check(IsamGetRecord(order_, candidate_.data(), &length));
    if (Accept()) {
      record_.swap(candidate_);
      Check(IsamGetRecordNum(order_, kRecordNumberPhysical, &recno_));
      has_record_ = true;
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

// ---- master-detail ranges ----

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

void TIsamDataSet::MasterChanged() {
  CheckBrowseMode();
  std::vector<TField*> master = MasterFieldList();
  if (master.empty()) {
    MasterDisabled();
    return;
  }
  std::string master_key = MasterKeyOf(master);
  if (range_set_ && !master_key.empty() && master_key == applied_master_key_) {
    if (Scoped) LayerError("Cannot set range on table when there is an active scope.");
    return;  // the same range as applied: the detail keeps its current record
  }
  ResetKey(range_start_);
  for (size_t i = 0; i < master.size() && i < segments_.size(); ++i) {
    TField& detail_field = FieldByName(segments_[i].name);
    AssignKeyField(range_start_, detail_field, *master[i]);
  }
  range_start_.count = static_cast<int>(master.size());
  range_end_ = range_start_;
  if (Scoped) LayerError("Cannot set range on table when there is an active scope.");
  if (range_set_ && range_start_ == applied_start_ && range_end_ == applied_end_) {
    applied_master_key_ = master_key;
    return;
  }
  applied_master_key_.clear();  // until the new range is applied
  std::vector<uint8_t> top = BuildRawKey(range_start_, true);
  Check(IsamSetScope(order_, ISAM_SCOPE_TOP, top.data(), static_cast<uint16_t>(top.size()), 1));
  // The end buffer is a copy of the start, so it builds the same key.
  std::vector<uint8_t> bottom = range_end_ == range_start_ ? top : BuildRawKey(range_end_, true);
  Check(IsamSetScope(order_, ISAM_SCOPE_BOTTOM, bottom.data(), static_cast<uint16_t>(bottom.size()),
                     1));
  applied_start_ = range_start_;
  applied_end_ = range_end_;
  applied_master_key_ = master_key;
  range_set_ = true;
  First();
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
  CheckBrowseMode();
  if (range_set_) {
    Check(IsamClearAllScopes(handle_));
    uint16_t eof = 0, bof = 0;
    Check(IsamAtEOF(order_, &eof));
    Check(IsamAtBOF(order_, &bof));
    if (eof && bof) Check(IsamGotoTop(order_));
    range_set_ = false;
    applied_start_ = applied_end_ = KeyBuffer{};
    applied_master_key_.clear();
  }
  First();
}

// ---- changes ----

void TIsamDataSet::ReadCurrentFromEngine() {
  Check(IsamGotoRecord(handle_, recno_));
  uint32_t length = record_length_;
  record_.resize(record_length_);
  Check(IsamGetRecord(handle_, record_.data(), &length));
}

void TIsamDataSet::Edit() {
  if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) return;
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
  } else {
    Check(IsamGotoRecord(handle_, edited_recno_));
  }
  const std::vector<TField*>& fields = Fields();
  for (size_t i = fields.size(); i-- > 0;) {
    TField& f = *fields[i];
    if (!f.Changed() || f.FieldNo() == 0) continue;
    const TField::EngineField& e = f.Engine();
    uint16_t number = e.number;
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
  Check(IsamGetRecordNum(handle_, kRecordNumberPhysical, &recno_));
  if (!inserting && !ExclusiveOpen()) IsamUnlockRecord(handle_, edited_recno_);
  SetState(TDataSetState::dsBrowse);
  new_record_ = false;
  edited_recno_ = 0;
  for (TField* f : Fields()) f->SetChanged(false);
  has_record_ = true;
  SettleAround();
  Fire(AfterPost);
  NotifyRecordChanged();
}

void TIsamDataSet::Cancel() {
  if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) return;
  Fire(BeforeCancel);
  IsamResult rc = IsamCancelUpdate(handle_);
  if (rc != ISAM_ERR_NO_CURRENT_RECORD && rc != ISAM_ERR_NO_UPDATE_PENDING) Check(rc);
  bool inserting = State() == TDataSetState::dsInsert;
  SetState(TDataSetState::dsBrowse);
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
    if (IsamGotoRecord(handle_, edited_recno_) == ISAM_SUCCESS) {
      uint32_t length = record_length_;
      Check(IsamGetRecord(handle_, record_.data(), &length));
    }
    if (!ExclusiveOpen()) IsamUnlockRecord(handle_, edited_recno_);
    edited_recno_ = 0;
  }
  Fire(AfterCancel);
  NotifyRecordChanged();
}

bool TIsamDataSet::FindKey(const std::vector<std::string>& values) {
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
  Check(IsamSeek(order_, key.data(), static_cast<uint16_t>(key.size()), 1, 2, &found));
  if (found) {
    SettleAround();
    AfterMove();
    return true;
  }
  if (!has_record_) return false;
  if (was_eof) {
    Check(IsamGotoBottom(order_));
    ReadToward(-1);
    SetEof(true);
  } else if (was_bof) {
    First();
  } else if (IsamGotoRecord(handle_, was_on) == ISAM_SUCCESS) {
    SettleAround();
  } else {
    Check(IsamGotoBottom(order_));
    ReadToward(-1);
  }
  return false;
}

// ---- TIsamTable ----

TIsamTable::TIsamTable(TComponent* owner, const std::string& name)
    : TIsamExtendedDataSet(owner, name) {}

void TIsamTable::SetTableName(const std::string& name) {
  CheckInactive();
  table_name_ = name;
}

void TIsamTable::SetTableType(TTableType type) {
  CheckInactive();
  table_type_ = type;
}

void TIsamTable::SetIndexCollationMismatch(TIndexCollationMismatch value) {
  CheckInactive();
  collation_ = value;
}

void TIsamTable::SetDatabaseName(const std::string& name) {
  TIsamDataSet::SetDatabaseName(name);
}

std::string TIsamTable::TablePath() const {
  if (DictionaryConnection()) return table_name_;
  return DatabasePath() + "\\" + table_name_;
}

IsamHandle TIsamTable::OpenCursor(IsamHandle connection) {
  if (table_name_.empty()) LayerError("Missing TableName property");
  uint32_t mode = (Exclusive ? 1u : 0u) | (ReadOnly ? 2u : 0u);
  if (IsamConnection() && IsamConnection()->ReadOnly) {
    mode |= 2;
    ReadOnly = true;
  }
  if (collation_ == TIndexCollationMismatch::icmIgnore) mode |= 512;
  if (collation_ == TIndexCollationMismatch::icmReindex) mode |= 256;
  if (DatabasePath().empty()) {
    LayerError(
        "One of the DatabaseName property or the IsamConnection property must have a value.");
  }
  uint16_t table_type = table_type_ == TTableType::ttIsamCDX   ? 2
                        : table_type_ == TTableType::ttIsamNTX ? 1
                                                               : 3;
  if (DictionaryConnection()) table_type = 0;
  IsamHandle table = 0;
  Check(IsamOpenTable(connection, TablePath().c_str(), nullptr, table_type,
                      IsamTableOptions.CharTypeValue(), IsamTableOptions.LockTypeValue(),
                      IsamTableOptions.RightsValue(), mode, &table));
  read_only_ = ReadOnly;
  return table;
}

}  // namespace data
