// What a table handle reads: a set of records in SQLite with the fields it shows, its natural
// order, and for a query's cursor the condition every record must meet. A table file's source
// shows every field in record-number order; a live cursor shows the selected fields of one table
// under the statement's condition, in its ORDER BY order; a static cursor reads a result table
// that the engine filled when the statement ran.
#ifndef RIVENOAK_ISAM_RECORD_SOURCE_H_
#define RIVENOAK_ISAM_RECORD_SOURCE_H_

#include "isam/internal_header.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "isam/connection.h"
#include "isam/order_sql.h"
#include "isam/schema.h"
#include "isam/sqlite_handle.h"
#include "isam/value.h"

namespace isam {

class RecordSource {
 public:
  // Every field of the attached table file, in record-number order.
  explicit RecordSource(std::shared_ptr<Attachment> attachment);
  // A view defined by the caller (cursors).
  RecordSource(std::shared_ptr<Attachment> attachment, sqlite3* db, std::string from,
               TableSchema shown, std::vector<std::string> shown_columns);
  ~RecordSource();
  RecordSource(const RecordSource&) = delete;
  RecordSource& operator=(const RecordSource&) = delete;

  sqlite3* db() const { return db_; }
  const std::string& path() const { return path_; }
  const std::string& from() const { return from_; }
  const TableSchema& schema() const { return schema_; }
  const std::string& column(size_t field) const { return columns_[field]; }
  // _recno, the shown fields, then the hidden key columns of the natural order.
  const std::string& select_list() const { return select_list_; }
  size_t values_per_row() const { return columns_.size() + hidden_.size(); }
  const OrderColumns& natural_order() const { return natural_order_; }
  std::shared_ptr<Attachment> attachment() const { return attachment_; }
  // The schema whose data version tells when the source's rows may have changed.
  const std::string& version_schema() const { return version_schema_; }

  // A condition on the source's rows ("" for none), its values bound as ConditionParameter(i).
  const std::string& condition() const { return condition_; }
  void SetCondition(std::string condition, std::vector<Value> values);
  void BindCondition(sqlite3_stmt* stmt) const;
  // The natural order: columns (with their SQL) that the rows are read in, _recno last.
  void SetNaturalOrder(const std::vector<std::pair<std::string, bool>>& columns);
  // SQL run when the source is dropped (a result table's DROP).
  void SetCleanup(std::string sql) { cleanup_sql_ = std::move(sql); }
  bool is_view() const { return is_view_; }
  // A view of a table that sees changes as they are made (not a fixed result).
  bool is_live() const { return is_view_ && cleanup_sql_.empty(); }

  // A statement prepared once per key and kept with the source.
  sqlite3_stmt* Statement(uint64_t key, const std::function<std::string()>& make_sql);
  sqlite3_stmt* Statement(const std::string& key, const std::function<std::string()>& make_sql);

 private:
  void BuildSelectList();

  std::shared_ptr<Attachment> attachment_;
  sqlite3* db_;
  std::string path_;
  std::string from_;
  TableSchema schema_;
  std::vector<std::string> columns_;
  std::vector<std::string> hidden_;
  std::string select_list_;
  OrderColumns natural_order_;
  std::string condition_;
  std::vector<Value> condition_values_;
  std::string cleanup_sql_;
  std::string version_schema_;
  bool is_view_ = false;
  std::unordered_map<uint64_t, StmtPtr> statements_;
  std::unordered_map<std::string, StmtPtr> named_statements_;
};

}  // namespace isam

#endif  // RIVENOAK_ISAM_RECORD_SOURCE_H_
