// Statement keys and row reading shared by the parts of the table handle (table*.cpp): the key
// under which a table's statement is cached, the NULL mask of a bound, binding a bound's values,
// and reading a row as stored. Internal to the engine.
#ifndef RIVENOAK_ISAM_TABLE_STATEMENTS_H_
#define RIVENOAK_ISAM_TABLE_STATEMENTS_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <vector>

#include "isam/order_sql.h"
#include "isam/record_source.h"
#include "isam/sqlite/values.h"
#include "isam/value.h"

namespace isam::table_statements {

enum StatementKind : uint64_t {
  kNextForward = 1,
  kNextBackward = 2,
  kByRecno = 3,
  kCountAll = 4,
  kQualifies = 5,
  kScopeRows = 6
};

inline uint64_t StatementKey(StatementKind kind, int order, const Bound& bound) {
  return (static_cast<uint64_t>(kind) << 56) | (static_cast<uint64_t>(order + 1) << 40) |
         (static_cast<uint64_t>(bound.columns) << 32) | (bound.inclusive ? 1ull << 31 : 0) |
         (bound.null_mask & 0x7fffffffu);
}

inline uint32_t NullMask(const std::vector<Value>& values) {
  uint32_t mask = 0;
  for (size_t i = 0; i < values.size() && i < 31; ++i) {
    if (IsNull(values[i])) mask |= 1u << i;
  }
  return mask;
}

inline void BindAll(sqlite3_stmt* stmt, const std::vector<Value>& values, int first) {
  int count = sqlite3_bind_parameter_count(stmt);
  for (size_t i = 0; i < values.size(); ++i) {
    int position = first + static_cast<int>(i);
    if (position <= count && !IsNull(values[i])) BindValue(stmt, position, values[i]);
  }
}

// Reads _recno and every value of a row, shown fields and hidden key columns, as stored: the
// order compares stored values, so they are shown as the engine writes them only when read out.
inline void ReadRow(sqlite3_stmt* stmt, const RecordSource& source, int64_t* recno,
                    std::vector<Value>* values) {
  *recno = sqlite3_column_int64(stmt, 0);
  values->resize(source.values_per_row());
  for (size_t i = 0; i < values->size(); ++i) {
    ReadColumn(stmt, static_cast<int>(i) + 1, &(*values)[i]);
  }
}

}  // namespace isam::table_statements

#endif  // RIVENOAK_ISAM_TABLE_STATEMENTS_H_
