// Window tests of the main window and the practice chooser, driven offscreen. Modal windows are
// answered from a polling timer; whether the program ends is seen by running the steps that should
// end it inside the application's own event loop, which only the program's exit request leaves.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "app/practice/demo_practice.h"
#include "app/practice/practice_copy.h"
#include "app/testing/practice_checks.h"
#include "app/window/choose_pract.h"
#include "app/window/file_version.h"
#include "app/window/main_form.h"
#include "app/window/root_data_path.h"
#include "app/window/who_paid_window.h"
#include "app/window/window_style.h"
#include "isam/testing/fault_vfs.h"
#include "isam/testing/test_support.h"

namespace {

constexpr int kWait = 20000;  // ms: an upper bound for anything to happen, never a pace
const QString kCaption = QStringLiteral("Rivenoak For Medisoft Windows");
const QString kEmptyDate = QString::fromLatin1(app::kEmptyDateText);

struct SeenBox {
  QString text, title;
  QMessageBox::Icon icon;
};

// Runs a button's click from the event loop, so that a modal window it opens runs there too.
void Defer(QAbstractButton* button) {
  QTimer::singleShot(0, button, &QAbstractButton::click);
}

// Answers modal windows as they come to the front: a message box is recorded, handed to on_box
// while still open, then closed with OK; any other modal window goes to on_dialog. A modal window
// left on top for too long is closed and gave_up set.
class ModalPump {
 public:
  ModalPump() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(10);
  }
  QStringList Texts() const {
    QStringList texts;
    for (const SeenBox& box : boxes) texts << box.text;
    return texts;
  }

  std::vector<SeenBox> boxes;
  std::function<void(const SeenBox&)> on_box;
  std::function<void(QWidget*)> on_dialog;
  bool gave_up = false;

 private:
  void Tick() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    if (modal != top_) {
      top_ = modal;
      since_.start();
    } else if (since_.elapsed() > kWait) {
      gave_up = true;
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes.push_back({box->text(), box->windowTitle(), box->icon()});
      if (on_box) on_box(boxes.back());
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->click();
      } else {
        box->reject();
      }
      return;
    }
    if (on_dialog) on_dialog(modal);
  }

  QTimer timer_;
  QPointer<QWidget> top_;
  QElapsedTimer since_;
};

// One program on a demo root of its own: the main window and its chooser, made as the desktop
// makes them. The chooser takes the first practice unless a test answers it otherwise.
class Program {
 public:
  explicit Program(int practices = 1) {
    app::MakeDemoRoot(folder_.path(), app::DemoOptions{practices, 40, 7});
    app::SetRootOverride(folder_.path());
    form = std::make_unique<app::TMainForm>();
    chooser = new app::TChoosePract(form.get());
    form->SetChooser(chooser);
    pump.on_dialog = [this](QWidget* modal) {
      if (modal != chooser || chosen_) return;
      chosen_ = true;
      chooser_was_modal = chooser->isModal();
      caption_while_choosing = form->windowTitle();
      Defer(chooser->Button1);
    };
  }
  ~Program() {
    form.reset();
    // Leaves nothing of an exit request behind for the next test.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QApplication::exec();
  }

  std::string Root() const { return std::filesystem::absolute(folder_.path()).string(); }
  std::string PracticePath() const { return Root() + "/Practice1/"; }
  QString ConvertLog() const { return QString::fromStdString(PracticePath() + "Convert.log"); }

  // Shows the main window; true once start-up is over (the show handler has returned).
  bool StartUp() {
    form->show();
    return QTest::qWaitFor([this] { return form->windowTitle() == kCaption; }, kWait);
  }

  // Runs the action inside the application's event loop: true when the program asks that loop
  // to end, false when nothing ends it within the wait.
  bool Ends(const std::function<void()>& action) {
    bool timed_out = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&timed_out] {
      timed_out = true;
      QCoreApplication::exit(1);
    });
    watchdog.start(kWait);
    QTimer::singleShot(0, qApp, action);
    int code = QApplication::exec();
    return !timed_out && code == 0;
  }

  // Every phase of a run records its name when it is called; GetNoWhoPaid finds no payer missing.
  void RecordPhases() {
    form->phases.VerifyTranTypes = [this] { phase_calls << "verify types"; };
    form->phases.GetNoWhoPaid = [this](const std::string& path) {
      phase_calls << "who paid " + QString::fromStdString(path);
      return true;
    };
    form->phases.ApplyPayAdj = [this](bool, auto, auto) { phase_calls << "apply"; };
    form->phases.AdjustPayments = [this] { phase_calls << "adjust"; };
  }

  // The date fields as the user types them.
  void TypeRange(const QString& from, const QString& to) {
    form->DateFrom->setText(from);
    form->DateTo->setText(to);
  }

 private:
  isam::testing::TempFolder folder_;
  bool chosen_ = false;

 public:
  ModalPump pump;
  std::unique_ptr<app::TMainForm> form;
  app::TChoosePract* chooser = nullptr;
  bool chooser_was_modal = false;
  QString caption_while_choosing;
  QStringList phase_calls;
};

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir settings_;

 private slots:
  void initTestCase() {
    // No stored root setting and no environment root: only SetRootOverride names the root.
    QVERIFY(settings_.isValid());
    for (auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
      for (auto scope : {QSettings::UserScope, QSettings::SystemScope}) {
        QSettings::setPath(format, scope, settings_.path());
      }
    }
    qunsetenv("RIVENOAK_ROOT");
    QApplication::setApplicationDisplayName(app::ApplicationTitle());
    // Only the program's own exit request may end the event loop.
    QApplication::setQuitOnLastWindowClosed(false);
  }

  void startUpFillsLabelsFromChosenPracticeAndConvertLog() {
    Program p;
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    QVERIFY(p.chooser_was_modal);
    QVERIFY(p.caption_while_choosing != kCaption);
    QCOMPARE(f.windowTitle(), kCaption);
    std::string file_version, product_version;
    app::GetVersionInfo(QCoreApplication::applicationFilePath().toStdString(), file_version,
                        product_version);
    QVERIFY(!file_version.empty());
    QCOMPARE(f.lblVersion->text(), "Version: " + QString::fromStdString(file_version));
    QCOMPARE(f.Label6->text(), QString("Local"));
    QCOMPARE(f.Label4->text(), QString("Demo Practice 1"));
    QCOMPARE(f.Label5->text(), QString::fromStdString(p.PracticePath()));
    QCOMPARE(f.DataPath, p.PracticePath());
    const QString date = QFileInfo(p.ConvertLog()).lastModified().toString("MM/dd/yyyy");
    QCOMPARE(f.Label7->text(), date);
    QCOMPARE(f.DateFrom->displayText(), date);
    QCOMPARE(f.DateTo->displayText(), date);
    QVERIFY(!f.CheckBox4->isChecked());
    QVERIFY(f.CheckBox4->isEnabled());
    QVERIFY(!f.DateFrom->isEnabled());
    QVERIFY(!f.DateTo->isEnabled());
    QVERIFY(p.pump.boxes.empty());
    QVERIFY(!f.Ending());
    QVERIFY(!p.pump.gave_up);
  }

  void startUpWithoutConvertLogLeavesDateRangeToUser() {
    Program p;
    QVERIFY(QFile::remove(p.ConvertLog()));
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    QCOMPARE(p.pump.Texts(), QStringList{"Convert.log could not be found."});
    QCOMPARE(p.pump.boxes[0].title, app::ApplicationTitle());
    QCOMPARE(p.pump.boxes[0].icon, QMessageBox::NoIcon);
    QCOMPARE(f.Label6->text(), QString("Local"));
    QCOMPARE(f.Label7->text(), QString("N/A"));
    QVERIFY(f.CheckBox4->isChecked());
    QVERIFY(!f.CheckBox4->isEnabled());
    QCOMPARE(f.DateFrom->displayText(), kEmptyDate);
    QCOMPARE(f.DateTo->displayText(), kEmptyDate);
    QVERIFY(f.DateFrom->isEnabled());
    QVERIFY(f.DateTo->isEnabled());
    QVERIFY(!f.Ending());
  }

  // A practice on a file server: "Remote" beside "Connection", its tables kept from every other
  // program while the window has them; where the mount keeps locks on this computer, Start
  // changes nothing and says why.
  void practiceInNetworkFolderIsRemote_data() {
    QTest::addColumn<QString>("options");
    QTest::newRow("locks passed on") << "rw,vers=3.1.1,cache=strict";
    QTest::newRow("nobrl") << "rw,vers=3.1.1,nobrl";
  }
  void practiceInNetworkFolderIsRemote() {
    QFETCH(QString, options);
    Program p;
    // Another program, which takes the folder for a local one.
    isam::testing::ScopedConnection other(p.PracticePath());
    isam::testing::FakeNetworkFolder share(p.PracticePath(), "cifs", options.toStdString());
    p.form->SetWhoPaid(new app::TWhoPaid(p.form.get()));  // the run's own phases
    isam::testing::TempFolder copies;
    const std::string before = copies.path() + "/before";
    app::BackUpPractice(p.PracticePath(), before, nullptr);
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    QCOMPARE(f.Label6->text(), QString("Remote"));
    IsamHandle table = 0;
    QCOMPARE(
        IsamOpenTable(other.handle(), "MWTRN.ADT", nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                      ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &table),
        uint32_t{ISAM_ERR_TABLE_IN_USE});
    if (!options.contains("nobrl")) return;
    f.CheckBox4->click();
    f.DateFrom->setText("01/01/1900");
    f.DateTo->setText("12/31/2099");
    p.pump.boxes.clear();
    f.Button2->click();
    QStringList texts = p.pump.Texts();
    QVERIFY2(!texts.isEmpty() && texts[0].contains("nobrl") && texts[0].contains("cifs") &&
                 texts[0].contains("rivenoak backup"),
             qPrintable(texts.join("|")));
    QCOMPARE(p.pump.boxes[0].icon, QMessageBox::Critical);
    QVERIFY(f.isVisible());
    QVERIFY(app::testing::Differences(before, p.PracticePath()).empty());
  }

  void leavingChooserWithoutPracticeEndsProgram_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("exit button") << "exit";
    QTest::newRow("window closed") << "close";
    QTest::newRow("open on an empty list") << "open empty";
  }
  void leavingChooserWithoutPracticeEndsProgram() {
    QFETCH(QString, how);
    Program p(how == "open empty" ? 0 : 1);
    bool answered = false;
    p.pump.on_dialog = [&](QWidget* modal) {
      if (modal != p.chooser || answered) return;
      answered = true;
      if (how == "exit") Defer(p.chooser->Button2);
      if (how == "close") QTimer::singleShot(0, p.chooser, &QWidget::close);
      if (how == "open empty") Defer(p.chooser->Button1);
    };
    QVERIFY(p.Ends([&] { p.form->show(); }));
    QVERIFY(answered);
    QVERIFY(p.form->Ending());
    QCOMPARE(p.pump.Texts(), QStringList{});
    QCOMPARE(p.form->windowTitle(), kCaption);
    QVERIFY(p.form->DataPath.empty());
    QVERIFY(!p.form->practice.IsamConnection2.IsConnected());
    QCOMPARE(p.form->Label6->text(), QString("Label6"));
    QVERIFY(!p.pump.gave_up);
  }

  void missingRootReportsErrorsAndChooserStaysOpen() {
    Program p;
    app::SetRootOverride("");
    bool opened = false, exited = false, stayed_open = false;
    p.pump.on_dialog = [&](QWidget* modal) {
      if (modal != p.chooser) return;
      if (p.pump.boxes.size() == 1 && !opened) {
        opened = true;
        Defer(p.chooser->Button1);
      } else if (p.pump.boxes.size() == 2 && !exited) {
        exited = true;
        stayed_open = p.chooser->isVisible();
        Defer(p.chooser->Button2);
      }
    };
    QVERIFY(p.Ends([&] { p.form->show(); }));
    QCOMPARE(p.pump.boxes.size(), size_t{2});
    QCOMPARE(p.pump.boxes[0].text,
             QString("Must specify connection string before getting a server connection."));
    QCOMPARE(p.pump.boxes[0].icon, QMessageBox::Critical);
    QVERIFY2(p.pump.boxes[1].text.endsWith("Field 'Data Path' not found"),
             qPrintable(p.pump.boxes[1].text));
    QCOMPARE(p.pump.boxes[1].icon, QMessageBox::Critical);
    QVERIFY(stayed_open);
    QVERIFY(p.form->Ending());
    QVERIFY(!p.pump.gave_up);
  }

  void optionBoxesFollowEachOther() {
    Program p;
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    QVERIFY(!f.RadioGroup1->isEnabled());
    QVERIFY(f.CheckBox2->isHidden());
    for (QCheckBox* box : {f.CheckBox2, f.CheckBox3, f.CheckBox5}) QVERIFY(box->isChecked());

    f.CheckBox3->click();
    QVERIFY(!f.CheckBox3->isChecked());
    QVERIFY(!f.CheckBox5->isChecked());
    QVERIFY(!f.CheckBox2->isChecked());
    QVERIFY(!f.CheckBox2->isEnabled());
    QVERIFY(f.CheckBox5->isEnabled());

    f.CheckBox3->click();
    QVERIFY(f.CheckBox3->isChecked());
    QVERIFY(f.CheckBox5->isChecked());
    QVERIFY(f.CheckBox2->isChecked());
    QVERIFY(f.CheckBox2->isEnabled());
    QVERIFY(f.CheckBox5->isEnabled());

    const QString from = f.DateFrom->displayText(), to = f.DateTo->displayText();
    for (bool checked : {true, false, true}) {
      f.CheckBox4->click();
      QCOMPARE(f.CheckBox4->isChecked(), checked);
      QCOMPARE(f.DateFrom->isEnabled(), checked);
      QCOMPARE(f.DateTo->isEnabled(), checked);
      QCOMPARE(f.DateFrom->displayText(), from);
      QCOMPARE(f.DateTo->displayText(), to);
    }
    QVERIFY(p.pump.boxes.empty());
  }

  // The boxes are read as the run reaches them: one unchecked during the first phase keeps its
  // phase from running, and the payments take the dates the fields hold as that phase begins.
  void optionsChangedDuringARunCountFromTheirPhase() {
    Program p;
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    p.RecordPhases();
    p.TypeRange("01/01/2004", "12/31/2006");
    f.phases.VerifyTranTypes = [&] {
      p.phase_calls << "verify types";
      f.CheckBox5->setChecked(false);
      f.DateTo->setText("06/30/2005");
    };
    f.phases.ApplyPayAdj = [&](bool, data::TDateTime from, data::TDateTime to) {
      p.phase_calls << QString::fromStdString("apply " + data::DateToStr(from) + " " +
                                              data::DateToStr(to));
    };
    p.pump.boxes.clear();
    f.Button2->click();
    QCOMPARE(p.pump.Texts(), QStringList{"Finished."});
    QCOMPARE(p.phase_calls.size(), 3);
    QCOMPARE(p.phase_calls.value(0), QString("verify types"));
    QCOMPARE(p.phase_calls.value(2), QString("apply 01/01/2004 06/30/2005"));
  }

  // A date field that holds no date ends the run with the error, and the window is ready for the
  // next run rather than waiting on Cancel.
  void aDateThatIsNoDateLeavesTheWindowReady() {
    Program p;
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    p.RecordPhases();
    p.TypeRange("13/45/2006", "12/31/2006");
    p.pump.boxes.clear();
    f.Button2->click();
    QCOMPARE(p.pump.Texts(), QStringList{"'13/45/2006' is not a valid date"});
    QCOMPARE(p.phase_calls, QStringList{});
    QCOMPARE(f.Button1->text(), QString("Exit"));
    QVERIFY(f.Button2->isEnabled());
    QVERIFY(f.DateFrom->isEnabled());
    QVERIFY(!f.Running());
  }

  void startWithEmptyDatesAsksForBothDatesAndFinishes() {
    Program p;
    QVERIFY(QFile::remove(p.ConvertLog()));
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    p.RecordPhases();
    p.pump.boxes.clear();
    QStringList exit_captions;
    std::vector<bool> start_enabled, running;
    p.pump.on_box = [&](const SeenBox&) {
      exit_captions << f.Button1->text();
      start_enabled.push_back(f.Button2->isEnabled());
      running.push_back(f.Running());
    };
    f.Button2->click();
    QCOMPARE(p.pump.Texts(), (QStringList{"Both Dates Must Be Specified.", "Finished."}));
    QCOMPARE(p.pump.boxes[0].title, app::ApplicationTitle());
    QCOMPARE(p.pump.boxes[0].icon, QMessageBox::NoIcon);
    QCOMPARE(p.pump.boxes[1].title, QString("Information"));
    QCOMPARE(p.pump.boxes[1].icon, QMessageBox::Information);
    // While the first box is open the run is going on.
    QCOMPARE(exit_captions.value(0), QString("Cancel"));
    QCOMPARE(start_enabled.at(0), false);
    QCOMPARE(running.at(0), true);
    QCOMPARE(p.phase_calls, QStringList{});
    QCOMPARE(f.Button1->text(), QString("Exit"));
    QVERIFY(f.Button2->isEnabled());
    QVERIFY(f.DateFrom->isEnabled());
    QVERIFY(f.DateTo->isEnabled());
    QVERIFY(!f.Running());
    QVERIFY(!f.Ending());
    // "Exit" without its accelerator still ends the program.
    QVERIFY(p.Ends([&] { f.Button1->click(); }));
  }

  void runWithAllOptionsUncheckedStillVerifiesWhoPaid() {
    Program p;
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    p.RecordPhases();
    for (QCheckBox* box : {f.CheckBox1, f.CheckBox3, f.CheckBox6}) box->click();
    for (QCheckBox* box : {f.CheckBox1, f.CheckBox2, f.CheckBox3, f.CheckBox5, f.CheckBox6}) {
      QVERIFY2(!box->isChecked(), qPrintable(box->text()));
    }
    QStringList status_at_box;
    p.pump.on_box = [&](const SeenBox&) { status_at_box << f.Label14->text(); };
    f.Button2->click();
    QCOMPARE(p.pump.Texts(), QStringList{"Finished."});
    QCOMPARE(p.pump.boxes[0].title, QString("Information"));
    QCOMPARE(p.pump.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(status_at_box, QStringList{"Verifying Who Paid"});
    QCOMPARE(f.Label14->text(), QString("Verifying Who Paid"));
    QCOMPARE(p.phase_calls, QStringList{"who paid " + QString::fromStdString(p.PracticePath())});
    QCOMPARE(f.Button1->text(), QString("Exit"));
    QVERIFY(f.Button2->isEnabled());
    QVERIFY(!f.Ending());
  }

  void cancelDuringRunEndsProgramWhenStartReturns() {
    Program p;
    QVERIFY(QFile::remove(p.ConvertLog()));
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    p.RecordPhases();
    p.pump.boxes.clear();
    QString caption;
    bool stop_after_cancel = false, running_after_cancel = false;
    p.pump.on_box = [&](const SeenBox&) {
      caption = f.Button1->text();
      f.Button1->click();
      stop_after_cancel = f.StopFlag();
      running_after_cancel = f.Running();
    };
    QVERIFY(p.Ends([&] { f.Button2->click(); }));
    // "Finished." closed at once: only the box that was open when Cancel was pressed was shown.
    QCOMPARE(p.pump.Texts(), QStringList{"Both Dates Must Be Specified."});
    QCOMPARE(caption, QString("Cancel"));
    QVERIFY(stop_after_cancel);
    QVERIFY(running_after_cancel);
    QVERIFY(f.StopFlag());
    QVERIFY(f.Ending());
    QVERIFY(!f.Running());
    QVERIFY(!p.pump.gave_up);
  }

  void closingWindowDuringRunLetsRunFinishThenEnds() {
    Program p;
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    p.RecordPhases();
    // The first phase and the payment phase each show a box, as the run's phases do.
    f.phases.VerifyTranTypes = [&] {
      p.phase_calls << "verify types";
      f.ShowPlain("Checking types");
    };
    f.phases.ApplyPayAdj = [&](bool, auto, auto) {
      p.phase_calls << "apply";
      f.ShowPlain("Applying payments");
    };
    bool stop_after_close = true, visible_after_close = false;
    p.pump.on_box = [&](const SeenBox&) {
      f.close();
      stop_after_close = f.StopFlag();
      visible_after_close = f.isVisible();
    };
    QVERIFY(p.Ends([&] { f.Button2->click(); }));
    QCOMPARE(p.pump.Texts(), QStringList{"Checking types"});
    QVERIFY(!stop_after_close);
    QVERIFY(visible_after_close);
    QCOMPARE(p.phase_calls,
             (QStringList{"verify types", "who paid " + QString::fromStdString(p.PracticePath()),
                          "apply", "adjust"}));
    QVERIFY(!f.StopFlag());
    QVERIFY(f.Ending());
    QVERIFY(!f.Running());
    QVERIFY(!p.pump.gave_up);
  }

  void exitAndEscapeEndProgram_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("exit button") << false;
    QTest::newRow("escape key") << true;
  }
  void exitAndEscapeEndProgram() {
    QFETCH(bool, escape);
    Program p;
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    QCOMPARE(f.Button1->text(), QString("&Exit"));
    if (escape) {
      f.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&f));
    }
    QVERIFY(p.Ends([&] {
      if (escape) {
        QTest::keyClick(&f, Qt::Key_Escape);
      } else {
        f.Button1->click();
      }
    }));
    QVERIFY(f.Ending());
    QVERIFY(p.pump.boxes.empty());
  }

  // A write that fails in any phase, the who-paid dialog's included, shows the error in its box;
  // the window lives on, and no document or charge is left half written.
  void aWriteFailingInAnyPhaseShowsItsErrorAndTheWindowLivesOn_data() {
    QTest::addColumn<QString>("phase");
    for (const char* phase : {"verify types", "who paid", "apply", "adjust"}) {
      QTest::newRow(phase) << phase;
    }
  }
  void aWriteFailingInAnyPhaseShowsItsErrorAndTheWindowLivesOn() {
    QFETCH(QString, phase);
    isam::testing::FaultVfs vfs;  // the program's files are opened through it
    vfs.Arm(1 << 30, isam::testing::Fault::kNone);
    Program p;
    isam::testing::RunSql(p.PracticePath() + "MWTRN.ADT",
                          phase == "who paid"
                              ? "UPDATE records SET \"Who Paid\" = NULL WHERE "
                                "\"Transaction Type\" BETWEEN 'I' AND 'O'"
                              : "UPDATE records SET \"Who Paid\" = 'G' WHERE \"Who Paid\" IS NULL");
    auto* who_paid = new app::TWhoPaid(p.form.get());
    p.form->SetWhoPaid(who_paid);
    QVERIFY(p.StartUp());
    app::TMainForm& f = *p.form;
    f.CheckBox4->click();
    f.DateFrom->setText("01/01/1900");
    f.DateTo->setText("12/31/2099");
    if (phase != "verify types") f.CheckBox1->click();
    if (phase == "adjust") {
      f.CheckBox3->click();
      if (!f.CheckBox5->isChecked()) f.CheckBox5->click();
    }
    // In the dialog: every occurrence, the first payer offered; the dialog is closed after that.
    int presses = 0;
    p.pump.on_dialog = [&](QWidget* modal) {
      if (modal != who_paid) return;
      if (presses++ > 0) {
        static_cast<QDialog*>(who_paid)->reject();  // the title bar's close
        return;
      }
      who_paid->RadioAll->setChecked(true);
      for (QPushButton* button : who_paid->PayerButtons) {
        if (!button->isEnabled()) continue;
        vfs.Arm(1, isam::testing::Fault::kDiskFull);
        Defer(button);  // out of the pump, which answers the error box that follows
        return;
      }
    };
    p.pump.boxes.clear();
    if (phase != "who paid") vfs.Arm(1, isam::testing::Fault::kDiskFull);
    f.Button2->click();
    QVERIFY2(vfs.fired(), qPrintable(QString::number(presses) + " " + p.pump.Texts().join("|")));
    QVERIFY(!p.pump.gave_up);
    QStringList texts = p.pump.Texts();
    QVERIFY2(!texts.isEmpty() && texts[0].contains("The disk is full"),
             qPrintable(texts.join("|")));
    QCOMPARE(p.pump.boxes[0].icon, QMessageBox::Critical);
    QVERIFY(f.isVisible());
    QVERIFY(!f.Running());
    vfs.Arm(1 << 30, isam::testing::Fault::kNone);
    QCOMPARE(app::testing::PracticeFaults(p.PracticePath()), std::vector<std::string>{});
  }
};

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
