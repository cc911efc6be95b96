// `rivenoak run`: one conversion run without windows on the practice in DATA_PATH (with a backup
// first, or as a dry run on a copy), or with --all on every practice of the root's practice list,
// each run as a process of its own.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "app/command/all_practices.h"
#include "app/command/command_support.h"
#include "app/command/commands.h"
#include "app/command/practice_run.h"
#include "app/command/presses_file.h"
#include "data/errors.h"

namespace app {
namespace {

// The options every practice's run of `--all` is given, from those of this command line.
std::vector<std::string> ForwardedRunArgs(const PracticeRunOptions& options,
                                          const std::string& on_missing, bool dry_run) {
  std::vector<std::string> args;
  if (!options.from.empty()) args.insert(args.end(), {"--from", options.from});
  if (!options.to.empty()) args.insert(args.end(), {"--to", options.to});
  const conversion::RunOptions& run = options.run;
  if (!run.match_transaction_types) args.push_back("--no-match-types");
  if (!run.apply_payments) args.push_back("--no-apply");
  if (!run.over_apply) args.push_back("--no-over-apply");
  if (!run.adjust_payment_amounts) args.push_back("--no-adjust");
  if (!run.strict_type_rules) args.push_back("--no-strict");
  args.insert(args.end(), {"--on-missing-payor", on_missing});
  if (dry_run) args.push_back("--dry-run");
  args.push_back("--quiet");  // bars of several runs at once would only garble each other
  return args;
}

// This program's own file, which each practice of `--all` runs.
std::string OwnProgram() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string("/proc/self/exe") : self.string();
}

// `rivenoak run --all`: the root from --root, else as the desktop program finds it.
int RunEveryPractice(const std::string& given_root, AllPracticesOptions all, std::ostream& out,
                     std::ostream& err, const std::function<std::string()>& stored_root) {
  std::string root = given_root;
  if (root.empty() && stored_root) root = stored_root();
  if (root.empty()) {
    if (const char* env = std::getenv("RIVENOAK_ROOT")) root = env;
  }
  if (root.empty()) {
    err << "run: --all needs the root data folder: give --root DIR or set RIVENOAK_ROOT\n";
    return 2;
  }
  std::vector<PracticeEntry> practices;
  try {
    practices = ReadPracticeList(root);
  } catch (const data::Exception& e) {
    err << "rivenoak run: cannot read the practice list of " << root << ": " << e.message() << "\n";
    return 1;
  }
  if (practices.empty()) {
    err << "rivenoak run: the practice list of " << root << " names no practice\n";
    return 1;
  }
  std::vector<std::string> folders;
  for (const PracticeEntry& practice : practices) folders.push_back(practice.data_path);
  if (!DestinationsUsable("run", all.report, all.backup, folders, err)) return 2;
  all.program = OwnProgram();
  try {
    return RunAllPractices(practices, all, out, err);
  } catch (const std::exception& e) {
    return CommandFailed("run", e, err);
  }
}

class RunCommand : public Command {
 public:
  RunCommand(CLI::App* run, const std::string& root,
             const std::function<std::string()>& stored_root)
      : Command(run), root_(root), stored_root_(stored_root) {
    options_.progress = isatty(STDERR_FILENO) != 0;
    data_path_option_ =
        run->add_option("DATA_PATH", data_path_, "The practice's data folder")->check(NotEmpty());
    run->add_option("--from", options_.from, "From date, MM/DD/YYYY");
    run->add_option("--to", options_.to, "To date, MM/DD/YYYY");
    run->add_flag("--no-match-types", no_match_,
                  "Do not match transaction types with procedure types");
    run->add_flag("--no-apply", no_apply_, "Do not apply payments to charges");
    run->add_flag("--no-over-apply", no_over_, "Do not over-apply payments");
    run->add_flag("--no-adjust", no_adjust_, "Do not adjust payment amounts");
    run->add_flag("--no-strict", no_strict_, "Strict transaction type rules off");
    who_paid_option_ =
        run->add_option("--who-paid", who_paid_file_, "Presses to make in the who-paid dialog");
    run->add_option("--on-missing-payor", on_missing_, "Answer to the missing payor question")
        ->check(CLI::IsMember({"yes", "no"}));
    auto* progress_flag = run->add_flag("--progress", progress_, "Progress bars on standard error");
    run->add_flag("--quiet", quiet_, "No progress bars")->excludes(progress_flag);
    run->add_option("--backup", backup_, "Copy the practice's tables to this folder first");
    run->add_flag("--dry-run", dry_run_,
                  "Run on a temporary copy and print the changes the run would make");
    run->add_option("--report", options_.report,
                    "After the run, an HTML page of what it did (FILE.html)")
        ->check(NotEmpty());
    all_flag_ = run->add_flag("--all", all_practices_,
                              "Every practice of the root's practice list, one process each");
    all_flag_->excludes(data_path_option_);
    run->add_option("--root", all_root_, "With --all: the root data folder")
        ->check(NotEmpty())
        ->needs(all_flag_);
    run->add_option("--jobs", jobs_, "With --all: at most N practices at once (default 1)")
        ->check(CLI::Range(1, 256))
        ->needs(all_flag_);
    run->add_option("--who-paid-dir", who_paid_dir_,
                    "With --all: presses from DIR/NAME.txt where present, NAME the Dataset "
                    "Name made a safe file name")
        ->check(NotEmpty() & CLI::ExistingDirectory)
        ->needs(all_flag_);
  }

  void ReadNamedFiles() override {
    if (who_paid_option_->count() > 0)
      options_.answers.who_paid_presses = ReadPresses(who_paid_file_);
  }

  int Run(std::ostream& out, std::ostream& err) override {
    conversion::RunOptions& run = options_.run;
    run.match_transaction_types = !no_match_;
    run.apply_payments = !no_apply_;
    run.over_apply = !no_over_;
    run.adjust_payment_amounts = !no_adjust_;
    run.strict_type_rules = !no_strict_;
    options_.answers.missing_payor = on_missing_ == "yes";
    if (progress_) options_.progress = true;
    if (quiet_) options_.progress = false;
    if (all_flag_->count() > 0) return RunAll(out, err);
    if (data_path_option_->count() == 0) {
      err << "run: DATA_PATH is required (or --all)\n";
      return 2;
    }
    if (!DestinationsUsable("run", options_.report, backup_, {data_path_}, err)) return 2;
    if (!backup_.empty() || dry_run_) {
      return RunWithCopies(data_path_, backup_, dry_run_, options_, out, err);
    }
    return RunPractice(data_path_, options_, out, err);
  }

 private:
  int RunAll(std::ostream& out, std::ostream& err) {
    AllPracticesOptions all;
    all.jobs = jobs_;
    all.who_paid_dir = who_paid_dir_;
    all.who_paid_file = who_paid_file_;
    all.report = options_.report;
    all.backup = backup_;
    all.run_args = ForwardedRunArgs(options_, on_missing_, dry_run_);
    const std::string& root = !all_root_.empty() ? all_root_ : root_;
    return RunEveryPractice(root, all, out, err, stored_root_);
  }

  const std::string& root_;
  std::function<std::string()> stored_root_;
  std::string data_path_;
  PracticeRunOptions options_;
  std::string who_paid_file_, on_missing_ = "yes";
  bool no_match_ = false, no_apply_ = false, no_over_ = false, no_adjust_ = false,
       no_strict_ = false;
  bool progress_ = false, quiet_ = false;
  std::string backup_;
  bool dry_run_ = false;
  std::string all_root_, who_paid_dir_;
  int jobs_ = 1;
  bool all_practices_ = false;
  CLI::Option* data_path_option_ = nullptr;
  CLI::Option* who_paid_option_ = nullptr;
  CLI::Option* all_flag_ = nullptr;
};

}  // namespace

std::unique_ptr<Command> AddRunCommand(CLI::App& cli, const std::string& root,
                                       const std::function<std::string()>& stored_root) {
  return std::make_unique<RunCommand>(
      cli.add_subcommand("run", "One conversion run without windows"), root, stored_root);
}

}  // namespace app
