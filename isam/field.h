// Fields of a table: what a declared column type means (type code, length, decimals) and the
// conversions between a field's three forms: the value stored in the file (Value), its raw form
// in record images and keys, and its text form.
#ifndef RIVENOAK_ISAM_FIELD_H_
#define RIVENOAK_ISAM_FIELD_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <optional>
#include <string>

#include "common/calendar.h"
#include "isam/value.h"

namespace isam {

// The engine's dates are those of the calendar the layers above share.
using common::CivilDate;
using common::CivilFromJulian;
using common::DateFormat;
using common::IsValidCivil;
using common::JulianFromCivil;
using common::kMillisecondsPerDay;
using common::ParseStoredDate;
using common::ParseStoredTimestamp;
using common::ParseTimeOfDay;
using common::StoredDateText;
using common::StoredTimestampText;
using common::TimeOfDayText;

struct FieldDef {
  std::string name;      // as in the file (UTF-8)
  std::string declared;  // the declared type, as in the file
  uint16_t type = 0;     // ISAM_LOGICAL, ISAM_TEXT, ...
  uint32_t length = 0;   // bytes in a record image
  uint16_t decimals = 0;
  uint32_t offset = 0;  // of the data in a record image
};

// Fills type, length and decimals from the declared type; false when the engine does not know it.
bool ParseDeclaredType(const std::string& declared, FieldDef* field);

// The declared type to write for a field definition text ("CHAR(8)", "char ( 8 )"); the same
// text, normalised, or empty when unknown.
std::string NormalisedDeclaredType(const std::string& declared);

// Whether a stored value is the field's empty value: NULL, or for a text one of blanks only
// (which other programs may store; the engine stores NULL).
bool IsEmptyStored(const FieldDef& field, const Value& stored);

// Raw form (field.length bytes at data) from a stored value; false when the stored value cannot
// be shown in that form (the data is then filled as for an empty value).
bool RawFromStored(const FieldDef& field, const Value& stored, uint8_t* data);

// Stored value from the raw form; throws ISAM_ERR_INVALID_VALUE naming the field when the raw
// form holds no valid value. `table` names the table in the text.
Value StoredFromRaw(const FieldDef& field, const uint8_t* data, uint32_t size,
                    const std::string& table);

// Text form of a stored value (empty text for NULL), dates in `format`.
std::string TextFromStored(const FieldDef& field, const Value& stored, const DateFormat& format,
                           uint16_t decimals);

// Stored value from a text form; throws ISAM_ERR_VALUE_TOO_LONG or ISAM_ERR_INVALID_VALUE.
Value StoredFromText(const FieldDef& field, const std::string& text, const DateFormat& format,
                     const std::string& table);

// Shortest decimal text in plain notation (no exponent) that reads back as the same double:
// 0.0001, 1000000000000000000000.
std::string ShortestNumberText(double v);

// The stored value's own text (UTF-8): a number in its shortest plain form, a text as stored,
// empty for NULL.
std::string StoredValueText(const Value& stored);

// Whether an AUTOINC or other value fits the field's integer range.
bool FitsInteger(const FieldDef& field, int64_t v);

}  // namespace isam

#endif  // RIVENOAK_ISAM_FIELD_H_
