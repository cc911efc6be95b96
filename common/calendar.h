// Calendar arithmetic shared by the table engine and the layers above it: Julian day numbers
// (proleptic Gregorian calendar; 30 December 1899 is day 2415019), the stored texts of dates,
// times and timestamps, and date formats that show and read dates as text ("MM/DD/CCYY": month,
// day, four-digit year).
#ifndef RIVENOAK_COMMON_CALENDAR_H_
#define RIVENOAK_COMMON_CALENDAR_H_

#include <cstdint>
#include <optional>
#include <string>

namespace common {

constexpr int32_t kMillisecondsPerDay = 86400000;

struct CivilDate {
  int year;
  int month;
  int day;
};

int32_t JulianFromCivil(CivilDate date);
CivilDate CivilFromJulian(int32_t julian);
bool IsValidCivil(CivilDate date);

// The year a two-digit year stands for: 1950 to 2049.
int YearOfTwoDigits(int two_digits);

// "YYYY-MM-DD" as stored in a DATE column.
std::string StoredDateText(int32_t julian);
std::optional<int32_t> ParseStoredDate(const std::string& text);

// "YYYY-MM-DD HH:MM:SS.mmm" as stored in a TIMESTAMP column.
std::string StoredTimestampText(int32_t julian, int32_t milliseconds);
bool ParseStoredTimestamp(const std::string& text, int32_t* julian, int32_t* milliseconds);

// "HH:MM:SS.mmm" for a time of day.
std::string TimeOfDayText(int32_t milliseconds);
std::optional<int32_t> ParseTimeOfDay(const std::string& text);

// A date format made of runs of M (month), D (day), Y or C (year: four letters for four digits,
// two for two) and separator characters, letters in any case.
class DateFormat {
 public:
  // Refuses (nullopt) a format without exactly one month, one day and one year.
  static std::optional<DateFormat> Parse(const std::string& text);

  const std::string& text() const { return text_; }
  std::string Format(int32_t julian) const;
  std::optional<int32_t> ParseDate(const std::string& text) const;

 private:
  std::string text_;
  char order_[3] = {'M', 'D', 'Y'};
  int year_digits_ = 4;
  char separator_ = '/';
};

}  // namespace common

#endif  // RIVENOAK_COMMON_CALENDAR_H_
