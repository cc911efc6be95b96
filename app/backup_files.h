// The files of a backup and of a restore: checksums, copies and texts that are on the disk when
// the call returns (written through a temporary file given the name last, so that a reader finds
// all of a text or no file), and the manifest that lists a backup's files with their sizes and
// checksums. A backup folder without a whole manifest that agrees with its files is no backup.
// Internal to the practice copies (practice_copy.cpp).
#ifndef RIVENOAK_APP_BACKUP_FILES_H_
#define RIVENOAK_APP_BACKUP_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace app::backup_files {

inline constexpr char kManifestFirstLine[] = "rivenoak backup 1";

bool Exists(const std::string& path);
std::string Join(const std::string& folder, const std::string& name);

uint32_t Crc32Update(uint32_t crc, const unsigned char* bytes, size_t size);

struct FileSum {
  uint64_t size = 0;
  uint32_t crc = 0;
  bool operator==(const FileSum&) const = default;
};

// Writes the file or folder at `path` to the disk.
void Sync(const std::string& path, bool folder);
// The size and checksum of the file at `from`; with `to` given, the bytes are also copied there
// (a new file, on the disk when this returns).
FileSum SumFile(const std::string& from, const std::string& to = "");
// Writes `text` to `path` through a temporary file given the name last, on the disk when this
// returns: whoever reads `path` finds all of the text or no file.
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
// missing or different.
std::vector<ManifestEntry> ReadManifest(const std::string& backup);

}  // namespace app::backup_files

#endif  // RIVENOAK_APP_BACKUP_FILES_H_
