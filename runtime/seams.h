// Where the tests' build reaches into the code: a chosen system call fails as
// a broken disk would fail it, so that tests reach every failure path; the
// sizes the work is done in (the scan's blocks, the copy's steps and pieces,
// the rewrite's window, the look back) are made small, so that kilobytes of
// input meet every edge that megabytes meet in the program; and the steps of
// a replacement are noted in their order. In the program each seam is
// a constant and leaves nothing behind; the tests' build defines them (tests/test_seams.cc).
#ifndef ORRINVALE_RUNTIME_SEAMS_H_
#define ORRINVALE_RUNTIME_SEAMS_H_

#include <cstdint>

namespace seams {

// The system calls that put a replacement's content in place, which the
// tests follow in their order.
enum class Step { Write, SyncFile, CheckIdentity, Rename, SyncDirectory };

// The sizes, in bytes, that the work is done in.
enum class Size {
  ScanBlock,      // what the scan reads at once
  LookBack,       // the scan's first read, and each step of a second half's look back
  CopyStep,       // what wakes the background copy; twice it, the least file it runs for
  CopyPiece,      // what the mending copier looks at at once
  RewriteWindow,  // what the rewrite reads at once
};

#ifdef ORRINVALE_TEST_SEAMS
// Each counts one call of its kind (a data-changing file call, an open of an
// existing file, a move of the position) and says whether to fail it.
bool fileChangeFails();
bool openFails();
bool seekFails();
// The size to use, given the usual one.
int64_t sizeOf(Size what, int64_t usual);
// Where the scan splits the file, from the start, into two halves scanned
// at once: at the first line that starts there or after; -1 for the usual
// choice.
int64_t scanSplitTarget();
// Whether the tests hide a classification kernel (by its number) from the
// processor's list of those it runs.
bool kernelHidden(int kernel);
// Whether the second half's scan, on its helper thread, runs out of memory
// after a block.
bool helperScanFails();
// Notes that a step's system call succeeded.
void noteStep(Step step);
#else
constexpr bool fileChangeFails() { return false; }
constexpr bool openFails() { return false; }
constexpr bool seekFails() { return false; }
constexpr int64_t sizeOf(Size, int64_t usual) { return usual; }
constexpr int64_t scanSplitTarget() { return -1; }
constexpr bool helperScanFails() { return false; }
constexpr bool kernelHidden(int) { return false; }
constexpr void noteStep(Step) {}
#endif

}  // namespace seams

#endif  // ORRINVALE_RUNTIME_SEAMS_H_
