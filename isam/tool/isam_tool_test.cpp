// The isam tool as a user runs it: `info` shows a table's layout, `dump` its records as CSV, and
// failures end with a message on standard error and exit status 1.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the tool with the arguments given (none holds a quote); standard error goes to a file. A
// run that does not end within a minute is ended (status 124), so a tool that blocks fails the
// test instead of hanging it.
ToolRun RunTool(const std::vector<std::string>& args, const TempFolder& scratch) {
  ToolRun run;
  std::string err_path = scratch.File("stderr.txt");
  std::string command = "timeout 60 '" + std::string(ISAM_TOOL_PATH) + "'";
  for (const std::string& a : args) command += " '" + a + "'";
  FILE* out = popen((command + " 2>'" + err_path + "'").c_str(), "r");
  if (!out) return run;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, out)) > 0) run.out.append(buf, n);
  int status = pclose(out);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(err_path, std::ios::binary);
  run.err = std::string(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

TEST(IsamTool, InfoListsFieldsWithTypeLengthDecimalsAndIndexesWithKeyFields) {
  TempFolder folder;
  CreateTable(folder.File("MWTRN.ADT"),
              {"Entry Number AUTOINC", "Chart Number CHAR(8)", "Document Number CHAR(10)",
               "Amount NUMERIC(10,2)", "Date From DATE", "Paid LOGICAL"},
              {"PRIMARY=Entry Number", "IDXDOCUMENT=Chart Number;Document Number"});
  ToolRun run = RunTool({"info", folder.File("MWTRN.ADT")}, folder);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  auto line_of = [&](const std::string& start) {
    for (const std::string& line : Lines(run.out)) {
      if (line.rfind(start, 0) == 0) return line;
    }
    return std::string("(no line for " + start + ")");
  };
  EXPECT_EQ(line_of("Entry Number,"), "Entry Number,AUTOINC,4,0");
  EXPECT_EQ(line_of("Chart Number,"), "Chart Number,CHAR,8,0");
  EXPECT_EQ(line_of("Amount,"), "Amount,NUMERIC,10,2");
  EXPECT_EQ(line_of("Date From,"), "Date From,DATE,4,0");
  EXPECT_EQ(line_of("Paid,"), "Paid,LOGICAL,1,0");
  EXPECT_EQ(line_of("IDXDOCUMENT,"), "IDXDOCUMENT,Chart Number;Document Number");
  EXPECT_EQ(line_of("PRIMARY,"), "PRIMARY,Entry Number");
}

TEST(IsamTool, DumpPrintsRecordsAsCsvWithOneLinePerRecord) {
  TempFolder folder;
  CreateTable(folder.File("T.adt"),
              {"Entry AUTOINC", "Name, Full CHAR(20)", "Paid LOGICAL", "Day DATE", "Amount DOUBLE",
               "Fee NUMERIC(8,2)", "Count INTEGER", "Note MEMO"});
  {
    ScopedConnection c(folder.path());
    IsamHandle t = c.Open("T.adt");
    WriteFields(t,
                {{"Name, Full", "Smith, John"},
                 {"Paid", "T"},
                 {"Day", "02/29/2024"},
                 {"Amount", "0.30000000000000004"},
                 {"Fee", "12.5"},
                 {"Count", "-3"},
                 {"Note", "He said \"hi\"\nbye"}},
                true);
    WriteFields(t, {}, true);
    WriteFields(t,
                {{"Name, Full", "Caf\xE9"},
                 {"Paid", "F"},
                 {"Day", "12/30/1899"},
                 {"Amount", "1e21"},
                 {"Fee", "-0.1"},
                 {"Count", "0"},
                 {"Note", "plain"}},
                true);
  }
  ToolRun run = RunTool({"dump", folder.File("T.adt")}, folder);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "recno,Entry,\"Name, Full\",Paid,Day,Amount,Fee,Count,Note\r\n"
            "1,1,\"Smith, John\",T,02/29/2024,0.30000000000000004,12.5,-3,"
            "\"He said \"\"hi\"\"\nbye\"\r\n"
            "2,2,,,,,,,\r\n"
            "3,3,Caf\xC3\xA9,F,12/30/1899,1000000000000000000000,-0.1,0,plain\r\n");
}

TEST(IsamTool, DumpFollowsTheIndexNamedWithTiesInRecordNumberOrder) {
  TempFolder folder;
  CreateTable(folder.File("T.adt"), {"Code CHAR(4)", "N INTEGER"}, {"BYCODE=Code"});
  {
    ScopedConnection c(folder.path());
    IsamHandle t = c.Open("T.adt");
    const std::pair<const char*, const char*> rows[] = {
        {"b", "5"}, {"a", "-1"}, {"b", "5"}, {"", "10"}, {"a", "2"}};
    for (const auto& [code, n] : rows) WriteFields(t, {{"Code", code}, {"N", n}}, true);
  }
  auto recnos = [](const std::string& out) {
    std::string order;
    std::vector<std::string> lines = Lines(out);
    for (size_t i = 1; i < lines.size(); ++i) order += lines[i].substr(0, lines[i].find(',')) + " ";
    return order;
  };
  ToolRun run = RunTool({"dump", folder.File("T.adt"), "--index", "BYCODE"}, folder);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(recnos(run.out), "4 2 5 1 3 ");
  EXPECT_EQ(Lines(run.out)[0], "recno,Code,N");
  run = RunTool({"dump", folder.File("T.adt")}, folder);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(recnos(run.out), "1 2 3 4 5 ");
}

// Another program may store what the engine would refuse: a text longer than its field, a number
// wider than its numeric field or beyond an integer's range, a text in a number field, a memo of
// megabytes, a record numbered beyond 2^32. Dump prints each whole, numbers in plain notation,
// and nothing on standard error.
TEST(IsamTool, DumpPrintsEveryStoredValueWholeWhateverItsSizeOrDeclaredLength) {
  TempFolder folder;
  RunSql(folder.File("T.adt"),
         "PRAGMA application_id=1230193997; PRAGMA user_version=1;"
         "CREATE TABLE records(\"_recno\" INTEGER PRIMARY KEY, \"Code\" CHAR(8),"
         " \"Fee\" NUMERIC(5,2), \"Count\" INTEGER, \"Ratio\" DOUBLE, \"Day\" DATE,"
         " \"Note\" MEMO);"
         "INSERT INTO records VALUES(1, '0123456789', 123456.789, 1099511627776, 0.0001,"
         " '2024-02-29', 'a,\"b' || replace(hex(zeroblob(600000)), '0', 'x'));"
         "INSERT INTO records VALUES(2, 'short', 1.5, -7, 'n/a', 'soon', NULL);"
         "INSERT INTO records VALUES(3, NULL, -99999.5, 0, 1e21, NULL, 'z');"
         "INSERT INTO records VALUES(5000000000, NULL, NULL, NULL, 1.5e-7, NULL, NULL);");
  const std::string memo = "a,\"b" + std::string(1200000, 'x');
  for (const char* command : {"dump", "export"}) {
    SCOPED_TRACE(command);
    ToolRun run = RunTool({command, folder.File("T.adt")}, folder);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "recno,Code,Fee,Count,Ratio,Day,Note");
    EXPECT_EQ(lines[1], "1,0123456789,123456.789,1099511627776,0.0001,02/29/2024,\"a,\"\"b" +
                            memo.substr(4) + "\"");
    EXPECT_EQ(lines[2], "2,short,1.5,-7,n/a,soon,");
    EXPECT_EQ(lines[3], "3,,-99999.5,0,1000000000000000000000,,z");
    EXPECT_EQ(lines[4], "5000000000,,,,0.00000015,,");
  }
}

TEST(IsamTool, FailuresGiveAMessageOnStandardErrorAndStatusOne) {
  TempFolder folder;
  CreateTable(folder.File("T.adt"), {"Code CHAR(4)"}, {"BYCODE=Code"});
  {
    std::ofstream junk(folder.File("Junk.adt"), std::ios::binary);
    junk << "not a table at all, just some text";
  }
  // Opening a named pipe to read waits for a writer: the tool must refuse it without waiting.
  ASSERT_EQ(mkfifo(folder.File("Pipe.adt").c_str(), 0666), 0);
  struct Case {
    std::vector<std::string> args;
    std::string named;  // what the message must name
  };
  const Case cases[] = {
      {{"dump", folder.File("Missing.adt")}, "Missing.adt"},
      {{"info", folder.File("Missing.adt")}, "Missing.adt"},
      {{"dump", folder.File("Gone/T.adt")}, "Gone"},
      {{"dump", folder.File("Junk.adt")}, "Junk.adt"},
      {{"dump", folder.File("Pipe.adt")}, "Pipe.adt is not a plain file"},
      {{"info", folder.File("Pipe.adt")}, "Pipe.adt is not a plain file"},
      {{"dump", folder.File("T.adt"), "--index", "IDXNOPE"}, "IDXNOPE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    ToolRun run = RunTool(c.args, folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
}  // namespace isam::testing

namespace isam::testing {
namespace {

TEST(IsamTool, SqlPrintsEachDocumentOfADateRangeOnceNumberedFromOne) {
  TempFolder folder;
  CreateTable(folder.File("MWTRN.ADT"),
              {"Entry Number AUTOINC", "Chart Number CHAR(8)", "Document Number CHAR(10)",
               "Date Created DATE"},
              {"PRIMARY=Entry Number"});
  RunSql(folder.File("MWTRN.ADT"),
         "INSERT INTO records VALUES (1, 1, 'A', 'D1', '2004-03-04'), (2, 2, 'A', 'D1', "
         "'2004-03-05'), (3, 3, 'A', 'D1', '2004-03-06'), (4, 4, 'B', 'D7', '2004-03-06'), "
         "(5, 5, 'C', 'D2', '2004-03-07');");
  std::string statement =
      "Select Distinct\n \"Chart Number\",\n \"Document Number\"\nFrom \"MWTRN.ADT\"\nWhere \n "
      "(\"Date Created\" >= :\"bConvDate\") and\n (\"Date Created\" <= :\"eConvDate\")";
  ToolRun run = RunTool({"sql", folder.path(), statement, "--date", "bConvDate=03/05/2004",
                         "--date", "eConvDate=03/06/2004"},
                        folder);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{"recno,Chart Number,Document Number", "1,A,D1", "2,B,D7"}));
  run = RunTool({"sql", folder.path(), statement, "--date", "bConvDate=03/05/2004"}, folder);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("eConvDate"), std::string::npos) << run.err;
  run = RunTool({"sql", folder.path(), "Select Nope From MWTRN.ADT"}, folder);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("position 8"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace isam::testing
