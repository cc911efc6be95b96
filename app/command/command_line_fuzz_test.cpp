// rivenoak and the isam tool run as programs with hostile argument lists: unknown options,
// missing and huge values, invalid dates, missing paths, files where folders belong, bytes that
// are not UTF-8 and empty strings. Each run ends with an exit status of its own (never a signal),
// a refusal says what is wrong, and a refused run leaves the practice's files as they were.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

using isam::testing::TempFolder;

using testing::Execute;
using Outcome = testing::ProgramOutcome;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The practice's files by name with their bytes; lock files and SQLite's own files, which hold
// no data, are left out.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] =
        entry.is_regular_file() ? ReadBytes(entry.path().string()) : "(not a file)";
  }
  for (auto it = files.begin(); it != files.end();) {
    const std::string& name = it->first;
    bool lock = std::any_of(files.begin(), files.end(), [&](const auto& other) {
      return name.rfind(other.first + ".", 0) == 0 || name == other.first + "-wal" ||
             name == other.first + "-shm";
    });
    it = lock ? files.erase(it) : std::next(it);
  }
  return files;
}

std::string Shown(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) {
    text += " '" + (a.size() > 60 ? a.substr(0, 60) + "...(" + std::to_string(a.size()) + ")" : a) +
            "'";
  }
  return text;
}

const std::string kRivenoak = RIVENOAK_PATH;
const std::string kIsam = ISAM_TOOL_PATH;

class HostileArguments : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.File("root"), DemoOptions{1, 60, 7});
    practice_ = root_.File("root/Practice1");
    files_ = Files(practice_);
    std::ofstream(root_.File("plain.txt")) << "a file, not a folder\n";
    std::filesystem::create_directory(root_.File("empty"));
    std::filesystem::create_directory(root_.File("cwd"));
  }

  // Runs a program whose refusal is expected: no signal, exit status 1 (rivenoak: 1 or 2, 2 for a
  // command line it cannot use), a message holding
  // `named`, and the practice as it was. A run that is not refused is restored afterwards.
  void ExpectRefused(const std::string& program, const std::vector<std::string>& args,
                     const std::string& named) {
    Outcome o = Execute(program, args, root_.File("cwd"));
    std::string run = program.substr(program.find_last_of('/') + 1) + Shown(args);
    ASSERT_TRUE(o.exited) << run << " ended by signal " << o.status << "\n" << o.err;
    EXPECT_TRUE(o.status == 1 || (o.status == 2 && program == kRivenoak))
        << run << " exited " << o.status << "\n"
        << o.out;
    // rivenoak run reports a failed run on its "error:" line; everything else on standard error.
    std::string message =
        o.err.empty() && o.out.find("error: ") != std::string::npos ? o.out : o.err;
    EXPECT_NE(message, "") << run;
    EXPECT_NE(message.find(named), std::string::npos) << run << " says: " << message;
    EXPECT_FALSE(RestorePracticeIfChanged()) << run << " was refused but changed the practice";
  }

  // Puts the practice's files back when a run changed them; says whether it had to.
  bool RestorePracticeIfChanged() {
    if (Files(practice_) == files_) return false;
    std::filesystem::remove_all(practice_);
    std::filesystem::create_directory(practice_);
    for (const auto& [name, bytes] : files_) {
      std::ofstream(practice_ + "/" + name, std::ios::binary) << bytes;
    }
    return true;
  }

  TempFolder root_;
  std::string practice_;
  std::map<std::string, std::string> files_;
};

const std::string kHuge(100000, 'x');  // a single argument may hold at most 128 KiB
const std::string kNotUtf8 = "\xff\xfe\xc3(\x80";

TEST_F(HostileArguments, EachDefectIsRefusedNamingWhatIsWrong) {
  const std::string gone = root_.File("gone/deeper"), plain = root_.File("plain.txt");
  const std::string table = practice_ + "/MWTRN.ADT";
  const struct {
    const std::string& program;
    std::vector<std::string> args;
    std::string named;
  } cases[] = {
      {kRivenoak, {"run", practice_, "--quiet", "--bogus"}, "--bogus"},
      {kRivenoak, {"run", practice_, "--quiet", "--from"}, "--from"},
      {kRivenoak,
       {"run", practice_, "--quiet", "--from", "13/45/2020", "--to", "01/01/2021"},
       "13/45/2020"},
      {kRivenoak, {"run", practice_, "--quiet", "--from", "01/01/2020", "--to", kHuge}, kHuge},
      {kRivenoak, {"run", practice_, "--quiet", "--from", kNotUtf8, "--to", "x"}, kNotUtf8},
      {kRivenoak, {"run", practice_, "--on-missing-payor", ""}, "--on-missing-payor"},
      {kRivenoak, {"run", practice_, "--quiet", "--who-paid", gone}, gone},
      {kRivenoak, {"run", gone, "--quiet"}, gone},
      {kRivenoak, {"run", plain, "--quiet"}, plain},
      {kRivenoak, {"run", table, "--quiet"}, table},
      {kRivenoak, {"run", practice_ + "/" + kNotUtf8, "--quiet"}, kNotUtf8},
      {kRivenoak, {"run", practice_, "--progress", "--quiet"}, "--quiet"},
      {kRivenoak, {"run"}, "DATA_PATH"},
      {kRivenoak, {"run", "", "--quiet"}, "DATA_PATH"},
      {kRivenoak, {""}, ""},
      {kRivenoak, {"--root"}, "--root"},
      {kRivenoak, {"--root", practice_, kNotUtf8}, kNotUtf8},
      {kRivenoak, {"demo", root_.File("root")}, "MWDBList.ADT"},
      {kRivenoak, {"demo", plain}, plain},
      {kRivenoak, {"demo", root_.File("d"), "--practices", "0"}, "--practices"},
      {kRivenoak, {"demo", root_.File("d"), "--seed", "-1x"}, "--seed"},
      {kRivenoak, {"backup", gone, root_.File("b")}, gone},
      {kRivenoak, {"restore", gone, practice_}, gone},
      {kRivenoak, {"restore", practice_, practice_}, practice_},
      {kRivenoak, {"diff", plain, practice_}, plain},
      {kIsam, {}, "subcommand"},
      {kIsam, {"info", gone + "/T.adt"}, gone},
      {kIsam, {"info", practice_}, practice_},
      {kIsam, {"info", ""}, "isam: "},
      {kIsam, {"dump", plain}, plain},
      {kIsam, {"dump", table, "--index"}, "--index"},
      {kIsam, {"dump", table, "--index", kNotUtf8}, kNotUtf8},
      {kIsam,
       {"sql", practice_, "SELECT * FROM \"MWTRN.ADT\" WHERE \"Date From\" > :d", "--date",
        "d=13/45/2020"},
       "13/45/2020"},
      {kIsam, {"sql", gone, "SELECT * FROM \"MWTRN.ADT\""}, gone},
      {kIsam, {"sql", practice_, kHuge}, "position"},
      {kIsam, {"create", table, "--field", "A CHAR(2)"}, table},
      {kIsam, {"create", practice_ + "/New.adt", "--field"}, "--field"},
      {kIsam, {"import", table, gone}, gone},
      {kIsam, {"import", table, plain}, "line 1"},
  };
  for (const auto& c : cases) ExpectRefused(c.program, c.args, c.named);
}

// A --who-paid that names no readable file must stop the run before anything is opened.
TEST_F(HostileArguments, AFolderGivenAsTheWhoPaidFileIsRefused) {
  ExpectRefused(kRivenoak, {"run", practice_, "--quiet", "--who-paid", practice_}, practice_);
}

TEST_F(HostileArguments, AnEmptyWhoPaidFileNameIsRefused) {
  ExpectRefused(kRivenoak, {"run", practice_, "--quiet", "--who-paid", ""}, "--who-paid");
}

TEST_F(HostileArguments, AFolderGivenAsTheCsvFileIsRefused) {
  ExpectRefused(kIsam, {"import", practice_ + "/MWTRN.ADT", practice_}, practice_);
}

TEST_F(HostileArguments, RandomArgumentListsEndWithAStatusAndAMessage) {
  const std::vector<std::string> kRivenoakCommands = {"run",  "demo", "backup", "restore",
                                                      "diff", "runn", "",       kNotUtf8};
  const std::vector<std::string> kIsamCommands = {"info",   "dump",   "export", "sql",
                                                  "create", "import", "",       "INFO"};
  const std::vector<std::string> pool = {practice_,
                                         practice_ + "/MWTRN.ADT",
                                         root_.File("plain.txt"),
                                         root_.File("gone"),
                                         root_.File("empty"),
                                         root_.File("new"),
                                         practice_ + "/" + kNotUtf8,
                                         "",
                                         kNotUtf8,
                                         kHuge,
                                         "--from",
                                         "--to",
                                         "13/45/2020",
                                         "02/30/2021",
                                         "00/00/0000",
                                         "1/1/1",
                                         "--who-paid",
                                         "--on-missing-payor",
                                         "maybe",
                                         "--no-apply",
                                         "--quiet",
                                         "--progress",
                                         "--practices",
                                         "0",
                                         "1001",
                                         "-5",
                                         "99999999999999999999",
                                         "--seed",
                                         "--transactions",
                                         "--index",
                                         "PRIMARY",
                                         "--date",
                                         "d=13/45/2020",
                                         "--param",
                                         "=",
                                         "--field",
                                         "A CHAR(0)",
                                         "--",
                                         "-",
                                         "--=",
                                         "-x",
                                         "SELECT * FROM \"MWTRN.ADT\" WHERE \"Chart Number\" = :d",
                                         "SELECT",
                                         "--root"};
  std::mt19937 random(2024);
  auto pick = [&](const std::vector<std::string>& items) {
    return items[std::uniform_int_distribution<size_t>(0, items.size() - 1)(random)];
  };
  auto start = std::chrono::steady_clock::now();
  const int kLists = 200;
  int refused = 0;
  for (int i = 0; i < kLists; ++i) {
    bool rivenoak = i % 2 == 0;
    std::vector<std::string> args = {pick(rivenoak ? kRivenoakCommands : kIsamCommands)};
    // Half the lists name the practice or its table where the command expects it first.
    if (random() % 2) args.push_back(rivenoak ? practice_ : practice_ + "/MWTRN.ADT");
    for (int n = std::uniform_int_distribution<int>(0, 5)(random); n > 0; --n) {
      args.push_back(pick(pool));
    }
    Outcome o = Execute(rivenoak ? kRivenoak : kIsam, args, root_.File("cwd"));
    std::string run = (rivenoak ? "rivenoak" : "isam") + Shown(args);
    ASSERT_TRUE(o.exited) << run << " ended by signal " << o.status << "\n" << o.err;
    ASSERT_LE(o.status, rivenoak ? 2 : 1) << run << "\n" << o.err;
    if (o.status == 0) {
      RestorePracticeIfChanged();  // an accepted run may change the practice
      continue;
    }
    ++refused;
    EXPECT_TRUE(!o.err.empty() || o.out.find("error: ") != std::string::npos) << run;
    EXPECT_FALSE(RestorePracticeIfChanged()) << run << " was refused but changed the practice";
  }
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("command line fuzz: %d argument lists (%d refused) in %.1f s\n", kLists, refused,
              seconds.count());
}

}  // namespace
}  // namespace app
