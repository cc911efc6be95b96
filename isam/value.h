// A value as SQLite stores it (NULL, integer, real or UTF-8 text), ordered the way SQLite orders
// an index with the binary collation: NULL first, then numbers by value, then texts byte by byte.
// Keys and scopes compare such values in the engine exactly as the file's indexes do.
#ifndef RIVENOAK_ISAM_VALUE_H_
#define RIVENOAK_ISAM_VALUE_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace isam {

using Value = std::variant<std::monostate, int64_t, double, std::string>;

inline bool IsNull(const Value& v) {
  return std::holds_alternative<std::monostate>(v);
}

// <0, 0 or >0 as a is before, equal to or after b in index order.
int CompareValues(const Value& a, const Value& b);

// Compares the first n values of two keys.
int CompareKeys(const std::vector<Value>& a, const std::vector<Value>& b, size_t n);

// Conditions of queries number their values from kConditionParameterBase, so that they never
// meet the parameters of the statement they are part of.
constexpr int kConditionParameterBase = 1001;
std::string ConditionParameter(size_t i);

}  // namespace isam

#endif  // RIVENOAK_ISAM_VALUE_H_
