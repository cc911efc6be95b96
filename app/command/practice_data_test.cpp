// rivenoak backup, restore, diff, run --backup and run --dry-run on demo practices: copies made
// while the tables are in use, restores refused while a table is open elsewhere, a dry run that
// leaves the practice as it was, and the change report's lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/command/command_line.h"
#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using isam::testing::FakeNetworkFolder;
using isam::testing::FieldNumber;
using isam::testing::FieldText;
using isam::testing::RunSql;
using isam::testing::ScopedConnection;
using isam::testing::TempFolder;

using testing::Outcome;
using testing::Rivenoak;

// Every file of a folder by name: its size, a hash of its bytes and its last-write time.
std::map<std::string, std::string> FolderState(const std::string& folder) {
  std::map<std::string, std::string> state;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    state[entry.path().filename().string()] =
        std::to_string(bytes.str().size()) + " bytes, hash " +
        std::to_string(std::hash<std::string>{}(bytes.str())) + ", written " +
        std::to_string(entry.last_write_time().time_since_epoch().count());
  }
  return state;
}

// The report's lines about records, without its header and summaries.
std::vector<std::string> ChangeLines(const std::string& report) {
  std::vector<std::string> lines;
  std::istringstream in(report);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "table,recno,key,field,old,new\r");
  while (std::getline(in, line)) {
    if (line.empty() || line.back() != '\r') ADD_FAILURE() << "not ended with CR LF: " << line;
    if (!line.empty()) line.pop_back();
    if (line.rfind("#", 0) != 0) lines.push_back(line);
  }
  return lines;
}

// A field of one record, read through the engine.
std::string Field(const std::string& folder, const std::string& table, uint32_t recno,
                  const std::string& field) {
  ScopedConnection connection(folder);
  IsamHandle handle = connection.Open(table, ISAM_OPEN_READ_ONLY);
  EXPECT_EQ(IsamGotoRecord(handle, recno), 0u);
  return FieldText(handle, FieldNumber(handle, field));
}

const char kNoChanges[] =
    "table,recno,key,field,old,new\r\n"
    "# Mwpax.adt: 0 added, 0 removed, 0 changed fields in 0 records\r\n"
    "# Mwpro.adt: 0 added, 0 removed, 0 changed fields in 0 records\r\n"
    "# MWTRN.ADT: 0 added, 0 removed, 0 changed fields in 0 records\r\n";

class PracticeData : public ::testing::Test {
 protected:
  void SetUp() override { practice_ = MakePractice(root_); }
  // A demo practice whose payments all have a payer, so that runs go through every phase; the
  // same records in every folder.
  static std::string MakePractice(const TempFolder& root) {
    MakeDemoRoot(root.path(), DemoOptions{1, 80, 11});
    std::string practice = root.File("Practice1");
    RunSql(practice + "/MWTRN.ADT",
           "UPDATE records SET \"Who Paid\"='G' WHERE \"Who Paid\" IS NULL");
    return practice;
  }
  TempFolder root_, other_;
  std::string practice_;
};

TEST_F(PracticeData, BackupWhileATableIsOpenRestoresToTheSameRecords) {
  std::string backup = other_.File("backup");
  {
    ScopedConnection reader(practice_);
    IsamHandle table = reader.Open("MWTRN.ADT", ISAM_OPEN_READ_ONLY);
    ISAM_ASSERT_OK(IsamGotoTop(table));
    Outcome o = Rivenoak({"backup", practice_, backup});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "backed up 3 tables to " + backup + "\n");
  }
  for (const char* name : {"MWTRN.ADT", "Mwpax.adt", "Mwpro.adt", "Convert.log"}) {
    EXPECT_TRUE(fs::exists(backup + "/" + name)) << name;
  }
  EXPECT_EQ(fs::last_write_time(backup + "/Convert.log"),
            fs::last_write_time(practice_ + "/Convert.log"));
  EXPECT_EQ(Rivenoak({"diff", practice_, backup}).out, kNoChanges);

  Outcome run = Rivenoak({"run", practice_, "--quiet"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(ChangeLines(Rivenoak({"diff", backup, practice_}).out).empty());

  Outcome o = Rivenoak({"restore", backup, practice_});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "restored 3 tables to " + practice_ + "\n");
  EXPECT_EQ(Rivenoak({"diff", backup, practice_}).out, kNoChanges);
  // The restored practice runs again as it did the first time.
  EXPECT_EQ(Rivenoak({"run", practice_, "--quiet"}).out, run.out);
}

TEST_F(PracticeData, RestoreIsRefusedWhileAnotherHandleHasATableOpen) {
  std::string backup = other_.File("backup");
  ASSERT_EQ(Rivenoak({"backup", practice_, backup}).status, 0);
  RunSql(practice_ + "/Mwpro.adt", "UPDATE records SET \"Description\"='changed'");
  auto table_bytes = [&] {
    std::map<std::string, std::string> state = FolderState(practice_);
    std::erase_if(state,
                  [](const auto& file) { return file.first.find('-') != std::string::npos; });
    return state;
  };
  {
    ScopedConnection other_program(practice_);
    other_program.Open("Mwpax.adt");
    std::map<std::string, std::string> before = table_bytes();
    Outcome o = Rivenoak({"restore", backup, practice_});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err,
              "rivenoak restore: the table Mwpax.adt is open in another program; nothing was "
              "restored\n");
    EXPECT_EQ(table_bytes(), before);
  }
  EXPECT_FALSE(ChangeLines(Rivenoak({"diff", backup, practice_}).out).empty());
  Outcome o = Rivenoak({"restore", backup, practice_});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Rivenoak({"diff", backup, practice_}).out, kNoChanges);
}

// A practice on a share mounted with nobrl: locks stay on this computer, so nothing may change
// it; reading it (backup, diff, a dry run on a copy) goes on as anywhere.
TEST_F(PracticeData, OnANetworkFolderThatKeepsLocksLocalOnlyReadingIsAllowed) {
  std::string backup = other_.File("backup");
  ASSERT_EQ(Rivenoak({"backup", practice_, backup}).status, 0);
  FakeNetworkFolder share(practice_, "cifs", "rw,vers=3.1.1,nobrl");
  Outcome run = Rivenoak({"run", practice_, "--quiet"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Rivenoak will not change the practice in " + practice_),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("(cifs) mounted with nobrl"), std::string::npos) << run.out;
  EXPECT_EQ(Rivenoak({"diff", backup, practice_}).out, kNoChanges);

  Outcome restore = Rivenoak({"restore", backup, practice_});
  EXPECT_EQ(restore.status, 1);
  EXPECT_NE(restore.err.find("nobrl"), std::string::npos) << restore.err;

  Outcome copy = Rivenoak({"backup", practice_, other_.File("second")});
  EXPECT_EQ(copy.status, 0) << copy.err;
  // A dry run promises nothing that the run cannot do.
  Outcome dry = Rivenoak({"run", practice_, "--dry-run", "--quiet"});
  EXPECT_EQ(dry.status, 1);
  EXPECT_NE(dry.out.find("mounted with nobrl"), std::string::npos) << dry.out;
  EXPECT_EQ(Rivenoak({"diff", backup, practice_}).out, kNoChanges);
  // The way out the refusal gives: a practice made from the copy on the local disk runs.
  std::string local = other_.File("practice");
  fs::create_directory(local);
  ASSERT_EQ(Rivenoak({"restore", other_.File("second"), local}).status, 0);
  Outcome local_run = Rivenoak({"run", local, "--quiet"});
  EXPECT_EQ(local_run.status, 0) << local_run.out;
  EXPECT_FALSE(ChangeLines(Rivenoak({"diff", backup, local}).out).empty());
}

// Where the share passes locks on, a run and a restore work as on a local disk.
TEST_F(PracticeData, OnANetworkFolderWithLocksRunAndRestoreWork) {
  std::string backup = other_.File("backup");
  ASSERT_EQ(Rivenoak({"backup", practice_, backup}).status, 0);
  // Another program, which takes the folder for a local one.
  auto other_program = std::make_unique<ScopedConnection>(practice_);
  FakeNetworkFolder share(practice_, "nfs4", "rw,vers=4.2,hard,local_lock=none");
  {
    // It has a table open: a dry run says what the run would meet.
    other_program->Open("Mwpax.adt");
    Outcome dry = Rivenoak({"run", practice_, "--dry-run", "--quiet"});
    EXPECT_EQ(dry.status, 1);
    EXPECT_NE(dry.out.find("Mwpax.adt is open in another program"), std::string::npos) << dry.out;
    other_program.reset();
  }
  Outcome run = Rivenoak({"run", practice_, "--quiet"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(ChangeLines(Rivenoak({"diff", backup, practice_}).out).empty());
  Outcome restore = Rivenoak({"restore", backup, practice_});
  EXPECT_EQ(restore.status, 0) << restore.err;
  EXPECT_EQ(Rivenoak({"diff", backup, practice_}).out, kNoChanges);
}

TEST_F(PracticeData, DryRunLeavesThePracticeAsItWasAndReportsWhatTheRunChanges) {
  std::map<std::string, std::string> before = FolderState(practice_);
  Outcome dry = Rivenoak({"run", practice_, "--quiet", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.out;
  EXPECT_EQ(FolderState(practice_), before);

  std::string twin = MakePractice(other_);
  Outcome run = Rivenoak({"run", twin, "--quiet"});
  ASSERT_EQ(run.status, 0) << run.out;
  Outcome diff = Rivenoak({"diff", practice_, twin});
  ASSERT_EQ(diff.status, 0) << diff.err;
  EXPECT_FALSE(ChangeLines(diff.out).empty());
  EXPECT_EQ(dry.out, run.out + diff.out);
  EXPECT_EQ(FolderState(practice_), before);
}

TEST_F(PracticeData, BackupOptionCopiesThePracticeBeforeTheRun) {
  std::string backup = other_.File("backup");
  Outcome run = Rivenoak({"run", practice_, "--quiet", "--backup", backup});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("information: Finished.\n"), std::string::npos) << run.out;
  TempFolder untouched_root;
  std::string untouched = MakePractice(untouched_root);
  EXPECT_EQ(Rivenoak({"diff", untouched, backup}).out, kNoChanges);
  EXPECT_FALSE(ChangeLines(Rivenoak({"diff", backup, practice_}).out).empty());

  // A backup that cannot be made ends the run before anything is changed.
  Outcome refused = Rivenoak({"run", untouched, "--quiet", "--backup", backup});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "error: The folder " + backup + " already holds tables\n");
  EXPECT_EQ(Rivenoak({"diff", backup, untouched}).out, kNoChanges);
}

TEST_F(PracticeData, DiffWritesAddedRemovedAndChangedRecords) {
  RunSql(practice_ + "/MWTRN.ADT",
         "UPDATE records SET \"Amount\"=10, \"Date From\"='2023-01-05', \"Insurance 1 Paid\"=0, "
         "\"Description\"='Office visit' WHERE _recno=2");
  std::string copy = other_.File("copy");
  ASSERT_EQ(Rivenoak({"backup", practice_, copy}).status, 0);
  RunSql(copy + "/MWTRN.ADT",
         "UPDATE records SET \"Amount\"=12.5, \"Date From\"='2024-02-29', \"Insurance 1 Paid\"=1, "
         "\"Description\"='Office visit, \"long\"' WHERE _recno=2");
  RunSql(copy + "/Mwpro.adt",
         "INSERT INTO records (\"Code 1\", \"Description\") VALUES ('ZZ,1', 'New code')");
  RunSql(copy + "/MWTRN.ADT", "DELETE FROM records WHERE _recno=3");

  std::string changed = "MWTRN.ADT,2," + Field(practice_, "MWTRN.ADT", 2, "Entry Number") + ",";
  std::string removed = Field(practice_, "MWTRN.ADT", 3, "Entry Number");
  ScopedConnection connection(copy);
  IsamHandle codes = connection.Open("Mwpro.adt", ISAM_OPEN_READ_ONLY);
  ISAM_ASSERT_OK(IsamGotoBottom(codes));
  std::string added = std::to_string(isam::testing::RecordNumber(codes));

  Outcome o = Rivenoak({"diff", practice_, copy});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(ChangeLines(o.out),
            (std::vector<std::string>{
                "Mwpro.adt," + added + ",\"ZZ,1\",,,added",
                changed + "Date From,01/05/2023,02/29/2024",
                changed + "Amount,10,12.5",
                changed + "Insurance 1 Paid,F,T",
                changed + "Description,Office visit,\"Office visit, \"\"long\"\"\"",
                "MWTRN.ADT,3," + removed + ",,,removed",
            }));
  EXPECT_NE(o.out.find("\r\n# Mwpax.adt: 0 added, 0 removed, 0 changed fields in 0 records\r\n"
                       "# Mwpro.adt: 1 added, 0 removed, 0 changed fields in 0 records\r\n"
                       "# MWTRN.ADT: 0 added, 1 removed, 4 changed fields in 1 records\r\n"),
            std::string::npos)
      << o.out;
}

TEST_F(PracticeData, UnusableFoldersAreRefusedWithTheirReason) {
  Outcome o = Rivenoak({"backup", practice_, practice_});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "rivenoak backup: The backup folder " + practice_ +
                       " is inside the practice folder " + practice_ +
                       "; nothing is written among a practice's tables\n");
  o = Rivenoak({"restore", other_.path(), practice_});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "rivenoak restore: The folder " + other_.path() +
                       " is not a complete backup: Backup.manifest is missing (a backup that was "
                       "stopped before it was finished has none); nothing was restored\n");
  o = Rivenoak({"diff", practice_, other_.File("missing")});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("missing"), std::string::npos) << o.err;
  EXPECT_TRUE(fs::is_empty(other_.path()));
}

}  // namespace
}  // namespace app
