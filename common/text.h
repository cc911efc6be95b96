// Reading and casing of text shared by the table engine and the layers above it: upper case as
// the C library gives it, whole numbers and decimals written as text, runs of digits inside a
// longer text, and the sequences of UTF-8.
#ifndef RIVENOAK_COMMON_TEXT_H_
#define RIVENOAK_COMMON_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace common {

char UpperCase(char c);
std::string UpperCase(std::string text);

// The number a text holds, blanks around it and a leading '+' allowed; nullopt unless the whole
// text is one finite number of the type ("." for decimals, an exponent allowed in a decimal).
std::optional<int64_t> ParseInteger(std::string_view text);
std::optional<double> ParseDouble(std::string_view text);

// The decimal digits at text[*pos], at most max_digits of them, and their value; *pos moves past
// them. No digit there gives a run of none.
struct DigitRun {
  int value = 0;
  size_t digits = 0;
};
DigitRun ReadDigitRun(std::string_view text, size_t* pos, size_t max_digits);

// The first byte of a well-formed UTF-8 sequence: how many continuation bytes follow it, and the
// range the first of them must lie in (which rules out overlong forms, surrogates and code points
// past U+10FFFF). An ASCII byte has none to follow; a byte that starts no sequence (a
// continuation byte, C0, C1, F5 and up) gives nullopt.
struct Utf8Lead {
  size_t continuations = 0;
  unsigned char low = 0x80, high = 0xBF;
};
std::optional<Utf8Lead> Utf8LeadOf(unsigned char byte);

// The length of the well-formed UTF-8 sequence `text` starts with, and its code point; 0 when
// none starts there.
size_t Utf8Sequence(std::string_view text, uint32_t* code_point);

}  // namespace common

#endif  // RIVENOAK_COMMON_TEXT_H_
