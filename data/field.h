// Fields of a dataset: typed views of one value of the current record. A field is declared in
// advance (bound to the table's field of the same name when the dataset opens) or made from the
// table. Reads follow the engine's stored forms; writes turn the value into its stored form and
// mark the field changed.
#ifndef RIVENOAK_DATA_FIELD_H_
#define RIVENOAK_DATA_FIELD_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "data/date_time.h"
#include "data/money.h"

namespace data {

class TDataSet;

enum class TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftDate,
  ftTime,
  ftDateTime,
  ftAutoInc,
  ftMemo,
  ftBlob,
  ftBytes
};

// "String", "Integer", ... as the type-mismatch text names them.
const char* FieldTypeName(TFieldType type);
// The field kind of an engine field type; ftUnknown for types left out of datasets.
TFieldType FieldTypeOfEngine(uint16_t engine_type, uint32_t length, uint16_t decimals);

class TField {
 public:
  TField(TFieldType type, std::string name, int size = 0)
      : type_(type), name_(std::move(name)), size_(size) {}
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  TDataSet* DataSet() const { return dataset_; }
  uint16_t FieldNo() const { return field_no_; }
  bool Changed() const { return changed_; }

  bool IsNull() const;
  std::string AsString() const;
  double AsFloat() const;
  Money AsCurrency() const;
  int32_t AsInteger() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  void SetAsString(const std::string& value);
  void SetAsFloat(double value);
  void SetAsCurrency(Money value);
  void SetAsInteger(int32_t value);
  void SetAsBoolean(bool value);
  void SetAsDateTime(TDateTime value);
  void Clear();

  // ---- used by the dataset ----
  struct EngineField {
    uint16_t number = 0;  // from 1
    uint16_t type = 0;
    uint32_t length = 0;
    uint16_t decimals = 0;
    uint32_t offset = 0;
  };
  void Bind(TDataSet* dataset, const EngineField& engine);
  void Unbind();
  const EngineField& Engine() const { return engine_; }
  void SetChanged(bool changed) { changed_ = changed; }
  // The value's bytes as the active record buffer holds them; an empty view for no value.
  std::string_view Stored() const;
  void AttachTo(TDataSet* dataset) { dataset_ = dataset; }

 private:
  const uint8_t* Data() const;  // the value's bytes in the dataset's active buffer, or null
  uint8_t* WritableData();      // checks the state and permissions first
  std::string RawText() const;
  void WriteRaw(const void* bytes, size_t size);
  void WriteText(const std::string& text);
  [[noreturn]] void ConversionError(const std::string& what) const;
  // " (<table file>, record <n>, field "<name>")", for a message about the stored value.
  std::string PlaceForErrors() const;

  TFieldType type_;
  std::string name_;
  int size_;
  TDataSet* dataset_ = nullptr;
  uint16_t field_no_ = 0;
  EngineField engine_;
  bool changed_ = false;
};

class TStringField : public TField {
 public:
  explicit TStringField(std::string name, int size = 20)
      : TField(TFieldType::ftString, std::move(name), size) {}
};
class TIntegerField : public TField {
 public:
  explicit TIntegerField(std::string name) : TField(TFieldType::ftInteger, std::move(name)) {}
};
class TAutoIncField : public TField {
 public:
  explicit TAutoIncField(std::string name) : TField(TFieldType::ftAutoInc, std::move(name)) {}
};
class TFloatField : public TField {
 public:
  explicit TFloatField(std::string name) : TField(TFieldType::ftFloat, std::move(name)) {}
};
class TCurrencyField : public TField {
 public:
  explicit TCurrencyField(std::string name) : TField(TFieldType::ftCurrency, std::move(name)) {}
};
class TDateField : public TField {
 public:
  explicit TDateField(std::string name) : TField(TFieldType::ftDate, std::move(name)) {}
};
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(std::string name) : TField(TFieldType::ftDateTime, std::move(name)) {}
};

}  // namespace data

#endif  // RIVENOAK_DATA_FIELD_H_
