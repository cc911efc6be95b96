#include "data/isam_connection.h"

#include <strings.h>

#include <algorithm>
#include <fstream>
#include <mutex>

#include "common/text.h"
#include "data/engine_call.h"
#include "data/errors.h"
#include "data/isam_dataset.h"

namespace data {
namespace {

// Every live connection component. Process-wide because a dataset binds to a connection by
// name (TIsamDataSet::SetDatabaseName), and the name may belong to a connection of another owner
// or made on another thread; a connection adds itself when made and removes itself when
// destroyed. Guarded by `mutex`, which ForEachConnection holds while it visits.
struct ConnectionList {
  std::mutex mutex;
  std::vector<TIsamConnection*> connections;
};

ConnectionList& Connections() {
  static ConnectionList list;
  return list;
}

// A dictionary connection names a file ending in ".IDD" (or a folder whose name holds it).
bool IsDictionaryPath(const std::string& path) {
  return common::UpperCase(path).find(".IDD") != std::string::npos;
}

}  // namespace

void ForEachConnection(const std::function<void(TIsamConnection*)>& visit) {
  std::lock_guard<std::mutex> lock(Connections().mutex);
  for (TIsamConnection* c : Connections().connections) visit(c);
}

TIsamConnection::TIsamConnection(TComponent* owner, const std::string& name)
    : TComponent(owner, name), creator_thread_(std::this_thread::get_id()) {
  std::lock_guard<std::mutex> lock(Connections().mutex);
  Connections().connections.push_back(this);
}

TIsamConnection::~TIsamConnection() {
  if (connected_) {
    CloseDataSets();
    IsamDisconnect(handle_);  // 5024 here means it was already gone: nothing to report
    handle_ = 0;
    connected_ = false;
  }
  for (TIsamDataSet* d : std::vector<TIsamDataSet*>(datasets_)) d->ConnectionGone(this);
  std::lock_guard<std::mutex> lock(Connections().mutex);
  auto& list = Connections().connections;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TIsamConnection::SetName(const std::string& name) {
  std::string old_name = Name();
  TComponent::SetName(name);
  // Datasets that named this connection before it had this name bind to it now.
  ForEachDataSet([&](TIsamDataSet* d) { d->ConnectionNamed(this, old_name); });
}

void TIsamConnection::SetConnectPath(const std::string& path) {
  if (connected_) {
    throw IsamConnectionError(
        "The TIsamConnection.ConnectPath may not be changed when IsConnected is TRUE");
  }
  connect_path_ = path;
  alias_name_.clear();
  alias_path_.clear();
  alias_failed_ = false;
  dictionary_ = IsDictionaryPath(path);
}

void TIsamConnection::SetAliasName(const std::string& alias) {
  if (connected_) {
    throw IsamConnectionError(
        "The TIsamConnection.AliasName may not be changed when IsConnected is TRUE");
  }
  alias_name_ = alias;
  connect_path_.clear();
  alias_failed_ = !ResolveAlias();
}

// Looks the alias up in the "Databases" section of "isam.ini": a path, ";" and a table type.
bool TIsamConnection::ResolveAlias() {
  alias_path_.clear();
  if (alias_name_.empty()) return true;
  std::ifstream ini("isam.ini");
  std::string line;
  bool in_section = false;
  while (std::getline(ini, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      in_section = strcasecmp(line.c_str(), "[Databases]") == 0;
      continue;
    }
    size_t eq = line.find('=');
    if (!in_section || eq == std::string::npos) continue;
    if (strcasecmp(line.substr(0, eq).c_str(), alias_name_.c_str()) != 0) continue;
    std::string value = line.substr(eq + 1);
    alias_path_ = value.substr(0, value.find(';'));
    dictionary_ = IsDictionaryPath(alias_path_);
    return true;
  }
  return false;
}

void TIsamConnection::SetIsConnected(bool connected) {
  if (loading_) {
    connect_after_loading_ = connected;
    return;
  }
  if (connected == connected_) return;
  if (connected)
    Connect();
  else
    Disconnect();
}

void TIsamConnection::EndLoading() {
  loading_ = false;
  if (connect_after_loading_) SetIsConnected(true);
}

void TIsamConnection::Connect() {
  if (BeforeConnect) BeforeConnect(*this);
  if (alias_failed_ && !ResolveAlias()) {
    throw IsamConnectionError("TIsamConnection.AliasName is not valid");
  }
  alias_failed_ = false;
  std::string text = connect_path_.empty() ? alias_path_ : connect_path_;
  if (text.empty()) {
    throw IsamConnectionError("Must specify connection string before getting a server connection.");
  }
  if (text.size() > 254) text.resize(254);
  std::string user, password;
  if (dictionary_) {
    if (LoginPrompt) {
      std::string u = Username, p;
      if (!OnLogin) throw EDatabaseError("Cannot connect to database '" + Name() + "'");
      OnLogin(*this, u, p);
      Username = u;
      Password = p;
    }
    user = Username.substr(0, 260);
    password = Password.substr(0, 260);
  }
  uint16_t mask = static_cast<uint16_t>(
      IsamServerTypes & (ISAM_SERVER_LOCAL | ISAM_SERVER_REMOTE | ISAM_SERVER_INTERNET));
  uint32_t options =
      (MiddleTierConnection ? ISAM_CONNECT_MIDDLE_TIER : ISAM_CONNECT_OPTIONS_NONE) |
      (StoredProcedureConnection ? ISAM_CONNECT_STORED_PROCEDURES : ISAM_CONNECT_OPTIONS_NONE);
  IsamHandle handle = 0;
  IsamResult rc =
      IsamConnectEx(text.c_str(), mask, user.c_str(), password.c_str(), options, &handle);
  if (rc != ISAM_SUCCESS) {
    EngineError error = LastEngineError();
    DatabaseErrorContext context;
    context.error_code = error.code ? error.code : rc;
    context.database_path = text;
    throw EIsamDatabaseError(error.text, context);
  }
  handle_ = handle;
  connected_ = true;
  if (AfterConnect) AfterConnect(*this);
  if (OnConnect) OnConnect(*this);
}

void TIsamConnection::CloseDataSets() {
  for (TIsamDataSet* d : std::vector<TIsamDataSet*>(datasets_)) {
    try {
      d->Close();
    } catch (const Exception&) {
    }
    d->ReleaseStatementHandles();
  }
}

void TIsamConnection::Disconnect() {
  if (BeforeDisconnect) BeforeDisconnect(*this);
  CloseDataSets();
  IsamResult rc = IsamDisconnect(handle_);
  EngineError error = rc ? LastEngineError() : EngineError{};
  handle_ = 0;
  connected_ = false;
  if (AfterDisconnect) AfterDisconnect(*this);
  if (OnDisconnect) OnDisconnect(*this);
  if (rc != ISAM_SUCCESS) throw IsamError(error.text, error.code);
}

void TIsamConnection::RaiseEngineError() const {
  EngineError error = LastEngineError();
  throw IsamError(error.text.empty() ? EngineErrorString(error.code) : error.text, error.code);
}

std::string TIsamConnection::ServerName() const {
  if (!connected_) throw IsamConnectionError("Must be connected to get the server name.");
  char name[600];
  uint16_t length = sizeof name;
  if (IsamGetServerName(handle_, name, &length) != ISAM_SUCCESS) RaiseEngineError();
  return std::string(name, length);
}

std::string TIsamConnection::ConnectionKindText() const {
  if (!connected_) return "";
  uint16_t type = 0;
  if (IsamGetConnectionType(handle_, &type) != ISAM_SUCCESS) RaiseEngineError();
  switch (type) {
    case 1:
      return "Local";
    case 2:
      return "Remote";
    case 4:
      return "Internet";
    default:
      return "";
  }
}

std::string TIsamConnection::ConnectionFolder() const {
  std::string text = connect_path_.empty() ? alias_path_ : connect_path_;
  if (text.size() > 4 && text[text.size() - 4] == '.' &&
      common::UpperCase(text.substr(text.size() - 3)) == "IDD") {
    // The folder of the dictionary file ends at the last separator of either kind.
    size_t separator = text.find_last_of("/\\");
    if (separator != std::string::npos) return text.substr(0, separator);
    return ".\\";
  }
  return text;
}

void TIsamConnection::StartTransaction() {
  if (!connected_) throw IsamConnectionError("Must be connected to start a transaction.");
  if (IsamBeginTransaction(handle_) != ISAM_SUCCESS) RaiseEngineError();
}

void TIsamConnection::Commit() {
  if (BeforeCommit) BeforeCommit(*this);
  if (IsamCommitTransaction(handle_) != ISAM_SUCCESS) RaiseEngineError();
  if (AfterCommit) AfterCommit(*this);
}

void TIsamConnection::Rollback() {
  if (BeforeRollback) BeforeRollback(*this);
  if (IsamRollbackTransaction(handle_) != ISAM_SUCCESS) RaiseEngineError();
  if (AfterRollback) AfterRollback(*this);
}

void TIsamConnection::Savepoint() {
  if (IsamSavepoint(handle_) != ISAM_SUCCESS) RaiseEngineError();
}

void TIsamConnection::RollbackToSavepoint() {
  if (IsamRollbackToSavepoint(handle_) != ISAM_SUCCESS) RaiseEngineError();
}

void TIsamConnection::ReleaseSavepoint() {
  if (IsamReleaseSavepoint(handle_) != ISAM_SUCCESS) RaiseEngineError();
}

bool TIsamConnection::InTransaction() const {
  uint16_t in = 0;
  return connected_ && IsamInTransaction(handle_, &in) == ISAM_SUCCESS && in;
}

void TIsamConnection::AddDataSet(TIsamDataSet* dataset) {
  if (std::find(datasets_.begin(), datasets_.end(), dataset) == datasets_.end()) {
    datasets_.push_back(dataset);
  }
}

void TIsamConnection::RemoveDataSet(TIsamDataSet* dataset) {
  datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), dataset), datasets_.end());
}

}  // namespace data
