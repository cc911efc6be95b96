// Table files: other programs' tables read back exactly, lookup without regard to case, bad files
// and values refused by name and never written, and created tables as plain SQLite sees them.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "isam/field.h"
#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

const char kMarks[] = "PRAGMA application_id=1230193997; PRAGMA user_version=1;";

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether the file holds exactly `bytes`; says where it first differs otherwise.
::testing::AssertionResult FileHolds(const std::string& path, const std::string& bytes) {
  std::string now = ReadBytes(path);
  if (now == bytes) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < now.size() && at < bytes.size() && now[at] == bytes[at]) ++at;
  return ::testing::AssertionFailure() << path << " changed: " << now.size() << " bytes instead of "
                                       << bytes.size() << ", first difference at byte " << at;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

template <typename T>
std::string Bytes(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

// Rows of a query run with plain SQLite, columns joined by '|'.
std::vector<std::string> Query(const std::string& path, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  auto add_row = [](void* out, int n, char** values, char**) {
    std::string row;
    for (int i = 0; i < n; ++i) row += (i ? "|" : "") + std::string(values[i] ? values[i] : "");
    static_cast<std::vector<std::string>*>(out)->push_back(row);
    return 0;
  };
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), add_row, &rows, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
  return rows;
}

std::string RawField(IsamHandle order, uint16_t field) {
  uint8_t buf[256];
  uint32_t len = sizeof buf;
  EXPECT_EQ(IsamGetFieldRaw(order, field, buf, &len), 0u) << LastErrorText();
  return std::string(reinterpret_cast<const char*>(buf), len);
}

bool IsEmpty(IsamHandle order, uint16_t field) {
  uint16_t empty = 2;
  EXPECT_EQ(IsamIsEmpty(order, field, &empty), 0u) << LastErrorText();
  return empty == 1;
}

// Opens `name` in `folder` expecting a refusal with `code` and a text holding `names`;
// the file and the folder's entries must be exactly as they were.
void ExpectRefusedAndUntouched(const std::string& folder, const std::string& name, IsamResult code,
                               const std::string& names) {
  SCOPED_TRACE(name);
  std::string path = folder + "/" + name;
  std::string before = ReadBytes(path);
  std::set<std::string> entries = Entries(folder);
  {
    ScopedConnection c(folder);
    IsamHandle table = 0;
    IsamResult rc =
        IsamOpenTable(c.handle(), name.c_str(), nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                      ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &table);
    std::string text = LastErrorText();
    EXPECT_EQ(rc, code) << text;
    EXPECT_NE(text.find(names), std::string::npos) << text;
    EXPECT_EQ(table, 0u);
  }
  EXPECT_TRUE(FileHolds(path, before));
  EXPECT_EQ(Entries(folder), entries);
}

const uid_t kNobody = 65534;

// Runs `body` in a child process and gives its exit status. When the tests run as root, the child
// takes the rights of an ordinary user first, so that mode bits bind it as they bind any user.
int RunAsOrdinaryUser(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(100);
    int step = body();
    if (step != 0) IsamShowError("ordinary user");
    _exit(step);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A table of several pages: an index and 200 records with long texts.
void MakeBigTable(const std::string& path) {
  CreateTable(path, {"Entry AUTOINC", "Text CHAR(200)"}, {"BYTEXT=Text"});
  std::string folder = path.substr(0, path.find_last_of('/'));
  ScopedConnection c(folder);
  IsamHandle t = c.Open(path.substr(path.find_last_of('/') + 1));
  for (int i = 0; i < 200; ++i) {
    WriteFields(
        t, {{"Text", std::string(150, static_cast<char>('a' + i % 26)) + std::to_string(i)}}, true);
  }
}

TEST(TableFiles, OutsideTableOfEveryFieldTypeReadsBackExactly) {
  TempFolder folder;
  std::string path = folder.File("Outside.adt");
  RunSql(path, std::string(kMarks) + R"(
    CREATE TABLE records("_recno" INTEGER PRIMARY KEY, "Paid" LOGICAL, "Amount" NUMERIC(10,2),
      "Units" NUMERIC(4,0), "Date From" DATE, "Chart Number" CHAR(8), "Note" MEMO,
      "Rate" DOUBLE, "Case Number" INTEGER, "Small" SHORTINT, "At" TIME, "Stamp" TIMESTAMP,
      "Entry" AUTOINC UNIQUE, "Fee" MONEY);
    CREATE INDEX "IDXCHARTDATE" ON records("Chart Number", "Date From");
    CREATE INDEX "PRIMARY" ON records("Entry");
    CREATE TABLE "_engine_notes"(x);
    INSERT INTO records VALUES(1, 1, 12345.68, 42, '2024-02-29', 'M' || char(252) || 'ller',
      'line 1' || char(10) || 'line 2 ' || char(8364), 0.1, -2147483648, -32768, 45296789,
      '1899-12-30 00:00:00.000', 7, 19.99);
    INSERT INTO records("_recno", "Entry") VALUES(2, 8);
    INSERT INTO records("_recno", "Paid", "Chart Number", "Entry") VALUES(3, 0, 'ab  ', 9);
    INSERT INTO records("_recno", "Chart Number", "Entry") VALUES(5, '   ', 10);
  )");
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("OUTSIDE.ADT");

  struct Expected {
    const char* name;
    uint16_t type;
    uint32_t length;
    uint16_t decimals;
    const char* text;  // of record 1
    std::string raw;   // of record 1; empty: not compared
  };
  const Expected fields[] = {
      {"Paid", ISAM_LOGICAL, 1, 0, "T", "T"},
      {"Amount", ISAM_NUMERIC, 10, 2, "12345.68", "  12345.68"},
      {"Units", ISAM_NUMERIC, 4, 0, "42", "  42"},
      {"Date From", ISAM_DATE, 4, 0, "02/29/2024", Bytes<int32_t>(JulianFromCivil({2024, 2, 29}))},
      {"Chart Number", ISAM_TEXT, 8, 0, "M\xFCller", "M\xFCller  "},
      {"Note", ISAM_MEMO, 9, 0, "line 1\nline 2 \x80", ""},
      {"Rate", ISAM_DOUBLE, 8, 0, "0.1", Bytes<double>(0.1)},
      {"Case Number", ISAM_INTEGER, 4, 0, "-2147483648", Bytes<int32_t>(INT32_MIN)},
      {"Small", ISAM_SHORTINT, 2, 0, "-32768", Bytes<int16_t>(-32768)},
      {"At", ISAM_TIME, 4, 0, "12:34:56.789", Bytes<int32_t>(45296789)},
      {"Stamp", ISAM_TIMESTAMP, 8, 0, "12/30/1899 00:00:00.000",
       Bytes<int32_t>(2415019) + Bytes<int32_t>(0)},
      {"Entry", ISAM_AUTOINC, 4, 0, "7", Bytes<int32_t>(7)},
      {"Fee", ISAM_MONEY, 8, 0, "19.99", Bytes<double>(19.99)},
  };
  const uint16_t count = sizeof fields / sizeof fields[0];
  uint16_t n = 0;
  ISAM_ASSERT_OK(IsamGetNumFields(t, &n));
  ASSERT_EQ(n, count);
  uint32_t options = 0;
  ISAM_ASSERT_OK(IsamGetTableOpenOptions(t, &options));
  EXPECT_EQ(options & ISAM_TABLE_READ_ONLY, 0u);
  EXPECT_EQ(options & (ISAM_TABLE_UPDATE_RIGHT | ISAM_TABLE_INSERT_RIGHT),
            uint32_t{ISAM_TABLE_UPDATE_RIGHT | ISAM_TABLE_INSERT_RIGHT});

  ISAM_ASSERT_OK(IsamGotoRecord(t, 1));
  std::vector<uint8_t> image(200, 0xEE);
  uint32_t image_length = static_cast<uint32_t>(image.size());
  ISAM_ASSERT_OK(IsamGetRecord(t, image.data(), &image_length));
  uint32_t offset = count;
  for (uint16_t i = 1; i <= count; ++i) {
    const Expected& e = fields[i - 1];
    SCOPED_TRACE(e.name);
    char name[64];
    uint16_t name_length = sizeof name;
    ISAM_ASSERT_OK(IsamGetFieldName(t, i, name, &name_length));
    EXPECT_STREQ(name, e.name);
    EXPECT_EQ(FieldNumber(t, e.name), i);
    uint16_t type = 0, decimals = 9;
    uint32_t length = 0, field_offset = 0;
    ISAM_ASSERT_OK(IsamGetFieldType(t, i, &type));
    ISAM_ASSERT_OK(IsamGetFieldLength(t, i, &length));
    ISAM_ASSERT_OK(IsamGetFieldDecimals(t, i, &decimals));
    ISAM_ASSERT_OK(IsamGetFieldOffset(t, i, &field_offset));
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(length, e.length);
    EXPECT_EQ(decimals, e.decimals);
    EXPECT_EQ(field_offset, offset);
    EXPECT_EQ(FieldText(t, i), e.text);
    EXPECT_FALSE(IsEmpty(t, i));
    EXPECT_EQ(image[i - 1u], 0);
    if (!e.raw.empty()) {
      EXPECT_EQ(RawField(t, i), e.raw);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()) + offset, e.length), e.raw);
    }
    offset += e.length;
  }
  uint32_t record_length = 0;
  ISAM_ASSERT_OK(IsamGetRecordLength(t, &record_length));
  EXPECT_EQ(record_length, offset);
  EXPECT_EQ(image_length, offset);

  // Record 2: every field but the autoincrement one is empty.
  ISAM_ASSERT_OK(IsamGotoRecord(t, 2));
  image_length = static_cast<uint32_t>(image.size());
  ISAM_ASSERT_OK(IsamGetRecord(t, image.data(), &image_length));
  for (uint16_t i = 1; i <= count; ++i) {
    bool autoinc = fields[i - 1].type == ISAM_AUTOINC;
    EXPECT_EQ(IsEmpty(t, i), !autoinc) << fields[i - 1].name;
    EXPECT_EQ(image[i - 1u], autoinc ? 0 : 1) << fields[i - 1].name;
    if (!autoinc) {
      EXPECT_EQ(FieldText(t, i), "") << fields[i - 1].name;
    }
  }
  EXPECT_EQ(RawField(t, 5), "        ");
  EXPECT_EQ(RawField(t, 2), "          ");

  // Trailing blanks are not part of a text, and a text of blanks is empty.
  ISAM_ASSERT_OK(IsamGotoRecord(t, 3));
  EXPECT_EQ(FieldText(t, 1), "F");
  EXPECT_EQ(FieldText(t, 5), "ab");
  EXPECT_EQ(RawField(t, 5), "ab      ");
  EXPECT_FALSE(IsEmpty(t, 5));
  ISAM_ASSERT_OK(IsamGotoRecord(t, 5));
  EXPECT_TRUE(IsEmpty(t, 5));
  EXPECT_EQ(FieldText(t, 5), "");
  EXPECT_EQ(RawField(t, 5), "        ");
  EXPECT_EQ(WalkForward(t), (std::vector<int64_t>{1, 2, 3, 5}));

  // The named indexes are the table's; SQLite's own index and the engine's table are not.
  uint16_t indexes = 0;
  ISAM_ASSERT_OK(IsamGetNumIndexes(t, &indexes));
  EXPECT_EQ(indexes, 2);
  IsamHandle by_chart = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(t, "IDXCHARTDATE", &by_chart));
  char segment[64];
  uint16_t segment_length = sizeof segment;
  ISAM_ASSERT_OK(IsamGetSegmentFieldname(by_chart, 2, segment, &segment_length));
  EXPECT_STREQ(segment, "Date From");
  EXPECT_EQ(WalkForward(by_chart), (std::vector<int64_t>{2, 5, 1, 3}));  // as the file orders them
}

TEST(TableFiles, FilesAreFoundWithoutRegardToCase) {
  TempFolder folder;
  CreateTable(folder.File("MWTRN.ADT"), {"Upper CHAR(2)"});
  CreateTable(folder.File("Mwpax.adt"), {"Pax CHAR(2)"});
  std::filesystem::create_directory(folder.File("Sub"));
  CreateTable(folder.File("Sub/Mwpro.adt"), {"Pro CHAR(2)"});
  auto first_field = [](IsamHandle t) {
    char name[64];
    uint16_t length = sizeof name;
    EXPECT_EQ(IsamGetFieldName(t, 1, name, &length), 0u) << LastErrorText();
    return std::string(name);
  };
  auto table_name = [](IsamHandle t) {
    char name[600];
    uint16_t length = sizeof name;
    EXPECT_EQ(IsamGetTableName(t, name, &length), 0u) << LastErrorText();
    return std::string(name);
  };
  ScopedConnection c(folder.path());
  EXPECT_EQ(first_field(c.Open("MWTRN.ADT")), "Upper");
  EXPECT_EQ(first_field(c.Open("mwtrn.adt")), "Upper");
  IsamHandle pax = c.Open("MWPAX.ADT");
  EXPECT_EQ(first_field(pax), "Pax");
  EXPECT_EQ(table_name(pax), folder.File("Mwpax.adt"));

  // Backslashes separate the parts of a path, relative or absolute.
  IsamHandle pro = c.Open("Sub\\MWPRO.ADT");
  EXPECT_EQ(first_field(pro), "Pro");
  EXPECT_EQ(table_name(pro), folder.File("Sub/Mwpro.adt"));
  std::string windows_path = folder.File("Sub/mwpro.adt");
  std::replace(windows_path.begin(), windows_path.end(), '/', '\\');
  EXPECT_EQ(first_field(c.Open(windows_path)), "Pro");
  std::string windows_folder = folder.path() + "\\Sub\\";
  std::replace(windows_folder.begin(), windows_folder.end(), '/', '\\');
  ScopedConnection sub(windows_folder);
  EXPECT_EQ(first_field(sub.Open("mwpro.ADT")), "Pro");
}

// One table in two files would have one part of a run write the one and another the other.
TEST(TableFiles, ATableInSeveralFilesDifferingInCaseIsRefusedNamingEveryFile) {
  TempFolder folder;
  for (const char* name : {"MWTRN.ADT", "Mwtrn.adt", "mwtrn.ADT"}) {
    CreateTable(folder.File(name), {"Field CHAR(2)"});
  }
  std::string before = ReadBytes(folder.File("Mwtrn.adt"));
  IsamHandle connection = 0;
  ISAM_ASSERT_OK(IsamConnect(folder.path().c_str(), &connection));
  for (const char* name : {"MWTRN.ADT", "mwtrn.adt", "Mwtrn.adt"}) {
    IsamHandle table = 0;
    EXPECT_EQ(IsamOpenTable(connection, name, nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                            ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &table),
              ISAM_ERR_AMBIGUOUS_TABLE);
    std::string text = LastErrorText();
    for (const char* file : {"MWTRN.ADT", "Mwtrn.adt", "mwtrn.ADT"}) {
      EXPECT_NE(text.find(file), std::string::npos) << text;
    }
  }
  IsamDisconnect(connection);
  EXPECT_EQ(ReadBytes(folder.File("Mwtrn.adt")), before);
}

TEST(TableFiles, MissingFoldersAndTablesAreRefusedByName) {
  TempFolder folder;
  IsamHandle connection = 0;
  EXPECT_EQ(IsamConnect(folder.File("Gone").c_str(), &connection), ISAM_ERR_FOLDER_NOT_FOUND);
  EXPECT_NE(LastErrorText().find(folder.File("Gone")), std::string::npos) << LastErrorText();
  EXPECT_EQ(connection, 0u);
  WriteBytes(folder.File("plain.txt"), "a file is not a folder");
  EXPECT_EQ(IsamConnect(folder.File("plain.txt").c_str(), &connection), ISAM_ERR_FOLDER_NOT_FOUND);

  ScopedConnection c(folder.path());
  IsamHandle table = 0;
  EXPECT_EQ(IsamOpenTable(c.handle(), "MWTRN.ADT", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                          ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &table),
            ISAM_ERR_TABLE_NOT_FOUND);
  EXPECT_NE(LastErrorText().find("MWTRN.ADT"), std::string::npos) << LastErrorText();
  EXPECT_EQ(Entries(folder.path()), (std::set<std::string>{"plain.txt"}));
}

TEST(TableFiles, FilesThatAreNotTablesAreRefusedAndLeftUntouched) {
  TempFolder folder;
  std::string text;
  for (int i = 0; i < 20; ++i) text += "This is a note, not a database. ";
  WriteBytes(folder.File("Notes.adt"), text);
  WriteBytes(folder.File("Short.adt"), "SQLite format 3");
  WriteBytes(folder.File("Empty.adt"), "");
  const std::string records =
      "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY, \"Code\" CHAR(4));"
      "INSERT INTO records VALUES(1, 'a');";
  RunSql(folder.File("NoMarks.adt"), records);
  RunSql(folder.File("OnlyId.adt"), "PRAGMA application_id=1230193997;" + records);
  RunSql(folder.File("OnlyVersion.adt"), "PRAGMA user_version=1;" + records);
  RunSql(folder.File("Version2.adt"),
         "PRAGMA application_id=1230193997; PRAGMA user_version=2;" + records);
  RunSql(folder.File("NoRecords.adt"), std::string(kMarks) + "CREATE TABLE other(x);");
  RunSql(folder.File("BadFirst.adt"),
         std::string(kMarks) + "CREATE TABLE records(id INTEGER PRIMARY KEY, \"Code\" CHAR(4));");
  std::filesystem::create_directory(folder.File("Folder.adt"));
  for (const char* name : {"Notes.adt", "Short.adt", "Empty.adt", "NoMarks.adt", "OnlyId.adt",
                           "OnlyVersion.adt", "Version2.adt", "NoRecords.adt", "BadFirst.adt"}) {
    ExpectRefusedAndUntouched(folder.path(), name, ISAM_ERR_NOT_A_TABLE, name);
  }
  ExpectRefusedAndUntouched(folder.path(), "folder.adt", ISAM_ERR_NOT_A_TABLE, "Folder.adt");
}

TEST(TableFiles, ATruncatedTableIsRefusedAsDamagedAndLeftUntouched) {
  TempFolder folder;
  std::string path = folder.File("Big.adt");
  MakeBigTable(path);
  std::string whole = ReadBytes(path);
  ASSERT_GE(whole.size(), 16u * 4096u);
  ASSERT_FALSE(std::filesystem::exists(path + "-wal"));
  WriteBytes(path, whole.substr(0, whole.size() / 2));
  ExpectRefusedAndUntouched(folder.path(), "Big.adt", ISAM_ERR_TABLE_DAMAGED, "Big.adt");
}

TEST(TableFiles, ACorruptedTableReportsDamageNamingTheFileAndIsLeftUntouched) {
  TempFolder folder;
  // One file in write-ahead-log mode (as the engine leaves it), one in rollback mode (as another
  // program may leave it).
  MakeBigTable(folder.File("Wal.adt"));
  MakeBigTable(folder.File("Rollback.adt"));
  RunSql(folder.File("Rollback.adt"), "PRAGMA journal_mode=DELETE");
  for (const char* name : {"Wal.adt", "Rollback.adt"}) {
    SCOPED_TRACE(name);
    std::string path = folder.File(name);
    std::string bytes = ReadBytes(path);
    const size_t page = 4096;
    ASSERT_EQ(bytes.size() % page, 0u);
    size_t pages = bytes.size() / page;
    for (size_t i = page; i < (pages - 1) * page; ++i) {
      bytes[i] = static_cast<char>((i * 7919u) >> 3);
    }
    WriteBytes(path, bytes);

    {
      ScopedConnection c(folder.path());
      IsamHandle t = 0;
      IsamResult rc =
          IsamOpenTable(c.handle(), name, nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                        ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &t);
      // When the open succeeds, the damage shows at the first read of a damaged page.
      if (rc == 0) rc = IsamGotoTop(t);
      for (int moves = 0; rc == 0 && moves < 1000 && !AtEof(t); ++moves) {
        char buf[256];
        uint32_t length = sizeof buf;
        rc = IsamGetField(t, 2, buf, &length);
        if (rc == 0) rc = IsamSkip(t, 1);
      }
      std::string text = LastErrorText();
      if (t) IsamCloseTable(t);
      EXPECT_TRUE(rc == ISAM_ERR_TABLE_DAMAGED || rc == ISAM_ERR_NOT_A_TABLE) << rc << ": " << text;
      EXPECT_NE(text.find(name), std::string::npos) << text;
    }
    EXPECT_TRUE(FileHolds(path, bytes));
  }
}

TEST(TableFiles, AFieldOfUnknownTypeIsRefusedNamingFieldAndFile) {
  TempFolder folder;
  RunSql(folder.File("Odd.adt"), std::string(kMarks) +
                                     "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY,"
                                     " \"Name\" CHAR(4), \"Code\" VARCHAR(5));"
                                     "INSERT INTO records VALUES(1, 'a', 'b');");
  ExpectRefusedAndUntouched(folder.path(), "Odd.adt", ISAM_ERR_UNKNOWN_FIELD_TYPE, "Odd.adt");
  ExpectRefusedAndUntouched(folder.path(), "Odd.adt", ISAM_ERR_UNKNOWN_FIELD_TYPE, "'Code'");
}

TEST(TableFiles, UnknownNamesAndUnfitValuesAreRefusedNamingWhatFailed) {
  TempFolder folder;
  CreateTable(folder.File("T.adt"), {"Chart Number CHAR(4)", "Case Number INTEGER"},
              {"BYCHART=Chart Number"});
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("T.adt");
  WriteFields(t, {{"Chart Number", "AB"}, {"Case Number", "5"}}, true);
  auto expect_refused = [](IsamResult rc, IsamResult code, const std::string& named) {
    EXPECT_EQ(rc, code);
    EXPECT_NE(LastErrorText().find(named), std::string::npos) << LastErrorText();
  };
  IsamHandle index = 0;
  uint16_t number = 0;
  char buf[64];
  uint32_t length = sizeof buf;
  expect_refused(IsamGetIndexHandle(t, "IDXNOPE", &index), ISAM_ERR_INDEX_NOT_FOUND, "IDXNOPE");
  expect_refused(IsamGetFieldNum(t, "Chart", &number), ISAM_ERR_FIELD_NOT_FOUND, "'Chart'");
  expect_refused(IsamGetFieldType(t, 3, &number), ISAM_ERR_FIELD_NOT_FOUND, "3");
  expect_refused(IsamGetField(t, 0, buf, &length), ISAM_ERR_FIELD_NOT_FOUND, "0");
  expect_refused(IsamSetField(t, 1, "ABCDE"), ISAM_ERR_VALUE_TOO_LONG, "Chart Number");
  expect_refused(IsamSetField(t, 2, "abc"), ISAM_ERR_INVALID_VALUE, "Case Number");
  const uint8_t two_bytes[2] = {1, 2};
  expect_refused(IsamSetFieldRaw(t, 2, two_bytes, 2), ISAM_ERR_INVALID_VALUE, "Case Number");
  ISAM_ASSERT_OK(IsamGetIndexHandle(t, "bychart", &index));
  expect_refused(IsamSetField(index, 2, "1"), ISAM_ERR_FIELD_NOT_FOUND, "Case Number");
  EXPECT_EQ(FieldNumber(t, "CASE NUMBER"), 2);
  ISAM_ASSERT_OK(IsamWriteRecord(t));  // nothing refused was kept for writing
  EXPECT_EQ(Query(folder.File("T.adt"), "SELECT * FROM records"),
            std::vector<std::string>{"1|AB|5"});
}

// Another program may declare an index descending or with another collation; the engine keeps
// key order itself as ascending bytes, so such an index is refused by name, saying what about it
// is unsupported, while the table and its other indexes serve as usual.
TEST(TableFiles, IndexesDeclaredDescendingOrWithAnotherCollationAreRefusedSayingWhy) {
  TempFolder folder;
  RunSql(folder.File("MWTRN.ADT"),
         std::string(kMarks) +
             "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY, \"Chart Number\" CHAR(8),"
             " \"Document Number\" CHAR(10));"
             "CREATE INDEX \"IDXDOCUMENT\" ON records(\"Chart Number\", \"Document Number\" DESC);"
             "CREATE INDEX \"IDXCHART\" ON records(\"Chart Number\" COLLATE NOCASE);"
             "CREATE INDEX \"IDXLOWER\" ON records(lower(\"Chart Number\"));"
             "CREATE INDEX \"IDXSOME\" ON records(\"Chart Number\") WHERE \"Chart Number\" > 'B';"
             "CREATE INDEX \"PRIMARY\" ON records(\"Document Number\");"
             "INSERT INTO records VALUES(1, 'A', 'D2'), (2, 'a', 'D1');");
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("MWTRN.ADT");
  const std::pair<const char*, const char*> refused[] = {
      {"IDXDOCUMENT", "its key field 'Document Number' is in descending order"},
      {"idxchart", "its key field 'Chart Number' is compared with the collation NOCASE"},
      {"IDXLOWER", "a key of it is an expression"},
      {"IDXSOME", "it holds only the records of its WHERE clause"},
  };
  for (const auto& [name, why] : refused) {
    SCOPED_TRACE(name);
    IsamHandle index = 0;
    EXPECT_EQ(IsamGetIndexHandle(t, name, &index), uint32_t{ISAM_ERR_NOT_SUPPORTED});
    std::string text = LastErrorText();
    EXPECT_NE(text.find(std::string("The index '") + (name[0] == 'i' ? "IDXCHART" : name) +
                        "' of MWTRN.ADT cannot be used: " + why),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ascending"), std::string::npos) << text;
  }
  uint16_t count = 0;
  ISAM_ASSERT_OK(IsamGetNumIndexes(t, &count));
  EXPECT_EQ(count, 1);
  IsamHandle primary = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(t, "PRIMARY", &primary));
  EXPECT_EQ(WalkForward(primary), (std::vector<int64_t>{2, 1}));
}

// Record numbers are the file's 64-bit row numbers: another program may number a record 0, below
// 0 or beyond 2^32. Each is read under its own number, locked without meeting another record's
// lock (nor the handles' open mark), and changed; one below 0 is read but refused for changes.
TEST(RecordNumbers, RecordsNumberedZeroOrBeyondTwoToThe32AreReadLockedAndChangedAsThemselves) {
  TempFolder folder;
  RunSql(folder.File("T.adt"),
         std::string(kMarks) +
             "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY, \"Code\" CHAR(4));"
             "INSERT INTO records VALUES(-3, 'neg'), (0, 'zero'), (1, 'one'), (4294967297, 'big'),"
             " (5000000000, 'last');");
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("T.adt");
  IsamHandle other = c.Open("T.adt");
  EXPECT_EQ(WalkForward(t), (std::vector<int64_t>{-3, 0, 1, 4294967297, 5000000000}));
  ISAM_ASSERT_OK(IsamGotoRecord(t, 4294967297));
  EXPECT_EQ(RecordNumber(t), 4294967297);
  EXPECT_EQ(FieldText(t, 1), "big");
  EXPECT_EQ(IsamGotoRecord(t, 4294967301), uint32_t{ISAM_ERR_RECORD_NOT_FOUND});
  EXPECT_NE(LastErrorText().find("Record 4294967301 does not exist"), std::string::npos)
      << LastErrorText();

  ISAM_ASSERT_OK(IsamLockRecord(t, 4294967297));
  ISAM_ASSERT_OK(IsamLockRecord(other, 1));  // 2^32 + 1 is not record 1
  EXPECT_EQ(IsamLockRecord(other, 4294967297), uint32_t{ISAM_ERR_RECORD_LOCKED});
  EXPECT_NE(LastErrorText().find("Record 4294967297 of T.adt is locked"), std::string::npos)
      << LastErrorText();
  ISAM_ASSERT_OK(IsamLockRecord(t, 0));
  EXPECT_EQ(IsamLockRecord(other, 0), uint32_t{ISAM_ERR_RECORD_LOCKED});
  uint16_t locked = 0;
  ISAM_ASSERT_OK(IsamIsRecordLocked(other, 0, &locked));
  EXPECT_EQ(locked, 1);
  ISAM_ASSERT_OK(IsamUnlockRecord(t, 0));
  ISAM_ASSERT_OK(IsamIsRecordLocked(other, 0, &locked));
  EXPECT_EQ(locked, 0);
  ISAM_ASSERT_OK(IsamUnlockRecord(t, 4294967297));
  ISAM_ASSERT_OK(IsamUnlockRecord(other, 1));

  IsamHandle statement = 0, cursor = 0;
  ISAM_ASSERT_OK(IsamCreateSQLStatement(c.handle(), &statement));
  ISAM_ASSERT_OK(IsamPrepareSQL(statement, "UPDATE \"T.adt\" SET Code = 'BIG' WHERE Code = 'big'"));
  ISAM_ASSERT_OK(IsamExecuteSQL(statement, &cursor));
  ISAM_ASSERT_OK(IsamCloseSQLStatement(statement));
  ISAM_ASSERT_OK(IsamGotoRecord(t, 0));
  WriteFields(t, {{"Code", "ZERO"}}, false);
  EXPECT_EQ(RecordNumber(t), 0);
  ISAM_ASSERT_OK(IsamGotoRecord(t, 5000000000));
  WriteFields(t, {{"Code", "LAST"}}, false);
  WriteFields(t, {{"Code", "new"}}, true);
  EXPECT_EQ(RecordNumber(t), 5000000001);

  ISAM_ASSERT_OK(IsamGotoRecord(t, -3));
  EXPECT_EQ(FieldText(t, 1), "neg");
  EXPECT_EQ(IsamLockRecord(t, -3), uint32_t{ISAM_ERR_NOT_SUPPORTED});
  EXPECT_NE(LastErrorText().find("Record -3 of T.adt cannot be locked or changed"),
            std::string::npos)
      << LastErrorText();
  ISAM_ASSERT_OK(IsamSetField(t, 1, "x"));
  EXPECT_EQ(IsamWriteRecord(t), uint32_t{ISAM_ERR_NOT_SUPPORTED});
  ISAM_ASSERT_OK(IsamCancelUpdate(t));

  EXPECT_EQ(Query(folder.File("T.adt"), "SELECT * FROM records ORDER BY _recno"),
            (std::vector<std::string>{"-3|neg", "0|ZERO", "1|one", "4294967297|BIG",
                                      "5000000000|LAST", "5000000001|new"}));
}

// A table file in SQLite's UTF-16 is a valid table: read and written like a UTF-8 one, alone or
// beside files of its own encoding. A connection that changes a UTF-8 table could not commit a
// change of a UTF-16 one with it in one step, so it opens that one read-only only; asking for
// more is refused, naming both files and their encodings, before anything is written.
TEST(TableFiles, Utf16TablesAreReadAndWrittenAndNeverChangedTogetherWithUtf8Ones) {
  TempFolder folder;
  const std::string table =
      "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY, \"Code 1\" CHAR(10),"
      " \"Description\" CHAR(40));"
      "CREATE INDEX \"PRIMARY\" ON records(\"Code 1\");";
  RunSql(folder.File("Mwpro.adt"),
         "PRAGMA encoding='UTF-16le';" + std::string(kMarks) + table +
             "INSERT INTO records VALUES(1, 'B1', 'Caf\xC3\xA9'), (2, 'A1', '\xE2\x82\xAC uro');");
  RunSql(folder.File("Other.adt"), "PRAGMA encoding='UTF-16le';" + std::string(kMarks) + table);
  RunSql(folder.File("MWTRN.ADT"),
         std::string(kMarks) + table + "INSERT INTO records VALUES(1, 'X', 'x');");
  const std::string pro_before = ReadBytes(folder.File("Mwpro.adt"));
  {
    ScopedConnection c(folder.path());
    IsamHandle trn = c.Open("MWTRN.ADT");
    IsamHandle pro = 0;
    EXPECT_EQ(
        IsamOpenTable(c.handle(), "Mwpro.adt", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                      ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &pro),
        uint32_t{ISAM_ERR_NOT_SUPPORTED});
    std::string text = LastErrorText();
    for (const std::string& named :
         {folder.File("Mwpro.adt") +
              " cannot be opened for changes: its text is stored in UTF-16le",
          folder.File("MWTRN.ADT") + ", open for changes, is in UTF-8",
          std::string("cannot be committed together")}) {
      EXPECT_NE(text.find(named), std::string::npos) << text;
    }
    pro = c.Open("Mwpro.adt", ISAM_OPEN_READ_ONLY);
    IsamHandle by_code = 0;
    ISAM_ASSERT_OK(IsamGetIndexHandle(pro, "PRIMARY", &by_code));
    EXPECT_EQ(WalkForward(by_code), (std::vector<int64_t>{2, 1}));
    ISAM_ASSERT_OK(IsamGotoRecord(pro, 1));
    EXPECT_EQ(FieldText(pro, 2), "Caf\xE9");
    ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
    ISAM_ASSERT_OK(IsamGotoRecord(trn, 1));
    WriteFields(trn, {{"Description", FieldText(pro, 2)}}, false);
    ISAM_ASSERT_OK(IsamCommitTransaction(c.handle()));
  }
  EXPECT_TRUE(FileHolds(folder.File("Mwpro.adt"), pro_before));
  EXPECT_EQ(Query(folder.File("MWTRN.ADT"), "SELECT * FROM records"),
            std::vector<std::string>{"1|X|Caf\xC3\xA9"});

  // Opened first, a UTF-16 table sets the connection's encoding: the UTF-8 table is the one
  // refused, and two UTF-16 tables change together in one transaction.
  ScopedConnection c(folder.path());
  IsamHandle pro = c.Open("Mwpro.adt");
  IsamHandle trn = 0;
  EXPECT_EQ(IsamOpenTable(c.handle(), "MWTRN.ADT", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                          ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &trn),
            uint32_t{ISAM_ERR_NOT_SUPPORTED});
  EXPECT_NE(LastErrorText().find(folder.File("MWTRN.ADT") +
                                 " cannot be opened for changes: its text is stored in UTF-8"),
            std::string::npos)
      << LastErrorText();
  IsamHandle other = c.Open("Other.adt");
  ISAM_ASSERT_OK(IsamBeginTransaction(c.handle()));
  WriteFields(pro,
              {{"Code 1", "C1"},
               {"Description",
                "\xDC"
                "ber"}},
              true);
  WriteFields(other, {{"Code 1", "D1"}, {"Description", "\x80"}}, true);
  ISAM_ASSERT_OK(IsamCommitTransaction(c.handle()));
  EXPECT_EQ(Query(folder.File("Mwpro.adt"), "SELECT * FROM records WHERE _recno = 3"),
            std::vector<std::string>{"3|C1|\xC3\x9C"
                                     "ber"});
  EXPECT_EQ(Query(folder.File("Other.adt"), "SELECT * FROM records"),
            std::vector<std::string>{"1|D1|\xE2\x82\xAC"});
  EXPECT_EQ(Query(folder.File("Mwpro.adt"), "PRAGMA encoding"),
            std::vector<std::string>{"UTF-16le"});
}

TEST(TableFiles, ReadOnlyTablesRefuseEveryChangeAndAreNeverWritten) {
  TempFolder folder;
  CreateTable(folder.File("Engine.adt"), {"Code CHAR(4)"}, {"BYCODE=Code"});
  {
    ScopedConnection c(folder.path());
    WriteFields(c.Open("Engine.adt"), {{"Code", "a"}}, true);
  }
  const std::string outside = std::string(kMarks) +
                              "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY,"
                              " \"Code\" CHAR(4)); INSERT INTO records VALUES(1, 'a');";
  RunSql(folder.File("Outside.adt"), outside);
  RunSql(folder.File("Asked.adt"), outside);
  ASSERT_EQ(chmod(folder.File("Engine.adt").c_str(), 0444), 0);
  ASSERT_EQ(chmod(folder.File("Outside.adt").c_str(), 0444), 0);
  // Read-only files (even for root, who could write them), and a writable file opened read-only.
  const std::pair<const char*, uint32_t> cases[] = {
      {"Engine.adt", 0}, {"Outside.adt", 0}, {"Asked.adt", ISAM_OPEN_READ_ONLY}};
  for (const auto& [name, mode] : cases) {
    SCOPED_TRACE(name);
    std::string path = folder.File(name);
    std::string before = ReadBytes(path);
    std::set<std::string> entries = Entries(folder.path());
    {
      ScopedConnection c(folder.path());
      IsamHandle t = c.Open(name, mode);
      ASSERT_NE(t, 0u);
      uint32_t options = 0;
      ISAM_ASSERT_OK(IsamGetTableOpenOptions(t, &options));
      EXPECT_EQ(options & ISAM_TABLE_READ_ONLY, uint32_t{ISAM_TABLE_READ_ONLY});
      ISAM_ASSERT_OK(IsamGotoTop(t));
      EXPECT_EQ(FieldText(t, 1), "a");
      EXPECT_EQ(IsamLockRecord(t, 1), ISAM_ERR_READ_ONLY);
      EXPECT_NE(LastErrorText().find(name), std::string::npos) << LastErrorText();
      EXPECT_EQ(IsamSetField(t, 1, "b"), ISAM_ERR_READ_ONLY);
      EXPECT_EQ(IsamSetEmpty(t, 1), ISAM_ERR_READ_ONLY);
      EXPECT_EQ(IsamAppendRecord(t), ISAM_ERR_READ_ONLY);
      EXPECT_EQ(IsamClearRecordBuffer(t), ISAM_ERR_READ_ONLY);
      EXPECT_EQ(FieldText(t, 1), "a");
    }
    EXPECT_TRUE(FileHolds(path, before));
    // SQLite's own files may stay behind, but hold nothing that would change the table.
    for (const std::string& entry : Entries(folder.path())) {
      if (entries.count(entry) || entry == std::string(name) + "-shm") continue;
      EXPECT_EQ(entry, std::string(name) + "-wal");
      EXPECT_EQ(std::filesystem::file_size(folder.File(entry)), 0u) << entry;
    }
  }
}

TEST(TableFiles, TablesInAReadOnlyFolderOpenReadOnly) {
  TempFolder folder;
  ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
  std::string ro = folder.File("ro");
  std::filesystem::create_directory(ro);
  CreateTable(ro + "/T.adt", {"Code CHAR(4)"});
  {
    ScopedConnection c(ro);
    WriteFields(c.Open("T.adt"), {{"Code", "a"}}, true);
  }
  std::string path = ro + "/T.adt";
  if (geteuid() == 0) {
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);  // the file itself is theirs to write
  }
  std::string before = ReadBytes(path);
  std::set<std::string> entries = Entries(ro);
  ASSERT_EQ(chmod(ro.c_str(), 0555), 0);
  int failed_step = RunAsOrdinaryUser([&] {
    IsamHandle connection = 0, t = 0;
    uint32_t options = 0;
    uint16_t eof = 1;
    char code[8];
    uint32_t length = sizeof code;
    if (IsamConnect(ro.c_str(), &connection) != 0) return 1;
    if (IsamOpenTable(connection, "t.adt", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                      ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &t) != 0)
      return 2;
    if (IsamGetTableOpenOptions(t, &options) != 0 || !(options & ISAM_TABLE_READ_ONLY)) return 3;
    if (IsamGotoTop(t) != 0 || IsamAtEOF(t, &eof) != 0 || eof) return 4;
    if (IsamGetField(t, 1, code, &length) != 0 || std::string(code) != "a") return 5;
    if (IsamAppendRecord(t) != ISAM_ERR_READ_ONLY) return 6;
    if (IsamLockRecord(t, 1) != ISAM_ERR_READ_ONLY) return 7;
    return IsamDisconnect(connection) == 0 ? 0 : 8;
  });
  EXPECT_EQ(failed_step, 0) << "see the engine's error above";
  chmod(ro.c_str(), 0755);
  EXPECT_TRUE(FileHolds(path, before));
  EXPECT_EQ(Entries(ro), entries);
}

TEST(TableFiles, CreatedTablesCarryTheMarksFieldsAndIndexesThatPlainSqliteSees) {
  TempFolder folder;
  std::string path = folder.File("New.adt");
  CreateTable(path,
              {"Entry Number AUTOINC", "Chart Number char(8)", "Amount numeric(10, 2)",
               "Paid LOGICAL", "Date From DATE", "Note MEMO", "Rate DOUBLE", "Case Number INTEGER",
               "Small SHORTINT", "At TIME", "Stamp TIMESTAMP", "Fee MONEY"},
              {"PRIMARY=Entry Number", "IDXCHARTDATE=Chart Number;Date From"});
  EXPECT_EQ(Query(path, "PRAGMA application_id"), std::vector<std::string>{"1230193997"});
  EXPECT_EQ(Query(path, "PRAGMA user_version"), std::vector<std::string>{"1"});
  EXPECT_EQ(Query(path, "SELECT name, type, pk FROM pragma_table_info('records')"),
            (std::vector<std::string>{"_recno|INTEGER|1", "Entry Number|AUTOINC|0",
                                      "Chart Number|CHAR(8)|0", "Amount|NUMERIC(10,2)|0",
                                      "Paid|LOGICAL|0", "Date From|DATE|0", "Note|MEMO|0",
                                      "Rate|DOUBLE|0", "Case Number|INTEGER|0", "Small|SHORTINT|0",
                                      "At|TIME|0", "Stamp|TIMESTAMP|0", "Fee|MONEY|0"}));
  EXPECT_EQ(Query(path, "SELECT name FROM pragma_index_info('IDXCHARTDATE')"),
            (std::vector<std::string>{"Chart Number", "Date From"}));
  EXPECT_EQ(Query(path, "SELECT name FROM pragma_index_info('PRIMARY')"),
            std::vector<std::string>{"Entry Number"});
  EXPECT_EQ(Query(path, "SELECT count(*) FROM records"), std::vector<std::string>{"0"});

  // A type may be written with blanks, as SQLite lets a file declare it.
  const char* spaced[] = {"Code char ( 8 )", "Amount NUMERIC (10, 2)"};
  EXPECT_EQ(IsamCreateTable(folder.File("Spaced.adt").c_str(), 2, spaced, 0, nullptr), 0u)
      << LastErrorText();
  EXPECT_EQ(Query(folder.File("Spaced.adt"), "SELECT name, type FROM pragma_table_info('records')"),
            (std::vector<std::string>{"_recno|INTEGER", "Code|CHAR(8)", "Amount|NUMERIC(10,2)"}));
}

TEST(TableFiles, CreateRefusesExistingFilesAndBadDefinitionsLeavingNoFile) {
  TempFolder folder;
  WriteBytes(folder.File("Exists.adt"), "keep me");
  auto create = [&](const std::string& name, std::vector<const char*> fields,
                    std::vector<const char*> indexes) {
    return IsamCreateTable(folder.File(name).c_str(), static_cast<uint16_t>(fields.size()),
                           fields.data(), static_cast<uint16_t>(indexes.size()), indexes.data());
  };
  EXPECT_EQ(create("Exists.adt", {"Code CHAR(2)"}, {}), ISAM_ERR_TABLE_EXISTS);
  EXPECT_NE(LastErrorText().find("Exists.adt"), std::string::npos) << LastErrorText();
  EXPECT_EQ(ReadBytes(folder.File("Exists.adt")), "keep me");

  EXPECT_EQ(create("A.adt", {"Code CHAR(2)", "Name VARCHAR(5)"}, {}), ISAM_ERR_UNKNOWN_FIELD_TYPE);
  EXPECT_NE(LastErrorText().find("Name"), std::string::npos) << LastErrorText();
  EXPECT_NE(create("A.adt", {"Code CHAR(2)", "code INTEGER"}, {}), 0u);
  EXPECT_NE(LastErrorText().find("code"), std::string::npos) << LastErrorText();
  EXPECT_EQ(create("A.adt", {"Code CHAR(2)"}, {"BYX=Code;Missing"}), ISAM_ERR_FIELD_NOT_FOUND);
  EXPECT_NE(LastErrorText().find("Missing"), std::string::npos) << LastErrorText();
  EXPECT_EQ(Entries(folder.path()), std::set<std::string>{"Exists.adt"});
}

TEST(TableFiles, AutoincrementValuesAreOneMoreThanTheLargestInTheColumn) {
  TempFolder folder;
  std::string path = folder.File("T.adt");
  CreateTable(path, {"Entry Number AUTOINC", "Code CHAR(4)"});
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("T.adt");
  WriteFields(t, {{"Code", "a"}}, true);
  EXPECT_EQ(FieldText(t, 1), "1");
  WriteFields(t, {{"Code", "b"}}, true);
  EXPECT_EQ(FieldText(t, 1), "2");
  RunSql(path, "INSERT INTO records(\"Entry Number\", \"Code\") VALUES(100, 'out')");
  WriteFields(t, {{"Code", "c"}}, true);
  EXPECT_EQ(FieldText(t, 1), "101");
  EXPECT_EQ(RecordNumber(t), 4u);
  RunSql(path, "UPDATE records SET \"Entry Number\" = 500 WHERE \"Code\" = 'a'");
  WriteFields(t, {{"Code", "d"}}, true);
  EXPECT_EQ(FieldText(t, 1), "501");
  EXPECT_EQ(Query(path, "SELECT _recno, \"Entry Number\" FROM records ORDER BY _recno"),
            (std::vector<std::string>{"1|500", "2|2", "3|100", "4|101", "5|501"}));
}

TEST(TableFiles, ATableDeletedOrReplacedWhileOpenRefusesChangesSayingSoAndKeepsReading) {
  TempFolder folder;
  for (bool replace : {false, true}) {
    std::string path = folder.File("T.adt");
    std::filesystem::remove(path);
    CreateTable(path, {"Code CHAR(4)"});
    ScopedConnection c(folder.path());
    IsamHandle t = c.Open("T.adt");
    WriteFields(t, {{"Code", "a"}}, true);
    std::string replacement;
    if (replace) {
      CreateTable(folder.File("New.adt"), {"Code CHAR(4)"});
      replacement = ReadBytes(folder.File("New.adt"));
      std::filesystem::rename(folder.File("New.adt"), path);
    } else {
      std::filesystem::remove(path);
    }
    ISAM_ASSERT_OK(IsamGotoTop(t));
    EXPECT_EQ(FieldText(t, 1), "a") << "what was open reads on";
    ISAM_ASSERT_OK(IsamAppendRecord(t));
    ISAM_ASSERT_OK(IsamSetField(t, 1, "b"));
    EXPECT_EQ(IsamWriteRecord(t), uint32_t{ISAM_ERR_READ_ONLY});
    EXPECT_NE(LastErrorText().find("deleted, moved or replaced"), std::string::npos)
        << LastErrorText();
    if (replace) {
      EXPECT_TRUE(FileHolds(path, replacement)) << "the file put in its place is not written";
    } else {
      EXPECT_FALSE(std::filesystem::exists(path));
    }
  }
}

}  // namespace
}  // namespace isam::testing
