// The practice list read the one way: a relative Data Path is taken against the root folder the
// list lives in (never the working folder) and made lexically normal, an absolute or empty one is
// kept as written, and the practices come in the list's order with their Dataset Names.
#include "app/practice/practice_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

TEST(PracticeList, ARelativeDataPathIsTakenAgainstTheRoot) {
  EXPECT_EQ(PracticeDataPath("/clinic/root", "Practice1"), "/clinic/root/Practice1");
  EXPECT_EQ(PracticeDataPath("/clinic/root/", "Practice1"), "/clinic/root/Practice1");
  EXPECT_EQ(PracticeDataPath("/clinic/root", "Practice2/../Practice1"), "/clinic/root/Practice1");
  EXPECT_EQ(PracticeDataPath("/clinic/root", "./Practice1/"), "/clinic/root/Practice1/");
  // A root given relative stays relative: whoever opens the folder takes it as the root was taken.
  EXPECT_EQ(PracticeDataPath("root", "Practice1"), "root/Practice1");
}

TEST(PracticeList, AnAbsoluteOrEmptyDataPathIsKeptAsWritten) {
  EXPECT_EQ(PracticeDataPath("/clinic/root", "/elsewhere/Practice1"), "/elsewhere/Practice1");
  EXPECT_EQ(PracticeDataPath("/clinic/root", "/elsewhere/a/../b"), "/elsewhere/a/../b");
  EXPECT_EQ(PracticeDataPath("/clinic/root", ""), "");
}

TEST(PracticeList, TheListGivesEachPracticeInItsOrderByTheOneRule) {
  isam::testing::TempFolder folder;
  std::string root = folder.File("root");
  MakeDemoRoot(root, DemoOptions{1, 10, 1});
  testing::ListPractices(root,
                         "('Relative', 'Practice1'), ('Climbing', 'Other/../Practice1'), "
                         "('Absolute', '/elsewhere/Practice9'), ('No Path', '')",
                         true);
  std::vector<PracticeEntry> practices = ReadPracticeList(root);
  ASSERT_EQ(practices.size(), 4u);
  const std::string kNames[] = {"Relative", "Climbing", "Absolute", "No Path"};
  const std::string kPaths[] = {root + "/Practice1", root + "/Practice1", "/elsewhere/Practice9",
                                ""};
  for (size_t i = 0; i < practices.size(); ++i) {
    EXPECT_EQ(practices[i].name, kNames[i]);
    EXPECT_EQ(practices[i].data_path, kPaths[i]) << kNames[i];
  }
}

}  // namespace
}  // namespace app
