// Calendar arithmetic: Julian day numbers, the stored texts of dates, times and timestamps, and
// the date format that shows and reads dates as text.
#include "common/calendar.h"

#include <gtest/gtest.h>

namespace common {
namespace {

bool Same(CivilDate a, CivilDate b) {
  return a.year == b.year && a.month == b.month && a.day == b.day;
}

TEST(JulianDays, KnownDaysHaveTheirNumbers) {
  EXPECT_EQ(JulianFromCivil({1899, 12, 30}), 2415019);
  EXPECT_EQ(JulianFromCivil({1, 1, 1}), 1721426);
  EXPECT_EQ(JulianFromCivil({1970, 1, 1}), 2440588);
  EXPECT_EQ(JulianFromCivil({2000, 1, 1}), 2451545);
  EXPECT_TRUE(Same(CivilFromJulian(2415019), {1899, 12, 30}));
  EXPECT_TRUE(Same(CivilFromJulian(1721426), {1, 1, 1}));
  // 1900 is not a leap year, 2000 and 2024 are.
  EXPECT_EQ(JulianFromCivil({1900, 3, 1}) - JulianFromCivil({1900, 2, 28}), 1);
  EXPECT_EQ(JulianFromCivil({2000, 3, 1}) - JulianFromCivil({2000, 2, 28}), 2);
  EXPECT_EQ(JulianFromCivil({2024, 3, 1}) - JulianFromCivil({2024, 2, 28}), 2);
  EXPECT_EQ(JulianFromCivil({2001, 1, 1}) - JulianFromCivil({2000, 1, 1}), 366);
  EXPECT_EQ(JulianFromCivil({1901, 1, 1}) - JulianFromCivil({1900, 1, 1}), 365);
}

TEST(JulianDays, EveryDayFromYearOneToYear9999IsOneMoreThanTheDayBefore) {
  CivilDate day{1, 1, 1};
  int32_t julian = 1721426;
  int checked = 0;
  while (day.year <= 9999) {
    ASSERT_EQ(JulianFromCivil(day), julian) << day.year << "-" << day.month << "-" << day.day;
    ASSERT_TRUE(Same(CivilFromJulian(julian), day)) << julian;
    ++checked;
    ++julian;
    CivilDate next{day.year, day.month, day.day + 1};
    if (!IsValidCivil(next)) next = {day.year, day.month + 1, 1};
    if (!IsValidCivil(next)) next = {day.year + 1, 1, 1};
    day = next;
  }
  EXPECT_EQ(checked, 3652059);  // 9999 years of 365.2425 days
  for (CivilDate outside : {CivilDate{0, 12, 31}, CivilDate{10000, 1, 1}, CivilDate{2024, 0, 1},
                            CivilDate{2024, 13, 1}, CivilDate{2024, 1, 0}}) {
    EXPECT_FALSE(IsValidCivil(outside)) << outside.year << "-" << outside.month;
  }
}

TEST(StoredTexts, DatesTimesAndTimestampsRoundTrip) {
  EXPECT_EQ(StoredDateText(2415019), "1899-12-30");
  EXPECT_EQ(StoredDateText(1721426), "0001-01-01");
  EXPECT_EQ(ParseStoredDate("2024-02-29"), JulianFromCivil({2024, 2, 29}));
  for (const char* bad : {"2024-02-30", "2023-02-29", "2024-2-29", "2024/02/29", "2024-02-29 ", "",
                          "0000-01-01", "24-02-29"}) {
    EXPECT_FALSE(ParseStoredDate(bad).has_value()) << bad;
  }

  EXPECT_EQ(TimeOfDayText(0), "00:00:00.000");
  EXPECT_EQ(TimeOfDayText(86399999), "23:59:59.999");
  EXPECT_EQ(ParseTimeOfDay("12:34:56.789"), 45296789);
  EXPECT_EQ(ParseTimeOfDay("12:34:56"), 45296000);
  for (const char* bad : {"24:00:00", "12:60:00", "12:00:60", "12:34:56.78", "12:34:56.7890"}) {
    EXPECT_FALSE(ParseTimeOfDay(bad).has_value()) << bad;
  }

  int32_t leap_day = JulianFromCivil({2024, 2, 29});
  EXPECT_EQ(StoredTimestampText(leap_day, 45296789), "2024-02-29 12:34:56.789");
  int32_t julian = 0, ms = -1;
  ASSERT_TRUE(ParseStoredTimestamp("2024-02-29 12:34:56.789", &julian, &ms));
  EXPECT_EQ(julian, leap_day);
  EXPECT_EQ(ms, 45296789);
  ASSERT_TRUE(ParseStoredTimestamp("2024-02-29T01:00:00", &julian, &ms));
  EXPECT_EQ(ms, 3600000);
  ASSERT_TRUE(ParseStoredTimestamp("1899-12-30", &julian, &ms));
  EXPECT_EQ(julian, 2415019);
  EXPECT_EQ(ms, 0);
  for (const char* bad :
       {"2024-02-30 00:00:00.000", "2024-02-29 24:00:00", "2024-02-29x10:00:00", "2024-02-29 "}) {
    EXPECT_FALSE(ParseStoredTimestamp(bad, &julian, &ms)) << bad;
  }
}

TEST(DateFormats, RunsOfMonthDayAndYearInAnyCaseShowDates) {
  const int32_t day = JulianFromCivil({2024, 2, 9});
  const std::pair<const char*, const char*> cases[] = {
      {"MM/DD/CCYY", "02/09/2024"}, {"MM/dd/ccyy", "02/09/2024"}, {"mm/dd/yyyy", "02/09/2024"},
      {"DD.MM.YYYY", "09.02.2024"}, {"YYYY-MM-DD", "2024-02-09"}, {"MM/DD/YY", "02/09/24"},
  };
  for (const auto& [pattern, text] : cases) {
    auto format = DateFormat::Parse(pattern);
    ASSERT_TRUE(format.has_value()) << pattern;
    EXPECT_EQ(format->text(), pattern);
    EXPECT_EQ(format->Format(day), text) << pattern;
    EXPECT_EQ(format->ParseDate(text), day) << pattern;
  }
  EXPECT_EQ(DateFormat::Parse("MM/DD/CCYY")->Format(2415019), "12/30/1899");
  EXPECT_EQ(DateFormat::Parse("MM/DD/CCYY")->Format(1721426), "01/01/0001");
}

TEST(DateFormats, FormatsWithoutExactlyOneMonthDayAndYearAreRefused) {
  for (const char* bad : {"MM/MM/YYYY", "Q", "", "MM/DD", "MM/DD/YYY", "MMM/DD/YYYY", "MM/DD-YYYY",
                          "MM/DD/YYYY/DD", "MM/DD/Y"}) {
    EXPECT_FALSE(DateFormat::Parse(bad).has_value()) << bad;
  }
}

TEST(DateFormats, DatesThatAreNotOnTheCalendarOrNotInTheFormatAreRefused) {
  DateFormat format = *DateFormat::Parse("MM/DD/CCYY");
  EXPECT_EQ(format.ParseDate("02/29/2000"), JulianFromCivil({2000, 2, 29}));
  for (const char* bad :
       {"02/30/2024", "02/29/2023", "02/29/1900", "13/01/2024", "00/10/2024", "12/31/24",
        "12/31/2024 ", "12-31-2024", "123/01/2024", "12/31/20245", "", "aa/bb/cccc"}) {
    EXPECT_FALSE(format.ParseDate(bad).has_value()) << bad;
  }
  // Two-digit years fall in 1950 to 2049.
  DateFormat short_years = *DateFormat::Parse("MM/DD/YY");
  EXPECT_EQ(short_years.ParseDate("12/31/49"), JulianFromCivil({2049, 12, 31}));
  EXPECT_EQ(short_years.ParseDate("01/01/50"), JulianFromCivil({1950, 1, 1}));
}

}  // namespace
}  // namespace common
