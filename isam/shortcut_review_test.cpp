// Moves the read shortcuts could serve from memory, each checked against what a fresh handle reads
// from the file: scopes changed between moves, other programs changing the file between our
// reads, transactions cut short.
#include <sqlite3.h>

#include <string>
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

  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(folder.File("T.adt").c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM records;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  ASSERT_EQ(IsamCommitTransaction(connection.handle()), uint32_t{ISAM_ERR_BUSY});
  RunSql(folder.File("U.adt"), "UPDATE records SET Name = 'elsewhere' WHERE _recno = 1");

  ISAM_ASSERT_OK(IsamGotoTop(u_by_code));
  EXPECT_EQ(FieldText(u_by_code, 2), "elsewhere") << "the first record met again";
  ISAM_ASSERT_OK(IsamGotoRecord(u_by_code, 1));
  EXPECT_EQ(FieldText(u_by_code, 2), "elsewhere") << "the current record met again";

  ASSERT_EQ(sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(reader);
  ISAM_ASSERT_OK(IsamCommitTransaction(connection.handle()));
}

}  // namespace
}  // namespace isam::testing
