#include "data/date_time.h"

#include <cmath>
#include <cstdio>
#include <mutex>

#include "common/calendar.h"
#include "common/text.h"
#include "data/errors.h"

namespace data {
namespace {

// The short date format and date separator that dates are shown and read in. Process-wide
// because the engine's date format, which TIsamSettings keeps this one following, is itself one
// per process, and every dataset and field shows its dates in it. Guarded by `mutex`: it is read
// whenever a date becomes text or text a date, possibly on any thread.
struct ProcessDate {
  std::mutex mutex;
  std::string short_date_format = "M/d/yyyy";
  char separator = '/';
};

ProcessDate& Process() {
  static ProcessDate process;
  return process;
}

// The order of month, day and year in a format, and whether years have four digits.
struct FormatOrder {
  char order[3] = {'M', 'D', 'Y'};
  int year_digits = 4;
  int month_digits = 1;
  int day_digits = 1;
};

FormatOrder OrderOf(const std::string& format) {
  FormatOrder f;
  int seen = 0;
  for (size_t i = 0; i < format.size();) {
    char c = common::UpperCase(format[i]);
    if (c != 'M' && c != 'D' && c != 'Y') {
      ++i;
      continue;
    }
    size_t run = 0;
    while (i < format.size() && common::UpperCase(format[i]) == c) {
      ++run;
      ++i;
    }
    if (seen < 3) f.order[seen++] = c;
    if (c == 'Y') f.year_digits = run <= 2 ? 2 : 4;
    if (c == 'M') f.month_digits = static_cast<int>(run);
    if (c == 'D') f.day_digits = static_cast<int>(run);
  }
  return f;
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  common::CivilDate d{year, month, day};
  if (!common::IsValidCivil(d)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return static_cast<TDateTime>(common::JulianFromCivil(d) - kJulianOfDayZero);
}

void DecodeDate(TDateTime date, int* year, int* month, int* day) {
  common::CivilDate d = common::CivilFromJulian(JulianFromDate(date));
  *year = d.year;
  *month = d.month;
  *day = d.day;
}

int32_t JulianFromDate(TDateTime date) {
  return static_cast<int32_t>(std::floor(date)) + kJulianOfDayZero;
}

TDateTime DateFromJulian(int32_t julian) {
  return static_cast<TDateTime>(julian - kJulianOfDayZero);
}

std::string ShortDateFormat() {
  std::lock_guard<std::mutex> lock(Process().mutex);
  return Process().short_date_format;
}

char DateSeparator() {
  std::lock_guard<std::mutex> lock(Process().mutex);
  return Process().separator;
}

void SetShortDateFormat(const std::string& format) {
  std::lock_guard<std::mutex> lock(Process().mutex);
  Process().short_date_format = format;
}

void SetDateSeparator(char separator) {
  std::lock_guard<std::mutex> lock(Process().mutex);
  Process().separator = separator;
}

std::string DateToStr(TDateTime date) {
  FormatOrder f = OrderOf(ShortDateFormat());
  char separator = DateSeparator();
  int year, month, day;
  DecodeDate(date, &year, &month, &day);
  std::string out;
  for (int i = 0; i < 3; ++i) {
    char buf[16];
    switch (f.order[i]) {
      case 'M':
        std::snprintf(buf, sizeof buf, "%0*d", f.month_digits >= 2 ? 2 : 1, month);
        break;
      case 'D':
        std::snprintf(buf, sizeof buf, "%0*d", f.day_digits >= 2 ? 2 : 1, day);
        break;
      default:
        if (f.year_digits == 2)
          std::snprintf(buf, sizeof buf, "%02d", year % 100);
        else
          std::snprintf(buf, sizeof buf, "%04d", year);
    }
    if (i) out += separator;
    out += buf;
  }
  return out;
}

TDateTime StrToDate(const std::string& text) {
  auto invalid = [&]() -> TDateTime { throw EConvertError("'" + text + "' is not a valid date"); };
  FormatOrder f = OrderOf(ShortDateFormat());
  char separator = DateSeparator();
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  int parts[3] = {0, 0, 0};
  size_t digits[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (i) {
      if (pos >= text.size() || text[pos] != separator) return invalid();
      ++pos;
    }
    common::DigitRun run = common::ReadDigitRun(text, &pos, 4);
    parts[i] = run.value;
    digits[i] = run.digits;
    if (digits[i] == 0) return invalid();
  }
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos != text.size()) return invalid();
  int year = 0, month = 0, day = 0;
  for (int i = 0; i < 3; ++i) {
    if (f.order[i] == 'M') month = digits[i] <= 2 ? parts[i] : -1;
    if (f.order[i] == 'D') day = digits[i] <= 2 ? parts[i] : -1;
    if (f.order[i] == 'Y') {
      if (digits[i] == 4)
        year = parts[i];
      else if (digits[i] <= 2)
        year = common::YearOfTwoDigits(parts[i]);
      else
        return invalid();
    }
  }
  if (!common::IsValidCivil({year, month, day})) return invalid();
  return EncodeDate(year, month, day);
}

std::string DateTimeToStr(TDateTime value) {
  std::string out = DateToStr(value);
  double fraction = value - std::floor(value);
  auto ms = static_cast<int32_t>(std::llround(fraction * common::kMillisecondsPerDay));
  if (ms == 0) return out;
  return out + " " + common::TimeOfDayText(ms).substr(0, 8);  // to the second
}

}  // namespace data
