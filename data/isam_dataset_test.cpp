#include "data/isam_dataset.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/date_time.h"
#include "data/isam_settings.h"
#include "isam/testing/practice_layouts.h"
#include "isam/testing/test_support.h"

namespace data {
namespace {

using isam::testing::CreateTable;
using isam::testing::RunSql;
using isam::testing::TempFolder;

// ---- practice tables: fields, records as written to the file, and the orders of the indexes ----

// One value of a record: the SQL literal written to the file and the value the layer reads.
struct Cell {
  enum Kind { kNull, kText, kInt, kReal, kBool, kDay } kind = kNull;
  std::string sql = "NULL";
  std::string text;
  int64_t integer = 0;
  double real = 0;  // also the TDateTime of dates, times and timestamps
};

Cell Make(Cell::Kind kind, std::string sql, std::string text, int64_t integer, double real) {
  Cell c;
  c.kind = kind;
  c.sql = std::move(sql);
  c.text = std::move(text);
  c.integer = integer;
  c.real = real;
  return c;
}
Cell N() {
  return {};
}
Cell T(const std::string& s) {
  std::string quoted;
  for (char c : s) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return Make(Cell::kText, "'" + quoted + "'", s, 0, 0);
}
Cell I(int64_t v) {
  return Make(Cell::kInt, std::to_string(v), "", v, 0);
}
Cell R(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return Make(Cell::kReal, buf, "", 0, v);
}
Cell B(bool v) {
  return Make(Cell::kBool, v ? "1" : "0", "", v ? 1 : 0, 0);
}
Cell D(int y, int m, int d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d'", y, m, d);
  return Make(Cell::kDay, buf, "", 0, EncodeDate(y, m, d));
}
Cell Tm(int h, int mi, int s, int ms) {
  int total = ((h * 60 + mi) * 60 + s) * 1000 + ms;
  return Make(Cell::kDay, std::to_string(total), "", 0, total / 86400000.0);
}
Cell Ts(int y, int m, int d, int h, int mi, int s, int ms) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d.%03d'", y, m, d, h, mi, s, ms);
  return Make(Cell::kDay, buf, "", 0, EncodeDate(y, m, d) + Tm(h, mi, s, ms).real);
}
// A value another program wrote in its own form (padded text, logical letters).
Cell Outside(Cell read_as, const std::string& sql) {
  read_as.sql = sql;
  return read_as;
}

struct TableDef {
  std::string file;
  std::vector<std::pair<std::string, std::string>> fields;  // name, declared type
  std::vector<std::string> indexes;
  std::vector<std::vector<Cell>> rows;                 // record n is rows[n - 1]
  std::map<std::string, std::vector<int64_t>> orders;  // index ("" natural) -> record numbers
};

// A table of the tests' practice layout, without records: its fields split into name and type.
TableDef Laid(const isam::testing::PracticeTableLayout& layout) {
  TableDef def;
  def.file = layout.file;
  for (const std::string& field : layout.fields) {
    size_t space = field.find_last_of(' ');
    def.fields.emplace_back(field.substr(0, space), field.substr(space + 1));
  }
  def.indexes = layout.indexes;
  return def;
}

TFieldType ExpectedType(const std::string& declared) {
  static const std::map<std::string, TFieldType> kinds = {
      {"CHAR", TFieldType::ftString},     {"INTEGER", TFieldType::ftInteger},
      {"AUTOINC", TFieldType::ftAutoInc}, {"DATE", TFieldType::ftDate},
      {"DOUBLE", TFieldType::ftFloat},    {"LOGICAL", TFieldType::ftBoolean},
      {"NUMERIC", TFieldType::ftFloat},   {"SHORTINT", TFieldType::ftSmallint},
      {"TIME", TFieldType::ftTime},       {"TIMESTAMP", TFieldType::ftDateTime},
      {"MONEY", TFieldType::ftCurrency}};
  return kinds.at(declared.substr(0, declared.find('(')));
}

void MakeTable(const std::string& folder, const TableDef& def) {
  std::vector<std::string> fields;
  std::string columns, values;
  for (const auto& [name, type] : def.fields) {
    fields.push_back(name + " " + type);
    columns += (columns.empty() ? "\"" : ", \"") + name + "\"";
  }
  CreateTable(folder + "/" + def.file, fields, def.indexes);
  for (const auto& row : def.rows) {
    std::string list;
    for (const Cell& c : row) list += (list.empty() ? "" : ", ") + c.sql;
    values += (values.empty() ? "(" : ", (") + list + ")";
  }
  RunSql(folder + "/" + def.file, "INSERT INTO records (" + columns + ") VALUES " + values + ";");
}

void InsertColumn(TableDef& def, size_t at, const std::string& name, const std::string& type,
                  const std::vector<Cell>& cells) {
  def.fields.insert(def.fields.begin() + static_cast<long>(at), {name, type});
  for (size_t r = 0; r < def.rows.size(); ++r) {
    def.rows[r].insert(def.rows[r].begin() + static_cast<long>(at), cells[r]);
  }
}

// clang-format off
TableDef Mwtrn() {
  TableDef def = Laid(isam::testing::kTransactionsLayout);
  def.rows = {
      {I(3), T("SMITHJO0"), I(1), D(2021, 3, 4), T("210304001"), Outside(T("99213"), "'99213   '"),
       T("A"), R(75.5), T("G"), R(10.25), R(40), R(0), R(0), R(0), R(0), D(2021, 3, 5),
       B(true), B(false), B(false), Outside(B(true), "'Y'"), B(false),
       T("Office visit, established"), T("1"), T("11"), T("A")},
      {I(1), T("ADAMSMA0"), I(2), D(2021, 1, 15), T("210115001"), T("99201"),
       T("A"), R(120), N(), R(0), R(0), R(0), R(0), R(0), R(-5.55), D(1999, 12, 31),
       Outside(B(true), "'t'"), Outside(B(false), "'N'"), N(), B(false), B(false),
       Outside(N(), "'      '"), T("3"), T("21"), N()},
      {I(2), T("SMITHJO0"), I(1), D(2021, 2, 1), T("210304001"), T("01"),
       T("B"), R(-40), T("1"), R(0), R(-40), R(0), R(0), R(0), R(0), N(),
       Outside(B(true), "'y'"), B(false), B(false), B(false), B(false),
       T("O'Brien Mutual payment"), N(), N(), T("B")},
      {I(5), N(), I(0), D(2020, 12, 31), T("210501003"), T("ADJ"),
       T("D"), R(-0.01), T("G"), R(1234567.89), R(0.1), R(0.2), R(0.3), R(0.01), R(-0.01),
       D(2021, 5, 1), B(false), B(true), B(true), B(true), B(true),
       T("  leading blanks stay"), T("99"), T("11"), T("Z")},
      {I(4), T("SMITHJO0"), I(2147483647), N(), T("210401002"), T("99213"),
       T("A"), R(0.145), T("I"), R(0), R(0), R(0), R(0), N(), R(0), N(),
       B(false), B(false), B(false), B(false), B(false),
       T("Follow-up"), T("1"), T("11"), T("A")}};
  def.orders = {{"", {1, 2, 3, 4, 5}}, {"PRIMARY", {2, 3, 1, 5, 4}},
                {"IDXENTRYNUMBER", {2, 3, 1, 5, 4}}, {"IDXDOCUMENT", {4, 2, 1, 3, 5}},
                {"IDXCHARTDATE", {4, 2, 5, 3, 1}}};
  return def;
}
// clang-format on

// MWTRN.ADT as a practice may carry it: more fields, before, between and after the known ones.
TableDef MwtrnWithExtraFields() {
  TableDef def = Mwtrn();
  InsertColumn(def, 0, "Billing Code", "CHAR(3)", {T("B1"), N(), T("B3"), T("B4"), T("B5")});
  InsertColumn(def, 4, "Units", "NUMERIC(10,2)", {R(1.5), R(12345.67), N(), R(-2.25), R(0)});
  InsertColumn(def, 10, "Visit", "SHORTINT", {I(1), I(-32768), I(32767), N(), I(0)});
  InsertColumn(def, 12, "Start Time", "TIME",
               {Tm(9, 30, 0, 0), Tm(0, 0, 0, 1), N(), Tm(23, 59, 59, 999), Tm(12, 0, 0, 0)});
  InsertColumn(def, 19, "Fee", "MONEY", {R(75.5), R(0.0001), R(-12.34), N(), R(99999.9999)});
  InsertColumn(def, def.fields.size(), "Entered", "TIMESTAMP",
               {Ts(2021, 3, 4, 10, 30, 15, 250), N(), Ts(1900, 1, 1, 0, 0, 0, 0),
                Ts(2021, 5, 1, 23, 59, 59, 999), Ts(2000, 2, 29, 12, 0, 0, 0)});
  return def;
}

// clang-format off
TableDef Mwpax() {
  TableDef def = Laid(isam::testing::kApplicationsLayout);
  def.rows = {{I(10), I(5), R(12.5), T("I")},
              {I(9), I(5), R(1.25), N()},
              {I(10), I(4), R(3), T("G")},
              {N(), I(7), R(0.1), T("P")},
              {I(9), I(5), R(-2.75), T("I")}};
  def.orders = {{"", {1, 2, 3, 4, 5}}, {"PRIMARY", {4, 2, 5, 3, 1}},
                {"IDXCHARGEREFERENCE", {3, 1, 2, 5, 4}}};
  return def;
}

TableDef Mwpro() {
  TableDef def = Laid(isam::testing::kProcedureCodesLayout);
  def.rows = {
      {T("99213"), N(), N(), T("A"), T("Office visit est"), T("1"), T("11"), T("A"),
       B(false), B(false), B(true), B(false), B(false)},
      {T("01"), T("A1"), T("B"), T("B"), T("Cash payment"), N(), N(), N(),
       B(false), B(false), B(false), B(false), B(true)},
      {T("99201"), T("X"), N(), T("A"), T("New patient"), T("1"), T("11"), T("A"),
       B(true), B(false), N(), B(false), B(false)},
      {T("adj"), N(), N(), T("D"), T("Write-off"), N(), N(), N(),
       B(false), B(true), B(false), B(true), B(false)},
      {T("ADJ"), N(), N(), T("D"), T("Adjustment"), N(), N(), N(),
       B(false), B(false), B(false), B(true), B(false)}};
  def.orders = {{"", {1, 2, 3, 4, 5}}, {"PRIMARY", {2, 3, 1, 5, 4}}};
  return def;
}
// clang-format on

void ExpectRecord(const TDataSet& ds, const TableDef& def, int64_t recno) {
  const std::vector<Cell>& row = def.rows[static_cast<size_t>(recno - 1)];
  for (size_t i = 0; i < def.fields.size(); ++i) {
    const auto& [name, type] = def.fields[i];
    const Cell& c = row[i];
    SCOPED_TRACE(def.file + " record " + std::to_string(recno) + " field " + name);
    const TField& f = ds.FieldByName(name);
    EXPECT_EQ(f.DataType(), ExpectedType(type));
    EXPECT_EQ(f.IsNull(), c.kind == Cell::kNull);
    switch (c.kind) {
      case Cell::kNull:
        EXPECT_EQ(f.AsString(), "");
        break;
      case Cell::kText:
        EXPECT_EQ(f.AsString(), c.text);
        break;
      case Cell::kInt:
        EXPECT_EQ(f.AsInteger(), c.integer);
        break;
      case Cell::kReal:
        EXPECT_EQ(f.AsFloat(), c.real);
        EXPECT_EQ(f.AsCurrency(), Money::FromDouble(c.real));
        break;
      case Cell::kBool:
        EXPECT_EQ(f.AsBoolean(), c.integer != 0);
        break;
      case Cell::kDay:
        EXPECT_NEAR(f.AsDateTime(), c.real, 1e-9);
        break;
    }
  }
}

// The record numbers met walking the dataset from First to Eof.
std::vector<int64_t> Walk(TDataSet& ds) {
  std::vector<int64_t> seen;
  for (ds.First(); !ds.Eof() && seen.size() < 100; ds.Next()) seen.push_back(ds.RecNo());
  return seen;
}

template <typename E, typename F>
std::string MessageOf(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

int64_t CountRows(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM records", -1, &stmt, nullptr);
  int64_t n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return n;
}

// A practice folder with the three practice tables and a connection to it.
class PracticeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const TableDef& def : {Mwtrn(), Mwpax(), Mwpro()}) MakeTable(folder_.path(), def);
    connection_.SetConnectPath(folder_.path() + "\\");
  }
  // A table dataset on the practice connection, opened.
  void OpenOn(TIsamTable& table, const std::string& file, const std::string& index = "") {
    table.SetIsamConnection(&connection_);
    table.SetTableName(file);
    table.SetIndexName(index);
    table.Open();
  }
  std::string File(const std::string& name) const { return folder_.File(name); }

  TempFolder folder_;
  TIsamConnection connection_{nullptr, "PracticeConnection"};
};

// ---- opening and reading ----

TEST(IsamTable, ReadsEveryPracticeTableInNaturalAndEveryIndexOrder) {
  TempFolder folder, variant_folder;
  std::vector<TableDef> defs = {Mwtrn(), Mwpax(), Mwpro()};
  for (const TableDef& def : defs) MakeTable(folder.path(), def);
  TableDef variant = MwtrnWithExtraFields();
  MakeTable(variant_folder.path(), variant);
  TIsamConnection connection(nullptr, "IsamConnection2"), other(nullptr, "VariantConnection");
  connection.SetConnectPath(folder.path() + "/");
  other.SetConnectPath(variant_folder.path() + "\\");
  defs.push_back(variant);
  for (const TableDef& def : defs) {
    for (const auto& [index, expected] : def.orders) {
      SCOPED_TRACE(def.file + " in order '" + index + "'");
      TIsamTable table(nullptr, "Table");
      table.SetIsamConnection(&def == &defs.back() ? &other : &connection);
      table.SetTableName(def.file == "MWTRN.ADT" ? "MWTRN.adt" : def.file);
      table.SetIndexName(index);
      table.Open();
      EXPECT_EQ(table.Fields().size(), def.fields.size());
      EXPECT_EQ(table.RecordCount(), static_cast<int>(def.rows.size()));
      EXPECT_EQ(Walk(table), expected);
      for (table.First(); !table.Eof(); table.Next()) ExpectRecord(table, def, table.RecNo());
    }
  }
}

TEST(IsamTable, TablePathIsTheDatabasePathBackslashAndTheTableName) {
  TempFolder folder;
  MakeTable(folder.path(), Mwtrn());
  for (const char* ending : {"\\", "/", ""}) {
    TIsamConnection connection(nullptr, "Conn");
    connection.SetConnectPath(folder.path() + ending);
    TIsamTable table(nullptr, "MWtrn");
    table.SetIsamConnection(&connection);
    table.SetTableName("MWTRN.adt");
    EXPECT_EQ(table.TablePath(), folder.path() + "\\MWTRN.adt");
    table.Open();
    EXPECT_EQ(table.RecordCount(), 5);
  }
}

TEST(IsamTable, DeclaredTrnPayFieldsBindByNameInAnyTableLayout) {
  for (const TableDef& def : {Mwtrn(), MwtrnWithExtraFields()}) {
    TempFolder folder;
    MakeTable(folder.path(), def);
    TIsamTable table(nullptr, "TrnPay");
    table.SetDatabaseName(folder.path());
    table.SetTableName("MWTRN.ADT");
    table.AddField(std::make_unique<TStringField>("Chart Number", 8));
    table.AddField(std::make_unique<TIntegerField>("Case Number"));
    table.AddField(std::make_unique<TAutoIncField>("Entry Number"));
    table.AddField(std::make_unique<TDateField>("Date From"));
    table.AddField(std::make_unique<TStringField>("Document Number", 10));
    table.AddField(std::make_unique<TStringField>("Procedure Code", 10));
    table.AddField(std::make_unique<TStringField>("Transaction Type", 1));
    table.AddField(std::make_unique<TFloatField>("Amount"));
    table.AddField(std::make_unique<TStringField>("Who Paid", 1));
    for (const char* name :
         {"Guarantor Amount Paid", "Insurance 1 Amount Paid", "Insurance 2 Amount Paid",
          "Insurance 3 Amount Paid", "Attorney Amount Paid", "Adjustment Amount"}) {
      table.AddField(std::make_unique<TFloatField>(name));
    }
    table.AddField(std::make_unique<TDateField>("Date Created"));
    table.Open();
    ASSERT_EQ(table.Fields().size(), 16u);
    EXPECT_EQ(table.Fields()[0]->FieldName(), "Chart Number");
    EXPECT_EQ(table.FindField("Description"), nullptr);
    EXPECT_EQ(table.FindField("Billing Code"), nullptr);
    // Each declared field reads its own column, wherever the table keeps it.
    TableDef known = Mwtrn();
    known.fields.resize(16);
    for (auto& row : known.rows) row.resize(16);
    for (table.First(); !table.Eof(); table.Next()) ExpectRecord(table, known, table.RecNo());
    table.Close();
    table.Open();  // declared fields bind again
    EXPECT_EQ(table.FieldByName("amount").AsFloat(), 75.5);
  }
}

TEST(IsamTable, DeclaredFieldOfAnotherTypeOrNameIsRefused) {
  TempFolder folder;
  MakeTable(folder.path(), Mwtrn());
  auto refusal = [&](std::unique_ptr<TField> field) {
    TIsamTable table(nullptr, "TrnPay");
    table.SetDatabaseName(folder.path());
    table.SetTableName("MWTRN.ADT");
    table.AddField(std::make_unique<TFloatField>("Amount"));
    if (field) table.AddField(std::move(field));
    std::string message = MessageOf<EDatabaseError>([&] { table.Open(); });
    EXPECT_EQ(table.Active(), message.empty());  // a refused open leaves nothing open
    EXPECT_EQ(table.Handle() != 0, message.empty());
    return message;
  };
  const std::string mismatch = "TrnPay: Type mismatch for field ";
  EXPECT_EQ(refusal(std::make_unique<TIntegerField>("Chart Number")),
            mismatch + "'Chart Number', expecting: Integer actual: String");
  EXPECT_EQ(refusal(std::make_unique<TIntegerField>("Entry Number")),
            mismatch + "'Entry Number', expecting: Integer actual: AutoInc");
  EXPECT_EQ(refusal(std::make_unique<TStringField>("Case Number")),
            mismatch + "'Case Number', expecting: String actual: Integer");
  EXPECT_EQ(refusal(std::make_unique<TDateTimeField>("Date From")),
            mismatch + "'Date From', expecting: DateTime actual: Date");
  EXPECT_EQ(refusal(std::make_unique<TCurrencyField>("Insurance 1 Paid")),
            mismatch + "'Insurance 1 Paid', expecting: Currency actual: Boolean");
  EXPECT_EQ(refusal(std::make_unique<TStringField>("Claim Number")),
            "TrnPay: Field 'Claim Number' not found");
  EXPECT_EQ(refusal(nullptr), "");  // Amount alone is accepted
}

// The engine's own text for opening `name` on a fresh connection to `folder`.
std::string EngineOpenErrorText(const std::string& folder, const std::string& name) {
  IsamHandle connection = 0, table = 0;
  EXPECT_EQ(IsamConnect(folder.c_str(), &connection), 0u);
  IsamResult rc =
      IsamOpenTable(connection, name.c_str(), nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                    ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &table);
  EXPECT_NE(rc, 0u);
  uint32_t code = 0;
  char text[600];
  uint16_t length = sizeof text;
  IsamGetLastError(&code, text, &length);
  IsamDisconnect(connection);
  return std::string(text, length);
}

TEST_F(PracticeTest, OpenWithoutTableNameOrOnAMissingFileRaisesWithTheDatasetName) {
  TIsamTable unnamed(nullptr, "Charges");
  unnamed.SetIsamConnection(&connection_);
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] { unnamed.Open(); }),
            "Charges: Missing TableName property");
  EXPECT_FALSE(unnamed.Active());

  TComponent form(nullptr, "ChargeForm");
  TIsamTable table(&form, "MWtrnChg");
  table.SetIsamConnection(&connection_);
  table.SetTableName("MWTRNCHG.ADT");
  try {
    table.Open();
    ADD_FAILURE() << "opened a missing table";
  } catch (const EIsamDatabaseError& e) {
    EXPECT_EQ(e.message(), "MWtrnChg: " + EngineOpenErrorText(folder_.path(), table.TablePath()));
    EXPECT_EQ(e.error_code(), uint32_t{ISAM_ERR_TABLE_NOT_FOUND});
    EXPECT_EQ(e.context().dataset_name, "MWtrnChg");
    EXPECT_EQ(e.context().owner_name, "ChargeForm");
    EXPECT_EQ(e.context().table_name, "MWTRNCHG.ADT");
  }
  EXPECT_FALSE(table.Active());
  // A file that is not a table is refused the same way.
  RunSql(File("Junk.adt"), "CREATE TABLE records (x);");
  table.SetTableName("Junk.adt");
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] { table.Open(); }),
            "MWtrnChg: " + EngineOpenErrorText(folder_.path(), table.TablePath()));
}

TEST_F(PracticeTest, OpenDatasetRefusesBindingAndTableChanges) {
  TIsamTable table(nullptr, "Pax");
  OpenOn(table, "Mwpax.adt");
  TIsamConnection other(nullptr, "Other");
  const std::string open_text = "Pax: Cannot perform this operation on an open dataset";
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] { table.SetTableName("Mwpro.adt"); }), open_text);
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] { table.SetTableType(TTableType::ttIsamCDX); }),
            open_text);
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] { table.SetDatabaseName("Other"); }), open_text);
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] { table.SetIsamConnection(&other); }),
            "Pax: Table must not be Active.");
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] { table.SetIsamConnection(nullptr); }),
            "Pax: Table must not be Active.");
  EXPECT_EQ(table.TableName(), "Mwpax.adt");
  EXPECT_EQ(table.TableType(), TTableType::ttIsamNative);
  EXPECT_EQ(table.IsamConnection(), &connection_);
  EXPECT_EQ(table.DatabaseName(), "PracticeConnection");
  EXPECT_TRUE(table.Active());
  EXPECT_EQ(table.RecordCount(), 5);
}

// ---- binding to connections ----

TEST_F(PracticeTest, DatabaseNameFindsTheConnectionWithoutRegardToCase) {
  TIsamTable table(nullptr, "Pax");
  table.SetDatabaseName("PRACTICEconnection");
  EXPECT_EQ(table.IsamConnection(), &connection_);
  table.SetTableName("Mwpax.adt");
  table.Open();
  EXPECT_TRUE(connection_.IsConnected());
  EXPECT_EQ(connection_.DataSets(), std::vector<TIsamDataSet*>{&table});
  table.Close();
  TIsamTable direct(nullptr, "Direct");
  direct.SetIsamConnection(&connection_);
  EXPECT_EQ(direct.DatabaseName(), "PracticeConnection");
}

TEST_F(PracticeTest, DatasetBindsToAConnectionNamedLater) {
  TComponent form(nullptr, "Form1");
  TIsamTable table(&form, "Pax");
  table.SetDatabaseName("LaterDb");
  EXPECT_EQ(table.IsamConnection(), nullptr);
  TIsamConnection later(&form);
  later.SetConnectPath(folder_.path());
  EXPECT_EQ(table.IsamConnection(), nullptr);
  later.SetName("LaterDb");
  EXPECT_EQ(table.IsamConnection(), &later);
  table.SetTableName("Mwpax.adt");
  table.Open();
  EXPECT_TRUE(later.IsConnected());
  EXPECT_EQ(table.RecordCount(), 5);
}

TEST_F(PracticeTest, DatasetFollowsARenamedConnection) {
  TIsamTable table(nullptr, "Pax");
  table.SetDatabaseName("PracticeConnection");
  table.SetTableName("Mwpax.adt");
  connection_.SetName("RenamedConnection");
  EXPECT_EQ(table.IsamConnection(), &connection_);
  EXPECT_EQ(table.DatabaseName(), "RenamedConnection");
  table.Open();
  EXPECT_EQ(table.RecordCount(), 5);
}

TEST_F(PracticeTest, OpenDatasetFollowsARenamedConnectionAtItsNextOpen) {
  TIsamTable table(nullptr, "Pax");
  table.SetDatabaseName("PracticeConnection");
  table.SetTableName("Mwpax.adt");
  table.Open();
  connection_.SetName("RenamedConnection");
  table.Close();
  EXPECT_EQ(table.IsamConnection(), &connection_);
  EXPECT_EQ(table.DatabasePath(), folder_.path());
  EXPECT_NO_THROW(table.Open());
  EXPECT_TRUE(table.Active());
}

TEST_F(PracticeTest, DatabaseNameThatNamesNoConnectionIsAFolder) {
  TIsamTable table(nullptr, "Pax");
  table.SetDatabaseName(folder_.path() + "/");
  EXPECT_EQ(table.IsamConnection(), nullptr);
  table.SetTableName("MWPAX.ADT");
  table.Open();
  EXPECT_FALSE(connection_.IsConnected());
  EXPECT_EQ(Walk(table), (std::vector<int64_t>{1, 2, 3, 4, 5}));
}

// ---- moves ----

TEST_F(PracticeTest, NextPastTheEndSetsEofAndKeepsTheLastRecordRead) {
  TIsamTable table(nullptr, "Pax");
  OpenOn(table, "Mwpax.adt", "PRIMARY");
  EXPECT_TRUE(table.Bof());
  EXPECT_FALSE(table.Eof());
  EXPECT_EQ(table.RecNo(), 4);
  for (int i = 0; i < 4; ++i) table.Next();
  EXPECT_FALSE(table.Eof());
  EXPECT_EQ(table.RecNo(), 1);
  for (int i = 0; i < 2; ++i) {
    table.Next();
    EXPECT_TRUE(table.Eof());
    EXPECT_FALSE(table.IsEmpty());
    EXPECT_EQ(table.RecNo(), 1);
    EXPECT_EQ(table.FieldByName("Payment Amount").AsFloat(), 12.5);
  }
  table.First();
  EXPECT_FALSE(table.Eof());
  EXPECT_EQ(table.RecNo(), 4);
  EXPECT_EQ(table.Version(), "6.2 (ISAM 1.00)");
}

TEST_F(PracticeTest, EmptyTableIsEmptyAndAtEof) {
  CreateTable(File("Empty.adt"), {"Payment Reference INTEGER", "Who Paid CHAR(1)"},
              {"PRIMARY=Payment Reference"});
  TIsamTable table(nullptr, "Empty");
  OpenOn(table, "Empty.adt", "PRIMARY");
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_EQ(table.RecNo(), 0);
  EXPECT_TRUE(table.FieldByName("Who Paid").IsNull());
  table.Next();
  EXPECT_TRUE(table.Eof());
  EXPECT_FALSE(table.FindKey({"1"}));
}

TEST_F(PracticeTest, RefreshShowsWhatAnotherHandleWrote) {
  TIsamTable table(nullptr, "Trn");
  OpenOn(table, "MWTRN.ADT", "IDXDOCUMENT");
  table.Next();
  ASSERT_EQ(table.RecNo(), 2);
  {
    isam::testing::ScopedConnection other(folder_.path());
    IsamHandle handle = other.Open("MWTRN.ADT");
    ASSERT_EQ(IsamGotoRecord(handle, 2), 0u);
    isam::testing::WriteFields(handle, {{"Amount", "99.5"}, {"Who Paid", "P"}}, false);
  }
  EXPECT_EQ(table.FieldByName("Amount").AsFloat(), 120.0);
  table.Refresh();
  EXPECT_EQ(table.RecNo(), 2);
  EXPECT_EQ(table.FieldByName("Amount").AsFloat(), 99.5);
  EXPECT_EQ(table.FieldByName("Who Paid").AsString(), "P");
}

// ---- record filters ----

TEST_F(PracticeTest, RecordFilterSeesCandidatesAndSkipsRejectsBothWays) {
  TIsamTable table(nullptr, "Pax");
  std::vector<double> candidates;
  table.SetFiltered(true);
  table.OnFilterRecord = [&](TDataSet& ds, bool& accept) {
    candidates.push_back(ds.FieldByName("Payment Amount").AsFloat());
    accept = ds.FieldByName("Who Paid").AsString() == "I";
  };
  OpenOn(table, "Mwpax.adt");
  candidates.clear();
  EXPECT_EQ(Walk(table), (std::vector<int64_t>{1, 5}));
  EXPECT_EQ(candidates, (std::vector<double>{12.5, 1.25, 3, 0.1, -2.75}));
  EXPECT_EQ(table.RecordCount(), 5);
  table.First();
  table.Next();
  ASSERT_EQ(table.RecNo(), 5);
  table.Prior();
  EXPECT_EQ(table.RecNo(), 1);
  EXPECT_FALSE(table.Bof());
  table.Prior();
  EXPECT_TRUE(table.Bof());
  EXPECT_EQ(table.RecNo(), 1);
  table.SetIndexName("PRIMARY");
  EXPECT_EQ(Walk(table), (std::vector<int64_t>{5, 1}));
}

TEST_F(PracticeTest, RecordFilterRejectingEverythingLeavesTheDatasetEmpty) {
  TIsamTable table(nullptr, "Pax");
  table.SetFiltered(true);
  table.OnFilterRecord = [](TDataSet&, bool& accept) { accept = false; };
  OpenOn(table, "Mwpax.adt", "PRIMARY");
  EXPECT_TRUE(table.Eof());
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_TRUE(table.FieldByName("Payment Amount").IsNull());
  EXPECT_EQ(table.RecordCount(), 5);
  table.First();
  EXPECT_TRUE(table.Eof());
  EXPECT_TRUE(table.IsEmpty());
  table.SetFiltered(false);
  EXPECT_FALSE(table.IsEmpty());
  EXPECT_EQ(table.RecNo(), 4);
}

TEST_F(PracticeTest, ExceptionFromTheFilterEndsTheMoveAndPropagates) {
  TIsamTable table(nullptr, "Pax");
  table.SetFiltered(true);
  table.OnFilterRecord = [](TDataSet& ds, bool& accept) {
    if (ds.FieldByName("Charge Reference").AsInteger() == 4) throw std::runtime_error("refused");
    accept = true;
  };
  OpenOn(table, "Mwpax.adt");
  table.Next();
  EXPECT_THROW(table.Next(), std::runtime_error);
  EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
  table.First();  // the handler is not met before the first record
  EXPECT_EQ(table.RecNo(), 1);
  table.SetFiltered(false);
  EXPECT_EQ(Walk(table), (std::vector<int64_t>{1, 2, 3, 4, 5}));
}

// ---- master and detail ----

// MWTRN.ADT as master and detail of itself, both in IDXDOCUMENT order ([4, 2, 1, 3, 5]).
class MasterDetailTest : public PracticeTest {
 protected:
  void SetUp() override {
    PracticeTest::SetUp();
    source_.SetDataSet(&master_);
    for (TIsamTable* t : {&master_, &detail_}) {
      t->SetIsamConnection(&connection_);
      t->SetTableName("MWTRN.ADT");
      t->SetIndexName("IDXDOCUMENT");
    }
    detail_.SetMasterSource(&source_);
    detail_.SetMasterFields("Chart Number;Document Number");
  }

  TIsamTable master_{nullptr, "Master"};
  TIsamTable detail_{nullptr, "Detail"};
  TDataSource source_{nullptr, "MasterSource"};
};

TEST_F(MasterDetailTest, DetailShowsTheRecordsMatchingTheMasterKeyFields) {
  master_.Open();
  detail_.Open();
  ASSERT_EQ(master_.RecNo(), 4);  // empty Chart Number: matched by empty
  EXPECT_EQ(detail_.RecNo(), 4);
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{4}));
  master_.Next();
  EXPECT_EQ(detail_.RecNo(), 2);
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{2}));
  master_.Next();
  EXPECT_EQ(detail_.RecNo(), 1);  // first of the range
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{1, 3}));
  detail_.First();
  detail_.Next();
  ASSERT_EQ(detail_.RecNo(), 3);
  master_.Next();  // record 3: the same key values
  ASSERT_EQ(master_.RecNo(), 3);
  EXPECT_EQ(detail_.RecNo(), 3);
  master_.Next();
  EXPECT_EQ(detail_.RecNo(), 5);
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{5}));
  EXPECT_EQ(detail_.FieldByName("Document Number").AsString(), "210401002");
}

TEST_F(MasterDetailTest, KeysTheMasterLooksForLeaveTheDetailOnTheMastersRecord) {
  master_.Open();
  detail_.Open();
  master_.Next();
  master_.Next();
  ASSERT_EQ(master_.RecNo(), 1);
  ASSERT_EQ(Walk(detail_), (std::vector<int64_t>{1, 3}));
  EXPECT_FALSE(master_.FindKey({"NOBODY", "999"}));
  EXPECT_EQ(master_.RecNo(), 1);
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{1, 3}));
}

TEST_F(MasterDetailTest, MasterWithFewerFieldsLimitsByTheLeadingSegments) {
  detail_.SetMasterFields("Chart Number");
  master_.SetIndexName("");
  master_.Open();  // natural order: records 1 to 5
  detail_.Open();
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{1, 3, 5}));
  master_.Next();
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{2}));
  master_.Next();
  master_.Next();
  ASSERT_EQ(master_.RecNo(), 4);
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{4}));
}

TEST_F(MasterDetailTest, DetailShowsTheWholeTableWhileTheMasterIsClosed) {
  detail_.Open();
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{4, 2, 1, 3, 5}));
  master_.Open();
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{4}));
  master_.Next();
  master_.Next();
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{1, 3}));
  master_.Close();
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{4, 2, 1, 3, 5}));
  EXPECT_EQ(detail_.RecordCount(), 5);
}

TEST_F(MasterDetailTest, MasterSourceMayNotCloseACircle) {
  TDataSource detail_source(nullptr, "DetailSource");
  detail_source.SetDataSet(&detail_);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { master_.SetMasterSource(&detail_source); }),
            "Circular Data Link");
  EXPECT_EQ(master_.MasterSource(), nullptr);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { master_.SetMasterSource(&source_); }),
            "Circular Data Link");
  // A third dataset following the detail closes no circle.
  TIsamTable third(nullptr, "Third");
  EXPECT_NO_THROW(third.SetMasterSource(&detail_source));
}

TEST_F(MasterDetailTest, AppendInTheDetailFillsTheKeyFieldsFromTheMaster) {
  master_.Open();
  detail_.Open();
  while (master_.RecNo() != 5) master_.Next();
  detail_.Append();
  EXPECT_EQ(detail_.FieldByName("Chart Number").AsString(), "SMITHJO0");
  EXPECT_EQ(detail_.FieldByName("Document Number").AsString(), "210401002");
  detail_.FieldByName("Amount").SetAsFloat(33.25);
  detail_.Post();
  EXPECT_EQ(detail_.RecNo(), 6);
  EXPECT_EQ(detail_.FieldByName("Entry Number").AsInteger(), 6);
  EXPECT_EQ(Walk(detail_), (std::vector<int64_t>{5, 6}));
  EXPECT_EQ(CountRows(File("MWTRN.ADT")), 6);
}

// ---- changes ----

TEST_F(PracticeTest, EditLocksTheRecordUntilPostOrCancel) {
  TIsamTable a(nullptr, "A"), b(nullptr, "B");
  OpenOn(a, "MWTRN.ADT");
  OpenOn(b, "MWTRN.ADT");
  a.Edit();
  EXPECT_EQ(a.State(), TDataSetState::dsEdit);
  try {
    b.Edit();
    ADD_FAILURE() << "edited a record locked by another handle";
  } catch (const EIsamDatabaseError& e) {
    EXPECT_EQ(e.error_code(), uint32_t{ISAM_ERR_RECORD_LOCKED});
    EXPECT_EQ(e.message().rfind("B: ", 0), 0u) << e.message();
  }
  EXPECT_EQ(b.State(), TDataSetState::dsBrowse);
  a.FieldByName("Amount").SetAsFloat(80.125);
  a.Post();
  EXPECT_EQ(a.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(a.FieldByName("Amount").AsFloat(), 80.125);
  b.Refresh();
  EXPECT_EQ(b.FieldByName("Amount").AsFloat(), 80.125);
  EXPECT_EQ(b.FieldByName("Description").AsString(), "Office visit, established");
  b.Edit();  // unlocked by the post
  b.Post();  // nothing changed: still posts and unlocks
  EXPECT_EQ(b.State(), TDataSetState::dsBrowse);
  a.Edit();
  a.Cancel();
  b.Edit();
  b.Cancel();
  a.Edit();
  a.Close();  // closing drops the lock too
  b.Edit();
  b.Cancel();
}

// A post writes the fields the edit assigned over the record as stored at the post, whatever
// another program wrote to it meanwhile, and shows the record as a fresh read finds it; inside a
// transaction as outside one.
TEST_F(PracticeTest, PostWritesTheAssignedFieldsOverWhatOthersWroteDuringTheEdit) {
  for (bool in_transaction : {false, true}) {
    SCOPED_TRACE(in_transaction ? "inside a transaction" : "outside a transaction");
    TIsamTable a(nullptr, "A");
    OpenOn(a, "MWTRN.ADT", "IDXDOCUMENT");
    a.Next();
    int64_t recno = a.RecNo();
    if (in_transaction) connection_.StartTransaction();
    a.Edit();
    double amount = in_transaction ? 61.25 : 60.5;
    a.FieldByName("Amount").SetAsFloat(amount);
    // Another program changes other fields of the record while it is being edited; inside a
    // transaction no program can, so there the edit meets the change made before it.
    if (!in_transaction) {
      RunSql(File("MWTRN.ADT"),
             "UPDATE records SET \"Who Paid\" = 'Q', \"Description\" = "
             "'Changed meanwhile' WHERE _recno = " +
                 std::to_string(recno) + ";");
    }
    a.Post();
    TIsamTable fresh(nullptr, "Fresh");
    OpenOn(fresh, "MWTRN.ADT", "IDXDOCUMENT");
    while (!fresh.Eof() && fresh.RecNo() != recno) fresh.Next();
    ASSERT_EQ(fresh.RecNo(), recno);
    EXPECT_EQ(fresh.FieldByName("Amount").AsFloat(), amount);
    EXPECT_EQ(fresh.FieldByName("Who Paid").AsString(), "Q");
    EXPECT_EQ(fresh.FieldByName("Description").AsString(), "Changed meanwhile");
    EXPECT_EQ(a.RecNo(), recno);
    for (TField* field : a.Fields()) {
      EXPECT_EQ(field->AsString(), fresh.FieldByName(field->FieldName()).AsString())
          << field->FieldName();
    }
    if (in_transaction) connection_.Commit();
  }
}

// Another program may number a record 0 or beyond 2^32: the dataset shows each under its own
// number and edits it, locked against other handles, as any other.
TEST_F(PracticeTest, RecordsNumberedZeroOrBeyondTwoToThe32AreShownAndEditedAsThemselves) {
  RunSql(File("MWTRN.ADT"),
         "UPDATE records SET _recno = 0 WHERE _recno = 1;"
         "UPDATE records SET _recno = 5000000000 WHERE _recno = 2;");
  TIsamTable a(nullptr, "A"), b(nullptr, "B");
  OpenOn(a, "MWTRN.ADT");
  OpenOn(b, "MWTRN.ADT");
  EXPECT_EQ(Walk(a), (std::vector<int64_t>{0, 3, 4, 5, 5000000000}));
  for (int64_t recno : {int64_t{0}, int64_t{5000000000}}) {
    SCOPED_TRACE(recno);
    a.First();
    while (a.RecNo() != recno && !a.Eof()) a.Next();
    b.First();
    while (b.RecNo() != recno && !b.Eof()) b.Next();
    ASSERT_EQ(a.RecNo(), recno);
    a.Edit();
    EXPECT_THROW(b.Edit(), EIsamDatabaseError);
    a.FieldByName("Amount").SetAsFloat(static_cast<double>(recno % 1000) + 0.5);
    a.Post();
    EXPECT_EQ(a.RecNo(), recno);
    b.Edit();  // the post unlocked the record
    b.Cancel();
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(File("MWTRN.ADT").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT _recno, \"Amount\" FROM records ORDER BY _recno", -1,
                               &stmt, nullptr),
            SQLITE_OK);
  std::map<int64_t, double> amounts;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    amounts[sqlite3_column_int64(stmt, 0)] = sqlite3_column_double(stmt, 1);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  EXPECT_EQ(amounts.size(), 5u);
  EXPECT_EQ(amounts[0], 0.5);
  EXPECT_EQ(amounts[5000000000], 0.5);
}

TEST_F(PracticeTest, FieldsAreWrittenOnlyInEditOrInsertState) {
  TIsamTable table(nullptr, "Trn");
  OpenOn(table, "MWTRN.ADT");
  TField& amount = table.FieldByName("Amount");
  const std::string text = "Trn: Dataset not in edit mode";
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { amount.SetAsFloat(1); }), text);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { amount.SetAsString("2"); }), text);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { amount.Clear(); }), text);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { table.FieldByName("Who Paid").SetAsString("X"); }),
            text);
  EXPECT_EQ(amount.AsFloat(), 75.5);
  EXPECT_FALSE(amount.Changed());
}

TEST_F(PracticeTest, ReadOnlyDatasetRefusesChanges) {
  TIsamTable table(nullptr, "Trn");
  table.ReadOnly = true;
  OpenOn(table, "MWTRN.ADT");
  const std::string text = "Trn: Cannot modify a read-only dataset";
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { table.Edit(); }), text);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { table.Append(); }), text);
  EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
  TIsamConnection read_only(nullptr, "ReadOnlyConnection");
  read_only.ReadOnly = true;
  read_only.SetConnectPath(folder_.path());
  TIsamTable other(nullptr, "Other");
  other.SetIsamConnection(&read_only);
  other.SetTableName("Mwpax.adt");
  other.Open();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { other.Edit(); }),
            "Other: Cannot modify a read-only dataset");
}

TEST_F(PracticeTest, AppendPostAddsExactlyOneRecordAndCancelNone) {
  TIsamTable pax(nullptr, "Pax");
  OpenOn(pax, "Mwpax.adt", "PRIMARY");
  pax.Append();
  EXPECT_EQ(pax.State(), TDataSetState::dsInsert);
  pax.FieldByName("Payment Reference").SetAsInteger(11);
  pax.FieldByName("Charge Reference").SetAsString("6");
  pax.FieldByName("Payment Amount").SetAsCurrency(Money::FromCount(72500));
  pax.FieldByName("Who Paid").SetAsString("G");
  pax.Post();
  EXPECT_EQ(CountRows(File("Mwpax.adt")), 6);
  EXPECT_EQ(pax.RecordCount(), 6);
  EXPECT_EQ(pax.RecNo(), 6);
  EXPECT_EQ(pax.FieldByName("Payment Amount").AsFloat(), 7.25);
  EXPECT_EQ(Walk(pax), (std::vector<int64_t>{4, 2, 5, 3, 1, 6}));

  pax.First();
  pax.Append();
  pax.FieldByName("Payment Reference").SetAsInteger(12);
  pax.Cancel();
  EXPECT_EQ(pax.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(CountRows(File("Mwpax.adt")), 6);
  EXPECT_FALSE(pax.IsEmpty());
  EXPECT_EQ(Walk(pax), (std::vector<int64_t>{4, 2, 5, 3, 1, 6}));
}

TEST(IsamTableChanges, WritesStoreEachTypeInItsStoredForm) {
  TempFolder folder;
  MakeTable(folder.path(), MwtrnWithExtraFields());
  TIsamTable table(nullptr, "Trn");
  table.SetDatabaseName(folder.path());
  table.SetTableName("MWTRN.ADT");
  table.Open();
  table.Edit();
  table.FieldByName("Units").SetAsFloat(12345.678);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { table.FieldByName("Units").SetAsFloat(123456789.5); }),
            "Trn: Numeric out of range.");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { table.FieldByName("Units").SetAsFloat(-1234567.5); }),
            "Trn: Numeric out of range.");
  table.FieldByName("Insurance 2 Paid").SetAsString("y");
  table.FieldByName("Guarantor Paid").SetAsBoolean(false);
  table.FieldByName("Description").SetAsString("Changed");
  table.FieldByName("Procedure Code").SetAsString("   ");
  table.FieldByName("Date From").SetAsDateTime(EncodeDate(2022, 7, 8) + 0.5);
  table.FieldByName("Case Number").SetAsInteger(-42);
  table.FieldByName("Visit").SetAsInteger(-7);
  table.FieldByName("Who Paid").Clear();
  table.Post();

  uint16_t units = isam::testing::FieldNumber(table.Handle(), "Units");
  uint8_t raw[16] = {};
  uint32_t length = sizeof raw;
  ASSERT_EQ(IsamGetFieldRaw(table.Handle(), units, raw, &length), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), length), "  12345.68");
  table.Close();
  table.Open();
  EXPECT_EQ(table.FieldByName("Units").AsFloat(), 12345.68);
  EXPECT_TRUE(table.FieldByName("Insurance 2 Paid").AsBoolean());
  EXPECT_FALSE(table.FieldByName("Guarantor Paid").AsBoolean());
  EXPECT_EQ(table.FieldByName("Description").AsString(), "Changed");
  EXPECT_TRUE(table.FieldByName("Procedure Code").IsNull());
  EXPECT_EQ(table.FieldByName("Date From").AsDateTime(), EncodeDate(2022, 7, 8));
  EXPECT_EQ(table.FieldByName("Case Number").AsInteger(), -42);
  EXPECT_EQ(table.FieldByName("Visit").AsInteger(), -7);
  EXPECT_TRUE(table.FieldByName("Who Paid").IsNull());
  EXPECT_EQ(table.FieldByName("Amount").AsFloat(), 75.5);  // not changed, not written
  EXPECT_EQ(table.FieldByName("Fee").AsCurrency(), Money::FromCount(755000));
}

// ---- keys ----

TEST_F(PracticeTest, FindKeySeeksTheActiveIndex) {
  TIsamTable pax(nullptr, "Pax");
  OpenOn(pax, "Mwpax.adt", "PRIMARY");
  EXPECT_TRUE(pax.FindKey({"10", "5"}));
  EXPECT_EQ(pax.RecNo(), 1);
  EXPECT_TRUE(pax.FindKey({"9"}));
  EXPECT_EQ(pax.RecNo(), 2);
  EXPECT_TRUE(pax.FindKey({"10"}));  // first segment only: (10, 4) comes before (10, 5)
  EXPECT_EQ(pax.RecNo(), 3);
  EXPECT_FALSE(pax.FindKey({"11"}));
  EXPECT_EQ(pax.RecNo(), 3);
  EXPECT_FALSE(pax.FindKey({"9", "6"}));
  EXPECT_EQ(pax.RecNo(), 3);
  EXPECT_EQ(pax.FieldByName("Payment Amount").AsFloat(), 3.0);
  pax.Next();
  EXPECT_EQ(pax.RecNo(), 1);
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] {
              pax.FindKey({"1", "2", "3"});
            }),
            "Pax: Too many values given for current index");
  pax.SetIndexName("IDXCHARGEREFERENCE");
  EXPECT_TRUE(pax.FindKey({"7"}));
  EXPECT_EQ(pax.RecNo(), 4);
  pax.SetIndexName("");
  EXPECT_EQ(MessageOf<EIsamDatabaseError>([&] { pax.FindKey({"1"}); }),
            "Pax: No parseable expressions in setting key fields");
  EXPECT_EQ(pax.RecNo(), 4);
}

TEST_F(PracticeTest, DatesFollowTheProcessFormatInReadsAndKeys) {
  std::string format = ShortDateFormat();
  char separator = DateSeparator();
  {
    TIsamSettings settings;
    settings.SetDateFormat("MM/DD/CCYY");
    TIsamTable trn(nullptr, "Trn");
    OpenOn(trn, "MWTRN.ADT", "IDXCHARTDATE");
    EXPECT_TRUE(trn.FindKey({"SMITHJO0", "03/04/2021"}));
    EXPECT_EQ(trn.RecNo(), 1);
    EXPECT_EQ(trn.FieldByName("Date From").AsString(), "03/04/2021");
    EXPECT_EQ(trn.FieldByName("Date Created").AsString(), "03/05/2021");
    EXPECT_FALSE(trn.FindKey({"SMITHJO0", "03/05/2021"}));
    EXPECT_THROW(trn.FindKey({"SMITHJO0", "2021-03-04"}), EConvertError);
  }
  SetShortDateFormat(format);
  SetDateSeparator(separator);
}

// ---- two processes ----

TEST_F(PracticeTest, RecordLockedByAnotherProcessRefusesEditAndTheOtherWayRound) {
  int to_child[2], to_parent[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(to_parent), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The other program: the engine alone, locking record 2 and then trying record 1.
    close(to_child[1]);
    close(to_parent[0]);
    auto say = [&](char c) { return write(to_parent[1], &c, 1) == 1; };
    auto hear = [&] {
      char c = 0;
      return read(to_child[0], &c, 1) == 1 ? c : '\0';
    };
    IsamHandle connection = 0, table = 0;
    if (IsamConnect(folder_.path().c_str(), &connection) != 0 ||
        IsamOpenTable(connection, "MWTRN.ADT", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                      ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &table) != 0 ||
        IsamLockRecord(table, 2) != 0 || !say('L') || hear() != 'G') {
      _exit(1);
    }
    IsamResult rc = IsamLockRecord(table, 1);
    IsamUnlockRecord(table, 2);
    say(rc == ISAM_ERR_RECORD_LOCKED ? 'R' : 'X');
    hear();
    _exit(0);
  }
  close(to_child[0]);
  close(to_parent[1]);
  // Closing the pipes ends the other process whatever happens here; it is always waited for.
  struct Child {
    pid_t pid;
    int out, in;
    int Wait() {
      close(out);
      close(in);
      out = in = -1;
      int status = -1;
      if (pid > 0) waitpid(pid, &status, 0);
      pid = 0;
      return status;
    }
    ~Child() { Wait(); }
  } child{pid, to_child[1], to_parent[0]};
  auto say = [&](char c) { EXPECT_EQ(write(child.out, &c, 1), 1); };
  auto hear = [&] {
    char c = 0;
    return read(child.in, &c, 1) == 1 ? c : '\0';
  };
  ASSERT_EQ(hear(), 'L');
  TIsamTable trn(nullptr, "Trn");
  OpenOn(trn, "MWTRN.ADT");
  trn.Next();
  ASSERT_EQ(trn.RecNo(), 2);
  try {
    trn.Edit();
    ADD_FAILURE() << "edited a record another process holds";
  } catch (const EIsamDatabaseError& e) {
    EXPECT_EQ(e.error_code(), uint32_t{ISAM_ERR_RECORD_LOCKED});
  }
  EXPECT_EQ(trn.State(), TDataSetState::dsBrowse);
  trn.Prior();
  ASSERT_EQ(trn.RecNo(), 1);
  trn.Edit();
  say('G');
  EXPECT_EQ(hear(), 'R');  // the other process could not lock record 1
  trn.Cancel();
  trn.Next();
  EXPECT_NO_THROW(trn.Edit());  // record 2 was released
  trn.Cancel();
  say('Q');
  int status = child.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace data
