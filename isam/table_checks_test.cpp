// Checks of the values of a table file's fields: whole numbers in a range and held once, and
// amounts, over tables that another program wrote with plain SQLite and filled with what such a
// program may leave: texts, blobs, infinities, numbers past 32 bits or past 2^53 cents, repeats.
#include "isam/table_checks.h"

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

// A table file `name` in `folder` with the fields given and the rows "recno, v1, v2 ..." given
// as SQL values.
std::string TableWith(const TempFolder& folder, const std::string& name,
                      const std::vector<std::string>& fields,
                      const std::vector<std::string>& rows) {
  std::string path = folder.File(name);
  WriteTableFile(path, fields, {}, JournalMode::kRollback);
  std::string sql;
  for (const std::string& row : rows) sql += "INSERT INTO records VALUES (" + row + ");";
  if (!sql.empty()) RunSql(path, sql);
  return path;
}

// A value as "record field shown fault others", for comparing whole answers at once.
std::string Told(int64_t record, const std::string& field, const std::string& shown,
                 ValueFault fault, int64_t others = 0) {
  return std::to_string(record) + " " + field + " " + shown + " " +
         std::to_string(static_cast<int>(fault)) + " " + std::to_string(others);
}

std::vector<std::string> Described(const FaultyValues& values) {
  std::vector<std::string> described;
  for (const FaultyValue& v : values.first) {
    described.push_back(Told(v.record, v.field, v.shown, v.fault, v.others));
  }
  return described;
}

WholeNumberRule KeyRule() {
  WholeNumberRule rule;
  rule.lowest = 1;
  rule.required = true;
  rule.unique = true;
  return rule;
}

TEST(WholeNumberCheck, AKeyMustBeAWholeNumberInRangeHeldOnce) {
  TempFolder folder;
  std::string path =
      TableWith(folder, "keys.adt", {"No INTEGER"},
                {"1, 5", "2, NULL", "3, 'abc'", "4, 2.5", "5, 0", "6, 5", "7, 3000000000",
                 "8, x'414243'", "9, 'a text that goes well past twenty bytes'", "10, -3000000000",
                 "11, -5", "12, 7", "13, 9e999", "14, 2147483647", "15, 5"});
  TableFileReader reader(path);
  FaultyValues found = CheckWholeNumbers(reader, "No", KeyRule(), 100);
  std::vector<std::string> expected = {
      Told(1, "No", "5", ValueFault::kRepeated, 2),
      Told(2, "No", "empty", ValueFault::kEmpty),
      Told(3, "No", "'abc'", ValueFault::kNotWholeNumber),
      Told(4, "No", "2.5", ValueFault::kNotWholeNumber),
      Told(5, "No", "0", ValueFault::kBelowRange),
      Told(6, "No", "5", ValueFault::kRepeated, 2),
      Told(7, "No", "3000000000", ValueFault::kNotWholeNumber),
      Told(8, "No", "'ABC'", ValueFault::kNotWholeNumber),
      Told(9, "No", "'a text that goes wel...'", ValueFault::kNotWholeNumber),
      Told(10, "No", "-3000000000", ValueFault::kNotWholeNumber),
      Told(11, "No", "-5", ValueFault::kBelowRange),
      Told(13, "No", "Inf", ValueFault::kNotWholeNumber),
      Told(15, "No", "5", ValueFault::kRepeated, 2),
  };
  EXPECT_EQ(Described(found), expected);
  EXPECT_EQ(found.count, expected.size());
}

TEST(WholeNumberCheck, OnlyTheFirstAreToldInFullButAllAreCounted) {
  TempFolder folder;
  std::string path = TableWith(folder, "keys.adt", {"No INTEGER"},
                               {"4, 'x'", "1, 'y'", "3, 3", "2, 2.5", "9, NULL"});
  TableFileReader reader(path);
  FaultyValues found = CheckWholeNumbers(reader, "No", KeyRule(), 2);
  EXPECT_EQ(Described(found),
            (std::vector<std::string>{Told(1, "No", "'y'", ValueFault::kNotWholeNumber),
                                      Told(2, "No", "2.5", ValueFault::kNotWholeNumber)}));
  EXPECT_EQ(found.count, 4u);
  EXPECT_EQ(CheckWholeNumbers(reader, "No", KeyRule(), 0).first.size(), 0u);
  EXPECT_EQ(CheckWholeNumbers(reader, "No", KeyRule(), 0).count, 4u);
}

TEST(WholeNumberCheck, AReferenceMayBeEmptyOrRepeatedButNotText) {
  TempFolder folder;
  // A text field keeps a text of digits as text: no whole number, as the engine reads it.
  std::string path = TableWith(folder, "refs.adt", {"Ref INTEGER", "Code CHAR(8)"},
                               {"1, NULL, '12'", "2, 7, NULL", "3, 7, 'x'", "4, -2147483648, NULL",
                                "5, 2147483648, NULL", "6, 'seven', NULL"});
  TableFileReader reader(path);
  EXPECT_EQ(Described(CheckWholeNumbers(reader, "Ref", WholeNumberRule{}, 10)),
            (std::vector<std::string>{Told(5, "Ref", "2147483648", ValueFault::kNotWholeNumber),
                                      Told(6, "Ref", "'seven'", ValueFault::kNotWholeNumber)}));
  EXPECT_EQ(Described(CheckWholeNumbers(reader, "Code", WholeNumberRule{}, 10)),
            (std::vector<std::string>{Told(1, "Code", "'12'", ValueFault::kNotWholeNumber),
                                      Told(3, "Code", "'x'", ValueFault::kNotWholeNumber)}));
}

TEST(WholeNumberCheck, AWholeNumberMayBeStoredAsARealAndANumberAboveTheRangeIsTold) {
  TempFolder folder;
  std::string path =
      TableWith(folder, "reals.adt", {"Count DOUBLE"}, {"1, 7.0", "2, 11.0", "3, 7.5", "4, 1e10"});
  TableFileReader reader(path);
  WholeNumberRule rule;
  rule.highest = 10;
  EXPECT_EQ(
      Described(CheckWholeNumbers(reader, "Count", rule, 10)),
      (std::vector<std::string>{Told(2, "Count", "11.0", ValueFault::kAboveRange),
                                Told(3, "Count", "7.5", ValueFault::kNotWholeNumber),
                                Told(4, "Count", "10000000000.0", ValueFault::kNotWholeNumber)}));
}

TEST(WholeNumberCheck, AFieldIsNamedExactlyAndAMissingOneHasNoFaults) {
  TempFolder folder;
  std::string path = TableWith(folder, "odd.adt", {"Entry \"No\" INTEGER"}, {"1, 'x'", "2, 'x'"});
  TableFileReader reader(path);
  EXPECT_EQ(CheckWholeNumbers(reader, "Entry \"No\"", KeyRule(), 10).count, 2u);
  EXPECT_EQ(CheckWholeNumbers(reader, "entry \"no\"", KeyRule(), 10).count, 0u);
  EXPECT_EQ(CheckWholeNumbers(reader, "Missing", KeyRule(), 10).count, 0u);
  EXPECT_EQ(CheckMoneyValues(reader, {"Missing"}, 10).count, 0u);
}

TEST(MoneyCheck, BlobsTextsThatAreNoNumberAndAmountsPastTheCentsAreTold) {
  TempFolder folder;
  // The amount fields make a text that reads as a number that number ('1e400' an infinity); a
  // text field keeps it as text, which is read as the engine reads a text into an amount.
  std::string path = TableWith(
      folder, "amounts.adt", {"Amount DOUBLE", "Fee DOUBLE", "Note CHAR(12)"},
      {"1, 12.5, NULL, '12.50'", "2, '12,50', 1.25, NULL", "3, x'4142', 'NaN', '1e20'",
       "4, 1e15, '1e400', '1e400'", "5, 9e999, -9e999, ' 7 '", "6, 90071992547409, NULL, NULL",
       "7, 90071992547410, 9223372036854775807, NULL", "8, -1e300, 'inf', NULL",
       "9, 'a text that goes well past twenty bytes', '12.50', '-90071992547410'"});
  TableFileReader reader(path);
  FaultyValues found = CheckMoneyValues(reader, {"Amount", "Fee", "Note"}, 100);
  std::vector<std::string> expected = {
      Told(2, "Amount", "'12,50'", ValueFault::kNotANumber),
      Told(3, "Amount", "'AB'", ValueFault::kBlob),
      Told(3, "Fee", "'NaN'", ValueFault::kNotANumber),
      Told(3, "Note", "1e+20", ValueFault::kTooLarge),
      Told(4, "Amount", "1e+15", ValueFault::kTooLarge),
      Told(4, "Fee", "inf", ValueFault::kTooLarge),
      Told(4, "Note", "'1e400'", ValueFault::kNotANumber),
      Told(5, "Amount", "inf", ValueFault::kTooLarge),
      Told(5, "Fee", "-inf", ValueFault::kTooLarge),
      Told(7, "Amount", "90071992547410", ValueFault::kTooLarge),
      Told(7, "Fee", "9223372036854774784", ValueFault::kTooLarge),
      Told(8, "Amount", "-1e+300", ValueFault::kTooLarge),
      Told(8, "Fee", "'inf'", ValueFault::kNotANumber),
      Told(9, "Amount", "'a text that goes wel...'", ValueFault::kNotANumber),
      Told(9, "Note", "-90071992547410", ValueFault::kTooLarge),
  };
  EXPECT_EQ(Described(found), expected);
  EXPECT_EQ(found.count, expected.size());
}

TEST(MoneyCheck, FieldsAreToldInTheOrderNamedWithinARecordAndTheFirstOnlyInFull) {
  TempFolder folder;
  std::string path = TableWith(folder, "amounts.adt", {"Amount DOUBLE", "Fee DOUBLE"},
                               {"2, 'x', 'y'", "1, NULL, 'z'", "3, 1.5, 2.5"});
  TableFileReader reader(path);
  FaultyValues found = CheckMoneyValues(reader, {"Fee", "Missing", "Amount"}, 2);
  EXPECT_EQ(Described(found),
            (std::vector<std::string>{Told(1, "Fee", "'z'", ValueFault::kNotANumber),
                                      Told(2, "Fee", "'y'", ValueFault::kNotANumber)}));
  EXPECT_EQ(found.count, 3u);
  EXPECT_EQ(CheckMoneyValues(reader, {}, 2).count, 0u);
}

}  // namespace
}  // namespace isam::testing
