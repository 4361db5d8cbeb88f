// Whole-program runs of the real binary that need POSIX: pipes, FIFOs,
// symlinks, other users and the processes a run leaves.
#include "app/driver.h"

#include <errno.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/app/driver_program.h"
#include "tests/test_support.h"

namespace {

TEST(Driver, AConsoleReaderThatGoesAwayDoesNotStopTheWork) {
  ScratchDir dir;
  writeBytes(dir.file("Velmarin.asm"), kProgram);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  close(pipeEnds[0]);  // nobody will ever read the output
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    if (chdir(dir.path.c_str()) != 0) _exit(127);
    execl(ORRINVALE_BINARY, ORRINVALE_BINARY, nullptr);
    _exit(127);
  }
  close(pipeEnds[1]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), kRewritten);
}

// The tool pays for all of its work, the freeing of a large replaced file
// included: when it has exited, no process of its own is left. Orphans come
// back to the test process while it is a subreaper, so none can hide.
TEST(Driver, NoProcessOfTheToolOutlivesTheRun) {
  ScratchDir dir;
  writeBytes(dir.file("Velmarin.asm"), largeProgram(10000));  // some 20 MB
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  RunResult result = runTool(dir.path);
  int left = waitpid(-1, nullptr, WNOHANG);
  int error = errno;
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(left, -1) << "a process of the tool outlived it";
  EXPECT_EQ(error, ECHILD);
}

TEST(Driver, FifosAndDanglingLinksAreNotFilesAndNothingIsCreated) {
  const std::string notFound = "File 'Velmarin.asm' not found.";
  for (const std::string kind : {"fifo", "dangling link"}) {
    ScratchDir dir;
    std::string path = dir.file("Velmarin.asm");
    int made = kind == "fifo" ? mkfifo(path.c_str(), 0600) : symlink("nowhere.asm", path.c_str());
    ASSERT_EQ(made, 0) << kind;
    RunResult result = runTool(dir.path);
    EXPECT_EQ(result.exitStatus, 0) << kind;
    EXPECT_EQ(result.output, consoleBytes(withCredits({notFound, notFound}))) << kind;
    EXPECT_EQ(listDirectory(dir.path).size(), 1u) << kind;
    EXPECT_FALSE(fileExists(dir.file("nowhere.asm"))) << kind;
  }
}

TEST(Driver, SymlinkStaysALinkAndItsTargetIsRewritten) {
  ScratchDir dir;
  mkdir(dir.file("out").c_str(), 0700);
  writeBytes(dir.file("out/real.asm"), kProgram);
  chmod(dir.file("out/real.asm").c_str(), 0640);
  ASSERT_EQ(symlink("out/real.asm", dir.file("Velmarin.asm").c_str()), 0);
  EXPECT_EQ(runTool(dir.path).exitStatus, 0);
  EXPECT_EQ(readBytes(dir.file("out/real.asm")), kRewritten);
  struct stat info;
  lstat(dir.file("Velmarin.asm").c_str(), &info);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  stat(dir.file("out/real.asm").c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(listDirectory(dir.file("out")), std::vector<std::string>{"real.asm"});
}

// A user who may write the file but not create files beside it: there is no
// safe way to rewrite it, and the user is told.
TEST(Driver, DirectoryThatRefusesNewFilesLeavesTheFileAndSaysSo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  ScratchDir dir;
  chmod(dir.path.c_str(), 0755);
  writeBytes(dir.file("Velmarin.asm"), kProgram);
  chmod(dir.file("Velmarin.asm").c_str(), 0666);
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    RunResult result = runTool(dir.path);
    bool told =
        result.output == consoleBytes(withCredits({"Found 3 procedure macros.",
                                                   "File 'Velmarin.asm' could not be written."}));
    _exit(result.exitStatus == 0 && told ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), kProgram);
  EXPECT_EQ(listDirectory(dir.path).size(), 1u);
}

}  // namespace
