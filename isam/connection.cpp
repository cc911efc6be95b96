#include "isam/connection.h"

#include <cctype>

#include "isam/codepage.h"

namespace isam {
namespace {

constexpr int kMaxAttachedPerSlot = 10;  // SQLite's limit as Debian builds it
constexpr int kBusyTimeoutMs = 10000;

std::string FileUri(const std::string& path, bool read_only) {
  std::string uri = "file:";
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri + (read_only ? "?mode=ro" : "?mode=rw");
}

}  // namespace

Attachment::Attachment(Connection* connection, size_t slot, std::string schema_name,
                       std::string path, bool read_only)
    : connection_(connection),
      slot_(slot),
      schema_name_(std::move(schema_name)),
      path_(std::move(path)),
      read_only_(read_only) {
  from_ = QuoteIdentifier(schema_name_) + ".records";
}

Attachment::~Attachment() {
  statements_.clear();
  named_statements_.clear();
  connection_->Detach(slot_, schema_name_, path_);
}

sqlite3* Attachment::db() const { return connection_->slot_db(slot_); }

void Attachment::set_schema(TableSchema schema) {
  schema_ = std::move(schema);
  select_list_ = "_recno";
  columns_.clear();
  for (const FieldDef& f : schema_.fields) {
    columns_.push_back(QuoteIdentifier(f.name));
    select_list_ += ", " + columns_.back();
  }
}

sqlite3_stmt* Attachment::Statement(uint64_t key, const std::function<std::string()>& make_sql) {
  auto it = statements_.find(key);
  if (it == statements_.end()) {
    it = statements_.emplace(key, Prepare(db(), make_sql(), path_)).first;
  }
  return it->second.get();
}

sqlite3_stmt* Attachment::Statement(const std::string& key,
                                    const std::function<std::string()>& make_sql) {
  auto it = named_statements_.find(key);
  if (it == named_statements_.end()) {
    it = named_statements_.emplace(key, Prepare(db(), make_sql(), path_)).first;
  }
  return it->second.get();
}

Connection::Connection(std::string folder) : folder_(std::move(folder)) {}

Connection::~Connection() {
  if (in_transaction_) Rollback();
}

size_t Connection::SlotWithRoom() {
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].attached < kMaxAttachedPerSlot && !in_transaction_) return i;
  }
  Slot slot;
  slot.db = OpenDb(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                   "the connection to " + folder_);
  sqlite3_busy_timeout(slot.db.get(), kBusyTimeoutMs);
  slots_.push_back(std::move(slot));
  return slots_.size() - 1;
}

std::shared_ptr<Attachment> Connection::Attach(const std::string& path, bool read_only) {
  auto found = attachments_.find(path);
  if (found != attachments_.end()) {
    if (auto existing = found->second.lock()) return existing;
  }
  CheckTableFileHeader(path);

  // In a transaction, a new file gets a slot of its own whose transaction starts after ATTACH.
  bool was_in_transaction = in_transaction_;
  size_t slot_index = SlotWithRoom();
  Slot& slot = slots_[slot_index];
  std::string schema_name = "t" + std::to_string(slot.next_schema++);
  {
    StmtPtr attach = Prepare(slot.db.get(), "ATTACH DATABASE ?1 AS " + QuoteIdentifier(schema_name), path);
    std::string uri = FileUri(path, read_only);
    sqlite3_bind_text(attach.get(), 1, uri.c_str(), -1, SQLITE_TRANSIENT);
    StatementUse use(attach.get(), path);
    use.Step();
  }
  ++slot.attached;
  auto attachment = std::make_shared<Attachment>(this, slot_index, schema_name, path, read_only);
  try {
    attachment->set_schema(ReadSchema(slot.db.get(), schema_name, path));
    if (!read_only) {
      std::string q = QuoteIdentifier(schema_name);
      Exec(slot.db.get(), "PRAGMA " + q + ".journal_mode=WAL", path);
      Exec(slot.db.get(), "PRAGMA " + q + ".synchronous=NORMAL", path);
    }
    if (was_in_transaction) Exec(slot.db.get(), "BEGIN IMMEDIATE", folder_);
  } catch (...) {
    attachment.reset();  // detaches
    throw;
  }
  attachments_[path] = attachment;
  return attachment;
}

void Connection::Detach(size_t slot, const std::string& schema_name, const std::string& path) {
  auto found = attachments_.find(path);
  if (found != attachments_.end() && found->second.expired()) attachments_.erase(found);
  if (in_transaction_) {
    pending_detach_.emplace_back(slot, schema_name);
    return;
  }
  sqlite3_exec(slots_[slot].db.get(), ("DETACH DATABASE " + QuoteIdentifier(schema_name)).c_str(),
               nullptr, nullptr, nullptr);
  --slots_[slot].attached;
}

void Connection::Begin() {
  if (in_transaction_) Fail(ISAM_ERR_TRANSACTION, "A transaction is already active on " + folder_);
  for (size_t i = 0; i < slots_.size(); ++i) {
    try {
      Exec(slots_[i].db.get(), "BEGIN IMMEDIATE", folder_);
    } catch (const Failure&) {
      for (size_t k = 0; k < i; ++k) Exec(slots_[k].db.get(), "ROLLBACK", folder_);
      throw;
    }
  }
  in_transaction_ = true;
}

void Connection::DetachPending() {
  for (auto& [slot, schema_name] : pending_detach_) {
    sqlite3_exec(slots_[slot].db.get(),
                 ("DETACH DATABASE " + QuoteIdentifier(schema_name)).c_str(), nullptr, nullptr,
                 nullptr);
    --slots_[slot].attached;
  }
  pending_detach_.clear();
}

void Connection::Commit() {
  if (!in_transaction_) Fail(ISAM_ERR_TRANSACTION, "No transaction is active on " + folder_);
  for (Slot& slot : slots_) {
    if (!sqlite3_get_autocommit(slot.db.get())) Exec(slot.db.get(), "COMMIT", folder_);
  }
  in_transaction_ = false;
  DetachPending();
}

void Connection::Rollback() {
  if (!in_transaction_) Fail(ISAM_ERR_TRANSACTION, "No transaction is active on " + folder_);
  for (Slot& slot : slots_) sqlite3_exec(slot.db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  in_transaction_ = false;
  DetachPending();
}

}  // namespace isam
