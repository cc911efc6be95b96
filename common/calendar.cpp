#include "common/calendar.h"

#include <cstdio>

#include "common/text.h"

namespace common {

int32_t JulianFromCivil(CivilDate d) {
  // Days from civil (Howard Hinnant's algorithm), shifted so that 1970-01-01 is JDN 2440588.
  int y = d.year - (d.month <= 2 ? 1 : 0);
  int era = (y >= 0 ? y : y - 399) / 400;
  int yoe = y - era * 400;
  int doy = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 2440588;
}

CivilDate CivilFromJulian(int32_t julian) {
  int z = julian - 2440588 + 719468;
  int era = (z >= 0 ? z : z - 146096) / 146097;
  int doe = z - era * 146097;
  int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int y = yoe + era * 400;
  int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int mp = (5 * doy + 2) / 153;
  int day = doy - (153 * mp + 2) / 5 + 1;
  int month = mp + (mp < 10 ? 3 : -9);
  return {y + (month <= 2 ? 1 : 0), month, day};
}

bool IsValidCivil(CivilDate d) {
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  int max = kDays[d.month - 1] + (d.month == 2 && leap ? 1 : 0);
  return d.day <= max;
}

int YearOfTwoDigits(int two_digits) {
  return two_digits < 50 ? 2000 + two_digits : 1900 + two_digits;
}

namespace {

// Reads exactly `digits` decimal digits at text[pos].
bool ReadDigits(const std::string& text, size_t& pos, int digits, int* out) {
  DigitRun run = ReadDigitRun(text, &pos, static_cast<size_t>(digits));
  if (run.digits != static_cast<size_t>(digits)) return false;
  *out = run.value;
  return true;
}

// A letter of a date format as the format means it: any case, C standing for Y.
char FormatLetter(char c) {
  char upper = UpperCase(c);
  return upper == 'C' ? 'Y' : upper;
}

bool Expect(const std::string& text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::string StoredDateText(int32_t julian) {
  CivilDate d = CivilFromJulian(julian);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::optional<int32_t> ParseStoredDate(const std::string& text) {
  size_t pos = 0;
  CivilDate d{};
  if (!ReadDigits(text, pos, 4, &d.year) || !Expect(text, pos, '-') ||
      !ReadDigits(text, pos, 2, &d.month) || !Expect(text, pos, '-') ||
      !ReadDigits(text, pos, 2, &d.day) || pos != text.size() || !IsValidCivil(d)) {
    return std::nullopt;
  }
  return JulianFromCivil(d);
}

std::string TimeOfDayText(int32_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return buf;
}

std::optional<int32_t> ParseTimeOfDay(const std::string& text) {
  size_t pos = 0;
  int h, m, s, ms = 0;
  if (!ReadDigits(text, pos, 2, &h) || !Expect(text, pos, ':') || !ReadDigits(text, pos, 2, &m) ||
      !Expect(text, pos, ':') || !ReadDigits(text, pos, 2, &s)) {
    return std::nullopt;
  }
  if (pos < text.size() && (!Expect(text, pos, '.') || !ReadDigits(text, pos, 3, &ms))) {
    return std::nullopt;
  }
  if (pos != text.size() || h > 23 || m > 59 || s > 59) return std::nullopt;
  return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

std::string StoredTimestampText(int32_t julian, int32_t ms) {
  return StoredDateText(julian) + " " + TimeOfDayText(ms);
}

bool ParseStoredTimestamp(const std::string& text, int32_t* julian, int32_t* ms) {
  if (text.size() < 10) return false;
  auto day = ParseStoredDate(text.substr(0, 10));
  if (!day) return false;
  std::optional<int32_t> time = 0;
  if (text.size() > 10) {
    if (text[10] != ' ' && text[10] != 'T') return false;
    time = ParseTimeOfDay(text.substr(11));
  }
  if (!time) return false;
  *julian = *day;
  *ms = *time;
  return true;
}

std::optional<DateFormat> DateFormat::Parse(const std::string& text) {
  DateFormat f;
  f.text_ = text;
  int seen = 0;
  bool have_separator = false;
  for (size_t i = 0; i < text.size();) {
    char c = FormatLetter(text[i]);
    if (c != 'M' && c != 'D' && c != 'Y') {
      if (have_separator && f.separator_ != text[i]) return std::nullopt;
      f.separator_ = text[i];
      have_separator = true;
      ++i;
      continue;
    }
    size_t run = 0;
    while (i < text.size() && FormatLetter(text[i]) == c) {
      ++run;
      ++i;
    }
    if (seen == 3) return std::nullopt;
    for (int k = 0; k < seen; ++k) {
      if (f.order_[k] == c) return std::nullopt;
    }
    if (c == 'Y') {
      if (run != 2 && run != 4) return std::nullopt;
      f.year_digits_ = static_cast<int>(run);
    } else if (run > 2) {
      return std::nullopt;
    }
    f.order_[seen++] = c;
  }
  if (seen != 3 || !have_separator) return std::nullopt;
  return f;
}

std::string DateFormat::Format(int32_t julian) const {
  CivilDate d = CivilFromJulian(julian);
  std::string out;
  for (int i = 0; i < 3; ++i) {
    char buf[16];
    if (order_[i] == 'M') std::snprintf(buf, sizeof buf, "%02d", d.month);
    if (order_[i] == 'D') std::snprintf(buf, sizeof buf, "%02d", d.day);
    if (order_[i] == 'Y') {
      if (year_digits_ == 4)
        std::snprintf(buf, sizeof buf, "%04d", d.year);
      else
        std::snprintf(buf, sizeof buf, "%02d", d.year % 100);
    }
    if (i) out += separator_;
    out += buf;
  }
  return out;
}

std::optional<int32_t> DateFormat::ParseDate(const std::string& text) const {
  CivilDate d{};
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    if (i && !Expect(text, pos, separator_)) return std::nullopt;
    DigitRun run = ReadDigitRun(text, &pos, 4);
    if (order_[i] == 'Y') {
      if (run.digits != static_cast<size_t>(year_digits_)) return std::nullopt;
      d.year = year_digits_ == 2 ? YearOfTwoDigits(run.value) : run.value;
    } else {
      if (run.digits < 1 || run.digits > 2) return std::nullopt;
      (order_[i] == 'M' ? d.month : d.day) = run.value;
    }
  }
  if (pos != text.size() || !IsValidCivil(d)) return std::nullopt;
  return JulianFromCivil(d);
}

}  // namespace common
