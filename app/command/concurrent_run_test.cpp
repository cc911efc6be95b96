// rivenoak run beside another program that edits and locks the same transactions: the other
// program's changes outlive the run, the run ends finished or with the lock error it met, no
// document is left half applied, and a later run on its own completes the work.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>

#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

using isam::testing::FieldNumber;
using isam::testing::FieldText;
using isam::testing::RunSql;
using isam::testing::ScopedConnection;
using isam::testing::TempFolder;
using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

// Conditions on the transaction type of the row named t.
std::string IsCharge(const std::string& t) {
  return "(" + t + ".\"Transaction Type\" BETWEEN 'A' AND 'D' OR " + t +
         ".\"Transaction Type\" = 'H')";
}
std::string IsPayment(const std::string& t) {
  return t + ".\"Transaction Type\" BETWEEN 'I' AND 'U'";
}
// Rows of MWTRN.ADT c that are charges of payment p's document.
const char kSameDocument[] =
    "c.\"Chart Number\" = p.\"Chart Number\" AND c.\"Document Number\" = p.\"Document Number\"";

// `rivenoak run` over a practice as a process of its own, its standard output kept in a file;
// killed if still running at the end of the scope.
class RunProcess {
 public:
  RunProcess(const std::string& practice, std::string output) : output_(std::move(output)) {
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(126);
      execl(RIVENOAK_PATH, "rivenoak", "run", practice.c_str(), "--quiet", "--from", "01/01/2004",
            "--to", "12/31/2006", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~RunProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  RunProcess(const RunProcess&) = delete;
  RunProcess& operator=(const RunProcess&) = delete;

  bool Running() { return pid_ > 0 && !Reap(WNOHANG); }
  // The exit status once it has ended (-1 when a signal ended it).
  int Wait() {
    if (pid_ > 0) Reap(0);
    return status_;
  }
  std::string Output() const {
    std::ifstream in(output_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  bool Reap(int options) {
    int status = 0;
    if (waitpid(pid_, &status, options) != pid_) return false;
    pid_ = 0;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
  }
  std::string output_;
  pid_t pid_ = -1;
  int status_ = -2;
};

// What the other program did while the run went on.
struct OtherProgram {
  std::map<uint32_t, std::string> written;  // each record's last description written
  std::set<uint32_t> locked;                // every record it held at some time
  int edits = 0, locks = 0, long_holds = 0, refused = 0;
  std::chrono::milliseconds longest_write{0};  // the longest a write waited for the run
};

// Until the run ends, over and over: locks one of the records, writes a new description, holds
// the lock a few milliseconds and lets go; the second lock and every third after it is held far
// longer than the run takes from one record to the next, without writing. The run does not wait
// for a record lock: meeting one ends it with the lock error.
OtherProgram EditWhileRunning(const std::string& practice, const std::vector<uint32_t>& records,
                              RunProcess& run) {
  OtherProgram other;
  ScopedConnection connection(practice);
  IsamHandle trn = connection.Open("MWTRN.ADT");
  uint16_t description = FieldNumber(trn, "Description");
  std::mt19937 random(5);
  std::uniform_int_distribution<size_t> pick(0, records.size() - 1);
  for (int round = 1; run.Running(); ++round) {
    uint32_t recno = records[pick(random)];
    if (IsamLockRecord(trn, recno) != ISAM_SUCCESS) {
      ++other.refused;  // the run has it
      continue;
    }
    ++other.locks;
    other.locked.insert(recno);
    if (other.locks % 3 == 2) {
      ++other.long_holds;
      std::this_thread::sleep_for(300ms);
    } else {
      // The write waits while the run keeps the file busy; one that waits longer than the
      // engine allows fails and is not counted.
      std::string text = "note " + std::to_string(round);
      auto start = std::chrono::steady_clock::now();
      if (IsamGotoRecord(trn, recno) == ISAM_SUCCESS &&
          IsamSetField(trn, description, text.c_str()) == ISAM_SUCCESS &&
          IsamWriteRecord(trn) == ISAM_SUCCESS) {
        other.written[recno] = text;
        ++other.edits;
        other.longest_write =
            std::max(other.longest_write, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start));
      } else {
        IsamCancelUpdate(trn);
      }
      std::this_thread::sleep_for(3ms);
    }
    EXPECT_EQ(IsamUnlockRecord(trn, recno), 0u) << isam::testing::LastErrorText();
    std::this_thread::sleep_for(2ms);
  }
  return other;
}

class ConcurrentRun : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.path(), DemoOptions{1, 4000, 7});
    practice_ = root_.File("Practice1");
    RunSql(practice_ + "/MWTRN.ADT",
           "UPDATE records SET \"Who Paid\" = 'G' WHERE \"Who Paid\" IS NULL");
  }

  // The charges and payments of documents that hold a payment: the records the run changes.
  std::vector<uint32_t> RecordsTheRunNeeds() const {
    std::vector<uint32_t> records;
    for (const std::string& recno : app::testing::QueryColumn(
             practice_ + "/MWTRN.ADT", "SELECT _recno FROM records c WHERE (" + IsCharge("c") +
                                           " OR " + IsPayment("c") +
                                           ") AND EXISTS (SELECT 1 FROM records p WHERE " +
                                           kSameDocument + " AND " + IsPayment("p") + ")"))
      records.push_back(static_cast<uint32_t>(std::stoul(recno)));
    return records;
  }

  // Every description the other program wrote is still there, and nothing is half applied.
  void ExpectChangesKeptAndNothingHalfApplied(const OtherProgram& other) const {
    ScopedConnection connection(practice_);
    IsamHandle trn = connection.Open("MWTRN.ADT", ISAM_OPEN_READ_ONLY);
    uint16_t description = FieldNumber(trn, "Description");
    int lost = 0;
    for (const auto& [recno, text] : other.written) {
      ASSERT_EQ(IsamGotoRecord(trn, recno), 0u) << isam::testing::LastErrorText();
      std::string stored = FieldText(trn, description);
      if (stored != text && ++lost <= 5)
        ADD_FAILURE() << "record " << recno << " says '" << stored << "', written '" << text << "'";
    }
    EXPECT_EQ(lost, 0) << "changes of the other program overwritten";
    EXPECT_EQ(app::testing::PracticeFaults(practice_), Strings{});
  }

  TempFolder root_, output_;
  std::string practice_;
};

TEST_F(ConcurrentRun, EditsAndLocksOfAnotherProgramSurviveAndNoDocumentIsHalfApplied) {
  std::vector<uint32_t> needed = RecordsTheRunNeeds();
  ASSERT_GT(needed.size(), 1000u);

  RunProcess run(practice_, output_.File("first.txt"));
  OtherProgram other = EditWhileRunning(practice_, needed, run);
  int status = run.Wait();
  std::string out = run.Output();

  // Finished, or ended by a record the other program held, which the output names.
  std::smatch lock_error;
  bool locked_out = std::regex_search(
      out, lock_error, std::regex("\nerror: [^\n]*Record ([0-9]+) of MWTRN\\.ADT is locked"));
  if (locked_out) {
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(out.find("information: Finished."), std::string::npos) << out;
    EXPECT_TRUE(other.locked.count(static_cast<uint32_t>(std::stoul(lock_error[1]))))
        << "the run names a record the other program never held: " << out;
  } else {
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("\ninformation: Finished.\n"), std::string::npos) << out;
  }
  ExpectChangesKeptAndNothingHalfApplied(other);

  // Run again alone: it completes, and the same still holds.
  RunProcess again(practice_, output_.File("second.txt"));
  EXPECT_EQ(again.Wait(), 0) << again.Output();
  EXPECT_NE(again.Output().find("\ninformation: Finished.\n"), std::string::npos) << again.Output();
  ExpectChangesKeptAndNothingHalfApplied(other);
  // The checks above looked at applied documents.
  EXPECT_NE(
      app::testing::QueryColumn(practice_ + "/Mwpax.adt", "SELECT count(*) FROM records").at(0),
      "0");

  std::printf(
      "concurrent run: %d edits written by the other program (the longest waited %lld ms for the "
      "run), %d locks held (%d long, %d refused while the run held the record); the run %s; the "
      "run after it finished\n",
      other.edits, static_cast<long long>(other.longest_write.count()), other.locks,
      other.long_holds, other.refused,
      locked_out ? ("ended with the lock error on record " + lock_error[1].str()).c_str()
                 : "finished");
}

}  // namespace
}  // namespace app
