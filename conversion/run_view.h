// What the run needs of the window it runs in: two progress bars, the status and count labels,
// letting pending window messages run, the stop flag, the message boxes, and the who-paid
// dialog. The desktop window and the command line's printing view each implement it; the run
// knows no more of either. The phases also count here what they did, which only the command line
// shows.
#ifndef RIVENOAK_CONVERSION_RUN_VIEW_H_
#define RIVENOAK_CONVERSION_RUN_VIEW_H_

#include <string>

#include "conversion/run_counts.h"

namespace conversion {

// A progress bar: position kept within 0 and the maximum.
class Gauge {
 public:
  virtual ~Gauge() = default;
  virtual void SetMax(int max) = 0;
  virtual void SetPosition(int position) = 0;
  virtual int Max() const = 0;
  virtual int Position() const = 0;
  void Advance() { SetPosition(Position() + 1); }
};

class WhoPaidDialog;
struct RunOptions;

// The moments at which a run reads its options (RunView::ReadOptions).
enum class OptionsRead {
  kChoosingPhase,     // the options, before the run decides whether a phase runs
  kRangeAtStart,      // and the date range, at the start; a date not given leaves it unset
  kRangeForPayments,  // and the date range again, as the payments are about to be applied
};

class RunView {
 public:
  virtual ~RunView() = default;
  virtual Gauge& Gauge1() = 0;
  virtual Gauge& Gauge2() = 0;
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetTypesChanged(int count) = 0;
  // Processes every queued window message once and returns.
  virtual void ProcessMessages() = 0;
  virtual bool StopFlag() const = 0;
  virtual void SetStopFlag(bool stop) = 0;
  // The window's title, for a phase that shows what it is doing there.
  virtual std::string Title() const = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // A plain box (one OK, the application's title, no icon), an information box, an error box.
  virtual void ShowPlain(const std::string& text) = 0;
  virtual void ShowInformation(const std::string& text) = 0;
  virtual void ShowError(const std::string& text) = 0;
  // An error box with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // Shows the who-paid dialog modally until it closes.
  virtual void ShowWhoPaid(WhoPaidDialog& dialog) = 0;
  // A run begins, and ends before its "Finished.": the window disables Start and the date fields
  // and shows Cancel for Exit meanwhile. A run that an exception ends does not reach EndRun.
  virtual void BeginRun() {}
  virtual void EndRun() {}
  // The run reads its options when it reaches them, not once when it starts: a front whose
  // controls stay open during a run (the window's boxes, and its date fields when "Specify Date
  // Range" opens them again) writes into `options` what they say at `moment`. The command line's
  // options stay as given.
  virtual void ReadOptions(RunOptions& /*options*/, OptionsRead /*moment*/) {}

  // What the phases of the current run did.
  RunCounts& Counts() { return counts_; }
  const RunCounts& Counts() const { return counts_; }

 private:
  RunCounts counts_;
};

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_RUN_VIEW_H_
