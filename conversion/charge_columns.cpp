// The one rule of a charge's amount columns; see charge_columns.h.
#include "conversion/charge_columns.h"

namespace conversion {
namespace {

bool IsInsurer(const std::string& who_paid) {
  return who_paid == "1" || who_paid == "2" || who_paid == "3";
}

}  // namespace

std::string ChargeColumn(const std::string& who_paid, const std::string& type,
                         bool strict_type_rules, PayerlessAmount payerless) {
  // An adjustment type outranks the payer: a write-off is no payment, whoever is named.
  if (type == "S" || type == "T") return "Adjustment Amount";
  if (who_paid.empty())
    return payerless == PayerlessAmount::kToAdjustment ? "Adjustment Amount" : "";
  if (who_paid == "A") return "Attorney Amount Paid";
  if (who_paid == "G") return "Guarantor Amount Paid";
  if (IsInsurer(who_paid) && (!strict_type_rules || type == "I"))
    return "Insurance " + who_paid + " Amount Paid";
  return "";
}

std::string InsurerPaidFlag(const std::string& who_paid, const std::string& column) {
  if (!IsInsurer(who_paid) || column != "Insurance " + who_paid + " Amount Paid") return "";
  return "Insurance " + who_paid + " Paid";
}

}  // namespace conversion
