// SQL statements through the engine's C interface on real table files: the two queries the
// program runs, live and static cursors, what conditions mean, UPDATE/INSERT/DELETE, and bad input.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "isam/testing/sql_texts.h"
#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

const std::vector<std::string> kTrnFields = Pieces(
    "Entry Number AUTOINC|Chart Number CHAR(8)|Case Number INTEGER|Date From DATE|"
    "Document Number CHAR(10)|Procedure Code CHAR(10)|Transaction Type CHAR(1)|Amount DOUBLE|"
    "Who Paid CHAR(1)|Guarantor Amount Paid DOUBLE|Insurance 1 Amount Paid DOUBLE|"
    "Insurance 2 Amount Paid DOUBLE|Insurance 3 Amount Paid DOUBLE|Attorney Amount Paid DOUBLE|"
    "Adjustment Amount DOUBLE|Date Created DATE|Insurance 1 Paid LOGICAL|Insurance 2 Paid LOGICAL|"
    "Insurance 3 Paid LOGICAL|Guarantor Paid LOGICAL|Attorney Paid LOGICAL|Description CHAR(40)|"
    "Type Of Service CHAR(3)|Place Of Service CHAR(2)|Insurance Category CHAR(2)");
const std::vector<std::string> kTrnIndexes = Pieces(
    "PRIMARY=Entry Number|IDXDOCUMENT=Chart Number;Document Number|"
    "IDXCHARTDATE=Chart Number;Date From|IDXENTRYNUMBER=Entry Number");

// A transaction as written by an outside program; "" stands for an empty (NULL) value.
struct Trn {
  std::string chart, doc, proc, type, who, date;  // date as stored: YYYY-MM-DD
};

// Ten transactions; those of types I..O without a payer, by procedure code, are 9 8 2 6 1 4.
const std::vector<Trn> kWhoPaidRows = {
    {"A", "", "99213", "I", "", ""},  {"B", "", "99212", "M", "", ""},
    {"A", "", "99213", "O", "G", ""}, {"B", "", "99213", "O", "", ""},
    {"A", "", "10000", "P", "", ""},  {"B", "", "99212", "I", "", ""},
    {"A", "", "99211", "A", "", ""},  {"B", "", "90000", "N", "", ""},
    {"A", "", "", "K", "", ""},       {"B", "", "99212", "H", "", ""}};
const std::vector<int64_t> kWhoPaidOrder = {9, 8, 2, 6, 1, 4};

int32_t Julian(const char* date) {
  int32_t julian = 0;
  EXPECT_EQ(IsamConvertStringToJulian(date, &julian), 0u) << LastErrorText();
  return julian;
}

std::array<uint8_t, 8> Stamp(int32_t julian, int32_t milliseconds) {
  std::array<uint8_t, 8> raw{};
  std::memcpy(raw.data(), &julian, 4);
  std::memcpy(raw.data() + 4, &milliseconds, 4);
  return raw;
}

uint32_t Count(IsamHandle handle, uint16_t option) {
  uint32_t count = 0;
  EXPECT_EQ(IsamGetRecordCount(handle, option, &count), 0u) << LastErrorText();
  return count;
}

// Every field of every row walking the cursor forward, fields joined by '|'.
std::vector<std::string> Rows(IsamHandle cursor) {
  uint16_t fields = 0;
  EXPECT_EQ(IsamGetNumFields(cursor, &fields), 0u);
  std::vector<std::string> rows;
  EXPECT_EQ(IsamGotoTop(cursor), 0u) << LastErrorText();
  while (!AtEof(cursor) && rows.size() < 10000) {
    std::string row;
    for (uint16_t f = 1; f <= fields; ++f) row += (f > 1 ? "|" : "") + FieldText(cursor, f);
    rows.push_back(row);
    EXPECT_EQ(IsamSkip(cursor, 1), 0u) << LastErrorText();
  }
  return rows;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The records of the file as an outside program reads them, one line each.
std::string Snapshot(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM records ORDER BY _recno", -1, &stmt, nullptr);
  std::string out;
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      out += (text ? reinterpret_cast<const char*>(text) : "~") + std::string("|");
    }
    out += "\n";
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

// Prepares and runs a statement, then moves to its first row: the first failing call's code.
IsamResult TryStatement(IsamHandle connection, const std::string& text, IsamHandle* cursor) {
  IsamHandle statement = 0;
  IsamResult rc = IsamCreateSQLStatement(connection, &statement);
  if (rc == 0) rc = IsamPrepareSQL(statement, text.c_str());
  if (rc == 0) rc = IsamExecuteSQL(statement, cursor);
  if (rc == 0 && *cursor) rc = IsamGotoTop(*cursor);
  return rc;
}

class TrnTable : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_.File("MWTRN.ADT");
    CreateTable(path_, kTrnFields, kTrnIndexes);
  }

  // Appends the rows in one transaction; Entry Number follows the record number.
  void Insert(const std::vector<Trn>& rows) {
    auto text = [](const std::string& s) { return s.empty() ? "NULL" : "'" + s + "'"; };
    std::string sql = "BEGIN;";
    for (const Trn& r : rows) {
      sql +=
          "INSERT INTO records (\"Entry Number\", \"Chart Number\", \"Document Number\", "
          "\"Procedure Code\", \"Transaction Type\", \"Who Paid\", \"Date Created\") VALUES (" +
          std::to_string(++entries_) + ", " + text(r.chart) + ", " + text(r.doc) + ", " +
          text(r.proc) + ", " + text(r.type) + ", " + text(r.who) + ", " + text(r.date) + ");";
    }
    RunSql(path_, sql + "COMMIT;");
  }

  // The file as the engine leaves it after its first write through a table handle: in
  // write-ahead mode (ChangesRunOnAFileOnlyAnOutsideProgramHasWritten starts without that).
  void SwitchToWal() { RunSql(path_, "PRAGMA journal_mode = WAL"); }

  IsamHandle Prepare(const std::string& text) {
    IsamHandle statement = 0;
    EXPECT_EQ(IsamCreateSQLStatement(conn_.handle(), &statement), 0u);
    EXPECT_EQ(IsamPrepareSQL(statement, text.c_str()), 0u) << LastErrorText();
    return statement;
  }

  IsamHandle Execute(IsamHandle statement) {
    IsamHandle cursor = 0;
    EXPECT_EQ(IsamExecuteSQL(statement, &cursor), 0u) << LastErrorText();
    return cursor;
  }

  // Record numbers of the rows a SELECT * with this condition gives; text parameters in order.
  std::vector<int64_t> Where(const std::string& condition,
                             const std::vector<std::string>& texts = {}) {
    IsamHandle statement = Prepare("SELECT * FROM MWTRN.ADT WHERE " + condition);
    for (size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(IsamSetString(statement, static_cast<uint16_t>(i + 1), texts[i].c_str()), 0u);
    }
    IsamHandle cursor = Execute(statement);
    std::vector<int64_t> recnos = cursor ? WalkForward(cursor) : std::vector<int64_t>{};
    if (cursor) IsamCloseTable(cursor);
    IsamCloseSQLStatement(statement);
    return recnos;
  }

  // The document query's rows for a range of days, sorted.
  std::vector<std::string> Documents(const char* from, const char* to) {
    IsamHandle statement = Prepare(kTrnDocQuery);
    EXPECT_EQ(IsamSetJulian(statement, 1, Julian(from)), 0u);
    EXPECT_EQ(IsamSetJulian(statement, 2, Julian(to)), 0u);
    IsamHandle cursor = Execute(statement);
    std::vector<std::string> rows = Sorted(Rows(cursor));
    EXPECT_EQ(Count(cursor, ISAM_COUNT_RESPECT_FILTERS), rows.size());
    IsamCloseTable(cursor);
    IsamCloseSQLStatement(statement);
    return rows;
  }

  TempFolder folder_;
  std::string path_;
  ScopedConnection conn_{folder_.path()};
  int entries_ = 0;
};

// Writes "Who Paid" of one transaction found by its entry number, as the program does.
void SetWhoPaid(IsamHandle table, IsamHandle by_entry, int entry, const char* who) {
  std::vector<uint8_t> key = TextKey(by_entry, {std::to_string(entry)});
  uint16_t found = 0;
  ISAM_ASSERT_OK(IsamSeek(by_entry, key.data(), static_cast<uint16_t>(key.size()), ISAM_RAW_KEY,
                          ISAM_SEEK_EXACT, &found));
  ASSERT_EQ(found, 1u) << "entry " << entry;
  WriteFields(table, {{"Who Paid", who}}, false);
}

TEST_F(TrnTable, DocumentQueryListsEachDocumentOnceForADateRangeWithBothEndsIncluded) {
  Insert({{"A", "D1", "", "C", "", "2024-01-10"},
          {"A", "D1", "", "C", "", "2024-01-15"},
          {"A", "D1", "", "C", "", "2024-01-20"},
          {"A", "D2", "", "C", "", "2024-01-09"},
          {"A", "D2", "", "C", "", "2024-01-21"},
          {"B", "D1", "", "C", "", "2024-01-20"},
          {"B", "D3", "", "C", "", "2024-01-10"},
          {"B", "D3", "", "C", "", "2024-01-10"},
          {"C", "D1", "", "C", "", ""},
          {"C", "D4", "", "C", "", "2024-01-16"}});
  EXPECT_EQ(Documents("01/10/2024", "01/20/2024"),
            (std::vector<std::string>{"A|D1", "B|D1", "B|D3", "C|D4"}));
  EXPECT_EQ(Documents("01/15/2024", "01/15/2024"), (std::vector<std::string>{"A|D1"}));
  EXPECT_EQ(Documents("01/21/2024", "01/21/2024"), (std::vector<std::string>{"A|D2"}));
  EXPECT_EQ(Documents("01/20/2024", "01/20/2024"), (std::vector<std::string>{"A|D1", "B|D1"}));
  EXPECT_EQ(Documents("01/11/2024", "01/14/2024"), (std::vector<std::string>{}));
  EXPECT_EQ(Documents("01/20/2024", "01/10/2024"), (std::vector<std::string>{}));
}

TEST_F(TrnTable, WhoPaidQueryListsUnpaidTypesIThroughOByProcedureCodeTiesInRecordOrder) {
  Insert(kWhoPaidRows);
  IsamHandle cursor = Execute(Prepare(kWhoPaidQuery));
  uint16_t live = 0;
  ISAM_ASSERT_OK(IsamSqlPeekStatement(cursor, &live));
  EXPECT_EQ(live, 1u);
  EXPECT_EQ(WalkForward(cursor), kWhoPaidOrder);
  std::vector<int64_t> backward(kWhoPaidOrder.rbegin(), kWhoPaidOrder.rend());
  EXPECT_EQ(WalkBackward(cursor), backward);
  EXPECT_EQ(Rows(cursor), (std::vector<std::string>{"9|K||", "8|N|90000|", "2|M|99212|",
                                                    "6|I|99212|", "1|I|99213|", "4|O|99213|"}));
  EXPECT_EQ(Count(cursor, ISAM_COUNT_RESPECT_FILTERS), 6u);
  EXPECT_EQ(Count(cursor, ISAM_COUNT_IGNORE_FILTERS | ISAM_COUNT_FRESH), 6u);
}

TEST_F(TrnTable, LiveCursorDropsEachRowPaidThroughAnotherConnectionUntilItIsEmpty) {
  Insert(kWhoPaidRows);
  IsamHandle cursor = Execute(Prepare(kWhoPaidQuery));
  ScopedConnection other(folder_.path());
  IsamHandle table = other.Open("MWTRN.ADT");
  IsamHandle by_entry = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(table, "IDXENTRYNUMBER", &by_entry));

  ISAM_ASSERT_OK(IsamGotoTop(cursor));
  for (size_t i = 0; i < kWhoPaidOrder.size(); ++i) {
    SCOPED_TRACE("paying row " + std::to_string(i));
    ASSERT_FALSE(AtEof(cursor));
    ASSERT_EQ(RecordNumber(cursor), kWhoPaidOrder[i]);
    uint32_t entry = static_cast<uint32_t>(std::atoi(FieldText(cursor, 1).c_str()));
    SetWhoPaid(table, by_entry, static_cast<int>(entry), "G");
    ISAM_ASSERT_OK(IsamRefreshRecord(cursor));
    EXPECT_EQ(Count(cursor, ISAM_COUNT_IGNORE_FILTERS), kWhoPaidOrder.size() - i - 1);
    if (i + 1 < kWhoPaidOrder.size()) {
      EXPECT_EQ(RecordNumber(cursor), kWhoPaidOrder[i + 1]);
    }
  }
  EXPECT_TRUE(AtEof(cursor));
  EXPECT_EQ(Count(cursor, ISAM_COUNT_IGNORE_FILTERS), 0u);
  int64_t recno = 0;
  EXPECT_EQ(IsamGetRecordNum(cursor, 2, &recno),
            static_cast<IsamResult>(ISAM_ERR_NO_CURRENT_RECORD));
  ISAM_ASSERT_OK(IsamGotoTop(cursor));
  EXPECT_TRUE(AtEof(cursor));

  // A row made unpaid again comes back at the next move.
  SetWhoPaid(table, by_entry, 6, "");
  ISAM_ASSERT_OK(IsamGotoTop(cursor));
  EXPECT_EQ(RecordNumber(cursor), 6u);
  EXPECT_EQ(Count(cursor, ISAM_COUNT_RESPECT_FILTERS), 1u);
}

TEST_F(TrnTable, RefreshOfARowThatLeftGoesToTheNextRowElseThePreviousOne) {
  Insert(kWhoPaidRows);
  IsamHandle cursor = Execute(Prepare(kWhoPaidQuery));
  ScopedConnection other(folder_.path());
  IsamHandle table = other.Open("MWTRN.ADT");
  IsamHandle by_entry = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(table, "IDXENTRYNUMBER", &by_entry));

  // Two rows leave at once: the first that still qualifies after them becomes current.
  ISAM_ASSERT_OK(IsamGotoTop(cursor));
  SetWhoPaid(table, by_entry, 9, "P");
  SetWhoPaid(table, by_entry, 8, "P");
  ISAM_ASSERT_OK(IsamRefreshRecord(cursor));
  EXPECT_EQ(RecordNumber(cursor), 2u);

  // The last row leaves: the one before it becomes current.
  ISAM_ASSERT_OK(IsamGotoBottom(cursor));
  ASSERT_EQ(RecordNumber(cursor), 4u);
  SetWhoPaid(table, by_entry, 4, "I");
  ISAM_ASSERT_OK(IsamRefreshRecord(cursor));
  EXPECT_EQ(RecordNumber(cursor), 1u);

  // A row still qualifying shows its new values; a row deleted by an outside program leaves.
  ISAM_ASSERT_OK(IsamGotoRecord(table, 1));
  WriteFields(table, {{"Transaction Type", "M"}}, false);
  ISAM_ASSERT_OK(IsamRefreshRecord(cursor));
  EXPECT_EQ(RecordNumber(cursor), 1u);
  EXPECT_EQ(FieldText(cursor, 2), "M");
  RunSql(path_, "DELETE FROM records WHERE _recno = 1");
  ISAM_ASSERT_OK(IsamRefreshRecord(cursor));
  EXPECT_EQ(RecordNumber(cursor), 6u);
  EXPECT_EQ(WalkForward(cursor), (std::vector<int64_t>{2, 6}));
}

TEST_F(TrnTable, RowsChangedByAnyWriterEnterAndLeaveAtTheNextMove) {
  Insert(kWhoPaidRows);
  IsamHandle cursor = Execute(Prepare(kWhoPaidQuery));
  ScopedConnection other(folder_.path());
  IsamHandle elsewhere = other.Open("MWTRN.ADT");
  IsamHandle by_entry = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(elsewhere, "IDXENTRYNUMBER", &by_entry));

  ISAM_ASSERT_OK(IsamGotoTop(cursor));
  ISAM_ASSERT_OK(IsamSkip(cursor, 1));
  ISAM_ASSERT_OK(IsamSkip(cursor, 1));
  ASSERT_EQ(RecordNumber(cursor), 2u);
  SetWhoPaid(elsewhere, by_entry, 3, "");   // enters, between 1 and 4 by record number
  SetWhoPaid(elsewhere, by_entry, 6, "G");  // leaves, just after the current row
  SetWhoPaid(elsewhere, by_entry, 2, "G");  // the current row leaves too
  std::vector<int64_t> met;
  ISAM_ASSERT_OK(IsamSkip(cursor, 1));
  while (!AtEof(cursor) && met.size() < 20) {
    met.push_back(RecordNumber(cursor));
    ISAM_ASSERT_OK(IsamSkip(cursor, 1));
  }
  EXPECT_EQ(met, (std::vector<int64_t>{1, 3, 4}));
  EXPECT_EQ(Count(cursor, ISAM_COUNT_RESPECT_FILTERS), 5u);

  // A table handle of the cursor's own connection, then an outside program.
  IsamHandle own = conn_.Open("MWTRN.ADT");
  ISAM_ASSERT_OK(IsamGotoRecord(own, 10));
  WriteFields(own, {{"Transaction Type", "J"}}, false);
  EXPECT_EQ(WalkForward(cursor), (std::vector<int64_t>{9, 8, 10, 1, 3, 4}));
  RunSql(path_, "UPDATE records SET \"Who Paid\" = 'X' WHERE _recno = 8");
  EXPECT_EQ(WalkBackward(cursor), (std::vector<int64_t>{4, 3, 1, 10, 9}));
  EXPECT_EQ(Count(cursor, ISAM_COUNT_IGNORE_FILTERS), 5u);
}

TEST_F(TrnTable, DistinctCursorIsStaticAndKeepsTheRowsItRanWith) {
  Insert({{"A", "D1", "", "C", "", "2024-01-10"},
          {"A", "D1", "", "C", "", "2024-01-11"},
          {"B", "D2", "", "C", "", "2024-01-12"},
          {"C", "D3", "", "C", "", "2024-01-13"}});
  IsamHandle statement = Prepare(kTrnDocQuery);
  ISAM_ASSERT_OK(IsamSetJulian(statement, 1, Julian("01/01/2024")));
  ISAM_ASSERT_OK(IsamSetJulian(statement, 2, Julian("01/31/2024")));
  IsamHandle cursor = Execute(statement);
  uint16_t live = 1;
  ISAM_ASSERT_OK(IsamSqlPeekStatement(cursor, &live));
  EXPECT_EQ(live, 0u);
  std::vector<std::string> before = Sorted(Rows(cursor));
  ASSERT_EQ(before, (std::vector<std::string>{"A|D1", "B|D2", "C|D3"}));
  EXPECT_EQ(Count(cursor, ISAM_COUNT_RESPECT_FILTERS), 3u);

  ScopedConnection other(folder_.path());
  IsamHandle table = other.Open("MWTRN.ADT");
  ISAM_ASSERT_OK(IsamGotoRecord(table, 3));
  WriteFields(table, {{"Date Created", "02/15/2024"}}, false);
  RunSql(path_, "DELETE FROM records WHERE _recno = 4");
  Insert({{"D", "D9", "", "C", "", "2024-01-20"}});

  ISAM_ASSERT_OK(IsamGotoTop(cursor));
  ISAM_ASSERT_OK(IsamRefreshRecord(cursor));
  EXPECT_FALSE(AtEof(cursor));
  EXPECT_EQ(Sorted(Rows(cursor)), before);
  EXPECT_EQ(Count(cursor, ISAM_COUNT_IGNORE_FILTERS), 3u);

  IsamHandle again = Execute(statement);
  EXPECT_EQ(Sorted(Rows(again)), (std::vector<std::string>{"A|D1", "D|D9"}));
  EXPECT_EQ(Sorted(Rows(cursor)), before);
}

TEST_F(TrnTable, OrderByDescendingAndSeveralColumnsKeepsTiesInRecordOrder) {
  Insert(kWhoPaidRows);
  // A bare table name in other letter case; the order's columns need not be selected.
  IsamHandle cursor = Execute(Prepare(
      "select \"Entry Number\" from mwtrn.adt order by \"Chart Number\" desc, \"Procedure Code\""));
  uint16_t fields = 0;
  ISAM_ASSERT_OK(IsamGetNumFields(cursor, &fields));
  EXPECT_EQ(fields, 1u);
  EXPECT_EQ(WalkForward(cursor), (std::vector<int64_t>{8, 2, 6, 10, 4, 9, 5, 7, 1, 3}));
  EXPECT_EQ(WalkBackward(cursor), (std::vector<int64_t>{3, 1, 7, 5, 9, 4, 10, 6, 2, 8}));

  // A static cursor keeps the order it was asked for.
  IsamHandle distinct = Execute(
      Prepare("SELECT DISTINCT \"Chart Number\", \"Procedure Code\" FROM MWTRN.ADT WHERE "
              "\"Procedure Code\" > '9' ORDER BY \"Chart Number\" DESC, \"Procedure Code\""));
  EXPECT_EQ(Rows(distinct),
            (std::vector<std::string>{"B|90000", "B|99212", "B|99213", "A|99211", "A|99213"}));

  std::string descending = kWhoPaidQuery + " DESC";
  IsamHandle down = Execute(Prepare(descending));
  EXPECT_EQ(WalkForward(down), (std::vector<int64_t>{1, 4, 2, 6, 8, 9}));
  // Refreshing a row that left moves on in the cursor's own (descending) order.
  ScopedConnection other(folder_.path());
  IsamHandle table = other.Open("MWTRN.ADT");
  ISAM_ASSERT_OK(IsamGotoTop(down));
  ISAM_ASSERT_OK(IsamSkip(down, 1));
  ASSERT_EQ(RecordNumber(down), 4u);
  ISAM_ASSERT_OK(IsamGotoRecord(table, 4));
  WriteFields(table, {{"Who Paid", "G"}}, false);
  ISAM_ASSERT_OK(IsamRefreshRecord(down));
  EXPECT_EQ(RecordNumber(down), 2u);
}

TEST_F(TrnTable, TextComparesByteByByteIgnoringTrailingBlanks) {
  Insert(kWhoPaidRows);
  EXPECT_EQ(Where("\"Chart Number\" = 'B    '"), (std::vector<int64_t>{2, 4, 6, 8, 10}));
  EXPECT_EQ(Where("\"Chart Number\" = ?", {"B  "}), (std::vector<int64_t>{2, 4, 6, 8, 10}));
  EXPECT_EQ(Where("\"Chart Number\" = 'b'"), (std::vector<int64_t>{}));
  EXPECT_EQ(Where("'99212  ' = \"Procedure Code\""), (std::vector<int64_t>{2, 6, 10}));
  EXPECT_EQ(Where("\"Procedure Code\" >= '99213 '"), (std::vector<int64_t>{1, 3, 4}));
  EXPECT_EQ(Where("\"Procedure Code\" < '99211'"), (std::vector<int64_t>{5, 8}));
  EXPECT_EQ(Where("\"Procedure Code\" > '9' AND \"Procedure Code\" < '99212'"),
            (std::vector<int64_t>{7, 8}));
  EXPECT_EQ(Where("(\"Transaction Type\" >= 'I  ') and (\"Transaction Type\" <= 'O ') and "
                  "(\"Who Paid\" IS NULL)"),
            (std::vector<int64_t>{1, 2, 4, 6, 8, 9}));
  EXPECT_EQ(Where("NOT (\"Chart Number\" = 'A' OR \"Transaction Type\" <> 'M')"),
            (std::vector<int64_t>{2}));
}

TEST_F(TrnTable, EmptyTextIsNullAndMatchesOnlyIsNull) {
  Insert(kWhoPaidRows);
  std::vector<int64_t> all_but_3 = {1, 2, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(Where("\"Who Paid\" IS NULL"), all_but_3);
  EXPECT_EQ(Where("\"Who Paid\" IS NOT NULL"), (std::vector<int64_t>{3}));
  EXPECT_EQ(Where("\"Who Paid\" = ''"), (std::vector<int64_t>{}));
  EXPECT_EQ(Where("\"Who Paid\" = '   '"), (std::vector<int64_t>{}));
  EXPECT_EQ(Where("\"Who Paid\" = ?", {""}), (std::vector<int64_t>{}));
  EXPECT_EQ(Where("\"Who Paid\" <> 'G'"), (std::vector<int64_t>{}));
  EXPECT_EQ(Where("\"Who Paid\" < 'Z'"), (std::vector<int64_t>{3}));

  // Blanks written through the engine or an UPDATE are stored empty.
  IsamHandle table = conn_.Open("MWTRN.ADT");
  ISAM_ASSERT_OK(IsamGotoRecord(table, 3));
  WriteFields(table, {{"Who Paid", " "}}, false);
  IsamHandle update = Prepare(
      "UPDATE MWTRN.ADT SET \"Procedure Code\" = '  ' WHERE "
      "\"Entry Number\" = 5");
  Execute(update);
  EXPECT_EQ(Where("\"Who Paid\" IS NOT NULL"), (std::vector<int64_t>{}));
  EXPECT_EQ(Where("\"Procedure Code\" IS NULL"), (std::vector<int64_t>{5, 9}));
}

TEST_F(TrnTable, DateParametersMeetADateFieldByWholeDays) {
  Insert({{"A", "D1", "", "C", "", "2024-01-14"},
          {"A", "D1", "", "C", "", "2024-01-15"},
          {"A", "D1", "", "C", "", "2024-01-15"},
          {"A", "D1", "", "C", "", "2024-01-16"}});
  int32_t day = Julian("01/15/2024");
  auto run = [&](const std::string& condition, const std::vector<std::array<uint8_t, 8>>& stamps) {
    IsamHandle statement = Prepare("SELECT * FROM MWTRN.ADT WHERE " + condition);
    for (size_t i = 0; i < stamps.size(); ++i) {
      EXPECT_EQ(IsamSetTimeStampRaw(statement, static_cast<uint16_t>(i + 1), stamps[i].data(), 8),
                0u);
    }
    return WalkForward(Execute(statement));
  };
  EXPECT_EQ(run("\"Date Created\" = ?", {Stamp(day, 13 * 3600000 + 30 * 60000 + 250)}),
            (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(run("(\"Date Created\" >= :b) and (\"Date Created\" <= :e)",
                {Stamp(day, 86399999), Stamp(day, 1)}),
            (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(run("\"Date Created\" > ?", {Stamp(day, 43200000)}), (std::vector<int64_t>{4}));

  IsamHandle left = Prepare("SELECT * FROM MWTRN.ADT WHERE :b <= \"Date Created\"");
  ISAM_ASSERT_OK(IsamSetJulian(left, 1, Julian("01/16/2024")));
  EXPECT_EQ(WalkForward(Execute(left)), (std::vector<int64_t>{4}));
  EXPECT_EQ(Where("\"Date Created\" < ?", {"01/15/2024"}), (std::vector<int64_t>{1}));
}

TEST_F(TrnTable, ChangesGiveNoCursorAndCountTheRowsTheyChanged) {
  Insert(kWhoPaidRows);
  SwitchToWal();
  IsamHandle update = Prepare(
      "Update \"mwtrn.ADT\"\n Set \"Who Paid\" = :who, Amount = -12.5\n"
      " Where \"Transaction Type\" = 'O'");
  ISAM_ASSERT_OK(IsamSetString(update, 1, "I"));
  IsamHandle cursor = 99;
  ISAM_ASSERT_OK(IsamExecuteSQL(update, &cursor));
  EXPECT_EQ(cursor, 0u);
  EXPECT_EQ(Count(update, ISAM_COUNT_RESPECT_FILTERS), 2u);
  EXPECT_EQ(Where("\"Who Paid\" = 'I' AND Amount = -12.5"), (std::vector<int64_t>{3, 4}));

  IsamHandle insert = Prepare(
      "INSERT INTO MWTRN.ADT (\"Chart Number\", \"Transaction Type\", \"Date Created\") "
      "VALUES ('Z', 'I', ?)");
  ISAM_ASSERT_OK(IsamSetJulian(insert, 1, Julian("03/04/2024")));
  ISAM_ASSERT_OK(IsamExecuteSQL(insert, &cursor));
  EXPECT_EQ(cursor, 0u);
  EXPECT_EQ(Count(insert, ISAM_COUNT_RESPECT_FILTERS), 1u);
  IsamHandle added = Execute(Prepare(
      "SELECT \"Entry Number\", \"Date Created\" FROM MWTRN.ADT WHERE \"Chart Number\" = 'Z'"));
  EXPECT_EQ(Rows(added), (std::vector<std::string>{"11|03/04/2024"}));

  IsamHandle remove =
      Prepare("delete from MWTRN.ADT where \"Chart Number\" = 'Z' or \"Procedure Code\" is null");
  ISAM_ASSERT_OK(IsamExecuteSQL(remove, &cursor));
  EXPECT_EQ(cursor, 0u);
  EXPECT_EQ(Count(remove, ISAM_COUNT_RESPECT_FILTERS), 2u);
  EXPECT_EQ(Where("\"Entry Number\" > 8"), (std::vector<int64_t>{10}));

  ISAM_ASSERT_OK(IsamExecuteSQL(remove, &cursor));
  EXPECT_EQ(Count(remove, ISAM_COUNT_RESPECT_FILTERS), 0u);

  IsamHandle select = Prepare(kWhoPaidQuery);
  Execute(select);
  uint32_t rows = 0;
  EXPECT_EQ(IsamGetRecordCount(select, 1, &rows), static_cast<IsamResult>(ISAM_ERR_NO_ROW_COUNT));
}

TEST_F(TrnTable, ChangesHonourARecordLockOfAnotherHandleAndChangeNothing) {
  Insert(kWhoPaidRows);
  SwitchToWal();
  ScopedConnection other(folder_.path());
  for (IsamHandle connection : {conn_.handle(), other.handle()}) {
    SCOPED_TRACE(connection == conn_.handle() ? "same connection" : "other connection");
    IsamHandle holder = 0;
    ISAM_ASSERT_OK(IsamOpenTable(connection, "MWTRN.ADT", nullptr, ISAM_TABLE_TYPE_NATIVE,
                                 ISAM_CHAR_ANSI, ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK,
                                 ISAM_OPEN_SHARED, &holder));
    ISAM_ASSERT_OK(IsamLockRecord(holder, 4));
    std::string before = Snapshot(path_);
    for (const char* text : {"UPDATE MWTRN.ADT SET \"Who Paid\" = 'G' WHERE \"Transaction Type\" "
                             "= 'O'",
                             "DELETE FROM MWTRN.ADT WHERE \"Chart Number\" = 'B'"}) {
      IsamHandle statement = Prepare(text);
      IsamHandle cursor = 0;
      EXPECT_EQ(IsamExecuteSQL(statement, &cursor), static_cast<IsamResult>(ISAM_ERR_RECORD_LOCKED))
          << text;
      EXPECT_EQ(Snapshot(path_), before) << text;
    }
    ISAM_ASSERT_OK(IsamUnlockRecord(holder, 4));
    IsamHandle statement = Prepare("UPDATE MWTRN.ADT SET Amount = 1 WHERE \"Entry Number\" = 4");
    IsamHandle cursor = 0;
    ISAM_ASSERT_OK(IsamExecuteSQL(statement, &cursor));
    EXPECT_EQ(Count(statement, ISAM_COUNT_RESPECT_FILTERS), 1u);
    ISAM_ASSERT_OK(IsamCloseTable(holder));
  }
}

TEST_F(TrnTable, ChangesRunOnAFileOnlyAnOutsideProgramHasWritten) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"U.ADT", "UPDATE U.ADT SET N = 5 WHERE Code = 'a'"},
      {"I.ADT", "INSERT INTO I.ADT (Code, N) VALUES ('c', 3)"},
      {"D.ADT", "DELETE FROM D.ADT WHERE N = 2"}};
  for (const auto& [file, text] : cases) {
    SCOPED_TRACE(text);
    CreateTable(folder_.File(file), {"Code CHAR(4)", "N INTEGER"});
    RunSql(folder_.File(file), "INSERT INTO records (Code, N) VALUES ('a', 1), ('b', 2)");
    IsamHandle statement = Prepare(text);
    IsamHandle cursor = 0;
    if (IsamExecuteSQL(statement, &cursor) != 0) {
      ADD_FAILURE() << LastErrorText();
      continue;
    }
    EXPECT_EQ(Count(statement, ISAM_COUNT_RESPECT_FILTERS), 1u);
  }
}

struct BadInput {
  std::string text;
  IsamResult code;
  std::string named;  // a piece of the error text
};

TEST_F(TrnTable, BadStatementsFailWithAPositionedErrorAndLeaveTheFileUnchanged) {
  Insert(kWhoPaidRows);
  std::vector<BadInput> cases = {
      {"SELECT * FROM \"NoSuch.adt\"", ISAM_ERR_SQL_SYNTAX, "NoSuch.adt"},
      {"DELETE FROM NoSuch.adt", ISAM_ERR_SQL_SYNTAX, "NoSuch.adt"},
      {"SELECT \"No Such\" FROM MWTRN.ADT", ISAM_ERR_SQL_SYNTAX, "No Such"},
      {"SELECT * FROM MWTRN.ADT ORDER BY Nope", ISAM_ERR_SQL_SYNTAX, "Nope"},
      {"UPDATE MWTRN.ADT SET \"No Such\" = 1", ISAM_ERR_SQL_SYNTAX, "No Such"},
      {"DELETE FROM MWTRN.ADT WHERE \"No Such\" = 1", ISAM_ERR_SQL_SYNTAX, "No Such"},
      {"UPDATE MWTRN.ADT SET \"Who Paid\" = 'X' WHERE Nope IS NULL", ISAM_ERR_SQL_SYNTAX, "Nope"},
      {"INSERT INTO MWTRN.ADT (\"Chart Number\") VALUES ('A', 'B')", ISAM_ERR_SQL_SYNTAX, "2"},
      {"UPDATE MWTRN.ADT SET \"Who Paid\" = 'TOOLONG'", ISAM_ERR_SQL_SYNTAX, "position"},
      {"UPDATE MWTRN.ADT SET \"Date Created\" = 'someday'", ISAM_ERR_SQL_SYNTAX, "position"},
      {"DELETE FROM MWTRN.ADT WHERE \"Date Created\" = 'soon'", ISAM_ERR_SQL_SYNTAX, "position"},
      {"DELETE FROM MWTRN.ADT WHERE \"Entry Number\" = ?", ISAM_ERR_SQL_PARAMETER, "1"},
      {"INSERT INTO MWTRN.ADT (\"Chart Number\") VALUES (:chart)", ISAM_ERR_SQL_PARAMETER, "chart"},
      {"UPDATE MWTRN.ADT SET \"Who Paid\" = :who WHERE \"Entry Number\" = 12345",
       ISAM_ERR_SQL_PARAMETER, "who"},
      {"DELETE FROM MWTRN.ADT WHERE 'x", ISAM_ERR_SQL_SYNTAX, "unterminated"},
      {"", ISAM_ERR_SQL_SYNTAX, "empty"},
      {"DELETE FROM MWTRN.ADT WHERE \"Chart Number\" = 'A' OR", ISAM_ERR_SQL_SYNTAX, "end"},
      {"DROP TABLE MWTRN.ADT", ISAM_ERR_SQL_SYNTAX, "DROP"},
      {"DELETE FROM MWTRN.ADT WHERE \"Chart Number\" = '" + std::string(5 << 20, 'A') + "'",
       ISAM_ERR_SQL_SYNTAX, "position"},
  };
  std::string before = Snapshot(path_);
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    IsamHandle cursor = 0;
    IsamResult rc = TryStatement(conn_.handle(), c.text, &cursor);
    std::string text = LastErrorText();
    EXPECT_EQ(rc, c.code) << text;
    EXPECT_NE(text.find(c.named), std::string::npos) << text;
    if (c.code == ISAM_ERR_SQL_SYNTAX) {
      EXPECT_NE(text.find("position"), std::string::npos) << text;
    }
    EXPECT_EQ(Snapshot(path_), before);
  }

  // A statement that failed to prepare never runs the one prepared before it.
  IsamHandle statement = Prepare("DELETE FROM MWTRN.ADT");
  EXPECT_EQ(IsamPrepareSQL(statement, "DELETE FROM MWTRN.ADT WHERE"),
            static_cast<IsamResult>(ISAM_ERR_SQL_SYNTAX));
  IsamHandle cursor = 0;
  EXPECT_EQ(IsamExecuteSQL(statement, &cursor), static_cast<IsamResult>(ISAM_ERR_SQL_NOT_PREPARED));
  EXPECT_EQ(Snapshot(path_), before);
}

TEST_F(TrnTable, UpdateSetToAColumnCopiesItOrIsRefusedButNeverEmptiesTheField) {
  Insert(kWhoPaidRows);
  SwitchToWal();
  std::string before = Snapshot(path_);
  IsamHandle cursor = 0;
  IsamResult rc = TryStatement(
      conn_.handle(),
      "UPDATE MWTRN.ADT SET \"Who Paid\" = \"Transaction Type\" WHERE \"Entry Number\" = 3",
      &cursor);
  if (rc == 0) {
    EXPECT_EQ(Where("\"Who Paid\" = 'O'"), (std::vector<int64_t>{3}));
    EXPECT_EQ(Where("\"Who Paid\" IS NOT NULL"), (std::vector<int64_t>{3}));
  } else {
    EXPECT_EQ(rc, static_cast<IsamResult>(ISAM_ERR_SQL_SYNTAX)) << LastErrorText();
    EXPECT_EQ(Snapshot(path_), before);
  }
}

TEST_F(TrnTable, ParametersAreCountedNamedAndCheckedByPosition) {
  Insert(kWhoPaidRows);
  uint16_t count = 0;
  char names[100];
  uint16_t length = sizeof names;
  ISAM_ASSERT_OK(IsamGetSQLStmtParams(0, kTrnDocQuery.c_str(), &count, names, &length));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::string(names, length), "bConvDate;eConvDate");
  length = sizeof names;
  ISAM_ASSERT_OK(
      IsamGetSQLStmtParams(0, "SELECT * FROM t WHERE a = ? AND b = :\"b c\" OR c = ? AND d = :d",
                           &count, names, &length));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(std::string(names, length), ";b c;;d");
  length = sizeof names;
  ISAM_ASSERT_OK(IsamGetSQLStmtParams(0, kWhoPaidQuery.c_str(), &count, names, &length));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(length, 0u);
  length = 5;
  EXPECT_EQ(IsamGetSQLStmtParams(0, kTrnDocQuery.c_str(), &count, names, &length),
            static_cast<IsamResult>(ISAM_ERR_BUFFER_TOO_SMALL));
  length = sizeof names;
  EXPECT_EQ(IsamGetSQLStmtParams(0, "SELECT * FROM t WHERE a = :", &count, names, &length),
            static_cast<IsamResult>(ISAM_ERR_SQL_SYNTAX));

  IsamHandle fresh = 0;
  ISAM_ASSERT_OK(IsamCreateSQLStatement(conn_.handle(), &fresh));
  EXPECT_EQ(IsamSetString(fresh, 1, "x"), static_cast<IsamResult>(ISAM_ERR_SQL_NOT_PREPARED));
  IsamHandle cursor = 0;
  EXPECT_EQ(IsamExecuteSQL(fresh, &cursor), static_cast<IsamResult>(ISAM_ERR_SQL_NOT_PREPARED));

  IsamHandle statement = Prepare(kTrnDocQuery);
  EXPECT_EQ(IsamSetJulian(statement, 3, 2460000), static_cast<IsamResult>(ISAM_ERR_SQL_PARAMETER));
  EXPECT_EQ(IsamSetJulian(statement, 0, 2460000), static_cast<IsamResult>(ISAM_ERR_SQL_PARAMETER));
  EXPECT_EQ(IsamSetEmpty(statement, 3), static_cast<IsamResult>(ISAM_ERR_SQL_PARAMETER));
  ISAM_ASSERT_OK(IsamSetJulian(statement, 1, 2460000));
  EXPECT_EQ(IsamExecuteSQL(statement, &cursor), static_cast<IsamResult>(ISAM_ERR_SQL_PARAMETER));
  EXPECT_NE(LastErrorText().find("eConvDate"), std::string::npos) << LastErrorText();
  ISAM_ASSERT_OK(IsamSetJulian(statement, 2, 2460000));
  ISAM_ASSERT_OK(IsamExecuteSQL(statement, &cursor));
  // Preparing again forgets the values given before.
  ISAM_ASSERT_OK(IsamPrepareSQL(statement, kTrnDocQuery.c_str()));
  EXPECT_EQ(IsamExecuteSQL(statement, &cursor), static_cast<IsamResult>(ISAM_ERR_SQL_PARAMETER));

  ISAM_ASSERT_OK(IsamCloseSQLStatement(statement));
  EXPECT_EQ(IsamCloseSQLStatement(statement), static_cast<IsamResult>(ISAM_ERR_STATEMENT_CLOSED));
  EXPECT_EQ(LastErrorText().substr(0, 5), "5106 ");
  EXPECT_NE(IsamExecuteSQL(statement, &cursor), 0u);
}

TEST_F(TrnTable, CursorServesTheTableCallsOnItsSelectedColumns) {
  Insert(kWhoPaidRows);
  std::string before = Snapshot(path_);
  IsamHandle cursor = Execute(Prepare(kWhoPaidQuery));
  uint16_t type = 0;
  ISAM_ASSERT_OK(IsamGetHandleType(cursor, &type));
  EXPECT_EQ(type, static_cast<uint16_t>(ISAM_HANDLE_CURSOR));
  uint16_t fields = 0;
  ISAM_ASSERT_OK(IsamGetNumFields(cursor, &fields));
  ASSERT_EQ(fields, 4u);
  std::vector<std::string> names;
  for (uint16_t f = 1; f <= fields; ++f) {
    char name[64];
    uint16_t length = sizeof name;
    ISAM_ASSERT_OK(IsamGetFieldName(cursor, f, name, &length));
    names.emplace_back(name, length);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Entry Number", "Transaction Type", "Procedure Code",
                                             "Who Paid"}));
  EXPECT_EQ(FieldNumber(cursor, "Procedure Code"), 3u);
  uint16_t field = 0;
  EXPECT_EQ(IsamGetFieldNum(cursor, "Chart Number", &field),
            static_cast<IsamResult>(ISAM_ERR_FIELD_NOT_FOUND));
  ISAM_ASSERT_OK(IsamGetFieldType(cursor, 3, &type));
  EXPECT_EQ(type, static_cast<uint16_t>(ISAM_TEXT));
  uint32_t length = 0;
  ISAM_ASSERT_OK(IsamGetFieldLength(cursor, 3, &length));
  EXPECT_EQ(length, 10u);

  ISAM_ASSERT_OK(IsamGotoTop(cursor));
  ISAM_ASSERT_OK(IsamSkip(cursor, 1));
  EXPECT_EQ(RecordNumber(cursor), 8u);
  EXPECT_EQ(FieldText(cursor, 1), "8");
  EXPECT_EQ(FieldText(cursor, 2), "N");
  EXPECT_EQ(FieldText(cursor, 3), "90000");
  uint16_t empty = 0;
  ISAM_ASSERT_OK(IsamIsEmpty(cursor, 4, &empty));
  EXPECT_EQ(empty, 1u);
  uint16_t visible = 0;
  ISAM_ASSERT_OK(IsamIsRecordVisible(cursor, &visible));
  EXPECT_EQ(visible, 1u);

  // A cursor reads only: no change through it reaches the file.
  EXPECT_NE(IsamSetField(cursor, 4, "G"), 0u);
  EXPECT_NE(IsamAppendRecord(cursor), 0u);
  EXPECT_EQ(Snapshot(path_), before);
}

using TrnTableDeathTest = TrnTable;

TEST_F(TrnTableDeathTest, ConditionsOfManyTermsGiveTheirRowsOrAPositionedErrorWithoutCrashing) {
  Insert(kWhoPaidRows);
  for (int terms : {300, 40000}) {
    std::string text = "SELECT * FROM MWTRN.ADT WHERE \"Entry Number\" = 3";
    for (int i = 1; i < terms; ++i) text += " OR \"Entry Number\" = 3";
    ASSERT_LT(text.size(), size_t{1} << 20);
    // In a child process, so that a crash fails this test alone.
    EXPECT_EXIT(
        {
          IsamHandle cursor = 0;
          IsamResult rc = TryStatement(conn_.handle(), text, &cursor);
          bool fine = rc == 0 ? WalkForward(cursor) == std::vector<int64_t>{3}
                              : rc == ISAM_ERR_SQL_SYNTAX &&
                                    LastErrorText().find("position") != std::string::npos;
          std::fprintf(stderr, "%s\n", rc ? LastErrorText().c_str() : "other rows");
          std::exit(fine ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << terms << " terms";
  }
}

}  // namespace
}  // namespace isam::testing
