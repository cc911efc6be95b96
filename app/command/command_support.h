// What the commands of the command line share: the refusal of an empty argument, a failure or a
// note said on standard error in the command's name, a copy with its progress bar, the check of
// where a report or backup may go, and a folder's own name.
#ifndef RIVENOAK_APP_COMMAND_COMMAND_SUPPORT_H_
#define RIVENOAK_APP_COMMAND_COMMAND_SUPPORT_H_

#include <exception>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/practice/practice_copy.h"
#include "conversion/run_view.h"

namespace app {

// Refuses an empty text, which the shell passes for '' or an unset variable.
CLI::Validator NotEmpty();

// "rivenoak COMMAND: WHAT" on `err`; the exit status 1.
int CommandFailed(const char* command, const std::exception& e, std::ostream& err);

// What a command did beside its own work, as a line of standard error.
Note NoteTo(const char* command, std::ostream& err);

// Runs a copy with a progress bar on `err` when `progress` is set; the bar's line ends with it.
int CopyWithProgress(bool progress, std::ostream& err,
                     const std::function<int(conversion::Gauge*)>& copy);

// `rivenoak backup` and `rivenoak restore`: the copy, then "<done> N tables to <to>".
int CopyCommand(const char* command, const char* done, const std::string& to, std::ostream& out,
                std::ostream& err, const std::function<int(conversion::Gauge*)>& copy);

// Says on `err` why `command` may not write its report or backup where the command line says,
// with `practices` about; true when it may.
bool DestinationsUsable(const char* command, const std::string& report, const std::string& backup,
                        const std::vector<std::string>& practices, std::ostream& err);

// The last name of the folder's path, separators at its end left out.
std::string FolderName(const std::string& path);

}  // namespace app

#endif  // RIVENOAK_APP_COMMAND_COMMAND_SUPPORT_H_
