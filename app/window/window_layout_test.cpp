// The windows' fixed layouts on the fonts the set-up script installs: every caption shows whole
// in the place it has, inside its group and clear of its neighbours; the chooser's columns are as
// wide as their texts; a field's caption shares its field's centre line; the bars' percentage can
// be read over the filled and the empty part alike.
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/practice/demo_practice.h"
#include "app/practice/practice_list.h"
#include "app/window/choose_pract.h"
#include "app/window/main_form.h"
#include "app/window/root_data_path.h"
#include "app/window/who_paid_window.h"
#include "app/window/window_style.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

// The caption a control shows, or nothing for controls without one.
QString Caption(const QWidget* widget) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* box = qobject_cast<const QGroupBox*>(widget)) return box->title();
  return {};
}

// The width a control needs to show its caption whole.
int NeededWidth(const QWidget* widget) {
  if (auto* box = qobject_cast<const QGroupBox*>(widget)) {
    // The caption sits on the frame line, indented by 8 pixels on both sides.
    return box->fontMetrics().size(Qt::TextShowMnemonic, box->title()).width() + 16;
  }
  if (auto* button = qobject_cast<const QPushButton*>(widget)) {
    // A push button's size hint has a floor of its own; its caption needs a margin each side.
    return button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width() + 12;
  }
  return widget->sizeHint().width();
}

// Every captioned control of the window that the user can see: the caption fits its width and
// height, the control lies inside its parent, and it overlaps no captioned neighbour.
void ExpectCaptionsFit(const QWidget* window) {
  std::vector<const QWidget*> captioned;
  for (const QWidget* widget : window->findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(window) || Caption(widget).isEmpty()) continue;
    // Controls placed outside their parent on purpose (a button off the client area).
    const QRect area = widget->parentWidget()->rect();
    if (!area.contains(widget->geometry().topLeft())) continue;
    captioned.push_back(widget);
  }
  ASSERT_FALSE(captioned.empty());
  for (const QWidget* widget : captioned) {
    SCOPED_TRACE(Caption(widget).toStdString());
    EXPECT_GE(widget->width(), NeededWidth(widget));
    EXPECT_GE(widget->height(), widget->fontMetrics().height());
    EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry()))
        << "reaches out of its group";
    for (const QWidget* other : captioned) {
      if (other == widget || other->parentWidget() != widget->parentWidget()) continue;
      EXPECT_FALSE(widget->geometry().intersects(other->geometry()))
          << "runs into \"" << Caption(other).toStdString() << "\"";
    }
  }
}

class WindowLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A long folder name, as practices often have.
    root_ = folder_.path() + "/practices of the clinic on the corner of Main Street";
    MakeDemoRoot(root_, DemoOptions{2, 40, 3});
    SetRootOverride(root_);
  }

  isam::testing::TempFolder folder_;
  std::string root_;
};

TEST_F(WindowLayoutTest, EveryCaptionOfTheMainWindowFitsWithThePracticeShown) {
  TMainForm form;
  std::string path = FormatDataPath(root_ + "/Practice1");
  form.PreparePractice("Demo Practice 1", path);
  form.SetStatus("Adjusting Payment Amounts");
  form.SetTypesChanged(1234567);
  form.SetTitle("Rivenoak For Medisoft Windows");
  ExpectCaptionsFit(&form);

  // "From" and "To" share their fields' centre lines.
  for (auto [caption, field] :
       {std::pair{form.Label15, form.DateFrom}, {form.Label16, form.DateTo}}) {
    EXPECT_EQ(caption->geometry().center().y(), field->geometry().center().y());
    EXPECT_TRUE(caption->alignment() & Qt::AlignVCenter);
  }
}

TEST_F(WindowLayoutTest, EveryCaptionOfTheChooserAndTheWhoPaidDialogFits) {
  TMainForm form;
  auto* chooser = new TChoosePract(&form);
  chooser->FormShow();
  ExpectCaptionsFit(chooser);
  // Each column is as wide as its longest text ("Data Path" holds the long folder names).
  QAbstractItemModel* model = chooser->DBGrid1->model();
  ASSERT_EQ(model->rowCount(), 2);
  for (int column = 0; column < model->columnCount(); ++column) {
    for (int row = 0; row < model->rowCount(); ++row) {
      QString text = model->index(row, column).data().toString();
      EXPECT_GE(chooser->DBGrid1->columnWidth(column),
                chooser->DBGrid1->fontMetrics().horizontalAdvance(text))
          << text.toStdString();
    }
  }

  auto* who_paid = new TWhoPaid(&form);
  for (QPushButton* button : who_paid->PayerButtons) button->setEnabled(true);
  ExpectCaptionsFit(who_paid);
}

// The share of the bar's middle (where the percentage is written) in colours far from the
// colour under them: the text's pixels, if it can be read there.
double ContrastingShare(const QImage& image, QRect middle, QColor under) {
  int contrasting = 0;
  for (int y = middle.top(); y <= middle.bottom(); ++y) {
    for (int x = middle.left(); x <= middle.right(); ++x) {
      QColor c = image.pixelColor(x, y);
      int distance = std::abs(c.red() - under.red()) + std::abs(c.green() - under.green()) +
                     std::abs(c.blue() - under.blue());
      if (distance > 300) ++contrasting;
    }
  }
  return static_cast<double>(contrasting) / (middle.width() * middle.height());
}

TEST(GaugeBarTest, ThePercentageCanBeReadOverTheFilledAndTheEmptyPart) {
  GaugeBar bar;
  bar.setFont(WindowFont());
  bar.resize(763, 24);
  QRect middle(763 / 2 - 15, 6, 30, 12);
  bar.setValue(100);
  EXPECT_GT(ContrastingShare(bar.grab().toImage(), middle, Qt::blue), 0.05) << "over blue";
  bar.setValue(0);
  EXPECT_GT(ContrastingShare(bar.grab().toImage(), middle, bar.palette().color(QPalette::Button)),
            0.05)
      << "over the button face";
}

}  // namespace
}  // namespace app

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  app::SetUpApplication();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
