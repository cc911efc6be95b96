// What every window shares: the application's title, its style and font, fixed client sizes
// centred on the screen, and buttons that the Return key never presses on its own.
#ifndef RIVENOAK_APP_WINDOW_WINDOW_STYLE_H_
#define RIVENOAK_APP_WINDOW_WINDOW_STYLE_H_

#include <QFont>
#include <QString>
#include <QWidget>
#include <exception>
#include <string>

#include "data/errors.h"

namespace app {

inline QString ApplicationTitle() {
  return QStringLiteral("Rivenoak");
}

// Chooses Qt's own event loop over the GLib one. A run lets window messages run once per record,
// and with nothing waiting the plain loop does that in about a third of the time; nothing in the
// program needs GLib's loop. Called before the application object is made; a QT_NO_GLIB the user
// set is kept.
void ChooseEventLoop();

// The application's name and the look its windows are laid out for (group box captions on the
// frame line). Called once, after the application object is made.
void SetUpApplication();

// The windows' font: a semi-condensed sans-serif 10 pixels high, about the size the fixed
// layouts were made for and narrow enough that every caption fits the place it has.
QFont WindowFont();
// The window font at another pixel height (status and version labels).
QFont WindowFont(int pixel_size);

inline void ApplyWindowFont(QWidget* window) {
  window->setFont(WindowFont());
}

// Runs a window's handler; an exception gives its message to `show_error` (an error box titled
// with the application's title), and the window goes on.
template <typename F, typename ShowError>
void RunHandler(F&& handler, ShowError&& show_error) {
  try {
    handler();
  } catch (const data::Exception& e) {
    show_error(e.message());
  } catch (const std::exception& e) {
    show_error(std::string(e.what()));
  }
}

// A fixed single border: the client area cannot be resized.
inline void SetFixedClientSize(QWidget* window, int width, int height) {
  window->setFixedSize(width, height);
  window->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
}

// Places the window in the middle of the screen it opens on.
void CentreOnScreen(QWidget* window);

// No push button of the window is its default button: Return presses none of them, and a button
// reacts only to a press meant for it (a click, Space while it has the focus, its accelerator).
void NoDefaultButtons(QWidget* window);

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_WINDOW_STYLE_H_
