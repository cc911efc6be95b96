// Each phase's wall time and engine calls, for the run's report; with RIVENOAK_PHASE_TIMINGS
// naming a file, they, each phase's processor time (user and system) and the run's peak memory
// are also written there for the scale benchmark when the timings end.
#ifndef RIVENOAK_APP_COMMAND_PHASE_TIMINGS_H_
#define RIVENOAK_APP_COMMAND_PHASE_TIMINGS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/practice/run_report.h"

namespace app {

class PhaseTimings {
 public:
  PhaseTimings();
  ~PhaseTimings();
  PhaseTimings(const PhaseTimings&) = delete;
  PhaseTimings& operator=(const PhaseTimings&) = delete;

  // Wraps a phase so that its time and calls are recorded under `name`.
  template <typename R, typename... A>
  std::function<R(A...)> Wrap(const char* name, std::function<R(A...)> phase) {
    if (!phase) return phase;
    return [this, name, phase](A... args) -> R {
      struct Record {
        PhaseTimings* timings;
        const char* name;
        uint64_t calls_before = Calls();
        double cpu_before = CpuSeconds();
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        ~Record() {
          std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
          timings->timings_.push_back(
              {name, seconds.count(), Calls() - calls_before, CpuSeconds() - cpu_before});
        }
      } record{this, name};
      return phase(args...);
    };
  }
  // The phases that ran, in their order.
  std::vector<PhaseTime> Times() const;

 private:
  struct Timing {
    std::string name;
    double seconds;
    uint64_t calls;
    double cpu_seconds;
  };
  // The process's user and system time so far.
  static double CpuSeconds();
  // The engine calls the process made so far.
  static uint64_t Calls();

  std::string file_;
  std::vector<Timing> timings_;
};

}  // namespace app

#endif  // RIVENOAK_APP_COMMAND_PHASE_TIMINGS_H_
