#include "runtime/file_replace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Replaces path's content with text; returns whether the replacement landed.
bool replaceWith(const std::string& path, const std::string& text, ReplaceStart* start) {
  Replacement replacement;
  *start = beginReplacement(utf16(path), &replacement);
  if (*start != ReplaceStart::Ready) return false;
  writeBytes(replacement.output, text.data(), static_cast<int64_t>(text.size()));
  return commitReplacement(&replacement);
}

mode_t modeOf(const std::string& path) {
  struct stat info;
  stat(path.c_str(), &info);
  return info.st_mode & 07777;
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

TEST(Replacement, FileWithoutWriteBitsIsReadOnlyEvenForRoot) {
  ScratchDir dir;
  writeBytes(dir.file("f"), "old");
  chmod(dir.file("f").c_str(), 0444);
  ReplaceStart start;
  EXPECT_FALSE(replaceWith(dir.file("f"), "new", &start));
  EXPECT_EQ(start, ReplaceStart::ReadOnly);
  EXPECT_EQ(readBytes(dir.file("f")), "old");
}

TEST(Replacement, AFailedWriteAtAnyPointKeepsTheOriginal) {
  ScratchDir dir;
  const std::string original = "original content\r\n";
  writeBytes(dir.file("f"), original);
  // Ten pieces of most of a buffer make several buffered writes, then the sync
  // and the rename.
  const std::string piece(FileBufferSize * 3 / 4, 'n');
  for (int failing = 1;; ++failing) {
    Replacement replacement;
    ASSERT_EQ(beginReplacement(utf16(dir.file("f")), &replacement), ReplaceStart::Ready);
    os::failNthFileChange(failing);
    for (int i = 0; i < 10; ++i) writeBytes(replacement.output, piece.data(), piece.size());
    bool committed = commitReplacement(&replacement);
    int64_t changes = os::fileChangeCount();
    os::failNthFileChange(0);
    if (failing > changes) {
      EXPECT_TRUE(committed);
      EXPECT_EQ(readBytes(dir.file("f")), std::string(10 * piece.size(), 'n'));
      break;
    }
    EXPECT_FALSE(committed) << failing;
    EXPECT_EQ(readBytes(dir.file("f")), original) << failing;
    EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"f"}) << failing;
  }
}

TEST(Replacement, InPlaceWritesBackTheOldBytesAfterAFailure) {
  ScratchDir dir;
  const std::string original(2 * FileBufferSize, 'o');
  const std::string piece(FileBufferSize * 3 / 4, 'n');
  writeBytes(dir.file("f"), original);
  for (int failing = 1;; ++failing) {
    os::failNthFileChange(failing);
    bool written = rewriteInPlace(utf16(dir.file("f")), [&](TextFile* output) {
      for (int i = 0; i < 5; ++i) writeBytes(output, piece.data(), piece.size());
    });
    int64_t changes = os::fileChangeCount();
    os::failNthFileChange(0);
    if (written) {
      EXPECT_GT(failing, changes);
      EXPECT_EQ(readBytes(dir.file("f")), std::string(5 * piece.size(), 'n'));
      break;
    }
    EXPECT_EQ(readBytes(dir.file("f")), original) << failing;
    ASSERT_LT(failing, 100);
  }
}

}  // namespace
