// rivenoak run with presses for the who-paid dialog read from a file: the lines printed, the
// payers written, and the exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

using isam::testing::CreateTable;
using isam::testing::RunSql;
using isam::testing::TempFolder;
using Strings = std::vector<std::string>;

// "NAME TYPE, NAME TYPE, ..." as the field list CreateTable takes.
std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(", ", start);
    if (comma == std::string::npos) comma = text.size();
    fields.push_back(text.substr(start, comma - start));
    start = comma + 2;
  }
  return fields;
}

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
    CreateTable(folder_.File("MWTRN.ADT"),
                Split("Entry Number AUTOINC, Chart Number CHAR(8), Case Number INTEGER, "
                      "Date From DATE, Document Number CHAR(10), Procedure Code CHAR(10), "
                      "Transaction Type CHAR(1), Amount DOUBLE, Who Paid CHAR(1), "
                      "Guarantor Amount Paid DOUBLE, Insurance 1 Amount Paid DOUBLE, "
                      "Insurance 2 Amount Paid DOUBLE, Insurance 3 Amount Paid DOUBLE, "
                      "Attorney Amount Paid DOUBLE, Adjustment Amount DOUBLE, Date Created DATE, "
                      "Insurance 1 Paid LOGICAL, Insurance 2 Paid LOGICAL, "
                      "Insurance 3 Paid LOGICAL, Guarantor Paid LOGICAL, Attorney Paid LOGICAL, "
                      "Description CHAR(40), Type Of Service CHAR(3), Place Of Service CHAR(2), "
                      "Insurance Category CHAR(2)"),
                {"PRIMARY=Entry Number", "IDXDOCUMENT=Chart Number;Document Number",
                 "IDXCHARTDATE=Chart Number;Date From", "IDXENTRYNUMBER=Entry Number"});
    CreateTable(
        folder_.File("Mwpax.adt"),
        {"Payment Reference INTEGER", "Charge Reference INTEGER", "Payment Amount DOUBLE",
         "Who Paid CHAR(1)"},
        {"PRIMARY=Payment Reference;Charge Reference", "IDXCHARGEREFERENCE=Charge Reference"});
    CreateTable(folder_.File("Mwpro.adt"),
                Split("Code 1 CHAR(10), Code 2 CHAR(10), Code 3 CHAR(10), Type CHAR(1), "
                      "Description CHAR(40), Type Of Service CHAR(3), Default Place Service 1 "
                      "CHAR(2), Insurance Category CHAR(2), Patient Only Responsible LOGICAL, "
                      "Inactive LOGICAL, Taxable LOGICAL, Adjustment Amount Negativ LOGICAL, "
                      "Prepayment LOGICAL"),
                {"PRIMARY=Code 1"});
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
    for (uint32_t recno : isam::testing::WalkForward(table)) {
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
