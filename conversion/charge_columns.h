// Which column of a charge a payment's share or its moved cents go to, by the payment's
// "Transaction Type" and "Who Paid": the one rule both phases that change a charge's amounts
// use. The two phases differ in two ways, each named by a parameter rather than written twice:
// whether an insurer's column is taken only for an insurance payment (the strict transaction
// type rules), and where the amount of a row that names no payer goes.
#ifndef RIVENOAK_CONVERSION_CHARGE_COLUMNS_H_
#define RIVENOAK_CONVERSION_CHARGE_COLUMNS_H_

#include <string>

namespace conversion {

// Where the amount of a row with an empty "Who Paid" goes, when its type is no adjustment.
enum class PayerlessAmount {
  kToAdjustment,  // to "Adjustment Amount": applying payments
  kToNoColumn,    // to no column, which the caller asks about: adjusting payments
};

// The charge column for a payment's payer and type, "" for none:
//  - types "S" and "T" go to "Adjustment Amount", whoever paid;
//  - "A" to "Attorney Amount Paid", "G" to "Guarantor Amount Paid";
//  - "1" to "3" to "Insurance N Amount Paid": with strict type rules only on type "I", without
//    them on any type;
//  - an empty payer as `payerless` says; any other payer to no column.
std::string ChargeColumn(const std::string& who_paid, const std::string& type,
                         bool strict_type_rules, PayerlessAmount payerless);

// "Insurance N Paid" when `column` is insurer N's "Insurance N Amount Paid", else "": the flag
// that goes with an insurer's column.
std::string InsurerPaidFlag(const std::string& who_paid, const std::string& column);

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_CHARGE_COLUMNS_H_
