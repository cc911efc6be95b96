// rivenoak run with presses for the who-paid dialog read from a file: the lines printed, the
// payers written, and the exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "engine/practice_tables.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

using isam::testing::CreateTable;
using isam::testing::RunSql;
using isam::testing::TempFolder;
using Strings = std::vector<std::string>;

struct Outcome {
  int status;
  std::string out;
};

const char kRefusal[] =
    "information: This Program cannot continue while there are payments or adjustments that "
    "have no who paid indicator.\n";

class WhoPaidRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const engine::TableLayout& table : engine::PracticeTables())
      CreateTable(folder_.File(table.file), table.fields, table.indexes);
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
    return {status, out.str()};
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

TEST_F(WhoPaidRun, PressesThatGiveEveryRowAPayerLetTheRunGoOn) {
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
}

TEST_F(WhoPaidRun, WhenThePressesRunOutCloseIsPressedAndTheRunStops) {
  Outcome o = Run({"this 1", "this G"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Stopped("", 1));
  EXPECT_EQ(WhoPaid(), (Strings{"", "G", "1", ""}));
}

TEST_F(WhoPaidRun, WithoutTheOptionCloseIsPressedAtOnce) {
  Outcome o = Run({}, false);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Stopped("", 1));
  EXPECT_EQ(WhoPaid(), (Strings{"", "", "", ""}));
}

TEST_F(WhoPaidRun, ACloseLineClosesBeforeTheLinesAfterIt) {
  Outcome o = Run({"this 1", "close", "all G"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Stopped("", 1));
  EXPECT_EQ(WhoPaid(), (Strings{"", "", "1", ""}));
}

TEST_F(WhoPaidRun, ALineNamingAButtonNotOfferedWarnsAndCloses) {
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

TEST_F(WhoPaidRun, ALineThatNamesNoButtonWarnsAndCloses) {
  for (const std::string line : {"maybe 1", "this X", "all", "this 1 now", "close now"}) {
    Outcome o = Run({line, "this 1"});
    EXPECT_EQ(o.status, 0) << line;
    EXPECT_EQ(o.out, Stopped("warning: " + line + " not offered\n", line == "maybe 1" ? 1 : 0))
        << line;
  }
  EXPECT_EQ(WhoPaid(), (Strings{"", "", "", ""}));
}

}  // namespace
}  // namespace app
