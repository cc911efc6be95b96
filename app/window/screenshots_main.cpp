// rivenoak-screenshots OUTDIR: renders the windows offscreen to PNG files, on a demo practice:
// the chooser, the main window ready, the who-paid dialog, and the main window after a run.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "app/practice/demo_practice.h"
#include "app/window/choose_pract.h"
#include "app/window/main_form.h"
#include "app/window/root_data_path.h"
#include "app/window/who_paid_window.h"
#include "app/window/window_style.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: rivenoak-screenshots OUTDIR\n";
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  app::SetUpApplication();
  QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(".")) {
    std::cerr << "cannot make " << argv[1] << "\n";
    return 1;
  }
  QTemporaryDir root;
  app::MakeDemoRoot(root.path().toStdString(), app::DemoOptions{2, 300, 1});
  app::SetRootOverride(root.path().toStdString());

  app::TMainForm main_form;
  auto* chooser = new app::TChoosePract(&main_form);
  main_form.SetChooser(chooser);
  auto* who_paid = new app::TWhoPaid(&main_form);
  main_form.SetWhoPaid(who_paid);
  auto save = [&](QWidget* window, const char* name) {
    window->grab().save(out.filePath(name));
    std::cout << out.filePath(name).toStdString() << "\n";
  };
  // While the chooser is open: picture it, then choose the first practice.
  QTimer::singleShot(200, [&] {
    save(chooser, "chooser.png");
    chooser->Button1->click();
  });
  // Once the main window is ready: picture it, run, and picture it again. The who-paid dialog is
  // pictured, then answered for all occurrences with the first payer offered until it closes;
  // message boxes are closed as they open (a question with Yes).
  QTimer::singleShot(600, [&] {
    save(&main_form, "main-ready.png");
    QTimer closer;
    bool who_paid_saved = false;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      QWidget* box = QApplication::activeModalWidget();
      if (!box) return;
      if (box == who_paid) {
        if (!who_paid_saved) save(who_paid, "who-paid.png");
        who_paid_saved = true;
        who_paid->RadioAll->setChecked(true);
        for (QPushButton* payer : who_paid->PayerButtons) {
          if (!payer->isEnabled()) continue;
          payer->click();
          return;
        }
        return;
      }
      if (auto* message = qobject_cast<QMessageBox*>(box)) {
        if (QAbstractButton* yes = message->button(QMessageBox::Yes)) {
          yes->click();
          return;
        }
      }
      box->close();
    });
    closer.start(20);
    main_form.Button2->click();
    closer.stop();
    // The bars show their last percentage once their repaint interval has passed.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2 * app::QtGauge::kRepaintIntervalMs) QApplication::processEvents();
    save(&main_form, "main-after-run.png");
    QApplication::quit();
  });
  main_form.show();
  return QApplication::exec();
}
