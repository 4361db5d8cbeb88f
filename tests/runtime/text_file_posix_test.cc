// Closing a file whose name is gone: the freeing of a large one is left to a
// process of its own, which the caller neither waits for nor leaves behind.
#include "runtime/text_file.h"

#include <errno.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Orphans of the test process come back to it while this is alive, so that
// the holder of a freed file can be counted and waited for.
struct AdoptOrphans {
  AdoptOrphans() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
  ~AdoptOrphans() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
};

// Exit statuses of the children that end from now on, once none is left.
std::vector<int> waitForChildren() {
  std::vector<int> statuses;
  int status = 0;
  while (waitpid(-1, &status, 0) > 0) statuses.push_back(status);
  EXPECT_EQ(errno, ECHILD);
  return statuses;
}

// Opens a file of the given size; unless keepName, removes its name first.
TextFile* openSized(ScratchDir& dir, const std::string& name, size_t bytes, bool keepName) {
  writeBytes(dir.file(name), std::string(bytes, 'x'));
  TextFile* file = openForReading(utf16(dir.file(name)));
  if (!keepName) unlink(dir.file(name).c_str());
  return file;
}

TEST(CloseFreeingLater, ALargeFileWithoutANameIsFreedByOneHolderThatEndsWell) {
  ScratchDir dir;
  AdoptOrphans adopt;
  TextFile* file = openSized(dir, "big", 20 << 20, false);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(closeFileFreeingLater(file));
  std::vector<int> statuses = waitForChildren();
  ASSERT_EQ(statuses.size(), 1u) << "one holder, and the child between us and it reaped";
  EXPECT_TRUE(WIFEXITED(statuses[0]) && WEXITSTATUS(statuses[0]) == 0);
}

TEST(CloseFreeingLater, NamedOrSmallFilesAreClosedAtOnce) {
  ScratchDir dir;
  AdoptOrphans adopt;
  for (bool keepName : {true, false}) {
    TextFile* file = openSized(dir, "f", keepName ? 20 << 20 : 4096, keepName);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(closeFileFreeingLater(file));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "no process for keepName=" << keepName;
    EXPECT_EQ(errno, ECHILD);
  }
}

}  // namespace
