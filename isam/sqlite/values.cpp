// Binding and reading Values through SQLite statements, and SQLite's column affinities.
#include "isam/sqlite/values.h"

#include <cmath>

#include "common/text.h"

namespace isam {

void BindValue(sqlite3_stmt* stmt, int position, const Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) {
    sqlite3_bind_int64(stmt, position, *i);
  } else if (auto* d = std::get_if<double>(&v)) {
    sqlite3_bind_double(stmt, position, *d);
  } else if (auto* s = std::get_if<std::string>(&v)) {
    sqlite3_bind_text(stmt, position, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(stmt, position);
  }
}

void BindConditionValues(sqlite3_stmt* stmt, const std::vector<Value>& values) {
  int count = sqlite3_bind_parameter_count(stmt);
  for (size_t i = 0; i < values.size(); ++i) {
    int position = kConditionParameterBase + static_cast<int>(i);
    if (position <= count) BindValue(stmt, position, values[i]);
  }
}

void ReadColumn(sqlite3_stmt* stmt, int column, Value* out) {
  // One look-up of the column's value serves its type and content. The value is unprotected,
  // which is safe here: the engine's lock keeps every other thread off the connection.
  sqlite3_value* value = sqlite3_column_value(stmt, column);
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      *out = static_cast<int64_t>(sqlite3_value_int64(value));
      return;
    case SQLITE_FLOAT:
      *out = sqlite3_value_double(value);
      return;
    case SQLITE_NULL:
      *out = std::monostate{};
      return;
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      auto size = static_cast<size_t>(sqlite3_value_bytes(value));
      // A text read over a text keeps its storage: no allocation per row.
      if (auto* s = std::get_if<std::string>(out))
        s->assign(text ? text : "", size);
      else
        *out = std::string(text ? text : "", size);
    }
  }
}

Value ColumnValue(sqlite3_stmt* stmt, int column) {
  Value v;
  ReadColumn(stmt, column, &v);
  return v;
}

ColumnAffinity AffinityOf(const std::string& declared) {
  std::string type = common::UpperCase(declared);
  auto has = [&](const char* part) { return type.find(part) != std::string::npos; };
  if (has("INT")) return ColumnAffinity::kInteger;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return ColumnAffinity::kText;
  if (has("BLOB") || type.find_first_not_of(' ') == std::string::npos) {
    return ColumnAffinity::kBlob;
  }
  if (has("REAL") || has("FLOA") || has("DOUB")) return ColumnAffinity::kReal;
  return ColumnAffinity::kNumeric;
}

bool StoredAsBound(ColumnAffinity affinity, const Value& bound) {
  switch (affinity) {
    case ColumnAffinity::kText:
      return std::holds_alternative<std::string>(bound);
    case ColumnAffinity::kInteger:
    case ColumnAffinity::kNumeric:
      return std::holds_alternative<int64_t>(bound);
    case ColumnAffinity::kReal: {
      const double* real = std::get_if<double>(&bound);
      // A whole real may be kept as an integer and read back as a real, which loses the sign
      // of -0; NaN is stored as NULL.
      return real && std::isfinite(*real) && !(*real == 0 && std::signbit(*real));
    }
    case ColumnAffinity::kBlob:
      return false;
  }
  return false;
}

}  // namespace isam
