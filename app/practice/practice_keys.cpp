#include "app/practice/practice_keys.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/practice/practice_copy.h"
#include "common/text.h"
#include "conversion/practice_tables.h"
#include "isam/table_files.h"

namespace app {
namespace {

constexpr size_t kRecordsNamed = 5;
constexpr size_t kLongestValueShown = 20;

// SQL that is true when `value` is no whole number within the engine's 32-bit integers.
std::string NotWhole(const std::string& value) {
  return "(typeof(" + value + ") NOT IN ('integer', 'real') OR " + value + " <> CAST(" + value +
         " AS INTEGER) OR " + value + " NOT BETWEEN -2147483648 AND 2147483647)";
}

// A value as the message shows it: numbers as SQLite writes them, texts in quotes and cut short.
std::string Shown(const isam::TableFileRow& row, int column) {
  // The type is asked first: reading a blob as text converts the value and changes its type.
  isam::TableFileRow::Type type = row.TypeOf(column);
  std::string text = row.Text(column);
  switch (type) {
    case isam::TableFileRow::Type::kNull:
      return "empty";
    case isam::TableFileRow::Type::kText:
    case isam::TableFileRow::Type::kBlob:
      if (text.size() > kLongestValueShown) text = text.substr(0, kLongestValueShown) + "...";
      return "'" + text + "'";
    default:
      return text;
  }
}

// Runs `sql`, whose rows are (record number, value, why), and describes the first few rows and
// how many there are; empty when there are none.
std::string BadRecords(const isam::TableFileReader& reader, const std::string& sql,
                       const std::string& what) {
  const std::string& path = reader.path();
  std::vector<std::string> named;
  size_t count = 0;
  reader.Select(sql, [&](const isam::TableFileRow& row) {
    if (count++ >= kRecordsNamed) return;
    named.push_back("record " + std::to_string(row.Integer(0)) + " (" + Shown(row, 1) + ", " +
                    row.Text(2) + ")");
  });
  if (count == 0) return "";
  std::string text = path + ": " + std::to_string(count) +
                     (count == 1 ? " record has " : " records have ") + what + ": ";
  for (size_t i = 0; i < named.size(); ++i) text += (i ? ", " : "") + named[i];
  if (count > named.size()) text += ", ...";
  return text;
}

std::string CheckTransactions(const std::string& path) {
  isam::TableFileReader reader(path);
  const std::string entry = isam::QuotedFieldName("Entry Number");
  if (!reader.HasColumn("Entry Number")) return "";
  std::string sql =
      "SELECT _recno, v, CASE WHEN v IS NULL THEN 'empty' WHEN " + NotWhole("v") +
      " THEN 'not a whole number' WHEN v < 1 THEN 'below 1' WHEN n > 1 THEN 'also in ' || "
      "(n - 1) || ' other record' || CASE WHEN n > 2 THEN 's' ELSE '' END END AS why FROM "
      "(SELECT _recno, " +
      entry + " AS v, count(*) OVER (PARTITION BY " + entry +
      ") AS n FROM records) WHERE why IS NOT NULL ORDER BY _recno";
  return BadRecords(reader, sql,
                    "an \"Entry Number\" that is not unique or not a whole number from 1 to "
                    "2147483647");
}

std::string CheckApplications(const std::string& path) {
  isam::TableFileReader reader(path);
  std::string found;
  for (const char* field : {"Payment Reference", "Charge Reference"}) {
    if (!reader.HasColumn(field)) continue;
    std::string column = isam::QuotedFieldName(field);
    std::string sql = "SELECT _recno, " + column + ", 'not a whole number' FROM records WHERE " +
                      column + " IS NOT NULL AND " + NotWhole(column) + " ORDER BY _recno";
    std::string bad =
        BadRecords(reader, sql, std::string("a \"") + field + "\" that is not a whole number");
    if (!bad.empty()) found += (found.empty() ? "" : "; ") + bad;
  }
  return found;
}

// 2^53 cents: from here on a stored amount cannot hold every cent exactly, and the run's sums
// would no longer say what the table holds.
constexpr double kFirstInexactCents = 9007199254740992.0;

// Why the stored amount at `column` cannot be a money value; empty when it can. The column after
// it holds the amount as printf's %.17g writes it. A text is read as the engine
// reads it into a money field (a decimal number with '.'), so that '12,50' or 'NaN' is not
// silently taken as 0.
std::string WhyNoMoneyValue(const isam::TableFileRow& row, int column) {
  isam::TableFileRow::Type type = row.TypeOf(column);  // before the text, as in Shown
  double value = 0;
  switch (type) {
    case isam::TableFileRow::Type::kNull:
      return "";
    case isam::TableFileRow::Type::kBlob:
      return "A blob is not a money value";
    case isam::TableFileRow::Type::kText: {
      std::optional<double> number = common::ParseDouble(row.Text(column));
      if (!number) return Shown(row, column) + " is not a money value";
      value = *number;
      break;
    }
    default: {
      // All 17 digits (column + 1), which SQLite's own text of a number cuts to 15.
      std::string digits = row.Text(column + 1);
      value = common::ParseDouble(digits).value_or(digits.find('-') == 0 ? -HUGE_VAL : HUGE_VAL);
    }
  }
  if (std::fabs(value) * 100.0 < kFirstInexactCents) return "";
  // The shortest text that reads back as the value, as the data layer writes it: 1e+15.
  char shortest[32];
  auto end = std::to_chars(shortest, shortest + sizeof shortest, value).ptr;
  return "Floating point overflow: " + std::string(shortest, end) + " is not a money value";
}

// The records of a table whose money fields hold what is no money value: texts that are no
// number, blobs, and numbers too large for their cents to be held exactly (infinities too).
std::vector<std::string> BadAmounts(const std::string& path, const conversion::TableLayout& layout,
                                    size_t* count) {
  isam::TableFileReader reader(path);
  std::vector<std::string> names;
  for (const std::string& field : layout.fields) {
    size_t blank = field.rfind(' ');
    std::string name = field.substr(0, blank);
    if (field.substr(blank + 1) == "DOUBLE" && reader.HasColumn(name)) names.push_back(name);
  }
  if (names.empty()) return {};
  // One pass over the table for all its amounts: each column with its 17 digits beside it.
  std::string columns, suspect;
  for (const std::string& name : names) {
    std::string column = isam::QuotedFieldName(name);
    columns += ", " + column + ", printf('%.17g', " + column + ")";
    suspect += std::string(suspect.empty() ? "" : " OR ") + "typeof(" + column +
               ") IN ('text', 'blob') OR abs(CAST(" + column +
               " AS REAL)) * 100.0 >= " + std::to_string(kFirstInexactCents);
  }
  std::vector<std::string> named;
  reader.Select("SELECT _recno" + columns + " FROM records WHERE " + suspect + " ORDER BY _recno",
                [&](const isam::TableFileRow& row) {
                  for (size_t i = 0; i < names.size(); ++i) {
                    std::string why = WhyNoMoneyValue(row, static_cast<int>(1 + 2 * i));
                    if (why.empty() || (*count)++ >= kRecordsNamed) continue;
                    named.push_back(why + " (" + path + ", record " +
                                    std::to_string(row.Integer(0)) + ", field \"" + names[i] +
                                    "\")");
                  }
                });
  return named;
}

}  // namespace

void CheckAmounts(const std::string& data_path) {
  std::vector<std::string> tables = TableFileNames(data_path);
  std::vector<std::string> named;
  size_t count = 0;
  for (const conversion::TableLayout& layout : conversion::PracticeTables()) {
    std::string file = FindName(tables, layout.file);
    if (file.empty()) continue;
    std::string path = (std::filesystem::path(data_path) / file).string();
    for (std::string& bad : BadAmounts(path, layout, &count)) {
      if (named.size() < kRecordsNamed) named.push_back(std::move(bad));
    }
  }
  if (count == 0) return;
  std::string text = "The run cannot use the practice's amounts: ";
  for (size_t i = 0; i < named.size(); ++i) text += (i ? "; " : "") + named[i];
  if (count > named.size()) text += "; and " + std::to_string(count - named.size()) + " more";
  throw PracticeDataError(text + ". Nothing was changed; correct these records and run again.");
}

void CheckJoinKeys(const std::string& data_path) {
  std::vector<std::string> tables = TableFileNames(data_path);
  std::vector<std::string> problems;
  std::string transactions = FindName(tables, "MWTRN.ADT");
  if (!transactions.empty())
    problems.push_back(
        CheckTransactions((std::filesystem::path(data_path) / transactions).string()));
  std::string applications = FindName(tables, "Mwpax.adt");
  if (!applications.empty())
    problems.push_back(
        CheckApplications((std::filesystem::path(data_path) / applications).string()));
  std::erase(problems, "");
  if (problems.empty()) return;
  std::string text = "The run cannot join payments to their charges: ";
  for (size_t i = 0; i < problems.size(); ++i) text += (i ? "; " : "") + problems[i];
  throw PracticeDataError(text + ". Nothing was changed; correct these records and run again.");
}

}  // namespace app
