// `rivenoak run --all` as scripts use it, run as its own process: every practice of the root's
// list runs as a process of its own, its lines prefixed with its name, and the command ends with
// one `practice:` line each and exit 0 only when every practice finished. Also the help that
// lists `run`'s options, one line each.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "app/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "engine/run_counts.h"
#include "isam/testing/test_support.h"

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

class AllPractices : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.File("root"), DemoOptions{3, 300, 1});
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
              static_cast<long>(engine::SummaryOf(engine::RunCounts()).size()))
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
