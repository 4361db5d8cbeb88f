// The counters and settings behind the seams, linked only into the tests'
// build.
#include "tests/test_seams.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "runtime/seams.h"

namespace {

struct FailureSeam {
  std::atomic<int64_t> count{0};
  std::atomic<int64_t> chosen{0};
  void (*action)() = nullptr;  // run at the chosen call instead of failing it

  bool fires() {
    int64_t now = ++count;
    if (chosen.load() == 0 || now != chosen.load()) return false;
    if (!action) return true;
    action();
    return false;
  }
  void reset(int64_t n, void (*instead)() = nullptr) {
    count = 0;
    action = instead;
    chosen = n;
  }
};

FailureSeam g_fileChanges;
FailureSeam g_opens;
FailureSeam g_seeks;
std::atomic<int64_t> g_blockSize{0};
std::atomic<int64_t> g_splitTarget{-1};
std::mutex g_stepsLock;
std::vector<seams::Step> g_steps;

}  // namespace

namespace seams {
bool fileChangeFails() { return g_fileChanges.fires(); }
bool openFails() { return g_opens.fires(); }
bool seekFails() { return g_seeks.fires(); }
int64_t scanBlockSize(int64_t usual) { return g_blockSize > 0 ? g_blockSize.load() : usual; }
int64_t scanSplitTarget() { return g_splitTarget.load(); }
void noteStep(Step step) {
  std::lock_guard<std::mutex> guard(g_stepsLock);
  g_steps.push_back(step);
}
}  // namespace seams

std::vector<seams::Step> takeSteps() {
  std::lock_guard<std::mutex> guard(g_stepsLock);
  return std::exchange(g_steps, {});
}

void failNthFileChange(int64_t n) { g_fileChanges.reset(n); }
int64_t fileChangeCount() { return g_fileChanges.count.load(); }
void beforeNthFileChange(int64_t n, void (*action)()) { g_fileChanges.reset(n, action); }
void failNthOpen(int64_t n) { g_opens.reset(n); }
void failNthSeek(int64_t n) { g_seeks.reset(n); }
int64_t seekCount() { return g_seeks.count.load(); }
void useBlockSize(int64_t bytes) { g_blockSize = bytes; }
void splitScanAt(int64_t offset) { g_splitTarget = offset; }
