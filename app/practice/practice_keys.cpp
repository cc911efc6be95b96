// The join keys and amounts a run relies on (practice_keys.h), checked by the engine's checks of
// table files (isam/table_checks.h); what each fault means to the run, and the words that tell
// it, are decided here.
#include "app/practice/practice_keys.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/practice/practice_copy.h"
#include "conversion/practice_tables.h"
#include "isam/table_checks.h"

namespace app {
namespace {

constexpr size_t kRecordsNamed = 5;

// Why a key breaks its rule, as the message tells it.
std::string KeyFault(const isam::FaultyValue& value, const isam::WholeNumberRule& rule) {
  switch (value.fault) {
    case isam::ValueFault::kEmpty:
      return "empty";
    case isam::ValueFault::kBelowRange:
      return "below " + std::to_string(rule.lowest);
    case isam::ValueFault::kAboveRange:
      return "above " + std::to_string(rule.highest);
    case isam::ValueFault::kRepeated:
      return "also in " + std::to_string(value.others) + " other record" +
             (value.others > 1 ? "s" : "");
    default:
      return "not a whole number";
  }
}

// The records whose `field` breaks `rule`: the first few named, and how many there are; empty
// when there are none.
std::string BadRecords(const isam::TableFileReader& reader, const std::string& field,
                       const isam::WholeNumberRule& rule, const std::string& what) {
  isam::FaultyValues bad = isam::CheckWholeNumbers(reader, field, rule, kRecordsNamed);
  if (bad.count == 0) return "";
  std::string text = reader.path() + ": " + std::to_string(bad.count) +
                     (bad.count == 1 ? " record has " : " records have ") + what + ": ";
  for (size_t i = 0; i < bad.first.size(); ++i) {
    const isam::FaultyValue& value = bad.first[i];
    text += (i ? ", " : "") + std::string("record ") + std::to_string(value.record) + " (" +
            value.shown + ", " + KeyFault(value, rule) + ")";
  }
  if (bad.count > bad.first.size()) text += ", ...";
  return text;
}

std::string CheckTransactions(const std::string& path) {
  isam::TableFileReader reader(path);
  isam::WholeNumberRule rule;
  rule.lowest = 1;
  rule.required = true;
  rule.unique = true;
  return BadRecords(reader, "Entry Number", rule,
                    "an \"Entry Number\" that is not unique or not a whole number from 1 to "
                    "2147483647");
}

std::string CheckApplications(const std::string& path) {
  isam::TableFileReader reader(path);
  std::string found;
  for (const char* field : {"Payment Reference", "Charge Reference"}) {
    std::string bad = BadRecords(reader, field, isam::WholeNumberRule{},
                                 std::string("a \"") + field + "\" that is not a whole number");
    if (!bad.empty()) found += (found.empty() ? "" : "; ") + bad;
  }
  return found;
}

// Why an amount is no money value, as the message tells it.
std::string MoneyFault(const isam::FaultyValue& value) {
  switch (value.fault) {
    case isam::ValueFault::kBlob:
      return "A blob is not a money value";
    case isam::ValueFault::kTooLarge:
      return "Floating point overflow: " + value.shown + " is not a money value";
    default:
      return value.shown + " is not a money value";
  }
}

// The amounts of a table that are no money value: texts that are no number, blobs, and numbers
// too large for their cents to be held exactly (infinities too); the first few named.
std::vector<std::string> BadAmounts(const std::string& path, const conversion::TableLayout& layout,
                                    size_t* count) {
  isam::TableFileReader reader(path);
  std::vector<std::string> names;
  for (const std::string& field : layout.fields) {
    size_t blank = field.rfind(' ');
    if (field.substr(blank + 1) == "DOUBLE") names.push_back(field.substr(0, blank));
  }
  if (names.empty()) return {};
  isam::FaultyValues bad = isam::CheckMoneyValues(reader, names, kRecordsNamed);
  *count += bad.count;
  std::vector<std::string> named;
  for (const isam::FaultyValue& value : bad.first) {
    named.push_back(MoneyFault(value) + " (" + path + ", record " + std::to_string(value.record) +
                    ", field \"" + value.field + "\")");
  }
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
