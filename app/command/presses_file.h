// The file of who-paid presses that `rivenoak run --who-paid FILE` names: one press a line,
// "this L", "all L" or "close"; blank lines and lines starting with '#' are left out.
#ifndef RIVENOAK_APP_COMMAND_PRESSES_FILE_H_
#define RIVENOAK_APP_COMMAND_PRESSES_FILE_H_

#include <string>
#include <vector>

namespace app {

// The presses of the file, in their order; throws CLI::ValidationError naming the file (and the
// line) when it is no file of presses.
std::vector<std::string> ReadPresses(const std::string& file);

}  // namespace app

#endif  // RIVENOAK_APP_COMMAND_PRESSES_FILE_H_
