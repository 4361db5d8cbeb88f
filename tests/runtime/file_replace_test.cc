// Replacement on every platform: what may not be written stays, and a failure
// at any data-changing call keeps the original and leaves nothing behind.
#include "runtime/file_replace.h"

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "tests/file_replace_support.h"
#include "tests/test_seams.h"
#include "tests/test_support.h"

namespace {

TEST(Replacement, FileWithoutWriteBitsIsReadOnlyEvenForRoot) {
  ScratchDir dir;
  writeBytes(dir.file("f"), "old");
  std::filesystem::permissions(dir.file("f"), std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::group_read |
                                                  std::filesystem::perms::others_read);
  ReplaceStart start;
  EXPECT_FALSE(replaceWith(dir.file("f"), "new", &start));
  EXPECT_EQ(start, ReplaceStart::ReadOnly);
  EXPECT_EQ(readBytes(dir.file("f")), "old");
}

TEST(Replacement, AFailedWriteAtAnyPointKeepsTheOriginal) {
  ScratchDir dir;
  const std::string original = "original content\r\n";
  writeBytes(dir.file("f"), original);
  // Ten pieces of 300 KiB make several writes, some on the writer thread,
  // then the metadata, the sync, the naming and the rename.
  const std::string piece(300 << 10, 'n');
  for (int failing = 1;; ++failing) {
    TextFile* source = openForReadingExclusively(utf16(dir.file("f")));
    Replacement replacement(utf16(dir.file("f")), source);
    ASSERT_EQ(replacement.begin(), ReplaceStart::Ready);
    failNthFileChange(failing);
    for (int i = 0; i < 10; ++i) replacement.output()->write(piece);
    bool committed = replacement.commit();
    int64_t changes = fileChangeCount();
    failNthFileChange(0);
    closeFile(source);
    if (failing > changes) {
      EXPECT_TRUE(committed);
      EXPECT_GE(failing, 8);
      EXPECT_EQ(readBytes(dir.file("f")), std::string(10 * piece.size(), 'n'));
      break;
    }
    EXPECT_FALSE(committed) << failing;
    EXPECT_EQ(readBytes(dir.file("f")), original) << failing;
    EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"f"}) << failing;
  }
}

}  // namespace
