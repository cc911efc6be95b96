// The engine's C interface: every function checks its arguments, runs under the engine's lock,
// and turns any failure into an error code and the thread's last error. No exception crosses.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/file_lookup.h"
#include "isam/guard.h"
#include "isam/isam.h"
#include "isam/registry.h"

namespace isam {
namespace {

struct LastError {
  uint32_t code = 0;
  std::string text;
};
thread_local LastError last_error;

}  // namespace

void SetLastError(IsamResult code, const std::string& text) {
  last_error = {code, text};
}

void Need(const void* pointer, const char* what) {
  if (!pointer) Fail(ISAM_ERR_INVALID_ARGUMENT, std::string("No ") + what + " given");
}

void CopyOut(const std::string& text, char* buffer, uint16_t* length) {
  Need(buffer, "buffer");
  Need(length, "length");
  if (text.size() + 1 > *length) {
    Fail(ISAM_ERR_BUFFER_TOO_SMALL, "A buffer of " + std::to_string(*length) +
                                        " bytes cannot hold " + std::to_string(text.size() + 1));
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *length = static_cast<uint16_t>(text.size());
}

namespace {

constexpr uint32_t kVersionMajor = 1;
constexpr uint32_t kVersionMinor = 0;

const char* DefaultText(uint32_t code) {
  switch (code) {
    case ISAM_SUCCESS:
      return "Success";
    case ISAM_ERR_INVALID_HANDLE:
      return "Invalid handle";
    case ISAM_ERR_INVALID_ARGUMENT:
      return "Invalid argument";
    case ISAM_ERR_BUFFER_TOO_SMALL:
      return "The buffer is too small";
    case ISAM_ERR_NOT_SUPPORTED:
      return "Not supported by this engine";
    case ISAM_ERR_FOLDER_NOT_FOUND:
      return "Folder not found";
    case ISAM_ERR_TABLE_NOT_FOUND:
      return "Table not found";
    case ISAM_ERR_NOT_A_TABLE:
      return "The file is not a table";
    case ISAM_ERR_TABLE_DAMAGED:
      return "The table is damaged";
    case ISAM_ERR_IO:
      return "Input or output failed";
    case ISAM_ERR_UNKNOWN_FIELD_TYPE:
      return "Unknown field type";
    case ISAM_ERR_DISK_FULL:
      return "The disk is full";
    case ISAM_ERR_READ_ONLY:
      return "The table is read-only";
    case ISAM_ERR_TABLE_EXISTS:
      return "The table already exists";
    case ISAM_ERR_TABLE_IN_USE:
      return "The table is in use";
    case ISAM_ERR_BUSY:
      return "The table is busy";
    case ISAM_ERR_AMBIGUOUS_TABLE:
      return "Several files hold the same table";
    case ISAM_ERR_FIELD_NOT_FOUND:
      return "Field not found";
    case ISAM_ERR_INDEX_NOT_FOUND:
      return "Index not found";
    case ISAM_ERR_VALUE_TOO_LONG:
      return "Value too long for its field";
    case ISAM_ERR_INVALID_VALUE:
      return "Invalid value for its field";
    case ISAM_ERR_INVALID_KEY:
      return "Invalid key";
    case ISAM_ERR_RECORD_LOCKED:
      return "The record is locked by another user";
    case ISAM_ERR_RECORD_NOT_FOUND:
      return "Record not found";
    case ISAM_ERR_ALREADY_DISCONNECTED:
      return "The connection is not open";
    case ISAM_ERR_NO_FILTER:
      return "No filter is set";
    case ISAM_ERR_NO_SCOPE:
      return "No scope is set";
    case ISAM_ERR_NO_KEY_POSITION:
      return "No key position";
    case ISAM_ERR_NO_CURRENT_RECORD:
      return "No current record";
    case ISAM_ERR_NO_UPDATE_PENDING:
      return "No change is pending";
    case ISAM_ERR_STATEMENT_CLOSED:
      return "The statement is closed";
    case ISAM_ERR_NO_ROW_COUNT:
      return "No row count";
    case ISAM_ERR_PERMISSION:
      return "Permission denied";
    case ISAM_ERR_STATIC_VIEW:
      return "The cursor cannot be updated";
    case ISAM_ERR_LAYER:
      return "Invalid operation";
    case ISAM_ERR_TRANSACTION:
      return "Transaction error";
    case ISAM_ERR_SQL_SYNTAX:
      return "SQL syntax error";
    case ISAM_ERR_SQL_PARAMETER:
      return "SQL parameter error";
    case ISAM_ERR_SQL_NOT_PREPARED:
      return "The SQL statement is not prepared";
    default:
      return "Internal error";
  }
}

Registry& R() {
  return Registry::Get();
}

const FieldDef& FieldOf(Table& table, uint16_t field) {
  const auto& fields = table.schema().fields;
  if (field < 1 || field > fields.size()) {
    Fail(ISAM_ERR_FIELD_NOT_FOUND, "No field number " + std::to_string(field) + " in " +
                                       table.Title() + " (it has " + std::to_string(fields.size()) +
                                       ")");
  }
  return fields[field - 1u];
}

// A field assignment on a table (the pending change) or on an index (its key buffer).
void AssignField(IsamHandle handle, uint16_t field, const Value& stored) {
  uint16_t kind = R().KindOf(handle);
  if (kind == ISAM_HANDLE_INDEX) {
    OrderRef order = R().GetIndex(handle);
    FieldOf(*order.table, field);
    order.table->SetKeyField(order.index, field - 1, stored);
    return;
  }
  Table& table = R().GetTable(handle);
  FieldOf(table, field);
  table.SetField(field - 1, stored);
}

Table& TableOf(IsamHandle handle) {
  if (R().KindOf(handle) == ISAM_HANDLE_INDEX) return *R().GetIndex(handle).table;
  return R().GetTable(handle);
}

}  // namespace
}  // namespace isam

using namespace isam;

extern "C" {

// ---- settings ----

IsamResult IsamSetDateFormat(const char* format) {
  return Guard([&] {
    Need(format, "date format");
    auto parsed = DateFormat::Parse(format);
    if (!parsed)
      Fail(ISAM_ERR_INVALID_ARGUMENT, std::string("Unknown date format '") + format + "'");
    R().settings().date_format = *parsed;
  });
}

IsamResult IsamGetDateFormat(char* buffer, uint16_t* length) {
  return Guard([&] { CopyOut(R().settings().date_format.text(), buffer, length); });
}

IsamResult IsamSetDecimals(uint16_t decimals) {
  return Guard([&] {
    if (decimals > 15) Fail(ISAM_ERR_INVALID_ARGUMENT, "At most 15 decimals");
    R().settings().decimals = decimals;
  });
}

IsamResult IsamGetDecimals(uint16_t* decimals) {
  return Guard([&] {
    Need(decimals, "output");
    *decimals = R().settings().decimals;
  });
}

IsamResult IsamShowDeleted(uint16_t show) {
  return Guard([&] { R().settings().show_deleted = show != 0; });
}

IsamResult IsamGetDeleted(uint16_t* show) {
  return Guard([&] {
    Need(show, "output");
    *show = R().settings().show_deleted ? 1 : 0;
  });
}

IsamResult IsamSetServerType(uint16_t mask) {
  return Guard([&] {
    if (mask == 0 || mask > 7) Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid server type mask");
    R().settings().server_types = mask;
  });
}

IsamResult IsamCacheOpenTables(uint16_t count) {
  return Guard([&] { R().settings().cached_tables = count; });
}

IsamResult IsamCacheOpenCursors(uint16_t count) {
  return Guard([&] { R().settings().cached_cursors = count; });
}

IsamResult IsamCacheRecords(IsamHandle table, uint16_t) {
  return Guard([&] { R().GetTable(table); });
}

IsamResult IsamGetVersion(uint32_t* major, uint32_t* minor, char* letter) {
  return Guard([&] {
    Need(major, "output");
    Need(minor, "output");
    *major = kVersionMajor;
    *minor = kVersionMinor;
    if (letter) *letter = ' ';
  });
}

IsamResult IsamGetCallCount(uint64_t* calls) {
  return Guard([&] {
    Need(calls, "output");
    *calls = R().calls();
  });
}

// ---- errors ----

IsamResult IsamGetLastError(uint32_t* code, char* buffer, uint16_t* length) {
  if (!code || !buffer || !length || *length == 0) return ISAM_ERR_INVALID_ARGUMENT;
  *code = last_error.code;
  std::string text = last_error.code ? last_error.text : "";
  size_t n = std::min<size_t>(text.size(), *length - 1u);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  *length = static_cast<uint16_t>(n);
  return ISAM_SUCCESS;
}

IsamResult IsamGetErrorString(uint32_t code, char* buffer, uint16_t* length) {
  if (!buffer || !length || *length == 0) return ISAM_ERR_INVALID_ARGUMENT;
  std::string text = DefaultText(code);
  size_t n = std::min<size_t>(text.size(), *length - 1u);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  *length = static_cast<uint16_t>(n);
  return ISAM_SUCCESS;
}

IsamResult IsamSetLastError(uint32_t code, const char* text) {
  last_error = {code, text ? text : DefaultText(code)};
  return ISAM_SUCCESS;
}

IsamResult IsamShowError(const char* title) {
  std::fprintf(stderr, "%s: %u %s\n", title ? title : "Error", last_error.code,
               last_error.text.c_str());
  return ISAM_SUCCESS;
}

// ---- connections ----

IsamResult IsamConnectEx(const char* path, uint16_t server_types, const char*, const char*,
                         uint32_t, IsamHandle* connection) {
  return Guard([&] {
    Need(path, "path");
    Need(connection, "output");
    if ((server_types & ISAM_SERVER_LOCAL) == 0 && server_types != 0) {
      Fail(ISAM_ERR_NOT_SUPPORTED, "Only local connections are served; asked for server types " +
                                       std::to_string(server_types));
    }
    std::string folder = NormalisePath(path);
    if (folder.empty()) Fail(ISAM_ERR_INVALID_ARGUMENT, "No folder given to connect to");
    std::string upper = folder;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.find(".IDD") != std::string::npos) {
      Fail(ISAM_ERR_NOT_SUPPORTED, "Data dictionaries are not supported: " + folder);
    }
    if (!IsDirectory(folder))
      Fail(ISAM_ERR_FOLDER_NOT_FOUND, "The folder " + folder + " does not exist");
    *connection = R().AddConnection(std::make_unique<Connection>(folder, FilesystemOf(folder)));
  });
}

IsamResult IsamConnect(const char* path, IsamHandle* connection) {
  return IsamConnectEx(path, ISAM_SERVER_LOCAL, "", "", 0, connection);
}

IsamResult IsamDisconnect(IsamHandle connection) {
  return Guard([&] { R().RemoveConnection(connection); });
}

IsamResult IsamGetConnectionType(IsamHandle connection, uint16_t* type) {
  return Guard([&] {
    Need(type, "output");
    *type =
        R().GetConnection(connection).filesystem().remote ? ISAM_SERVER_REMOTE : ISAM_SERVER_LOCAL;
  });
}

IsamResult IsamGetServerName(IsamHandle connection, char* buffer, uint16_t* length) {
  return Guard([&] { CopyOut(R().GetConnection(connection).folder(), buffer, length); });
}

IsamResult IsamGetHandleType(IsamHandle handle, uint16_t* type) {
  return Guard([&] {
    Need(type, "output");
    uint16_t kind = R().KindOf(handle);
    if (kind == 0) Fail(ISAM_ERR_INVALID_HANDLE, "Invalid handle " + std::to_string(handle));
    *type = kind;
  });
}

IsamResult IsamBeginTransaction(IsamHandle connection) {
  return Guard([&] { R().GetConnection(connection).Begin(); });
}

IsamResult IsamCommitTransaction(IsamHandle connection) {
  return Guard([&] { R().GetConnection(connection).Commit(); });
}

IsamResult IsamRollbackTransaction(IsamHandle connection) {
  return Guard([&] { R().GetConnection(connection).Rollback(); });
}

IsamResult IsamSavepoint(IsamHandle connection) {
  return Guard([&] { R().GetConnection(connection).Savepoint(); });
}

IsamResult IsamRollbackToSavepoint(IsamHandle connection) {
  return Guard([&] { R().GetConnection(connection).RollbackToSavepoint(); });
}

IsamResult IsamReleaseSavepoint(IsamHandle connection) {
  return Guard([&] { R().GetConnection(connection).ReleaseSavepoint(); });
}

IsamResult IsamInTransaction(IsamHandle connection, uint16_t* in_transaction) {
  return Guard([&] {
    Need(in_transaction, "output");
    *in_transaction = R().GetConnection(connection).in_transaction() ? 1 : 0;
  });
}

// ---- tables ----

IsamResult IsamOpenTable(IsamHandle connection, const char* name, const char*, uint16_t, uint16_t,
                         uint16_t, uint16_t, uint32_t open_mode, IsamHandle* table) {
  return Guard([&] {
    Need(name, "table name");
    Need(table, "output");
    Connection& conn = R().GetConnection(connection);
    std::string path = FindTableFile(conn.folder(), name);
    bool file_writable = IsWritableFile(path);
    bool read_only = (open_mode & ISAM_OPEN_READ_ONLY) != 0 || !file_writable;
    bool exclusive = (open_mode & ISAM_OPEN_EXCLUSIVE) != 0;
    // An exclusive open keeps every other handle out by itself.
    std::shared_ptr<LockFile> hold;
    if (!read_only && !exclusive) hold = HoldForChanges(conn.filesystem(), path);
    auto attachment = conn.Attach(path, !file_writable);
    if (!read_only) attachment->EnsureRollbackJournal();
    auto source = std::make_shared<RecordSource>(std::move(attachment));
    *table = R().AddTable(connection, std::make_unique<Table>(&conn, std::move(source), read_only,
                                                              exclusive, std::move(hold)));
  });
}

IsamResult IsamCheckTableFree(const char* folder, const char* name) {
  return Guard([&] {
    Need(folder, "folder");
    Need(name, "table name");
    std::string normalised = NormalisePath(folder);
    std::string path = FindTableFile(normalised, name);
    // In a network folder a change is refused where locks stay on this computer, and the table
    // must be free of every other program's open mark (see IsamGetConnectionType).
    FolderFilesystem filesystem = FilesystemOf(normalised);
    if (!filesystem.local_locks.empty()) {
      Fail(ISAM_ERR_NOT_SUPPORTED, LocalLocksText(normalised, filesystem));
    }
    HoldForChanges(filesystem, path);
    // A short hold is waited out, as a run waits for it.
    constexpr int kStepMs = 2;
    for (int waited = 0; HeldInWalModeElsewhere(path); waited += kStepMs) {
      if (waited >= kBusyTimeoutMs) Fail(ISAM_ERR_BUSY, HeldInWalModeText(path));
      sqlite3_sleep(kStepMs);
    }
  });
}

IsamResult IsamCloseTable(IsamHandle table) {
  return Guard([&] { R().RemoveTable(table); });
}

IsamResult IsamGetTableName(IsamHandle table, char* buffer, uint16_t* length) {
  return Guard([&] { CopyOut(TableOf(table).path(), buffer, length); });
}

IsamResult IsamGetRecordLength(IsamHandle table, uint32_t* length) {
  return Guard([&] {
    Need(length, "output");
    *length = TableOf(table).schema().record_length;
  });
}

IsamResult IsamGetTableOpenOptions(IsamHandle table, uint32_t* options) {
  return Guard([&] {
    Need(options, "output");
    *options = TableOf(table).read_only() ? ISAM_TABLE_READ_ONLY
                                          : ISAM_TABLE_UPDATE_RIGHT | ISAM_TABLE_INSERT_RIGHT;
  });
}

IsamResult IsamGetBookmarkLength(IsamHandle table, uint32_t* length) {
  return Guard([&] {
    Need(length, "output");
    TableOf(table);
    *length = sizeof(int64_t);
  });
}

IsamResult IsamGetBookmark(IsamHandle order, int64_t* bookmark) {
  return Guard([&] {
    Need(bookmark, "output");
    *bookmark = R().GetOrder(order).table->RecordNumber();
  });
}

IsamResult IsamGetNumFields(IsamHandle table, uint16_t* count) {
  return Guard([&] {
    Need(count, "output");
    *count = static_cast<uint16_t>(TableOf(table).schema().fields.size());
  });
}

IsamResult IsamGetFieldName(IsamHandle table, uint16_t field, char* buffer, uint16_t* length) {
  return Guard([&] { CopyOut(AnsiFromUtf8(FieldOf(TableOf(table), field).name), buffer, length); });
}

IsamResult IsamGetFieldNum(IsamHandle table, const char* name, uint16_t* field) {
  return Guard([&] {
    Need(name, "field name");
    Need(field, "output");
    Table& t = TableOf(table);
    int found = t.schema().FindField(Utf8FromAnsi(name));
    if (found < 0) {
      Fail(ISAM_ERR_FIELD_NOT_FOUND,
           std::string("The field '") + name + "' is not in " + t.Title());
    }
    *field = static_cast<uint16_t>(found + 1);
  });
}

IsamResult IsamGetFieldType(IsamHandle table, uint16_t field, uint16_t* type) {
  return Guard([&] {
    Need(type, "output");
    *type = FieldOf(TableOf(table), field).type;
  });
}

IsamResult IsamGetFieldLength(IsamHandle table, uint16_t field, uint32_t* length) {
  return Guard([&] {
    Need(length, "output");
    *length = FieldOf(TableOf(table), field).length;
  });
}

IsamResult IsamGetFieldDecimals(IsamHandle table, uint16_t field, uint16_t* decimals) {
  return Guard([&] {
    Need(decimals, "output");
    *decimals = FieldOf(TableOf(table), field).decimals;
  });
}

IsamResult IsamGetFieldOffset(IsamHandle table, uint16_t field, uint32_t* offset) {
  return Guard([&] {
    Need(offset, "output");
    *offset = FieldOf(TableOf(table), field).offset;
  });
}

// ---- orders and moves ----

IsamResult IsamGetNumIndexes(IsamHandle table, uint16_t* count) {
  return Guard([&] {
    Need(count, "output");
    *count = static_cast<uint16_t>(TableOf(table).schema().indexes.size());
  });
}

IsamResult IsamGetIndexName(IsamHandle table, uint16_t index, char* buffer, uint16_t* length) {
  return Guard([&] {
    const auto& indexes = TableOf(table).schema().indexes;
    if (index < 1 || index > indexes.size()) {
      Fail(ISAM_ERR_INDEX_NOT_FOUND, "No index number " + std::to_string(index));
    }
    CopyOut(AnsiFromUtf8(indexes[index - 1u].name), buffer, length);
  });
}

IsamResult IsamGetIndexHandle(IsamHandle table, const char* name, IsamHandle* index) {
  return Guard([&] {
    Need(name, "index name");
    Need(index, "output");
    Table& t = R().GetTable(table);
    int found = t.schema().FindIndex(Utf8FromAnsi(name));
    if (found < 0) {
      if (const UnusableIndex* unusable = t.schema().FindUnusableIndex(Utf8FromAnsi(name))) {
        Fail(ISAM_ERR_NOT_SUPPORTED,
             "The index '" + AnsiFromUtf8(unusable->name) + "' of " + t.Title() +
                 " cannot be used: " + unusable->reason +
                 "; the engine follows only indexes over fields, ascending, with SQLite's "
                 "default (BINARY) collation");
      }
      Fail(ISAM_ERR_INDEX_NOT_FOUND,
           std::string("The index '") + name + "' is not in " + t.Title());
    }
    *index = R().IndexHandle(table, found);
  });
}

IsamResult IsamGotoTop(IsamHandle order) {
  return Guard([&] {
    OrderRef o = R().GetOrder(order);
    o.table->GotoTop(o.index);
  });
}

IsamResult IsamGotoBottom(IsamHandle order) {
  return Guard([&] {
    OrderRef o = R().GetOrder(order);
    o.table->GotoBottom(o.index);
  });
}

IsamResult IsamSkip(IsamHandle order, int32_t count) {
  return Guard([&] {
    OrderRef o = R().GetOrder(order);
    o.table->Skip(o.index, count);
  });
}

IsamResult IsamAtEOF(IsamHandle order, uint16_t* at_eof) {
  return Guard([&] {
    Need(at_eof, "output");
    *at_eof = R().GetOrder(order).table->at_eof() ? 1 : 0;
  });
}

IsamResult IsamAtBOF(IsamHandle order, uint16_t* at_bof) {
  return Guard([&] {
    Need(at_bof, "output");
    *at_bof = R().GetOrder(order).table->at_bof() ? 1 : 0;
  });
}

IsamResult IsamIsRecordVisible(IsamHandle order, uint16_t* visible) {
  return Guard([&] {
    Need(visible, "output");
    OrderRef o = R().GetOrder(order);
    *visible = o.table->IsVisible(o.index) ? 1 : 0;
  });
}

IsamResult IsamGetRecord(IsamHandle order, uint8_t* buffer, uint32_t* length) {
  return Guard([&] {
    Need(buffer, "buffer");
    Need(length, "length");
    Table& t = *R().GetOrder(order).table;
    uint32_t needed = t.schema().record_length;
    if (*length < needed) {
      Fail(ISAM_ERR_BUFFER_TOO_SMALL,
           "A record of " + t.Title() + " takes " + std::to_string(needed) + " bytes");
    }
    t.RecordImage(buffer);
    *length = needed;
  });
}

IsamResult IsamGetRecordNum(IsamHandle order, uint16_t, int64_t* record_number) {
  return Guard([&] {
    Need(record_number, "output");
    *record_number = R().GetOrder(order).table->RecordNumber();
  });
}

IsamResult IsamGotoRecord(IsamHandle table, int64_t record_number) {
  return Guard([&] { TableOf(table).GotoRecord(record_number); });
}

IsamResult IsamGetRecordCount(IsamHandle order, uint16_t option, uint32_t* count) {
  return Guard([&] {
    Need(count, "output");
    if ((option & 3) == 0) Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid count option");
    if (R().KindOf(order) == ISAM_HANDLE_STATEMENT) {
      auto rows = R().GetStatement(order).rows_affected();
      if (!rows) Fail(ISAM_ERR_NO_ROW_COUNT, "The statement gives no row count");
      *count = static_cast<uint32_t>(*rows);
      return;
    }
    OrderRef o = R().GetOrder(order);
    *count = o.table->Count(o.index, option);
  });
}

IsamResult IsamGetRelKeyPos(IsamHandle order, double* position) {
  return Guard([&] {
    Need(position, "output");
    OrderRef o = R().GetOrder(order);
    *position = o.table->RelativePosition(o.index);
  });
}

IsamResult IsamRefreshRecord(IsamHandle order) {
  return Guard([&] { R().GetOrder(order).table->Refresh(); });
}

IsamResult IsamGetField(IsamHandle order, uint16_t field, char* buffer, uint32_t* length) {
  return Guard([&] {
    Need(buffer, "buffer");
    Need(length, "length");
    Table& t = *R().GetOrder(order).table;
    const FieldDef& def = FieldOf(t, field);
    std::string text = TextFromStored(def, t.Values()[field - 1u], R().settings().date_format,
                                      R().settings().decimals);
    if (text.size() + 1 > *length) {
      Fail(ISAM_ERR_BUFFER_TOO_SMALL, "The value of '" + AnsiFromUtf8(def.name) + "' takes " +
                                          std::to_string(text.size() + 1) + " bytes");
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<uint32_t>(text.size());
  });
}

IsamResult IsamGetFieldRaw(IsamHandle order, uint16_t field, uint8_t* buffer, uint32_t* length) {
  return Guard([&] {
    Need(buffer, "buffer");
    Need(length, "length");
    Table& t = *R().GetOrder(order).table;
    const FieldDef& def = FieldOf(t, field);
    if (*length < def.length) {
      Fail(ISAM_ERR_BUFFER_TOO_SMALL, "The field '" + AnsiFromUtf8(def.name) + "' takes " +
                                          std::to_string(def.length) + " bytes");
    }
    RawFromStored(def, t.Values()[field - 1u], buffer);
    *length = def.length;
  });
}

IsamResult IsamIsEmpty(IsamHandle order, uint16_t field, uint16_t* empty) {
  return Guard([&] {
    Need(empty, "output");
    Table& t = *R().GetOrder(order).table;
    *empty = IsEmptyStored(FieldOf(t, field), t.Values()[field - 1u]) ? 1 : 0;
  });
}

// ---- keys and scopes ----

IsamResult IsamGetNumSegments(IsamHandle index, uint16_t* count) {
  return Guard([&] {
    Need(count, "output");
    OrderRef o = R().GetIndex(index);
    *count = static_cast<uint16_t>(
        o.table->schema().indexes[static_cast<size_t>(o.index)].segments.size());
  });
}

IsamResult IsamGetSegmentFieldname(IsamHandle index, uint16_t segment, char* buffer,
                                   uint16_t* length) {
  return Guard([&] {
    OrderRef o = R().GetIndex(index);
    const IndexDef& def = o.table->schema().indexes[static_cast<size_t>(o.index)];
    if (segment < 1 || segment > def.segments.size()) {
      Fail(ISAM_ERR_INVALID_ARGUMENT,
           "No segment " + std::to_string(segment) + " in the index " + AnsiFromUtf8(def.name));
    }
    const FieldDef& field =
        o.table->schema().fields[static_cast<size_t>(def.segments[segment - 1u])];
    CopyOut(AnsiFromUtf8(field.name), buffer, length);
  });
}

IsamResult IsamGetKeyLength(IsamHandle index, uint16_t* length) {
  return Guard([&] {
    Need(length, "output");
    OrderRef o = R().GetIndex(index);
    size_t key_length = o.table->schema().indexes[static_cast<size_t>(o.index)].key_length;
    if (key_length > UINT16_MAX) {
      Fail(ISAM_ERR_NOT_SUPPORTED, "The keys of an index of " + o.table->path() + " are " +
                                       std::to_string(key_length) +
                                       " bytes long, more than a key length can say");
    }
    *length = static_cast<uint16_t>(key_length);
  });
}

IsamResult IsamInitRawKey(IsamHandle index) {
  return Guard([&] {
    OrderRef o = R().GetIndex(index);
    o.table->InitKey(o.index);
  });
}

IsamResult IsamBuildRawKey(IsamHandle index, uint8_t* key, uint16_t* length) {
  return Guard([&] {
    Need(key, "buffer");
    Need(length, "length");
    OrderRef o = R().GetIndex(index);
    std::vector<uint8_t> built = o.table->BuildKey(o.index);
    if (built.size() > *length) {
      Fail(ISAM_ERR_BUFFER_TOO_SMALL, "The key takes " + std::to_string(built.size()) + " bytes");
    }
    if (!built.empty()) std::memcpy(key, built.data(), built.size());
    *length = static_cast<uint16_t>(built.size());
  });
}

IsamResult IsamSeek(IsamHandle index, const uint8_t* key, uint16_t length, uint16_t key_type,
                    uint16_t seek_type, uint16_t* found) {
  return Guard([&] {
    Need(found, "output");
    if (length) Need(key, "key");
    if (key_type != ISAM_RAW_KEY) Fail(ISAM_ERR_NOT_SUPPORTED, "Only raw keys are supported");
    if (seek_type != ISAM_SEEK_SOFT && seek_type != ISAM_SEEK_EXACT) {
      Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid seek type " + std::to_string(seek_type));
    }
    OrderRef o = R().GetIndex(index);
    *found = o.table->Seek(o.index, key, length, seek_type == ISAM_SEEK_EXACT) ? 1 : 0;
  });
}

IsamResult IsamSetScope(IsamHandle index, uint16_t which, const uint8_t* key, uint16_t length,
                        uint16_t key_type) {
  return Guard([&] {
    if (length) Need(key, "key");
    if (key_type != ISAM_RAW_KEY) Fail(ISAM_ERR_NOT_SUPPORTED, "Only raw keys are supported");
    if (which != ISAM_SCOPE_TOP && which != ISAM_SCOPE_BOTTOM) {
      Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid scope " + std::to_string(which));
    }
    OrderRef o = R().GetIndex(index);
    o.table->SetScope(o.index, which == ISAM_SCOPE_TOP, key, length);
  });
}

IsamResult IsamClearScope(IsamHandle index, uint16_t which) {
  return Guard([&] {
    OrderRef o = R().GetIndex(index);
    o.table->ClearScope(o.index, which == ISAM_SCOPE_TOP);
  });
}

IsamResult IsamClearAllScopes(IsamHandle table) {
  return Guard([&] { TableOf(table).ClearAllScopes(); });
}

IsamResult IsamSetFilter(IsamHandle order, const char*) {
  return Guard([&] {
    R().GetOrder(order);
    Fail(ISAM_ERR_NOT_SUPPORTED, "Filter expressions are not supported by this engine");
  });
}

IsamResult IsamSetOptFilter(IsamHandle order, const char* expression, uint16_t) {
  return IsamSetFilter(order, expression);
}

IsamResult IsamClearFilter(IsamHandle order) {
  return Guard([&] {
    R().GetOrder(order);
    Fail(ISAM_ERR_NO_FILTER, "No filter is set");
  });
}

IsamResult IsamClearOptFilter(IsamHandle order) {
  return IsamClearFilter(order);
}

// ---- changes ----

IsamResult IsamLockRecord(IsamHandle table, int64_t record_number) {
  return Guard([&] { TableOf(table).Lock(record_number); });
}

IsamResult IsamUnlockRecord(IsamHandle table, int64_t record_number) {
  return Guard([&] { TableOf(table).Unlock(record_number); });
}

IsamResult IsamIsRecordLocked(IsamHandle table, int64_t record_number, uint16_t* locked) {
  return Guard([&] {
    Need(locked, "output");
    *locked = TableOf(table).LockedElsewhere(record_number) ? 1 : 0;
  });
}

IsamResult IsamAppendRecord(IsamHandle table) {
  return Guard([&] { TableOf(table).Append(); });
}

IsamResult IsamClearRecordBuffer(IsamHandle table) {
  return Guard([&] { TableOf(table).ClearBuffer(); });
}

IsamResult IsamSetField(IsamHandle handle, uint16_t field, const char* text) {
  return Guard([&] {
    Need(text, "value");
    Table& t = TableOf(handle);
    Value stored = StoredFromText(FieldOf(t, field), text, R().settings().date_format, t.Title());
    AssignField(handle, field, stored);
  });
}

IsamResult IsamSetFieldRaw(IsamHandle handle, uint16_t field, const uint8_t* data,
                           uint32_t length) {
  return Guard([&] {
    Need(data, "value");
    Table& t = TableOf(handle);
    AssignField(handle, field, StoredFromRaw(FieldOf(t, field), data, length, t.Title()));
  });
}

IsamResult IsamSetEmpty(IsamHandle handle, uint16_t field) {
  return Guard([&] {
    if (R().KindOf(handle) == ISAM_HANDLE_STATEMENT) {
      R().GetStatement(handle).SetParameter(field, ParamValue{});
      return;
    }
    AssignField(handle, field, Value{});
  });
}

IsamResult IsamWriteRecord(IsamHandle table) {
  return Guard([&] { TableOf(table).Write(); });
}

IsamResult IsamCancelUpdate(IsamHandle table) {
  return Guard([&] { TableOf(table).CancelUpdate(); });
}

// ---- dates ----

IsamResult IsamConvertStringToJulian(const char* text, int32_t* julian) {
  return Guard([&] {
    Need(text, "date text");
    Need(julian, "output");
    auto day = R().settings().date_format.ParseDate(text);
    if (!day) Fail(ISAM_ERR_INVALID_VALUE, std::string("'") + text + "' is not a valid date");
    *julian = *day;
  });
}

IsamResult IsamConvertJulianToString(int32_t julian, char* buffer, uint16_t* length) {
  return Guard([&] {
    if (!IsValidCivil(CivilFromJulian(julian))) {
      Fail(ISAM_ERR_INVALID_VALUE, "Julian day " + std::to_string(julian) + " is out of range");
    }
    CopyOut(R().settings().date_format.Format(julian), buffer, length);
  });
}

}  // extern "C"
