#include "app/window/qt_gauge.h"

#include <QPainter>

namespace app {

GaugeBar::GaugeBar(QWidget* parent) : QProgressBar(parent) {
  setRange(0, 100);
  setValue(0);
  setFormat("%p%");
  setTextVisible(true);
  setAlignment(Qt::AlignCenter);
}

void GaugeBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect frame = rect();
  painter.fillRect(frame, palette().button());
  painter.setPen(Qt::gray);
  painter.drawRect(frame.adjusted(0, 0, -1, -1));
  QRect inner = frame.adjusted(1, 1, -1, -1);
  int span = maximum() - minimum();
  int filled = span > 0 ? static_cast<int>(1LL * inner.width() * (value() - minimum()) / span) : 0;
  QRect chunk(inner.left(), inner.top(), filled, inner.height());
  painter.fillRect(chunk, Qt::blue);
  QString caption = text();
  painter.setClipRect(inner.adjusted(filled, 0, 0, 0));
  painter.setPen(palette().color(QPalette::ButtonText));
  painter.drawText(inner, Qt::AlignCenter, caption);
  painter.setClipRect(chunk);
  painter.setPen(Qt::white);
  painter.drawText(inner, Qt::AlignCenter, caption);
}

QtGauge::QtGauge(QProgressBar* bar) : bar_(bar) {
  bar_->setRange(0, 100);
  bar_->setValue(0);
  pending_.setSingleShot(true);
  QObject::connect(&pending_, &QTimer::timeout, [this] { ShowNow(); });
}

void QtGauge::SetMax(int max) {
  max_ = max < 0 ? 0 : max;
  if (position_ > max_) position_ = max_;
  Show();
}

void QtGauge::SetPosition(int position) {
  position_ = position < 0 ? 0 : position > max_ ? max_ : position;
  Show();
}

int QtGauge::Percent() const {
  return max_ > 0 ? static_cast<int>(100LL * position_ / max_) : 0;
}

void QtGauge::Show() {
  if (Percent() == bar_->value()) {
    pending_.stop();
    return;
  }
  if (!since_shown_.isValid() || since_shown_.elapsed() >= kRepaintIntervalMs) {
    ShowNow();
  } else if (!pending_.isActive()) {
    pending_.start(kRepaintIntervalMs - static_cast<int>(since_shown_.elapsed()));
  }
}

void QtGauge::ShowNow() {
  pending_.stop();
  since_shown_.start();
  bar_->setValue(Percent());
}

}  // namespace app
