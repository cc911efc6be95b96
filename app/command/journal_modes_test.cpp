// Practices whose tables another program wrote, in its own journal mode, and which another
// program may hold open while a run starts: the run gives the same tables in every mode, waits
// out a short hold, and stops before any change, naming the file, when the file is kept from it.
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using isam::testing::JournalMode;
using isam::testing::TempFolder;
using testing::Outcome;
using Strings = std::vector<std::string>;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Another program that opens a table with plain SQLite in a process of its own, reads from it
// (inside a transaction when asked), and keeps it so until released or for `hold_ms`.
class TableHolder {
 public:
  TableHolder(const std::string& file, bool in_transaction, int hold_ms = -1) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      sqlite3* db = nullptr;
      sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      if (in_transaction) sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
      sqlite3_exec(db, "SELECT count(*) FROM records", nullptr, nullptr, nullptr);
      char byte = 1;
      if (write(ready[1], &byte, 1) != 1) _exit(2);
      if (hold_ms >= 0) {
        usleep(static_cast<useconds_t>(hold_ms) * 1000);
      } else if (read(release[0], &byte, 1) < 0) {
        _exit(3);
      }
      if (in_transaction) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1) << "the holder did not open " << file;
    close(ready[0]);
  }
  ~TableHolder() { Release(); }
  void Release() {
    if (pid_ <= 0) return;
    close(release_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
  int release_ = -1;
};

class JournalModes : public ::testing::TestWithParam<JournalMode> {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.File("demo"), DemoOptions{1, 300, 17});
    // Every payment of type I has its primary insurer, every other one is left to the presses.
    isam::testing::RunSql(root_.File("demo/Practice1/MWTRN.ADT"),
                          "UPDATE records SET \"Who Paid\" = '1' WHERE \"Who Paid\" IS NULL AND "
                          "\"Transaction Type\" = 'I'");
    std::ofstream presses(root_.File("presses.txt"));
    for (int i = 0; i < 60; ++i) presses << "all G\n";
  }

  // The demo practice written again by another program in the journal mode given.
  std::string Practice(const std::string& name, JournalMode mode) {
    testing::RewritePractice(root_.File("demo/Practice1"), root_.File(name), mode);
    return root_.File(name);
  }

  Outcome Run(const std::string& practice, bool match_types = true) {
    Strings args = {"run",        practice,     "--quiet",
                    "--from",     "01/01/1900", "--to",
                    "12/31/2099", "--who-paid", root_.File("presses.txt")};
    if (!match_types) args.push_back("--no-match-types");
    return testing::Rivenoak(args);
  }

  TempFolder root_;
};

INSTANTIATE_TEST_SUITE_P(Each, JournalModes, ::testing::ValuesIn(isam::testing::kJournalModes),
                         isam::testing::JournalModeTestName);

// With and without type verification, so that the who-paid dialog is the first to write.
TEST_P(JournalModes, ARunGivesTheTablesThatTheSamePracticeGivesInRollbackMode) {
  for (bool match_types : {true, false}) {
    std::string tag = match_types ? "-types" : "-no-types";
    std::string reference = Practice("reference" + tag, JournalMode::kRollback);
    std::string practice = Practice("practice" + tag, GetParam());
    Outcome expected = Run(reference, match_types);
    ASSERT_EQ(expected.status, 0) << expected.out;
    Outcome outcome = Run(practice, match_types);
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_EQ(outcome.out, expected.out);
    EXPECT_EQ(testing::Differences(reference, practice), Strings{});
    EXPECT_EQ(testing::PracticeFaults(practice), Strings{});
    // The usual second run: the types already agree, the documents are applied.
    EXPECT_EQ(Run(reference, match_types).status, 0);
    EXPECT_EQ(Run(practice, match_types).status, 0);
    EXPECT_EQ(testing::Differences(reference, practice), Strings{});
  }
}

TEST_P(JournalModes, AReadersShortTransactionAtTheStartIsWaitedOut) {
  std::string reference = Practice("reference", JournalMode::kRollback);
  std::string practice = Practice("practice", GetParam());
  ASSERT_EQ(Run(reference).status, 0);
  Outcome outcome;
  {
    TableHolder reader(practice + "/MWTRN.ADT", true, 1500);
    outcome = Run(practice);
  }
  EXPECT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_EQ(testing::Differences(reference, practice), Strings{});
}

class OtherPrograms : public ::testing::Test {
 protected:
  // A demo practice as another program wrote it, in the journal mode given.
  std::string Practice(JournalMode mode) {
    MakeDemoRoot(root_.File("demo"), DemoOptions{1, 200, 5});
    testing::RewritePractice(root_.File("demo/Practice1"), root_.File("practice"), mode);
    return root_.File("practice");
  }
  static Strings RunOver(const std::string& practice) {
    return {"run", practice, "--quiet", "--from", "01/01/1900", "--to", "12/31/2099"};
  }
  TempFolder root_;
};

// A program that keeps a table open in write-ahead mode keeps it from leaving that mode, which
// the run needs before it writes: the run says so before it changes anything.
TEST_F(OtherPrograms, ATableKeptOpenInWalModeStopsTheRunBeforeAnyChangeNamingTheFile) {
  std::string practice = Practice(JournalMode::kWal);
  Strings args = RunOver(practice);
  {
    TableHolder reader(practice + "/MWTRN.ADT", false);
    Outcome outcome = testing::Rivenoak(args);
    EXPECT_EQ(outcome.status, 1) << outcome.out;
    EXPECT_NE(outcome.out.find(practice + "/MWTRN.ADT is kept open"), std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find("close the other program and run again"), std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.out.find("status: "), std::string::npos) << "no phase ran:\n" << outcome.out;
    // A dry run does not promise what the run cannot do.
    Strings dry = args;
    dry.push_back("--dry-run");
    Outcome dry_run = testing::Rivenoak(dry);
    EXPECT_EQ(dry_run.status, 1) << dry_run.out;
    EXPECT_NE(dry_run.out.find(practice + "/MWTRN.ADT is kept open"), std::string::npos)
        << dry_run.out;
  }
  EXPECT_EQ(testing::Differences(root_.File("demo/Practice1"), practice), Strings{});
  // The other program has closed it: the run goes ahead.
  EXPECT_EQ(testing::Rivenoak(args).status, 0);
}

// In rollback mode a reader does not keep the run from beginning its changes, only from
// committing them: the run stops at its first commit, naming the file, with nothing half applied.
TEST_F(OtherPrograms, AReadTransactionHeldPastTheWaitStopsTheRunNamingTheFile) {
  std::string practice = Practice(JournalMode::kRollback);
  TableHolder reader(practice + "/Mwpro.adt", true);
  Outcome outcome = testing::Rivenoak(RunOver(practice));
  reader.Release();
  EXPECT_EQ(outcome.status, 1) << outcome.out;
  EXPECT_NE(outcome.out.find("error: "), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find(practice + "/Mwpro.adt is kept busy by another program"),
            std::string::npos)
      << outcome.out;
  EXPECT_EQ(testing::PracticeFaults(practice), Strings{});
}

// Two files of one table would have one phase write the one and another the other.
TEST_F(OtherPrograms, AFolderHoldingATableInTwoSpellingsIsRefusedBeforeAnyChange) {
  std::string practice = Practice(JournalMode::kRollback);
  fs::copy_file(practice + "/MWTRN.ADT", practice + "/Mwtrn.adt");
  std::string before = root_.File("before");
  fs::copy(practice, before);
  Outcome outcome = testing::Rivenoak(RunOver(practice));
  EXPECT_EQ(outcome.status, 1) << outcome.out;
  EXPECT_NE(outcome.out.find("MWTRN.ADT, Mwtrn.adt"), std::string::npos) << outcome.out;
  // The tools that read a practice refuse it too.
  for (const Strings& command :
       {Strings{"backup", practice, root_.File("copy")}, Strings{"diff", practice, before},
        Strings{"run", practice, "--dry-run", "--quiet"}}) {
    Outcome refused = testing::Rivenoak(command);
    EXPECT_EQ(refused.status, 1) << command[0] << ":\n" << refused.out << refused.err;
    EXPECT_NE((refused.out + refused.err).find("MWTRN.ADT, Mwtrn.adt"), std::string::npos)
        << command[0] << ":\n"
        << refused.out << refused.err;
  }
  EXPECT_FALSE(fs::exists(root_.File("copy")));
  for (const char* file : {"MWTRN.ADT", "Mwtrn.adt", "Mwpax.adt", "Mwpro.adt"}) {
    EXPECT_EQ(Bytes(practice + "/" + file), Bytes(before + "/" + file)) << file << " changed";
  }
}

}  // namespace
}  // namespace app
