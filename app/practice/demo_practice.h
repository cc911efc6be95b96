// Demo practices to try the program on: a root folder with the list of practices and, per
// practice, the three tables with charges, insurance and guarantor payments, adjustments, some
// payments without a payer, codes missing from the procedure-code table, types that disagree
// with their code, and a "Convert.log". The same seed gives the same records. Beside the
// practices, the folder "who-paid" holds for each practice "<Dataset Name>.txt", the who-paid
// presses that give each of its payments without a payer one (for `rivenoak run --who-paid`, or
// the folder for `--who-paid-dir`).
#ifndef RIVENOAK_APP_PRACTICE_DEMO_PRACTICE_H_
#define RIVENOAK_APP_PRACTICE_DEMO_PRACTICE_H_

#include <cstdint>
#include <string>

namespace app {

inline constexpr const char* kDemoPressesFolder = "who-paid";

struct DemoOptions {
  int practices = 2;
  int transactions = 2000;
  uint64_t seed = 1;
};

// Throws data::Exception (with the engine's text) when something cannot be made.
void MakeDemoRoot(const std::string& root, const DemoOptions& options);

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_DEMO_PRACTICE_H_
