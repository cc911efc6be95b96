// Filling tables from CSV: the reader's records and lines, a table exported and imported into a
// table made with `isam create` (every field type), the two text encodings (and UTF-16, refused
// by name), and files refused with their line and column named and the table left untouched.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "isam/testing/test_support.h"
#include "isam/tool/csv_reader.h"
#include "isam/tool/table_printer.h"

namespace isam::testing {
namespace {

using tool::CsvError;
using tool::CsvReader;
using tool::CsvRecord;
using tool::TextEncoding;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ShellWord(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the tool with standard output and standard error going to files, as in any script.
Result Isam(const TempFolder& folder, const std::vector<std::string>& args) {
  std::string command = ShellWord(ISAM_TOOL_PATH);
  for (const std::string& a : args) command += " " + ShellWord(a);
  command += " >" + ShellWord(folder.File("out.txt")) + " 2>" + ShellWord(folder.File("err.txt"));
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(folder.File("out.txt")),
          ReadFile(folder.File("err.txt"))};
}

std::vector<CsvRecord> ReadRecords(const std::string& text) {
  std::istringstream in(text);
  CsvReader reader(in);
  std::vector<CsvRecord> records;
  for (CsvRecord r; reader.Next(&r);) records.push_back(r);
  return records;
}

TEST(IsamImportCsvReader, QuotedFieldsHoldCommasQuotesAndLineBreaksAndRecordsKeepTheirFirstLine) {
  std::vector<CsvRecord> records = ReadRecords(
      "a,\"b,c\",\"say \"\"hi\"\"\"\r\n\"two\r\nlines\",\"x\ny\",\r\n\r\n\nlast,\"\",z\nend");
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].fields, (std::vector<std::string>{"a", "b,c", "say \"hi\""}));
  EXPECT_EQ(records[1].fields, (std::vector<std::string>{"two\r\nlines", "x\ny", ""}));
  EXPECT_EQ(records[2].fields, (std::vector<std::string>{"last", "", "z"}));
  EXPECT_EQ(records[3].fields, (std::vector<std::string>{"end"}));
  std::vector<uint64_t> lines;
  for (const CsvRecord& r : records) lines.push_back(r.line);
  EXPECT_EQ(lines, (std::vector<uint64_t>{1, 2, 7, 8}));
}

TEST(IsamImportCsvReader, RefusesAnUnclosedQuoteAndTextAfterAClosingQuote) {
  const std::pair<std::string, std::pair<uint64_t, size_t>> cases[] = {
      {"h1,h2\r\nx,\"open\r\nstill open\r\n", {2, 2}},
      {"h1,h2\na,\"b\"c\n", {2, 2}},
  };
  for (const auto& [text, place] : cases) {
    try {
      ReadRecords(text);
      ADD_FAILURE() << "read: " << text;
    } catch (const CsvError& e) {
      EXPECT_EQ(std::make_pair(e.line, e.column), place) << e.message;
    }
  }
}

TEST(IsamImportCsvReader, TextIsUtf16ByItsMarkOrNulsThenUtf8ByItsMarkOrWhenValidElseWindows1252) {
  const std::pair<std::string, TextEncoding> cases[] = {
      {"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", TextEncoding::kUtf8},
      {"\xEF\xBB\xBF"
       "Caf\xE9",
       TextEncoding::kUtf8},
      {"Caf\xE9", TextEncoding::kWindows1252},
      {"\xC0\xAF overlong", TextEncoding::kWindows1252},
      {"\xED\xA0\x80 surrogate", TextEncoding::kWindows1252},
      {"cut \xE2\x82", TextEncoding::kWindows1252},
      {std::string("\xFF\xFE"
                   "C\0o\0d\0e\0\r\0\n\0",
                   14),
       TextEncoding::kUtf16},
      {std::string("\xFE\xFF\0C\0o\0d\0e\0\r\0\n", 14), TextEncoding::kUtf16},
      {std::string("C\0o\0d\0e\0\r\0\n\0A\0", 14), TextEncoding::kUtf16},
      {std::string("\0C\0o\0d\0e\0\n\0A", 12), TextEncoding::kUtf16},
      {std::string("Code\nA\0B\n", 9), TextEncoding::kUtf8},  // a NUL in a later line only
  };
  for (const auto& [text, encoding] : cases) {
    std::istringstream in(text);
    EXPECT_EQ(tool::ReadEncoding(in), encoding) << text;
    EXPECT_EQ(static_cast<size_t>(in.tellg()), text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3u : 0u);
  }
}

TEST(IsamImport, ProgressBarIsRedrawnAtEachWholePercentAndOnlyWhereItIsDrawn) {
  std::ostringstream out;
  {
    tool::ProgressBar bar("importing", 1000, &out);
    for (uint64_t done = 1; done <= 1000; ++done) bar.Update(done);
  }
  std::string drawn = out.str();
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 101);  // 0% to 100%
  EXPECT_TRUE(drawn.ends_with("] 100%\n")) << drawn;
  tool::ProgressBar nowhere("importing", 10, nullptr);
  nowhere.Update(5);  // draws nothing and does not fail
}

const std::vector<std::string> kAllTypes = {
    "Flag LOGICAL", "Amount NUMERIC(9,2)", "Day DATE",      "Name, Full CHAR(12)",
    "Note MEMO",    "Ratio DOUBLE",        "Count INTEGER", "Small SHORTINT",
    "At TIME",      "Stamp TIMESTAMP",     "Id AUTOINC",    "Fee MONEY"};

TEST(IsamImport, AnExportedTableImportsIntoATableMadeByCreateRecordForRecord) {
  TempFolder folder;
  CreateTable(folder.File("SRC.adt"), kAllTypes, {"BYNAME=Name, Full;Day"});
  {
    ScopedConnection c(folder.path());
    IsamHandle t = c.Open("SRC.adt");
    WriteFields(t,
                {{"Flag", "T"},
                 {"Amount", "-1234.5"},
                 {"Day", "02/29/2024"},
                 {"Name, Full", "Caf\xE9, \"x\""},
                 {"Note", "one\r\ntwo\n\x80 three, \"q\""},
                 {"Ratio", "0.30000000000000004"},
                 {"Count", "-2147483648"},
                 {"Small", "32767"},
                 {"At", "23:59:59.999"},
                 {"Stamp", "02/29/2024 13:45:10.250"},
                 {"Fee", "-0.01"}},
                true);
    WriteFields(t, {}, true);
    WriteFields(t,
                {{"Flag", "F"},
                 {"Amount", "0"},
                 {"Day", "01/01/0001"},
                 {"Name, Full", " lead"},
                 {"Note", "plain"},
                 {"Ratio", "1e300"},
                 {"Count", "2147483647"},
                 {"Small", "-32768"},
                 {"At", "00:00:00.000"},
                 {"Stamp", "12/31/9999 00:00:00.001"},
                 {"Id", "100"},
                 {"Fee", "123456789.12"}},
                true);
  }
  Result exported = Isam(folder, {"export", folder.File("SRC.adt")});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.err, "");
  EXPECT_EQ(exported.out, Isam(folder, {"dump", folder.File("SRC.adt")}).out);
  EXPECT_EQ(Isam(folder, {"export", folder.File("SRC.adt"), "--index", "BYNAME"}).out,
            Isam(folder, {"dump", folder.File("SRC.adt"), "--index", "BYNAME"}).out);
  WriteFile(folder.File("src.csv"), exported.out);

  std::vector<std::string> create = {"create", folder.File("DST.adt"), "--index",
                                     "BYNAME=Name, Full;Day"};
  for (const std::string& field : kAllTypes) create.insert(create.end(), {"--field", field});
  Result made = Isam(folder, create);
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(Isam(folder, {"info", folder.File("DST.adt")}).out,
            Isam(folder, {"info", folder.File("SRC.adt")}).out);
  Result imported = Isam(folder, {"import", folder.File("DST.adt"), folder.File("src.csv")});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "imported 3 records into " + folder.File("DST.adt") + "\n");
  EXPECT_EQ(imported.err, "");
  EXPECT_EQ(Isam(folder, {"export", folder.File("DST.adt")}).out, exported.out);

  ScopedConnection c(folder.path());
  IsamHandle src = c.Open("SRC.adt", ISAM_OPEN_READ_ONLY);
  IsamHandle dst = c.Open("DST.adt", ISAM_OPEN_READ_ONLY);
  std::vector<int64_t> records = WalkForward(src);
  ASSERT_EQ(WalkForward(dst), records);
  for (int64_t recno : records) {
    SCOPED_TRACE("record " + std::to_string(recno));
    ISAM_ASSERT_OK(IsamGotoRecord(src, recno));
    ISAM_ASSERT_OK(IsamGotoRecord(dst, recno));
    EXPECT_EQ(RecordImageOf(dst), RecordImageOf(src));
    for (uint16_t field = 1; field <= kAllTypes.size(); ++field) {
      EXPECT_EQ(FieldText(dst, field), FieldText(src, field)) << kAllTypes[field - 1u];
    }
  }
  IsamHandle src_index = 0, dst_index = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(src, "BYNAME", &src_index));
  ISAM_ASSERT_OK(IsamGetIndexHandle(dst, "BYNAME", &dst_index));
  EXPECT_EQ(WalkForward(dst_index), WalkForward(src_index));
}

TEST(IsamImport, ReadsWindows1252AndUtf8BothDateFormsAndLogicalsInAnyCaseAppending) {
  TempFolder folder;
  std::string table = folder.File("T.adt");
  CreateTable(table, {"Id AUTOINC", "Name CHAR(5)", "Day DATE", "Ok LOGICAL", "Note MEMO"});
  {
    ScopedConnection c(folder.path());
    WriteFields(c.Open("T.adt"), {{"Name", "old"}}, true);
  }
  const std::pair<const char*, std::string> files[] = {
      {"ansi.csv", "Name,Ok,Day\nCaf\xE9,y,2024-02-29\n\x80uro,N,1/2/2024\n\"\",1,\n"},
      {"utf8.csv", "Name,Ok\r\nCaf\xC3\xA9,f\r\n\xE2\x82\xACuro,0\r\n"},
      {"bom.csv", "\xEF\xBB\xBFOk,Name\r\nt,\xC3\xA9t\xC3\xA9\r\n"},
  };
  for (const auto& [name, bytes] : files) {
    WriteFile(folder.File(name), bytes);
    Result run = Isam(folder, {"import", table, folder.File(name)});
    EXPECT_EQ(run.status, 0) << name << ": " << run.err;
    EXPECT_EQ(run.err, "");
  }
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("T.adt", ISAM_OPEN_READ_ONLY);
  std::vector<std::string> rows;
  ISAM_ASSERT_OK(IsamGotoTop(t));
  for (; !AtEof(t); IsamSkip(t, 1)) {
    rows.push_back(FieldText(t, 1) + "|" + FieldText(t, 2) + "|" + FieldText(t, 3) + "|" +
                   FieldText(t, 4) + "|" + FieldText(t, 5));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"1|old|||", "2|Caf\xE9|02/29/2024|T|",
                                            "3|\x80uro|01/02/2024|F|", "4|||T|", "5|Caf\xE9||F|",
                                            "6|\x80uro||F|", "7|\xE9t\xE9||T|"}));
}

// Doubles print in plain notation, the shortest text that reads back as the same value, and a
// memo of megabytes prints whole: what export writes, import reads back to the same records.
// Import still takes numbers with an exponent.
TEST(IsamImport, PlainNumbersAndMegabyteMemosRoundTripThroughExportAndImport) {
  TempFolder folder;
  const std::vector<std::string> fields = {"Ratio DOUBLE", "Fee NUMERIC(14,4)", "Cash MONEY",
                                           "Note MEMO"};
  for (const char* name : {"A.adt", "B.adt"}) {
    std::vector<std::string> create = {"create", folder.File(name)};
    for (const std::string& field : fields) create.insert(create.end(), {"--field", field});
    ASSERT_EQ(Isam(folder, create).status, 0);
  }
  const std::string memo = "one,\"two\"\n" + std::string(1100000, 'm');
  WriteFile(folder.File("in.csv"), "Ratio,Fee,Cash,Note\n1e-04,1.5e3,-2.5E-1,\"one,\"\"two\"\"\n" +
                                       memo.substr(10) +
                                       "\"\n1e21,0.0001,1e-7,x\n5e-324,-1234567.8912,0.1,\n"
                                       "1.7976931348623157e308,,123456789012.25,\n");
  Result imported = Isam(folder, {"import", folder.File("A.adt"), folder.File("in.csv")});
  ASSERT_EQ(imported.status, 0) << imported.err;
  Result exported = Isam(folder, {"export", folder.File("A.adt")});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.err, "");
  std::vector<CsvRecord> records = ReadRecords(exported.out);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[1].fields, (std::vector<std::string>{"1", "0.0001", "1500", "-0.25", memo}));
  EXPECT_EQ(records[2].fields,
            (std::vector<std::string>{"2", "1000000000000000000000", "0.0001", "0.0000001", "x"}));
  EXPECT_EQ(records[3].fields[1], "0." + std::string(323, '0') + "5");
  EXPECT_EQ(records[3].fields[2], "-1234567.8912");
  EXPECT_EQ(records[4].fields[1].size(), 309u);  // every digit before the point
  EXPECT_EQ(std::stod(records[4].fields[1]), 1.7976931348623157e308);
  EXPECT_EQ(records[4].fields[3], "123456789012.25");
  for (size_t row = 1; row < records.size(); ++row) {
    for (size_t number = 1; number <= 3; ++number) {
      const std::string& value = records[row].fields[number];
      EXPECT_EQ(value.find_first_of("eE"), std::string::npos) << value.substr(0, 40);
    }
  }

  // Written back by import and out again by export: the same text, the same stored values.
  WriteFile(folder.File("out.csv"), exported.out);
  imported = Isam(folder, {"import", folder.File("B.adt"), folder.File("out.csv")});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(Isam(folder, {"export", folder.File("B.adt")}).out, exported.out);
  ScopedConnection c(folder.path());
  IsamHandle a = c.Open("A.adt", ISAM_OPEN_READ_ONLY);
  IsamHandle b = c.Open("B.adt", ISAM_OPEN_READ_ONLY);
  ISAM_ASSERT_OK(IsamGotoTop(a));
  ISAM_ASSERT_OK(IsamGotoTop(b));
  for (int row = 1; !AtEof(a); ++row, IsamSkip(a, 1), IsamSkip(b, 1)) {
    SCOPED_TRACE("row " + std::to_string(row));
    ASSERT_FALSE(AtEof(b));
    EXPECT_EQ(RecordImageOf(b), RecordImageOf(a));
  }
}

TEST(IsamImport, RefusesABadFileNamingLineAndColumnAndLeavesTheTableFileAsItWas) {
  TempFolder folder;
  std::string table = folder.File("T.adt");
  CreateTable(table,
              {"Code CHAR(4)", "Day DATE", "Ok LOGICAL", "Amount NUMERIC(6,2)", "Note MEMO"});
  RunSql(table, "INSERT INTO records (\"Code\") VALUES ('KEEP');");  // the file stays as made
  const std::string before = ReadFile(table);
  // Three good records on lines 2 to 4 first (one of them over two lines).
  const std::string head =
      "recno,Code,Day,Ok,Amount,Note\r\n1,A,01/02/2024,T,1.5,\"two\r\nlines\"\r\n2,B,,F,,\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {head + "3,C,,,,\"never closed\r\n4,D,,,,\r\n", "line 5, column 6 (Note)"},
      {head + "3,TOOLONG,,,,\r\n", "line 5, column 2 (Code)"},
      {head + "3,C,02/30/2024,,,\r\n", "line 5, column 3 (Day)"},
      {head + "3,C,,maybe,,\r\n", "line 5, column 4 (Ok)"},
      {head + "3,C,,,\"1,5\",\r\n", "line 5, column 5 (Amount)"},
      {head + "\r\n3,C,,,12345.678,\r\n", "line 6, column 5 (Amount)"},
      {head + "3,C,,\r\n", "line 5, column 5 (Amount)"},
      {head + "3,C,,,,,extra\r\n", "line 5, column 7"},
      {"Code,Nope\r\nA,1\r\n", "line 1, column 2 (Nope)"},
      {"Code,Note,Code\r\nA,,B\r\n", "line 1, column 3 (Code)"},
  };
  for (const auto& [csv, named] : cases) {
    SCOPED_TRACE(csv);
    WriteFile(folder.File("bad.csv"), csv);
    Result run = Isam(folder, {"import", table, folder.File("bad.csv")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(ReadFile(table) == before) << "the table file changed";
  }
  Result run = Isam(folder, {"import", table, folder.File("missing.csv")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("missing.csv"), std::string::npos) << run.err;
  WriteFile(folder.File("good.csv"), head);
  run = Isam(folder, {"import", table, folder.File("good.csv")});
  EXPECT_EQ(run.out, "imported 2 records into " + table + "\n") << run.err;
}

// UTF-16 as a spreadsheet saves "Unicode text": with a byte-order mark, either byte order.
std::string Utf16(const std::string& ascii, bool little_endian, bool mark) {
  std::string out = mark ? (little_endian ? "\xFF\xFE" : "\xFE\xFF") : "";
  for (char c : ascii) {
    out += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return out;
}

TEST(IsamImport, RefusesAUtf16FileByNameAndWritesNothing) {
  TempFolder folder;
  std::string table = folder.File("T.adt");
  CreateTable(table, {"Code CHAR(4)", "Note MEMO"});
  const std::string before = ReadFile(table);
  const std::string csv = "Code,Note\r\nA,first\r\nB,second\r\n";
  for (auto [little_endian, mark] : {std::pair{true, true}, {false, true}, {true, false}}) {
    SCOPED_TRACE(std::string(little_endian ? "LE" : "BE") + (mark ? " with mark" : ""));
    WriteFile(folder.File("unicode.csv"), Utf16(csv, little_endian, mark));
    Result run = Isam(folder, {"import", table, folder.File("unicode.csv")});
    EXPECT_EQ(run.status, 1);
    for (const std::string& part : {folder.File("unicode.csv"), std::string("UTF-16"),
                                    std::string("UTF-8 or Windows-1252")}) {
      EXPECT_NE(run.err.find(part), std::string::npos) << part << " not in: " << run.err;
    }
    EXPECT_EQ(run.err.find("NUL"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(ReadFile(table) == before) << "the table file changed";
  }
}

TEST(IsamImport, CreateRefusesABadDefinitionOrAnExistingFile) {
  TempFolder folder;
  CreateTable(folder.File("T.adt"), {"Code CHAR(4)"});
  const std::vector<std::string> cases[] = {
      {"create", folder.File("T.adt"), "--field", "Code CHAR(4)"},
      {"create", folder.File("U.adt"), "--field", "Code CHARACTER(4)"},
      {"create", folder.File("U.adt"), "--field", "Code CHAR(4)", "--index", "BAD=Nope"},
  };
  for (const std::vector<std::string>& args : cases) {
    Result run = Isam(folder, args);
    EXPECT_EQ(run.status, 1) << args.back();
    EXPECT_NE(run.err.find("isam: "), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::ifstream(folder.File("U.adt")).good());
}

}  // namespace
}  // namespace isam::testing
