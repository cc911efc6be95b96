// IsamCreateTable: a new, empty table file with the marks, fields and indexes given. The file is
// built under a temporary name and moved into place whole, so no half-made table is ever seen.
#include <unistd.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/file_lookup.h"
#include "isam/guard.h"
#include "isam/isam.h"
#include "isam/registry.h"
#include "isam/schema.h"
#include "isam/sqlite_handle.h"

namespace isam {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// "Entry Number AUTOINC", "Amount NUMERIC(10, 2)": the type is the last word and its brackets.
FieldDef ParseFieldDefinition(const std::string& text) {
  std::string t = Trim(text);
  size_t type_end = t.size();
  size_t search_from = t.size();
  if (!t.empty() && t.back() == ')') {
    size_t open = t.rfind('(');
    if (open == std::string::npos)
      Fail(ISAM_ERR_INVALID_ARGUMENT, "Bad field definition '" + text + "'");
    search_from = open;
    while (search_from > 0 && (t[search_from - 1] == ' ' || t[search_from - 1] == '\t')) {
      --search_from;  // "char ( 8 )": blanks may stand before the bracket
    }
  }
  size_t space = t.find_last_of(" \t", search_from == 0 ? 0 : search_from - 1);
  if (space == std::string::npos) {
    Fail(ISAM_ERR_INVALID_ARGUMENT, "A field definition is 'NAME TYPE'; got '" + text + "'");
  }
  FieldDef field;
  field.name = Utf8FromAnsi(Trim(t.substr(0, space)));
  std::string type = Trim(t.substr(space + 1, type_end - space - 1));
  field.declared = NormalisedDeclaredType(type);
  if (field.declared.empty() || !ParseDeclaredType(field.declared, &field)) {
    Fail(ISAM_ERR_UNKNOWN_FIELD_TYPE,
         "Unknown field type '" + type + "' for the field '" + Trim(t.substr(0, space)) + "'");
  }
  if (field.name.empty() || field.name[0] == '_') {
    Fail(ISAM_ERR_INVALID_ARGUMENT, "Bad field name in '" + text + "'");
  }
  return field;
}

void CreateTable(const std::string& path, const std::vector<std::string>& field_texts,
                 const std::vector<std::string>& index_texts) {
  std::string target = NormalisePath(path);
  size_t slash = target.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  if (!IsDirectory(dir)) Fail(ISAM_ERR_FOLDER_NOT_FOUND, "The folder " + dir + " does not exist");
  RefuseUnlessPlainFile(target, "The table file");
  if (access(target.c_str(), F_OK) == 0) {
    Fail(ISAM_ERR_TABLE_EXISTS, "The file " + target + " already exists");
  }
  if (field_texts.empty()) Fail(ISAM_ERR_INVALID_ARGUMENT, "A table needs at least one field");

  TableSchema schema;
  std::set<std::string> names;
  for (const std::string& text : field_texts) {
    FieldDef field = ParseFieldDefinition(text);
    std::string lower = field.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!names.insert(lower).second) {
      Fail(ISAM_ERR_INVALID_ARGUMENT,
           "The field '" + AnsiFromUtf8(field.name) + "' is given twice");
    }
    schema.fields.push_back(field);
  }
  std::string sql = "CREATE TABLE records (\"_recno\" INTEGER PRIMARY KEY";
  for (const FieldDef& f : schema.fields) sql += ", " + QuoteIdentifier(f.name) + " " + f.declared;
  sql += ");";
  for (const std::string& text : index_texts) {
    size_t eq = text.find('=');
    std::string name = Trim(text.substr(0, eq));
    if (eq == std::string::npos || name.empty() || name[0] == '_' ||
        name.rfind("sqlite_", 0) == 0) {
      Fail(ISAM_ERR_INVALID_ARGUMENT,
           "An index definition is 'NAME=FIELD;FIELD'; got '" + text + "'");
    }
    std::string columns;
    std::string rest = text.substr(eq + 1);
    size_t pos = 0;
    while (pos <= rest.size()) {
      size_t semi = rest.find(';', pos);
      std::string field =
          Trim(rest.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos));
      int found = schema.FindField(Utf8FromAnsi(field));
      if (found < 0) {
        Fail(ISAM_ERR_FIELD_NOT_FOUND, "The index " + name + " names the field '" + field +
                                           "', which the table does not have");
      }
      if (!columns.empty()) columns += ", ";
      columns += QuoteIdentifier(schema.fields[static_cast<size_t>(found)].name);
      if (semi == std::string::npos) break;
      pos = semi + 1;
    }
    sql += "CREATE INDEX " + QuoteIdentifier(Utf8FromAnsi(name)) + " ON records (" + columns + ");";
  }

  std::string temp = target + ".creating-" + std::to_string(getpid());
  unlink(temp.c_str());
  // SQLite keeps a journal beside the new file while it writes it.
  RefuseOddSideFiles(temp);
  try {
    DbPtr db =
        OpenDb(UriOfFile(SqliteFileName(temp)), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, target);
    Exec(db.get(),
         "PRAGMA application_id = " + std::to_string(kApplicationId) + "; PRAGMA user_version = " +
             std::to_string(kUserVersion) + "; BEGIN; " + sql + " COMMIT;",
         target);
  } catch (...) {
    unlink(temp.c_str());
    throw;
  }
  // link() refuses an existing target, so a file made meanwhile is never replaced.
  if (link(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    Fail(ISAM_ERR_TABLE_EXISTS,
         "Cannot create " + target + ": it exists or the folder is not writable");
  }
  unlink(temp.c_str());
}

}  // namespace
}  // namespace isam

extern "C" IsamResult IsamCreateTable(const char* path, uint16_t field_count,
                                      const char* const* fields, uint16_t index_count,
                                      const char* const* indexes) {
  if (!path || (field_count && !fields) || (index_count && !indexes)) {
    IsamSetLastError(ISAM_ERR_INVALID_ARGUMENT, "No path or definitions given");
    return ISAM_ERR_INVALID_ARGUMENT;
  }
  return isam::Guard([&] {
    isam::CreateTable(path, std::vector<std::string>(fields, fields + field_count),
                      std::vector<std::string>(indexes, indexes + index_count));
  });
}
