// SQL of moves in an order. An order is a list of key columns that ends with "_recno" (the
// natural order is "_recno" alone), so every record has one place in it. Finding the first
// record after (or before) a place is written as one branch per key column, each a short seek
// that SQLite serves from the index, joined by UNION ALL and cut at the first row:
//
//   (k1, k2, _recno) > (a, b, r)  becomes  k1 IS a AND k2 IS b AND _recno > r
//                                   then   k1 IS a AND k2 > b
//                                   then   k1 > a
//
// which keeps each step a seek however many records share a key. NULL sorts first, so a
// comparison with a NULL bound turns into IS NULL / IS NOT NULL or drops its branch; the text
// therefore depends on which bounds are NULL (null_mask bit i for the bound of column i).
#ifndef RIVENOAK_ISAM_ORDER_SQL_H_
#define RIVENOAK_ISAM_ORDER_SQL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace isam {

enum class Direction { kForward, kBackward };

struct Bound {
  size_t columns;   // how many leading key columns the bound gives (parameters ?1..?columns)
  bool inclusive;   // whether records equal on those columns are on the near side
  uint32_t null_mask;
};

// Each branch condition in nearest-first order; an empty text means no condition.
std::vector<std::string> BoundBranches(const std::vector<std::string>& columns, Direction dir,
                                       const Bound& bound);

// ORDER BY text of the order in a direction.
std::string OrderByText(const std::vector<std::string>& columns, Direction dir);

// The first record beyond the bound in the direction: `select` columns from `from`.
std::string NextRecordSql(const std::string& select, const std::string& from,
                          const std::vector<std::string>& columns, Direction dir,
                          const Bound& bound);

// A condition true for the records beyond the bound (the branches or-ed), "1" without one.
std::string BeyondCondition(const std::vector<std::string>& columns, Direction dir,
                            const Bound& bound, int first_parameter);

}  // namespace isam

#endif  // RIVENOAK_ISAM_ORDER_SQL_H_
