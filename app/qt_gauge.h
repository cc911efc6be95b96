// A progress bar of a window as the run drives it: positions kept within 0 and the maximum,
// the whole percentage shown, and a repaint only when that percentage changes.
#ifndef RIVENOAK_APP_QT_GAUGE_H_
#define RIVENOAK_APP_QT_GAUGE_H_

#include <QProgressBar>

#include "engine/run_view.h"

namespace app {

class QtGauge : public engine::Gauge {
 public:
  explicit QtGauge(QProgressBar* bar) : bar_(bar) {
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setFormat("%p%");
  }
  void SetMax(int max) override {
    max_ = max < 0 ? 0 : max;
    if (position_ > max_) position_ = max_;
    Show();
  }
  void SetPosition(int position) override {
    position_ = position < 0 ? 0 : position > max_ ? max_ : position;
    Show();
  }
  int Max() const override { return max_; }
  int Position() const override { return position_; }

 private:
  void Show() {
    int percent = max_ > 0 ? static_cast<int>(100LL * position_ / max_) : 0;
    if (percent != bar_->value()) bar_->setValue(percent);
  }
  QProgressBar* bar_;
  int max_ = 100;
  int position_ = 0;
};

}  // namespace app

#endif  // RIVENOAK_APP_QT_GAUGE_H_
