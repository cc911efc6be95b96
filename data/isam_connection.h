// TIsamConnection: one engine connection to a data folder. Datasets bound to it reach their
// tables through it; disconnecting closes them. Every connection is listed in a process-wide
// list (behind its own lock) by which datasets bind to connections by name.
#ifndef RIVENOAK_DATA_ISAM_CONNECTION_H_
#define RIVENOAK_DATA_ISAM_CONNECTION_H_

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "data/component.h"
#include "isam/isam.h"

namespace data {

class TIsamDataSet;

enum TIsamServerType : unsigned { stISAM_LOCAL = 1, stISAM_REMOTE = 2, stISAM_INET = 4 };
using TIsamServerTypes = unsigned;  // a set of TIsamServerType bits

class TIsamConnection : public TComponent {
 public:
  using Event = std::function<void(TIsamConnection&)>;
  using LoginEvent =
      std::function<void(TIsamConnection&, std::string& user, std::string& password)>;

  explicit TIsamConnection(TComponent* owner = nullptr, const std::string& name = "");
  ~TIsamConnection() override;

  void SetName(const std::string& name) override;

  const std::string& ConnectPath() const { return connect_path_; }
  void SetConnectPath(const std::string& path);
  const std::string& AliasName() const { return alias_name_; }
  void SetAliasName(const std::string& alias);
  bool IsConnected() const { return connected_; }
  void SetIsConnected(bool connected);

  TIsamServerTypes IsamServerTypes = 0;
  bool LoginPrompt = true;
  std::string Username;
  std::string Password;
  bool MiddleTierConnection = false;
  bool StoredProcedureConnection = false;
  bool ReadOnly = false;
  bool StoreConnected = true;

  Event BeforeConnect, AfterConnect, OnConnect;
  Event BeforeDisconnect, AfterDisconnect, OnDisconnect;
  Event BeforeCommit, AfterCommit, BeforeRollback, AfterRollback;
  LoginEvent OnLogin;

  IsamHandle ConnectionHandle() const { return handle_; }
  std::string ServerName() const;
  // "Local", "Remote", "Internet", or empty (also while disconnected).
  std::string ConnectionKindText() const;
  // The folder that table paths start from.
  std::string ConnectionFolder() const;
  bool IsDictionary() const { return dictionary_; }
  std::thread::id CreatorThread() const { return creator_thread_; }

  // Loading from a stored form: IsConnected set to true only marks it until loading ends.
  void BeginLoading() { loading_ = true; }
  void EndLoading();

  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;
  // Nested marks inside the transaction (see IsamSavepoint).
  void Savepoint();
  void RollbackToSavepoint();
  void ReleaseSavepoint();

  // Bound datasets, in the order they bound.
  void AddDataSet(TIsamDataSet* dataset);
  void RemoveDataSet(TIsamDataSet* dataset);
  const std::vector<TIsamDataSet*>& DataSets() const { return datasets_; }

 private:
  void Connect();
  void Disconnect();
  void CloseDataSets();
  [[noreturn]] void RaiseEngineError() const;
  bool ResolveAlias();

  std::string connect_path_;
  std::string alias_name_;
  std::string alias_path_;
  bool alias_failed_ = false;
  bool connected_ = false;
  bool loading_ = false;
  bool connect_after_loading_ = false;
  bool dictionary_ = false;
  IsamHandle handle_ = 0;
  std::vector<TIsamDataSet*> datasets_;
  std::thread::id creator_thread_;
};

// Process-wide list of connections; the callback runs under the list's lock.
void ForEachConnection(const std::function<void(TIsamConnection*)>& visit);

}  // namespace data

#endif  // RIVENOAK_DATA_ISAM_CONNECTION_H_
