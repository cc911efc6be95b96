// Reading and casing of text shared by the table engine and the layers above it: upper case as
// the C library gives it, whole numbers and decimals written as text, and runs of digits inside
// a longer text.
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

}  // namespace common

#endif  // RIVENOAK_COMMON_TEXT_H_
