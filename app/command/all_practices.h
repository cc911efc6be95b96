// `rivenoak run --all`: every practice of the root's practice list run as its own process (the
// same program with `run DATA_PATH`), at most a given number at once. Each line a run prints is
// passed on prefixed with the practice's dataset name and ": "; the end is one
// `practice: NAME: finished|stopped|error` line per practice in the list's order. A printed name
// has its control characters escaped; a practice's own files are named by PracticeFileNames
// (practice_list.h).
// Each run is in a process group of its own and ends when this program ends; SIGHUP, SIGINT or
// SIGTERM to this program is passed on to the runs, waited for, and starts no other practice: those
// not started are "stopped".
#ifndef RIVENOAK_APP_COMMAND_ALL_PRACTICES_H_
#define RIVENOAK_APP_COMMAND_ALL_PRACTICES_H_

#include <ostream>
#include <string>
#include <vector>

#include "app/practice/practice_list.h"  // the practices, read from the root's list

namespace app {

struct AllPracticesOptions {
  std::string program;                // the program to run for each practice
  std::vector<std::string> run_args;  // passed after `run DATA_PATH` to every practice
  int jobs = 1;                       // at most this many at once
  std::string who_paid_dir;           // DIR/<file name>.txt given as --who-paid where present
  std::string who_paid_file;          // else this file for every practice, when given
  std::string report;                 // FILE.html: each practice's as FILE-<file name>.html
  std::string backup;                 // DIR: each practice's backup in DIR/<file name>
};

// `report-<name>.html` for `report.html`: the name before the extension.
std::string PerPracticeFile(const std::string& file, const std::string& name);

// Runs the practices; 0 only when every one finished, else 1.
int RunAllPractices(const std::vector<PracticeEntry>& practices, const AllPracticesOptions& options,
                    std::ostream& out, std::ostream& err);

}  // namespace app

#endif  // RIVENOAK_APP_COMMAND_ALL_PRACTICES_H_
