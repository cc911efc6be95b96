// rivenoak run and rivenoak demo as scripts use them: the lines printed, the exit status, and
// demo practices that open and come out the same for a seed.
#include "app/command/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

using isam::testing::TempFolder;

using testing::Outcome;
using testing::Rivenoak;

// The demo practice as another program wrote it, in each journal mode.
class RunCommand : public ::testing::TestWithParam<isam::testing::JournalMode> {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.File("demo"), DemoOptions{1, 60, 7});
    practice_ = root_.File("Practice1");
    testing::RewritePractice(root_.File("demo/Practice1"), practice_, GetParam());
  }
  // Gives every payment and adjustment a payer, so that the run goes past the who-paid check.
  void PayAll() {
    isam::testing::RunSql(practice_ + "/MWTRN.ADT",
                          "UPDATE records SET \"Who Paid\" = 'G' WHERE \"Who Paid\" IS NULL");
  }
  TempFolder root_;
  std::string practice_;
};

INSTANTIATE_TEST_SUITE_P(JournalModes, RunCommand,
                         ::testing::ValuesIn(isam::testing::kJournalModes),
                         isam::testing::JournalModeTestName);

TEST_P(RunCommand, PaymentsWithoutAPayerStopTheRunAfterTheWhoPaidCheck) {
  Outcome o = Rivenoak({"run", practice_, "--quiet", "--no-match-types"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out,
            "status: Verifying Who Paid\n"
            "information: This Program cannot continue while there are payments or adjustments "
            "that have no who paid indicator.\n"
            "information: Finished.\n"
            "types changed: 0\n");
}

TEST_P(RunCommand, DefaultRunCoversTheConversionDayAndEndsFinished) {
  PayAll();
  Outcome o = Rivenoak({"run", practice_, "--quiet"});
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(o.out,
            "status: Verifying Transaction Types\n"
            "status: Verifying Who Paid\n"
            "status: Applying Payments\n"
            "status: Adjusting Payment Amounts\n"
            "information: Finished.\n"
            "types changed: 3\n");
}

TEST_P(RunCommand, WithoutConvertLogBothDatesMustBeGiven) {
  PayAll();
  std::filesystem::remove(practice_ + "/Convert.log");
  Outcome o = Rivenoak({"run", practice_, "--quiet"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out,
            "plain: Convert.log could not be found.\n"
            "plain: Both Dates Must Be Specified.\n"
            "information: Finished.\n"
            "types changed: 0\n");
  o = Rivenoak({"run", practice_, "--quiet", "--from", "03/01/2004", "--to", "03/31/2004"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("status: Applying Payments\n"), std::string::npos) << o.out;
}

TEST_P(RunCommand, AllOptionsOffStillChecksWhoPaid) {
  PayAll();
  Outcome o =
      Rivenoak({"run", practice_, "--quiet", "--no-match-types", "--no-apply", "--no-adjust"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "status: Verifying Who Paid\ninformation: Finished.\ntypes changed: 0\n");
}

TEST_P(RunCommand, AnInvalidDateEndsTheRunWithItsError) {
  Outcome o = Rivenoak({"run", practice_, "--quiet", "--from", "13/45/2004", "--to", "01/01/2005"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "error: '13/45/2004' is not a valid date\ntypes changed: 0\n");
}

TEST_P(RunCommand, APracticeWithoutItsTablesEndsWithTheOpenError) {
  std::filesystem::remove(practice_ + "/Mwpro.adt");
  Outcome o = Rivenoak({"run", practice_, "--quiet"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("error: MWproType: The table Mwpro.adt was not found"), std::string::npos)
      << o.out;
}

// What a table holds reaches the printed lines only with its control characters written out, so
// that a value cannot end a line and forge one of its own; and a dry run names the practice, not
// the copy it ran on.
TEST_P(RunCommand, ValuesFromTheTablesPrintNoLineOfTheirOwn) {
  PayAll();
  isam::testing::RunSql(practice_ + "/MWTRN.ADT",
                        "UPDATE records SET \"Entry Number\" = 'x' || char(10) || 'error: forged' "
                        "WHERE _recno = 2");
  for (bool dry_run : {false, true}) {
    std::vector<std::string> args = {"run", practice_, "--quiet"};
    if (dry_run) args.push_back("--dry-run");
    Outcome o = Rivenoak(args);
    EXPECT_EQ(o.status, 1) << o.out;
    EXPECT_EQ(o.out.find("\nerror: forged"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("error: The run cannot join payments to their charges: " + practice_ +
                         "/MWTRN.ADT: 1 record has an \"Entry Number\" that is not unique or "
                         "not a whole number from 1 to 2147483647: record 2 ('x\\nerror: "
                         "forged', not a whole number)."),
              std::string::npos)
        << o.out;
  }
}

TEST(CommandLine, UnusableCommandLinesExitTwoWithTheReasonAndOpenNothing) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"run"},
                                             {"run", "x", "--on-missing-payor", "maybe"},
                                             {"run", "x", "--bogus"},
                                             {"run", "x", "--who-paid", "/no/such/file"},
                                             {"demo"}}) {
    Outcome o = Rivenoak(args);
    EXPECT_EQ(o.status, 2) << args.size();
    EXPECT_EQ(o.out, "");
    EXPECT_FALSE(o.err.empty());
  }
  Outcome o = Rivenoak({"--version"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out.rfind("rivenoak ", 0), 0u);
}

TEST(Demo, TheSameSeedGivesTheSameRecords) {
  TempFolder a, b, c;
  MakeDemoRoot(a.File("root"), DemoOptions{2, 120, 42});
  MakeDemoRoot(b.File("root"), DemoOptions{2, 120, 42});
  MakeDemoRoot(c.File("root"), DemoOptions{2, 120, 43});
  auto records = [](const std::string& file) {
    std::string dump;
    isam::testing::ScopedConnection connection(std::filesystem::path(file).parent_path().string());
    IsamHandle table = connection.Open(std::filesystem::path(file).filename().string());
    uint16_t fields = 0;
    IsamGetNumFields(table, &fields);
    for (int64_t recno : isam::testing::WalkForward(table)) {
      IsamGotoRecord(table, recno);
      for (uint16_t f = 1; f <= fields; ++f) dump += isam::testing::FieldText(table, f) + "|";
      dump += "\n";
    }
    return dump;
  };
  std::string first = records(a.File("root/Practice2/MWTRN.ADT"));
  EXPECT_EQ(first, records(b.File("root/Practice2/MWTRN.ADT")));
  EXPECT_NE(first, records(c.File("root/Practice2/MWTRN.ADT")));
  EXPECT_EQ(records(a.File("root/Practice1/Mwpro.adt")),
            records(b.File("root/Practice1/Mwpro.adt")));
  Outcome o = Rivenoak({"demo", a.File("root")});
  EXPECT_EQ(o.status, 1) << "a second demo over the first refuses";
}

}  // namespace
}  // namespace app
