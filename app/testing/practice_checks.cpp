#include "app/testing/practice_checks.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/command/command_line.h"

namespace app::testing {
namespace {

constexpr const char* kChargeTypes =
    "(c.\"Transaction Type\" BETWEEN 'A' AND 'D' OR c.\"Transaction Type\" = 'H')";

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

ProgramOutcome Execute(const std::string& program, std::vector<std::string> args,
                       const std::string& cwd, unsigned seconds) {
  std::string out_path = cwd + "/stdout.txt", err_path = cwd + "/stderr.txt";
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(cwd.c_str()) != 0 || out < 0 || err < 0) _exit(127);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    alarm(seconds);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ProgramOutcome o;
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return o;
  o.exited = WIFEXITED(status);
  o.status = o.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  o.out = ReadBytes(out_path);
  o.err = ReadBytes(err_path);
  return o;
}

std::vector<std::string> QueryColumn(const std::string& file, const std::string& sql,
                                     const std::string& attach) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {"cannot open " + file};
  }
  std::string attach_sql = "ATTACH '" + attach + "' AS pax";
  sqlite3_stmt* stmt = nullptr;
  if ((!attach.empty() && sqlite3_exec(db, attach_sql.c_str(), nullptr, nullptr, nullptr)) ||
      sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    rows.push_back(file + ": " + sqlite3_errmsg(db));
  } else {
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      rows.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    if (rc != SQLITE_DONE) rows.push_back(file + ": " + sqlite3_errmsg(db));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

std::vector<std::string> PracticeFaults(const std::string& practice) {
  std::vector<std::string> faults;
  for (const char* table : {"MWTRN.ADT", "Mwpax.adt", "Mwpro.adt"}) {
    std::vector<std::string> verdict =
        QueryColumn(practice + "/" + table, "PRAGMA integrity_check");
    if (verdict != std::vector<std::string>{"ok"})
      faults.push_back(std::string(table) + " is damaged");
  }
  std::string torn =
      "SELECT 'document of payment ' || p.\"Entry Number\" || ' is half applied' FROM records p"
      " WHERE p.\"Transaction Type\" BETWEEN 'I' AND 'U' AND"
      " (SELECT count(*) FROM pax.records a WHERE a.\"Payment Reference\" = p.\"Entry Number\")"
      " NOT IN (0, (SELECT count(*) FROM records c WHERE c.\"Chart Number\" = p.\"Chart Number\""
      " AND c.\"Document Number\" = p.\"Document Number\" AND " +
      std::string(kChargeTypes) +
      "))"
      " UNION ALL "
      "SELECT 'charge ' || c.\"Entry Number\" || ' disagrees with its application records'"
      " FROM records c WHERE " +
      kChargeTypes +
      " AND round(coalesce(c.\"Insurance 1 Amount Paid\", 0) + coalesce(c.\"Insurance 2 Amount"
      " Paid\", 0) + coalesce(c.\"Insurance 3 Amount Paid\", 0) + coalesce(c.\"Guarantor Amount"
      " Paid\", 0) + coalesce(c.\"Attorney Amount Paid\", 0) + coalesce(c.\"Adjustment Amount\","
      " 0), 2) <> round(coalesce((SELECT sum(a.\"Payment Amount\") FROM pax.records a"
      " WHERE a.\"Charge Reference\" = c.\"Entry Number\"), 0), 2)";
  for (std::string& fault : QueryColumn(practice + "/MWTRN.ADT", torn, practice + "/Mwpax.adt")) {
    faults.push_back(std::move(fault));
  }
  return faults;
}

Outcome Rivenoak(std::vector<std::string> args) {
  args.insert(args.begin(), "rivenoak");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  int status = RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
  Outcome outcome{status, "", err.str(), {}};
  std::istringstream lines(out.str());
  std::string line;
  while (std::getline(lines, line)) {
    bool summary = line.rfind("summary: ", 0) == 0;
    (summary ? outcome.summary : outcome.out) += line + "\n";
  }
  // A last line without its end stays so.
  if (!out.str().empty() && out.str().back() != '\n' && !outcome.out.empty()) {
    outcome.out.pop_back();
  }
  return outcome;
}

std::vector<std::string> Differences(const std::string& before, const std::string& after) {
  Outcome diff = Rivenoak({"diff", before, after});
  std::vector<std::string> lines;
  std::istringstream in(diff.out);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header || line.empty() || line[0] == '#') {
      header = false;
      continue;
    }
    lines.push_back(line);
  }
  if (!diff.err.empty()) lines.push_back("diff: " + diff.err);
  return lines;
}

void RewritePractice(const std::string& source, const std::string& target,
                     isam::testing::JournalMode mode) {
  namespace fs = std::filesystem;
  fs::create_directories(target);
  for (const char* table : {"MWTRN.ADT", "Mwpax.adt", "Mwpro.adt"}) {
    isam::testing::RewriteTableFile(source + "/" + table, target + "/" + table, mode);
  }
  std::string log = source + "/Convert.log";
  if (fs::exists(log)) {
    fs::copy_file(log, target + "/Convert.log");
    fs::last_write_time(target + "/Convert.log", fs::last_write_time(log));
  }
}

void ListPractices(const std::string& root, const std::string& rows, bool only) {
  isam::testing::RunSql(root + "/MWDBList.ADT",
                        std::string(only ? "DELETE FROM records;" : "") +
                            "INSERT INTO records (\"Dataset Name\", \"Data Path\") VALUES " + rows);
}

}  // namespace app::testing
