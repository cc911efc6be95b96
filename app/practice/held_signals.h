// Signals held back in this thread for a scope: one that arrives meanwhile waits, and is taken
// when the scope ends. Used where a handler must not run halfway through a step (a temporary
// folder made but not yet listed for removal; a process forked but its handlers not yet reset).
#ifndef RIVENOAK_APP_PRACTICE_HELD_SIGNALS_H_
#define RIVENOAK_APP_PRACTICE_HELD_SIGNALS_H_

#include <pthread.h>
#include <signal.h>

#include <initializer_list>

namespace app {

class HeldSignals {
 public:
  explicit HeldSignals(std::initializer_list<int> signals) { Hold(signals); }
  template <typename Signals>
  explicit HeldSignals(const Signals& signals) {
    Hold(signals);
  }
  ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;
  // The mask before the scope, for a forked process to take back.
  const sigset_t& previous() const { return previous_; }

 private:
  template <typename Signals>
  void Hold(const Signals& signals) {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : signals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  sigset_t previous_;
};

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_HELD_SIGNALS_H_
