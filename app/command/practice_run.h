// `rivenoak run` on one practice: the practice opened as the main window opens it, then the one
// conversion run, printed line by line, its summary after it, and the report page when asked;
// with a backup first, or as a dry run on a temporary copy followed by the change report.
#ifndef RIVENOAK_APP_COMMAND_PRACTICE_RUN_H_
#define RIVENOAK_APP_COMMAND_PRACTICE_RUN_H_

#include <ostream>
#include <string>

#include "app/command/printing_run_view.h"
#include "conversion/run.h"

namespace app {

struct PracticeRunOptions {
  // The range as the command line gives it, MM/DD/YYYY; empty: the practice's conversion date.
  std::string from, to;
  // The run's options; its dates are read from `from` and `to` once the practice is open.
  conversion::RunOptions run;
  PrintedAnswers answers;
  bool progress = false;
  std::string report;      // the run's report page to write; empty for none
  std::string dry_run_of;  // for a dry run, the practice the run's folder is a copy of
};

// The run on the practice in `data_path`: 0 when it ended with "Finished." and showed no error,
// else 1.
int RunPractice(const std::string& data_path, const PracticeRunOptions& options, std::ostream& out,
                std::ostream& err);

// The run with a backup into `backup` first (unless empty) or, for a `dry_run`, on a temporary
// copy followed by the change report from the practice to the copy; the practice is then only
// read.
int RunWithCopies(const std::string& data_path, const std::string& backup, bool dry_run,
                  const PracticeRunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app

#endif  // RIVENOAK_APP_COMMAND_PRACTICE_RUN_H_
