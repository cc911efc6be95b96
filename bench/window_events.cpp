// What a live window costs a run: the main window's message processing once per record, and
// how soon a Cancel press is seen. Offscreen; prints microseconds per call and the delay from a
// queued click of Cancel to the run seeing its stop flag.
//
//   window_events [RECORDS]
#include <QApplication>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/window/main_form.h"
#include "app/window/window_style.h"

namespace {

using Clock = std::chrono::steady_clock;

double Microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// About the work of one transaction of the heaviest phase (a few hundred microseconds at most).
void WorkOfOneRecord() {
  auto until = Clock::now() + std::chrono::microseconds(100);
  while (Clock::now() < until) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  app::ChooseEventLoop();
  QApplication application(argc, argv);
  int records = argc > 1 ? std::atoi(argv[1]) : 20000;
  app::TMainForm window;
  // Not shown, so that its start-up does not run: only the message processing is measured.
  QCoreApplication::processEvents();

  // Message processing with the bars moving as a phase moves them.
  window.Gauge1().SetMax(records);
  window.Gauge1().SetPosition(0);
  auto start = Clock::now();
  for (int i = 0; i < records; ++i) {
    window.Gauge1().Advance();
    window.ProcessMessages();
  }
  double per_call = Microseconds(Clock::now() - start) / records;
  std::printf("advance the bar and let messages run: %.2f us per record\n", per_call);

  // Cancel: a click queued at a random moment of a run, seen at the next record.
  std::vector<double> delays;
  for (int trial = 0; trial < 50; ++trial) {
    window.SetStopFlag(false);
    Clock::time_point clicked;
    QObject::connect(window.Button1, &QPushButton::clicked, [&] { window.SetStopFlag(true); });
    int at = 50 + (trial * 37) % 200;
    for (int i = 0; i < 100000 && !window.StopFlag(); ++i) {
      if (i == at) {
        clicked = Clock::now();
        QPoint centre = window.Button1->rect().center();
        QCoreApplication::postEvent(
            window.Button1,
            new QMouseEvent(QEvent::MouseButtonPress, centre, window.Button1->mapToGlobal(centre),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            window.Button1,
            new QMouseEvent(QEvent::MouseButtonRelease, centre, window.Button1->mapToGlobal(centre),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
      }
      WorkOfOneRecord();
      window.ProcessMessages();
    }
    delays.push_back(Microseconds(Clock::now() - clicked));
    QObject::disconnect(window.Button1, &QPushButton::clicked, nullptr, nullptr);
  }
  std::sort(delays.begin(), delays.end());
  std::printf("Cancel seen after: median %.0f us, worst %.0f us (records of 100 us)\n",
              delays[delays.size() / 2], delays.back());
  return 0;
}
