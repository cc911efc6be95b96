// The change report between two copies of a practice (`rivenoak diff`, and `rivenoak run
// --dry-run` after its run). For each table in either copy, matched by file name without regard
// to letter case, CSV (RFC 4180) with the header `table,recno,key,field,old,new`: one line per
// changed field of a record in both copies (matched by record number), one line per record added
// (field and old empty, new "added") and per record removed (new "removed"). The key is the
// values of the table's PRIMARY index fields joined by ";" (empty without that index); values
// are written as `isam dump` writes them. After the CSV, one line per table:
// `# TABLE: A added, D removed, C changed fields in R records`.
#ifndef RIVENOAK_APP_PRACTICE_CHANGE_REPORT_H_
#define RIVENOAK_APP_PRACTICE_CHANGE_REPORT_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace app {

// One line of the report: a changed field (old and new texts), or a record added ("added") or
// removed ("removed") with field and old empty.
struct FieldChange {
  std::string table;
  int64_t recno = 0;
  std::string key;
  std::string field;
  std::string old_text;
  std::string new_text;
};

// Calls `each` for every line of the report, in the report's order. Throws as WriteChangeReport.
void ForEachChange(const std::string& before, const std::string& after,
                   const std::function<void(const FieldChange&)>& each);

// Writes the report of the changes from the practice folder `before` to `after`. Throws
// std::runtime_error naming the file when a table cannot be read.
void WriteChangeReport(const std::string& before, const std::string& after, std::ostream& out);

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_CHANGE_REPORT_H_
