// The chooser and `rivenoak run --all` agree: each row of a practice list, its Data Path relative,
// climbing or absolute, gives in the chooser the folder that run --all runs for it (with the
// trailing separator every data path of the window has), and the same Dataset Name. Offscreen.
#include <QApplication>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/practice/demo_practice.h"
#include "app/practice/practice_list.h"
#include "app/testing/practice_checks.h"
#include "app/window/choose_pract.h"
#include "app/window/root_data_path.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

// The one application the chooser needs, made before the first window (offscreen, as the test's
// environment says).
void NeedApplication() {
  static int argc = 1;
  static char name[] = "app_choose_pract_test";
  static char* argv[] = {name, nullptr};
  static QApplication application(argc, argv);
}

TEST(ChoosePract, EachRowGivesTheFolderRunAllRunsForIt) {
  isam::testing::TempFolder folder;
  std::string root = folder.File("root");
  MakeDemoRoot(root, DemoOptions{2, 10, 1});
  testing::ListPractices(root,
                         "('Relative', 'Practice2'), ('Climbing', 'Practice2/../Practice1'), "
                         "('Absolute', '" +
                             root + "/Practice1')",
                         true);
  SetRootOverride(root);
  std::vector<PracticeEntry> run_all = ReadPracticeList(root);
  ASSERT_EQ(run_all.size(), 3u);
  NeedApplication();
  TChoosePract chooser;
  for (size_t row = 0; row < run_all.size(); ++row) {
    chooser.FormShow();  // choosing closes the list
    chooser.MWdblist.First();
    for (size_t i = 0; i < row; ++i) chooser.MWdblist.Next();
    chooser.SetChosen();
    std::string name, data_path;
    chooser.ReturnChosenPract(name, data_path);
    EXPECT_EQ(name, run_all[row].name);
    EXPECT_EQ(data_path, FormatDataPath(run_all[row].data_path)) << name;
  }
  EXPECT_EQ(run_all[0].data_path, root + "/Practice2");
  EXPECT_EQ(run_all[1].data_path, root + "/Practice1");
  SetRootOverride("");
}

}  // namespace
}  // namespace app
