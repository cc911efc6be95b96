#include "isam/registry.h"

#include <algorithm>

namespace isam {
namespace {

[[noreturn]] void BadHandle(IsamHandle handle, const char* kind) {
  Fail(ISAM_ERR_INVALID_HANDLE,
       "Invalid " + std::string(kind) + " handle " + std::to_string(handle));
}

}  // namespace

void Registry::SetSlot(IsamHandle handle, HandleSlot slot) {
  if (handle >= slots_.size()) slots_.resize(handle + 1u);
  slots_[handle] = slot;
}

IsamHandle Registry::AddConnection(std::unique_ptr<Connection> connection) {
  IsamHandle handle = NextHandle();
  SetSlot(handle, {ISAM_HANDLE_CONNECTION});
  connections_[handle] = ConnectionEntry{std::move(connection), {}, {}};
  return handle;
}

Connection& Registry::GetConnection(IsamHandle handle) {
  auto it = connections_.find(handle);
  if (it == connections_.end()) BadHandle(handle, "connection");
  return *it->second.connection;
}

void Registry::RemoveConnection(IsamHandle handle) {
  auto it = connections_.find(handle);
  if (it == connections_.end()) {
    Fail(ISAM_ERR_ALREADY_DISCONNECTED,
         "The connection " + std::to_string(handle) + " is not open");
  }
  std::vector<IsamHandle> tables = it->second.tables;
  for (IsamHandle table : tables) RemoveTable(table);
  for (IsamHandle statement : it->second.statements) {
    statements_.erase(statement);
    SetSlot(statement, {});
  }
  connections_.erase(handle);
  SetSlot(handle, {});
}

IsamHandle Registry::AddTable(IsamHandle connection, std::unique_ptr<Table> table, bool cursor) {
  IsamHandle handle = NextHandle();
  size_t index_count = table->schema().indexes.size();
  tables_[handle] =
      TableEntry{std::move(table), connection, std::vector<IsamHandle>(index_count), cursor};
  connections_.at(connection).tables.push_back(handle);
  SetSlot(handle, {cursor ? ISAM_HANDLE_CURSOR : ISAM_HANDLE_TABLE, tables_[handle].table.get()});
  return handle;
}

Table& Registry::GetTable(IsamHandle handle) {
  const HandleSlot& slot = SlotOf(handle);
  if (slot.kind != ISAM_HANDLE_TABLE && slot.kind != ISAM_HANDLE_CURSOR) BadHandle(handle, "table");
  return *slot.table;
}

Table& Registry::TableOf(IsamHandle handle) {
  const HandleSlot& slot = SlotOf(handle);
  if (slot.kind == ISAM_HANDLE_INDEX) return *slot.table;
  return GetTable(handle);
}

void Registry::RemoveTable(IsamHandle handle) {
  auto it = tables_.find(handle);
  if (it == tables_.end()) BadHandle(handle, "table");
  for (IsamHandle index : it->second.index_handles) {
    if (index) SetSlot(index, {});
  }
  SetSlot(handle, {});
  auto& owner = connections_.at(it->second.connection).tables;
  owner.erase(std::remove(owner.begin(), owner.end(), handle), owner.end());
  tables_.erase(it);
}

IsamHandle Registry::IndexHandle(IsamHandle table, int index) {
  TableEntry& entry = tables_.at(table);
  IsamHandle& handle = entry.index_handles[static_cast<size_t>(index)];
  if (handle == 0) {
    handle = NextHandle();
    SetSlot(handle, {ISAM_HANDLE_INDEX, entry.table.get(), index});
  }
  return handle;
}

IsamHandle Registry::AddStatement(IsamHandle connection, std::unique_ptr<SqlStatement> statement) {
  IsamHandle handle = NextHandle();
  statements_[handle] = StatementEntry{std::move(statement), connection};
  connections_.at(connection).statements.push_back(handle);
  SetSlot(handle, {ISAM_HANDLE_STATEMENT});
  return handle;
}

SqlStatement& Registry::GetStatement(IsamHandle handle) {
  auto it = statements_.find(handle);
  if (it == statements_.end()) BadHandle(handle, "statement");
  return *it->second.statement;
}

void Registry::RemoveStatement(IsamHandle handle) {
  auto it = statements_.find(handle);
  if (it == statements_.end()) {
    Fail(ISAM_ERR_STATEMENT_CLOSED, "The statement " + std::to_string(handle) + " is not open");
  }
  auto& owner = connections_.at(it->second.connection).statements;
  owner.erase(std::remove(owner.begin(), owner.end(), handle), owner.end());
  statements_.erase(it);
  SetSlot(handle, {});
}

IsamHandle Registry::ConnectionOfStatement(IsamHandle handle) const {
  auto it = statements_.find(handle);
  if (it == statements_.end()) BadHandle(handle, "statement");
  return it->second.connection;
}

void Registry::CheckTransactions() {
  for (auto& [handle, entry] : connections_) entry.connection->CheckTransaction();
}

void MeetEndedTransactions() noexcept {
  try {
    Registry& registry = Registry::Get();
    std::lock_guard<std::recursive_mutex> lock(registry.mutex());
    registry.CheckTransactions();
  } catch (...) {
    // The call's own failure is the one to report; the next change or commit looks again.
  }
}

OrderRef Registry::GetOrder(IsamHandle handle) {
  const HandleSlot& slot = SlotOf(handle);
  if (slot.kind == ISAM_HANDLE_TABLE || slot.kind == ISAM_HANDLE_CURSOR) {
    return {slot.table, Table::kNaturalOrder};
  }
  return GetIndex(handle);
}

OrderRef Registry::GetIndex(IsamHandle handle) {
  const HandleSlot& slot = SlotOf(handle);
  if (slot.kind != ISAM_HANDLE_INDEX) BadHandle(handle, "index");
  return {slot.table, slot.index};
}

std::shared_ptr<LockFile> HoldForChanges(const FolderFilesystem& filesystem,
                                         const std::string& path) {
  if (!filesystem.remote) return nullptr;
  return Registry::Get().open_mark_holds().Take(path);
}

FolderFilesystem FilesystemOf(const std::string& folder) {
  std::lock_guard<std::recursive_mutex> lock(Registry::Get().mutex());
  return FindFolderFilesystem(folder, Registry::Get().filesystem_probe());
}

}  // namespace isam
