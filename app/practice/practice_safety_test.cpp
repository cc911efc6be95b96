// What keeps a practice whole around copies and runs: restores that are all or nothing even when
// killed or held up by another program, backups that are complete or plainly not, tables left
// with a hot journal by a killed writer, folder names that look like URIs, keys the run cannot
// join on, files of presses, and messages that say where a value is.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/practice/demo_practice.h"
#include "app/practice/practice_copy.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using isam::testing::RunSql;
using isam::testing::TempFolder;
using testing::Differences;
using testing::Outcome;
using testing::QueryColumn;
using testing::Rivenoak;

// A demo practice whose payments all have a payer, so that runs go through every phase.
std::string MakePractice(const std::string& folder) {
  TempFolder root;
  MakeDemoRoot(root.path(), DemoOptions{1, 80, 11});
  fs::copy(root.File("Practice1"), folder, fs::copy_options::recursive);
  RunSql(folder + "/MWTRN.ADT", "UPDATE records SET \"Who Paid\"='G' WHERE \"Who Paid\" IS NULL");
  return folder;
}

std::vector<std::string> Amounts(const std::string& practice) {
  return QueryColumn(practice + "/MWTRN.ADT", "SELECT \"Amount\" FROM records ORDER BY _recno");
}

// A gauge that kills its process with SIGKILL when it is first set after `sets_left` sets.
class KillingGauge : public conversion::Gauge {
 public:
  explicit KillingGauge(int sets_left) : sets_left_(sets_left) {}
  void SetMax(int max) override {
    Count();
    max_ = max;
  }
  void SetPosition(int position) override {
    Count();
    position_ = position;
  }
  int Max() const override { return max_; }
  int Position() const override { return position_; }

 private:
  void Count() {
    if (sets_left_-- == 0) raise(SIGKILL);
  }
  int sets_left_;
  int max_ = 0;
  int position_ = 0;
};

// Runs `work` in a child process and returns whether SIGKILL ended it.
bool KilledInChild(const std::function<void()>& work) {
  pid_t child = fork();
  if (child == 0) {
    try {
      work();
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

class PracticeSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    practice_ = MakePractice(folder_.File("practice"));
    backup_ = folder_.File("backup");
    ASSERT_EQ(Rivenoak({"backup", practice_, backup_}).status, 0);
    // After a run the practice differs from the backup in many records of every table it writes.
    Outcome run = Rivenoak({"run", practice_, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.out;
    after_run_ = folder_.File("after-run");
    ASSERT_EQ(Rivenoak({"backup", practice_, after_run_}).status, 0);
    ASSERT_FALSE(Differences(backup_, practice_).empty());
  }
  TempFolder folder_;
  std::string practice_, backup_, after_run_;
};

TEST_F(PracticeSafety, AKilledRestoreIsFinishedOrUndoneByTheNextCommand) {
  // Killed while it writes the second table: the plan was written, so the next command finishes.
  EXPECT_TRUE(KilledInChild([&] {
    KillingGauge gauge(3);
    RestorePractice(backup_, practice_, &gauge);
  }));
  EXPECT_TRUE(fs::exists(practice_ + "/.rivenoak-restore/plan"));
  Outcome backup = Rivenoak({"backup", practice_, folder_.File("next")});
  EXPECT_EQ(backup.status, 0) << backup.err;
  EXPECT_EQ(backup.err, "rivenoak backup: A restore into " + practice_ + " from " + backup_ +
                            " was interrupted and has been finished: the practice holds the "
                            "backup's tables\n");
  EXPECT_EQ(Differences(backup_, practice_), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(practice_ + "/.rivenoak-restore"));

  // Killed before the plan was written: the tables were never touched, and the run undoes it.
  ASSERT_EQ(Rivenoak({"restore", after_run_, practice_}).status, 0);
  fs::create_directory(practice_ + "/.rivenoak-restore");
  fs::copy_file(backup_ + "/MWTRN.ADT", practice_ + "/.rivenoak-restore/0");
  Outcome run =
      Rivenoak({"run", practice_, "--quiet", "--no-apply", "--no-adjust", "--no-match-types"});
  EXPECT_EQ(run.out.rfind("information: A restore into " + practice_ +
                              " was interrupted before it changed anything and has been undone: "
                              "the practice is as it was before it\n",
                          0),
            0u)
      << run.out;
  EXPECT_EQ(Differences(after_run_, practice_), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(practice_ + "/.rivenoak-restore"));
}

TEST_F(PracticeSafety, ARestoreHeldUpByAnotherProgramChangesNothingOrWaitsItOut) {
  std::atomic<bool> restored = false;
  // Another program's read transaction on Mwpax.adt, held for `hold_ms` or until the restore ends.
  auto reader = [&](int hold_ms) {
    sqlite3* db = nullptr;
    sqlite3_open((practice_ + "/Mwpax.adt").c_str(), &db);
    sqlite3_exec(db, "BEGIN; SELECT count(*) FROM records", nullptr, nullptr, nullptr);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(hold_ms);
    while (!restored && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  };
  {
    // Held for as long as the restore waits: refused before any table is written.
    std::thread other_program(reader, 60000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Outcome o = Rivenoak({"restore", backup_, practice_});
    restored = true;
    other_program.join();
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Mwpax.adt is kept busy by another program"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("nothing was restored"), std::string::npos) << o.err;
    EXPECT_EQ(Differences(after_run_, practice_), std::vector<std::string>{});
  }
  // Held for a moment: waited out, and the whole backup restored.
  std::thread other_program(reader, 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Outcome o = Rivenoak({"restore", backup_, practice_});
  other_program.join();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Differences(backup_, practice_), std::vector<std::string>{});
}

TEST_F(PracticeSafety, OnlyACompleteUnchangedBackupIsRestored) {
  std::string killed = folder_.File("killed");
  EXPECT_TRUE(KilledInChild([&] {
    KillingGauge gauge(2);
    BackUpPractice(practice_, killed, &gauge);
  }));
  EXPECT_FALSE(fs::exists(killed));
  Outcome o = Rivenoak({"restore", killed, practice_});
  EXPECT_EQ(o.err, "rivenoak restore: The folder " + killed + " is missing\n");

  // Folders that look like backups: without a manifest, missing a file, with a changed file.
  std::string copied = folder_.File("copied");
  fs::copy(backup_, copied);
  fs::remove(copied + "/Backup.manifest");
  o = Rivenoak({"restore", copied, practice_});
  EXPECT_EQ(o.err, "rivenoak restore: The folder " + copied +
                       " is not a complete backup: Backup.manifest is missing (a backup that was "
                       "stopped before it was finished has none); nothing was restored\n");
  std::string partial = folder_.File("partial");
  fs::copy(backup_, partial);
  fs::remove(partial + "/Mwpax.adt");
  o = Rivenoak({"restore", partial, practice_});
  EXPECT_EQ(o.err, "rivenoak restore: The folder " + partial +
                       " is not a complete backup: Mwpax.adt is missing; nothing was restored\n");
  std::string changed = folder_.File("changed");
  fs::copy(backup_, changed);
  RunSql(changed + "/Mwpro.adt", "UPDATE records SET \"Description\"='changed'");
  o = Rivenoak({"restore", changed, practice_});
  EXPECT_EQ(o.err, "rivenoak restore: The folder " + changed +
                       " is not a complete backup: Mwpro.adt is not the file the backup wrote "
                       "(its size or checksum differs); nothing was restored\n");
  EXPECT_EQ(Differences(after_run_, practice_), std::vector<std::string>{});
}

TEST_F(PracticeSafety, BackupsLeaveOutTheFilesOfProgramsAtWork) {
  for (const char* name : {"MWTRN.ADT-journal", "Mwpro.adt-mj08A526957", "Mwpax.adt-wal",
                           "Mwpax.adt-shm", "MWTRN.ADT.lck"}) {
    std::ofstream(practice_ + "/" + name) << "";
  }
  std::string copy = folder_.File("copy");
  Outcome o = Rivenoak({"backup", practice_, copy});
  EXPECT_EQ(o.status, 0) << o.err;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(copy)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Backup.manifest", "Convert.log", "MWTRN.ADT",
                                             "Mwpax.adt", "Mwpro.adt"}));
}

// A writer that began changing every amount, had written its changes into the file and was killed
// before it committed: its journal is hot.
void LeaveHotJournal(const std::string& table) {
  EXPECT_TRUE(KilledInChild([&] {
    sqlite3* db = nullptr;
    sqlite3_open(table.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA cache_size=1; BEGIN; UPDATE records SET \"Amount\"=999999, "
                 "\"Description\"=printf('%.40c', 'x')",
                 nullptr, nullptr, nullptr);
    raise(SIGKILL);
  }));
  ASSERT_TRUE(fs::exists(table + "-journal"));
}

TEST_F(PracticeSafety, EveryCommandReadsTablesAsTheyWereBeforeAKilledWriter) {
  std::vector<std::string> amounts = Amounts(after_run_);
  LeaveHotJournal(practice_ + "/MWTRN.ADT");
  std::string copy = folder_.File("copy");
  Outcome o = Rivenoak({"backup", practice_, copy});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Amounts(copy), amounts);

  LeaveHotJournal(practice_ + "/MWTRN.ADT");
  o = Rivenoak({"diff", after_run_, practice_});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Differences(after_run_, practice_), std::vector<std::string>{});

  LeaveHotJournal(practice_ + "/MWTRN.ADT");
  o = Rivenoak({"run", practice_, "--quiet", "--dry-run"});
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(o.out.find("readonly"), std::string::npos) << o.out;

  LeaveHotJournal(practice_ + "/MWTRN.ADT");
  o = Rivenoak({"run", practice_, "--quiet", "--backup", folder_.File("before")});
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(Amounts(folder_.File("before")), amounts);
}

// Folder names that SQLite would read as URIs or URI parts reach it as plain file names.
TEST_F(PracticeSafety, FolderNamesAreNeverReadAsUris) {
  struct WorkingFolder {
    fs::path previous = fs::current_path();
    explicit WorkingFolder(const std::string& to) { fs::current_path(to); }
    ~WorkingFolder() { fs::current_path(previous); }
  } here(folder_.path());
  // "file:practice" is a folder of its own beside "practice", which must stay as it is.
  fs::copy(after_run_, "file:practice");
  fs::remove("file:practice/Backup.manifest");
  Outcome o = Rivenoak({"restore", "backup", "file:practice"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Differences("backup", "file:practice"), std::vector<std::string>{});
  EXPECT_EQ(Differences("after-run", "practice"), std::vector<std::string>{});

  for (const char* name : {"a?mode=ro", "b#x", "c%41", "file:d?e#f%"}) {
    std::string folder = name;
    o = Rivenoak({"backup", "practice", folder});
    EXPECT_EQ(o.status, 0) << name << ": " << o.err;
    o = Rivenoak({"restore", "backup", folder});
    EXPECT_EQ(o.status, 0) << name << ": " << o.err;
    EXPECT_EQ(Differences("backup", folder), std::vector<std::string>{}) << name;
    o = Rivenoak({"run", folder, "--quiet"});
    EXPECT_EQ(o.status, 0) << name << ": " << o.out;
    EXPECT_EQ(Differences("after-run", folder), std::vector<std::string>{}) << name;
  }
  EXPECT_EQ(Differences("after-run", "practice"), std::vector<std::string>{});
}

TEST_F(PracticeSafety, KeysThatCannotBeJoinedOnStopTheRunBeforeAnyChange) {
  ASSERT_EQ(Rivenoak({"restore", backup_, practice_}).status, 0);
  RunSql(practice_ + "/MWTRN.ADT",
         "UPDATE records SET \"Entry Number\"=(SELECT \"Entry Number\" FROM records WHERE "
         "_recno=3) WHERE _recno=5;"
         "UPDATE records SET \"Entry Number\"=9.5 WHERE _recno=7;"
         "UPDATE records SET \"Entry Number\"='e9' WHERE _recno=8;"
         "UPDATE records SET \"Entry Number\"=3000000009 WHERE _recno=9;"
         "UPDATE records SET \"Entry Number\"=0 WHERE _recno=10;"
         "UPDATE records SET \"Entry Number\"=5.0 WHERE _recno=11");
  RunSql(practice_ + "/Mwpax.adt",
         "INSERT INTO records (\"Payment Reference\", \"Charge Reference\", \"Payment Amount\") "
         "VALUES (1, 2.5, 1)");
  std::string entry3 = QueryColumn(practice_ + "/MWTRN.ADT",
                                   "SELECT \"Entry Number\" FROM records WHERE _recno=3")[0];
  std::string pax = QueryColumn(practice_ + "/Mwpax.adt", "SELECT max(_recno) FROM records")[0];
  std::string state = folder_.File("state");
  ASSERT_EQ(Rivenoak({"backup", practice_, state}).status, 0);

  Outcome o = Rivenoak({"run", practice_, "--quiet"});
  EXPECT_EQ(o.status, 1);
  std::string p = practice_ + "/";
  EXPECT_NE(o.out.find("error: The run cannot join payments to their charges: " + p +
                       "MWTRN.ADT: 6 records have an \"Entry Number\" that is not unique or not "
                       "a whole number from 1 to 2147483647: record 3 (" +
                       entry3 + ", also in 1 other record), record 5 (" + entry3 +
                       ", also in 1 other record), record 7 (9.5, not a whole number), record 8 "
                       "('e9', not a whole number), record 9 (3000000009, not a whole number), "
                       "...; " +
                       p +
                       "Mwpax.adt: 1 record has a \"Charge Reference\" that is not "
                       "a whole number: record " +
                       pax +
                       " (2.5, not a whole number). Nothing "
                       "was changed; correct these records and run again.\n"),
            std::string::npos)
      << o.out;
  EXPECT_EQ(Differences(state, practice_), std::vector<std::string>{});
}

TEST_F(PracticeSafety, FilesOfPressesAreCheckedBeforeTheRun) {
  std::string presses = folder_.File("presses");
  std::ofstream(presses) << "\xEF\xBB\xBFthis G\n# comment\n\nclose\n";
  Outcome o = Rivenoak({"run", practice_, "--quiet", "--who-paid", presses});
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(o.out.find("warning"), std::string::npos) << o.out;

  for (const char* line : {"this g", "foo G", "this G extra", "all"}) {
    std::ofstream(presses) << "this G\n\n" << line << "\n";
    o = Rivenoak({"run", practice_, "--quiet", "--who-paid", presses});
    EXPECT_EQ(o.status, 2) << line;
    EXPECT_EQ(o.out, "") << line;
    EXPECT_NE(o.err.find(presses + " line 3 \"" + line + "\" is no press"), std::string::npos)
        << o.err;
  }
}

TEST_F(PracticeSafety, AnAmountThatIsNoMoneyValueStopsTheRunBeforeAnyChange) {
  ASSERT_EQ(Rivenoak({"restore", backup_, practice_}).status, 0);
  std::string charge = QueryColumn(practice_ + "/MWTRN.ADT",
                                   "SELECT min(_recno) FROM records WHERE \"Transaction Type\" "
                                   "BETWEEN 'A' AND 'D'")[0];
  // What another program may have stored, and how the run names it: a decimal comma, texts
  // and a blob that are no number, an infinity, and numbers whose cents a stored amount cannot
  // hold exactly (2^53 cents and more).
  const std::pair<const char*, std::string> kStored[] = {
      {"'12,50'", "'12,50' is not a money value"},
      {"'NaN'", "'NaN' is not a money value"},
      {"'abc'", "'abc' is not a money value"},
      {"X'3132'", "A blob is not a money value"},
      {"9e999", "Floating point overflow: inf is not a money value"},
      {"-9e999", "Floating point overflow: -inf is not a money value"},
      {"1e14", "Floating point overflow: 1e+14 is not a money value"},
      {"'-90071992547409.92'", "Floating point overflow: -90071992547409.92 is not a money value"},
      {"1e15", "Floating point overflow: 1e+15 is not a money value"},
      {"1e300", "Floating point overflow: 1e+300 is not a money value"}};
  for (const auto& [stored, named] : kStored) {
    for (const char* field : {"Amount", "Guarantor Amount Paid"}) {
      RunSql(practice_ + "/MWTRN.ADT", std::string("UPDATE records SET \"") + field +
                                           "\"=" + stored + " WHERE _recno=" + charge);
      std::string state = folder_.File("state");
      fs::remove_all(state);
      ASSERT_EQ(Rivenoak({"backup", practice_, state}).status, 0);
      Outcome o =
          Rivenoak({"run", practice_, "--quiet", "--from", "01/01/1900", "--to", "12/31/2099"});
      EXPECT_EQ(o.status, 1) << stored;
      EXPECT_NE(o.out.find("error: The run cannot use the practice's amounts: " + named + " (" +
                           practice_ + "/MWTRN.ADT, record " + charge + ", field \"" + field +
                           "\"). Nothing was changed; correct these records and run again.\n"),
                std::string::npos)
          << stored << "\n"
          << o.out;
      EXPECT_EQ(Differences(state, practice_), std::vector<std::string>{}) << stored;
      ASSERT_EQ(Rivenoak({"restore", backup_, practice_}).status, 0);
    }
  }
  // A number stored as text is read as the engine reads it, and the largest exact amount
  // passes.
  for (const char* stored : {"'12.50'", "90071992547409.9"}) {
    RunSql(practice_ + "/MWTRN.ADT",
           std::string("UPDATE records SET \"Amount\"=") + stored + " WHERE _recno=" + charge);
    Outcome o =
        Rivenoak({"run", practice_, "--quiet", "--from", "01/01/1900", "--to", "12/31/2099"});
    EXPECT_EQ(o.out.find("the practice's amounts"), std::string::npos) << stored << "\n" << o.out;
    ASSERT_EQ(Rivenoak({"restore", backup_, practice_}).status, 0);
  }
}

TEST_F(PracticeSafety, AnApplicationAmountThatIsNoMoneyValueIsNamedToo) {
  ASSERT_EQ(Rivenoak({"restore", backup_, practice_}).status, 0);
  RunSql(practice_ + "/Mwpax.adt",
         "INSERT INTO records (\"Payment Reference\", \"Charge Reference\", \"Payment "
         "Amount\") VALUES (1, 2, '3,25')");
  std::string pax = QueryColumn(practice_ + "/Mwpax.adt", "SELECT max(_recno) FROM records")[0];
  Outcome o = Rivenoak({"run", practice_, "--quiet", "--from", "01/01/1900", "--to", "12/31/2099"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("'3,25' is not a money value (" + practice_ + "/Mwpax.adt, record " + pax +
                       ", field \"Payment Amount\")"),
            std::string::npos)
      << o.out;
  ASSERT_EQ(Rivenoak({"restore", backup_, practice_}).status, 0);
}

}  // namespace
}  // namespace app
