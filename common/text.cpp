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

std::optional<Utf8Lead> Utf8LeadOf(unsigned char byte) {
  if (byte < 0x80) return Utf8Lead{0};
  if (byte < 0xC2 || byte > 0xF4) return std::nullopt;
  Utf8Lead lead;
  lead.continuations = byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
  if (byte == 0xE0) lead.low = 0xA0;
  if (byte == 0xF0) lead.low = 0x90;
  if (byte == 0xED) lead.high = 0x9F;
  if (byte == 0xF4) lead.high = 0x8F;
  return lead;
}

size_t Utf8Sequence(std::string_view text, uint32_t* code_point) {
  if (text.empty()) return 0;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  std::optional<Utf8Lead> lead = Utf8LeadOf(byte(0));
  if (!lead) return 0;
  size_t length = lead->continuations + 1;
  if (length == 1) {
    *code_point = byte(0);
    return 1;
  }
  if (text.size() < length || byte(1) < lead->low || byte(1) > lead->high) return 0;
  uint32_t value = byte(0) & (0x7Fu >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3Fu);
  }
  *code_point = value;
  return length;
}

}  // namespace common
