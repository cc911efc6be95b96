// Every table of a practice folder held from every other program (see the header).
#include "app/practice/practice_hold.h"

#include <filesystem>

#include "app/practice/backup_files.h"
#include "app/practice/practice_folder.h"

namespace app::copies {

using namespace backup_files;  // NOLINT: the files of a backup

PracticeHold::PracticeHold(const std::string& folder, const std::vector<std::string>& names,
                           const std::string& consequence)
    : folder_(folder), names_(names), writers_(names.size()) {
  for (const std::string& name : names) {
    RefuseNonFile(Join(folder, name), consequence);
    for (const char* beside : kBesideTable) {
      RefuseNonFile(Join(folder, name) + beside, consequence);
    }
  }
  // Where the mount keeps locks on this computer, no hold keeps another computer out.
  std::string local_locks = isam::LocalLocksRefusal(folder);
  if (!local_locks.empty()) throw PracticeDataError(local_locks);
  for (const std::string& name : names) {
    marks_.push_back(std::make_unique<isam::OpenMarkHold>(Join(folder, name)));
    if (!marks_.back()->TryHoldAlone()) {
      throw PracticeDataError("the table " + name + " is open in another program" + consequence);
    }
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (Exists(Join(folder, names[i]))) Take(i, consequence);
  }
}

isam::TableFileWriter& PracticeHold::Writer(size_t i) {
  if (!writers_[i]) Take(i, "");
  return *writers_[i];
}

void PracticeHold::Take(size_t i, const std::string& consequence) {
  auto writer = std::make_unique<isam::TableFileWriter>(
      std::filesystem::absolute(Join(folder_, names_[i])).string());
  try {
    writer->HoldAlone();
  } catch (const isam::TableFileError& error) {
    if (error.code() == ISAM_ERR_BUSY) throw PracticeDataError(error.what() + consequence);
    throw;
  }
  writers_[i] = std::move(writer);
}

}  // namespace app::copies
