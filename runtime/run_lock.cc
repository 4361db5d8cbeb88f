// The run lock: an asymmetric Dekker handshake between the main thread (busy
// flag, cheap side) and the signal thread (stopping flag, barrier side).
#include "runtime/run_lock.h"

#include <atomic>
#include <cstring>

#include "runtime/os.h"

namespace {

std::atomic<bool> g_busy{false};
std::atomic<bool> g_stopping{false};
thread_local int t_depth = 0;
thread_local bool t_ownsEverything = false;

// A registered temporary file. The name is complete before live is set, and
// live is cleared before the name changes, so a reader that sees live sees a
// whole name.
struct TemporarySlot {
  std::atomic<bool> live{false};
  os::DirectoryHandle directory = os::kNoDirectory;
  char name[256] = {};
};
TemporarySlot g_temporaries[4];

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

bool registerTemporaryFile(os::DirectoryHandle directory, const std::string& name) {
  RunLock lock;
  if (name.size() >= sizeof(TemporarySlot::name)) return false;
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.live.load()) continue;
    slot.directory = directory;
    memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.live.store(true);
    return true;
  }
  return false;
}

void unregisterTemporaryFile(os::DirectoryHandle directory, const std::string& name) {
  RunLock lock;
  for (TemporarySlot& slot : g_temporaries)
    if (slot.live.load() && slot.directory == directory && name == slot.name)
      slot.live.store(false);
}

void removeTemporaryFiles() {
  RunLock lock;
  removeTemporaryFilesInHandler();
}

void removeTemporaryFilesInHandler() {
  for (TemporarySlot& slot : g_temporaries) {
    if (!slot.live.load()) continue;
    os::removeAt(slot.directory, slot.name);
    slot.live.store(false);
  }
}
