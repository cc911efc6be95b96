#include "app/command/printing_run_view.h"

#include <algorithm>
#include <sstream>

#include "common/file_names.h"
#include "conversion/who_paid.h"
#include "data/errors.h"

namespace app {

void TextGauge::SetMax(int max) {
  int previous = Percent();
  max_ = std::max(0, max);
  position_ = std::min(position_, max_);
  Draw(previous);
}

void TextGauge::SetPosition(int position) {
  int previous = Percent();
  position_ = std::clamp(position, 0, max_);
  Draw(previous);
}

void TextGauge::Draw(int previous_percent) {
  // Like the window's bars, it redraws only when the whole percentage changes.
  if (!terminal_ || Percent() == previous_percent) return;
  int filled = Percent() / 5;
  *terminal_ << "\r" << label_ << " [" << std::string(static_cast<size_t>(filled), '#')
             << std::string(static_cast<size_t>(20 - filled), ' ') << "] " << Percent() << "%"
             << std::flush;
}

PrintingRunView::PrintingRunView(std::ostream& out, std::ostream& err, bool progress,
                                 PrintedAnswers answers)
    : out_(out),
      answers_(std::move(answers)),
      gauge1_(progress ? &err : nullptr, "rows "),
      gauge2_(progress ? &err : nullptr, "step ") {}

void PrintingRunView::ShowPathAs(const std::string& run_path, const std::string& shown_path) {
  run_path_ = run_path;
  shown_path_ = shown_path;
}

void PrintingRunView::PrintLine(const char* kind, std::string text) {
  if (!run_path_.empty()) {
    for (size_t at = 0; (at = text.find(run_path_, at)) != std::string::npos;) {
      text.replace(at, run_path_.size(), shown_path_);
      at += shown_path_.size();
    }
  }
  // A text may hold what the practice's tables hold (a chart number in a question, a path in an
  // error): its control characters are written out, so that no value ends the line and begins
  // one of its own.
  out_ << kind << ": " << common::EscapeControlCharacters(text) << "\n";
}

void PrintingRunView::SetStatus(const std::string& text) {
  PrintLine("status", text);
  // Flushed at once, so that whoever watches the run knows the phase it is in.
  out_ << std::flush;
}

void PrintingRunView::ShowPlain(const std::string& text) {
  PrintLine("plain", text);
}

void PrintingRunView::ShowInformation(const std::string& text) {
  PrintLine("information", text);
  if (text == "Finished.") finished_ = true;
}

void PrintingRunView::ShowError(const std::string& text) {
  PrintLine("error", text);
  error_shown_ = true;
}

bool PrintingRunView::AskYesNo(const std::string& text) {
  PrintLine("question", text);
  out_ << "answer: " << (answers_.missing_payor ? "yes" : "no") << "\n";
  return answers_.missing_payor;
}

namespace {

// The dialog as the command line shows it: presses come from the --who-paid lines.
class PressedWhoPaidWindow : public conversion::WhoPaidWindow {
 public:
  PressedWhoPaidWindow(conversion::WhoPaidDialog& dialog, PrintingRunView& view)
      : dialog_(dialog), view_(view) {}
  void ProcessMessages() override {}
  void CloseDialog() override {
    if (closed_) return;
    closed_ = true;
    dialog_.FormClose();
  }
  void ShowCouldNotUpdate() override { view_.ShowError("Could Not Update Record."); }
  void ButtonsChanged() override {}
  bool closed() const { return closed_; }

 private:
  conversion::WhoPaidDialog& dialog_;
  PrintingRunView& view_;
  bool closed_ = false;
};

}  // namespace

bool ReadPress(const std::string& line, int* choice, int* button) {
  std::istringstream in(line);
  std::string word, letter, rest;
  in >> word >> letter >> rest;
  if (word == "close" && letter.empty()) {
    *button = -1;
    return true;
  }
  if ((word != "this" && word != "all") || letter.empty() || !rest.empty()) return false;
  *choice = word == "all" ? conversion::kApplyToAll : conversion::kApplyToThis;
  for (int i = 0; i < 5; ++i) {
    if (letter == conversion::kPayerLetters[static_cast<size_t>(i)]) *button = i;
  }
  return *button >= 0;
}

void PrintingRunView::ShowWhoPaid(conversion::WhoPaidDialog& dialog) {
  PressedWhoPaidWindow window(dialog, *this);
  dialog.SetWindow(&window);
  struct Detach {
    conversion::WhoPaidDialog& dialog;
    ~Detach() { dialog.SetWindow(nullptr); }
  } detach{dialog};
  dialog.FormShow();
  while (!window.closed()) {
    if (next_press_ >= answers_.who_paid_presses.size()) {
      window.CloseDialog();  // the presses ran out: Close
      break;
    }
    const std::string& line = answers_.who_paid_presses[next_press_++];
    int choice = dialog.Choice, button = -2;
    bool readable = ReadPress(line, &choice, &button);
    if (readable && button == -1) {
      window.CloseDialog();
      break;
    }
    if (!readable || !dialog.PayerEnabled(static_cast<conversion::PayerButton>(button))) {
      out_ << "warning: " << common::EscapeControlCharacters(line) << " not offered\n";
      window.CloseDialog();
      break;
    }
    dialog.Choice = choice;
    try {
      dialog.PayerButtonClick(static_cast<conversion::PayerButton>(button));
    } catch (const data::Exception& e) {
      ShowError(e.message());  // the dialog stays open, as in the window
    }
  }
}

}  // namespace app
