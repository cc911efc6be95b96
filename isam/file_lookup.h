// Finding a table's file: paths may use "/" or "\" between their parts, and a file is found in
// its folder without regard to letter case (the exact spelling wins when several match).
//
// A practice folder is often a shared folder that others can write, so a symbolic link planted
// there in place of a table file, its lock file or a file SQLite keeps beside it could lead a
// write to any file the user may change. The engine opens none of them through a link: a link
// is refused with a text that names it. The folder itself may be reached through links.
#ifndef RIVENOAK_ISAM_FILE_LOOKUP_H_
#define RIVENOAK_ISAM_FILE_LOOKUP_H_

#include <string>

namespace isam {

// "\" turned into "/", and one trailing "/" removed unless the path is "/" alone.
std::string NormalisePath(const std::string& path);

// The path of the existing file that `name` names: an absolute path, or one that starts with
// `folder`, as it stands; any other name inside `folder`. Throws
// ISAM_ERR_FOLDER_NOT_FOUND or ISAM_ERR_TABLE_NOT_FOUND; ISAM_ERR_IO when the file is a
// symbolic link.
std::string FindTableFile(const std::string& folder, const std::string& name);

bool IsDirectory(const std::string& path);

// Whether `path` itself (not what it leads to) is a symbolic link.
bool IsSymbolicLink(const std::string& path);
// Throws ISAM_ERR_IO when `path` is a symbolic link; the text calls it `kind` ("The table file",
// "The lock file") and names it.
void RefuseLink(const std::string& path, const std::string& kind);
// The same for the files SQLite keeps beside the table file at `path` (its journal, write-ahead
// log and the log's shared memory), which it writes whenever the table changes.
void RefuseLinkedSideFiles(const std::string& path);
// The name under which SQLite opens the file at `path`: absolute, its folder's links resolved and
// its own name kept. SQLite is told to follow no link (SQLITE_OPEN_NOFOLLOW), which it takes for
// any link in the whole name, so a folder reached through a link must be resolved first.
std::string SqliteFileName(const std::string& path);

// Whether the table file is in write-ahead mode and another process has its log open: such a
// file cannot leave that mode until the other process closes it. Asked of the lock that every
// SQLite connection to a file in that mode holds on its shared-memory file, without writing.
bool HeldInWalModeElsewhere(const std::string& path);
// Whether another process holds any of SQLite's locks on the table file (a reader's, a
// writer's) or, in write-ahead mode, has its log open.
bool LockedElsewhere(const std::string& path);
// The text of the failure that names such a file and says what to do.
std::string HeldInWalModeText(const std::string& path);

// Whether the engine may write the file: its folder and the file itself writable, and the file
// not marked read-only (a user with every right still respects the mark).
bool IsWritableFile(const std::string& path);

}  // namespace isam

#endif  // RIVENOAK_ISAM_FILE_LOOKUP_H_
