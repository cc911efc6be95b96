// Connections: opening and closing them, the kinds of handles, and a connection holding more
// tables than one SQLite handle can attach.
#include <filesystem>
#include <string>
#include <vector>

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

uint16_t KindOf(IsamHandle handle) {
  uint16_t kind = 0;
  EXPECT_EQ(IsamGetHandleType(handle, &kind), 0u) << LastErrorText();
  return kind;
}

TEST(Connection, MissingFolderIsRefused) {
  TempFolder folder;
  IsamHandle connection = 0;
  EXPECT_EQ(IsamConnect(folder.File("absent").c_str(), &connection),
            uint32_t{ISAM_ERR_FOLDER_NOT_FOUND});
  EXPECT_EQ(connection, 0u);
  EXPECT_NE(LastErrorText().find("absent"), std::string::npos) << LastErrorText();
}

TEST(Connection, SecondDisconnectReportsAlreadyDisconnected) {
  TempFolder folder;
  IsamHandle connection = 0;
  ISAM_ASSERT_OK(IsamConnect(folder.path().c_str(), &connection));
  ISAM_ASSERT_OK(IsamDisconnect(connection));
  EXPECT_EQ(IsamDisconnect(connection), uint32_t{ISAM_ERR_ALREADY_DISCONNECTED});
}

TEST(Connection, HandlesAnswerTheirKindAndDieWithTheirConnection) {
  TempFolder folder;
  CreateTable(folder.File("t.adt"), {"Code CHAR(4)"}, {"BYCODE=Code"});
  IsamHandle connection = 0, t = 0, index = 0;
  ISAM_ASSERT_OK(IsamConnect(folder.path().c_str(), &connection));
  ISAM_ASSERT_OK(IsamOpenTable(connection, "t.adt", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                               ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &t));
  ISAM_ASSERT_OK(IsamGetIndexHandle(t, "BYCODE", &index));
  EXPECT_EQ(KindOf(connection), ISAM_HANDLE_CONNECTION);
  EXPECT_EQ(KindOf(t), ISAM_HANDLE_TABLE);
  EXPECT_EQ(KindOf(index), ISAM_HANDLE_INDEX);
  // A handle of the wrong kind is refused like an unknown one.
  EXPECT_EQ(IsamGotoTop(connection), uint32_t{ISAM_ERR_INVALID_HANDLE});
  EXPECT_EQ(IsamInitRawKey(t), uint32_t{ISAM_ERR_INVALID_HANDLE});
  WriteFields(t, {{"Code", "a"}}, true);
  ISAM_ASSERT_OK(IsamLockRecord(t, 1));
  ISAM_ASSERT_OK(IsamDisconnect(connection));

  uint16_t kind = 0;
  uint32_t count = 0;
  for (IsamHandle handle : {connection, t, index}) {
    EXPECT_EQ(IsamGetHandleType(handle, &kind), uint32_t{ISAM_ERR_INVALID_HANDLE});
  }
  EXPECT_EQ(IsamGotoTop(t), uint32_t{ISAM_ERR_INVALID_HANDLE});
  EXPECT_EQ(IsamSkip(index, 1), uint32_t{ISAM_ERR_INVALID_HANDLE});
  EXPECT_EQ(IsamGetRecordCount(index, 2, &count), uint32_t{ISAM_ERR_INVALID_HANDLE});
  EXPECT_EQ(IsamSetField(t, 1, "b"), uint32_t{ISAM_ERR_INVALID_HANDLE});
  EXPECT_EQ(IsamCloseTable(t), uint32_t{ISAM_ERR_INVALID_HANDLE});
  EXPECT_EQ(IsamOpenTable(connection, "t.adt", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                          ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &t),
            uint32_t{ISAM_ERR_INVALID_HANDLE});

  // The closed table's record lock went with it.
  ScopedConnection again(folder.path());
  ISAM_ASSERT_OK(IsamLockRecord(again.Open("t.adt"), 1));
}

// Fourteen tables on one connection: more than one SQLite handle can attach.
class ManyTables : public ::testing::Test {
 protected:
  static constexpr int kTables = 14;
  void SetUp() override {
    CreateTable(folder_.File(Name(0)), {"Id AUTOINC", "Code CHAR(8)"}, {"BYCODE=Code"});
    for (int i = 1; i <= kTables; ++i) {
      std::filesystem::copy_file(folder_.File(Name(0)), folder_.File(Name(i)));
    }
    for (int i = 0; i < kTables; ++i) tables_.push_back(connection_.Open(Name(i)));
  }
  static std::string Name(int i) { return "table" + std::to_string(i) + ".adt"; }

  uint32_t Count(IsamHandle t) {
    uint32_t count = 0;
    EXPECT_EQ(IsamGetRecordCount(t, ISAM_COUNT_IGNORE_FILTERS, &count), 0u) << LastErrorText();
    return count;
  }

  TempFolder folder_;
  ScopedConnection connection_{folder_.path()};
  std::vector<IsamHandle> tables_;
};

TEST_F(ManyTables, EveryTableIsReadableAndWritable) {
  for (int i = 0; i < kTables; ++i) {
    WriteFields(tables_[i], {{"Code", "t" + std::to_string(i)}}, true);
    WriteFields(tables_[i], {{"Code", "a"}}, true);
  }
  for (int i = 0; i < kTables; ++i) {
    IsamHandle index = 0;
    ISAM_ASSERT_OK(IsamGetIndexHandle(tables_[i], "BYCODE", &index));
    EXPECT_EQ(WalkForward(index), (std::vector<int64_t>{2, 1})) << Name(i);
    ISAM_ASSERT_OK(IsamGotoRecord(tables_[i], 1));
    EXPECT_EQ(FieldText(tables_[i], 2), "t" + std::to_string(i));
  }
}

TEST_F(ManyTables, TransactionSpansEveryTable) {
  for (IsamHandle t : tables_) WriteFields(t, {{"Code", "kept"}}, true);

  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  for (IsamHandle t : tables_) WriteFields(t, {{"Code", "undone"}}, true);
  ISAM_ASSERT_OK(IsamRollbackTransaction(connection_.handle()));
  for (int i = 0; i < kTables; ++i) EXPECT_EQ(Count(tables_[i]), 1u) << Name(i);

  ScopedConnection other(folder_.path());
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  for (IsamHandle t : tables_) WriteFields(t, {{"Code", "done"}}, true);
  for (int i = 0; i < kTables; i += 5) EXPECT_EQ(Count(other.Open(Name(i))), 1u) << Name(i);
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
  for (int i = 0; i < kTables; ++i) {
    EXPECT_EQ(Count(tables_[i]), 2u) << Name(i);
    EXPECT_EQ(Count(other.Open(Name(i))), 2u) << Name(i);
  }
}

TEST_F(ManyTables, TablesOpenedInsideATransactionJoinIt) {
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  IsamHandle late = connection_.Open(Name(kTables));  // opened for the first time
  WriteFields(late, {{"Code", "undone"}}, true);
  WriteFields(tables_[0], {{"Code", "undone"}}, true);
  // Closed and opened again while the transaction runs.
  ISAM_ASSERT_OK(IsamCloseTable(tables_[0]));
  IsamHandle again = connection_.Open(Name(0));
  if (again) WriteFields(again, {{"Code", "undone"}}, true);
  ISAM_ASSERT_OK(IsamRollbackTransaction(connection_.handle()));
  EXPECT_EQ(Count(late), 0u);
  EXPECT_EQ(Count(again ? again : connection_.Open(Name(0))), 0u);
}

}  // namespace
}  // namespace isam::testing
