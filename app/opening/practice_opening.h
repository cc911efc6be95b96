// Opening a chosen practice, as both the main window and the command line do before a run (its
// folder's path already in the form FormatDataPath gives, practice_list.h): a restore into it
// that was killed finished or undone, the connection made, and the run's default date range taken
// from the date the practice was converted; and the checks of the practice's data that a run makes
// before its first change.
#ifndef RIVENOAK_APP_OPENING_PRACTICE_OPENING_H_
#define RIVENOAK_APP_OPENING_PRACTICE_OPENING_H_

#include <optional>
#include <string>

#include "conversion/practice_datasets.h"
#include "conversion/run_view.h"

namespace app {

// Day 26904 (28 August 1973) stands for a missing conversion date.
inline constexpr int kNoConversionDay = 26904;

// The last-write time of the file in local time at the two-second resolution of a packed file
// time; day 26904 and the plain box "Convert.log could not be found." when it is missing.
data::TDateTime GetConvDate(const std::string& file, conversion::RunView& view);

// Finishes or undoes a restore into `data_path` that was killed, before anything reads it, then
// connects the practice's datasets to the folder.
void ConnectPractice(conversion::PracticeDatasets& practice, const std::string& data_path,
                     conversion::RunView& view);

// Starts and ends the practice's date range at the day its Convert.log was written, and returns
// that day; without Convert.log, says so in a plain box and returns none (the range then holds
// day 26904).
std::optional<data::TDateTime> StartRangeAtConversion(conversion::PracticeDatasets& practice,
                                                      const std::string& data_path,
                                                      conversion::RunView& view);

// Keys that would join payments to the wrong charges, and amounts that are no money value, stop
// a run before its first change: throws PracticeDataError naming them.
void CheckPracticeData(const std::string& data_path);

}  // namespace app

#endif  // RIVENOAK_APP_OPENING_PRACTICE_OPENING_H_
