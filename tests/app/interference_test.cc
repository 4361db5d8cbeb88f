// Whole-program runs while something else interferes: signals at any moment,
// other programs and other runs writing the file, resource limits. Whatever
// happens, the file holds complete content and no temporary file is left.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Names = std::vector<std::string>;

// A program, what the tool makes of it, and how long that takes.
struct Reference {
  std::string original;
  std::string rewritten;
  Clock::duration runTime;
};

Reference referenceRun(const std::string& program) {
  ScratchDir dir;
  writeBytes(dir.file("Velmarin.asm"), program);
  auto start = Clock::now();
  EXPECT_EQ(runTool(dir.path).exitStatus, 0);
  Reference reference{program, readBytes(dir.file("Velmarin.asm")), Clock::now() - start};
  EXPECT_NE(reference.rewritten, reference.original);
  return reference;
}

// A moment somewhere in a run of the given length, or just after it; or,
// with a smaller share, within that first share of the run.
Clock::duration randomMoment(std::mt19937& random, Clock::duration runTime, double share = 1.1) {
  return std::chrono::duration_cast<Clock::duration>(
      runTime * std::uniform_real_distribution<double>(0.0, share)(random));
}

// Programs of about 2 KB a procedure: the soak suite runs each case on
// programs of 50 MB and more, and more often.
void expectSignalsAtAnyMomentToLeaveTheOldOrTheNewFile(int procedures, int attempts) {
  const Reference reference = referenceRun(largeProgram(procedures));
  std::mt19937 random(20261207);
  const int signals[] = {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGKILL};
  for (int attempt = 0; attempt < attempts; ++attempt) {
    const int signal = signals[attempt % 8];
    ScratchDir dir;
    writeBytes(dir.file("Velmarin.asm"), reference.original);
    int child = spawnTool(dir.path);
    std::this_thread::sleep_for(randomMoment(random, reference.runTime));
    kill(child, signal);
    int status = waitFor(child);
    bool endedBySignal = WIFSIGNALED(status) && WTERMSIG(status) == signal;
    bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    EXPECT_TRUE(endedBySignal || finished) << "signal " << signal;
    std::string after = readBytes(dir.file("Velmarin.asm"));
    EXPECT_TRUE(after == reference.original || after == reference.rewritten)
        << "signal " << signal << ": " << after.size() << " bytes";
    // Nothing can clean up after a kill; the next run does.
    if (signal == SIGKILL) runTool(dir.path);
    EXPECT_EQ(listDirectory(dir.path), Names{"Velmarin.asm"}) << "signal " << signal;
  }
}
TEST(Interference, SignalsAtAnyMomentLeaveTheOldOrTheNewFile) {
  expectSignalsAtAnyMomentToLeaveTheOldOrTheNewFile(3000, 16);
}
TEST(SoakInterference, SignalsAtAnyMomentLeaveTheOldOrTheNewFile) {
  expectSignalsAtAnyMomentToLeaveTheOldOrTheNewFile(24000, 48);
}

// Where no thread can start (here: no processes left for the user), so that
// the run copies everything on its own, signals still end it cleanly.
void expectSignalsToBeHeardWhereNoThreadCanStart(int procedures) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the leak checker needs a thread too
  // Large enough that a run lasts well beyond the start of the process.
  const Reference reference = referenceRun(largeProgram(procedures));
  const ChildLimits limits{.processes = 1, .user = 65534};
  auto prepare = [&](const ScratchDir& dir) {
    chmod(dir.path.c_str(), 0777);
    writeBytes(dir.file("Velmarin.asm"), reference.original);
    chmod(dir.file("Velmarin.asm").c_str(), 0666);
  };
  // A run without threads takes its own time: the signals fall within that.
  Clock::duration runTime;
  {
    ScratchDir dir;
    prepare(dir);
    auto start = Clock::now();
    EXPECT_EQ(waitFor(spawnTool(dir.path, limits)), 0);
    runTime = Clock::now() - start;
  }
  std::mt19937 random(7);
  int endedBySignal = 0;
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGINT, SIGTERM, SIGHUP}) {
    ScratchDir dir;
    prepare(dir);
    int child = spawnTool(dir.path, limits);
    // Within the first half: one run's time is a rough guide on a busy machine.
    std::this_thread::sleep_for(randomMoment(random, runTime, 0.5));
    kill(child, signal);
    int status = waitFor(child);
    bool ended = WIFSIGNALED(status) && WTERMSIG(status) == signal;
    endedBySignal += ended;
    EXPECT_TRUE(ended || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
    std::string after = readBytes(dir.file("Velmarin.asm"));
    EXPECT_TRUE(after == reference.original || after == reference.rewritten);
    EXPECT_EQ(listDirectory(dir.path), Names{"Velmarin.asm"});
  }
  // Most signals come during the run (a blocked signal would let every run finish).
  EXPECT_GE(endedBySignal, 3);
}
TEST(Interference, SignalsAreHeardWhereNoThreadCanStart) {
  expectSignalsToBeHeardWhereNoThreadCanStart(6000);
}
TEST(SoakInterference, SignalsAreHeardWhereNoThreadCanStart) {
  expectSignalsToBeHeardWhereNoThreadCanStart(24000);
}

// Another program puts a new version in place, or appends to the file, at
// some moment of a run: its content is never lost, and never rewritten with
// the verdicts of other content.
void expectAnotherProgramsContentNeverToBeLost(int procedures, int attempts) {
  const Reference first = referenceRun(largeProgram(procedures, 1));
  const Reference second = referenceRun(largeProgram(procedures, 2));
  const std::string appended = "; appended by another program\r\n";
  std::mt19937 random(11);
  for (int attempt = 0; attempt < attempts; ++attempt) {
    bool replacing = attempt % 2 == 0;
    ScratchDir dir;
    const std::string path = dir.file("Velmarin.asm");
    writeBytes(path, first.original);
    writeBytes(dir.file("next"), second.original);
    int child = spawnTool(dir.path);
    std::this_thread::sleep_for(randomMoment(random, first.runTime));
    // An append that opened the old file just before the rename lands in the
    // old file, as with any program that replaces a file: that is told apart
    // by where the written file is found afterwards.
    bool appendedToReplaced = false;
    if (replacing) {
      rename(dir.file("next").c_str(), path.c_str());
    } else {
      int fd = open(path.c_str(), O_WRONLY | O_APPEND);
      EXPECT_EQ(write(fd, appended.data(), appended.size()), static_cast<ssize_t>(appended.size()));
      struct stat written, named;
      appendedToReplaced = fstat(fd, &written) == 0 && stat(path.c_str(), &named) == 0 &&
                           written.st_ino != named.st_ino;
      close(fd);
      unlink(dir.file("next").c_str());
    }
    EXPECT_EQ(waitFor(child), 0);
    std::string after = readBytes(path);
    if (replacing) {
      EXPECT_TRUE(after == second.original || after == second.rewritten) << attempt;
    } else if (appendedToReplaced) {
      EXPECT_EQ(after, first.rewritten) << attempt;
    } else {
      EXPECT_TRUE(after == first.original + appended || after == first.rewritten + appended)
          << attempt;
    }
    EXPECT_EQ(listDirectory(dir.path), Names{"Velmarin.asm"}) << attempt;
  }
}
TEST(Interference, AnotherProgramsContentIsNeverLost) {
  expectAnotherProgramsContentNeverToBeLost(3000, 8);
}
TEST(SoakInterference, AnotherProgramsContentIsNeverLost) {
  expectAnotherProgramsContentNeverToBeLost(8000, 40);
}

TEST(Interference, TwoRunsOnOneFileTakeTurns) {
  const Reference reference = referenceRun(largeProgram(4000));
  ScratchDir dir;
  writeBytes(dir.file("Velmarin.asm"), reference.original);
  RunResult results[2];
  std::thread other([&] { results[1] = runTool(dir.path); });
  results[0] = runTool(dir.path);
  other.join();
  // The run that waited read the first one's output and found nothing more.
  const std::string found = "Found 4000 procedure macros.";
  std::vector<std::string> summaries;
  for (const RunResult& result : results) {
    EXPECT_EQ(result.exitStatus, 0);
    for (const char* summary : {"Removed 3999 out of 4000 used procedure macros.",
                                "Removed 0 out of 1 used procedure macros."})
      if (result.output == consoleBytes(withCredits({found, summary})))
        summaries.push_back(summary);
  }
  std::sort(summaries.begin(), summaries.end());
  EXPECT_EQ(summaries, (Names{"Removed 0 out of 1 used procedure macros.",
                              "Removed 3999 out of 4000 used procedure macros."}));
  EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), reference.rewritten);
}

// Waits up to a minute for child; kills it if it is still running then.
int waitAtMost(int child) {
  for (int tick = 0; tick < 6000; ++tick) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  return waitFor(child);
}

// A build script that serialises its steps with flock(1), or any other
// program holding a lock on the file, never makes a run wait.
TEST(Interference, LocksOfOtherProgramsAreNeverWaitedFor) {
  const Reference reference = referenceRun(largeProgram(200));
  auto hold = [](int fd, int kind) {
    if (kind == 0) return flock(fd, LOCK_EX) == 0;
    if (kind == 1) return flock(fd, LOCK_SH) == 0;
    struct flock whole = {};
    whole.l_type = kind == 2 ? F_WRLCK : F_RDLCK;
    whole.l_whence = SEEK_SET;  // from the start to beyond any end
    return fcntl(fd, kind == 2 ? F_OFD_SETLK : F_SETLK, &whole) == 0;
  };
  for (int kind = 0; kind < 4; ++kind) {
    ScratchDir dir;
    writeBytes(dir.file("Velmarin.asm"), reference.original);
    int fd = open(dir.file("Velmarin.asm").c_str(), kind == 2 ? O_RDWR : O_RDONLY);
    ASSERT_TRUE(hold(fd, kind)) << kind;
    // Two runs at once under that lock: neither waits for the other for ever.
    int first = spawnTool(dir.path), second = spawnTool(dir.path);
    int statuses[] = {waitAtMost(first), waitAtMost(second)};
    close(fd);
    for (int status : statuses)
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << kind << " " << status;
    EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), reference.rewritten) << kind;
    EXPECT_EQ(listDirectory(dir.path), Names{"Velmarin.asm"}) << kind;
  }
}

// An end signal sent to one helper thread of the run, as some supervisors
// send it, ends the run as one sent to the process does.
TEST(Interference, AnEndSignalToAnyThreadEndsTheRun) {
  // Large enough (about 10 MB) for the copy's thread to start.
  const Reference reference = referenceRun(largeProgram(5000));
  int endedBySignal = 0;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    ScratchDir dir;
    writeBytes(dir.file("Velmarin.asm"), reference.original);
    int child = spawnTool(dir.path);
    const std::string tasks = "/proc/" + std::to_string(child) + "/task";
    bool sent = false;
    for (int tick = 0; !sent && tick < 20000; ++tick) {
      for (const std::string& task : listDirectory(tasks))
        if (std::stoi(task) != child && syscall(SYS_tgkill, child, std::stoi(task), signal) == 0)
          sent = true;
      if (!sent) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    int status = waitFor(child);
    if (!sent) continue;  // the run ended before a helper thread started
    endedBySignal += WIFSIGNALED(status) && WTERMSIG(status) == signal;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
    std::string after = readBytes(dir.file("Velmarin.asm"));
    EXPECT_TRUE(after == reference.original || after == reference.rewritten);
    EXPECT_EQ(listDirectory(dir.path), Names{"Velmarin.asm"});
  }
  EXPECT_GE(endedBySignal, 1);
}

const std::string kSmallProgram =
    "macro MP1{\r\n_Procedure1:\r\n}\r\nmacro MP2{\r\n_Procedure2:\r\n}\r\n"
    "call _Procedure1\r\n";

TEST(Interference, AFileSizeLimitIsAFailedWrite) {
  ScratchDir dir;
  std::string program = kSmallProgram;
  while (program.size() < 200000) program += "MP1\r\nMP2\r\n";
  writeBytes(dir.file("Velmarin.asm"), program);
  RunResult result = runTool(dir.path, {}, {.fileSize = 100000});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output,
            consoleBytes(withCredits(
                {"Found 2 procedure macros.", "File 'Velmarin.asm' could not be written."})));
  EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), program);
  EXPECT_EQ(listDirectory(dir.path), Names{"Velmarin.asm"});
}

// Too few handles is no read-only file: the user is told, at whichever step
// the handles run out.
TEST(Interference, RunningOutOfHandlesIsReported) {
  const std::string program = kSmallProgram + "MP2\r\n";
  const std::string written = consoleBytes(
      withCredits({"Found 2 procedure macros.", "Removed 1 out of 1 used procedure macros."}));
  const std::string failed = consoleBytes(
      withCredits({"Found 2 procedure macros.", "File 'Velmarin.asm' could not be written."}));
  int failures = 0;
  for (long handles = 4; handles <= 10; ++handles) {
    ScratchDir dir;
    writeBytes(dir.file("Velmarin.asm"), program);
    RunResult result = runTool(dir.path, {}, {.openFiles = handles});
    EXPECT_TRUE(result.output == written || result.output == failed) << handles;
    if (result.output == failed) {
      ++failures;
      EXPECT_EQ(readBytes(dir.file("Velmarin.asm")), program) << handles;
    }
    EXPECT_EQ(listDirectory(dir.path), Names{"Velmarin.asm"}) << handles;
  }
  EXPECT_GE(failures, 1);
  EXPECT_LT(failures, 7);
}

TEST(Interference, WorkingDirectoryDeeperThanPathMax) {
  ScratchDir dir;
  const std::string step(200, 'd');
  const int depth = 2 * PATH_MAX / (step.size() + 1);
  std::string relative = step;
  for (int i = 1; i < depth; ++i) relative += "/" + step;
  // The shell goes there one step at a time: the whole path is too long for
  // the system to take at once.
  const std::string walk =
      "cd '" + dir.path + "' && for d in $(echo '" + relative +
      "' | tr '/' ' '); do mkdir -p \"$d\" && cd -P \"$d\" || exit 1; done && ";
  ASSERT_EQ(system((walk + "printf 'call _Procedure1\\nMP1\\nMP2\\n' > Velmarin.asm").c_str()), 0);
  RunResult result = runTool(dir.path + "/" + relative);
  EXPECT_EQ(result.output,
            consoleBytes(withCredits(
                {"Found 0 procedure macros.", "Removed 1 out of 2 used procedure macros."})));
  EXPECT_EQ(system((walk + "printf 'call _Procedure1\\r\\nMP1\\r\\n; MP2; AUTOMATICALLY "
                           "REMOVED\\r\\n' | cmp -s - Velmarin.asm && ls -A | wc -l | grep -qx 1")
                       .c_str()),
            0);
  EXPECT_EQ(system(("rm -rf '" + dir.path + "/" + step + "'").c_str()), 0);
}

}  // namespace
