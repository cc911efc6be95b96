#include "data/field.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "common/calendar.h"
#include "common/text.h"
#include "data/dataset.h"
#include "isam/isam.h"

namespace data {
namespace {

constexpr int32_t kJulianOfDayOne =
    kJulianOfDayZero - kDateDelta;  // the engine's Julian day before 1 January of year 1

template <typename T>
T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::string FloatToStr(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

}  // namespace

const char* FieldTypeName(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
      return "String";
    case TFieldType::ftSmallint:
      return "Smallint";
    case TFieldType::ftInteger:
      return "Integer";
    case TFieldType::ftBoolean:
      return "Boolean";
    case TFieldType::ftFloat:
      return "Float";
    case TFieldType::ftCurrency:
      return "Currency";
    case TFieldType::ftDate:
      return "Date";
    case TFieldType::ftTime:
      return "Time";
    case TFieldType::ftDateTime:
      return "DateTime";
    case TFieldType::ftAutoInc:
      return "AutoInc";
    case TFieldType::ftMemo:
      return "Memo";
    case TFieldType::ftBlob:
      return "Blob";
    case TFieldType::ftBytes:
      return "Bytes";
    default:
      return "Unknown";
  }
}

TFieldType FieldTypeOfEngine(uint16_t engine_type, uint32_t length, uint16_t decimals) {
  switch (engine_type) {
    case ISAM_LOGICAL:
      return TFieldType::ftBoolean;
    case ISAM_NUMERIC:
      return decimals > 0 || length > 4 ? TFieldType::ftFloat : TFieldType::ftSmallint;
    case ISAM_DATE:
    case ISAM_COMPACT_DATE:
      return TFieldType::ftDate;
    case ISAM_TEXT:
      return TFieldType::ftString;
    case ISAM_MEMO:
    case ISAM_VARCHAR:
      return TFieldType::ftMemo;
    case ISAM_BINARY:
    case ISAM_IMAGE:
      return TFieldType::ftBlob;
    case ISAM_DOUBLE:
      return TFieldType::ftFloat;
    case ISAM_INTEGER:
      return TFieldType::ftInteger;
    case ISAM_SHORTINT:
      return TFieldType::ftSmallint;
    case ISAM_TIME:
      return TFieldType::ftTime;
    case ISAM_TIMESTAMP:
      return TFieldType::ftDateTime;
    case ISAM_AUTOINC:
      return TFieldType::ftAutoInc;
    case ISAM_RAW:
      return TFieldType::ftBytes;
    case ISAM_MONEY:
      return TFieldType::ftCurrency;
    default:
      return TFieldType::ftUnknown;
  }
}

void TField::Bind(TDataSet* dataset, const EngineField& engine) {
  dataset_ = dataset;
  engine_ = engine;
  field_no_ = engine.number;
  if (size_ == 0 && type_ == TFieldType::ftString) size_ = static_cast<int>(engine.length);
  changed_ = false;
}

void TField::Unbind() {
  engine_ = EngineField{};
  field_no_ = 0;
  changed_ = false;
}

const uint8_t* TField::Data() const {
  if (!dataset_ || field_no_ == 0) return nullptr;
  const uint8_t* buffer = dataset_->ReadBuffer();
  if (!buffer || buffer[field_no_ - 1u]) return nullptr;  // no record, or the empty mark
  return buffer + engine_.offset;
}

std::string_view TField::Stored() const {
  const uint8_t* p = Data();
  return p ? std::string_view(reinterpret_cast<const char*>(p), engine_.length)
           : std::string_view();
}

bool TField::IsNull() const {
  return Data() == nullptr;
}

std::string TField::RawText() const {
  const uint8_t* p = Data();
  if (!p) return "";
  std::string text(reinterpret_cast<const char*>(p), engine_.length);
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? "" : text.substr(0, end + 1);
}

std::string TField::PlaceForErrors() const {
  std::string where = dataset_ ? dataset_->RecordForErrors() : "";
  return " (" + (where.empty() ? "" : where + ", ") + "field \"" + name_ + "\")";
}

void TField::ConversionError(const std::string& what) const {
  dataset_->DatabaseError(what);
}

double TField::AsFloat() const {
  const uint8_t* p = Data();
  if (!p) return 0;
  switch (engine_.type) {
    case ISAM_LOGICAL:
      return AsBoolean() ? 1 : 0;
    case ISAM_NUMERIC:
      return common::ParseDouble(RawText()).value_or(0);
    case ISAM_DOUBLE:
    case ISAM_MONEY:
      return Load<double>(p);
    case ISAM_INTEGER:
    case ISAM_AUTOINC:
      return Load<int32_t>(p);
    case ISAM_SHORTINT:
      return Load<int16_t>(p);
    case ISAM_DATE:
    case ISAM_TIME:
    case ISAM_TIMESTAMP:
      return AsDateTime();
    default: {
      auto v = common::ParseDouble(RawText());
      if (!v) {
        throw EConvertError("'" + RawText() + "' is not a valid floating point value" +
                            PlaceForErrors());
      }
      return *v;
    }
  }
}

Money TField::AsCurrency() const {
  double value = AsFloat();
  try {
    return Money::FromDouble(value);
  } catch (const Exception& e) {
    throw Exception(e.what() + PlaceForErrors());
  }
}

int32_t TField::AsInteger() const {
  const uint8_t* p = Data();
  if (!p) return 0;
  switch (engine_.type) {
    case ISAM_INTEGER:
    case ISAM_AUTOINC:
    case ISAM_TIME:
      return Load<int32_t>(p);
    case ISAM_SHORTINT:
      return Load<int16_t>(p);
    case ISAM_TEXT:
    case ISAM_MEMO: {
      std::string text = RawText();
      int32_t v = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec != std::errc() || end != text.data() + text.size()) {
        throw EConvertError("'" + text + "' is not a valid integer value" + PlaceForErrors());
      }
      return v;
    }
    default:
      return static_cast<int32_t>(std::nearbyint(AsFloat()));
  }
}

bool TField::AsBoolean() const {
  const uint8_t* p = Data();
  if (!p) return false;
  if (engine_.type == ISAM_LOGICAL) return std::strchr("1TYty", p[0]) != nullptr && p[0];
  return AsFloat() != 0;
}

TDateTime TField::AsDateTime() const {
  const uint8_t* p = Data();
  if (!p) return 0;
  switch (engine_.type) {
    case ISAM_DATE:
      return DateFromJulian(Load<int32_t>(p));
    case ISAM_TIME:
      return Load<int32_t>(p) / double{common::kMillisecondsPerDay};
    case ISAM_TIMESTAMP: {
      int64_t ms =
          (static_cast<int64_t>(Load<int32_t>(p)) - kJulianOfDayOne) * common::kMillisecondsPerDay +
          Load<int32_t>(p + 4);
      if (ms < 0) ms = 0;
      return static_cast<double>(ms) / common::kMillisecondsPerDay - kDateDelta;
    }
    case ISAM_TEXT:
      return StrToDate(RawText());
    default:
      return AsFloat();
  }
}

std::string TField::AsString() const {
  const uint8_t* p = Data();
  if (!p) return "";
  switch (engine_.type) {
    case ISAM_TEXT:
      return RawText();
    case ISAM_MEMO:
      return RawText();
    case ISAM_LOGICAL:
      return AsBoolean() ? "True" : "False";
    case ISAM_NUMERIC:
      if (type_ == TFieldType::ftSmallint) return std::to_string(AsInteger());
      return FloatToStr(AsFloat());
    case ISAM_DOUBLE:
      return FloatToStr(AsFloat());
    case ISAM_MONEY:
      return AsCurrency().ToString();
    case ISAM_DATE:
      return DateToStr(AsDateTime());
    case ISAM_TIMESTAMP:
      return DateTimeToStr(AsDateTime());
    default:
      return std::to_string(AsInteger());
  }
}

uint8_t* TField::WritableData() {
  if (!dataset_ || field_no_ == 0) {
    throw EDatabaseError("Field '" + name_ + "' is not bound to an open dataset");
  }
  return dataset_->WriteBuffer(*this);
}

void TField::WriteRaw(const void* bytes, size_t size) {
  uint8_t* buffer = WritableData();
  buffer[field_no_ - 1u] = 0;
  std::memset(buffer + engine_.offset,
              engine_.type == ISAM_TEXT || engine_.type == ISAM_NUMERIC ? ' ' : 0, engine_.length);
  std::memcpy(buffer + engine_.offset, bytes, std::min<size_t>(size, engine_.length));
  changed_ = true;
  dataset_->FieldWritten(*this);
}

void TField::WriteText(const std::string& text) {
  WriteRaw(text.data(), text.size());
}

void TField::Clear() {
  uint8_t* buffer = WritableData();
  buffer[field_no_ - 1u] = 1;
  std::memset(buffer + engine_.offset,
              engine_.type == ISAM_TEXT || engine_.type == ISAM_NUMERIC ? ' ' : 0, engine_.length);
  changed_ = true;
  dataset_->FieldWritten(*this);
}

void TField::SetAsFloat(double value) {
  switch (engine_.type) {
    case ISAM_NUMERIC: {
      // The stored text: the field's decimals, right-aligned in the field's width.
      char buf[400];
      int n;
      if (type_ == TFieldType::ftSmallint) {
        n = std::snprintf(buf, sizeof buf, "%.0f", std::nearbyint(value));
      } else {
        n = std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(engine_.decimals), value);
      }
      if (n < 0 || static_cast<uint32_t>(n) > engine_.length || std::strchr(buf, 'e') ||
          !std::isfinite(value)) {
        dataset_->DatabaseError("Numeric out of range.");
      }
      std::string text(engine_.length - static_cast<uint32_t>(n), ' ');
      WriteText(text + buf);
      return;
    }
    case ISAM_DOUBLE:
    case ISAM_MONEY:
      WriteRaw(&value, sizeof value);
      return;
    case ISAM_INTEGER:
    case ISAM_AUTOINC:
    case ISAM_SHORTINT:
    case ISAM_LOGICAL:
      SetAsInteger(static_cast<int32_t>(std::nearbyint(value)));
      return;
    case ISAM_DATE:
    case ISAM_TIME:
    case ISAM_TIMESTAMP:
      SetAsDateTime(value);
      return;
    default:
      WriteText(FloatToStr(value));
      return;
  }
}

void TField::SetAsCurrency(Money value) {
  SetAsFloat(value.ToDouble());
}

void TField::SetAsInteger(int32_t value) {
  switch (engine_.type) {
    case ISAM_INTEGER:
    case ISAM_AUTOINC:
    case ISAM_TIME:
      WriteRaw(&value, sizeof value);
      return;
    case ISAM_SHORTINT: {
      if (value < INT16_MIN || value > INT16_MAX) dataset_->DatabaseError("Numeric out of range.");
      auto v = static_cast<int16_t>(value);
      WriteRaw(&v, sizeof v);
      return;
    }
    case ISAM_LOGICAL:
      SetAsBoolean(value != 0);
      return;
    case ISAM_TEXT:
    case ISAM_MEMO:
      WriteText(std::to_string(value));
      return;
    default:
      SetAsFloat(value);
      return;
  }
}

void TField::SetAsBoolean(bool value) {
  if (engine_.type == ISAM_LOGICAL) {
    char c = value ? 'T' : 'F';
    WriteRaw(&c, 1);
    return;
  }
  if (engine_.type == ISAM_TEXT) {
    WriteText(value ? "True" : "False");
    return;
  }
  SetAsInteger(value ? 1 : 0);
}

void TField::SetAsDateTime(TDateTime value) {
  switch (engine_.type) {
    case ISAM_DATE: {
      int32_t julian = JulianFromDate(value);
      WriteRaw(&julian, sizeof julian);
      return;
    }
    case ISAM_TIME: {
      double fraction = value - std::floor(value);
      auto ms = static_cast<int32_t>(std::llround(fraction * common::kMillisecondsPerDay)) %
                common::kMillisecondsPerDay;
      WriteRaw(&ms, sizeof ms);
      return;
    }
    case ISAM_TIMESTAMP: {
      auto total =
          static_cast<int64_t>(std::llround((value + kDateDelta) * common::kMillisecondsPerDay));
      int32_t parts[2] = {
          static_cast<int32_t>(total / common::kMillisecondsPerDay + kJulianOfDayOne),
          static_cast<int32_t>(total % common::kMillisecondsPerDay)};
      WriteRaw(parts, sizeof parts);
      return;
    }
    case ISAM_TEXT:
      WriteText(DateToStr(value));
      return;
    default:
      SetAsFloat(value);
      return;
  }
}

void TField::SetAsString(const std::string& value) {
  switch (engine_.type) {
    case ISAM_TEXT:
    case ISAM_MEMO:
      WriteText(value);
      return;
    case ISAM_LOGICAL: {
      char c = !value.empty() && std::strchr("TtYy1", value[0]) ? 'T' : 'F';
      if (value.empty()) {
        Clear();
        return;
      }
      WriteRaw(&c, 1);
      return;
    }
    case ISAM_DATE:
    case ISAM_TIMESTAMP:
      if (value.empty()) {
        Clear();
        return;
      }
      SetAsDateTime(StrToDate(value));
      return;
    default: {
      if (value.find_first_not_of(' ') == std::string::npos) {
        Clear();
        return;
      }
      auto v = common::ParseDouble(value);
      if (!v) throw EConvertError("'" + value + "' is not a valid floating point value");
      SetAsFloat(*v);
      return;
    }
  }
}

}  // namespace data
