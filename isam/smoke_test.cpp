#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

TEST(EngineSmoke, AppendedRecordsWalkInKeyOrderWithTiesByRecordNumber) {
  TempFolder folder;
  CreateTable(folder.File("t.adt"), {"Code CHAR(4)", "N INTEGER"}, {"BYCODE=Code"});
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("T.ADT");
  for (auto code : {"b", "a", "b", "", "a"}) WriteFields(t, {{"Code", code}, {"N", "1"}}, true);
  IsamHandle index = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(t, "bycode", &index));
  EXPECT_EQ(WalkForward(index), (std::vector<int64_t>{4, 2, 5, 1, 3}));
  EXPECT_EQ(WalkBackward(index), (std::vector<int64_t>{3, 1, 5, 2, 4}));
  EXPECT_EQ(WalkForward(t), (std::vector<int64_t>{1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace isam::testing
