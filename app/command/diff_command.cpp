// `rivenoak diff BEFORE_PATH AFTER_PATH`: the changes between two copies of a practice, read only.
#include "app/command/command_support.h"
#include "app/command/commands.h"
#include "app/practice/change_report.h"
#include "app/practice/practice_copy.h"

namespace app {
namespace {

class DiffCommand : public Command {
 public:
  explicit DiffCommand(CLI::App* diff) : Command(diff) {
    diff->add_option("BEFORE_PATH", before_, "The earlier copy")->required();
    diff->add_option("AFTER_PATH", after_, "The later copy")->required();
  }
  int Run(std::ostream& out, std::ostream& err) override {
    try {
      // diff only reads: an interrupted restore in either folder stops it, changing nothing.
      for (const std::string& folder : {before_, after_}) RefuseInterruptedRestore(folder);
      WriteChangeReport(before_, after_, out);
      return 0;
    } catch (const std::exception& e) {
      return CommandFailed("diff", e, err);
    }
  }

 private:
  std::string before_, after_;
};

}  // namespace

std::unique_ptr<Command> AddDiffCommand(CLI::App& cli) {
  return std::make_unique<DiffCommand>(
      cli.add_subcommand("diff", "The changes between two copies of a practice"));
}

}  // namespace app
