#include "isam/value.h"

#include <cstring>

namespace isam {
namespace {

int Rank(const Value& v) {
  if (IsNull(v)) return 0;
  if (std::holds_alternative<std::string>(v)) return 2;
  return 1;
}

int CompareNumbers(const Value& a, const Value& b) {
  if (auto* ia = std::get_if<int64_t>(&a)) {
    if (auto* ib = std::get_if<int64_t>(&b)) return (*ia > *ib) - (*ia < *ib);
    double db = std::get<double>(b);
    long double la = static_cast<long double>(*ia), lb = db;
    return (la > lb) - (la < lb);
  }
  double da = std::get<double>(a);
  if (auto* ib = std::get_if<int64_t>(&b)) {
    long double la = da, lb = static_cast<long double>(*ib);
    return (la > lb) - (la < lb);
  }
  double db = std::get<double>(b);
  return (da > db) - (da < db);
}

}  // namespace

int CompareValues(const Value& a, const Value& b) {
  int ra = Rank(a), rb = Rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 0) return 0;
  if (ra == 1) return CompareNumbers(a, b);
  const std::string& sa = std::get<std::string>(a);
  const std::string& sb = std::get<std::string>(b);
  size_t n = std::min(sa.size(), sb.size());
  int c = n ? std::memcmp(sa.data(), sb.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return (sa.size() > sb.size()) - (sa.size() < sb.size());
}

int CompareKeys(const std::vector<Value>& a, const std::vector<Value>& b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    int c = CompareValues(a[i], b[i]);
    if (c != 0) return c;
  }
  return 0;
}

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

std::string ConditionParameter(size_t i) {
  return "?" + std::to_string(kConditionParameterBase + static_cast<int>(i));
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

}  // namespace isam
