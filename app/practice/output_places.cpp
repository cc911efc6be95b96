#include "app/practice/output_places.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/practice/temporary_folder.h"
#include "isam/table_files.h"

namespace app {
namespace {

namespace fs = std::filesystem;

// The path as the file system takes it: links and `..` resolved as far as the path exists, the
// rest as written; no trailing separator.
fs::path Resolved(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  fs::path resolved = fs::weakly_canonical(absolute, ec);
  if (ec) resolved = absolute.lexically_normal();
  if (resolved.has_parent_path() && resolved.filename().empty()) resolved = resolved.parent_path();
  return resolved;
}

// Whether the folder `outer` is `inner` or one of the folders `inner` lies in. The names are
// compared, and then what they name: on a share that ignores letter case, or a folder mounted
// twice, two spellings of one folder differ as text but are one file (device and inode).
bool Within(const fs::path& inner, const fs::path& outer) {
  fs::path relative = inner.lexically_relative(outer);
  if (!relative.empty() && *relative.begin() != "..") return true;
  struct stat target {};
  if (stat(outer.c_str(), &target) != 0) return false;
  for (fs::path on_way = inner;; on_way = on_way.parent_path()) {
    struct stat here {};
    if (stat(on_way.c_str(), &here) == 0 && here.st_dev == target.st_dev &&
        here.st_ino == target.st_ino) {
      return true;
    }
    if (!on_way.has_relative_path()) return false;
  }
}

// Refuses `place` (`what` names it) inside a practice folder, or holding one when `holding` is
// refused too.
void RefuseOverlap(const std::string& what, const fs::path& place,
                   const std::vector<std::string>& practices, bool holding) {
  for (const std::string& practice : practices) {
    fs::path folder = Resolved(practice);
    if (Within(place, folder)) {
      throw OutputPlaceError(what + " is inside the practice folder " + practice +
                             "; nothing is written among a practice's tables");
    }
    if (holding && Within(folder, place)) {
      throw OutputPlaceError(what + " holds the practice folder " + practice +
                             "; nothing is written among a practice's tables");
    }
  }
}

// Refuses an existing file `path` that is a table file.
void RefuseTableFile(const std::string& what, const std::string& path) {
  bool table = false;
  try {
    table = isam::IsTableFile(path);
  } catch (const isam::TableFileError& error) {
    throw OutputPlaceError(what + " cannot be read to tell whether it is a table: " + error.what());
  }
  if (table) throw OutputPlaceError(what + " is a table file, which it would overwrite");
}

// What is at `path`, links followed (nothing when a folder on its way is missing or a file); a
// path that cannot be looked at is refused.
fs::file_status StatusOf(const std::string& what, const fs::path& path) {
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
    throw OutputPlaceError(what + " cannot be looked at: " + ec.message());
  }
  return status;
}

// Refuses a folder that this process may not make files in.
void RefuseUnwritableFolder(const std::string& what, const fs::path& folder) {
  if (!fs::is_directory(StatusOf(what, folder))) {
    throw OutputPlaceError(what + ": " + folder.string() + " is not a folder");
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    throw OutputPlaceError(what + ": the folder " + folder.string() +
                           " may not be written: " + std::strerror(errno));
  }
}

fs::path FolderOf(const std::string& file) {
  fs::path folder = fs::path(file).parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

// Closes the file at the end of its scope.
struct OpenFile {
  int fd = -1;
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
};

void WriteAll(int fd, const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    ssize_t written = write(fd, text.data() + at, text.size() - at);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) throw std::system_error(errno, std::generic_category());
    if (written == 0) throw std::system_error(std::make_error_code(std::errc::no_space_on_device));
    at += static_cast<size_t>(written);
  }
  if (fsync(fd) != 0) throw std::system_error(errno, std::generic_category());
}

}  // namespace

void CheckReportPlace(const std::string& file, const std::vector<std::string>& practices) {
  std::string what = "The report " + file;
  RefuseOverlap(what, Resolved(file), practices, false);
  fs::file_status status = StatusOf(what, file);
  if (fs::is_directory(status)) throw OutputPlaceError(what + " is a folder, not a file");
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    throw OutputPlaceError(what + " is no plain file (a device, a pipe or a socket)");
  }
  if (fs::exists(status)) RefuseTableFile(what, file);
  if (!fs::exists(StatusOf(what, FolderOf(file)))) {
    throw OutputPlaceError(what + ": its folder " + FolderOf(file).string() + " is missing");
  }
  RefuseUnwritableFolder(what, FolderOf(file));
}

void CheckBackupPlace(const std::string& folder, const std::vector<std::string>& practices) {
  std::string what = "The backup folder " + folder;
  fs::path place = Resolved(folder);
  RefuseOverlap(what, place, practices, true);
  fs::file_status status = StatusOf(what, folder);
  if (fs::exists(status) && !fs::is_directory(status)) {
    if (fs::is_regular_file(status)) RefuseTableFile(what, folder);
    throw OutputPlaceError(what + " is a file, not a folder");
  }
  // The backup is made beside its name and given the name last, so the folder that takes it is
  // the nearest one on its way that exists; the folders missing up to it are made.
  fs::path nearest = place.parent_path();
  while (nearest.has_relative_path() && !fs::exists(StatusOf(what, nearest))) {
    nearest = nearest.parent_path();
  }
  RefuseUnwritableFolder(what, nearest);
}

void WriteReportWhole(const std::string& file, const std::string& text,
                      const std::vector<std::string>& practices) {
  CheckReportPlace(file, practices);
  std::string what = "Cannot write the report " + file + ": ";
  OpenFile partial_file;
  // A report that replaces one keeps who may read it: a page of patients' accounts someone made
  // private stays private.
  struct stat previous {};
  mode_t mode = stat(file.c_str(), &previous) == 0 ? (previous.st_mode & 0777) : 0666;
  // A fixed short name, so that a long report name cannot make it too long for the folder.
  ScratchPath partial([&] {
    fs::path folder = fs::absolute(FolderOf(file));
    for (int n = 0;; ++n) {
      std::string name = ".rivenoak-report-" + std::to_string(getpid()) + "-" + std::to_string(n);
      std::string path = (folder / name).string();
      partial_file.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (partial_file.fd >= 0) return path;
      if (errno != EEXIST || n == 100) throw OutputPlaceError(what + std::strerror(errno));
    }
  });
  try {
    WriteAll(partial_file.fd, text);
  } catch (const std::system_error& error) {
    throw OutputPlaceError(what + error.code().message());
  }
  if (rename(partial.path().c_str(), file.c_str()) != 0) {
    throw OutputPlaceError(what + std::strerror(errno));
  }
  partial.Keep();
}

}  // namespace app
