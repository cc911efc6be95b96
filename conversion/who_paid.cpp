#include "conversion/who_paid.h"

#include "conversion/practice_datasets.h"

namespace conversion {

WhoPaidDialog::WhoPaidDialog()
    : data::TComponent(nullptr, "WhoPaid"),
      IsamConnection3(this, "IsamConnection3"),
      WhoPaidQuery(this, "WhoPaidQuery"),
      DataSourceWhoPaidQuery(this, "DataSourceWhoPaidQuery"),
      MWtrnWhoPaid(this, "MWtrnWhoPaid"),
      DataSourceMWtrnWhoPaid(this, "DataSourceMWtrnWhoPaid") {
  IsamConnection3.IsamServerTypes = data::stISAM_REMOTE | data::stISAM_LOCAL;
  WhoPaidQuery.SetDatabaseName("IsamConnection3");
  WhoPaidQuery.SetSQL(kWhoPaidQuerySql);
  DataSourceWhoPaidQuery.SetDataSet(&WhoPaidQuery);
  MWtrnWhoPaid.SetDatabaseName("IsamConnection3");
  MWtrnWhoPaid.SetTableName("MWTRN.adt");
  MWtrnWhoPaid.SetIndexName("IDXENTRYNUMBER");
  MWtrnWhoPaid.SetMasterSource(&DataSourceWhoPaidQuery);
  MWtrnWhoPaid.SetMasterFields("Entry Number");
  DataSourceMWtrnWhoPaid.SetDataSet(&MWtrnWhoPaid);
}

WhoPaidDialog::~WhoPaidDialog() {
  // A row whose write failed is dropped, not written again on the way out.
  try {
    MWtrnWhoPaid.Cancel();
  } catch (const data::Exception&) {
  }
  DataSourceMWtrnWhoPaid.SetDataSet(nullptr);
  MWtrnWhoPaid.SetMasterSource(nullptr);
}

bool WhoPaidDialog::GetNoWhoPaid(const std::string& path, RunView& view) {
  VerifyWhoPaid(path, view);
  return result_;
}

void WhoPaidDialog::VerifyWhoPaid(const std::string& path, RunView& view) {
  counts_ = &view.Counts();
  IsamConnection3.SetIsConnected(false);
  IsamConnection3.SetConnectPath(path);
  IsamConnection3.SetIsConnected(true);
  WhoPaidQuery.Open();
  result_ = WhoPaidQuery.IsEmpty();
  if (!result_) view.ShowWhoPaid(*this);
}

void WhoPaidDialog::FormShow() {
  close_enabled_ = false;
  if (window_) {
    window_->ButtonsChanged();
    window_->ProcessMessages();
  }
  WhoPaidQuery.Open();
  MWtrnWhoPaid.Open();
  close_enabled_ = true;
  if (window_) {
    window_->ButtonsChanged();
    window_->ProcessMessages();
  }
  if (!WhoPaidQuery.IsEmpty()) {
    result_ = false;
    MWtrnWhoPaid.Open();
    WhoPaidQuery.First();
  }
  SetAvailableButtons();
}

void WhoPaidDialog::SetPayerButtons(bool insurance, bool others) {
  payer_enabled_ = {insurance, insurance, insurance, others, others};
  if (window_) window_->ButtonsChanged();
}

void WhoPaidDialog::SetAvailableButtons() {
  bool insurance = MWtrnWhoPaid.FieldByName("Transaction Type").AsString() == "I";
  if (WhoPaidQuery.Eof())
    SetPayerButtons(false, false);
  else
    SetPayerButtons(insurance, !insurance);
}

void WhoPaidDialog::WriteCurrent(const std::string& letter) {
  MWtrnWhoPaid.Edit();
  MWtrnWhoPaid.FieldByName("Who Paid").SetAsString(letter);
  MWtrnWhoPaid.Post();
  if (counts_) ++counts_->payers_assigned[letter];
  WhoPaidQuery.Next();
}

void WhoPaidDialog::ChangeWhoPaid(const std::string& letter) {
  close_enabled_ = false;
  SetPayerButtons(false, false);
  if (Choice == kApplyToAll) {
    std::string code = MWtrnWhoPaid.FieldByName("Procedure Code").AsString();
    try {
      while (MWtrnWhoPaid.FieldByName("Procedure Code").AsString() == code && !WhoPaidQuery.Eof()) {
        WriteCurrent(letter);
      }
    } catch (const data::Exception&) {
      // The error is the user's to see; the row that failed is not written later by a move or
      // by closing the dialog.
      MWtrnWhoPaid.Cancel();
      throw;
    }
  } else if (Choice == kApplyToThis) {
    try {
      WriteCurrent(letter);
    } catch (const data::Exception&) {
      // The row keeps no letter and is passed by: the check then ends with rows left.
      MWtrnWhoPaid.Cancel();
      if (window_) window_->ShowCouldNotUpdate();
      WhoPaidQuery.Next();
    }
  }
  WhoPaidQuery.Refresh();
  close_enabled_ = true;
  SetAvailableButtons();
  if (WhoPaidQuery.IsEmpty() && window_) window_->CloseDialog();
}

void WhoPaidDialog::Button1Click() {
  if (window_) window_->CloseDialog();
}

void WhoPaidDialog::FormClose() {
  WhoPaidQuery.Refresh();
  result_ = WhoPaidQuery.IsEmpty();
  MWtrnWhoPaid.Close();
  WhoPaidQuery.Close();
  IsamConnection3.SetIsConnected(false);
}

}  // namespace conversion
