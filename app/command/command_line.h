// The command line of rivenoak: `run`, `demo`, `backup`, `restore`, `diff`, `--version`,
// `--help`, and the desktop program.
#ifndef RIVENOAK_APP_COMMAND_COMMAND_LINE_H_
#define RIVENOAK_APP_COMMAND_COMMAND_LINE_H_

#include <functional>
#include <ostream>
#include <string>

namespace app {

// Exit status: 0 when the run ended with "Finished.", 1 when an error ended it, 2 for a command
// line that cannot be used, nothing opened: among them a report or backup destination that
// output_places.h refuses.
// Without a subcommand, `desktop` starts the desktop program with the --root given.
// `stored_root` answers where the root data folder is when `run --all` names none (as the desktop
// program finds it); without it, RIVENOAK_ROOT.
int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err,
                   const std::function<int(const std::string& root)>& desktop = nullptr,
                   const std::function<std::string()>& stored_root = nullptr);

}  // namespace app

#endif  // RIVENOAK_APP_COMMAND_COMMAND_LINE_H_
