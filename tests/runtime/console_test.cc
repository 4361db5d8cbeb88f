#include "runtime/console.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "runtime/file_replace.h"
#include "runtime/text_file.h"
#include "tests/file_replace_support.h"
#include "tests/test_seams.h"
#include "tests/test_support.h"

namespace {

TEST(PrintLine, RedirectedOutputIsUtf16LeWithCrLf) {
  std::string bytes = captureOutput([] {
    printLine(u"");
    printLine(u"File '\u00E9t\u00E9.asm' not found.");
  });
  EXPECT_EQ(bytes, consoleBytes({"", "File '\xC3\xA9t\xC3\xA9.asm' not found."}));
  EXPECT_EQ(bytes.substr(0, 4), std::string("\r\0\n\0", 4));
}

TEST(PrintLine, TerminalGetsUtf8WithCrLf) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  struct termios raw;
  tcgetattr(terminal, &raw);
  cfmakeraw(&raw);  // no LF to CR LF translation: see exactly what was written
  tcsetattr(terminal, TCSANOW, &raw);
  int saved = dup(STDOUT_FILENO);
  dup2(terminal, STDOUT_FILENO);
  printLine(u"\u00E9");
  dup2(saved, STDOUT_FILENO);
  close(saved);
  char got[16] = {};
  ssize_t n = read(master, got, sizeof got);
  close(terminal);
  close(master);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(std::string(got, 4), "\xC3\xA9\r\n");
}

// Runs body in a child process; returns its wait status.
int inChild(const std::function<void()>& body) {
  pid_t child = fork();
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

void expectEndedBy(int status, int signal) {
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
}

// A child that opens the console, begins replacing path's content with text
// and signals itself before its nth data-changing call from there on.
// Returns its wait status.
int childSignalledWhileReplacing(const std::string& path, const std::string& text, int64_t n,
                                 void (*signalItself)()) {
  return inChild([&] {
    openConsole();
    TextFile* source = openForReadingExclusively(utf16(path));
    if (!source) _exit(2);
    Replacement replacement(utf16(path), source);
    if (replacement.begin() != ReplaceStart::Ready) _exit(2);
    replacement.output()->write(text);
    beforeNthFileChange(n, signalItself);
    replacement.commit();
    for (;;) pause();  // a signal that was only deferred ends the process here
  });
}

// The data-changing calls of one whole commit, counted without signals.
int64_t changesOfACommit(const std::string& path) {
  ReplaceStart start;
  failNthFileChange(0);
  int64_t before = fileChangeCount();
  EXPECT_TRUE(replaceWith(path, "counted\r\n", &start));
  return fileChangeCount() - before;
}

// From the first write of the new content to the rename: a signal before the
// new file has a name removes it, one in the short section around the rename
// waits for it; the run ends by the signal either way, leaving one whole file.
TEST(EndSignals, ASignalAtAnyStepOfACommitLeavesOneWholeFileAndEndsTheRun) {
  ScratchDir dir;
  const std::string path = dir.file("Velmarin.asm");
  writeBytes(path, "old\r\n");
  const int64_t changes = changesOfACommit(path);
  ASSERT_GE(changes, 3);  // at least the write, the sync and the rename
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  for (int64_t n = 1; n <= changes; ++n) {
    writeBytes(path, "old\r\n");
    const int signal = signals[n % 3];
    static int chosen;
    chosen = signal;
    expectEndedBy(childSignalledWhileReplacing(path, "new\r\n", n, [] { raise(chosen); }), signal);
    std::string after = readBytes(path);
    if (n == 1) {
      EXPECT_EQ(after, "old\r\n");  // before the file has a name
    }
    if (n == changes) {
      EXPECT_EQ(after, "new\r\n");  // the rename is under way
    }
    EXPECT_TRUE(after == "old\r\n" || after == "new\r\n") << n << ": " << after;
    EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"Velmarin.asm"}) << n;
  }
  failNthFileChange(0);
}

// A signal ignored when the run starts (nohup, a background job) is left
// ignored: the replacement lands.
TEST(EndSignals, ASignalIgnoredFromTheStartStaysIgnored) {
  ScratchDir dir;
  const std::string path = dir.file("Velmarin.asm");
  writeBytes(path, "old\r\n");
  int status = inChild([&] {
    signal(SIGHUP, SIG_IGN);
    openConsole();
    ReplaceStart start;
    // Raised once the replacement watches the end signals.
    _exit(replaceWith(path, "new\r\n", &start, [] { raise(SIGHUP); }) ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readBytes(path), "new\r\n");
}

}  // namespace
