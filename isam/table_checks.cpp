// Checks of the values of a table file's fields (the contract is in table_checks.h), each one
// query over the file's records that SQLite answers in record-number order: the rule is told in
// SQL where SQLite can tell it, and a stored amount's digits are read back here, where the
// engine's own reading of a number decides.
#include "isam/table_checks.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <optional>

#include "common/text.h"
#include "isam/sqlite_handle.h"
#include "isam/table_files_internal.h"

namespace isam {
namespace {

constexpr size_t kLongestValueShown = 20;

// 2^53 cents: from here on a stored amount cannot hold every cent exactly.
constexpr double kFirstInexactCents = 9007199254740992.0;

// SQL that is true when `value` is no whole number within the engine's 32-bit integers.
std::string NotWhole(const std::string& value) {
  return "(typeof(" + value + ") NOT IN ('integer', 'real') OR " + value + " <> CAST(" + value +
         " AS INTEGER) OR " + value + " NOT BETWEEN -2147483648 AND 2147483647)";
}

// A value as the checks show it (see table_checks.h).
std::string Shown(const TableFileRow& row, int column) {
  // The type is asked first: reading a blob as text converts the value and changes its type.
  TableFileRow::Type type = row.TypeOf(column);
  std::string text = row.Text(column);
  switch (type) {
    case TableFileRow::Type::kNull:
      return "empty";
    case TableFileRow::Type::kText:
    case TableFileRow::Type::kBlob:
      if (text.size() > kLongestValueShown) text = text.substr(0, kLongestValueShown) + "...";
      return "'" + text + "'";
    default:
      return text;
  }
}

// Keeps the first few faults in full and counts them all.
void Note(FaultyValue fault, size_t first, FaultyValues* found) {
  if (found->count++ < first) found->first.push_back(std::move(fault));
}

// Why the stored amount at `column` is no money value, with the value as shown; nullopt when it
// is one. The column after it holds the amount as printf's %.17g writes it. A text is read as the
// engine reads it into a money field (a decimal number with '.'), so that '12,50' or 'NaN' is not
// silently taken as 0.
std::optional<std::pair<ValueFault, std::string>> MoneyFault(const TableFileRow& row, int column) {
  TableFileRow::Type type = row.TypeOf(column);  // before the text, as in Shown
  double value = 0;
  switch (type) {
    case TableFileRow::Type::kNull:
      return std::nullopt;
    case TableFileRow::Type::kBlob:
      return std::make_pair(ValueFault::kBlob, Shown(row, column));
    case TableFileRow::Type::kText: {
      std::optional<double> number = common::ParseDouble(row.Text(column));
      if (!number) return std::make_pair(ValueFault::kNotANumber, Shown(row, column));
      value = *number;
      break;
    }
    default: {
      // All 17 digits (column + 1), which SQLite's own text of a number cuts to 15.
      std::string digits = row.Text(column + 1);
      value = common::ParseDouble(digits).value_or(digits.find('-') == 0 ? -HUGE_VAL : HUGE_VAL);
    }
  }
  if (std::fabs(value) * 100.0 < kFirstInexactCents) return std::nullopt;
  // The shortest text that reads back as the value, as the data layer writes it: 1e+15.
  char shortest[32];
  auto end = std::to_chars(shortest, shortest + sizeof shortest, value).ptr;
  return std::make_pair(ValueFault::kTooLarge, std::string(shortest, end));
}

}  // namespace

FaultyValues CheckWholeNumbers(const TableFileReader& reader, const std::string& field,
                               const WholeNumberRule& rule, size_t first) {
  FaultyValues found;
  if (!HasColumn(reader, field)) return found;
  const std::string column = QuoteIdentifier(field);
  // The fault codes are ValueFault's; the CASE lists them in the order they are told.
  std::string sql =
      "SELECT _recno, v, fault, n - 1 FROM (SELECT _recno, v, n, CASE WHEN v IS NULL THEN " +
      std::string(rule.required ? std::to_string(static_cast<int>(ValueFault::kEmpty)) : "NULL") +
      " WHEN " + NotWhole("v") + " THEN " +
      std::to_string(static_cast<int>(ValueFault::kNotWholeNumber)) + " WHEN v < " +
      std::to_string(rule.lowest) + " THEN " +
      std::to_string(static_cast<int>(ValueFault::kBelowRange)) + " WHEN v > " +
      std::to_string(rule.highest) + " THEN " +
      std::to_string(static_cast<int>(ValueFault::kAboveRange)) + " WHEN " +
      (rule.unique ? "n > 1" : "0") + " THEN " +
      std::to_string(static_cast<int>(ValueFault::kRepeated)) +
      " END AS fault FROM (SELECT _recno, " + column + " AS v, " +
      (rule.unique ? "count(*) OVER (PARTITION BY " + column + ")" : "1") +
      " AS n FROM records)) WHERE fault IS NOT NULL ORDER BY _recno";
  SelectRows(reader, sql, [&](const TableFileRow& row) {
    auto fault = static_cast<ValueFault>(row.Integer(2));
    Note({row.Integer(0), field, Shown(row, 1), fault,
          fault == ValueFault::kRepeated ? row.Integer(3) : 0},
         first, &found);
  });
  return found;
}

FaultyValues CheckMoneyValues(const TableFileReader& reader, const std::vector<std::string>& fields,
                              size_t first) {
  FaultyValues found;
  std::vector<std::string> present;
  for (const std::string& field : fields) {
    if (HasColumn(reader, field)) present.push_back(field);
  }
  if (present.empty()) return found;
  // One pass over the table for all its amounts: each column with its 17 digits beside it.
  std::string columns, suspect;
  for (const std::string& field : present) {
    std::string column = QuoteIdentifier(field);
    columns += ", " + column + ", printf('%.17g', " + column + ")";
    suspect += std::string(suspect.empty() ? "" : " OR ") + "typeof(" + column +
               ") IN ('text', 'blob') OR abs(CAST(" + column +
               " AS REAL)) * 100.0 >= " + std::to_string(kFirstInexactCents);
  }
  SelectRows(reader,
             "SELECT _recno" + columns + " FROM records WHERE " + suspect + " ORDER BY _recno",
             [&](const TableFileRow& row) {
               for (size_t i = 0; i < present.size(); ++i) {
                 auto fault = MoneyFault(row, static_cast<int>(1 + 2 * i));
                 if (!fault) continue;
                 Note({row.Integer(0), present[i], std::move(fault->second), fault->first, 0},
                      first, &found);
               }
             });
  return found;
}

}  // namespace isam
