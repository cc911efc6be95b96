// TIsamQuery: one SQL statement of a connection, presented as a dataset. Its parameters are
// written in the text as a colon and a (quoted) name and bound by position; a SELECT gives a
// cursor that reads, moves and serves as a master like a table. The statement handle lives on
// from one open to the next.
#ifndef RIVENOAK_DATA_ISAM_QUERY_H_
#define RIVENOAK_DATA_ISAM_QUERY_H_

#include <memory>
#include <string>
#include <vector>

#include "data/isam_dataset.h"

namespace data {

class TParam {
 public:
  explicit TParam(std::string name = "", TFieldType type = TFieldType::ftUnknown)
      : name_(std::move(name)), type_(type) {}

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return type_; }
  void SetDataType(TFieldType type) { type_ = type; }
  bool IsNull() const { return null_; }

  void SetAsString(const std::string& value);
  void SetAsFloat(double value);
  void SetAsCurrency(Money value);
  void SetAsInteger(int32_t value);
  void SetAsBoolean(bool value);
  void SetAsDate(TDateTime value);
  void SetAsDateTime(TDateTime value);
  void Clear();

  const std::string& AsString() const { return text_; }
  double AsFloat() const { return number_; }
  bool AsBoolean() const { return number_ != 0; }

 private:
  // The declared type stays; an undeclared one comes from the value.
  void Take(TFieldType value_type);

  std::string name_;
  TFieldType type_;
  bool null_ = true;
  std::string text_;
  double number_ = 0;
};

class TIsamQuery : public TIsamExtendedDataSet {
 public:
  explicit TIsamQuery(TComponent* owner = nullptr, const std::string& name = "");
  ~TIsamQuery() override;

  // The statement's lines; its text is the lines joined with line breaks.
  const std::vector<std::string>& SQL() const { return sql_; }
  void SetSQL(const std::vector<std::string>& lines);
  std::string SQLText() const;

  std::vector<TParam>& Params() { return params_; }
  TParam& ParamByName(const std::string& name);
  bool ParamCheck = true;
  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* source);
  bool ReadAllColumns() const { return read_all_columns_; }
  void SetReadAllColumns(bool value);
  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool value);
  bool Constrained() const { return constrained_; }
  void SetConstrained(bool value);
  TTableType SourceTableType = TTableType::ttIsamNative;
  void SetDatabaseName(const std::string& name) override;

  // Runs a statement that gives no cursor.
  void ExecSQL();
  // Rows the engine reported for the last execution, -1 without a count.
  int RowsAffected() const { return rows_affected_; }
  IsamHandle StatementHandle() const { return statement_; }
  bool Prepared() const { return prepared_; }

  void ReleaseStatementHandles() override;

 protected:
  IsamHandle OpenCursor(IsamHandle connection) override;
  void InternalClose() override;

 private:
  class SourceLink;
  void EnsureStatement(IsamHandle connection);
  void CloseStatement();
  void PrepareAndBind();
  void BindParameter(uint16_t position, const TParam& param);
  IsamResult Execute(IsamHandle* cursor);

  std::vector<std::string> sql_;
  std::vector<TParam> params_;
  TDataSource* data_source_ = nullptr;
  std::unique_ptr<SourceLink> source_link_;
  bool read_all_columns_ = false;
  bool request_live_ = false;
  bool constrained_ = false;
  IsamHandle statement_ = 0;
  bool prepared_ = false;
  int rows_affected_ = -1;
};

}  // namespace data

#endif  // RIVENOAK_DATA_ISAM_QUERY_H_
