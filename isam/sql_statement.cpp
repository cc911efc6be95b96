#include "isam/sql_statement.h"

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/file_lookup.h"
#include "isam/isam.h"
#include "isam/registry.h"
#include "isam/sqlite/values.h"

namespace isam {
namespace {

using sql::Condition;
using sql::Operand;

[[noreturn]] void SqlError(size_t position, const std::string& what) {
  Fail(ISAM_ERR_SQL_SYNTAX, "Error 7200: " + what + " at position " + std::to_string(position));
}

int FieldOfColumn(const TableSchema& schema, const std::string& name, size_t position,
                  const std::string& table) {
  int field = schema.FindField(Utf8FromAnsi(name));
  if (field < 0) SqlError(position, "the table " + table + " has no column '" + name + "'");
  return field;
}

// A number as the text that StoredFromText reads, so that every value reaches a field through
// the same checks.
std::string TextOf(const Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&v)) return ShortestNumberText(*d);
  if (auto* s = std::get_if<std::string>(&v)) return AnsiFromUtf8(*s);
  return "";
}

std::string TrimTrailingBlanks(std::string s) {
  size_t end = s.find_last_not_of(' ');
  s.resize(end == std::string::npos ? 0 : end + 1);
  return s;
}

// Builds the SQLite condition of a statement, every value bound (see ConditionParameter).
class ConditionWriter {
 public:
  ConditionWriter(const TableSchema& schema, const std::string& table,
                  const std::vector<std::optional<ParamValue>>& parameters,
                  const std::vector<std::string>& names, const DateFormat& format)
      : schema_(schema), table_(table), parameters_(parameters), names_(names), format_(format) {}

  std::string Write(const Condition& c) {
    switch (c.kind) {
      case Condition::Kind::kAnd:
      case Condition::Kind::kOr: {
        const char* joint = c.kind == Condition::Kind::kAnd ? " AND " : " OR ";
        std::string out = "(";
        for (size_t i = 0; i < c.children.size(); ++i) {
          out += (i ? joint : "") + Write(*c.children[i]);
        }
        return out + ")";
      }
      case Condition::Kind::kNot:
        return "NOT (" + Write(*c.children[0]) + ")";
      case Condition::Kind::kIsNull:
        return "(" + Side(c.left, nullptr) + (c.negated ? " IS NOT NULL)" : " IS NULL)");
      case Condition::Kind::kCompare: {
        const FieldDef* left_field = ColumnField(c.left);
        const FieldDef* right_field = ColumnField(c.right);
        return "(" + Side(c.left, right_field) + " " + c.op + " " + Side(c.right, left_field) + ")";
      }
    }
    return "0";
  }

  // The stored form that a value takes in a field; strict for values written into the field,
  // lenient (any length, blanks trimmed) for values compared with it.
  Value ForField(const FieldDef& field, const Operand& o, bool strict) {
    Value v = o.kind == Operand::Kind::kParameter ? ParameterValue(o, &field) : o.literal;
    if (IsNull(v)) return v;
    std::string text = TextOf(v);
    try {
      if (!strict && (field.type == ISAM_TEXT || field.type == ISAM_MEMO)) {
        text = TrimTrailingBlanks(text);
        if (text.empty()) return std::monostate{};
        return Utf8FromAnsi(text);
      }
      return StoredFromText(field, text, format_, table_);
    } catch (const Failure& failure) {
      SqlError(o.position, failure.what());
    }
  }

  std::vector<Value> TakeValues() { return std::move(values_); }

 private:
  const FieldDef* ColumnField(const Operand& o) {
    if (o.kind != Operand::Kind::kColumn) return nullptr;
    return &schema_
                .fields[static_cast<size_t>(FieldOfColumn(schema_, o.column, o.position, table_))];
  }

  std::string Side(const Operand& o, const FieldDef* other) {
    if (o.kind == Operand::Kind::kColumn) {
      return QuoteIdentifier(
          schema_.fields[static_cast<size_t>(FieldOfColumn(schema_, o.column, o.position, table_))]
              .name);
    }
    Value v = other
                  ? ForField(*other, o, false)
                  : (o.kind == Operand::Kind::kParameter ? ParameterValue(o, nullptr) : o.literal);
    values_.push_back(std::move(v));
    return ConditionParameter(values_.size() - 1);
  }

 public:
  // A parameter's value; dates meeting a date or timestamp field keep whole days or the time.
  Value ParameterValue(const Operand& o, const FieldDef* field) {
    const std::optional<ParamValue>& p = parameters_[o.parameter];
    if (!p) {
      const std::string& name = names_[o.parameter];
      Fail(ISAM_ERR_SQL_PARAMETER, "Error 7201: the parameter " + std::to_string(o.parameter + 1) +
                                       (name.empty() ? "" : " (" + name + ")") + " has no value");
    }
    using Kind = ParamValue::Kind;
    bool dated = p->kind == Kind::kJulian || p->kind == Kind::kTimestamp;
    if (dated && field && field->type == ISAM_DATE) return StoredDateText(p->julian);
    if (dated && field && field->type == ISAM_TIMESTAMP) {
      return StoredTimestampText(p->julian, p->kind == Kind::kTimestamp ? p->milliseconds : 0);
    }
    switch (p->kind) {
      case Kind::kEmpty:
        return std::monostate{};
      case Kind::kString:
      case Kind::kBinary:
        return Utf8FromAnsi(p->text);
      case Kind::kJulian:
        return Utf8FromAnsi(format_.Format(p->julian));
      case Kind::kTimestamp:
        return Utf8FromAnsi(format_.Format(p->julian) + " " + TimeOfDayText(p->milliseconds));
      case Kind::kDouble:
        return p->number;
      case Kind::kLogical:
        return int64_t{p->truth ? 1 : 0};
      case Kind::kMilliseconds:
        return int64_t{p->milliseconds};
    }
    return std::monostate{};
  }

 private:
  const TableSchema& schema_;
  const std::string& table_;
  const std::vector<std::optional<ParamValue>>& parameters_;
  const std::vector<std::string>& names_;
  const DateFormat& format_;
  std::vector<Value> values_;
};

}  // namespace

void SqlStatement::Prepare(const std::string& text, const DateFormat& date_format) {
  prepared_ = false;
  parsed_ = sql::Parse(text);
  text_ = text;
  date_format_ = date_format;
  parameters_.assign(parsed_.parameter_names.size(), std::nullopt);
  rows_affected_.reset();
  // Checking the table and its columns now names a wrong one before any value is given.
  std::shared_ptr<Attachment> attachment = AttachTable();
  const TableSchema& schema = attachment->schema();
  std::string title = parsed_.table;
  for (const Operand& c : parsed_.columns) FieldOfColumn(schema, c.column, c.position, title);
  for (const sql::OrderTerm& o : parsed_.order) FieldOfColumn(schema, o.column, o.position, title);
  if (parsed_.kind == sql::Statement::Kind::kInsert && !parsed_.columns.empty() &&
      parsed_.columns.size() != parsed_.values.size()) {
    SqlError(parsed_.table_position, std::to_string(parsed_.values.size()) + " values for " +
                                         std::to_string(parsed_.columns.size()) + " columns");
  }
  if (parsed_.where) CheckConditionCompiles(*attachment);
  if (parsed_.distinct) {
    for (const sql::OrderTerm& o : parsed_.order) {
      bool selected = parsed_.all_columns;
      for (const Operand& c : parsed_.columns) {
        if (FieldOfColumn(schema, c.column, c.position, title) ==
            FieldOfColumn(schema, o.column, o.position, title)) {
          selected = true;
        }
      }
      if (!selected)
        SqlError(o.position, "ORDER BY '" + o.column + "' is not among the DISTINCT columns");
    }
  }
  prepared_ = true;
}

void SqlStatement::SetParameter(uint16_t position, ParamValue value) {
  if (!prepared_) Fail(ISAM_ERR_SQL_NOT_PREPARED, "Error 7209: the statement is not prepared");
  if (position < 1 || position > parameters_.size()) {
    Fail(ISAM_ERR_SQL_PARAMETER, "Error 7201: no parameter " + std::to_string(position) +
                                     "; the statement has " + std::to_string(parameters_.size()));
  }
  parameters_[position - 1u] = std::move(value);
}

void SqlStatement::CheckConditionCompiles(const Attachment& attachment) {
  // SQLite bounds the depth of what it compiles; a condition too large for it is refused now,
  // naming where it starts, rather than at the first move.
  std::vector<std::optional<ParamValue>> no_values(parameters_.size(), ParamValue{});
  ConditionWriter writer(attachment.schema(), parsed_.table, no_values, parsed_.parameter_names,
                         date_format_);
  std::string sql = "SELECT " + std::string(parsed_.distinct ? "DISTINCT " : "") + "_recno FROM " +
                    attachment.from() + " WHERE " + writer.Write(*parsed_.where) +
                    " ORDER BY _recno";
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(attachment.db(), sql.c_str(), -1, &stmt, nullptr);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_OK) {
    SqlError(parsed_.where_position, std::string("the condition is too large to run (") +
                                         sqlite3_errmsg(attachment.db()) + ")");
  }
}

std::shared_ptr<Attachment> SqlStatement::AttachTable() {
  std::string path;
  try {
    path = FindTableFile(connection_->folder(), parsed_.table);
  } catch (const Failure& failure) {
    SqlError(parsed_.table_position, failure.what());
  }
  bool writable = IsWritableFile(path);
  auto attachment = connection_->Attach(path, !writable);
  if (writable) attachment->EnsureRollbackJournal();
  return attachment;
}

std::unique_ptr<Table> SqlStatement::Execute() {
  if (!prepared_) Fail(ISAM_ERR_SQL_NOT_PREPARED, "Error 7209: the statement is not prepared");
  rows_affected_.reset();
  for (size_t i = 0; i < parameters_.size(); ++i) {
    if (parameters_[i]) continue;
    const std::string& name = parsed_.parameter_names[i];
    Fail(ISAM_ERR_SQL_PARAMETER, "Error 7201: the parameter " + std::to_string(i + 1) +
                                     (name.empty() ? "" : " (" + name + ")") + " has no value");
  }
  std::shared_ptr<Attachment> attachment = AttachTable();
  if (parsed_.kind == sql::Statement::Kind::kSelect) return RunSelect(attachment);
  rows_affected_ = RunChanges(attachment);
  return nullptr;
}

std::unique_ptr<Table> SqlStatement::RunSelect(const std::shared_ptr<Attachment>& attachment) {
  const TableSchema& schema = attachment->schema();
  const std::string& title = parsed_.table;
  TableSchema shown;
  std::vector<std::string> shown_sql;
  if (parsed_.all_columns) {
    shown.fields = schema.fields;
  } else {
    for (const Operand& c : parsed_.columns) {
      shown.fields.push_back(
          schema.fields[static_cast<size_t>(FieldOfColumn(schema, c.column, c.position, title))]);
    }
  }
  LayOutRecord(&shown);
  for (const FieldDef& f : shown.fields) shown_sql.push_back(QuoteIdentifier(f.name));

  ConditionWriter writer(schema, title, parameters_, parsed_.parameter_names, date_format_);
  std::string condition = parsed_.where ? writer.Write(*parsed_.where) : "";
  std::vector<std::pair<std::string, bool>> order;
  for (const sql::OrderTerm& o : parsed_.order) {
    int f = FieldOfColumn(schema, o.column, o.position, title);
    order.emplace_back(QuoteIdentifier(schema.fields[static_cast<size_t>(f)].name), o.descending);
  }

  if (!parsed_.distinct) {
    auto source = std::make_shared<RecordSource>(attachment, attachment->db(), attachment->from(),
                                                 shown, shown_sql);
    source->SetCondition(condition, writer.TakeValues());
    source->SetNaturalOrder(order);
    return std::make_unique<Table>(connection_, source, true, false);
  }

  // The rows of a static result are fixed now, in a result table of the connection's handle.
  sqlite3* db = attachment->db();
  std::string name = QuoteIdentifier("_result_" + std::to_string(connection_->NextResultId()));
  std::string columns, result_columns;
  std::vector<std::string> result_sql;
  for (size_t i = 0; i < shown_sql.size(); ++i) {
    result_sql.push_back("c" + std::to_string(i + 1));
    columns += (i ? ", " : "") + shown_sql[i];
    result_columns += (i ? ", " : "") + result_sql.back();
  }
  Exec(db,
       "CREATE TEMP TABLE " + name + " (\"_recno\" INTEGER PRIMARY KEY, " + result_columns + ")",
       attachment->path());
  auto source = std::make_shared<RecordSource>(attachment, db, "temp." + name, shown, result_sql);
  source->SetCleanup("DROP TABLE IF EXISTS temp." + name);
  std::string order_text;
  for (const auto& [sql, descending] : order) {
    order_text += (order_text.empty() ? "" : ", ") + sql + (descending ? " DESC" : "");
  }
  StmtPtr fill = isam::Prepare(db,
                               "INSERT INTO temp." + name + " (" + result_columns +
                                   ") SELECT DISTINCT " + columns + " FROM " + attachment->from() +
                                   (condition.empty() ? "" : " WHERE " + condition) +
                                   (order_text.empty() ? "" : " ORDER BY " + order_text),
                               attachment->path());
  StatementUse use(fill.get(), attachment->path());
  BindConditionValues(fill.get(), writer.TakeValues());
  use.Step();
  return std::make_unique<Table>(connection_, source, true, false);
}

int64_t SqlStatement::RunChanges(const std::shared_ptr<Attachment>& attachment) {
  const TableSchema& schema = attachment->schema();
  const std::string& title = parsed_.table;
  if (attachment->read_only()) {
    Fail(ISAM_ERR_READ_ONLY, "The table " + attachment->path() + " is read-only");
  }
  Table table(connection_, std::make_shared<RecordSource>(attachment), false, false,
              HoldForChanges(connection_->filesystem(), attachment->path()));
  ConditionWriter writer(schema, title, parameters_, parsed_.parameter_names, date_format_);

  std::vector<int64_t> targets;
  if (parsed_.kind != sql::Statement::Kind::kInsert) {
    std::string condition = parsed_.where ? writer.Write(*parsed_.where) : "1";
    StmtPtr select = isam::Prepare(
        attachment->db(), "SELECT _recno FROM " + attachment->from() + " WHERE " + condition,
        attachment->path());
    StatementUse use(select.get(), attachment->path());
    BindConditionValues(select.get(), writer.TakeValues());
    while (use.Step()) targets.push_back(sqlite3_column_int64(select.get(), 0));
  }

  // The statement's changes stand or fall together. The journal mode cannot change inside the
  // savepoint, so the file is switched before it.
  attachment->PrepareChange();
  sqlite3* db = attachment->db();
  Exec(db, "SAVEPOINT isam_statement", attachment->path());
  try {
    auto assign = [&]() {
      for (size_t i = 0; i < parsed_.values.size(); ++i) {
        int f = parsed_.columns.empty() ? static_cast<int>(i)
                                        : FieldOfColumn(schema, parsed_.columns[i].column,
                                                        parsed_.columns[i].position, title);
        if (static_cast<size_t>(f) >= schema.fields.size()) {
          SqlError(parsed_.values[i].position, "more values than the table has columns");
        }
        table.SetField(
            f, writer.ForField(schema.fields[static_cast<size_t>(f)], parsed_.values[i], true));
      }
    };
    if (parsed_.kind == sql::Statement::Kind::kInsert) {
      table.Append();
      assign();
      table.Write();
      targets.push_back(0);
    } else {
      for (int64_t recno : targets) {
        if (parsed_.kind == sql::Statement::Kind::kDelete) {
          table.Delete(recno);
          continue;
        }
        table.Lock(recno);
        table.GotoRecord(recno);
        assign();
        table.Write();
        table.Unlock(recno);
      }
    }
    Exec(db, "RELEASE isam_statement", attachment->path());
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK TO isam_statement; RELEASE isam_statement", nullptr, nullptr,
                 nullptr);
    throw;
  }
  return static_cast<int64_t>(targets.size());
}

}  // namespace isam
