// Keeps the main thread and the end-signal thread apart. Every file and pattern
// operation holds a RunLock, so the end routine, which first stops the main
// thread's operations, never closes a file or frees a pattern in the middle of
// one. Code that must finish before a signal may end the process (committing
// a rewritten file) simply holds a RunLock for longer; RunLocks nest.
//
// Only the main thread performs operations; a RunLock costs it a plain store
// and a load, since the signal thread pays for the memory barrier.
#ifndef ORRINVALE_RUNTIME_RUN_LOCK_H_
#define ORRINVALE_RUNTIME_RUN_LOCK_H_

#include <string>

#include "runtime/os.h"

class RunLock {
 public:
  RunLock();
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
};

// Called on the end-signal thread: waits until the main thread is outside
// every RunLock and keeps it from entering another. The calling thread then
// owns all files and patterns; the process must end afterwards.
void stopOperations();

// Files that must not outlive an interrupted run, each a name in a directory.
// The signal thread removes every registered one, after stopOperations,
// before the process ends. The registry holds a few short names in fixed
// storage, so that a plain signal handler can walk it too; register returns
// false when it has no room.
bool registerTemporaryFile(os::DirectoryHandle directory, const std::string& name);
void unregisterTemporaryFile(os::DirectoryHandle directory, const std::string& name);
void removeTemporaryFiles();
// The same without any lock, for a signal handler: async-signal-safe.
void removeTemporaryFilesInHandler();

#endif  // ORRINVALE_RUNTIME_RUN_LOCK_H_
