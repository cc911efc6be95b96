#include "app/command/command_support.h"

#include <unistd.h>

#include "app/command/printing_run_view.h"
#include "app/practice/output_places.h"
#include "common/file_names.h"

namespace app {

CLI::Validator NotEmpty() {
  return CLI::Validator(
      [](std::string& value) { return value.empty() ? std::string("empty") : std::string(); },
      "NOT EMPTY");
}

int CommandFailed(const char* command, const std::exception& e, std::ostream& err) {
  err << "rivenoak " << command << ": " << common::EscapeControlCharacters(e.what()) << "\n";
  return 1;
}

Note NoteTo(const char* command, std::ostream& err) {
  return [command, &err](const std::string& text) {
    err << "rivenoak " << command << ": " << common::EscapeControlCharacters(text) << "\n";
  };
}

int CopyWithProgress(bool progress, std::ostream& err,
                     const std::function<int(conversion::Gauge*)>& copy) {
  TextGauge gauge(progress ? &err : nullptr, "copy ");
  struct EndLine {
    std::ostream* terminal;
    ~EndLine() {
      if (terminal) *terminal << "\n";
    }
  } end_line{progress ? &err : nullptr};
  return copy(&gauge);
}

int CopyCommand(const char* command, const char* done, const std::string& to, std::ostream& out,
                std::ostream& err, const std::function<int(conversion::Gauge*)>& copy) {
  try {
    int tables = CopyWithProgress(isatty(STDERR_FILENO) != 0, err, copy);
    out << done << " " << tables << " tables to " << to << "\n";
    return 0;
  } catch (const std::exception& e) {
    return CommandFailed(command, e, err);
  }
}

bool DestinationsUsable(const char* command, const std::string& report, const std::string& backup,
                        const std::vector<std::string>& practices, std::ostream& err) {
  try {
    if (!report.empty()) CheckReportPlace(report, practices);
    if (!backup.empty()) CheckBackupPlace(backup, practices);
    return true;
  } catch (const OutputPlaceError& e) {
    CommandFailed(command, e, err);
    return false;
  }
}

std::string FolderName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  size_t slash = p.find_last_of("/\\");
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

}  // namespace app
