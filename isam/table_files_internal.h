// What the parts of the table-file interface (table_files.h, table_checks.h) share inside the
// engine: a reader's connection and the queries the engine runs on it, and the one place where an
// engine failure becomes the interface's error.
#ifndef RIVENOAK_ISAM_TABLE_FILES_INTERNAL_H_
#define RIVENOAK_ISAM_TABLE_FILES_INTERNAL_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <functional>
#include <string>

#include "isam/failure.h"
#include "isam/sqlite_handle.h"
#include "isam/table_files.h"

namespace isam {

struct TableFileReader::State {
  std::string path;
  DbPtr db;
};

// One row of a query that a reader runs, valid inside the callback only.
class TableFileRow {
 public:
  enum class Type { kNull, kInteger, kReal, kText, kBlob };
  explicit TableFileRow(sqlite3_stmt* stmt) : stmt_(stmt) {}
  int64_t Integer(int column) const;
  // The value as SQLite writes it as text; empty for NULL.
  std::string Text(int column) const;
  Type TypeOf(int column) const;

 private:
  sqlite3_stmt* stmt_;
};

// Runs a SELECT over the reader's file (its records are in the table `records`), one call per row.
void SelectRows(const TableFileReader& reader, const std::string& sql,
                const std::function<void(const TableFileRow&)>& each);

// Whether the file's records have a column of exactly this name.
bool HasColumn(const TableFileReader& reader, const std::string& name);

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
