// The practice chooser (see the header): a grid over the root's practice list, which it opens
// and reads through practice_list.h as `run --all` does.
#include "app/window/choose_pract.h"

#include <QHeaderView>
#include <QMessageBox>

#include "app/practice/practice_list.h"
#include "app/window/root_data_path.h"
#include "app/window/window_style.h"

namespace app {

TChoosePract::TChoosePract(QWidget* parent)
    : QDialog(parent),
      data::TComponent(nullptr, "ChoosePract"),
      IsamConnection1(this, "IsamConnection1"),
      MWdblist(this, "MWdblist"),
      DataSourceMWdblist(this, "DataSourceMWdblist") {
  setWindowTitle("Choose Practice");
  ApplyWindowFont(this);
  SetFixedClientSize(this, 416, 271);
  IsamConnection1.IsamServerTypes = data::stISAM_REMOTE | data::stISAM_LOCAL;
  MWdblist.SetDatabaseName("IsamConnection1");
  MWdblist.SetTableName(kPracticeListTable);
  DataSourceMWdblist.SetDataSet(&MWdblist);

  DBGrid1 = new QTableView(this);
  DBGrid1->setGeometry(8, 8, 401, 217);
  DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  DBGrid1->verticalHeader()->setDefaultSectionSize(18);
  DBGrid1->setTabKeyNavigation(false);  // Tab goes on to the buttons
  // The columns are as wide as their texts; the last one fills what is left of the grid.
  DBGrid1->horizontalHeader()->setStretchLastSection(true);
  model_ = std::make_unique<DataSetModel>(&DataSourceMWdblist);
  DBGrid1->setModel(model_.get());
  connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged,
          [this](const QModelIndex& current) { model_->MoveTo(current.row()); });
  connect(DBGrid1, &QTableView::doubleClicked, [this] { Handle([this] { DBGrid1DblClick(); }); });

  Button1 = new QPushButton("&Open", this);
  Button1->setGeometry(312, 240, 75, 25);
  connect(Button1, &QPushButton::clicked, [this] { Handle([this] { Button1Click(); }); });
  Button2 = new QPushButton("&Exit", this);
  Button2->setGeometry(232, 240, 75, 25);
  connect(Button2, &QPushButton::clicked, [this] { Handle([this] { Button2Click(); }); });
  NoDefaultButtons(this);
  CentreOnScreen(this);
}

TChoosePract::~TChoosePract() {
  model_.reset();
  DataSourceMWdblist.SetDataSet(nullptr);
}

template <typename F>
void TChoosePract::Handle(F&& handler) {
  RunHandler(handler, [this](const std::string& text) {
    QMessageBox::critical(this, ApplicationTitle(), QString::fromLatin1(text.c_str()));
  });
}

void TChoosePract::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Handle([this] { FormShow(); });
}

void TChoosePract::FormShow() {
  root_ = GetRootDataPath();
  OpenPracticeList(IsamConnection1, MWdblist, root_);
  DBGrid1->resizeColumnsToContents();
  if (model_->rowCount() > 0) DBGrid1->selectRow(0);
}

void TChoosePract::SetChosen() {
  PracticeEntry chosen = ListedPractice(MWdblist, root_);
  chosen_path_ = FormatDataPath(chosen.data_path);
  chosen_name_ = chosen.name;
  IsamConnection1.SetIsConnected(false);
  accept();
}

void TChoosePract::Button2Click() {
  chosen_path_.clear();
  reject();
}

void TChoosePract::ReturnChosenPract(std::string& practice_name, std::string& data_path) const {
  practice_name = chosen_name_;
  data_path = chosen_path_;
}

}  // namespace app
