#include "data/isam_query.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/calendar.h"
#include "data/engine_call.h"

namespace data {
namespace {

std::vector<std::string> SplitParameterNames(const std::string& joined, uint16_t count) {
  std::vector<std::string> names;
  size_t pos = 0;
  for (uint16_t i = 0; i < count; ++i) {
    size_t semi = joined.find(';', pos);
    names.push_back(joined.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos));
    pos = semi == std::string::npos ? joined.size() : semi + 1;
  }
  return names;
}

}  // namespace

void TParam::Take(TFieldType value_type) {
  if (type_ == TFieldType::ftUnknown) type_ = value_type;
  null_ = false;
}

void TParam::SetAsString(const std::string& value) {
  TFieldType declared = type_;
  text_ = value;
  Take(TFieldType::ftString);
  if (value.empty()) {
    null_ = true;
    return;
  }
  // A declared type reads the text as its own kind of value.
  switch (declared) {
    case TFieldType::ftDate:
    case TFieldType::ftDateTime:
      number_ = StrToDate(value);
      break;
    case TFieldType::ftBoolean:
      number_ = std::strchr("TtYy1", value[0]) != nullptr ? 1 : 0;
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftInteger:
    case TFieldType::ftSmallint: {
      char* end = nullptr;
      number_ = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0') {
        throw EConvertError("'" + value + "' is not a valid floating point value");
      }
      break;
    }
    default:
      break;
  }
}

void TParam::SetAsFloat(double value) {
  number_ = value;
  text_ = std::to_string(value);
  Take(TFieldType::ftFloat);
}

void TParam::SetAsCurrency(Money value) {
  SetAsFloat(value.ToDouble());
  if (type_ == TFieldType::ftFloat) type_ = TFieldType::ftCurrency;
}

void TParam::SetAsInteger(int32_t value) {
  number_ = value;
  text_ = std::to_string(value);
  Take(TFieldType::ftInteger);
}

void TParam::SetAsBoolean(bool value) {
  number_ = value ? 1 : 0;
  text_ = value ? "True" : "False";
  Take(TFieldType::ftBoolean);
}

void TParam::SetAsDate(TDateTime value) {
  number_ = value;
  text_ = DateToStr(value);
  Take(TFieldType::ftDate);
}

void TParam::SetAsDateTime(TDateTime value) {
  number_ = value;
  text_ = DateTimeToStr(value);
  Take(TFieldType::ftDateTime);
}

void TParam::Clear() {
  null_ = true;
  text_.clear();
  number_ = 0;
}

// Re-runs the query when the dataset of its data source opens or moves.
class TIsamQuery::SourceLink : public TDataLink {
 public:
  explicit SourceLink(TIsamQuery* query) : query_(query) {}
  void ActiveChanged(bool active) override {
    if (active) Rerun();
  }
  void RecordChanged() override { Rerun(); }
  void SourceGone() override { query_->data_source_ = nullptr; }

 private:
  void Rerun() {
    if (!query_->Active() || query_->State() == TDataSetState::dsSetKey) return;
    query_->Close();
    query_->Open();
  }
  TIsamQuery* query_;
};

TIsamQuery::TIsamQuery(TComponent* owner, const std::string& name)
    : TIsamExtendedDataSet(owner, name) {}

TIsamQuery::~TIsamQuery() {
  try {
    Close();
  } catch (const Exception&) {
  }
  SetDataSource(nullptr);
  CloseStatement();
}

std::string TIsamQuery::SQLText() const {
  std::string text;
  for (size_t i = 0; i < sql_.size(); ++i) text += (i ? "\n" : "") + sql_[i];
  return text;
}

void TIsamQuery::SetSQL(const std::vector<std::string>& lines) {
  if (lines != sql_) {
    Close();
    prepared_ = false;
    sql_ = lines;
  }
  std::string text = SQLText();
  uint16_t count = 0;
  std::vector<char> names(65535);
  uint16_t length = static_cast<uint16_t>(names.size());
  Check(IsamGetSQLStmtParams(statement_, text.c_str(), &count, names.data(), &length));
  if (!ParamCheck) return;
  std::vector<TParam> rebuilt;
  for (const std::string& name : SplitParameterNames(std::string(names.data(), length), count)) {
    TParam param(name);
    for (const TParam& old : params_) {
      if (strcasecmp(old.Name().c_str(), name.c_str()) == 0) param = old;
    }
    rebuilt.push_back(param);
  }
  params_ = std::move(rebuilt);
}

TParam& TIsamQuery::ParamByName(const std::string& name) {
  for (TParam& p : params_) {
    if (strcasecmp(p.Name().c_str(), name.c_str()) == 0) return p;
  }
  DatabaseError("Parameter '" + name + "' not found");
}

void TIsamQuery::SetDataSource(TDataSource* source) {
  if (data_source_ && source_link_) data_source_->RemoveLink(source_link_.get());
  data_source_ = source;
  if (!source) return;
  if (!source_link_) source_link_ = std::make_unique<SourceLink>(this);
  source->AddLink(source_link_.get());
}

void TIsamQuery::SetReadAllColumns(bool value) {
  CheckInactive();
  read_all_columns_ = value;
}

void TIsamQuery::SetRequestLive(bool value) {
  CheckInactive();
  request_live_ = value;
}

void TIsamQuery::SetConstrained(bool value) {
  CheckInactive();
  constrained_ = value;
}

void TIsamQuery::SetDatabaseName(const std::string& name) {
  bool had_folder_connection = !IsamConnection() && !DatabaseName().empty();
  bool changed = strcasecmp(name.c_str(), DatabaseName().c_str()) != 0;
  TIsamDataSet::SetDatabaseName(name);
  if (changed && had_folder_connection) CloseStatement();
}

void TIsamQuery::CloseStatement() {
  if (statement_) {
    IsamResult rc = IsamCloseSQLStatement(statement_);
    (void)rc;  // 5106: it was closed already
  }
  statement_ = 0;
  prepared_ = false;
}

void TIsamQuery::ReleaseStatementHandles() {
  CloseStatement();
}

void TIsamQuery::EnsureStatement(IsamHandle connection) {
  uint16_t type = 0;
  if (statement_ && IsamGetHandleType(statement_, &type) == ISAM_SUCCESS &&
      type == ISAM_HANDLE_STATEMENT) {
    return;
  }
  statement_ = 0;
  if (DatabaseName().empty() && !IsamConnection()) {
    LayerError("The DatabaseName property has not been assigned a value.");
  }
  if (connection == 0) LayerError("Internal Error: invalid connection handle.");
  Check(IsamCreateSQLStatement(connection, &statement_));
}

void TIsamQuery::PrepareAndBind() {
  const TIsamTableOptions& o = IsamTableOptions;
  Check(IsamStmtSetTableLockType(statement_, o.LockTypeValue()));
  Check(IsamStmtSetTableCharType(statement_, o.CharTypeValue()));
  Check(IsamStmtSetTableRights(statement_, o.RightsValue()));
  uint16_t read_only = request_live_ ? ISAM_OPTION_OFF : ISAM_OPTION_ON;
  if (IsamConnection() && IsamConnection()->ReadOnly) read_only = ISAM_OPTION_ON;
  Check(IsamStmtSetTableReadOnly(statement_, read_only));
  uint16_t table_type = SourceTableType == TTableType::ttIsamNative ? ISAM_TABLE_TYPE_NATIVE
                        : SourceTableType == TTableType::ttIsamCDX  ? ISAM_TABLE_TYPE_CDX
                                                                    : ISAM_TABLE_TYPE_NTX;
  Check(IsamStmtSetTableType(statement_, table_type));
  Check(IsamStmtConstrainUpdates(statement_, constrained_ ? ISAM_OPTION_ON : ISAM_OPTION_OFF));
  Check(IsamStmtReadAllColumns(statement_, read_all_columns_ ? ISAM_OPTION_ON : ISAM_OPTION_OFF));
  prepared_ = true;
  rows_affected_ = -1;
  Check(IsamPrepareSQL(statement_, SQLText().c_str()));
  for (size_t i = 0; i < params_.size(); ++i) {
    // A parameter without a value of its own takes, for this run only, the value of the data
    // source's field of the same name.
    TParam bound = params_[i];
    TField* f = bound.IsNull() && data_source_ && data_source_->DataSet()
                    ? data_source_->DataSet()->FindField(bound.Name())
                    : nullptr;
    if (f && !f->IsNull()) bound.SetAsString(f->AsString());
    BindParameter(static_cast<uint16_t>(i + 1), bound);
  }
}

void TIsamQuery::BindParameter(uint16_t position, const TParam& p) {
  if (p.IsNull()) {
    Check(IsamSetEmpty(statement_, position));
    return;
  }
  switch (p.DataType()) {
    case TFieldType::ftUnknown:
      LayerError("The field named: '" + p.Name() +
                 "' has the DataType of ftUnknown, which is invalid.");
    case TFieldType::ftBoolean:
      Check(IsamSetLogical(statement_, position, p.AsBoolean() ? 1 : 0));
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      Check(IsamSetDouble(statement_, position, p.AsFloat()));
      return;
    case TFieldType::ftDate:
      // Whole days; day 0 is Julian day 2415019.
      Check(IsamSetJulian(statement_, position, JulianFromDate(p.AsFloat())));
      return;
    case TFieldType::ftTime: {
      double fraction = p.AsFloat() - std::floor(p.AsFloat());
      Check(IsamSetMilliseconds(
          statement_, position,
          static_cast<int32_t>(std::llround(fraction * common::kMillisecondsPerDay))));
      return;
    }
    case TFieldType::ftDateTime: {
      int32_t raw[2] = {JulianFromDate(p.AsFloat()),
                        static_cast<int32_t>(std::llround((p.AsFloat() - std::floor(p.AsFloat())) *
                                                          common::kMillisecondsPerDay))};
      uint8_t bytes[8];
      std::memcpy(bytes, raw, sizeof bytes);
      Check(IsamSetTimeStampRaw(statement_, position, bytes, sizeof bytes));
      return;
    }
    case TFieldType::ftBytes:
    case TFieldType::ftBlob:
      Check(IsamSetBinary(statement_, position, ISAM_BINARY,
                          reinterpret_cast<const uint8_t*>(p.AsString().data()),
                          static_cast<uint32_t>(p.AsString().size())));
      return;
    default:
      Check(IsamSetString(statement_, position, p.AsString().c_str()));
      return;
  }
}

IsamResult TIsamQuery::Execute(IsamHandle* cursor) {
  IsamResult rc = IsamExecuteSQL(statement_, cursor);
  if (rc != ISAM_SUCCESS) {
    EngineError error = LastEngineError();
    if (error.text.find("7209") != std::string::npos) {
      CloseStatement();
      IsamSetLastError(error.code, error.text.c_str());
    }
  }
  return rc;
}

IsamHandle TIsamQuery::OpenCursor(IsamHandle connection) {
  EnsureStatement(connection);
  PrepareAndBind();
  IsamHandle cursor = 0;
  Check(Execute(&cursor));
  if (cursor == 0) {
    LayerError(
        "The SQL statement did not generate a cursor handle.  Use TIsamQuery.ExecSQL to execute "
        "SQL "
        "statements that are not SELECT statements");
  }
  uint16_t live = 0;
  Check(IsamSqlPeekStatement(cursor, &live));
  read_only_ = live == 0;
  uint32_t rows = 0;
  IsamResult rc = IsamGetRecordCount(statement_, ISAM_COUNT_IGNORE_FILTERS, &rows);
  rows_affected_ = rc == ISAM_SUCCESS ? static_cast<int>(rows) : -1;
  return cursor;
}

void TIsamQuery::InternalClose() {
  TIsamDataSet::InternalClose();
  prepared_ = false;
}

void TIsamQuery::ExecSQL() {
  CheckInactive();
  EnsureStatement(ConnectionHandleForOpen());
  PrepareAndBind();
  IsamHandle cursor = 0;
  Check(Execute(&cursor));
  if (cursor) IsamCloseTable(cursor);
  uint32_t rows = 0;
  rows_affected_ = IsamGetRecordCount(statement_, ISAM_COUNT_IGNORE_FILTERS, &rows) == ISAM_SUCCESS
                       ? static_cast<int>(rows)
                       : -1;
  prepared_ = false;
}

}  // namespace data
