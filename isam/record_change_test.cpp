// Appends, edits, record locks (between handles and between processes) and transactions.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

constexpr uint16_t kId = 1, kCode = 2, kName = 3, kN = 4;

// A table file as another program may make it, with constraints of its own: `fields` follow the
// record number in the definition of `records`, and `more` (indexes, rows) follows that.
void WriteForeignTable(const std::string& path, const std::string& fields,
                       const std::string& more = "") {
  RunSql(path,
         "PRAGMA application_id = 1230193997; PRAGMA user_version = 1; "
         "CREATE TABLE records (\"_recno\" INTEGER PRIMARY KEY, " +
             fields + "); " + more);
}

class ChangedTable : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_.File("t.adt");
    CreateTable(path_, {"Id AUTOINC", "Code CHAR(4)", "Name CHAR(10)", "N INTEGER"},
                {"BYCODE=Code"});
  }

  uint32_t Count(IsamHandle order) {
    uint32_t count = 0;
    EXPECT_EQ(IsamGetRecordCount(order, ISAM_COUNT_IGNORE_FILTERS, &count), 0u) << LastErrorText();
    return count;
  }

  TempFolder folder_;
  std::string path_;
};

// A child process running `body`, whose answer is its exit code; killed if still running at
// the end of the scope.
struct Child {
  explicit Child(const std::function<int()>& body) : pid(fork()) {
    if (pid == 0) _exit(body());
  }
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      Wait();
    }
  }
  // The exit code, or -1 when a signal ended it.
  int Wait() {
    int status = 0;
    pid_t waited = std::exchange(pid, 0);
    if (waited <= 0 || waitpid(waited, &status, 0) != waited) return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_t pid;
};

// An engine connection and table made inside a child process; 0 when either fails.
IsamHandle OpenInChild(const std::string& folder, const char* name) {
  IsamHandle connection = 0, table = 0;
  if (IsamConnect(folder.c_str(), &connection) != 0) return 0;
  if (IsamOpenTable(connection, name, nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                    ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &table) != 0)
    return 0;
  return table;
}

TEST_F(ChangedTable, AppendedRecordBecomesCurrentWithOneMoreThanTheLargestAutoinc) {
  ScopedConnection c(folder_.path());
  IsamHandle t = c.Open("t.adt");
  WriteFields(t, {{"Code", "a"}}, true);
  EXPECT_EQ(RecordNumber(t), 1u);
  EXPECT_EQ(FieldText(t, kId), "1");
  EXPECT_EQ(FieldText(t, kCode), "a");

  RunSql(path_, "INSERT INTO records (Id, Code) VALUES (100, 'x')");
  WriteFields(t, {{"Code", "b"}, {"N", "5"}}, true);
  EXPECT_EQ(RecordNumber(t), 3u);
  EXPECT_EQ(FieldText(t, kId), "101");
  ISAM_ASSERT_OK(IsamSkip(t, 1));
  EXPECT_TRUE(AtEof(t));
}

TEST_F(ChangedTable, EditWritesOnlyAssignedFieldsOfARecordStillThere) {
  ScopedConnection c(folder_.path());
  IsamHandle t = c.Open("t.adt");
  WriteFields(t, {{"Code", "a"}, {"Name", "first"}, {"N", "1"}}, true);
  WriteFields(t, {{"Name", "second"}}, true);
  ISAM_ASSERT_OK(IsamGotoRecord(t, 1));
  // Another program changes N after the engine read the record: the edit keeps that change.
  RunSql(path_, "UPDATE records SET N = 5 WHERE _recno = 1");
  WriteFields(t, {{"Code", "b"}}, false);
  ISAM_ASSERT_OK(IsamRefreshRecord(t));
  EXPECT_EQ(FieldText(t, kCode), "b");
  EXPECT_EQ(FieldText(t, kName), "first");
  EXPECT_EQ(FieldText(t, kN), "5");
  EXPECT_EQ(FieldText(t, kId), "1");

  RunSql(path_, "DELETE FROM records WHERE _recno = 1");
  ISAM_ASSERT_OK(IsamSetField(t, kName, "edited"));
  EXPECT_EQ(IsamWriteRecord(t), uint32_t{ISAM_ERR_RECORD_NOT_FOUND});
  EXPECT_EQ(Count(t), 1u);
}

TEST_F(ChangedTable, CancelUpdateDropsThePendingChange) {
  ScopedConnection c(folder_.path());
  IsamHandle t = c.Open("t.adt");
  WriteFields(t, {{"Name", "kept"}}, true);
  ISAM_ASSERT_OK(IsamSetField(t, kName, "dropped"));
  EXPECT_EQ(FieldText(t, kName), "dropped");
  ISAM_ASSERT_OK(IsamCancelUpdate(t));
  EXPECT_EQ(FieldText(t, kName), "kept");
  EXPECT_EQ(IsamCancelUpdate(t), uint32_t{ISAM_ERR_NO_UPDATE_PENDING});

  ISAM_ASSERT_OK(IsamAppendRecord(t));
  ISAM_ASSERT_OK(IsamSetField(t, kName, "never"));
  ISAM_ASSERT_OK(IsamCancelUpdate(t));
  EXPECT_EQ(Count(t), 1u);
}

TEST_F(ChangedTable, RecordLockHoldsAgainstEveryOtherHandleUntilUnlockOrClose) {
  ScopedConnection c(folder_.path()), other(folder_.path());
  IsamHandle t1 = c.Open("t.adt"), t2 = c.Open("t.adt"), t3 = other.Open("t.adt");
  WriteFields(t1, {{"Name", "one"}}, true);
  WriteFields(t1, {{"Name", "two"}}, true);

  ISAM_ASSERT_OK(IsamLockRecord(t1, 1));
  ISAM_ASSERT_OK(IsamLockRecord(t1, 1));  // again by its holder
  EXPECT_EQ(IsamLockRecord(t2, 1), uint32_t{ISAM_ERR_RECORD_LOCKED});
  EXPECT_EQ(IsamLockRecord(t3, 1), uint32_t{ISAM_ERR_RECORD_LOCKED});
  uint16_t locked = 9;
  ISAM_ASSERT_OK(IsamIsRecordLocked(t2, 1, &locked));
  EXPECT_EQ(locked, 1);
  ISAM_ASSERT_OK(IsamIsRecordLocked(t1, 1, &locked));
  EXPECT_EQ(locked, 0);  // not by another handle
  ISAM_ASSERT_OK(IsamLockRecord(t2, 2));

  // Only the holder writes a locked record.
  ISAM_ASSERT_OK(IsamGotoRecord(t2, 1));
  ISAM_ASSERT_OK(IsamSetField(t2, kName, "blocked"));
  EXPECT_EQ(IsamWriteRecord(t2), uint32_t{ISAM_ERR_RECORD_LOCKED});
  ISAM_ASSERT_OK(IsamCancelUpdate(t2));
  ISAM_ASSERT_OK(IsamGotoRecord(t1, 1));
  WriteFields(t1, {{"Name", "by holder"}}, false);

  ISAM_ASSERT_OK(IsamUnlockRecord(t1, 1));
  WriteFields(t2, {{"N", "3"}}, false);
  ISAM_ASSERT_OK(IsamRefreshRecord(t1));
  EXPECT_EQ(FieldText(t1, kName), "by holder");
  EXPECT_EQ(FieldText(t1, kN), "3");
  ISAM_ASSERT_OK(IsamLockRecord(t3, 1));
  EXPECT_EQ(IsamLockRecord(t1, 1), uint32_t{ISAM_ERR_RECORD_LOCKED});
  EXPECT_EQ(IsamLockRecord(t1, 2), uint32_t{ISAM_ERR_RECORD_LOCKED});

  ISAM_ASSERT_OK(IsamCloseTable(t3));
  ISAM_ASSERT_OK(IsamLockRecord(t1, 1));
  // Closing some other handle of the file leaves the locks of the rest alone.
  ISAM_ASSERT_OK(IsamCloseTable(c.Open("t.adt")));
  EXPECT_EQ(IsamLockRecord(t2, 1), uint32_t{ISAM_ERR_RECORD_LOCKED});
  ISAM_ASSERT_OK(IsamCloseTable(t2));
  ISAM_ASSERT_OK(IsamLockRecord(t1, 2));
}

TEST_F(ChangedTable, LockHeldByAnotherProcessHoldsUntilThatProcessDies) {
  {
    ScopedConnection c(folder_.path());
    WriteFields(c.Open("t.adt"), {{"Name", "one"}}, true);
  }
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  std::string folder = folder_.path();
  Child child([&] {
    close(ready[0]);
    IsamHandle t = OpenInChild(folder, "t.adt");
    if (t == 0 || IsamLockRecord(t, 1) != 0) return 2;
    char byte = 1;
    if (write(ready[1], &byte, 1) != 1) return 3;
    for (;;) pause();
  });
  close(ready[1]);
  char byte = 0;
  ssize_t got = read(ready[0], &byte, 1);
  close(ready[0]);
  ASSERT_EQ(got, 1) << "the child did not lock; exit " << child.Wait();

  ScopedConnection c(folder_.path());
  IsamHandle t = c.Open("t.adt");
  EXPECT_EQ(IsamLockRecord(t, 1), uint32_t{ISAM_ERR_RECORD_LOCKED});
  uint16_t locked = 0;
  ISAM_ASSERT_OK(IsamIsRecordLocked(t, 1, &locked));
  EXPECT_EQ(locked, 1);
  ISAM_ASSERT_OK(IsamGotoRecord(t, 1));
  ISAM_ASSERT_OK(IsamSetField(t, kName, "blocked"));
  EXPECT_EQ(IsamWriteRecord(t), uint32_t{ISAM_ERR_RECORD_LOCKED});
  ISAM_ASSERT_OK(IsamCancelUpdate(t));

  kill(child.pid, SIGKILL);
  EXPECT_EQ(child.Wait(), -1);
  ISAM_ASSERT_OK(IsamLockRecord(t, 1));
  WriteFields(t, {{"Name", "mine"}}, false);
}

TEST_F(ChangedTable, AppendsFromTwoProcessesAtOnceGetDistinctAutoincValues) {
  constexpr int kPerProcess = 150;
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::string folder = folder_.path();
  auto appender = [&](const char* tag) {
    return [&, tag] {
      close(gate[1]);
      IsamHandle t = OpenInChild(folder, "t.adt");
      if (t == 0) return 2;
      char byte;
      if (read(gate[0], &byte, 1) != 0) return 3;  // released when the parent closes the gate
      for (int i = 0; i < kPerProcess; ++i) {
        if (IsamAppendRecord(t) || IsamSetField(t, kCode, tag) || IsamWriteRecord(t)) return 4;
      }
      return 0;
    };
  };
  Child first(appender("p1")), second(appender("p2"));
  close(gate[0]);
  close(gate[1]);
  ASSERT_EQ(first.Wait(), 0);
  ASSERT_EQ(second.Wait(), 0);

  ScopedConnection c(folder_.path());
  IsamHandle t = c.Open("t.adt");
  std::set<std::string> ids;
  std::vector<int64_t> records = WalkForward(t);
  for (int64_t recno : records) {
    ISAM_ASSERT_OK(IsamGotoRecord(t, recno));
    ids.insert(FieldText(t, kId));
  }
  EXPECT_EQ(records.size(), 2u * kPerProcess);
  EXPECT_EQ(ids.size(), 2u * kPerProcess);
}

TEST_F(ChangedTable, RollbackUndoesTheConnectionsWrites) {
  ScopedConnection c(folder_.path());
  IsamHandle t = c.Open("t.adt");
  WriteFields(t, {{"Name", "before"}}, true);

  ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
  uint16_t active = 0;
  ISAM_ASSERT_OK(IsamInTransaction(c.handle(), &active));
  EXPECT_EQ(active, 1);
  EXPECT_EQ(IsamBeginTransaction(c.handle()), uint32_t{ISAM_ERR_TRANSACTION});
  WriteFields(t, {{"Name", "new"}}, true);
  ISAM_ASSERT_OK(IsamGotoRecord(t, 1));
  WriteFields(t, {{"Name", "during"}}, false);
  EXPECT_EQ(Count(t), 2u);
  ISAM_ASSERT_OK(IsamRollbackTransaction(c.handle()));

  EXPECT_EQ(Count(t), 1u);
  ISAM_ASSERT_OK(IsamGotoRecord(t, 1));
  ISAM_ASSERT_OK(IsamRefreshRecord(t));
  EXPECT_EQ(FieldText(t, kName), "before");
  EXPECT_EQ(IsamCommitTransaction(c.handle()), uint32_t{ISAM_ERR_TRANSACTION});
}

TEST_F(ChangedTable, CommittedWritesStayAndOthersSeeThemOnlyAfterCommit) {
  ScopedConnection c(folder_.path()), other(folder_.path());
  IsamHandle t = c.Open("t.adt"), seen = other.Open("t.adt");
  WriteFields(t, {{"Code", "old"}}, true);

  ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
  WriteFields(t, {{"Code", "new"}}, true);
  ISAM_ASSERT_OK(IsamGotoRecord(t, 1));
  WriteFields(t, {{"Name", "edited"}}, false);
  EXPECT_EQ(Count(seen), 1u);
  EXPECT_EQ(IsamGotoRecord(seen, 2), uint32_t{ISAM_ERR_RECORD_NOT_FOUND});
  ISAM_ASSERT_OK(IsamGotoRecord(seen, 1));
  EXPECT_EQ(FieldText(seen, kName), "");
  ISAM_ASSERT_OK(IsamCommitTransaction(c.handle()));

  EXPECT_EQ(Count(seen), 2u);
  IsamHandle by_code = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(seen, "BYCODE", &by_code));
  EXPECT_EQ(WalkForward(by_code), (std::vector<int64_t>{2, 1}));
  ISAM_ASSERT_OK(IsamGotoRecord(seen, 1));
  EXPECT_EQ(FieldText(seen, kName), "edited");
}

}  // namespace
}  // namespace isam::testing

namespace isam::testing {
namespace {

TEST(TransactionLocks, ALockReleasedInsideATransactionIsHeldUntilItEnds) {
  TempFolder folder;
  CreateTable(folder.File("t.adt"), {"Name CHAR(10)"});
  ScopedConnection mine(folder.path()), theirs(folder.path());
  IsamHandle t = mine.Open("t.adt");
  WriteFields(t, {{"Name", "a"}}, true);
  IsamHandle other = theirs.Open("t.adt");
  ISAM_ASSERT_OK(IsamBeginTransaction(mine.handle()));
  ISAM_ASSERT_OK(IsamLockRecord(t, 1));
  WriteFields(t, {{"Name", "b"}}, false);
  ISAM_ASSERT_OK(IsamUnlockRecord(t, 1));
  // The change is not committed: no other handle may lock the record yet.
  EXPECT_EQ(IsamLockRecord(other, 1), uint32_t{ISAM_ERR_RECORD_LOCKED});
  ISAM_ASSERT_OK(IsamCommitTransaction(mine.handle()));
  ISAM_ASSERT_OK(IsamLockRecord(other, 1));
  ISAM_ASSERT_OK(IsamUnlockRecord(other, 1));
  // A write without a lock of its own inside a transaction holds the record the same way.
  ISAM_ASSERT_OK(IsamBeginTransaction(mine.handle()));
  WriteFields(t, {{"Name", "c"}}, false);
  EXPECT_EQ(IsamLockRecord(other, 1), uint32_t{ISAM_ERR_RECORD_LOCKED});
  ISAM_ASSERT_OK(IsamRollbackTransaction(mine.handle()));
  ISAM_ASSERT_OK(IsamLockRecord(other, 1));
  ISAM_ASSERT_OK(IsamGotoRecord(other, 1));
  EXPECT_EQ(FieldText(other, 1), "b");
}

// A file whose own constraint ends the whole transaction when it is broken (ON CONFLICT ROLLBACK):
// the transaction's earlier changes are gone, so its commit must not report them stored. Every
// change and commit is refused until the caller rolls back; then the connection works again.
TEST(TransactionLocks, ATransactionTheFileEndedIsNeverReportedCommitted) {
  TempFolder folder;
  WriteForeignTable(folder.File("u.adt"),
                    "\"Code\" CHAR(4) UNIQUE ON CONFLICT ROLLBACK, \"Name\" CHAR(8)",
                    "INSERT INTO records VALUES (1, 'a', 'x'), (2, 'b', 'y')");
  CreateTable(folder.File("t.adt"), {"Name CHAR(10)"});
  ScopedConnection c(folder.path());
  IsamHandle u = c.Open("u.adt");
  ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
  IsamHandle t = c.Open("t.adt");  // opened inside the transaction: a handle of its own
  WriteFields(t, {{"Name", "other"}}, true);
  ISAM_ASSERT_OK(IsamGotoRecord(u, 1));
  EXPECT_EQ(FieldText(u, 2), "x");
  ISAM_ASSERT_OK(IsamSetField(u, 2, "changed"));
  ISAM_ASSERT_OK(IsamWriteRecord(u));
  IsamHandle w = c.Open("u.adt");
  ISAM_ASSERT_OK(IsamGotoRecord(w, 2));
  ISAM_ASSERT_OK(IsamSetField(w, 1, "a"));  // record 1's code: the file ends the transaction
  EXPECT_NE(IsamWriteRecord(w), uint32_t{ISAM_SUCCESS});
  ISAM_ASSERT_OK(IsamCancelUpdate(w));
  // The handle still stands on record 1, as it wrote it in the ended transaction.
  ISAM_ASSERT_OK(IsamGotoRecord(u, 1));
  EXPECT_EQ(FieldText(u, 2), "x") << "a record read in the ended transaction is read again";
  ISAM_ASSERT_OK(IsamSetField(u, 2, "later"));
  EXPECT_EQ(IsamWriteRecord(u), uint32_t{ISAM_ERR_TRANSACTION});
  EXPECT_NE(LastErrorText().find("roll it back"), std::string::npos) << LastErrorText();
  ISAM_ASSERT_OK(IsamCancelUpdate(u));
  EXPECT_EQ(IsamCommitTransaction(c.handle()), uint32_t{ISAM_ERR_TRANSACTION});
  ISAM_ASSERT_OK(IsamRollbackTransaction(c.handle()));
  uint32_t count = 0;
  ISAM_ASSERT_OK(IsamGetRecordCount(t, ISAM_COUNT_IGNORE_FILTERS, &count));
  EXPECT_EQ(count, 0u) << "the other file's change went with the transaction";
  ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
  ISAM_ASSERT_OK(IsamGotoRecord(u, 1));
  ISAM_ASSERT_OK(IsamSetField(u, 2, "again"));
  ISAM_ASSERT_OK(IsamWriteRecord(u));
  ISAM_ASSERT_OK(IsamCommitTransaction(c.handle()));
  IsamHandle fresh = c.Open("u.adt");
  ISAM_ASSERT_OK(IsamGotoRecord(fresh, 1));
  EXPECT_EQ(FieldText(fresh, 2), "again");
}

// At the transaction's end the locks it held go together, while a lock the caller took and did not
// let go stays, whether taken before the transaction, inside it, or again after an unlock in it.
TEST(TransactionLocks, TheLocksAllGoAtTheEndButThoseTheCallerKeeps) {
  TempFolder folder;
  CreateTable(folder.File("t.adt"), {"Name CHAR(10)"});
  ScopedConnection mine(folder.path()), theirs(folder.path());
  IsamHandle t = mine.Open("t.adt");
  for (int i = 1; i <= 10; ++i) WriteFields(t, {{"Name", "r" + std::to_string(i)}}, true);
  IsamHandle other = theirs.Open("t.adt");
  ISAM_ASSERT_OK(IsamLockRecord(t, 2));  // before the transaction
  ISAM_ASSERT_OK(IsamBeginTransaction(mine.handle()));
  for (uint32_t recno = 1; recno <= 9; ++recno) {
    ISAM_ASSERT_OK(IsamGotoRecord(t, recno));
    WriteFields(t, {{"Name", "w" + std::to_string(recno)}}, false);
  }
  ISAM_ASSERT_OK(IsamLockRecord(t, 5));   // inside it, after its write
  ISAM_ASSERT_OK(IsamLockRecord(t, 10));  // inside it, on a record it did not write
  ISAM_ASSERT_OK(IsamUnlockRecord(t, 7));
  ISAM_ASSERT_OK(IsamLockRecord(t, 7));  // again, after an unlock in it
  ISAM_ASSERT_OK(IsamCommitTransaction(mine.handle()));
  std::vector<uint32_t> kept;
  for (uint32_t recno = 1; recno <= 10; ++recno) {
    IsamResult result = IsamLockRecord(other, recno);
    if (result == ISAM_ERR_RECORD_LOCKED)
      kept.push_back(recno);
    else
      ISAM_ASSERT_OK(result);
  }
  EXPECT_EQ(kept, (std::vector<uint32_t>{2, 5, 7, 10}));
  for (uint32_t recno : kept) ISAM_ASSERT_OK(IsamUnlockRecord(t, recno));
  for (uint32_t recno : kept) ISAM_ASSERT_OK(IsamLockRecord(other, recno));
}

}  // namespace
}  // namespace isam::testing

namespace isam::testing {
namespace {

TEST(Autoincrement, AppendsKeepAnIndexOfTheirOwnWhenNoIndexLeadsWithTheColumn) {
  TempFolder folder;
  CreateTable(folder.File("t.adt"), {"Id AUTOINC", "Name CHAR(10)"});
  {
    ScopedConnection c(folder.path());
    IsamHandle t = c.Open("t.adt");
    WriteFields(t, {{"Name", "a"}}, true);
    WriteFields(t, {{"Name", "b"}}, true);
    EXPECT_EQ(FieldText(t, 1), "2");
    uint16_t indexes = 0;
    ISAM_ASSERT_OK(IsamGetNumIndexes(t, &indexes));
    EXPECT_EQ(indexes, 0) << "the engine's own index is not one of the table's";
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(folder.File("t.adt").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name = '_autoinc_Id'", -1, &stmt,
                     nullptr);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 1);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

}  // namespace
}  // namespace isam::testing

namespace isam::testing {
namespace {

// What a write shows as its record: inside a transaction the row written is told from the values
// bound where the file stores them as bound, and read back otherwise. Either way a handle must
// show what a fresh handle reads from the file: another program's triggers, the columns' own
// conversions of what was bound, and changes made between transactions included. Field 3 is a
// real, field 8 an integer named N and field 10 a text named Note; `texts` holds the texts each
// field is given at random ("" empties it).
void ExpectWrittenRecordsAsStored(const std::vector<std::string>& fields,
                                  const std::vector<std::vector<std::string>>& texts) {
  TempFolder folder;
  std::string path = folder.File("w.adt");
  CreateTable(path, fields, {"BYCODE=Code"});
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("w.adt");
  IsamHandle fresh = c.Open("w.adt");
  std::mt19937 random(2026);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  auto expect_as_stored = [&](const std::string& what) {
    int64_t recno = RecordNumber(t);
    ISAM_ASSERT_OK(IsamGotoRecord(fresh, recno));
    EXPECT_EQ(RecordImageOf(t), RecordImageOf(fresh)) << what << ", record " << recno;
    for (uint16_t f = 1; f <= fields.size(); ++f) {
      EXPECT_EQ(FieldText(t, f), FieldText(fresh, f)) << what << ", field " << f;
    }
  };
  int64_t records = 0;
  for (int round = 0; round < 12; ++round) {
    if (round == 4) {  // another program adds triggers that change what is written
      RunSql(path,
             "CREATE TRIGGER bump AFTER UPDATE ON records BEGIN "
             "UPDATE records SET N = coalesce(N, 0) + 1000 WHERE _recno = new._recno; END;"
             "CREATE TRIGGER stamp AFTER INSERT ON records BEGIN "
             "UPDATE records SET Note = 'inserted' WHERE _recno = new._recno; END;");
    }
    if (round == 8) RunSql(path, "DROP TRIGGER bump; DROP TRIGGER stamp;");
    if (records > 0) {
      // Another program changes records between transactions, the one the handle stands on too.
      RunSql(path, "UPDATE records SET Amount = 99.5 + " + std::to_string(round) +
                       ", Code = 'ext' WHERE _recno IN (1, " +
                       std::to_string(1 + static_cast<int64_t>(pick(records))) + ")");
    }
    ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
    for (int step = 0; step < 40; ++step) {
      bool append = records == 0 || (step > 0 && pick(4) == 0);
      if (append) {
        ISAM_ASSERT_OK(IsamAppendRecord(t));
        // Every field but the number, or every field with it: both ways of appending.
        for (uint16_t f = pick(2) ? 1 : 2; f <= fields.size(); ++f) {
          const std::string& text = texts[f - 1][pick(texts[f - 1].size())];
          if (f == 1) {
            ISAM_ASSERT_OK(IsamSetField(t, f, std::to_string(1000 + records).c_str()));
          } else if (text.empty()) {
            ISAM_ASSERT_OK(IsamSetEmpty(t, f));
          } else {
            ISAM_ASSERT_OK(IsamSetField(t, f, text.c_str()));
          }
        }
        ++records;
      } else {
        // The first edit of a transaction is of the record the handle stands on.
        ISAM_ASSERT_OK(IsamGotoRecord(t, step == 0 ? 1 : 1 + static_cast<int64_t>(pick(records))));
        for (size_t n = 1 + pick(3); n > 0; --n) {
          uint16_t f = static_cast<uint16_t>(step == 0 ? 8 : 2 + pick(fields.size() - 1));
          const std::string& text = texts[f - 1][pick(texts[f - 1].size())];
          if (text.empty()) {
            ISAM_ASSERT_OK(IsamSetEmpty(t, f));
          } else {
            ISAM_ASSERT_OK(IsamSetField(t, f, text.c_str()));
          }
        }
      }
      ISAM_ASSERT_OK(IsamWriteRecord(t));
      expect_as_stored("round " + std::to_string(round) + ", step " + std::to_string(step));
      if (::testing::Test::HasFailure()) return;
    }
    // -0 in a real column is stored as 0.
    ISAM_ASSERT_OK(IsamGotoRecord(t, 1));
    double negative_zero = -0.0;
    ISAM_ASSERT_OK(IsamSetFieldRaw(t, 3, reinterpret_cast<const uint8_t*>(&negative_zero),
                                   sizeof negative_zero));
    ISAM_ASSERT_OK(IsamWriteRecord(t));
    expect_as_stored("-0, round " + std::to_string(round));
    ISAM_ASSERT_OK(IsamCommitTransaction(c.handle()));
  }
}

// Every kind of field, most of whose values the file converts or stores otherwise than bound.
TEST(WrittenRecord, ShowsWhatAFreshReadShowsForEveryKindOfField) {
  ExpectWrittenRecordsAsStored(
      {"Id AUTOINC", "Code CHAR(6)", "Amount DOUBLE", "Price MONEY", "Qty NUMERIC(8,2)",
       "Paid LOGICAL", "Day DATE", "N INTEGER", "Stamp TIMESTAMP", "Note CHAR(12)"},
      {{"7", "900"},
       {"a", "bb", "", "zz"},
       {"1.5", "3", "0", "-2.25", ""},
       {"4", "2.5", "0", ""},
       {"12.5", "3", "", "0.01"},
       {"T", "F", ""},
       {"01/05/2004", ""},
       {"5", "-3", "0", ""},
       {"01/05/2004 10:30:00", ""},
       {"x", "", "note"}});
}

// Fields whose values the file stores as bound, so that edits and whole appends are told
// without reading them back, unless a trigger is there.
TEST(WrittenRecord, ShowsWhatAFreshReadShowsWhereValuesAreStoredAsBound) {
  ExpectWrittenRecordsAsStored(
      {"Id AUTOINC", "Code CHAR(6)", "Amount DOUBLE", "Paid LOGICAL", "Kind CHAR(2)", "Rate DOUBLE",
       "Flag LOGICAL", "N INTEGER", "Count SHORTINT", "Note CHAR(12)"},
      {{"7", "900"},
       {"a", "bb", "zz"},
       {"1.5", "3", "0", "-2.25"},
       {"T", "F"},
       {"x", "yy"},
       {"0.5", "12", "1e6"},
       {"T", "F"},
       {"5", "-3", "0"},
       {"1", "-7"},
       {"x", "note", ""}});
}

// A file whose own constraint drops a record it does not want: the append says so.
TEST(WrittenRecord, AnAppendTheFileDropsIsRefused) {
  TempFolder folder;
  WriteForeignTable(folder.File("u.adt"),
                    "\"Code\" CHAR(4) UNIQUE ON CONFLICT IGNORE, \"N\" INTEGER");
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("u.adt");
  for (bool in_transaction : {false, true}) {
    if (in_transaction) ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
    ISAM_ASSERT_OK(IsamAppendRecord(t));
    ISAM_ASSERT_OK(IsamSetField(t, 1, in_transaction ? "b" : "a"));
    ISAM_ASSERT_OK(IsamSetField(t, 2, "1"));
    ISAM_ASSERT_OK(IsamWriteRecord(t));
    ISAM_ASSERT_OK(IsamAppendRecord(t));
    ISAM_ASSERT_OK(IsamSetField(t, 1, in_transaction ? "b" : "a"));
    ISAM_ASSERT_OK(IsamSetField(t, 2, "2"));
    EXPECT_EQ(IsamWriteRecord(t), uint32_t{ISAM_ERR_INVALID_VALUE});
    EXPECT_NE(LastErrorText().find("not stored in u.adt"), std::string::npos) << LastErrorText();
    ISAM_ASSERT_OK(IsamCancelUpdate(t));
    if (in_transaction) ISAM_ASSERT_OK(IsamCommitTransaction(c.handle()));
  }
  uint32_t count = 0;
  ISAM_ASSERT_OK(IsamGetRecordCount(t, ISAM_COUNT_IGNORE_FILTERS, &count));
  EXPECT_EQ(count, 2u);
}

// A file whose own constraints replace: a unique field given a value another record holds takes
// that record away, and a required field given nothing stores its default. Inside a transaction
// the handles then show what is stored, not what they remembered or what they wrote.
TEST(WrittenRecord, WhatTheFilesReplacingConstraintsDoIsShown) {
  TempFolder folder;
  WriteForeignTable(
      folder.File("u.adt"),
      "\"Code\" CHAR(4) UNIQUE ON CONFLICT REPLACE, \"N\" INTEGER, "
      "\"Name\" CHAR(8) NOT NULL ON CONFLICT REPLACE DEFAULT 'none'",
      "CREATE INDEX \"BYN\" ON records (\"N\"); "
      "INSERT INTO records VALUES (1, 'a', 1, 'x'), (2, 'b', 2, 'y'), (3, 'c', 3, 'z')");
  ScopedConnection c(folder.path());
  IsamHandle walker = c.Open("u.adt");
  IsamHandle by_n = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(walker, "BYN", &by_n));
  IsamHandle writer = c.Open("u.adt");
  ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
  EXPECT_EQ(WalkForward(by_n), (std::vector<int64_t>{1, 2, 3}));
  ISAM_ASSERT_OK(IsamGotoRecord(writer, 3));
  ISAM_ASSERT_OK(IsamSetField(writer, 1, "b"));  // record 2's code: the file drops record 2
  ISAM_ASSERT_OK(IsamWriteRecord(writer));
  EXPECT_EQ(WalkForward(by_n), (std::vector<int64_t>{1, 3}));
  ISAM_ASSERT_OK(IsamGotoRecord(writer, 1));
  ISAM_ASSERT_OK(IsamSetField(writer, 3, ""));
  ISAM_ASSERT_OK(IsamWriteRecord(writer));
  EXPECT_EQ(FieldText(writer, 3), "none");
  ISAM_ASSERT_OK(IsamCommitTransaction(c.handle()));
  IsamHandle fresh = c.Open("u.adt");
  ISAM_ASSERT_OK(IsamGotoRecord(fresh, 1));
  EXPECT_EQ(RecordImageOf(writer), RecordImageOf(fresh));
}

}  // namespace
}  // namespace isam::testing
