#include "app/window/desktop.h"

#include <QApplication>

#include "app/window/choose_pract.h"
#include "app/window/main_form.h"
#include "app/window/root_data_path.h"
#include "app/window/who_paid_window.h"
#include "app/window/window_style.h"

namespace app {

int RunDesktop(int& argc, char** argv, const std::string& root) {
  ChooseEventLoop();
  QApplication application(argc, argv);
  SetUpApplication();
  SetRootOverride(root);
  // The main window is created first: its settings fix the date format for everything after.
  TMainForm main_form;
  // The chooser belongs to the main window, which centres it.
  auto* chooser = new TChoosePract(&main_form);
  main_form.SetChooser(chooser);
  main_form.SetWhoPaid(new TWhoPaid(&main_form));
  // The main window's show handler runs before the window is shown, so that the chooser is the
  // only window on screen and is not opened from inside the main window's own showing. Left
  // without a practice, the program ends here: the main window is never shown and the event
  // loop never entered.
  main_form.StartUp();
  if (main_form.Ending()) return 0;
  main_form.show();
  return QApplication::exec();
}

}  // namespace app
