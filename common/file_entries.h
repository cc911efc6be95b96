// Entries of a folder as the system keeps them: an open file descriptor closed with its owner,
// and what an entry that is no plain file is, in words. Practice folders and backups are written
// by others: a FIFO or a device in a table's place would hold the program up, and a link would
// lead anywhere, so every layer looks at an entry itself and names such an entry the same way.
#ifndef RIVENOAK_COMMON_FILE_ENTRIES_H_
#define RIVENOAK_COMMON_FILE_ENTRIES_H_

#include <sys/types.h>

#include <string>

namespace common {

// A file descriptor, closed when the object ends; negative when there is none (an open that
// failed).
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// What an entry of the file type `mode` is, in words ("a symbolic link", "a FIFO", "a socket",
// "a device", "a folder"); empty for a plain file.
std::string NonPlainKind(mode_t mode);

// NonPlainKind of the entry at `path` itself, never of what a link leads to; empty also when
// there is no entry. Opens nothing, so it never waits.
std::string NonPlainKindAt(const std::string& path);

}  // namespace common

#endif  // RIVENOAK_COMMON_FILE_ENTRIES_H_
