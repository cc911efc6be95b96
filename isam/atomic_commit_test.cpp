// What a failure in the middle of a commit over two table files leaves behind: a process killed
// at any file operation of the commit, or a disk that fills up, leaves both files changed or
// neither, and every file whole. Also the savepoints that units of change nest in a transaction.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "isam/testing/fault_vfs.h"
#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

constexpr int kRecords = 40;
constexpr int kAppended = 5;
constexpr int kKilledExitCode = 86;  // as FaultVfs ends a process

// Two tables of kRecords records each, Amount 1 everywhere.
void MakePair(const TempFolder& folder) {
  for (const char* name : {"A.adt", "B.adt"}) {
    CreateTable(folder.File(name), {"Id INTEGER", "Amount DOUBLE", "Note CHAR(200)"},
                {"PRIMARY=Id"});
    ScopedConnection connection(folder.path());
    IsamHandle table = connection.Open(name);
    for (int i = 1; i <= kRecords; ++i) {
      WriteFields(table, {{"Id", std::to_string(i)}, {"Amount", "1"}, {"Note", "first"}}, true);
    }
  }
}

// One transaction: every record of A gets Amount 2, B gets kAppended more records. Returns the
// first failing result; the transaction is rolled back then.
IsamResult ChangeBoth(const std::string& folder) {
  IsamHandle connection = 0, a = 0, b = 0;
  IsamResult rc = IsamConnect(folder.c_str(), &connection);
  if (rc != ISAM_SUCCESS) return rc;
  auto run = [&]() -> IsamResult {
    if (IsamResult r =
            IsamOpenTable(connection, "A.adt", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                          ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &a))
      return r;
    if (IsamResult r =
            IsamOpenTable(connection, "B.adt", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                          ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &b))
      return r;
    if (IsamResult r = IsamBeginTransaction(connection)) return r;
    for (uint32_t recno = 1; recno <= kRecords; ++recno) {
      if (IsamResult r = IsamGotoRecord(a, recno)) return r;
      if (IsamResult r = IsamSetField(a, 2, "2")) return r;
      if (IsamResult r = IsamWriteRecord(a)) return r;
    }
    for (int i = 1; i <= kAppended; ++i) {
      if (IsamResult r = IsamAppendRecord(b)) return r;
      if (IsamResult r = IsamSetField(b, 1, std::to_string(kRecords + i).c_str())) return r;
      if (IsamResult r = IsamSetField(b, 3, std::string(200, 'x').c_str())) return r;
      if (IsamResult r = IsamWriteRecord(b)) return r;
    }
    return IsamCommitTransaction(connection);
  };
  rc = run();
  uint16_t open = 0;
  if (IsamInTransaction(connection, &open) == ISAM_SUCCESS && open) {
    IsamRollbackTransaction(connection);
  }
  IsamDisconnect(connection);
  return rc;
}

// A number read with a plain SQLite handle, as any program would read it (which also rolls back
// a journal that a broken commit left).
double Scalar(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* stmt = nullptr;
  double value = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    value =
        sqlite3_column_type(stmt, 0) == SQLITE_TEXT
            ? (std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) == "ok" ? 1
                                                                                                : 0)
            : sqlite3_column_double(stmt, 0);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

enum class Outcome { kNeither, kBoth, kTorn };

// Checks both files whole, and says which of the two states they are in.
Outcome Inspect(const TempFolder& folder) {
  for (const char* name : {"A.adt", "B.adt"}) {
    EXPECT_EQ(Scalar(folder.File(name), "PRAGMA integrity_check"), 1) << name;
  }
  double sum = Scalar(folder.File("A.adt"), "SELECT total(Amount) FROM records");
  double rows = Scalar(folder.File("B.adt"), "SELECT count(*) FROM records");
  if (sum == kRecords && rows == kRecords) return Outcome::kNeither;
  if (sum == 2 * kRecords && rows == kRecords + kAppended) return Outcome::kBoth;
  ADD_FAILURE() << "A sums to " << sum << ", B has " << rows << " records";
  return Outcome::kTorn;
}

TEST(AtomicCommit, AProcessKilledAtAnyFileOperationOfACommitLeavesBothFilesChangedOrNeither) {
  int kills = 0, neither = 0, both = 0;
  for (int at = 1;; ++at) {
    ASSERT_LT(at, 1000) << "the commit never ended";
    TempFolder folder;
    MakePair(folder);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FaultVfs vfs;
      vfs.Arm(at, Fault::kKillProcess);
      _exit(ChangeBoth(folder.path()) == ISAM_SUCCESS ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    Outcome outcome = Inspect(folder);
    if (WEXITSTATUS(status) == 0) {
      EXPECT_EQ(outcome, Outcome::kBoth);
      break;
    }
    ASSERT_EQ(WEXITSTATUS(status), kKilledExitCode) << "the change failed before the kill";
    ++kills;
    (outcome == Outcome::kNeither ? neither : both) += 1;
  }
  std::printf("killed at %d file operations: %d left neither file changed, %d both\n", kills,
              neither, both);
  EXPECT_GT(neither, 0);
  EXPECT_GT(both, 0);
}

TEST(AtomicCommit, ADiskFillingUpAtAnyWriteOfACommitChangesNeitherFileAndSaysSo) {
  int faults = 0;
  for (int at = 1;; ++at) {
    ASSERT_LT(at, 1000) << "the commit never ended";
    TempFolder folder;
    MakePair(folder);
    IsamResult rc = ISAM_SUCCESS;
    bool fired = false;
    {
      FaultVfs vfs;
      vfs.Arm(at, Fault::kDiskFull);
      rc = ChangeBoth(folder.path());
      fired = vfs.fired();
    }
    if (!fired) {
      EXPECT_EQ(rc, ISAM_SUCCESS) << LastErrorText();
      EXPECT_EQ(Inspect(folder), Outcome::kBoth);
      break;
    }
    ++faults;
    EXPECT_EQ(rc, uint32_t{ISAM_ERR_DISK_FULL}) << "write " << at << ": " << LastErrorText();
    EXPECT_EQ(Inspect(folder), Outcome::kNeither) << "write " << at;
  }
  std::printf("a full disk at %d writes: every one refused, neither file changed\n", faults);
}

// A file opened inside a transaction is committed on its own handle, after the others. When
// another program's read keeps it busy past the wait, the commit fails with the others already
// stored; until it is committed again or rolled back, no change and no savepoint may land outside
// it. (Slow: the commit waits out the engine's busy timeout.)
TEST(AtomicCommit, ACommitCutShortByABusyFileTakesNoChangeUntilItIsDone) {
  TempFolder folder;
  for (const char* name : {"U.adt", "T.adt"}) CreateTable(folder.File(name), {"Name CHAR(10)"});
  ScopedConnection connection(folder.path());
  IsamHandle u = connection.Open("U.adt");
  ISAM_ASSERT_OK(IsamBeginTransaction(connection.handle()));
  IsamHandle t = connection.Open("T.adt");
  WriteFields(u, {{"Name", "first"}}, true);
  WriteFields(t, {{"Name", "first"}}, true);
  ReadingProgram reader(folder.File("T.adt"));
  EXPECT_EQ(IsamCommitTransaction(connection.handle()), uint32_t{ISAM_ERR_BUSY});
  EXPECT_EQ(IsamSavepoint(connection.handle()), uint32_t{ISAM_ERR_TRANSACTION});
  EXPECT_NE(LastErrorText().find("partly committed"), std::string::npos) << LastErrorText();
  ISAM_ASSERT_OK(IsamAppendRecord(u));
  ISAM_ASSERT_OK(IsamSetField(u, 1, "outside"));
  EXPECT_EQ(IsamWriteRecord(u), uint32_t{ISAM_ERR_TRANSACTION});
  ISAM_ASSERT_OK(IsamCancelUpdate(u));
  reader.End();
  ISAM_ASSERT_OK(IsamCommitTransaction(connection.handle()));
  EXPECT_EQ(Scalar(folder.File("U.adt"), "SELECT count(*) FROM records"), 1);
  EXPECT_EQ(Scalar(folder.File("T.adt"), "SELECT count(*) FROM records"), 1);
  // The connection works on as before.
  ISAM_ASSERT_OK(IsamBeginTransaction(connection.handle()));
  WriteFields(u, {{"Name", "second"}}, true);
  ISAM_ASSERT_OK(IsamCommitTransaction(connection.handle()));
  EXPECT_EQ(Scalar(folder.File("U.adt"), "SELECT count(*) FROM records"), 2);
}

TEST(Savepoints, RollingBackToAMarkUndoesEveryFileSinceItAndReleasingKeeps) {
  TempFolder folder;
  MakePair(folder);
  {
    ScopedConnection connection(folder.path());
    IsamHandle a = connection.Open("A.adt"), b = connection.Open("B.adt");
    EXPECT_EQ(IsamSavepoint(connection.handle()), uint32_t{ISAM_ERR_TRANSACTION});
    ISAM_ASSERT_OK(IsamBeginTransaction(connection.handle()));
    auto set_amount = [&](IsamHandle table, uint32_t recno, const char* value) {
      ISAM_ASSERT_OK(IsamGotoRecord(table, recno));
      ISAM_ASSERT_OK(IsamSetField(table, 2, value));
      ISAM_ASSERT_OK(IsamWriteRecord(table));
    };
    set_amount(a, 1, "10");
    ISAM_ASSERT_OK(IsamSavepoint(connection.handle()));
    set_amount(a, 2, "20");
    ISAM_ASSERT_OK(IsamSavepoint(connection.handle()));
    set_amount(b, 1, "30");
    ISAM_ASSERT_OK(IsamReleaseSavepoint(connection.handle()));  // keeps B's change in the outer
    ISAM_ASSERT_OK(IsamSavepoint(connection.handle()));
    set_amount(b, 2, "40");
    ISAM_ASSERT_OK(IsamRollbackToSavepoint(connection.handle()));  // undoes B record 2 only
    ISAM_ASSERT_OK(IsamRollbackToSavepoint(connection.handle()));  // undoes A 2 and B 1
    EXPECT_EQ(IsamRollbackToSavepoint(connection.handle()), uint32_t{ISAM_ERR_TRANSACTION});
    ISAM_ASSERT_OK(IsamCommitTransaction(connection.handle()));
  }
  EXPECT_EQ(Scalar(folder.File("A.adt"), "SELECT total(Amount) FROM records"), kRecords + 9);
  EXPECT_EQ(Scalar(folder.File("B.adt"), "SELECT total(Amount) FROM records"), kRecords);
}

}  // namespace
}  // namespace isam::testing
