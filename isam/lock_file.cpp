#include "isam/lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "isam/failure.h"
#include "isam/file_lookup.h"

namespace isam {
namespace {

struct flock Range(short type, uint64_t byte) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(byte);
  lock.l_len = 1;
  lock.l_pid = 0;  // required by open-file-description locks
  return lock;
}

}  // namespace

LockFile::LockFile(const std::string& table_path) : path_(PathFor(table_path)) {
  // The folder may be writable by others: a link planted in the lock file's place is never
  // followed, lest the open create or lock the file it leads to, and the open never waits (on a
  // named pipe or a device planted there).
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
               0666);
  if (fd_ < 0) {
    int error = errno;
    RefuseUnlessPlainFile(path_, "The lock file");
    Fail(ISAM_ERR_IO, "Cannot open the lock file " + path_ + ": " + std::strerror(error));
  }
  // A pipe or a device would take no locks, or block the program.
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    FailNotPlainFile(path_, "The lock file", st.st_mode);
  }
}

LockFile::~LockFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool LockFile::TryLock(uint64_t byte, bool exclusive) {
  struct flock lock = Range(exclusive ? F_WRLCK : F_RDLCK, byte);
  while (::fcntl(fd_, F_OFD_SETLK, &lock) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return false;
    Fail(ISAM_ERR_IO, "Cannot lock in " + path_ + ": " + std::strerror(errno));
  }
  return true;
}

void LockFile::Unlock(uint64_t byte) {
  struct flock lock = Range(F_UNLCK, byte);
  ::fcntl(fd_, F_OFD_SETLK, &lock);
}

bool LockFile::LockedElsewhere(uint64_t byte) {
  struct flock lock = Range(F_WRLCK, byte);
  if (::fcntl(fd_, F_OFD_GETLK, &lock) != 0) {
    Fail(ISAM_ERR_IO, "Cannot test a lock in " + path_ + ": " + std::strerror(errno));
  }
  return lock.l_type != F_UNLCK;
}

bool LockFile::StillNamed() const {
  struct stat open_file {};
  struct stat named {};
  return ::fstat(fd_, &open_file) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

void LockFile::RemoveName() const {
  ::unlink(path_.c_str());
}

bool LockFile::LockedByAnyone(const std::string& table_path, uint64_t byte) {
  common::FileDescriptor file(::open(PathFor(table_path).c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  struct flock lock = Range(F_WRLCK, byte);
  return ::fcntl(file.get(), F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

std::shared_ptr<LockFile> OpenMarkHolds::Take(const std::string& table_path) {
  std::erase_if(holds_, [](const auto& entry) { return entry.second.expired(); });
  if (auto held = holds_[table_path].lock()) return held;
  auto hold = std::make_shared<LockFile>(table_path);
  if (!hold->TryLock(0, true)) {
    Fail(ISAM_ERR_TABLE_IN_USE,
         "The table " + table_path +
             " is open in another program, on this computer or another one. In a network folder "
             "Rivenoak changes a table only while no other program has it open; close the "
             "practice there and try again");
  }
  holds_[table_path] = hold;
  return hold;
}

}  // namespace isam
