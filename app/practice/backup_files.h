// The files of a backup and of a restore: checksums, copies and texts that are on the disk when
// the call returns (written through a temporary file given the name last, so that a reader finds
// all of a text or no file), and the manifest that lists a backup's files with their sizes and
// checksums. A backup folder without a whole manifest that agrees with its files is no backup.
// The names a manifest or a restore's plan lists are data that whoever can write those files
// chose: they name a file only as one plain file name (common/file_names.h) that is none of the
// program's own, a log only as Convert.log, each table once. Nothing is read or written through a
// link, nor from anything but a plain file: a file is opened so that a link in its place fails and
// a FIFO holds nothing up, and a new file is made only where no entry of its name is.
// Internal to the practice copies (practice_copy.h and the modules it is made of); it knows nothing
// of them but the error they all throw.
#ifndef RIVENOAK_APP_PRACTICE_BACKUP_FILES_H_
#define RIVENOAK_APP_PRACTICE_BACKUP_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/file_entries.h"

namespace app {

// The name of a backup's manifest in its folder.
inline constexpr char kManifestName[] = "Backup.manifest";

namespace backup_files {

inline constexpr char kManifestFirstLine[] = "rivenoak backup 1";
// The one log a practice has, a backup holds and a restore writes (in any letter case).
inline constexpr char kConvertLog[] = "Convert.log";

// An open file descriptor, closed when it goes; a file that cannot be opened is refused by name,
// and so is an entry that is no plain file (a FIFO, socket or device would hold the program up or
// take no lock), unless `flags` ask for a folder.
class Fd {
 public:
  Fd(const std::string& path, int flags);
  int get() const { return fd_.get(); }

 private:
  common::FileDescriptor fd_;
};

// Whether an entry of that path is there (a link counts, whatever it leads to).
bool Exists(const std::string& path);
// Whether the entry at `path` is a symbolic link.
bool IsLink(const std::string& path);
std::string Join(const std::string& folder, const std::string& name);

// Files that programs at work on a table keep beside it for a moment or for as long as they have
// it open: rollback journals, super-journals ("-mj" and hex digits), write-ahead logs and their
// indexes, lock files. None of them is part of a copy.
bool IsWorkFile(const std::string& name);

// Whether `name`, in any letter case, is one this program keeps for its own files in a practice
// or backup folder: anything beginning ".rivenoak-" (a restore's staging folder, its lock, what
// is left of a finished one), the manifest, and the work files of programs at work on a table.
bool IsReservedName(const std::string& name);

// What is wrong with the names a list (`list`: "Backup.manifest", "its plan") gives to the tables
// and logs of a practice: a table that is no plain file name, a reserved name or the log; a log
// that is not Convert.log; a table or log listed twice, also in two spellings that differ in letter
// case only. Empty when nothing is; else a text that begins with `list`.
std::string ListedNamesFault(const std::string& list, const std::vector<std::string>& tables,
                             const std::vector<std::string>& logs);

uint32_t Crc32Update(uint32_t crc, const unsigned char* bytes, size_t size);

struct FileSum {
  uint64_t size = 0;
  uint32_t crc = 0;
  bool operator==(const FileSum&) const = default;
};

// Writes the file or folder at `path` to the disk.
void Sync(const std::string& path, bool folder);
// The size and checksum of the file at `from` (never read through a link); with `to` given, the
// bytes are also copied there (a new file, made only where no entry of that name is, on the disk
// when this returns).
FileSum SumFile(const std::string& from, const std::string& to = "");
// All of the file at `path` (never read through a link, nor from anything but a plain file).
std::string ReadText(const std::string& path);
// Writes `text` to `path` through a temporary file given the name last, on the disk when this
// returns: whoever reads `path` finds all of the text or no file. An entry planted under the
// temporary file's name is removed (a link itself, not what it leads to), never written through.
void WriteWhole(const std::string& path, const std::string& text);
// A file's last-write time as a count of the file clock, and setting it back.
int64_t WriteTimeCount(const std::string& path);
void SetWriteTime(const std::string& path, int64_t count);

// One file of a backup: a table, or the Convert.log with its last-write time (the only thing
// about it that counts, and easily lost when a folder is copied by hand).
struct ManifestEntry {
  bool table = true;
  std::string name;
  FileSum sum;
  int64_t write_time = 0;
};

std::string ManifestText(const std::vector<ManifestEntry>& entries);
// The entries of the manifest of `backup`, each checked against its file; throws naming what is
// missing, different, listed under a name no practice file may have, or no plain file (a link, a
// FIFO, ...), the manifest itself included; nothing that is no plain file is opened.
std::vector<ManifestEntry> ReadManifest(const std::string& backup);

}  // namespace backup_files
}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_BACKUP_FILES_H_
