#include "app/all_practices.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/main_form_logic.h"
#include "data/errors.h"
#include "data/isam_connection.h"
#include "data/isam_dataset.h"

extern char** environ;

namespace app {

std::vector<PracticeEntry> ReadPracticeList(const std::string& root) {
  data::TComponent owner(nullptr, "PracticeList");
  data::TIsamConnection connection(&owner, "ListConnection");
  connection.IsamServerTypes = data::stISAM_REMOTE | data::stISAM_LOCAL;
  data::TIsamTable list(&owner, "MWdblist");
  list.SetIsamConnection(&connection);
  list.SetTableName("MWDBList.ADT");
  connection.SetConnectPath(FormatDataPath(root));
  connection.SetIsConnected(true);
  list.Open();
  std::vector<PracticeEntry> practices;
  for (list.First(); !list.Eof(); list.Next()) {
    std::string path = list.FieldByName("Data Path").AsString();
    if (!path.empty() && std::filesystem::path(path).is_relative()) {
      path = (std::filesystem::path(root) / path).lexically_normal().string();
    }
    practices.push_back({list.FieldByName("Dataset Name").AsString(), path});
  }
  list.Close();
  return practices;
}

std::string PerPracticeFile(const std::string& file, const std::string& name) {
  std::filesystem::path path(file);
  std::string stem = path.stem().string() + "-" + name + path.extension().string();
  return (path.parent_path() / stem).string();
}

namespace {

// A pipe's two ends, each closed with its owner.
struct Pipe {
  int read = -1, write = -1;
  Pipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
    read = ends[0];
    write = ends[1];
  }
  ~Pipe() {
    if (read >= 0) close(read);
    if (write >= 0) close(write);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
};

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
  PracticeRun(const PracticeEntry& practice, std::vector<std::string> args,
              const std::string& program, std::ostream& out, std::ostream& err)
      : name_(practice.name) {
    streams_[0].pipe = std::make_unique<Pipe>();
    streams_[0].to = &out;
    streams_[1].pipe = std::make_unique<Pipe>();
    streams_[1].to = &err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, streams_[0].pipe->write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, streams_[1].pipe->write, STDERR_FILENO);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (Stream& stream : streams_) {
      close(stream.pipe->write);
      stream.pipe->write = -1;
    }
    if (rc != 0) {
      pid_ = -1;
      for (Stream& stream : streams_) stream.open = false;
      Emit(streams_[1], "cannot start " + program + ": " + std::strerror(rc));
    }
  }

  const std::string& name() const { return name_; }
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

  // Waits for the process; the practice's outcome.
  std::string Outcome() {
    int status = 0;
    if (pid_ < 0) return "error";
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "error";
    return stopped_ ? "stopped" : "finished";
  }

  ~PracticeRun() {
    if (pid_ > 0) Outcome();
  }

 private:
  void Emit(Stream& stream, const std::string& line) {
    if (&stream == &streams_[0] && (line == kWhoPaidRefusal || line == "answer: no")) {
      stopped_ = true;
    }
    *stream.to << name_ << ": " << line << "\n" << std::flush;
  }

  std::string name_;
  Stream streams_[2];
  pid_t pid_ = -1;
  bool stopped_ = false;
};

std::vector<std::string> ArgsFor(const PracticeEntry& practice,
                                 const AllPracticesOptions& options) {
  std::vector<std::string> args = {"run", practice.data_path};
  args.insert(args.end(), options.run_args.begin(), options.run_args.end());
  std::string presses = options.who_paid_file;
  if (!options.who_paid_dir.empty()) {
    std::string own = options.who_paid_dir + "/" + practice.name + ".txt";
    std::error_code error;
    if (std::filesystem::is_regular_file(own, error)) presses = own;
  }
  if (!presses.empty()) args.insert(args.end(), {"--who-paid", presses});
  if (!options.report.empty()) {
    args.insert(args.end(), {"--report", PerPracticeFile(options.report, practice.name)});
  }
  if (!options.backup.empty()) {
    args.insert(args.end(), {"--backup", options.backup + "/" + practice.name});
  }
  return args;
}

}  // namespace

int RunAllPractices(const std::vector<PracticeEntry>& practices, const AllPracticesOptions& options,
                    std::ostream& out, std::ostream& err) {
  std::vector<std::string> outcomes(practices.size());
  std::vector<std::unique_ptr<PracticeRun>> running;
  std::vector<size_t> running_index;
  size_t next = 0;
  size_t jobs = static_cast<size_t>(std::max(1, options.jobs));
  while (next < practices.size() || !running.empty()) {
    while (running.size() < jobs && next < practices.size()) {
      const PracticeEntry& practice = practices[next];
      if (practice.data_path.empty()) {
        err << practice.name << ": the practice list gives no data path\n";
        outcomes[next++] = "error";
        continue;
      }
      running.push_back(std::make_unique<PracticeRun>(practice, ArgsFor(practice, options),
                                                      options.program, out, err));
      running_index.push_back(next++);
    }
    std::vector<pollfd> polls;
    std::vector<Stream*> owners;
    std::vector<PracticeRun*> runs;
    for (auto& run : running) {
      size_t before = polls.size();
      run->AddPolls(polls, owners);
      runs.insert(runs.end(), polls.size() - before, run.get());
    }
    if (!polls.empty() && poll(polls.data(), polls.size(), -1) < 0 && errno != EINTR) {
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    for (size_t i = 0; i < polls.size(); ++i) {
      if (polls[i].revents != 0) runs[i]->Read(*owners[i]);
    }
    for (size_t i = 0; i < running.size();) {
      if (running[i]->Running()) {
        ++i;
        continue;
      }
      outcomes[running_index[i]] = running[i]->Outcome();
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
      running_index.erase(running_index.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  bool all_finished = true;
  for (size_t i = 0; i < practices.size(); ++i) {
    out << "practice: " << practices[i].name << ": " << outcomes[i] << "\n";
    all_finished = all_finished && outcomes[i] == "finished";
  }
  out << std::flush;
  return all_finished ? 0 : 1;
}

}  // namespace app
