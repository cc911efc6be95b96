// The transaction-type phase over small practices written as files: types made to agree with
// their codes, missing codes added, the count shown however the walk ends.
#include "conversion/verify_tran_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conversion/practice_tables.h"
#include "conversion/testing/practice_files.h"

namespace conversion {
namespace {

using isam::testing::RunSql;
using isam::testing::TempFolder;
using isam::testing::WriteTableFile;
using testing::FakeView;
using testing::Quote;

// Mwpro.adt's fields as the run expects them, for the tests that vary them.
std::vector<std::string> ProFields() {
  for (const TableLayout& table : PracticeTables())
    if (table.file == "Mwpro.adt") return table.fields;
  return {};
}

// Boxes are taken as they come (errors kept), and every question is answered No.
FakeView QuietView() {
  FakeView view;
  view.boxes_fail = false;
  view.answer = false;
  return view;
}

class VerifyTranTypesTest : public ::testing::TestWithParam<isam::testing::JournalMode> {
 protected:
  // The three tables of a practice; Mwpro's fields may be given to vary them.
  void MakePractice(const std::vector<std::string>& pro_fields = ProFields()) {
    for (const TableLayout& table : PracticeTables()) {
      WriteTableFile(folder_.File(table.file),
                     table.file == "Mwpro.adt" ? pro_fields : table.fields, table.indexes,
                     GetParam());
    }
  }
  void AddCode(const std::string& code, const std::string& type) {
    RunSql(folder_.File("Mwpro.adt"),
           "INSERT INTO records (\"Code 1\", \"Code 2\", \"Code 3\", \"Type\") VALUES (" +
               Quote(code) + ", " + Quote(code) + ", " + Quote(code) + ", " + Quote(type) + ")");
  }
  void AddTransaction(const std::string& code, const std::string& type,
                      const std::string& service = "1", const std::string& place = "11",
                      const std::string& category = "A") {
    int entry = ++entries_;
    RunSql(folder_.File("MWTRN.ADT"),
           "INSERT INTO records (\"Entry Number\", \"Chart Number\", \"Procedure Code\", "
           "\"Transaction Type\", \"Type Of Service\", \"Place Of Service\", "
           "\"Insurance Category\") VALUES (" +
               std::to_string(entry) + ", 'CHART1', " + Quote(code) + ", " + Quote(type) + ", " +
               Quote(service) + ", " + Quote(place) + ", " + Quote(category) + ")");
  }
  // Runs the phase with the practice open as the main window opens it.
  void Run() {
    PracticeDatasets practice;
    practice.IsamConnection2.SetConnectPath(folder_.path() + "/");
    practice.IsamConnection2.SetIsConnected(true);
    practice.OpenTables();
    VerifyTranTypes(practice, view_);
  }
  // One field of every record of a table, in record-number order.
  std::vector<std::string> Column(const std::string& file, const std::string& field) {
    isam::testing::ScopedConnection connection(folder_.path());
    IsamHandle table = connection.Open(file);
    uint16_t number = isam::testing::FieldNumber(table, field);
    std::vector<std::string> values;
    for (int64_t recno : isam::testing::WalkForward(table)) {
      IsamGotoRecord(table, recno);
      values.push_back(isam::testing::FieldText(table, number));
    }
    return values;
  }
  std::vector<std::string> Types() { return Column("MWTRN.ADT", "Transaction Type"); }
  std::vector<std::string> Codes() { return Column("Mwpro.adt", "Code 1"); }

  TempFolder folder_;
  FakeView view_ = QuietView();
  int entries_ = 0;
};

using Strings = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(JournalModes, VerifyTranTypesTest,
                         ::testing::ValuesIn(isam::testing::kJournalModes),
                         isam::testing::JournalModeTestName);

TEST_P(VerifyTranTypesTest, TypesThatAlreadyAgreeAreLeftAndZeroIsShown) {
  MakePractice();
  AddCode("Y", "I");  // record 1, second in code order
  AddCode("X", "A");  // record 2
  AddTransaction("X", "A");
  AddTransaction("Y", "I");
  AddTransaction("X", "A");
  Run();
  EXPECT_EQ(view_.shown, std::vector<int>{0});
  EXPECT_EQ(Types(), (Strings{"A", "I", "A"}));
  EXPECT_EQ(Codes(), (Strings{"Y", "X"}));
  EXPECT_EQ(view_.gauge1.positions, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(view_.gauge2.Max(), 2);
  // The second bar stands on the record number of each code found.
  EXPECT_EQ(view_.gauge2.positions, (std::vector<int>{2, 1, 2}));
}

TEST_P(VerifyTranTypesTest, ADisagreeingTypeTakesTheCodesTypeAndIsCounted) {
  MakePractice();
  AddCode("X", "A");
  AddTransaction("X", "B");
  AddTransaction("X", "A");
  AddTransaction("X", "C");
  Run();
  EXPECT_EQ(Types(), (Strings{"A", "A", "A"}));
  EXPECT_EQ(view_.shown, std::vector<int>{2});
}

TEST_P(VerifyTranTypesTest, TwoTransactionsOfOneMissingCodeAddOneRowWithTheFirstsType) {
  MakePractice();
  AddCode("X", "A");
  AddTransaction("M", "J");
  AddTransaction("M", "K");
  Run();
  EXPECT_EQ(Codes(), (Strings{"X", "M"}));
  EXPECT_EQ(Column("Mwpro.adt", "Type"), (Strings{"A", "J"}));
  EXPECT_EQ(Types(), (Strings{"J", "J"}));
  EXPECT_EQ(view_.shown, std::vector<int>{1});
  EXPECT_EQ(view_.gauge2.Max(), 1) << "the count of codes before the walk";
  EXPECT_EQ(view_.Counts().codes_added, 1);
  EXPECT_EQ(view_.Counts().types_changed, 1) << "the second transaction took the added type";
}

TEST_P(VerifyTranTypesTest, TheAddedRowTakesItsFieldsFromTheTransaction) {
  MakePractice();
  AddTransaction("NEWCODE", "K", "7", "22", "C");
  Run();
  EXPECT_EQ(view_.shown, std::vector<int>{0}) << "an added code is not a changed type";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Code 1", "NEWCODE"},       {"Code 2", "NEWCODE"},
      {"Code 3", "NEWCODE"},       {"Type", "K"},
      {"Type Of Service", "7"},    {"Default Place Service 1", "22"},
      {"Insurance Category", "C"}, {"Description", kAddedCodeDescription},
  };
  for (const auto& [field, value] : expected) {
    EXPECT_EQ(Column("Mwpro.adt", field), Strings{value}) << field;
  }
  Strings flags;
  for (const char* field : {"Patient Only Responsible", "Inactive", "Taxable",
                            "Adjustment Amount Negativ", "Prepayment"}) {
    Strings column = Column("Mwpro.adt", field);
    ASSERT_EQ(column.size(), 1u);
    flags.push_back(column[0]);
  }
  EXPECT_EQ(flags, (Strings{"F", "T", "F", "F", "F"}));
  EXPECT_EQ(Types(), Strings{"K"});
}

TEST_P(VerifyTranTypesTest, AKeyCutToAShorterCodeFindsThatCodeAndNothingChanges) {
  std::vector<std::string> fields = ProFields();
  fields[0] = "Code 1 CHAR(5)";
  MakePractice(fields);
  AddCode("ABCDE", "A");
  AddTransaction("ABCDEFG", "B");
  Run();
  // The key "ABCDEFG" is cut to five letters and finds "ABCDE", whose "Code 1" is not the
  // transaction's code: the type stays and no code is added.
  EXPECT_EQ(Types(), Strings{"B"});
  EXPECT_EQ(Codes(), Strings{"ABCDE"});
  EXPECT_EQ(view_.shown, std::vector<int>{0});
  EXPECT_EQ(view_.gauge2.positions, std::vector<int>{1});
}

TEST_P(VerifyTranTypesTest, LetterCaseCountsInTypesAndInCodes) {
  MakePractice();
  AddCode("X", "A");
  AddTransaction("X", "a");  // same code, type differing in case only: changed
  AddTransaction("x", "B");  // a code differing in case is another code: added
  Run();
  EXPECT_EQ(Types(), (Strings{"A", "B"}));
  EXPECT_EQ(Codes(), (Strings{"X", "x"}));
  EXPECT_EQ(Column("Mwpro.adt", "Type"), (Strings{"A", "B"}));
  EXPECT_EQ(view_.shown, std::vector<int>{1});
}

TEST_P(VerifyTranTypesTest, AnEmptyCodeTypeEmptiesEveryTypedTransactionOfThatCode) {
  MakePractice();
  AddCode("E", "");
  AddCode("X", "A");
  AddTransaction("E", "A");
  AddTransaction("E", "");
  AddTransaction("X", "A");
  AddTransaction("E", "B");
  Run();
  EXPECT_EQ(Types(), (Strings{"", "", "A", ""}));
  EXPECT_EQ(view_.shown, std::vector<int>{2});
}

TEST_P(VerifyTranTypesTest, CancelStopsTheWalkAndTheCountReachedIsShown) {
  MakePractice();
  AddCode("X", "A");
  for (int i = 0; i < 5; ++i) AddTransaction("X", "B");
  view_.stop_at_message = 2;  // Cancel is pressed while the second row is handled
  Run();
  EXPECT_EQ(Types(), (Strings{"A", "A", "B", "B", "B"}));
  EXPECT_EQ(view_.shown, std::vector<int>{2});
  EXPECT_EQ(view_.gauge1.Position(), 2);
}

TEST_P(VerifyTranTypesTest, AStopFlagSetBeforeTheWalkChangesNothingAndShowsZero) {
  MakePractice();
  AddCode("X", "A");
  AddTransaction("X", "B");
  AddTransaction("M", "B");
  view_.stop = true;
  Run();
  EXPECT_EQ(Types(), (Strings{"B", "B"}));
  EXPECT_EQ(Codes(), Strings{"X"});
  EXPECT_EQ(view_.shown, std::vector<int>{0});
  EXPECT_EQ(view_.messages, 0);
}

TEST_P(VerifyTranTypesTest, AnEmptyTransactionTableShowsZero) {
  MakePractice();
  AddCode("X", "A");
  AddCode("Y", "B");
  view_.gauge1.SetMax(10);
  view_.gauge1.SetPosition(7);  // left from an earlier run
  view_.gauge1.positions.clear();
  Run();
  EXPECT_EQ(view_.shown, std::vector<int>{0});
  EXPECT_EQ(view_.gauge1.Position(), 0);
  EXPECT_EQ(view_.gauge2.Max(), 2);
  EXPECT_EQ(Codes(), (Strings{"X", "Y"}));
}

TEST_P(VerifyTranTypesTest, AFailingAddedRowIsCancelledAndTheErrorEndsThePhase) {
  std::vector<std::string> fields = ProFields();
  fields.pop_back();  // no "Prepayment": filling the added row fails at its last flag
  MakePractice(fields);
  AddCode("X", "A");
  AddTransaction("X", "B");
  AddTransaction("M", "J");
  {
    PracticeDatasets practice;
    practice.IsamConnection2.SetConnectPath(folder_.path() + "/");
    practice.IsamConnection2.SetIsConnected(true);
    practice.OpenTables();
    EXPECT_THROW(VerifyTranTypes(practice, view_), data::Exception);
    EXPECT_EQ(practice.MWproType.State(), data::TDataSetState::dsBrowse)
        << "the half-filled row must not stay pending";
    practice.MWproType.Close();
  }
  EXPECT_EQ(Codes(), Strings{"X"});
  // The error leaves the phase before the count is shown.
  EXPECT_TRUE(view_.shown.empty());
}

}  // namespace
}  // namespace conversion
