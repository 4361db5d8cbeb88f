// Whole-program runs under POSIX resource limits: no memory, a full disk.
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

#if !defined(__SANITIZE_ADDRESS__)
constexpr const char* kOutOfMemory = "Not enough memory to process file 'Velmarin.asm'.";

TEST(Limits, RunningOutOfMemoryLeavesTheFileAlone) {
  ScratchDir dir;
  // A million labels (15 MB) that the main code names: the table needs more
  // than the limit (a long line no longer would).
  std::string text = "MP1\r\n";
  for (int label = 0; label < 1000000; label += 8) {
    text += "dd _Procedure" + std::to_string(label);
    for (int next = label + 1; next < label + 8; ++next)
      text += ", _Procedure" + std::to_string(next);
    text += "\r\n";
  }
  writeBytes(dir.file("Velmarin.asm"), text);
  RunResult result = runTool(dir.path, {}, {.addressSpace = 48L << 20});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, consoleBytes(withCredits({kOutOfMemory})));
  EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), text);
  EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"Velmarin.asm"});
}

// Memory running out at any moment, on the main thread or a helper's (an
// LF-only file has line ends to mend on the copy's thread; a file that
// starts with an invocation line has its second half scanned on a thread of
// its own), ends in one of the run's own console lines, never in an abort.
void expectMemoryToRunOutCleanly(int procedures, long fromMebibytes, long toMebibytes, long step) {
  std::string program = largeProgram(procedures);
  std::erase(program, '\r');
  for (const std::string& input : {program, "MP1\n" + program}) {
    ScratchDir reference;
    writeBytes(reference.file("Velmarin.asm"), input);
    const std::string expected = runTool(reference.path).output;
    const std::string rewritten = readBytes(reference.file("Velmarin.asm"));
    const std::string found = "Found " + std::to_string(procedures) + " procedure macros.";
    // The file can be read: memory is the only reason it may be left alone.
    const std::string allowed[] = {
        consoleBytes(withCredits({kOutOfMemory})), consoleBytes(withCredits({found, kOutOfMemory})),
        consoleBytes(withCredits({found, "File 'Velmarin.asm' could not be written."})), expected};
    for (long mebibytes = fromMebibytes; mebibytes <= toMebibytes;
         mebibytes += input == program ? step : 2 * step) {
      ScratchDir dir;
      writeBytes(dir.file("Velmarin.asm"), input);
      RunResult result = runTool(dir.path, {}, {.addressSpace = mebibytes << 20});
      EXPECT_EQ(result.exitStatus, 0) << mebibytes;
      EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), result.output), std::end(allowed))
          << mebibytes << " MiB";
      std::string after = readBytes(dir.file("Velmarin.asm"));
      EXPECT_TRUE(after == input || after == rewritten) << mebibytes;
      EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"Velmarin.asm"}) << mebibytes;
    }
  }
}

TEST(Limits, RunningOutOfMemoryAnywhereIsTheRunsOwnFailure) {
  expectMemoryToRunOutCleanly(4000, 8, 24, 2);
}
TEST(SoakLimits, RunningOutOfMemoryAnywhereIsTheRunsOwnFailure) {
  expectMemoryToRunOutCleanly(16000, 8, 40, 1);
}
#endif

TEST(Limits, FullDiskKeepsTheOldFile) {
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
