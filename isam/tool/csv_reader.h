// Reading CSV text as RFC 4180 writes it: fields separated by commas, records by line breaks
// (CRLF, LF or a lone CR); a field in double quotes may hold commas, line breaks and quotes
// written twice. A line with nothing on it holds no record. Each record comes with the physical
// line where it starts, so that a message can point into the file.
#ifndef RIVENOAK_ISAM_TOOL_CSV_READER_H_
#define RIVENOAK_ISAM_TOOL_CSV_READER_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace isam::tool {

struct CsvRecord {
  std::vector<std::string> fields;
  uint64_t line = 0;  // the physical line where the record starts, from 1
};

// Text that is not CSV: the line where its record starts and the field's position from 1.
struct CsvError {
  std::string message;
  uint64_t line = 0;
  size_t column = 0;
};

class CsvReader {
 public:
  // Reads from the stream's current position; lines count from 1 there.
  explicit CsvReader(std::istream& in);

  // The next record; false at the end of the text. Throws CsvError on a quoted field that is
  // never closed or that has more than a separator after its closing quote.
  bool Next(CsvRecord* record);

  // Bytes read so far.
  uint64_t offset() const { return offset_; }

 private:
  int Get();
  int Peek();
  // Takes the line break that starts with c (already read): a CR takes an LF after it.
  void EndLine(int c, std::string* kept);

  std::streambuf* buffer_;
  uint64_t line_ = 1;
  uint64_t offset_ = 0;
};

// kUtf16 is recognised only to be refused: the reader takes text in one byte per character or
// in UTF-8.
enum class TextEncoding { kUtf8, kWindows1252, kUtf16 };

// How a CSV file's text is written: UTF-16 when it starts with a UTF-16 byte-order mark (either
// byte order) or its first line has a NUL in every other byte (UTF-16 without a mark, as the
// header's Latin letters come out); UTF-8 when it starts with a UTF-8 byte-order mark or when
// all of it is valid UTF-8; else Windows-1252. Reads the stream from its start and leaves it on
// the first byte after a UTF-8 mark (at the start otherwise).
TextEncoding ReadEncoding(std::istream& in);

}  // namespace isam::tool

#endif  // RIVENOAK_ISAM_TOOL_CSV_READER_H_
