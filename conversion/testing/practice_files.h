// For the tests of the phases: a run view that records what a phase shows, and a practice written
// as table files in a temporary folder, with its transactions and application records given row by
// row and read back by entry number.
#ifndef RIVENOAK_CONVERSION_TESTING_PRACTICE_FILES_H_
#define RIVENOAK_CONVERSION_TESTING_PRACTICE_FILES_H_

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "conversion/practice_datasets.h"
#include "conversion/run_view.h"
#include "isam/testing/test_support.h"

namespace conversion::testing {

using Strings = std::vector<std::string>;

class FakeGauge : public Gauge {
 public:
  void SetMax(int max) override;
  void SetPosition(int position) override;
  int Max() const override { return max_; }
  int Position() const override { return position_; }
  std::vector<int> positions;  // every position asked for, before clamping

 private:
  int max_ = 100;
  int position_ = 0;
};

class FakeView : public RunView {
 public:
  Gauge& Gauge1() override { return gauge1; }
  Gauge& Gauge2() override { return gauge2; }
  void SetStatus(const std::string&) override {}
  void SetTypesChanged(int count) override { shown.push_back(count); }
  // Counts the calls; the one numbered stop_at_message sets the stop flag, as Cancel would.
  void ProcessMessages() override;
  bool StopFlag() const override { return stop; }
  void SetStopFlag(bool value) override { stop = value; }
  std::string Title() const override { return title; }
  void SetTitle(const std::string& text) override;
  // A box fails the test unless boxes_fail is cleared; error texts are kept either way.
  void ShowPlain(const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ShowWhoPaid(WhoPaidDialog&) override { ADD_FAILURE() << "no dialog in this phase"; }

  FakeGauge gauge1, gauge2;
  std::string title = "Rivenoak";
  Strings titles, questions, errors;
  std::vector<int> shown;  // each types-changed count shown
  bool answer = true;
  bool boxes_fail = true;
  int messages = 0;
  int stop_at_message = -1;
  bool stop = false;
};

// "NULL" for an empty text, else the text as an SQL literal.
std::string Quote(const std::string& text);

// One transaction; amounts are SQL literals.
struct Trn {
  int entry;
  std::string type;
  std::string amount;
  std::string who = "";
  std::string doc = "D1";
  std::string chart = "CHART1";
  std::string created = "2024-03-15";
  std::vector<std::pair<std::string, std::string>> more = {};
};

extern const Strings kUnpaid, kNoFlags, kAllFlags;

// The practice's three tables, made empty in a fresh folder by another program, in the journal
// mode the test is run with.
class PracticeFilesTest : public ::testing::TestWithParam<isam::testing::JournalMode> {
 protected:
  void SetUp() override;

  // The record number is the entry number, so results are read back by entry.
  void Add(const Trn& t);
  void AddPax(int payment, int charge, const std::string& amount, const std::string& who);
  // Opens the practice as the main window does, for March 2024, and runs `phases` on it.
  void WithPractice(const std::function<void(PracticeDatasets&)>& phases);

  // A field of a transaction as the engine gives it as text ("" when empty, "T"/"F").
  std::string Get(int entry, const std::string& field);
  Strings Get(int entry, const Strings& fields);
  // The six amount columns a payment can move and the five paid flags, "" when empty.
  Strings Paid(int entry);
  Strings Flags(int entry);
  // Every application record, "payment charge amount who", in record-number order.
  Strings Pax();

  isam::testing::TempFolder folder_;
  FakeView view_;
};

}  // namespace conversion::testing

#endif  // RIVENOAK_CONVERSION_TESTING_PRACTICE_FILES_H_
