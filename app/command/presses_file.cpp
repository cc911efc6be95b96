#include "app/command/presses_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "app/command/printing_run_view.h"
#include "common/file_names.h"

namespace app {
namespace {

// A presses file holds a few short lines; what is bigger is no presses file, and is read no
// further than that takes to see (a pipe or /dev/zero may never end).
constexpr size_t kPressesFileBytes = 1 << 20;
constexpr size_t kPressLineBytes = 4096;

std::string PressesText(const std::string& file) {
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) {
    throw CLI::ValidationError("--who-paid", file + " is a folder, not a file of presses");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw CLI::ValidationError("--who-paid", "cannot read " + file);
  std::string text(kPressesFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) throw CLI::ValidationError("--who-paid", "cannot read " + file);
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kPressesFileBytes) {
    throw CLI::ValidationError("--who-paid", file + " is larger than 1 MB: no file of presses");
  }
  return text;
}

}  // namespace

std::vector<std::string> ReadPresses(const std::string& file) {
  if (file.empty()) throw CLI::ValidationError("--who-paid", "no file named");
  std::istringstream in(PressesText(file));
  std::vector<std::string> presses;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string where = file + " line " + std::to_string(number);
    if (line.size() > kPressLineBytes) {
      throw CLI::ValidationError("--who-paid", where + " is longer than 4 KB: no file of presses");
    }
    // Many editors begin a UTF-8 file with a byte-order mark.
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    int choice = 0, button = -2;
    if (!ReadPress(line, &choice, &button)) {
      throw CLI::ValidationError(
          "--who-paid", where + " \"" + common::EscapeControlCharacters(line) +
                            "\" is no press: each line is \"this L\", \"all L\" or \"close\", "
                            "L one of 1 2 3 G A");
    }
    presses.push_back(line.substr(start));
  }
  return presses;
}

}  // namespace app
