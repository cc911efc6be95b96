#include "app/practice/change_report.h"

#include <strings.h>

#include <algorithm>
#include <vector>

#include "app/practice/practice_folder.h"
#include "isam/table_files.h"

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

struct TableChanges {
  std::string name;
  const isam::TableFileReader* before = nullptr;
  std::string before_path;
  const isam::TableFileReader* after = nullptr;
  std::string after_path;
  int added = 0;
  int removed = 0;
  int changed_fields = 0;
  int changed_records = 0;
};

using ChangeSink = std::function<void(const FieldChange&)>;

// Reports the lines of one table and counts its changes.
void CompareTable(TableChanges& table, const ChangeSink& each) {
  isam::TableFileRecords before(table.before, table.before_path);
  isam::TableFileRecords after(table.after, table.after_path);
  // The fields of the report: the earlier copy's, then those only the later one has; the key is
  // the PRIMARY index of the later copy, else of the earlier one.
  std::vector<std::string> fields = before.FieldNames();
  for (const std::string& field : after.FieldNames()) {
    if (!before.HasField(field)) fields.push_back(field);
  }
  size_t key_start = fields.size();
  std::vector<std::string> key_fields = (table.after ? after : before).PrimaryKeyFields();
  fields.insert(fields.end(), key_fields.begin(), key_fields.end());
  before.UseFields(fields);
  after.UseFields(fields);

  auto line = [&](const isam::TableFileRecords& side, const std::string& field,
                  const std::string& old_text, const std::string& new_text) {
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
      ++table.removed;
      before.Next();
    } else if (before.AtEnd() || after.RecordNumber() < before.RecordNumber()) {
      line(after, "", "", "added");
      ++table.added;
      after.Next();
    } else {
      int changed = 0;
      for (size_t i = 0; i < key_start; ++i) {
        if (before.SameValue(after, i)) continue;
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
    out << "# " << table.name << ": " << table.added << " added, " << table.removed << " removed, "
        << table.changed_fields << " changed fields in " << table.changed_records << " records"
        << kLineEnd;
  }
}

}  // namespace app
