#include "conversion/verify_tran_types.h"

#include <algorithm>
#include <cstdint>

#include "conversion/change_unit.h"

namespace conversion {
namespace {

// A new procedure-code row for the transaction's code, filled from the transaction. A failure
// while filling or posting cancels the row, so that no half-filled code is posted later.
void AddProcedureCode(data::TIsamTable& codes, const data::TIsamTable& transaction) {
  auto text = [&](const char* field) { return transaction.FieldByName(field).AsString(); };
  codes.Append();
  try {
    std::string code = text("Procedure Code");
    codes.FieldByName("Code 1").SetAsString(code);
    codes.FieldByName("Code 2").SetAsString(code);
    codes.FieldByName("Code 3").SetAsString(code);
    codes.FieldByName("Type").SetAsString(text("Transaction Type"));
    codes.FieldByName("Type Of Service").SetAsString(text("Type Of Service"));
    codes.FieldByName("Default Place Service 1").SetAsString(text("Place Of Service"));
    codes.FieldByName("Insurance Category").SetAsString(text("Insurance Category"));
    codes.FieldByName("Patient Only Responsible").SetAsBoolean(false);
    codes.FieldByName("Inactive").SetAsBoolean(true);
    codes.FieldByName("Taxable").SetAsBoolean(false);
    codes.FieldByName("Adjustment Amount Negativ").SetAsBoolean(false);
    codes.FieldByName("Prepayment").SetAsBoolean(false);
    codes.FieldByName("Description").SetAsString(kAddedCodeDescription);
    codes.Post();
  } catch (...) {
    codes.Cancel();
    throw;
  }
}

}  // namespace

void VerifyTranTypes(PracticeDatasets& practice, RunView& view) {
  data::TIsamTable& transactions = practice.MWtrnType;
  data::TIsamTable& codes = practice.MWproType;
  int changed = 0;
  view.Gauge1().SetPosition(0);
  view.Gauge2().SetMax(codes.RecordCount());
  transactions.First();
  view.Gauge1().SetMax(transactions.RecordCount());
  ChangeBatch batch(practice, view.Counts());
  while (!transactions.Eof()) {
    if (view.StopFlag()) break;
    view.Gauge1().Advance();
    view.ProcessMessages();
    std::string code = transactions.FieldByName("Procedure Code").AsString();
    if (codes.FindKey({code})) {
      view.Gauge2().SetPosition(static_cast<int>(std::min<int64_t>(codes.RecNo(), INT32_MAX)));
      std::string type = codes.FieldByName("Type").AsString();
      if (transactions.FieldByName("Transaction Type").AsString() != type &&
          codes.FieldByName("Code 1").AsString() == code) {
        batch.Run([&] {
          transactions.Edit();
          transactions.FieldByName("Transaction Type").SetAsString(type);
          transactions.Post();
          ++batch.Tally().types_changed;
        });
        ++changed;
      }
    } else {
      batch.Run([&] {
        AddProcedureCode(codes, transactions);
        ++batch.Tally().codes_added;
      });
    }
    transactions.Next();
  }
  batch.Commit();
  // Shown whether the walk ended or was left for the stop flag.
  view.SetTypesChanged(changed);
}

}  // namespace conversion
