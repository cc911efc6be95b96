#include "app/command/command_line.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include <CLI/CLI.hpp>
#include <fstream>

#include "app/command/all_practices.h"
#include "app/practice/change_report.h"
#include "app/practice/demo_practice.h"
#include "app/practice/output_places.h"
#include "app/practice/practice_copy.h"
#include "app/practice/run_report.h"
#include "app/practice/temporary_folder.h"
#include "app/practice/version_info.h"
#include "app/window/main_form_logic.h"
#include "common/file_names.h"
#include "conversion/practice_tables.h"
#include "conversion/verify_tran_types.h"
#include "conversion/who_paid.h"
#include "data/engine_call.h"
#include "data/errors.h"

namespace app {
namespace {

// Each phase's wall time and engine calls, for the run's report; with RIVENOAK_PHASE_TIMINGS
// naming a file, they, each phase's processor time (user and system) and the run's peak memory
// are also written there for the scale benchmark.
class PhaseTimings {
 public:
  PhaseTimings() {
    if (const char* file = std::getenv("RIVENOAK_PHASE_TIMINGS")) file_ = file;
  }
  ~PhaseTimings() {
    if (file_.empty()) return;
    std::ofstream out(file_);
    for (const Timing& timing : timings_) {
      out << timing.name << "\t" << std::to_string(timing.seconds) << "\t" << timing.calls << "\t"
          << std::to_string(timing.cpu_seconds) << "\n";
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    out << "peak_kb\t" << usage.ru_maxrss << "\n";
  }
  // Wraps a phase so that its time and calls are recorded under `name`.
  template <typename R, typename... A>
  std::function<R(A...)> Wrap(const char* name, std::function<R(A...)> phase) {
    if (!phase) return phase;
    return [this, name, phase](A... args) -> R {
      uint64_t calls_before = Calls();
      double cpu_before = CpuSeconds();
      auto start = std::chrono::steady_clock::now();
      struct Record {
        PhaseTimings* timings;
        const char* name;
        uint64_t calls_before;
        double cpu_before;
        std::chrono::steady_clock::time_point start;
        ~Record() {
          std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
          timings->timings_.push_back(
              {name, seconds.count(), Calls() - calls_before, CpuSeconds() - cpu_before});
        }
      } record{this, name, calls_before, cpu_before, start};
      return phase(args...);
    };
  }
  // The phases that ran, in their order.
  std::vector<PhaseTime> Times() const {
    std::vector<PhaseTime> times;
    for (const Timing& timing : timings_) times.push_back({timing.name, timing.seconds});
    return times;
  }

 private:
  struct Timing {
    std::string name;
    double seconds;
    uint64_t calls;
    double cpu_seconds;
  };
  // The process's user and system time so far.
  static double CpuSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
  }
  static uint64_t Calls() {
    uint64_t calls = 0;
    IsamGetCallCount(&calls);
    return calls;
  }
  std::string file_;
  std::vector<Timing> timings_;
};

// Who-paid presses, one a line; blank lines and lines starting with '#' are left out.
// Refuses an empty text, which the shell passes for '' or an unset variable.
CLI::Validator NotEmpty() {
  return CLI::Validator(
      [](std::string& value) { return value.empty() ? std::string("empty") : std::string(); },
      "NOT EMPTY");
}

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

std::string FolderName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  size_t slash = p.find_last_of("/\\");
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Runs a copy with a progress bar on `err` when `progress` is set; the bar's line ends with it.
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

int CommandFailed(const char* command, const std::exception& e, std::ostream& err) {
  err << "rivenoak " << command << ": " << common::EscapeControlCharacters(e.what()) << "\n";
  return 1;
}

// What a command did beside its own work, as a line of standard error.
Note NoteTo(const char* command, std::ostream& err) {
  return [command, &err](const std::string& text) {
    err << "rivenoak " << command << ": " << common::EscapeControlCharacters(text) << "\n";
  };
}

// `rivenoak backup` and `rivenoak restore`: the copy, then "<done> N tables to <to>".
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

// Says on `err` why `command` may not write its report or backup where the command line says,
// with `practices` about; true when it may.
bool DestinationsUsable(const char* command, const std::string& report, const std::string& backup,
                        const std::vector<std::string>& practices, std::ostream& err) {
  try {
    if (!report.empty()) CheckReportPlace(report, practices);
    if (!backup.empty()) CheckBackupPlace(backup, practices);
    return true;
  } catch (const OutputPlaceError& e) {
    err << "rivenoak " << command << ": " << common::EscapeControlCharacters(e.what()) << "\n";
    return false;
  }
}

// A dry run works on a copy: what would keep the run itself from writing the practice's tables
// is found out first, without writing, so that the dry run promises nothing the run cannot do.
void CheckPracticeFree(const std::string& data_path) {
  for (const conversion::TableLayout& table : conversion::PracticeTables()) {
    if (IsamCheckTableFree(data_path.c_str(), table.file.c_str()) != 0) {
      throw PracticeDataError(data::LastEngineError().text);
    }
  }
}

// `rivenoak run` with --backup or --dry-run: the backup first; then the run, on the practice or,
// for a dry run, on a temporary copy followed by the change report from the practice to the
// copy. The copy's folder has the practice folder's name, so that the run prints what it would
// print for the practice itself; the practice is only read.
int RunWithCopies(const std::string& data_path, const std::string& backup, bool dry_run,
                  const HeadlessOptions& options, std::ostream& out, std::ostream& err) {
  try {
    // A dry run only reads the practice: an interrupted restore stops it, left to the commands
    // that write, and its backup is taken under the same rule.
    InterruptedRestore restore_found =
        dry_run ? InterruptedRestore::kRefuse : InterruptedRestore::kFinish;
    if (!backup.empty()) {
      CopyWithProgress(options.progress, err, [&](conversion::Gauge* gauge) {
        return BackUpPractice(data_path, backup, gauge, NoteTo("run", err), restore_found);
      });
    }
    if (!dry_run) return RunHeadless(data_path, options, out, err);
    CheckPracticeFree(data_path);
    TemporaryFolder scratch("rivenoak-dry-run");
    std::string name = std::filesystem::weakly_canonical(data_path).filename().string();
    std::string copy = scratch.path() + "/" + (name.empty() ? "practice" : name);
    CopyWithProgress(options.progress, err, [&](conversion::Gauge* gauge) {
      return BackUpPractice(data_path, copy, gauge, {}, restore_found);
    });
    HeadlessOptions on_copy = options;
    on_copy.dry_run_of = data_path;
    int status = RunHeadless(copy, on_copy, out, err);
    WriteChangeReport(data_path, copy, out);
    return status;
  } catch (const std::exception& e) {
    out << "error: " << common::EscapeControlCharacters(e.what()) << "\n";
    return 1;
  }
}

}  // namespace

namespace {

// The run's options as the report lists them.
std::vector<std::pair<std::string, std::string>> OptionsOf(const HeadlessOptions& options) {
  auto box = [](bool checked) { return std::string(checked ? "checked" : "unchecked"); };
  return {{"Match Transaction Types with Procedure Types", box(options.match_types)},
          {"Apply Payments to Charges", box(options.apply)},
          {"Over-apply", box(options.over_apply)},
          {"Adjust Payment Amounts", box(options.adjust)},
          {"Strict Transaction Type Rules", box(options.strict)},
          {"Answer to a missing payor", options.answer_missing_payor ? "yes" : "no"},
          {"Who-paid presses", std::to_string(options.who_paid_presses.size())}};
}

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
  std::time_t time = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&time, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// The phases' captions in the report, by the names their timings carry.
std::vector<PhaseTime> CaptionedPhases(std::vector<PhaseTime> phases) {
  const std::pair<const char*, const char*> kCaptions[] = {
      {"VerifyTranTypes", "Verifying Transaction Types"},
      {"GetNoWhoPaid", "Verifying Who Paid"},
      {"ApplyPayAdj", "Applying Payments"},
      {"AdjustPayments", "Adjusting Payment Amounts"}};
  for (PhaseTime& phase : phases) {
    for (const auto& [name, caption] : kCaptions) {
      if (phase.name == name) phase.name = caption;
    }
  }
  return phases;
}

// Writes the report of a run to `file`; the changes are those from the copy `before` (taken
// before the run) to the practice.
void WriteReportFile(const std::string& file, RunRecord run, const std::string& before,
                     const std::string& data_path) {
  ChangedRecords changes;
  ForEachChange(before, data_path, [&](const FieldChange& change) { changes.Take(change); });
  std::ostringstream page;
  WriteRunReport(run, changes, page);
  WriteReportWhole(file, page.str(), {data_path});
}

}  // namespace

int RunHeadless(const std::string& data_path, const HeadlessOptions& options, std::ostream& out,
                std::ostream& err) {
  HeadlessRunner runner(out, err, options);
  if (!options.dry_run_of.empty()) {
    std::string practice = options.dry_run_of;
    while (practice.size() > 1 && practice.back() == '/') practice.pop_back();
    runner.ShowPathAs(data_path, practice);
  }
  PhaseTimings timings;
  // With a report, the practice is copied first, so that the report can list what the run
  // changed.
  std::unique_ptr<TemporaryFolder> before;
  if (!options.report.empty()) {
    try {
      before = std::make_unique<TemporaryFolder>("rivenoak-report");
      BackUpPractice(data_path, before->path() + "/practice", nullptr, NoteTo("run", err));
    } catch (const std::exception& e) {
      out << "error: cannot copy the practice for the report: "
          << common::EscapeControlCharacters(e.what()) << "\n";
      return 1;
    }
  }
  auto started = std::chrono::system_clock::now();
  auto clock_start = std::chrono::steady_clock::now();
  int status = 1;
  std::string failure;
  try {
    conversion::PracticeDatasets practice;
    conversion::WhoPaidDialog who_paid;
    Phases phases = MakePhases(practice, runner, runner, who_paid);
    phases.VerifyTranTypes = timings.Wrap("VerifyTranTypes", phases.VerifyTranTypes);
    phases.GetNoWhoPaid = timings.Wrap("GetNoWhoPaid", phases.GetNoWhoPaid);
    phases.ApplyPayAdj = timings.Wrap("ApplyPayAdj", phases.ApplyPayAdj);
    phases.AdjustPayments = timings.Wrap("AdjustPayments", phases.AdjustPayments);
    std::string path = FormatDataPath(data_path);
    PreparePractice(practice, runner, runner, FolderName(data_path), path);
    runner.ApplyDateOptions();
    Button2Click(practice, runner, runner, phases, path);
    status = runner.Finished() ? 0 : 1;
  } catch (const data::Exception& e) {
    failure = e.message();
    runner.ShowError(e.message());
  } catch (const std::exception& e) {
    failure = e.what();
    runner.ShowError(e.what());
  }
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - clock_start;
  if (options.progress) err << "\n";
  out << "types changed: " << runner.TypesChanged() << "\n";
  for (const auto& [name, value] : conversion::SummaryOf(runner.Counts())) {
    out << "summary: " << name << " = " << value << "\n";
  }
  if (before) {
    RunRecord run;
    const std::string& practice = options.dry_run_of.empty() ? data_path : options.dry_run_of;
    run.practice = FolderName(practice);
    run.data_path = std::filesystem::absolute(practice).lexically_normal().string();
    run.dry_run = !options.dry_run_of.empty();
    run.date_from = runner.DateFromText();
    run.date_to = runner.DateToText();
    run.options = OptionsOf(options);
    run.started = LocalTimeText(started);
    run.seconds = took.count();
    run.outcome = status == 0 ? (runner.StopFlag() ? "stopped" : "finished")
                              : "error: " + (failure.empty() ? "the run did not finish" : failure);
    run.phases = CaptionedPhases(timings.Times());
    run.counts = runner.Counts();
    try {
      WriteReportFile(options.report, run, before->path() + "/practice", data_path);
    } catch (const std::exception& e) {
      err << "rivenoak run: " << common::EscapeControlCharacters(e.what()) << "\n";
      return 1;
    }
  }
  return status;
}

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

// The options every practice's run of `--all` is given, from those of this command line.
std::vector<std::string> ForwardedRunArgs(const HeadlessOptions& options,
                                          const std::string& on_missing, bool dry_run) {
  std::vector<std::string> args;
  if (!options.from.empty()) args.insert(args.end(), {"--from", options.from});
  if (!options.to.empty()) args.insert(args.end(), {"--to", options.to});
  if (!options.match_types) args.push_back("--no-match-types");
  if (!options.apply) args.push_back("--no-apply");
  if (!options.over_apply) args.push_back("--no-over-apply");
  if (!options.adjust) args.push_back("--no-adjust");
  if (!options.strict) args.push_back("--no-strict");
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

  CLI::App* run = cli.add_subcommand("run", "One conversion run without windows");
  std::string data_path;
  HeadlessOptions options;
  options.progress = isatty(STDERR_FILENO) != 0;
  std::string who_paid_file, on_missing = "yes";
  bool no_match = false, no_apply = false, no_over = false, no_adjust = false, no_strict = false;
  bool progress = false, quiet = false;
  CLI::Option* data_path_option =
      run->add_option("DATA_PATH", data_path, "The practice's data folder")->check(NotEmpty());
  run->add_option("--from", options.from, "From date, MM/DD/YYYY");
  run->add_option("--to", options.to, "To date, MM/DD/YYYY");
  run->add_flag("--no-match-types", no_match,
                "Do not match transaction types with procedure types");
  run->add_flag("--no-apply", no_apply, "Do not apply payments to charges");
  run->add_flag("--no-over-apply", no_over, "Do not over-apply payments");
  run->add_flag("--no-adjust", no_adjust, "Do not adjust payment amounts");
  run->add_flag("--no-strict", no_strict, "Strict transaction type rules off");
  CLI::Option* who_paid_option =
      run->add_option("--who-paid", who_paid_file, "Presses to make in the who-paid dialog");
  run->add_option("--on-missing-payor", on_missing, "Answer to the missing payor question")
      ->check(CLI::IsMember({"yes", "no"}));
  auto* progress_flag = run->add_flag("--progress", progress, "Progress bars on standard error");
  run->add_flag("--quiet", quiet, "No progress bars")->excludes(progress_flag);
  std::string run_backup;
  bool dry_run = false;
  run->add_option("--backup", run_backup, "Copy the practice's tables to this folder first");
  run->add_flag("--dry-run", dry_run,
                "Run on a temporary copy and print the changes the run would make");
  std::string report_file, all_root, who_paid_dir;
  int jobs = 1;
  bool all_practices = false;
  run->add_option("--report", report_file, "After the run, an HTML page of what it did (FILE.html)")
      ->check(NotEmpty());
  CLI::Option* all_flag = run->add_flag(
      "--all", all_practices, "Every practice of the root's practice list, one process each");
  all_flag->excludes(data_path_option);
  run->add_option("--root", all_root, "With --all: the root data folder")
      ->check(NotEmpty())
      ->needs(all_flag);
  run->add_option("--jobs", jobs, "With --all: at most N practices at once (default 1)")
      ->check(CLI::Range(1, 256))
      ->needs(all_flag);
  run->add_option("--who-paid-dir", who_paid_dir,
                  "With --all: presses from DIR/NAME.txt where present, NAME the Dataset "
                  "Name made a safe file name")
      ->check(NotEmpty() & CLI::ExistingDirectory)
      ->needs(all_flag);

  CLI::App* backup = cli.add_subcommand("backup", "Copy a practice's tables to a new folder");
  std::string backup_from, backup_to;
  backup->add_option("DATA_PATH", backup_from, "The practice's data folder")->required();
  backup->add_option("DEST", backup_to, "The folder to make the backup in")->required();

  CLI::App* restore = cli.add_subcommand("restore", "Copy a backup's tables back to a practice");
  std::string restore_from, restore_to;
  restore->add_option("DEST", restore_from, "The backup's folder")->required();
  restore->add_option("DATA_PATH", restore_to, "The practice's data folder")->required();

  CLI::App* diff = cli.add_subcommand("diff", "The changes between two copies of a practice");
  std::string diff_before, diff_after;
  diff->add_option("BEFORE_PATH", diff_before, "The earlier copy")->required();
  diff->add_option("AFTER_PATH", diff_after, "The later copy")->required();

  CLI::App* demo = cli.add_subcommand("demo", "Make demo practices");
  std::string demo_root;
  DemoOptions demo_options;
  demo->add_option("ROOT", demo_root, "The root folder to make")->required();
  demo->add_option("--practices", demo_options.practices, "Number of practices")
      ->check(CLI::Range(1, 1000));
  demo->add_option("--transactions", demo_options.transactions, "Transactions per practice")
      ->check(CLI::Range(0, 100000000));
  demo->add_option("--seed", demo_options.seed, "Seed of the records");

  try {
    cli.parse(argc, argv);
    if (who_paid_option->count() > 0) options.who_paid_presses = ReadPresses(who_paid_file);
  } catch (const CLI::ParseError& e) {
    int code = cli.exit(e, out, err);
    return code == 0 ? 0 : 2;
  }
  if (version) {
    out << "rivenoak " << ProductVersion() << "\n";
    return 0;
  }
  if (run->parsed()) {
    options.match_types = !no_match;
    options.apply = !no_apply;
    options.over_apply = !no_over;
    options.adjust = !no_adjust;
    options.strict = !no_strict;
    options.answer_missing_payor = on_missing == "yes";
    if (progress) options.progress = true;
    if (quiet) options.progress = false;
    options.report = report_file;
    if (all_flag->count() > 0) {
      AllPracticesOptions all;
      all.jobs = jobs;
      all.who_paid_dir = who_paid_dir;
      all.who_paid_file = who_paid_file;
      all.report = report_file;
      all.backup = run_backup;
      all.run_args = ForwardedRunArgs(options, on_missing, dry_run);
      std::string all_from = !all_root.empty() ? all_root : root;
      return RunEveryPractice(all_from, all, out, err, stored_root);
    }
    if (data_path_option->count() == 0) {
      err << "run: DATA_PATH is required (or --all)\n";
      return 2;
    }
    if (!DestinationsUsable("run", report_file, run_backup, {data_path}, err)) return 2;
    if (!run_backup.empty() || dry_run) {
      return RunWithCopies(data_path, run_backup, dry_run, options, out, err);
    }
    return RunHeadless(data_path, options, out, err);
  }
  if (backup->parsed()) {
    if (!DestinationsUsable("backup", "", backup_to, {backup_from}, err)) return 2;
    return CopyCommand("backup", "backed up", backup_to, out, err, [&](conversion::Gauge* gauge) {
      return BackUpPractice(backup_from, backup_to, gauge, NoteTo("backup", err));
    });
  }
  if (restore->parsed()) {
    return CopyCommand("restore", "restored", restore_to, out, err, [&](conversion::Gauge* gauge) {
      return RestorePractice(restore_from, restore_to, gauge, NoteTo("restore", err));
    });
  }
  if (diff->parsed()) {
    try {
      // diff only reads: an interrupted restore in either folder stops it, changing nothing.
      for (const std::string& folder : {diff_before, diff_after}) RefuseInterruptedRestore(folder);
      WriteChangeReport(diff_before, diff_after, out);
      return 0;
    } catch (const std::exception& e) {
      return CommandFailed("diff", e, err);
    }
  }
  if (demo->parsed()) {
    try {
      MakeDemoRoot(demo_root, demo_options);
    } catch (const data::Exception& e) {
      err << "rivenoak demo: " << e.message() << "\n";
      return 1;
    }
    out << "made " << demo_options.practices << " practices in " << demo_root << "\n";
    return 0;
  }
  if (!desktop) {
    err << "rivenoak: the desktop program is not part of this build; use `rivenoak run`\n";
    return 2;
  }
  return desktop(root);
}

}  // namespace app
