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

std::string ConditionParameter(size_t i) {
  return "?" + std::to_string(kConditionParameterBase + static_cast<int>(i));
}

}  // namespace isam
