// The isam tool: looks into table files from the command line.
//   isam info TABLE_FILE
//   isam dump TABLE_FILE [--index NAME]
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "isam/file_lookup.h"
#include "isam/tool/table_printer.h"

namespace {

using isam::tool::Check;

// A table opened read-only through a connection to its folder, closed on scope exit.
class OpenTable {
 public:
  explicit OpenTable(const std::string& file) {
    std::string path = isam::NormalisePath(file);
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    Check(IsamConnect(folder.c_str(), &connection_));
    Check(IsamOpenTable(connection_, name.c_str(), nullptr, 3, 1, 1, 1, ISAM_OPEN_READ_ONLY, &table_));
  }
  ~OpenTable() {
    if (connection_) IsamDisconnect(connection_);
  }
  OpenTable(const OpenTable&) = delete;
  OpenTable& operator=(const OpenTable&) = delete;
  IsamHandle table() const { return table_; }

 private:
  IsamHandle connection_ = 0;
  IsamHandle table_ = 0;
};

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
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  try {
    OpenTable table(file);
    std::ios::sync_with_stdio(false);
    if (info->parsed()) {
      isam::tool::PrintInfo(table.table(), std::cout);
    } else {
      IsamHandle order = table.table();
      if (!index.empty()) Check(IsamGetIndexHandle(table.table(), index.c_str(), &order));
      isam::tool::PrintCsv(table.table(), order, false, std::cout);
    }
    std::cout.flush();
  } catch (const isam::tool::ToolError& e) {
    std::cerr << "isam: " << e.message << "\n";
    return 1;
  }
  return 0;
}
