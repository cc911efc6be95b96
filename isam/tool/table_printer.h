// What the isam tool prints of a table: its layout (info) and its records as CSV (dump).
#ifndef RIVENOAK_ISAM_TOOL_TABLE_PRINTER_H_
#define RIVENOAK_ISAM_TOOL_TABLE_PRINTER_H_

#include <ostream>
#include <string>

#include "isam/isam.h"

namespace isam::tool {

// Thrown with the engine's last error text when a call fails.
struct ToolError {
  std::string message;
};
void Check(IsamResult rc);

void PrintInfo(IsamHandle table, std::ostream& out);

// Every record of the order, from its top: a header of "recno" and the field names, then one
// line per record. With number_rows, "recno" is the row's position from 1.
void PrintCsv(IsamHandle table, IsamHandle order, bool number_rows, std::ostream& out);

// One CSV field, quoted when it must be (RFC 4180).
std::string CsvField(const std::string& text);

}  // namespace isam::tool

#endif  // RIVENOAK_ISAM_TOOL_TABLE_PRINTER_H_
