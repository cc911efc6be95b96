#include "app/window/main_form.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>
#include <QShortcut>

#include "app/opening/practice_opening.h"
#include "app/window/file_version.h"
#include "app/window/window_style.h"
#include "data/date_time.h"

namespace app {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->move(x, y);
  label->adjustSize();
  return label;
}

// Check boxes stand 16 pixels apart: each is as high as that and as wide as its caption.
QCheckBox* MakeCheckBox(QWidget* parent, const char* text, int x, int y, bool checked) {
  auto* box = new QCheckBox(QString::fromLatin1(text), parent);
  box->setGeometry(x, y, box->sizeHint().width(), 16);
  box->setChecked(checked);
  return box;
}

// A caption beside a field: as high as the field, so that both texts share one base line.
QLabel* MakeFieldLabel(QWidget* parent, const char* text, int x, int y, int field_height) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setGeometry(x, y, label->sizeHint().width(), field_height);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

void SetTextColour(QWidget* widget, Qt::GlobalColor colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
}

void SetPixelFont(QLabel* label, int pixels) {
  label->setFont(WindowFont(pixels));
  label->adjustSize();
}

// A label whose text changes: it grows to its text.
void SetLabelText(QLabel* label, const std::string& text) {
  label->setText(QString::fromLatin1(text.c_str()));
  label->adjustSize();
}

constexpr int kDateFieldHeight = 21;

QLineEdit* MakeDateField(QWidget* parent, int x, int y) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(x, y, 121, kDateFieldHeight);
  // Each "#" takes a digit, a blank, "+" or "-"; the two "/" are fixed.
  edit->setInputMask("##/##/####");
  edit->setMaxLength(10);
  edit->setEnabled(false);
  return edit;
}

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent), data::TComponent(nullptr, "MainForm"), practice(this) {
  BuildWindow();
}

TMainForm::~TMainForm() {
  grid3_model_.reset();
}

void TMainForm::BuildWindow() {
  setWindowTitle("MainForm");
  ApplyWindowFont(this);
  SetFixedClientSize(this, 763, 376);

  GroupBox1 = new QGroupBox("Dataset Information", this);
  GroupBox1->setGeometry(0, 0, 763, 129);
  Label1 = MakeLabel(GroupBox1, "Practice Name", 8, 16);
  Label4 = MakeLabel(GroupBox1, "Label4", 112, 16);
  Label2 = MakeLabel(GroupBox1, "Data Path", 8, 32);
  Label5 = MakeLabel(GroupBox1, "Label5", 112, 32);
  Label3 = MakeLabel(GroupBox1, "Connection", 8, 48);
  Label6 = MakeLabel(GroupBox1, "Label6", 112, 48);
  Label8 = MakeLabel(GroupBox1, "Conversion Date", 8, 64);
  Label7 = MakeLabel(GroupBox1, "Label7", 112, 64);
  Label9 = MakeLabel(GroupBox1, "Transaction Types Changed", 8, 88);
  Label10 = MakeLabel(GroupBox1, "0", 152, 88);
  Label11 = MakeLabel(GroupBox1, "Documents", 8, 104);
  Label12 = MakeLabel(GroupBox1, "0", 152, 104);
  lblVersion = MakeLabel(GroupBox1, "lblVersion", 560, 16);
  SetPixelFont(lblVersion, 16);
  SetTextColour(lblVersion, Qt::red);

  GroupBox2 = new QGroupBox("Options", this);
  GroupBox2->setGeometry(0, 129, 763, 160);
  CheckBox1 = MakeCheckBox(GroupBox2, "Match Transaction Types with Procedure Types", 8, 16, true);
  CheckBox3 = MakeCheckBox(GroupBox2, "Apply Payments to Charges", 8, 32, true);
  RadioGroup1 = new QGroupBox("Payment Application Options", GroupBox2);
  RadioGroup1->setGeometry(8, 56, 249, 57);
  RadioItem1 = new QRadioButton("OverApply Payments and Adjustments", RadioGroup1);
  RadioItem1->setGeometry(8, 16, RadioItem1->sizeHint().width(), 18);
  RadioItem1->setChecked(true);
  RadioItem2 = new QRadioButton("Stop Applying when Charge remainder is zero", RadioGroup1);
  RadioItem2->setGeometry(8, 34, RadioItem2->sizeHint().width(), 18);
  RadioGroup1->setEnabled(false);  // nothing enables it
  CheckBox5 = MakeCheckBox(GroupBox2, "Adjust Payment Amounts", 8, 120, true);
  CheckBox6 = MakeCheckBox(GroupBox2, "Strict Transaction Type Rules", 8, 136, true);
  CheckBox2 =
      MakeCheckBox(GroupBox2, "Over Apply Payments on Documents that are overpaid", 464, 136, true);
  CheckBox2->setVisible(false);
  Label13 = MakeLabel(GroupBox2, "Status", 352, 16);
  Label14 = MakeLabel(GroupBox2, "__", 360, 32);
  for (QLabel* label : {Label13, Label14}) SetPixelFont(label, 13);
  SetTextColour(Label14, Qt::blue);
  CheckBox4 = MakeCheckBox(GroupBox2, "Specify Date Range", 352, 56, false);
  Label15 = MakeFieldLabel(GroupBox2, "From", 352, 80, kDateFieldHeight);
  DateFrom = MakeDateField(GroupBox2, 384, 80);
  Label16 = MakeFieldLabel(GroupBox2, "To", 360, 104, kDateFieldHeight);
  DateTo = MakeDateField(GroupBox2, 384, 104);

  Button1 = new QPushButton("&Exit", this);
  Button1->setGeometry(592, 296, 75, 25);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, Button1, &QPushButton::click);
  Button2 = new QPushButton("Start", this);
  Button2->setGeometry(672, 296, 75, 25);
  // Outside the client area: it keeps its place in the tab order.
  Button3 = new QPushButton("Button3", this);
  Button3->setGeometry(848, 408, 75, 25);

  Panel1 = new QFrame(this);
  Panel1->setGeometry(0, 328, 763, 48);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  GaugeBar1 = new GaugeBar(Panel1);
  GaugeBar1->setGeometry(0, 0, 763, 24);
  GaugeBar2 = new GaugeBar(Panel1);
  GaugeBar2->setGeometry(0, 24, 763, 23);
  gauge1_ = std::make_unique<QtGauge>(GaugeBar1);
  gauge2_ = std::make_unique<QtGauge>(GaugeBar2);

  DBGrid3 = new QTableView(this);
  DBGrid3->setGeometry(8, 528, 320, 120);
  DBGrid3->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBGrid3->setTabKeyNavigation(false);  // Tab goes on to the next control
  grid3_model_ = std::make_unique<DataSetModel>(&practice.DataSourceTrnChg);
  DBGrid3->setModel(grid3_model_.get());

  connect(Button1, &QPushButton::clicked, [this] { Handle([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, [this] { Handle([this] { Button2Click(); }); });
  connect(Button3, &QPushButton::clicked, [this] { Handle([this] { Button3Click(); }); });
  connect(CheckBox3, &QCheckBox::clicked, [this] { Handle([this] { CheckBox3Click(); }); });
  connect(CheckBox4, &QCheckBox::clicked, [this] { Handle([this] { CheckBox4Click(); }); });
  connect(CheckBox6, &QCheckBox::toggled,
          [this](bool checked) { run_options_.strict_type_rules = checked; });
  connect(RadioItem1, &QRadioButton::clicked, [this] { Handle([this] { RadioGroup1Click(0); }); });
  connect(RadioItem2, &QRadioButton::clicked, [this] { Handle([this] { RadioGroup1Click(1); }); });
  NoDefaultButtons(this);
  CentreOnScreen(this);
}

template <typename F>
void TMainForm::Handle(F&& handler) {
  RunHandler(handler, [this](const std::string& text) {
    Box(QMessageBox::Critical, ApplicationTitle(), text, false);
  });
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Runs before the window reaches the screen: while the chooser is open it is the only window.
  StartUp();
}

void TMainForm::StartUp() {
  if (shown_) return;
  shown_ = true;
  Handle([this] { FormShow(); });
}

void TMainForm::FormShow() {
  std::string file_version, product_version;
  GetVersionInfo(QCoreApplication::applicationFilePath().toStdString(), file_version,
                 product_version);
  SetLabelText(lblVersion, "Version: " + file_version);
  chooser_->exec();
  chooser_->ReturnChosenPract(PracticeName, DataPath);
  setWindowTitle("Rivenoak For Medisoft Windows");
  ProcessMessages();
  if (DataPath.empty()) {
    // When the window is being shown it never reaches the screen.
    setAttribute(Qt::WA_DontShowOnScreen);
    EndProgram();
    return;
  }
  PreparePractice(PracticeName, DataPath);
}

void TMainForm::PreparePractice(const std::string& practice_name, const std::string& data_path) {
  ConnectPractice(practice, data_path, *this);
  SetLabelText(Label6, practice.IsamConnection2.ConnectionKindText());
  SetLabelText(Label4, practice_name);
  SetLabelText(Label5, data_path);
  if (std::optional<data::TDateTime> day = StartRangeAtConversion(practice, data_path, *this)) {
    std::string text = data::DateToStr(*day);
    SetLabelText(Label7, text);
    DateFrom->setText(QString::fromStdString(text));
    DateTo->setText(QString::fromStdString(text));
  } else {
    CheckBox4->setChecked(true);
    CheckBox4->setEnabled(false);
    DateFrom->setEnabled(true);
    DateTo->setEnabled(true);
    SetLabelText(Label7, "N/A");
    ProcessMessages();
  }
  practice.OpenTables();
}

void TMainForm::EndProgram() {
  ending_ = true;
  if (!running_) QCoreApplication::exit(0);
}

void TMainForm::Button1Click() {
  stop_ = true;
  EndProgram();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!running_) {
    event->accept();
    EndProgram();
    return;
  }
  // During a run the window stays until the run ends; boxes that open meanwhile close at once.
  ending_ = true;
  event->ignore();
}

void TMainForm::Button2Click() {
  running_ = true;
  try {
    conversion::RunConversion(practice, DataPath, run_options_, *this, phases, CheckPracticeData);
  } catch (...) {
    // A run that an error ended leaves the window ready for the next, not waiting on Cancel.
    EndRun();
    running_ = false;
    if (ending_) QCoreApplication::exit(0);
    throw;
  }
  running_ = false;
  if (ending_) QCoreApplication::exit(0);
}

void TMainForm::ReadOptions(conversion::RunOptions& options, conversion::OptionsRead moment) {
  options.match_transaction_types = CheckBox1->isChecked();
  options.apply_payments = CheckBox3->isChecked();
  options.over_apply = CheckBox2->isChecked();
  options.adjust_payment_amounts = CheckBox5->isChecked();
  options.strict_type_rules = CheckBox6->isChecked();
  if (moment == conversion::OptionsRead::kChoosingPhase) return;
  std::string from = DateFrom->displayText().toStdString();
  std::string to = DateTo->displayText().toStdString();
  // At the start an empty field leaves the range unset, and the run asks for both dates before
  // it reads either; later a field emptied meanwhile is read as a date like any other text.
  if (moment == conversion::OptionsRead::kRangeAtStart &&
      (from == kEmptyDateText || to == kEmptyDateText)) {
    options.from.reset();
    options.to.reset();
    return;
  }
  options.from = data::StrToDate(from);
  options.to = data::StrToDate(to);
}

void TMainForm::Button3Click() {
  practice.TrnPay.SetFiltered(true);
  for (data::TIsamTable* table : {&practice.TrnPay, &practice.PaxChg, &practice.TrnChg,
                                  &practice.PaxPay, &practice.TrnPay2}) {
    table->Open();
  }
  ShowPlain("Done");
}

void TMainForm::CheckBox3Click() {
  bool checked = CheckBox3->isChecked();
  CheckBox2->setChecked(checked);
  CheckBox2->setEnabled(checked);
  CheckBox5->setChecked(checked);
}

void TMainForm::CheckBox4Click() {
  bool checked = CheckBox4->isChecked();
  DateFrom->setEnabled(checked);
  DateTo->setEnabled(checked);
}

void TMainForm::RadioGroup1Click(int item) {
  bool first = item == 0;
  CheckBox5->setChecked(first);
  CheckBox5->setEnabled(first);
  CheckBox2->setChecked(first);
}

void TMainForm::SetStatus(const std::string& text) {
  SetLabelText(Label14, text);
}

void TMainForm::SetTypesChanged(int count) {
  types_changed_ = count;
  SetLabelText(Label10, std::to_string(count));
}

void TMainForm::ProcessMessages() {
  QCoreApplication::processEvents();
}

int TMainForm::Box(int icon, const QString& title, const std::string& text, bool yes_no) {
  if (ending_) return QMessageBox::No;  // the program is ending: the box closes at once
  QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, QString::fromLatin1(text.c_str()),
                  yes_no ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, this);
  return box.exec();
}

void TMainForm::ShowPlain(const std::string& text) {
  Box(QMessageBox::NoIcon, ApplicationTitle(), text, false);
}

void TMainForm::ShowInformation(const std::string& text) {
  Box(QMessageBox::Information, "Information", text, false);
}

void TMainForm::ShowError(const std::string& text) {
  Box(QMessageBox::Critical, "Error", text, false);
}

bool TMainForm::AskYesNo(const std::string& text) {
  return Box(QMessageBox::Critical, "Error", text, true) == QMessageBox::Yes;
}

void TMainForm::SetWhoPaid(TWhoPaid* who_paid) {
  who_paid_ = who_paid;
  phases = conversion::MakeRunPhases(practice, *this, who_paid_->logic, run_options_);
}

void TMainForm::ShowWhoPaid(conversion::WhoPaidDialog& dialog) {
  // While the program ends the dialog closes at once.
  if (ending_ || !who_paid_) {
    dialog.FormClose();
    return;
  }
  who_paid_->ShowModal();
}

void TMainForm::BeginRun() {
  Button1->setText("Cancel");
  Button2->setEnabled(false);
  DateFrom->setEnabled(false);
  DateTo->setEnabled(false);
}

void TMainForm::EndRun() {
  Button2->setEnabled(true);
  Button1->setText("Exit");
  DateFrom->setEnabled(true);
  DateTo->setEnabled(true);
}

}  // namespace app
