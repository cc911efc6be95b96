// The run without windows: the main window's controls kept as values set from the command line,
// and everything the window would show printed as one line each ("status: ...", "plain: ...",
// "information: ...", "error: ...", "question: ..." with "answer: ...").
#ifndef RIVENOAK_APP_COMMAND_HEADLESS_RUNNER_H_
#define RIVENOAK_APP_COMMAND_HEADLESS_RUNNER_H_

#include <ostream>
#include <string>
#include <vector>

#include "app/window/main_controls.h"
#include "conversion/run_view.h"

namespace app {

// A progress bar that remembers its values and, when asked, draws itself on a terminal.
class TextGauge : public conversion::Gauge {
 public:
  TextGauge(std::ostream* terminal, const char* label) : terminal_(terminal), label_(label) {}
  void SetMax(int max) override;
  void SetPosition(int position) override;
  int Max() const override { return max_; }
  int Position() const override { return position_; }
  int Percent() const { return max_ > 0 ? static_cast<int>(100LL * position_ / max_) : 0; }

 private:
  void Draw(int previous_percent);
  std::ostream* terminal_;
  const char* label_;
  int max_ = 100;
  int position_ = 0;
};

struct HeadlessOptions {
  std::string from, to;  // empty: as the main window sets them
  bool match_types = true;
  bool apply = true;
  bool over_apply = true;
  bool adjust = true;
  bool strict = true;
  bool answer_missing_payor = true;
  std::vector<std::string> who_paid_presses;
  bool progress = false;
  std::string report;      // the run's report page to write; empty for none
  std::string dry_run_of;  // for a dry run, the practice the run's folder is a copy of
};

class HeadlessRunner : public conversion::RunView, public MainControls {
 public:
  HeadlessRunner(std::ostream& out, std::ostream& err, HeadlessOptions options);

  // Puts the command line's dates into the date fields (after the practice set its own).
  void ApplyDateOptions();
  // A run on a copy (a dry run) names the folder it was copied from wherever a text names the
  // copy's: `run_path` is shown as `shown_path`.
  void ShowPathAs(const std::string& run_path, const std::string& shown_path);
  int TypesChanged() const { return types_changed_; }
  // Whether the run ended with "Finished." and showed no error on its way.
  bool Finished() const { return finished_ && !error_shown_; }

  // ---- RunView ----
  conversion::Gauge& Gauge1() override { return gauge1_; }
  conversion::Gauge& Gauge2() override { return gauge2_; }
  void SetStatus(const std::string& text) override;
  void SetTypesChanged(int count) override { types_changed_ = count; }
  void ProcessMessages() override {}
  bool StopFlag() const override { return stop_; }
  void SetStopFlag(bool stop) override { stop_ = stop; }
  std::string Title() const override { return title_; }
  void SetTitle(const std::string& title) override { title_ = title; }
  void ShowPlain(const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ShowWhoPaid(conversion::WhoPaidDialog& dialog) override;

  // ---- MainControls ----
  void SetPracticeNameText(const std::string&) override {}
  void SetDataPathText(const std::string&) override {}
  void SetConnectionText(const std::string&) override {}
  void SetConversionDateText(const std::string&) override {}
  std::string DateFromText() const override { return date_from_; }
  std::string DateToText() const override { return date_to_; }
  void SetDateFromText(const std::string& text) override { date_from_ = text; }
  void SetDateToText(const std::string& text) override { date_to_ = text; }
  void SetDateFieldsEnabled(bool) override {}
  void SetSpecifyDateRange(bool, bool) override {}
  bool MatchTransactionTypes() const override { return options_.match_types; }
  bool ApplyPayments() const override { return options_.apply; }
  bool OverApply() const override { return options_.over_apply; }
  bool AdjustPaymentAmounts() const override { return options_.adjust; }
  bool StrictTypeRules() const override { return options_.strict; }
  void SetExitCaption(const std::string&) override {}
  void SetStartEnabled(bool) override {}

 private:
  // "KIND: TEXT", the text's control characters escaped and the run's folder shown as asked.
  void PrintLine(const char* kind, std::string text);

  std::ostream& out_;
  HeadlessOptions options_;
  TextGauge gauge1_, gauge2_;
  std::string date_from_ = kEmptyDateText;
  std::string date_to_ = kEmptyDateText;
  std::string title_ = "Rivenoak For Medisoft Windows";
  int types_changed_ = 0;
  bool stop_ = false;
  bool finished_ = false;
  bool error_shown_ = false;
  size_t next_press_ = 0;
  std::string run_path_, shown_path_;
};

// "this L", "all L" or "close" (words separated by blanks): the choice and the button a line of
// presses names, `button` -1 for Close; false when the line is no press.
bool ReadPress(const std::string& line, int* choice, int* button);

}  // namespace app

#endif  // RIVENOAK_APP_COMMAND_HEADLESS_RUNNER_H_
