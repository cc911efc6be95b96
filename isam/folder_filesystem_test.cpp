// The filesystem of a folder, found from recorded statfs answers and mount-table lines of real
// systems.
#include "isam/folder_filesystem.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace isam {
namespace {

class RecordedProbe : public FilesystemProbe {
 public:
  RecordedProbe(std::optional<uint64_t> magic, std::string mount_info)
      : magic_(magic), mount_info_(std::move(mount_info)) {}
  std::optional<uint64_t> Magic(const std::string&) const override { return magic_; }
  std::string MountInfo() const override { return mount_info_; }
  std::string RealPath(const std::string& folder) const override { return folder; }

 private:
  std::optional<uint64_t> magic_;
  std::string mount_info_;
};

// The root and a few system mounts, as a container shows them; each case adds its own line.
const std::string kBaseMounts =
    "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw,size=24683784k\n";

struct Case {
  const char* name;
  std::optional<uint64_t> magic;
  const char* mount_line;  // mounted over /srv/practice
  bool remote;
  const char* type;
  const char* local_locks;
};

const Case kCases[] = {
    {"nfs4", 0x6969,
     "612 27 0:58 / /srv/practice rw,relatime shared:310 - nfs4 files:/export/medisoft "
     "rw,vers=4.2,rsize=1048576,wsize=1048576,namlen=255,hard,proto=tcp,timeo=600,retrans=2,"
     "sec=sys,clientaddr=10.0.0.5,local_lock=none,addr=10.0.0.2",
     true, "nfs4", ""},
    {"nfs3 nolock", 0x6969,
     "613 27 0:59 / /srv/practice rw,relatime shared:311 - nfs files:/export/medisoft "
     "rw,vers=3,rsize=65536,wsize=65536,namlen=255,hard,nolock,proto=tcp,timeo=600,retrans=2,"
     "sec=sys,mountaddr=10.0.0.2,mountvers=3,mountport=20048,mountproto=udp,local_lock=all,"
     "addr=10.0.0.2",
     true, "nfs", "nolock"},
    {"nfs4 local_lock=posix", 0x6969,
     "614 27 0:60 / /srv/practice rw,relatime - nfs4 files:/export/medisoft "
     "rw,vers=4.1,hard,proto=tcp,sec=sys,local_lock=posix,addr=10.0.0.2",
     true, "nfs4", "local_lock=posix"},
    {"cifs", 0xFF534D42,
     "701 27 0:61 / /srv/practice rw,relatime shared:402 - cifs //server/medisoft "
     "rw,vers=3.1.1,cache=strict,username=office,uid=1000,noforceuid,gid=1000,noforcegid,"
     "addr=192.168.1.10,file_mode=0755,dir_mode=0755,soft,nounix,serverino,mapposix,rsize=4194304,"
     "wsize=4194304,bsize=1048576,echo_interval=60,actimeo=1,closetimeo=1",
     true, "cifs", ""},
    {"cifs nobrl", 0xFE534D42,
     "702 27 0:62 / /srv/practice rw,relatime shared:403 - cifs //server/medisoft "
     "rw,vers=3.0,cache=strict,username=office,uid=1000,noforceuid,gid=1000,noforcegid,"
     "addr=192.168.1.10,file_mode=0755,dir_mode=0755,soft,nounix,nobrl,serverino,mapposix,"
     "rsize=4194304,wsize=4194304,bsize=1048576,echo_interval=60,actimeo=1",
     true, "cifs", "nobrl"},
    {"sshfs", 0x65735546,
     "803 27 0:63 / /srv/practice rw,nosuid,nodev,relatime shared:500 - fuse.sshfs "
     "office@server:/srv/medisoft rw,user_id=1000,group_id=1000",
     true, "fuse.sshfs", "sshfs forwards no locks"},
    {"glusterfs", 0x65735546,
     "804 27 0:64 / /srv/practice rw,relatime shared:501 - fuse.glusterfs server:/medisoft "
     "rw,user_id=0,group_id=0,default_permissions,allow_other,max_read=131072",
     true, "fuse.glusterfs", ""},
    {"ceph", 0x00C36400,
     "805 27 0:65 / /srv/practice rw,relatime - ceph 10.0.0.3:6789:/medisoft "
     "rw,name=office,secret=<hidden>,acl",
     true, "ceph", ""},
    {"ext4", 0xEF53,
     "98 27 8:17 / /srv/practice rw,relatime shared:40 - ext4 /dev/sdb1 rw,errors=remount-ro",
     false, "ext4", ""},
    {"tmpfs", 0x01021994,
     "99 27 0:45 / /srv/practice rw,nosuid,nodev shared:41 - tmpfs tmpfs rw,size=1638400k,mode=755",
     false, "tmpfs", ""},
    {"overlayfs", 0x794C7630,
     "100 27 0:46 / /srv/practice rw,relatime - overlay overlay "
     "rw,lowerdir=/var/lib/docker/overlay2/l/ABC:/var/lib/docker/overlay2/l/DEF,"
     "upperdir=/var/lib/docker/overlay2/1f/diff,workdir=/var/lib/docker/overlay2/1f/work",
     false, "overlay", ""},
    // FUSE: local only by a type known to keep its data here; sshfs under a name of its own
    // choosing, or a folder shown again (which may be a share), counts as a network folder.
    {"sshfs renamed", 0x65735546,
     "803 27 0:63 / /srv/practice rw,nosuid,nodev,relatime shared:500 - fuse.netdrive "
     "office@server:/srv/medisoft rw,user_id=1000,group_id=1000",
     true, "fuse.netdrive", ""},
    {"FUSE without a subtype", 0x65735546,
     "808 27 0:68 / /srv/practice rw,nosuid,nodev,relatime - fuse /dev/fuse "
     "rw,user_id=1000,group_id=1000",
     true, "fuse", ""},
    {"encfs", 0x65735546,
     "806 27 0:66 / /srv/practice rw,nosuid,nodev,relatime - fuse.encfs encfs "
     "rw,user_id=1000,group_id=1000,default_permissions",
     true, "fuse.encfs", ""},
    {"ntfs-3g", 0x65735546,
     "809 27 8:18 / /srv/practice rw,nosuid,nodev,relatime - fuseblk /dev/sdb2 "
     "rw,user_id=0,group_id=0,allow_other,blksize=4096",
     false, "fuseblk", ""},
    {"fuse-overlayfs", 0x65735546,
     "810 27 0:69 / /srv/practice rw,nodev,relatime - fuse.fuse-overlayfs fuse-overlayfs "
     "rw,user_id=0,group_id=0,default_permissions,allow_other",
     false, "fuse.fuse-overlayfs", ""},
    // A magic number of no known filesystem: a network one, its mount options still heeded.
    {"VirtualBox shared folder", 0x786F4256,
     "811 27 0:70 / /srv/practice rw,nodev,relatime - vboxsf medisoft rw,ttl=0", true, "vboxsf",
     ""},
    {"unknown magic, no locks", 0x12345678,
     "812 27 0:71 / /srv/practice rw,relatime - netfs server:/x rw,nolock", true, "netfs",
     "nolock"},
    {"unknown magic on nfs", 0x12345678,
     "807 27 0:67 / /srv/practice rw,relatime - nfs server:/x rw,vers=3,hard,addr=10.0.0.2", true,
     "nfs", ""},
};

TEST(FolderFilesystem, RecognisesRecordedMounts) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    RecordedProbe probe(c.magic, kBaseMounts + c.mount_line + "\n");
    FolderFilesystem found = FindFolderFilesystem("/srv/practice/Data", probe);
    EXPECT_EQ(found.remote, c.remote);
    EXPECT_EQ(found.type, c.type);
    EXPECT_EQ(found.local_locks, c.local_locks);
  }
}

TEST(FolderFilesystem, TheDeepestMountHoldsTheFolder) {
  // A local disk mounted inside a share, and a share whose name only begins like the folder's.
  std::string mounts = kBaseMounts +
                       "701 27 0:61 / /srv rw - cifs //server/srv rw,nobrl\n"
                       "98 701 8:17 / /srv/practice rw - ext4 /dev/sdb1 rw\n"
                       "702 27 0:62 / /srv/practice2 rw - nfs4 files:/x rw,local_lock=all\n";
  RecordedProbe probe(0x65735546, mounts);
  EXPECT_FALSE(FindFolderFilesystem("/srv/practice", probe).remote);
  FolderFilesystem share = FindFolderFilesystem("/srv/other", probe);
  EXPECT_TRUE(share.remote);
  EXPECT_EQ(share.local_locks, "nobrl");
  EXPECT_EQ(FindFolderFilesystem("/srv/practice2/x", probe).local_locks, "local_lock=all");
}

TEST(FolderFilesystem, EscapedMountPointsAndBrokenLines) {
  std::string mounts = kBaseMounts +
                       "garbage line\n\n"
                       "702 27 0:62 / /mnt/Office\\040Share rw - cifs //server/s rw,nobrl\n";
  RecordedProbe probe(std::nullopt, mounts);
  FolderFilesystem found = FindFolderFilesystem("/mnt/Office Share/Data", probe);
  EXPECT_TRUE(found.remote);
  EXPECT_EQ(found.local_locks, "nobrl");
  // Without an answer from statfs or the mount table, nothing is known: treated as local.
  RecordedProbe silent(std::nullopt, "");
  EXPECT_FALSE(FindFolderFilesystem("/anywhere", silent).remote);
  // A network magic without a mount table is remote, its locks taken as passed on; so is FUSE
  // and any magic of no known filesystem.
  for (auto [magic, type] : {std::pair<uint64_t, const char*>{0xFF534D42, "cifs"},
                             {0x65735546, "fuse"},
                             {0x12345678, "unknown"}}) {
    SCOPED_TRACE(type);
    RecordedProbe magic_only(magic, "");
    FolderFilesystem alone = FindFolderFilesystem("/anywhere", magic_only);
    EXPECT_TRUE(alone.remote);
    EXPECT_EQ(alone.type, type);
    EXPECT_EQ(alone.local_locks, "");
  }
  RecordedProbe ext4_only(0xEF53, "");
  EXPECT_FALSE(FindFolderFilesystem("/anywhere", ext4_only).remote);
}

TEST(FolderFilesystem, ThisMachinesTemporaryFolderIsLocal) {
  EXPECT_FALSE(FindFolderFilesystem(testing::TempDir(), SystemFilesystemProbe()).remote);
}

TEST(FolderFilesystem, TheRefusalNamesFolderFilesystemOptionAndTheWayOut) {
  FolderFilesystem nobrl{true, "cifs", "nobrl"};
  std::string text = LocalLocksText("/mnt/office", nobrl);
  for (const char* part : {"/mnt/office", "cifs", "nobrl", "rivenoak backup /mnt/office",
                           "rivenoak restore ~/practice-done /mnt/office", "Nothing was changed"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " missing from: " << text;
  }
}

}  // namespace
}  // namespace isam
