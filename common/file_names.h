// Names that come from data and end up in file names or on a terminal. What a practice folder, a
// restore's staging folder, a backup's manifest or the practice list holds is data written by
// whoever could write those files; it names a file only through the rules here:
// - a table or log name read from such a file is used only when it is a plain file name (one
//   component, no separators, no "." or "..", no control characters), and so stays inside the
//   folder it is joined to;
// - a Dataset Name becomes part of a file name only through SafeFileNames, which keeps letters,
//   digits and a few harmless marks, replaces the rest with '_', and makes each name of a list
//   unique without regard to letter case;
// - a name printed on a line has its control characters escaped, so that it cannot end the line
//   or forge another one.
#ifndef RIVENOAK_COMMON_FILE_NAMES_H_
#define RIVENOAK_COMMON_FILE_NAMES_H_

#include <string>
#include <string_view>
#include <vector>

namespace common {

// Whether `name` is one plain file name: not empty, not "." or "..", no '/' or '\\', no byte
// below 0x20 or 0x7f, at most 255 bytes.
bool IsPlainFileName(std::string_view name);

// A plain file name made from `name`: ASCII letters and digits, blanks and the marks
// . _ - ( ) & , + ' kept, every other byte '_' (bytes from 0x80 up among them); blanks and dots
// taken off both ends (no hidden file, nothing Windows would cut off); a Windows device name (CON,
// NUL, COM1, ...) given a leading '_'; at most 100 bytes; "practice" for a name that leaves
// nothing.
std::string SafeFileName(std::string_view name);

// SafeFileName of each of `names`, in order, made unique without regard to ASCII letter case:
// the second "Dup" becomes "Dup-2", and so on, never a name another entry has already.
std::vector<std::string> SafeFileNames(const std::vector<std::string>& names);

// `text` with its control characters written out: \n, \r, \t, \\ and \xHH for the other bytes
// below 0x20 and 0x7f. Bytes from 0x80 up are passed on as they are.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace common

#endif  // RIVENOAK_COMMON_FILE_NAMES_H_
