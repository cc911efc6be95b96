// The money value of the practice's amounts: a signed 64-bit count of ten-thousandths of the
// money unit. Amounts are stored as floating-point numbers; they are read by rounding the stored
// value times 10 000 to the nearest integer (ties to even), added, subtracted and compared
// exactly, and written back as the count divided by 10 000.
#ifndef RIVENOAK_DATA_MONEY_H_
#define RIVENOAK_DATA_MONEY_H_

#include <compare>
#include <cstdint>
#include <string>

namespace data {

class Money {
 public:
  constexpr Money() = default;
  static constexpr Money FromCount(int64_t count) { return Money(count); }
  // Throws EOverflow-like data::Exception when the value does not fit.
  static Money FromDouble(double value);

  constexpr int64_t count() const { return count_; }
  double ToDouble() const { return static_cast<double>(count_) / 10000.0; }
  std::string ToString() const;  // "-12.3456" with as many decimals as it needs, at least two

  Money operator+(Money other) const;
  Money operator-(Money other) const;
  Money operator-() const;
  Money& operator+=(Money other) { return *this = *this + other; }
  Money& operator-=(Money other) { return *this = *this - other; }
  constexpr auto operator<=>(const Money&) const = default;

 private:
  constexpr explicit Money(int64_t count) : count_(count) {}
  int64_t count_ = 0;
};

}  // namespace data

#endif  // RIVENOAK_DATA_MONEY_H_
