// The engine's C interface for SQL statements and their cursors.
#include <cstring>

#include "isam/api_handles.h"
#include "isam/guard.h"
#include "isam/isam.h"
#include "isam/sql_parser.h"

namespace isam {
namespace {

IsamResult SetParameter(IsamHandle statement, uint16_t position, ParamValue value) {
  return Guard([&] { R().GetStatement(statement).SetParameter(position, std::move(value)); });
}

IsamResult SetOption(IsamHandle statement, uint16_t value, uint16_t low, uint16_t high,
                     uint16_t StatementOptions::*option) {
  return Guard([&] {
    SqlStatement& s = R().GetStatement(statement);
    if (value < low || value > high) {
      Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid statement option value " + std::to_string(value));
    }
    s.options().*option = value;
  });
}

}  // namespace
}  // namespace isam

using namespace isam;

extern "C" {

IsamResult IsamCreateSQLStatement(IsamHandle connection, IsamHandle* statement) {
  return Guard([&] {
    Need(statement, "output");
    Connection& conn = R().GetConnection(connection);
    *statement = R().AddStatement(connection, std::make_unique<SqlStatement>(&conn));
  });
}

IsamResult IsamStmtSetTableLockType(IsamHandle statement, uint16_t value) {
  return SetOption(statement, value, ISAM_LOCK_COMPATIBLE, ISAM_LOCK_PROPRIETARY,
                   &StatementOptions::lock_type);
}
IsamResult IsamStmtSetTableCharType(IsamHandle statement, uint16_t value) {
  return SetOption(statement, value, ISAM_CHAR_ANSI, ISAM_CHAR_OEM, &StatementOptions::char_type);
}
IsamResult IsamStmtSetTableRights(IsamHandle statement, uint16_t value) {
  return SetOption(statement, value, ISAM_RIGHTS_CHECK, ISAM_RIGHTS_IGNORE,
                   &StatementOptions::rights);
}
IsamResult IsamStmtSetTableReadOnly(IsamHandle statement, uint16_t value) {
  return SetOption(statement, value, ISAM_OPTION_ON, ISAM_OPTION_OFF, &StatementOptions::read_only);
}
IsamResult IsamStmtSetTableType(IsamHandle statement, uint16_t value) {
  return SetOption(statement, value, ISAM_TABLE_TYPE_NTX, ISAM_TABLE_TYPE_NATIVE,
                   &StatementOptions::table_type);
}
IsamResult IsamStmtConstrainUpdates(IsamHandle statement, uint16_t value) {
  return SetOption(statement, value, ISAM_OPTION_ON, ISAM_OPTION_OFF, &StatementOptions::constrain);
}
IsamResult IsamStmtReadAllColumns(IsamHandle statement, uint16_t value) {
  return SetOption(statement, value, ISAM_OPTION_ON, ISAM_OPTION_OFF,
                   &StatementOptions::read_all_columns);
}

IsamResult IsamPrepareSQL(IsamHandle statement, const char* text) {
  return Guard([&] {
    Need(text, "SQL text");
    R().GetStatement(statement).Prepare(text, R().settings().date_format);
  });
}

IsamResult IsamGetSQLStmtParams(IsamHandle statement, const char* text, uint16_t* count,
                                char* names, uint16_t* length) {
  return Guard([&] {
    Need(text, "SQL text");
    Need(count, "output");
    if (statement) R().GetStatement(statement);
    sql::Statement parsed = sql::Parse(text);
    std::string joined;
    for (size_t i = 0; i < parsed.parameter_names.size(); ++i) {
      joined += (i ? ";" : "") + parsed.parameter_names[i];
    }
    if (names) CopyOut(joined, names, length);
    *count = static_cast<uint16_t>(parsed.parameter_names.size());
  });
}

IsamResult IsamSetString(IsamHandle statement, uint16_t position, const char* text) {
  if (!text) return IsamSetEmpty(statement, position);
  ParamValue v;
  v.kind = ParamValue::Kind::kString;
  v.text = text;
  return SetParameter(statement, position, v);
}

IsamResult IsamSetJulian(IsamHandle statement, uint16_t position, int32_t julian) {
  ParamValue v;
  v.kind = ParamValue::Kind::kJulian;
  v.julian = julian;
  return SetParameter(statement, position, v);
}

IsamResult IsamSetDouble(IsamHandle statement, uint16_t position, double value) {
  ParamValue v;
  v.kind = ParamValue::Kind::kDouble;
  v.number = value;
  return SetParameter(statement, position, v);
}

IsamResult IsamSetLogical(IsamHandle statement, uint16_t position, uint16_t value) {
  ParamValue v;
  v.kind = ParamValue::Kind::kLogical;
  v.truth = value != 0;
  return SetParameter(statement, position, v);
}

IsamResult IsamSetMilliseconds(IsamHandle statement, uint16_t position, int32_t milliseconds) {
  ParamValue v;
  v.kind = ParamValue::Kind::kMilliseconds;
  v.milliseconds = milliseconds;
  return SetParameter(statement, position, v);
}

IsamResult IsamSetTimeStampRaw(IsamHandle statement, uint16_t position, const uint8_t* data,
                               uint32_t length) {
  if (!data || length != 8) {
    IsamSetLastError(ISAM_ERR_INVALID_ARGUMENT, "A raw timestamp is 8 bytes");
    return ISAM_ERR_INVALID_ARGUMENT;
  }
  ParamValue v;
  v.kind = ParamValue::Kind::kTimestamp;
  std::memcpy(&v.julian, data, 4);
  std::memcpy(&v.milliseconds, data + 4, 4);
  return SetParameter(statement, position, v);
}

IsamResult IsamSetBinary(IsamHandle statement, uint16_t position, uint16_t, const uint8_t* data,
                         uint32_t length) {
  ParamValue v;
  v.kind = ParamValue::Kind::kBinary;
  if (data) v.text.assign(reinterpret_cast<const char*>(data), length);
  return SetParameter(statement, position, v);
}

IsamResult IsamExecuteSQL(IsamHandle statement, IsamHandle* cursor) {
  return Guard([&] {
    Need(cursor, "output");
    SqlStatement& s = R().GetStatement(statement);
    std::unique_ptr<Table> result = s.Execute();
    *cursor =
        result ? R().AddTable(R().ConnectionOfStatement(statement), std::move(result), true) : 0;
  });
}

IsamResult IsamSqlPeekStatement(IsamHandle cursor, uint16_t* live) {
  return Guard([&] {
    Need(live, "output");
    if (R().KindOf(cursor) != ISAM_HANDLE_CURSOR) {
      Fail(ISAM_ERR_INVALID_HANDLE, "Invalid cursor handle " + std::to_string(cursor));
    }
    *live = R().GetTable(cursor).source().is_live() ? 1 : 0;
  });
}

IsamResult IsamCloseSQLStatement(IsamHandle statement) {
  return Guard([&] { R().RemoveStatement(statement); });
}

}  // extern "C"
