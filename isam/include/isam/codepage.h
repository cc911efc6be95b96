// Texts are single-byte Windows-1252 in the engine's interface and in record images, and UTF-8
// in the files, so that other programs read the tables as ordinary text.
#ifndef RIVENOAK_ISAM_CODEPAGE_H_
#define RIVENOAK_ISAM_CODEPAGE_H_

#include <string>
#include <string_view>

namespace isam {

std::string Utf8FromAnsi(const std::string& ansi);
// Characters that Windows-1252 cannot hold become '?'; malformed UTF-8 bytes are taken as
// Windows-1252 bytes, so that nothing is dropped.
std::string AnsiFromUtf8(const std::string& utf8);
// Plain ASCII is the same bytes in both.
bool IsAscii(std::string_view text);

}  // namespace isam

#endif  // RIVENOAK_ISAM_CODEPAGE_H_
