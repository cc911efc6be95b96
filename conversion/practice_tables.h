// The layout of the practice's three tables as the run reads them: each file's fields (name
// and type) and indexes, in the engine's table-creation form. Used to lay out a new practice
// folder, whether a demonstration practice or a test's.
#ifndef RIVENOAK_CONVERSION_PRACTICE_TABLES_H_
#define RIVENOAK_CONVERSION_PRACTICE_TABLES_H_

#include <string>
#include <vector>

namespace conversion {

struct TableLayout {
  std::string file;
  std::vector<std::string> fields;   // "Name TYPE", in record order
  std::vector<std::string> indexes;  // "NAME=Field;Field", the primary index first
};

// MWTRN.ADT (transactions), Mwpax.adt (payment applications) and Mwpro.adt (procedure codes).
const std::vector<TableLayout>& PracticeTables();

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_PRACTICE_TABLES_H_
