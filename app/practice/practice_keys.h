// The keys the run's phases join on, checked before a run changes anything: transactions are
// found by their "Entry Number" (payments are applied to the charges of their document, and
// application records point at both by it), so every Entry Number of MWTRN.ADT must be a whole
// number from 1 to 2147483647, held by one record only; and the references of Mwpax.adt's
// application records must be whole numbers. The amounts the phases add up are checked too: each
// must be a finite number whose cents a stored amount holds exactly.
#ifndef RIVENOAK_APP_PRACTICE_PRACTICE_KEYS_H_
#define RIVENOAK_APP_PRACTICE_PRACTICE_KEYS_H_

#include <string>

namespace app {

// Throws PracticeDataError naming the first few records that break the keys, and how many do,
// when the practice in `data_path` has any; tables that are missing are left to the run.
void CheckJoinKeys(const std::string& data_path);

// Throws PracticeDataError naming table, record and field of the first few amounts of the
// practice's tables that are no money value (a text that is no number, a blob, an infinity, or
// 2^53 cents or more), and how many there are.
void CheckAmounts(const std::string& data_path);

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_PRACTICE_KEYS_H_
