// The engine's C interface, connections: a connection to a local or network folder, its kind
// and folder, the kind of any handle, and the connection's one transaction with its savepoints,
// which commits over every table file the connection changed, all or nothing.
#include <memory>
#include <string>

#include "common/text.h"
#include "isam/api_handles.h"
#include "isam/file_lookup.h"
#include "isam/guard.h"
#include "isam/isam.h"

using namespace isam;

extern "C" {

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
    if (common::UpperCase(folder).find(".IDD") != std::string::npos) {
      Fail(ISAM_ERR_NOT_SUPPORTED, "Data dictionaries are not supported: " + folder);
    }
    if (!IsDirectory(folder))
      Fail(ISAM_ERR_FOLDER_NOT_FOUND, "The folder " + folder + " does not exist");
    *connection = R().AddConnection(std::make_unique<Connection>(folder, FilesystemOf(folder)));
  });
}

IsamResult IsamConnect(const char* path, IsamHandle* connection) {
  return IsamConnectEx(path, ISAM_SERVER_LOCAL, "", "", ISAM_CONNECT_OPTIONS_NONE, connection);
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

}  // extern "C"
