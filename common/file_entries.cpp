// Entries of a folder: descriptors and the kinds of entries that are no plain file (see the
// header).
#include "common/file_entries.h"

#include <sys/stat.h>
#include <unistd.h>

namespace common {

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

std::string NonPlainKind(mode_t mode) {
  if (S_ISREG(mode)) return "";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "an entry of an unknown kind";
}

std::string NonPlainKindAt(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return "";
  return NonPlainKind(st.st_mode);
}

}  // namespace common
