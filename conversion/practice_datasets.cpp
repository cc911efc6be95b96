#include "conversion/practice_datasets.h"

#include "conversion/codes.h"

namespace conversion {

using data::TDataSet;
using data::TDataSource;
using data::TIsamTable;

const std::vector<std::string> kTrnDocQuerySql = {"Select Distinct",
                                                  " \"Chart Number\",",
                                                  " \"Document Number\"",
                                                  "From \"MWTRN.ADT\"",
                                                  "Where ",
                                                  " (\"Date Created\" >= :\"bConvDate\") and",
                                                  " (\"Date Created\" <= :\"eConvDate\")"};

const std::vector<std::string> kWhoPaidQuerySql = {"Select ",
                                                   " \"Entry Number\",",
                                                   " \"Transaction Type\",",
                                                   " \"Procedure Code\",",
                                                   " \"Who Paid\"",
                                                   "From \"MWTRN.ADT\"",
                                                   "Where",
                                                   " (\"Transaction Type\" >= 'I') and",
                                                   " (\"Transaction Type\" <= 'O') and",
                                                   " (\"Who Paid\" IS NULL)",
                                                   "Order By \"Procedure Code\""};

namespace {

constexpr const char* kConnection = "IsamConnection2";

void SetUpTable(TIsamTable& table, const char* file, const char* index, TDataSource& own_source,
                TDataSource* master = nullptr, const char* master_fields = "") {
  table.SetDatabaseName(kConnection);
  table.SetTableName(file);
  table.SetIndexName(index);
  own_source.SetDataSet(&table);
  if (master) {
    table.SetMasterSource(master);
    table.SetMasterFields(master_fields);
  }
}

}  // namespace

void ApplyMainWindowValues(data::TIsamSettings& settings) {
  settings.SetDateFormat("MM/DD/CCYY");
  settings.SetNumDecimals(2);
  settings.SetSetProcessDateFormat(true);
  settings.SetShowDeleted(true);
  settings.SetIsamServerTypes(data::stISAM_REMOTE | data::stISAM_LOCAL);
  settings.SetNumCachedTables(0);
  settings.SetNumCachedCursors(25);
}

PracticeDatasets::PracticeDatasets(data::TComponent* owner)
    : IsamSettings1(owner, "IsamSettings1"),
      IsamConnection2(owner, kConnection),
      MWproType(owner, "MWproType"),
      MWtrnType(owner, "MWtrnType"),
      TrnDocQuery(owner, "TrnDocQuery"),
      MWtrnChg(owner, "MWtrnChg"),
      MWtrnPayAdj(owner, "MWtrnPayAdj"),
      MWpaxPayAdj(owner, "MWpaxPayAdj"),
      MWpax(owner, "MWpax"),
      TrnPay(owner, "TrnPay"),
      PaxChg(owner, "PaxChg"),
      TrnChg(owner, "TrnChg"),
      PaxPay(owner, "PaxPay"),
      TrnPay2(owner, "TrnPay2"),
      DataSourceMWproType(owner, "DataSourceMWproType"),
      DataSourceMWtrnType(owner, "DataSourceMWtrnType"),
      DataSourceTrnDocQuery(owner, "DataSourceTrnDocQuery"),
      DataSourceMWtrnChg(owner, "DataSourceMWtrnChg"),
      DataSourceMWtrnPayAdj(owner, "DataSourceMWtrnPayAdj"),
      DataSourceMWpaxPayAdj(owner, "DataSourceMWpaxPayAdj"),
      DataSourceMWpax(owner, "DataSourceMWpax"),
      DataSourceTrnPay(owner, "DataSourceTrnPay"),
      DataSourcePaxChg(owner, "DataSourcePaxChg"),
      DataSourceTrnChg(owner, "DataSourceTrnChg"),
      DataSourcePaxPay(owner, "DataSourcePaxPay"),
      DataSourceTrnPay2(owner, "DataSourceTrnPay2") {
  ApplyMainWindowValues(IsamSettings1);
  IsamConnection2.IsamServerTypes = 0;

  SetUpTable(MWproType, "Mwpro.adt", "PRIMARY", DataSourceMWproType);
  SetUpTable(MWtrnType, "MWTRN.adt", "PRIMARY", DataSourceMWtrnType);

  TrnDocQuery.SetDatabaseName(kConnection);
  TrnDocQuery.SetSQL(kTrnDocQuerySql);
  TrnDocQuery.ParamByName("bConvDate").SetDataType(data::TFieldType::ftDate);
  TrnDocQuery.ParamByName("eConvDate").SetDataType(data::TFieldType::ftDate);
  DataSourceTrnDocQuery.SetDataSet(&TrnDocQuery);

  SetUpTable(MWtrnChg, "Mwtrn.adt", "IDXDOCUMENT", DataSourceMWtrnChg, &DataSourceTrnDocQuery,
             "Chart Number;Document Number");
  MWtrnChg.OnFilterRecord = [this](TDataSet& d, bool& accept) { MWtrnChgFilterRecord(d, accept); };
  MWtrnChg.SetFiltered(true);
  SetUpTable(MWtrnPayAdj, "Mwtrn.adt", "IDXDOCUMENT", DataSourceMWtrnPayAdj, &DataSourceTrnDocQuery,
             "Chart Number;Document Number");
  MWtrnPayAdj.OnFilterRecord = [this](TDataSet& d, bool& accept) {
    MWtrnPayAdjFilterRecord(d, accept);
  };
  MWtrnPayAdj.SetFiltered(true);
  SetUpTable(MWpaxPayAdj, "Mwpax.adt", "PRIMARY", DataSourceMWpaxPayAdj, &DataSourceMWtrnPayAdj,
             "Entry Number");
  SetUpTable(MWpax, "Mwpax.adt", "PRIMARY", DataSourceMWpax);

  // TrnPay sees only the sixteen fields it declares, with their types.
  using namespace data;
  TrnPay.AddField(std::make_unique<TStringField>("Chart Number", 8));
  TrnPay.AddField(std::make_unique<TIntegerField>("Case Number"));
  TrnPay.AddField(std::make_unique<TAutoIncField>("Entry Number"));
  TrnPay.AddField(std::make_unique<TDateField>("Date From"));
  TrnPay.AddField(std::make_unique<TStringField>("Document Number", 10));
  TrnPay.AddField(std::make_unique<TStringField>("Procedure Code", 10));
  TrnPay.AddField(std::make_unique<TStringField>("Transaction Type", 1));
  TrnPay.AddField(std::make_unique<TFloatField>("Amount"));
  TrnPay.AddField(std::make_unique<TStringField>("Who Paid", 1));
  TrnPay.AddField(std::make_unique<TFloatField>("Guarantor Amount Paid"));
  TrnPay.AddField(std::make_unique<TFloatField>("Insurance 1 Amount Paid"));
  TrnPay.AddField(std::make_unique<TFloatField>("Insurance 2 Amount Paid"));
  TrnPay.AddField(std::make_unique<TFloatField>("Insurance 3 Amount Paid"));
  TrnPay.AddField(std::make_unique<TFloatField>("Attorney Amount Paid"));
  TrnPay.AddField(std::make_unique<TFloatField>("Adjustment Amount"));
  TrnPay.AddField(std::make_unique<TDateField>("Date Created"));
  SetUpTable(TrnPay, "Mwtrn.adt", "IDXCHARTDATE", DataSourceTrnPay);
  TrnPay.OnFilterRecord = [this](TDataSet& d, bool& accept) { TrnPayFilterRecord(d, accept); };

  SetUpTable(PaxChg, "Mwpax.adt", "PRIMARY", DataSourcePaxChg, &DataSourceTrnPay, "Entry Number");
  SetUpTable(TrnChg, "Mwtrn.adt", "IDXENTRYNUMBER", DataSourceTrnChg, &DataSourcePaxChg,
             "Charge Reference");
  SetUpTable(PaxPay, "Mwpax.adt", "IDXCHARGEREFERENCE", DataSourcePaxPay, &DataSourceTrnChg,
             "Entry Number");
  SetUpTable(TrnPay2, "Mwtrn.adt", "IDXENTRYNUMBER", DataSourceTrnPay2, &DataSourcePaxPay,
             "Payment Reference");
}

std::vector<TIsamTable*> PracticeDatasets::Tables() {
  return {&MWproType, &MWtrnType, &MWtrnChg, &MWtrnPayAdj, &MWpaxPayAdj, &MWpax,
          &TrnPay,    &PaxChg,    &TrnChg,   &PaxPay,      &TrnPay2};
}

void PracticeDatasets::OpenTables() {
  for (TIsamTable* table : Tables()) table->Open();
}

void PracticeDatasets::MWtrnChgFilterRecord(TDataSet& dataset, bool& accept) {
  accept = IsChargeType(dataset.FieldByName("Transaction Type").AsString());
}

void PracticeDatasets::MWtrnPayAdjFilterRecord(TDataSet& dataset, bool& accept) {
  accept = IsPayAdjType(dataset.FieldByName("Transaction Type").AsString());
}

void PracticeDatasets::TrnPayFilterRecord(TDataSet& dataset, bool& accept) {
  // The type is tested first; the date is read only for a type that passes.
  if (!IsPayAdjType(dataset.FieldByName("Transaction Type").AsString())) {
    accept = false;
    return;
  }
  data::TDateTime created = dataset.FieldByName("Date Created").AsDateTime();
  accept = created >= BeginDate && created <= EndDate;
}

}  // namespace conversion
