// How each interface function runs its body: under the engine's lock, with every failure turned
// into the returned code and the thread's last error.
#ifndef RIVENOAK_ISAM_GUARD_H_
#define RIVENOAK_ISAM_GUARD_H_

#include "isam/internal_header.h"

#include <mutex>
#include <new>
#include <string>

#include "isam/failure.h"
#include "isam/registry.h"

namespace isam {

void SetLastError(IsamResult code, const std::string& text);

// Refuses a null pointer argument, naming what was missing.
void Need(const void* pointer, const char* what);
// Copies a text with its NUL; the buffer's size is *length on entry, the text's length on return.
void CopyOut(const std::string& text, char* buffer, uint16_t* length);

// After a failed call: SQLite may have ended a connection's transaction over it (a full disk, a
// constraint declared ON CONFLICT ROLLBACK), whatever the call was; each connection meets that at
// once (Connection::CheckTransaction), so that nothing read in it is served from memory.
void MeetEndedTransactions() noexcept;

template <typename F>
IsamResult Guard(F&& body) {
  try {
    Registry& registry = Registry::Get();
    std::lock_guard<std::recursive_mutex> lock(registry.mutex());
    registry.CountCall();
    body();
    return ISAM_SUCCESS;
  } catch (const Failure& failure) {
    MeetEndedTransactions();
    SetLastError(failure.code(), failure.what());
    return failure.code();
  } catch (const std::bad_alloc&) {
    SetLastError(ISAM_ERR_INTERNAL, "Out of memory");
  } catch (const std::exception& e) {
    SetLastError(ISAM_ERR_INTERNAL, std::string("Internal error: ") + e.what());
  }
  return ISAM_ERR_INTERNAL;
}

}  // namespace isam

#endif  // RIVENOAK_ISAM_GUARD_H_
