// The phases of a floor, and the fair floor's: each phase's work with plain SQLite statements,
// committed in units and batches as a run commits them.
#ifndef RIVENOAK_BENCH_FLOOR_FAIR_H_
#define RIVENOAK_BENCH_FLOOR_FAIR_H_

#include <string>
#include <vector>

#include "bench/floor_sql.h"

struct FloorPhase {
  const char* name;
  // The database, and the range's first and last day as YYYY-MM-DD.
  void (*run)(floor_sql::Db& db, const std::string& from, const std::string& to);
};

std::vector<FloorPhase> FairPhases();

#endif  // RIVENOAK_BENCH_FLOOR_FAIR_H_
