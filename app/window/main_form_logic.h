// What the main window does, apart from how it looks: preparing a chosen practice (connecting,
// filling the labels and the date range, opening the tables) and the conversion run that Start
// begins. The desktop window and the headless runner both call these.
#ifndef RIVENOAK_APP_WINDOW_MAIN_FORM_LOGIC_H_
#define RIVENOAK_APP_WINDOW_MAIN_FORM_LOGIC_H_

#include <functional>
#include <string>

#include "app/window/main_controls.h"
#include "conversion/practice_datasets.h"
#include "conversion/run_view.h"
#include "conversion/who_paid.h"

namespace app {

// Day 26904 (28 August 1973) stands for a missing conversion date.
inline constexpr int kNoConversionDay = 26904;

// The folder normalised: a separator at its end (on Windows, also upper case).
std::string FormatDataPath(const std::string& path);

// The last-write time of the file in local time at the two-second resolution of a packed file
// time; day 26904 and the plain box "Convert.log could not be found." when it is missing.
data::TDateTime GetConvDate(const std::string& file, conversion::RunView& view);

// The file version and product version that the build embedded in the file; empty without.
void GetVersionInfo(const std::string& file, std::string& file_version,
                    std::string& product_version);

// Steps after the chooser closed with a practice: connect, fill the labels, set the conversion
// date and the default range, open every table.
void PreparePractice(conversion::PracticeDatasets& practice, conversion::RunView& view,
                     MainControls& controls, const std::string& practice_name,
                     const std::string& data_path);

// The phases a run calls, in their order; a phase that is not there is skipped.
struct Phases {
  std::function<void()> VerifyTranTypes;
  // Answers whether no payment or adjustment lacks a payer.
  std::function<bool(const std::string& data_path)> GetNoWhoPaid;
  std::function<void(bool over_apply, data::TDateTime from, data::TDateTime to)> ApplyPayAdj;
  std::function<void()> AdjustPayments;
};

// The four phases over the practice, reporting to the view; the who-paid check uses `who_paid`.
Phases MakePhases(conversion::PracticeDatasets& practice, conversion::RunView& view,
                  MainControls& controls, conversion::WhoPaidDialog& who_paid);

// Start: checks the dates, runs the phases in order, ends with "Finished.". An exception from a
// phase or a bad date ends it at once and propagates.
void Button2Click(conversion::PracticeDatasets& practice, conversion::RunView& view,
                  MainControls& controls, const Phases& phases, const std::string& data_path);

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_MAIN_FORM_LOGIC_H_
