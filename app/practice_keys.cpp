#include "app/practice_keys.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/practice_copy.h"
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
  std::string text = row.Text(column);
  switch (row.TypeOf(column)) {
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

}  // namespace

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
