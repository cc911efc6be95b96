#include "app/practice_keys.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/practice_copy.h"
#include "isam/sqlite_handle.h"

namespace app {
namespace {

constexpr size_t kRecordsNamed = 5;
constexpr size_t kLongestValueShown = 20;

// SQL that is true when `value` is no whole number within the engine's 32-bit integers.
std::string NotWhole(const std::string& value) {
  return "(typeof(" + value + ") NOT IN ('integer', 'real') OR " + value + " <> CAST(" + value +
         " AS INTEGER) OR " + value + " NOT BETWEEN -2147483648 AND 2147483647)";
}

bool HasField(sqlite3* db, const std::string& field, const std::string& path) {
  isam::StmtPtr stmt = isam::Prepare(db, "PRAGMA table_info(records)", path);
  for (isam::StatementUse use(stmt.get(), path); use.Step();) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
    if (name && field == name) return true;
  }
  return false;
}

// A value as the message shows it: numbers as SQLite writes them, texts in quotes and cut short.
std::string Shown(sqlite3_stmt* stmt, int column) {
  const auto* raw = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  std::string text = raw ? raw : "";
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
      return "empty";
    case SQLITE_TEXT:
    case SQLITE_BLOB:
      if (text.size() > kLongestValueShown) text = text.substr(0, kLongestValueShown) + "...";
      return "'" + text + "'";
    default:
      return text;
  }
}

// Runs `sql`, whose rows are (record number, value, why), and describes the first few rows and
// how many there are; empty when there are none.
std::string BadRecords(sqlite3* db, const std::string& sql, const std::string& path,
                       const std::string& what) {
  isam::StmtPtr stmt = isam::Prepare(db, sql, path);
  std::vector<std::string> named;
  size_t count = 0;
  for (isam::StatementUse use(stmt.get(), path); use.Step(); ++count) {
    if (named.size() == kRecordsNamed) continue;
    const auto* why = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 2));
    named.push_back("record " + std::to_string(sqlite3_column_int64(stmt.get(), 0)) + " (" +
                    Shown(stmt.get(), 1) + ", " + (why ? why : "") + ")");
  }
  if (count == 0) return "";
  std::string text = path + ": " + std::to_string(count) +
                     (count == 1 ? " record has " : " records have ") + what + ": ";
  for (size_t i = 0; i < named.size(); ++i) text += (i ? ", " : "") + named[i];
  if (count > named.size()) text += ", ...";
  return text;
}

std::string CheckTransactions(const std::string& path) {
  TableReader reader(path);
  const std::string entry = isam::QuoteIdentifier("Entry Number");
  if (!HasField(reader.db(), "Entry Number", path)) return "";
  std::string sql =
      "SELECT _recno, v, CASE WHEN v IS NULL THEN 'empty' WHEN " + NotWhole("v") +
      " THEN 'not a whole number' WHEN v < 1 THEN 'below 1' WHEN n > 1 THEN 'also in ' || "
      "(n - 1) || ' other record' || CASE WHEN n > 2 THEN 's' ELSE '' END END AS why FROM "
      "(SELECT _recno, " +
      entry + " AS v, count(*) OVER (PARTITION BY " + entry +
      ") AS n FROM records) WHERE why IS NOT NULL ORDER BY _recno";
  return BadRecords(reader.db(), sql, path,
                    "an \"Entry Number\" that is not unique or not a whole number from 1 to "
                    "2147483647");
}

std::string CheckApplications(const std::string& path) {
  TableReader reader(path);
  std::string found;
  for (const char* field : {"Payment Reference", "Charge Reference"}) {
    if (!HasField(reader.db(), field, path)) continue;
    std::string column = isam::QuoteIdentifier(field);
    std::string sql = "SELECT _recno, " + column + ", 'not a whole number' FROM records WHERE " +
                      column + " IS NOT NULL AND " + NotWhole(column) + " ORDER BY _recno";
    std::string bad = BadRecords(reader.db(), sql, path,
                                 std::string("a \"") + field + "\" that is not a whole number");
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
