#include "data/money.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "data/errors.h"

namespace data {
namespace {

TEST(Money, FromDoubleRoundsTenThousandthsToNearest) {
  EXPECT_EQ(Money::FromDouble(12.5).count(), 125000);
  EXPECT_EQ(Money::FromDouble(0.00004).count(), 0);
  EXPECT_EQ(Money::FromDouble(0.00006).count(), 1);
  EXPECT_EQ(Money::FromDouble(-0.00006).count(), -1);
  EXPECT_EQ(Money::FromDouble(-3.14159).count(), -31416);
  // Amounts as they come from a file: the nearest double to a decimal text.
  EXPECT_EQ(Money::FromDouble(0.145).count(), 1450);
  EXPECT_EQ(Money::FromDouble(1234.5678).count(), 12345678);
  EXPECT_EQ(Money::FromDouble(0.1 + 0.2).count(), 3000);
}

TEST(Money, FromDoubleBreaksExactTiesToEven) {
  // 1/32 and 3/32 are exact in binary: times 10 000 they are exactly 312.5 and 937.5.
  EXPECT_EQ(Money::FromDouble(0.03125).count(), 312);
  EXPECT_EQ(Money::FromDouble(0.09375).count(), 938);
  EXPECT_EQ(Money::FromDouble(-0.03125).count(), -312);
  EXPECT_EQ(Money::FromDouble(-0.09375).count(), -938);
  // 0.15625 * 10 000 = 1562.5 and 0.21875 * 10 000 = 2187.5.
  EXPECT_EQ(Money::FromDouble(0.15625).count(), 1562);
  EXPECT_EQ(Money::FromDouble(0.21875).count(), 2188);
}

TEST(Money, ToDoubleDividesTheCountByTenThousand) {
  EXPECT_EQ(Money::FromCount(125000).ToDouble(), 12.5);
  EXPECT_EQ(Money::FromCount(-1).ToDouble(), -0.0001);
  EXPECT_EQ(Money::FromCount(1234567).ToDouble(), 123.4567);
  // A stored amount survives a round trip through Money.
  for (double v : {0.01, 19.99, 1234.56, -87.65, 0.0001, 99999999.9999}) {
    EXPECT_EQ(Money::FromDouble(v).ToDouble(), v) << v;
  }
}

TEST(Money, AddsSubtractsAndComparesExactly) {
  // Ten cents added ten times is exactly a unit, unlike with doubles.
  Money sum;
  for (int i = 0; i < 10; ++i) sum += Money::FromDouble(0.1);
  EXPECT_EQ(sum, Money::FromDouble(1.0));
  Money a = Money::FromDouble(100.05);
  Money b = Money::FromDouble(0.06);
  EXPECT_EQ((a - b).count(), 999900);
  EXPECT_EQ((b - a).count(), -999900);
  EXPECT_EQ((-a).count(), -1000500);
  Money c = a;
  c -= b;
  EXPECT_EQ(c.count(), 999900);
  EXPECT_LT(b, a);
  EXPECT_GT(a, b);
  EXPECT_LT(Money::FromCount(-1), Money());
  EXPECT_EQ(Money::FromDouble(0.0), Money());
  EXPECT_NE(Money::FromCount(1), Money::FromCount(2));
}

TEST(Money, OverflowRaises) {
  const int64_t max = std::numeric_limits<int64_t>::max();
  const int64_t min = std::numeric_limits<int64_t>::min();
  EXPECT_THROW(Money::FromCount(max) + Money::FromCount(1), Exception);
  EXPECT_THROW(Money::FromCount(min) - Money::FromCount(1), Exception);
  EXPECT_THROW(Money::FromCount(min) + Money::FromCount(-1), Exception);
  EXPECT_THROW(Money::FromCount(max) - Money::FromCount(-1), Exception);
  EXPECT_THROW(-Money::FromCount(min), Exception);
  Money m = Money::FromCount(max);
  EXPECT_THROW(m += Money::FromCount(1), Exception);
  EXPECT_EQ(m.count(), max);
  EXPECT_EQ((Money::FromCount(max) + Money::FromCount(min)).count(), -1);
  EXPECT_EQ((-Money::FromCount(max)).count(), -max);

  EXPECT_THROW(Money::FromDouble(1e15), Exception);
  EXPECT_THROW(Money::FromDouble(-1e15), Exception);
  EXPECT_THROW(Money::FromDouble(1e300), Exception);
  EXPECT_THROW(Money::FromDouble(std::numeric_limits<double>::infinity()), Exception);
  EXPECT_THROW(Money::FromDouble(std::numeric_limits<double>::quiet_NaN()), Exception);
}

TEST(Money, FromDoubleAcceptsValuesNearTheLimitThatFit) {
  // 922 000 000 000 000 units is 9.22e18 ten-thousandths, below 2^63 - 1 (about 9.2234e18).
  EXPECT_EQ(Money::FromDouble(922000000000000.0).count(), 9220000000000000000);
  EXPECT_EQ(Money::FromDouble(-922000000000000.0).count(), -9220000000000000000);
  EXPECT_EQ(Money::FromDouble(900000000000000.0).count(), 9000000000000000000);
}

TEST(Money, ToStringShowsAtLeastTwoDecimals) {
  EXPECT_EQ(Money::FromCount(0).ToString(), "0.00");
  EXPECT_EQ(Money::FromCount(5000).ToString(), "0.50");
  EXPECT_EQ(Money::FromCount(-5000).ToString(), "-0.50");
  EXPECT_EQ(Money::FromCount(-123456).ToString(), "-12.3456");
  EXPECT_EQ(Money::FromCount(123450).ToString(), "12.345");
  EXPECT_EQ(Money::FromCount(-1).ToString(), "-0.0001");
  EXPECT_EQ(Money::FromCount(std::numeric_limits<int64_t>::min()).ToString(),
            "-922337203685477.5808");
}

}  // namespace
}  // namespace data
