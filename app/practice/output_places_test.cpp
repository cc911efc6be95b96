// What rivenoak writes beside a practice's tables, and where: a report or a backup named among
// the tables, on a table, or where it cannot be written is refused before anything changes; a
// report takes its name whole; the copies a run makes for itself in the temporary folder go when
// a signal ends the run (Ctrl-C, a `kill`, a reader of its output that went away); a who-paid
// presses file is read no further than a presses file can be long.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "app/practice/demo_practice.h"
#include "app/practice/output_places.h"
#include "app/practice/practice_copy.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

extern char** environ;

namespace app {
namespace {

namespace fs = std::filesystem;
using isam::testing::TempFolder;
using testing::Execute;
using testing::Outcome;
using testing::ProgramOutcome;
using testing::Rivenoak;

const std::string kRivenoak = RIVENOAK_PATH;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Every file below `folder` with its bytes, by its path inside the folder.
std::map<std::string, std::string> Tree(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(entry.path(), folder).string();
    files[name] = entry.is_regular_file() ? Bytes(entry.path()) : "(folder)";
  }
  return files;
}

std::string Shown(const std::vector<std::string>& args) {
  std::string shown;
  for (const std::string& arg : args) shown += " " + arg;
  return shown;
}

class OutputPlaces : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.File("root"), DemoOptions{2, 60, 7});
    practice_ = root_.File("root/Practice1");
    other_ = root_.File("root/Practice2");
    fs::create_directory(root_.File("cwd"));
  }

  // Runs `rivenoak` in this process and expects the refusal of a command line it cannot use:
  // exit 2, standard error naming `named`, and the root's files (both practices) as they were.
  void ExpectRefused(const std::vector<std::string>& args, const std::string& named) {
    std::map<std::string, std::string> before = Tree(root_.File("root"));
    Outcome o = Rivenoak(args);
    EXPECT_EQ(o.status, 2) << Shown(args) << "\n" << o.out << o.err;
    EXPECT_NE(o.err.find(named), std::string::npos) << Shown(args) << " says: " << o.err;
    EXPECT_TRUE(Tree(root_.File("root")) == before) << Shown(args) << " changed the root's files";
  }

  TempFolder root_;
  std::string practice_;
  std::string other_;
};

TEST_F(OutputPlaces, AReportOrBackupAmongAPracticesTablesIsRefusedBeforeAnyChange) {
  fs::create_directory_symlink(practice_, root_.File("link"));
  const std::string through_link = root_.File("link/run.html");
  const std::string back_in = other_ + "/../Practice1/run.html";
  const std::string table = practice_ + "/MWTRN.ADT", pax = practice_ + "/Mwpax.adt";
  const std::string others_table = other_ + "/MWTRN.ADT";
  const std::string inside = practice_ + "/saved", root = root_.File("root");
  const std::vector<std::vector<std::string>> cases = {{"--report", table},
                                                       {"--dry-run", "--report", pax},
                                                       {"--report", through_link},
                                                       {"--report", back_in},
                                                       {"--report", others_table},
                                                       {"--backup", inside},
                                                       {"--backup", root},
                                                       {"--backup", other_ + "/Mwpro.adt"},
                                                       {"--dry-run", "--backup", inside}};
  for (const std::vector<std::string>& extra : cases) {
    std::vector<std::string> args = {"run", practice_, "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    ExpectRefused(args, extra.back());
  }
  ExpectRefused({"backup", practice_, inside}, inside);
}

TEST_F(OutputPlaces, AReportOrBackupThatCannotBeWrittenIsRefusedBeforeAnyChange) {
  std::ofstream(root_.File("plain.txt")) << "a file, not a folder\n";
  const std::string missing = root_.File("missing/run.html");
  const std::vector<std::vector<std::string>> cases = {
      {"--report", "/dev/full"},       {"--report", missing},
      {"--report", root_.File("cwd")}, {"--dry-run", "--report", "/dev/full"},
      {"--backup", "/dev/full/saved"}, {"--backup", root_.File("plain.txt")}};
  for (const std::vector<std::string>& extra : cases) {
    std::vector<std::string> args = {"run", practice_, "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    ExpectRefused(args, extra.back());
  }
}

// `run --all` weighs the places against every practice of the list, before any practice runs.
TEST_F(OutputPlaces, RunAllRefusesAPlaceInsideAnyPracticeOfTheList) {
  const std::vector<std::vector<std::string>> cases = {{"--report", other_ + "/run.html"},
                                                       {"--backup", practice_ + "/saved"}};
  for (const std::vector<std::string>& extra : cases) {
    std::map<std::string, std::string> before = Tree(root_.File("root"));
    std::vector<std::string> args = {"run", "--all", "--root", root_.File("root")};
    args.insert(args.end(), extra.begin(), extra.end());
    ProgramOutcome o = Execute(kRivenoak, args, root_.File("cwd"), 120);
    EXPECT_TRUE(o.exited && o.status == 2) << Shown(args) << "\n" << o.out << o.err;
    EXPECT_NE(o.err.find(extra.back()), std::string::npos) << o.err;
    EXPECT_TRUE(Tree(root_.File("root")) == before) << Shown(args) << " changed the root's files";
  }
}

// A report's name that another file's link holds is given to the report; the other file stays
// as it was, and nothing is left beside the report.
TEST_F(OutputPlaces, TheReportTakesItsNameAndLeavesTheFileALinkPointedAt) {
  fs::create_directory(root_.File("out"));
  std::ofstream(root_.File("kept-hard")) << "kept\n";
  std::ofstream(root_.File("kept-soft")) << "kept\n";
  fs::create_hard_link(root_.File("kept-hard"), root_.File("out/hard.html"));
  fs::create_symlink(root_.File("kept-soft"), root_.File("out/soft.html"));
  for (const std::string name : {"hard", "soft"}) {
    std::string report = root_.File("out/" + name + ".html");
    Outcome o = Rivenoak({"run", practice_, "--quiet", "--report", report});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(Bytes(root_.File("kept-" + name)), "kept\n") << name;
    EXPECT_EQ(Bytes(report).rfind("<!DOCTYPE html>", 0), 0u) << name;
    EXPECT_FALSE(fs::is_symlink(report)) << name;
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(root_.File("out"))) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"hard.html", "soft.html"}));
}

// A practice folder seen under a second name that no link explains: a share that ignores letter
// case, or one folder mounted twice. Played with a bind mount in a mount namespace of a child
// process's own (the test is skipped where the system allows none).
TEST_F(OutputPlaces, APracticeReachedByAnotherNameIsStillThePractice) {
  std::string other = root_.File("other-name");
  fs::create_directory(other);
  pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(practice_.c_str(), other.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      _exit(77);
    }
    int refused = 0;
    for (int kind = 0; kind < 2; ++kind) {
      try {
        if (kind == 0) CheckReportPlace(other + "/run.html", {practice_});
        if (kind == 1) CheckBackupPlace(other + "/backup", {practice_});
      } catch (const OutputPlaceError&) {
        ++refused;
      }
    }
    _exit(refused == 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace of its own here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a place inside the practice under another name passed";
}

// ---- the copies in the temporary folder ----

// `rivenoak` started as its own process with TMPDIR set to `temporary`: standard output to the
// file descriptor `out`, standard error to `err_file`, the signals at their default actions.
pid_t Start(std::vector<std::string> args, const std::string& temporary, int out,
            const std::string& err_file) {
  args.insert(args.begin(), kRivenoak);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = {"TMPDIR=" + temporary};
  for (char** variable = environ; *variable; ++variable) {
    if (std::string(*variable).rfind("TMPDIR=", 0) != 0) variables.push_back(*variable);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(127);
    for (int signal : {SIGINT, SIGTERM, SIGPIPE}) std::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    alarm(100);  // a run that never ends fails the test instead of hanging it
    execve(kRivenoak.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename());
  }
  return names;
}

// The way the program ended: "signal N" or "exit N".
std::string Ending(int status) {
  return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                             : "exit " + std::to_string(WEXITSTATUS(status));
}

class TemporaryCopies : public ::testing::Test {
 protected:
  // A practice big enough that a run with its presses takes a while: the runs below are sure to
  // be at work when the test finds their copy.
  static void SetUpTestSuite() {
    root_ = new TempFolder;
    MakeDemoRoot(root_->File("root"), DemoOptions{1, 20000, 3});
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }
  static std::string Practice() { return root_->File("root/Practice1"); }
  static std::string Presses() {
    return root_->File("root/" + std::string(kDemoPressesFolder) + "/Demo Practice 1.txt");
  }
  // A new, empty folder for a run's TMPDIR.
  static std::string NewTemporary(const std::string& name) {
    std::string folder = root_->File(name);
    fs::create_directory(folder);
    return folder;
  }

  // The program with `args`, TMPDIR `temporary`, its output thrown away and its errors kept.
  static pid_t StartQuiet(const std::vector<std::string>& args, const std::string& temporary) {
    int out = open("/dev/null", O_WRONLY);
    pid_t pid = Start(args, temporary, out, root_->File("err.txt"));
    close(out);
    return pid;
  }
  // Waits until `folder` holds something; false, with `status` set, when the program `pid`
  // ended first.
  static bool WaitForAnEntry(pid_t pid, const std::string& folder, int* status) {
    while (Entries(folder).empty()) {
      if (waitpid(pid, status, WNOHANG) == pid) return false;
      usleep(200);
    }
    return true;
  }

  static TempFolder* root_;
};
TempFolder* TemporaryCopies::root_ = nullptr;

TEST_F(TemporaryCopies, ASignalThatEndsTheRunRemovesThem) {
  for (int signal : {SIGHUP, SIGINT, SIGTERM}) {
    for (const std::string option : {"--report", "--dry-run"}) {
      std::string label = option + " ended by signal " + std::to_string(signal);
      std::string temporary = NewTemporary("tmp" + option + std::to_string(signal));
      std::vector<std::string> args = {"run", Practice(), "--quiet", "--who-paid", Presses()};
      args.push_back(option);
      if (option == "--report") args.push_back(root_->File("run.html"));
      pid_t pid = StartQuiet(args, temporary);
      ASSERT_GT(pid, 0);
      // Waits for the run's copy to be there, then ends the run.
      int status = 0;
      bool ended = !WaitForAnEntry(pid, temporary, &status);
      if (ended) {
        ADD_FAILURE() << label << ": the run ended (" << Ending(status)
                      << ") before its copy was found\n"
                      << Bytes(root_->File("err.txt"));
        continue;
      }
      struct stat copy {};
      std::string copy_path = temporary + "/" + Entries(temporary).front();
      if (stat(copy_path.c_str(), &copy) == 0) {
        EXPECT_EQ(copy.st_mode & 07777, 0700u) << label << ": " << copy_path;
      }
      kill(pid, signal);
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_EQ(Ending(status), "signal " + std::to_string(signal))
          << label << "\n"
          << Bytes(root_->File("err.txt"));
      EXPECT_EQ(Entries(temporary), std::vector<std::string>{}) << label;
    }
  }
}

// A backup is made in a hidden folder beside its name and given the name when it is whole: one
// broken off by a signal leaves no copy of the practice there, only a whole backup or nothing.
TEST_F(TemporaryCopies, ASignalThatEndsABackupLeavesNoPartOfIt) {
  for (int signal : {SIGHUP, SIGINT, SIGTERM}) {
    std::string label = "backup ended by signal " + std::to_string(signal);
    std::string beside = NewTemporary("backups" + std::to_string(signal));
    std::string dest = beside + "/before-run";
    pid_t pid =
        StartQuiet({"run", Practice(), "--quiet", "--who-paid", Presses(), "--backup", dest},
                   NewTemporary("tmp-backup" + std::to_string(signal)));
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_TRUE(WaitForAnEntry(pid, beside, &status))
        << label << ": the run ended before its backup began";
    bool partial = Entries(beside).front().find(".partial-") != std::string::npos;
    kill(pid, signal);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(Ending(status), "signal " + std::to_string(signal)) << label;
    std::vector<std::string> left = Entries(beside);
    if (!left.empty()) {
      EXPECT_FALSE(partial) << label << ": stopped while copying, yet left " << left.front();
      EXPECT_EQ(left, std::vector<std::string>{"before-run"}) << label;
      EXPECT_TRUE(fs::exists(dest + "/" + kManifestName)) << label;
    }
  }
}

// `rivenoak run --dry-run | head -1`: the dry run's output goes nowhere from its first line on.
TEST_F(TemporaryCopies, AReaderOfTheOutputThatWentAwayRemovesThem) {
  std::string temporary = NewTemporary("tmp-pipe");
  int pipe_ends[2];
  ASSERT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);  // the run holds no read end of its own
  pid_t pid = Start({"run", Practice(), "--quiet", "--who-paid", Presses(), "--dry-run"}, temporary,
                    pipe_ends[1], root_->File("err.txt"));
  close(pipe_ends[1]);
  close(pipe_ends[0]);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(Ending(status), "signal " + std::to_string(SIGPIPE)) << Bytes(root_->File("err.txt"));
  EXPECT_EQ(Entries(temporary), std::vector<std::string>{});
}

// ---- who-paid presses ----

// Writes `text` into the pipe `fifo` from a thread of its own, as a shell's process
// substitution would; a reader that stops early cuts the writing short.
class PipeWriter {
 public:
  PipeWriter(const std::string& fifo, std::string text)
      : thread_([fifo, text = std::move(text)] {
          sigset_t pipe_signal;
          sigemptyset(&pipe_signal);
          sigaddset(&pipe_signal, SIGPIPE);
          pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);  // a closed reader: EPIPE, no signal
          int fd = open(fifo.c_str(), O_WRONLY);
          for (size_t at = 0; fd >= 0 && at < text.size();) {
            ssize_t written = write(fd, text.data() + at, text.size() - at);
            if (written <= 0) break;
            at += static_cast<size_t>(written);
          }
          if (fd >= 0) close(fd);
        }) {}
  ~PipeWriter() { thread_.join(); }
  PipeWriter(const PipeWriter&) = delete;
  PipeWriter& operator=(const PipeWriter&) = delete;

 private:
  std::thread thread_;
};

std::string Repeated(const std::string& text, size_t times) {
  std::string repeated;
  for (size_t i = 0; i < times; ++i) repeated += text;
  return repeated;
}

TEST_F(OutputPlaces, APressesFileBeyondItsBoundsIsRefusedNamingIt) {
  const std::string long_line = root_.File("long-line.txt"), big = root_.File("big.txt");
  std::ofstream(long_line) << "close\n# " << std::string(5000, 'x') << "\nclose\n";
  std::ofstream(big) << Repeated("close\n", 200000);  // 1.2 MB of good presses
  const std::string fifo = root_.File("endless");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string file;
    std::string says;
  } cases[] = {{long_line, long_line + " line 2 is longer than 4 KB"},
               {big, big + " is larger than 1 MB"},
               {fifo, fifo + " is larger than 1 MB"}};
  for (const auto& c : cases) {
    std::optional<PipeWriter> writer;
    if (c.file == fifo) writer.emplace(fifo, std::string(2 << 20, '\0'));  // as /dev/zero
    ExpectRefused({"run", practice_, "--quiet", "--who-paid", c.file}, c.says);
  }
}

TEST_F(OutputPlaces, PressesFromAPipeAreRead) {
  const std::string fifo = root_.File("presses");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  PipeWriter writer(fifo, "# from a pipe\nclose\n");
  Outcome o = Rivenoak({"run", practice_, "--quiet", "--who-paid", fifo});
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_NE(o.out.find("information: Finished."), std::string::npos) << o.out;
}

}  // namespace
}  // namespace app
