// The files of a practice folder as the copies find them: which are tables, which may be read or
// written at all, and a table copied whole into another.
//
// A practice folder is shared and writable by others, so nothing of it is read or written through
// a symbolic link, nor from a FIFO, socket or device, which would hold a command up for good: a
// link that stands where a practice's own file is (a table, the Convert.log, a lock file) and any
// entry that is neither a file nor a folder is refused by name, before anything changes. Journals,
// write-ahead logs and lock files of programs at work in the folder are never taken for tables.
// Every refusal is a PracticeDataError whose text names the file.
#ifndef RIVENOAK_APP_PRACTICE_PRACTICE_FOLDER_H_
#define RIVENOAK_APP_PRACTICE_PRACTICE_FOLDER_H_

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/practice/practice_data_error.h"
#include "conversion/run_view.h"
#include "isam/table_files.h"

namespace app {

struct PracticeTable {
  std::string name;  // the file's name in its folder
  std::unique_ptr<isam::TableFileReader> reader;
};

// The names of the files of `folder` whose first bytes are those of a table, sorted. Journals,
// write-ahead logs and lock files of programs at work in the folder are never looked at.
std::vector<std::string> TableFileNames(const std::string& folder);

// The tables of `folder`, each open for reading; files without the table marks are left out.
std::vector<PracticeTable> OpenTables(const std::string& folder);

// The entry of `names` that is `name` without regard to letter case, the exact spelling first;
// empty when none is.
std::string FindName(const std::vector<std::string>& names, const std::string& name);

// What the backup and the restore share of a practice folder's files.
namespace copies {

// The files the engine and SQLite keep beside a table: its rollback journal, write-ahead log and
// that log's index, and the open mark's lock file. Each is opened, or made, where the table is.
inline constexpr std::array<const char*, 4> kBesideTable = {"-journal", "-wal", "-shm", ".lck"};

// The practice folder as messages name it.
std::string PracticeName(const std::string& data_path);

// Throws when the entry at `path` of a practice folder is a link: reading through it would copy
// another file, writing through it would change one outside the practice. `consequence` says what
// that left undone.
void RefuseLink(const std::string& path, const std::string& consequence = "");

// Throws when the entry at `path` of a practice folder is there and is no plain file: a link (see
// RefuseLink), or a FIFO, socket, device or folder, which would hold a command up for good or
// take no lock.
void RefuseNonFile(const std::string& path, const std::string& consequence = "");

// The names of the files of `folder`, sorted, without the work files of programs at work there;
// throws on a link that stands for a practice's file, and on any other entry that is neither a
// file nor a folder (a table replaced by a FIFO would else be left out of a copy without a word).
std::vector<std::string> FileNames(const std::string& folder);

// Whether the file at `path` begins as a table file does; read only, never opened by SQLite.
bool IsTableHeader(const std::string& path);

// Whether the file at `path` is a table: the first bytes of a table file and the table marks.
bool IsTable(const std::string& path);

// Copies the table that `source` reads into `dest` (`target` names it), in one write transaction
// of the destination, whole or not at all; `gauge` (may be null) shows the pages copied.
void CopyTable(const isam::TableFileReader& source, isam::TableFileWriter& dest,
               const std::string& target, conversion::Gauge* gauge);

}  // namespace copies
}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_PRACTICE_FOLDER_H_
