// Checks of the values a table file's records hold in one field, for whoever must know before it
// changes anything that the values it joins on and adds up are what it needs: whole numbers in a
// range, held once; amounts whose cents a stored amount holds exactly.
//
// The contract:
// - A check reads the table through a TableFileReader (table_files.h) and asks nothing of how the
//   table is stored: it names a field and a rule, and answers the records whose value breaks the
//   rule, in record-number order, the first `first` of them in full, and how many there are.
// - A field is the one of exactly that name; a table without it has no record that breaks a rule
//   of it (whoever needs the field meets its lack where it uses it).
// - A value is shown as a message to the user shows it: "empty" for no value, a number as the
//   table's own text of it (15 significant digits), a text or a blob in single quotes, cut after
//   20 bytes with "..."; a number too large to be an amount (ValueFault::kTooLarge) in the
//   shortest form that reads back as the same number ("1e+15", "inf").
// - A whole number is one the engine's integer fields hold, -2147483648 to 2147483647, stored as
//   an integer or as a real without a fraction; a text of digits is none.
// - Every failure leaves as a TableFileError, as everything of table_files.h does.
#ifndef RIVENOAK_ISAM_TABLE_CHECKS_H_
#define RIVENOAK_ISAM_TABLE_CHECKS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "isam/table_files.h"

namespace isam {

// Why a value breaks a check's rule.
enum class ValueFault {
  kEmpty,           // no value, where the rule wants one
  kNotWholeNumber,  // no whole number (see above): a text, a blob, a fraction, out of 32 bits
  kBelowRange,      // a whole number below the rule's lowest
  kAboveRange,      // a whole number above the rule's highest
  kRepeated,        // a whole number in range that other records hold too (`others` of them)
  kBlob,            // bytes where an amount belongs
  kNotANumber,      // a text that is no decimal number with '.': "12,50", "NaN", "abc"
  kTooLarge,        // a number of 2^53 cents or more, or an infinity
};

// One value of one record that breaks a check's rule.
struct FaultyValue {
  int64_t record = 0;  // the record number
  std::string field;
  std::string shown;  // the value as shown (see above)
  ValueFault fault = ValueFault::kEmpty;
  int64_t others = 0;  // kRepeated: the other records that hold the same value
};

// The values that break a rule: the first few in full, in record-number order (and in the order
// the fields were named, within one record), and how many there are in all.
struct FaultyValues {
  std::vector<FaultyValue> first;
  size_t count = 0;
};

// A rule for a field that holds whole numbers, such as a key other records refer to.
struct WholeNumberRule {
  int64_t lowest = INT32_MIN;
  int64_t highest = INT32_MAX;
  bool required = false;  // an empty value breaks the rule; otherwise it is passed over
  bool unique = false;    // a value several records hold breaks it in each of them
};

// The records whose `field` breaks `rule`, each with the first fault it shows in the order the
// faults are listed in ValueFault; at most `first` of them in full.
FaultyValues CheckWholeNumbers(const TableFileReader& reader, const std::string& field,
                               const WholeNumberRule& rule, size_t first);

// The values of `fields` that are no amount: a blob, a text that is no decimal number, a number
// of 2^53 cents or more (from there on a stored amount cannot hold every cent, and sums would no
// longer say what the table holds). Empty values pass. One pass over the table for all the
// fields; at most `first` values in full.
FaultyValues CheckMoneyValues(const TableFileReader& reader, const std::vector<std::string>& fields,
                              size_t first);

}  // namespace isam

#endif  // RIVENOAK_ISAM_TABLE_CHECKS_H_
