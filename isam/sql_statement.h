// An SQL statement of a connection: parsed and checked against its table when prepared, given
// its parameter values by position, and run. A SELECT over one table without DISTINCT gives a
// live cursor, a view of the table under the condition that moves like a table handle and sees
// every change at its next move or refresh; a SELECT DISTINCT gives a static cursor over a
// result table filled when it ran. UPDATE, INSERT and DELETE run as one unit, record by record,
// honouring record locks, and give no cursor.
#ifndef RIVENOAK_ISAM_SQL_STATEMENT_H_
#define RIVENOAK_ISAM_SQL_STATEMENT_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "isam/connection.h"
#include "isam/field.h"
#include "isam/isam.h"
#include "isam/sql_parser.h"
#include "isam/table.h"

namespace isam {

// A parameter value as the caller set it; its stored form depends on the field it meets.
struct ParamValue {
  enum class Kind {
    kEmpty,
    kString,
    kJulian,
    kDouble,
    kLogical,
    kMilliseconds,
    kTimestamp,
    kBinary
  };
  Kind kind = Kind::kEmpty;
  std::string text;  // kString, kBinary
  int32_t julian = 0;
  int32_t milliseconds = 0;
  double number = 0;  // kDouble
  bool truth = false;
};

struct StatementOptions {
  uint16_t lock_type = ISAM_LOCK_PROPRIETARY;
  uint16_t char_type = ISAM_CHAR_ANSI;
  uint16_t rights = ISAM_RIGHTS_CHECK;
  uint16_t read_only = ISAM_OPTION_ON;  // off: a live cursor asked for
  uint16_t table_type = ISAM_TABLE_TYPE_NATIVE;
  uint16_t constrain = ISAM_OPTION_OFF;
  uint16_t read_all_columns = ISAM_OPTION_OFF;
};

class SqlStatement {
 public:
  explicit SqlStatement(Connection* connection) : connection_(connection) {}

  StatementOptions& options() { return options_; }
  Connection* connection() const { return connection_; }

  // Parses and checks the text; the parameters then start without values.
  void Prepare(const std::string& text, const DateFormat& date_format);
  bool prepared() const { return prepared_; }
  const std::vector<std::string>& parameter_names() const { return parsed_.parameter_names; }
  void SetParameter(uint16_t position, ParamValue value);

  // A cursor for a SELECT; nullptr otherwise, with the rows changed in rows_affected.
  std::unique_ptr<Table> Execute();
  std::optional<int64_t> rows_affected() const { return rows_affected_; }

 private:
  std::shared_ptr<Attachment> AttachTable();
  void CheckConditionCompiles(const Attachment& attachment);
  std::unique_ptr<Table> RunSelect(const std::shared_ptr<Attachment>& attachment);
  int64_t RunChanges(const std::shared_ptr<Attachment>& attachment);

  Connection* connection_;
  StatementOptions options_;
  sql::Statement parsed_;
  std::string text_;
  DateFormat date_format_ = *DateFormat::Parse("MM/DD/CCYY");
  bool prepared_ = false;
  std::vector<std::optional<ParamValue>> parameters_;
  std::optional<int64_t> rows_affected_;
};

}  // namespace isam

#endif  // RIVENOAK_ISAM_SQL_STATEMENT_H_
