#include "data/isam_dataset.h"

#include "data/isam_settings.h"
#include "isam/testing/test_support.h"

namespace data {
namespace {

using isam::testing::CreateTable;
using isam::testing::TempFolder;

TEST(IsamTableSmoke, OpensWalksAnIndexAndReadsFields) {
  TempFolder folder;
  CreateTable(
      folder.File("Mwpax.adt"),
      {"Payment Reference INTEGER", "Charge Reference INTEGER", "Payment Amount DOUBLE",
       "Who Paid CHAR(1)"},
      {"PRIMARY=Payment Reference;Charge Reference", "IDXCHARGEREFERENCE=Charge Reference"});
  isam::testing::RunSql(folder.File("Mwpax.adt"),
                        "INSERT INTO records VALUES (1, 10, 5, 12.5, 'I'), (2, 9, 5, 1.25, NULL),"
                        " (3, 10, 4, 3, 'G');");
  TIsamConnection connection(nullptr, "IsamConnection2");
  connection.SetConnectPath(folder.path() + "\\");
  connection.SetIsConnected(true);
  TIsamTable table(nullptr, "MWpax");
  table.SetDatabaseName("IsamConnection2");
  table.SetTableName("MWPAX.ADT");
  table.SetIndexName("PRIMARY");
  table.Open();
  std::vector<int> seen;
  for (table.First(); !table.Eof(); table.Next()) {
    seen.push_back(table.FieldByName("Charge Reference").AsInteger());
  }
  EXPECT_EQ(seen, (std::vector<int>{5, 4, 5}));
  EXPECT_EQ(table.RecordCount(), 3);
  table.First();
  EXPECT_EQ(table.FieldByName("Payment Amount").AsCurrency(), Money::FromCount(12500));
  EXPECT_TRUE(table.FieldByName("Who Paid").IsNull());
  table.Next();
  EXPECT_EQ(table.FieldByName("Who Paid").AsString(), "G");
  EXPECT_THROW(table.FieldByName("Nope"), EDatabaseError);
}

}  // namespace
}  // namespace data
