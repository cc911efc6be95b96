// A restore's staging folder, its plan and the one check of it (see the header).
#include "app/practice/restore_stage.h"

#include <filesystem>
#include <sstream>
#include <system_error>

#include "app/practice/backup_files.h"
#include "app/practice/practice_folder.h"
#include "common/file_entries.h"
#include "common/file_names.h"

namespace app::copies {
namespace {

namespace fs = std::filesystem;
using namespace backup_files;  // NOLINT: the files of a backup

constexpr char kRestoreFolder[] = ".rivenoak-restore";
constexpr char kPlanFirstLine[] = "rivenoak restore 1";

// The refusal of a staging folder that fails the check, `why` saying what is wrong with it.
PracticeDataError StageRefusal(const std::string& data_path, const std::string& why) {
  return PracticeDataError("The restore folder " + StageFolder(data_path) +
                           " was not written by this program or is damaged: " + why +
                           ". Nothing was done with it; remove the folder once no restore into " +
                           PracticeName(data_path) + " is at work");
}

// The plan of the staging folder of `data_path`, read line by line as a restore writes it.
Plan ReadPlan(const std::string& data_path) {
  std::istringstream in(ReadText(Join(StageFolder(data_path), kPlanName)));
  auto refuse = [&](const std::string& why) { return StageRefusal(data_path, why); };
  std::string line;
  if (!std::getline(in, line) || line != kPlanFirstLine)
    throw refuse("its plan is no restore plan");
  Plan plan;
  std::vector<std::string> logs;
  bool ended = false;
  while (std::getline(in, line)) {
    std::string shown = common::EscapeControlCharacters(line);
    if (ended) throw refuse("its plan goes on after its end: " + shown);
    if (line == "end") {
      ended = true;
    } else if (line.rfind("from ", 0) == 0) {
      plan.backup = line.substr(5);
    } else if (line.rfind("table ", 0) == 0) {
      plan.tables.push_back(line.substr(6));
    } else if (line.rfind("log ", 0) == 0) {
      std::istringstream fields(line.substr(4));
      std::string name;
      if (!(fields >> plan.log_write_time) || fields.get() != ' ' || !std::getline(fields, name)) {
        throw refuse("its plan has a broken line: " + shown);
      }
      logs.push_back(name);
    } else {
      throw refuse("its plan has a line no restore writes: " + shown);
    }
  }
  if (!ended) throw refuse("its plan is cut short");
  std::string names = ListedNamesFault("its plan", plan.tables, logs);
  if (!names.empty()) throw refuse(names);
  if (plan.backup.empty()) throw refuse("its plan names no backup");
  if (plan.tables.empty()) throw refuse("its plan names no table");
  if (!logs.empty()) plan.log = logs.front();
  return plan;
}

// Throws when the staged file `name` is missing, a link or no file.
void CheckStagedFile(const std::string& data_path, const std::string& name) {
  std::error_code ec;
  fs::file_status status = fs::symlink_status(Join(StageFolder(data_path), name), ec);
  if (!fs::exists(status)) throw StageRefusal(data_path, "its file " + name + " is missing");
  if (fs::is_symlink(status)) {
    throw StageRefusal(data_path, "its file " + name + " is a symbolic link");
  }
  if (!fs::is_regular_file(status)) {
    throw StageRefusal(data_path, "its file " + name + " is not a file");
  }
}

// Throws when a file the plan stages is missing, a link, no file, or no table where a table is
// staged, or when a file beside a staged table is a link or no file (it would stop the restore
// when that table is read, after the tables before it were written). The staged log may be missing
// only when the restore already moved it into the practice, with the last-write time the plan gives
// it.
void CheckStagedFiles(const std::string& data_path, const Plan& plan, StagedTableCheck depth) {
  std::string stage = StageFolder(data_path);
  for (size_t i = 0; i < plan.tables.size(); ++i) {
    std::string name = std::to_string(i);
    CheckStagedFile(data_path, name);
    std::string staged = Join(stage, name);
    // Before the table is opened, which may already act on the files beside it.
    for (const char* beside : kBesideTable) {
      std::string kind = common::NonPlainKindAt(staged + beside);
      if (!kind.empty()) {
        throw StageRefusal(data_path, "its file " + name + beside + " is " + kind);
      }
    }
    bool table = depth == StagedTableCheck::kOpened ? IsTable(staged) : IsTableHeader(staged);
    if (!table) {
      throw StageRefusal(data_path, "its file " + name + " is not a table");
    }
  }
  if (plan.log.empty()) return;
  std::string moved = Join(data_path, plan.log);
  std::error_code ec;
  if (!Exists(Join(stage, "log")) && fs::is_regular_file(fs::symlink_status(moved, ec)) &&
      WriteTimeCount(moved) == plan.log_write_time) {
    return;
  }
  CheckStagedFile(data_path, "log");
}

}  // namespace

std::string PlanText(const Plan& plan) {
  std::ostringstream text;
  text << kPlanFirstLine << "\nfrom " << common::EscapeControlCharacters(plan.backup) << "\n";
  for (const std::string& name : plan.tables) text << "table " << name << "\n";
  if (!plan.log.empty()) text << "log " << plan.log_write_time << " " << plan.log << "\n";
  text << "end\n";
  return text.str();
}

std::string StageFolder(const std::string& data_path) {
  return Join(data_path, kRestoreFolder);
}

std::string DoneFolder(const std::string& data_path) {
  return Join(data_path, std::string(kRestoreFolder) + "-done");
}

WaitingRestore CheckRestoreFolder(const std::string& data_path, StagedTableCheck depth) {
  std::string stage = StageFolder(data_path);
  std::error_code ec;
  fs::file_status status = fs::symlink_status(stage, ec);
  if (!fs::exists(status)) return {};
  if (fs::is_symlink(status)) throw StageRefusal(data_path, "it is a symbolic link");
  if (!fs::is_directory(status)) throw StageRefusal(data_path, "it is not a folder");
  fs::file_status plan = fs::symlink_status(Join(stage, kPlanName), ec);
  if (!fs::exists(plan)) return {WaitingRestore::State::kUndecided, {}};
  if (fs::is_symlink(plan)) throw StageRefusal(data_path, "its plan is a symbolic link");
  if (!fs::is_regular_file(plan)) throw StageRefusal(data_path, "its plan is not a file");
  WaitingRestore waiting{WaitingRestore::State::kDecided, ReadPlan(data_path)};
  CheckStagedFiles(data_path, waiting.plan, depth);
  return waiting;
}

std::string WaitingRestoreText(const std::string& data_path, const WaitingRestore& waiting) {
  std::string practice = PracticeName(data_path);
  std::string leaves =
      "; this command only reads the practice and leaves the restore alone: rivenoak backup, "
      "restore or run on the practice ";
  if (waiting.state == WaitingRestore::State::kUndecided) {
    return "An interrupted restore into " + practice +
           " waits to be undone (it changed nothing yet)" + leaves + "undoes it";
  }
  return "An interrupted restore into " + practice + " from " +
         common::EscapeControlCharacters(waiting.plan.backup) +
         " waits to be finished, and the practice is not whole until it is" + leaves +
         "finishes it";
}

}  // namespace app::copies
