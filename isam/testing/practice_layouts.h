// The layouts of the practice's three tables as the tests write them: each file's fields
// ("Name TYPE", in record order) and indexes ("NAME=Field;Field", the primary index first), in
// the form CreateTable and WriteTableFile take. This is the tests' one copy, kept apart from the
// program's (conversion/practice_tables.cpp) so that a test's practice does not take its layout
// from the code under test; conversion/practice_tables_test.cpp keeps the two equal. Header
// only: it needs nothing of the engine.
#ifndef RIVENOAK_ISAM_TESTING_PRACTICE_LAYOUTS_H_
#define RIVENOAK_ISAM_TESTING_PRACTICE_LAYOUTS_H_

#include <string>
#include <vector>

namespace isam::testing {

struct PracticeTableLayout {
  std::string file;
  std::vector<std::string> fields;
  std::vector<std::string> indexes;
};

// MWTRN.ADT: the transactions.
inline const PracticeTableLayout kTransactionsLayout = {
    "MWTRN.ADT",
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
     "IDXCHARTDATE=Chart Number;Date From", "IDXENTRYNUMBER=Entry Number"}};

// Mwpax.adt: which payment was applied to which charge, and how much.
inline const PracticeTableLayout kApplicationsLayout = {
    "Mwpax.adt",
    {"Payment Reference INTEGER", "Charge Reference INTEGER", "Payment Amount DOUBLE",
     "Who Paid CHAR(1)"},
    {"PRIMARY=Payment Reference;Charge Reference", "IDXCHARGEREFERENCE=Charge Reference"}};

// Mwpro.adt: the procedure codes.
inline const PracticeTableLayout kProcedureCodesLayout = {
    "Mwpro.adt",
    {"Code 1 CHAR(10)", "Code 2 CHAR(10)", "Code 3 CHAR(10)", "Type CHAR(1)",
     "Description CHAR(40)", "Type Of Service CHAR(3)", "Default Place Service 1 CHAR(2)",
     "Insurance Category CHAR(2)", "Patient Only Responsible LOGICAL", "Inactive LOGICAL",
     "Taxable LOGICAL", "Adjustment Amount Negativ LOGICAL", "Prepayment LOGICAL"},
    {"PRIMARY=Code 1"}};

// The three, in the order the program lists its own.
inline const std::vector<PracticeTableLayout> kPracticeLayouts = {
    kTransactionsLayout, kApplicationsLayout, kProcedureCodesLayout};

}  // namespace isam::testing

#endif  // RIVENOAK_ISAM_TESTING_PRACTICE_LAYOUTS_H_
