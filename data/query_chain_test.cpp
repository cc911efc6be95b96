// Query datasets and the practice's master-detail chains over real table files, and record
// locks between two processes.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "data/isam_query.h"
#include "isam/testing/practice_layouts.h"
#include "isam/testing/sql_texts.h"
#include "isam/testing/test_support.h"

namespace data {
namespace {

using isam::testing::CreateTable;
using isam::testing::RunSql;
using isam::testing::TempFolder;

const char kConnectionName[] = "IsamConnection2";

using Ids = std::vector<int>;

const std::vector<std::string>& kTrnDocQuery = isam::testing::kTrnDocQueryLines;

struct Transaction {
  int entry;
  const char* chart;
  const char* document;
  const char* type;  // nullptr: empty
  const char* date_from;
  const char* date_created;
  double amount;
};

// Transactions of two charts; "Date Created" in February 2026 is the conversion range.
const Transaction kTransactions[] = {
    {1, "AAA01", "D100", "A", "2026-01-15", "2026-01-15", 100},
    {2, "AAA01", "D100", "B", "2026-02-03", "2026-02-03", 50},
    {3, "AAA01", "D100", "I", "2026-02-05", "2026-02-05", -80},
    {4, "AAA01", "D100", "J", "2026-01-31", "2026-02-10", -20},
    {5, "AAA01", "D100", "H", "2026-02-12", "2026-02-12", 10},
    {6, "AAA01", "D100", "a", "2026-02-12", "2026-02-12", 1},
    {7, "AAA01", "D100", nullptr, "2026-02-12", "2026-02-12", 1},
    {8, "AAA01", "D100", "E", "2026-02-12", "2026-02-12", 1},
    {9, "AAA01", "D100", "S", "2026-02-14", "2026-02-14", -10},
    {10, "AAA01", "D200", "C", "2026-01-10", "2026-01-10", 70},
    {11, "AAA01", "D300", "D", "2026-02-20", "2026-02-20", 7},
    {12, "AAA01", "D300", "U", "2026-02-20", "2026-03-01", -7},
    {13, "BBB02", "D100", "A", "2026-02-01", "2026-02-01", 45},
    {14, "BBB02", "D100", "O", "2026-02-28", "2026-02-28", -40},
    {15, "BBB02", "D100", "P", "2026-02-15", "2026-02-15", 0},
    {16, "BBB02", "D100", "T", "2026-02-16", "2026-02-16", -6},
    {17, "BBB02", "D100", "K", "2026-03-01", "2026-03-01", -1},
    {18, "AAA01", "D10", "A", "2026-02-07", "2026-02-07", 20},
    {19, "AAA01", "D100", "i", "2026-02-13", "2026-02-13", -1},
};

std::string Quoted(const char* text) {
  return text ? "'" + std::string(text) + "'" : "NULL";
}

TDateTime Feb(int day) {
  return EncodeDate(2026, 2, day);
}

// Entry numbers (or another integer field) of every record the dataset shows; back to the first.
std::vector<int> Shown(TDataSet& ds, const std::string& field = "Entry Number") {
  std::vector<int> out;
  for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName(field).AsInteger());
  ds.First();
  return out;
}

std::string Application(TDataSet& pax) {
  return pax.FieldByName("Payment Reference").AsString() + "/" +
         pax.FieldByName("Charge Reference").AsString();
}

void MoveTo(TDataSet& ds, const std::string& field, int value) {
  for (ds.First(); !ds.Eof(); ds.Next()) {
    if (ds.FieldByName(field).AsInteger() == value) return;
  }
  FAIL() << ds.Name() << " shows no " << field << " " << value;
}

bool IsCharge(const std::string& t) {
  return (t >= "A" && t <= "D") || t == "H";
}
bool IsPaymentOrAdjustment(const std::string& t) {
  return (t >= "I" && t <= "O") || (t >= "S" && t <= "U");
}

class PracticeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const isam::testing::PracticeTableLayout& table : isam::testing::kPracticeLayouts)
      CreateTable(folder_.File(table.file), table.fields, table.indexes);
    std::string rows;
    for (const Transaction& t : kTransactions) {
      rows += std::string(rows.empty() ? "" : ",") + " (" + std::to_string(t.entry) + ", " +
              std::to_string(t.entry) + ", " + Quoted(t.chart) + ", 1, " + Quoted(t.date_from) +
              ", " + Quoted(t.document) + ", " +
              Quoted(IsCharge(t.type ? t.type : "") ? "99213" : "PAY") + ", " + Quoted(t.type) +
              ", " + std::to_string(t.amount) + ", " + Quoted(t.date_created) + ", 'entry " +
              std::to_string(t.entry) + "')";
    }
    RunSql(folder_.File("MWTRN.ADT"),
           "INSERT INTO records (\"_recno\", \"Entry Number\", \"Chart Number\", \"Case Number\","
           " \"Date From\", \"Document Number\", \"Procedure Code\", \"Transaction Type\","
           " \"Amount\", \"Date Created\", \"Description\") VALUES" +
               rows + ";");
    // Record 6 comes before record 7 although its key sorts after it.
    RunSql(folder_.File("Mwpax.adt"),
           "INSERT INTO records VALUES (1, 3, 1, -50, 'G'), (2, 3, 2, -30, 'G'),"
           " (3, 4, 2, -20, 'G'), (4, 9, 5, -10, '1'), (5, 14, 13, -40, '1'),"
           " (6, 16, 999, -1, 'G'), (7, 16, 13, -5, 'G'), (8, 12, 11, -7, 'G');");
    RunSql(folder_.File("Mwpro.adt"),
           "INSERT INTO records (\"_recno\", \"Code 1\", \"Type\", \"Description\") VALUES"
           " (1, '99213', 'A', 'Office visit'), (2, 'PAY', 'I', 'Payment');");
    connection_.SetConnectPath(folder_.path());
    connection_.SetIsConnected(true);
  }

  void Bind(TIsamTable& table, const std::string& file, const std::string& index) {
    table.SetDatabaseName(kConnectionName);
    table.SetTableName(file);
    table.SetIndexName(index);
  }
  void Bind(TIsamQuery& query, const std::vector<std::string>& sql) {
    query.SetDatabaseName(kConnectionName);
    query.SetSQL(sql);
  }

  TempFolder folder_;
  TIsamConnection connection_{nullptr, kConnectionName};
};

// ---- query datasets ----

TEST_F(PracticeTest, SetSqlRebuildsParamsFromPlaceholdersKeepingValuesOfNamesThatRemain) {
  TIsamQuery query(nullptr, "Q");
  Bind(query, {"Select * From \"MWTRN.ADT\"",
               "Where (\"Chart Number\" = :\"Chart\") and (\"Case Number\" = :cAse) and",
               " (\"Amount\" > ?)"});
  ASSERT_EQ(query.Params().size(), 3u);
  EXPECT_EQ(query.Params()[0].Name(), "Chart");
  EXPECT_EQ(query.Params()[1].Name(), "cAse");
  EXPECT_EQ(query.Params()[2].Name(), "");
  query.ParamByName("chart").SetAsString("AAA01");
  query.ParamByName("CASE").SetAsInteger(1);
  query.Params()[2].SetAsFloat(0);
  query.Open();
  EXPECT_EQ(Shown(query), Ids({1, 2, 5, 6, 7, 8, 10, 11, 18}));

  query.SetSQL({"Select * From \"MWTRN.ADT\"",
                "Where (\"Amount\" < :\"New\") and (\"Case Number\" = :case)"});
  EXPECT_FALSE(query.Active());
  ASSERT_EQ(query.Params().size(), 2u);
  EXPECT_EQ(query.Params()[0].Name(), "New");
  EXPECT_TRUE(query.Params()[0].IsNull());
  EXPECT_FALSE(query.ParamByName("case").IsNull());
  EXPECT_EQ(query.ParamByName("case").AsString(), "1");
  EXPECT_EQ(query.ParamByName("case").DataType(), TFieldType::ftInteger);
  query.ParamByName("New").SetAsFloat(-30);
  query.Open();
  EXPECT_EQ(Shown(query), Ids({3, 14}));

  // The same text again keeps every value and leaves the query open.
  query.SetSQL(query.SQL());
  EXPECT_TRUE(query.Active());
  EXPECT_FALSE(query.ParamByName("New").IsNull());
  EXPECT_EQ(query.ParamByName("New").AsFloat(), -30);

  try {
    query.ParamByName("Chart");
    FAIL() << "a parameter that left the text was found";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), "Q: Parameter 'Chart' not found");
  }
}

TEST_F(PracticeTest, ParameterLeftWithoutValueIsSentEmptyAndMatchesOnlyIsNull) {
  TIsamQuery query(nullptr, "Q");
  Bind(query, {"Select \"Entry Number\" From \"MWTRN.ADT\" Where \"Transaction Type\" = :t"});
  query.Open();
  EXPECT_TRUE(query.IsEmpty());  // entry 7 has no type, but "= empty" matches nothing
  query.Close();
  query.ParamByName("t").SetAsString("");  // an empty value is no value
  EXPECT_TRUE(query.ParamByName("t").IsNull());
  query.Open();
  EXPECT_TRUE(query.IsEmpty());
  query.Close();

  Bind(query, {"Select \"Entry Number\" From \"MWTRN.ADT\" Where (:t IS NULL) and",
               " (\"Chart Number\" = 'BBB02')"});
  query.Open();
  EXPECT_EQ(Shown(query), Ids({13, 14, 15, 16, 17}));
  query.Close();
  query.ParamByName("t").SetAsString("A");
  query.Open();
  EXPECT_TRUE(query.IsEmpty());
  query.Close();
  query.ParamByName("t").Clear();
  query.Open();
  EXPECT_EQ(query.RecordCount(), 5);
}

class BindingTest : public PracticeTest {
 protected:
  void SetUp() override {
    PracticeTest::SetUp();
    CreateTable(folder_.File("Kinds.adt"),
                {"Name CHAR(10)", "Count INTEGER", "Price DOUBLE", "Cost MONEY", "Flag LOGICAL",
                 "Day DATE", "Stamp TIMESTAMP"});
    RunSql(folder_.File("Kinds.adt"),
           "INSERT INTO records VALUES"
           " (1, 'one', 1, 1.5, 2.25, 1, '2026-03-04', '2026-03-04 14:30:15.000'),"
           " (2, 'two', 2, 2.5, 3.75, 0, '2026-03-05', '2026-03-04 09:00:00.000'),"
           " (3, 'three', 3, 3.5, 4.5, NULL, NULL, NULL);");
  }

  // The "Count" of every row the condition selects with the parameter set by `set`.
  std::vector<int> Select(const std::string& condition, const std::function<void(TParam&)>& set) {
    TIsamQuery query(nullptr, "Q");
    Bind(query, {"Select \"Count\" From \"Kinds.adt\" Where " + condition});
    set(query.ParamByName("p"));
    query.Open();
    return Shown(query, "Count");
  }
};

TEST(ParamTest, UndeclaredParameterTakesItsTypeFromTheValueAndADeclaredOneKeepsIt) {
  std::vector<TParam> cases(7);
  cases[0].SetAsString("x");
  cases[1].SetAsInteger(1);
  cases[2].SetAsFloat(1);
  cases[3].SetAsCurrency(Money::FromCount(1));
  cases[4].SetAsBoolean(false);
  cases[5].SetAsDate(1);
  cases[6].SetAsDateTime(1);
  TFieldType expected[] = {TFieldType::ftString,   TFieldType::ftInteger, TFieldType::ftFloat,
                           TFieldType::ftCurrency, TFieldType::ftBoolean, TFieldType::ftDate,
                           TFieldType::ftDateTime};
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].DataType(), expected[i]) << i;
    EXPECT_FALSE(cases[i].IsNull()) << i;
  }
  TParam declared("p", TFieldType::ftCurrency);
  declared.SetAsFloat(3);
  EXPECT_EQ(declared.DataType(), TFieldType::ftCurrency);
  declared.SetAsString("4");
  EXPECT_EQ(declared.DataType(), TFieldType::ftCurrency);
}

TEST_F(BindingTest, ParametersBindByTheirTypeAgainstEachKindOfField) {
  EXPECT_EQ(Select("\"Name\" = :p", [](TParam& p) { p.SetAsString("two"); }), Ids({2}));
  EXPECT_EQ(Select("\"Count\" = :p", [](TParam& p) { p.SetAsInteger(3); }), Ids({3}));
  EXPECT_EQ(Select("\"Price\" > :p", [](TParam& p) { p.SetAsFloat(2.0); }), Ids({2, 3}));
  EXPECT_EQ(Select("\"Cost\" = :p", [](TParam& p) { p.SetAsCurrency(Money::FromCount(37500)); }),
            Ids({2}));
  EXPECT_EQ(Select("\"Flag\" = :p", [](TParam& p) { p.SetAsBoolean(true); }), Ids({1}));
  EXPECT_EQ(Select("\"Flag\" = :p", [](TParam& p) { p.SetAsBoolean(false); }), Ids({2}));
}

TEST_F(BindingTest, DateParametersBindWholeDaysAndDateTimesTheirTimeOfDay) {
  const TDateTime march4 = EncodeDate(2026, 3, 4);
  const TDateTime afternoon = (14 * 3600 + 30 * 60 + 15) / 86400.0;
  EXPECT_EQ(Select("\"Day\" = :p", [&](TParam& p) { p.SetAsDate(march4 + 0.99); }), Ids({1}));
  // A declared date stays a date whatever the value is given as.
  EXPECT_EQ(Select("\"Day\" = :p",
                   [&](TParam& p) {
                     p.SetDataType(TFieldType::ftDate);
                     p.SetAsDateTime(march4 + 1 + afternoon);
                   }),
            Ids({2}));
  EXPECT_EQ(Select("\"Stamp\" = :p", [&](TParam& p) { p.SetAsDateTime(march4 + afternoon); }),
            Ids({1}));
  EXPECT_EQ(Select("\"Stamp\" < :p", [&](TParam& p) { p.SetAsDateTime(march4 + 0.5); }), Ids({2}));
  // A date meeting a timestamp field stands for midnight.
  EXPECT_EQ(Select("\"Stamp\" > :p", [&](TParam& p) { p.SetAsDate(march4 + afternoon); }),
            Ids({1, 2}));
}

TEST_F(BindingTest, TextAssignedToADeclaredDateParameterBindsThatDate) {
  EXPECT_EQ(Select("\"Day\" = :p",
                   [](TParam& p) {
                     p.SetDataType(TFieldType::ftDate);
                     p.SetAsString(DateToStr(EncodeDate(2026, 3, 5)));
                   }),
            Ids({2}));
}

TEST_F(BindingTest, ParameterWithAValueButNoTypeRefusesToOpen) {
  TIsamQuery query(nullptr, "Q");
  Bind(query, {"Select * From \"Kinds.adt\" Where \"Name\" = :p"});
  query.ParamByName("p").SetAsString("one");
  query.ParamByName("p").SetDataType(TFieldType::ftUnknown);
  try {
    query.Open();
    FAIL() << "opened";
  } catch (const EIsamDatabaseError& e) {
    EXPECT_EQ(e.message(),
              "Q: The field named: 'p' has the DataType of ftUnknown, which is invalid.");
  }
  EXPECT_FALSE(query.Active());
  // Without a value the type does not matter: the parameter is sent empty.
  query.ParamByName("p").Clear();
  query.Open();
  EXPECT_TRUE(query.IsEmpty());
}

TEST_F(PracticeTest, OpenCloseOpenReusesOneStatementAndBindsTheNewValues) {
  TIsamQuery query(nullptr, "Q");
  Bind(query, {"Select \"Entry Number\" From \"MWTRN.ADT\" Where \"Chart Number\" = :c"});
  query.ParamByName("c").SetAsString("BBB02");
  query.Open();
  IsamHandle statement = query.StatementHandle();
  ASSERT_NE(statement, 0u);
  EXPECT_TRUE(query.Prepared());
  EXPECT_EQ(query.RowsAffected(), -1);
  EXPECT_EQ(Shown(query), Ids({13, 14, 15, 16, 17}));
  query.Close();
  EXPECT_FALSE(query.Prepared());
  EXPECT_EQ(query.StatementHandle(), statement);
  query.ParamByName("c").SetAsString("AAA01");
  query.Open();
  EXPECT_EQ(query.StatementHandle(), statement);
  EXPECT_EQ(query.RecordCount(), 14);
}

TEST_F(PracticeTest, UpdateTextRefusesToOpenAndRunsThroughExecSqlWithItsRowCount) {
  TIsamQuery query(nullptr, "Q");
  Bind(query, {"Update \"MWTRN.ADT\" Set \"Who Paid\" = :w", "Where \"Chart Number\" = :c"});
  query.ParamByName("w").SetAsString("G");
  query.ParamByName("c").SetAsString("BBB02");
  try {
    query.Open();
    FAIL() << "opened";
  } catch (const EIsamDatabaseError& e) {
    EXPECT_EQ(e.message(),
              "Q: The SQL statement did not generate a cursor handle.  Use TIsamQuery.ExecSQL to "
              "execute SQL statements that are not SELECT statements");
  }
  EXPECT_FALSE(query.Active());
  EXPECT_EQ(query.State(), TDataSetState::dsInactive);

  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 5);
  EXPECT_FALSE(query.Active());
  query.ParamByName("c").SetAsString("NOBODY");
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 0);

  TIsamQuery check(nullptr, "Check");
  Bind(check, {"Select \"Entry Number\" From \"MWTRN.ADT\" Where \"Who Paid\" = 'G'"});
  check.Open();
  EXPECT_EQ(Shown(check), Ids({13, 14, 15, 16, 17}));
}

// Exposes the layer's own read-only mark, set from whether the engine's cursor is live.
class ProbedQuery : public TIsamQuery {
 public:
  using TIsamQuery::TIsamQuery;
  bool CursorReadOnly() const { return read_only_; }
};

TEST_F(PracticeTest, LiveAndDistinctQueriesAreReadOnlyDatasets) {
  ProbedQuery live(nullptr, "Live");
  Bind(live, {"Select * From \"MWTRN.ADT\" Where \"Chart Number\" = 'BBB02'"});
  live.Open();
  EXPECT_FALSE(live.CursorReadOnly());
  EXPECT_FALSE(live.CanModify());
  try {
    live.Edit();
    FAIL() << "edited a query";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), "Live: Cannot modify a read-only dataset");
  }
  EXPECT_EQ(live.State(), TDataSetState::dsBrowse);

  ProbedQuery distinct(nullptr, "Distinct");
  Bind(distinct, {"Select Distinct \"Chart Number\" From \"MWTRN.ADT\""});
  distinct.Open();
  EXPECT_TRUE(distinct.CursorReadOnly());
  EXPECT_FALSE(distinct.CanModify());
  EXPECT_THROW(distinct.Edit(), EDatabaseError);
  EXPECT_EQ(distinct.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(distinct.RecordCount(), 2);
}

TEST_F(PracticeTest, RefreshRereadsTheCurrentRowOfALiveQuery) {
  TIsamQuery query(nullptr, "Q");
  Bind(query, {"Select \"Entry Number\", \"Procedure Code\" From \"MWTRN.ADT\"",
               "Where \"Chart Number\" = 'BBB02'"});
  query.Open();
  MoveTo(query, "Entry Number", 14);
  EXPECT_EQ(query.FieldByName("Procedure Code").AsString(), "PAY");

  TIsamTable table(nullptr, "MWtrn");
  Bind(table, "MWTRN.ADT", "PRIMARY");
  table.Open();
  ASSERT_TRUE(table.FindKey({"14"}));
  table.Edit();
  table.FieldByName("Procedure Code").SetAsString("REFUND");
  table.Post();

  query.Refresh();
  EXPECT_EQ(query.FieldByName("Entry Number").AsInteger(), 14);
  EXPECT_EQ(query.FieldByName("Procedure Code").AsString(), "REFUND");

  // A row that leaves the result gives way to the next one.
  table.Edit();
  table.FieldByName("Chart Number").SetAsString("CCC03");
  table.Post();
  query.Refresh();
  EXPECT_EQ(query.FieldByName("Entry Number").AsInteger(), 15);
  EXPECT_EQ(query.RecordCount(), 4);
}

TEST_F(PracticeTest, QueryWithDataSourceRerunsWithTheSourceFieldValuesWhenTheSourceMoves) {
  CreateTable(folder_.File("Charts.adt"), {"Chart Number CHAR(8)", "Name CHAR(20)"},
              {"PRIMARY=Chart Number"});
  RunSql(folder_.File("Charts.adt"),
         "INSERT INTO records VALUES (1, 'AAA01', 'Adams'), (2, 'BBB02', 'Baker'),"
         " (3, 'ZZZ99', 'Young');");
  TIsamTable charts(nullptr, "Charts");
  Bind(charts, "Charts.adt", "PRIMARY");
  TDataSource source(nullptr, "DataSourceCharts");
  source.SetDataSet(&charts);
  TIsamQuery query(nullptr, "Q");
  Bind(query, {"Select \"Entry Number\" From \"MWTRN.ADT\"",
               "Where (\"Chart Number\" = :\"Chart Number\") and (\"Date From\" >= :since)"});
  query.SetDataSource(&source);
  query.ParamByName("since").SetAsDate(Feb(14));  // a value of its own: kept at every run

  charts.Open();
  query.Open();
  EXPECT_EQ(Shown(query), Ids({9, 11, 12}));
  charts.Next();
  ASSERT_EQ(charts.FieldByName("Chart Number").AsString(), "BBB02");
  EXPECT_TRUE(query.Active());
  EXPECT_EQ(Shown(query), Ids({14, 15, 16, 17}));
  charts.Next();
  EXPECT_TRUE(query.IsEmpty());
  charts.First();
  EXPECT_EQ(Shown(query), Ids({9, 11, 12}));
}

TEST_F(PracticeTest, DatabaseNameNamingNoConnectionIsUsedAsAFolder) {
  TIsamQuery query(nullptr, "Q");
  query.SetDatabaseName(folder_.path());
  EXPECT_EQ(query.IsamConnection(), nullptr);
  query.SetSQL({"Select \"Payment Reference\" From \"Mwpax.adt\" Where \"Charge Reference\" = 13"});
  query.Open();
  EXPECT_EQ(Shown(query, "Payment Reference"), Ids({14, 16}));
  query.Close();
  ASSERT_NE(query.StatementHandle(), 0u);

  // Leaving the folder for a connection drops the folder's statement.
  query.SetDatabaseName(kConnectionName);
  EXPECT_EQ(query.IsamConnection(), &connection_);
  EXPECT_EQ(query.StatementHandle(), 0u);
  query.Open();
  EXPECT_EQ(query.RecordCount(), 2);
}

// ---- the document chain ----

class DocumentChainTest : public PracticeTest {
 protected:
  void SetUp() override {
    PracticeTest::SetUp();
    Bind(doc_query_, kTrnDocQuery);
    doc_query_.ParamByName("bConvDate").SetDataType(TFieldType::ftDate);
    doc_query_.ParamByName("eConvDate").SetDataType(TFieldType::ftDate);
    doc_query_.ParamByName("bConvDate").SetAsDate(Feb(1) + 0.75);
    doc_query_.ParamByName("eConvDate").SetAsDate(Feb(28) + 0.999);
    doc_source_.SetDataSet(&doc_query_);
    for (TIsamTable* t : {&charges_, &pay_adj_}) {
      Bind(*t, "Mwtrn.adt", "IDXDOCUMENT");
      t->SetMasterSource(&doc_source_);
      t->SetMasterFields("Chart Number;Document Number");
      t->SetFiltered(true);
    }
    charges_.OnFilterRecord = [](TDataSet& ds, bool& accept) {
      accept = IsCharge(ds.FieldByName("Transaction Type").AsString());
    };
    pay_adj_.OnFilterRecord = [](TDataSet& ds, bool& accept) {
      accept = IsPaymentOrAdjustment(ds.FieldByName("Transaction Type").AsString());
    };
    pay_adj_source_.SetDataSet(&pay_adj_);
    Bind(applications_, "Mwpax.adt", "PRIMARY");
    applications_.SetMasterSource(&pay_adj_source_);
    applications_.SetMasterFields("Entry Number");
  }

  std::string Document() {
    return doc_query_.FieldByName("Chart Number").AsString() + "/" +
           doc_query_.FieldByName("Document Number").AsString();
  }

  // What the three details show for the query's current document.
  std::string Details() {
    std::string text = "chg";
    for (int e : Shown(charges_)) text += " " + std::to_string(e);
    text += " pay";
    for (pay_adj_.First(); !pay_adj_.Eof(); pay_adj_.Next()) {
      text += " " + pay_adj_.FieldByName("Entry Number").AsString() + "[";
      for (applications_.First(); !applications_.Eof(); applications_.Next()) {
        text += (applications_.Bof() ? "" : " ") + Application(applications_);
      }
      text += "]";
    }
    pay_adj_.First();
    return text;
  }

  std::vector<std::string> EveryDocument() {
    std::vector<std::string> lines;
    for (doc_query_.First(); !doc_query_.Eof(); doc_query_.Next()) {
      lines.push_back(Document() + " " + Details());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  TIsamQuery doc_query_{nullptr, "TrnDocQuery"};
  TDataSource doc_source_{nullptr, "DataSourceTrnDocQuery"};
  TIsamTable charges_{nullptr, "MWtrnChg"};
  TIsamTable pay_adj_{nullptr, "MWtrnPayAdj"};
  TDataSource pay_adj_source_{nullptr, "DataSourceMWtrnPayAdj"};
  TIsamTable applications_{nullptr, "MWpaxPayAdj"};
};

TEST_F(DocumentChainTest, ShowsChargesPaymentsAndApplicationsOfEachDocumentCreatedInRange) {
  doc_query_.Open();
  charges_.Open();
  pay_adj_.Open();
  applications_.Open();
  EXPECT_EQ(doc_query_.RecordCount(), 4);  // AAA01/D100 has transactions on several days
  EXPECT_EQ(EveryDocument(), (std::vector<std::string>{
                                 "AAA01/D10 chg 18 pay",
                                 "AAA01/D100 chg 1 2 5 pay 3[3/1 3/2] 4[4/2] 9[9/5]",
                                 "AAA01/D300 chg 11 pay 12[12/11]",
                                 "BBB02/D100 chg 13 pay 14[14/13] 16[16/13 16/999] 17[]",
                             }));
}

TEST_F(DocumentChainTest, DetailsOpenedFirstFollowTheQueryAndItsReopeningWithANewRange) {
  charges_.Open();
  pay_adj_.Open();
  applications_.Open();
  // No master yet: every record that passes the filter, in index order.
  EXPECT_EQ(Shown(charges_), Ids({18, 1, 2, 5, 10, 11, 13}));
  EXPECT_EQ(Shown(pay_adj_), Ids({3, 4, 9, 12, 14, 16, 17}));

  doc_query_.Open();
  std::string first = Document() + " " + Details();
  EXPECT_TRUE(first == "AAA01/D10 chg 18 pay" ||
              first == "AAA01/D100 chg 1 2 5 pay 3[3/1 3/2] 4[4/2] 9[9/5]" ||
              first == "AAA01/D300 chg 11 pay 12[12/11]" ||
              first == "BBB02/D100 chg 13 pay 14[14/13] 16[16/13 16/999] 17[]")
      << first;

  // The program's order: close, set both dates, open.
  doc_query_.Close();
  EXPECT_EQ(Shown(charges_), Ids({18, 1, 2, 5, 10, 11, 13}));
  doc_query_.ParamByName("bConvDate").SetAsDate(EncodeDate(2026, 3, 1) + 0.5);
  doc_query_.ParamByName("eConvDate").SetAsDate(EncodeDate(2026, 3, 1) + 0.25);
  doc_query_.Open();
  EXPECT_EQ(EveryDocument(), (std::vector<std::string>{
                                 "AAA01/D300 chg 11 pay 12[12/11]",
                                 "BBB02/D100 chg 13 pay 14[14/13] 16[16/13 16/999] 17[]",
                             }));
}

// ---- the payment chain ----

class PaymentChainTest : public PracticeTest {
 protected:
  void SetUp() override {
    PracticeTest::SetUp();
    Link({&trn_pay_, &pax_chg_, &trn_chg_, &pax_pay_, &trn_pay2_},
         {&pay_source_, &pax_chg_source_, &chg_source_, &pax_pay_source_});
  }

  // Payments created in February, their applications, the charges applied to, every application
  // of those charges, and the payments of those: each a detail of the one before.
  void Link(const std::array<TIsamTable*, 5>& chain, const std::array<TDataSource*, 4>& sources) {
    static const char* const kFiles[] = {"Mwtrn.adt", "Mwpax.adt", "Mwtrn.adt", "Mwpax.adt",
                                         "Mwtrn.adt"};
    static const char* const kIndexes[] = {"IDXCHARTDATE", "PRIMARY", "IDXENTRYNUMBER",
                                           "IDXCHARGEREFERENCE", "IDXENTRYNUMBER"};
    static const char* const kMasterFields[] = {"Entry Number", "Charge Reference", "Entry Number",
                                                "Payment Reference"};
    for (size_t i = 0; i < 5; ++i) {
      Bind(*chain[i], kFiles[i], kIndexes[i]);
      if (i == 0) continue;
      sources[i - 1]->SetDataSet(chain[i - 1]);
      chain[i]->SetMasterSource(sources[i - 1]);
      chain[i]->SetMasterFields(kMasterFields[i - 1]);
    }
    chain[0]->SetFiltered(true);
    chain[0]->OnFilterRecord = [](TDataSet& ds, bool& accept) {
      TDateTime created = ds.FieldByName("Date Created").AsDateTime();
      accept = IsPaymentOrAdjustment(ds.FieldByName("Transaction Type").AsString()) &&
               created >= Feb(1) && created <= Feb(28);
    };
  }

  void OpenAll() {
    for (TIsamTable* t : {&trn_pay_, &pax_chg_, &trn_chg_, &pax_pay_, &trn_pay2_}) t->Open();
  }

  // One line per path down the chain: "payment | application | charge | application |
  // payment", "-" where a dataset shows nothing.
  void Walk(size_t level, const std::string& prefix, std::vector<std::string>& lines) {
    TIsamTable* chain[] = {&trn_pay_, &pax_chg_, &trn_chg_, &pax_pay_, &trn_pay2_};
    if (level == 5) {
      lines.push_back(prefix);
      return;
    }
    TIsamTable& ds = *chain[level];
    std::string lead = prefix + (level ? " | " : "");
    ds.First();
    if (ds.IsEmpty()) {
      for (size_t i = level; i < 5; ++i) lead += std::string(i == level ? "" : " | ") + "-";
      lines.push_back(lead);
      return;
    }
    bool pax = level == 1 || level == 3;
    for (; !ds.Eof(); ds.Next()) {
      Walk(level + 1, lead + (pax ? Application(ds) : ds.FieldByName("Entry Number").AsString()),
           lines);
    }
  }

  TIsamTable trn_pay_{nullptr, "TrnPay"};
  TDataSource pay_source_{nullptr, "DataSourceTrnPay"};
  TIsamTable pax_chg_{nullptr, "PaxChg"};
  TDataSource pax_chg_source_{nullptr, "DataSourcePaxChg"};
  TIsamTable trn_chg_{nullptr, "TrnChg"};
  TDataSource chg_source_{nullptr, "DataSourceTrnChg"};
  TIsamTable pax_pay_{nullptr, "PaxPay"};
  TDataSource pax_pay_source_{nullptr, "DataSourcePaxPay"};
  TIsamTable trn_pay2_{nullptr, "TrnPay2"};
};

const std::vector<std::string> kPaymentChain = {
    "4 | 4/2 | 2 | 3/2 | 3",        "4 | 4/2 | 2 | 4/2 | 4",        "3 | 3/1 | 1 | 3/1 | 3",
    "3 | 3/2 | 2 | 3/2 | 3",        "3 | 3/2 | 2 | 4/2 | 4",        "9 | 9/5 | 5 | 9/5 | 9",
    "16 | 16/13 | 13 | 14/13 | 14", "16 | 16/13 | 13 | 16/13 | 16", "16 | 16/999 | - | - | -",
    "14 | 14/13 | 13 | 14/13 | 14", "14 | 14/13 | 13 | 16/13 | 16",
};

TEST_F(PaymentChainTest, ShowsEachPaymentsChargesAndEveryPaymentOfThoseCharges) {
  OpenAll();
  // Chart and "Date From" order; "Date Created" decides, lower-case types pass no filter.
  EXPECT_EQ(Shown(trn_pay_), Ids({4, 3, 9, 16, 14}));
  std::vector<std::string> lines;
  Walk(0, "", lines);
  EXPECT_EQ(lines, kPaymentChain);
}

TEST_F(PaymentChainTest, DetailsOpenedBeforeTheirMastersTakeUpTheChainWhenTheMastersOpen) {
  for (TIsamTable* t : {&trn_pay2_, &pax_pay_, &trn_chg_, &pax_chg_}) t->Open();
  EXPECT_EQ(pax_chg_.RecordCount(), 8);
  trn_pay_.Open();
  EXPECT_EQ(trn_pay_.FieldByName("Entry Number").AsInteger(), 4);
  EXPECT_EQ(Shown(pax_chg_, "Charge Reference"), Ids({2}));
  EXPECT_EQ(trn_chg_.FieldByName("Entry Number").AsInteger(), 2);
  EXPECT_EQ(Shown(pax_pay_, "Payment Reference"), Ids({3, 4}));
  EXPECT_EQ(trn_pay2_.FieldByName("Entry Number").AsInteger(), 3);
  std::vector<std::string> lines;
  Walk(0, "", lines);
  EXPECT_EQ(lines, kPaymentChain);
}

TEST_F(PaymentChainTest, ApplicationNamingNoTransactionLeavesTheChargeDatasetEmptyWithNullFields) {
  OpenAll();
  MoveTo(trn_pay_, "Entry Number", 16);
  MoveTo(pax_chg_, "Charge Reference", 999);
  EXPECT_TRUE(trn_chg_.IsEmpty());
  EXPECT_TRUE(trn_chg_.Eof());
  EXPECT_TRUE(trn_chg_.Bof());
  EXPECT_TRUE(trn_chg_.FieldByName("Entry Number").IsNull());
  EXPECT_EQ(trn_chg_.FieldByName("Entry Number").AsInteger(), 0);
  EXPECT_TRUE(trn_chg_.FieldByName("Chart Number").IsNull());
  EXPECT_EQ(trn_chg_.FieldByName("Chart Number").AsString(), "");
  EXPECT_EQ(trn_chg_.FieldByName("Amount").AsFloat(), 0);
  EXPECT_TRUE(pax_pay_.IsEmpty());
  EXPECT_TRUE(trn_pay2_.IsEmpty());

  // Back on the application before it, the whole chain shows records again.
  pax_chg_.First();
  EXPECT_EQ(pax_chg_.FieldByName("Charge Reference").AsInteger(), 13);
  EXPECT_EQ(trn_chg_.FieldByName("Entry Number").AsInteger(), 13);
  EXPECT_EQ(Shown(pax_pay_, "Payment Reference"), Ids({14, 16}));
  EXPECT_EQ(trn_pay2_.FieldByName("Entry Number").AsInteger(), 14);
}

// What a dataset shows where it stands: its ends, its record number and its key fields.
std::string Standing(TIsamTable& ds) {
  std::string text = std::to_string(ds.Bof()) + std::to_string(ds.Eof()) +
                     std::to_string(ds.IsEmpty()) + " #" + std::to_string(ds.RecNo());
  for (const char* field : {"Entry Number", "Payment Reference", "Charge Reference", "Amount"}) {
    if (TField* f = ds.FindField(field)) text += " " + f->AsString();
  }
  return text;
}

TEST_F(PaymentChainTest, DetailsThatPutOffTheirMovesShowWhatDetailsMovedAtOnceShow) {
  // The same chain a second time, each detail with a scroll event: nothing may put off a move
  // that someone watches, so these details move as soon as their masters do.
  std::array<TIsamTable, 5> watched{
      TIsamTable{nullptr, "WatchedTrnPay"}, TIsamTable{nullptr, "WatchedPaxChg"},
      TIsamTable{nullptr, "WatchedTrnChg"}, TIsamTable{nullptr, "WatchedPaxPay"},
      TIsamTable{nullptr, "WatchedTrnPay2"}};
  std::array<TDataSource, 4> watched_sources;
  Link({&watched[0], &watched[1], &watched[2], &watched[3], &watched[4]},
       {&watched_sources[0], &watched_sources[1], &watched_sources[2], &watched_sources[3]});
  int scrolls = 0;
  for (TIsamTable& t : watched) t.AfterScroll = [&](TDataSet&) { ++scrolls; };
  std::array<TIsamTable*, 5> lazy = {&trn_pay_, &pax_chg_, &trn_chg_, &pax_pay_, &trn_pay2_};
  OpenAll();
  for (TIsamTable& t : watched) t.Open();

  // Moves and reads at random levels; after each, the dataset moved or read must show the same
  // in both chains, whatever was moved above it and not read since.
  std::mt19937 random(20261207);
  for (int step = 0; step < 3000; ++step) {
    size_t level = random() % 5;
    int action = static_cast<int>(random() % 6);
    for (TIsamTable* ds : {lazy[level], &watched[level]}) {
      switch (action) {
        case 0:
          ds->First();
          break;
        case 1:
        case 2:
          ds->Next();
          break;
        case 3:
          ds->Prior();
          break;
        case 4:
          ds->Refresh();
          break;
        default:
          break;  // a read only
      }
    }
    ASSERT_EQ(Standing(*lazy[level]), Standing(watched[level]))
        << "step " << step << ", level " << level << ", action " << action;
    if (action == 5 && level < 4) {
      ASSERT_EQ(lazy[level + 1]->RecordCount(), watched[level + 1].RecordCount()) << step;
    }
  }
  EXPECT_GT(scrolls, 3000);

  // A detail nobody reads costs the engine nothing while its master moves.
  MoveTo(trn_pay_, "Entry Number", 3);  // applied to charges 1 and 2
  uint64_t before = 0, after = 0;
  ASSERT_EQ(IsamGetCallCount(&before), ISAM_SUCCESS);
  for (pax_chg_.First(); !pax_chg_.Eof(); pax_chg_.Next()) {
  }
  ASSERT_EQ(IsamGetCallCount(&after), ISAM_SUCCESS);
  uint64_t walk_alone = after - before;
  for (pax_chg_.First(); !pax_chg_.Eof(); pax_chg_.Next())
    (void)trn_chg_.FieldByName("Amount").IsNull();
  ASSERT_EQ(IsamGetCallCount(&before), ISAM_SUCCESS);
  EXPECT_GT(before - after, walk_alone);  // reading the charge moves it, and only then
}

// ---- changes and locks ----

// A child process working on the practice, told what to do step by step through pipes.
class Child {
 public:
  explicit Child(const std::function<int(Child&)>& body) {
    if (pipe(to_child_) != 0 || pipe(to_parent_) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(to_child_[1]);
      close(to_parent_[0]);
      int code = 99;
      try {
        code = body(*this);
      } catch (...) {
        code = 98;
      }
      _exit(code);
    }
    close(to_child_[0]);
    close(to_parent_[1]);
  }
  ~Child() {
    if (pid_ > 0) Wait();
  }

  // The child tells and awaits; the parent hears and says go.
  void Tell(char c) { Send(to_parent_[1], c); }
  char Await() { return Receive(to_child_[0]); }
  char Heard() { return Receive(to_parent_[0]); }
  void Go(char c) { Send(to_child_[1], c); }
  int Wait() {
    close(to_child_[1]);
    close(to_parent_[0]);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  static void Send(int fd, char c) { (void)!write(fd, &c, 1); }
  static char Receive(int fd) {
    char c = 0;
    return read(fd, &c, 1) == 1 ? c : '\0';
  }

  int to_child_[2] = {-1, -1};
  int to_parent_[2] = {-1, -1};
  pid_t pid_ = 0;
};

TEST_F(PracticeTest, EditOfARecordLockedInAnotherProcessFailsAndTheLaterEditLosesNothing) {
  std::string folder = folder_.path();
  Child child([folder](Child& self) {
    TIsamConnection connection(nullptr, "ChildConnection");
    connection.SetConnectPath(folder);
    connection.SetIsConnected(true);
    TIsamTable table(nullptr, "ChildTrn");
    table.SetDatabaseName("ChildConnection");
    table.SetTableName("MWTRN.ADT");
    table.SetIndexName("PRIMARY");
    table.Open();
    if (!table.FindKey({"3"})) return 1;
    table.Edit();
    table.FieldByName("Description").SetAsString("changed by the child");
    self.Tell('L');
    if (self.Await() != 'P') return 2;
    table.Post();
    self.Tell('D');
    self.Await();  // until the parent is done
    table.Close();
    return 0;
  });
  ASSERT_EQ(child.Heard(), 'L');

  TIsamTable table(nullptr, "MWtrn");
  Bind(table, "MWTRN.ADT", "PRIMARY");
  table.Open();
  ASSERT_TRUE(table.FindKey({"3"}));
  try {
    table.Edit();
    FAIL() << "edited a record locked by the child";
  } catch (const EIsamDatabaseError& e) {
    EXPECT_EQ(e.error_code(), uint32_t{ISAM_ERR_RECORD_LOCKED}) << e.message();
    EXPECT_EQ(e.message().rfind("MWtrn: ", 0), 0u) << e.message();
  }
  EXPECT_EQ(table.State(), TDataSetState::dsBrowse);

  child.Go('P');
  ASSERT_EQ(child.Heard(), 'D');
  table.Edit();
  EXPECT_EQ(table.State(), TDataSetState::dsEdit);
  EXPECT_EQ(table.FieldByName("Description").AsString(), "changed by the child");
  table.FieldByName("Procedure Code").SetAsString("PARENT");
  table.Post();
  child.Go('E');
  EXPECT_EQ(child.Wait(), 0);

  TIsamQuery check(nullptr, "Check");
  Bind(check, {"Select \"Description\", \"Procedure Code\" From \"MWTRN.ADT\"",
               "Where \"Entry Number\" = 3"});
  check.Open();
  EXPECT_EQ(check.FieldByName("Description").AsString(), "changed by the child");
  EXPECT_EQ(check.FieldByName("Procedure Code").AsString(), "PARENT");
}

TEST_F(PracticeTest, FailingPostKeepsTheEditAndItsLockUntilCancel) {
  TIsamTable table(nullptr, "MWtrn");
  Bind(table, "MWTRN.ADT", "PRIMARY");
  table.Open();
  ASSERT_TRUE(table.FindKey({"7"}));
  table.Edit();
  table.FieldByName("Transaction Type").SetAsString("E");
  RunSql(folder_.File("MWTRN.ADT"), "DELETE FROM records WHERE \"_recno\" = 7;");

  IsamHandle other = 0;
  ASSERT_EQ(IsamOpenTable(connection_.ConnectionHandle(), "MWTRN.ADT", nullptr,
                          ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI, ISAM_LOCK_PROPRIETARY,
                          ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &other),
            0u);
  uint16_t locked = 0;
  EXPECT_THROW(table.Post(), EIsamDatabaseError);
  EXPECT_EQ(table.State(), TDataSetState::dsEdit);
  EXPECT_EQ(table.FieldByName("Transaction Type").AsString(), "E");
  ASSERT_EQ(IsamIsRecordLocked(other, 7, &locked), 0u);
  EXPECT_EQ(locked, 1);

  table.Cancel();
  EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
  ASSERT_EQ(IsamIsRecordLocked(other, 7, &locked), 0u);
  EXPECT_EQ(locked, 0);
  IsamCloseTable(other);
}

TEST_F(PracticeTest, RefreshOfARecordDeletedElsewhereMovesToTheNextOne) {
  TIsamTable table(nullptr, "MWtrn");
  Bind(table, "MWTRN.ADT", "PRIMARY");
  table.Open();
  ASSERT_TRUE(table.FindKey({"7"}));
  RunSql(folder_.File("MWTRN.ADT"), "DELETE FROM records WHERE \"_recno\" = 7;");
  table.Refresh();
  EXPECT_EQ(table.FieldByName("Entry Number").AsInteger(), 8);
}

}  // namespace
}  // namespace data
