// rivenoak: the desktop program, and without windows `rivenoak run` (one conversion run) and
// `rivenoak demo` (practices to try).
#include <iostream>

#include "app/command_line.h"
#include "app/desktop.h"
#include "app/root_data_path.h"

int main(int argc, char** argv) {
  return app::RunCommandLine(
      argc, argv, std::cout, std::cerr,
      [&](const std::string& root) { return app::RunDesktop(argc, argv, root); },
      [] { return app::GetRootDataPath(); });
}
