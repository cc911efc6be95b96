// rivenoak run with presses for the who-paid dialog read from a file: the lines printed, the
// payers written, and the exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/command/command_line.h"
#include "conversion/practice_tables.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

using isam::testing::JournalMode;
using isam::testing::RunSql;
using isam::testing::TempFolder;
using Strings = std::vector<std::string>;

struct Outcome {
  int status;
  std::string out;      // the lines the window would show
  std::string summary;  // the run's `summary:` lines
};

const char kRefusal[] =
    "information: This Program cannot continue while there are payments or adjustments that "
    "have no who paid indicator.\n";

// A practice written by another program, in each journal mode.
class WhoPaidRun : public ::testing::TestWithParam<JournalMode> {
 protected:
  void SetUp() override {
    for (const conversion::TableLayout& table : conversion::PracticeTables()) {
      isam::testing::WriteTableFile(folder_.File(table.file), table.fields, table.indexes,
                                    GetParam());
    }
    RunSql(folder_.File("Mwpro.adt"),
           "INSERT INTO records (\"Code 1\", \"Code 2\", \"Code 3\", \"Type\") VALUES "
           "('CHG', 'CHG', 'CHG', 'A'), ('INS', 'INS', 'INS', 'I'), ('PAT', 'PAT', 'PAT', 'J')");
    // A charge, an insurance payment, and two patient payments, one of them typed K.
    RunSql(folder_.File("MWTRN.ADT"),
           "INSERT INTO records (\"Entry Number\", \"Chart Number\", \"Procedure Code\", "
           "\"Transaction Type\", \"Amount\") VALUES (1, 'CHART1', 'CHG', 'A', 50), "
           "(2, 'CHART1', 'PAT', 'K', -10), (3, 'CHART1', 'INS', 'I', -30), "
           "(4, 'CHART1', 'PAT', 'J', -10)");
    std::ofstream(folder_.File("Convert.log")) << "converted\n";
  }
  Outcome Run(const std::vector<std::string>& presses, bool with_file = true) {
    std::vector<std::string> args = {"rivenoak", "run", folder_.path(), "--quiet"};
    if (with_file) {
      std::ofstream(presses_.File("presses.txt")) << Join(presses);
      args.push_back("--who-paid");
      args.push_back(presses_.File("presses.txt"));
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    int status = RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    Outcome outcome{status, "", ""};
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
      (line.rfind("summary: ", 0) == 0 ? outcome.summary : outcome.out) += line + "\n";
    }
    return outcome;
  }
  static std::string Join(const Strings& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }
  Strings WhoPaid() {
    isam::testing::ScopedConnection connection(folder_.path());
    IsamHandle table = connection.Open("MWTRN.ADT");
    uint16_t field = isam::testing::FieldNumber(table, "Who Paid");
    Strings values;
    for (int64_t recno : isam::testing::WalkForward(table)) {
      IsamGotoRecord(table, recno);
      values.push_back(isam::testing::FieldText(table, field));
    }
    return values;
  }
  static std::string Stopped(const std::string& dialog_lines, int types_changed) {
    return "status: Verifying Transaction Types\nstatus: Verifying Who Paid\n" + dialog_lines +
           kRefusal + "information: Finished.\ntypes changed: " + std::to_string(types_changed) +
           "\n";
  }

  TempFolder folder_, presses_;
};

INSTANTIATE_TEST_SUITE_P(JournalModes, WhoPaidRun,
                         ::testing::ValuesIn(isam::testing::kJournalModes),
                         isam::testing::JournalModeTestName);

TEST_P(WhoPaidRun, PressesThatGiveEveryRowAPayerLetTheRunGoOn) {
  // INS comes first in code order; then both PAT rows, the second by "all".
  Outcome o = Run({"# insurance first", "", "this 2", "  all G"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out,
            "status: Verifying Transaction Types\n"
            "status: Verifying Who Paid\n"
            "status: Applying Payments\n"
            "status: Adjusting Payment Amounts\n"
            "information: Finished.\n"
            "types changed: 1\n");
  EXPECT_EQ(WhoPaid(), (Strings{"", "G", "2", "G"}));
  // Each row given a payer is counted under the letter written.
  for (const char* line : {"summary: payers assigned 2 = 1\n", "summary: payers assigned G = 2\n",
                           "summary: payers assigned 1 = 0\n"}) {
    EXPECT_NE(o.summary.find(line), std::string::npos) << line << o.summary;
  }
}

TEST_P(WhoPaidRun, WhenThePressesRunOutCloseIsPressedAndTheRunStops) {
  Outcome o = Run({"this 1", "this G"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Stopped("", 1));
  EXPECT_EQ(WhoPaid(), (Strings{"", "G", "1", ""}));
}

TEST_P(WhoPaidRun, WithoutTheOptionCloseIsPressedAtOnce) {
  Outcome o = Run({}, false);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Stopped("", 1));
  EXPECT_EQ(WhoPaid(), (Strings{"", "", "", ""}));
}

TEST_P(WhoPaidRun, ACloseLineClosesBeforeTheLinesAfterIt) {
  Outcome o = Run({"this 1", "close", "all G"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Stopped("", 1));
  EXPECT_EQ(WhoPaid(), (Strings{"", "", "1", ""}));
}

TEST_P(WhoPaidRun, ALineNamingAButtonNotOfferedWarnsAndCloses) {
  // The insurance row offers 1, 2 and 3 only.
  Outcome o = Run({"this G", "this 1"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Stopped("warning: this G not offered\n", 1));
  EXPECT_EQ(WhoPaid(), (Strings{"", "", "", ""}));
  // A patient payment offers G and A only.
  o = Run({"this 3", "all 3"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Stopped("warning: all 3 not offered\n", 0));
  EXPECT_EQ(WhoPaid(), (Strings{"", "", "3", ""}));
}

TEST_P(WhoPaidRun, ALineThatIsNoPressRefusesTheCommandLineBeforeAnyChange) {
  for (const std::string line : {"maybe 1", "this X", "all", "this 1 now", "close now"}) {
    Outcome o = Run({line, "this 1"});
    EXPECT_EQ(o.status, 2) << line;
    EXPECT_EQ(o.out, "") << line;
  }
  EXPECT_EQ(WhoPaid(), (Strings{"", "", "", ""}));
}

// A payer that cannot be written is an error of the run: it is shown, and the run, which then
// stops at the who-paid check, does not exit as if it had finished its work.
TEST_P(WhoPaidRun, APayerThatCannotBeWrittenEndsTheRunWithItsErrorAndExitOne) {
  isam::testing::ScopedConnection other(folder_.path());
  IsamHandle table = other.Open("MWTRN.ADT");
  ISAM_ASSERT_OK(IsamLockRecord(table, 4));  // another user holds the second patient payment
  // The insurance payment gets its payer in the first run; the patient payments are left.
  for (const Strings& presses : {Strings{"this 2", "all G"}, Strings{"this G", "this G"}}) {
    Outcome o = Run(presses);
    EXPECT_EQ(o.status, 1) << o.out;
    EXPECT_NE(o.out.find("\nerror: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(kRefusal), std::string::npos) << o.out;
  }
  IsamUnlockRecord(table, 4);
  EXPECT_EQ(WhoPaid(), (Strings{"", "G", "2", ""}));
}

}  // namespace
}  // namespace app
