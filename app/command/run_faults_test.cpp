// A run that meets a fault of its surroundings: a disk that fills up at any moment, a practice
// folder it may not write in. The run ends with an error that says what happened, and leaves
// every table whole and no document half applied; a later run finishes the work.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "app/command/command_line.h"
#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/fault_vfs.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

using isam::testing::Fault;
using isam::testing::FaultVfs;
using isam::testing::TempFolder;
using Strings = std::vector<std::string>;

using testing::Outcome;

// The run's lines, then anything on standard error.
Outcome RunOn(const std::string& practice) {
  Outcome outcome =
      testing::Rivenoak({"run", practice, "--quiet", "--from", "01/01/2000", "--to", "12/31/2030"});
  outcome.out += outcome.err;
  return outcome;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The demo practice as another program wrote it, in each journal mode.
class RunFaults : public ::testing::TestWithParam<isam::testing::JournalMode> {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.File("root"), DemoOptions{1, 400, 11});
    original_ = root_.File("original");
    testing::RewritePractice(root_.File("root/Practice1"), original_, GetParam());
    isam::testing::RunSql(original_ + "/MWTRN.ADT",
                          "UPDATE records SET \"Who Paid\" = 'G' WHERE \"Who Paid\" IS NULL");
    reference_ = Copy("reference");
    ASSERT_EQ(RunOn(reference_).status, 0);
  }
  std::string Copy(const std::string& name) {
    std::string copy = root_.File(name);
    std::filesystem::remove_all(copy);
    std::filesystem::copy(original_, copy);
    return copy;
  }
  TempFolder root_;
  std::string original_, reference_;
};

INSTANTIATE_TEST_SUITE_P(JournalModes, RunFaults, ::testing::ValuesIn(isam::testing::kJournalModes),
                         isam::testing::JournalModeTestName);

TEST_P(RunFaults, ADiskFillingUpAtAnyMomentEndsTheRunSayingSoAndLosesNothing) {
  int faults = 0;
  for (int at = 1;; at = at * 3 / 2 + 1) {
    std::string practice = Copy("run");
    Outcome outcome{};
    bool fired = false;
    {
      FaultVfs vfs;
      vfs.Arm(at, Fault::kDiskFull);
      outcome = RunOn(practice);
      fired = vfs.fired();
    }
    if (!fired) {
      EXPECT_EQ(outcome.status, 0) << outcome.out;
      break;
    }
    ++faults;
    EXPECT_EQ(outcome.status, 1) << "write " << at << ":\n" << outcome.out;
    EXPECT_NE(outcome.out.find("The disk is full"), std::string::npos) << "write " << at << ":\n"
                                                                       << outcome.out;
    EXPECT_EQ(testing::PracticeFaults(practice), Strings{}) << "write " << at;
    // The disk has room again: the next run does what the broken one could not.
    Outcome next = RunOn(practice);
    EXPECT_EQ(next.status, 0) << next.out;
    EXPECT_EQ(testing::PracticeFaults(practice), Strings{}) << "write " << at;
    if (outcome.out.find("status: Adjusting Payment Amounts") == std::string::npos) {
      EXPECT_EQ(testing::Differences(reference_, practice), Strings{}) << "write " << at;
    }
  }
  EXPECT_GE(faults, 5);
  std::printf("a full disk met by %d runs at different moments: each said so, none lost work\n",
              faults);
}

// The tests may run as root, whom mode bits do not bind: the run then goes to an ordinary user.
TEST_P(RunFaults, APracticeFolderThatMayNotBeWrittenEndsTheRunSayingSoAndChangesNothing) {
  constexpr uid_t kNobody = 65534;
  std::string practice = Copy("readonly");
  ASSERT_EQ(chmod(root_.path().c_str(), 0755), 0);
  std::string report = root_.File("report");
  std::filesystem::create_directory(report);
  ASSERT_EQ(chmod(report.c_str(), 0777), 0);
  std::map<std::string, std::string> before;
  for (const auto& entry : std::filesystem::directory_iterator(practice)) {
    before[entry.path().filename()] = Bytes(entry.path());
    if (geteuid() == 0) {
      ASSERT_EQ(chown(entry.path().c_str(), kNobody, kNobody), 0);
    }
  }
  ASSERT_EQ(chmod(practice.c_str(), 0555), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(100);
    Outcome outcome = RunOn(practice);
    std::ofstream(report + "/out") << outcome.out;
    _exit(outcome.status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  chmod(practice.c_str(), 0755);
  std::string out = Bytes(report + "/out");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << out;
  EXPECT_NE(out.find("error: "), std::string::npos) << out;
  EXPECT_NE(out.find("read-only"), std::string::npos) << out;
  std::map<std::string, std::string> after;
  for (const auto& entry : std::filesystem::directory_iterator(practice)) {
    after[entry.path().filename()] = Bytes(entry.path());
  }
  EXPECT_TRUE(after == before) << "the folder's files changed";
}

}  // namespace
}  // namespace app
