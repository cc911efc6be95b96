#include "common/text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <type_traits>

namespace common {
namespace {

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  size_t b = text.find_first_not_of(' ');
  size_t e = text.find_last_not_of(' ');
  if (b == std::string_view::npos) return std::nullopt;
  const char* first = text.data() + b;
  const char* last = text.data() + e + 1;
  if (*first == '+') ++first;
  Number v{};
  auto [end, ec] = std::from_chars(first, last, v);
  if (ec != std::errc() || end != last) return std::nullopt;
  if constexpr (std::is_floating_point_v<Number>) {
    if (!std::isfinite(v)) return std::nullopt;
  }
  return v;
}

}  // namespace

char UpperCase(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::string UpperCase(std::string text) {
  for (char& c : text) c = UpperCase(c);
  return text;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  return ParseNumber<int64_t>(text);
}

std::optional<double> ParseDouble(std::string_view text) {
  return ParseNumber<double>(text);
}

DigitRun ReadDigitRun(std::string_view text, size_t* pos, size_t max_digits) {
  DigitRun run;
  while (*pos < text.size() && run.digits < max_digits &&
         std::isdigit(static_cast<unsigned char>(text[*pos]))) {
    run.value = run.value * 10 + (text[*pos] - '0');
    ++*pos;
    ++run.digits;
  }
  return run;
}

}  // namespace common
