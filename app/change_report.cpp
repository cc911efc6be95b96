#include "app/change_report.h"

#include <strings.h>

#include <algorithm>
#include <vector>

#include "app/practice_copy.h"
#include "isam/calendar.h"
#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"
#include "isam/schema.h"
#include "isam/value.h"

namespace app {
namespace {

constexpr char kLineEnd[] = "\r\n";  // CSV lines end so (RFC 4180), as the isam tool's do

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

// A value as `isam dump` writes it: logicals T or F, dates MM/DD/YYYY, numbers in the shortest
// form that reads back to the same value, empty values as nothing.
std::string DumpText(const isam::FieldDef& field, const isam::Value& stored) {
  static const isam::DateFormat kDates = *isam::DateFormat::Parse("MM/DD/YYYY");
  if (isam::IsEmptyStored(field, stored)) return "";
  std::string text = isam::Utf8FromAnsi(isam::TextFromStored(field, stored, kDates, 0));
  if (field.type != ISAM_NUMERIC) return text;
  try {
    return isam::ShortestNumberText(std::stod(text));
  } catch (const std::exception&) {
    return text;  // a value that is no number, written by another program
  }
}

// One copy's side of a table: its records in record-number order, read one at a time, with the
// fields of the report (by name) looked up in its own layout. A table missing from the copy is a
// side without records.
class TableSide {
 public:
  TableSide(const TableReader* reader, const std::string& path) {
    if (!reader) return;
    schema_ = isam::ReadSchema(reader->db(), "main", path);
    stmt_ = isam::Prepare(reader->db(), "SELECT * FROM records ORDER BY _recno", path);
    path_ = path;
  }

  const isam::TableSchema& schema() const { return schema_; }

  // Chooses, by name, the fields that Stored and Text take by number.
  void UseFields(const std::vector<std::string>& names) {
    for (const std::string& name : names) columns_.push_back(schema_.FindField(name));
  }

  // Moves to the next record; false at the end.
  bool Next() {
    if (!stmt_) return false;
    int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) isam::FailFromSqlite(sqlite3_db_handle(stmt_.get()), rc, path_);
    stmt_.reset();
    return false;
  }
  bool AtEnd() const { return !stmt_; }
  int64_t RecordNumber() const { return sqlite3_column_int64(stmt_.get(), 0); }

  // The stored value of the chosen field `i`; NULL when this copy's table lacks the field.
  isam::Value Stored(size_t i) const {
    if (columns_[i] < 0) return std::monostate{};
    return isam::ColumnValue(stmt_.get(), columns_[i] + 1);
  }
  std::string Text(size_t i) const {
    if (columns_[i] < 0) return "";
    return DumpText(schema_.fields[static_cast<size_t>(columns_[i])], Stored(i));
  }

 private:
  isam::TableSchema schema_;
  isam::StmtPtr stmt_;
  std::string path_;
  std::vector<int> columns_;
};

struct TableChanges {
  std::string name;
  const TableReader* before = nullptr;
  std::string before_path;
  const TableReader* after = nullptr;
  std::string after_path;
  int added = 0;
  int changed_fields = 0;
  int changed_records = 0;
};

using ChangeSink = std::function<void(const FieldChange&)>;

// Reports the lines of one table and counts its changes.
void CompareTable(TableChanges& table, const ChangeSink& each) {
  TableSide before(table.before, table.before_path);
  TableSide after(table.after, table.after_path);
  // The fields of the report: the earlier copy's, then those only the later one has; the key is
  // the PRIMARY index of the later copy, else of the earlier one.
  std::vector<std::string> fields;
  for (const isam::FieldDef& field : before.schema().fields) fields.push_back(field.name);
  for (const isam::FieldDef& field : after.schema().fields) {
    if (before.schema().FindField(field.name) < 0) fields.push_back(field.name);
  }
  const isam::TableSchema& keyed = table.after ? after.schema() : before.schema();
  int primary = keyed.FindIndex("PRIMARY");
  size_t key_start = fields.size();
  if (primary >= 0) {
    for (int segment : keyed.indexes[static_cast<size_t>(primary)].segments) {
      fields.push_back(keyed.fields[static_cast<size_t>(segment)].name);
    }
  }
  before.UseFields(fields);
  after.UseFields(fields);

  auto line = [&](const TableSide& side, const std::string& field, const std::string& old_text,
                  const std::string& new_text) {
    std::string key;
    for (size_t i = key_start; i < fields.size(); ++i) {
      key += (i > key_start ? ";" : "") + side.Text(i);
    }
    each(FieldChange{table.name, side.RecordNumber(), key, field, old_text, new_text});
  };

  before.Next();
  after.Next();
  while (!before.AtEnd() || !after.AtEnd()) {
    if (after.AtEnd() || (!before.AtEnd() && before.RecordNumber() < after.RecordNumber())) {
      line(before, "", "", "removed");
      before.Next();
    } else if (before.AtEnd() || after.RecordNumber() < before.RecordNumber()) {
      line(after, "", "", "added");
      ++table.added;
      after.Next();
    } else {
      int changed = 0;
      for (size_t i = 0; i < key_start; ++i) {
        if (before.Stored(i) == after.Stored(i)) continue;
        std::string old_text = before.Text(i), new_text = after.Text(i);
        if (old_text == new_text) continue;
        line(after, fields[i], old_text, new_text);
        ++changed;
      }
      table.changed_fields += changed;
      if (changed > 0) ++table.changed_records;
      before.Next();
      after.Next();
    }
  }
}

// Compares every table of the two copies, reporting each line to `each`; the tables' counts.
std::vector<TableChanges> CompareTables(const std::string& before, const std::string& after,
                                        const ChangeSink& each) {
  std::vector<PracticeTable> old_tables = OpenTables(before);
  std::vector<PracticeTable> new_tables = OpenTables(after);
  std::vector<std::string> new_names;
  for (const PracticeTable& table : new_tables) new_names.push_back(table.name);

  std::vector<TableChanges> tables;
  auto add = [&](const PracticeTable* old_table, const PracticeTable* new_table) {
    TableChanges changes;
    changes.name = (old_table ? old_table : new_table)->name;
    if (old_table) {
      changes.before = old_table->reader.get();
      changes.before_path = before + "/" + old_table->name;
    }
    if (new_table) {
      changes.after = new_table->reader.get();
      changes.after_path = after + "/" + new_table->name;
    }
    tables.push_back(changes);
  };
  std::vector<bool> matched(new_tables.size(), false);
  for (const PracticeTable& old_table : old_tables) {
    auto found = std::find(new_names.begin(), new_names.end(), FindName(new_names, old_table.name));
    size_t i = static_cast<size_t>(found - new_names.begin());
    if (found == new_names.end() || matched[i]) {
      add(&old_table, nullptr);
    } else {
      matched[i] = true;
      add(&old_table, &new_tables[i]);
    }
  }
  for (size_t i = 0; i < new_tables.size(); ++i) {
    if (!matched[i]) add(nullptr, &new_tables[i]);
  }
  std::sort(tables.begin(), tables.end(), [](const TableChanges& a, const TableChanges& b) {
    return strcasecmp(a.name.c_str(), b.name.c_str()) < 0;
  });

  for (TableChanges& table : tables) CompareTable(table, each);
  return tables;
}

}  // namespace

void ForEachChange(const std::string& before, const std::string& after,
                   const std::function<void(const FieldChange&)>& each) {
  CompareTables(before, after, each);
}

void WriteChangeReport(const std::string& before, const std::string& after, std::ostream& out) {
  out << "table,recno,key,field,old,new" << kLineEnd;
  std::vector<TableChanges> tables = CompareTables(before, after, [&](const FieldChange& c) {
    out << CsvField(c.table) << ',' << c.recno << ',' << CsvField(c.key) << ',' << CsvField(c.field)
        << ',' << CsvField(c.old_text) << ',' << CsvField(c.new_text) << kLineEnd;
  });
  for (const TableChanges& table : tables) {
    out << "# " << table.name << ": " << table.added << " added, " << table.changed_fields
        << " changed fields in " << table.changed_records << " records" << kLineEnd;
  }
}

}  // namespace app
