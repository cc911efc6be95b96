// Finding a table's file: paths may use "/" or "\" between their parts, and a file is found in
// its folder without regard to letter case (the exact spelling wins when several match).
#ifndef RIVENOAK_ISAM_FILE_LOOKUP_H_
#define RIVENOAK_ISAM_FILE_LOOKUP_H_

#include <string>

namespace isam {

// "\" turned into "/", and one trailing "/" removed unless the path is "/" alone.
std::string NormalisePath(const std::string& path);

// The path of the existing file that `name` names: an absolute path, or one that starts with
// `folder`, as it stands; any other name inside `folder`. Throws
// ISAM_ERR_FOLDER_NOT_FOUND or ISAM_ERR_TABLE_NOT_FOUND.
std::string FindTableFile(const std::string& folder, const std::string& name);

bool IsDirectory(const std::string& path);

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
