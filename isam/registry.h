// The engine's process-wide state: its handles, its start-up settings and the lock that
// serialises calls. The C interface is handle based, so the objects behind the handles live here
// for as long as the handles are open.
//
// Why process-wide: a handle is a plain number that any thread of the process may pass to any
// call, and the interface's settings (the date format, decimals, deleted records, the cache
// sizes) hold for every connection; so is the one hold of a network table's open mark that all of
// the process's handles share (OpenMarkHolds), since the locks it stands for are the process's.
// There is one Registry, made at its first use.
//
// Its lock: mutex_ guards every member. Each interface call holds it for its whole length
// (Guard, guard.h); the few engine functions that reach the registry outside a call (the
// filesystem of a folder for table_files.h, FilesystemOf) take it themselves. It is recursive
// because they are also called inside calls that hold it already.
#ifndef RIVENOAK_ISAM_REGISTRY_H_
#define RIVENOAK_ISAM_REGISTRY_H_

#include "isam/internal_header.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "isam/connection.h"
#include "isam/field.h"
#include "isam/folder_filesystem.h"
#include "isam/isam.h"
#include "isam/lock_file.h"
#include "isam/sql_statement.h"
#include "isam/table.h"

namespace isam {

struct EngineSettings {
  DateFormat date_format = *DateFormat::Parse("MM/DD/CCYY");
  uint16_t decimals = 2;
  bool show_deleted = false;
  uint16_t cached_tables = 0;
  uint16_t cached_cursors = 0;
};

// An order: the table it moves and the index it follows (Table::kNaturalOrder for none).
struct OrderRef {
  Table* table;
  int index;
};

class Registry {
 public:
  static Registry& Get() {
    static Registry registry;
    return registry;
  }

  std::recursive_mutex& mutex() { return mutex_; }
  EngineSettings& settings() { return settings_; }
  // Calls of the interface so far, for measuring what a run asks of the engine.
  void CountCall() { ++calls_; }
  uint64_t calls() const { return calls_; }

  // How connections find their folder's filesystem. Tests give recorded answers, to play a
  // network folder; null goes back to the system's.
  const FilesystemProbe& filesystem_probe() const {
    return probe_ ? *probe_ : SystemFilesystemProbe();
  }
  void set_filesystem_probe(std::shared_ptr<const FilesystemProbe> probe) {
    probe_ = std::move(probe);
  }
  OpenMarkHolds& open_mark_holds() { return open_mark_holds_; }

  IsamHandle AddConnection(std::unique_ptr<Connection> connection);
  Connection& GetConnection(IsamHandle handle);
  void RemoveConnection(IsamHandle handle);  // closes its tables first

  IsamHandle AddTable(IsamHandle connection, std::unique_ptr<Table> table, bool cursor = false);
  Table& GetTable(IsamHandle handle);
  void RemoveTable(IsamHandle handle);
  IsamHandle IndexHandle(IsamHandle table, int index);

  IsamHandle AddStatement(IsamHandle connection, std::unique_ptr<SqlStatement> statement);
  SqlStatement& GetStatement(IsamHandle handle);
  void RemoveStatement(IsamHandle handle);
  IsamHandle ConnectionOfStatement(IsamHandle handle) const;

  // Looks whether SQLite ended any connection's transaction (Connection::CheckTransaction).
  void CheckTransactions();

  OrderRef GetOrder(IsamHandle handle);  // a table, cursor or index handle
  OrderRef GetIndex(IsamHandle handle);  // an index handle only
  uint16_t KindOf(IsamHandle handle) const { return SlotOf(handle).kind; }  // 0 when unknown
  // The table of a table, cursor or index handle.
  Table& TableOf(IsamHandle handle);

 private:
  struct ConnectionEntry {
    std::unique_ptr<Connection> connection;
    std::vector<IsamHandle> tables;
    std::vector<IsamHandle> statements;
  };
  struct TableEntry {
    std::unique_ptr<Table> table;
    IsamHandle connection;
    std::vector<IsamHandle> index_handles;
    bool cursor;
  };
  struct StatementEntry {
    std::unique_ptr<SqlStatement> statement;
    IsamHandle connection;
  };

  // What a handle names, found without a hash look-up: handles are numbered from 1 upwards and
  // never used again, and every engine call resolves one.
  struct HandleSlot {
    uint16_t kind = 0;
    Table* table = nullptr;  // of a table, cursor or index handle
    int index = Table::kNaturalOrder;
  };

  IsamHandle NextHandle() { return next_handle_++; }
  void SetSlot(IsamHandle handle, HandleSlot slot);
  const HandleSlot& SlotOf(IsamHandle handle) const {
    static const HandleSlot kNone;
    return handle < slots_.size() ? slots_[handle] : kNone;
  }

  std::recursive_mutex mutex_;
  EngineSettings settings_;
  IsamHandle next_handle_ = 1;
  uint64_t calls_ = 0;
  std::shared_ptr<const FilesystemProbe> probe_;
  OpenMarkHolds open_mark_holds_;
  std::unordered_map<IsamHandle, ConnectionEntry> connections_;
  std::unordered_map<IsamHandle, TableEntry> tables_;
  std::unordered_map<IsamHandle, StatementEntry> statements_;
  std::vector<HandleSlot> slots_;
};

// A table in a network folder that is opened for changes is this process's alone (checked now,
// before any change): the hold of its open mark, or null in a local folder.
std::shared_ptr<LockFile> HoldForChanges(const FolderFilesystem& filesystem,
                                         const std::string& path);

// The filesystem of `folder`, found as a connection to it finds it.
FolderFilesystem FilesystemOf(const std::string& folder);

}  // namespace isam

#endif  // RIVENOAK_ISAM_REGISTRY_H_
