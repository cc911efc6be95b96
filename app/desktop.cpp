#include "app/desktop.h"

#include <QApplication>

#include "app/choose_pract.h"
#include "app/main_form.h"
#include "app/root_data_path.h"
#include "app/who_paid_window.h"
#include "app/window_style.h"

namespace app {

int RunDesktop(int& argc, char** argv, const std::string& root) {
  QApplication application(argc, argv);
  SetUpApplication();
  SetRootOverride(root);
  // The main window is created first: its settings fix the date format for everything after.
  TMainForm main_form;
  // The chooser belongs to the main window, which centres it.
  auto* chooser = new TChoosePract(&main_form);
  main_form.SetChooser(chooser);
  main_form.SetWhoPaid(new TWhoPaid(&main_form));
  // Showing the main window runs its start-up, the chooser included. Left without a practice,
  // the program has ended before its event loop would start, so the loop is not entered.
  main_form.show();
  if (main_form.Ending()) return 0;
  return QApplication::exec();
}

}  // namespace app
