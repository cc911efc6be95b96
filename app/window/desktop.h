// The desktop program: the application, its three windows created hidden in order, and the
// event loop until the program ends.
#ifndef RIVENOAK_APP_WINDOW_DESKTOP_H_
#define RIVENOAK_APP_WINDOW_DESKTOP_H_

#include <string>

namespace app {

int RunDesktop(int& argc, char** argv, const std::string& root);

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_DESKTOP_H_
