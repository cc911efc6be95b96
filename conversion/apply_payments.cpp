#include "conversion/apply_payments.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "conversion/change_unit.h"
#include "conversion/charge_columns.h"
#include "data/date_time.h"
#include "data/errors.h"

namespace conversion {

// The share's arithmetic needs the 64-bit mantissa of x86 extended precision.
static_assert(LDBL_MANT_DIG == 64, "shares are computed in 80-bit extended precision");

namespace {

__extension__ typedef __int128 Int128;  // GCC's and Clang's 128-bit integers

data::Money Amount(const data::TDataSet& dataset, const char* field) {
  return dataset.FieldByName(field).AsCurrency();
}

data::Money SumOfAmounts(data::TIsamDataSet& dataset) {
  data::Money total;
  for (dataset.First(); !dataset.Eof(); dataset.Next()) total += Amount(dataset, "Amount");
  return total;
}

// "YYYY-MM" of a date field; "none" when it is empty.
std::string MonthOf(const data::TField& date) {
  if (date.IsNull()) return "none";
  int year = 0, month = 0, day = 0;
  data::DecodeDate(date.AsDateTime(), &year, &month, &day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d", year, month);
  return text;
}

// Opens the documents query over the range from `begin` to `end`.
void OpenDocuments(data::TIsamQuery& documents, data::TDateTime begin, data::TDateTime end) {
  documents.Close();
  documents.ParamByName("bConvDate").SetAsDate(begin);
  documents.ParamByName("eConvDate").SetAsDate(end);
  documents.Open();
}

// The documents with a transaction created at any date, for the count of those the range leaves.
int DocumentsOfAnyDate(data::TIsamQuery& documents) {
  OpenDocuments(documents, data::EncodeDate(1, 1, 1), data::EncodeDate(9999, 12, 31));
  int all = documents.RecordCount();
  documents.Close();
  return all;
}

}  // namespace

double PaymentRatio(data::Money payment, data::Money charge_total) {
  long double quotient =
      static_cast<long double>(payment.count()) / static_cast<long double>(charge_total.count());
  auto ratio = static_cast<double>(std::fabs(quotient));
  return payment.count() <= 0 ? 0 - ratio : ratio;
}

data::Money ShareOf(data::Money charge_amount, double ratio) {
  long double millionths =
      static_cast<long double>(charge_amount.count()) * static_cast<long double>(ratio) * 100.0L;
  long double rounded = std::nearbyintl(millionths);
  // A large charge paid in full goes past 2^63 millionths (ten thousand billion is 10^19 of
  // them), so the cut is made in 128 bits; a share that still does not fit is refused, never
  // wrapped. The bound also turns away a ratio that is no number.
  if (!(std::fabs(rounded) < 1e36L)) {
    throw data::Exception("Money overflow in a share of " + charge_amount.ToString());
  }
  Int128 hundredths = static_cast<Int128>(rounded) / 10000;  // toward zero
  Int128 count = hundredths * 100;
  if (count > INT64_MAX || count < INT64_MIN) {
    throw data::Exception("Money overflow in a share of " + charge_amount.ToString());
  }
  return data::Money::FromCount(static_cast<int64_t>(count));
}

namespace {

// The payment's share of the charge each dataset stands on; one that no money value holds names
// both transactions, so that the document can be found and corrected.
data::Money ShareOfCharge(const data::TIsamTable& charges, const data::TIsamTable& payments,
                          double ratio) {
  try {
    return ShareOf(Amount(charges, "Amount"), ratio);
  } catch (const data::Exception& e) {
    throw data::Exception(
        std::string(e.what()) + " (the share of the charge with \"Entry Number\" " +
        charges.FieldByName("Entry Number").AsString() + " in the payment with \"Entry Number\" " +
        payments.FieldByName("Entry Number").AsString() + ")");
  }
}

}  // namespace

void ApplyPayAmount(PracticeDatasets& practice, const std::string& who_paid,
                    const std::string& transaction_type, data::Money share, RunCounts* tally) {
  data::TIsamTable& charge = practice.MWtrnChg;
  data::TIsamTable& payment = practice.MWtrnPayAdj;
  data::TIsamTable& pax = practice.MWpax;
  std::string payment_entry = payment.FieldByName("Entry Number").AsString();
  std::string charge_entry = charge.FieldByName("Entry Number").AsString();
  // The pair is looked up first, so that a pair already applied is not applied again.
  if (pax.FindKey({payment_entry, charge_entry})) return;
  // Applying keeps to the strict type rules whatever the option says, and a share without a
  // payer is an adjustment.
  std::string column =
      ChargeColumn(who_paid, transaction_type, true, PayerlessAmount::kToAdjustment);
  std::string paid_flag = InsurerPaidFlag(who_paid, column);
  charge.Edit();
  if (!column.empty()) {
    data::TField& field = charge.FieldByName(column);
    field.SetAsCurrency(field.AsCurrency() + share);
  }
  bool flag_turns_true = !paid_flag.empty() && !charge.FieldByName(paid_flag).AsBoolean();
  if (!paid_flag.empty()) charge.FieldByName(paid_flag).SetAsBoolean(true);
  charge.Post();
  pax.Append();
  pax.FieldByName("Payment Reference")
      .SetAsInteger(payment.FieldByName("Entry Number").AsInteger());
  pax.FieldByName("Charge Reference").SetAsInteger(charge.FieldByName("Entry Number").AsInteger());
  pax.FieldByName("Payment Amount").SetAsCurrency(share);
  pax.FieldByName("Who Paid").SetAsString(who_paid);
  pax.Post();
  if (!tally) return;
  ++tally->applications_written;
  if (!column.empty()) tally->applied[column] += share;
  if (flag_turns_true) ++tally->marked_paid[paid_flag];
}

void ApplyPayAdj(PracticeDatasets& practice, RunView& view, bool over_apply, data::TDateTime begin,
                 data::TDateTime end) {
  data::TIsamQuery& documents = practice.TrnDocQuery;
  data::TIsamTable& charges = practice.MWtrnChg;
  data::TIsamTable& payments = practice.MWtrnPayAdj;
  int any_date = DocumentsOfAnyDate(documents);
  OpenDocuments(documents, begin, end);
  view.Counts().documents_outside_range += any_date - documents.RecordCount();
  for (data::TIsamTable* table : {&charges, &payments, &practice.MWpaxPayAdj}) table->Open();
  view.Gauge1().SetMax(documents.RecordCount());
  view.Gauge1().SetPosition(0);
  view.Gauge2().SetPosition(view.Gauge2().Max());
  ChangeBatch batch(practice, view.Counts());
  for (documents.First(); !documents.Eof(); documents.Next()) {
    if (view.StopFlag()) break;
    view.Gauge1().Advance();
    view.ProcessMessages();
    data::Money charge_total = SumOfAmounts(charges);
    data::Money payment_total = SumOfAmounts(payments);
    if (charge_total.count() == 0) {
      ++view.Counts().documents_charges_total_zero;
      continue;
    }
    payments.First();
    if (!over_apply && (charge_total + payment_total).count() <= 0) {
      ++view.Counts().documents_over_apply_off;
      view.ProcessMessages();
      continue;
    }
    // Only the first payment is tested: a document applied before is left alone.
    if (!practice.MWpaxPayAdj.FieldByName("Payment Reference").IsNull()) {
      ++view.Counts().documents_already_applied;
      continue;
    }
    batch.Run([&] {
      int written_before = batch.Tally().applications_written;
      for (payments.First(); !payments.Eof(); payments.Next()) {
        double ratio = PaymentRatio(Amount(payments, "Amount"), charge_total);
        std::string who_paid = payments.FieldByName("Who Paid").AsString();
        std::string type = payments.FieldByName("Transaction Type").AsString();
        for (charges.First(); !charges.Eof(); charges.Next()) {
          ApplyPayAmount(practice, who_paid, type, ShareOfCharge(charges, payments, ratio),
                         &batch.Tally());
        }
      }
      // A document counts as applied when it gained application records (one without payments
      // gains none).
      if (batch.Tally().applications_written == written_before) return;
      ++batch.Tally().documents_applied;
      charges.First();
      ++batch.Tally().documents_per_month[MonthOf(charges.FieldByName("Date Created"))];
    });
  }
  batch.Commit();
}

}  // namespace conversion
