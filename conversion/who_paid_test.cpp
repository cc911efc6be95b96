// The who-paid check and its dialog, driven by scripted presses as a window would press them:
// the buttons each row offers, the rows a press writes, and what the check answers.
#include "conversion/who_paid.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "conversion/practice_tables.h"
#include "isam/testing/fault_vfs.h"
#include "isam/testing/test_support.h"

namespace conversion {
namespace {

using isam::testing::JournalMode;
using isam::testing::RunSql;
using isam::testing::TempFolder;
using isam::testing::WriteTableFile;
using Strings = std::vector<std::string>;

// The enabled payer buttons as five characters: the letter when enabled, '-' when not.
std::string Offered(const WhoPaidDialog& dialog) {
  std::string offered;
  for (int b = kPrimary; b <= kAttorney; ++b) {
    offered += dialog.PayerEnabled(static_cast<PayerButton>(b)) ? kPayerLetters[b][0] : '-';
  }
  return offered;
}

class FakeView;

class FakeWindow : public WhoPaidWindow {
 public:
  FakeWindow(WhoPaidDialog& dialog, FakeView& view) : dialog_(dialog), view_(view) {}
  void ProcessMessages() override {}
  void CloseDialog() override;
  void ShowCouldNotUpdate() override;
  void ButtonsChanged() override {}
  bool closed = false;

 private:
  WhoPaidDialog& dialog_;
  FakeView& view_;
};

// A run view whose who-paid dialog takes its presses from a script: "this L" and "all L" choose
// and press, "press L" presses with the choice as it stands, "close" closes.
class FakeView : public RunView {
 public:
  Gauge& Gauge1() override { return gauge_; }
  Gauge& Gauge2() override { return gauge_; }
  void SetStatus(const std::string&) override {}
  void SetTypesChanged(int) override {}
  void ProcessMessages() override {}
  bool StopFlag() const override { return false; }
  void SetStopFlag(bool) override {}
  std::string Title() const override { return ""; }
  void SetTitle(const std::string&) override {}
  void ShowPlain(const std::string&) override {}
  void ShowInformation(const std::string&) override {}
  void ShowError(const std::string& text) override { errors.push_back(text); }
  bool AskYesNo(const std::string&) override { return false; }

  void ShowWhoPaid(WhoPaidDialog& dialog) override {
    ++shown;
    FakeWindow window(dialog, *this);
    dialog.SetWindow(&window);
    dialog.FormShow();
    while (!window.closed) {
      if (used >= presses.size()) {
        window.CloseDialog();
        break;
      }
      std::istringstream line(presses[used++]);
      std::string word, letter;
      line >> word >> letter;
      // Each step: the current row's entry number and code, and the buttons offered.
      steps.push_back(dialog.MWtrnWhoPaid.FieldByName("Entry Number").AsString() + " " +
                      dialog.MWtrnWhoPaid.FieldByName("Procedure Code").AsString() + " " +
                      Offered(dialog));
      if (word == "close") {
        window.CloseDialog();
        break;
      }
      int button = -1;
      for (int b = kPrimary; b <= kAttorney; ++b) {
        if (letter == kPayerLetters[b]) button = b;
      }
      if (button < 0 || !dialog.PayerEnabled(static_cast<PayerButton>(button))) {
        errors.push_back("not offered: " + letter);
        window.CloseDialog();
        break;
      }
      if (word == "this") dialog.Choice = kApplyToThis;
      if (word == "all") dialog.Choice = kApplyToAll;
      try {
        dialog.PayerButtonClick(static_cast<PayerButton>(button));
      } catch (const data::Exception& e) {
        errors.push_back(e.message());
      }
    }
    dialog.SetWindow(nullptr);
  }

  class NoGauge : public Gauge {
   public:
    void SetMax(int) override {}
    void SetPosition(int) override {}
    int Max() const override { return 0; }
    int Position() const override { return 0; }
  } gauge_;
  Strings presses;
  size_t used = 0;
  int shown = 0;
  int closes = 0;
  Strings steps;
  Strings closing_offers;  // the buttons offered as the dialog closed
  Strings errors;
};

void FakeWindow::CloseDialog() {
  if (closed) return;
  closed = true;
  ++view_.closes;
  view_.closing_offers.push_back(Offered(dialog_));
  dialog_.FormClose();
}

void FakeWindow::ShowCouldNotUpdate() {
  view_.errors.push_back("Could Not Update Record.");
}

// A practice folder with its three tables and transactions numbered from 1.
class Practice {
 public:
  explicit Practice(JournalMode mode) {
    for (const conversion::TableLayout& table : conversion::PracticeTables())
      WriteTableFile(folder_.File(table.file), table.fields, table.indexes, mode);
  }
  void Add(const std::string& code, const std::string& type, const std::string& who_paid = "") {
    RunSql(folder_.File("MWTRN.ADT"),
           "INSERT INTO records (\"Entry Number\", \"Chart Number\", \"Procedure Code\", "
           "\"Transaction Type\", \"Amount\", \"Who Paid\") VALUES (" +
               std::to_string(++entries_) + ", 'CHART1', '" + code + "', '" + type + "', 10, " +
               (who_paid.empty() ? "NULL" : "'" + who_paid + "'") + ")");
  }
  // "Who Paid" of every transaction in record-number order.
  Strings WhoPaid() const {
    isam::testing::ScopedConnection connection(folder_.path());
    IsamHandle table = connection.Open("MWTRN.ADT");
    uint16_t field = isam::testing::FieldNumber(table, "Who Paid");
    Strings values;
    for (int64_t recno : isam::testing::WalkForward(table)) {
      IsamGotoRecord(table, recno);
      values.push_back(isam::testing::FieldText(table, field));
    }
    return values;
  }
  std::string Path() const { return folder_.path() + "/"; }
  const std::string& Folder() const { return folder_.path(); }

 private:
  TempFolder folder_;
  int entries_ = 0;
};

// Every case runs on tables another program left in each journal mode.
class WhoPaid : public ::testing::TestWithParam<JournalMode> {};
INSTANTIATE_TEST_SUITE_P(JournalModes, WhoPaid, ::testing::ValuesIn(isam::testing::kJournalModes),
                         isam::testing::JournalModeTestName);

TEST_P(WhoPaid, WithoutRowsMissingAPayerTheCheckAnswersTrueAndShowsNoDialog) {
  Practice p(GetParam());
  p.Add("P1", "I", "1");
  p.Add("C1", "A");  // charges and types outside I to O are not asked about
  p.Add("H1", "H");
  p.Add("P9", "P");
  p.Add("S1", "S");
  p.Add("J1", "J", "G");
  WhoPaidDialog dialog;
  FakeView view;
  EXPECT_TRUE(dialog.GetNoWhoPaid(p.Path(), view));
  EXPECT_EQ(view.shown, 0);
  EXPECT_EQ(p.WhoPaid(), (Strings{"1", "", "", "", "", "G"}));
}

TEST_P(WhoPaid, InsuranceRowsOfferPrimarySecondaryTertiaryAndOthersGuarantorAttorney) {
  Practice p(GetParam());
  p.Add("D1", "O");
  p.Add("A1", "I");
  p.Add("C1", "K");
  p.Add("B1", "J");
  WhoPaidDialog dialog;
  FakeView view;
  view.presses = {"this 2", "this G", "this A", "this G"};
  EXPECT_TRUE(dialog.GetNoWhoPaid(p.Path(), view));
  EXPECT_EQ(view.steps, (Strings{"2 A1 123--", "4 B1 ---GA", "3 C1 ---GA", "1 D1 ---GA"}));
  EXPECT_EQ(view.closing_offers, Strings{"-----"}) << "at the end of the rows none is offered";
  EXPECT_EQ(p.WhoPaid(), (Strings{"G", "2", "A", "G"}));
  EXPECT_TRUE(view.errors.empty());
}

TEST_P(WhoPaid, ApplyToAllWritesEveryRowOfTheCodeThenTheNextCodesFirstRowIsCurrent) {
  Practice p(GetParam());
  p.Add("P2", "J");
  p.Add("P1", "J");
  p.Add("P1", "K");
  p.Add("P2", "J");
  p.Add("P1", "J");
  p.Add("P1", "O");
  WhoPaidDialog dialog;
  FakeView view;
  view.presses = {"all G", "close"};
  EXPECT_FALSE(dialog.GetNoWhoPaid(p.Path(), view));
  EXPECT_EQ(view.steps, (Strings{"2 P1 ---GA", "1 P2 ---GA"}));
  EXPECT_EQ(p.WhoPaid(), (Strings{"", "G", "G", "", "G", "G"}));
  EXPECT_EQ(dialog.Choice, kApplyToAll);
}

TEST_P(WhoPaid, ApplyToThisWritesOnlyTheCurrentRowAndEqualCodesGoInRecordOrder) {
  Practice p(GetParam());
  p.Add("P2", "J");
  p.Add("P1", "J");
  p.Add("P1", "J");
  p.Add("P2", "J");
  p.Add("P1", "J");
  WhoPaidDialog dialog;
  EXPECT_EQ(dialog.Choice, kApplyToThis) << "the dialog starts on THIS occurrence";
  FakeView view;
  view.presses = {"press G", "press A", "press G", "close"};
  EXPECT_FALSE(dialog.GetNoWhoPaid(p.Path(), view));
  EXPECT_EQ(view.steps, (Strings{"2 P1 ---GA", "3 P1 ---GA", "5 P1 ---GA", "1 P2 ---GA"}));
  EXPECT_EQ(p.WhoPaid(), (Strings{"", "G", "A", "", "G"}));
}

TEST_P(WhoPaid, WritingTheLastRowClosesTheDialogAndTheCheckAnswersTrue) {
  Practice p(GetParam());
  p.Add("X", "I");
  p.Add("Y", "J");
  p.Add("Y", "J");
  WhoPaidDialog dialog;
  FakeView view;
  view.presses = {"this 3", "all A", "this G"};
  EXPECT_TRUE(dialog.GetNoWhoPaid(p.Path(), view));
  EXPECT_EQ(view.used, 2u) << "the dialog closed itself after the last row";
  EXPECT_EQ(view.closes, 1);
  EXPECT_TRUE(dialog.Result());
  EXPECT_FALSE(dialog.IsamConnection3.IsConnected());
  EXPECT_EQ(p.WhoPaid(), (Strings{"3", "A", "A"}));
}

TEST_P(WhoPaid, ClosingEarlyAnswersFalseAndWritesNothing) {
  Practice p(GetParam());
  p.Add("X", "J");
  p.Add("Y", "I");
  WhoPaidDialog dialog;
  FakeView view;
  view.presses = {"close"};
  EXPECT_FALSE(dialog.GetNoWhoPaid(p.Path(), view));
  EXPECT_EQ(view.shown, 1);
  EXPECT_EQ(view.steps, Strings{"1 X ---GA"});
  EXPECT_FALSE(dialog.IsamConnection3.IsConnected());
  EXPECT_EQ(p.WhoPaid(), (Strings{"", ""}));
  // Without any press the window closes too, with the same answer.
  FakeView silent;
  EXPECT_FALSE(dialog.GetNoWhoPaid(p.Path(), silent));
  EXPECT_EQ(silent.closes, 1);
}

TEST_P(WhoPaid, TheChoiceIsKeptIntoALaterCheck) {
  Practice p(GetParam());
  p.Add("P1", "J");
  p.Add("P1", "J");
  p.Add("P2", "K");
  p.Add("P2", "K");
  WhoPaidDialog dialog;
  FakeView first;
  first.presses = {"all G", "close"};
  EXPECT_FALSE(dialog.GetNoWhoPaid(p.Path(), first));
  FakeView second;
  second.presses = {"press A"};  // no choice made: the earlier ALL still holds
  EXPECT_TRUE(dialog.GetNoWhoPaid(p.Path(), second));
  EXPECT_EQ(second.steps, Strings{"3 P2 ---GA"});
  EXPECT_EQ(p.WhoPaid(), (Strings{"G", "G", "A", "A"}));
}

TEST_P(WhoPaid, AnUpdateThatFailsShowsItsErrorAndPassesTheRowBy) {
  Practice p(GetParam());
  p.Add("X", "J");
  p.Add("X", "J");
  isam::testing::ScopedConnection other(p.Folder());
  IsamHandle table = other.Open("MWTRN.ADT");
  ISAM_ASSERT_OK(IsamLockRecord(table, 1));  // another user holds the first row
  WhoPaidDialog dialog;
  FakeView view;
  view.presses = {"this G", "this A"};
  EXPECT_FALSE(dialog.GetNoWhoPaid(p.Path(), view));
  EXPECT_EQ(view.errors, Strings{"Could Not Update Record."});
  EXPECT_EQ(view.steps, (Strings{"1 X ---GA", "2 X ---GA"}));
  EXPECT_EQ(view.closes, 1);
  IsamUnlockRecord(table, 1);
  EXPECT_EQ(p.WhoPaid(), (Strings{"", "A"}));
}

TEST_P(WhoPaid, AFailedWriteOfAllOccurrencesReachesTheCallerAndIsNotWrittenLater) {
  Practice p(GetParam());
  p.Add("X", "J");
  p.Add("X", "J");
  // Opened once for writing: a file in write-ahead mode leaves it here, before the disk fills.
  ASSERT_EQ(p.WhoPaid(), (Strings{"", ""}));
  {
    std::optional<WhoPaidDialog> dialog(std::in_place);
    FakeView view;
    view.presses = {"all G"};
    {
      isam::testing::FaultVfs vfs;
      vfs.Arm(1, isam::testing::Fault::kDiskFull);
      EXPECT_FALSE(dialog->GetNoWhoPaid(p.Path(), view));
    }
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_NE(view.errors[0].find("The disk is full"), std::string::npos) << view.errors[0];
    // The disk has room again: neither closing the dialog nor its end writes the failed row.
    dialog.reset();
  }
  EXPECT_EQ(p.WhoPaid(), (Strings{"", ""}));
}

TEST_P(WhoPaid, ASecondCheckConnectsAfreshToTheFolderItIsGiven) {
  Practice a(GetParam()), b(GetParam()), c(GetParam());
  a.Add("X", "J");
  b.Add("Z", "I");
  b.Add("Y", "K");
  WhoPaidDialog dialog;
  FakeView empty;
  EXPECT_TRUE(dialog.GetNoWhoPaid(c.Path(), empty));
  EXPECT_EQ(empty.shown, 0);
  FakeView first;
  first.presses = {"close"};
  EXPECT_FALSE(dialog.GetNoWhoPaid(a.Path(), first));
  EXPECT_EQ(first.steps, Strings{"1 X ---GA"});

  FakeView second;
  second.presses = {"this G", "this 1"};
  EXPECT_TRUE(dialog.GetNoWhoPaid(b.Path(), second));
  EXPECT_EQ(second.steps, (Strings{"2 Y ---GA", "1 Z 123--"}));
  EXPECT_EQ(b.WhoPaid(), (Strings{"1", "G"}));
  EXPECT_EQ(a.WhoPaid(), Strings{""});

  // Another program gives the first practice's row its payer: the next check sees it.
  RunSql(a.Folder() + "/MWTRN.ADT", "UPDATE records SET \"Who Paid\" = 'A'");
  FakeView third;
  EXPECT_TRUE(dialog.GetNoWhoPaid(a.Path(), third));
  EXPECT_EQ(third.shown, 0);
  // Rows added to a practice between two checks of it are asked about.
  c.Add("W", "O");
  FakeView fourth;
  fourth.presses = {"close"};
  EXPECT_FALSE(dialog.GetNoWhoPaid(c.Path(), fourth));
  EXPECT_EQ(fourth.steps, Strings{"1 W ---GA"});
}

}  // namespace
}  // namespace conversion
