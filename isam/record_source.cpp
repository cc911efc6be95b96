#include "isam/record_source.h"

#include "isam/sqlite/values.h"

namespace isam {

RecordSource::RecordSource(std::shared_ptr<Attachment> attachment)
    : attachment_(std::move(attachment)),
      db_(attachment_->db()),
      path_(attachment_->path()),
      from_(attachment_->from()),
      schema_(attachment_->schema()),
      version_schema_(attachment_->schema_name()) {
  for (const FieldDef& f : schema_.fields) columns_.push_back(QuoteIdentifier(f.name));
  natural_order_.push_back(OrderColumn{"_recno", false, OrderColumn::kRecnoValue});
  BuildSelectList();
}

RecordSource::RecordSource(std::shared_ptr<Attachment> attachment, sqlite3* db, std::string from,
                           TableSchema shown, std::vector<std::string> shown_columns)
    : attachment_(std::move(attachment)),
      db_(db),
      path_(attachment_->path()),
      from_(std::move(from)),
      schema_(std::move(shown)),
      columns_(std::move(shown_columns)),
      version_schema_(from_.rfind("temp.", 0) == 0 ? "temp" : attachment_->schema_name()),
      is_view_(true) {
  natural_order_.push_back(OrderColumn{"_recno", false, OrderColumn::kRecnoValue});
  BuildSelectList();
}

RecordSource::~RecordSource() {
  statements_.clear();
  named_statements_.clear();
  if (!cleanup_sql_.empty()) sqlite3_exec(db_, cleanup_sql_.c_str(), nullptr, nullptr, nullptr);
}

void RecordSource::BuildSelectList() {
  select_list_ = "_recno";
  for (const std::string& c : columns_) select_list_ += ", " + c;
  for (const std::string& c : hidden_) select_list_ += ", " + c;
}

void RecordSource::SetCondition(std::string condition, std::vector<Value> values) {
  condition_ = std::move(condition);
  condition_values_ = std::move(values);
  statements_.clear();
  named_statements_.clear();
}

void RecordSource::BindCondition(sqlite3_stmt* stmt) const {
  BindConditionValues(stmt, condition_values_);
}

void RecordSource::SetNaturalOrder(const std::vector<std::pair<std::string, bool>>& columns) {
  natural_order_.clear();
  hidden_.clear();
  for (const auto& [sql, descending] : columns) {
    OrderColumn column{sql, descending, 0};
    column.value_index = static_cast<int>(columns_.size() + hidden_.size());
    hidden_.push_back(sql);
    natural_order_.push_back(column);
  }
  natural_order_.push_back(OrderColumn{"_recno", false, OrderColumn::kRecnoValue});
  BuildSelectList();
  statements_.clear();
  named_statements_.clear();
}

sqlite3_stmt* RecordSource::Statement(uint64_t key, const std::function<std::string()>& make_sql) {
  auto it = statements_.find(key);
  if (it == statements_.end()) it = statements_.emplace(key, Prepare(db_, make_sql(), path_)).first;
  return it->second.get();
}

sqlite3_stmt* RecordSource::Statement(const std::string& key,
                                      const std::function<std::string()>& make_sql) {
  auto it = named_statements_.find(key);
  if (it == named_statements_.end()) {
    it = named_statements_.emplace(key, Prepare(db_, make_sql(), path_)).first;
  }
  return it->second.get();
}

}  // namespace isam
