// The desktop program run as its own process on an X server of the test's own (Xvfb), driven
// from outside as a user would: keys sent to its windows, the title bar's close request, and the
// practice's tables read with plain SQLite. Leaving the chooser ends the program by itself; Return
// and Space press no button that was not chosen; Tab follows the controls' order through the
// grids; after a payer press the focus stays where the next press can follow; windows open
// centred on the screen.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

extern char** environ;

namespace app {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using isam::testing::TempFolder;

constexpr auto kWait = 20s;     // an upper bound for a window to come, never a pace
constexpr auto kExitWait = 5s;  // an upper bound for the program to end once asked
constexpr int kScreenWidth = 1280, kScreenHeight = 1024;
const char kMainCaption[] = "Rivenoak For Medisoft Windows";

bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extra_env,
            const std::string& output) {
  std::vector<std::string> env_strings(extra_env);
  for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : env_strings) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  // Other descriptors (a pipe the child is to write to) are inherited as they are.
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits up to `limit` for the process to end; its exit status, or -1 while it runs.
int WaitForExit(pid_t pid, Clock::duration limit) {
  auto until = Clock::now() + limit;
  do {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(5ms);
  } while (Clock::now() < until);
  return -1;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// An X server of this test process: 1280 by 1024, no window manager.
class XServer {
 public:
  XServer() {
    // A display number of this process's own, well above those people and scripts take, so
    // that tests running side by side never meet on one server.
    for (int attempt = 0; attempt < 20 && display_.empty(); ++attempt) {
      int number = 100 + (static_cast<int>(getpid()) + attempt * 37) % 800;
      if (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
      Start(number);
    }
  }
  ~XServer() {
    // Asked to end, so that it removes its lock file and socket for the next server.
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (WaitForExit(pid_, 5s) < 0) Stop(pid_);
  }
  const std::string& display() const { return display_; }

 private:
  // Starts a server on the display; it writes the number to the pipe once it takes clients,
  // and ends at once if the display is taken.
  void Start(int number) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_t pid = Spawn(
        {"Xvfb", ":" + std::to_string(number), "-displayfd", std::to_string(fds[1]), "-screen", "0",
         std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24", "-nolisten",
         "tcp",
         // No reset when the last client leaves: a program started meanwhile would find no server.
         "-noreset",
         // No key repeats: on a busy machine a key held between xdotool's press
         // and release would otherwise be typed again.
         "-ardelay", "60000"},
        {}, "/dev/null");
    close(fds[1]);
    std::string written;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') written += c;
    close(fds[0]);
    if (written == std::to_string(number)) {
      pid_ = pid;
      display_ = ":" + written;
    } else {
      Stop(pid);
    }
  }

  pid_t pid_ = -1;
  std::string display_;
};

class WindowProcessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (OnPath("Xvfb") && OnPath("xdotool")) server_ = new XServer;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (!server_ || server_->display().empty()) {
      GTEST_SKIP() << "Xvfb and xdotool are installed by scripts/setup.sh";
    }
    MakeDemoRoot(root_.path(), DemoOptions{1, 300, 2});
  }
  void TearDown() override { Stop(pid_); }

  std::string Practice() const { return root_.path() + "/Practice1"; }
  std::string Output() const { return root_.File("program.out"); }

  void StartProgram() {
    pid_ = Spawn({RIVENOAK_PATH, "--root", root_.path()},
                 {"DISPLAY=" + server_->display(), "QT_QPA_PLATFORM=xcb"}, Output());
    ASSERT_GT(pid_, 0);
  }

  // The program's end: within a second of the last thing it was asked, by itself.
  // A program that ends on its own does so at once; the wait is long only so that a machine busy
  // with other work does not turn a slow exit into a failure.
  int EndsBySelf() { return EndsWithin(kExitWait); }

  int EndsWithin(Clock::duration limit) {
    int status = WaitForExit(pid_, limit);
    if (status >= 0) pid_ = -1;
    return status;
  }

  std::string Xdo(const std::string& args) {
    std::string command = "DISPLAY=" + server_->display() + " xdotool " + args + " 2>/dev/null";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[256];
      while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
      pclose(pipe);
    }
    return out;
  }

  // The ids of the program's visible windows with this title.
  std::vector<std::string> Windows(const std::string& title) {
    std::istringstream in(Xdo("search --onlyvisible --name '^" + title + "$'"));
    std::vector<std::string> ids;
    for (std::string id; in >> id;) ids.push_back(id);
    return ids;
  }

  // A visible window with this title that is not `other`; empty after kWait.
  std::string WaitForWindow(const std::string& title, const std::string& other = "") {
    auto until = Clock::now() + kWait;
    while (Clock::now() < until) {
      for (const std::string& id : Windows(title)) {
        if (id != other) return id;
      }
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "no window \"" << title << "\" came";
    return "";
  }

  void WaitUntilGone(const std::string& id) {
    auto until = Clock::now() + kWait;
    while (Clock::now() < until) {
      if (Xdo("getwindowname " + id).empty()) return;
      std::string visible = Xdo("search --onlyvisible --name '.*'");
      if (visible.find(id) == std::string::npos) return;
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "window " << id << " stayed";
  }

  // Keys as a user types them into the window: it gets the keyboard focus first.
  void Keys(const std::string& window, const std::string& keys) {
    ASSERT_FALSE(window.empty());
    Xdo("windowfocus --sync " + window + " key --delay 30 " + keys);
  }

  // The window's top-left corner and size on the screen.
  std::vector<int> Geometry(const std::string& window) {
    std::string shell = Xdo("getwindowgeometry --shell " + window);
    std::map<std::string, int> values;
    std::istringstream in(shell);
    for (std::string line; std::getline(in, line);) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    }
    return {values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]};
  }

  void ExpectCentred(const std::string& window, const char* name) {
    std::vector<int> g = Geometry(window);
    EXPECT_NEAR(g[0], (kScreenWidth - g[2]) / 2, 1) << name << " left";
    EXPECT_NEAR(g[1], (kScreenHeight - g[3]) / 2, 1) << name << " top";
  }

  // What a window manager sends when the title bar's close button is pressed.
  void CloseByTitleBar(const std::string& window) {
    xcb_connection_t* connection = xcb_connect(server_->display().c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    auto atom = [&](const char* name) {
      xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
          connection,
          xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
      xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
      std::free(reply);
      return value;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(std::stoul(window));
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    xcb_disconnect(connection);
  }

  // Every byte of every table file of the practice.
  std::map<std::string, std::string> Tables() {
    std::map<std::string, std::string> tables;
    for (const auto& entry : std::filesystem::directory_iterator(Practice())) {
      if (entry.path().extension() != ".ADT") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      tables[entry.path().filename().string()] = bytes.str();
    }
    return tables;
  }

  int PaymentsWithoutPayer() {
    std::vector<std::string> rows =
        testing::QueryColumn(Practice() + "/MWTRN.ADT",
                             "SELECT count(*) FROM records WHERE \"Who Paid\" IS NULL AND "
                             "\"Transaction Type\" BETWEEN 'I' AND 'O'");
    // A read that meets the program's commit gives a row that says so, not a count: -1.
    if (rows.size() != 1 || rows[0].empty() ||
        !std::isdigit(static_cast<unsigned char>(rows[0][0]))) {
      return -1;
    }
    return std::atoi(rows[0].c_str());
  }

  // Waits until the count of payments without a payer is at most `count`; the count then.
  int WaitForPaymentsWithoutPayer(int count) {
    auto until = Clock::now() + kWait;
    int now = PaymentsWithoutPayer();
    while ((now < 0 || now > count) && Clock::now() < until) {
      std::this_thread::sleep_for(20ms);
      now = PaymentsWithoutPayer();
    }
    return now;
  }

  std::string ProgramOutput() {
    std::ifstream in(Output());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static XServer* server_;
  TempFolder root_;
  pid_t pid_ = -1;
};

XServer* WindowProcessTest::server_ = nullptr;

TEST_F(WindowProcessTest, LeavingTheChooserEndsTheProgramEveryWay) {
  const std::map<std::string, std::function<void(const std::string&)>> ways = {
      {"Escape", [this](const std::string& w) { Keys(w, "Escape"); }},
      {"Alt+E", [this](const std::string& w) { Keys(w, "alt+e"); }},
      // From the grid, Tab reaches "&Open", then "&Exit"; Space presses it.
      {"Exit from the keyboard", [this](const std::string& w) { Keys(w, "Tab Tab space"); }},
  };
  for (const auto& [way, leave] : ways) {
    SCOPED_TRACE(way);
    StartProgram();
    std::string chooser = WaitForWindow("Choose Practice");
    ASSERT_FALSE(chooser.empty());
    ExpectCentred(chooser, "chooser");
    leave(chooser);
    EXPECT_EQ(EndsBySelf(), 0) << ProgramOutput();
    Stop(pid_);
    pid_ = -1;
  }

  // The title bar's close button. Without a window manager the toolkit lets some close requests
  // to a dialog pass unanswered (a plain dialog of its own does the same); the user then presses
  // again, so the button is pressed every 200 ms until the program ends, for as long as a
  // program is given to end on its own.
  SCOPED_TRACE("title bar");
  StartProgram();
  std::string chooser = WaitForWindow("Choose Practice");
  ASSERT_FALSE(chooser.empty()) << "program ended: " << EndsWithin(0s) << "\n" << ProgramOutput();
  int status = -1;
  for (auto until = Clock::now() + kExitWait; status < 0 && Clock::now() < until;) {
    CloseByTitleBar(chooser);
    status = EndsWithin(200ms);
  }
  EXPECT_EQ(status, 0) << ProgramOutput();
}

TEST_F(WindowProcessTest, KeysPressOnlyWhatTheUserChoseAndTabFollowsTheControls) {
  std::map<std::string, std::string> before = Tables();
  int missing = PaymentsWithoutPayer();
  ASSERT_GE(missing, 3);
  StartProgram();

  // The chooser has no default button: Return and Space in its grid open nothing.
  std::string chooser = WaitForWindow("Choose Practice");
  Keys(chooser, "Return space");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Windows(kMainCaption).size(), 0u);
  EXPECT_EQ(Windows("Choose Practice").size(), 1u);
  Keys(chooser, "alt+o");

  // Main window: the focus starts on "Match Transaction Types with Procedure Types", which
  // Space unchecks, so that the run leaves the types alone; Return presses nothing. Six Tabs
  // pass the other check boxes and Exit to reach Start.
  std::string main = WaitForWindow(kMainCaption);
  ASSERT_FALSE(main.empty());
  ExpectCentred(main, "main window");
  Keys(main, "Return space Tab Tab Tab Tab Tab Tab space");

  std::string dialog = WaitForWindow("Correct Who Paid Fields");
  ASSERT_FALSE(dialog.empty());
  ExpectCentred(dialog, "who-paid dialog");
  EXPECT_EQ(Tables(), before) << "a key in the main window changed a table";

  // Return and Space in the grid write nothing. Tab leaves the grid for the first payer button
  // offered, Space presses it, and Space again presses the button the focus stayed on.
  Keys(dialog, "Return space Tab space");
  EXPECT_EQ(WaitForPaymentsWithoutPayer(missing - 1), missing - 1);
  Keys(dialog, "space");
  EXPECT_EQ(WaitForPaymentsWithoutPayer(missing - 2), missing - 2);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(PaymentsWithoutPayer(), missing - 2);

  // Closing the dialog with payments left: the refusal, then "Finished.", each closed with Return.
  Keys(dialog, "Escape");
  std::string refusal = WaitForWindow("Information");
  Keys(refusal, "Return");
  std::string finished = WaitForWindow("Information", refusal);
  Keys(finished, "Return");
  WaitUntilGone(finished);
  Keys(main, "Escape");
  EXPECT_EQ(EndsBySelf(), 0) << ProgramOutput();
  EXPECT_EQ(PaymentsWithoutPayer(), missing - 2);
}

}  // namespace
}  // namespace app
