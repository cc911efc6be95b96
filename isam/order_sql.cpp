#include "isam/order_sql.h"

namespace isam {
namespace {

std::string Param(size_t i, int first) { return "?" + std::to_string(static_cast<int>(i) + first); }

std::vector<std::string> Branches(const std::vector<std::string>& columns, Direction dir,
                                  const Bound& bound, int first) {
  std::vector<std::string> out;
  if (bound.columns == 0) {
    out.push_back("");
    return out;
  }
  for (size_t i = bound.columns; i-- > 0;) {
    std::string cond;
    for (size_t j = 0; j < i; ++j) {
      cond += columns[j] + " IS " + Param(j, first) + " AND ";
    }
    bool null = (bound.null_mask >> i) & 1u;
    bool inclusive = bound.inclusive && i + 1 == bound.columns;
    const std::string& c = columns[i];
    if (dir == Direction::kForward) {
      if (null) cond += inclusive ? "1" : c + " IS NOT NULL";
      else cond += c + (inclusive ? " >= " : " > ") + Param(i, first);
    } else {
      if (null && !inclusive) continue;  // nothing sorts before NULL
      if (null) {
        cond += c + " IS NULL";
      } else {
        // NULL sorts before every value: after the values below the bound come the NULLs.
        out.push_back(cond + c + (inclusive ? " <= " : " < ") + Param(i, first));
        cond += c + " IS NULL";
      }
    }
    out.push_back(cond);
  }
  return out;
}

}  // namespace

std::vector<std::string> BoundBranches(const std::vector<std::string>& columns, Direction dir,
                                       const Bound& bound) {
  return Branches(columns, dir, bound, 1);
}

std::string OrderByText(const std::vector<std::string>& columns, Direction dir) {
  std::string out;
  for (const std::string& c : columns) {
    if (!out.empty()) out += ", ";
    out += c + (dir == Direction::kForward ? "" : " DESC");
  }
  return out;
}

std::string NextRecordSql(const std::string& select, const std::string& from,
                          const std::vector<std::string>& columns, Direction dir,
                          const Bound& bound) {
  std::string order = OrderByText(columns, dir);
  std::string sql;
  for (const std::string& cond : Branches(columns, dir, bound, 1)) {
    if (!sql.empty()) sql += " UNION ALL ";
    sql += "SELECT * FROM (SELECT " + select + " FROM " + from +
           (cond.empty() ? "" : " WHERE " + cond) + " ORDER BY " + order + " LIMIT 1)";
  }
  if (sql.empty()) return "SELECT " + select + " FROM " + from + " WHERE 0";
  return sql + " LIMIT 1";
}

std::string BeyondCondition(const std::vector<std::string>& columns, Direction dir,
                            const Bound& bound, int first_parameter) {
  std::string out;
  for (const std::string& cond : Branches(columns, dir, bound, first_parameter)) {
    if (cond.empty()) return "1";
    if (!out.empty()) out += " OR ";
    out += "(" + cond + ")";
  }
  return out.empty() ? "0" : "(" + out + ")";
}

}  // namespace isam
