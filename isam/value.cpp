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

Value ColumnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      return static_cast<int64_t>(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, column);
    case SQLITE_NULL:
      return std::monostate{};
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
    }
  }
}

}  // namespace isam
