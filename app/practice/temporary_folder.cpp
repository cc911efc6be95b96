#include "app/practice/temporary_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "app/practice/held_signals.h"

namespace app {
namespace {

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGTERM, SIGPIPE};

// ---- removing a tree with what a signal handler may call ----

// Deep enough for any copy of a practice (the copy, a backup's partial folder in it, a restore's
// staging folder in that); deeper folders are left, never followed without end.
constexpr int kDepth = 16;

bool RemoveEntry(int folder, const char* name, int depth);

// Removes what `folder` holds. Entries are read afresh after a pass that removed some, since a
// folder read while it shrinks may skip entries.
void EmptyFolder(int folder, int depth) {
  alignas(dirent64) char entries[1024];
  for (int pass = 0; pass < 8; ++pass) {
    bool removed = false;
    if (lseek(folder, 0, SEEK_SET) < 0) return;
    long size = 0;
    while ((size = syscall(SYS_getdents64, folder, entries, sizeof entries)) > 0) {
      for (long at = 0; at < size;) {
        const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
        at += entry->d_reclen;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (RemoveEntry(folder, entry->d_name, depth)) removed = true;
      }
    }
    if (!removed) return;
  }
}

// Removes the file or the folder (with what it holds) `name` of `folder` (AT_FDCWD for a path);
// links are removed, never followed. Uses only calls that are safe in a signal handler: no
// allocation, no lock.
bool RemoveEntry(int folder, const char* name, int depth) {
  if (unlinkat(folder, name, 0) == 0) return true;
  if (errno != EISDIR || depth == 0) return false;
  int inner = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (inner < 0) return false;
  EmptyFolder(inner, depth - 1);
  close(inner);
  return unlinkat(folder, name, AT_REMOVEDIR) == 0;
}

// ---- the places the signal handler removes ----

// Process-wide, and it has to be: a signal handler can reach no object of the program, only what
// is static, and it may not allocate or lock. So the places live in a fixed table of fixed-size
// paths, and no lock guards it: each slot's state is a lock-free atomic, the one thing any thread
// and the handler agree through. A thread claims a free slot by one compare-and-swap (so two
// threads never fill the same one), fills it while it is kFilling (the handler passes it by) and
// publishes it as kSet only once its path is whole; only the thread that claimed a slot frees it.
// The handler only reads the table, and calls nothing that is not async-signal-safe.
enum SlotState : int { kFree, kFilling, kSet };
struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots without a lock");
// A run has at most three at once (the dry run's copy, the report's copy, the report before it
// is given its name).
constexpr int kSlots = 16;
Slot slots[kSlots];

int Register(const std::string& path) {
  if (path.size() >= PATH_MAX) {
    throw std::runtime_error("The temporary path " + path + " is too long");
  }
  for (int i = 0; i < kSlots; ++i) {
    int free = kFree;
    if (!slots[i].state.compare_exchange_strong(free, kFilling)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(kSet, std::memory_order_release);
    return i;
  }
  throw std::runtime_error("More than " + std::to_string(kSlots) + " temporary places at once; " +
                           path + " was not kept");
}

void Unregister(int slot) {
  slots[slot].state.store(kFree, std::memory_order_release);
}

// Removes every registered place, then lets the signal end the process as it would have: its
// default action, raised again (it is blocked while this runs, and ends the process as soon as
// the handler returns).
extern "C" void RemoveScratchAndEnd(int signal) {
  int saved_errno = errno;
  for (Slot& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) == kSet) {
      RemoveEntry(AT_FDCWD, slot.path, kDepth);
    }
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
  errno = saved_errno;
}

// Installs the handler for each of the signals whose action is still the default one: an ignored
// signal stays ignored, and a handler of someone else's is left alone.
void InstallHandler() {
  for (int signal : kSignals) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
        old.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RemoveScratchAndEnd;
    sigemptyset(&action.sa_mask);
    for (int other : kSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace

ScratchPath::ScratchPath(const std::function<std::string()>& make) {
  // What a signal does is process-wide, so its handler is installed once for the process, by
  // whichever thread makes the first scratch path; std::call_once is the lock.
  static std::once_flag installed;
  std::call_once(installed, InstallHandler);
  HeldSignals held(kSignals);
  path_ = make();
  try {
    slot_ = Register(path_);
  } catch (...) {
    RemoveEntry(AT_FDCWD, path_.c_str(), kDepth);
    throw;
  }
}

ScratchPath::~ScratchPath() {
  if (slot_ < 0) return;
  RemoveEntry(AT_FDCWD, path_.c_str(), kDepth);
  Unregister(slot_);
}

void ScratchPath::Keep() {
  if (slot_ < 0) return;
  Unregister(slot_);
  slot_ = -1;
}

TemporaryFolder::TemporaryFolder(const std::string& prefix)
    : folder_([&prefix] {
        namespace fs = std::filesystem;
        std::string pattern =
            (fs::absolute(fs::temp_directory_path()) / (prefix + "-XXXXXX")).string();
        // mkdtemp makes the folder with mode 0700 whatever the umask.
        if (!mkdtemp(pattern.data())) {
          throw std::runtime_error("Cannot make a temporary folder " + pattern + ": " +
                                   std::strerror(errno));
        }
        return pattern;
      }) {}

}  // namespace app
