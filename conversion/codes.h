// The one-letter codes of "Transaction Type" and "Who Paid" and the groups the run sorts them
// into. Each test compares the field's whole text ordinally with one-letter bounds, so an empty
// value, a lower-case letter or a longer text falls in no group.
#ifndef RIVENOAK_CONVERSION_CODES_H_
#define RIVENOAK_CONVERSION_CODES_H_

#include <array>
#include <string>

namespace conversion {

inline bool Between(const std::string& type, const char* low, const char* high) {
  return type >= low && type <= high;
}

// "A" to "D", and "H".
inline bool IsChargeType(const std::string& t) {
  return Between(t, "A", "D") || t == "H";
}
// "I" to "O", and "S" to "U".
inline bool IsPayAdjType(const std::string& t) {
  return Between(t, "I", "O") || Between(t, "S", "U");
}
// "I" to "O": a row of these types without a payer stops a run.
inline bool IsWhoPaidType(const std::string& t) {
  return Between(t, "I", "O");
}

// The payers a "Who Paid" names, in the order of the who-paid dialog's buttons.
inline constexpr std::array<const char*, 5> kPayerLetters = {"1", "2", "3", "G", "A"};

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_CODES_H_
