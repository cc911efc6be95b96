// `rivenoak restore DEST DATA_PATH`: a backup's tables copied back over the practice's.
#include "app/command/command_support.h"
#include "app/command/commands.h"
#include "app/practice/practice_copy.h"

namespace app {
namespace {

class RestoreCommand : public Command {
 public:
  explicit RestoreCommand(CLI::App* restore) : Command(restore) {
    restore->add_option("DEST", from_, "The backup's folder")->required();
    restore->add_option("DATA_PATH", to_, "The practice's data folder")->required();
  }
  int Run(std::ostream& out, std::ostream& err) override {
    return CopyCommand("restore", "restored", to_, out, err, [&](conversion::Gauge* gauge) {
      return RestorePractice(from_, to_, gauge, NoteTo("restore", err));
    });
  }

 private:
  std::string from_, to_;
};

}  // namespace

std::unique_ptr<Command> AddRestoreCommand(CLI::App& cli) {
  return std::make_unique<RestoreCommand>(
      cli.add_subcommand("restore", "Copy a backup's tables back to a practice"));
}

}  // namespace app
