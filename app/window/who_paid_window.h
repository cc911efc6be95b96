// TWhoPaid: the "Correct Who Paid Fields" dialog. The logic is the engine's WhoPaidDialog; this
// window lays out its grid, buttons, radio group and data texts and passes presses on.
#ifndef RIVENOAK_APP_WINDOW_WHO_PAID_WINDOW_H_
#define RIVENOAK_APP_WINDOW_WHO_PAID_WINDOW_H_

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <array>
#include <memory>

#include "app/window/dataset_model.h"
#include "conversion/who_paid.h"

namespace app {

class TWhoPaid : public QDialog, public conversion::WhoPaidWindow {
 public:
  explicit TWhoPaid(QWidget* parent = nullptr);
  ~TWhoPaid() override;

  conversion::WhoPaidDialog logic;
  // Shows the dialog modally, as the run asks.
  void ShowModal();

  // ---- WhoPaidWindow ----
  void ProcessMessages() override;
  void CloseDialog() override { reject(); }
  void ShowCouldNotUpdate() override;
  void ButtonsChanged() override;

  QTableView* DBGrid2;
  QPushButton* Button1;
  std::array<QPushButton*, 5> PayerButtons;  // Button2 to Button6
  QGroupBox* RadioGroup1;
  QRadioButton *RadioAll, *RadioThis;
  QGroupBox* GroupBox1;
  QLabel *DBText1, *DBText2, *DBText3;

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  template <typename F>
  void Handle(F&& handler);
  // After a payer press: the focus where another press can follow.
  void KeepFocusForNextPress(conversion::PayerButton pressed);
  std::unique_ptr<DataSetModel> model_;
  bool closing_ = false;
};

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_WHO_PAID_WINDOW_H_
