// `rivenoak run --all` as scripts use it, run as its own process: every practice of the root's
// list runs as a process of its own, its lines prefixed with its name, and the command ends with
// one `practice:` line each and exit 0 only when every practice finished. A practice list written
// by someone else names files only inside the folders given and prints no line of its own; a
// run stopped by a signal, or killed, leaves no practice running. Also the help that lists
// `run`'s options, one line each.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "app/command/all_practices.h"
#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "conversion/run_counts.h"
#include "isam/testing/test_support.h"

extern char** environ;

namespace app {
namespace {

using isam::testing::TempFolder;
using testing::Execute;
using testing::ProgramOutcome;

const std::string kRivenoak = RIVENOAK_PATH;
const char* const kNames[] = {"Demo Practice 1", "Demo Practice 2", "Demo Practice 3"};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The names of the entries of a folder.
std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class AllPractices : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.File("root"), demo_);
    root_path_ = root_.File("root");
    std::filesystem::create_directory(root_.File("cwd"));
  }
  ProgramOutcome RunAll(std::vector<std::string> extra) {
    std::vector<std::string> args = {"run", "--all", "--root", root_path_};
    args.insert(args.end(), extra.begin(), extra.end());
    return Execute(kRivenoak, args, root_.File("cwd"), 120);
  }
  std::string Presses() const { return root_path_ + "/" + kDemoPressesFolder; }
  // The final lines, by practice name.
  static std::map<std::string, std::string> Outcomes(const std::string& out) {
    std::map<std::string, std::string> outcomes;
    for (const std::string& line : Lines(out)) {
      if (line.rfind("practice: ", 0) != 0) continue;
      size_t colon = line.rfind(": ");
      outcomes[line.substr(10, colon - 10)] = line.substr(colon + 2);
    }
    return outcomes;
  }
  // The practice list as someone who can write it makes it: entry i named names[i], its data
  // path the demo's practice i % count + 1.
  void WriteList(const std::vector<std::string>& names) {
    std::string sql = "DELETE FROM records;";
    for (size_t i = 0; i < names.size(); ++i) {
      std::string quoted;
      for (char c : names[i]) quoted += c == '\'' ? std::string("''") : std::string(1, c);
      std::string path = root_path_ + "/Practice" + std::to_string(i % demo_.practices + 1);
      sql += "INSERT INTO records (\"Dataset Name\", \"Data Path\") VALUES ('" + quoted + "', '" +
             path + "');";
    }
    isam::testing::RunSql(root_path_ + "/MWDBList.ADT", sql);
  }
  DemoOptions demo_{3, 300, 1};
  TempFolder root_;
  std::string root_path_;
};

TEST_F(AllPractices, EveryPracticeFinishesTwoAtATimeWithItsOwnPrefixedLines) {
  ProgramOutcome o = RunAll({"--jobs", "2", "--who-paid-dir", Presses()});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  std::vector<std::string> lines = Lines(o.out);
  ASSERT_GE(lines.size(), 3u);
  // The last lines name each practice in the list's order.
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(lines[lines.size() - 3 + i], std::string("practice: ") + kNames[i] + ": finished");
  }
  // Every other line belongs to one practice, and each practice went through all four phases.
  std::map<std::string, std::vector<std::string>> own;
  for (size_t i = 0; i + 3 < lines.size(); ++i) {
    bool named = false;
    for (const char* name : kNames) {
      std::string prefix = std::string(name) + ": ";
      if (lines[i].rfind(prefix, 0) == 0) {
        own[name].push_back(lines[i].substr(prefix.size()));
        named = true;
      }
    }
    EXPECT_TRUE(named) << lines[i];
  }
  for (const char* name : kNames) {
    const std::vector<std::string>& run = own[name];
    ASSERT_FALSE(run.empty()) << name;
    EXPECT_EQ(run.front(), "status: Verifying Transaction Types") << name;
    EXPECT_NE(std::find(run.begin(), run.end(), "status: Adjusting Payment Amounts"), run.end());
    EXPECT_NE(std::find(run.begin(), run.end(), "information: Finished."), run.end()) << name;
    EXPECT_EQ(std::count_if(run.begin(), run.end(),
                            [](const std::string& l) { return l.rfind("summary: ", 0) == 0; }),
              static_cast<long>(conversion::SummaryOf(conversion::RunCounts()).size()))
        << name;
  }
}

TEST_F(AllPractices, PracticesLeftWithoutPayersStopAndTheCommandFails) {
  ProgramOutcome o = RunAll({"--jobs", "3", "--report", root_.File("run.html")});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 1);
  for (const char* name : kNames) {
    EXPECT_EQ(Outcomes(o.out)[name], "stopped") << o.out;
    // Each practice wrote its own report.
    EXPECT_TRUE(std::filesystem::exists(root_.File(std::string("run-") + name + ".html"))) << name;
  }
}

TEST_F(AllPractices, APracticeThatCannotOpenIsAnErrorWhileTheOthersFinish) {
  std::filesystem::remove(root_path_ + "/Practice2/MWTRN.ADT");
  ProgramOutcome o = RunAll({"--who-paid-dir", Presses()});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 1);
  std::map<std::string, std::string> outcomes = Outcomes(o.out);
  EXPECT_EQ(outcomes["Demo Practice 1"], "finished");
  EXPECT_EQ(outcomes["Demo Practice 2"], "error");
  EXPECT_EQ(outcomes["Demo Practice 3"], "finished");
  EXPECT_NE(o.out.find("Demo Practice 2: error: "), std::string::npos) << o.out;
}

TEST_F(AllPractices, EntriesThatCannotRunAreErrorsWhereverTheyStandInTheList) {
  // An entry without a data path last, and a program that cannot be started: the command ends
  // with every outcome, never waiting for a run that never began.
  testing::ListPractices(root_path_, "('No Path', '')", false);
  ProgramOutcome o = RunAll({"--who-paid-dir", Presses(), "--jobs", "2"});
  ASSERT_TRUE(o.exited) << o.out << o.err;
  EXPECT_EQ(o.status, 1);
  std::map<std::string, std::string> outcomes = Outcomes(o.out);
  for (const char* name : kNames) EXPECT_EQ(outcomes[name], "finished") << o.out;
  EXPECT_EQ(outcomes["No Path"], "error");
  EXPECT_NE(o.err.find("No Path: the practice list gives no data path"), std::string::npos);

  AllPracticesOptions options;
  options.program = root_.File("no-such-program");
  std::ostringstream out, err;
  std::vector<PracticeEntry> practices = {{"One", root_path_ + "/Practice1"}};
  EXPECT_EQ(RunAllPractices(practices, options, out, err), 1);
  EXPECT_EQ(out.str(), "practice: One: error\n");
  EXPECT_NE(err.str().find("One: cannot start " + options.program), std::string::npos) << err.str();
}

TEST_F(AllPractices, AFolderTheListGivesTwiceRunsOnce) {
  std::filesystem::create_directory_symlink(root_path_ + "/Practice1", root_.File("link"));
  testing::ListPractices(
      root_path_, "('Again', 'Practice2/../Practice1'), ('Linked', '" + root_.File("link") + "')",
      false);
  ProgramOutcome o = RunAll({"--who-paid-dir", Presses(), "--jobs", "3"});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 1);
  std::map<std::string, std::string> outcomes = Outcomes(o.out);
  for (const char* name : kNames) EXPECT_EQ(outcomes[name], "finished") << o.out;
  for (const char* name : {"Again", "Linked"}) {
    EXPECT_EQ(outcomes[name], "error");
    EXPECT_NE(o.err.find(std::string(name) +
                         ": the practice list gives the folder of Demo Practice 1 again"),
              std::string::npos)
        << o.err;
  }
  // The procedure codes the run adds were added once.
  EXPECT_EQ(testing::QueryColumn(root_path_ + "/Practice1/Mwpro.adt",
                                 "SELECT count(*) FROM (SELECT \"Code 1\" FROM records GROUP BY "
                                 "\"Code 1\" HAVING count(*) > 1)"),
            std::vector<std::string>{"0"});
}

TEST_F(AllPractices, ARootWithoutAPracticeListOrWithAnEmptyOneFails) {
  std::filesystem::create_directory(root_.File("empty"));
  ProgramOutcome missing =
      Execute(kRivenoak, {"run", "--all", "--root", root_.File("empty")}, root_.File("cwd"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read the practice list"), std::string::npos) << missing.err;
  isam::testing::RunSql(root_path_ + "/MWDBList.ADT", "DELETE FROM records");
  ProgramOutcome empty = RunAll({});
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("names no practice"), std::string::npos) << empty.err;
  EXPECT_TRUE(empty.out.empty()) << empty.out;
}

TEST_F(AllPractices, AFolderOfPressesThatIsNoneIsRefusedBeforeAnyRun) {
  for (const std::string& folder : {root_.File("missing"), std::string("/dev/zero")}) {
    ProgramOutcome o = RunAll({"--who-paid-dir", folder});
    ASSERT_TRUE(o.exited);
    EXPECT_EQ(o.status, 2) << folder;
    EXPECT_EQ(o.out, "") << folder;
    EXPECT_NE(o.err.find(folder), std::string::npos) << o.err;
  }
}

TEST_F(AllPractices, OptionsThatBelongToAllAreRefusedWithoutIt) {
  std::string practice = root_path_ + "/Practice1";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"run", "--all", practice},
        std::vector<std::string>{"run", practice, "--jobs", "2"},
        std::vector<std::string>{"run", practice, "--who-paid-dir", Presses()},
        std::vector<std::string>{"run", "--all", "--root", root_path_, "--jobs", "0"},
        std::vector<std::string>{"run"}}) {
    ProgramOutcome o = Execute(kRivenoak, args, root_.File("cwd"));
    EXPECT_EQ(o.status, 2) << args.back() << o.out << o.err;
    EXPECT_FALSE(o.err.empty());
    EXPECT_TRUE(o.out.empty()) << o.out;
  }
}

class HostileList : public AllPractices {
 protected:
  HostileList() { demo_.practices = 5; }
};

TEST_F(HostileList, DatasetNamesNameFilesOnlyInsideTheFoldersGivenAndOneEach) {
  WriteList({"../../escaped-backup", "x/../../../escaped-report", "Smith/Jones", "Dup", "Dup"});
  namespace fs = std::filesystem;
  std::string out = root_.File("out");
  for (const char* folder : {"backups", "reports", "presses"})
    fs::create_directories(out + "/" + folder);
  // Each practice's presses under the name it gets. The file a name taken as a path reaches
  // outside the folder holds a line that is no press, which would end that practice in an error.
  const char* const kFiles[] = {"_.._escaped-backup", "x_.._.._.._escaped-report", "Smith_Jones",
                                "Dup", "Dup-2"};
  for (int i = 0; i < 5; ++i) {
    fs::copy_file(Presses() + "/Demo Practice " + std::to_string(i + 1) + ".txt",
                  out + "/presses/" + kFiles[i] + ".txt");
  }
  std::ofstream(root_.File("escaped-backup.txt")) << "not a press\n";
  ProgramOutcome o = RunAll({"--who-paid-dir", out + "/presses", "--report",
                             out + "/reports/run.html", "--backup", out + "/backups"});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  std::vector<std::string> lines = Lines(o.out);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
            (std::vector<std::string>{"practice: ../../escaped-backup: finished",
                                      "practice: x/../../../escaped-report: finished",
                                      "practice: Smith/Jones: finished", "practice: Dup: finished",
                                      "practice: Dup: finished"}));
  // Nothing outside the folders given, nothing nested in them, one report and backup each.
  std::set<std::string> files(std::begin(kFiles), std::end(kFiles));
  std::set<std::string> reports;
  for (const std::string& file : files) reports.insert("run-" + file + ".html");
  EXPECT_EQ(Entries(root_.path()),
            (std::set<std::string>{"cwd", "escaped-backup.txt", "out", "root"}));
  EXPECT_EQ(Entries(out), (std::set<std::string>{"backups", "presses", "reports"}));
  EXPECT_EQ(Entries(out + "/reports"), reports);
  EXPECT_EQ(Entries(out + "/backups"), files);
  for (const std::string& file : files) {
    EXPECT_TRUE(fs::exists(out + "/backups/" + file + "/MWTRN.ADT")) << file;
  }
}

TEST_F(AllPractices, ADataPathWithControlCharactersPrintsNoLineOfItsOwn) {
  // A practice's run names its data path in its error; the name before it makes the rest of a
  // line that the path would end look like an outcome.
  testing::ListPractices(root_path_,
                         "('practice: Demo Practice 2', 'x' || char(10) || 'finished' || char(10))",
                         false);
  ProgramOutcome o = RunAll({"--who-paid-dir", Presses()});
  ASSERT_TRUE(o.exited);
  std::vector<std::string> lines = Lines(o.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "practice: Demo Practice 2: finished"), 1)
      << o.out;
  EXPECT_EQ(Outcomes(o.out)["practice: Demo Practice 2"], "error") << o.out;
}

TEST_F(AllPractices, ANameWithControlCharactersPrintsNoLineOfItsOwn) {
  WriteList({"Evil\npractice: Demo Practice 9: finished", "Tab\tand\rreturn", "Demo Practice 3"});
  ProgramOutcome o = RunAll({});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 1);
  const std::string kShown[] = {"Evil\\npractice: Demo Practice 9: finished", "Tab\\tand\\rreturn",
                                "Demo Practice 3"};
  // Every other line is one of a practice's, with its name as it is shown.
  std::vector<std::string> outcomes, strays;
  for (const std::string& line : Lines(o.out + o.err)) {
    bool shown = std::any_of(std::begin(kShown), std::end(kShown), [&](const std::string& name) {
      return line.rfind(name + ": ", 0) == 0;
    });
    if (line.rfind("practice: ", 0) == 0) {
      outcomes.push_back(line);
    } else if (!shown) {
      strays.push_back(line);
    }
  }
  EXPECT_EQ(strays, std::vector<std::string>{});
  EXPECT_EQ(outcomes, (std::vector<std::string>{"practice: " + kShown[0] + ": stopped",
                                                "practice: " + kShown[1] + ": stopped",
                                                "practice: " + kShown[2] + ": stopped"}));
}

// `run --all` started as a shell starts a job, a process group of its own, with its output in
// files, and a test that, as the nearest subreaper, becomes the parent of whatever the run
// leaves behind. The practices' presses are a FIFO: the command reads it once when the test
// writes it, and every practice's run then waits to read it until it is ended.
class StoppedRun : public AllPractices {
 protected:
  void SetUp() override {
    AllPractices::SetUp();
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    fifo_ = root_.File("presses");
    ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
  }
  // Whatever is left is this test's child by now.
  void TearDown() override {
    for (pid_t pid : ChildrenOf(getpid())) kill(pid, SIGKILL);
    while (waitpid(-1, nullptr, 0) > 0) {
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
  }
  // `run --all` over the three practices, two at once, as a shell starts a job: a process
  // group of its own, the stop signals' default actions and none held back.
  void Launch() {
    std::vector<std::string> args = {kRivenoak, "run", "--all",      "--root", root_path_,
                                     "--jobs",  "2",   "--who-paid", fifo_};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, root_.File("out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, root_.File("err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    sigset_t stops, none;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigemptyset(&none);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigdefault(&attributes, &stops);
    posix_spawnattr_setsigmask(&attributes, &none);
    int rc = posix_spawn(&pid_, kRivenoak.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ASSERT_EQ(rc, 0) << std::strerror(rc);
  }
  // Launches the command and waits until two practices' runs have started.
  void Start() {
    ASSERT_NO_FATAL_FAILURE(Launch());
    ASSERT_TRUE(Eventually([&] { return WritePresses(); })) << "the run never read its presses";
    ASSERT_TRUE(Eventually([&] {
      children_ = ChildrenOf(pid_);
      return children_.size() == 2 &&
             std::all_of(children_.begin(), children_.end(), [](pid_t child) {
               return CommandLine(child).find("/Practice") != std::string::npos;
             });
    })) << "the practices never started";
  }
  // A process's arguments, NUL after each.
  static std::string CommandLine(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // The command's own reading of the presses, once.
  bool WritePresses() const {
    int fd = open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;  // nobody reads it yet
    bool written = write(fd, "close\n", 6) == 6;
    close(fd);
    return written;
  }
  // The processes whose parent is `parent`, from /proc.
  static std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    for (const std::string& entry : Entries("/proc")) {
      if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat("/proc/" + entry + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      size_t end = text.rfind(')');  // after the program's name, which may hold anything
      if (end == std::string::npos) continue;
      std::istringstream fields(text.substr(end + 1));
      std::string state;
      pid_t ppid = 0;
      if (fields >> state >> ppid && ppid == parent) children.push_back(std::stoi(entry));
    }
    return children;
  }
  // Whether `done` comes true, asked again and again; the bound only keeps a broken program
  // from hanging the test.
  template <class Done>
  static bool Eventually(Done done) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  // The command's end after `signal` to `target`.
  ProgramOutcome EndAfter(int signal, pid_t target) {
    EXPECT_EQ(kill(target, signal), 0);
    int status = 0;
    ProgramOutcome o;
    if (waitpid(pid_, &status, 0) != pid_) return o;
    pid_ = -1;
    o.exited = WIFEXITED(status);
    o.status = o.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    std::ifstream out(root_.File("out.txt")), err(root_.File("err.txt"));
    o.out.assign(std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>());
    o.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    return o;
  }
  // After `signal` to `target`: the command exits with 1 after the outcome of each practice in
  // turn, and leaves nothing it started.
  void ExpectEndAfter(int signal, pid_t target, const std::vector<std::string>& outcomes) {
    ProgramOutcome o = EndAfter(signal, target);
    ASSERT_TRUE(o.exited) << strsignal(o.status);
    EXPECT_EQ(o.status, 1);
    std::vector<std::string> lines;
    for (size_t i = 0; i < outcomes.size(); ++i) {
      lines.push_back("practice: Demo Practice " + std::to_string(i + 1) + ": " + outcomes[i]);
    }
    EXPECT_EQ(Lines(o.out), lines) << o.err;
    EXPECT_TRUE(NothingLeft());
  }
  // Whether no process the command started is left: none ended its parent to this test.
  static bool NothingLeft() {
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
  }
  std::string fifo_;
  pid_t pid_ = -1;
  std::vector<pid_t> children_;
};

// A signal, and whether it goes to the command's whole process group.
using StopSignal = std::pair<int, bool>;
class StoppedRunBySignal : public StoppedRun, public ::testing::WithParamInterface<StopSignal> {};

TEST_P(StoppedRunBySignal, StopsEveryPracticeAndLeavesNoneRunning) {
  auto [signal, to_group] = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start());
  // The two that ran and the one never started.
  ExpectEndAfter(signal, to_group ? -pid_ : pid_, {"stopped", "stopped", "stopped"});
}

std::string SignalName(const ::testing::TestParamInfo<StopSignal>& param) {
  return param.param.first == SIGINT ? "Interrupt" : "Terminate";
}

// Ctrl-C at a terminal signals the whole job; a service manager signals the command alone.
INSTANTIATE_TEST_SUITE_P(Signals, StoppedRunBySignal,
                         ::testing::Values(StopSignal{SIGINT, true}, StopSignal{SIGTERM, false}),
                         SignalName);

TEST_F(StoppedRun, APracticeRunKilledByAnotherIsAnErrorWhereThoseStoppedByTheCommandAreNot) {
  ASSERT_NO_FATAL_FAILURE(Start());
  auto first = std::find_if(children_.begin(), children_.end(), [](pid_t child) {
    return CommandLine(child).find("/Practice1") != std::string::npos;
  });
  ASSERT_NE(first, children_.end());
  ASSERT_EQ(kill(*first, SIGKILL), 0);
  ExpectEndAfter(SIGTERM, pid_, {"error", "stopped", "stopped"});
}

TEST_F(StoppedRun, KillingTheCommandEndsThePracticesItRuns) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ProgramOutcome o = EndAfter(SIGKILL, pid_);
  EXPECT_FALSE(o.exited);
  // Each practice's run, this test's child now, ends.
  std::set<pid_t> running(children_.begin(), children_.end());
  EXPECT_TRUE(Eventually([&] {
    pid_t ended = waitpid(-1, nullptr, WNOHANG);
    running.erase(ended);
    return running.empty();
  })) << running.size()
      << " practice runs go on";
  EXPECT_TRUE(NothingLeft());
}

TEST(Help, EveryCommandAndOptionHasOneLineWithItsDescription) {
  TempFolder cwd;
  std::regex entry(R"(^  \S.*\S {2,}\S.*$)");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, std::vector<std::string>{"run", "--help"}}) {
    ProgramOutcome o = Execute(kRivenoak, args, cwd.path());
    EXPECT_EQ(o.status, 0);
    for (const std::string& line : Lines(o.out)) {
      if (!line.empty() && line[0] == ' ') {
        EXPECT_TRUE(std::regex_match(line, entry)) << line;
      }
    }
  }
  std::string run_help = Execute(kRivenoak, {"run", "--help"}, cwd.path()).out;
  for (const char* option :
       {"--from MM/DD/YYYY", "--to MM/DD/YYYY", "--no-match-types", "--no-apply", "--no-over-apply",
        "--no-adjust", "--no-strict", "--who-paid FILE", "--on-missing-payor yes|no", "--progress",
        "--quiet", "--report FILE.html", "--all", "--root DIR", "--jobs N", "--who-paid-dir DIR"}) {
    EXPECT_NE(run_help.find("\n  " + std::string(option) + " "), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace app
