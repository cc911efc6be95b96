// Which filesystem a connection's folder is on, and whether file locks taken there reach every
// computer that uses it.
//
// On a network filesystem (a file server's share over SMB/CIFS or NFS, a cluster filesystem, a
// folder mounted over ssh) SQLite's locks and our open marks are only as good as the mount passes
// them on, and write-ahead mode does not work at all. Some mounts keep locks on this computer
// alone: CIFS with `nobrl`, NFS with `nolock` or `local_lock=all|posix`, sshfs always. There no
// program can know whether another computer has a table open.
//
// Linux asks statfs for the filesystem's magic number, and for FUSE, network filesystems (whose
// mount options matter) and anything unknown reads the mount's type and options in
// /proc/self/mountinfo. What is not known to be local counts as a network filesystem: a magic
// number not on the list of local ones, and a FUSE filesystem whose type is not on the short list
// of local ones (any server can mount under any FUSE name). Windows asks the volume's drive type;
// a UNC path is remote.
#ifndef RIVENOAK_ISAM_FOLDER_FILESYSTEM_H_
#define RIVENOAK_ISAM_FOLDER_FILESYSTEM_H_

#include "isam/internal_header.h"

#include <cstdint>
#include <optional>
#include <string>

namespace isam {

struct FolderFilesystem {
  bool remote = false;
  // The filesystem's name as the system calls it ("ext4", "nfs4", "cifs", "fuse.sshfs"), or
  // "unknown".
  std::string type = "unknown";
  // Why locks stay on this computer (a mount option such as "nobrl", or "sshfs forwards no
  // locks"); empty when they reach the server, or the folder is local.
  std::string local_locks;
};

// What the detection asks of the system; tests replace it with recorded answers.
class FilesystemProbe {
 public:
  virtual ~FilesystemProbe() = default;
  // statfs's f_type for the folder; none when it cannot be asked.
  virtual std::optional<uint64_t> Magic(const std::string& folder) const = 0;
  // The text of /proc/self/mountinfo; empty when it cannot be read.
  virtual std::string MountInfo() const = 0;
  // The folder as an absolute path with symbolic links resolved (the folder itself when that
  // fails).
  virtual std::string RealPath(const std::string& folder) const = 0;
};

// The running system's answers.
const FilesystemProbe& SystemFilesystemProbe();

FolderFilesystem FindFolderFilesystem(const std::string& folder, const FilesystemProbe& probe);

// What to tell a user when a change of a practice in `folder` is refused because locks there stay
// on this computer: the folder, the filesystem, the option, and how to run safely.
std::string LocalLocksText(const std::string& folder, const FolderFilesystem& filesystem);

}  // namespace isam

#endif  // RIVENOAK_ISAM_FOLDER_FILESYSTEM_H_
