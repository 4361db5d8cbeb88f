// Keeps the main thread and the end-signal thread apart. Every file and pattern
// operation runs under the run lock, so the end routine, which takes the same
// lock, never closes a file or frees a pattern in the middle of one. Code that
// must finish before a signal may end the process (committing a rewritten
// file) simply holds the lock for longer; the lock is recursive for that.
#ifndef ORRINVALE_RUNTIME_RUN_LOCK_H_
#define ORRINVALE_RUNTIME_RUN_LOCK_H_

#include <mutex>
#include <string>

std::recursive_mutex& runMutex();

using RunLock = std::lock_guard<std::recursive_mutex>;

// Files that must not outlive an interrupted run. The signal thread removes
// every registered path, under the run lock, before the process ends.
void registerTemporaryFile(const std::string& path);
void unregisterTemporaryFile(const std::string& path);
void removeTemporaryFiles();

#endif  // ORRINVALE_RUNTIME_RUN_LOCK_H_
