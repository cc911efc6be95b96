// The run's view on the command line: everything a window would show printed as one line each
// ("status: ...", "plain: ...", "information: ...", "error: ...", "question: ..." with
// "answer: ..."), questions answered and who-paid presses made as the command line says, and
// progress bars drawn on a terminal when asked.
#ifndef RIVENOAK_APP_COMMAND_PRINTING_RUN_VIEW_H_
#define RIVENOAK_APP_COMMAND_PRINTING_RUN_VIEW_H_

#include <ostream>
#include <string>
#include <vector>

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

// What the command line answers for whoever would sit at the window.
struct PrintedAnswers {
  bool missing_payor = true;  // to the question whether to go on without a payor
  // In the who-paid dialog, one press a line; Close when they run out.
  std::vector<std::string> who_paid_presses;
};

class PrintingRunView : public conversion::RunView {
 public:
  // Lines go to `out`; with `progress`, bars are drawn on `err`.
  PrintingRunView(std::ostream& out, std::ostream& err, bool progress, PrintedAnswers answers);

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

 private:
  // "KIND: TEXT", the text's control characters escaped and the run's folder shown as asked.
  void PrintLine(const char* kind, std::string text);

  std::ostream& out_;
  PrintedAnswers answers_;
  TextGauge gauge1_, gauge2_;
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

#endif  // RIVENOAK_APP_COMMAND_PRINTING_RUN_VIEW_H_
