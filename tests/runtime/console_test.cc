#include "runtime/console.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "runtime/run_lock.h"
#include "runtime/text_file.h"
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

void endRoutine() { closeAllFiles(); }

// A child that opens the console, leaves line buffered in a new file at path,
// then runs signalItself and waits to be ended. Returns its wait status.
int childWithBufferedLine(const std::string& path, const std::u16string& line,
                          const std::function<void()>& signalItself) {
  return inChild([&] {
    openConsole(endRoutine);
    TextFile* file = createForWriting(utf16(path));
    writeLine(file, line, TextFormat::Ansi);
    signalItself();
    for (;;) pause();
  });
}

void expectEndedBy(int status, int signal) {
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), signal);
}

TEST(ConsoleClose, HangupWritesOutBufferedFileOutputBeforeTheProcessEnds) {
  ScratchDir dir;
  std::string path = dir.file("out");
  expectEndedBy(childWithBufferedLine(path, u"still buffered", [] { kill(getpid(), SIGHUP); }),
                SIGHUP);
  EXPECT_EQ(readBytes(path), "still buffered\r\n");
}

TEST(ConsoleClose, EndRoutineWaitsForTheOperationInProgress) {
  ScratchDir dir;
  std::string path = dir.file("out");
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  int status = childWithBufferedLine(path, u"line", [&] {
    RunLock operation;  // as a read or write in progress would
    kill(getpid(), SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    char sizeWhileBusy = static_cast<char>(readBytes(path).size());
    (void)!write(report[1], &sizeWhileBusy, 1);
  });
  char sizeWhileBusy = 99;
  ASSERT_EQ(read(report[0], &sizeWhileBusy, 1), 1);
  close(report[0]);
  close(report[1]);
  EXPECT_EQ(sizeWhileBusy, 0);  // the file was neither closed nor written out
  expectEndedBy(status, SIGHUP);
  EXPECT_EQ(readBytes(path), "line\r\n");
}

TEST(ConsoleClose, InterruptEndsWithoutTheEndRoutine) {
  ScratchDir dir;
  std::string path = dir.file("out");
  expectEndedBy(childWithBufferedLine(path, u"lost", [] { kill(getpid(), SIGINT); }), SIGINT);
  EXPECT_EQ(readBytes(path), "");
}

}  // namespace
