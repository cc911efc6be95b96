// The hidden folder a backup is made in before it is given its name (see the header).
#include "app/practice/partial_backup.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/practice/backup_files.h"
#include "app/practice/practice_data_error.h"

namespace app::copies {

namespace fs = std::filesystem;

PartialBackup::PartialBackup(const std::string& dest)
    : final_(FinalPath(dest)), folder_([this, &dest] { return MakeBeside(dest); }) {}

void PartialBackup::Keep(const std::string& dest) {
  backup_files::Sync(path(), true);
  if (::rename(path().c_str(), final_.c_str()) != 0) {
    throw PracticeDataError("Cannot make the folder " + dest + ": " + std::strerror(errno));
  }
  folder_.Keep();
  backup_files::Sync(fs::path(final_).parent_path().string(), true);
}

std::string PartialBackup::FinalPath(const std::string& dest) {
  fs::path final_path = fs::absolute(dest).lexically_normal();
  if (final_path.filename().empty()) final_path = final_path.parent_path();
  return final_path.string();
}

// The hidden folder beside the final name; a stop signal removes it with what it holds, as the
// end of this object does, so that a backup broken off leaves no copy of the practice.
std::string PartialBackup::MakeBeside(const std::string& dest) const {
  fs::path final_path(final_);
  std::error_code ec;
  fs::create_directories(final_path.parent_path(), ec);
  if (ec) {
    throw PracticeDataError("Cannot make the folder " + final_path.parent_path().string() + ": " +
                            ec.message());
  }
  std::string pattern =
      (final_path.parent_path() / ("." + final_path.filename().string() + ".partial-XXXXXX"))
          .string();
  if (!mkdtemp(pattern.data())) {
    throw PracticeDataError("Cannot make a folder beside " + dest + ": " + std::strerror(errno));
  }
  return pattern;
}

}  // namespace app::copies
