// Connections to folders on a network filesystem (played by recorded mount-table answers): the
// connection kind, tables taken from every other program while open for changes (on a FUSE mount
// of an unknown kind too), no write-ahead mode, and no changes at all where the mount keeps locks
// on this computer.
#include <sqlite3.h>

#include <string>

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

uint16_t ConnectionType(IsamHandle connection) {
  uint16_t type = 0;
  EXPECT_EQ(IsamGetConnectionType(connection, &type), 0u) << LastErrorText();
  return type;
}

IsamResult OpenTable(IsamHandle connection, const char* name, uint32_t mode, IsamHandle* table) {
  return IsamOpenTable(connection, name, nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                       ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, mode, table);
}

std::string JournalModeOf(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &stmt, nullptr);
  std::string mode = sqlite3_step(stmt) == SQLITE_ROW
                         ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
                         : "";
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return mode;
}

class NetworkFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTableFile(folder_.File("t.adt"), {"Code CHAR(4)"}, {"BYCODE=Code"}, JournalMode::kWal);
    ScopedConnection writer(folder_.path());
    WriteFields(writer.Open("t.adt"), {{"Code", "a"}}, true);
    RunSql(folder_.File("t.adt"), "PRAGMA journal_mode=WAL");
  }
  TempFolder folder_;
};

TEST_F(NetworkFolder, ThisMachinesFolderIsLocal) {
  ScopedConnection local(folder_.path());
  EXPECT_EQ(ConnectionType(local.handle()), uint16_t{ISAM_SERVER_LOCAL});
}

TEST_F(NetworkFolder, IsARemoteConnectionWhoseTablesLeaveWriteAheadMode) {
  FakeNetworkFolder nfs(folder_.path(), "nfs4", "rw,vers=4.2,hard,local_lock=none");
  ScopedConnection remote(folder_.path());
  EXPECT_EQ(ConnectionType(remote.handle()), uint16_t{ISAM_SERVER_REMOTE});
  IsamHandle t = remote.Open("t.adt");
  WriteFields(t, {{"Code", "b"}}, true);
  ISAM_ASSERT_OK(IsamBeginTransaction(remote.handle()));
  WriteFields(t, {{"Code", "c"}}, true);
  ISAM_ASSERT_OK(IsamCommitTransaction(remote.handle()));
  EXPECT_EQ(JournalModeOf(folder_.File("t.adt")), "delete");
  // Reading leaves another program's file as it is.
  RunSql(folder_.File("t.adt"), "PRAGMA journal_mode=WAL");
  ISAM_ASSERT_OK(IsamCloseTable(t));
  IsamHandle reader = remote.Open("t.adt", ISAM_OPEN_READ_ONLY);
  uint32_t count = 0;
  ISAM_ASSERT_OK(IsamGetRecordCount(reader, ISAM_COUNT_IGNORE_FILTERS, &count));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(JournalModeOf(folder_.File("t.adt")), "wal");
}

TEST_F(NetworkFolder, ATableOpenForChangesIsThisProgramsAlone) {
  // Another program, which takes the folder for a local one, has the table open for changes.
  auto other = std::make_unique<ScopedConnection>(folder_.path());
  IsamHandle others_table = other->Open("t.adt");
  FakeNetworkFolder cifs(folder_.path(), "cifs", "rw,vers=3.1.1,cache=strict");
  ScopedConnection remote(folder_.path());
  IsamHandle t = 0;
  EXPECT_EQ(OpenTable(remote.handle(), "t.adt", 0, &t), uint32_t{ISAM_ERR_TABLE_IN_USE});
  EXPECT_NE(LastErrorText().find("t.adt is open in another program"), std::string::npos)
      << LastErrorText();
  // Reading stays allowed.
  ISAM_ASSERT_OK(OpenTable(remote.handle(), "t.adt", ISAM_OPEN_READ_ONLY, &t));
  ISAM_ASSERT_OK(IsamCloseTable(t));
  ISAM_ASSERT_OK(IsamCloseTable(others_table));

  // Now this program has it: every handle of its own shares the table, still locking records
  // against each other; the other program can neither open it for changes nor exclusively.
  IsamHandle first = remote.Open("t.adt");
  ScopedConnection dialog(folder_.path());
  IsamHandle second = dialog.Open("t.adt");
  ISAM_ASSERT_OK(IsamLockRecord(first, 1));
  EXPECT_EQ(IsamLockRecord(second, 1), uint32_t{ISAM_ERR_RECORD_LOCKED});
  ISAM_ASSERT_OK(IsamUnlockRecord(first, 1));
  EXPECT_EQ(OpenTable(other->handle(), "t.adt", 0, &t), uint32_t{ISAM_ERR_TABLE_IN_USE});
  EXPECT_EQ(OpenTable(other->handle(), "t.adt", ISAM_OPEN_EXCLUSIVE, &t),
            uint32_t{ISAM_ERR_TABLE_IN_USE});
  ISAM_ASSERT_OK(OpenTable(other->handle(), "t.adt", ISAM_OPEN_READ_ONLY, &t));
  ISAM_ASSERT_OK(IsamCloseTable(t));

  // Held until the last handle closes.
  ISAM_ASSERT_OK(IsamCloseTable(first));
  EXPECT_EQ(OpenTable(other->handle(), "t.adt", 0, &t), uint32_t{ISAM_ERR_TABLE_IN_USE});
  ISAM_ASSERT_OK(IsamCloseTable(second));
  ISAM_ASSERT_OK(OpenTable(other->handle(), "t.adt", 0, &t));
  // An exclusive open here is refused while the other program has it, and works once it is gone.
  EXPECT_EQ(OpenTable(remote.handle(), "t.adt", ISAM_OPEN_EXCLUSIVE, &first),
            uint32_t{ISAM_ERR_TABLE_IN_USE});
  other.reset();
  ISAM_ASSERT_OK(OpenTable(remote.handle(), "t.adt", ISAM_OPEN_EXCLUSIVE, &first));
  EXPECT_EQ(OpenTable(dialog.handle(), "t.adt", 0, &second), uint32_t{ISAM_ERR_TABLE_IN_USE});
}

TEST_F(NetworkFolder, AFuseMountOfAnUnknownKindIsOneToo) {
  // The same sshfs server mounted under a name of its own: not known to keep locks here alone,
  // so changes are allowed, but only with the table held against every other program.
  auto other = std::make_unique<ScopedConnection>(folder_.path());
  IsamHandle others_table = other->Open("t.adt");
  FakeNetworkFolder netdrive(folder_.path(), "fuse.netdrive", "rw,user_id=1000,group_id=1000");
  ScopedConnection remote(folder_.path());
  EXPECT_EQ(ConnectionType(remote.handle()), uint16_t{ISAM_SERVER_REMOTE});
  IsamHandle t = 0;
  EXPECT_EQ(OpenTable(remote.handle(), "t.adt", 0, &t), uint32_t{ISAM_ERR_TABLE_IN_USE});
  ISAM_ASSERT_OK(IsamCloseTable(others_table));
  t = remote.Open("t.adt");
  WriteFields(t, {{"Code", "b"}}, true);
  EXPECT_EQ(OpenTable(other->handle(), "t.adt", 0, &others_table), uint32_t{ISAM_ERR_TABLE_IN_USE});
}

TEST_F(NetworkFolder, WhereLocksStayOnThisComputerNothingIsChanged) {
  for (const auto& [type, options, named] :
       {std::tuple<const char*, const char*, const char*>{"cifs", "rw,vers=3.0,nobrl", "nobrl"},
        {"nfs", "rw,vers=3,nolock,local_lock=all", "nolock"},
        {"fuse.sshfs", "rw,user_id=1000", "sshfs"}}) {
    SCOPED_TRACE(type);
    FakeNetworkFolder mount(folder_.path(), type, options);
    ScopedConnection remote(folder_.path());
    EXPECT_EQ(ConnectionType(remote.handle()), uint16_t{ISAM_SERVER_REMOTE});
    IsamHandle t = remote.Open("t.adt");
    EXPECT_EQ(IsamAppendRecord(t), 0u);
    EXPECT_EQ(IsamSetField(t, 1, "x"), 0u);
    EXPECT_EQ(IsamWriteRecord(t), uint32_t{ISAM_ERR_NOT_SUPPORTED});
    std::string text = LastErrorText();
    for (const std::string& part :
         {folder_.path(), std::string(type), std::string(named), std::string("rivenoak backup")}) {
      EXPECT_NE(text.find(part), std::string::npos) << part << " not in: " << text;
    }
    ISAM_ASSERT_OK(IsamCancelUpdate(t));
    ISAM_ASSERT_OK(IsamGotoTop(t));
    EXPECT_EQ(IsamSetField(t, 1, "y"), 0u);
    EXPECT_EQ(IsamWriteRecord(t), uint32_t{ISAM_ERR_NOT_SUPPORTED});
    ISAM_ASSERT_OK(IsamCancelUpdate(t));
    IsamHandle statement = 0, cursor = 0;
    ISAM_ASSERT_OK(IsamCreateSQLStatement(remote.handle(), &statement));
    ISAM_ASSERT_OK(IsamPrepareSQL(statement, "UPDATE t.adt SET Code = 'z'"));
    EXPECT_EQ(IsamExecuteSQL(statement, &cursor), uint32_t{ISAM_ERR_NOT_SUPPORTED});
    ISAM_ASSERT_OK(IsamCloseSQLStatement(statement));
    // Reading still works, and the table is as it was.
    EXPECT_EQ(WalkForward(t).size(), 1u);
    ISAM_ASSERT_OK(IsamGotoTop(t));
    EXPECT_EQ(FieldText(t, 1), "a");
  }
}

}  // namespace
}  // namespace isam::testing
