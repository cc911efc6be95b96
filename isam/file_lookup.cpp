#include "isam/file_lookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "isam/failure.h"

namespace isam {

std::string NormalisePath(const std::string& path) {
  std::string out = path;
  std::replace(out.begin(), out.end(), '\\', '/');
  if (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

OpenFile OpenWithoutWaiting(const std::string& path) {
  return OpenFile(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

void FailNotPlainFile(const std::string& path, const std::string& kind, mode_t mode) {
  Fail(ISAM_ERR_IO, kind + " " + path + " is not a plain file but " + common::NonPlainKind(mode) +
                        ". Rivenoak reads and writes a table, its lock file and the files beside "
                        "it only as plain files of their own: opening anything else could block "
                        "it or lead elsewhere; nothing was changed. Remove it (put the table "
                        "itself in its place, if it stands for one) and run again");
}

void RefuseUnlessPlainFile(const std::string& path, const std::string& kind) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return;
  if (!S_ISLNK(st.st_mode)) FailNotPlainFile(path, kind, st.st_mode);
  Fail(ISAM_ERR_IO, kind + " " + path +
                        " is a symbolic link. Rivenoak reads and writes a table, its lock file and "
                        "the files beside it only as files of their own, never through a link, "
                        "which could lead to any other file; nothing was changed. Remove the link "
                        "(put the file it stands for in its place, if that is the table) and run "
                        "again");
}

void RefuseOddSideFiles(const std::string& path) {
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    RefuseUnlessPlainFile(path + suffix, "The file");
  }
}

std::string SqliteFileName(const std::string& path) {
  std::string absolute = std::filesystem::absolute(path).string();
  size_t slash = absolute.find_last_of('/');
  std::string dir = slash == 0 ? "/" : absolute.substr(0, slash);
  char resolved[PATH_MAX];
  if (!realpath(dir.c_str(), resolved)) return absolute;
  std::string folder = resolved;
  return (folder == "/" ? "" : folder) + absolute.substr(slash);
}

namespace {

// FindTableFile's search, which takes a link for the file it leads to and opens nothing.
std::string LookUpTableFile(const std::string& folder, const std::string& name) {
  std::string path = NormalisePath(name);
  if (path.empty()) Fail(ISAM_ERR_INVALID_ARGUMENT, "No table name given");
  // An absolute path, or one that starts with the connection's folder as the data access layer
  // builds them, stands as given; any other name is taken from the connection's folder.
  bool from_folder = path.rfind(folder + "/", 0) == 0;
  if (path[0] != '/' && !from_folder) path = folder + "/" + path;
  size_t slash = path.find_last_of('/');
  std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  std::string file = path.substr(slash + 1);
  if (!IsDirectory(dir)) Fail(ISAM_ERR_FOLDER_NOT_FOUND, "The folder " + dir + " does not exist");
  // Every spelling of the name is looked for, the exact one too: two files of one table would
  // have one part of a run write the one and another part the other.
  std::vector<std::string> matches;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      if (strcasecmp(entry->d_name, file.c_str()) == 0) matches.push_back(entry->d_name);
    }
    closedir(d);
  }
  std::sort(matches.begin(), matches.end());
  if (matches.size() > 1) {
    std::string names;
    for (const std::string& match : matches) names += (names.empty() ? "" : ", ") + match;
    Fail(ISAM_ERR_AMBIGUOUS_TABLE, "The folder " + dir + " holds the table " + file +
                                       " in several files whose names differ only in letter "
                                       "case (" +
                                       names + "): keep one of them and run again");
  }
  if (matches.empty()) {
    // A folder that cannot be listed still opens a file named exactly.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return path;
    Fail(ISAM_ERR_TABLE_NOT_FOUND, "The table " + file + " was not found in the folder " + dir);
  }
  return (dir == "/" ? "" : dir) + "/" + matches.front();
}

}  // namespace

std::string FindTableFile(const std::string& folder, const std::string& name) {
  std::string path = LookUpTableFile(folder, name);
  // A folder of the table's name, in any spelling, is simply no table.
  if (IsDirectory(path)) {
    Fail(ISAM_ERR_NOT_A_TABLE, "The file " + path + " is not a table: it is a folder");
  }
  RefuseUnlessPlainFile(path, "The table file");
  return path;
}

namespace {

// Whether another process holds a lock that conflicts with a write lock on the bytes given.
bool RangeLockedElsewhere(const std::string& path, off_t start, off_t length) {
  OpenFile file = OpenWithoutWaiting(path);
  if (file.get() < 0) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return fcntl(file.get(), F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

}  // namespace

bool LockedElsewhere(const std::string& path) {
  // SQLite's locks of a database file lie on the 512 bytes from 1 GiB on: the pending, reserved
  // and shared bytes.
  constexpr off_t kLockBytes = 0x40000000;
  return RangeLockedElsewhere(path, kLockBytes, 512) || HeldInWalModeElsewhere(path);
}

bool HeldInWalModeElsewhere(const std::string& path) {
  // Byte 18 of the header is 2 for a file in write-ahead mode.
  unsigned char header[20] = {};
  {
    OpenFile file = OpenWithoutWaiting(path);
    if (file.get() < 0 || pread(file.get(), header, sizeof header, 0) != sizeof header)
      return false;
  }
  if (header[18] != 2) return false;
  // Each connection to the log holds a read lock on byte 128 of the shared-memory file for as
  // long as it is open.
  return RangeLockedElsewhere(path + "-shm", 128, 1);
}

std::string HeldInWalModeText(const std::string& path) {
  return path +
         " is kept open in write-ahead mode by another program, so it cannot be made ready for "
         "writing: close the other program and run again";
}

bool IsWritableFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || (st.st_mode & 0222) == 0) return false;
  if (access(path.c_str(), W_OK) != 0) return false;
  std::string dir = path.substr(0, std::max<size_t>(path.find_last_of('/'), 1));
  struct stat dst {};
  return stat(dir.c_str(), &dst) == 0 && (dst.st_mode & 0222) != 0 &&
         access(dir.c_str(), W_OK) == 0;
}

}  // namespace isam
