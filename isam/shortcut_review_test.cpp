// Moves the read shortcuts could serve from memory, each checked against what a fresh handle reads
// from the file: scopes changed between moves, other handles and other programs changing the file
// between our reads, transactions rolled back or cut short; and the record locks a transaction
// holds.

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

// A table another program wrote, with codes "b", "c" and "d" in records 1 to 3 and one index on
// the code, in the journal mode of the test.
class ShortcutFile : public ::testing::TestWithParam<JournalMode> {
 protected:
  void SetUp() override {
    path_ = folder_.File("codes.adt");
    WriteTableFile(path_, {"Code CHAR(4)", "Name CHAR(10)"}, {"BYCODE=Code"}, GetParam());
    RunSql(path_,
           "INSERT INTO records (_recno, Code, Name) VALUES "
           "(1, 'b', 'first'), (2, 'c', 'second'), (3, 'd', 'third')");
  }

  // Opens the table with its index; a read-only handle leaves the file in its journal mode.
  std::pair<IsamHandle, IsamHandle> OpenWithIndex(uint32_t mode = ISAM_OPEN_SHARED) {
    IsamHandle table = connection_.Open("codes.adt", mode);
    IsamHandle by_code = 0;
    EXPECT_EQ(IsamGetIndexHandle(table, "BYCODE", &by_code), 0u) << LastErrorText();
    return {table, by_code};
  }

  void SetScope(IsamHandle index, uint16_t which, const std::string& code) {
    std::vector<uint8_t> key = TextKey(index, {code});
    ISAM_ASSERT_OK(
        IsamSetScope(index, which, key.data(), static_cast<uint16_t>(key.size()), ISAM_RAW_KEY));
  }

  TempFolder folder_;
  std::string path_;
  ScopedConnection connection_{folder_.path()};
};

// A step back from the top of an order finds what lies before it now: the top scope may have been
// cleared or lowered since the move to the top, in a transaction or not.
TEST_P(ShortcutFile, AStepBackFromTheTopFollowsTheScopeAsItIsNow) {
  auto [table, by_code] = OpenWithIndex();
  for (bool in_transaction : {false, true}) {
    if (in_transaction) ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    SetScope(by_code, ISAM_SCOPE_TOP, "c");
    ISAM_ASSERT_OK(IsamGotoTop(by_code));
    ASSERT_EQ(RecordNumber(by_code), 2);
    ISAM_ASSERT_OK(IsamClearScope(by_code, ISAM_SCOPE_TOP));
    ISAM_ASSERT_OK(IsamSkip(by_code, -1));
    EXPECT_FALSE(AtBof(by_code)) << "scope cleared; in a transaction: " << in_transaction;
    EXPECT_EQ(RecordNumber(by_code), 1) << "scope cleared; in a transaction: " << in_transaction;

    SetScope(by_code, ISAM_SCOPE_TOP, "c");
    ISAM_ASSERT_OK(IsamGotoTop(by_code));
    ASSERT_EQ(RecordNumber(by_code), 2);
    SetScope(by_code, ISAM_SCOPE_TOP, "a");
    ISAM_ASSERT_OK(IsamSkip(by_code, -1));
    EXPECT_FALSE(AtBof(by_code)) << "scope lowered; in a transaction: " << in_transaction;
    EXPECT_EQ(RecordNumber(by_code), 1) << "scope lowered; in a transaction: " << in_transaction;
    ISAM_ASSERT_OK(IsamClearScope(by_code, ISAM_SCOPE_TOP));
    if (in_transaction) ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
  }
}

// Outside a transaction another program may add a record before the one a move to the top found;
// the step back from it must meet that record, whatever the file's journal mode.
TEST_P(ShortcutFile, AStepBackFromTheTopMeetsWhatAnotherProgramAddedBeforeIt) {
  auto [table, by_code] = OpenWithIndex(ISAM_OPEN_READ_ONLY);
  ISAM_ASSERT_OK(IsamGotoTop(by_code));
  ASSERT_EQ(RecordNumber(by_code), 1);
  RunSql(path_, "INSERT INTO records (_recno, Code, Name) VALUES (9, 'a', 'added')");
  ISAM_ASSERT_OK(IsamSkip(by_code, -1));
  EXPECT_FALSE(AtBof(by_code));
  EXPECT_EQ(RecordNumber(by_code), 9);
}

// Inside a transaction another handle of the connection may re-key the record a handle stands
// on; the handle's next step leaves the record from its new place, as outside one.
TEST_P(ShortcutFile, AStepFromARecordAnotherHandleReKeyedStartsAtItsNewPlace) {
  auto [table, by_code] = OpenWithIndex();
  IsamHandle other = connection_.Open("codes.adt");
  for (int32_t direction : {1, -1}) {
    ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    ISAM_ASSERT_OK(IsamGotoRecord(table, 2));  // "c", between "b" and "d"
    ISAM_ASSERT_OK(IsamGotoRecord(other, 2));
    // Now after "d" going forward, before "b" going back: the step finds nothing.
    ISAM_ASSERT_OK(IsamSetField(other, 1, direction > 0 ? "e" : "a"));
    ISAM_ASSERT_OK(IsamWriteRecord(other));
    ISAM_ASSERT_OK(IsamSkip(by_code, direction));
    if (direction > 0) {
      EXPECT_TRUE(AtEof(by_code)) << "forward";
    } else {
      EXPECT_TRUE(AtBof(by_code)) << "backward";
    }
    ISAM_ASSERT_OK(IsamRollbackTransaction(connection_.handle()));
  }
}

// A transaction that is rolled back, or that the file's own constraint ends, undoes a re-keying
// that a handle read inside it; the handle's next step leaves the record from the place it is
// stored at again.
TEST(UndoneTransaction, AStepFromARecordWhoseReKeyingWasUndoneStartsAtItsStoredPlace) {
  TempFolder folder;
  std::string path = folder.File("u.adt");
  RunSql(path,
         "PRAGMA application_id = 1230193997; PRAGMA user_version = 1; "
         "CREATE TABLE records (\"_recno\" INTEGER PRIMARY KEY, \"Code\" CHAR(4), "
         "\"Name\" CHAR(10) UNIQUE ON CONFLICT ROLLBACK); "
         "CREATE INDEX \"BYCODE\" ON records (\"Code\"); "
         "INSERT INTO records VALUES (1, 'b', 'x'), (2, 'c', 'y'), (3, 'd', 'z')");
  ScopedConnection connection(folder.path());
  IsamHandle table = connection.Open("u.adt"), other = connection.Open("u.adt");
  IsamHandle by_code = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(table, "BYCODE", &by_code));
  for (bool file_ends_it : {false, true}) {
    ISAM_ASSERT_OK(IsamBeginTransaction(connection.handle()));
    ISAM_ASSERT_OK(IsamGotoRecord(other, 2));
    ISAM_ASSERT_OK(IsamSetField(other, 1, "a"));  // before "b"
    ISAM_ASSERT_OK(IsamWriteRecord(other));
    ISAM_ASSERT_OK(IsamGotoRecord(table, 2));
    ASSERT_EQ(FieldText(table, 1), "a");
    if (file_ends_it) {
      ISAM_ASSERT_OK(IsamGotoRecord(other, 3));
      ISAM_ASSERT_OK(IsamSetField(other, 2, "x"));  // record 1's name
      EXPECT_NE(IsamWriteRecord(other), uint32_t{ISAM_SUCCESS});
      ISAM_ASSERT_OK(IsamCancelUpdate(other));
    } else {
      ISAM_ASSERT_OK(IsamRollbackTransaction(connection.handle()));
    }
    // Record 2 is "c" again: the next record is "d".
    ISAM_ASSERT_OK(IsamSkip(by_code, 1));
    EXPECT_FALSE(AtEof(by_code)) << "ended by the file: " << file_ends_it;
    EXPECT_EQ(RecordNumber(by_code), 3) << "ended by the file: " << file_ends_it;
    if (file_ends_it) ISAM_ASSERT_OK(IsamRollbackTransaction(connection.handle()));
  }
}

// A record a handle changes inside a transaction stays locked until the transaction ends, though
// the handle closes: an SQL statement writes through a handle of its own that it closes when done.
// Another program that went by the lock would otherwise change the record over a change not yet
// committed. The connection's own handles still take the record over, one after another.
TEST_P(ShortcutFile, ARecordChangedByAHandleClosedSinceStaysLockedUntilTheTransactionEnds) {
  ScopedConnection elsewhere(folder_.path());
  IsamHandle watcher = elsewhere.Open("codes.adt");
  auto locked = [&] {
    uint16_t answer = 0;
    EXPECT_EQ(IsamIsRecordLocked(watcher, 2, &answer), ISAM_SUCCESS) << LastErrorText();
    return answer != 0;
  };
  auto update = [&](const std::string& name) {
    IsamHandle statement = 0, cursor = 0;
    ISAM_ASSERT_OK(IsamCreateSQLStatement(connection_.handle(), &statement));
    std::string sql = "UPDATE \"codes.adt\" SET Name = '" + name + "' WHERE Code = 'c'";
    ISAM_ASSERT_OK(IsamPrepareSQL(statement, sql.c_str()));
    ISAM_ASSERT_OK(IsamExecuteSQL(statement, &cursor));
    ISAM_ASSERT_OK(IsamCloseSQLStatement(statement));
  };
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "committed" : "rolled back");
    ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    update("first");
    EXPECT_TRUE(locked());
    update("second");  // a later statement of the transaction takes the record over
    EXPECT_TRUE(locked());
    IsamHandle table = connection_.Open("codes.adt");
    uint16_t name_field = 0;
    ISAM_ASSERT_OK(IsamGetFieldNum(table, "Name", &name_field));
    ISAM_ASSERT_OK(IsamGotoRecord(table, 2));
    ISAM_ASSERT_OK(IsamSetField(table, name_field, "third"));
    ISAM_ASSERT_OK(IsamWriteRecord(table));
    ISAM_ASSERT_OK(IsamCloseTable(table));
    EXPECT_TRUE(locked());
    if (commit) {
      ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
    } else {
      ISAM_ASSERT_OK(IsamRollbackTransaction(connection_.handle()));
    }
    EXPECT_FALSE(locked());
  }
}

// Two handles of the file move, write, set scopes and are closed and opened again by turns,
// inside and outside transactions and savepoints, while SQL statements delete records and another
// program changes the file between transactions. Every record a move lands on, and every record
// written, is compared with what a third handle reads afresh, and every landing place with the
// order computed here.
TEST_P(ShortcutFile, RandomMovesAndChangesShowWhatIsStored) {
  std::mt19937 rng(20261208);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto code = [&] { return std::string(1, static_cast<char>('a' + pick(5))); };
  int names = 0;
  auto name = [&] { return "n" + std::to_string(++names); };
  struct Handle {
    IsamHandle table = 0, by_code = 0;
    std::optional<std::string> top, bottom;
  };
  Handle handles[2];
  for (Handle& h : handles) {
    std::tie(h.table, h.by_code) = OpenWithIndex();
    ISAM_ASSERT_OK(IsamGotoTop(h.by_code));
  }
  IsamHandle checker = connection_.Open("codes.adt");
  int64_t last_recno = 3;
  bool in_transaction = false;
  int savepoints = 0;

  struct Stored {
    std::string code;
    std::vector<uint8_t> image;
  };
  // Every record as stored, read afresh.
  auto stored = [&] {
    std::map<int64_t, Stored> rows;
    for (int64_t recno = 1; recno <= last_recno; ++recno) {
      if (IsamGotoRecord(checker, recno) != 0) continue;
      EXPECT_EQ(IsamRefreshRecord(checker), 0u) << LastErrorText();
      rows[recno] = Stored{FieldText(checker, 1), RecordImageOf(checker)};
    }
    return rows;
  };
  using Place = std::pair<std::string, int64_t>;
  // The records inside the handle's scopes in the order of the code, then the record number.
  auto ordered = [&](const Handle& h, const std::map<int64_t, Stored>& rows) {
    std::vector<Place> places;
    for (const auto& [recno, row] : rows) {
      if (h.top && row.code < *h.top) continue;
      if (h.bottom && row.code > *h.bottom) continue;
      places.emplace_back(row.code, recno);
    }
    std::sort(places.begin(), places.end());
    return places;
  };
  std::string trail;
  // The handle stands where `expected` says (0: at the end), showing the record as stored.
  auto expect_at = [&](const Handle& h, int64_t expected, const std::map<int64_t, Stored>& rows) {
    if (expected == 0) {
      EXPECT_TRUE(AtEof(h.by_code)) << trail;
      return;
    }
    ASSERT_FALSE(AtEof(h.by_code)) << trail;
    ASSERT_EQ(RecordNumber(h.by_code), expected) << trail;
    EXPECT_EQ(RecordImageOf(h.by_code), rows.at(expected).image) << trail;
  };

  for (int step = 0; step < 4000 && !HasFatalFailure(); ++step) {
    Handle& h = handles[pick(2)];
    int which = &h == &handles[0] ? 0 : 1;
    int action = pick(16);
    trail +=
        std::to_string(step) + ":" + std::to_string(which) + "/" + std::to_string(action) + " ";
    if (trail.size() > 300) trail.erase(0, trail.size() - 300);
    std::map<int64_t, Stored> before = stored();
    std::optional<Place> from;  // the handle's place before a step
    if (!AtEof(h.by_code)) {
      int64_t recno = RecordNumber(h.by_code);
      auto it = before.find(recno);
      from = Place{it != before.end() ? it->second.code : FieldText(h.by_code, 1), recno};
    }
    switch (action) {
      case 0:
      case 1: {
        ISAM_ASSERT_OK(IsamGotoTop(h.by_code));
        std::vector<Place> places = ordered(h, before);
        expect_at(h, places.empty() ? 0 : places.front().second, before);
        break;
      }
      case 2:
      case 3:
      case 4: {
        ISAM_ASSERT_OK(IsamSkip(h.by_code, 1));
        if (!from) break;
        std::vector<Place> places = ordered(h, before);
        auto next = std::upper_bound(places.begin(), places.end(), *from);
        expect_at(h, next == places.end() ? 0 : next->second, before);
        break;
      }
      case 5: {
        ISAM_ASSERT_OK(IsamSkip(h.by_code, -1));
        std::vector<Place> places = ordered(h, before);
        if (!from) {
          expect_at(h, places.empty() ? 0 : places.back().second, before);
          break;
        }
        auto at = std::lower_bound(places.begin(), places.end(), *from);
        if (at == places.begin()) {
          EXPECT_TRUE(AtBof(h.by_code)) << trail;
        } else {
          EXPECT_FALSE(AtBof(h.by_code)) << trail;
          expect_at(h, std::prev(at)->second, before);
        }
        break;
      }
      case 6: {
        std::string wanted = code();
        std::vector<uint8_t> key = TextKey(h.by_code, {wanted});
        uint16_t found = 0;
        ISAM_ASSERT_OK(IsamSeek(h.by_code, key.data(), static_cast<uint16_t>(key.size()),
                                ISAM_RAW_KEY, ISAM_SEEK_SOFT, &found));
        std::vector<Place> places = ordered(h, before);
        auto at = std::lower_bound(places.begin(), places.end(), Place{wanted, 0});
        expect_at(h, at == places.end() ? 0 : at->second, before);
        break;
      }
      case 7: {
        if (before.empty()) break;
        auto it = std::next(before.begin(), pick(static_cast<int>(before.size())));
        ISAM_ASSERT_OK(IsamGotoRecord(h.table, it->first));
        expect_at(h, it->first, before);
        break;
      }
      case 8: {  // a scope changed, set or cleared
        bool top = pick(2) == 0;
        auto& end = top ? h.top : h.bottom;
        if (pick(3) == 0) {
          if (end)
            ISAM_ASSERT_OK(IsamClearScope(h.by_code, top ? ISAM_SCOPE_TOP : ISAM_SCOPE_BOTTOM));
          end.reset();
        } else {
          end = code();
          SetScope(h.by_code, top ? ISAM_SCOPE_TOP : ISAM_SCOPE_BOTTOM, *end);
        }
        break;
      }
      case 9:
      case 10: {  // the current record edited: its name, or its code
        if (!from || !before.count(from->second)) break;
        bool rekey = pick(2) == 0;
        ISAM_ASSERT_OK(IsamSetField(h.table, rekey ? 1 : 2, (rekey ? code() : name()).c_str()));
        // The other handle keeps the records it changed in the transaction locked; the write
        // then fails, and the handle shows what it read.
        IsamResult rc = IsamWriteRecord(h.table);
        if (rc == ISAM_ERR_RECORD_LOCKED) {
          ISAM_ASSERT_OK(IsamCancelUpdate(h.table));
          break;
        }
        ISAM_ASSERT_OK(rc);
        expect_at(h, from->second, stored());
        break;
      }
      case 11: {  // a record appended with every field
        ISAM_ASSERT_OK(IsamAppendRecord(h.table));
        ISAM_ASSERT_OK(IsamSetField(h.table, 1, code().c_str()));
        ISAM_ASSERT_OK(IsamSetField(h.table, 2, name().c_str()));
        ISAM_ASSERT_OK(IsamWriteRecord(h.table));
        last_recno = std::max(last_recno, RecordNumber(h.table));
        expect_at(h, RecordNumber(h.table), stored());
        break;
      }
      case 12: {  // a record deleted by an SQL statement of the connection
        if (before.empty()) break;
        IsamHandle statement = 0, cursor = 0;
        ISAM_ASSERT_OK(IsamCreateSQLStatement(connection_.handle(), &statement));
        std::string text = "DELETE FROM \"codes.adt\" WHERE Code = '" + code() + "'";
        ISAM_ASSERT_OK(IsamPrepareSQL(statement, text.c_str()));
        // A record a handle changed in the transaction stays locked to the statement, which
        // then undoes what it deleted before it.
        IsamResult rc = IsamExecuteSQL(statement, &cursor);
        EXPECT_TRUE(rc == 0 || rc == ISAM_ERR_RECORD_LOCKED) << LastErrorText();
        ISAM_ASSERT_OK(IsamCloseSQLStatement(statement));
        break;
      }
      case 13: {  // the transaction and its savepoints
        int choice = pick(4);
        if (!in_transaction) {
          ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
          in_transaction = true;
        } else if (choice == 0 && savepoints < 3) {
          ISAM_ASSERT_OK(IsamSavepoint(connection_.handle()));
          ++savepoints;
        } else if (choice == 1 && savepoints > 0) {
          ISAM_ASSERT_OK(pick(2) ? IsamReleaseSavepoint(connection_.handle())
                                 : IsamRollbackToSavepoint(connection_.handle()));
          --savepoints;
        } else {
          ISAM_ASSERT_OK(pick(2) ? IsamCommitTransaction(connection_.handle())
                                 : IsamRollbackTransaction(connection_.handle()));
          in_transaction = false;
          savepoints = 0;
        }
        break;
      }
      case 15: {  // the handle closed, with the walks it shares, and opened again
        ISAM_ASSERT_OK(IsamCloseTable(h.table));
        h = Handle{};
        std::tie(h.table, h.by_code) = OpenWithIndex();
        ISAM_ASSERT_OK(IsamGotoTop(h.by_code));
        std::vector<Place> places = ordered(h, before);
        expect_at(h, places.empty() ? 0 : places.front().second, before);
        break;
      }
      case 14: {  // another program, between transactions
        if (in_transaction) break;
        int64_t recno = 1 + pick(static_cast<int>(last_recno));
        switch (pick(3)) {
          case 0:
            RunSql(path_, "UPDATE records SET Name = '" + name() + "', Code = '" + code() +
                              "' WHERE _recno = " + std::to_string(recno));
            break;
          case 1:
            RunSql(path_, "DELETE FROM records WHERE _recno = " + std::to_string(recno));
            break;
          default:
            ++last_recno;
            RunSql(path_, "INSERT INTO records (_recno, Code, Name) VALUES (" +
                              std::to_string(last_recno) + ", '" + code() + "', '" + name() + "')");
        }
        break;
      }
    }
  }
  if (in_transaction) ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

INSTANTIATE_TEST_SUITE_P(JournalModes, ShortcutFile, ::testing::ValuesIn(kJournalModes),
                         JournalModeTestName);

// A commit that another program's read cuts short has stored the files of the first handle
// already; they are no longer the transaction's, and another program may change them before the
// commit is tried again. What the handles remembered of them must not be served meanwhile.
// (Slow: the commit waits out the engine's busy timeout.)
TEST(CutShortCommit, TheFilesAlreadyStoredAreReadAsTheyAreNow) {
  TempFolder folder;
  for (const char* name : {"U.adt", "T.adt"}) {
    WriteTableFile(folder.File(name), {"Code CHAR(4)", "Name CHAR(10)"}, {"BYCODE=Code"},
                   JournalMode::kRollback);
  }
  RunSql(folder.File("U.adt"), "INSERT INTO records (_recno, Code, Name) VALUES (1, 'a', 'first')");
  ScopedConnection connection(folder.path());
  IsamHandle u = connection.Open("U.adt");
  IsamHandle u_by_code = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(u, "BYCODE", &u_by_code));
  ISAM_ASSERT_OK(IsamBeginTransaction(connection.handle()));
  IsamHandle t = connection.Open("T.adt");  // committed on a handle of its own, after U
  // Walked to its end, so that no statement is left running on U; the first record is then
  // met again from memory.
  EXPECT_EQ(WalkForward(u_by_code), std::vector<int64_t>{1});
  ISAM_ASSERT_OK(IsamGotoTop(u_by_code));
  ASSERT_EQ(FieldText(u_by_code, 2), "first");
  WriteFields(t, {{"Code", "x"}}, true);

  ReadingProgram reader(folder.File("T.adt"));
  ASSERT_EQ(IsamCommitTransaction(connection.handle()), uint32_t{ISAM_ERR_BUSY});
  RunSql(folder.File("U.adt"), "UPDATE records SET Name = 'elsewhere' WHERE _recno = 1");

  ISAM_ASSERT_OK(IsamGotoTop(u_by_code));
  EXPECT_EQ(FieldText(u_by_code, 2), "elsewhere") << "the first record met again";
  ISAM_ASSERT_OK(IsamGotoRecord(u_by_code, 1));
  EXPECT_EQ(FieldText(u_by_code, 2), "elsewhere") << "the current record met again";

  reader.End();
  ISAM_ASSERT_OK(IsamCommitTransaction(connection.handle()));
}

}  // namespace
}  // namespace isam::testing
