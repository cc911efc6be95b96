// Backups and restores against someone else who can write in the shared folders a practice and its
// backups sit in: a staging folder of a restore made by hand, a backup's manifest edited by hand,
// links and FIFOs planted in a practice or backup folder, tables given the names of the program's
// own files, a backup made inside the practice folder. Each
// case plants its files with plain file calls, runs the commands as the program's users would and
// checks that nothing outside the practice was written, that the practice is as it was where the
// command refused, and what the refusal says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "app/practice/demo_practice.h"
#include "app/practice/practice_copy.h"
#include "app/testing/practice_checks.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using isam::testing::TempFolder;
using testing::Differences;
using testing::Outcome;
using testing::Rivenoak;

using Strings = std::vector<std::string>;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Everything under `folder`, a text for each entry: a file's size and hash, a link's target,
// "folder", or what else it is (a FIFO is never opened).
using Contents = std::map<std::string, std::string>;
Contents ContentsOf(const std::string& folder) {
  Contents contents;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_symlink()) {
      contents[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      contents[name] = "folder";
    } else if (!entry.is_regular_file()) {
      contents[name] = "no plain file";
    } else {
      std::string bytes = Read(entry.path().string());
      contents[name] = std::to_string(bytes.size()) + " bytes, hash " +
                       std::to_string(std::hash<std::string>()(bytes));
    }
  }
  return contents;
}

// The entries of `folder` made, changed or removed since `before`.
Strings ChangedSince(const Contents& before, const std::string& folder) {
  Contents after = ContentsOf(folder);
  Strings changed;
  for (const auto& [name, was] : before) {
    auto now = after.find(name);
    if (now == after.end()) {
      changed.push_back(name + " removed");
    } else if (now->second != was) {
      changed.push_back(name + " changed");
    }
  }
  for (const auto& [name, is] : after) {
    if (!before.contains(name)) changed.push_back(name + " made");
  }
  return changed;
}

// What a command printed, on either stream.
std::string Said(const Outcome& o) {
  return o.out + o.err;
}
std::string Said(const testing::ProgramOutcome& o) {
  return o.out + o.err;
}

void MakeFifo(const std::string& path) {
  ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0) << path;
}

class CopyAttacks : public ::testing::Test {
 protected:
  void SetUp() override {
    TempFolder root;
    MakeDemoRoot(root.path(), DemoOptions{1, 30, 5});
    practice_ = folder_.File("practice");
    fs::copy(root.File("Practice1"), practice_, fs::copy_options::recursive);
    backup_ = folder_.File("backup");
    ASSERT_EQ(Rivenoak({"backup", practice_, backup_}).status, 0);
    stage_ = practice_ + "/.rivenoak-restore";
    fs::create_directory(folder_.File("outside"));
    Write(folder_.File("outside/.profile"), "the user's own profile\n");
  }

  // A staging folder as a restore killed after it decided would leave it: every table of the
  // backup and its Convert.log staged, and the plan, with `plan_lines` between first and last.
  void PlantRestore(const Strings& plan_lines) {
    fs::create_directory(stage_);
    const char* tables[] = {"MWTRN.ADT", "Mwpax.adt", "Mwpro.adt"};
    for (int i = 0; i < 3; ++i) {
      fs::copy_file(backup_ + "/" + tables[i], stage_ + "/" + std::to_string(i));
    }
    fs::copy_file(backup_ + "/Convert.log", stage_ + "/log");
    std::string plan = "rivenoak restore 1\nfrom " + backup_ + "\n";
    for (const std::string& line : plan_lines) plan += line + "\n";
    Write(stage_ + "/plan", plan + "end\n");
  }

  // The plan of the whole backup, as the restore writes it.
  Strings WholePlan() const {
    auto written = fs::last_write_time(backup_ + "/Convert.log").time_since_epoch().count();
    return {"table MWTRN.ADT", "table Mwpax.adt", "table Mwpro.adt",
            "log " + std::to_string(written) + " Convert.log"};
  }

  // A copy of the backup whose manifest lines are given by `edit`.
  std::string EditedBackup(const std::string& name, const std::function<void(Strings&)>& edit) {
    std::string copy = folder_.File(name);
    fs::copy(backup_, copy);
    std::istringstream in(Read(copy + "/Backup.manifest"));
    Strings lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    edit(lines);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    Write(copy + "/Backup.manifest", text);
    return copy;
  }

  // The program as its own process, for a command a planted file could hold up: one that has not
  // ended long after it should have is ended, and its outcome says so (`exited` false).
  testing::ProgramOutcome Run(const Strings& args) {
    return testing::Execute(RIVENOAK_PATH, args, runs_.path());
  }

  TempFolder folder_;
  TempFolder runs_;  // where the program's own process writes its output
  std::string practice_, backup_, stage_;
};

// The manifest line of `name` in `lines`.
std::string& LineOf(Strings& lines, const std::string& name) {
  for (std::string& line : lines) {
    if (line.size() > name.size() &&
        line.compare(line.size() - name.size(), name.size(), name) == 0 &&
        line[line.size() - name.size() - 1] == ' ') {
      return line;
    }
  }
  throw std::runtime_error("no manifest line for " + name);
}

TEST_F(CopyAttacks, ARestoreFolderMadeByHandIsLeftAloneByEveryCommand) {
  PlantRestore({"table ../outside/new-table.adt", "log 0 ../outside/.profile"});
  Contents before = ContentsOf(folder_.path());
  std::string copy = folder_.File("copy");
  for (const Strings& command :
       {Strings{"diff", backup_, practice_}, Strings{"backup", practice_, copy},
        Strings{"run", practice_, "--quiet", "--dry-run"}, Strings{"run", practice_, "--quiet"},
        Strings{"restore", backup_, practice_}}) {
    Outcome o = Rivenoak(command);
    EXPECT_EQ(o.status, 1) << command[0];
    EXPECT_NE(Said(o).find("The restore folder " + stage_ +
                           " was not written by this program or is damaged: its plan names the "
                           "table ../outside/new-table.adt, which is no plain file name. Nothing "
                           "was done with it; remove the folder once no restore into " +
                           practice_ + " is at work"),
              std::string::npos)
        << Said(o);
    EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << command[0];
  }
}

TEST_F(CopyAttacks, EveryFaultOfAPlantedRestoreFolderIsNamedAndNothingIsDone) {
  Strings whole = WholePlan();
  auto with = [&](size_t at, const std::string& line) {
    Strings plan = whole;
    plan[at] = line;
    return plan;
  };
  struct Case {
    std::function<void()> plant;
    std::string why;
  };
  std::vector<Case> cases = {
      {[&] { PlantRestore(with(3, "log 0 MWTRN.ADT")); },
       "its plan names MWTRN.ADT as the Convert.log"},
      {[&] { PlantRestore(with(3, "log 0 ../outside/.profile")); },
       "its plan names ../outside/.profile as the Convert.log"},
      {[&] { PlantRestore(with(2, "table mwtrn.adt")); },
       "its plan lists the table MWTRN.ADT twice (also as mwtrn.adt)"},
      {[&] { PlantRestore(with(2, "table Mwpax.adt")); },
       "its plan lists the table Mwpax.adt twice"},
      // Finished, it would be written and then removed with what is left of the staging folder.
      {[&] { PlantRestore(with(2, "table .rivenoak-restore-done")); },
       "its plan names the table .rivenoak-restore-done, a name this program keeps for its own "
       "files; no table has it"},
      {[&] { PlantRestore(with(2, "table backup.MANIFEST")); },
       "its plan names the table backup.MANIFEST, a name this program keeps for its own files"},
      {[&] {
         PlantRestore(whole);
         fs::remove(stage_ + "/1");
         fs::create_symlink(practice_ + "/Mwpax.adt", stage_ + "/1");
       },
       "its file 1 is a symbolic link"},
      {[&] {
         PlantRestore(whole);
         Write(stage_ + "/2", "no table\n");
       },
       "its file 2 is not a table"},
      // Met only when the last table is read, after the others were written.
      {[&] {
         PlantRestore(whole);
         fs::create_symlink(folder_.File("elsewhere"), stage_ + "/2-journal");
       },
       "its file 2-journal is a symbolic link"},
      {[&] {
         PlantRestore(whole);
         MakeFifo(stage_ + "/2-wal");
       },
       "its file 2-wal is a FIFO"},
      {[&] {
         PlantRestore(whole);
         fs::remove(stage_ + "/0");
       },
       "its file 0 is missing"},
      {[&] {
         // Missing, and not moved into the practice already: no Convert.log there has its time.
         PlantRestore(with(3, "log 12345 Convert.log"));
         fs::remove(stage_ + "/log");
       },
       "its file log is missing"},
      {[&] {
         PlantRestore(whole);
         Write(stage_ + "/plan", "rivenoak restore 1\ntable MWTRN.ADT\n");
       },
       "its plan is cut short"},
      {[&] {
         PlantRestore(whole);
         Write(stage_ + "/plan", "rivenoak restore 2\ntable MWTRN.ADT\nend\n");
       },
       "its plan is no restore plan"},
      {[&] {
         PlantRestore(whole);
         Write(stage_ + "/plan", "rivenoak restore 1\nfrom x\ntable MWTRN.ADT\nrun rm -rf\nend\n");
       },
       "its plan has a line no restore writes: run rm -rf"},
      {[&] { Write(stage_, "a file\n"); }, "it is not a folder"},
      {[&] {
         fs::create_directory(folder_.File("elsewhere"));
         fs::create_symlink(folder_.File("elsewhere"), stage_);
       },
       "it is a symbolic link"},
  };
  std::string copy = folder_.File("copy");
  for (const Case& c : cases) {
    c.plant();
    Contents before = ContentsOf(folder_.path());
    for (const Strings& command :
         {Strings{"backup", practice_, copy}, Strings{"restore", backup_, practice_}}) {
      Outcome o = Rivenoak(command);
      EXPECT_EQ(o.status, 1) << c.why;
      EXPECT_NE(o.err.find("The restore folder " + stage_ +
                           " was not written by this program or is damaged: " + c.why),
                std::string::npos)
          << c.why << ": " << o.err;
      EXPECT_NE(o.err.find("Nothing was done with it"), std::string::npos) << o.err;
      EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << c.why;
    }
    fs::remove_all(stage_);
    fs::remove_all(folder_.File("elsewhere"));
  }
}

TEST_F(CopyAttacks, ReadingCommandsLeaveAnInterruptedRestoreToTheCommandsThatFinishIt) {
  ASSERT_EQ(Rivenoak({"run", practice_, "--quiet"}).status, 0);
  std::string after_run = folder_.File("after-run");
  ASSERT_EQ(Rivenoak({"backup", practice_, after_run}).status, 0);
  ASSERT_FALSE(Differences(backup_, practice_).empty());

  // Decided: the plan was written.
  PlantRestore(WholePlan());
  Contents before = ContentsOf(folder_.path());
  Outcome diff = Rivenoak({"diff", backup_, practice_});
  EXPECT_EQ(diff.status, 1);
  EXPECT_EQ(diff.err, "rivenoak diff: An interrupted restore into " + practice_ + " from " +
                          backup_ +
                          " waits to be finished, and the practice is not whole until it is; "
                          "this command only reads the practice and leaves the restore alone: "
                          "rivenoak backup, restore or run on the practice finishes it\n");
  Outcome dry = Rivenoak({"run", practice_, "--quiet", "--dry-run"});
  EXPECT_EQ(dry.status, 1);
  EXPECT_NE(dry.out.find("error: An interrupted restore into " + practice_), std::string::npos)
      << dry.out;
  EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{});
  Outcome backup = Rivenoak({"backup", practice_, folder_.File("copy")});
  EXPECT_EQ(backup.status, 0) << backup.err;
  EXPECT_EQ(backup.err, "rivenoak backup: A restore into " + practice_ + " from " + backup_ +
                            " was interrupted and has been finished: the practice holds the "
                            "backup's tables\n");
  EXPECT_EQ(Differences(backup_, practice_), Strings{});
  EXPECT_FALSE(fs::exists(stage_));
  EXPECT_FALSE(fs::exists(practice_ + "/.rivenoak-restore.lck"));

  // Not decided: no plan yet.
  ASSERT_EQ(Rivenoak({"restore", after_run, practice_}).status, 0);
  fs::create_directory(stage_);
  fs::copy_file(backup_ + "/MWTRN.ADT", stage_ + "/0");
  before = ContentsOf(folder_.path());
  diff = Rivenoak({"diff", after_run, practice_});
  EXPECT_EQ(diff.status, 1);
  EXPECT_EQ(diff.err, "rivenoak diff: An interrupted restore into " + practice_ +
                          " waits to be undone (it changed nothing yet); this command only reads "
                          "the practice and leaves the restore alone: rivenoak backup, restore or "
                          "run on the practice undoes it\n");
  dry = Rivenoak({"run", practice_, "--quiet", "--dry-run"});
  EXPECT_EQ(dry.status, 1);
  EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{});
  Outcome run =
      Rivenoak({"run", practice_, "--quiet", "--no-apply", "--no-adjust", "--no-match-types"});
  EXPECT_NE(run.out.find("has been undone"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(stage_));
  EXPECT_EQ(Differences(after_run, practice_), Strings{});
}

TEST_F(CopyAttacks, HandEditedManifestsAreRefusedBeforeAnyChange) {
  ASSERT_EQ(Rivenoak({"run", practice_, "--quiet"}).status, 0);
  Contents before = ContentsOf(practice_);
  auto refused = [&](const std::string& backup, const std::string& why) {
    Outcome o = Rivenoak({"restore", backup, practice_});
    EXPECT_EQ(o.status, 1) << why;
    EXPECT_NE(o.err.find(why), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("nothing was restored"), std::string::npos) << o.err;
    EXPECT_EQ(ChangedSince(before, practice_), Strings{}) << why;
  };
  // A file that is no table, listed as the last table with its right size and checksum.
  std::string notes = EditedBackup("notes", [](Strings& lines) {
    std::istringstream log(LineOf(lines, "Convert.log"));
    std::string kind, crc, size;
    log >> kind >> crc >> size;
    lines.insert(lines.end() - 2, "table " + crc + " " + size + " Notes.adt");
  });
  fs::copy_file(notes + "/Convert.log", notes + "/Notes.adt");
  refused(notes, "The backup's file " + notes + "/Notes.adt is not a table");

  // The Convert.log's line naming a table, whose file holds the log's bytes; the practice has
  // no Convert.log of its own for the name to be taken from.
  std::string log_as_table = EditedBackup("log-as-table", [](Strings& lines) {
    std::erase(lines, LineOf(lines, "MWTRN.ADT"));
    std::string& log = LineOf(lines, "Convert.log");
    log.replace(log.size() - 11, 11, "MWTRN.ADT");
  });
  fs::copy_file(log_as_table + "/Convert.log", log_as_table + "/MWTRN.ADT",
                fs::copy_options::overwrite_existing);
  fs::rename(practice_ + "/Convert.log", folder_.File("Convert.log"));
  before = ContentsOf(practice_);
  refused(log_as_table, "Backup.manifest names MWTRN.ADT as the Convert.log");
  fs::rename(folder_.File("Convert.log"), practice_ + "/Convert.log");
  before = ContentsOf(practice_);

  // One table twice, in two spellings and in one.
  std::string twice = EditedBackup("twice", [](Strings& lines) {
    std::string line = LineOf(lines, "Mwpax.adt");
    lines.insert(lines.begin() + 1, line.substr(0, line.size() - 9) + "MWPAX.ADT");
  });
  fs::copy_file(twice + "/Mwpax.adt", twice + "/MWPAX.ADT");
  refused(twice, "Backup.manifest lists the table MWPAX.ADT twice (also as Mwpax.adt)");
  std::string again = EditedBackup(
      "again", [](Strings& lines) { lines.insert(lines.begin() + 1, LineOf(lines, "Mwpro.adt")); });
  refused(again, "Backup.manifest lists the table Mwpro.adt twice");
  EXPECT_FALSE(fs::exists(stage_));
}

TEST_F(CopyAttacks, LinksInAPracticeFolderAreNeverFollowed) {
  std::string other = folder_.File("other");
  fs::copy(backup_, other);
  ASSERT_EQ(Rivenoak({"run", other, "--quiet"}).status, 0);
  std::string copy = folder_.File("copy");
  struct Case {
    std::string entry, target;
  };
  std::vector<Case> cases = {
      {"MWTRN.ADT", other + "/MWTRN.ADT"},
      {"Mwpax.adt", folder_.File("outside/new-table.adt")},
      {"Convert.log", folder_.File("outside/.profile")},
      {"Mwpro.adt.lck", folder_.File("outside/.profile")},
      {"MWTRN.ADT.lck", folder_.File("outside/new.lck")},
      {".rivenoak-restore.lck", folder_.File("outside/.profile")},
  };
  for (const Case& c : cases) {
    std::string entry = practice_ + "/" + c.entry;
    bool present = fs::exists(entry);
    if (present) fs::rename(entry, folder_.File("put-aside"));
    fs::create_symlink(c.target, entry);
    Contents before = ContentsOf(folder_.path());
    Outcome o = Rivenoak({"restore", backup_, practice_});
    EXPECT_EQ(o.status, 1) << c.entry;
    EXPECT_NE(o.err.find("The file " + entry + " is a symbolic link"), std::string::npos) << o.err;
    EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << c.entry;
    o = Rivenoak({"backup", practice_, copy});
    EXPECT_EQ(o.status, 1) << c.entry;
    EXPECT_NE(o.err.find("The file " + entry + " is a symbolic link"), std::string::npos) << o.err;
    EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << c.entry;
    fs::remove(entry);
    if (present) fs::rename(folder_.File("put-aside"), entry);
  }
}

TEST_F(CopyAttacks, LinksInABackupFolderAreRefused) {
  ASSERT_EQ(Rivenoak({"run", practice_, "--quiet"}).status, 0);
  Contents before = ContentsOf(practice_);
  // The link leads to a file with the bytes the manifest lists: only the link itself is wrong.
  std::string linked = folder_.File("linked");
  fs::copy(backup_, linked);
  fs::remove(linked + "/Mwpax.adt");
  fs::create_symlink(backup_ + "/Mwpax.adt", linked + "/Mwpax.adt");
  Outcome o = Rivenoak({"restore", linked, practice_});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "rivenoak restore: The folder " + linked +
                       " is not a complete backup: Mwpax.adt is a symbolic link, not a file of "
                       "the backup; nothing was restored\n");
  EXPECT_EQ(ChangedSince(before, practice_), Strings{});
}

TEST_F(CopyAttacks, ABackupIsNeverMadeInsideThePracticeFolder) {
  fs::create_directory_symlink(practice_, folder_.File("shortcut"));
  fs::create_directory(practice_ + "/sub");
  Contents before = ContentsOf(folder_.path());
  for (const std::string& dest :
       {practice_ + "/.rivenoak-restore", practice_ + "/.rivenoak-restore-done",
        practice_ + "/sub/../.rivenoak-restore", practice_ + "/new/../../practice/x",
        folder_.File("shortcut/.rivenoak-restore")}) {
    Outcome o = Rivenoak({"backup", practice_, dest});
    EXPECT_EQ(o.status, 2) << dest;
    EXPECT_EQ(o.err, "rivenoak backup: The backup folder " + dest +
                         " is inside the practice folder " + practice_ +
                         "; nothing is written among a practice's tables\n")
        << dest;
    EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << dest;
    // The copy itself keeps to the same rule, whoever calls it.
    EXPECT_THROW(BackUpPractice(practice_, dest, nullptr), PracticeDataError) << dest;
    EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << dest;
  }
}

TEST_F(CopyAttacks, ARestoreLeavesNoLockFileAndStillKeepsOthersOut) {
  ASSERT_EQ(Rivenoak({"run", practice_, "--quiet"}).status, 0);
  Strings names_before;
  for (const auto& entry : fs::directory_iterator(practice_)) {
    names_before.push_back(entry.path().filename().string());
  }
  std::sort(names_before.begin(), names_before.end());
  Outcome o = Rivenoak({"restore", backup_, practice_});
  EXPECT_EQ(o.status, 0) << o.err;
  Strings names_after;
  for (const auto& entry : fs::directory_iterator(practice_)) {
    names_after.push_back(entry.path().filename().string());
  }
  std::sort(names_after.begin(), names_after.end());
  EXPECT_EQ(names_after, names_before);
  EXPECT_FALSE(fs::exists(practice_ + "/.rivenoak-restore.lck"));

  // Another restore at work holds the lock: this one waits for nothing and changes nothing.
  int fd = ::open((practice_ + "/.rivenoak-restore.lck").c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_len = 1;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
  o = Rivenoak({"restore", backup_, practice_});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "rivenoak restore: A restore into " + practice_ +
                       " is at work in another program; wait until it is done\n");
  // It has begun to stage its files: a command that only reads says so and leaves it alone.
  fs::create_directory(stage_);
  fs::copy_file(backup_ + "/MWTRN.ADT", stage_ + "/0");
  o = Rivenoak({"diff", backup_, practice_});
  ::close(fd);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "rivenoak diff: A restore into " + practice_ +
                       " is at work in another program; wait until it is done\n");
  EXPECT_TRUE(fs::exists(stage_ + "/0"));
}

TEST_F(CopyAttacks, FifosHoldNoCommandUpAndAreRefusedByName) {
  ASSERT_EQ(Rivenoak({"run", practice_, "--quiet"}).status, 0);
  std::string copy = folder_.File("copy");
  auto refused = [&](const Strings& command, const std::string& why) {
    Contents before = ContentsOf(folder_.path());
    testing::ProgramOutcome o = Run(command);
    EXPECT_TRUE(o.exited) << command[0] << " was held up: " << why;
    EXPECT_EQ(o.status, 1) << command[0] << ": " << Said(o);
    EXPECT_NE(Said(o).find(why), std::string::npos) << command[0] << ": " << Said(o);
    EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << command[0] << ": " << why;
  };

  // The restore lock of a restore that seems to wait in the practice.
  std::string lock = practice_ + "/.rivenoak-restore.lck";
  fs::create_directory(stage_);
  MakeFifo(lock);
  for (const Strings& command :
       {Strings{"diff", backup_, practice_}, Strings{"run", practice_, "--quiet", "--dry-run"},
        Strings{"restore", backup_, practice_}, Strings{"backup", practice_, copy},
        Strings{"run", practice_, "--quiet"}}) {
    refused(command, "The file " + lock + " is a FIFO, not a plain file");
  }
  fs::remove(lock);
  fs::remove(stage_);

  // A backup's manifest, and a file its manifest lists; the restore lock is not left behind.
  std::string no_manifest = folder_.File("no-manifest");
  fs::copy(backup_, no_manifest);
  fs::remove(no_manifest + "/Backup.manifest");
  MakeFifo(no_manifest + "/Backup.manifest");
  refused({"restore", no_manifest, practice_},
          "rivenoak restore: The folder " + no_manifest +
              " is not a complete backup: Backup.manifest is a FIFO, not a file of the backup; "
              "nothing was restored\n");
  std::string fifo_table = EditedBackup("fifo-table", [](Strings& lines) {
    lines.insert(lines.end() - 1, "table 00000000 0 F.adt");
  });
  MakeFifo(fifo_table + "/F.adt");
  refused({"restore", fifo_table, practice_},
          "rivenoak restore: The folder " + fifo_table +
              " is not a complete backup: F.adt is a FIFO, not a file of the backup; nothing was "
              "restored\n");

  // A table of the practice: never left out of a backup, nor written or compared, without a word.
  std::string table = practice_ + "/Mwpro.adt";
  fs::rename(table, folder_.File("put-aside"));
  MakeFifo(table);
  for (const Strings& command :
       {Strings{"backup", practice_, copy}, Strings{"restore", backup_, practice_},
        Strings{"diff", backup_, practice_}}) {
    refused(command, "The file " + table + " is a FIFO, not a plain file");
  }
  EXPECT_FALSE(fs::exists(copy));
}

TEST_F(CopyAttacks, FilesBesideATableTheRestoreAddsAreCheckedBeforeAnyChange) {
  ASSERT_EQ(Rivenoak({"run", practice_, "--quiet"}).status, 0);
  // A backup with a table the practice lacks: its file and side files are made by the restore.
  std::string bigger = EditedBackup("bigger", [](Strings& lines) {
    std::string line = LineOf(lines, "Mwpro.adt");
    lines.insert(lines.end() - 1, line.substr(0, line.size() - 9) + "New.adt");
  });
  fs::copy_file(backup_ + "/Mwpro.adt", bigger + "/New.adt");
  std::string elsewhere = folder_.File("elsewhere");
  struct Case {
    std::string entry;
    bool fifo;
    std::string why;
  };
  std::vector<Case> cases;
  for (const char* name : {"New.adt-journal", "New.adt-wal", "New.adt-shm", "New.adt",
                           "Mwpro.adt-journal", "Mwpro.adt-wal"}) {
    std::string entry = practice_ + "/" + name;
    cases.push_back({entry, false, "The file " + entry + " is a symbolic link"});
  }
  for (const char* name : {"New.adt-journal", "New.adt.lck"}) {
    std::string entry = practice_ + "/" + name;
    cases.push_back({entry, true, "The file " + entry + " is a FIFO, not a plain file"});
  }
  for (const Case& c : cases) {
    if (c.fifo) {
      MakeFifo(c.entry);
    } else {
      fs::create_symlink(elsewhere, c.entry);
    }
    Contents before = ContentsOf(folder_.path());
    testing::ProgramOutcome o = Run({"restore", bigger, practice_});
    EXPECT_TRUE(o.exited) << c.entry;
    EXPECT_EQ(o.status, 1) << c.entry;
    EXPECT_NE(o.err.find(c.why), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("nothing was restored"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("half done"), std::string::npos) << o.err;
    EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << c.entry;
    fs::remove(c.entry);
  }

  // The same restore decided and then killed: the commands that finish it refuse before writing.
  Strings plan = WholePlan();
  plan.insert(plan.end() - 1, "table New.adt");
  PlantRestore(plan);
  fs::copy_file(backup_ + "/Mwpro.adt", stage_ + "/3");
  std::string journal = practice_ + "/New.adt-journal";
  fs::create_symlink(elsewhere, journal);
  Contents before = ContentsOf(folder_.path());
  for (const Strings& command :
       {Strings{"backup", practice_, folder_.File("copy")}, Strings{"restore", backup_, practice_},
        Strings{"run", practice_, "--quiet"}}) {
    testing::ProgramOutcome o = Run(command);
    EXPECT_TRUE(o.exited) << command[0];
    EXPECT_EQ(o.status, 1) << command[0];
    EXPECT_NE(Said(o).find("The file " + journal + " is a symbolic link"), std::string::npos)
        << Said(o);
    EXPECT_NE(Said(o).find("an interrupted restore from " + backup_ + " is not finished yet"),
              std::string::npos)
        << Said(o);
    EXPECT_EQ(ChangedSince(before, folder_.path()), Strings{}) << command[0];
  }
  // Once the link is gone, the next command finishes it.
  fs::remove(journal);
  Outcome finished = Rivenoak({"backup", practice_, folder_.File("copy")});
  EXPECT_EQ(finished.status, 0) << finished.err;
  EXPECT_EQ(Differences(bigger, practice_), Strings{});
}

TEST_F(CopyAttacks, TablesUnderTheNamesOfTheProgramsOwnFilesAreRefused) {
  ASSERT_EQ(Rivenoak({"run", practice_, "--quiet"}).status, 0);
  Contents before = ContentsOf(practice_);
  int number = 0;
  for (const std::string& name :
       Strings{".rivenoak-restore-done", ".rivenoak-restore", ".RIVENOAK-restore.lck",
               ".rivenoak-anything", "Backup.manifest", "Mwpro.adt-journal", "Mwpro.adt-wal",
               "Mwpro.adt-shm", "Mwpro.adt.LCK", "Mwpro.adt-mj0A1B2C3D"}) {
    // The backup's Mwpro.adt under that name, listed with its own size and checksum.
    std::string renamed = EditedBackup("renamed" + std::to_string(number++), [&](Strings& lines) {
      std::string& line = LineOf(lines, "Mwpro.adt");
      line.replace(line.size() - 9, 9, name);
    });
    if (name != "Backup.manifest") fs::rename(renamed + "/Mwpro.adt", renamed + "/" + name);
    Contents backup_before = ContentsOf(renamed);
    Outcome o = Rivenoak({"restore", renamed, practice_});
    EXPECT_EQ(o.status, 1) << name;
    EXPECT_EQ(o.err, "rivenoak restore: The folder " + renamed +
                         " is not a complete backup: Backup.manifest names the table " + name +
                         ", a name this program keeps for its own files; no table has it; nothing "
                         "was restored\n");
    EXPECT_EQ(ChangedSince(before, practice_), Strings{}) << name;
    EXPECT_EQ(ChangedSince(backup_before, renamed), Strings{}) << name;
  }
}

}  // namespace
}  // namespace app
