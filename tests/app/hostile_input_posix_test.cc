// Whole-program runs under POSIX resource limits: no memory, a full disk.
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

#if !defined(__SANITIZE_ADDRESS__)
TEST(HostileInput, RunningOutOfMemoryLeavesTheFileAlone) {
  ScratchDir dir;
  std::string text = "MP1\r\n" + std::string(200 << 20, 'y') + "\r\n";
  writeBytes(dir.file("Velmarin.asm"), text);
  RunResult result = runTool(dir.path, {}, {.addressSpace = 160L << 20});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, consoleBytes(withCredits({"File 'Velmarin.asm' could not be read."})));
  EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), text);
}
#endif

TEST(HostileInput, FullDiskKeepsTheOldFile) {
  ScratchDir dir;
  std::string mountPoint = dir.file("small");
  mkdir(mountPoint.c_str(), 0755);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=512k") != 0)
    GTEST_SKIP() << "cannot mount a small file system here";
  std::string text;
  while (text.size() < 300000) text += "MP1\r\n; filler filler filler\r\n";
  writeBytes(mountPoint + "/Velmarin.asm", text);
  RunResult result = runTool(mountPoint);
  std::string after = readBytes(mountPoint + "/Velmarin.asm");
  std::vector<std::string> left = listDirectory(mountPoint);
  umount(mountPoint.c_str());
  EXPECT_EQ(result.output,
            consoleBytes(withCredits(
                {"Found 0 procedure macros.", "File 'Velmarin.asm' could not be written."})));
  EXPECT_EQ(after, text);
  EXPECT_EQ(left, std::vector<std::string>{"Velmarin.asm"});
}

}  // namespace
