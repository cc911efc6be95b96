// TChoosePract: the practice chooser. It lists the practices of MWDBList.ADT in the root data
// folder; Open (or a double click) chooses the current row, Exit leaves without a practice. The
// chosen data path is the list's as practice_list.h reads it (a relative one against the root),
// the same folder `rivenoak run --all` runs for that row.
#ifndef RIVENOAK_APP_WINDOW_CHOOSE_PRACT_H_
#define RIVENOAK_APP_WINDOW_CHOOSE_PRACT_H_

#include <QDialog>
#include <QPushButton>
#include <QTableView>
#include <memory>
#include <string>

#include "app/window/dataset_model.h"
#include "data/isam_connection.h"
#include "data/isam_dataset.h"

namespace app {

class TChoosePract : public QDialog, public data::TComponent {
 public:
  explicit TChoosePract(QWidget* parent = nullptr);
  ~TChoosePract() override;

  // The chosen practice name and data path, in that order.
  void ReturnChosenPract(std::string& practice_name, std::string& data_path) const;

  void FormShow();
  void SetChosen();
  void Button1Click() { SetChosen(); }
  void DBGrid1DblClick() { SetChosen(); }
  void Button2Click();

  data::TIsamConnection IsamConnection1;
  data::TIsamTable MWdblist;
  data::TDataSource DataSourceMWdblist;
  QTableView* DBGrid1;
  QPushButton* Button1;
  QPushButton* Button2;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Runs a handler; an exception shows its message in an error box and the dialog stays.
  template <typename F>
  void Handle(F&& handler);

  std::unique_ptr<DataSetModel> model_;
  std::string root_;  // the root folder the list was last opened in
  std::string chosen_path_;
  std::string chosen_name_;
};

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_CHOOSE_PRACT_H_
