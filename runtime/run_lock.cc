// The run lock: an asymmetric Dekker handshake between the main thread (busy
// flag, cheap side) and the signal thread (stopping flag, barrier side).
#include "runtime/run_lock.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "runtime/os.h"

namespace {

std::atomic<bool> g_busy{false};
std::atomic<bool> g_stopping{false};
thread_local int t_depth = 0;
thread_local bool t_ownsEverything = false;

// Never destroyed: the signal thread may still use it while the process exits.
std::vector<std::string>& temporaryFiles() {
  static auto* files = new std::vector<std::string>;
  return *files;
}

}  // namespace

RunLock::RunLock() {
  if (t_ownsEverything || t_depth++ > 0) return;
  g_busy.store(true, std::memory_order_relaxed);
  os::lightBarrier();
  if (g_stopping.load(std::memory_order_relaxed)) {
    // The end routine has taken over; the process is about to end.
    g_busy.store(false, std::memory_order_release);
    os::waitForever();
  }
}

RunLock::~RunLock() {
  if (t_ownsEverything || --t_depth > 0) return;
  g_busy.store(false, std::memory_order_release);
}

void stopOperations() {
  t_ownsEverything = true;
  g_stopping.store(true, std::memory_order_relaxed);
  os::heavyBarrier();
  while (g_busy.load(std::memory_order_acquire)) os::pauseBriefly();
}

void registerTemporaryFile(const std::string& path) {
  RunLock lock;
  temporaryFiles().push_back(path);
}

void unregisterTemporaryFile(const std::string& path) {
  RunLock lock;
  auto& files = temporaryFiles();
  files.erase(std::remove(files.begin(), files.end(), path), files.end());
}

void removeTemporaryFiles() {
  RunLock lock;
  for (const std::string& path : temporaryFiles()) os::removeFile(path);
  temporaryFiles().clear();
}
