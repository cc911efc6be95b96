#include "conversion/adjust_payments.h"

#include "conversion/change_unit.h"
#include "conversion/charge_columns.h"
#include "data/money.h"

namespace conversion {
namespace {

using data::Money;

Money MoneyOf(const data::TDataSet& dataset, const char* field) {
  return dataset.FieldByName(field).AsCurrency();
}

bool Exists(const data::TDataSet& dataset) {
  return !dataset.FieldByName("Entry Number").IsNull();
}

// value := value + delta, in a record already in edit state.
void AddTo(data::TDataSet& dataset, const std::string& field, Money delta) {
  data::TField& f = dataset.FieldByName(field);
  f.SetAsCurrency(f.AsCurrency() + delta);
}

void MarkPaidByEveryone(data::TIsamTable& charge, RunCounts& tally) {
  charge.Edit();
  for (const char* flag : kPaidFlags) {
    data::TField& field = charge.FieldByName(flag);
    if (!field.AsBoolean()) ++tally.marked_paid[flag];
    field.SetAsBoolean(true);
  }
  charge.Post();
}

// Moves `delta` onto the application record and the charge's column: the record is written and
// posted first; the remainder changes between setting the charge's column and posting it.
void Move(data::TIsamTable& application, data::TIsamTable& charge, const std::string& column,
          Money delta, Money* remainder, Money balance, RunCounts& tally) {
  application.Edit();
  AddTo(application, "Payment Amount", delta);
  application.Post();
  charge.Edit();
  AddTo(charge, column, delta);
  *remainder += balance;
  charge.Post();
  tally.moved[column] += delta;
  tally.cents_moved += (delta.count() < 0 ? -delta.count() : delta.count()) / 100;
}

}  // namespace

void AdjustPayments(PracticeDatasets& practice, RunView& view,
                    const std::function<bool()>& strict_rules) {
  data::TIsamTable& payments = practice.TrnPay;
  data::TIsamTable& applications = practice.PaxChg;
  data::TIsamTable& charge = practice.TrnChg;
  data::TIsamTable& charge_applications = practice.PaxPay;
  data::TIsamTable& other_payment = practice.TrnPay2;
  payments.Close();
  payments.Open();
  std::string title = view.Title();
  view.SetTitle(title + "  Filtering");
  view.ProcessMessages();
  payments.SetFiltered(true);
  view.SetTitle(title);
  payments.First();
  view.Gauge1().SetMax(payments.RecordCount());
  view.Gauge1().SetPosition(0);
  ChangeBatch batch(practice, view.Counts());
  for (; !payments.Eof(); payments.Next()) {
    view.Gauge1().Advance();
    if (view.StopFlag()) break;
    view.ProcessMessages();
    Money amount = MoneyOf(payments, "Amount");
    std::string column = ChargeColumn(payments.FieldByName("Who Paid").AsString(),
                                      payments.FieldByName("Transaction Type").AsString(),
                                      strict_rules(), PayerlessAmount::kToNoColumn);
    if (column.empty()) {
      std::string question =
          "Payor Field not assigned: " + payments.FieldByName("Chart Number").AsString() + " " +
          std::to_string(payments.FieldByName("Entry Number").AsInteger()) +
          " Do you wish to continue?";
      batch.Commit();  // nothing stays locked while the user thinks
      ++view.Counts().questions_asked;
      bool go_on = view.AskYesNo(question);
      ++(go_on ? view.Counts().questions_answered_yes : view.Counts().questions_answered_no);
      if (!go_on) view.SetStopFlag(true);
      view.ProcessMessages();
      continue;
    }
    batch.Run([&] {
      Money remainder = amount;
      for (applications.First(); !applications.Eof(); applications.Next()) {
        if (Exists(charge)) remainder -= MoneyOf(applications, "Payment Amount");
      }
      for (applications.First(); !applications.Eof(); applications.Next()) {
        if (!Exists(charge)) continue;
        Money balance = MoneyOf(charge, "Amount");
        for (charge_applications.First(); !charge_applications.Eof(); charge_applications.Next()) {
          if (Exists(other_payment)) balance += MoneyOf(charge_applications, "Payment Amount");
        }
        view.ProcessMessages();
        if (balance.count() <= 0) MarkPaidByEveryone(charge, batch.Tally());
        if (remainder.count() == 0) continue;
        // A payment that reduces what is owed, onto a charge that still carries a balance.
        if (balance.count() > 0 && amount.count() < 0 && remainder.count() < 0) {
          bool covers = balance >= -remainder;
          Move(applications, charge, column, covers ? remainder : -balance, &remainder, balance,
               batch.Tally());
        }
        // A payment that increases what is owed, onto a charge with a credit.
        if (balance.count() < 0 && amount.count() > 0 && remainder.count() > 0) {
          bool within = remainder <= -balance;
          Move(applications, charge, column, within ? remainder : -balance, &remainder, balance,
               batch.Tally());
        }
      }
    });
    view.ProcessMessages();
  }
  batch.Commit();
  // Full whether the loop ran to the end or was left for the stop flag.
  view.Gauge1().SetPosition(view.Gauge1().Max());
}

}  // namespace conversion
