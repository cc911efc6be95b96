// The program's layout of the practice's tables against the tests' own copy
// (isam/testing/practice_layouts.h): the tests write their practices from that copy, so the two
// may never drift apart unseen.
#include "conversion/practice_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "isam/testing/practice_layouts.h"

namespace conversion {
namespace {

TEST(PracticeTables, AreTheLayoutsTheTestsWrite) {
  const std::vector<TableLayout>& program = PracticeTables();
  const std::vector<isam::testing::PracticeTableLayout>& tests = isam::testing::kPracticeLayouts;
  ASSERT_EQ(program.size(), tests.size());
  for (size_t i = 0; i < program.size(); ++i) {
    SCOPED_TRACE(program[i].file);
    EXPECT_EQ(program[i].file, tests[i].file);
    EXPECT_EQ(program[i].fields, tests[i].fields);
    EXPECT_EQ(program[i].indexes, tests[i].indexes);
  }
}

TEST(PracticeTables, TransactionsCarryEveryColumnAPaymentMayGoTo) {
  const TableLayout& transactions = PracticeTables().front();
  ASSERT_EQ(transactions.file, "MWTRN.ADT");
  for (const char* column : {"Insurance 1 Amount Paid DOUBLE", "Insurance 2 Amount Paid DOUBLE",
                             "Insurance 3 Amount Paid DOUBLE", "Guarantor Amount Paid DOUBLE",
                             "Attorney Amount Paid DOUBLE", "Adjustment Amount DOUBLE"}) {
    EXPECT_NE(std::find(transactions.fields.begin(), transactions.fields.end(), column),
              transactions.fields.end())
        << column;
  }
}

}  // namespace
}  // namespace conversion
