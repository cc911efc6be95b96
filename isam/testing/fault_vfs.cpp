// The fault VFS (fault_vfs.h): a shim whose file methods count the operations that change files
// and meet the fault chosen at the one armed, passing everything else to the platform's VFS.
// Its state is process-wide, as SQLite's default VFS is: a test makes one while no other thread
// opens files, and SQLite's own lock guards the registration.
#include "isam/testing/fault_vfs.h"

#include <unistd.h>

namespace isam::testing {
namespace {

constexpr int kKilledExitCode = 86;

// The shim's file: the real VFS's file follows it in the same allocation.
struct ShimFile {
  sqlite3_file base;
  FaultVfs* owner;
  sqlite3_file* real;
};

ShimFile* Shim(sqlite3_file* file) {
  return reinterpret_cast<ShimFile*>(file);
}
sqlite3_file* Real(sqlite3_file* file) {
  return Shim(file)->real;
}
FaultVfs* Owner(sqlite3_vfs* vfs) {
  return static_cast<FaultVfs*>(vfs->pAppData);
}
sqlite3_vfs* RealVfs() {
  return sqlite3_vfs_find(nullptr);
}
// The platform's own VFS, which the shim passes everything to.
sqlite3_vfs* Unix() {
  return sqlite3_vfs_find("unix");
}

int Close(sqlite3_file* f) {
  return Real(f)->pMethods->xClose(Real(f));
}
int Read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return Real(f)->pMethods->xRead(Real(f), buffer, amount, offset);
}
int Write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  if (int rc = Shim(f)->owner->Change(true); rc != SQLITE_OK) return rc;
  return Real(f)->pMethods->xWrite(Real(f), buffer, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  if (int rc = Shim(f)->owner->Change(false); rc != SQLITE_OK) return rc;
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
  if (int rc = Shim(f)->owner->Change(false); rc != SQLITE_OK) return rc;
  return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) {
  return Real(f)->pMethods->xLock(Real(f), level);
}
int Unlock(sqlite3_file* f, int level) {
  return Real(f)->pMethods->xUnlock(Real(f), level);
}
int CheckReservedLock(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) {
  return Real(f)->pMethods->xSectorSize(Real(f));
}
int DeviceCharacteristics(sqlite3_file* f) {
  return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}

// The write-ahead log's index lives in shared memory, which holds nothing that outlives the
// processes using it: passed through uncounted.
int ShmMap(sqlite3_file* f, int page, int page_size, int extend, void volatile** out) {
  return Real(f)->pMethods->xShmMap(Real(f), page, page_size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) {
  Real(f)->pMethods->xShmBarrier(Real(f));
}
int ShmUnmap(sqlite3_file* f, int delete_flag) {
  return Real(f)->pMethods->xShmUnmap(Real(f), delete_flag);
}

// Version 2: shared memory, but no memory mapping, so every change of a file passes through
// Write.
const sqlite3_io_methods kMethods = {2,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     nullptr,
                                     nullptr};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  ShimFile* shim = Shim(file);
  shim->owner = Owner(vfs);
  shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
  shim->base.pMethods = nullptr;
  int rc = Unix()->xOpen(Unix(), name, shim->real, flags, out_flags);
  if (shim->real->pMethods) shim->base.pMethods = &kMethods;
  return rc;
}

int Delete(sqlite3_vfs* vfs, const char* name, int sync_dir) {
  if (int rc = Owner(vfs)->Change(false); rc != SQLITE_OK) return rc;
  return Unix()->xDelete(Unix(), name, sync_dir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return Unix()->xAccess(Unix(), name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return Unix()->xFullPathname(Unix(), name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) {
  return Unix()->xDlOpen(Unix(), name);
}
void DlError(sqlite3_vfs*, int size, char* out) {
  Unix()->xDlError(Unix(), size, out);
}
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return Unix()->xDlSym(Unix(), handle, symbol);
}
void DlClose(sqlite3_vfs*, void* handle) {
  Unix()->xDlClose(Unix(), handle);
}
int Randomness(sqlite3_vfs*, int size, char* out) {
  return Unix()->xRandomness(Unix(), size, out);
}
int Sleep(sqlite3_vfs*, int microseconds) {
  return Unix()->xSleep(Unix(), microseconds);
}
int CurrentTime(sqlite3_vfs*, double* out) {
  return Unix()->xCurrentTime(Unix(), out);
}
int GetLastError(sqlite3_vfs*, int size, char* out) {
  return Unix()->xGetLastError(Unix(), size, out);
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return Unix()->xCurrentTimeInt64(Unix(), out);
}

}  // namespace

FaultVfs::FaultVfs() : real_(RealVfs()) {
  vfs_.iVersion = 2;
  vfs_.szOsFile = static_cast<int>(sizeof(ShimFile)) + Unix()->szOsFile;
  vfs_.mxPathname = Unix()->mxPathname;
  vfs_.zName = "rivenoak-fault";
  vfs_.pAppData = this;
  vfs_.xOpen = Open;
  vfs_.xDelete = Delete;
  vfs_.xAccess = Access;
  vfs_.xFullPathname = FullPathname;
  vfs_.xDlOpen = DlOpen;
  vfs_.xDlError = DlError;
  vfs_.xDlSym = DlSym;
  vfs_.xDlClose = DlClose;
  vfs_.xRandomness = Randomness;
  vfs_.xSleep = Sleep;
  vfs_.xCurrentTime = CurrentTime;
  vfs_.xGetLastError = GetLastError;
  vfs_.xCurrentTimeInt64 = CurrentTimeInt64;
  sqlite3_vfs_register(&vfs_, 1);
}

FaultVfs::~FaultVfs() {
  sqlite3_vfs_unregister(&vfs_);
  if (real_) sqlite3_vfs_register(real_, 1);
}

void FaultVfs::Arm(int at, Fault fault) {
  operations_ = 0;
  at_ = at;
  fault_ = fault;
  fired_ = false;
}

int FaultVfs::Change(bool is_write) {
  ++operations_;
  if (fault_ == Fault::kNone || operations_ < at_) return SQLITE_OK;
  if (fault_ == Fault::kKillProcess) _exit(kKilledExitCode);
  if (!is_write) return SQLITE_OK;
  fired_ = true;
  return SQLITE_FULL;
}

}  // namespace isam::testing
