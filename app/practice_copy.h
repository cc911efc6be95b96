// Copies of a practice's tables: `rivenoak backup` copies every table file of a practice folder
// (files with the SQLite header and the table marks) and its Convert.log into a new folder,
// reading each table through SQLite's online backup while other programs may use it;
// `rivenoak restore` copies them back only while no other program has any of the practice's
// tables open, holding every table's open mark exclusively until it is done.
#ifndef RIVENOAK_APP_PRACTICE_COPY_H_
#define RIVENOAK_APP_PRACTICE_COPY_H_

#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/run_view.h"
#include "isam/sqlite_handle.h"

namespace app {

// Why a copy, a restore or a change report could not be made; the text names the file.
class PracticeDataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A table file opened read-only, so that it can be read while other programs use it. For a file
// that another program left in write-ahead mode, the log and its index, which SQLite makes for
// a read-only reader and leaves behind, are removed again when no other program has them open.
class TableReader {
 public:
  explicit TableReader(const std::string& path);
  ~TableReader();
  TableReader(const TableReader&) = delete;
  TableReader& operator=(const TableReader&) = delete;

  sqlite3* db() const { return db_.get(); }
  // Whether the file carries the table marks (application_id and user_version).
  bool HasTableMarks() const;
  // Starts a read transaction: everything read until the reader closes sees the table as it
  // is now.
  void HoldSnapshot();

 private:
  std::string path_;
  bool log_made_here_ = false;
  isam::DbPtr db_;
};

struct PracticeTable {
  std::string name;  // the file's name in its folder
  std::unique_ptr<TableReader> reader;
};

// The names of the files of `folder` whose first bytes are those of a table, sorted.
std::vector<std::string> TableFileNames(const std::string& folder);

// The tables of `folder`, each open for reading; files without the table marks are left out.
std::vector<PracticeTable> OpenTables(const std::string& folder);

// The entry of `names` that is `name` without regard to letter case, the exact spelling first;
// empty when none is.
std::string FindName(const std::vector<std::string>& names, const std::string& name);

// `rivenoak backup`: copies every table of `data_path` and its Convert.log into `dest` (made when
// missing; refused when it already holds tables). The tables are copied from read
// transactions all begun before the first copy. Returns the number of tables copied; on a
// failure, what was made is removed again. `gauge` (may be null) shows each table's pages.
int BackUpPractice(const std::string& data_path, const std::string& dest, engine::Gauge* gauge);

// `rivenoak restore`: copies the tables and the Convert.log of the backup `backup` into the
// practice folder `data_path`, only when every table's open mark there can be taken
// exclusively; nothing is written otherwise. Returns the number of tables restored.
int RestorePractice(const std::string& backup, const std::string& data_path, engine::Gauge* gauge);

// A new folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& prefix);
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_COPY_H_
