// The engine's SQL dialect, parsed into a statement tree that names tables, columns, literals and
// parameters but holds no SQLite text. The engine checks the tree against the tables and then
// writes its own SQLite statements from it (sql_statement.cpp), with every value bound.
//
//   SELECT [DISTINCT] * | column, ... FROM table [WHERE condition] [ORDER BY column [ASC|DESC],
//   ...] UPDATE table SET column = value, ... [WHERE condition] INSERT INTO table [(column, ...)]
//   VALUES (value, ...) DELETE FROM table [WHERE condition]
//
// Conditions: = <> != < <= > >=, AND, OR, NOT, parentheses, IS [NOT] NULL. Values: columns,
// 'text' ('' inside), numbers, parameters :"name", :name or ?. Identifiers bare or in double
// quotes (which may hold blanks); a table is named by its file name. Keywords in any case.
// Errors are ISAM_ERR_SQL_SYNTAX failures that name the position (from 1) and the token.
#ifndef RIVENOAK_ISAM_SQL_PARSER_H_
#define RIVENOAK_ISAM_SQL_PARSER_H_

#include "isam/internal_header.h"

#include <memory>
#include <string>
#include <vector>

#include "isam/value.h"

namespace isam::sql {

constexpr size_t kMaxStatementLength = 1 << 20;
constexpr int kMaxNesting = 100;

struct Operand {
  enum class Kind { kColumn, kLiteral, kParameter };
  Kind kind = Kind::kLiteral;
  std::string column;    // kColumn: the name as written (unquoted)
  Value literal;         // kLiteral: int64, double or text; NULL for the NULL keyword
  size_t parameter = 0;  // kParameter: position among the statement's parameters, from 0
  size_t position = 0;   // where it starts in the text, from 1
};

struct Condition {
  enum class Kind { kCompare, kIsNull, kAnd, kOr, kNot };
  Kind kind = Kind::kCompare;  // kAnd and kOr have a child per term of their chain
  std::string op;              // kCompare: "=", "<>", "<", "<=", ">", ">="
  Operand left, right;
  bool negated = false;  // kIsNull: IS NOT NULL
  std::vector<std::unique_ptr<Condition>> children;
};

struct OrderTerm {
  std::string column;
  bool descending = false;
  size_t position = 0;
};

struct Statement {
  enum class Kind { kSelect, kUpdate, kInsert, kDelete };
  Kind kind = Kind::kSelect;
  bool distinct = false;
  bool all_columns = false;
  std::vector<Operand> columns;  // SELECT list, or INSERT/UPDATE target columns (kColumn)
  std::vector<Operand> values;   // INSERT values, or UPDATE values paired with columns
  std::string table;
  size_t table_position = 0;
  std::unique_ptr<Condition> where;
  size_t where_position = 0;  // of the condition's first token
  std::vector<OrderTerm> order;
  std::vector<std::string> parameter_names;  // "" for ?
};

Statement Parse(const std::string& text);

}  // namespace isam::sql

#endif  // RIVENOAK_ISAM_SQL_PARSER_H_
