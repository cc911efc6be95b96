// `rivenoak run --all`: each practice's run a child process of its own, its lines passed on with
// the practice's name; the runs end when this program ends, and a SIGINT or SIGTERM to it is
// passed on to them and starts no other.
#include "app/command/all_practices.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include "app/opening/practice_opening.h"
#include "app/practice/held_signals.h"
#include "common/file_names.h"

extern char** environ;

namespace app {

std::string PerPracticeFile(const std::string& file, const std::string& name) {
  std::filesystem::path path(file);
  std::string stem = path.stem().string() + "-" + name + path.extension().string();
  return (path.parent_path() / stem).string();
}

namespace {

// A pipe's two ends, each closed with its owner.
struct Pipe {
  int read = -1, write = -1;
  explicit Pipe(int flags = 0) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | flags) != 0) throw std::runtime_error(std::strerror(errno));
    read = ends[0];
    write = ends[1];
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (read >= 0) close(read);
    read = -1;
  }
  void CloseWrite() {
    if (write >= 0) close(write);
    write = -1;
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
};

// The signals that stop a run of every practice.
constexpr int kStopSignals[] = {SIGHUP, SIGINT, SIGTERM};

// Where the handler writes the number of each stop signal. Process-wide, and it has to be: the
// handler can reach nothing else. No lock guards it, since the handler may take none: only
// StopSignals writes it, before it installs the handler and after it has put the previous ones
// back, and one StopSignals lives at a time (one run of every practice in a process, on the
// thread that runs it; a second is refused). The handler only reads it and calls write(), which
// is async-signal-safe.
volatile sig_atomic_t stop_signal_fd = -1;

extern "C" void OnStopSignal(int signal) {
  int saved = errno;
  unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] ssize_t written = write(stop_signal_fd, &number, 1);
  errno = saved;
}

// SIGINT and SIGTERM, while a run of every practice lasts, as bytes on a pipe its poll watches:
// the handler can do nothing but write. A signal this program was started ignoring stays
// ignored, as whoever started it asked.
class StopSignals {
 public:
  StopSignals() : pipe_(O_NONBLOCK) {
    if (stop_signal_fd != -1) throw std::logic_error("A run of every practice is already at work");
    stop_signal_fd = pipe_.write;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;  // output and waits go on; poll sees the pipe
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kStopSignals); ++i) {
      sigaction(kStopSignals[i], nullptr, &previous_[i]);
      handled_[i] = previous_[i].sa_handler != SIG_IGN;
      if (handled_[i]) sigaction(kStopSignals[i], &action, nullptr);
    }
  }
  ~StopSignals() {
    for (size_t i = 0; i < std::size(kStopSignals); ++i) {
      if (handled_[i]) sigaction(kStopSignals[i], &previous_[i], nullptr);
    }
    stop_signal_fd = -1;
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  int fd() const { return pipe_.read; }

  // The signals that came since the last call, in their order.
  std::vector<int> Take() const {
    std::vector<int> signals;
    unsigned char number;
    while (read(pipe_.read, &number, 1) == 1) signals.push_back(number);
    return signals;
  }

  // In a new process before it runs another program: the handled signals back to their
  // defaults, so that one coming now ends it rather than writing to this pipe. Async-signal-safe.
  void DefaultsInChild() const {
    for (size_t i = 0; i < std::size(kStopSignals); ++i) {
      if (handled_[i]) signal(kStopSignals[i], SIG_DFL);
    }
  }

 private:
  Pipe pipe_;
  struct sigaction previous_[std::size(kStopSignals)];
  bool handled_[std::size(kStopSignals)] = {};
};

// What a new process needs to become a practice's run, all made before fork: after it, the
// child calls only async-signal-safe functions.
struct ChildStart {
  const char* program;
  char* const* argv;
  int out, err;  // the write ends that become its standard output and error
  int failure;   // where it writes errno when it cannot run the program
  pid_t parent;  // this process
  const StopSignals* stops;
  const sigset_t* mask;  // the signal mask to run the program with
};

// `fd` as the descriptor `target`, left open across exec.
bool MoveTo(int fd, int target) {
  if (fd != target) return dup2(fd, target) == target;
  return fcntl(fd, F_SETFD, 0) == 0;
}

// The child's side: a process group of its own, so that a terminal's Ctrl-C reaches only this
// program, which passes it on; SIGTERM when this program ends however it ends; then the program.
[[noreturn]] void BecomePracticeRun(const ChildStart& start) {
  start.stops->DefaultsInChild();
  bool ready = prctl(PR_SET_PDEATHSIG, SIGTERM) == 0;
  // The parent may have ended before the signal was asked for: then nobody waits for this run.
  if (ready && getppid() != start.parent) _exit(1);
  if (ready && setpgid(0, 0) == 0 && MoveTo(start.out, STDOUT_FILENO) &&
      MoveTo(start.err, STDERR_FILENO) && sigprocmask(SIG_SETMASK, start.mask, nullptr) == 0) {
    execve(start.program, start.argv, environ);
  }
  int error = errno;
  [[maybe_unused]] ssize_t written = write(start.failure, &error, sizeof error);
  _exit(127);
}

// Starts `program` with `args`, its output and errors on the pipes' write ends; the new process's
// id, or -1 with `error` set when it could not run the program.
pid_t StartPracticeRun(const std::string& program, std::vector<std::string> args, int out, int err,
                       const StopSignals& stops, int* error) {
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Pipe failure;
  HeldSignals held(kStopSignals);
  ChildStart start{program.c_str(), argv.data(), out,    err,
                   failure.write,   getpid(),    &stops, &held.previous()};
  pid_t pid = fork();
  if (pid == 0) BecomePracticeRun(start);
  if (pid < 0) {
    *error = errno;
    return -1;
  }
  setpgid(pid, pid);  // also here, so that a signal passed on at once finds the group
  failure.CloseWrite();
  ssize_t n;
  while ((n = read(failure.read, error, sizeof *error)) < 0 && errno == EINTR) {
  }
  if (n != sizeof *error) return pid;  // the write end closed by exec: the program runs
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return -1;
}

// One stream of a running practice: its bytes cut into lines, each passed on with the prefix.
struct Stream {
  std::unique_ptr<Pipe> pipe;
  std::ostream* to = nullptr;
  std::string partial;
  bool open = true;
};

constexpr const char* kWhoPaidRefusal =
    "information: This Program cannot continue while there are payments or adjustments that have "
    "no who paid indicator.";

class PracticeRun {
 public:
  PracticeRun(const std::string& label, std::vector<std::string> args, const std::string& program,
              const StopSignals& stops, std::ostream& out, std::ostream& err)
      : label_(label) {
    streams_[0].pipe = std::make_unique<Pipe>();
    streams_[0].to = &out;
    streams_[1].pipe = std::make_unique<Pipe>();
    streams_[1].to = &err;
    int error = 0;
    pid_ = StartPracticeRun(program, std::move(args), streams_[0].pipe->write,
                            streams_[1].pipe->write, stops, &error);
    for (Stream& stream : streams_) stream.pipe->CloseWrite();
    if (pid_ < 0) {
      for (Stream& stream : streams_) stream.open = false;
      Emit(streams_[1], "cannot start " + program + ": " + std::strerror(error));
    }
  }

  bool Running() const { return streams_[0].open || streams_[1].open; }

  // The open streams' descriptors, for poll.
  void AddPolls(std::vector<pollfd>& polls, std::vector<Stream*>& owners) {
    for (Stream& stream : streams_) {
      if (!stream.open) continue;
      polls.push_back({stream.pipe->read, POLLIN, 0});
      owners.push_back(&stream);
    }
  }

  // Reads what a stream has; at its end passes on the last part line.
  void Read(Stream& stream) {
    char buffer[4096];
    ssize_t n = read(stream.pipe->read, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
      if (!stream.partial.empty()) Emit(stream, stream.partial);
      stream.partial.clear();
      stream.open = false;
      return;
    }
    stream.partial.append(buffer, static_cast<size_t>(n));
    size_t start = 0, end;
    while ((end = stream.partial.find('\n', start)) != std::string::npos) {
      Emit(stream, stream.partial.substr(start, end - start));
      start = end + 1;
    }
    stream.partial.erase(0, start);
  }

  // Passes a stop signal on to the run's process group.
  void PassOn(int signal) {
    if (pid_ < 0) return;
    if (kill(-pid_, signal) != 0) kill(pid_, signal);
    passed_on_.insert(signal);
  }

  // Waits for the process; the practice's outcome. A run ended by a signal this program passed
  // on, or exiting with 128 plus its number as a shell's child does, was stopped.
  std::string Outcome() {
    int status = 0;
    if (pid_ < 0) return "error";
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (WIFSIGNALED(status)) return passed_on_.count(WTERMSIG(status)) ? "stopped" : "error";
    if (WEXITSTATUS(status) > 128 && passed_on_.count(WEXITSTATUS(status) - 128)) return "stopped";
    if (WEXITSTATUS(status) != 0) return "error";
    return stopped_ ? "stopped" : "finished";
  }

  // Only when something went wrong in this program does a run outlive its outcome: it ends too.
  ~PracticeRun() {
    if (pid_ > 0) {
      PassOn(SIGTERM);
      Outcome();
    }
  }

  PracticeRun(const PracticeRun&) = delete;
  PracticeRun& operator=(const PracticeRun&) = delete;

 private:
  void Emit(Stream& stream, const std::string& line) {
    if (&stream == &streams_[0] && (line == kWhoPaidRefusal || line == "answer: no")) {
      stopped_ = true;
    }
    *stream.to << label_ << ": " << line << "\n" << std::flush;
  }

  std::string label_;
  Stream streams_[2];
  pid_t pid_ = -1;
  bool stopped_ = false;
  std::set<int> passed_on_;
};

std::vector<std::string> ArgsFor(const PracticeEntry& practice, const std::string& file_name,
                                 const AllPracticesOptions& options) {
  std::vector<std::string> args = {"run", practice.data_path};
  args.insert(args.end(), options.run_args.begin(), options.run_args.end());
  std::string presses = options.who_paid_file;
  if (!options.who_paid_dir.empty()) {
    std::string own = options.who_paid_dir + "/" + file_name + ".txt";
    std::error_code error;
    if (std::filesystem::is_regular_file(own, error)) presses = own;
  }
  if (!presses.empty()) args.insert(args.end(), {"--who-paid", presses});
  if (!options.report.empty()) {
    args.insert(args.end(), {"--report", PerPracticeFile(options.report, file_name)});
  }
  if (!options.backup.empty()) {
    args.insert(args.end(), {"--backup", options.backup + "/" + file_name});
  }
  return args;
}

// The practices run at most so many at once, until all have run or a stop signal came.
class EveryPracticeRun {
 public:
  EveryPracticeRun(const std::vector<PracticeEntry>& practices, const AllPracticesOptions& options,
                   std::ostream& out, std::ostream& err)
      : practices_(practices),
        options_(options),
        out_(out),
        err_(err),
        file_names_(PracticeFileNames(practices)),
        outcomes_(practices.size()) {
    for (const PracticeEntry& practice : practices) {
      labels_.push_back(common::EscapeControlCharacters(practice.name));
    }
  }

  // 0 only when every practice finished.
  int Run() {
    size_t jobs = static_cast<size_t>(std::max(1, options_.jobs));
    while ((next_ < practices_.size() && !stopping_) || !running_.empty()) {
      while (!stopping_ && running_.size() < jobs && next_ < practices_.size()) {
        StartNext();
        TakeStopSignals();  // one that came meanwhile starts no further practice
      }
      WaitForOutput();
      CollectEnded();
    }
    return PrintOutcomes();
  }

 private:
  struct Running {
    std::unique_ptr<PracticeRun> run;
    size_t index;
  };

  void StartNext() {
    size_t index = next_++;
    const PracticeEntry& practice = practices_[index];
    if (practice.data_path.empty()) {
      err_ << labels_[index] << ": the practice list gives no data path\n";
      outcomes_[index] = "error";
      return;
    }
    // One folder under two entries (the same path, another spelling, a link) would be run twice,
    // perhaps at once: the later entry is not run.
    struct stat folder {};
    if (stat(practice.data_path.c_str(), &folder) == 0) {
      auto [earlier, first] = folders_.try_emplace({folder.st_dev, folder.st_ino}, index);
      if (!first) {
        err_ << labels_[index] << ": the practice list gives the folder of "
             << labels_[earlier->second] << " again; it runs once\n";
        outcomes_[index] = "error";
        return;
      }
    }
    running_.push_back({std::make_unique<PracticeRun>(
                            labels_[index], ArgsFor(practice, file_names_[index], options_),
                            options_.program, stops_, out_, err_),
                        index});
  }

  // Passes on what the runs print and the stop signals that come.
  void WaitForOutput() {
    std::vector<pollfd> polls = {{stops_.fd(), POLLIN, 0}};
    std::vector<Stream*> owners = {nullptr};
    std::vector<PracticeRun*> runs = {nullptr};
    for (Running& running : running_) {
      size_t before = polls.size();
      running.run->AddPolls(polls, owners);
      runs.insert(runs.end(), polls.size() - before, running.run.get());
    }
    // With no run's output left to wait for (the runs there are could not start), only the
    // signals that came are taken: waiting would never end.
    int wait = polls.size() > 1 ? -1 : 0;
    if (poll(polls.data(), polls.size(), wait) < 0 && errno != EINTR) {
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    TakeStopSignals();
    for (size_t i = 1; i < polls.size(); ++i) {
      if (polls[i].revents != 0) runs[i]->Read(*owners[i]);
    }
  }

  void TakeStopSignals() {
    for (int signal : stops_.Take()) Stop(signal);
  }

  // No practice starts any more; those running are passed the signal and waited for.
  void Stop(int signal) {
    stopping_ = true;
    for (Running& running : running_) running.run->PassOn(signal);
  }

  void CollectEnded() {
    for (size_t i = 0; i < running_.size();) {
      if (running_[i].run->Running()) {
        ++i;
        continue;
      }
      outcomes_[running_[i].index] = running_[i].run->Outcome();
      running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  // One line per practice; one never started because of a stop signal was stopped.
  int PrintOutcomes() {
    bool all_finished = true;
    for (size_t i = 0; i < practices_.size(); ++i) {
      std::string outcome = outcomes_[i].empty() ? "stopped" : outcomes_[i];
      out_ << "practice: " << labels_[i] << ": " << outcome << "\n";
      all_finished = all_finished && outcome == "finished";
    }
    out_ << std::flush;
    return all_finished ? 0 : 1;
  }

  const std::vector<PracticeEntry>& practices_;
  const AllPracticesOptions& options_;
  std::map<std::pair<dev_t, ino_t>, size_t> folders_;  // each folder run, by its entry
  std::ostream& out_;
  std::ostream& err_;
  std::vector<std::string> file_names_;  // of each practice's own files
  std::vector<std::string> labels_;      // each practice's name as printed
  std::vector<std::string> outcomes_;
  StopSignals stops_;
  std::vector<Running> running_;  // after stops_: its runs end before the handlers go
  size_t next_ = 0;
  bool stopping_ = false;
};

}  // namespace

int RunAllPractices(const std::vector<PracticeEntry>& practices, const AllPracticesOptions& options,
                    std::ostream& out, std::ostream& err) {
  return EveryPracticeRun(practices, options, out, err).Run();
}

}  // namespace app
