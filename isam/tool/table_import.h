// isam import: the records of a CSV file appended to a table, all of them or none.
//
// The file's first record names the fields its columns fill (a leading "recno" column, as isam
// dump writes it, is left out; fields not named stay empty). Texts are UTF-8, or Windows-1252
// when the file is not valid UTF-8 (a file in UTF-16 is refused, naming it); dates are MM/DD/YYYY
// or YYYY-MM-DD, logicals T, F, Y, N, 1 or 0 in either case, numbers have "." before their decimals
// and an empty value is an empty field.
#ifndef RIVENOAK_ISAM_TOOL_TABLE_IMPORT_H_
#define RIVENOAK_ISAM_TOOL_TABLE_IMPORT_H_

#include <cstdint>
#include <string>

#include "isam/isam.h"

namespace isam::tool {

// Appends the records of the CSV file to the table, opened for writing through the connection.
// Every value is checked before the first record is written, and the records are written in one
// transaction of the connection. A failure throws a ToolError naming the file's line and the
// column (position and field), and leaves the table as it was. Returns the records appended.
uint64_t ImportCsv(IsamHandle connection, IsamHandle table, const std::string& csv_path);

}  // namespace isam::tool

#endif  // RIVENOAK_ISAM_TOOL_TABLE_IMPORT_H_
