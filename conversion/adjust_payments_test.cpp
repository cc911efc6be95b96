// Payment amount adjustment over small practices written as files: what a payment's application
// records leave unapplied moved onto charges still carrying a balance of the other sign, charges
// paid in full marked paid by everyone, and a payment without a column asked about.
#include "conversion/adjust_payments.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "conversion/apply_payments.h"
#include "conversion/testing/practice_files.h"
#include "data/date_time.h"

namespace conversion {
namespace {

using testing::kAllFlags;
using testing::kNoFlags;
using testing::kUnpaid;
using testing::Strings;
using testing::Trn;

const std::function<bool()> kStrict = [] { return true; };
const std::function<bool()> kLoose = [] { return false; };

class AdjustPaymentsTest : public testing::PracticeFilesTest {
 protected:
  void Run(const std::function<bool()>& strict = kStrict) {
    WithPractice([&](PracticeDatasets& practice) { AdjustPayments(practice, view_, strict); });
  }
};

// ---------------------------------------------------------------------------------------------
// Moving what is left.

INSTANTIATE_TEST_SUITE_P(JournalModes, AdjustPaymentsTest,
                         ::testing::ValuesIn(isam::testing::kJournalModes),
                         isam::testing::JournalModeTestName);

TEST_P(AdjustPaymentsTest, WorkedExampleMovesTheLeftoverCentOntoTheFirstCharge) {
  Add({.entry = 1, .type = "A", .amount = "100.00"});
  Add({.entry = 2, .type = "B", .amount = "50.00"});
  Add({.entry = 3, .type = "I", .amount = "-100.00", .who = "1"});
  WithPractice([&](PracticeDatasets& practice) {
    ApplyPayAdj(practice, view_, false, practice.BeginDate, practice.EndDate);
    AdjustPayments(practice, view_, kStrict);
  });
  // Applied: -66.66 and -33.33, leaving -0.01; the first charge still owes 33.34 and takes it.
  EXPECT_EQ(Pax(), (Strings{"3 1 -66.67 1", "3 2 -33.33 1"}));
  EXPECT_EQ(Paid(1), (Strings{"-66.67", "", "", "", "", ""}));
  EXPECT_EQ(Paid(2), (Strings{"-33.33", "", "", "", "", ""}));
  EXPECT_EQ(Flags(1), (Strings{"T", "", "", "", ""})) << "only the flag applying set";
  EXPECT_EQ(Flags(2), (Strings{"T", "", "", "", ""}));
  EXPECT_TRUE(view_.questions.empty());
  // What each phase counted: applying wrote both records and flags, the adjustment one cent.
  const RunCounts& counts = view_.Counts();
  EXPECT_EQ(counts.documents_applied, 1);
  EXPECT_EQ(counts.applications_written, 2);
  EXPECT_EQ(counts.applied.at("Insurance 1 Amount Paid"), data::Money::FromDouble(-99.99));
  EXPECT_EQ(counts.moved.at("Insurance 1 Amount Paid"), data::Money::FromDouble(-0.01));
  EXPECT_EQ(counts.cents_moved, 1);
  EXPECT_EQ(counts.marked_paid.at("Insurance 1 Paid"), 2);
  EXPECT_EQ(counts.questions_asked, 0);
}

TEST_P(AdjustPaymentsTest, ANegativeRemainderIsSpreadOverChargesStillOwing) {
  // Charge 1 owes 10.00 less 6.00 paid by payment 3 (not in the range): 4.00. Charge 2 owes
  // 20.00. Payment 4 of -10.00 has records of 0.00 on both. A record of a payment that does
  // not exist counts in no balance.
  Add({.entry = 1, .type = "A", .amount = "10.00", .more = {{"Insurance 1 Amount Paid", "-6.0"}}});
  Add({.entry = 2, .type = "A", .amount = "20.00"});
  Add({.entry = 3, .type = "I", .amount = "-6.00", .who = "1", .created = "2024-02-01"});
  Add({.entry = 4, .type = "K", .amount = "-10.00", .who = "G"});
  AddPax(3, 1, "-6.00", "1");
  AddPax(4, 1, "0.00", "G");
  AddPax(4, 2, "0.00", "G");
  AddPax(99, 1, "-100.00", "1");
  Run();
  // The first charge takes its whole balance, the second what is left of the payment.
  EXPECT_EQ(Pax(), (Strings{"3 1 -6 1", "4 1 -4 G", "4 2 -6 G", "99 1 -100 1"}));
  EXPECT_EQ(Paid(1), (Strings{"-6", "", "", "-4", "", ""}));
  EXPECT_EQ(Paid(2), (Strings{"", "", "", "-6", "", ""}));
  EXPECT_EQ(Flags(1), kNoFlags);
  EXPECT_EQ(Flags(2), kNoFlags);
  EXPECT_EQ(Paid(4), kUnpaid);
  EXPECT_EQ(view_.Counts().moved.at("Guarantor Amount Paid"), data::Money::FromDouble(-10));
  EXPECT_EQ(view_.Counts().cents_moved, 1000);
}

TEST_P(AdjustPaymentsTest, APositiveAdjustmentMovesOntoAChargeWithACredit) {
  // Charge 1 owes 12.00; charge 2 is 10.00 with 13.34 paid by payment 3: a credit of 3.34.
  Add({.entry = 1, .type = "A", .amount = "12.00"});
  Add({.entry = 2,
       .type = "A",
       .amount = "10.00",
       .more = {{"Insurance 1 Amount Paid", "-13.34"}}});
  Add({.entry = 3, .type = "I", .amount = "-13.34", .who = "1", .created = "2024-02-01"});
  Add({.entry = 4, .type = "S", .amount = "0.01"});
  AddPax(3, 2, "-13.34", "1");
  AddPax(4, 1, "0.00", "");
  AddPax(4, 2, "0.00", "");
  Run();
  EXPECT_EQ(Pax(), (Strings{"3 2 -13.34 1", "4 1 0 ", "4 2 0.01 "}));
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(Flags(1), kNoFlags);
  EXPECT_EQ(Paid(2), (Strings{"-13.34", "", "", "", "", "0.01"}));
  EXPECT_EQ(Flags(2), kAllFlags);
  EXPECT_TRUE(view_.questions.empty()) << "an adjustment needs no payer";
}

TEST_P(AdjustPaymentsTest, APositiveRemainderLargerThanACreditMovesTheCreditThenGoesOn) {
  // Credits of 3.34 on charge 1 and 10.00 on charge 2; adjustment 4 of +5.00.
  Add({.entry = 1, .type = "A", .amount = "10.00"});
  Add({.entry = 2, .type = "A", .amount = "10.00"});
  Add({.entry = 3, .type = "I", .amount = "-33.34", .who = "1", .created = "2024-02-01"});
  Add({.entry = 4, .type = "T", .amount = "5.00", .who = "G"});
  AddPax(3, 1, "-13.34", "1");
  AddPax(3, 2, "-20.00", "1");
  AddPax(4, 1, "0.00", "G");
  AddPax(4, 2, "0.00", "G");
  Run();
  EXPECT_EQ(Pax(), (Strings{"3 1 -13.34 1", "3 2 -20 1", "4 1 3.34 G", "4 2 1.66 G"}));
  EXPECT_EQ(Paid(1), (Strings{"", "", "", "", "", "3.34"}));
  EXPECT_EQ(Paid(2), (Strings{"", "", "", "", "", "1.66"}));
  EXPECT_EQ(Flags(1), kAllFlags);
  EXPECT_EQ(Flags(2), kAllFlags);
}

TEST_P(AdjustPaymentsTest, AFullyAppliedPaymentMarksItsChargePaidByEveryone) {
  Add({.entry = 1, .type = "A", .amount = "50.00", .more = {{"Insurance 1 Amount Paid", "-50.0"}}});
  Add({.entry = 2, .type = "A", .amount = "30.00", .more = {{"Insurance 1 Amount Paid", "-10.0"}}});
  Add({.entry = 3, .type = "I", .amount = "-60.00", .who = "1"});
  AddPax(3, 1, "-50.00", "1");
  AddPax(3, 2, "-10.00", "1");
  Run();
  EXPECT_EQ(Flags(1), kAllFlags);
  EXPECT_EQ(Flags(2), kNoFlags) << "20.00 still owed";
  for (const char* flag : kPaidFlags) EXPECT_EQ(view_.Counts().marked_paid.at(flag), 1) << flag;
  EXPECT_EQ(Paid(1), (Strings{"-50", "", "", "", "", ""}));
  EXPECT_EQ(Paid(2), (Strings{"-10", "", "", "", "", ""}));
  EXPECT_EQ(Pax(), (Strings{"3 1 -50 1", "3 2 -10 1"}));
}

TEST_P(AdjustPaymentsTest, APaymentWithoutApplicationRecordsChangesNothing) {
  Add({.entry = 1, .type = "A", .amount = "50.00"});
  Add({.entry = 2, .type = "K", .amount = "-25.00", .who = "G"});
  Run();
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(Flags(1), kNoFlags);
  EXPECT_EQ(Paid(2), kUnpaid);
  EXPECT_TRUE(Pax().empty());
  EXPECT_TRUE(view_.questions.empty());
}

TEST_P(AdjustPaymentsTest, ARecordWhoseChargeIsGoneIsSkippedAndCountsInNoRemainder) {
  // Payment 2 of -10.00: -4.00 on charge 1 and -6.00 on a charge that no longer exists, so
  // -6.00 is left, and charge 1 still owes 6.00.
  Add({.entry = 1, .type = "A", .amount = "10.00", .more = {{"Guarantor Amount Paid", "-4.0"}}});
  Add({.entry = 2, .type = "K", .amount = "-10.00", .who = "G"});
  AddPax(2, 1, "-4.00", "G");
  AddPax(2, 99, "-6.00", "G");
  Run();
  EXPECT_EQ(Pax(), (Strings{"2 1 -10 G", "2 99 -6 G"}));
  EXPECT_EQ(Paid(1), (Strings{"", "", "", "-10", "", ""}));
  EXPECT_EQ(Flags(1), kNoFlags);
}

// ---------------------------------------------------------------------------------------------
// Payments without a column.

TEST_P(AdjustPaymentsTest, StrictRulesAskAboutAnInsurancePayerOnAnotherType) {
  Add({.entry = 1, .type = "A", .amount = "10.00", .more = {{"Insurance 1 Amount Paid", "-4.0"}}});
  Add({.entry = 2, .type = "J", .amount = "-10.00", .who = "1"});
  AddPax(2, 1, "-4.00", "1");
  Run(kStrict);
  EXPECT_EQ(view_.questions,
            Strings{"Payor Field not assigned: CHART1 2 Do you wish to continue?"});
  EXPECT_FALSE(view_.stop) << "answered Yes";
  EXPECT_EQ(Pax(), (Strings{"2 1 -4 1"}));
  EXPECT_EQ(Paid(1), (Strings{"-4", "", "", "", "", ""}));
}

TEST_P(AdjustPaymentsTest, LooseRulesMoveAnInsurancePayerOnAnotherTypeToItsColumn) {
  Add({.entry = 1, .type = "A", .amount = "10.00", .more = {{"Insurance 1 Amount Paid", "-4.0"}}});
  Add({.entry = 2, .type = "J", .amount = "-10.00", .who = "1"});
  AddPax(2, 1, "-4.00", "1");
  Run(kLoose);
  EXPECT_TRUE(view_.questions.empty());
  EXPECT_EQ(Pax(), (Strings{"2 1 -10 1"}));
  EXPECT_EQ(Paid(1), (Strings{"-10", "", "", "", "", ""}));
}

TEST_P(AdjustPaymentsTest, TheRulesAreAskedAfreshForEveryPayment) {
  Add({.entry = 1, .type = "A", .amount = "10.00", .doc = "D1"});
  Add({.entry = 2, .type = "J", .amount = "-10.00", .who = "1", .doc = "D1"});
  Add({.entry = 3, .type = "A", .amount = "10.00", .doc = "D2"});
  Add({.entry = 4, .type = "J", .amount = "-10.00", .who = "1", .doc = "D2"});
  AddPax(2, 1, "-4.00", "1");
  AddPax(4, 3, "-4.00", "1");
  int asked = 0;
  Run([&] { return ++asked == 1; });  // strict for the first payment only
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(view_.questions,
            Strings{"Payor Field not assigned: CHART1 2 Do you wish to continue?"});
  EXPECT_EQ(Pax(), (Strings{"2 1 -4 1", "4 3 -10 1"}));
}

TEST_P(AdjustPaymentsTest, AnInsurancePaymentWithoutPayerIsAskedAboutUnderEitherRules) {
  Add({.entry = 1, .type = "A", .amount = "10.00"});
  Add({.entry = 2, .type = "I", .amount = "-10.00"});
  AddPax(2, 1, "-4.00", "");
  Run(kStrict);
  Run(kLoose);
  const std::string question = "Payor Field not assigned: CHART1 2 Do you wish to continue?";
  EXPECT_EQ(view_.questions, (Strings{question, question}));
  EXPECT_EQ(Pax(), (Strings{"2 1 -4 "}));
  EXPECT_EQ(Paid(1), kUnpaid);
}

TEST_P(AdjustPaymentsTest, AnsweringNoStopsBeforeTheNextPaymentAndFillsTheGauge) {
  Add({.entry = 1, .type = "A", .amount = "10.00"});
  Add({.entry = 2, .type = "I", .amount = "-10.00"});
  Add({.entry = 3, .type = "K", .amount = "-10.00", .who = "G"});
  Add({.entry = 4, .type = "A", .amount = "5.00"});
  AddPax(3, 1, "-4.00", "G");
  view_.answer = false;
  Run();
  EXPECT_EQ(view_.questions,
            Strings{"Payor Field not assigned: CHART1 2 Do you wish to continue?"});
  EXPECT_TRUE(view_.stop);
  EXPECT_EQ(view_.Counts().questions_asked, 1);
  EXPECT_EQ(view_.Counts().questions_answered_no, 1);
  EXPECT_EQ(view_.Counts().questions_answered_yes, 0);
  EXPECT_EQ(Pax(), (Strings{"3 1 -4 G"})) << "payment 3 is not visited";
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(view_.gauge1.Max(), 4);
  EXPECT_EQ(view_.gauge1.Position(), 4);
}

// ---------------------------------------------------------------------------------------------
// Which payments are visited, and the window.

TEST_P(AdjustPaymentsTest, OnlyPaymentsAndAdjustmentsCreatedInTheRangeAreVisited) {
  // Every one of these would be asked about, or would move money, if it were visited.
  Add({.entry = 1, .type = "A", .amount = "10.00"});
  Add({.entry = 2, .type = "K", .amount = "-10.00", .who = "G", .created = "2024-02-29"});
  Add({.entry = 3, .type = "K", .amount = "-10.00", .who = "G", .created = "2024-04-01"});
  Add({.entry = 4, .type = "K", .amount = "-10.00", .who = "G", .created = ""});
  Add({.entry = 5, .type = "i", .amount = "-10.00"});
  Add({.entry = 6, .type = "", .amount = "-10.00"});
  Add({.entry = 7, .type = "P", .amount = "-10.00"});
  Add({.entry = 8, .type = "H", .amount = "-10.00"});
  AddPax(2, 1, "-1.00", "G");
  AddPax(3, 1, "-1.00", "G");
  AddPax(4, 1, "-1.00", "G");
  Run();
  EXPECT_TRUE(view_.questions.empty());
  EXPECT_EQ(Pax(), (Strings{"2 1 -1 G", "3 1 -1 G", "4 1 -1 G"}));
  EXPECT_EQ(Paid(1), kUnpaid);
  EXPECT_EQ(view_.gauge1.Max(), 8) << "every record is counted";
  EXPECT_EQ(view_.gauge1.Position(), 8);
}

TEST_P(AdjustPaymentsTest, TheRangeIncludesItsFirstAndLastDays) {
  Add({.entry = 1, .type = "A", .amount = "10.00"});
  Add({.entry = 2, .type = "I", .amount = "-1.00", .created = "2024-03-01"});
  Add({.entry = 3, .type = "I", .amount = "-1.00", .created = "2024-03-31"});
  Run();
  EXPECT_EQ(view_.questions,
            (Strings{"Payor Field not assigned: CHART1 2 Do you wish to continue?",
                     "Payor Field not assigned: CHART1 3 Do you wish to continue?"}));
}

TEST_P(AdjustPaymentsTest, TheTitleShowsFilteringWhileTheFilterIsSwitchedOn) {
  Add({.entry = 1, .type = "A", .amount = "10.00"});
  Add({.entry = 2, .type = "K", .amount = "-10.00", .who = "G"});
  Run();
  EXPECT_EQ(view_.titles, (Strings{"Rivenoak  Filtering", "Rivenoak"}));
  EXPECT_EQ(view_.title, "Rivenoak");
}

TEST_P(AdjustPaymentsTest, AStopAlreadyPressedVisitsNothingAndFillsTheGauge) {
  Add({.entry = 1, .type = "A", .amount = "10.00"});
  Add({.entry = 2, .type = "I", .amount = "-10.00"});
  Add({.entry = 3, .type = "K", .amount = "-10.00", .who = "G"});
  AddPax(3, 1, "-4.00", "G");
  view_.stop = true;
  Run();
  EXPECT_TRUE(view_.questions.empty());
  EXPECT_EQ(Pax(), (Strings{"3 1 -4 G"}));
  EXPECT_EQ(view_.gauge1.Max(), 3);
  EXPECT_EQ(view_.gauge1.Position(), 3);
}

}  // namespace
}  // namespace conversion
