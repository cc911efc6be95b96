// TMainForm: the main window. It shows the chosen practice, the options and the date range,
// runs a conversion with the options its boxes and date fields hold when Start is pressed, and
// plays the run's view (progress bars, status, message boxes).
#ifndef RIVENOAK_APP_WINDOW_MAIN_FORM_H_
#define RIVENOAK_APP_WINDOW_MAIN_FORM_H_

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QWidget>
#include <memory>
#include <string>

#include "app/window/choose_pract.h"
#include "app/window/dataset_model.h"
#include "app/window/qt_gauge.h"
#include "app/window/who_paid_window.h"
#include "conversion/practice_datasets.h"
#include "conversion/run.h"
#include "conversion/run_view.h"

namespace app {

// The empty text of a masked date field.
inline constexpr const char* kEmptyDateText = "  /  /    ";

class TMainForm : public QWidget, public data::TComponent, public conversion::RunView {
 public:
  explicit TMainForm(QWidget* parent = nullptr);
  // The chooser is made after the main window and shown by its show handler.
  void SetChooser(TChoosePract* chooser) { chooser_ = chooser; }
  // The who-paid dialog, made after the chooser; the run's phases are wired to it here.
  void SetWhoPaid(TWhoPaid* who_paid);
  ~TMainForm() override;

  // The show handler, once: the chooser, then the chosen practice prepared. Showing the window
  // runs it if it has not run.
  void StartUp();
  // Steps after the chooser closed with a practice: connect, fill the labels, set the conversion
  // date and the default range, open every table.
  void PreparePractice(const std::string& practice_name, const std::string& data_path);

  // ---- handlers ----
  void FormShow();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void CheckBox3Click();
  void CheckBox4Click();
  void RadioGroup1Click(int item);

  // The phases the run calls, as they come.
  conversion::RunPhases phases;

  // ---- state ----
  std::string DataPath;
  std::string PracticeName;
  bool Running() const { return running_; }
  bool Ending() const { return ending_; }

  // ---- RunView ----
  conversion::Gauge& Gauge1() override { return *gauge1_; }
  conversion::Gauge& Gauge2() override { return *gauge2_; }
  void SetStatus(const std::string& text) override;
  void SetTypesChanged(int count) override;
  void ProcessMessages() override;
  bool StopFlag() const override { return stop_; }
  void SetStopFlag(bool stop) override { stop_ = stop; }
  std::string Title() const override { return windowTitle().toStdString(); }
  void SetTitle(const std::string& title) override {
    setWindowTitle(QString::fromStdString(title));
  }
  void ShowPlain(const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ShowWhoPaid(conversion::WhoPaidDialog& dialog) override;

  // Start, Exit and the date fields as a run begins and ends.
  void BeginRun() override;
  void EndRun() override;
  // What the boxes, and the date fields when asked, say now: the run reads its options as it
  // reaches them, so a box changed during a run counts from its next phase.
  void ReadOptions(conversion::RunOptions& options, conversion::OptionsRead moment) override;

  conversion::PracticeDatasets practice;

  QGroupBox *GroupBox1, *GroupBox2, *RadioGroup1;
  QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10,
      *Label11, *Label12, *Label13, *Label14, *Label15, *Label16, *lblVersion;
  QCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4, *CheckBox5, *CheckBox6;
  QRadioButton *RadioItem1, *RadioItem2;
  QLineEdit *DateFrom, *DateTo;
  QPushButton *Button1, *Button2, *Button3;
  QFrame* Panel1;
  GaugeBar *GaugeBar1, *GaugeBar2;
  QTableView* DBGrid3;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWindow();
  // Runs a handler; an exception shows its message in an error box titled with the
  // application's title, and the window goes on.
  template <typename F>
  void Handle(F&& handler);
  // A message box, unless the program is ending (then it closes at once).
  int Box(int icon, const QString& title, const std::string& text, bool yes_no);
  void EndProgram();

  TChoosePract* chooser_ = nullptr;
  TWhoPaid* who_paid_ = nullptr;
  std::unique_ptr<QtGauge> gauge1_, gauge2_;
  std::unique_ptr<DataSetModel> grid3_model_;
  // The options of the current run, which its phases read; "Strict Transaction Type Rules" stays
  // open to change during a run and is followed here.
  conversion::RunOptions run_options_;
  bool shown_ = false;
  bool stop_ = false;
  bool running_ = false;
  bool ending_ = false;
  int types_changed_ = 0;
};

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_MAIN_FORM_H_
