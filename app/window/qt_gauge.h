// A progress bar of a window as the run drives it: positions kept within 0 and the maximum,
// the whole percentage shown, and a repaint only when that percentage changes.
#ifndef RIVENOAK_APP_WINDOW_QT_GAUGE_H_
#define RIVENOAK_APP_WINDOW_QT_GAUGE_H_

#include <QElapsedTimer>
#include <QProgressBar>
#include <QTimer>

#include "conversion/run_view.h"

namespace app {

// A bar filled blue on the button face, its percentage centred: dark where the bar is empty and
// white where it is filled, so that the text can be read at every position.
class GaugeBar : public QProgressBar {
 public:
  explicit GaugeBar(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class QtGauge : public conversion::Gauge {
 public:
  explicit QtGauge(QProgressBar* bar);
  void SetMax(int max) override;
  void SetPosition(int position) override;
  int Max() const override { return max_; }
  int Position() const override { return position_; }

  // At most this often a bar is repainted while its percentage changes; the last percentage is
  // shown when the time is up. A bar that follows a value jumping between records (the lower
  // bar in type verification) would otherwise be painted and sent to the screen every record.
  static constexpr int kRepaintIntervalMs = 40;

 private:
  int Percent() const;
  void Show();
  void ShowNow();

  QProgressBar* bar_;
  int max_ = 100;
  int position_ = 0;
  QElapsedTimer since_shown_;
  QTimer pending_;
};

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_QT_GAUGE_H_
