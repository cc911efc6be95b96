// The main window's data components for one practice: the connection to its data path, the
// engine settings, and every dataset of the run with its table, index, master link and record
// filter, each with its data source. Owned by whoever runs the conversion (the main window or
// the command line's run of one practice), one per program.
#ifndef RIVENOAK_CONVERSION_PRACTICE_DATASETS_H_
#define RIVENOAK_CONVERSION_PRACTICE_DATASETS_H_

#include <string>
#include <vector>

#include "data/isam_connection.h"
#include "data/isam_dataset.h"
#include "data/isam_query.h"
#include "data/isam_settings.h"

namespace conversion {

class PracticeDatasets {
 public:
  explicit PracticeDatasets(data::TComponent* owner = nullptr);
  PracticeDatasets(const PracticeDatasets&) = delete;
  PracticeDatasets& operator=(const PracticeDatasets&) = delete;

  // Opens every table dataset, in the order the window declares them.
  void OpenTables();
  // The table datasets in that order.
  std::vector<data::TIsamTable*> Tables();

  // The run's date range, which the record filter of TrnPay compares with.
  data::TDateTime BeginDate = 0;
  data::TDateTime EndDate = 0;

  void MWtrnChgFilterRecord(data::TDataSet& dataset, bool& accept);
  void MWtrnPayAdjFilterRecord(data::TDataSet& dataset, bool& accept);
  void TrnPayFilterRecord(data::TDataSet& dataset, bool& accept);

  // The settings come first: they fix the date format before any table opens.
  data::TIsamSettings IsamSettings1;
  data::TIsamConnection IsamConnection2;
  data::TIsamTable MWproType, MWtrnType;
  data::TIsamQuery TrnDocQuery;
  data::TIsamTable MWtrnChg, MWtrnPayAdj, MWpaxPayAdj, MWpax, TrnPay, PaxChg, TrnChg, PaxPay,
      TrnPay2;
  data::TDataSource DataSourceMWproType, DataSourceMWtrnType, DataSourceTrnDocQuery,
      DataSourceMWtrnChg, DataSourceMWtrnPayAdj, DataSourceMWpaxPayAdj, DataSourceMWpax,
      DataSourceTrnPay, DataSourcePaxChg, DataSourceTrnChg, DataSourcePaxPay, DataSourceTrnPay2;
};

// Gives the engine settings the values the main window stores, in their order.
void ApplyMainWindowValues(data::TIsamSettings& settings);

// The SQL lines of the two statements the run relies on.
extern const std::vector<std::string> kTrnDocQuerySql;
extern const std::vector<std::string> kWhoPaidQuerySql;

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_PRACTICE_DATASETS_H_
