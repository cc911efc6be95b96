// Dates of the data access layer: a count of days since 30 December 1899 with the time of day as
// its fraction, and the process-wide short date format and date separator with which dates are
// shown and typed (MM/DD/yyyy once the engine settings are in force).
#ifndef RIVENOAK_DATA_DATE_TIME_H_
#define RIVENOAK_DATA_DATE_TIME_H_

#include <cstdint>
#include <string>

namespace data {

using TDateTime = double;

// Days from 1 January of year 1 (day 1) to 30 December 1899.
constexpr int32_t kDateDelta = 693594;
// The engine's Julian day number of day 0.
constexpr int32_t kJulianOfDayZero = 2415019;

TDateTime EncodeDate(int year, int month, int day);  // throws EConvertError when invalid
void DecodeDate(TDateTime date, int* year, int* month, int* day);
int32_t JulianFromDate(TDateTime date);  // whole days
TDateTime DateFromJulian(int32_t julian);

// The process's short date format ("M/d/yyyy" at start) and date separator ('/').
std::string ShortDateFormat();
char DateSeparator();
void SetShortDateFormat(const std::string& format);
void SetDateSeparator(char separator);

// A date as text in the process format; the time of day is not shown.
std::string DateToStr(TDateTime date);
// A text in the process format (month, day and year in its order; one or two digits for month
// and day, two or four for the year); EConvertError "'%s' is not a valid date" otherwise.
TDateTime StrToDate(const std::string& text);
// Date and time ("MM/DD/YYYY HH:MM:SS" when there is a time of day).
std::string DateTimeToStr(TDateTime value);

}  // namespace data

#endif  // RIVENOAK_DATA_DATE_TIME_H_
