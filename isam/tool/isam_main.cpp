// The isam tool: looks into table files from the command line, makes them and fills them.
//   isam info TABLE_FILE
//   isam dump TABLE_FILE [--index NAME]
//   isam sql FOLDER STATEMENT [--date NAME=MM/DD/YYYY] [--param NAME=TEXT]
//   isam create TABLE_FILE --field "NAME TYPE" ... [--index "NAME=FIELD;FIELD"] ...
//   isam import TABLE_FILE CSV_FILE
//   isam export TABLE_FILE [--index NAME]
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>
#include <vector>

#include "isam/codepage.h"
#include "isam/failure.h"
#include "isam/file_lookup.h"
#include "isam/sql_parser.h"
#include "isam/tool/table_import.h"
#include "isam/tool/table_printer.h"

namespace {

using isam::tool::Check;

// A table opened through a connection to its folder, closed on scope exit.
class OpenTable {
 public:
  OpenTable(const std::string& file, uint32_t open_mode) {
    std::string path = isam::NormalisePath(file);
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    Check(IsamConnect(folder.c_str(), &connection_));
    Check(IsamOpenTable(connection_, name.c_str(), nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                        ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, open_mode, &table_));
  }
  ~OpenTable() {
    if (connection_) IsamDisconnect(connection_);
  }
  OpenTable(const OpenTable&) = delete;
  OpenTable& operator=(const OpenTable&) = delete;
  IsamHandle connection() const { return connection_; }
  IsamHandle table() const { return table_; }

 private:
  IsamHandle connection_ = 0;
  IsamHandle table_ = 0;
};

// Sets every parameter of the statement whose name (or position from 1) was given a value.
void BindParameters(IsamHandle statement, const std::string& text,
                    const std::vector<std::string>& dates, const std::vector<std::string>& params) {
  uint16_t count = 0;
  std::vector<char> names(65535);
  uint16_t length = static_cast<uint16_t>(names.size());
  Check(IsamGetSQLStmtParams(statement, text.c_str(), &count, names.data(), &length));
  std::vector<std::string> order;
  std::string all(names.data(), length);
  for (size_t pos = 0; count > 0;) {
    size_t semi = all.find(';', pos);
    order.push_back(all.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos));
    if (semi == std::string::npos) break;
    pos = semi + 1;
  }
  std::vector<bool> set(order.size(), false);
  auto apply = [&](const std::string& assignment, bool is_date) {
    size_t eq = assignment.find('=');
    if (eq == std::string::npos) {
      throw isam::tool::ToolError{"'" + assignment + "' is not NAME=VALUE"};
    }
    std::string name = assignment.substr(0, eq), value = assignment.substr(eq + 1);
    bool matched = false;
    for (size_t i = 0; i < order.size(); ++i) {
      if (order[i] != name && std::to_string(i + 1) != name) continue;
      matched = true;
      set[i] = true;
      auto position = static_cast<uint16_t>(i + 1);
      if (is_date) {
        int32_t julian = 0;
        Check(IsamConvertStringToJulian(value.c_str(), &julian));
        Check(IsamSetJulian(statement, position, julian));
      } else {
        Check(IsamSetString(statement, position, value.c_str()));
      }
    }
    if (!matched) throw isam::tool::ToolError{"the statement has no parameter '" + name + "'"};
  };
  for (const std::string& d : dates) apply(d, true);
  for (const std::string& p : params) apply(p, false);
  for (size_t i = 0; i < order.size(); ++i) {
    if (!set[i]) {
      throw isam::tool::ToolError{"no value given for the parameter '" +
                                  (order[i].empty() ? std::to_string(i + 1) : order[i]) + "'"};
    }
  }
}

void RunSql(const std::string& folder, const std::string& text,
            const std::vector<std::string>& dates, const std::vector<std::string>& params) {
  // Only a SELECT is run: a change must not happen before the tool says it prints nothing.
  try {
    if (isam::sql::Parse(text).kind != isam::sql::Statement::Kind::kSelect) {
      throw isam::tool::ToolError{"isam sql runs SELECT statements only"};
    }
  } catch (const isam::Failure& failure) {
    throw isam::tool::ToolError{failure.what()};
  }
  IsamHandle connection = 0;
  Check(IsamSetDateFormat("MM/DD/CCYY"));
  Check(IsamConnect(folder.c_str(), &connection));
  struct Disconnect {
    IsamHandle handle;
    ~Disconnect() { IsamDisconnect(handle); }
  } disconnect{connection};
  IsamHandle statement = 0;
  Check(IsamCreateSQLStatement(connection, &statement));
  Check(IsamPrepareSQL(statement, text.c_str()));
  BindParameters(statement, text, dates, params);
  IsamHandle cursor = 0;
  Check(IsamExecuteSQL(statement, &cursor));
  if (cursor == 0) throw isam::tool::ToolError{"the statement gives no rows; isam sql runs SELECT"};
  isam::tool::PrintCsv(cursor, cursor, true, std::cout);
}

// The definitions as the engine takes them: the command line's UTF-8 in Windows-1252.
void CreateTable(const std::string& file, const std::vector<std::string>& fields,
                 const std::vector<std::string>& indexes) {
  auto engine_texts = [](const std::vector<std::string>& texts) {
    std::vector<std::string> out;
    for (const std::string& t : texts) out.push_back(isam::AnsiFromUtf8(t));
    return out;
  };
  std::vector<std::string> field_texts = engine_texts(fields);
  std::vector<std::string> index_texts = engine_texts(indexes);
  std::vector<const char*> field_ptrs, index_ptrs;
  for (const std::string& t : field_texts) field_ptrs.push_back(t.c_str());
  for (const std::string& t : index_texts) index_ptrs.push_back(t.c_str());
  if (field_ptrs.size() > UINT16_MAX || index_ptrs.size() > UINT16_MAX) {
    throw isam::tool::ToolError{"too many fields or indexes"};
  }
  Check(IsamCreateTable(file.c_str(), static_cast<uint16_t>(field_ptrs.size()), field_ptrs.data(),
                        static_cast<uint16_t>(index_ptrs.size()), index_ptrs.data()));
}

void PrintRecords(const OpenTable& table, const std::string& index) {
  IsamHandle order = table.table();
  if (!index.empty()) Check(IsamGetIndexHandle(table.table(), index.c_str(), &order));
  uint32_t count = 0;
  Check(IsamGetRecordCount(order, ISAM_COUNT_IGNORE_FILTERS, &count));
  isam::tool::ProgressBar progress("exporting", count);
  isam::tool::PrintCsv(table.table(), order, false, std::cout, &progress);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Looks into the table files of the table engine."};
  app.require_subcommand(1);
  std::string file, index;
  CLI::App* info = app.add_subcommand("info", "Print the fields and indexes of a table");
  info->add_option("TABLE_FILE", file, "The table file")->required();
  CLI::App* dump = app.add_subcommand("dump", "Print the records of a table as CSV");
  dump->add_option("TABLE_FILE", file, "The table file")->required();
  dump->add_option("--index", index, "Print in the order of this index");
  CLI::App* exporter = app.add_subcommand("export", "Write the records of a table as CSV, as dump");
  exporter->add_option("TABLE_FILE", file, "The table file")->required();
  exporter->add_option("--index", index, "Write in the order of this index");
  std::vector<std::string> fields, indexes;
  CLI::App* create = app.add_subcommand("create", "Make a new, empty table file");
  create->add_option("TABLE_FILE", file, "The table file")->required();
  create->add_option("--field", fields, "A field: \"NAME TYPE\", e.g. \"Amount NUMERIC(10,2)\"")
      ->allow_extra_args(false);
  create->add_option("--index", indexes, "An index: \"NAME=FIELD;FIELD\"")->allow_extra_args(false);
  std::string csv;
  CLI::App* import = app.add_subcommand("import", "Append the records of a CSV file to a table");
  import->add_option("TABLE_FILE", file, "The table file")->required();
  import->add_option("CSV_FILE", csv, "The CSV file, with a header line of field names")
      ->required();
  std::string folder, text;
  std::vector<std::string> dates, params;
  CLI::App* sql = app.add_subcommand("sql", "Run a SELECT statement and print its rows as CSV");
  sql->add_option("FOLDER", folder, "The folder of the tables")->required();
  sql->add_option("STATEMENT", text, "The SELECT statement")->required();
  sql->add_option("--date", dates, "A date parameter: NAME=MM/DD/YYYY");
  sql->add_option("--param", params, "A parameter: NAME=TEXT");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;  // every error of the tool exits 1
  }
  try {
    std::ios::sync_with_stdio(false);
    if (sql->parsed()) {
      RunSql(folder, text, dates, params);
      std::cout.flush();
      return 0;
    }
    if (create->parsed()) {
      CreateTable(file, fields, indexes);
      return 0;
    }
    if (import->parsed()) {
      OpenTable table(file, ISAM_OPEN_SHARED);
      uint64_t count = isam::tool::ImportCsv(table.connection(), table.table(), csv);
      std::cout << "imported " << count << " records into " << file << "\n";
      std::cout.flush();
      return 0;
    }
    OpenTable table(file, ISAM_OPEN_READ_ONLY);
    if (info->parsed()) {
      isam::tool::PrintInfo(table.table(), std::cout);
    } else {
      PrintRecords(table, index);
    }
    std::cout.flush();
  } catch (const isam::tool::ToolError& e) {
    std::cerr << "isam: " << e.message << "\n";
    return 1;
  } catch (const std::exception& e) {  // a read the system refused half way, memory run out
    std::cerr << "isam: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
