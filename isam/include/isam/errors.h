// Every code the table engine returns. 0 is success; every other value is an error whose text
// IsamGetLastError gives back. The numbers are part of the engine's interface: callers test some
// of them by value, so a code never changes its meaning.
#ifndef RIVENOAK_ISAM_ERRORS_H_
#define RIVENOAK_ISAM_ERRORS_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t IsamResult;

enum {
  ISAM_SUCCESS = 0,

  // Calling errors.
  ISAM_ERR_INVALID_HANDLE = 5001,    // no such handle, or a handle of the wrong kind
  ISAM_ERR_INVALID_ARGUMENT = 5002,  // a null pointer, an option out of range
  ISAM_ERR_BUFFER_TOO_SMALL = 5003,  // the caller's buffer cannot hold the answer
  ISAM_ERR_NOT_SUPPORTED = 5004,     // a request this engine does not serve
  ISAM_ERR_INTERNAL = 5005,          // an unexpected failure inside the engine

  // Files and folders.
  ISAM_ERR_FOLDER_NOT_FOUND = 5010,  // the connection folder does not exist
  ISAM_ERR_TABLE_NOT_FOUND = 5011,   // no file of that name in the folder
  ISAM_ERR_NOT_A_TABLE = 5012,       // the file is not a table of this engine
  ISAM_ERR_TABLE_DAMAGED = 5013,     // the file is a table but cannot be read whole
  ISAM_ERR_IO = 5014,                // the operating system refused a read or a write
  ISAM_ERR_UNKNOWN_FIELD_TYPE = 5015,
  ISAM_ERR_DISK_FULL = 5016,
  ISAM_ERR_READ_ONLY = 5017,        // a change on a table opened read-only
  ISAM_ERR_TABLE_EXISTS = 5018,     // creating a table over an existing file
  ISAM_ERR_TABLE_IN_USE = 5019,     // an exclusive open while others have the table open
  ISAM_ERR_BUSY = 5020,             // another program kept the file busy too long
  ISAM_ERR_AMBIGUOUS_TABLE = 5021,  // several files name one table, differing only in case

  // Fields, indexes, keys and values.
  ISAM_ERR_FIELD_NOT_FOUND = 5030,
  ISAM_ERR_INDEX_NOT_FOUND = 5031,
  ISAM_ERR_VALUE_TOO_LONG = 5032,
  ISAM_ERR_INVALID_VALUE = 5033,  // a value that its field's type cannot hold
  ISAM_ERR_INVALID_KEY = 5034,    // a raw key whose length does not match the index
  ISAM_ERR_RECORD_LOCKED = 5035,  // the record is locked by another table handle or program
  ISAM_ERR_RECORD_NOT_FOUND = 5036,

  // Harmless codes: the request found nothing to do.
  ISAM_ERR_ALREADY_DISCONNECTED = 5024,
  ISAM_ERR_NO_FILTER = 5037,  // clearing a filter when none is set
  ISAM_ERR_NO_SCOPE = 5038,   // clearing a scope when none is set
  ISAM_ERR_NO_KEY_POSITION = 5041,
  ISAM_ERR_NO_CURRENT_RECORD = 5068,  // the handle stands at its end or beginning
  ISAM_ERR_NO_UPDATE_PENDING = 5085,
  ISAM_ERR_STATEMENT_CLOSED = 5106,
  ISAM_ERR_NO_ROW_COUNT = 5117,

  ISAM_ERR_PERMISSION = 5054,   // a permission text posted by the data access layer
  ISAM_ERR_STATIC_VIEW = 5064,  // a record lock on a cursor that cannot be updated
  ISAM_ERR_LAYER = 5121,        // misuse detected by the data access layer
  ISAM_ERR_TRANSACTION = 5130,  // begin inside a transaction, commit or rollback outside one

  // SQL statements.
  ISAM_ERR_SQL_SYNTAX = 7200,
  ISAM_ERR_SQL_PARAMETER = 7201,
  ISAM_ERR_SQL_NOT_PREPARED = 7209,
};

#ifdef __cplusplus
}
#endif

#endif  // RIVENOAK_ISAM_ERRORS_H_
