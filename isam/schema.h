// What a table file holds, read and checked before the engine attaches it: the file's marks,
// its fields and its indexes. A file that is not a table of this engine is refused here without
// anything being written to it.
#ifndef RIVENOAK_ISAM_SCHEMA_H_
#define RIVENOAK_ISAM_SCHEMA_H_

#include "isam/internal_header.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "isam/field.h"

namespace isam {

constexpr int32_t kApplicationId = 1230193997;  // "ISAM"
constexpr int32_t kUserVersion = 1;

struct IndexDef {
  std::string name;           // as in the file (UTF-8)
  std::vector<int> segments;  // field positions, from 0
  uint32_t key_length = 0;    // bytes of a whole raw key
};

// A named index of the file that the engine cannot follow, and why.
struct UnusableIndex {
  std::string name;    // as in the file (UTF-8)
  std::string reason;  // "its key field 'Code' is descending", in Windows-1252
};

struct TableSchema {
  std::vector<FieldDef> fields;
  std::vector<IndexDef> indexes;
  std::vector<UnusableIndex> unusable_indexes;
  uint32_t record_length = 0;
  std::vector<int> autoinc_fields;

  int FindField(const std::string& name) const;  // -1 when absent; exact, then any case
  int FindIndex(const std::string& name) const;  // -1 when absent; exact, then any case
  // An index the file has but the engine cannot follow; null when there is none of that name.
  const UnusableIndex* FindUnusableIndex(const std::string& name) const;
};

// Checks the file's first bytes (SQLite header, marks, size) without SQLite; throws
// ISAM_ERR_NOT_A_TABLE (a folder too) or ISAM_ERR_TABLE_DAMAGED naming `path`, and ISAM_ERR_IO
// for a named pipe, a socket or a device, which is never opened to wait for bytes. Marks are
// checked here only when no write-ahead log or rollback journal could change the first page.
// Returns the file's text encoding (SQLITE_UTF8, SQLITE_UTF16LE or SQLITE_UTF16BE), which never
// changes once a database has its first table.
int CheckTableFileHeader(const std::string& path);

// "UTF-8", "UTF-16le" or "UTF-16be", for texts.
const char* TextEncodingName(int encoding);

// Reads the schema through a database handle; `schema_name` is "main" or an attached name.
TableSchema ReadSchema(sqlite3* db, const std::string& schema_name, const std::string& path);

// The offsets and record length that follow from the field list.
void LayOutRecord(TableSchema* schema);

}  // namespace isam

#endif  // RIVENOAK_ISAM_SCHEMA_H_
