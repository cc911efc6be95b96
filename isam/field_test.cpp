// Field conversions (stored value, raw form, text form), the single-byte code page and the order
// of stored values.
#include "isam/field.h"

#include <cstring>
#include <functional>
#include <limits>

#include "isam/codepage.h"
#include "isam/failure.h"
#include "isam/testing/test_support.h"
#include "isam/value.h"

namespace isam::testing {
namespace {

FieldDef Field(const std::string& declared, const std::string& name = "F") {
  FieldDef f;
  f.name = name;
  f.declared = declared;
  EXPECT_TRUE(ParseDeclaredType(declared, &f)) << declared;
  return f;
}

std::string Raw(const FieldDef& f, const Value& stored) {
  std::string raw(f.length, '\x7f');
  EXPECT_TRUE(RawFromStored(f, stored, reinterpret_cast<uint8_t*>(raw.data())));
  return raw;
}

template <typename T>
std::string Bytes(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

Value FromRaw(const FieldDef& f, const std::string& raw) {
  return StoredFromRaw(f, reinterpret_cast<const uint8_t*>(raw.data()),
                       static_cast<uint32_t>(raw.size()), "T.ADT");
}

// The code and text of the failure that `call` raises; 0 when it succeeds.
std::pair<IsamResult, std::string> FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Failure& failure) {
    return {failure.code(), failure.what()};
  }
  return {0, ""};
}

const DateFormat kFormat = *DateFormat::Parse("MM/DD/CCYY");

TEST(FieldTypes, DeclaredTypesAreReadInAnyCaseWithBlanksAndUnknownOnesRefused) {
  FieldDef f;
  ASSERT_TRUE(ParseDeclaredType("numeric ( 10, 2 )", &f));
  EXPECT_EQ(f.type, ISAM_NUMERIC);
  EXPECT_EQ(f.length, 10u);
  EXPECT_EQ(f.decimals, 2);
  ASSERT_TRUE(ParseDeclaredType("char( 254 )", &f));
  EXPECT_EQ(f.type, ISAM_TEXT);
  EXPECT_EQ(f.length, 254u);
  EXPECT_EQ(f.decimals, 0);  // not kept from the field parsed before
  ASSERT_TRUE(ParseDeclaredType("ShortInt", &f));
  EXPECT_EQ(f.type, ISAM_SHORTINT);
  EXPECT_EQ(f.length, 2u);
  EXPECT_EQ(NormalisedDeclaredType("char ( 8 )"), "CHAR(8)");
  EXPECT_EQ(NormalisedDeclaredType("numeric(10, 2)"), "NUMERIC(10,2)");
  EXPECT_EQ(NormalisedDeclaredType("autoinc"), "AUTOINC");
  for (const char* unknown : {"VARCHAR(5)", "CHAR", "CHAR(0)", "CHAR(x)", "NUMERIC(3,3)",
                              "NUMERIC(10,2,1)", "INTEGER(4)", "TEXT", "", "DATE()"}) {
    EXPECT_FALSE(ParseDeclaredType(unknown, &f)) << unknown;
    EXPECT_EQ(NormalisedDeclaredType(unknown), "") << unknown;
  }
}

TEST(FieldConversions, EveryTypeRoundTripsBetweenItsStoredRawAndTextForms) {
  const int32_t leap_day = JulianFromCivil({2024, 2, 29});
  struct Case {
    const char* declared;
    Value stored;
    std::string raw;
    const char* text;
  };
  const Case cases[] = {
      {"LOGICAL", int64_t{1}, "T", "T"},
      {"LOGICAL", int64_t{0}, "F", "F"},
      {"NUMERIC(10,2)", 12345.68, "  12345.68", "12345.68"},
      {"NUMERIC(6,0)", int64_t{-42}, "   -42", "-42"},
      {"DATE", std::string("2024-02-29"), Bytes<int32_t>(leap_day), "02/29/2024"},
      {"DATE", std::string("1899-12-30"), Bytes<int32_t>(2415019), "12/30/1899"},
      {"CHAR(6)", std::string("Caf\xC3\xA9"), "Caf\xE9  ", "Caf\xE9"},
      {"CHAR(4)", std::string("\xE2\x82\xACx"), "\x80x  ", "\x80x"},
      {"DOUBLE", 0.1 + 0.2, Bytes<double>(0.1 + 0.2), "0.30000000000000004"},
      {"MONEY", -19.99, Bytes<double>(-19.99), "-19.99"},
      {"INTEGER", int64_t{INT32_MIN}, Bytes<int32_t>(INT32_MIN), "-2147483648"},
      {"SHORTINT", int64_t{-32768}, Bytes<int16_t>(-32768), "-32768"},
      {"TIME", int64_t{86399999}, Bytes<int32_t>(86399999), "23:59:59.999"},
      {"TIMESTAMP", std::string("2024-02-29 12:34:56.789"),
       Bytes<int32_t>(leap_day) + Bytes<int32_t>(45296789), "02/29/2024 12:34:56.789"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.declared);
    FieldDef f = Field(c.declared);
    EXPECT_EQ(Raw(f, c.stored), c.raw);
    EXPECT_EQ(FromRaw(f, c.raw), c.stored);
    EXPECT_EQ(TextFromStored(f, c.stored, kFormat, 2), c.text);
    EXPECT_EQ(StoredFromText(f, c.text, kFormat, "T.ADT"), c.stored);
  }
  FieldDef memo = Field("MEMO");
  Value note = StoredFromText(memo, "line 1\nline 2 \x80", kFormat, "T.ADT");
  EXPECT_EQ(note, Value{std::string("line 1\nline 2 \xE2\x82\xAC")});
  EXPECT_EQ(TextFromStored(memo, note, kFormat, 2), "line 1\nline 2 \x80");

  // Empty values: no text, blank raw texts and numbers; trailing blanks never reach the file.
  for (const char* declared : {"LOGICAL", "DATE", "CHAR(4)", "DOUBLE", "INTEGER", "TIMESTAMP"}) {
    EXPECT_EQ(TextFromStored(Field(declared), Value{}, kFormat, 2), "") << declared;
    EXPECT_TRUE(IsNull(StoredFromText(Field(declared), "", kFormat, "T.ADT"))) << declared;
  }
  EXPECT_EQ(Raw(Field("CHAR(3)"), Value{}), "   ");
  EXPECT_EQ(Raw(Field("NUMERIC(4,1)"), Value{}), "    ");
  EXPECT_TRUE(IsNull(FromRaw(Field("NUMERIC(4,1)"), "    ")));
  EXPECT_TRUE(IsNull(FromRaw(Field("DATE"), Bytes<int32_t>(0))));
  EXPECT_TRUE(IsNull(FromRaw(Field("CHAR(3)"), "   ")));
  EXPECT_TRUE(IsNull(StoredFromText(Field("CHAR(8)"), "    ", kFormat, "T")));
  EXPECT_EQ(FromRaw(Field("CHAR(8)"), "ab  "), Value{std::string("ab")});
  EXPECT_EQ(StoredFromText(Field("CHAR(8)"), "ab  ", kFormat, "T"), Value{std::string("ab")});
}

TEST(FieldConversions, NumericFieldsKeepTheirDecimalsAndRefuseTooWideValues) {
  FieldDef f = Field("NUMERIC(10,2)", "Amount");
  EXPECT_EQ(Raw(f, 12345.678), "  12345.68");
  EXPECT_EQ(Raw(f, -0.5), "     -0.50");
  Value stored = StoredFromText(f, "12345.678", kFormat, "T.ADT");
  EXPECT_EQ(CompareValues(stored, Value{12345.68}), 0);
  EXPECT_EQ(TextFromStored(f, stored, kFormat, 2), "12345.68");
  EXPECT_EQ(TextFromStored(f, Value{int64_t{3}}, kFormat, 2), "3.00");

  auto [code, message] = FailureOf([&] { StoredFromText(f, "12345678.5", kFormat, "T.ADT"); });
  EXPECT_EQ(code, ISAM_ERR_VALUE_TOO_LONG);
  EXPECT_NE(message.find("Amount"), std::string::npos) << message;
  EXPECT_EQ(FailureOf([&] { StoredFromText(f, "1234567.5", kFormat, "T"); }).first, 0u);
  EXPECT_EQ(FailureOf([&] { StoredFromText(f, "12a", kFormat, "T"); }).first,
            ISAM_ERR_INVALID_VALUE);
  std::string raw(10, ' ');
  EXPECT_FALSE(RawFromStored(f, Value{1e12}, reinterpret_cast<uint8_t*>(raw.data())));

  // Without decimals the stored value is an integer.
  stored = StoredFromText(Field("NUMERIC(5,0)"), "  42 ", kFormat, "T.ADT");
  ASSERT_TRUE(std::holds_alternative<int64_t>(stored));
  EXPECT_EQ(std::get<int64_t>(stored), 42);
}

TEST(FieldConversions, ValuesTheFieldCannotHoldAreRefusedNamingTheField) {
  const std::pair<const char*, const char*> texts[] = {
      {"INTEGER", "abc"},   {"INTEGER", "2147483648"}, {"SHORTINT", "40000"},
      {"INTEGER", "1.5"},   {"DOUBLE", "1,5"},         {"DATE", "02/30/2024"},
      {"TIME", "24:00:00"}, {"LOGICAL", "x"},          {"TIMESTAMP", "02/30/2024 10:00:00"},
  };
  for (const auto& [declared, text] : texts) {
    FieldDef f = Field(declared, "Case Number");
    auto [code, message] = FailureOf([&] { StoredFromText(f, text, kFormat, "T.ADT"); });
    EXPECT_EQ(code, ISAM_ERR_INVALID_VALUE) << declared << " " << text;
    EXPECT_NE(message.find("Case Number"), std::string::npos) << message;
  }
  const std::pair<const char*, std::string> raws[] = {
      {"LOGICAL", "X"},
      {"NUMERIC(5,1)", "  1x3"},
      {"INTEGER", "\1\2"},  // a raw form of the wrong size
      {"TIME", Bytes<int32_t>(86400000)},
      {"DATE", Bytes<int32_t>(-5)},
      {"DOUBLE", Bytes<double>(std::numeric_limits<double>::infinity())},
  };
  for (const auto& [declared, raw] : raws) {
    FieldDef f = Field(declared, "Amount Paid");
    auto [code, message] = FailureOf([&] { FromRaw(f, raw); });
    EXPECT_EQ(code, ISAM_ERR_INVALID_VALUE) << declared;
    EXPECT_NE(message.find("Amount Paid"), std::string::npos) << message;
  }
  FieldDef chart = Field("CHAR(8)", "Chart Number");
  auto [code, message] = FailureOf([&] { StoredFromText(chart, "ABCDEFGHI", kFormat, "T"); });
  EXPECT_EQ(code, ISAM_ERR_VALUE_TOO_LONG);
  EXPECT_NE(message.find("Chart Number"), std::string::npos) << message;
  EXPECT_EQ(FailureOf([&] { StoredFromText(chart, "ABCDEFGH", kFormat, "T"); }).first, 0u);
  EXPECT_EQ(FailureOf([&] { FromRaw(chart, "ABCDEFGHI"); }).first, ISAM_ERR_VALUE_TOO_LONG);
}

TEST(EngineDateFormat, AFormatWithoutOneMonthDayAndYearIsRefusedByNameAndTheOldOneKept) {
  ISAM_ASSERT_OK(IsamSetDateFormat("DD.MM.YYYY"));
  EXPECT_EQ(IsamSetDateFormat("MM/MM/YYYY"), ISAM_ERR_INVALID_ARGUMENT);
  EXPECT_NE(LastErrorText().find("MM/MM/YYYY"), std::string::npos) << LastErrorText();
  EXPECT_EQ(IsamSetDateFormat("Q"), ISAM_ERR_INVALID_ARGUMENT);
  int32_t julian = 0;
  EXPECT_EQ(IsamConvertStringToJulian("30.12.1899", &julian), 0u) << LastErrorText();
  EXPECT_EQ(julian, 2415019);
  EXPECT_EQ(IsamConvertStringToJulian("30.02.2024", &julian), ISAM_ERR_INVALID_VALUE);
  ISAM_ASSERT_OK(IsamSetDateFormat("MM/DD/CCYY"));
}

TEST(Codepage, EveryByteRoundTripsThroughUtf8) {
  for (int b = 1; b < 256; ++b) {
    std::string ansi(1, static_cast<char>(b));
    EXPECT_EQ(AnsiFromUtf8(Utf8FromAnsi(ansi)), ansi) << "byte " << b;
  }
  EXPECT_EQ(Utf8FromAnsi("\x80"), "\xE2\x82\xAC");  // €
  EXPECT_EQ(Utf8FromAnsi("\x9F"), "\xC5\xB8");      // Ÿ
  EXPECT_EQ(Utf8FromAnsi("\xE9"), "\xC3\xA9");      // é
  EXPECT_EQ(Utf8FromAnsi("\xA0"), "\xC2\xA0");
  // The five bytes that Windows-1252 leaves undefined become the C1 controls of the same value.
  for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    std::string utf8 = {static_cast<char>(0xC2), static_cast<char>(b)};
    EXPECT_EQ(Utf8FromAnsi(std::string(1, static_cast<char>(b))), utf8) << b;
    EXPECT_EQ(AnsiFromUtf8(utf8), std::string(1, static_cast<char>(b))) << b;
  }
  EXPECT_EQ(AnsiFromUtf8("Caf\xC3\xA9 \xE2\x82\xAC 5"), "Caf\xE9 \x80 5");
  // Characters outside the code page become '?', malformed bytes are kept as they are.
  EXPECT_EQ(AnsiFromUtf8("\xE6\x97\xA5|\xF0\x9F\x98\x80|\xC4\x80"), "?|?|?");
  EXPECT_EQ(AnsiFromUtf8("a\xC3"), "a\xC3");
  EXPECT_EQ(AnsiFromUtf8("\xC3(x"), "\xC3(x");
  EXPECT_EQ(AnsiFromUtf8("\xE2\x82"), "\xE2\x82");
}

TEST(ValueOrder, NullThenNumbersByValueThenTextsByteByByte) {
  // In index order: NULL, numbers (integers and reals mixed), then texts byte by byte.
  std::vector<Value> ordered = {Value{}, int64_t{INT64_MIN}, -1.5, int64_t{-1}};
  for (Value v : {Value{0.0}, Value{int64_t{2}}, Value{2.5}, Value{int64_t{3}}})
    ordered.push_back(v);
  for (const char* text : {"", "B", "a", "ab", "z", "\xC3\xA9"})
    ordered.push_back(std::string(text));
  const size_t n = ordered.size();
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      int expected = i < j ? -1 : i > j ? 1 : 0;
      int c = CompareValues(ordered[i], ordered[j]);
      EXPECT_EQ((c > 0) - (c < 0), expected) << i << " vs " << j;
    }
  }
  EXPECT_EQ(CompareValues(int64_t{2}, 2.0), 0);
  EXPECT_EQ(CompareValues(Value{}, Value{}), 0);
  // Integers beyond a double's precision still compare exactly against reals.
  EXPECT_GT(CompareValues(int64_t{(1LL << 53) + 1}, static_cast<double>(1LL << 53)), 0);
  EXPECT_LT(CompareValues(static_cast<double>(1LL << 53), int64_t{(1LL << 53) + 1}), 0);
  EXPECT_GT(CompareValues(std::string("1"), 9e300), 0);

  std::vector<Value> a = {std::string("X"), int64_t{1}}, b = {std::string("X"), int64_t{2}};
  EXPECT_EQ(CompareKeys(a, b, 1), 0);
  EXPECT_LT(CompareKeys(a, b, 2), 0);
}

}  // namespace
}  // namespace isam::testing
