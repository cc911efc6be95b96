#include "app/window/window_style.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionGroupBox>

namespace app {
namespace {

constexpr int kWindowFontPixels = 10;
constexpr int kCaptionIndent = 8;

// The platform's look, except that a group box's caption sits on its frame's top line, indented
// from the left edge, and the line stops either side of the caption. The controls inside a group
// are placed from its top edge, below the caption.
class WindowLook : public QProxyStyle {
 public:
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                       const QWidget* widget) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || !box || (box->subControls & SC_GroupBoxCheckBox)) {
      return QProxyStyle::subControlRect(control, option, sub, widget);
    }
    const QRect& area = option->rect;
    int height = box->fontMetrics.height();
    switch (sub) {
      case SC_GroupBoxLabel: {
        if (box->text.isEmpty()) return {};
        int width = box->fontMetrics.size(Qt::TextShowMnemonic, box->text).width();
        return {area.left() + kCaptionIndent, area.top(), width + 4, height};
      }
      case SC_GroupBoxFrame:
        return area.adjusted(0, height / 2, 0, 0);
      case SC_GroupBoxContents:
        return area.adjusted(2, height + 1, -2, -2);
      default:
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
  }

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || !box || (box->subControls & SC_GroupBoxCheckBox)) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    QRect label = subControlRect(control, option, SC_GroupBoxLabel, widget);
    // An etched frame: a dark line with a light one inside it, broken where the caption is.
    QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget).adjusted(0, 0, -2, -2);
    painter->save();
    painter->setClipRegion(QRegion(option->rect).subtracted(label));
    painter->setPen(option->palette.color(QPalette::Mid));
    painter->drawRect(frame);
    painter->setPen(option->palette.color(QPalette::Light));
    painter->drawRect(frame.translated(1, 1));
    painter->restore();
    if (!label.isEmpty()) {
      drawItemText(painter, label, Qt::TextShowMnemonic | Qt::AlignCenter, box->palette,
                   box->state & State_Enabled, box->text, QPalette::WindowText);
    }
  }
};

}  // namespace

void ChooseEventLoop() {
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
}

void SetUpApplication() {
  // The name only: a display name would be added to every window title.
  QApplication::setApplicationName(ApplicationTitle());
  QApplication::setStyle(new WindowLook);  // the application owns it
}

QFont WindowFont(int pixel_size) {
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixel_size);
  font.setStretch(QFont::SemiCondensed);
  return font;
}

QFont WindowFont() {
  return WindowFont(kWindowFontPixels);
}

void CentreOnScreen(QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = screen->availableGeometry();
  window->move(area.x() + (area.width() - window->width()) / 2,
               area.y() + (area.height() - window->height()) / 2);
}

void NoDefaultButtons(QWidget* window) {
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
}

}  // namespace app
