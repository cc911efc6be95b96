// Where the Medisoft root data folder comes from: --root, else RIVENOAK_ROOT, else the stored
// setting "Root Data Path" of the organisation "Medisoft" (the registry on Windows).
//
// The --root given is the one process-wide state here: the program is told it once at start,
// while the windows that need it (the chooser, which the main window makes and shows) and the
// command line's `run --all` ask for it later, with no object of the start-up between them. It is
// read and written only under its own lock, so any thread may ask.
#ifndef RIVENOAK_APP_WINDOW_ROOT_DATA_PATH_H_
#define RIVENOAK_APP_WINDOW_ROOT_DATA_PATH_H_

#include <string>

namespace app {

// Set once at start from --root (and by tests, to a root of their own); empty means not given.
void SetRootOverride(const std::string& root);
// The root data folder, normalised by FormatDataPath; empty when none is set anywhere.
std::string GetRootDataPath();

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_ROOT_DATA_PATH_H_
