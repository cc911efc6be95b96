// SQL of moves in an order. An order is a list of key columns that ends with "_recno" (the
// natural order of a table is "_recno" alone), so every record has one place in it. Finding the
// first record after (or before) a place is written as one branch per key column, each a short
// seek that SQLite serves from an index, joined by UNION ALL and cut at the first row:
//
//   (k1, k2, _recno) > (a, b, r)  becomes  k1 IS a AND k2 IS b AND _recno > r
//                                   then   k1 IS a AND k2 > b
//                                   then   k1 > a
//
// which keeps each step a seek however many records share a key. NULL sorts first, so a
// comparison with a NULL bound turns into IS NULL / IS NOT NULL or drops its branch; the text
// therefore depends on which bounds are NULL (null_mask bit i for the bound of column i). A
// column may run downwards (ORDER BY ... DESC), which turns its comparisons round.
#ifndef RIVENOAK_ISAM_ORDER_SQL_H_
#define RIVENOAK_ISAM_ORDER_SQL_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <string>
#include <vector>

namespace isam {

// One column of an order: its SQL text, whether it runs downwards, and where its value sits in a
// row read for the order (kRecnoValue for the record number).
struct OrderColumn {
  static constexpr int kRecnoValue = -1;
  std::string sql;
  bool descending = false;
  int value_index = kRecnoValue;
};
using OrderColumns = std::vector<OrderColumn>;

enum class Direction { kForward, kBackward };

struct Bound {
  size_t columns;  // how many leading key columns the bound gives (parameters ?1..?columns)
  bool inclusive;  // whether records equal on those columns are on the near side
  uint32_t null_mask;
};

// Each branch condition in nearest-first order; an empty text means no condition.
std::vector<std::string> BoundBranches(const OrderColumns& columns, Direction dir,
                                       const Bound& bound);

// ORDER BY text of the order read in a direction.
std::string OrderByText(const OrderColumns& columns, Direction dir);

// The first record beyond the bound in the direction: `select` columns from `from`, among the
// records meeting `condition` ("" for all). With `Rows::kAll`, every record beyond the bound,
// in order, for a statement stepped on from one record to the next.
enum class Rows { kFirst, kAll };
std::string NextRecordSql(const std::string& select, const std::string& from,
                          const std::string& condition, const OrderColumns& columns, Direction dir,
                          const Bound& bound, Rows rows = Rows::kFirst);

// The records whose first `key_columns` key columns equal the parameters ?1.. (NULL equal to
// NULL), in the order: `select` columns from `from`, among the records meeting `condition`;
// with `Rows::kFirst`, the first of them.
std::string KeyRowsSql(const std::string& select, const std::string& from,
                       const std::string& condition, const OrderColumns& columns,
                       size_t key_columns, Rows rows);
// A condition true for the records beyond the bound (the branches or-ed), "1" without one.
// Parameters are numbered from first_parameter.
std::string BeyondCondition(const OrderColumns& columns, Direction dir, const Bound& bound,
                            int first_parameter);

}  // namespace isam

#endif  // RIVENOAK_ISAM_ORDER_SQL_H_
