#include "app/command/practice_run.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>

#include "app/command/command_support.h"
#include "app/command/phase_timings.h"
#include "app/opening/practice_opening.h"
#include "app/practice/change_report.h"
#include "app/practice/output_places.h"
#include "app/practice/practice_copy.h"
#include "app/practice/practice_list.h"
#include "app/practice/run_report.h"
#include "app/practice/temporary_folder.h"
#include "common/file_names.h"
#include "conversion/practice_tables.h"
#include "conversion/who_paid.h"
#include "data/date_time.h"
#include "data/engine_call.h"
#include "data/errors.h"

namespace app {
namespace {

// A dry run works on a copy: what would keep the run itself from writing the practice's tables
// is found out first, without writing, so that the dry run promises nothing the run cannot do.
void CheckPracticeFree(const std::string& data_path) {
  for (const conversion::TableLayout& table : conversion::PracticeTables()) {
    if (IsamCheckTableFree(data_path.c_str(), table.file.c_str()) != 0) {
      throw PracticeDataError(data::LastEngineError().text);
    }
  }
}

// The run's options as the report lists them.
std::vector<std::pair<std::string, std::string>> OptionsOf(const PracticeRunOptions& options) {
  auto box = [](bool checked) { return std::string(checked ? "checked" : "unchecked"); };
  const conversion::RunOptions& run = options.run;
  return {{"Match Transaction Types with Procedure Types", box(run.match_transaction_types)},
          {"Apply Payments to Charges", box(run.apply_payments)},
          {"Over-apply", box(run.over_apply)},
          {"Adjust Payment Amounts", box(run.adjust_payment_amounts)},
          {"Strict Transaction Type Rules", box(run.strict_type_rules)},
          {"Answer to a missing payor", options.answers.missing_payor ? "yes" : "no"},
          {"Who-paid presses", std::to_string(options.answers.who_paid_presses.size())}};
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

// The run's range as the command line gives it, each date left out taken from the practice's
// conversion day, and the texts the report shows for it. Without both dates known the range
// stays unset, and the run asks for both before it reads either.
struct CommandLineRange {
  std::string from_text, to_text;

  CommandLineRange(const PracticeRunOptions& options, std::optional<data::TDateTime> conversion_day)
      : from_text(TextOr(options.from, conversion_day)),
        to_text(TextOr(options.to, conversion_day)) {}

  void ReadInto(conversion::RunOptions& run) const {
    if (from_text.empty() || to_text.empty()) return;
    run.from = data::StrToDate(from_text);
    run.to = data::StrToDate(to_text);
  }

 private:
  static std::string TextOr(const std::string& given, std::optional<data::TDateTime> day) {
    if (!given.empty() || !day) return given;
    return data::DateToStr(*day);
  }
};

// The phases of the run, each timed under its name.
conversion::RunPhases TimedPhases(conversion::RunPhases phases, PhaseTimings& timings) {
  phases.VerifyTranTypes = timings.Wrap("VerifyTranTypes", phases.VerifyTranTypes);
  phases.GetNoWhoPaid = timings.Wrap("GetNoWhoPaid", phases.GetNoWhoPaid);
  phases.ApplyPayAdj = timings.Wrap("ApplyPayAdj", phases.ApplyPayAdj);
  phases.AdjustPayments = timings.Wrap("AdjustPayments", phases.AdjustPayments);
  return phases;
}

}  // namespace

int RunWithCopies(const std::string& data_path, const std::string& backup, bool dry_run,
                  const PracticeRunOptions& options, std::ostream& out, std::ostream& err) {
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
    if (!dry_run) return RunPractice(data_path, options, out, err);
    CheckPracticeFree(data_path);
    TemporaryFolder scratch("rivenoak-dry-run");
    // The copy's folder has the practice folder's name, so that the run prints what it would
    // print for the practice itself.
    std::string name = std::filesystem::weakly_canonical(data_path).filename().string();
    std::string copy = scratch.path() + "/" + (name.empty() ? "practice" : name);
    CopyWithProgress(options.progress, err, [&](conversion::Gauge* gauge) {
      return BackUpPractice(data_path, copy, gauge, {}, restore_found);
    });
    PracticeRunOptions on_copy = options;
    on_copy.dry_run_of = data_path;
    int status = RunPractice(copy, on_copy, out, err);
    WriteChangeReport(data_path, copy, out);
    return status;
  } catch (const std::exception& e) {
    out << "error: " << common::EscapeControlCharacters(e.what()) << "\n";
    return 1;
  }
}

int RunPractice(const std::string& data_path, const PracticeRunOptions& options, std::ostream& out,
                std::ostream& err) {
  PrintingRunView view(out, err, options.progress, options.answers);
  if (!options.dry_run_of.empty()) {
    std::string practice = options.dry_run_of;
    while (practice.size() > 1 && practice.back() == '/') practice.pop_back();
    view.ShowPathAs(data_path, practice);
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
  CommandLineRange range(options, std::nullopt);
  try {
    conversion::PracticeDatasets practice;
    conversion::WhoPaidDialog who_paid;
    conversion::RunOptions run = options.run;  // the phases read it while they run
    conversion::RunPhases phases =
        TimedPhases(conversion::MakeRunPhases(practice, view, who_paid, run), timings);
    std::string path = FormatDataPath(data_path);
    ConnectPractice(practice, path, view);
    range = CommandLineRange(options, StartRangeAtConversion(practice, path, view));
    practice.OpenTables();
    range.ReadInto(run);
    conversion::RunConversion(practice, path, run, view, phases, CheckPracticeData);
    status = view.Finished() ? 0 : 1;
  } catch (const data::Exception& e) {
    failure = e.message();
    view.ShowError(e.message());
  } catch (const std::exception& e) {
    failure = e.what();
    view.ShowError(e.what());
  }
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - clock_start;
  if (options.progress) err << "\n";
  out << "types changed: " << view.TypesChanged() << "\n";
  for (const auto& [name, value] : conversion::SummaryOf(view.Counts())) {
    out << "summary: " << name << " = " << value << "\n";
  }
  if (!before) return status;
  RunRecord record;
  const std::string& practice = options.dry_run_of.empty() ? data_path : options.dry_run_of;
  record.practice = FolderName(practice);
  record.data_path = std::filesystem::absolute(practice).lexically_normal().string();
  record.dry_run = !options.dry_run_of.empty();
  record.date_from = range.from_text;
  record.date_to = range.to_text;
  record.options = OptionsOf(options);
  record.started = LocalTimeText(started);
  record.seconds = took.count();
  record.outcome = status == 0 ? (view.StopFlag() ? "stopped" : "finished")
                               : "error: " + (failure.empty() ? "the run did not finish" : failure);
  record.phases = CaptionedPhases(timings.Times());
  record.counts = view.Counts();
  try {
    WriteReportFile(options.report, record, before->path() + "/practice", data_path);
  } catch (const std::exception& e) {
    return CommandFailed("run", e, err);
  }
  return status;
}

}  // namespace app
