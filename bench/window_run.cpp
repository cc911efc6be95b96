// A whole conversion run in the visible main window beside the same run headless, on demo
// practices made with the same seed, and how soon Cancel ends a run in the window.
//
//   window_run [--repeat N] [--types-only] [SIZE ...]   (default: 3 runs each of 10000 and 100000)
//
// Run it under a real X server (Xvfb) to see what painting costs; offscreen it measures the
// rest. For each size, two configurations: every phase over 01/01/2004 to 12/31/2006, and type
// verification with the who-paid check only ("Apply Payments to Charges" unchecked). The window
// run is timed from the press of Start to the "Finished." box; its who-paid presses ("Apply to
// ALL", the first payer button offered) and its answers are made as the windows show, and the
// headless run (`rivenoak run` in this process, preparation included) gets the same presses.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/command/practice_run.h"
#include "app/practice/demo_practice.h"
#include "app/window/choose_pract.h"
#include "app/window/main_form.h"
#include "app/window/root_data_path.h"
#include "app/window/who_paid_window.h"
#include "app/window/window_style.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kFrom = "01/01/2004";
constexpr const char* kTo = "12/31/2006";

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

struct Config {
  const char* name;
  bool apply;
};

// Answers the windows the moment they show: the chooser with Open, the who-paid dialog with
// presses, message boxes with OK (Yes to a question).
class Driver : public QObject {
 public:
  Driver(app::TChoosePract* chooser, app::TWhoPaid* who_paid)
      : chooser_(chooser), who_paid_(who_paid) {
    qApp->installEventFilter(this);
  }
  ~Driver() override { qApp->removeEventFilter(this); }

  std::vector<std::string> presses;
  std::function<void()> on_finished;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(object);
    if (event->type() == QEvent::Show && widget && widget->isWindow() && widget->isModal()) {
      Answer(widget);
    }
    return false;
  }

 private:
  void Answer(QWidget* window) {
    QTimer::singleShot(0, window, [this, window] { AnswerNow(window); });
  }

  void AnswerNow(QWidget* window) {
    if (!window->isVisible()) return;
    if (window == chooser_) {
      chooser_->Button1->click();
    } else if (window == who_paid_) {
      PressFirstPayer();
    } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
      if (box->text() == "Finished." && on_finished) on_finished();
      QAbstractButton* button = box->button(QMessageBox::Yes);
      if (!button) button = box->button(QMessageBox::Ok);
      if (button) button->click();
    }
  }

  void PressFirstPayer() {
    // The dialog opens its data while showing: the buttons come when it has.
    if (!who_paid_->isVisible()) return;
    who_paid_->RadioAll->setChecked(true);
    for (size_t i = 0; i < who_paid_->PayerButtons.size(); ++i) {
      if (!who_paid_->PayerButtons[i]->isEnabled()) continue;
      presses.push_back(std::string("all ") + conversion::kPayerLetters[i]);
      who_paid_->PayerButtons[i]->click();
      break;
    }
    Answer(who_paid_);
  }

  app::TChoosePract* chooser_;
  app::TWhoPaid* who_paid_;
};

using PhaseSeconds = std::map<std::string, double>;

// Each phase of the window's run timed under the name the headless run records it by.
void TimePhases(conversion::RunPhases& phases, PhaseSeconds& seconds) {
  auto wrap = [&seconds](const char* name, auto& phase) {
    if (!phase) return;
    phase = [name, inner = phase, &seconds](auto... args) {
      auto start = Clock::now();
      struct Record {
        PhaseSeconds& seconds;
        const char* name;
        Clock::time_point start;
        ~Record() { seconds[name] += Seconds(Clock::now() - start); }
      } record{seconds, name, start};
      return inner(args...);
    };
  };
  wrap("VerifyTranTypes", phases.VerifyTranTypes);
  wrap("GetNoWhoPaid", phases.GetNoWhoPaid);
  wrap("ApplyPayAdj", phases.ApplyPayAdj);
  wrap("AdjustPayments", phases.AdjustPayments);
}

// What the run spent outside its four phases: for the window, setting up the run and showing
// "Finished."; headless, preparing the practice.
void AddTimeOutsidePhases(PhaseSeconds& phases, double run_seconds) {
  double outside = run_seconds;
  for (const auto& [name, seconds] : phases) outside -= seconds;
  phases["outside the phases"] = outside;
}

struct WindowResult {
  PhaseSeconds phases;
  double run_seconds = 0;
  double cancel_ms = -1;  // -1: the run ended before the press
  std::vector<std::string> presses;
};

// One program's windows on the root, as the desktop makes them; the run starts once the main
// window is ready. With cancel_after, Cancel is clicked that long after Start.
WindowResult RunInWindow(const std::string& root, const Config& config, double cancel_after) {
  app::SetRootOverride(root);
  WindowResult result;
  app::TMainForm form;
  auto* chooser = new app::TChoosePract(&form);
  form.SetChooser(chooser);
  auto* who_paid = new app::TWhoPaid(&form);
  form.SetWhoPaid(who_paid);
  TimePhases(form.phases, result.phases);
  Driver driver(chooser, who_paid);
  Clock::time_point started, finished, cancelled;
  driver.on_finished = [&] { finished = Clock::now(); };
  // Showing the window runs its start-up: the chooser is answered, the practice prepared.
  form.show();
  QTimer::singleShot(0, &form, [&] {
    form.CheckBox4->click();
    form.DateFrom->setText(kFrom);
    form.DateTo->setText(kTo);
    if (!config.apply) form.CheckBox3->click();
    QTimer cancel;
    cancel.setSingleShot(true);
    QObject::connect(&cancel, &QTimer::timeout, [&] {
      cancelled = Clock::now();
      QPoint centre = form.Button1->rect().center();
      for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(
            form.Button1, new QMouseEvent(type, centre, form.Button1->mapToGlobal(centre),
                                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
      }
    });
    if (cancel_after > 0) cancel.start(static_cast<int>(cancel_after * 1000));
    started = Clock::now();
    form.Button2->click();
    Clock::time_point ended = Clock::now();
    if (cancel_after > 0 && form.Ending()) {
      result.cancel_ms = std::chrono::duration<double, std::milli>(ended - cancelled).count();
    }
    QCoreApplication::exit(0);
  });
  QApplication::exec();
  result.run_seconds = Seconds(finished - started);
  result.presses = driver.presses;
  AddTimeOutsidePhases(result.phases, result.run_seconds);
  return result;
}

struct HeadlessResult {
  PhaseSeconds phases;
  double run_seconds = 0;
};

HeadlessResult RunHeadless(const QTemporaryDir& scratch, const std::string& root,
                           const Config& config, const std::vector<std::string>& presses) {
  app::PracticeRunOptions options;
  options.from = kFrom;
  options.to = kTo;
  options.run.apply_payments = config.apply;
  options.run.adjust_payment_amounts =
      config.apply;  // unchecking "Apply Payments" unchecks "Adjust" too
  options.run.over_apply = config.apply;
  options.answers.who_paid_presses = presses;
  std::ostringstream out, err;
  // The run writes its phases' times to this file.
  std::string timings = scratch.path().toStdString() + "/timings.tsv";
  setenv("RIVENOAK_PHASE_TIMINGS", timings.c_str(), 1);
  HeadlessResult result;
  auto start = Clock::now();
  int status = app::RunPractice(root + "/Practice1", options, out, err);
  result.run_seconds = Seconds(Clock::now() - start);
  unsetenv("RIVENOAK_PHASE_TIMINGS");
  if (status != 0) std::fprintf(stderr, "headless run failed:\n%s", out.str().c_str());
  std::ifstream in(timings);
  std::string name;
  double seconds = 0;
  std::string rest;
  while (in >> name >> seconds && std::getline(in, rest)) {
    if (name != "peak_kb") result.phases[name] += seconds;
  }
  AddTimeOutsidePhases(result.phases, result.run_seconds);
  return result;
}

void PrintPhases(const PhaseSeconds& window, const PhaseSeconds& headless) {
  for (const auto& [name, seconds] : window) {
    auto other = headless.find(name);
    double theirs = other == headless.end() ? 0 : other->second;
    std::printf("          %-22s %10.3f %10.3f %8.2f\n", name.c_str(), seconds, theirs,
                theirs > 0 ? seconds / theirs : 0);
  }
}

std::string FreshRoot(const QTemporaryDir& scratch, const std::string& name, int size) {
  std::string root = scratch.path().toStdString() + "/" + name;
  QDir(QString::fromStdString(root)).removeRecursively();
  app::MakeDemoRoot(root, app::DemoOptions{1, size, 1});
  return root;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  app::ChooseEventLoop();
  QApplication application(argc, argv);
  app::SetUpApplication();
  std::vector<int> sizes;
  int repeat = 3;
  bool types_only = false;  // the second configuration alone, to profile it
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (std::string(argv[i]) == "--types-only") {
      types_only = true;
    } else {
      sizes.push_back(std::atoi(argv[i]));
    }
  }
  if (sizes.empty()) sizes = {10000, 100000};
  std::printf("platform: %s; median of %d runs each\n",
              QGuiApplication::platformName().toUtf8().constData(), repeat);
  std::printf("%-9s %-22s %10s %10s %8s %7s\n", "size", "configuration", "window s", "headless s",
              "ratio", "presses");
  // In memory where the system has it, so that the disk's syncs, the same for both runs but
  // varying with what else the machine writes, do not hide what the window costs.
  QString scratch_base = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
  QTemporaryDir scratch(scratch_base + "/rivenoak-window-run-XXXXXX");
  for (int size : sizes) {
    for (const Config& config : {Config{"all phases", true}, Config{"types and who-paid", false}}) {
      if (types_only && config.apply) continue;
      std::vector<double> windows, headlesses, ratios;
      PhaseSeconds window_phases, headless_phases;
      size_t presses = 0;
      double run_seconds = 0;
      for (int r = 0; r < repeat; ++r) {
        // The two runs take turns, so that a busy moment of the machine falls on both alike.
        WindowResult window = RunInWindow(FreshRoot(scratch, "window", size), config, 0);
        HeadlessResult headless =
            RunHeadless(scratch, FreshRoot(scratch, "headless", size), config, window.presses);
        windows.push_back(window.run_seconds);
        headlesses.push_back(headless.run_seconds);
        ratios.push_back(window.run_seconds / headless.run_seconds);
        for (const auto& [name, seconds] : window.phases) window_phases[name] += seconds / repeat;
        for (const auto& [name, seconds] : headless.phases) {
          headless_phases[name] += seconds / repeat;
        }
        presses = window.presses.size();
        run_seconds = window.run_seconds;
      }
      std::printf("%-9d %-22s %10.3f %10.3f %8.2f %7zu\n", size, config.name, Median(windows),
                  Median(headlesses), Median(ratios), presses);
      std::printf("          phases, mean seconds:\n");
      PrintPhases(window_phases, headless_phases);
      std::fflush(stdout);
      if (config.apply) {
        WindowResult cancel =
            RunInWindow(FreshRoot(scratch, "cancel", size), config, run_seconds * 0.3);
        if (cancel.cancel_ms >= 0) {
          std::printf("%-9d Cancel pressed at 30%% of the run: run ended %.1f ms later\n", size,
                      cancel.cancel_ms);
        } else {
          std::printf("%-9d Cancel pressed at 30%% of the run: the run had ended\n", size);
        }
      }
    }
  }
  return 0;
}
