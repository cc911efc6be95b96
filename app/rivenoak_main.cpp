// rivenoak: the desktop program, and without windows `rivenoak run` (one conversion run) and
// `rivenoak demo` (practices to try).
#include <iostream>

#include "app/command/command_line.h"
#include "app/window/desktop.h"
#include "app/window/root_data_path.h"

int main(int argc, char** argv) {
  return app::RunCommandLine(
      argc, argv, std::cout, std::cerr,
      [&](const std::string& root) { return app::RunDesktop(argc, argv, root); },
      [] { return app::GetRootDataPath(); });
}
