// Files planted in a shared practice folder by someone who may write there, in the place of a
// table file, its lock file, or a file SQLite keeps beside it: symbolic links, and named pipes
// (opening a pipe for reading waits for a program to write to it). The engine opens, creates and
// copies through none of them, never waits on one, names the file in its refusal (a link planted
// while the table is open stops the write that would use it), and creates nothing where a link
// leads; a folder reached through a link of the user's own still works. Every call that meets a
// planted file runs in a child process that is ended if it blocks.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
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

// A refusal as "CODE text", LastErrorText's form; empty when the call succeeded.
std::string Refusal(IsamResult rc) {
  return rc == 0 ? "" : LastErrorText();
}

// The refusal that `body` throws through the table-file interface.
template <typename Body>
std::string TableFileRefusal(Body&& body) {
  try {
    body();
  } catch (const TableFileError& error) {
    return std::to_string(error.code()) + " " + error.what();
  }
  return "";
}

std::string OpenRefusal(const std::string& folder, const std::string& name, uint32_t mode) {
  ScopedConnection connection(folder);
  return Refusal(OpenTable(connection.handle(), name, mode));
}

std::string StatementRefusal(const std::string& folder, const std::string& text) {
  ScopedConnection connection(folder);
  return Refusal(RunStatement(connection.handle(), text));
}

// The refusal's text names the planted file and says what it is.
void ExpectNamed(const std::string& text, const std::string& file, const std::string& kind) {
  EXPECT_NE(text.find(file), std::string::npos) << text;
  EXPECT_NE(text.find(kind), std::string::npos) << text;
}

enum class Planted { kLink, kPipe };

std::string PlantedName(const ::testing::TestParamInfo<Planted>& info) {
  return info.param == Planted::kLink ? "Link" : "Pipe";
}

class PlantedFileTest : public ::testing::Test {
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

using PlantedLink = PlantedFileTest;

// The same cases for each kind of planted file.
class PlantedFile : public PlantedFileTest, public ::testing::WithParamInterface<Planted> {
 protected:
  // Puts the planted file at `path`: a link to Target(), or a named pipe.
  void Plant(const std::string& path) {
    if (GetParam() == Planted::kLink) {
      ASSERT_EQ(symlink(Target().c_str(), path.c_str()), 0);
    } else {
      ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
    }
  }
  // The refusal, worked out where a call that blocks on the file cannot hang the test, names
  // the planted file, says what it is and carries `code` (0: any code but success).
  void ExpectRefused(const std::function<std::string()>& call, const std::string& planted,
                     IsamResult code = ISAM_ERR_IO) {
    std::string text = InChildProcess(call);
    if (code != 0) {
      EXPECT_EQ(text.substr(0, text.find(' ')), std::to_string(code)) << text;
    }
    ExpectNamed(text, planted, GetParam() == Planted::kLink ? "symbolic link" : "not a plain file");
  }
};

INSTANTIATE_TEST_SUITE_P(Kinds, PlantedFile, ::testing::Values(Planted::kLink, Planted::kPipe),
                         PlantedName);

TEST_P(PlantedFile, InTheLockFilesPlaceIsRefusedAndCreatesNothing) {
  const std::string lock = folder_.File("MWTRN.ADT.lck");
  Plant(lock);
  // A read-only handle takes no locks and leaves the lock file alone.
  for (uint32_t mode : {uint32_t{ISAM_OPEN_SHARED}, uint32_t{ISAM_OPEN_EXCLUSIVE}}) {
    SCOPED_TRACE(mode);
    ExpectRefused([&] { return OpenRefusal(folder_.path(), "MWTRN.ADT", mode); }, lock);
    EXPECT_FALSE(Exists(Target()));
  }
  // In a network folder the table's hold is taken first, from the same file.
  FakeNetworkFolder cifs(folder_.path(), "cifs", "rw,vers=3.1.1");
  ExpectRefused([&] { return OpenRefusal(folder_.path(), "MWTRN.ADT", ISAM_OPEN_SHARED); }, lock);
  ExpectRefused([&] { return Refusal(IsamCheckTableFree(folder_.path().c_str(), "MWTRN.ADT")); },
                lock);
  EXPECT_FALSE(Exists(Target()));
}

TEST_P(PlantedFile, InTheTableFilesPlaceIsRefusedByEveryWayIn) {
  // A link leads to a real table, one the user may write, in another folder.
  WriteTableFile(Target(), {"Code CHAR(4)"}, {}, JournalMode::kRollback);
  const std::string planted = folder_.File("MWTRNX.ADT");
  Plant(planted);
  for (uint32_t mode : {uint32_t{ISAM_OPEN_SHARED}, uint32_t{ISAM_OPEN_READ_ONLY}}) {
    SCOPED_TRACE(mode);
    ExpectRefused([&] { return OpenRefusal(folder_.path(), "MWTRNX.ADT", mode); }, planted);
  }
  ExpectRefused([&] { return OpenRefusal(folder_.path(), planted, ISAM_OPEN_SHARED); }, planted);
  ExpectRefused(
      [&] {
        return StatementRefusal(folder_.path(), "INSERT INTO MWTRNX.ADT (Code) VALUES ('x')");
      },
      planted, 0);
  ExpectRefused([&] { return Refusal(IsamCheckTableFree(folder_.path().c_str(), "MWTRNX.ADT")); },
                planted);
  ExpectRefused([&] { return TableFileRefusal([&] { TableFileReader reader(planted); }); },
                planted);
  EXPECT_FALSE(Exists(Target() + ".lck"));
  EXPECT_FALSE(Exists(Target() + "-journal"));
}

TEST_P(PlantedFile, WhereATableIsToBeMadeNothingIsMadeThroughIt) {
  const std::string planted = folder_.File("NEW.ADT");
  Plant(planted);
  ExpectRefused(
      [&] {
        const char* fields[] = {"Code CHAR(4)"};
        return Refusal(IsamCreateTable(planted.c_str(), 1, fields, 0, nullptr));
      },
      planted);
  EXPECT_FALSE(Exists(Target()));
  ExpectRefused([&] { return TableFileRefusal([&] { TableFileWriter writer(planted); }); },
                planted);
  EXPECT_FALSE(Exists(Target()));
}

TEST_P(PlantedFile, BesideTheTableNothingIsReadOrWrittenThroughIt) {
  const std::string table = folder_.File("MWTRN.ADT");
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    SCOPED_TRACE(suffix);
    const std::string side = table + suffix;
    Plant(side);
    for (uint32_t mode : {uint32_t{ISAM_OPEN_SHARED}, uint32_t{ISAM_OPEN_READ_ONLY}}) {
      SCOPED_TRACE(mode);
      ExpectRefused([&] { return OpenRefusal(folder_.path(), "MWTRN.ADT", mode); }, side);
    }
    ExpectRefused([&] { return StatementRefusal(folder_.path(), "DELETE FROM MWTRN.ADT"); }, side,
                  0);
    ExpectRefused([&] { return Refusal(IsamCheckTableFree(folder_.path().c_str(), "MWTRN.ADT")); },
                  side);
    ExpectRefused([&] { return TableFileRefusal([&] { TableFileReader reader(table); }); }, side);
    ExpectRefused([&] { return TableFileRefusal([&] { TableFileWriter writer(table); }); }, side);
    EXPECT_FALSE(Exists(Target()));
    ASSERT_EQ(unlink(side.c_str()), 0);
  }
  // With the planted files gone the table is whole and opens for changes.
  ScopedConnection connection(folder_.path());
  IsamHandle table_handle = connection.Open("MWTRN.ADT");
  uint32_t count = 0;
  ISAM_ASSERT_OK(IsamGetRecordCount(table_handle, ISAM_COUNT_IGNORE_FILTERS, &count));
  EXPECT_EQ(count, 1u);
}

// Whether a file is a table is asked of files a copy of the folder would take: a pipe there
// is named, not passed over as "not a table".
TEST(PlantedPipe, IsNoTableFileToLookAtButARefusalNamingIt) {
  TempFolder folder;
  const std::string pipe = folder.File("MWPRO.ADT");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
  std::string text = InChildProcess([&] { return TableFileRefusal([&] { IsTableFile(pipe); }); });
  EXPECT_EQ(text.substr(0, text.find(' ')), std::to_string(ISAM_ERR_IO)) << text;
  ExpectNamed(text, pipe, "not a plain file");
  // A folder cannot block a read; it is simply no table.
  EXPECT_FALSE(IsTableFile(folder.path()));
}

TEST_F(PlantedLink, BesideATableAlreadyOpenItStopsTheWriteThatWouldUseIt) {
  ScopedConnection connection(folder_.path());
  IsamHandle table = connection.Open("MWTRN.ADT");
  const std::string journal = folder_.File("MWTRN.ADT-journal");
  ASSERT_EQ(symlink(Target().c_str(), journal.c_str()), 0);
  ISAM_ASSERT_OK(IsamAppendRecord(table));
  ISAM_ASSERT_OK(IsamSetField(table, 1, "b"));
  EXPECT_EQ(IsamWriteRecord(table), uint32_t{ISAM_ERR_IO});
  ExpectNamed(LastErrorText(), folder_.File("MWTRN.ADT"), "symbolic link");
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
