#include "isam/field.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "common/text.h"
#include "isam/codepage.h"
#include "isam/failure.h"
#include "isam/isam.h"

namespace isam {
namespace {

using common::ParseDouble;
using common::ParseInteger;
using common::UpperCase;

std::string WithoutBlanks(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (!std::isspace(static_cast<unsigned char>(c))) out += c;
  }
  return out;
}

// Reads "NAME(a)" or "NAME(a,b)"; args holds what was found.
bool SplitArgs(const std::string& t, std::string* name, int args[2], int* count) {
  size_t open = t.find('(');
  *count = 0;
  if (open == std::string::npos) {
    *name = t;
    return true;
  }
  if (t.back() != ')') return false;
  *name = t.substr(0, open);
  std::string inner = t.substr(open + 1, t.size() - open - 2);
  size_t pos = 0;
  while (pos <= inner.size() && *count < 2) {
    size_t comma = inner.find(',', pos);
    std::string part =
        inner.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    int v = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
    if (ec != std::errc() || end != part.data() + part.size() || part.empty()) return false;
    args[(*count)++] = v;
    if (comma == std::string::npos) return true;
    pos = comma + 1;
  }
  return false;
}

struct FixedType {
  const char* name;
  uint16_t type;
  uint32_t length;
};

const FixedType kFixed[] = {
    {"LOGICAL", ISAM_LOGICAL, 1}, {"DATE", ISAM_DATE, 4},           {"MEMO", ISAM_MEMO, 9},
    {"DOUBLE", ISAM_DOUBLE, 8},   {"INTEGER", ISAM_INTEGER, 4},     {"SHORTINT", ISAM_SHORTINT, 2},
    {"TIME", ISAM_TIME, 4},       {"TIMESTAMP", ISAM_TIMESTAMP, 8}, {"AUTOINC", ISAM_AUTOINC, 4},
    {"MONEY", ISAM_MONEY, 8},
};

std::string FieldTitle(const FieldDef& f, const std::string& table) {
  return "field '" + AnsiFromUtf8(f.name) + "' of " + table;
}

template <typename T>
T Load(const uint8_t* data) {
  T v;
  std::memcpy(&v, data, sizeof v);
  return v;
}

template <typename T>
void Store(uint8_t* data, T v) {
  std::memcpy(data, &v, sizeof v);
}

// The numeric field's text: the number with its decimals, right-aligned; nullopt when too wide.
std::optional<std::string> NumericText(const FieldDef& f, double v) {
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%*.*f", static_cast<int>(f.length),
                        static_cast<int>(f.decimals), v);
  if (n < 0 || static_cast<uint32_t>(n) > f.length) return std::nullopt;
  return std::string(buf, static_cast<size_t>(n));
}

// The number a stored value holds; nullopt for a text that is no number (another program may
// store one in a number field).
std::optional<double> AsDouble(const Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* s = std::get_if<std::string>(&v)) return ParseDouble(*s);
  return std::nullopt;
}

std::optional<int64_t> AsInteger(const Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  if (auto* d = std::get_if<double>(&v)) {
    if (*d == std::floor(*d) && std::fabs(*d) < 9.2e18) return static_cast<int64_t>(*d);
    return std::nullopt;
  }
  if (auto* s = std::get_if<std::string>(&v)) return ParseInteger(*s);
  return std::nullopt;
}

}  // namespace

bool ParseDeclaredType(const std::string& declared, FieldDef* f) {
  std::string t = UpperCase(WithoutBlanks(declared));
  std::string name;
  int args[2] = {0, 0};
  int count = 0;
  if (!SplitArgs(t, &name, args, &count)) return false;
  f->decimals = 0;
  if (name == "CHAR" && count == 1 && args[0] >= 1 && args[0] <= 65000) {
    f->type = ISAM_TEXT;
    f->length = static_cast<uint32_t>(args[0]);
    return true;
  }
  if (name == "NUMERIC" && count >= 1 && args[0] >= 1 && args[0] <= 64) {
    int decimals = count == 2 ? args[1] : 0;
    if (decimals < 0 || decimals >= args[0]) return false;
    f->type = ISAM_NUMERIC;
    f->length = static_cast<uint32_t>(args[0]);
    f->decimals = static_cast<uint16_t>(decimals);
    return true;
  }
  if (count != 0) return false;
  for (const FixedType& fixed : kFixed) {
    if (name == fixed.name) {
      f->type = fixed.type;
      f->length = fixed.length;
      return true;
    }
  }
  return false;
}

std::string NormalisedDeclaredType(const std::string& declared) {
  FieldDef f;
  if (!ParseDeclaredType(declared, &f)) return "";
  if (f.type == ISAM_TEXT) return "CHAR(" + std::to_string(f.length) + ")";
  if (f.type == ISAM_NUMERIC) {
    return "NUMERIC(" + std::to_string(f.length) + "," + std::to_string(f.decimals) + ")";
  }
  return UpperCase(WithoutBlanks(declared));
}

bool FitsInteger(const FieldDef& f, int64_t v) {
  if (f.type == ISAM_SHORTINT) return v >= INT16_MIN && v <= INT16_MAX;
  if (f.type == ISAM_TIME) return v >= 0 && v < kMillisecondsPerDay;
  return v >= INT32_MIN && v <= INT32_MAX;
}

bool IsEmptyStored(const FieldDef& field, const Value& stored) {
  if (IsNull(stored)) return true;
  auto* text = std::get_if<std::string>(&stored);
  return field.type == ISAM_TEXT && text && text->find_first_not_of(' ') == std::string::npos;
}

bool RawFromStored(const FieldDef& f, const Value& stored, uint8_t* data) {
  std::memset(data, f.type == ISAM_TEXT || f.type == ISAM_NUMERIC ? ' ' : 0, f.length);
  if (IsEmptyStored(f, stored)) return true;
  switch (f.type) {
    case ISAM_LOGICAL: {
      auto i = AsInteger(stored);
      bool truth = i ? *i != 0 : false;
      if (auto* s = std::get_if<std::string>(&stored)) {
        truth = !s->empty() && std::strchr("TtYy1", (*s)[0]) != nullptr;
      }
      data[0] = truth ? 'T' : 'F';
      return true;
    }
    case ISAM_NUMERIC: {
      auto number = AsDouble(stored);
      auto text = number ? NumericText(f, *number) : std::nullopt;
      if (!text) {
        std::memset(data, '*', f.length);
        return false;
      }
      std::memcpy(data, text->data(), f.length);
      return true;
    }
    case ISAM_DATE: {
      auto* s = std::get_if<std::string>(&stored);
      auto julian = s ? ParseStoredDate(*s) : std::nullopt;
      if (!julian) return false;
      Store<int32_t>(data, *julian);
      return true;
    }
    case ISAM_TEXT: {
      std::string text;
      if (auto* s = std::get_if<std::string>(&stored); s && IsAscii(*s)) {
        size_t n = std::min<size_t>(s->size(), f.length);
        std::memcpy(data, s->data(), n);
        return n == s->size();
      }
      if (auto* s = std::get_if<std::string>(&stored))
        text = AnsiFromUtf8(*s);
      else if (auto* i = std::get_if<int64_t>(&stored))
        text = std::to_string(*i);
      else
        text = ShortestNumberText(std::get<double>(stored));
      size_t n = std::min<size_t>(text.size(), f.length);
      std::memcpy(data, text.data(), n);
      return n == text.size();
    }
    case ISAM_MEMO:
      return true;
    case ISAM_DOUBLE:
    case ISAM_MONEY: {
      auto number = AsDouble(stored);
      Store<double>(data, number.value_or(0.0));
      return number.has_value();
    }
    case ISAM_INTEGER:
    case ISAM_AUTOINC:
    case ISAM_TIME:
    case ISAM_SHORTINT: {
      auto i = AsInteger(stored);
      if (!i || !FitsInteger(f, *i)) return false;
      if (f.type == ISAM_SHORTINT)
        Store<int16_t>(data, static_cast<int16_t>(*i));
      else
        Store<int32_t>(data, static_cast<int32_t>(*i));
      return true;
    }
    case ISAM_TIMESTAMP: {
      auto* s = std::get_if<std::string>(&stored);
      int32_t julian = 0, ms = 0;
      if (!s || !ParseStoredTimestamp(*s, &julian, &ms)) return false;
      Store<int32_t>(data, julian);
      Store<int32_t>(data + 4, ms);
      return true;
    }
  }
  return false;
}

Value StoredFromRaw(const FieldDef& f, const uint8_t* data, uint32_t size,
                    const std::string& table) {
  auto invalid = [&](const std::string& why) -> Value {
    Fail(ISAM_ERR_INVALID_VALUE, "Invalid value for " + FieldTitle(f, table) + ": " + why);
  };
  bool fixed_size = f.type != ISAM_TEXT && f.type != ISAM_NUMERIC && f.type != ISAM_MEMO;
  if ((fixed_size && size != f.length) || size > f.length) {
    if (f.type == ISAM_TEXT && size > f.length) {
      Fail(ISAM_ERR_VALUE_TOO_LONG, "Value too long for " + FieldTitle(f, table) + ": " +
                                        std::to_string(size) + " characters, at most " +
                                        std::to_string(f.length));
    }
    return invalid(std::to_string(size) + " bytes given, " + std::to_string(f.length) +
                   " expected");
  }
  switch (f.type) {
    case ISAM_LOGICAL:
      if (std::strchr("Tt1Yy", data[0]) && data[0]) return int64_t{1};
      if (std::strchr("Ff0Nn", data[0]) && data[0]) return int64_t{0};
      if (data[0] == ' ' || data[0] == 0) return std::monostate{};
      return invalid("a logical is T or F");
    case ISAM_NUMERIC: {
      std::string text(reinterpret_cast<const char*>(data), size);
      if (text.find_first_not_of(' ') == std::string::npos) return std::monostate{};
      auto v = ParseDouble(text);
      if (!v) return invalid("'" + text + "' is not a number");
      if (f.decimals == 0 && *v == std::floor(*v) && std::fabs(*v) < 9.2e18) {
        return static_cast<int64_t>(*v);
      }
      return *v;
    }
    case ISAM_DATE: {
      int32_t julian = Load<int32_t>(data);
      if (julian == 0) return std::monostate{};
      if (!IsValidCivil(CivilFromJulian(julian)) || julian < JulianFromCivil({1, 1, 1})) {
        return invalid("Julian day " + std::to_string(julian) + " is out of range");
      }
      return StoredDateText(julian);
    }
    case ISAM_TEXT:
    case ISAM_MEMO: {
      std::string text(reinterpret_cast<const char*>(data), size);
      size_t nul = text.find('\0');
      if (nul != std::string::npos) text.resize(nul);
      size_t end = text.find_last_not_of(' ');
      if (end == std::string::npos) return std::monostate{};
      text.resize(end + 1);
      return Utf8FromAnsi(text);
    }
    case ISAM_DOUBLE:
    case ISAM_MONEY: {
      double v = Load<double>(data);
      if (!std::isfinite(v)) return invalid("not a finite number");
      return v;
    }
    case ISAM_INTEGER:
    case ISAM_AUTOINC:
      return int64_t{Load<int32_t>(data)};
    case ISAM_SHORTINT:
      return int64_t{Load<int16_t>(data)};
    case ISAM_TIME: {
      int32_t ms = Load<int32_t>(data);
      if (ms < 0 || ms >= kMillisecondsPerDay) return invalid("time out of range");
      return int64_t{ms};
    }
    case ISAM_TIMESTAMP: {
      int32_t julian = Load<int32_t>(data);
      int32_t ms = Load<int32_t>(data + 4);
      if (julian == 0) return std::monostate{};
      if (ms < 0 || ms >= kMillisecondsPerDay || !IsValidCivil(CivilFromJulian(julian))) {
        return invalid("timestamp out of range");
      }
      return StoredTimestampText(julian, ms);
    }
  }
  return invalid("unknown type");
}

std::string ShortestNumberText(double v) {
  // Plain notation spells out every digit up to the decimal point: at most 309 of them, or 324
  // decimals after "0." for the smallest numbers.
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, end);
}

std::string StoredValueText(const Value& stored) {
  if (auto* i = std::get_if<int64_t>(&stored)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&stored)) return ShortestNumberText(*d);
  if (auto* s = std::get_if<std::string>(&stored)) return *s;
  return "";
}

std::string TextFromStored(const FieldDef& f, const Value& stored, const DateFormat& format,
                           uint16_t decimals) {
  if (IsEmptyStored(f, stored)) return "";
  if (f.type == ISAM_MEMO) {
    if (auto* s = std::get_if<std::string>(&stored)) return AnsiFromUtf8(*s);
  }
  if (f.type == ISAM_TEXT) {
    if (auto* s = std::get_if<std::string>(&stored)) {
      return AnsiFromUtf8(s->substr(0, s->find_last_not_of(' ') + 1));
    }
  }
  // A value the field's raw form cannot hold (a number wider than its numeric field, beyond an
  // integer's range, a text in a number field: written by another program) is shown as stored,
  // whole, rather than cut or replaced.
  std::vector<uint8_t> raw(f.length);
  if (!RawFromStored(f, stored, raw.data())) return AnsiFromUtf8(StoredValueText(stored));
  switch (f.type) {
    case ISAM_LOGICAL:
      return raw[0] == 'T' ? "T" : "F";
    case ISAM_NUMERIC: {
      std::string t(raw.begin(), raw.end());
      return t.substr(std::min(t.find_first_not_of(' '), t.size()));
    }
    case ISAM_DATE:
      return format.Format(Load<int32_t>(raw.data()));
    case ISAM_DOUBLE:
    case ISAM_MONEY: {
      (void)decimals;
      return ShortestNumberText(Load<double>(raw.data()));
    }
    case ISAM_TIME:
      return TimeOfDayText(Load<int32_t>(raw.data()));
    case ISAM_TIMESTAMP:
      return format.Format(Load<int32_t>(raw.data())) + " " +
             TimeOfDayText(Load<int32_t>(raw.data() + 4));
    case ISAM_SHORTINT:
      return std::to_string(Load<int16_t>(raw.data()));
    default:
      return std::to_string(Load<int32_t>(raw.data()));
  }
}

Value StoredFromText(const FieldDef& f, const std::string& text, const DateFormat& format,
                     const std::string& table) {
  auto invalid = [&]() -> Value {
    Fail(ISAM_ERR_INVALID_VALUE, "'" + text + "' is not a valid value for " + FieldTitle(f, table));
  };
  if (f.type == ISAM_MEMO) {
    if (text.find_last_not_of(' ') == std::string::npos) return std::monostate{};
    return Utf8FromAnsi(text);
  }
  if (f.type == ISAM_TEXT) {
    return StoredFromRaw(f, reinterpret_cast<const uint8_t*>(text.data()),
                         static_cast<uint32_t>(text.size()), table);
  }
  if (text.find_first_not_of(' ') == std::string::npos) return std::monostate{};
  switch (f.type) {
    case ISAM_LOGICAL: {
      uint8_t c = static_cast<uint8_t>(text[text.find_first_not_of(' ')]);
      return StoredFromRaw(f, &c, 1, table);
    }
    case ISAM_NUMERIC: {
      auto v = ParseDouble(text);
      if (!v) return invalid();
      auto formatted = NumericText(f, *v);
      if (!formatted) {
        Fail(ISAM_ERR_VALUE_TOO_LONG, "Value " + text + " too wide for " + FieldTitle(f, table));
      }
      return StoredFromRaw(f, reinterpret_cast<const uint8_t*>(formatted->data()), f.length, table);
    }
    case ISAM_DATE: {
      auto julian = format.ParseDate(text);
      if (!julian) julian = ParseStoredDate(text);
      if (!julian) return invalid();
      return StoredDateText(*julian);
    }
    case ISAM_DOUBLE:
    case ISAM_MONEY: {
      auto v = ParseDouble(text);
      if (!v) return invalid();
      return *v;
    }
    case ISAM_TIME: {
      auto ms = ParseTimeOfDay(text);
      if (!ms) return invalid();
      return int64_t{*ms};
    }
    case ISAM_TIMESTAMP: {
      int32_t julian = 0, ms = 0;
      if (ParseStoredTimestamp(text, &julian, &ms)) return StoredTimestampText(julian, ms);
      size_t space = text.find(' ');
      auto day = format.ParseDate(text.substr(0, space));
      std::optional<int32_t> time = 0;
      if (space != std::string::npos) time = ParseTimeOfDay(text.substr(space + 1));
      if (!day || !time) return invalid();
      return StoredTimestampText(*day, *time);
    }
    default: {
      auto v = ParseInteger(text);
      if (!v || !FitsInteger(f, *v)) return invalid();
      return *v;
    }
  }
}

}  // namespace isam
