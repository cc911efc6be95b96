// Where a command may put what it writes beside the practices: a run's report page and a backup
// folder. Every command asks here before it opens anything, so that a destination that would
// overwrite a table, land inside a practice or fail only after the run has changed the tables is
// refused while nothing has been changed. A destination is refused when
// - it lies inside one of the practice folders given (`..` and links resolved as far as the path
//   exists), or, for a backup, a practice folder lies inside it;
// - it names an existing table file, wherever that is;
// - it cannot be written: for a report, its folder is missing or may not be written, or the name
//   is held by something other than a plain file (a folder, a device such as /dev/full); for a
//   backup, the name is held by a file, or the nearest folder that exists on its way may not be
//   written.
// A report is then written whole: into a new file beside its name, given the name at the end.
#ifndef RIVENOAK_APP_PRACTICE_OUTPUT_PLACES_H_
#define RIVENOAK_APP_PRACTICE_OUTPUT_PLACES_H_

#include <stdexcept>
#include <string>
#include <vector>

namespace app {

// Why a destination is refused; the text names it and says why.
class OutputPlaceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws OutputPlaceError when `file` may not be a report with `practices` about.
void CheckReportPlace(const std::string& file, const std::vector<std::string>& practices);

// Throws OutputPlaceError when `folder` may not be a backup with `practices` about.
void CheckBackupPlace(const std::string& folder, const std::vector<std::string>& practices);

// Writes `text` as the report `file` (checked again with `practices` about): into a new file
// beside it, on the disk before it is given the name, so that the name holds all of a report or
// what it held before. Throws OutputPlaceError naming the file.
void WriteReportWhole(const std::string& file, const std::string& text,
                      const std::vector<std::string>& practices);

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_OUTPUT_PLACES_H_
