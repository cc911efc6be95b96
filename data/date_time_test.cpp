#include "data/date_time.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/errors.h"

namespace data {
namespace {

// The process format is shared by every test of this program: each test puts back what it found.
class DateTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_format_ = ShortDateFormat();
    saved_separator_ = DateSeparator();
  }
  void TearDown() override {
    SetShortDateFormat(saved_format_);
    SetDateSeparator(saved_separator_);
  }

  // The message of the EConvertError that StrToDate raises for `text`, or "" when it raises none.
  static std::string ConvertErrorOf(const std::string& text) {
    try {
      StrToDate(text);
    } catch (const EConvertError& e) {
      return e.message();
    }
    return "";
  }

 private:
  std::string saved_format_;
  char saved_separator_ = '/';
};

TEST_F(DateTimeTest, DaysCountFromThirtiethOfDecember1899) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 31), 1.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(1900, 3, 1), 61.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), 1.0 - kDateDelta);
}

TEST_F(DateTimeTest, DecodeIgnoresTheTimeOfDay) {
  int y = 0, m = 0, d = 0;
  DecodeDate(36526.0, &y, &m, &d);
  EXPECT_EQ((std::vector<int>{y, m, d}), (std::vector<int>{2000, 1, 1}));
  DecodeDate(36526.999, &y, &m, &d);
  EXPECT_EQ((std::vector<int>{y, m, d}), (std::vector<int>{2000, 1, 1}));
  DecodeDate(EncodeDate(2024, 2, 29) + 0.5, &y, &m, &d);
  EXPECT_EQ((std::vector<int>{y, m, d}), (std::vector<int>{2024, 2, 29}));
  EXPECT_EQ(JulianFromDate(0.75), kJulianOfDayZero);
  EXPECT_EQ(DateFromJulian(kJulianOfDayZero + 36526), 36526.0);
}

TEST_F(DateTimeTest, EncodeRefusesImpossibleDates) {
  EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(2000, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2000, 4, 31), EConvertError);
  EXPECT_THROW(EncodeDate(2000, 1, 0), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
}

TEST_F(DateTimeTest, ProcessFormatStartsAsMonthDayFourDigitYear) {
  EXPECT_EQ(ShortDateFormat(), "M/d/yyyy");
  EXPECT_EQ(DateSeparator(), '/');
  EXPECT_EQ(DateToStr(EncodeDate(2021, 3, 4)), "3/4/2021");
  EXPECT_EQ(DateToStr(EncodeDate(2021, 12, 25) + 0.6), "12/25/2021");
  EXPECT_EQ(StrToDate("3/4/2021"), EncodeDate(2021, 3, 4));
  EXPECT_EQ(StrToDate("03/04/2021"), EncodeDate(2021, 3, 4));
}

TEST_F(DateTimeTest, DateToStrFollowsTheProcessFormatAndSeparator) {
  SetShortDateFormat("MM/DD/yyyy");
  EXPECT_EQ(DateToStr(EncodeDate(2021, 3, 4)), "03/04/2021");
  EXPECT_EQ(DateToStr(EncodeDate(812, 1, 9)), "01/09/0812");
  SetShortDateFormat("dd/MM/yy");
  SetDateSeparator('.');
  EXPECT_EQ(DateToStr(EncodeDate(2021, 3, 4)), "04.03.21");
  SetShortDateFormat("yyyy/M/d");
  SetDateSeparator('-');
  EXPECT_EQ(DateToStr(EncodeDate(2021, 3, 4)), "2021-3-4");
}

TEST_F(DateTimeTest, StrToDateReadsPartsInTheProcessOrder) {
  SetShortDateFormat("dd/MM/yyyy");
  EXPECT_EQ(StrToDate("04/03/2021"), EncodeDate(2021, 3, 4));
  EXPECT_EQ(StrToDate("4/3/2021"), EncodeDate(2021, 3, 4));
  SetShortDateFormat("yyyy/MM/dd");
  SetDateSeparator('-');
  EXPECT_EQ(StrToDate("2021-03-04"), EncodeDate(2021, 3, 4));
  EXPECT_EQ(StrToDate(" 2021-3-4 "), EncodeDate(2021, 3, 4));
  // The written text reads back as the same day, in every format.
  for (const char* format : {"MM/DD/yyyy", "d/M/yyyy", "yyyy/MM/dd"}) {
    SetShortDateFormat(format);
    TDateTime day = EncodeDate(1999, 11, 30);
    EXPECT_EQ(StrToDate(DateToStr(day + 0.25)), day) << format;
  }
}

TEST_F(DateTimeTest, BadTextRaisesNotAValidDate) {
  SetShortDateFormat("MM/DD/yyyy");
  for (const char* text : {"", "abc", "13/01/2021", "02/30/2021", "1/2", "1/2/2021x", "1-2-2021",
                           "00/10/2021", "1//2021", "1/2/20211", "123/1/2021"}) {
    EXPECT_EQ(ConvertErrorOf(text), "'" + std::string(text) + "' is not a valid date") << text;
  }
  // The separator of the process counts, not the one written in the format.
  SetDateSeparator('-');
  EXPECT_EQ(ConvertErrorOf("01/02/2021"), "'01/02/2021' is not a valid date");
  EXPECT_EQ(StrToDate("01-02-2021"), EncodeDate(2021, 1, 2));
}

TEST_F(DateTimeTest, DateTimeToStrShowsTheTimeOnlyWhenThereIsOne) {
  SetShortDateFormat("MM/DD/yyyy");
  TDateTime day = EncodeDate(2021, 3, 4);
  EXPECT_EQ(DateTimeToStr(day), "03/04/2021");
  EXPECT_EQ(DateTimeToStr(day + (13 * 3600 + 5 * 60 + 9) / 86400.0), "03/04/2021 13:05:09");
  EXPECT_EQ(DateTimeToStr(day + 0.5), "03/04/2021 12:00:00");
}

}  // namespace
}  // namespace data
