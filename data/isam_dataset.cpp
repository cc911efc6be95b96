// TIsamDataSet, the part every dataset shares: the list of live datasets (which the connection
// components walk), binding a dataset to a connection component or, by folder, to a connection
// of its own, and turning a failed engine call into a database error that names the dataset, its
// table and the record. The other parts: isam_dataset_open.cpp (orders, opening, fields),
// isam_dataset_navigation.cpp (moves and changes), isam_dataset_master.cpp (master-detail
// ranges) and isam_table.cpp (TIsamTable).
#include "data/isam_dataset.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "data/engine_call.h"
#include "data/isam_dataset_parts.h"

namespace data {

using namespace isam_dataset_parts;  // NOLINT: helpers shared by the dataset's parts

namespace {

// Every live dataset. Process-wide because a connection component may take its name after the
// datasets that name it were made, anywhere in the program (the connection's owner is not the
// datasets'), and it then binds them (TIsamConnection::SetName); a dataset adds itself when made
// and removes itself when destroyed. Guarded by `mutex`, which ForEachDataSet holds while it
// visits, since datasets may be made and destroyed on any thread.
struct DataSetList {
  std::mutex mutex;
  std::vector<TIsamDataSet*> datasets;
};

DataSetList& DataSets() {
  static DataSetList list;
  return list;
}

// One engine connection per folder for datasets bound to no connection component, but naming a
// folder. Process-wide so that every such dataset of a folder shares one connection, as the
// datasets of one connection component do: they see one another's changes and transaction, and
// their record locks are one connection's rather than several that would refuse each other. The
// connections stay open until the process ends, as a dataset may name the folder again at any
// time. Guarded by `mutex`, held while a connection is looked up or made.
struct FolderConnections {
  std::mutex mutex;
  std::map<std::string, IsamHandle> handles;
};

FolderConnections& Folders() {
  static FolderConnections folders;
  return folders;
}

}  // namespace

uint16_t TIsamTableOptions::CountOption() const {
  uint16_t option = ISAM_COUNT_IGNORE_FILTERS;
  if (IsamFilterOptions == TIsamFilterOption::RESPECT_WHEN_COUNTING)
    option = ISAM_COUNT_RESPECT_FILTERS;
  else if (IsamScopeOptions == TIsamScopeOption::RESPECT_SCOPES_WHEN_COUNTING)
    option = ISAM_COUNT_RESPECT_SCOPES;
  return static_cast<uint16_t>(option + (IsamFreshRecordCount ? ISAM_COUNT_FRESH : 0));
}

void ForEachDataSet(const std::function<void(TIsamDataSet*)>& visit) {
  std::lock_guard<std::mutex> lock(DataSets().mutex);
  for (TIsamDataSet* d : DataSets().datasets) visit(d);
}

TIsamDataSet::TIsamDataSet(TComponent* owner, const std::string& name) : TDataSet(owner, name) {
  std::lock_guard<std::mutex> lock(DataSets().mutex);
  DataSets().datasets.push_back(this);
}

TIsamDataSet::~TIsamDataSet() {
  try {
    Close();
  } catch (const Exception&) {
  }
  SetMasterSource(nullptr);
  if (connection_) connection_->RemoveDataSet(this);
  std::lock_guard<std::mutex> lock(DataSets().mutex);
  auto& list = DataSets().datasets;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TIsamDataSet::Check(IsamResult rc) const {
  if (rc == ISAM_SUCCESS) return;
  EngineError error = LastEngineError();
  DatabaseErrorContext context;
  context.error_code = error.code ? error.code : rc;
  context.dataset_name = Name();
  context.owner_name = OwnerName();
  context.database_name = database_name_;
  context.database_path = DatabasePath();
  context.table_name = TableNameForErrors();
  throw EIsamDatabaseError(ErrorPrefix() + error.text, context);
}

void TIsamDataSet::LayerError(const std::string& text, uint32_t code) const {
  if (code == kPermissionErrorCode) IsamSetLastError(code, text.c_str());
  DatabaseErrorContext context;
  context.error_code = code;
  context.dataset_name = Name();
  context.owner_name = OwnerName();
  context.database_name = database_name_;
  context.database_path = DatabasePath();
  context.table_name = TableNameForErrors();
  throw EIsamDatabaseError(ErrorPrefix() + text, context);
}

std::string TIsamDataSet::RecordForErrors() const {
  std::string table = TableNameForErrors();
  if (table.empty()) return "";
  // The file the engine opened for the table, which may spell its name otherwise.
  std::string path(4096, '\0');
  uint16_t length = static_cast<uint16_t>(path.size());
  if (handle_ && IsamGetTableName(handle_, path.data(), &length) == ISAM_SUCCESS) {
    table = path.substr(0, length);
  }
  return has_record_ ? table + ", record " + std::to_string(recno_) : table;
}

void TIsamDataSet::CheckInactive() const {
  if (Active()) LayerError("Cannot perform this operation on an open dataset");
}

void TIsamDataSet::SetIsamConnection(TIsamConnection* connection) {
  if (Active()) LayerError("Table must not be Active.");
  if (connection_ == connection) return;
  if (connection_) connection_->RemoveDataSet(this);
  connection_ = connection;
  if (connection_) {
    connection_->AddDataSet(this);
    database_name_ = connection_->Name();
  }
}

void TIsamDataSet::SetDatabaseName(const std::string& name) {
  CheckInactive();
  if (connection_) connection_->RemoveDataSet(this);
  connection_ = nullptr;
  database_name_ = name;
  if (name.empty()) return;
  // The first match of: same name and owner on this thread; same name on this thread; same name
  // and owner; owner's name "." name, or the name alone.
  TIsamConnection* found = nullptr;
  auto this_thread = std::this_thread::get_id();
  for (int rule = 0; rule < 4 && !found; ++rule) {
    ForEachConnection([&](TIsamConnection* c) {
      if (found) return;
      bool same_name = SameText(c->Name(), name);
      bool same_owner = c->Owner() == Owner();
      bool same_thread = c->CreatorThread() == this_thread;
      bool match = false;
      if (rule == 0) match = same_name && same_owner && same_thread;
      if (rule == 1) match = same_name && same_thread;
      if (rule == 2) match = same_name && same_owner;
      if (rule == 3) match = same_name || SameText(c->OwnerName() + "." + c->Name(), name);
      if (match) found = c;
    });
  }
  if (found) {
    connection_ = found;
    connection_->AddDataSet(this);
  }
}

void TIsamDataSet::ConnectionNamed(TIsamConnection* connection, const std::string& old_name) {
  bool follows =
      connection_ == connection && !old_name.empty() && SameText(database_name_, old_name);
  bool names_it = !connection_ && OwnerName() == connection->OwnerName() &&
                  SameText(database_name_, connection->Name());
  if (follows) {
    database_name_ = connection->Name();
  } else if (names_it && !Active()) {
    connection_ = connection;
    connection_->AddDataSet(this);
  }
}

void TIsamDataSet::ConnectionGone(TIsamConnection* connection) {
  if (connection_ == connection) connection_ = nullptr;
}

std::string TIsamDataSet::DatabasePath() const {
  std::string path;
  if (connection_ && (database_name_.empty() || SameText(database_name_, connection_->Name()))) {
    path = connection_->ConnectionFolder();
  } else {
    path = database_name_;
  }
  if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

IsamHandle TIsamDataSet::ConnectionHandleForOpen() {
  if (connection_) {
    if (!connection_->IsConnected()) connection_->SetIsConnected(true);
    return connection_->ConnectionHandle();
  }
  std::string folder = DatabasePath();
  std::lock_guard<std::mutex> lock(Folders().mutex);
  IsamHandle& handle = Folders().handles[folder];
  if (handle == 0) {
    IsamResult rc = IsamConnect(folder.c_str(), &handle);
    if (rc != ISAM_SUCCESS) {
      handle = 0;
      Check(rc);
    }
  }
  return handle;
}

}  // namespace data
