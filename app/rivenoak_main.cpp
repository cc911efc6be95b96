// rivenoak: the desktop program, and without windows `rivenoak run` (one conversion run) and
// `rivenoak demo` (practices to try).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "app/command_line.h"

int main(int argc, char** argv) {
  return app::RunCommandLine(argc, argv, std::cout, std::cerr);
}
