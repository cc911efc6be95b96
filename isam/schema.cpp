#include "isam/schema.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "isam/codepage.h"
#include "isam/failure.h"
#include "isam/file_lookup.h"
#include "isam/sqlite_handle.h"

namespace isam {
namespace {

bool FileHasContent(const std::string& path) {
  struct stat file {};
  return stat(path.c_str(), &file) == 0 && file.st_size > 0;
}

uint32_t BigEndian(const unsigned char* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

[[noreturn]] void NotATable(const std::string& path, const std::string& why) {
  Fail(ISAM_ERR_NOT_A_TABLE, "The file " + path + " is not a table: " + why);
}

// A folder is no table; a named pipe, a socket or a device is refused before a byte is read.
void RefuseKindOfFile(const std::string& path, mode_t mode) {
  if (S_ISDIR(mode)) NotATable(path, "it is a folder");
  if (!S_ISREG(mode)) FailNotPlainFile(path, "The file", mode);
}

// The first bytes of the file at `path`, up to `count`. Looked at before it is opened, and
// opened without waiting, so that a named pipe in a table's place never blocks the read (a link
// is followed: the engine refuses links before it gets here, its callers outside decide alone).
std::string FirstBytes(const std::string& path, size_t count) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) RefuseKindOfFile(path, st.st_mode);
  OpenFile file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0 || fstat(file.get(), &st) != 0) {
    Fail(ISAM_ERR_IO, "Cannot read the file " + path + ": " + std::strerror(errno));
  }
  RefuseKindOfFile(path, st.st_mode);
  std::string bytes(count, '\0');
  size_t got = 0;
  while (got < count) {
    ssize_t n = pread(file.get(), bytes.data() + got, count - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(ISAM_ERR_IO, "Cannot read the file " + path + ": " + std::strerror(errno));
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

int64_t PragmaInt(sqlite3* db, const std::string& schema, const char* pragma,
                  const std::string& path) {
  StmtPtr stmt = Prepare(db, "PRAGMA " + QuoteIdentifier(schema) + "." + pragma, path);
  StatementUse use(stmt.get(), path);
  return use.Step() ? sqlite3_column_int64(stmt.get(), 0) : 0;
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? text : "";
}

template <typename Def>
int FindByName(const std::vector<Def>& defs, const std::string& name) {
  for (size_t i = 0; i < defs.size(); ++i) {
    if (defs[i].name == name) return static_cast<int>(i);
  }
  for (size_t i = 0; i < defs.size(); ++i) {
    if (strcasecmp(defs[i].name.c_str(), name.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int TableSchema::FindField(const std::string& name) const {
  return FindByName(fields, name);
}
int TableSchema::FindIndex(const std::string& name) const {
  return FindByName(indexes, name);
}
const UnusableIndex* TableSchema::FindUnusableIndex(const std::string& name) const {
  int found = FindByName(unusable_indexes, name);
  return found < 0 ? nullptr : &unusable_indexes[static_cast<size_t>(found)];
}

const char* TextEncodingName(int encoding) {
  switch (encoding) {
    case SQLITE_UTF16LE:
      return "UTF-16le";
    case SQLITE_UTF16BE:
      return "UTF-16be";
    default:
      return "UTF-8";
  }
}

int CheckTableFileHeader(const std::string& path) {
  std::string first = FirstBytes(path, 100);
  unsigned char header[100] = {};
  std::memcpy(header, first.data(), first.size());
  if (first.empty()) NotATable(path, "the file is empty");
  if (first.size() < 100 ||
      std::string(reinterpret_cast<char*>(header), 16) != std::string("SQLite format 3", 16)) {
    NotATable(path, "it is not an SQLite database");
  }
  uint32_t page_size = BigEndian(header + 16, 2);
  if (page_size == 1) page_size = 65536;
  if (page_size < 512 || (page_size & (page_size - 1)) != 0) {
    Fail(ISAM_ERR_TABLE_DAMAGED, "The table " + path + " is damaged: bad page size");
  }
  // The first page and the size may be newer in a write-ahead log, or half written by a commit
  // that a rollback journal (SQLite rolls it back at the first read) undoes.
  uint32_t encoding = BigEndian(header + 56, 4);
  int text_encoding = encoding == SQLITE_UTF16LE || encoding == SQLITE_UTF16BE
                          ? static_cast<int>(encoding)
                          : SQLITE_UTF8;
  if (FileHasContent(path + "-wal") || FileHasContent(path + "-journal")) return text_encoding;
  if (static_cast<int32_t>(BigEndian(header + 68, 4)) != kApplicationId ||
      static_cast<int32_t>(BigEndian(header + 60, 4)) != kUserVersion) {
    NotATable(path, "it lacks the table marks (application_id and user_version)");
  }
  uint32_t pages = BigEndian(header + 28, 4);
  bool pages_valid = BigEndian(header + 92, 4) == BigEndian(header + 24, 4) && pages > 0;
  struct stat file {};
  if (pages_valid && stat(path.c_str(), &file) == 0 &&
      static_cast<uint64_t>(file.st_size) < static_cast<uint64_t>(pages) * page_size) {
    Fail(ISAM_ERR_TABLE_DAMAGED, "The table " + path + " is damaged: the file is truncated (" +
                                     std::to_string(file.st_size) + " bytes of " +
                                     std::to_string(static_cast<uint64_t>(pages) * page_size) +
                                     ")");
  }
  return text_encoding;
}

void LayOutRecord(TableSchema* schema) {
  uint32_t offset = static_cast<uint32_t>(schema->fields.size());
  schema->autoinc_fields.clear();
  for (size_t i = 0; i < schema->fields.size(); ++i) {
    schema->fields[i].offset = offset;
    offset += schema->fields[i].length;
    if (schema->fields[i].type == 15) schema->autoinc_fields.push_back(static_cast<int>(i));
  }
  schema->record_length = offset;
  for (IndexDef& index : schema->indexes) {
    index.key_length = 0;
    for (int f : index.segments) index.key_length += 1 + schema->fields[f].length;
  }
}

TableSchema ReadSchema(sqlite3* db, const std::string& schema_name, const std::string& path) {
  if (PragmaInt(db, schema_name, "application_id", path) != kApplicationId ||
      PragmaInt(db, schema_name, "user_version", path) != kUserVersion) {
    NotATable(path, "it lacks the table marks (application_id and user_version)");
  }
  TableSchema schema;
  std::string q = QuoteIdentifier(schema_name);
  {
    StmtPtr stmt = Prepare(db, "PRAGMA " + q + ".table_info(records)", path);
    StatementUse use(stmt.get(), path);
    bool first = true;
    while (use.Step()) {
      std::string name = ColumnText(stmt.get(), 1);
      std::string declared = ColumnText(stmt.get(), 2);
      int pk = sqlite3_column_int(stmt.get(), 5);
      if (first) {
        if (name != "_recno" || strcasecmp(declared.c_str(), "INTEGER") != 0 || pk != 1) {
          NotATable(path, "the first column of 'records' is not \"_recno\" INTEGER PRIMARY KEY");
        }
        first = false;
        continue;
      }
      FieldDef field;
      field.name = name;
      field.declared = declared;
      if (!ParseDeclaredType(declared, &field)) {
        Fail(ISAM_ERR_UNKNOWN_FIELD_TYPE, "The table " + path + " has the field '" +
                                              AnsiFromUtf8(name) + "' of unknown type '" +
                                              declared + "'");
      }
      schema.fields.push_back(field);
    }
    if (first) NotATable(path, "it has no table named 'records'");
  }
  if (schema.fields.empty()) NotATable(path, "the table 'records' has no fields");

  std::vector<std::string> index_names;
  {
    StmtPtr stmt = Prepare(db, "PRAGMA " + q + ".index_list(records)", path);
    StatementUse use(stmt.get(), path);
    while (use.Step()) {
      std::string name = ColumnText(stmt.get(), 1);
      if (name.rfind("sqlite_", 0) == 0 || name.rfind("_", 0) == 0) continue;
      if (sqlite3_column_int(stmt.get(), 4) != 0) {
        schema.unusable_indexes.push_back({name, "it holds only the records of its WHERE clause"});
        continue;
      }
      index_names.push_back(name);
    }
  }
  for (const std::string& name : index_names) {
    IndexDef index;
    index.name = name;
    std::string unusable;
    StmtPtr stmt = Prepare(db, "PRAGMA " + q + ".index_xinfo(" + QuoteIdentifier(name) + ")", path);
    StatementUse use(stmt.get(), path);
    while (use.Step() && unusable.empty()) {
      if (sqlite3_column_int(stmt.get(), 5) == 0) continue;  // the row id that ends each entry
      std::string column = ColumnText(stmt.get(), 2);
      std::string collation = ColumnText(stmt.get(), 4);
      int field = -1;
      for (size_t i = 0; i < schema.fields.size(); ++i) {
        if (schema.fields[i].name == column) field = static_cast<int>(i);
      }
      // The engine keeps a key's order itself (scopes, seeks, steps), as ascending stored values
      // compared byte by byte: only such indexes over fields are indexes of the table.
      std::string key_field = "its key field '" + AnsiFromUtf8(column) + "'";
      if (field < 0) {
        int column_number = sqlite3_column_int(stmt.get(), 1);
        unusable = column_number == -2   ? "a key of it is an expression"
                   : column_number == -1 ? "a key of it is the record number"
                                         : "a key of it is no field";
      } else if (sqlite3_column_int(stmt.get(), 3) != 0) {
        unusable = key_field + " is in descending order (DESC)";
      } else if (strcasecmp(collation.c_str(), "BINARY") != 0) {
        unusable = key_field + " is compared with the collation " + collation;
      }
      index.segments.push_back(field);
    }
    if (!unusable.empty()) {
      schema.unusable_indexes.push_back({name, unusable});
    } else if (!index.segments.empty()) {
      schema.indexes.push_back(index);
    }
  }
  std::sort(schema.indexes.begin(), schema.indexes.end(),
            [](const IndexDef& a, const IndexDef& b) { return a.name < b.name; });
  LayOutRecord(&schema);
  return schema;
}

}  // namespace isam
