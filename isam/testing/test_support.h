// Helpers for the engine's tests: a temporary folder, checked engine calls, and RAII owners of
// connections so that a failing test never leaks a handle into the next one.
#ifndef RIVENOAK_ISAM_TESTING_TEST_SUPPORT_H_
#define RIVENOAK_ISAM_TESTING_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "isam/isam.h"

struct sqlite3;

namespace isam::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The last error's text, for failure messages and assertions on texts.
std::string LastErrorText();

// What `body` returns, worked out in a child process that SIGALRM ends after `seconds`: a call
// that could block for ever (a named pipe opened for reading waits for a writer) then fails the
// test instead of hanging the run. Only the text comes back; the child leaves without running
// destructors, so the parent's folders and handles stay its own.
std::string InChildProcess(const std::function<std::string()>& body, unsigned seconds = 20);

// Fails the current test with the engine's text when rc is not 0.
#define ISAM_ASSERT_OK(expr)                                                      \
  do {                                                                            \
    IsamResult isam_rc_ = (expr);                                                 \
    ASSERT_EQ(isam_rc_, 0u) << #expr << ": " << ::isam::testing::LastErrorText(); \
  } while (0)

// Creates a table file through the engine; fields "NAME TYPE", indexes "NAME=F1;F2".
void CreateTable(const std::string& path, const std::vector<std::string>& fields,
                 const std::vector<std::string>& indexes = {});

// Runs SQL on a file with a plain SQLite handle, as an outside program would.
void RunSql(const std::string& path, const std::string& sql);

// The journal modes another program may leave a table file in.
enum class JournalMode { kRollback, kWal };
std::string JournalModeName(JournalMode mode);  // "Rollback", "Wal": for test names
extern const JournalMode kJournalModes[2];
std::string JournalModeTestName(const ::testing::TestParamInfo<JournalMode>& info);

// Writes a new, empty table file with plain SQLite statements, as another program that follows
// the table-file layout would: fields "NAME TYPE", indexes "NAME=F1;F2", in the journal mode
// given. Nothing of the engine is used.
void WriteTableFile(const std::string& path, const std::vector<std::string>& fields,
                    const std::vector<std::string>& indexes, JournalMode mode);

// Writes the table file `source` again as `target` with plain SQLite statements, in the
// journal mode given: the same layout, records and record numbers.
void RewriteTableFile(const std::string& source, const std::string& target, JournalMode mode);

// A connection to a folder, disconnected on scope exit.
class ScopedConnection {
 public:
  explicit ScopedConnection(const std::string& folder);
  ~ScopedConnection();
  ScopedConnection(const ScopedConnection&) = delete;
  ScopedConnection& operator=(const ScopedConnection&) = delete;
  IsamHandle handle() const { return handle_; }
  // Opens a table (read-write unless told), failing the test on error.
  IsamHandle Open(const std::string& name, uint32_t open_mode = ISAM_OPEN_SHARED);

 private:
  IsamHandle handle_ = 0;
};

// Another program reading a table file: from its making until End (or the end of its scope) it
// holds a read transaction on the file, which keeps a commit to the file waiting.
class ReadingProgram {
 public:
  explicit ReadingProgram(const std::string& path);  // a failure to begin fails the test
  ~ReadingProgram();
  ReadingProgram(const ReadingProgram&) = delete;
  ReadingProgram& operator=(const ReadingProgram&) = delete;
  void End();  // ends the read and closes the file

 private:
  sqlite3* db_ = nullptr;
};

// Until the scope ends, the engine takes `folder` for a network folder: connections made
// meanwhile see a mount-table line of filesystem `type` with mount options `options` (such as
// "rw,nobrl") over the folder; every other folder stays on the local disk.
class FakeNetworkFolder {
 public:
  FakeNetworkFolder(const std::string& folder, const std::string& type, const std::string& options);
  ~FakeNetworkFolder();
  FakeNetworkFolder(const FakeNetworkFolder&) = delete;
  FakeNetworkFolder& operator=(const FakeNetworkFolder&) = delete;
};

// Field values of the current record, through the engine.
std::string FieldText(IsamHandle order, uint16_t field);
uint16_t FieldNumber(IsamHandle table, const std::string& name);
int64_t RecordNumber(IsamHandle order);
bool AtEof(IsamHandle order);
// The record image (IsamGetRecord) of the current record.
std::vector<uint8_t> RecordImageOf(IsamHandle order);
bool AtBof(IsamHandle order);

// Record numbers met walking the order from its top to its end.
std::vector<int64_t> WalkForward(IsamHandle order);
// Record numbers met walking the order from its bottom to its beginning.
std::vector<int64_t> WalkBackward(IsamHandle order);

// A raw key for the index from text values of its leading segments.
std::vector<uint8_t> TextKey(IsamHandle index, const std::vector<std::string>& values);

// Sets a field from text and writes: appends a record when append is true.
void WriteFields(IsamHandle table, const std::vector<std::pair<std::string, std::string>>& values,
                 bool append);

}  // namespace isam::testing

#endif  // RIVENOAK_ISAM_TESTING_TEST_SUPPORT_H_
