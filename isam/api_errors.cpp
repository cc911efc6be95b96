// The engine's C interface, errors: the thread's last error (code and text), the default text
// of each code, and the small helpers every interface function uses to refuse a missing argument
// and to copy a text out. IsamGetLastError, IsamGetErrorString, IsamSetLastError and IsamShowError
// never fail for a failing call's reasons, and none of them counts as a call of the engine.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "isam/guard.h"
#include "isam/isam.h"

namespace isam {
namespace {

struct LastError {
  uint32_t code = 0;
  std::string text;
};
// Each thread's own, as the interface defines the last error: no lock guards it, and one thread's
// failure never overwrites what another is about to read.
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

}  // namespace
}  // namespace isam

using namespace isam;

extern "C" {

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

}  // extern "C"
