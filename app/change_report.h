// The change report between two copies of a practice (`rivenoak diff`, and `rivenoak run
// --dry-run` after its run). For each table in either copy, matched by file name without regard
// to letter case, CSV (RFC 4180) with the header `table,recno,key,field,old,new`: one line per
// changed field of a record in both copies (matched by record number), one line per record added
// (field and old empty, new "added") and per record removed (new "removed"). The key is the
// values of the table's PRIMARY index fields joined by ";" (empty without that index); values
// are written as `isam dump` writes them. After the CSV, one line per table:
// `# TABLE: A added, C changed fields in R records`.
#ifndef RIVENOAK_APP_CHANGE_REPORT_H_
#define RIVENOAK_APP_CHANGE_REPORT_H_

#include <ostream>
#include <string>

namespace app {

// Writes the report of the changes from the practice folder `before` to `after`. Throws
// std::runtime_error naming the file when a table cannot be read.
void WriteChangeReport(const std::string& before, const std::string& after, std::ostream& out);

}  // namespace app

#endif  // RIVENOAK_APP_CHANGE_REPORT_H_
