// For the program's tests: its command line run in this process, and checks of a practice's
// tables after a run that something broke off (the files are whole, no document or charge is
// half applied).
#ifndef RIVENOAK_APP_TESTING_PRACTICE_CHECKS_H_
#define RIVENOAK_APP_TESTING_PRACTICE_CHECKS_H_

#include <string>
#include <vector>

#include "isam/testing/test_support.h"

namespace app::testing {

struct Outcome {
  int status;
  std::string out;  // standard output less the run's `summary:` lines
  std::string err;
  std::string summary;  // the `summary:` lines
};

// A program run as its own process.
struct ProgramOutcome {
  bool exited = false;
  int status = -1;  // the exit status, or the signal that ended the program
  std::string out;
  std::string err;
};

// Runs `program` with `args` in the folder `cwd`; its output goes to files there. A program that
// does not end within `seconds` is ended by SIGALRM.
ProgramOutcome Execute(const std::string& program, std::vector<std::string> args,
                       const std::string& cwd, unsigned seconds = 20);

// `rivenoak` with these arguments, run in this process. The summary a run prints is kept apart,
// so that what the window would show can be compared whole.
Outcome Rivenoak(std::vector<std::string> args);

// One line per fault found, empty when none: a table failing SQLite's integrity check; a payment
// with application records for some but not all of its document's charges; a charge whose paid
// columns do not add up to its application records.
std::vector<std::string> PracticeFaults(const std::string& practice);

// The first column of each row a query gives, as text, read with a plain SQLite handle (which
// also rolls back whatever a broken commit left, as any program opening the file would);
// `attach` (a file, or nothing) is attached as "pax". A failure is a row that says so.
std::vector<std::string> QueryColumn(const std::string& file, const std::string& sql,
                                     const std::string& attach = "");

// The changes `rivenoak diff` reports between two copies of a practice, one line each.
std::vector<std::string> Differences(const std::string& before, const std::string& after);

// The practice in `source` written again into the new folder `target` by another program: each
// table file with plain SQLite statements in the journal mode given, Convert.log with its time.
void RewritePractice(const std::string& source, const std::string& target,
                     isam::testing::JournalMode mode);

// The root's practice list (MWDBList.ADT) as another program writes it: the rows `rows` gives,
// an SQL list of ("Dataset Name", "Data Path") values such as "('One', 'Practice1'), ...", added
// with plain SQLite; with `only`, the list holds them alone.
void ListPractices(const std::string& root, const std::string& rows, bool only);

}  // namespace app::testing

#endif  // RIVENOAK_APP_TESTING_PRACTICE_CHECKS_H_
