#include "app/window/who_paid_window.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QShortcut>

#include "app/window/window_style.h"

namespace app {

TWhoPaid::TWhoPaid(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Correct Who Paid Fields");
  ApplyWindowFont(this);
  SetFixedClientSize(this, 536, 305);
  logic.SetWindow(this);

  DBGrid2 = new QTableView(this);
  DBGrid2->setGeometry(8, 8, 513, 120);
  DBGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
  model_ = std::make_unique<DataSetModel>(&logic.DataSourceMWtrnWhoPaid, true);
  DBGrid2->setModel(model_.get());
  DBGrid2->setTabKeyNavigation(false);  // Tab goes on to the buttons
  // The one row is read again at every correction; its columns keep as wide as their texts.
  connect(model_.get(), &QAbstractItemModel::modelReset, DBGrid2,
          &QTableView::resizeColumnsToContents);

  const int positions[5][2] = {{8, 136}, {8, 168}, {8, 200}, {96, 136}, {96, 168}};
  for (int i = 0; i < 5; ++i) {
    PayerButtons[i] = new QPushButton(conversion::kPayerCaptions[i], this);
    PayerButtons[i]->setGeometry(positions[i][0], positions[i][1], 75, 25);
    PayerButtons[i]->setEnabled(false);
    auto button = static_cast<conversion::PayerButton>(i);
    connect(PayerButtons[i], &QPushButton::clicked, [this, button] {
      Handle([this, button] { logic.PayerButtonClick(button); });
      KeepFocusForNextPress(button);
    });
  }
  RadioGroup1 = new QGroupBox("Apply Changes", this);
  RadioGroup1->setGeometry(200, 136, 321, 57);
  RadioAll = new QRadioButton(conversion::kApplyToAllCaption, RadioGroup1);
  RadioAll->move(8, 16);
  RadioAll->adjustSize();
  RadioThis = new QRadioButton(conversion::kApplyToThisCaption, RadioGroup1);
  RadioThis->move(8, 34);
  RadioThis->adjustSize();
  RadioThis->setChecked(logic.Choice == conversion::kApplyToThis);
  connect(RadioAll, &QRadioButton::toggled, [this](bool on) {
    if (on) logic.Choice = conversion::kApplyToAll;
  });
  connect(RadioThis, &QRadioButton::toggled, [this](bool on) {
    if (on) logic.Choice = conversion::kApplyToThis;
  });

  Button1 = new QPushButton("Close", this);
  Button1->setGeometry(448, 200, 75, 25);
  connect(Button1, &QPushButton::clicked, [this] { Handle([this] { logic.Button1Click(); }); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, Button1, &QPushButton::click);

  GroupBox1 = new QGroupBox("Transaction Information", this);
  GroupBox1->setGeometry(8, 240, 513, 57);
  DBText1 = new QLabel(GroupBox1);
  DBText1->move(16, 28);
  DBText2 = new QLabel(GroupBox1);
  DBText2->move(104, 28);
  DBText3 = new QLabel(GroupBox1);
  DBText3->setGeometry(384, 24, 65, 17);
  NoDefaultButtons(this);
  CentreOnScreen(this);
}

void TWhoPaid::KeepFocusForNextPress(conversion::PayerButton pressed) {
  // A press disables every button while it writes, which moves the focus on to the radio group.
  // It goes back to the button pressed, else to the first payer button the next transaction
  // offers, else to Close.
  if (!isVisible()) return;
  QPushButton* target = PayerButtons[static_cast<size_t>(pressed)];
  for (size_t i = 0; !target->isEnabled() && i < PayerButtons.size(); ++i) {
    target = PayerButtons[i];
  }
  if (!target->isEnabled()) target = Button1;
  if (target->isEnabled()) target->setFocus(Qt::OtherFocusReason);
}

TWhoPaid::~TWhoPaid() {
  logic.SetWindow(nullptr);
  model_.reset();
}

template <typename F>
void TWhoPaid::Handle(F&& handler) {
  RunHandler(handler, [this](const std::string& text) {
    QMessageBox::critical(this, ApplicationTitle(), QString::fromLatin1(text.c_str()));
  });
}

void TWhoPaid::ShowModal() {
  closing_ = false;
  exec();
}

void TWhoPaid::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Handle([this] { logic.FormShow(); });
}

void TWhoPaid::reject() {
  // Every way of closing (Close, Esc, the title bar, the program) ends here: FormClose runs once.
  if (!closing_) {
    closing_ = true;
    Handle([this] { logic.FormClose(); });
  }
  QDialog::reject();
}

void TWhoPaid::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TWhoPaid::ShowCouldNotUpdate() {
  QMessageBox::critical(this, "Error", "Could Not Update Record.");
}

void TWhoPaid::ButtonsChanged() {
  for (int i = 0; i < 5; ++i) {
    PayerButtons[i]->setEnabled(logic.PayerEnabled(static_cast<conversion::PayerButton>(i)));
  }
  Button1->setEnabled(logic.CloseEnabled());
  auto text = [this](const char* field) {
    data::TField* f = logic.MWtrnWhoPaid.Active() ? logic.MWtrnWhoPaid.FindField(field) : nullptr;
    return QString::fromLatin1(f ? f->AsString().c_str() : "");
  };
  DBText1->setText(text("Procedure Code"));
  DBText1->adjustSize();
  DBText2->setText(text("Description"));
  DBText2->adjustSize();
  DBText3->setText(text("Amount"));
}

}  // namespace app
