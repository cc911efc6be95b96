#include "app/command/phase_timings.h"

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>

#include "isam/isam.h"

namespace app {

PhaseTimings::PhaseTimings() {
  if (const char* file = std::getenv("RIVENOAK_PHASE_TIMINGS")) file_ = file;
}

PhaseTimings::~PhaseTimings() {
  if (file_.empty()) return;
  std::ofstream out(file_);
  for (const Timing& timing : timings_) {
    out << timing.name << "\t" << std::to_string(timing.seconds) << "\t" << timing.calls << "\t"
        << std::to_string(timing.cpu_seconds) << "\n";
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  out << "peak_kb\t" << usage.ru_maxrss << "\n";
}

std::vector<PhaseTime> PhaseTimings::Times() const {
  std::vector<PhaseTime> times;
  for (const Timing& timing : timings_) times.push_back({timing.name, timing.seconds});
  return times;
}

double PhaseTimings::CpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

uint64_t PhaseTimings::Calls() {
  uint64_t calls = 0;
  IsamGetCallCount(&calls);
  return calls;
}

}  // namespace app
