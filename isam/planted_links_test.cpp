// Symbolic links planted in a shared practice folder by someone who may write there: in the
// place of a table file, its lock file, or a file SQLite keeps beside it. The engine opens,
// creates and copies through none of them, names the link in its refusal (a link planted while
// the table is open stops the write that would use it), and creates nothing where a link leads;
// a folder reached through a link of the user's own still works.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "isam/table_files.h"
#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

IsamResult OpenTable(IsamHandle connection, const std::string& name, uint32_t mode) {
  IsamHandle table = 0;
  return IsamOpenTable(connection, name.c_str(), nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                       ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, mode, &table);
}

IsamResult RunStatement(IsamHandle connection, const std::string& text) {
  IsamHandle statement = 0;
  IsamHandle cursor = 0;
  IsamResult rc = IsamCreateSQLStatement(connection, &statement);
  if (rc == 0) rc = IsamPrepareSQL(statement, text.c_str());
  if (rc == 0) rc = IsamExecuteSQL(statement, &cursor);
  return rc;
}

// The text of the ISAM_ERR_IO that `body` throws through the table-file interface; empty when it
// throws none.
template <typename Body>
std::string TableFileRefusal(Body&& body) {
  try {
    body();
  } catch (const TableFileError& error) {
    EXPECT_EQ(error.code(), uint32_t{ISAM_ERR_IO});
    return error.what();
  }
  return "";
}

// The text names the planted link and says what it is.
void ExpectRefusalNaming(const std::string& text, const std::string& link) {
  EXPECT_NE(text.find(link), std::string::npos) << text;
  EXPECT_NE(text.find("symbolic link"), std::string::npos) << text;
}

class PlantedLink : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTableFile(folder_.File("MWTRN.ADT"), {"Code CHAR(4)"}, {}, JournalMode::kRollback);
    RunSql(folder_.File("MWTRN.ADT"), "INSERT INTO records (Code) VALUES ('a')");
  }
  // Where the attacker's links lead: a file of the user's that does not exist yet.
  std::string Target() const { return elsewhere_.File("target"); }

  TempFolder folder_;
  TempFolder elsewhere_;
};

TEST_F(PlantedLink, InTheLockFilesPlaceIsRefusedAndCreatesNothing) {
  const std::string lock = folder_.File("MWTRN.ADT.lck");
  ASSERT_EQ(symlink(Target().c_str(), lock.c_str()), 0);
  ScopedConnection connection(folder_.path());
  // A read-only handle takes no locks and leaves the lock file alone.
  for (uint32_t mode : {uint32_t{ISAM_OPEN_SHARED}, uint32_t{ISAM_OPEN_EXCLUSIVE}}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(OpenTable(connection.handle(), "MWTRN.ADT", mode), uint32_t{ISAM_ERR_IO});
    ExpectRefusalNaming(LastErrorText(), lock);
    EXPECT_FALSE(Exists(Target()));
  }
  // In a network folder the table's hold is taken first, from the same file.
  FakeNetworkFolder cifs(folder_.path(), "cifs", "rw,vers=3.1.1");
  ScopedConnection remote(folder_.path());
  EXPECT_EQ(OpenTable(remote.handle(), "MWTRN.ADT", ISAM_OPEN_SHARED), uint32_t{ISAM_ERR_IO});
  ExpectRefusalNaming(LastErrorText(), lock);
  EXPECT_EQ(IsamCheckTableFree(folder_.path().c_str(), "MWTRN.ADT"), uint32_t{ISAM_ERR_IO});
  EXPECT_FALSE(Exists(Target()));
}

TEST_F(PlantedLink, ALockFileThatIsNoPlainFileIsRefused) {
  const std::string lock = folder_.File("MWTRN.ADT.lck");
  ASSERT_EQ(mkfifo(lock.c_str(), 0666), 0);
  ScopedConnection connection(folder_.path());
  EXPECT_EQ(OpenTable(connection.handle(), "MWTRN.ADT", ISAM_OPEN_SHARED), uint32_t{ISAM_ERR_IO});
  std::string text = LastErrorText();
  EXPECT_NE(text.find(lock), std::string::npos) << text;
  EXPECT_NE(text.find("not a plain file"), std::string::npos) << text;
}

TEST_F(PlantedLink, InTheTableFilesPlaceIsRefusedByEveryWayIn) {
  // The link leads to a real table, one the user may write, in another folder.
  WriteTableFile(Target(), {"Code CHAR(4)"}, {}, JournalMode::kRollback);
  const std::string link = folder_.File("MWTRNX.ADT");
  ASSERT_EQ(symlink(Target().c_str(), link.c_str()), 0);
  ScopedConnection connection(folder_.path());
  for (uint32_t mode : {uint32_t{ISAM_OPEN_SHARED}, uint32_t{ISAM_OPEN_READ_ONLY}}) {
    EXPECT_EQ(OpenTable(connection.handle(), "MWTRNX.ADT", mode), uint32_t{ISAM_ERR_IO});
    ExpectRefusalNaming(LastErrorText(), link);
  }
  EXPECT_EQ(OpenTable(connection.handle(), link, ISAM_OPEN_SHARED), uint32_t{ISAM_ERR_IO});
  EXPECT_NE(RunStatement(connection.handle(), "INSERT INTO MWTRNX.ADT (Code) VALUES ('x')"), 0u);
  ExpectRefusalNaming(LastErrorText(), link);
  EXPECT_EQ(IsamCheckTableFree(folder_.path().c_str(), "MWTRNX.ADT"), uint32_t{ISAM_ERR_IO});

  ExpectRefusalNaming(TableFileRefusal([&] { TableFileReader reader(link); }), link);
  EXPECT_FALSE(Exists(Target() + ".lck"));
  EXPECT_FALSE(Exists(Target() + "-journal"));
}

TEST_F(PlantedLink, WhereATableIsToBeMadeNothingIsMadeThroughIt) {
  const std::string link = folder_.File("NEW.ADT");
  ASSERT_EQ(symlink(Target().c_str(), link.c_str()), 0);
  const char* fields[] = {"Code CHAR(4)"};
  EXPECT_EQ(IsamCreateTable(link.c_str(), 1, fields, 0, nullptr), uint32_t{ISAM_ERR_IO});
  ExpectRefusalNaming(LastErrorText(), link);
  EXPECT_FALSE(Exists(Target()));

  ExpectRefusalNaming(TableFileRefusal([&] { TableFileWriter writer(link); }), link);
  EXPECT_FALSE(Exists(Target()));
}

TEST_F(PlantedLink, BesideTheTableNothingIsWrittenThroughIt) {
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    SCOPED_TRACE(suffix);
    const std::string side = folder_.File("MWTRN.ADT") + suffix;
    ASSERT_EQ(symlink(Target().c_str(), side.c_str()), 0);
    {
      ScopedConnection connection(folder_.path());
      EXPECT_EQ(OpenTable(connection.handle(), "MWTRN.ADT", ISAM_OPEN_SHARED),
                uint32_t{ISAM_ERR_IO});
      ExpectRefusalNaming(LastErrorText(), side);
      EXPECT_NE(RunStatement(connection.handle(), "DELETE FROM MWTRN.ADT"), 0u);
      ExpectRefusalNaming(LastErrorText(), side);
    }
    ExpectRefusalNaming(
        TableFileRefusal([&] { TableFileWriter writer(folder_.File("MWTRN.ADT")); }), side);
    EXPECT_FALSE(Exists(Target()));
    ASSERT_EQ(unlink(side.c_str()), 0);
  }
  // With the links gone the table is whole and opens for changes.
  ScopedConnection connection(folder_.path());
  IsamHandle table = connection.Open("MWTRN.ADT");
  uint32_t count = 0;
  ISAM_ASSERT_OK(IsamGetRecordCount(table, ISAM_COUNT_IGNORE_FILTERS, &count));
  EXPECT_EQ(count, 1u);
}

TEST_F(PlantedLink, BesideATableAlreadyOpenItStopsTheWriteThatWouldUseIt) {
  ScopedConnection connection(folder_.path());
  IsamHandle table = connection.Open("MWTRN.ADT");
  const std::string journal = folder_.File("MWTRN.ADT-journal");
  ASSERT_EQ(symlink(Target().c_str(), journal.c_str()), 0);
  ISAM_ASSERT_OK(IsamAppendRecord(table));
  ISAM_ASSERT_OK(IsamSetField(table, 1, "b"));
  EXPECT_EQ(IsamWriteRecord(table), uint32_t{ISAM_ERR_IO});
  ExpectRefusalNaming(LastErrorText(), folder_.File("MWTRN.ADT"));
  EXPECT_FALSE(Exists(Target()));
  ISAM_ASSERT_OK(IsamCancelUpdate(table));
  uint32_t count = 0;
  ISAM_ASSERT_OK(IsamGetRecordCount(table, ISAM_COUNT_IGNORE_FILTERS, &count));
  EXPECT_EQ(count, 1u);
}

TEST_F(PlantedLink, AFolderReachedThroughTheUsersOwnLinkStillWorks) {
  const std::string via = elsewhere_.File("practice");
  ASSERT_EQ(symlink(folder_.path().c_str(), via.c_str()), 0);
  ScopedConnection connection(via);
  IsamHandle table = connection.Open("MWTRN.ADT");
  WriteFields(table, {{"Code", "b"}}, true);
  uint32_t count = 0;
  ISAM_ASSERT_OK(IsamGetRecordCount(table, ISAM_COUNT_IGNORE_FILTERS, &count));
  EXPECT_EQ(count, 2u);
  CreateTable(via + "/NEW.ADT", {"Code CHAR(4)"});
  EXPECT_TRUE(Exists(folder_.File("NEW.ADT")));
  TableFileReader reader(via + "/MWTRN.ADT");
  TableFileWriter writer(via + "/COPY.ADT");
  EXPECT_NO_THROW(writer.CopyFrom(reader, via + "/COPY.ADT", nullptr));
}

}  // namespace
}  // namespace isam::testing
