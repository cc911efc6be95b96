#include "app/command/command_line.h"

#include <map>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/command/commands.h"
#include "app/practice/version_info.h"

namespace app {
namespace {

// The help as one line for each command and option: an option's name, the name of its value,
// and its description; what options need or exclude is said in the descriptions.
class OneLineHelp : public CLI::Formatter {
 public:
  OneLineHelp() { column_width(32); }
  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_type_size() == 0 || option->get_positional()) return "";
    static const std::map<std::string, std::string> kValueNames = {
        {"--from", "MM/DD/YYYY"},  {"--to", "MM/DD/YYYY"},
        {"--who-paid", "FILE"},    {"--on-missing-payor", "yes|no"},
        {"--backup", "DIR"},       {"--report", "FILE.html"},
        {"--root", "DIR"},         {"--jobs", "N"},
        {"--who-paid-dir", "DIR"}, {"--practices", "N"},
        {"--transactions", "N"},   {"--seed", "N"}};
    auto found = kValueNames.find(option->get_name());
    return " " + (found == kValueNames.end() ? option->get_type_name() : found->second);
  }
};

}  // namespace

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err,
                   const std::function<int(const std::string& root)>& desktop,
                   const std::function<std::string()>& stored_root) {
  CLI::App cli{"Rivenoak repairs and completes the accounting data of a medical practice."};
  cli.formatter(std::make_shared<OneLineHelp>());
  std::string root;
  bool version = false;
  cli.add_option("--root", root, "The root data folder (else RIVENOAK_ROOT or the stored setting)");
  cli.add_flag("--version", version, "Print the version");
  std::vector<std::unique_ptr<Command>> commands;
  commands.push_back(AddRunCommand(cli, root, stored_root));
  commands.push_back(AddBackupCommand(cli));
  commands.push_back(AddRestoreCommand(cli));
  commands.push_back(AddDiffCommand(cli));
  commands.push_back(AddDemoCommand(cli));

  try {
    cli.parse(argc, argv);
    for (const auto& command : commands) {
      if (command->Given()) command->ReadNamedFiles();
    }
  } catch (const CLI::ParseError& e) {
    int code = cli.exit(e, out, err);
    return code == 0 ? 0 : 2;
  }
  if (version) {
    out << "rivenoak " << ProductVersion() << "\n";
    return 0;
  }
  for (const auto& command : commands) {
    if (command->Given()) return command->Run(out, err);
  }
  if (!desktop) {
    err << "rivenoak: the desktop program is not part of this build; use `rivenoak run`\n";
    return 2;
  }
  return desktop(root);
}

}  // namespace app
