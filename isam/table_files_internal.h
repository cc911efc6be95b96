// What the parts of the table-file interface (table_files.h) share inside the engine: a reader's
// connection, and the one place where an engine failure becomes the interface's error.
#ifndef RIVENOAK_ISAM_TABLE_FILES_INTERNAL_H_
#define RIVENOAK_ISAM_TABLE_FILES_INTERNAL_H_

#include "isam/internal_header.h"

#include <string>

#include "isam/failure.h"
#include "isam/sqlite_handle.h"
#include "isam/table_files.h"

namespace isam {

struct TableFileReader::State {
  std::string path;
  DbPtr db;
};

// Runs an interface function's body, handing an engine failure on as the interface's error.
template <typename Body>
auto Translated(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const Failure& failure) {
    throw TableFileError(failure.code(), failure.what());
  }
}

}  // namespace isam

#endif  // RIVENOAK_ISAM_TABLE_FILES_INTERNAL_H_
