// The table engine's interface: connections to a folder, tables kept one per SQLite file (see
// the table-files section of docs/architecture.md), ordered moves over their indexes, key
// searches and scopes, record locks and record writes.
//
// Contract shared by every function:
// - Each call returns ISAM_SUCCESS (0) or an error code from errors.h; on an error,
//   IsamGetLastError gives the code and a text that names what failed (file, field, index,
//   record). Outputs are written only on success.
// - Handles are 32-bit values, never 0 when valid. A table handle also serves as the "order" of
//   its natural (record-number) order; an index handle from IsamGetIndexHandle is an order on the
//   table it came from. Moves on any order move the table's one current record.
// - Record numbers are the files' 64-bit row numbers ("_recno"), int64_t wherever they pass;
//   a table written by another program may hold any of them, 0 included.
// - Field numbers run from 1. Texts are single-byte (Windows-1252) in the engine's interface and
//   UTF-8 in the files.
// - Calls may come from any thread; the engine serialises them. The last error is per thread.
//
// Record images (IsamGetRecord): IsamGetNumFields bytes of empty marks first, byte i-1 being 1
// when field i is empty, then each field's data at IsamGetFieldOffset, in IsamGetFieldLength
// bytes. The data of a field, which is also the raw form that IsamGetFieldRaw gives and
// IsamSetFieldRaw takes:
//   logical            1 byte, 'T' or 'F'
//   numeric(n,d)       n bytes of text, the number with d decimals right-aligned with blanks
//   date               int32 Julian day number (1 January 4713 BC is day 0; 30 Dec 1899 is 2415019)
//   text(n)            n bytes, padded with blanks
//   memo               9 bytes, unused (read memos with IsamGetField)
//   double, money      8-byte IEEE double
//   integer, autoinc   int32
//   short integer      int16
//   time               int32 milliseconds since midnight
//   timestamp          int32 Julian day, then int32 milliseconds of that day
// Integers are in the machine's byte order.
//
// Raw keys (IsamBuildRawKey, IsamSeek, IsamSetScope): for each leading segment of the index, one
// empty-mark byte and the segment field's data as above. A key may cover fewer segments than the
// index has (a partial key); its length then says how many.
#ifndef RIVENOAK_ISAM_ISAM_H_
#define RIVENOAK_ISAM_ISAM_H_

#include <stdint.h>

#include "isam/errors.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t IsamHandle;

// Handle kinds answered by IsamGetHandleType.
enum {
  ISAM_HANDLE_CONNECTION = 1,
  ISAM_HANDLE_TABLE = 2,
  ISAM_HANDLE_INDEX = 3,
  ISAM_HANDLE_STATEMENT = 4,
  ISAM_HANDLE_CURSOR = 5,
};

// Field types, as IsamGetFieldType answers them. Tables of this engine never hold the binary,
// image, variable-text, compact-date or raw kinds; their codes are named so that a mapping of
// every code reads by name. ISAM_BINARY is also IsamSetBinary's binary type.
enum {
  ISAM_LOGICAL = 1,
  ISAM_NUMERIC = 2,
  ISAM_DATE = 3,
  ISAM_TEXT = 4,
  ISAM_MEMO = 5,
  ISAM_BINARY = 6,
  ISAM_IMAGE = 7,
  ISAM_VARCHAR = 8,
  ISAM_COMPACT_DATE = 9,
  ISAM_DOUBLE = 10,
  ISAM_INTEGER = 11,
  ISAM_SHORTINT = 12,
  ISAM_TIME = 13,
  ISAM_TIMESTAMP = 14,
  ISAM_AUTOINC = 15,
  ISAM_RAW = 16,
  ISAM_MONEY = 17,
};

// Server types (a mask) and connection types.
enum { ISAM_SERVER_LOCAL = 1, ISAM_SERVER_REMOTE = 2, ISAM_SERVER_INTERNET = 4 };

// IsamOpenTable open modes (bits) and IsamGetTableOpenOptions answers (bits). The two collation
// bits say what to do with an index built under another collation; this engine's indexes are
// SQLite's own, so it accepts both and needs neither.
enum {
  ISAM_OPEN_SHARED = 0,
  ISAM_OPEN_EXCLUSIVE = 1,
  ISAM_OPEN_READ_ONLY = 2,
  ISAM_OPEN_REINDEX_ON_COLLATION_MISMATCH = 256,
  ISAM_OPEN_IGNORE_COLLATION_MISMATCH = 512,
  ISAM_TABLE_READ_ONLY = 2,
  ISAM_TABLE_UPDATE_RIGHT = 32,
  ISAM_TABLE_INSERT_RIGHT = 64,
};

// IsamOpenTable and IsamStmtSetTableType table types (0 on a dictionary connection), character
// types, lock types and rights.
enum {
  ISAM_TABLE_TYPE_DICTIONARY = 0,
  ISAM_TABLE_TYPE_NTX = 1,
  ISAM_TABLE_TYPE_CDX = 2,
  ISAM_TABLE_TYPE_NATIVE = 3,
};
enum { ISAM_CHAR_ANSI = 1, ISAM_CHAR_OEM = 2 };
enum { ISAM_LOCK_COMPATIBLE = 0, ISAM_LOCK_PROPRIETARY = 1 };
enum { ISAM_RIGHTS_CHECK = 1, ISAM_RIGHTS_IGNORE = 2 };

// The switches of IsamStmtSetTableReadOnly, IsamStmtConstrainUpdates, IsamStmtReadAllColumns
// and IsamSetOptFilter's resolve (immediately or as records are read): 1 on, 2 off.
enum { ISAM_OPTION_ON = 1, ISAM_OPTION_OFF = 2 };

// IsamGetRecordNum option: the record's own number, not its place in the order.
enum { ISAM_RECORD_NUMBER_PHYSICAL = 2 };

// IsamGetRecordCount options: 1 respects scopes and filters, 2 ignores both, 3 respects scopes;
// adding 4 asks for a fresh count (every count is fresh here).
enum {
  ISAM_COUNT_RESPECT_FILTERS = 1,
  ISAM_COUNT_IGNORE_FILTERS = 2,
  ISAM_COUNT_RESPECT_SCOPES = 3,
  ISAM_COUNT_FRESH = 4,
};

// IsamSeek: key type 1 is a raw key. Seek type 1 lands on the first key not less than the one
// given (found answers whether it is equal); seek type 2 lands only on an equal key.
enum { ISAM_RAW_KEY = 1, ISAM_SEEK_SOFT = 1, ISAM_SEEK_EXACT = 2 };
enum { ISAM_SCOPE_TOP = 1, ISAM_SCOPE_BOTTOM = 2 };

// ---- Start-up settings (process-wide) ----
IsamResult IsamSetDateFormat(const char* format);  // e.g. "MM/DD/CCYY"; refused if unknown
IsamResult IsamGetDateFormat(char* buffer, uint16_t* length);
IsamResult IsamSetDecimals(uint16_t decimals);
IsamResult IsamGetDecimals(uint16_t* decimals);
IsamResult IsamShowDeleted(uint16_t show);
IsamResult IsamGetDeleted(uint16_t* show);
IsamResult IsamSetServerType(uint16_t mask);  // 0 is refused
IsamResult IsamCacheOpenTables(uint16_t count);
IsamResult IsamCacheOpenCursors(uint16_t count);
IsamResult IsamCacheRecords(IsamHandle table, uint16_t count);
IsamResult IsamGetVersion(uint32_t* major, uint32_t* minor, char* letter);
// How many interface calls this process has made (this one included).
IsamResult IsamGetCallCount(uint64_t* calls);

// ---- Errors ----
// The last error of this thread. length is the buffer's size on entry and the text's length on
// return; the text is cut to fit and always ends with a NUL.
IsamResult IsamGetLastError(uint32_t* code, char* buffer, uint16_t* length);
IsamResult IsamGetErrorString(uint32_t code, char* buffer, uint16_t* length);
IsamResult IsamSetLastError(uint32_t code, const char* text);
IsamResult IsamShowError(const char* title);  // writes the last error to standard error

// ---- Connections ----
// IsamConnectEx's options. A connection is served alike whichever are given: they are accepted
// so that callers may pass what their settings ask for.
enum {
  ISAM_CONNECT_OPTIONS_NONE = 0,
  ISAM_CONNECT_MIDDLE_TIER = 1,
  ISAM_CONNECT_STORED_PROCEDURES = 2,
};
IsamResult IsamConnectEx(const char* path, uint16_t server_types, const char* user,
                         const char* password, uint32_t options, IsamHandle* connection);
IsamResult IsamConnect(const char* path, IsamHandle* connection);
IsamResult IsamDisconnect(IsamHandle connection);  // closes its tables too
// 2 (remote) for a folder on a network filesystem, else 1 (local). In a remote folder a table
// opened for changes without ISAM_OPEN_EXCLUSIVE is this process's alone until its last handle
// closes (ISAM_ERR_TABLE_IN_USE when another program has it open), and where the mount keeps
// locks on this computer every change is refused with ISAM_ERR_NOT_SUPPORTED.
IsamResult IsamGetConnectionType(IsamHandle connection, uint16_t* type);
IsamResult IsamGetServerName(IsamHandle connection, char* buffer, uint16_t* length);
IsamResult IsamGetHandleType(IsamHandle handle, uint16_t* type);
IsamResult IsamBeginTransaction(IsamHandle connection);
IsamResult IsamCommitTransaction(IsamHandle connection);
IsamResult IsamRollbackTransaction(IsamHandle connection);
IsamResult IsamInTransaction(IsamHandle connection, uint16_t* in_transaction);
// Marks inside the connection's transaction, nested: IsamSavepoint marks the changes made so
// far; IsamRollbackToSavepoint undoes every change since the latest mark and removes it;
// IsamReleaseSavepoint keeps those changes and removes the mark. Record locks stay held until
// the transaction ends either way.
IsamResult IsamSavepoint(IsamHandle connection);
IsamResult IsamRollbackToSavepoint(IsamHandle connection);
IsamResult IsamReleaseSavepoint(IsamHandle connection);

// ---- Tables ----
// name: a file name in the connection's folder, or a path ("/" or "\" separate its parts).
// table_type ISAM_TABLE_TYPE_NATIVE, char_type ISAM_CHAR_ANSI, lock_type ISAM_LOCK_PROPRIETARY,
// rights ISAM_RIGHTS_CHECK (the values the engine knows; it keeps no others); open_mode bits as
// above.
IsamResult IsamOpenTable(IsamHandle connection, const char* name, const char* alias,
                         uint16_t table_type, uint16_t char_type, uint16_t lock_type,
                         uint16_t rights, uint32_t open_mode, IsamHandle* table);
IsamResult IsamCloseTable(IsamHandle table);
// Whether the table in `path` could be opened for writing now, found out without writing to it:
// ISAM_ERR_BUSY when another program keeps it open in write-ahead mode (waited for as long as a
// run waits), which a table opened for writing must leave; ISAM_ERR_AMBIGUOUS_TABLE,
// ISAM_ERR_TABLE_NOT_FOUND as IsamOpenTable. In a network folder also ISAM_ERR_TABLE_IN_USE and
// ISAM_ERR_NOT_SUPPORTED as a change there would meet them (see IsamGetConnectionType).
IsamResult IsamCheckTableFree(const char* folder, const char* name);
IsamResult IsamGetTableName(IsamHandle table, char* buffer, uint16_t* length);  // the file's path
IsamResult IsamGetRecordLength(IsamHandle table, uint32_t* length);
IsamResult IsamGetTableOpenOptions(IsamHandle table, uint32_t* options);
IsamResult IsamGetBookmarkLength(IsamHandle table, uint32_t* length);
IsamResult IsamGetNumFields(IsamHandle table, uint16_t* count);
IsamResult IsamGetFieldName(IsamHandle table, uint16_t field, char* buffer, uint16_t* length);
IsamResult IsamGetFieldNum(IsamHandle table, const char* name, uint16_t* field);
IsamResult IsamGetFieldType(IsamHandle table, uint16_t field, uint16_t* type);
IsamResult IsamGetFieldLength(IsamHandle table, uint16_t field, uint32_t* length);
IsamResult IsamGetFieldDecimals(IsamHandle table, uint16_t field, uint16_t* decimals);
IsamResult IsamGetFieldOffset(IsamHandle table, uint16_t field, uint32_t* offset);

// Field definitions for IsamCreateTable: "NAME TYPE", TYPE as a file declares it
// ("CHAR(8)", "NUMERIC(10,2)", "DOUBLE", "AUTOINC", ...). Index definitions: "NAME=FIELD;FIELD".
IsamResult IsamCreateTable(const char* path, uint16_t field_count, const char* const* fields,
                           uint16_t index_count, const char* const* indexes);

// ---- Orders and moves ----
IsamResult IsamGetNumIndexes(IsamHandle table, uint16_t* count);
IsamResult IsamGetIndexName(IsamHandle table, uint16_t index, char* buffer, uint16_t* length);
IsamResult IsamGetIndexHandle(IsamHandle table, const char* name, IsamHandle* index);
IsamResult IsamGotoTop(IsamHandle order);
IsamResult IsamGotoBottom(IsamHandle order);
IsamResult IsamSkip(IsamHandle order, int32_t count);  // +1 or -1
IsamResult IsamAtEOF(IsamHandle order, uint16_t* at_eof);
IsamResult IsamAtBOF(IsamHandle order, uint16_t* at_bof);
// Whether the current record exists and lies inside the order's scopes; 5068 without one.
IsamResult IsamIsRecordVisible(IsamHandle order, uint16_t* visible);
IsamResult IsamGetRecord(IsamHandle order, uint8_t* buffer, uint32_t* length);
IsamResult IsamGetRecordNum(IsamHandle order, uint16_t option, int64_t* record_number);
IsamResult IsamGotoRecord(IsamHandle table, int64_t record_number);
IsamResult IsamGetRecordCount(IsamHandle order, uint16_t option, uint32_t* count);
IsamResult IsamGetRelKeyPos(IsamHandle order, double* position);  // 0 to 1
IsamResult IsamRefreshRecord(IsamHandle order);
// Field values of the current record (or of the pending change): text form, raw form, empty.
IsamResult IsamGetField(IsamHandle order, uint16_t field, char* buffer, uint32_t* length);
IsamResult IsamGetFieldRaw(IsamHandle order, uint16_t field, uint8_t* buffer, uint32_t* length);
IsamResult IsamIsEmpty(IsamHandle order, uint16_t field, uint16_t* empty);

// ---- Keys and scopes (on index handles) ----
IsamResult IsamGetNumSegments(IsamHandle index, uint16_t* count);
IsamResult IsamGetSegmentFieldname(IsamHandle index, uint16_t segment, char* buffer,
                                   uint16_t* length);
IsamResult IsamGetKeyLength(IsamHandle index, uint16_t* length);
IsamResult IsamInitRawKey(IsamHandle index);
// IsamSetField, IsamSetFieldRaw and IsamSetEmpty on an index handle assign a key field.
IsamResult IsamBuildRawKey(IsamHandle index, uint8_t* key, uint16_t* length);
IsamResult IsamSeek(IsamHandle index, const uint8_t* key, uint16_t length, uint16_t key_type,
                    uint16_t seek_type, uint16_t* found);
IsamResult IsamSetScope(IsamHandle index, uint16_t which, const uint8_t* key, uint16_t length,
                        uint16_t key_type);
IsamResult IsamClearScope(IsamHandle index, uint16_t which);
IsamResult IsamClearAllScopes(IsamHandle table);
IsamResult IsamSetFilter(IsamHandle order, const char* expression);  // not supported
IsamResult IsamSetOptFilter(IsamHandle order, const char* expression, uint16_t resolve);
IsamResult IsamClearFilter(IsamHandle order);     // 5037: no filter set
IsamResult IsamClearOptFilter(IsamHandle order);  // 5037: no filter set

// ---- Changes ----
// A change starts with IsamAppendRecord (a new record, every field empty) or with the first
// field assignment on the current record, and ends with IsamWriteRecord or IsamCancelUpdate.
// Records numbered from 0 up can be locked (and so changed); a record another program numbered
// below 0 is refused with ISAM_ERR_NOT_SUPPORTED.
IsamResult IsamLockRecord(IsamHandle table, int64_t record_number);
IsamResult IsamUnlockRecord(IsamHandle table, int64_t record_number);
IsamResult IsamIsRecordLocked(IsamHandle table, int64_t record_number, uint16_t* locked);
IsamResult IsamAppendRecord(IsamHandle table);
IsamResult IsamClearRecordBuffer(IsamHandle table);
IsamResult IsamSetField(IsamHandle handle, uint16_t field, const char* text);
IsamResult IsamSetFieldRaw(IsamHandle handle, uint16_t field, const uint8_t* data, uint32_t length);
IsamResult IsamSetEmpty(IsamHandle handle, uint16_t field);
// Stores the pending change in one SQLite transaction (or in the connection's transaction) and
// makes the written record current. Only the fields assigned are written.
IsamResult IsamWriteRecord(IsamHandle table);
IsamResult IsamCancelUpdate(IsamHandle table);  // 5085: nothing pending

// ---- SQL statements ----
// A statement belongs to a connection and runs against the tables of its folder. Executing a
// SELECT gives a cursor: a handle that moves, reads, counts and refreshes like a table handle
// (read-only). A SELECT over one table without DISTINCT is live (IsamSqlPeekStatement answers
// 1): rows enter and leave it as they change, and refreshing a row that no longer qualifies
// moves to the next qualifying row, else the previous one, else leaves the cursor empty. A
// SELECT DISTINCT is static: its rows are fixed when it runs. Other statements give cursor 0.
// Parameters are set by position from 1; IsamSetEmpty on a statement sets one empty.
IsamResult IsamCreateSQLStatement(IsamHandle connection, IsamHandle* statement);
// Table options of a statement: ISAM_LOCK_..., ISAM_CHAR_..., ISAM_RIGHTS_..., ISAM_TABLE_TYPE_...
// (1 to 3), and ISAM_OPTION_ON or ISAM_OPTION_OFF for the three switches.
IsamResult IsamStmtSetTableLockType(IsamHandle statement, uint16_t lock_type);
IsamResult IsamStmtSetTableCharType(IsamHandle statement, uint16_t char_type);
IsamResult IsamStmtSetTableRights(IsamHandle statement, uint16_t rights);
IsamResult IsamStmtSetTableReadOnly(IsamHandle statement, uint16_t read_only);
IsamResult IsamStmtSetTableType(IsamHandle statement, uint16_t table_type);
IsamResult IsamStmtConstrainUpdates(IsamHandle statement, uint16_t constrain);
IsamResult IsamStmtReadAllColumns(IsamHandle statement, uint16_t read_all);
IsamResult IsamPrepareSQL(IsamHandle statement, const char* text);
// The parameters of a text, without preparing it (statement may be 0): their count, and their
// names in order separated by ";" ("" for a ?).
IsamResult IsamGetSQLStmtParams(IsamHandle statement, const char* text, uint16_t* count,
                                char* names, uint16_t* length);
IsamResult IsamSetString(IsamHandle statement, uint16_t position, const char* text);
IsamResult IsamSetJulian(IsamHandle statement, uint16_t position, int32_t julian);
IsamResult IsamSetDouble(IsamHandle statement, uint16_t position, double value);
IsamResult IsamSetLogical(IsamHandle statement, uint16_t position, uint16_t value);
IsamResult IsamSetMilliseconds(IsamHandle statement, uint16_t position, int32_t milliseconds);
// 8 bytes: int32 Julian day, then int32 milliseconds of the day.
IsamResult IsamSetTimeStampRaw(IsamHandle statement, uint16_t position, const uint8_t* data,
                               uint32_t length);
IsamResult IsamSetBinary(IsamHandle statement, uint16_t position, uint16_t binary_type,
                         const uint8_t* data, uint32_t length);
IsamResult IsamExecuteSQL(IsamHandle statement, IsamHandle* cursor);
IsamResult IsamSqlPeekStatement(IsamHandle cursor, uint16_t* live);
IsamResult IsamCloseSQLStatement(IsamHandle statement);  // 5106: not open
// On a statement handle, IsamGetRecordCount gives the rows the last UPDATE, INSERT or DELETE
// changed; 5117 after a SELECT.

// ---- Dates ----
IsamResult IsamConvertStringToJulian(const char* text, int32_t* julian);  // in the date format

#ifdef __cplusplus
}
#endif

#endif  // RIVENOAK_ISAM_ISAM_H_
