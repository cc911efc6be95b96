#include "app/window/main_form_logic.h"

#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iterator>

#include "app/practice/practice_copy.h"
#include "app/practice/practice_keys.h"
#include "conversion/adjust_payments.h"
#include "conversion/apply_payments.h"
#include "conversion/verify_tran_types.h"
#include "data/date_time.h"

namespace app {

std::string FormatDataPath(const std::string& path) {
  if (path.empty()) return path;
#ifdef _WIN32
  std::string out = path;
  if (out.back() != '\\') out += '\\';
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
#else
  // Letter case names different folders here, so it is kept.
  if (path.back() == '/' || path.back() == '\\') return path;
  return path + "/";
#endif
}

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

void GetVersionInfo(const std::string& file, std::string& file_version,
                    std::string& product_version) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Built from parts so that this function's own text is not taken for the data.
  const std::string marker = std::string("RIVENOAK-VERSION") + "-INFO[";
  size_t start = bytes.find(marker);
  if (start == std::string::npos) return;
  start += marker.size();
  size_t end = bytes.find(']', start);
  if (end == std::string::npos) return;
  std::string info = bytes.substr(start, end - start);
  auto value = [&](const std::string& name) -> std::string {
    size_t at = info.find(name + "=");
    if (at == std::string::npos) return "";
    at += name.size() + 1;
    return info.substr(at, info.find(';', at) - at);
  };
  std::string f = value("FileVersion"), p = value("ProductVersion");
  if (!f.empty()) file_version = f;
  if (!p.empty()) product_version = p;
}

void PreparePractice(conversion::PracticeDatasets& practice, conversion::RunView& view,
                     MainControls& controls, const std::string& practice_name,
                     const std::string& data_path) {
  // A restore into the folder that was killed is finished or undone before anything reads it.
  FinishInterruptedRestore(data_path,
                           [&view](const std::string& text) { view.ShowInformation(text); });
  data::TIsamConnection& connection = practice.IsamConnection2;
  connection.SetIsConnected(false);
  connection.SetConnectPath(data_path);
  connection.SetIsConnected(true);
  controls.SetConnectionText(connection.ConnectionKindText());
  controls.SetPracticeNameText(practice_name);
  controls.SetDataPathText(data_path);
  data::TDateTime conversion = GetConvDate(data_path + "Convert.log", view);
  practice.BeginDate = std::trunc(conversion);
  practice.EndDate = practice.BeginDate;
  if (practice.BeginDate != kNoConversionDay) {
    std::string text = data::DateToStr(practice.BeginDate);
    controls.SetConversionDateText(text);
    controls.SetDateFromText(text);
    controls.SetDateToText(data::DateToStr(practice.EndDate));
  } else {
    controls.SetSpecifyDateRange(true, false);
    controls.SetDateFieldsEnabled(true);
    controls.SetConversionDateText("N/A");
    view.ProcessMessages();
  }
  practice.OpenTables();
}

Phases MakePhases(conversion::PracticeDatasets& practice, conversion::RunView& view,
                  MainControls& controls, conversion::WhoPaidDialog& who_paid) {
  Phases phases;
  phases.VerifyTranTypes = [&] { conversion::VerifyTranTypes(practice, view); };
  phases.GetNoWhoPaid = [&](const std::string& path) { return who_paid.GetNoWhoPaid(path, view); };
  phases.ApplyPayAdj = [&](bool over_apply, data::TDateTime from, data::TDateTime to) {
    conversion::ApplyPayAdj(practice, view, over_apply, from, to);
  };
  phases.AdjustPayments = [&] {
    conversion::AdjustPayments(practice, view, [&] { return controls.StrictTypeRules(); });
  };
  return phases;
}

namespace {

void BeginPhase(conversion::RunView& view, const char* status) {
  view.SetStatus(status);
  view.ProcessMessages();
}

}  // namespace

void Button2Click(conversion::PracticeDatasets& practice, conversion::RunView& view,
                  MainControls& controls, const Phases& phases, const std::string& data_path) {
  view.SetStopFlag(false);
  view.Counts() = conversion::RunCounts();  // each Start counts afresh
  controls.SetExitCaption("Cancel");
  controls.SetStartEnabled(false);
  controls.SetDateFieldsEnabled(false);
  view.ProcessMessages();
  if (controls.DateFromText() == kEmptyDateText || controls.DateToText() == kEmptyDateText) {
    view.ShowPlain("Both Dates Must Be Specified.");
  } else {
    practice.BeginDate = data::StrToDate(controls.DateFromText());
    practice.EndDate = data::StrToDate(controls.DateToText());
    // Keys that would join payments to the wrong charges, and amounts that are no money value,
    // stop the run before its first change.
    CheckJoinKeys(data_path);
    CheckAmounts(data_path);
    if (controls.MatchTransactionTypes()) {
      BeginPhase(view, "Verifying Transaction Types");
      if (phases.VerifyTranTypes) phases.VerifyTranTypes();
    }
    if (!view.StopFlag()) {
      BeginPhase(view, "Verifying Who Paid");
      bool none_missing = phases.GetNoWhoPaid ? phases.GetNoWhoPaid(data_path) : true;
      view.SetStopFlag(!none_missing);
      if (none_missing && controls.ApplyPayments()) {
        BeginPhase(view, "Applying Payments");
        // The dates are read again: they are what the fields say when this phase starts.
        data::TDateTime from = data::StrToDate(controls.DateFromText());
        data::TDateTime to = data::StrToDate(controls.DateToText());
        if (phases.ApplyPayAdj) phases.ApplyPayAdj(controls.OverApply(), from, to);
      }
      if (!none_missing) {
        view.ShowInformation(
            "This Program cannot continue while there are payments or adjustments that have no "
            "who paid indicator.");
      }
      if (controls.AdjustPaymentAmounts() && !view.StopFlag()) {
        BeginPhase(view, "Adjusting Payment Amounts");
        if (phases.AdjustPayments) phases.AdjustPayments();
      }
    }
  }
  controls.SetStartEnabled(true);
  controls.SetExitCaption("Exit");
  controls.SetDateFieldsEnabled(true);
  view.ShowInformation("Finished.");
}

}  // namespace app
