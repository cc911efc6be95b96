// Master-detail chains whose details put off their moves: what a detail shows after its master
// moves, edits, seeks and fails, read in every way, against what the master's record calls for.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <utility>
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
                   {"IDXDOCLINE=Doc;Line", "IDXWEIGHT=Weight;Line", "IDXWEIGHTITEM=Weight;Item"},
                   JournalMode::kRollback);
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

  // The chain's own datasets, or those of a second chain over the same files whose details have
  // scroll events, so that each of their moves is made at once.
  std::array<TIsamTable*, 3> Chain3() { return {&docs_, &lines_, &items_}; }
  std::array<TIsamTable*, 3> WatchedChain() {
    Bind(watched_[0], "Docs.adt", "IDXDOC");
    Bind(watched_[1], "Lines.adt", "IDXDOCLINE");
    Bind(watched_[2], "Items.adt", "IDXITEM");
    for (size_t i = 0; i < 2; ++i) {
      watched_sources_[i].SetDataSet(&watched_[i]);
      watched_[i + 1].SetMasterSource(&watched_sources_[i]);
      watched_[i + 1].SetMasterFields(i == 0 ? "Doc" : "Item");
      watched_[i + 1].AfterScroll = [](TDataSet&) {};
    }
    for (TIsamTable& t : watched_) t.Open();
    return {&watched_[0], &watched_[1], &watched_[2]};
  }

  // A link field of the dataset at `level` (the lines have two, one to each neighbour) and a
  // value for it made of `value`.
  static std::pair<std::string, int> LinkValue(size_t level, int value) {
    bool doc = level == 0 || (level == 1 && value % 2);
    return {doc ? "Doc" : "Item", doc ? value : value * 10};
  }

  // One step a user of the chain may take on the dataset at `level`; `value` is the key sought
  // or the value written. The link fields are Doc (documents and lines) and Item (lines, items).
  static void Step(TIsamTable& ds, size_t level, int action, int value) {
    auto [link, key] = LinkValue(level, value);
    const char* other = level == 0 ? "Note" : level == 1 ? "Weight" : "Name";
    switch (action) {
      case 0:
        ds.First();
        return;
      case 1:
      case 2:
        ds.Next();
        return;
      case 3:
        ds.Prior();
        return;
      case 4:
        ds.Refresh();
        return;
      case 5:
        ds.FindKey({std::to_string(level == 2 ? value * 10 : value)});
        return;
      case 6:  // a link value typed and thrown away
        if (ds.IsEmpty()) return;
        ds.Edit();
        ds.FieldByName(link).SetAsInteger(key);
        ds.Cancel();
        return;
      case 7:
        ds.Close();
        ds.Open();
        return;
      case 8:
        ds.Append();
        ds.Cancel();
        return;
      case 9:  // a field no order uses, written
        if (ds.IsEmpty()) return;
        ds.Edit();
        ds.FieldByName(other).SetAsString(std::to_string(value));
        ds.Post();
        return;
      case 10:  // a link value written
        if (ds.IsEmpty() || level == 2) return;
        ds.Edit();
        ds.FieldByName(link).SetAsInteger(key);
        ds.Post();
        return;
      default:
        return;  // a read only
    }
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
  std::array<TIsamTable, 3> watched_{TIsamTable{nullptr, "WatchedDocs"},
                                     TIsamTable{nullptr, "WatchedLines"},
                                     TIsamTable{nullptr, "WatchedItems"}};
  std::array<TDataSource, 2> watched_sources_;
};

// What a dataset shows where it stands: its ends, its record number and every field.
std::string Standing(TIsamTable& ds) {
  std::string text = std::to_string(ds.Bof()) + std::to_string(ds.Eof()) +
                     std::to_string(ds.IsEmpty()) + " #" + std::to_string(ds.RecNo());
  for (TField* f : ds.Fields()) text += " " + f->AsString();
  return text;
}

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

// Every detail of a master is told of its move, though one of them fails on it: a second items
// dataset, told first and standing off the first record, makes the lines' refused move at once;
// the items told after it must still learn that the lines moved.
TEST_F(OwedMoveTest, EveryDetailLearnsOfAMoveOneOfThemFailedOn) {
  TIsamTable told_first{nullptr, "ToldFirst"};
  Bind(told_first, "Items.adt", "IDXITEM");
  items_.SetMasterSource(nullptr);
  told_first.SetMasterSource(&lines_source_);
  told_first.SetMasterFields("Item");
  items_.SetMasterSource(&lines_source_);
  items_.SetMasterFields("Item");
  lines_.SetIndexName("IDXWEIGHT");
  lines_.SetMasterFields("Weight");
  OpenAll();
  told_first.Open();
  docs_.Next();
  ASSERT_EQ(Chain(), "2/1 20 twenty");
  told_first.Next();  // past its only record: no longer on the first
  EXPECT_THROW(docs_.Next(), EDatabaseError);
  ASSERT_EQ(Int(docs_, "Doc"), 3);
  for (TIsamTable* items : {&items_, &told_first}) {
    bool shows_a_record = false;
    try {
      shows_a_record = !items->IsEmpty();
    } catch (const EDatabaseError&) {
    }
    EXPECT_FALSE(shows_a_record) << items->Name() << " shows item " << Int(*items, "Item");
  }
}

// A change of order carries out the move the detail owes first; when that move fails, the order
// is not changed either, and asking for it again once the master moves on changes it.
TEST_F(OwedMoveTest, AnOrderAskedForWhileTheOwedRangeFailsIsTakenWhenAskedAgain) {
  lines_.SetIndexName("IDXWEIGHT");
  lines_.SetMasterFields("Weight");
  OpenAll();
  docs_.Next();
  docs_.Next();
  ASSERT_EQ(Int(docs_, "Doc"), 3);  // a weight no key can hold
  EXPECT_THROW(lines_.SetIndexName("IDXWEIGHTITEM"), EDatabaseError);
  EXPECT_EQ(lines_.IndexName(), "IDXWEIGHT");
  docs_.Next();
  lines_.SetIndexName("IDXWEIGHTITEM");
  EXPECT_EQ(lines_.IndexName(), "IDXWEIGHTITEM");
  EXPECT_TRUE(lines_.FindKey({"1", "20"}));  // weight and item
  EXPECT_EQ(Int(lines_, "Line"), 2);
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

// Moves, seeks, edits, writes and reopenings at random levels of the chain and of one whose
// details move at once; the writes of both are the same, so the files stay as one chain's steps
// leave them. After each step, datasets read at random levels show the same in both chains.
TEST_F(OwedMoveTest, DetailsThatPutOffTheirMovesShowWhatDetailsMovedAtOnceShowThroughChanges) {
  RunSql(folder_.File("Docs.adt"), "DELETE FROM records WHERE _recno = 3;");  // no refused range
  OpenAll();
  std::array<TIsamTable*, 3> lazy = Chain3();
  std::array<TIsamTable*, 3> watched = WatchedChain();
  std::mt19937 random(20261208);
  for (int step = 0; step < 4000; ++step) {
    size_t level = random() % 3;
    int action = static_cast<int>(random() % 13);
    int value = static_cast<int>(random() % 5);
    for (TIsamTable* ds : {lazy[level], watched[level]}) Step(*ds, level, action, value);
    for (size_t read = 0; read < 3; ++read) {
      if (random() % 2) continue;
      ASSERT_EQ(Standing(*lazy[read]), Standing(*watched[read]))
          << "step " << step << ", level " << level << ", action " << action << ", read " << read;
    }
  }
}

// The same steps while another program adds, removes and re-keys records between them: a
// detail read then shows only records of its master's record as the master shows it.
TEST_F(OwedMoveTest, WhileAnotherProgramChangesTheFilesADetailShowsOnlyItsMastersRecords) {
  OpenAll();
  std::array<TIsamTable*, 3> chain = Chain3();
  const char* const files[] = {"Docs.adt", "Lines.adt", "Items.adt"};
  std::mt19937 random(20261209);
  int added = 100;
  for (int step = 0; step < 3000; ++step) {
    size_t level = random() % 3;
    int action = static_cast<int>(random() % 14);
    int value = static_cast<int>(random() % 5);
    if (action == 13) {
      std::string file = folder_.File(files[level]);
      // One of the records written at the start or added since.
      int pick = static_cast<int>(random() % static_cast<unsigned>(6 + added - 100));
      std::string recno = std::to_string(pick < 6 ? pick + 1 : pick - 6 + 100);
      auto [link, key] = LinkValue(level, value);
      switch (random() % 5) {
        case 0:
        case 1:
        case 2:
          RunSql(file, "UPDATE records SET " + link + " = " + std::to_string(key) +
                           " WHERE _recno = " + recno);
          break;
        case 3:
          RunSql(file, "DELETE FROM records WHERE _recno = " + recno);
          break;
        default:
          RunSql(file, "INSERT INTO records (_recno, " + link + ") VALUES (" +
                           std::to_string(added++) + ", " + std::to_string(key) + ")");
          break;
      }
      continue;
    }
    try {
      Step(*chain[level], level, action, value);
    } catch (const EDatabaseError&) {
      // An edit of a record another program removed: refused, and the edit is given up.
      chain[level]->Cancel();
    }
    for (size_t detail = 1; detail < 3; ++detail) {
      if (random() % 2 || chain[detail]->IsEmpty()) continue;
      const char* link = detail == 1 ? "Doc" : "Item";
      int shown = chain[detail]->FieldByName(link).AsInteger();
      ASSERT_EQ(shown, chain[detail - 1]->FieldByName(link).AsInteger())
          << "step " << step << ", level " << level << ", action " << action << ", detail "
          << detail;
    }
  }
}

}  // namespace
}  // namespace data
