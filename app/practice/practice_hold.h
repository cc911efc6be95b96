// Every table of a practice folder taken from every other program for as long as a restore writes
// them: the engine's open marks, held alone, and SQLite's exclusive lock on each file, held by the
// connection that then writes it. Tables missing from the folder are made when they are first
// written. A table, or a file kept beside one (its journal, write-ahead log and index, the open
// mark's lock file), that is a link or no plain file is refused before anything is held: found
// only when its table is written, it would stop a restore half done. So is a folder whose mount
// keeps locks on this computer only, where no hold keeps another computer out. Every refusal is a
// PracticeDataError; nothing is changed by taking the hold.
#ifndef RIVENOAK_APP_PRACTICE_PRACTICE_HOLD_H_
#define RIVENOAK_APP_PRACTICE_PRACTICE_HOLD_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "isam/table_files.h"

namespace app::copies {

class PracticeHold {
 public:
  // Holds the tables `names` of `folder`; `consequence` ends the text of a refusal, saying what
  // was left undone.
  PracticeHold(const std::string& folder, const std::vector<std::string>& names,
               const std::string& consequence);
  PracticeHold(const PracticeHold&) = delete;
  PracticeHold& operator=(const PracticeHold&) = delete;

  // The writer of the table names[i], made (with its file) when the table was missing.
  isam::TableFileWriter& Writer(size_t i);

 private:
  // Leaves the write-ahead mode (the copies are written in the rollback-journal mode) and rolls
  // back what a killed writer left, then keeps the file's exclusive lock until the writer
  // closes.
  void Take(size_t i, const std::string& consequence);

  std::string folder_;
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<isam::OpenMarkHold>> marks_;
  std::vector<std::unique_ptr<isam::TableFileWriter>> writers_;
};

}  // namespace app::copies

#endif  // RIVENOAK_APP_PRACTICE_PRACTICE_HOLD_H_
