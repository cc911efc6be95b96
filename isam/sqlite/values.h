// Values as the SQLite storage binds, reads and stores them: a Value bound to a statement's
// parameter and read from a result column (NULL, integer, real or UTF-8 text, nothing else), and
// SQLite's rule of column affinities, which decides whether a column keeps a bound value as it
// was bound. Only the storage's own statements come here; the rest of the engine sees Values.
#ifndef RIVENOAK_ISAM_SQLITE_VALUES_H_
#define RIVENOAK_ISAM_SQLITE_VALUES_H_

#include "isam/internal_header.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#include "isam/value.h"

namespace isam {

void BindValue(sqlite3_stmt* stmt, int position, const Value& v);
Value ColumnValue(sqlite3_stmt* stmt, int column);
// The same into an existing value, reusing its storage.
void ReadColumn(sqlite3_stmt* stmt, int column, Value* out);

// Binds values[i] to ?(kConditionParameterBase + i), where the statement has it.
void BindConditionValues(sqlite3_stmt* stmt, const std::vector<Value>& values);

// How SQLite converts a value written into a column, decided by the column's declared type by
// SQLite's own rules (the first of: "INT", then "CHAR"/"CLOB"/"TEXT", then "BLOB" or no type,
// then "REAL"/"FLOA"/"DOUB", else numeric).
enum class ColumnAffinity { kInteger, kText, kBlob, kReal, kNumeric };
ColumnAffinity AffinityOf(const std::string& declared);

// Whether a column of that affinity stores `bound` exactly as bound, so that reading the column
// back gives the same value: a text into a text column, a whole number into an integer or
// numeric one, a finite real other than -0 into a real one. False for NULL (a column's
// constraints may store something else) and for whatever SQLite would convert.
bool StoredAsBound(ColumnAffinity affinity, const Value& bound);

}  // namespace isam

#endif  // RIVENOAK_ISAM_SQLITE_VALUES_H_
