// The commands of the command line (`run`, `backup`, `restore`, `diff`, `demo`), each in a file
// of its own: it adds its subcommand and arguments to the parser, reads what they name once the
// line is parsed, and runs when the line named it.
#ifndef RIVENOAK_APP_COMMAND_COMMANDS_H_
#define RIVENOAK_APP_COMMAND_COMMANDS_H_

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

namespace app {

class Command {
 public:
  explicit Command(CLI::App* subcommand) : subcommand_(subcommand) {}
  virtual ~Command() = default;
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;

  // Whether the command line named this command.
  bool Given() const { return subcommand_->parsed(); }
  // Right after parsing: reads the files the arguments name; throws CLI::ParseError for one that
  // cannot be used.
  virtual void ReadNamedFiles() {}
  // The command's work; its exit status.
  virtual int Run(std::ostream& out, std::ostream& err) = 0;

 private:
  CLI::App* subcommand_;
};

// `run`; `root` is the command line's --root, read when it runs, and `stored_root` answers where
// the root data folder is when `run --all` names none.
std::unique_ptr<Command> AddRunCommand(CLI::App& cli, const std::string& root,
                                       const std::function<std::string()>& stored_root);
std::unique_ptr<Command> AddBackupCommand(CLI::App& cli);
std::unique_ptr<Command> AddRestoreCommand(CLI::App& cli);
std::unique_ptr<Command> AddDiffCommand(CLI::App& cli);
std::unique_ptr<Command> AddDemoCommand(CLI::App& cli);

}  // namespace app

#endif  // RIVENOAK_APP_COMMAND_COMMANDS_H_
