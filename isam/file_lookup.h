// Finding a table's file: paths may use "/" or "\" between their parts, and a file is found in
// its folder without regard to letter case (the exact spelling wins when several match).
//
// A practice folder is often a shared folder that others can write, so a symbolic link planted
// there in place of a table file, its lock file or a file SQLite keeps beside it could lead a
// write to any file the user may change, and a named pipe (or a socket, a device) planted there
// would block the program that opens it for reading until another writes to it. The engine opens
// none of them through a link, nor any that is not a plain file: such a file is refused, without
// being opened or waited on, with a text that names it. The folder itself may be reached through
// links.
#ifndef RIVENOAK_ISAM_FILE_LOOKUP_H_
#define RIVENOAK_ISAM_FILE_LOOKUP_H_

#include "isam/internal_header.h"

#include <sys/types.h>

#include <string>

#include "common/file_entries.h"

namespace isam {

// "\" turned into "/", and one trailing "/" removed unless the path is "/" alone.
std::string NormalisePath(const std::string& path);

// The path of the existing file that `name` names: an absolute path, or one that starts with
// `folder`, as it stands; any other name inside `folder`. Throws
// ISAM_ERR_FOLDER_NOT_FOUND or ISAM_ERR_TABLE_NOT_FOUND; ISAM_ERR_NOT_A_TABLE for a folder;
// ISAM_ERR_IO when the file is a symbolic link or no plain file.
std::string FindTableFile(const std::string& folder, const std::string& name);

bool IsDirectory(const std::string& path);

// A file descriptor, closed with the object; negative when the open failed.
using OpenFile = common::FileDescriptor;

// Opens `path` itself (never a link's target) to look at or read, without waiting: a named
// pipe opened so returns at once.
OpenFile OpenWithoutWaiting(const std::string& path);
// Throws ISAM_ERR_IO when `path` is a symbolic link, or exists and is no plain file (a named
// pipe, a socket, a device, a folder); the text calls it `kind` ("The table file", "The lock
// file") and names it. Looks at the entry itself and opens nothing, so it never blocks.
void RefuseUnlessPlainFile(const std::string& path, const std::string& kind);
// The refusal of a file that is open, or was looked at, and is no plain file: `mode` is its
// st_mode.
[[noreturn]] void FailNotPlainFile(const std::string& path, const std::string& kind, mode_t mode);
// The same for the files SQLite keeps beside the table file at `path` (its journal, write-ahead
// log and the log's shared memory), which it reads and writes whenever it opens the table.
void RefuseOddSideFiles(const std::string& path);
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
