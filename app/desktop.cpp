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
  // The name only: a display name would be added to every window title.
  QApplication::setApplicationName(ApplicationTitle());
  SetRootOverride(root);
  // The main window is created first: its settings fix the date format for everything after.
  TMainForm main_form;
  // The chooser belongs to the main window, which centres it.
  auto* chooser = new TChoosePract(&main_form);
  main_form.SetChooser(chooser);
  main_form.SetWhoPaid(new TWhoPaid(&main_form));
  main_form.show();
  return QApplication::exec();
}

}  // namespace app
