// Master-detail chains whose details put off their moves: what a detail shows after its master
// moves, edits, seeks and fails, read in every way, against what the master's record calls for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/isam_dataset.h"
#include "isam/testing/test_support.h"

namespace data {
namespace {

using isam::testing::JournalMode;
using isam::testing::RunSql;
using isam::testing::TempFolder;
using isam::testing::WriteTableFile;

const char kConnectionName[] = "ChainConnection";

// Documents, their lines and the items the lines name: each a detail of the one before. Neither
// detail has a scroll event, a record filter or a grid, so both put off their moves.
class OwedMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTableFile(folder_.File("Docs.adt"), {"Doc INTEGER", "Weight DOUBLE", "Note CHAR(10)"},
                   {"IDXDOC=Doc"}, JournalMode::kRollback);
    WriteTableFile(folder_.File("Lines.adt"),
                   {"Doc INTEGER", "Line INTEGER", "Item INTEGER", "Weight DOUBLE"},
                   {"IDXDOCLINE=Doc;Line", "IDXWEIGHT=Weight;Line"}, JournalMode::kRollback);
    WriteTableFile(folder_.File("Items.adt"), {"Item INTEGER", "Name CHAR(10)"}, {"IDXITEM=Item"},
                   JournalMode::kRollback);
    // Document 3 weighs what no key can hold: another program wrote an infinite number.
    RunSql(folder_.File("Docs.adt"),
           "INSERT INTO records VALUES (1, 1, 1.0, 'one'), (2, 2, 2.0, 'two'),"
           " (3, 3, 9e999, 'three'), (4, 4, 1.0, 'four');");
    RunSql(folder_.File("Lines.adt"),
           "INSERT INTO records VALUES (1, 1, 1, 10, 1.0), (2, 1, 2, 20, 1.0),"
           " (3, 2, 1, 20, 2.0), (4, 2, 2, 30, 2.0), (5, 4, 1, 10, 1.0);");
    RunSql(folder_.File("Items.adt"),
           "INSERT INTO records VALUES (1, 10, 'ten'), (2, 20, 'twenty'), (3, 30, 'thirty');");
    connection_.SetConnectPath(folder_.path());
    connection_.SetIsConnected(true);
    Bind(docs_, "Docs.adt", "IDXDOC");
    Bind(lines_, "Lines.adt", "IDXDOCLINE");
    Bind(items_, "Items.adt", "IDXITEM");
    docs_source_.SetDataSet(&docs_);
    lines_source_.SetDataSet(&lines_);
    lines_.SetMasterSource(&docs_source_);
    lines_.SetMasterFields("Doc");
    items_.SetMasterSource(&lines_source_);
    items_.SetMasterFields("Item");
  }

  void Bind(TIsamTable& table, const std::string& file, const std::string& index) {
    table.SetDatabaseName(kConnectionName);
    table.SetTableName(file);
    table.SetIndexName(index);
  }

  void OpenAll() {
    for (TIsamTable* t : {&docs_, &lines_, &items_}) t->Open();
  }

  static int Int(TDataSet& ds, const char* field) { return ds.FieldByName(field).AsInteger(); }

  // "doc/line item name" for the line and item the chain stands on.
  std::string Chain() {
    return std::to_string(Int(lines_, "Doc")) + "/" + std::to_string(Int(lines_, "Line")) + " " +
           std::to_string(Int(items_, "Item")) + " " + items_.FieldByName("Name").AsString();
  }

  // "doc/line" of every line the detail shows, in its order; back to the first.
  std::string Lines() {
    std::string text;
    for (lines_.First(); !lines_.Eof(); lines_.Next()) {
      text += (text.empty() ? "" : " ") + std::to_string(Int(lines_, "Doc")) + "/" +
              std::to_string(Int(lines_, "Line"));
    }
    lines_.First();
    return text;
  }

  TempFolder folder_;
  TIsamConnection connection_{nullptr, kConnectionName};
  TIsamTable docs_{nullptr, "Docs"};
  TDataSource docs_source_{nullptr, "DocsSource"};
  TIsamTable lines_{nullptr, "Lines"};
  TDataSource lines_source_{nullptr, "LinesSource"};
  TIsamTable items_{nullptr, "Items"};
};

// A master's own events run once it stands on its new record; its details must already show
// that record's lines there, as every reader after the event sees them.
TEST_F(OwedMoveTest, AMastersEventsSeeDetailsOfTheRecordItNowStandsOn) {
  OpenAll();
  std::vector<std::string> seen;
  auto look = [&](TDataSet& master) {
    seen.push_back(std::to_string(Int(master, "Doc")) + ": " + Chain());
  };
  docs_.AfterScroll = look;
  docs_.AfterCancel = look;

  docs_.Next();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen.back(), "2: 2/1 20 twenty");
  docs_.First();
  EXPECT_EQ(seen.back(), "1: 1/1 10 ten");

  // An edit of the link field shows the lines of the value typed; its cancel, those stored.
  docs_.Edit();
  docs_.FieldByName("Doc").SetAsInteger(4);
  EXPECT_EQ(Chain(), "4/1 10 ten");
  docs_.Cancel();
  EXPECT_EQ(seen.back(), "1: 1/1 10 ten");
  EXPECT_EQ(Chain(), "1/1 10 ten");
}

// A range that cannot be applied raises an error, from the master's move when the detail moves
// at once, else when the detail is read. Neither the detail nor its own detail may then go on to
// show, without a word, what belongs to the master's previous record.
TEST_F(OwedMoveTest, ARangeThatFailedIsNeverShownAsThePreviousMastersLines) {
  lines_.SetIndexName("IDXWEIGHT");
  lines_.SetMasterFields("Weight");
  // Each read either reports the failure again or shows no record.
  auto shows_a_record = [](TDataSet& ds) {
    try {
      return !ds.IsEmpty();
    } catch (const EDatabaseError&) {
      return false;
    }
  };
  for (bool at_once : {false, true}) {
    SCOPED_TRACE(at_once ? "the lines move at once" : "the lines put off their moves");
    if (at_once) lines_.AfterScroll = [](TDataSet&) {};
    OpenAll();
    docs_.Next();
    ASSERT_EQ(Lines(), "2/1 2/2");
    try {
      docs_.Next();
    } catch (const EDatabaseError&) {
    }
    ASSERT_EQ(Int(docs_, "Doc"), 3);
    EXPECT_THROW(lines_.First(), EDatabaseError);
    for (int read = 0; read < 3; ++read) {
      EXPECT_FALSE(shows_a_record(lines_)) << "read " << read << ": doc " << Int(lines_, "Doc");
      EXPECT_FALSE(shows_a_record(items_)) << "read " << read << ": item " << Int(items_, "Item");
    }
    // Once the master stands on a record whose range applies, the detail follows it again.
    docs_.Next();
    EXPECT_EQ(Lines(), "1/1 4/1 1/2");
    EXPECT_EQ(Chain(), "1/1 10 ten");
    docs_.First();
    docs_.Next();
    EXPECT_EQ(Lines(), "2/1 2/2");
    EXPECT_EQ(Chain(), "2/1 20 twenty");
    for (TIsamTable* t : {&items_, &lines_, &docs_}) t->Close();
  }
}

// A detail opened again while its master owes a move, then freed of its master before anything
// read it, shows every record, as a detail freed of an applied range does.
TEST_F(OwedMoveTest, ADetailReopenedWhileItsMasterOwesAMoveAndFreedShowsEveryRecord) {
  OpenAll();
  items_.First();
  ASSERT_EQ(Int(items_, "Item"), 10);
  items_.Close();
  docs_.Next();  // the lines owe their move to document 2
  items_.Open();
  items_.SetMasterSource(nullptr);
  EXPECT_FALSE(items_.IsEmpty());
  EXPECT_EQ(items_.RecordCount(), 3);
  EXPECT_EQ(Int(items_, "Item"), 10);
}

// A seek of the master that finds nothing moves it back to its record as that record is now; when
// another program re-keyed or deleted it meanwhile, the master then stands on other values, and
// its details must follow them.
TEST_F(OwedMoveTest, AMasterSeekThatFindsNothingTakesItsDetailsToTheRecordItShows) {
  OpenAll();
  docs_.Next();
  ASSERT_EQ(Chain(), "2/1 20 twenty");
  RunSql(folder_.File("Docs.adt"), "UPDATE records SET Doc = 4 WHERE _recno = 2;");
  EXPECT_FALSE(docs_.FindKey({"99"}));
  ASSERT_EQ(Int(docs_, "Doc"), 4);
  EXPECT_EQ(Chain(), "4/1 10 ten");

  RunSql(folder_.File("Docs.adt"), "DELETE FROM records WHERE _recno = 2;");
  EXPECT_FALSE(docs_.FindKey({"99"}));
  int doc = Int(docs_, "Doc");
  EXPECT_EQ(Int(lines_, "Doc"), doc);
}

// A step back from the end starts from the last record read; when another program removed that
// record meanwhile, the step meets the record now last, and the details follow it.
TEST_F(OwedMoveTest, AStepBackFromTheEndPastARecordRemovedElsewhereMeetsTheNewLast) {
  OpenAll();
  while (!docs_.Eof()) docs_.Next();
  ASSERT_EQ(Int(docs_, "Doc"), 4);
  RunSql(folder_.File("Docs.adt"), "DELETE FROM records WHERE _recno = 4;");
  docs_.Prior();
  EXPECT_EQ(Int(docs_, "Doc"), 3);
  EXPECT_FALSE(docs_.Eof());
  docs_.Prior();
  EXPECT_EQ(Int(docs_, "Doc"), 2);
  EXPECT_EQ(Chain(), "2/1 20 twenty");
}

// An edit reads its record afresh; when another program took it out of the detail's range, the
// edit shows it as it is now, but once given up the detail shows only records of its range again.
TEST_F(OwedMoveTest, AnEditGivenUpOnARecordTakenOutOfTheRangeLeavesOnlyTheRangeInView) {
  OpenAll();
  docs_.Next();
  ASSERT_EQ(Chain(), "2/1 20 twenty");
  RunSql(folder_.File("Items.adt"), "UPDATE records SET Item = 30 WHERE _recno = 2;");
  items_.Edit();
  EXPECT_EQ(Int(items_, "Item"), 30);
  items_.Cancel();
  EXPECT_TRUE(items_.IsEmpty());
  EXPECT_TRUE(items_.FieldByName("Item").IsNull());

  lines_.Next();  // line 2/2, item 30: records 2 and 3 now
  ASSERT_EQ(Chain(), "2/2 30 twenty");
  RunSql(folder_.File("Items.adt"), "UPDATE records SET Item = 10 WHERE _recno = 2;");
  items_.Edit();
  items_.Cancel();
  EXPECT_EQ(Chain(), "2/2 30 thirty");
}

}  // namespace
}  // namespace data
