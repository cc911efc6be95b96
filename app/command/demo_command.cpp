// `rivenoak demo ROOT`: a root folder of demo practices to try the program on.
#include "app/command/command_support.h"
#include "app/command/commands.h"
#include "app/practice/demo_practice.h"
#include "data/errors.h"

namespace app {
namespace {

class DemoCommand : public Command {
 public:
  explicit DemoCommand(CLI::App* demo) : Command(demo) {
    demo->add_option("ROOT", root_, "The root folder to make")->required();
    demo->add_option("--practices", options_.practices, "Number of practices")
        ->check(CLI::Range(1, 1000));
    demo->add_option("--transactions", options_.transactions, "Transactions per practice")
        ->check(CLI::Range(0, 100000000));
    demo->add_option("--seed", options_.seed, "Seed of the records");
  }
  int Run(std::ostream& out, std::ostream& err) override {
    try {
      MakeDemoRoot(root_, options_);
    } catch (const data::Exception& e) {
      err << "rivenoak demo: " << e.message() << "\n";
      return 1;
    }
    out << "made " << options_.practices << " practices in " << root_ << "\n";
    return 0;
  }

 private:
  std::string root_;
  DemoOptions options_;
};

}  // namespace

std::unique_ptr<Command> AddDemoCommand(CLI::App& cli) {
  return std::make_unique<DemoCommand>(cli.add_subcommand("demo", "Make demo practices"));
}

}  // namespace app
