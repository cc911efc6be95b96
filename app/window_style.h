// What every window shares: the application's title, the 8-point sans-serif font, and fixed
// client sizes.
#ifndef RIVENOAK_APP_WINDOW_STYLE_H_
#define RIVENOAK_APP_WINDOW_STYLE_H_

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

inline void ApplyWindowFont(QWidget* window) {
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  window->setFont(font);
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

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_STYLE_H_
