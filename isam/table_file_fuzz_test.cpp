// Hostile table files opened through the engine's interface: random bytes, truncated and
// bit-flipped tables, SQLite files with a wrong schema and rows holding values of the wrong kind.
// Every call answers success or a code of errors.h, every refusal of a file names it, a refused
// file keeps its bytes and its folder its entries, and an accepted file keeps everything in it
// that is not the engine's. All input is seeded; the number of files is fixed.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

const char kMarks[] = "PRAGMA application_id=1230193997; PRAGMA user_version=1;";
const char kAllTypes[] =
    "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY, \"Paid\" LOGICAL, \"Amount\" "
    "NUMERIC(8,2), \"Day\" DATE, \"Chart Number\" CHAR(8), \"Note\" MEMO, \"Rate\" DOUBLE, "
    "\"Case\" INTEGER, \"Small\" SHORTINT, \"At\" TIME, \"Stamp\" TIMESTAMP, \"Entry\" AUTOINC, "
    "\"Fee\" MONEY);";

// Files tried and time taken over the whole program, printed once at its end.
struct Tally : ::testing::Environment {
  int files = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  void TearDown() override {
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("table file fuzz: %d files in %.1f s\n", files, seconds.count());
  }
};
Tally* const tally = static_cast<Tally*>(::testing::AddGlobalTestEnvironment(new Tally));

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// What plain SQLite sees of a file outside the engine's part: the marks and every schema entry
// whose name does not begin with '_'. Empty when SQLite cannot read the file.
std::string ForeignContent(const std::string& path) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    auto add = [](void* o, int n, char** v, char**) {
      for (int i = 0; i < n; ++i)
        *static_cast<std::string*>(o) += std::string(v[i] ? v[i] : "~") + "|";
      return 0;
    };
    sqlite3_exec(db,
                 "PRAGMA application_id; PRAGMA user_version; SELECT type, name, sql FROM "
                 "sqlite_schema WHERE substr(name, 1, 1) <> '_' ORDER BY name",
                 add, &out, nullptr);
  }
  sqlite3_close(db);
  return out;
}

// A result code of a call on `name`: success or a code of errors.h other than an internal
// failure; codes about the file name it.
::testing::AssertionResult Clear(IsamResult rc, const std::string& name, const char* call) {
  static const std::set<IsamResult> kFileCodes = {ISAM_ERR_NOT_A_TABLE, ISAM_ERR_TABLE_DAMAGED,
                                                  ISAM_ERR_IO, ISAM_ERR_UNKNOWN_FIELD_TYPE,
                                                  ISAM_ERR_NOT_SUPPORTED};
  static const std::set<IsamResult> kOtherCodes = {
      ISAM_ERR_BUFFER_TOO_SMALL,  ISAM_ERR_INVALID_VALUE,    ISAM_ERR_VALUE_TOO_LONG,
      ISAM_ERR_NO_CURRENT_RECORD, ISAM_ERR_RECORD_NOT_FOUND, ISAM_ERR_READ_ONLY,
      ISAM_ERR_INDEX_NOT_FOUND,   ISAM_ERR_FIELD_NOT_FOUND,  ISAM_ERR_BUSY,
      ISAM_ERR_DISK_FULL};
  if (rc == ISAM_SUCCESS || kOtherCodes.count(rc)) return ::testing::AssertionSuccess();
  std::string text = LastErrorText();
  if (kFileCodes.count(rc) && text.find(name) != std::string::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << call << " on " << name << ": " << text;
}

// Reads every field of the current record in each form the interface gives.
void ReadRecord(IsamHandle order, const std::string& name, uint16_t fields, uint32_t length) {
  std::vector<uint8_t> image(std::min<uint32_t>(length, 1u << 24) + 1);
  uint32_t size = static_cast<uint32_t>(image.size());
  EXPECT_TRUE(Clear(IsamGetRecord(order, image.data(), &size), name, "IsamGetRecord"));
  int64_t recno = 0;
  EXPECT_TRUE(Clear(IsamGetRecordNum(order, 2, &recno), name, "IsamGetRecordNum"));
  std::vector<char> text(1 << 16);
  for (uint16_t f = 1; f <= fields; ++f) {
    uint32_t n = static_cast<uint32_t>(text.size());
    EXPECT_TRUE(Clear(IsamGetField(order, f, text.data(), &n), name, "IsamGetField"));
    n = static_cast<uint32_t>(text.size());
    auto* raw = reinterpret_cast<uint8_t*>(text.data());
    EXPECT_TRUE(Clear(IsamGetFieldRaw(order, f, raw, &n), name, "IsamGetFieldRaw"));
    uint16_t empty = 0;
    EXPECT_TRUE(Clear(IsamIsEmpty(order, f, &empty), name, "IsamIsEmpty"));
  }
}

// Walks an order both ways, reading at most `limit` records each way.
void Walk(IsamHandle order, const std::string& name, uint16_t fields, uint32_t length) {
  const int limit = 40;
  IsamResult rc = IsamGotoTop(order);
  EXPECT_TRUE(Clear(rc, name, "IsamGotoTop"));
  uint16_t at_end = 0;
  for (int i = 0; i < limit && rc == 0 && IsamAtEOF(order, &at_end) == 0 && !at_end; ++i) {
    ReadRecord(order, name, fields, length);
    EXPECT_TRUE(Clear(rc = IsamSkip(order, 1), name, "IsamSkip(1)"));
  }
  EXPECT_TRUE(Clear(rc = IsamGotoBottom(order), name, "IsamGotoBottom"));
  for (int i = 0; i < limit && rc == 0 && IsamAtBOF(order, &at_end) == 0 && !at_end; ++i) {
    ReadRecord(order, name, fields, length);
    EXPECT_TRUE(Clear(rc = IsamSkip(order, -1), name, "IsamSkip(-1)"));
  }
}

// An index's key length is one empty mark and the data of each segment field, or a refusal.
void CheckKeyLength(IsamHandle index, const std::string& name) {
  uint16_t key = 0, segments = 0;
  IsamResult rc = IsamGetKeyLength(index, &key);
  EXPECT_TRUE(Clear(rc, name, "IsamGetKeyLength"));
  if (rc != 0 || IsamGetNumSegments(index, &segments) != 0) return;
  uint32_t expected = 0;
  for (uint16_t s = 1; s <= segments; ++s) {
    char field[600];
    uint16_t n = sizeof field;
    uint32_t field_length = 0;
    EXPECT_EQ(IsamGetSegmentFieldname(index, s, field, &n), 0u) << LastErrorText();
    EXPECT_EQ(IsamGetFieldLength(index, FieldNumber(index, field), &field_length), 0u);
    expected += 1 + field_length;
  }
  EXPECT_EQ(key, expected) << "key length of an index of " << name;
}

// Opens the file `name` of `folder` (which holds it alone) and, once open, reads it through every
// order and tries to append a record.
void Probe(const std::string& folder, const std::string& name) {
  SCOPED_TRACE(name);
  ++tally->files;
  std::string path = folder + "/" + name;
  std::string bytes = ReadBytes(path);
  std::string foreign = ForeignContent(path);
  std::set<std::string> entries = Entries(folder);
  IsamResult open = 0;
  {
    ScopedConnection c(folder);
    IsamHandle t = 0;
    open = IsamOpenTable(c.handle(), name.c_str(), nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                         ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &t);
    ASSERT_TRUE(Clear(open, name, "IsamOpenTable"));
    if (open != 0) {
      EXPECT_NE(LastErrorText().find(name), std::string::npos) << LastErrorText();
      EXPECT_EQ(t, 0u);
    } else {
      uint16_t fields = 0, indexes = 0;
      uint32_t length = 0;
      EXPECT_TRUE(Clear(IsamGetNumFields(t, &fields), name, "IsamGetNumFields"));
      EXPECT_TRUE(Clear(IsamGetRecordLength(t, &length), name, "IsamGetRecordLength"));
      Walk(t, name, fields, length);
      EXPECT_TRUE(Clear(IsamGetNumIndexes(t, &indexes), name, "IsamGetNumIndexes"));
      for (uint16_t i = 1; i <= indexes; ++i) {
        char index_name[600];
        uint16_t n = sizeof index_name;
        IsamHandle index = 0;
        ASSERT_EQ(IsamGetIndexName(t, i, index_name, &n), 0u) << LastErrorText();
        ASSERT_EQ(IsamGetIndexHandle(t, index_name, &index), 0u) << LastErrorText();
        CheckKeyLength(index, name);
        Walk(index, name, fields, length);
      }
      EXPECT_TRUE(Clear(IsamAppendRecord(t), name, "IsamAppendRecord"));
      EXPECT_TRUE(Clear(IsamWriteRecord(t), name, "IsamWriteRecord"));
      IsamCancelUpdate(t);
    }
  }
  std::set<std::string> now = Entries(folder);
  if (open != 0) {
    EXPECT_TRUE(ReadBytes(path) == bytes) << "a refused file changed";
    EXPECT_EQ(now, entries);
    return;
  }
  // An accepted file may gain engine objects, records and SQLite's own files, nothing else.
  EXPECT_EQ(ForeignContent(path), foreign);
  for (const std::string& entry : now) {
    bool allowed = entries.count(entry) || entry == name + "-wal" || entry == name + "-shm" ||
                   entry.rfind(name + ".", 0) == 0;
    EXPECT_TRUE(allowed) << "new file " << entry;
  }
}

// A table of every field type with two indexes and 150 records, as the engine writes it.
std::string ValidTable(const TempFolder& scratch) {
  std::string path = scratch.File("valid.adt");
  std::filesystem::remove(path);
  RunSql(path, std::string(kMarks) + kAllTypes + R"(
    CREATE INDEX "IDXCHART" ON records("Chart Number", "Day");
    CREATE INDEX "PRIMARY" ON records("Entry");
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150)
    INSERT INTO records SELECT i, i % 2, i * 1.25, date('2004-01-01', '+' || i || ' days'),
      'C' || (i % 13), 'note ' || i, i / 7.0, i * 1000, i - 75, i * 60000,
      '2004-03-01 10:00:00.' || printf('%03d', i), i, i * 0.01 FROM n;
    PRAGMA journal_mode=DELETE;)");
  return ReadBytes(path);
}

// Writes each byte string to its own folder and probes it there.
void ProbeAll(const std::vector<std::string>& files) {
  for (size_t i = 0; i < files.size(); ++i) {
    TempFolder folder;
    WriteBytes(folder.File("T" + std::to_string(i) + ".adt"), files[i]);
    Probe(folder.path(), "T" + std::to_string(i) + ".adt");
  }
}

TEST(TableFileFuzz, RandomBytesAreRefusedByNameAndLeftUntouched) {
  TempFolder scratch;
  std::string header = ValidTable(scratch).substr(0, 100);  // with the marks: SQLite reads on
  std::mt19937 random(1701);
  std::vector<std::string> files;
  for (int i = 0; i < 120; ++i) {
    std::string bytes(std::uniform_int_distribution<size_t>(0, 3)(random) * 4096 +
                          std::uniform_int_distribution<size_t>(0, 200)(random),
                      '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    if (i % 3 > 0) bytes.replace(0, std::min(bytes.size(), size_t{16}), "SQLite format 3");
    if (i % 3 == 2) bytes.replace(0, std::min(bytes.size(), header.size()), header);
    files.push_back(bytes);
  }
  ProbeAll(files);
}

TEST(TableFileFuzz, TruncatedTablesAreRefusedOrReadWithoutFault) {
  TempFolder scratch;
  std::string whole = ValidTable(scratch);
  std::mt19937 random(42);
  std::vector<std::string> files;
  for (size_t cut : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{99}, size_t{100}}) {
    files.push_back(whole.substr(0, cut));
  }
  for (size_t cut = 512; cut < whole.size(); cut += 512) files.push_back(whole.substr(0, cut));
  for (int i = 0; i < 30; ++i) {
    files.push_back(
        whole.substr(0, std::uniform_int_distribution<size_t>(101, whole.size())(random)));
  }
  ProbeAll(files);
}

TEST(TableFileFuzz, FlippedBytesOfATableGiveOnlyDocumentedResults) {
  TempFolder scratch;
  std::string whole = ValidTable(scratch);
  std::mt19937 random(7);
  std::uniform_int_distribution<size_t> at(0, whole.size() - 1);
  std::vector<std::string> files;
  for (int i = 0; i < 200; ++i) {
    std::string bytes = whole;
    for (int flips = 1 + i % 12; flips > 0; --flips) {
      // Half the flips land in the first page, where the header and the schema live.
      size_t where = i % 2 ? at(random) % 4096 : at(random);
      bytes[where] = static_cast<char>(bytes[where] ^ (1 + random() % 255));
    }
    files.push_back(bytes);
  }
  ProbeAll(files);
}

// Each script makes one file in a fresh folder with plain SQLite.
void ProbeScripts(const std::vector<std::string>& scripts) {
  for (size_t i = 0; i < scripts.size(); ++i) {
    TempFolder folder;
    std::string name = "S" + std::to_string(i) + ".adt";
    SCOPED_TRACE(scripts[i].substr(0, 300));
    RunSql(folder.File(name), scripts[i] + "; PRAGMA journal_mode=DELETE;");
    Probe(folder.path(), name);
  }
}

TEST(TableFileFuzz, SqliteFilesWithoutTheMarksOrWithAWrongSchemaAreHandled) {
  auto marked = [](const std::string& sql) { return std::string(kMarks) + sql; };
  // A marked file whose table starts as it should, followed by `rest`.
  auto rec = [&](const std::string& rest) {
    return marked("CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY" + rest);
  };
  ProbeScripts({
      std::string(kAllTypes) + "INSERT INTO records(\"_recno\") VALUES(1)",
      "PRAGMA application_id=1230193997;" + std::string(kAllTypes),
      "PRAGMA user_version=1;" + std::string(kAllTypes),
      marked("CREATE TABLE other(x)"),
      marked("CREATE VIEW records AS SELECT 1 AS \"_recno\", 'a' AS \"Code\""),
      marked("CREATE TABLE records(id INTEGER PRIMARY KEY, \"Code\" CHAR(4))"),
      marked("CREATE TABLE records(\"_recno\" INTEGER, \"Code\" CHAR(4))"),
      marked("CREATE TABLE records(\"Code\" CHAR(4), \"_recno\" INTEGER PRIMARY KEY)"),
      marked("CREATE TABLE records(\"_recno\" TEXT PRIMARY KEY, \"Code\" CHAR(4))"),
      rec(")"),
      rec(", \"Code\" CHAR(4)) WITHOUT ROWID; INSERT INTO records "
          "VALUES(1, 'a')"),
      rec(", \"A\" VARCHAR(5))"),
      rec(", \"A\" CHAR(0))"),
      rec(", \"A\" CHAR(65001))"),
      rec(", \"A\" CHAR(99999999999999999999))"),
      rec(", \"A\" NUMERIC(3,5))"),
      rec(", \"A\" NUMERIC(10,-2))"),
      rec(", \"A\" CHAR)"),
      rec(", \"A\")"),
      rec(", \"A\" BLOB)"),
      rec(", \"\" CHAR(4), \" a \" INTEGER)"),
      // Indexes the engine must tell from the table's: over an expression, over a name that is
      // no column, descending, with another collation, partial, and names differing in case.
      rec(", \"Code\" CHAR(4));"
          "CREATE INDEX \"IDXGONE\" ON records(\"Missing\");"
          "CREATE INDEX \"IDXEXPR\" ON records(lower(\"Code\"));"
          "CREATE INDEX \"IDXDESC\" ON records(\"Code\" DESC);"
          "CREATE INDEX \"IDXNOCASE\" ON records(\"Code\" COLLATE NOCASE);"
          "CREATE INDEX \"IDXPART\" ON records(\"Code\") WHERE \"Code\" > 'b';"
          "CREATE INDEX \"IDX\xC3\x89\" ON records(\"Code\");"
          "CREATE INDEX \"IDX\xC3\xA9\" ON records(\"Code\", \"_recno\");"
          "CREATE INDEX \"idxcode \" ON records(\"Code\");"
          "INSERT INTO records VALUES(1, 'a'), (2, 'c'), (3, NULL)"),
      // An index whose stored definition names a column the table lacks.
      rec(", \"Code\" CHAR(4)); CREATE INDEX \"IDXX\" ON records(\"Code\");"
          "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = 'CREATE INDEX \"IDXX\" ON "
          "records(\"Nope\")' WHERE name = 'IDXX'; PRAGMA writable_schema=OFF"),
  });
}

// A key over two CHAR(65000) fields takes 130002 bytes, more than the 16 bits that
// IsamGetKeyLength answers in; the engine must refuse the index or the request, not cut the length.
TEST(TableFileFuzz, AKeyLongerThanSixteenBitsCanCountIsRefusedOrMeasuredRight) {
  ProbeScripts({std::string(kMarks) +
                "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY, \"W0\" CHAR(65000), "
                "\"W1\" CHAR(65000)); CREATE INDEX \"IDXWIDE\" ON records(\"W0\", \"W1\");"
                "INSERT INTO records VALUES(1, 'x', 'y')"});
}

TEST(TableFileFuzz, StoredValuesOfTheWrongKindGiveOnlyDocumentedResults) {
  const std::string huge = "replace(hex(zeroblob(2500000)), '00', 'ab')";  // 5 MB of text
  const std::vector<std::pair<std::string, std::vector<std::string>>> values = {
      {"Case", {"'abc'", "x'00ff'", "3.5", "1099511627776", "-1099511627776"}},
      {"Small", {"70000", "'x'"}},
      {"Paid", {"2", "'T'", "x'00'"}},
      {"Day",
       {"'2020-13-45'", "'garbage'", "12345", "'0000-00-00'", "'-4713-01-01'", "'99999-01-01'"}},
      {"Stamp", {"'2020-01-01 25:61:61.999'", "'stamp'", "3.25"}},
      {"At", {"-1", "86400000", "1e20", "'noon'"}},
      {"Chart Number",
       {huge, "x'00410042'", "'a' || char(0)", "CAST(x'fffe41' AS TEXT)", "12345678901"}},
      {"Note", {huge, "x'00ff00ff'"}},
      {"Amount", {"1e300", "'1,5'", "-99999999"}},
      {"Rate", {"'inf'", "1e308 * 10", "x'01'"}},
      {"Fee", {"'ten'"}},
      {"Entry", {"NULL", "'x'", "4294967297"}},
      {"_recno", {"-5", "0", "4294967297", "4611686018427387904"}},
  };
  std::vector<std::string> scripts;
  for (const auto& [field, list] : values) {
    for (const std::string& value : list) {
      scripts.push_back(std::string(kMarks) + kAllTypes + "CREATE INDEX \"IDXALL\" ON records(\"" +
                        field +
                        "\"); INSERT INTO records(\"_recno\", \"Entry\") VALUES(10, 10), "
                        "(11, 11); UPDATE records SET \"" +
                        field + "\" = " + value + " WHERE \"_recno\" = 11");
    }
  }
  ProbeScripts(scripts);
}

}  // namespace
}  // namespace isam::testing
