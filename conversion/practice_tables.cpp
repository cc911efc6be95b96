#include "conversion/practice_tables.h"

namespace conversion {

const std::vector<TableLayout>& PracticeTables() {
  static const std::vector<TableLayout> tables = {
      {"MWTRN.ADT",
       {"Entry Number AUTOINC",
        "Chart Number CHAR(8)",
        "Case Number INTEGER",
        "Date From DATE",
        "Document Number CHAR(10)",
        "Procedure Code CHAR(10)",
        "Transaction Type CHAR(1)",
        "Amount DOUBLE",
        "Who Paid CHAR(1)",
        "Guarantor Amount Paid DOUBLE",
        "Insurance 1 Amount Paid DOUBLE",
        "Insurance 2 Amount Paid DOUBLE",
        "Insurance 3 Amount Paid DOUBLE",
        "Attorney Amount Paid DOUBLE",
        "Adjustment Amount DOUBLE",
        "Date Created DATE",
        "Insurance 1 Paid LOGICAL",
        "Insurance 2 Paid LOGICAL",
        "Insurance 3 Paid LOGICAL",
        "Guarantor Paid LOGICAL",
        "Attorney Paid LOGICAL",
        "Description CHAR(40)",
        "Type Of Service CHAR(3)",
        "Place Of Service CHAR(2)",
        "Insurance Category CHAR(2)"},
       {"PRIMARY=Entry Number", "IDXDOCUMENT=Chart Number;Document Number",
        "IDXCHARTDATE=Chart Number;Date From", "IDXENTRYNUMBER=Entry Number"}},
      {"Mwpax.adt",
       {"Payment Reference INTEGER", "Charge Reference INTEGER", "Payment Amount DOUBLE",
        "Who Paid CHAR(1)"},
       {"PRIMARY=Payment Reference;Charge Reference", "IDXCHARGEREFERENCE=Charge Reference"}},
      {"Mwpro.adt",
       {"Code 1 CHAR(10)", "Code 2 CHAR(10)", "Code 3 CHAR(10)", "Type CHAR(1)",
        "Description CHAR(40)", "Type Of Service CHAR(3)", "Default Place Service 1 CHAR(2)",
        "Insurance Category CHAR(2)", "Patient Only Responsible LOGICAL", "Inactive LOGICAL",
        "Taxable LOGICAL", "Adjustment Amount Negativ LOGICAL", "Prepayment LOGICAL"},
       {"PRIMARY=Code 1"}},
  };
  return tables;
}

}  // namespace conversion
