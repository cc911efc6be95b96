// Entries another program may have put where a file is expected, each named for what it is
// without being opened (a FIFO opened for reading would wait for a writer).
#include "common/file_entries.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace common {
namespace {

namespace fs = std::filesystem;

TEST(FileEntries, EachEntryThatIsNoPlainFileIsNamedForWhatItIs) {
  std::string pattern = (fs::temp_directory_path() / "file-entries-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  fs::path folder = pattern;
  std::ofstream(folder / "file") << "x";
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  fs::create_symlink(folder / "file", folder / "link");
  fs::create_symlink(folder / "missing", folder / "dangling");
  fs::create_directory(folder / "folder");
  EXPECT_EQ(NonPlainKindAt((folder / "file").string()), "");
  EXPECT_EQ(NonPlainKindAt((folder / "missing").string()), "");
  EXPECT_EQ(NonPlainKindAt((folder / "fifo").string()), "a FIFO");
  EXPECT_EQ(NonPlainKindAt((folder / "link").string()), "a symbolic link");
  EXPECT_EQ(NonPlainKindAt((folder / "dangling").string()), "a symbolic link");
  EXPECT_EQ(NonPlainKindAt((folder / "folder").string()), "a folder");
  EXPECT_EQ(NonPlainKindAt("/dev/null"), "a device");
  fs::remove_all(folder);
}

TEST(FileEntries, ADescriptorIsClosedOnceByItsLastOwner) {
  FileDescriptor first(open("/dev/null", O_RDONLY | O_CLOEXEC));
  int fd = first.get();
  ASSERT_GE(fd, 0);
  FileDescriptor second(std::move(first));
  EXPECT_EQ(first.get(), -1);  // NOLINT: the moved-from owner holds nothing
  EXPECT_EQ(second.get(), fd);
  EXPECT_NE(fcntl(fd, F_GETFD), -1);
  second = FileDescriptor();
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

}  // namespace
}  // namespace common
