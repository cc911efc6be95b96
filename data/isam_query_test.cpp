#include "data/isam_query.h"

#include "isam/testing/sql_texts.h"
#include "isam/testing/test_support.h"

namespace data {
namespace {

using isam::testing::CreateTable;
using isam::testing::RunSql;
using isam::testing::TempFolder;

const std::vector<std::string>& kWhoPaidQuery = isam::testing::kWhoPaidQueryLines;
const std::vector<std::string>& kTrnDocQuery = isam::testing::kTrnDocQueryLines;

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateTable(folder_.File("MWTRN.ADT"),
                {"Entry Number AUTOINC", "Chart Number CHAR(8)", "Document Number CHAR(10)",
                 "Procedure Code CHAR(10)", "Transaction Type CHAR(1)", "Who Paid CHAR(1)",
                 "Date Created DATE"},
                {"PRIMARY=Entry Number", "IDXENTRYNUMBER=Entry Number",
                 "IDXDOCUMENT=Chart Number;Document Number"});
    RunSql(folder_.File("MWTRN.ADT"),
           "INSERT INTO records VALUES"
           " (1, 1, 'A', 'D1', '99213', 'A', NULL, '2026-01-01'),"
           " (2, 2, 'A', 'D1', 'PAY', 'I', NULL, '2026-01-02'),"
           " (3, 3, 'A', 'D2', 'ADJ', 'J', NULL, '2026-01-02'),"
           " (4, 4, 'B', 'D1', 'ADJ', 'K', NULL, '2026-01-03'),"
           " (5, 5, 'B', 'D1', 'PAY', 'O', '1', '2026-01-05');");
    connection_.SetConnectPath(folder_.path());
    connection_.SetIsConnected(true);
  }

  TempFolder folder_;
  TIsamConnection connection_{nullptr, "IsamConnection3"};
};

TEST_F(QueryTest, DocumentQueryListsEachDocumentOnceForADateRange) {
  TIsamQuery query(nullptr, "TrnDocQuery");
  query.SetDatabaseName("IsamConnection3");
  query.SetSQL(kTrnDocQuery);
  ASSERT_EQ(query.Params().size(), 2u);
  query.ParamByName("bConvDate").SetDataType(TFieldType::ftDate);
  query.ParamByName("eConvDate").SetDataType(TFieldType::ftDate);
  query.ParamByName("bConvDate").SetAsDate(EncodeDate(2026, 1, 2) + 0.75);
  query.ParamByName("eConvDate").SetAsDate(EncodeDate(2026, 1, 3));
  query.Open();
  std::vector<std::string> documents;
  for (query.First(); !query.Eof(); query.Next()) {
    documents.push_back(query.FieldByName("Chart Number").AsString() + "/" +
                        query.FieldByName("Document Number").AsString());
  }
  EXPECT_EQ(documents, (std::vector<std::string>{"A/D1", "A/D2", "B/D1"}));
  EXPECT_EQ(query.RecordCount(), 3);
}

TEST_F(QueryTest, LiveWhoPaidQueryDropsRowsGivenAPayerThroughItsDetail) {
  TIsamQuery query(nullptr, "WhoPaidQuery");
  query.SetDatabaseName("IsamConnection3");
  query.SetSQL(kWhoPaidQuery);
  TDataSource source(nullptr, "DataSourceWhoPaidQuery");
  source.SetDataSet(&query);
  TIsamTable detail(nullptr, "MWtrnWhoPaid");
  detail.SetDatabaseName("IsamConnection3");
  detail.SetTableName("MWTRN.adt");
  detail.SetIndexName("IDXENTRYNUMBER");
  detail.SetMasterSource(&source);
  detail.SetMasterFields("Entry Number");
  query.Open();
  detail.Open();
  std::vector<int> order;
  for (query.First(); !query.Eof(); query.Next()) {
    order.push_back(query.FieldByName("Entry Number").AsInteger());
    EXPECT_EQ(detail.FieldByName("Entry Number").AsInteger(), order.back());
  }
  EXPECT_EQ(order, (std::vector<int>{3, 4, 2}));  // ADJ, ADJ, PAY; ties in record order
  query.First();
  detail.Edit();
  detail.FieldByName("Who Paid").SetAsString("G");
  detail.Post();
  query.Refresh();
  EXPECT_EQ(query.FieldByName("Entry Number").AsInteger(), 4);
  EXPECT_EQ(detail.FieldByName("Entry Number").AsInteger(), 4);
  for (int i = 0; i < 2; ++i) {
    detail.Edit();
    detail.FieldByName("Who Paid").SetAsString("1");
    detail.Post();
    query.Refresh();
  }
  EXPECT_TRUE(query.IsEmpty());
  EXPECT_EQ(query.RecordCount(), 0);
}

TEST_F(QueryTest, UpdateTextCannotOpenAndStaysClosed) {
  TIsamQuery query(nullptr, "Q");
  query.SetDatabaseName("IsamConnection3");
  query.SetSQL({"UPDATE \"MWTRN.ADT\" SET \"Who Paid\" = 'A' WHERE \"Entry Number\" = 2"});
  try {
    query.Open();
    FAIL() << "opened";
  } catch (const EIsamDatabaseError& e) {
    EXPECT_EQ(e.message(),
              "Q: The SQL statement did not generate a cursor handle.  Use TIsamQuery.ExecSQL to "
              "execute SQL statements that are not SELECT statements");
  }
  EXPECT_FALSE(query.Active());
  IsamHandle first = query.StatementHandle();
  query.SetSQL({"Select * From MWTRN.ADT"});
  query.Open();
  query.Close();
  query.Open();
  EXPECT_EQ(query.StatementHandle(), first);
}

}  // namespace
}  // namespace data
