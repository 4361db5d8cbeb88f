// Where the tests' build reaches into the code: a chosen system call fails as
// a broken disk would fail it, so that tests reach every failure path; the
// scan reads small blocks, so that short inputs meet block boundaries
// everywhere; and the steps of a replacement are noted in their order. In the program each seam is
// a constant and leaves nothing behind; the tests' build defines them (tests/test_seams.cc).
#ifndef ORRINVALE_RUNTIME_SEAMS_H_
#define ORRINVALE_RUNTIME_SEAMS_H_

#include <cstdint>

namespace seams {

// The system calls that put a replacement's content in place, which the
// tests follow in their order.
enum class Step { Write, SyncFile, CheckIdentity, Rename, SyncDirectory };

#ifdef ORRINVALE_TEST_SEAMS
// Each counts one call of its kind (a data-changing file call, an open of an
// existing file, a move of the position) and says whether to fail it.
bool fileChangeFails();
bool openFails();
bool seekFails();
// The block size the scan reads, given the usual one.
int64_t scanBlockSize(int64_t usual);
// Where the scan splits the file, from the start, into two halves scanned
// at once: at the first line that starts there or after; -1 for the usual
// choice.
int64_t scanSplitTarget();
// Notes that a step's system call succeeded.
void noteStep(Step step);
#else
constexpr bool fileChangeFails() { return false; }
constexpr bool openFails() { return false; }
constexpr bool seekFails() { return false; }
constexpr int64_t scanBlockSize(int64_t usual) { return usual; }
constexpr int64_t scanSplitTarget() { return -1; }
constexpr void noteStep(Step) {}
#endif

}  // namespace seams

#endif  // ORRINVALE_RUNTIME_SEAMS_H_
