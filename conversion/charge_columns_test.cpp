// The charge-column rule over every payer and type text of up to one byte (and a few longer
// ones), with and without strict type rules, for both ways of taking a payerless amount: the
// answers stated case by case for the letters that mean something, and every other text shown
// to answer as one plain stand-in does.
#include "conversion/charge_columns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace conversion {
namespace {

constexpr PayerlessAmount kAdjust = PayerlessAmount::kToAdjustment;
constexpr PayerlessAmount kAsk = PayerlessAmount::kToNoColumn;

// "", every single byte but NUL, and longer texts that begin like the meaningful letters.
std::vector<std::string> EveryText() {
  std::vector<std::string> texts = {"", "II", "ST", "S ", "1 ", "12", "G ", "AA"};
  for (int byte = 1; byte < 256; ++byte) texts.emplace_back(1, static_cast<char>(byte));
  return texts;
}

// The payers and types the rule tells apart; every other text answers as the stand-in does
// ("4" for a payer, "J" for a type).
std::string PayerStandIn(const std::string& who_paid) {
  for (const char* meaningful : {"", "1", "2", "3", "A", "G"}) {
    if (who_paid == meaningful) return who_paid;
  }
  return "4";
}
std::string TypeStandIn(const std::string& type) {
  return type == "I" || type == "S" || type == "T" ? type : "J";
}

TEST(ChargeColumn, ChoosesThePayersColumn) {
  // As adjusting payments asks for it.
  EXPECT_EQ(ChargeColumn("1", "I", true, kAsk), "Insurance 1 Amount Paid");
  EXPECT_EQ(ChargeColumn("2", "I", true, kAsk), "Insurance 2 Amount Paid");
  EXPECT_EQ(ChargeColumn("3", "I", false, kAsk), "Insurance 3 Amount Paid");
  EXPECT_EQ(ChargeColumn("1", "J", false, kAsk), "Insurance 1 Amount Paid");
  EXPECT_EQ(ChargeColumn("1", "J", true, kAsk), "");
  EXPECT_EQ(ChargeColumn("A", "I", true, kAsk), "Attorney Amount Paid");
  EXPECT_EQ(ChargeColumn("G", "K", true, kAsk), "Guarantor Amount Paid");
  EXPECT_EQ(ChargeColumn("G", "S", true, kAsk), "Adjustment Amount");
  EXPECT_EQ(ChargeColumn("1", "T", false, kAsk), "Adjustment Amount");
  EXPECT_EQ(ChargeColumn("", "S", true, kAsk), "Adjustment Amount");
  EXPECT_EQ(ChargeColumn("", "I", true, kAsk), "");
  EXPECT_EQ(ChargeColumn("", "I", false, kAsk), "");
  EXPECT_EQ(ChargeColumn("4", "I", false, kAsk), "");
}

TEST(ChargeColumn, StandInsAnswerCaseByCase) {
  struct Case {
    const char* who_paid;
    const char* type;
    const char* strict;  // with strict type rules
    const char* loose;   // without
  };
  // With payerless amounts asked about; taken as adjustments, only the "" rows change.
  const Case cases[] = {
      {"1", "I", "Insurance 1 Amount Paid", "Insurance 1 Amount Paid"},
      {"1", "J", "", "Insurance 1 Amount Paid"},
      {"2", "J", "", "Insurance 2 Amount Paid"},
      {"3", "I", "Insurance 3 Amount Paid", "Insurance 3 Amount Paid"},
      {"3", "S", "Adjustment Amount", "Adjustment Amount"},
      {"A", "I", "Attorney Amount Paid", "Attorney Amount Paid"},
      {"A", "J", "Attorney Amount Paid", "Attorney Amount Paid"},
      {"A", "T", "Adjustment Amount", "Adjustment Amount"},
      {"G", "I", "Guarantor Amount Paid", "Guarantor Amount Paid"},
      {"G", "J", "Guarantor Amount Paid", "Guarantor Amount Paid"},
      {"G", "S", "Adjustment Amount", "Adjustment Amount"},
      {"4", "I", "", ""},
      {"4", "J", "", ""},
      {"4", "T", "Adjustment Amount", "Adjustment Amount"},
      {"", "I", "", ""},
      {"", "J", "", ""},
      {"", "S", "Adjustment Amount", "Adjustment Amount"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("payer '") + c.who_paid + "', type '" + c.type + "'");
    EXPECT_EQ(ChargeColumn(c.who_paid, c.type, true, kAsk), c.strict);
    EXPECT_EQ(ChargeColumn(c.who_paid, c.type, false, kAsk), c.loose);
    bool payerless = std::string(c.who_paid).empty();
    std::string taken_strict = payerless ? "Adjustment Amount" : c.strict;
    std::string taken_loose = payerless ? "Adjustment Amount" : c.loose;
    EXPECT_EQ(ChargeColumn(c.who_paid, c.type, true, kAdjust), taken_strict);
    EXPECT_EQ(ChargeColumn(c.who_paid, c.type, false, kAdjust), taken_loose);
  }
}

TEST(ChargeColumn, EveryPayerAndTypeAnswersAsItsStandIn) {
  std::vector<std::string> texts = EveryText();
  for (const std::string& who_paid : texts) {
    for (const std::string& type : texts) {
      for (bool strict : {false, true}) {
        for (PayerlessAmount payerless : {kAdjust, kAsk}) {
          ASSERT_EQ(ChargeColumn(who_paid, type, strict, payerless),
                    ChargeColumn(PayerStandIn(who_paid), TypeStandIn(type), strict, payerless))
              << "payer '" << who_paid << "', type '" << type << "', strict " << strict;
        }
      }
    }
  }
}

TEST(InsurerPaidFlag, GoesOnlyWithTheInsurersOwnColumn) {
  EXPECT_EQ(InsurerPaidFlag("1", "Insurance 1 Amount Paid"), "Insurance 1 Paid");
  EXPECT_EQ(InsurerPaidFlag("3", "Insurance 3 Amount Paid"), "Insurance 3 Paid");
  EXPECT_EQ(InsurerPaidFlag("2", "Insurance 1 Amount Paid"), "");
  EXPECT_EQ(InsurerPaidFlag("1", "Adjustment Amount"), "");
  EXPECT_EQ(InsurerPaidFlag("G", "Guarantor Amount Paid"), "");
  EXPECT_EQ(InsurerPaidFlag("", ""), "");
  // Applying payments: the flag with the column, only for an insurer's "I".
  for (const char* type : {"I", "J", "S"}) {
    std::string column = ChargeColumn("2", type, true, kAdjust);
    EXPECT_EQ(InsurerPaidFlag("2", column), std::string(type) == "I" ? "Insurance 2 Paid" : "");
  }
}

}  // namespace
}  // namespace conversion
