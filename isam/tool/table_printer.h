// What the isam tool prints of a table: its layout (info), its records as CSV (dump, export) and
// how far a long run has come.
#ifndef RIVENOAK_ISAM_TOOL_TABLE_PRINTER_H_
#define RIVENOAK_ISAM_TOOL_TABLE_PRINTER_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "isam/isam.h"

namespace isam::tool {

// Thrown with the engine's last error text when a call fails.
struct ToolError {
  std::string message;
};
void Check(IsamResult rc);

// A field as the engine describes it; the name in Windows-1252.
struct Column {
  std::string name;
  uint16_t type = 0;
  uint32_t length = 0;
  uint16_t decimals = 0;
};
std::vector<Column> Columns(IsamHandle table);

// A bar that shows how much of a long run is done, redrawn at each whole percent. It is drawn on
// standard error only when that is a terminal, never into a pipe or a file; the line it is on
// ends when the bar goes.
class ProgressBar {
 public:
  ProgressBar(std::string label, uint64_t total);
  // Drawn on `out`, or nowhere when out is null.
  ProgressBar(std::string label, uint64_t total, std::ostream* out);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  void Update(uint64_t done);

 private:
  std::string label_;
  uint64_t total_;
  std::ostream* out_;
  int shown_ = -1;  // the percent drawn last
};

void PrintInfo(IsamHandle table, std::ostream& out);

// Every record of the order, from its top: a header of "recno" and the field names, then one
// line per record. With number_rows, "recno" is the row's position from 1. The progress bar, if
// any, counts records.
void PrintCsv(IsamHandle table, IsamHandle order, bool number_rows, std::ostream& out,
              ProgressBar* progress = nullptr);

// One CSV field, quoted when it must be (RFC 4180).
std::string CsvField(const std::string& text);

}  // namespace isam::tool

#endif  // RIVENOAK_ISAM_TOOL_TABLE_PRINTER_H_
