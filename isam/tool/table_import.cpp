#include "isam/tool/table_import.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "isam/codepage.h"
#include "isam/failure.h"
#include "isam/field.h"
#include "isam/tool/csv_reader.h"
#include "isam/tool/table_printer.h"

namespace isam::tool {
namespace {

// Dates as isam dump writes them; YYYY-MM-DD is read in every format.
constexpr char kDateFormat[] = "MM/DD/CCYY";

// A column of the CSV file and the field it fills (none for the record-number column).
struct Target {
  std::string name;  // as the header gives it, in UTF-8
  uint16_t field = 0;
  FieldDef def;
};

// Stops the import with a message that names the place in the CSV file.
[[noreturn]] void Refuse(uint64_t line, size_t column, const std::vector<Target>& targets,
                         const std::string& why) {
  std::string place = "line " + std::to_string(line);
  if (column > 0) {
    place += ", column " + std::to_string(column);
    if (column <= targets.size()) place += " (" + targets[column - 1].name + ")";
  }
  throw ToolError{place + ": " + why};
}

// Like Check, with the engine's text placed in the CSV file.
void CheckAt(IsamResult rc, uint64_t line, size_t column, const std::vector<Target>& targets) {
  try {
    Check(rc);
  } catch (const ToolError& e) {
    Refuse(line, column, targets, Utf8FromAnsi(e.message));
  }
}

std::string TableTitle(IsamHandle table) {
  char path[1024];
  uint16_t length = sizeof path;
  Check(IsamGetTableName(table, path, &length));
  std::string title(path, length);
  return title.substr(title.find_last_of('/') + 1);
}

// The CSV file being imported: how its text is written and which fields its columns fill.
class CsvFile {
 public:
  CsvFile(const std::string& path, IsamHandle table) : in_(path, std::ios::binary) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
      throw ToolError{path + " is a folder, not a file"};
    if (!in_) throw ToolError{"cannot read " + path};
    in_.seekg(0, std::ios::end);
    size_ = static_cast<uint64_t>(in_.tellg());
    encoding_ = ReadEncoding(in_);
    if (encoding_ == TextEncoding::kUtf16) {
      throw ToolError{path +
                      " is written in UTF-16, which isam import does not read; nothing was "
                      "imported. Save the file as UTF-8 or Windows-1252 and import it again"};
    }
    start_ = static_cast<uint64_t>(in_.tellg());
    CsvReader reader(in_);
    CsvRecord header;
    try {
      if (!reader.Next(&header)) throw ToolError{path + " holds no header line of field names"};
    } catch (const CsvError& e) {
      Refuse(e.line, e.column, targets_, e.message);
    }
    MapHeader(header, table);
  }

  const std::vector<Target>& targets() const { return targets_; }

  // Calls each(record) for every record after the header, each with a value for every column.
  template <typename Each>
  void ForEachRecord(const char* label, Each each) {
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(start_));
    CsvReader reader(in_);
    ProgressBar bar(label, size_);
    CsvRecord record;
    try {
      reader.Next(&record);
      while (reader.Next(&record)) {
        size_t have = record.fields.size();
        if (have != targets_.size()) {
          Refuse(record.line, std::min(have, targets_.size()) + 1, targets_,
                 "the line has " + std::to_string(have) + (have == 1 ? " value" : " values") +
                     " where the header has " + std::to_string(targets_.size()));
        }
        each(record);
        bar.Update(start_ + reader.offset());
      }
    } catch (const CsvError& e) {
      Refuse(e.line, e.column, targets_, e.message);
    }
  }

  // The value of a column as the engine takes it, in Windows-1252.
  std::string EngineText(const CsvRecord& record, size_t column) const {
    const std::string& text = record.fields[column];
    if (text.find('\0') != std::string::npos) {
      Refuse(record.line, column + 1, targets_, "the value holds a NUL byte");
    }
    if (encoding_ == TextEncoding::kWindows1252) return text;
    std::string ansi = AnsiFromUtf8(text);
    if (ansi.size() != text.size() && Utf8FromAnsi(ansi) != text) {
      Refuse(record.line, column + 1, targets_,
             "'" + text + "' holds a character that Windows-1252 has no place for");
    }
    return ansi;
  }

  // A text of the file, for a message.
  std::string Utf8(const std::string& text) const {
    return encoding_ == TextEncoding::kUtf8 ? text : Utf8FromAnsi(text);
  }

 private:
  void MapHeader(const CsvRecord& header, IsamHandle table) {
    std::vector<Column> columns = Columns(table);
    const std::vector<std::string>& names = header.fields;
    uint16_t found = 0;
    // "recno" is a field's name only when the table has such a field and no other column has it.
    bool leading_recno =
        names[0] == "recno" && (IsamGetFieldNum(table, "recno", &found) != ISAM_SUCCESS ||
                                std::count(names.begin() + 1, names.end(), "recno") > 0);
    std::set<uint16_t> seen;
    for (size_t i = 0; i < names.size(); ++i) {
      targets_.push_back(Target{Utf8(names[i]), 0, FieldDef{}});
      if (i == 0 && leading_recno) continue;
      uint16_t field = 0;
      if (IsamGetFieldNum(table, EngineText(header, i).c_str(), &field) != ISAM_SUCCESS) {
        Refuse(header.line, i + 1, targets_, TableTitle(table) + " has no field of that name");
      }
      if (!seen.insert(field).second) {
        Refuse(header.line, i + 1, targets_, "the field is named by an earlier column too");
      }
      const Column& c = columns[field - 1u];
      targets_.back().field = field;
      targets_.back().def = FieldDef{Utf8FromAnsi(c.name), "", c.type, c.length, c.decimals, 0};
    }
  }

  std::ifstream in_;
  uint64_t size_ = 0;
  uint64_t start_ = 0;  // after the byte-order mark, if any
  TextEncoding encoding_ = TextEncoding::kUtf8;
  std::vector<Target> targets_;
};

// Refuses what the engine would refuse for the field, and logicals other than a single T, F, Y,
// N, 1 or 0 (the engine looks at the first letter only).
void CheckValue(const CsvFile& file, const CsvRecord& record, size_t column,
                const DateFormat& format, const std::string& title) {
  const Target& target = file.targets()[column];
  std::string text = file.EngineText(record, column);
  if (target.def.type == ISAM_LOGICAL) {
    size_t first = text.find_first_not_of(' ');
    if (first != text.find_last_not_of(' ') ||
        (first != std::string::npos && !std::strchr("TtFfYyNn10", text[first]))) {
      Refuse(record.line, column + 1, file.targets(),
             "'" + file.Utf8(record.fields[column]) + "' is not a logical (T, F, Y, N, 1 or 0)");
    }
  }
  try {
    StoredFromText(target.def, text, format, title);
  } catch (const Failure& failure) {
    Refuse(record.line, column + 1, file.targets(), Utf8FromAnsi(failure.what()));
  }
}

// The connection's transaction, rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(IsamHandle connection) : connection_(connection) {
    Check(IsamBeginTransaction(connection_));
  }
  ~Transaction() {
    if (!committed_) IsamRollbackTransaction(connection_);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit() {
    Check(IsamCommitTransaction(connection_));
    committed_ = true;
  }

 private:
  IsamHandle connection_;
  bool committed_ = false;
};

}  // namespace

uint64_t ImportCsv(IsamHandle connection, IsamHandle table, const std::string& csv_path) {
  Check(IsamSetDateFormat(kDateFormat));
  const DateFormat format = *DateFormat::Parse(kDateFormat);
  const std::string title = TableTitle(table);
  CsvFile file(csv_path, table);
  const std::vector<Target>& targets = file.targets();

  // Nothing is written before every value is known to fit, so that a refused file leaves the
  // table file exactly as it was.
  file.ForEachRecord("checking", [&](const CsvRecord& record) {
    for (size_t i = 0; i < targets.size(); ++i) {
      if (targets[i].field && !record.fields[i].empty()) {
        CheckValue(file, record, i, format, title);
      }
    }
  });

  Transaction transaction(connection);
  uint64_t count = 0;
  file.ForEachRecord("importing", [&](const CsvRecord& record) {
    CheckAt(IsamAppendRecord(table), record.line, 0, targets);
    for (size_t i = 0; i < targets.size(); ++i) {
      if (!targets[i].field || record.fields[i].empty()) continue;
      CheckAt(IsamSetField(table, targets[i].field, file.EngineText(record, i).c_str()),
              record.line, i + 1, targets);
    }
    CheckAt(IsamWriteRecord(table), record.line, 0, targets);
    ++count;
  });
  transaction.Commit();
  return count;
}

}  // namespace isam::tool
