// The main window's engine settings, and the statements of the run as the test kit holds them.
#include "conversion/practice_datasets.h"

#include <gtest/gtest.h>

#include "data/date_time.h"
#include "data/errors.h"
#include "isam/isam.h"
#include "isam/testing/sql_texts.h"

namespace conversion {
namespace {

std::string EngineDateFormat() {
  char text[64];
  uint16_t length = sizeof text;
  EXPECT_EQ(IsamGetDateFormat(text, &length), 0u);
  return std::string(text, length);
}

TEST(MainWindowValues, DatesBecomeMonthDayFourDigitYearAndTheRestTheWindowsOwn) {
  const std::string format = data::ShortDateFormat();
  const char separator = data::DateSeparator();
  const std::string engine_format = EngineDateFormat();
  {
    data::TIsamSettings settings(nullptr, "IsamSettings1");
    ApplyMainWindowValues(settings);
    EXPECT_EQ(data::ShortDateFormat(), "MM/DD/yyyy");
    EXPECT_EQ(data::DateSeparator(), '/');
    EXPECT_EQ(EngineDateFormat(), "MM/DD/CCYY");
    EXPECT_EQ(settings.DateFormat(), "MM/DD/CCYY");
    EXPECT_EQ(settings.NumDecimals(), 2);
    EXPECT_TRUE(settings.ShowDeleted());
    EXPECT_EQ(settings.IsamServerTypes(), unsigned{data::stISAM_REMOTE | data::stISAM_LOCAL});
    EXPECT_EQ(settings.NumCachedTables(), 0);
    EXPECT_EQ(settings.NumCachedCursors(), 25);
    EXPECT_EQ(data::DateToStr(data::EncodeDate(2021, 3, 4)), "03/04/2021");
    EXPECT_EQ(data::StrToDate("12/31/1999"), data::EncodeDate(1999, 12, 31));
    try {
      data::StrToDate("31/12/1999");
      ADD_FAILURE() << "a day-first date was read";
    } catch (const data::EConvertError& e) {
      EXPECT_STREQ(e.what(), "'31/12/1999' is not a valid date");
    }
  }
  data::SetShortDateFormat(format);
  data::SetDateSeparator(separator);
  IsamSetDateFormat(engine_format.c_str());
}

// The engine's and the data layer's tests run the run's statements from the test kit's copy,
// since they cannot reach this layer; the copy has to stay the program's, line by line.
TEST(RunStatements, TheTestKitsCopiesAreTheProgramsLineByLine) {
  EXPECT_EQ(isam::testing::kTrnDocQueryLines, kTrnDocQuerySql);
  EXPECT_EQ(isam::testing::kWhoPaidQueryLines, kWhoPaidQuerySql);
}

}  // namespace
}  // namespace conversion
