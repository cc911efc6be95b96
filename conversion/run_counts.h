// What a run did, counted by the phases as they do it: the run's summary. The command line prints
// it and writes it into the run's report; the desktop window shows none of it.
#ifndef RIVENOAK_CONVERSION_RUN_COUNTS_H_
#define RIVENOAK_CONVERSION_RUN_COUNTS_H_

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "data/money.h"

namespace conversion {

// The charge columns a payment's amount goes to, and the paid flags, in the order the summary
// lists them.
inline constexpr std::array<const char*, 6> kAmountColumns = {
    "Insurance 1 Amount Paid", "Insurance 2 Amount Paid", "Insurance 3 Amount Paid",
    "Guarantor Amount Paid",   "Attorney Amount Paid",    "Adjustment Amount"};
inline constexpr std::array<const char*, 5> kPaidFlags = {
    "Insurance 1 Paid", "Insurance 2 Paid", "Insurance 3 Paid", "Guarantor Paid", "Attorney Paid"};

struct RunCounts {
  // Type verification.
  int types_changed = 0;
  int codes_added = 0;
  // The who-paid dialog: rows given a payer, by the letter written.
  std::map<std::string, int> payers_assigned;
  // Payment application.
  int documents_applied = 0;
  int documents_outside_range = 0;
  int documents_already_applied = 0;
  int documents_charges_total_zero = 0;
  int documents_over_apply_off = 0;
  int applications_written = 0;
  std::map<std::string, data::Money> applied;  // by charge column
  // Documents applied by the year and month ("YYYY-MM") of their first charge's "Date Created".
  std::map<std::string, int> documents_per_month;
  // Payment amount adjustment.
  std::map<std::string, data::Money> moved;  // by charge column, with its sign
  int64_t cents_moved = 0;                   // every move counted as its size
  std::map<std::string, int> marked_paid;    // by paid flag, counted when the flag turns true
  int questions_asked = 0;
  int questions_answered_yes = 0;
  int questions_answered_no = 0;

  // Adds what `other` counted.
  void Add(const RunCounts& other);
};

// The summary as `name = value` pairs, always the same names in the same order; money in plain
// decimal notation with two decimals at least.
std::vector<std::pair<std::string, std::string>> SummaryOf(const RunCounts& counts);

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_RUN_COUNTS_H_
