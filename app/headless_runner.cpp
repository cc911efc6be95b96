#include "app/headless_runner.h"

#include <algorithm>

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

HeadlessRunner::HeadlessRunner(std::ostream& out, std::ostream& err, HeadlessOptions options)
    : out_(out),
      options_(std::move(options)),
      gauge1_(options_.progress ? &err : nullptr, "rows "),
      gauge2_(options_.progress ? &err : nullptr, "step ") {}

void HeadlessRunner::ApplyDateOptions() {
  if (!options_.from.empty()) date_from_ = options_.from;
  if (!options_.to.empty()) date_to_ = options_.to;
}

void HeadlessRunner::SetStatus(const std::string& text) {
  out_ << "status: " << text << "\n";
}

void HeadlessRunner::ShowPlain(const std::string& text) {
  out_ << "plain: " << text << "\n";
}

void HeadlessRunner::ShowInformation(const std::string& text) {
  out_ << "information: " << text << "\n";
  if (text == "Finished.") finished_ = true;
}

void HeadlessRunner::ShowError(const std::string& text) {
  out_ << "error: " << text << "\n";
}

bool HeadlessRunner::AskYesNo(const std::string& text) {
  out_ << "question: " << text << "\n";
  out_ << "answer: " << (options_.answer_missing_payor ? "yes" : "no") << "\n";
  return options_.answer_missing_payor;
}

void HeadlessRunner::ShowWhoPaid(engine::WhoPaidDialog&) {
  // The who-paid dialog's presses come with its own logic.
}

}  // namespace app
