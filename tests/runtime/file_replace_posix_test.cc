// Replacement on POSIX systems: modes, owners, set-id bits, access control
// lists, symlinks, locks, and other programs renaming or writing meanwhile.
#include "runtime/file_replace.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "tests/file_replace_support.h"
#include "tests/test_seams.h"
#include "tests/test_support.h"

namespace {

// Read-only means no write bit at all: a file that only its group or others
// may write is written by whoever the system lets write it (here root).
TEST(Replacement, AWriteBitForGroupOrOthersIsNoReadOnlyFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a user whom the group or other bits let write";
  for (mode_t mode : {0460, 0406, 0020}) {
    ScratchDir dir;
    writeBytes(dir.file("f"), "old");
    chmod(dir.file("f").c_str(), mode);
    ReplaceStart start;
    EXPECT_TRUE(replaceWith(dir.file("f"), "new", &start)) << std::oct << mode;
    EXPECT_EQ(readBytes(dir.file("f")), "new") << std::oct << mode;
  }
}

// Replaces path with text in a child that runs as user with the given
// groups (the first is its own). Returns whether the replacement landed.
bool replaceAsUser(const std::string& path, const std::string& text, uid_t user,
                   std::vector<gid_t> groups) {
  pid_t child = fork();
  if (child == 0) {
    if (setgroups(groups.size(), groups.data()) != 0 || setgid(groups[0]) != 0 || setuid(user) != 0)
      _exit(2);
    ReplaceStart start;
    _exit(replaceWith(path, text, &start) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

mode_t modeOf(const std::string& path) {
  struct stat info;
  stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

// Output of a shell command, or a marker when it failed.
std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return "<failed>";
  char chunk[512];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
  return pclose(pipe) == 0 ? output : "<failed>";
}

// dir/f, owned by nobody (65534) in a directory anybody may write, with mode.
bool makeSetIdFileOfNobody(ScratchDir& dir, mode_t mode) {
  chmod(dir.path.c_str(), 0777);
  writeBytes(dir.file("f"), "old");
  return chown(dir.file("f").c_str(), 65534, 65534) == 0 && chmod(dir.file("f").c_str(), mode) == 0;
}

TEST(Replacement, KeepsModeBitsAndFollowsSymlinks) {
  ScratchDir dir;
  writeBytes(dir.file("real"), "old");
  chmod(dir.file("real").c_str(), 02751);
  ASSERT_EQ(symlink("real", dir.file("link").c_str()), 0);
  ReplaceStart start;
  EXPECT_TRUE(replaceWith(dir.file("link"), std::string(10000, 'n'), &start));
  EXPECT_EQ(readBytes(dir.file("real")), std::string(10000, 'n'));
  EXPECT_EQ(modeOf(dir.file("real")), 02751u);
  struct stat info;
  ASSERT_EQ(lstat(dir.file("link").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(listDirectory(dir.path).size(), 2u);  // no temporary file left
}

TEST(Replacement, KeepsOwnerAndGroupWhereTheUserMay) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file away";
  ScratchDir dir;
  writeBytes(dir.file("f"), "old");
  ASSERT_EQ(chown(dir.file("f").c_str(), 65534, 65534), 0);
  ReplaceStart start;
  EXPECT_TRUE(replaceWith(dir.file("f"), "new", &start));
  struct stat info;
  ASSERT_EQ(stat(dir.file("f").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_gid, 65534u);
}

// A write by a non-root owner clears the set-id bits, so they must be set after
// the last byte.
TEST(Replacement, SetIdBitsSurviveWhenTheirOwnerRunsIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  ScratchDir dir;
  ASSERT_TRUE(makeSetIdFileOfNobody(dir, 06755));
  EXPECT_TRUE(replaceAsUser(dir.file("f"), std::string(100000, 'n'), 65534, {65534}));
  EXPECT_EQ(readBytes(dir.file("f")), std::string(100000, 'n'));
  EXPECT_EQ(modeOf(dir.file("f")), 06755u);
}

// Another member of the file's group rewrites it: the new file is that
// user's, so set-user-id would now run as that user, and it is dropped;
// set-group-id still stands for the same group and stays.
TEST(Replacement, SetIdBitsGoOnlyWithTheOwnerOrGroupTheyStandFor) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to unprivileged users";
  ScratchDir dir;
  ASSERT_TRUE(makeSetIdFileOfNobody(dir, 06775));
  // Its own group is 65533; 65534 is a supplementary one.
  EXPECT_TRUE(replaceAsUser(dir.file("f"), "new", 65533, {65533, 65534}));
  struct stat info;
  ASSERT_EQ(stat(dir.file("f").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65533u);
  EXPECT_EQ(info.st_gid, 65534u);
  EXPECT_EQ(info.st_mode & 07777, 02775u);
  EXPECT_EQ(readBytes(dir.file("f")), "new");
}

TEST(Replacement, AccessControlListsAndExtendedAttributesGoWithTheContent) {
  ScratchDir dir;
  const std::string path = dir.file("f");
  writeBytes(path, "old");
  chmod(path.c_str(), 0640);
  if (commandOutput("setfacl -m u:nobody:rw- '" + path + "'") == "<failed>")
    GTEST_SKIP() << "no setfacl, or no access control lists on this file system";
  const std::string value = "kept with the content";
  ASSERT_EQ(setxattr(path.c_str(), "user.origin", value.data(), value.size(), 0), 0);
  const std::string aclBefore = commandOutput("getfacl -cp '" + path + "'");
  const mode_t modeBefore = modeOf(path);
  ReplaceStart start;
  EXPECT_TRUE(replaceWith(path, "new", &start));
  EXPECT_EQ(readBytes(path), "new");
  EXPECT_EQ(commandOutput("getfacl -cp '" + path + "'"), aclBefore);
  EXPECT_NE(aclBefore.find("user:nobody:rw-"), std::string::npos);
  EXPECT_EQ(modeOf(path), modeBefore);
  char got[64] = {};
  EXPECT_EQ(getxattr(path.c_str(), "user.origin", got, sizeof got),
            static_cast<ssize_t>(value.size()));
  EXPECT_EQ(std::string(got), value);
}

// A directory's default list is inherited by every new file in it; the new
// file must still carry exactly the old one's permissions, list or none.
TEST(Replacement, ADefaultAccessListOnTheDirectoryChangesNothing) {
  ScratchDir dir;
  if (commandOutput("setfacl -d -m u:nobody:rwx '" + dir.path + "'") == "<failed>")
    GTEST_SKIP() << "no setfacl, or no access control lists on this file system";
  for (bool ownList : {false, true}) {
    const std::string path = dir.file(ownList ? "listed" : "plain");
    writeBytes(path, "old");
    // Written after the file exists: only the default list speaks for it yet.
    commandOutput("setfacl -b '" + path + "'");
    chmod(path.c_str(), 0664);
    if (ownList) commandOutput("setfacl -m u:daemon:r-- '" + path + "'");
    const std::string before = commandOutput("getfacl -cp '" + path + "'");
    ReplaceStart start;
    EXPECT_TRUE(replaceWith(path, "new", &start)) << ownList;
    EXPECT_EQ(commandOutput("getfacl -cp '" + path + "'"), before) << ownList;
    EXPECT_EQ(before.find("nobody"), std::string::npos) << before;
    EXPECT_EQ(modeOf(path), ownList ? modeOf(path) : 0664u);
  }
}

// Flags the owner set on the file (no dump, no access time) stay with it.
TEST(Replacement, InodeFlagsGoWithTheContent) {
  ScratchDir dir;
  const std::string path = dir.file("f");
  writeBytes(path, "old");
  if (commandOutput("chattr +dA '" + path + "'") == "<failed>")
    GTEST_SKIP() << "no chattr, or this file system takes no inode flags";
  const std::string before = commandOutput("lsattr '" + path + "'");
  ReplaceStart start;
  EXPECT_TRUE(replaceWith(path, "new", &start));
  EXPECT_EQ(readBytes(path), "new");
  EXPECT_EQ(commandOutput("lsattr '" + path + "'"), before);
  EXPECT_NE(before.find("dA"), std::string::npos) << before;
}

// The extended attributes of XFS (the quota project, the extent-size hint,
// the filestream flag), on a small XFS of its own.
TEST(Replacement, XfsAttributesGoWithTheContent) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
  ScratchDir dir;
  const std::string image = dir.file("xfs.img"), mountPoint = dir.file("xfs");
  mkdir(mountPoint.c_str(), 0755);
  if (commandOutput("truncate -s 300M '" + image + "' && mkfs.xfs -q '" + image +
                    "' && mount -o loop '" + image + "' '" + mountPoint + "'") == "<failed>")
    GTEST_SKIP() << "no mkfs.xfs, or no loop devices to mount one on";
  const std::string path = mountPoint + "/f";
  writeBytes(path, "");
  // The last flag says whether the file has extended attributes stored: the
  // system's business, not the file's.
  const std::string stat =
      "xfs_io -c lsattr -c lsproj -c extsize '" + path + "' | sed -E 's/^([-a-zA-Z]{16})./\\1/'";
  commandOutput("xfs_io -c 'chproj 4242' -c 'extsize 1m' -c 'chattr +f' '" + path + "'");
  writeBytes(path, "old");
  const std::string before = commandOutput(stat);
  ReplaceStart start;
  bool replaced = replaceWith(path, "new", &start);
  const std::string after = commandOutput(stat), content = readBytes(path);
  commandOutput("umount '" + mountPoint + "'");
  EXPECT_TRUE(replaced);
  EXPECT_EQ(content, "new");
  EXPECT_EQ(after, before);
  EXPECT_NE(before.find("projid = 4242"), std::string::npos) << before;
  EXPECT_NE(before.find("[1048576]"), std::string::npos) << before;
  EXPECT_NE(before.find("e-f-"), std::string::npos) << before;
}

// In an append-only directory a named temporary file could never be removed
// again: nothing is created there.
TEST(Replacement, AnAppendOnlyDirectoryGetsNoTemporaryFile) {
  ScratchDir dir;
  const std::string inner = dir.file("d");
  mkdir(inner.c_str(), 0755);
  writeBytes(inner + "/f", "old");
  if (commandOutput("chattr +a '" + inner + "'") == "<failed>")
    GTEST_SKIP() << "no chattr, or this user may not make a directory append-only";
  ReplaceStart start;
  bool replaced = replaceWith(inner + "/f", "new", &start);
  const std::vector<std::string> left = listDirectory(inner);
  commandOutput("chattr -a '" + inner + "'");
  EXPECT_FALSE(replaced);
  EXPECT_EQ(start, ReplaceStart::Failed);
  EXPECT_EQ(readBytes(inner + "/f"), "old");
  EXPECT_EQ(left, std::vector<std::string>{"f"});
}

// The new content is on the disk before it is put in place, the original is
// checked last, and the rename is on the disk before the run says so.
TEST(Replacement, CommitsInOrder) {
  using seams::Step;
  ScratchDir dir;
  writeBytes(dir.file("f"), "old");
  takeSteps();
  ReplaceStart start;
  ASSERT_TRUE(replaceWith(dir.file("f"), std::string(3 * kFileBufferSize, 'n'), &start));
  std::vector<Step> steps = takeSteps();
  auto lastWrite = std::find(steps.rbegin(), steps.rend(), Step::Write);
  ASSERT_NE(lastWrite, steps.rend());
  EXPECT_EQ(
      std::vector<Step>(lastWrite.base(), steps.end()),
      (std::vector<Step>{Step::SyncFile, Step::CheckIdentity, Step::Rename, Step::SyncDirectory}));
}

// Another program's content, put in place or written while the run worked on
// the old content, is never lost.
TEST(Replacement, AnOriginalChangedMeanwhileIsLeftAsTheOtherProgramMadeIt) {
  ScratchDir dir;
  const std::string path = dir.file("f");
  const std::function<void()> changes[] = {
      [&] {
        writeBytes(dir.file("other"), "theirs");
        rename(dir.file("other").c_str(), path.c_str());
      },
      [&] {
        FILE* file = fopen(path.c_str(), "ab");
        fputs(" and more", file);
        fclose(file);
      },
      [&] { unlink(path.c_str()); },
      // Same size, written in place, and the modification time set back, as
      // rsync --inplace -t or touch -r do: only the change time tells.
      [&] {
        struct stat before;
        stat(path.c_str(), &before);
        int fd = open(path.c_str(), O_WRONLY);
        (void)!write(fd, "OLD", 3);
        close(fd);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
      },
  };
  const std::string expected[] = {"theirs", "old and more", "", "OLD"};
  for (int i = 0; i < 4; ++i) {
    writeBytes(path, "old");
    ReplaceStart start;
    EXPECT_FALSE(replaceWith(path, "new", &start, changes[i])) << i;
    EXPECT_EQ(start, ReplaceStart::Ready);
    EXPECT_EQ(readBytes(path), expected[i]) << i;
    EXPECT_LE(listDirectory(dir.path).size(), 1u) << i;
  }
}

TEST(Replacement, LeftoversOfKilledRunsGoButALiveRunsFileStays) {
  ScratchDir dir;
  const std::string prefix = temporaryPrefix("f");
  writeBytes(dir.file("f"), "old");
  writeBytes(dir.file(prefix + "dead0001"), "left by a killed run");
  writeBytes(dir.file(prefix + "live0002"), "being written");
  writeBytes(dir.file(".f.other"), "the user's");
  mkdir(dir.file(prefix + "directory").c_str(), 0700);
  int live = open(dir.file(prefix + "live0002").c_str(), O_RDONLY);
  ASSERT_EQ(flock(live, LOCK_EX), 0);  // as a live run holds its file
  ReplaceStart start;
  EXPECT_TRUE(replaceWith(dir.file("f"), "new", &start));
  close(live);
  EXPECT_FALSE(fileExists(dir.file(prefix + "dead0001")));
  EXPECT_TRUE(fileExists(dir.file(prefix + "live0002")));
  EXPECT_TRUE(fileExists(dir.file(".f.other")));
  EXPECT_TRUE(fileExists(dir.file(prefix + "directory")));
}

}  // namespace
