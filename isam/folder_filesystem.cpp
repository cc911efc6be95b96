#include "isam/folder_filesystem.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/vfs.h>

#include <climits>
#include <cstdlib>
#endif

namespace isam {
namespace {

// statfs magic numbers of filesystems that are surely on this computer: no mount table needed.
// Any magic that is neither here, nor FUSE's, is taken for a network filesystem: a folder taken
// for remote is only written more carefully, one taken for local where it is not would be
// corrupted by two computers at once.
constexpr uint64_t kLocalMagics[] = {
    0xEF53,      // ext2, ext3, ext4
    0x58465342,  // xfs
    0x9123683E,  // btrfs
    0x01021994,  // tmpfs
    0x858458F6,  // ramfs
    0x794C7630,  // overlayfs
    0x2FC12FC1,  // zfs
    0xF2F52010,  // f2fs
    0xCA451A4E,  // bcachefs
    0x52654973,  // reiserfs
    0x3153464A,  // jfs
    0x3434,      // nilfs2
    0x4D44,      // vfat
    0x2011BAB0,  // exfat
    0x5346544E,  // ntfs
    0x7366746E,  // ntfs3
    0x482B,      // hfsplus
    0x15013346,  // udf
};

// FUSE's own magic: the mount table's type tells which FUSE filesystem it is.
constexpr uint64_t kFuseMagic = 0x65735546;

struct KnownMagic {
  uint64_t magic;
  const char* type;
};
// Network and cluster filesystems; their mount options still decide where locks are kept.
constexpr KnownMagic kRemoteMagics[] = {
    {0x6969, "nfs"},       {0xFF534D42, "cifs"}, {0xFE534D42, "smb3"},   {0x517B, "smbfs"},
    {0x00C36400, "ceph"},  {0x01021997, "9p"},   {0x73757245, "coda"},   {0x5346414F, "afs"},
    {0x6B414653, "afs"},   {0x564C, "ncpfs"},    {0x0BD00BD0, "lustre"}, {0x47504653, "gpfs"},
    {0x7461636F, "ocfs2"}, {0x01161970, "gfs2"}, {0x19830326, "beegfs"},
};

// Filesystem types in the mount table that are reached over a network ("fuse." before a FUSE
// filesystem's own name).
bool IsRemoteType(const std::string& type) {
  static const char* const kTypes[] = {
      "nfs",    "nfs4", "cifs",  "smb3", "smbfs",  "ceph",  "9p",        "coda", "afs",    "ncpfs",
      "lustre", "gpfs", "ocfs2", "gfs2", "beegfs", "sshfs", "glusterfs", "s3fs", "rclone", "davfs"};
  std::string base = type.rfind("fuse.", 0) == 0 ? type.substr(5) : type;
  return std::find(std::begin(kTypes), std::end(kTypes), base) != std::end(kTypes);
}

bool IsFuseType(const std::string& type) {
  return type == "fuse" || type == "fuseblk" || type.rfind("fuse.", 0) == 0;
}

// A FUSE filesystem is whatever program serves it, under whatever name its mount gives
// (`-o subtype=` renames sshfs at will), so one counts as local only when its type is known to
// keep its data on this computer:
// - fuseblk, ntfs-3g: a driver of a disk partition (ntfs-3g, exfat-fuse), whose source is a
//   block device of this computer;
// - fuse-overlayfs: the layered storage of rootless containers, over folders of a local disk.
// Filesystems that show another folder again (bindfs, encfs, gocryptfs, mergerfs) are not
// here: the folder they show may itself be a share, which the FUSE mount hides.
bool IsLocalFuseType(const std::string& type) {
  static const char* const kTypes[] = {"fuseblk", "fuse.ntfs-3g", "fuse.fuse-overlayfs"};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

bool IsOctal(char c) {
  return c >= '0' && c <= '7';
}

// The mount table escapes blanks, tabs, newlines and backslashes as octal.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
        IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
      out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

struct Mount {
  std::string point;
  std::string type;
  std::string options;  // the mount's own and the filesystem's, comma separated
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// A mountinfo line: "ID PARENT MAJ:MIN ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER".
std::optional<Mount> ParseMountLine(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; in >> field;) fields.push_back(field);
  auto dash = std::find(fields.begin(), fields.end(), "-");
  if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 ||
      fields.end() - dash < 3) {
    return std::nullopt;
  }
  Mount mount;
  mount.point = Unescape(fields[4]);
  mount.type = dash[1];
  mount.options = fields[5];
  if (fields.end() - dash >= 4) mount.options += "," + dash[3];
  return mount;
}

bool Contains(const std::string& mount_point, const std::string& path) {
  if (mount_point == "/") return true;
  return path.rfind(mount_point, 0) == 0 &&
         (path.size() == mount_point.size() || path[mount_point.size()] == '/');
}

// The mount that the path lies on: the deepest mount point above it, the last mounted of equals.
std::optional<Mount> MountOf(const std::string& path, const std::string& mount_info) {
  std::optional<Mount> found;
  std::istringstream in(mount_info);
  for (std::string line; std::getline(in, line);) {
    std::optional<Mount> mount = ParseMountLine(line);
    if (!mount || !Contains(mount->point, path)) continue;
    if (!found || mount->point.size() >= found->point.size()) found = mount;
  }
  return found;
}

// The option of a network mount that keeps locks on this computer, or empty.
std::string LocalLockOption(const Mount& mount) {
  std::string base = mount.type.rfind("fuse.", 0) == 0 ? mount.type.substr(5) : mount.type;
  if (base == "sshfs") return "sshfs forwards no locks";
  for (const std::string& option : Split(mount.options, ',')) {
    if (option == "nobrl" || option == "nolock") return option;
    if (option == "local_lock=all" || option == "local_lock=posix") return option;
  }
  return "";
}

#ifndef _WIN32
class SystemProbe : public FilesystemProbe {
 public:
  std::optional<uint64_t> Magic(const std::string& folder) const override {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0) return std::nullopt;
    return static_cast<uint64_t>(info.f_type) & 0xFFFFFFFFu;
  }
  std::string MountInfo() const override {
    std::ifstream in("/proc/self/mountinfo");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string RealPath(const std::string& folder) const override {
    char resolved[PATH_MAX];
    return ::realpath(folder.c_str(), resolved) ? std::string(resolved) : folder;
  }
};
#endif

}  // namespace

#ifdef _WIN32
// Windows answers the drive type of the volume itself; the probe is not asked. Like the probe
// below, one for the process that holds nothing and never changes: no lock guards it.
const FilesystemProbe& SystemFilesystemProbe() {
  struct NoProbe : FilesystemProbe {
    std::optional<uint64_t> Magic(const std::string&) const override { return std::nullopt; }
    std::string MountInfo() const override { return ""; }
    std::string RealPath(const std::string& folder) const override { return folder; }
  };
  static const NoProbe probe;
  return probe;
}

FolderFilesystem FindFolderFilesystem(const std::string& folder, const FilesystemProbe&) {
  FolderFilesystem found;
  bool unc = folder.size() > 2 && (folder[0] == '\\' || folder[0] == '/') &&
             (folder[1] == '\\' || folder[1] == '/');
  char root[MAX_PATH] = {};
  if (unc ||
      (GetVolumePathNameA(folder.c_str(), root, MAX_PATH) && GetDriveTypeA(root) == DRIVE_REMOTE)) {
    found.remote = true;
    found.type = "network drive";
  } else {
    found.type = "local drive";
  }
  return found;
}
#else
const FilesystemProbe& SystemFilesystemProbe() {
  // One for the process, since it holds nothing: made at its first use (C++ makes that once
  // whatever the threads) and never changed after, so no lock guards it.
  static const SystemProbe probe;
  return probe;
}

namespace {

bool IsLocalMagic(uint64_t magic) {
  return std::find(std::begin(kLocalMagics), std::end(kLocalMagics), magic) !=
         std::end(kLocalMagics);
}

// The filesystem's name when no mount table gives it.
std::string NameOfMagic(uint64_t magic) {
  if (magic == kFuseMagic) return "fuse";
  for (const KnownMagic& known : kRemoteMagics) {
    if (known.magic == magic) return known.type;
  }
  return "unknown";
}

// Whether the mount is reached over a network, where its magic number leaves that to the mount
// table: the known network types, and every FUSE filesystem not known to be local.
bool IsRemoteMount(const Mount& mount) {
  if (IsRemoteType(mount.type)) return true;
  return IsFuseType(mount.type) && !IsLocalFuseType(mount.type);
}

}  // namespace

FolderFilesystem FindFolderFilesystem(const std::string& folder, const FilesystemProbe& probe) {
  FolderFilesystem found;
  std::optional<uint64_t> magic = probe.Magic(folder);
  std::optional<Mount> mount = MountOf(probe.RealPath(folder), probe.MountInfo());
  if (mount) found.type = mount->type;
  if (magic && IsLocalMagic(*magic)) {
    if (!mount) found.type = "local";
    return found;
  }
  if (magic && !mount) found.type = NameOfMagic(*magic);
  if (magic && *magic != kFuseMagic) {
    found.remote = true;  // a network filesystem's magic, known or not
  } else if (mount) {
    found.remote = IsRemoteMount(*mount);
  } else {
    // FUSE without a mount table to name it is taken for a network one; with no answer at all
    // nothing is known, and the folder is taken for local.
    found.remote = magic.has_value();
  }
  if (found.remote && mount) found.local_locks = LocalLockOption(*mount);
  return found;
}
#endif

std::string LocalLocksText(const std::string& folder, const FolderFilesystem& filesystem) {
  bool is_option = filesystem.local_locks.find(' ') == std::string::npos;
  std::string why = is_option ? "mounted with " + filesystem.local_locks : filesystem.local_locks;
  std::string remedy = is_option ? "Mount it with locks (without " + filesystem.local_locks + ")"
                                 : "Mount it another way that passes locks on (SMB or NFS)";
  return "Rivenoak will not change the practice in " + folder +
         ": the folder is on a network "
         "filesystem (" +
         filesystem.type + ") " + why +
         ", which keeps file locks on this computer only, so no program can know whether "
         "another computer has the practice's tables open, and changes made at the same time "
         "would corrupt them. Nothing was changed. " +
         remedy + ", or work on a copy on a local disk: rivenoak backup " + folder +
         " ~/practice-backup; mkdir ~/practice; rivenoak restore ~/practice-backup ~/practice; "
         "rivenoak run "
         "~/practice (or choose it in the window); rivenoak backup ~/practice ~/practice-done; "
         "then, on the file server itself or where the share is mounted with locks, rivenoak "
         "restore ~/practice-done " +
         folder;
}

}  // namespace isam
