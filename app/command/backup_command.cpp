// `rivenoak backup DATA_PATH DEST`: the practice's tables copied to a new folder, which may not
// lie inside a practice folder.
#include "app/command/command_support.h"
#include "app/command/commands.h"
#include "app/practice/practice_copy.h"

namespace app {
namespace {

class BackupCommand : public Command {
 public:
  explicit BackupCommand(CLI::App* backup) : Command(backup) {
    backup->add_option("DATA_PATH", from_, "The practice's data folder")->required();
    backup->add_option("DEST", to_, "The folder to make the backup in")->required();
  }
  int Run(std::ostream& out, std::ostream& err) override {
    if (!DestinationsUsable("backup", "", to_, {from_}, err)) return 2;
    return CopyCommand("backup", "backed up", to_, out, err, [&](conversion::Gauge* gauge) {
      return BackUpPractice(from_, to_, gauge, NoteTo("backup", err));
    });
  }

 private:
  std::string from_, to_;
};

}  // namespace

std::unique_ptr<Command> AddBackupCommand(CLI::App& cli) {
  return std::make_unique<BackupCommand>(
      cli.add_subcommand("backup", "Copy a practice's tables to a new folder"));
}

}  // namespace app
