// The files of a practice folder as the copies find them (see the header).
#include "app/practice/practice_folder.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/practice/backup_files.h"
#include "common/file_entries.h"
#include "conversion/practice_tables.h"

namespace app {

namespace fs = std::filesystem;
using namespace backup_files;  // NOLINT: the files of a backup

namespace copies {
namespace {

// Whether the link `name` of a practice folder stands where a practice's own file is read or
// written: a lock file, the Convert.log, one of the practice's tables by name, or a link to a
// table file under any name.
bool StandsForPracticeFile(const std::string& folder, const std::string& name) {
  bool lock_file = name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".lck") == 0;
  if (lock_file || strcasecmp(name.c_str(), kConvertLog) == 0) return true;
  for (const conversion::TableLayout& table : conversion::PracticeTables()) {
    if (strcasecmp(name.c_str(), table.file.c_str()) == 0) return true;
  }
  std::error_code ec;
  if (!fs::is_regular_file(fs::status(Join(folder, name), ec))) return false;
  try {
    return isam::IsTableFile(Join(folder, name));
  } catch (const isam::TableFileError&) {
    return true;  // a file it cannot read is no more to be read through a link
  }
}

}  // namespace

std::string PracticeName(const std::string& data_path) {
  std::string practice = data_path;
  while (practice.size() > 1 && practice.back() == '/') practice.pop_back();
  return practice;
}

void RefuseLink(const std::string& path, const std::string& consequence) {
  if (!IsLink(path)) return;
  throw PracticeDataError("The file " + path +
                          " is a symbolic link: a practice's tables, its Convert.log and their "
                          "lock files are read and written only as files of the practice folder "
                          "itself, never through a link; put the file itself in its place" +
                          consequence);
}

void RefuseNonFile(const std::string& path, const std::string& consequence) {
  RefuseLink(path, consequence);
  std::string kind = common::NonPlainKindAt(path);
  if (kind.empty()) return;
  throw PracticeDataError("The file " + path + " is " + kind +
                          ", not a plain file: a practice's tables, its Convert.log and the "
                          "files kept beside them are only ever plain files; remove it" +
                          consequence);
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    throw PracticeDataError("The folder " + folder + " is missing");
  }
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    fs::file_status status = entry.symlink_status(ec);
    if (fs::is_symlink(status)) {
      if (StandsForPracticeFile(folder, name)) RefuseLink(entry.path().string());
      continue;
    }
    if (IsWorkFile(name) || fs::is_directory(status)) continue;
    if (fs::is_regular_file(status)) {
      names.push_back(name);
    } else {
      RefuseNonFile(entry.path().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsTableHeader(const std::string& path) {
  try {
    return isam::IsTableFile(path);
  } catch (const isam::TableFileError&) {
    return false;
  }
}

bool IsTable(const std::string& path) {
  try {
    if (!isam::IsTableFile(path)) return false;
    isam::TableFileReader reader(path);
    return reader.HasTableMarks();
  } catch (const isam::TableFileError&) {
    return false;
  }
}

void CopyTable(const isam::TableFileReader& source, isam::TableFileWriter& dest,
               const std::string& target, conversion::Gauge* gauge) {
  if (!gauge) return dest.CopyFrom(source, target, nullptr);
  gauge->SetPosition(0);
  dest.CopyFrom(source, target, [gauge](int pages, int left) {
    gauge->SetMax(pages);
    gauge->SetPosition(gauge->Max() - left);
  });
}

}  // namespace copies

using copies::FileNames;

std::vector<std::string> TableFileNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& name : FileNames(folder)) {
    if (isam::IsTableFile(Join(folder, name))) names.push_back(name);
  }
  // One table in several files differing only in letter case is refused, as the engine refuses
  // it: a copy of both would carry the ambiguity on.
  for (const std::string& name : names) {
    try {
      isam::RefuseCaseTwins(folder, name);
    } catch (const isam::TableFileError& error) {
      throw PracticeDataError(error.what());
    }
  }
  return names;
}

std::vector<PracticeTable> OpenTables(const std::string& folder) {
  std::vector<PracticeTable> tables;
  for (const std::string& name : TableFileNames(folder)) {
    auto reader = std::make_unique<isam::TableFileReader>(Join(folder, name));
    if (reader->HasTableMarks()) tables.push_back(PracticeTable{name, std::move(reader)});
  }
  return tables;
}

std::string FindName(const std::vector<std::string>& names, const std::string& name) {
  if (std::find(names.begin(), names.end(), name) != names.end()) return name;
  for (const std::string& candidate : names) {
    if (strcasecmp(candidate.c_str(), name.c_str()) == 0) return candidate;
  }
  return "";
}

}  // namespace app
