#include "app/opening/practice_opening.h"

#include <sys/stat.h>

#include <cmath>
#include <ctime>

#include "app/practice/practice_copy.h"
#include "app/practice/practice_keys.h"
#include "app/practice/practice_list.h"
#include "data/date_time.h"

namespace app {

data::TDateTime GetConvDate(const std::string& file, conversion::RunView& view) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    view.ShowPlain("Convert.log could not be found.");
    return kNoConversionDay;
  }
  std::tm local{};
  if (!localtime_r(&st.st_mtime, &local)) return 0;
  // A packed file time keeps seconds in steps of two.
  int seconds = local.tm_sec - local.tm_sec % 2;
  try {
    return data::EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           ((local.tm_hour * 60 + local.tm_min) * 60 + seconds) / 86400.0;
  } catch (const data::Exception&) {
    return 0;
  }
}

void ConnectPractice(conversion::PracticeDatasets& practice, const std::string& data_path,
                     conversion::RunView& view) {
  FinishInterruptedRestore(data_path,
                           [&view](const std::string& text) { view.ShowInformation(text); });
  data::TIsamConnection& connection = practice.IsamConnection2;
  connection.SetIsConnected(false);
  connection.SetConnectPath(data_path);
  connection.SetIsConnected(true);
}

std::optional<data::TDateTime> StartRangeAtConversion(conversion::PracticeDatasets& practice,
                                                      const std::string& data_path,
                                                      conversion::RunView& view) {
  data::TDateTime conversion = GetConvDate(data_path + "Convert.log", view);
  practice.BeginDate = std::trunc(conversion);
  practice.EndDate = practice.BeginDate;
  if (practice.BeginDate == kNoConversionDay) return std::nullopt;
  return practice.BeginDate;
}

void CheckPracticeData(const std::string& data_path) {
  CheckJoinKeys(data_path);
  CheckAmounts(data_path);
}

}  // namespace app
