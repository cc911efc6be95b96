// The version data a program file carries, read from the file itself: the main window shows the
// file version of the program that runs it.
#ifndef RIVENOAK_APP_WINDOW_FILE_VERSION_H_
#define RIVENOAK_APP_WINDOW_FILE_VERSION_H_

#include <string>

namespace app {

// The file version and product version that the build embedded in the file; empty without.
void GetVersionInfo(const std::string& file, std::string& file_version,
                    std::string& product_version);

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_FILE_VERSION_H_
