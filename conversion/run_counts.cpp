#include "conversion/run_counts.h"

#include "conversion/codes.h"

namespace conversion {
namespace {

template <typename V>
void AddEach(std::map<std::string, V>& to, const std::map<std::string, V>& from) {
  for (const auto& [key, value] : from) to[key] += value;
}

template <typename V>
V ValueAt(const std::map<std::string, V>& values, const std::string& key) {
  auto found = values.find(key);
  return found == values.end() ? V{} : found->second;
}

}  // namespace

void RunCounts::Add(const RunCounts& other) {
  types_changed += other.types_changed;
  codes_added += other.codes_added;
  AddEach(payers_assigned, other.payers_assigned);
  documents_applied += other.documents_applied;
  documents_outside_range += other.documents_outside_range;
  documents_already_applied += other.documents_already_applied;
  documents_charges_total_zero += other.documents_charges_total_zero;
  documents_over_apply_off += other.documents_over_apply_off;
  applications_written += other.applications_written;
  AddEach(applied, other.applied);
  AddEach(documents_per_month, other.documents_per_month);
  AddEach(moved, other.moved);
  cents_moved += other.cents_moved;
  AddEach(marked_paid, other.marked_paid);
  questions_asked += other.questions_asked;
  questions_answered_yes += other.questions_answered_yes;
  questions_answered_no += other.questions_answered_no;
}

std::vector<std::pair<std::string, std::string>> SummaryOf(const RunCounts& counts) {
  std::vector<std::pair<std::string, std::string>> lines;
  auto add = [&](const std::string& name, auto value) {
    if constexpr (std::is_same_v<decltype(value), data::Money>)
      lines.emplace_back(name, value.ToString());
    else
      lines.emplace_back(name, std::to_string(value));
  };
  add("transaction types changed", counts.types_changed);
  add("procedure codes added", counts.codes_added);
  for (const char* letter : kPayerLetters) {
    add(std::string("payers assigned ") + letter, ValueAt(counts.payers_assigned, letter));
  }
  add("documents applied", counts.documents_applied);
  add("documents skipped outside the range", counts.documents_outside_range);
  add("documents skipped already applied", counts.documents_already_applied);
  add("documents skipped charges total zero", counts.documents_charges_total_zero);
  add("documents skipped over-apply off", counts.documents_over_apply_off);
  add("application records written", counts.applications_written);
  for (const char* column : kAmountColumns) {
    add(std::string("amount applied to ") + column, ValueAt(counts.applied, column));
  }
  for (const char* column : kAmountColumns) {
    add(std::string("amount moved to ") + column, ValueAt(counts.moved, column));
  }
  add("cents moved by the adjustment", counts.cents_moved);
  for (const char* flag : kPaidFlags) {
    add(std::string("charges marked ") + flag, ValueAt(counts.marked_paid, flag));
  }
  add("payor questions asked", counts.questions_asked);
  add("payor questions answered yes", counts.questions_answered_yes);
  add("payor questions answered no", counts.questions_answered_no);
  return lines;
}

}  // namespace conversion
