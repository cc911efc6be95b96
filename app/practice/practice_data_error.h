// The one error of copies, restores and change reports: why one of them could not be made, with
// a text that names the file. Every module of the practice copies throws it; the commands catch it
// and print its text as it is.
#ifndef RIVENOAK_APP_PRACTICE_PRACTICE_DATA_ERROR_H_
#define RIVENOAK_APP_PRACTICE_PRACTICE_DATA_ERROR_H_

#include <stdexcept>

namespace app {

// Why a copy, a restore or a change report could not be made; the text names the file.
class PracticeDataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_PRACTICE_DATA_ERROR_H_
