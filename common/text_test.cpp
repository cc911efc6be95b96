// Reading numbers and runs of digits from text, and upper case.
#include "common/text.h"

#include <gtest/gtest.h>

namespace common {
namespace {

TEST(NumberTexts, WholeTextsWithBlanksAroundAndALeadingPlusAreRead) {
  EXPECT_EQ(ParseInteger("42"), 42);
  EXPECT_EQ(ParseInteger("  -17 "), -17);
  EXPECT_EQ(ParseInteger("+9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseDouble(" 12.50 "), 12.5);
  EXPECT_EQ(ParseDouble("+1e3"), 1000.0);
  EXPECT_EQ(ParseDouble("-0.01"), -0.01);
  for (const char* bad :
       {"", "   ", "1.5", "12a", "a12", "1 2", "++1", "9223372036854775808", "0x10"}) {
    EXPECT_FALSE(ParseInteger(bad).has_value()) << bad;
  }
  for (const char* bad : {"", "1,5", "1.5.1", "inf", "nan", "1e999", "- 1", "12 x"}) {
    EXPECT_FALSE(ParseDouble(bad).has_value()) << bad;
  }
}

TEST(DigitRuns, ARunStopsAtItsLimitOrAtTheFirstOtherCharacter) {
  size_t pos = 1;
  DigitRun run = ReadDigitRun("x12345/6", &pos, 4);
  EXPECT_EQ(run.value, 1234);
  EXPECT_EQ(run.digits, 4u);
  EXPECT_EQ(pos, 5u);
  run = ReadDigitRun("x12345/6", &pos, 4);
  EXPECT_EQ(run.value, 5);
  EXPECT_EQ(pos, 6u);
  run = ReadDigitRun("x12345/6", &pos, 4);
  EXPECT_EQ(run.digits, 0u);
  EXPECT_EQ(pos, 6u);
  pos = 8;
  EXPECT_EQ(ReadDigitRun("x12345/6", &pos, 4).digits, 0u);  // at the end
}

TEST(UpperCaseTexts, LettersRiseAndEverythingElseStays) {
  EXPECT_EQ(UpperCase(std::string("Mwtrn.adt 12_x")), "MWTRN.ADT 12_X");
  EXPECT_EQ(UpperCase('q'), 'Q');
  EXPECT_EQ(UpperCase('/'), '/');
}

TEST(Utf8, ASequenceIsTakenOnlyWhenWellFormed) {
  uint32_t code_point = 0;
  EXPECT_EQ(Utf8Sequence("A", &code_point), 1u);
  EXPECT_EQ(code_point, 0x41u);
  EXPECT_EQ(Utf8Sequence("\xC3\xA9x", &code_point), 2u);
  EXPECT_EQ(code_point, 0xE9u);
  EXPECT_EQ(Utf8Sequence("\xE2\x82\xAC", &code_point), 3u);
  EXPECT_EQ(code_point, 0x20ACu);
  EXPECT_EQ(Utf8Sequence("\xF0\x9F\x98\x80", &code_point), 4u);
  EXPECT_EQ(code_point, 0x1F600u);
  // Overlong forms, a surrogate, past U+10FFFF, a lone continuation byte, cut short, empty.
  for (const char* text : {"\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80",
                           "\xE2\x82", "\xC3(", ""}) {
    EXPECT_EQ(Utf8Sequence(text, &code_point), 0u) << text;
  }
}

}  // namespace
}  // namespace common
