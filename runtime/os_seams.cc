// Counters behind the failure seams of the platform layer.
#include "runtime/os_seams.h"

#include <atomic>
#include <cstdint>

#include "runtime/os.h"

namespace os {
namespace {

struct FailureSeam {
  std::atomic<int64_t> count{0};
  std::atomic<int64_t> failAt{0};

  bool fires() {
    int64_t now = ++count;
    int64_t chosen = failAt.load();
    return chosen != 0 && now == chosen;
  }
  void reset(int64_t n) {
    count = 0;
    failAt = n;
  }
};

FailureSeam g_fileChanges;
FailureSeam g_opens;
FailureSeam g_seeks;

}  // namespace

bool seams::fileChangeFails() { return g_fileChanges.fires(); }
bool seams::openFails() { return g_opens.fires(); }
bool seams::seekFails() { return g_seeks.fires(); }

void failNthFileChange(int64_t n) { g_fileChanges.reset(n); }
int64_t fileChangeCount() { return g_fileChanges.count.load(); }
void failNthOpen(int64_t n) { g_opens.reset(n); }
void failNthSeek(int64_t n) { g_seeks.reset(n); }
int64_t seekCount() { return g_seeks.count.load(); }

}  // namespace os
