// Where the Medisoft root data folder comes from: --root, else RIVENOAK_ROOT, else the stored
// setting "Root Data Path" of the organisation "Medisoft" (the registry on Windows).
#ifndef RIVENOAK_APP_WINDOW_ROOT_DATA_PATH_H_
#define RIVENOAK_APP_WINDOW_ROOT_DATA_PATH_H_

#include <string>

namespace app {

// Set once at start from --root; empty means not given.
void SetRootOverride(const std::string& root);
// The root data folder, normalised by FormatDataPath; empty when none is set anywhere.
std::string GetRootDataPath();

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_ROOT_DATA_PATH_H_
