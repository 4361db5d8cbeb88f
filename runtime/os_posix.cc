// POSIX implementation of the platform layer.
#include "runtime/os.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <linux/membarrier.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>

namespace os {
namespace {

std::atomic<int64_t> g_fileChanges{0};
std::atomic<int64_t> g_failAt{0};

// Counts one data-changing call and says whether the test seam wants it to fail.
bool injectedFailure() {
  int64_t count = ++g_fileChanges;
  int64_t failAt = g_failAt.load();
  if (failAt != 0 && count == failAt) {
    errno = ENOSPC;
    return true;
  }
  return false;
}

bool isRegularHandle(int fd) {
  struct stat facts;
  return fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode);
}

// Opens with O_NONBLOCK so that a FIFO cannot stall us, rejects anything that
// is not a regular file, then restores blocking mode for the real work.
int openRegular(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return kNoFile;
  if (!isRegularHandle(fd)) {
    close(fd);
    errno = EINVAL;
    return kNoFile;
  }
  int current = fcntl(fd, F_GETFL);
  if (current >= 0) fcntl(fd, F_SETFL, current & ~O_NONBLOCK);
  return fd;
}

int toSignalNumber(EndSignal signal) {
  switch (signal) {
    case EndSignal::Hangup: return SIGHUP;
    case EndSignal::Interrupt: return SIGINT;
    case EndSignal::Terminate: return SIGTERM;
  }
  return SIGTERM;
}

sigset_t endSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

void (*g_onSignal)(EndSignal) = nullptr;

void* watchSignals(void*) {
  sigset_t set = endSignalSet();
  for (;;) {
    int received = 0;
    if (sigwait(&set, &received) != 0) continue;
    EndSignal which = received == SIGHUP   ? EndSignal::Hangup
                      : received == SIGINT ? EndSignal::Interrupt
                                           : EndSignal::Terminate;
    if (g_onSignal) g_onSignal(which);
    endBySignal(which);
  }
  return nullptr;
}

}  // namespace

FileHandle openExistingForReading(const std::string& path) {
  return openRegular(path, O_RDONLY);
}

FileHandle createOrTruncate(const std::string& path) {
  int fd = openRegular(path, O_RDWR | O_CREAT);
  if (fd == kNoFile) fd = openRegular(path, O_WRONLY);
  if (fd == kNoFile) return kNoFile;
  if (ftruncate(fd, 0) != 0) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

int64_t readFully(FileHandle file, void* destination, int64_t n) {
  char* out = static_cast<char*>(destination);
  int64_t done = 0;
  while (done < n) {
    size_t chunk = static_cast<size_t>(std::min<int64_t>(n - done, INT_MAX));
    ssize_t got = read(file, out + done, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool writeFully(FileHandle file, const void* source, int64_t n) {
  if (injectedFailure()) return false;
  const char* in = static_cast<const char*>(source);
  while (n > 0) {
    size_t chunk = static_cast<size_t>(std::min<int64_t>(n, INT_MAX));
    ssize_t put = write(file, in, chunk);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    in += put;
    n -= put;
  }
  return true;
}

int64_t seek(FileHandle file, int64_t offset, SeekFrom whence) {
  int how = whence == SeekFrom::Start ? SEEK_SET
            : whence == SeekFrom::Current ? SEEK_CUR : SEEK_END;
  return lseek(file, offset, how);
}

bool syncFile(FileHandle file) {
  if (injectedFailure()) return false;
  return fdatasync(file) == 0;
}

bool closeHandle(FileHandle file) { return close(file) == 0; }

FileFacts describe(const std::string& path) {
  FileFacts facts;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return facts;
  facts.exists = true;
  facts.isRegular = S_ISREG(info.st_mode);
  facts.modeBits = info.st_mode & 07777;
  facts.owner = info.st_uid;
  facts.group = info.st_gid;
  return facts;
}

bool canOpenForWriting(const std::string& path) {
  int fd = openRegular(path, O_WRONLY);
  if (fd == kNoFile) return false;
  close(fd);
  return true;
}

std::string resolvePath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return std::string();
  std::string result(resolved);
  free(resolved);
  return result;
}

FileHandle createUniqueFile(const std::string& prefix, std::string* path, bool* denied) {
  std::string pattern = prefix + "XXXXXX";
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  *denied = fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS);
  if (fd < 0) return kNoFile;
  *path = pattern;
  return fd;
}

bool copyAttributes(FileHandle file, const FileFacts& facts) {
  // Owner first: a change of owner may clear set-id bits that fchmod restores.
  // Not every user may give a file away; that is not an error.
  if (fchown(file, facts.owner, facts.group) != 0) {
    if (fchown(file, static_cast<uid_t>(-1), facts.group) != 0) errno = 0;
  }
  return fchmod(file, facts.modeBits) == 0;
}

bool replaceFile(const std::string& source, const std::string& target) {
  if (injectedFailure()) return false;
  if (rename(source.c_str(), target.c_str()) != 0) return false;
  // The new name lives in the directory; without this a crash may bring back
  // the old one. Some file systems refuse to sync a directory: no harm then.
  size_t slash = target.rfind('/');
  std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return true;
}

bool removeFile(const std::string& path) { return unlink(path.c_str()) == 0; }

int64_t stackLimit() {
  struct rlimit limit;
  constexpr int64_t kUnlimitedBudget = 64 << 20;  // what the address space layout leaves
  if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return kUnlimitedBudget;
  return std::min<int64_t>(static_cast<int64_t>(limit.rlim_cur), kUnlimitedBudget);
}

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool writeStandardOutput(const void* bytes, int64_t n) {
  const char* in = static_cast<const char*>(bytes);
  while (n > 0) {
    ssize_t put = write(STDOUT_FILENO, in, static_cast<size_t>(n));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    in += put;
    n -= put;
  }
  return true;
}

namespace {

// Registered once; then a process-wide barrier is available to the signal
// thread and the main thread needs no fence of its own.
bool processBarrierAvailable() {
  static const bool available =
      syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0) == 0;
  return available;
}

}  // namespace

void lightBarrier() {
  if (processBarrierAvailable()) std::atomic_signal_fence(std::memory_order_seq_cst);
  else std::atomic_thread_fence(std::memory_order_seq_cst);
}

void heavyBarrier() {
  if (processBarrierAvailable()) syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0);
  else std::atomic_thread_fence(std::memory_order_seq_cst);
}

void pauseBriefly() { usleep(200); }

void waitForever() {
  for (;;) pause();
}

void ignoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

void watchEndSignals(void (*onSignal)(EndSignal)) {
  g_onSignal = onSignal;
  processBarrierAvailable();
  sigset_t set = endSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  pthread_t thread;
  if (pthread_create(&thread, nullptr, watchSignals, nullptr) == 0)
    pthread_detach(thread);
}

void endBySignal(EndSignal signal) {
  int number = toSignalNumber(signal);
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, number);
  // The signal is blocked in every thread; unblocking it here with one pending
  // delivers it to this thread, and its default action ends the process.
  kill(getpid(), number);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  for (;;) pause();
}

void failNthFileChange(int64_t n) {
  g_fileChanges = 0;
  g_failAt = n;
}

int64_t fileChangeCount() { return g_fileChanges.load(); }

}  // namespace os
