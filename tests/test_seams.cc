// The counters and settings behind the seams, linked only into the tests'
// build.
#include "tests/test_seams.h"

#include <array>
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
std::array<std::atomic<int64_t>, 5> g_sizes{};  // by seams::Size; 0: the usual
std::atomic<int64_t> g_splitTarget{-1};
std::atomic<bool> g_helperScanFails{false};
std::atomic<int> g_hiddenKernel{-1};
std::mutex g_stepsLock;
std::vector<seams::Step> g_steps;

}  // namespace

namespace seams {
bool fileChangeFails() { return g_fileChanges.fires(); }
bool openFails() { return g_opens.fires(); }
bool seekFails() { return g_seeks.fires(); }
int64_t sizeOf(Size what, int64_t usual) {
  int64_t chosen = g_sizes[static_cast<size_t>(what)].load();
  return chosen > 0 ? chosen : usual;
}
int64_t scanSplitTarget() { return g_splitTarget.load(); }
bool helperScanFails() { return g_helperScanFails.load(); }
bool kernelHidden(int kernel) { return g_hiddenKernel.load() == kernel; }
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
void useSize(seams::Size what, int64_t bytes) { g_sizes[static_cast<size_t>(what)] = bytes; }
void useBlockSize(int64_t bytes) { useSize(seams::Size::ScanBlock, bytes); }
void useSmallSizes(int64_t bytes) {
  for (seams::Size what : {seams::Size::ScanBlock, seams::Size::LookBack, seams::Size::CopyStep,
                           seams::Size::CopyPiece, seams::Size::RewriteWindow})
    useSize(what, bytes);
}
void splitScanAt(int64_t offset) { g_splitTarget = offset; }
void failHelperScans(bool fail) { g_helperScanFails = fail; }
void hideKernel(int kernel) { g_hiddenKernel = kernel; }
