// Table files taken as files: which files of a folder are tables, the refusal of one table in
// two spellings, the open mark against the engine's handles, records read as the dump writes
// them, snapshots and copies, and errors that leave as codes with texts.
#include "isam/table_files.h"

#include <filesystem>
#include <fstream>

#include "isam/table_files_internal.h"
#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The code of the TableFileError that `body` throws; ISAM_SUCCESS when it throws none.
template <typename Body>
IsamResult ErrorCode(Body&& body, std::string* text = nullptr) {
  try {
    body();
  } catch (const TableFileError& error) {
    if (text) *text = error.what();
    return error.code();
  }
  return ISAM_SUCCESS;
}

int64_t RecordCount(const TableFileReader& reader) {
  int64_t count = -1;
  SelectRows(reader, "SELECT count(*) FROM records",
             [&](const TableFileRow& row) { count = row.Integer(0); });
  return count;
}

TEST(TableFileInterface, AFolderTellsItsTablesAndRefusesATableInTwoSpellings) {
  TempFolder folder;
  WriteTableFile(folder.File("MWTRN.ADT"), {"Code CHAR(8)"}, {}, JournalMode::kRollback);
  WriteText(folder.File("Convert.log"), "converted\n");

  EXPECT_TRUE(IsTableFile(folder.File("MWTRN.ADT")));
  EXPECT_FALSE(IsTableFile(folder.File("Convert.log")));
  EXPECT_FALSE(IsTableFile(folder.File("gone.adt")));  // removed meanwhile by another program
  EXPECT_NO_THROW(RefuseCaseTwins(folder.path(), "MWTRN.ADT"));
  EXPECT_NO_THROW(RefuseCaseTwins(folder.path(), "missing.adt"));  // left to whoever opens it

  WriteTableFile(folder.File("mwtrn.adt"), {"Code CHAR(8)"}, {}, JournalMode::kRollback);
  std::string text;
  EXPECT_EQ(ErrorCode([&] { RefuseCaseTwins(folder.path(), "MWTRN.ADT"); }, &text),
            ISAM_ERR_AMBIGUOUS_TABLE);
  EXPECT_NE(text.find("MWTRN.ADT"), std::string::npos) << text;
  EXPECT_NE(text.find("mwtrn.adt"), std::string::npos) << text;
}

TEST(TableFileInterface, TheOpenMarkHeldAloneKeepsOutEveryHandleOfTheEngine) {
  TempFolder folder;
  WriteTableFile(folder.File("t.adt"), {"Code CHAR(8)"}, {}, JournalMode::kRollback);
  ScopedConnection connection(folder.path());
  {
    IsamHandle table = connection.Open("t.adt");
    OpenMarkHold mark(folder.File("t.adt"));
    EXPECT_FALSE(mark.TryHoldAlone());  // the handle has the table open
    ISAM_ASSERT_OK(IsamCloseTable(table));
    EXPECT_TRUE(mark.TryHoldAlone());
    IsamHandle refused = 0;
    EXPECT_EQ(IsamOpenTable(connection.handle(), "t.adt", nullptr, 3, 1, 1, 1, 0, &refused),
              ISAM_ERR_TABLE_IN_USE);
  }
  IsamHandle table = connection.Open("t.adt");  // the mark went with its holder
  ISAM_ASSERT_OK(IsamCloseTable(table));
}

TEST(TableFileInterface, RecordsReadWholeAsTheDumpWritesThem) {
  TempFolder before_folder, after_folder;
  const std::vector<std::string> fields = {"Code CHAR(8)", "Paid LOGICAL", "Posted DATE",
                                           "Amount NUMERIC(10,2)", "Notes MEMO"};
  std::string before = before_folder.File("t.adt"), after = after_folder.File("t.adt");
  WriteTableFile(before, fields, {"PRIMARY=Code;Posted"}, JournalMode::kRollback);
  WriteTableFile(after, {"Code CHAR(8)", "Amount NUMERIC(10,2)", "Extra CHAR(4)"}, {},
                 JournalMode::kWal);
  std::string notes(70000, 'n');  // far beyond any one buffer of the engine's interface
  RunSql(before, "INSERT INTO records VALUES (4, 'A1', 1, '2024-02-29', 0.1, '" + notes +
                     "'), (9, NULL, 0, NULL, NULL, NULL)");
  RunSql(after, "INSERT INTO records VALUES (4, 'A1', 0.1, 'x')");

  TableFileReader before_reader(before), after_reader(after);
  EXPECT_TRUE(before_reader.HasTableMarks());
  EXPECT_TRUE(HasColumn(before_reader, "Amount"));
  EXPECT_FALSE(HasColumn(before_reader, "amount"));  // a column is named exactly
  TableFileRecords old_side(&before_reader, before), new_side(&after_reader, after);
  EXPECT_EQ(old_side.FieldNames(),
            (std::vector<std::string>{"Code", "Paid", "Posted", "Amount", "Notes"}));
  EXPECT_EQ(old_side.PrimaryKeyFields(), (std::vector<std::string>{"Code", "Posted"}));
  EXPECT_TRUE(new_side.PrimaryKeyFields().empty());
  EXPECT_TRUE(old_side.HasField("AMOUNT"));

  std::vector<std::string> chosen = {"Code", "Paid", "Posted", "Amount", "Notes", "Extra"};
  old_side.UseFields(chosen);
  new_side.UseFields(chosen);
  ASSERT_TRUE(old_side.Next());
  ASSERT_TRUE(new_side.Next());
  EXPECT_EQ(old_side.RecordNumber(), 4);
  std::vector<std::string> texts;
  for (size_t i = 0; i < chosen.size(); ++i) texts.push_back(old_side.Text(i));
  EXPECT_EQ(texts, (std::vector<std::string>{"A1", "T", "02/29/2024", "0.1", notes, ""}));
  EXPECT_TRUE(old_side.SameValue(new_side, 0));   // Code
  EXPECT_TRUE(old_side.SameValue(new_side, 3));   // Amount
  EXPECT_FALSE(old_side.SameValue(new_side, 1));  // Paid: missing from the later table
  EXPECT_FALSE(old_side.SameValue(new_side, 5));  // Extra: missing from the earlier table
  EXPECT_EQ(new_side.Text(1), "");

  ASSERT_TRUE(old_side.Next());
  EXPECT_EQ(old_side.RecordNumber(), 9);
  for (size_t i : {0, 2, 3, 4}) EXPECT_EQ(old_side.Text(i), "") << chosen[i];
  EXPECT_EQ(old_side.Text(1), "F");
  EXPECT_FALSE(old_side.Next());
  EXPECT_TRUE(old_side.AtEnd());

  TableFileRecords absent(nullptr, before);  // a table missing from one copy
  EXPECT_TRUE(absent.FieldNames().empty());
  EXPECT_FALSE(absent.Next());
}

TEST(TableFileInterface, SnapshotsAndCopiesSeeOneMomentAndFailuresCarryTheEngineCode) {
  TempFolder folder;
  std::string source = folder.File("t.adt");
  WriteTableFile(source, {"Code CHAR(8)"}, {}, JournalMode::kWal);
  RunSql(source, "INSERT INTO records VALUES (1, 'A'), (2, 'B')");

  TableFileReader reader(source);
  TableFileReader::HoldSnapshots({&reader});
  RunSql(source, "INSERT INTO records VALUES (3, 'C')");  // another program, after the moment
  EXPECT_EQ(RecordCount(reader), 2);
  {
    TableFileWriter copy(folder.File("copy.adt"));
    int last_left = -1, calls = 0;
    copy.CopyFrom(reader, folder.File("copy.adt"), [&](int pages, int left) {
      EXPECT_GT(pages, 0);
      last_left = left;
      ++calls;
    });
    EXPECT_GT(calls, 0);
    EXPECT_EQ(last_left, 0);
    copy.UseRollbackJournal();
  }
  reader.EndSnapshot();
  EXPECT_EQ(RecordCount(reader), 3);

  TableFileReader copied(folder.File("copy.adt"));
  EXPECT_TRUE(copied.HasTableMarks());
  EXPECT_EQ(RecordCount(copied), 2);
  std::string mode;
  SelectRows(copied, "PRAGMA journal_mode", [&](const TableFileRow& row) { mode = row.Text(0); });
  EXPECT_EQ(mode, "delete");

  // A file that is no database, and a query the file cannot answer: codes with texts that
  // name the file.
  WriteText(folder.File("junk.adt"), std::string(4096, 'j'));
  std::string text;
  EXPECT_EQ(ErrorCode([&] { TableFileReader junk(folder.File("junk.adt")); }, &text),
            ISAM_ERR_TABLE_DAMAGED);
  EXPECT_NE(text.find("junk.adt"), std::string::npos) << text;
  EXPECT_NE(ErrorCode([&] { SelectRows(copied, "SELECT nothing FROM records", {}); }, &text),
            ISAM_SUCCESS);
  EXPECT_NE(text.find("copy.adt"), std::string::npos) << text;
}

}  // namespace
}  // namespace isam::testing
