// Payment application over small practices written as files: each payment of a document divided
// among its charges in proportion to their amounts, the share added to the payer's column and
// recorded once per pair; and the arithmetic of the ratio and the share on exact values.
#include "conversion/apply_payments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "conversion/testing/practice_files.h"
#include "data/date_time.h"
#include "data/errors.h"

namespace conversion {
namespace {

using data::Money;
using testing::kNoFlags;
using testing::kUnpaid;
using testing::Strings;
using testing::Trn;

Money Cents(int64_t cents) {
  return Money::FromCount(cents * 100);
}

// ---------------------------------------------------------------------------------------------
// The ratio and the share.

TEST(PaymentRatio, IsTheSizeOfThePaymentOverTheChargeTotal) {
  EXPECT_EQ(PaymentRatio(Cents(3000), Cents(15000)), 0.2);
  EXPECT_EQ(PaymentRatio(Cents(15000), Cents(15000)), 1.0);
  EXPECT_EQ(PaymentRatio(Cents(-10000), Cents(15000)), -2.0 / 3.0);
}

TEST(PaymentRatio, IsNegatedForAPaymentOfZeroOrLessWhateverTheTotalsSign) {
  EXPECT_EQ(PaymentRatio(Cents(-1000), Cents(-2000)), -0.5);
  EXPECT_EQ(PaymentRatio(Cents(1000), Cents(-2000)), 0.5);
  EXPECT_EQ(PaymentRatio(Cents(0), Cents(10000)), 0.0);
}

TEST(ShareOf, CutsTowardZeroToHundredths) {
  EXPECT_EQ(ShareOf(Money::FromCount(333333), 1.0), Cents(3333));    // 33.3333 -> 33.33
  EXPECT_EQ(ShareOf(Money::FromCount(333399), 1.0), Cents(3333));    // 33.3399 -> 33.33
  EXPECT_EQ(ShareOf(Money::FromCount(-333399), 1.0), Cents(-3333));  // -33.3399 -> -33.33
  EXPECT_EQ(ShareOf(Money::FromCount(-99), 1.0), Cents(0));          // -0.0099 -> 0.00
  EXPECT_EQ(ShareOf(Money::FromCount(333333), -1.0), Cents(-3333));
}

TEST(ShareOf, ALargeChargePaidInFullGetsItsWholeAmount) {
  // Ten thousand billion is 10^19 millionths, past the 64-bit integers.
  Money charge = Money::FromDouble(1e13);
  EXPECT_EQ(ShareOf(charge, -1.0), -charge);
  EXPECT_EQ(ShareOf(charge, 1.0), charge);
  EXPECT_EQ(ShareOf(Money::FromDouble(-9e14), 0.5), Money::FromDouble(-4.5e14));
  // A share that no money value holds is refused, never wrapped.
  EXPECT_THROW(ShareOf(Money::FromDouble(9e14), 20.0), data::Exception);
  EXPECT_THROW(ShareOf(Money::FromDouble(9e14), std::nan("")), data::Exception);
}

TEST(ShareOf, GivesTheWorkedExamplesShares) {
  double ratio = PaymentRatio(Cents(-10000), Cents(15000));
  EXPECT_EQ(ShareOf(Cents(10000), ratio), Cents(-6666));
  EXPECT_EQ(ShareOf(Cents(5000), ratio), Cents(-3333));
  EXPECT_EQ(ShareOf(Cents(0), ratio), Cents(0));
}

TEST(ShareOf, RoundsToTheNearestMillionthBeforeCutting) {
  // A third is held a little below a third: 30.00 x ratio x 100 is 9 999 999.99999999999
  // millionths, which rounds to ten dollars where a plain cut would give 9.99.
  EXPECT_EQ(ShareOf(Cents(3000), PaymentRatio(Cents(1000), Cents(3000))), Cents(1000));
  EXPECT_EQ(ShareOf(Cents(3000), PaymentRatio(Cents(-1000), Cents(3000))), Cents(-1000));
}

TEST(ShareOf, AnExactHalfMillionthBelowACentRoundsUpToTheCent) {
  // 0.0163 x ratio x 100 is exactly 9 999.5 millionths in extended precision: the tie goes to
  // the even 10 000, a whole cent. One step below the ratio the product is under the half.
  const double tie = 0x1.3a183fd3c5f3dp-1;
  const double below = 0x1.3a183fd3c5f3cp-1;
  EXPECT_EQ(ShareOf(Money::FromCount(163), tie), Cents(1));
  EXPECT_EQ(ShareOf(Money::FromCount(-163), tie), Cents(-1));
  EXPECT_EQ(ShareOf(Money::FromCount(163), below), Cents(0));
  // 10 000.5 millionths: the tie goes to the even 10 000, still one cent.
  EXPECT_EQ(ShareOf(Money::FromCount(115), 0x1.bd3d59d8495f3p-1), Cents(1));
}

// ---------------------------------------------------------------------------------------------
// The phase over a practice.

class ApplyPayAdjTest : public testing::PracticeFilesTest {
 protected:
  // Runs the phase over March 2024 with the practice open as the main window opens it.
  void Run(bool over_apply = false) {
    WithPractice([&](PracticeDatasets& practice) {
      ApplyPayAdj(practice, view_, over_apply, data::EncodeDate(2024, 3, 1),
                  data::EncodeDate(2024, 3, 31));
    });
  }
};

INSTANTIATE_TEST_SUITE_P(JournalModes, ApplyPayAdjTest,
                         ::testing::ValuesIn(isam::testing::kJournalModes),
                         isam::testing::JournalModeTestName);

TEST_P(ApplyPayAdjTest, WorkedExampleSplitsAnInsurancePaymentInProportionToTheCharges) {
  Add({.entry = 1, .type = "A", .amount = "100.00"});
  Add({.entry = 2, .type = "B", .amount = "50.00"});
  Add({.entry = 3, .type = "I", .amount = "-100.00", .who = "1"});
  view_.gauge2.SetMax(7);
  Run();
  EXPECT_EQ(Paid(1), (Strings{"-66.66", "", "", "", "", ""}));
  EXPECT_EQ(Paid(2), (Strings{"-33.33", "", "", "", "", ""}));
  EXPECT_EQ(Flags(1), (Strings{"T", "", "", "", ""}));
  EXPECT_EQ(Flags(2), (Strings{"T", "", "", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"3 1 -66.66 1", "3 2 -33.33 1"}));
  EXPECT_EQ(Paid(3), kUnpaid) << "the payment itself is not changed";
  EXPECT_EQ(Get(3, "Amount"), "-100");
  EXPECT_EQ(view_.gauge1.Max(), 1);
  EXPECT_EQ(view_.gauge1.Position(), 1);
  EXPECT_EQ(view_.gauge2.Position(), 7) << "the second bar is set full";
}

TEST_P(ApplyPayAdjTest, EveryPayerColumnAndItsFlag) {
  // One document per payer, each with one charge of 10.00 and a payment of -4.00.
  const std::vector<std::pair<std::string, std::string>> payers = {
      {"I", "2"}, {"I", "3"}, {"K", "G"}, {"I", "A"}};
  int entry = 0;
  for (const auto& [type, who] : payers) {
    std::string doc = "D" + std::to_string(entry);
    Add({.entry = ++entry, .type = "A", .amount = "10.00", .doc = doc});
    Add({.entry = ++entry, .type = type, .amount = "-4.00", .who = who, .doc = doc});
  }
  Run();
  EXPECT_EQ(Paid(1), (Strings{"", "-4", "", "", "", ""}));
  EXPECT_EQ(Flags(1), (Strings{"", "T", "", "", ""}));
  EXPECT_EQ(Paid(3), (Strings{"", "", "-4", "", "", ""}));
  EXPECT_EQ(Flags(3), (Strings{"", "", "T", "", ""}));
  EXPECT_EQ(Paid(5), (Strings{"", "", "", "-4", "", ""}));
  EXPECT_EQ(Flags(5), kNoFlags) << "no flag goes with the guarantor's column";
  EXPECT_EQ(Paid(7), (Strings{"", "", "", "", "-4", ""}));
  EXPECT_EQ(Flags(7), kNoFlags) << "an attorney on an insurance type sets no flag";
  EXPECT_EQ(Pax(), (Strings{"2 1 -4 2", "4 3 -4 3", "6 5 -4 G", "8 7 -4 A"}));
}

TEST_P(ApplyPayAdjTest, AdjustmentTypesSAndTGoToAdjustmentAmountWhoeverPaid) {
  Add({.entry = 1, .type = "A", .amount = "100.00"});
  Add({.entry = 2, .type = "S", .amount = "-10.00", .who = "1"});
  Add({.entry = 3, .type = "T", .amount = "-20.00", .who = "G"});
  Run();
  EXPECT_EQ(Paid(1), (Strings{"", "", "", "", "", "-30"}));
  EXPECT_EQ(Flags(1), kNoFlags);
  EXPECT_EQ(Pax(), (Strings{"2 1 -10 1", "3 1 -20 G"}));
}

TEST_P(ApplyPayAdjTest, APaymentWithoutPayerGoesToAdjustmentAmount) {
  Add({.entry = 1, .type = "A", .amount = "40.00"});
  Add({.entry = 2, .type = "I", .amount = "-10.00"});
  Run();
  EXPECT_EQ(Paid(1), (Strings{"", "", "", "", "", "-10"}));
  EXPECT_EQ(Flags(1), kNoFlags);
  EXPECT_EQ(Pax(), (Strings{"2 1 -10 "}));
}

TEST_P(ApplyPayAdjTest, AnInsurancePayerOnAnotherTypeMovesNoColumnButIsRecorded) {
  Add({.entry = 1, .type = "A", .amount = "100.00", .more = {{"Description", "'kept'"}}});
  Add({.entry = 2, .type = "J", .amount = "-25.00", .who = "1"});
  Run();
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(Flags(1), kNoFlags);
  EXPECT_EQ(Get(1, "Description"), "kept");
  EXPECT_EQ(Pax(), (Strings{"2 1 -25 1"}));
}

TEST_P(ApplyPayAdjTest, APositivePaymentGivesPositiveShares) {
  Add({.entry = 1, .type = "A", .amount = "100.00"});
  Add({.entry = 2, .type = "C", .amount = "50.00"});
  Add({.entry = 3, .type = "K", .amount = "30.00", .who = "G"});
  Run();
  EXPECT_EQ(Paid(1), (Strings{"", "", "", "20", "", ""}));
  EXPECT_EQ(Paid(2), (Strings{"", "", "", "10", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"3 1 20 G", "3 2 10 G"}));
}

TEST_P(ApplyPayAdjTest, TwoPaymentsOfADocumentAddTheirSharesToTheSameCharges) {
  Add({.entry = 1, .type = "A", .amount = "100.00"});
  Add({.entry = 2, .type = "H", .amount = "50.00"});
  Add({.entry = 3, .type = "I", .amount = "-30.00", .who = "1"});
  Add({.entry = 4, .type = "I", .amount = "-15.00", .who = "1"});
  Run();
  EXPECT_EQ(Paid(1), (Strings{"-30", "", "", "", "", ""}));
  EXPECT_EQ(Paid(2), (Strings{"-15", "", "", "", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"3 1 -20 1", "3 2 -10 1", "4 1 -10 1", "4 2 -5 1"}));
}

TEST_P(ApplyPayAdjTest, AZeroChargeGetsApplicationRecordsOfZero) {
  Add({.entry = 1, .type = "A", .amount = "80.00"});
  Add({.entry = 2, .type = "B", .amount = "0.00"});
  Add({.entry = 3, .type = "I", .amount = "-40.00", .who = "1"});
  Run();
  EXPECT_EQ(Paid(1), (Strings{"-40", "", "", "", "", ""}));
  EXPECT_EQ(Paid(2), (Strings{"0", "", "", "", "", ""}));
  EXPECT_EQ(Flags(2), (Strings{"T", "", "", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"3 1 -40 1", "3 2 0 1"}));
}

TEST_P(ApplyPayAdjTest, LowerCaseAndEmptyTypesAreNeitherChargesNorPayments) {
  Add({.entry = 1, .type = "A", .amount = "100.00"});
  Add({.entry = 2, .type = "a", .amount = "100.00"});
  Add({.entry = 3, .type = "", .amount = "100.00"});
  Add({.entry = 4, .type = "I", .amount = "-50.00", .who = "1"});
  Add({.entry = 5, .type = "i", .amount = "-50.00", .who = "1"});
  Run();
  EXPECT_EQ(Paid(1), (Strings{"-50", "", "", "", "", ""})) << "the whole payment on one charge";
  EXPECT_EQ(Paid(2), kUnpaid);
  EXPECT_EQ(Paid(3), kUnpaid);
  EXPECT_EQ(Pax(), (Strings{"4 1 -50 1"}));
}

// ---------------------------------------------------------------------------------------------
// Documents left alone.

TEST_P(ApplyPayAdjTest, ADocumentWhoseChargesSumToZeroIsLeftAlone) {
  Add({.entry = 1, .type = "A", .amount = "50.00"});
  Add({.entry = 2, .type = "B", .amount = "-50.00"});
  Add({.entry = 3, .type = "I", .amount = "-10.00", .who = "1"});
  Run(/*over_apply=*/true);
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(Paid(2), kUnpaid);
  EXPECT_TRUE(Pax().empty());
  EXPECT_EQ(view_.gauge1.Position(), 1) << "the document is still counted";
}

TEST_P(ApplyPayAdjTest, WithoutOverApplyOnlyDocumentsStillOwingAreApplied) {
  // Charges plus payments: 0.00 in D1, -20.00 in D2, +40.00 in D3.
  Add({.entry = 1, .type = "A", .amount = "20.00", .doc = "D1"});
  Add({.entry = 2, .type = "I", .amount = "-20.00", .who = "1", .doc = "D1"});
  Add({.entry = 3, .type = "A", .amount = "20.00", .doc = "D2"});
  Add({.entry = 4, .type = "I", .amount = "-40.00", .who = "1", .doc = "D2"});
  Add({.entry = 5, .type = "A", .amount = "60.00", .doc = "D3"});
  Add({.entry = 6, .type = "I", .amount = "-20.00", .who = "1", .doc = "D3"});
  Run(/*over_apply=*/false);
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(Paid(3), kUnpaid);
  EXPECT_EQ(Paid(5), (Strings{"-20", "", "", "", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"6 5 -20 1"}));
  EXPECT_EQ(view_.gauge1.Max(), 3);
  EXPECT_EQ(view_.gauge1.Position(), 3);
}

TEST_P(ApplyPayAdjTest, WithOverApplyDocumentsPaidInFullOrMoreAreAppliedToo) {
  Add({.entry = 1, .type = "A", .amount = "20.00", .doc = "D1"});
  Add({.entry = 2, .type = "I", .amount = "-20.00", .who = "1", .doc = "D1"});
  Add({.entry = 3, .type = "A", .amount = "20.00", .doc = "D2"});
  Add({.entry = 4, .type = "I", .amount = "-40.00", .who = "1", .doc = "D2"});
  Run(/*over_apply=*/true);
  EXPECT_EQ(Paid(1), (Strings{"-20", "", "", "", "", ""}));
  EXPECT_EQ(Paid(3), (Strings{"-40", "", "", "", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"2 1 -20 1", "4 3 -40 1"}));
}

TEST_P(ApplyPayAdjTest, ADocumentWhoseFirstPaymentIsAlreadyAppliedIsLeftAlone) {
  Add({.entry = 1, .type = "A", .amount = "100.00"});
  Add({.entry = 2, .type = "A", .amount = "50.00"});
  Add({.entry = 3, .type = "I", .amount = "-30.00", .who = "1"});
  Add({.entry = 4, .type = "K", .amount = "-15.00", .who = "G"});
  AddPax(3, 1, "-20.00", "1");
  Run();
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(Paid(2), kUnpaid);
  EXPECT_EQ(Pax(), (Strings{"3 1 -20 1"})) << "the second payment is not applied either";
}

TEST_P(ApplyPayAdjTest, AnAlreadyAppliedPairIsNeitherRecordedAgainNorAddedToTheCharge) {
  Add({.entry = 1, .type = "A", .amount = "100.00"});
  Add({.entry = 2, .type = "A", .amount = "50.00"});
  Add({.entry = 3, .type = "I", .amount = "-30.00", .who = "1"});
  Add({.entry = 4, .type = "K", .amount = "-15.00", .who = "G"});
  AddPax(4, 1, "-7.00", "G");
  Run();
  EXPECT_EQ(Paid(1), (Strings{"-20", "", "", "", "", ""})) << "only the first payment's share";
  EXPECT_EQ(Paid(2), (Strings{"-10", "", "", "-5", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"4 1 -7 G", "3 1 -20 1", "3 2 -10 1", "4 2 -5 G"}));
}

// ---------------------------------------------------------------------------------------------
// Which documents are visited.

TEST_P(ApplyPayAdjTest, OnlyDocumentsWithATransactionCreatedInTheRangeAreApplied) {
  // D1: nothing created in March. D2: the payment is, its charge is not.
  Add({.entry = 1, .type = "A", .amount = "10.00", .doc = "D1", .created = "2024-02-29"});
  Add({.entry = 2,
       .type = "I",
       .amount = "-4.00",
       .who = "1",
       .doc = "D1",
       .created = "2024-04-01"});
  Add({.entry = 3, .type = "A", .amount = "10.00", .doc = "D2", .created = "2024-01-10"});
  Add({.entry = 4,
       .type = "I",
       .amount = "-4.00",
       .who = "1",
       .doc = "D2",
       .created = "2024-03-31"});
  Add({.entry = 5, .type = "A", .amount = "10.00", .doc = "D3", .created = ""});
  Add({.entry = 6, .type = "I", .amount = "-4.00", .who = "1", .doc = "D3", .created = ""});
  Run();
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(Paid(3), (Strings{"-4", "", "", "", "", ""}));
  EXPECT_EQ(Paid(5), kUnpaid);
  EXPECT_EQ(Pax(), (Strings{"4 3 -4 1"}));
  EXPECT_EQ(view_.gauge1.Max(), 1);
}

TEST_P(ApplyPayAdjTest, ADocumentIsAChartAndDocumentNumberPair) {
  Add({.entry = 1, .type = "A", .amount = "10.00", .chart = "CHART1"});
  Add({.entry = 2, .type = "A", .amount = "30.00", .chart = "CHART2"});
  Add({.entry = 3, .type = "I", .amount = "-20.00", .who = "1", .chart = "CHART2"});
  Run();
  EXPECT_EQ(Paid(1), kUnpaid) << "another chart's document of the same number";
  EXPECT_EQ(Paid(2), (Strings{"-20", "", "", "", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"3 2 -20 1"}));
  EXPECT_EQ(view_.gauge1.Max(), 2);
}

TEST_P(ApplyPayAdjTest, StoppingDuringADocumentFinishesItAndEndsThePhase) {
  Add({.entry = 1, .type = "A", .amount = "100.00", .doc = "D1"});
  Add({.entry = 2, .type = "A", .amount = "50.00", .doc = "D1"});
  Add({.entry = 3, .type = "I", .amount = "-30.00", .who = "1", .doc = "D1"});
  Add({.entry = 4, .type = "A", .amount = "10.00", .doc = "D2"});
  Add({.entry = 5, .type = "I", .amount = "-10.00", .who = "1", .doc = "D2"});
  view_.stop_at_message = 1;  // the stop is pressed while the first document is worked on
  Run();
  EXPECT_TRUE(view_.stop);
  EXPECT_EQ(Paid(1), (Strings{"-20", "", "", "", "", ""}));
  EXPECT_EQ(Paid(2), (Strings{"-10", "", "", "", "", ""}));
  EXPECT_EQ(Paid(4), kUnpaid);
  EXPECT_EQ(Pax(), (Strings{"3 1 -20 1", "3 2 -10 1"}));
  EXPECT_EQ(view_.gauge1.Max(), 2);
  EXPECT_EQ(view_.gauge1.Position(), 1);
}

TEST_P(ApplyPayAdjTest, AStopAlreadyPressedAppliesNothing) {
  Add({.entry = 1, .type = "A", .amount = "10.00"});
  Add({.entry = 2, .type = "I", .amount = "-10.00", .who = "1"});
  view_.stop = true;
  Run();
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_TRUE(Pax().empty());
  EXPECT_EQ(view_.gauge1.Position(), 0);
}

}  // namespace
}  // namespace conversion

namespace conversion {
namespace {

TEST_P(ApplyPayAdjTest, ADocumentThatFailsMidwayKeepsNoneOfItsChangesAndTheOnesBeforeItAll) {
  Add({1, "A", "100.00", "", "D1"});
  Add({2, "I", "-50.00", "1", "D1"});
  Add({3, "A", "100.00", "", "D2"});
  Add({4, "A", "50.00", "", "D2"});
  Add({5, "I", "-60.00", "1", "D2"});
  // Another program holds the second charge of D2: D2 fails after its first charge was written.
  isam::testing::ScopedConnection other(folder_.path());
  IsamHandle table = other.Open("MWTRN.ADT");
  ASSERT_EQ(IsamLockRecord(table, 4), 0u);
  EXPECT_THROW(Run(), data::EIsamDatabaseError);
  EXPECT_EQ(Pax(), (Strings{"2 1 -50 1"})) << "D1, done before D2 failed, is kept";
  EXPECT_EQ(Paid(1), (Strings{"-50", "", "", "", "", ""}));
  EXPECT_EQ(Paid(3), kUnpaid);
  EXPECT_EQ(Flags(3), kNoFlags);
  // The counts say what the tables hold: D2's first charge, written and rolled back, is not there.
  const RunCounts& counts = view_.Counts();
  EXPECT_EQ(counts.documents_applied, 1);
  EXPECT_EQ(counts.applications_written, 1);
  EXPECT_EQ(counts.applied.at("Insurance 1 Amount Paid"), data::Money::FromDouble(-50));
  EXPECT_EQ(counts.marked_paid.at("Insurance 1 Paid"), 1);
  EXPECT_EQ(counts.documents_per_month.size(), 1u);
}

TEST_P(ApplyPayAdjTest, AChargeOfTenThousandBillionPaidInFullGetsItsWholeAmount) {
  Add({1, "A", "10000000000000.00", "", "D1"});
  Add({2, "I", "-10000000000000.00", "1", "D1"});
  Run(/*over_apply=*/true);
  EXPECT_EQ(view_.Counts().applications_written, 1);
  EXPECT_EQ(view_.Counts().applied.at("Insurance 1 Amount Paid"), data::Money::FromDouble(-1e13));
}

TEST_P(ApplyPayAdjTest, AShareThatNoMoneyValueHoldsNamesItsChargeAndPayment) {
  // A credit almost as large as the charge leaves a total of a cent, so the payment's share of
  // the charge would be 8.1e29.
  Add({1, "A", "90000000000000.00", "", "D1"});
  Add({2, "B", "-89999999999999.99", "", "D1"});
  Add({3, "I", "-90000000000000.00", "1", "D1"});
  try {
    Run(/*over_apply=*/true);
    ADD_FAILURE() << "the share was applied";
  } catch (const data::Exception& e) {
    EXPECT_NE(std::string(e.what()).find("Money overflow in a share of 90000000000000.00 (the "
                                         "share of the charge with \"Entry Number\" 1 in the "
                                         "payment with \"Entry Number\" 3)"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Pax(), Strings{});
}

}  // namespace
}  // namespace conversion
