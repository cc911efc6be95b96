#include "isam/order_sql.h"

namespace isam {
namespace {

std::string Param(size_t i, int first) {
  return "?" + std::to_string(static_cast<int>(i) + first);
}

// Branch conditions, nearest first; an empty text means no condition.
std::vector<std::string> Branches(const OrderColumns& columns, Direction dir, const Bound& bound,
                                  int first) {
  std::vector<std::string> out;
  if (bound.columns == 0) {
    out.push_back("");
    return out;
  }
  for (size_t i = bound.columns; i-- > 0;) {
    std::string cond;
    for (size_t j = 0; j < i; ++j) cond += columns[j].sql + " IS " + Param(j, first) + " AND ";
    bool null = (bound.null_mask >> i) & 1u;
    bool inclusive = bound.inclusive && i + 1 == bound.columns;
    const std::string& c = columns[i].sql;
    // Upwards in value terms: NULL comes first, then the values in ascending order.
    bool upwards = (dir == Direction::kForward) != columns[i].descending;
    if (upwards) {
      if (null)
        cond += inclusive ? "1" : c + " IS NOT NULL";
      else
        cond += c + (inclusive ? " >= " : " > ") + Param(i, first);
    } else {
      if (null && !inclusive) continue;  // nothing sorts before NULL
      if (null) {
        cond += c + " IS NULL";
      } else {
        // After the values below the bound come the NULLs; a record number is never NULL.
        out.push_back(cond + c + (inclusive ? " <= " : " < ") + Param(i, first));
        if (columns[i].value_index == OrderColumn::kRecnoValue) continue;
        cond += c + " IS NULL";
      }
    }
    out.push_back(cond);
  }
  return out;
}

}  // namespace

std::vector<std::string> BoundBranches(const OrderColumns& columns, Direction dir,
                                       const Bound& bound) {
  return Branches(columns, dir, bound, 1);
}

std::string OrderByText(const OrderColumns& columns, Direction dir) {
  std::string out;
  for (const OrderColumn& c : columns) {
    if (!out.empty()) out += ", ";
    bool downwards = (dir == Direction::kBackward) != c.descending;
    out += c.sql + (downwards ? " DESC" : "");
  }
  return out;
}

std::string NextRecordSql(const std::string& select, const std::string& from,
                          const std::string& condition, const OrderColumns& columns, Direction dir,
                          const Bound& bound, Rows rows) {
  // The branches follow one another, nearest first, so their rows together are the order from
  // the bound on. A branch keeps its ORDER BY only with a LIMIT (-1 is none).
  bool all = rows == Rows::kAll;
  std::string order = OrderByText(columns, dir);
  std::string where = condition.empty() ? "" : "(" + condition + ")";
  std::vector<std::string> branches = Branches(columns, dir, bound, 1);
  if (branches.size() == 1) {  // one range of the order: read straight from it
    std::string cond = where;
    if (!branches[0].empty()) cond += (cond.empty() ? "" : " AND ") + branches[0];
    return "SELECT " + select + " FROM " + from + (cond.empty() ? "" : " WHERE " + cond) +
           " ORDER BY " + order + (all ? "" : " LIMIT 1");
  }
  std::string sql;
  for (const std::string& branch : branches) {
    std::string cond = where;
    if (!branch.empty()) cond += (cond.empty() ? "" : " AND ") + branch;
    if (!sql.empty()) sql += " UNION ALL ";
    sql +=
        all ? "SELECT k_recno FROM (SELECT _recno AS k_recno" : "SELECT * FROM (SELECT " + select;
    sql += " FROM " + from + (cond.empty() ? "" : " WHERE " + cond) + " ORDER BY " + order +
           (all ? " LIMIT -1)" : " LIMIT 1)");
  }
  if (sql.empty()) return "SELECT " + select + " FROM " + from + " WHERE 0";
  if (!all) return sql + " LIMIT 1";
  // Only record numbers pass through the branches; each row is then read by its number, in
  // the branches' order (CROSS JOIN keeps them the outer loop).
  return "SELECT " + select + " FROM (" + sql + ") CROSS JOIN " + from + " ON _recno = k_recno";
}

std::string KeyRowsSql(const std::string& select, const std::string& from,
                       const std::string& condition, const OrderColumns& columns,
                       size_t key_columns, Rows rows) {
  std::string where = condition.empty() ? "" : "(" + condition + ")";
  for (size_t i = 0; i < key_columns && i < columns.size(); ++i) {
    where += (where.empty() ? "" : " AND ") + columns[i].sql + " IS " + Param(i, 1);
  }
  return "SELECT " + select + " FROM " + from + (where.empty() ? "" : " WHERE " + where) +
         " ORDER BY " + OrderByText(columns, Direction::kForward) +
         (rows == Rows::kAll ? "" : " LIMIT 1");
}

std::string BeyondCondition(const OrderColumns& columns, Direction dir, const Bound& bound,
                            int first_parameter) {
  std::string out;
  for (const std::string& cond : Branches(columns, dir, bound, first_parameter)) {
    if (cond.empty()) return "1";
    if (!out.empty()) out += " OR ";
    out += "(" + cond + ")";
  }
  return out.empty() ? "0" : "(" + out + ")";
}

}  // namespace isam
