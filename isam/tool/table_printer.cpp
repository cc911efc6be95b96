#include "isam/tool/table_printer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "common/text.h"
#include "isam/codepage.h"
#include "isam/field.h"

namespace isam::tool {
namespace {

const char* TypeName(uint16_t type) {
  switch (type) {
    case ISAM_LOGICAL:
      return "LOGICAL";
    case ISAM_NUMERIC:
      return "NUMERIC";
    case ISAM_DATE:
      return "DATE";
    case ISAM_TEXT:
      return "CHAR";
    case ISAM_MEMO:
      return "MEMO";
    case ISAM_DOUBLE:
      return "DOUBLE";
    case ISAM_INTEGER:
      return "INTEGER";
    case ISAM_SHORTINT:
      return "SHORTINT";
    case ISAM_TIME:
      return "TIME";
    case ISAM_TIMESTAMP:
      return "TIMESTAMP";
    case ISAM_AUTOINC:
      return "AUTOINC";
    case ISAM_MONEY:
      return "MONEY";
    default:
      return "UNKNOWN";
  }
}

std::string Text(IsamResult (*get)(IsamHandle, uint16_t, char*, uint16_t*), IsamHandle h,
                 uint16_t n) {
  char buf[1024];
  uint16_t len = sizeof buf;
  Check(get(h, n, buf, &len));
  return std::string(buf, len);
}

// The field's value as the engine gives its text, whole whatever its size: the buffer grows until
// the value fits.
std::string FieldText(IsamHandle order, uint16_t field) {
  std::vector<char> buf(256);
  for (;;) {
    auto len = static_cast<uint32_t>(buf.size());
    IsamResult rc = IsamGetField(order, field, buf.data(), &len);
    if (rc == ISAM_ERR_BUFFER_TOO_SMALL && buf.size() < (size_t{1} << 31)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    Check(rc);
    return std::string(buf.data(), len);
  }
}

// A value as dump prints it: the engine's text of it (dates in the tool's format) in UTF-8, a
// numeric field's number in its shortest plain form, not with the field's decimals.
std::string ValueText(IsamHandle order, uint16_t field, const Column& c) {
  uint16_t empty = 0;
  Check(IsamIsEmpty(order, field, &empty));
  if (empty) return "";
  std::string text = FieldText(order, field);
  if (c.type == ISAM_NUMERIC) {
    if (auto number = common::ParseDouble(text)) return ShortestNumberText(*number);
  }
  return Utf8FromAnsi(text);
}

}  // namespace

std::vector<Column> Columns(IsamHandle table) {
  uint16_t count = 0;
  Check(IsamGetNumFields(table, &count));
  std::vector<Column> columns;
  for (uint16_t i = 1; i <= count; ++i) {
    Column c;
    c.name = Text(IsamGetFieldName, table, i);
    Check(IsamGetFieldType(table, i, &c.type));
    Check(IsamGetFieldLength(table, i, &c.length));
    Check(IsamGetFieldDecimals(table, i, &c.decimals));
    columns.push_back(c);
  }
  return columns;
}

ProgressBar::ProgressBar(std::string label, uint64_t total)
    : ProgressBar(std::move(label), total, isatty(STDERR_FILENO) ? &std::cerr : nullptr) {}

ProgressBar::ProgressBar(std::string label, uint64_t total, std::ostream* out)
    : label_(std::move(label)), total_(total), out_(out) {}

ProgressBar::~ProgressBar() {
  if (out_ && shown_ >= 0) *out_ << "\n" << std::flush;
}

void ProgressBar::Update(uint64_t done) {
  if (!out_ || total_ == 0) return;
  int percent = static_cast<int>(std::min<uint64_t>(done, total_) * 100 / total_);
  if (percent == shown_) return;
  shown_ = percent;
  constexpr int kWidth = 40;
  int filled = percent * kWidth / 100;
  *out_ << '\r' << label_ << " [" << std::string(static_cast<size_t>(filled), '#')
        << std::string(static_cast<size_t>(kWidth - filled), ' ') << "] " << percent << '%'
        << std::flush;
}

void Check(IsamResult rc) {
  if (rc == ISAM_SUCCESS) return;
  uint32_t code = 0;
  char text[600];
  uint16_t len = sizeof text;
  IsamGetLastError(&code, text, &len);
  throw ToolError{std::string(text, len)};
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void PrintInfo(IsamHandle table, std::ostream& out) {
  out << "field,type,length,decimals\r\n";
  for (const Column& c : Columns(table)) {
    out << CsvField(Utf8FromAnsi(c.name)) << ',' << TypeName(c.type) << ',' << c.length << ','
        << c.decimals << "\r\n";
  }
  out << "\r\nindex,fields\r\n";
  uint16_t indexes = 0;
  Check(IsamGetNumIndexes(table, &indexes));
  for (uint16_t i = 1; i <= indexes; ++i) {
    std::string name = Text(IsamGetIndexName, table, i);
    IsamHandle index = 0;
    Check(IsamGetIndexHandle(table, name.c_str(), &index));
    uint16_t segments = 0;
    Check(IsamGetNumSegments(index, &segments));
    std::string fields;
    for (uint16_t s = 1; s <= segments; ++s) {
      if (s > 1) fields += ';';
      fields += Text(IsamGetSegmentFieldname, index, s);
    }
    out << CsvField(Utf8FromAnsi(name)) << ',' << CsvField(Utf8FromAnsi(fields)) << "\r\n";
  }
}

void PrintCsv(IsamHandle table, IsamHandle order, bool number_rows, std::ostream& out,
              ProgressBar* progress) {
  // Dates print as MM/DD/YYYY whatever the process was set to before.
  Check(IsamSetDateFormat("MM/DD/CCYY"));
  std::vector<Column> columns = Columns(table);
  out << "recno";
  for (const Column& c : columns) out << ',' << CsvField(Utf8FromAnsi(c.name));
  out << "\r\n";
  Check(IsamGotoTop(order));
  uint64_t row = 0;
  uint64_t done = 0;
  for (;;) {
    uint16_t eof = 0;
    Check(IsamAtEOF(order, &eof));
    if (eof) break;
    int64_t recno = 0;
    Check(IsamGetRecordNum(order, ISAM_RECORD_NUMBER_PHYSICAL, &recno));
    if (number_rows)
      out << ++row;
    else
      out << recno;
    for (uint16_t i = 1; i <= columns.size(); ++i) {
      out << ',' << CsvField(ValueText(order, i, columns[i - 1u]));
    }
    out << "\r\n";
    if (progress) progress->Update(++done);
    Check(IsamSkip(order, 1));
  }
}

}  // namespace isam::tool
