#include "data/money.h"

#include <cfenv>
#include <charconv>
#include <cmath>

#include "data/errors.h"

namespace data {

Money Money::FromDouble(double value) {
  // The product is formed in extended precision, so that a stored amount such as 0.145 becomes
  // the count its decimal text names rather than one off from binary rounding.
  long double scaled = static_cast<long double>(value) * 10000.0L;
  long double rounded = std::nearbyintl(scaled);
  // The counts of a signed 64-bit integer run from -2^63 to 2^63 - 1.
  if (!std::isfinite(scaled) || rounded >= 9223372036854775808.0L ||
      rounded < -9223372036854775808.0L) {
    // The shortest text that reads back as the value: 1e+300 rather than 301 digits.
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    throw Exception("Floating point overflow: " + std::string(text, end) + " is not a money value");
  }
  return Money(static_cast<int64_t>(rounded));
}

Money Money::operator+(Money other) const {
  int64_t sum = 0;
  if (__builtin_add_overflow(count_, other.count_, &sum)) {
    throw Exception("Money overflow in addition");
  }
  return Money(sum);
}

Money Money::operator-(Money other) const {
  int64_t difference = 0;
  if (__builtin_sub_overflow(count_, other.count_, &difference)) {
    throw Exception("Money overflow in subtraction");
  }
  return Money(difference);
}

Money Money::operator-() const {
  return Money(0) - *this;
}

std::string Money::ToString() const {
  uint64_t magnitude =
      count_ < 0 ? 0 - static_cast<uint64_t>(count_) : static_cast<uint64_t>(count_);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  while (fraction.size() > 2 && fraction.back() == '0') fraction.pop_back();
  return (count_ < 0 ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

}  // namespace data
