// The run in its own terms: what it asks of the view, the check before its first change and the
// phases it calls, in their order, for the options and date ranges it is given.
#include "conversion/run.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace conversion {
namespace {

using Strings = std::vector<std::string>;

class NullGauge : public Gauge {
 public:
  void SetMax(int) override {}
  void SetPosition(int) override {}
  int Max() const override { return 0; }
  int Position() const override { return 0; }
};

// Records everything the run shows or asks, one text each, in `events`.
class RecordingView : public RunView {
 public:
  Gauge& Gauge1() override { return gauge_; }
  Gauge& Gauge2() override { return gauge_; }
  void SetStatus(const std::string& text) override { events.push_back("status: " + text); }
  void SetTypesChanged(int) override {}
  void ProcessMessages() override {}
  bool StopFlag() const override { return stop; }
  void SetStopFlag(bool value) override { stop = value; }
  std::string Title() const override { return ""; }
  void SetTitle(const std::string&) override {}
  void ShowPlain(const std::string& text) override { events.push_back("plain: " + text); }
  void ShowInformation(const std::string& text) override {
    events.push_back("information: " + text);
  }
  void ShowError(const std::string& text) override { events.push_back("error: " + text); }
  bool AskYesNo(const std::string&) override { return true; }
  void ShowWhoPaid(WhoPaidDialog&) override {}
  void BeginRun() override { events.push_back("begin"); }
  void EndRun() override { events.push_back("end"); }
  // Plays a window whose boxes and date fields the user changes while the run goes on.
  void ReadOptions(RunOptions& options, OptionsRead moment) override {
    if (change_options) change_options(options, moment);
  }

  Strings events;
  std::function<void(RunOptions&, OptionsRead)> change_options;
  bool stop = true;  // as a previous run may have left it

 private:
  NullGauge gauge_;
};

class RunConversionTest : public ::testing::Test {
 protected:
  RunConversionTest() {
    options.from = 45366;
    options.to = 45382;
    phases.VerifyTranTypes = [this] { view.events.push_back("verify types"); };
    phases.GetNoWhoPaid = [this](const std::string& path) {
      view.events.push_back("who paid " + path);
      return payer_missing == false;
    };
    phases.ApplyPayAdj = [this](bool over_apply, data::TDateTime from, data::TDateTime to) {
      view.events.push_back("apply " + std::to_string(over_apply) + " " +
                            std::to_string(static_cast<int>(from)) + " " +
                            std::to_string(static_cast<int>(to)));
    };
    phases.AdjustPayments = [this] { view.events.push_back("adjust"); };
    check = [this](const std::string& path) { view.events.push_back("check " + path); };
  }

  void Run() { RunConversion(practice, "/practice/", options, view, phases, check); }

  PracticeDatasets practice;
  RecordingView view;
  RunOptions options;
  RunPhases phases;
  CheckBeforeChange check;
  bool payer_missing = false;
};

TEST_F(RunConversionTest, EveryPhaseRunsInItsOrderAfterTheCheck) {
  Run();
  EXPECT_EQ(
      view.events,
      (Strings{"begin", "check /practice/", "status: Verifying Transaction Types", "verify types",
               "status: Verifying Who Paid", "who paid /practice/", "status: Applying Payments",
               "apply 1 45366 45382", "status: Adjusting Payment Amounts", "adjust", "end",
               "information: Finished."}));
  EXPECT_EQ(practice.BeginDate, 45366);
  EXPECT_EQ(practice.EndDate, 45382);
  EXPECT_FALSE(view.StopFlag());
}

TEST_F(RunConversionTest, WithoutBothDatesItAsksForThemAndChangesNothing) {
  for (bool from_given : {false, true}) {
    view.events.clear();
    options.from.reset();
    options.to.reset();
    (from_given ? options.from : options.to) = 45366;
    Run();
    EXPECT_EQ(view.events, (Strings{"begin", "plain: Both Dates Must Be Specified.", "end",
                                    "information: Finished."}));
  }
}

TEST_F(RunConversionTest, OptionsLeftOutSkipTheirPhasesButNeverTheWhoPaidCheck) {
  options.match_transaction_types = false;
  options.apply_payments = false;
  options.adjust_payment_amounts = false;
  Run();
  EXPECT_EQ(view.events, (Strings{"begin", "check /practice/", "status: Verifying Who Paid",
                                  "who paid /practice/", "end", "information: Finished."}));
}

TEST_F(RunConversionTest, AMissingPayerStopsTheRunBeforeItsChanges) {
  payer_missing = true;
  options.over_apply = false;
  Run();
  EXPECT_EQ(view.events,
            (Strings{"begin", "check /practice/", "status: Verifying Transaction Types",
                     "verify types", "status: Verifying Who Paid", "who paid /practice/",
                     "information: This Program cannot continue while there are payments or "
                     "adjustments that have no who paid indicator.",
                     "end", "information: Finished."}));
  EXPECT_TRUE(view.StopFlag());
}

// A box unchecked during the first phase counts from the next phase on, and the payments are
// applied over the dates the fields hold when that phase begins, not those of the start.
TEST_F(RunConversionTest, OptionsAreReadWhenTheRunReachesThemNotAtStart) {
  int choices = 0;
  view.change_options = [&](RunOptions& read, OptionsRead moment) {
    if (moment == OptionsRead::kChoosingPhase && ++choices == 2) {
      read.adjust_payment_amounts = false;
      read.over_apply = false;
    }
    if (moment == OptionsRead::kRangeForPayments) {
      read.from = 45000;
      read.to = 45100;
    }
  };
  Run();
  EXPECT_EQ(
      view.events,
      (Strings{"begin", "check /practice/", "status: Verifying Transaction Types", "verify types",
               "status: Verifying Who Paid", "who paid /practice/", "status: Applying Payments",
               "apply 0 45000 45100", "end", "information: Finished."}));
  // The records the last phase filters keep the range of the start.
  EXPECT_EQ(practice.BeginDate, 45366);
}

// The dates given at the start are read from the view too, and a range emptied before the
// payments are applied applies none and says why.
TEST_F(RunConversionTest, TheRangeComesFromTheViewAtTheStartAndBeforeThePayments) {
  options.from.reset();
  options.to.reset();
  view.change_options = [&](RunOptions& read, OptionsRead moment) {
    if (moment == OptionsRead::kRangeAtStart) {
      read.from = 45366;
      read.to = 45382;
    }
    if (moment == OptionsRead::kRangeForPayments) read.to.reset();
  };
  Run();
  EXPECT_EQ(
      view.events,
      (Strings{"begin", "check /practice/", "status: Verifying Transaction Types", "verify types",
               "status: Verifying Who Paid", "who paid /practice/", "status: Applying Payments",
               "plain: Both Dates Must Be Specified.", "status: Adjusting Payment Amounts",
               "adjust", "end", "information: Finished."}));
}

TEST_F(RunConversionTest, AFailingCheckEndsTheRunAtOnce) {
  check = [](const std::string&) { throw std::runtime_error("bad keys"); };
  EXPECT_THROW(Run(), std::runtime_error);
  EXPECT_EQ(view.events, Strings{"begin"});
}

}  // namespace
}  // namespace conversion
