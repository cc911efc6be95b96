#include "isam/tool/csv_reader.h"

#include <optional>
#include <string>

#include "common/text.h"

namespace isam::tool {
namespace {

constexpr int kEnd = std::char_traits<char>::eof();

bool IsLineBreak(int c) {
  return c == '\r' || c == '\n';
}

// Checks UTF-8 byte by byte: the continuation bytes still expected and the range of the next one
// (which rules out overlong forms, surrogates and code points above U+10FFFF).
class Utf8Check {
 public:
  bool Take(unsigned char b) {
    if (pending_ > 0) {
      if (b < low_ || b > high_) return false;
      --pending_;
      low_ = 0x80;
      high_ = 0xBF;
      return true;
    }
    std::optional<common::Utf8Lead> lead = common::Utf8LeadOf(b);
    if (!lead) return false;
    pending_ = lead->continuations;
    low_ = lead->low;
    high_ = lead->high;
    return true;
  }
  bool complete() const { return pending_ == 0; }

 private:
  size_t pending_ = 0;
  unsigned char low_ = 0x80;
  unsigned char high_ = 0xBF;
};

// How much of a first line without a line break is looked at.
constexpr size_t kFirstLineLimit = 1 << 16;

// The text's first line without its line feed, or its first kFirstLineLimit bytes.
std::string FirstLine(std::istream& in) {
  in.clear();
  in.seekg(0);
  std::string line;
  for (int c = in.get(); c != kEnd && c != '\n' && line.size() < kFirstLineLimit; c = in.get()) {
    line.push_back(static_cast<char>(c));
  }
  return line;
}

bool NulFromOnEveryOtherByte(const std::string& line, size_t first) {
  for (size_t i = first; i < line.size(); i += 2) {
    if (line[i] != '\0') return false;
  }
  return true;
}

// A UTF-16 byte-order mark, or the first line's characters each one byte and a NUL, in either
// order (the line ends at the line feed's own byte, so a big-endian line ends on its NUL).
bool IsUtf16(const std::string& first_line) {
  if (first_line.rfind("\xFF\xFE", 0) == 0 || first_line.rfind("\xFE\xFF", 0) == 0) return true;
  if (first_line.size() < 2 || first_line.find_first_not_of('\0') == std::string::npos) {
    return false;
  }
  return NulFromOnEveryOtherByte(first_line, 1) || NulFromOnEveryOtherByte(first_line, 0);
}

}  // namespace

CsvReader::CsvReader(std::istream& in) : buffer_(in.rdbuf()) {}

int CsvReader::Get() {
  int c = buffer_->sbumpc();
  if (c != kEnd) ++offset_;
  return c;
}

int CsvReader::Peek() {
  return buffer_->sgetc();
}

void CsvReader::EndLine(int c, std::string* kept) {
  if (kept) kept->push_back(static_cast<char>(c));
  if (c == '\r' && Peek() == '\n') {
    Get();
    if (kept) kept->push_back('\n');
  }
  ++line_;
}

bool CsvReader::Next(CsvRecord* record) {
  while (IsLineBreak(Peek())) EndLine(Get(), nullptr);
  if (Peek() == kEnd) return false;
  record->fields.clear();
  record->line = line_;
  for (;;) {
    std::string field;
    size_t column = record->fields.size() + 1;
    if (Peek() == '"') {
      Get();
      for (;;) {
        int c = Get();
        if (c == kEnd) throw CsvError{"the quoted value is never closed", record->line, column};
        if (c == '"') {
          if (Peek() != '"') break;
          Get();
          field.push_back('"');
        } else if (IsLineBreak(c)) {
          EndLine(c, &field);
        } else {
          field.push_back(static_cast<char>(c));
        }
      }
      if (Peek() != ',' && Peek() != kEnd && !IsLineBreak(Peek())) {
        throw CsvError{"text follows the closing quote of a quoted value", record->line, column};
      }
    } else {
      while (Peek() != ',' && Peek() != kEnd && !IsLineBreak(Peek())) {
        field.push_back(static_cast<char>(Get()));
      }
    }
    record->fields.push_back(std::move(field));
    int c = Get();
    if (c == ',') continue;
    if (c != kEnd) EndLine(c, nullptr);
    return true;
  }
}

TextEncoding ReadEncoding(std::istream& in) {
  if (IsUtf16(FirstLine(in))) {
    in.clear();
    in.seekg(0);
    return TextEncoding::kUtf16;
  }
  in.clear();
  in.seekg(0);
  char mark[3] = {};
  in.read(mark, sizeof mark);
  if (in.gcount() == 3 && std::string(mark, 3) == "\xEF\xBB\xBF") return TextEncoding::kUtf8;
  in.clear();
  in.seekg(0);
  Utf8Check check;
  bool valid = true;
  char chunk[1 << 16];
  while (valid && in) {
    in.read(chunk, sizeof chunk);
    for (std::streamsize i = 0; valid && i < in.gcount(); ++i) {
      valid = check.Take(static_cast<unsigned char>(chunk[i]));
    }
  }
  in.clear();
  in.seekg(0);
  return valid && check.complete() ? TextEncoding::kUtf8 : TextEncoding::kWindows1252;
}

}  // namespace isam::tool
