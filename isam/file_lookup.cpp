#include "isam/file_lookup.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

std::string FindTableFile(const std::string& folder, const std::string& name) {
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
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      Fail(ISAM_ERR_NOT_A_TABLE, "The file " + path + " is not a table: it is a folder");
    }
    return path;
  }
  std::vector<std::string> matches;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      if (strcasecmp(entry->d_name, file.c_str()) == 0) matches.push_back(entry->d_name);
    }
    closedir(d);
  }
  if (matches.empty()) {
    Fail(ISAM_ERR_TABLE_NOT_FOUND, "The table " + file + " was not found in the folder " + dir);
  }
  std::sort(matches.begin(), matches.end());
  return (dir == "/" ? "" : dir) + "/" + matches.front();
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
